#include "compiler_AbstractSimpleCompileStrategy.h"

#include <algorithm>
#include <functional>
#include <queue>
#include <utility>

namespace Compiler {

bool ReadyList::setFirst(u32 uniqID)
{
    if (m_uniqIDs.count(uniqID) == 0) {
        return false;
    }
    m_first = uniqID;
    return true;
}

i32 AbstractSimpleCompileStrategy::buildDependencyGraph(const std::vector<CompileComponent>& compileList,
                                                        const std::vector<Connection>& connections)
{
    m_uniqIDs.clear();
    m_componentIndex.clear();
    m_sourceCount.clear();
    m_successorStart.clear();
    m_successors.clear();
    auto refuse = [this] {
        m_uniqIDs.clear();
        m_componentIndex.clear();
        return COMPILER_E_OVERFLOW;
    };

    std::vector<std::pair<u32, u32>> nodes; // (uniqID, compile-list index)
    nodes.reserve(compileList.size());
    for (size_t i = 0; i < compileList.size(); ++i) {
        nodes.emplace_back(compileList[i].m_uniqID, static_cast<u32>(i));
    }
    std::sort(nodes.begin(), nodes.end());
    for (size_t i = 1; i < nodes.size(); ++i) {
        if (nodes[i].first == nodes[i - 1].first) {
            return refuse(); // one node could never stand for two components
        }
    }
    for (const auto& [uniqID, index] : nodes) {
        m_uniqIDs.push_back(uniqID);
        m_componentIndex.push_back(index);
    }
    const auto nodeOf = [this](u32 uniqID) {
        const auto it = std::lower_bound(m_uniqIDs.begin(), m_uniqIDs.end(), uniqID);
        return it != m_uniqIDs.end() && *it == uniqID ? static_cast<size_t>(it - m_uniqIDs.begin()) : SIZE_MAX;
    };

    std::vector<std::pair<u32, u32>> edges; // (from node, to node)
    edges.reserve(connections.size());
    for (const Connection& connection : connections) {
        const size_t from = nodeOf(connection.m_fromUniqID);
        const size_t to = nodeOf(connection.m_toUniqID);
        if (from == SIZE_MAX || to == SIZE_MAX || from == to) {
            return refuse(); // a component that is never placed, or one waiting for itself
        }
        edges.emplace_back(static_cast<u32>(from), static_cast<u32>(to));
    }
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());

    const size_t count = m_uniqIDs.size();
    m_sourceCount.assign(count, 0);
    m_successorStart.assign(count + 1, 0);
    m_successors.reserve(edges.size());
    for (const auto& [from, to] : edges) {
        ++m_sourceCount[to];
        ++m_successorStart[from + 1];
        m_successors.push_back(to);
    }
    for (size_t i = 0; i < count; ++i) {
        m_successorStart[i + 1] += m_successorStart[i];
    }

    // Every node must be reachable in dependency order, or a cycle keeps some waiting for ever.
    std::vector<u32> pending = m_sourceCount;
    std::vector<u32> queue;
    queue.reserve(count);
    for (u32 i = 0; i < count; ++i) {
        if (pending[i] == 0) {
            queue.push_back(i);
        }
    }
    for (size_t head = 0; head < queue.size(); ++head) {
        const u32 node = queue[head];
        for (u32 e = m_successorStart[node]; e < m_successorStart[node + 1]; ++e) {
            if (--pending[m_successors[e]] == 0) {
                queue.push_back(m_successors[e]);
            }
        }
    }
    if (queue.size() != count) {
        return refuse();
    }
    return COMPILER_OK;
}

i32 AbstractSimpleCompileStrategy::compile(const std::vector<CompileComponent>& compileList,
                                           const std::vector<Connection>& connections, DspResourceModel& model,
                                           CompileResult& record, ICompileStrategyCallback* callback)
{
    record.reset();
    record.m_name = model.getName();
    record.m_fsHz = model.getFsHz();
    record.m_numSamplePerFrame = model.getNumSamplePerFrame();
    record.m_renderSamples = model.getRenderSamples();
    record.m_delayCompensation = model.isDelayCompensation();
    record.m_result = COMPILER_E_FAILED;
    if (buildDependencyGraph(compileList, connections) != COMPILER_OK) {
        return COMPILER_E_OVERFLOW;
    }

    bool overflow = false;
    if (!compileList.empty()) {
        const size_t count = m_uniqIDs.size();
        record.m_components.reserve(count);
        record.m_dspAssignments.reserve(count);
        std::vector<u32> pending = m_sourceCount; // sources not finished yet
        // Placed components whose range has not been passed, earliest end first.
        using Running = std::pair<u64, u32>; // (end step, node)
        std::priority_queue<Running, std::vector<Running>, std::greater<>> running;
        ReadyList ready;
        for (u32 i = 0; i < count; ++i) {
            if (pending[i] == 0) {
                ready.m_uniqIDs.insert(ready.m_uniqIDs.end(), m_uniqIDs[i]);
            }
        }
        u64 step = 0;
        bool unlimited = false;
        std::vector<CoreCandidate> candidates;
        // Components whose range ends at or before step are done; their successors may become ready.
        const auto collect = [&] {
            while (!running.empty() && running.top().first <= step) {
                const u32 node = running.top().second;
                running.pop();
                for (u32 e = m_successorStart[node]; e < m_successorStart[node + 1]; ++e) {
                    if (--pending[m_successors[e]] == 0) {
                        ready.m_uniqIDs.insert(m_uniqIDs[m_successors[e]]);
                    }
                }
            }
        };

        for (size_t placed = 0; placed < count;) {
            collect();
            while (ready.m_uniqIDs.empty()) {
                if (running.empty()) {
                    return COMPILER_E_OVERFLOW;
                }
                step = running.top().first;
                collect();
            }
            ready.m_first = *ready.m_uniqIDs.begin();
            (void)orderReadyList(compileList, connections, model, ready);
            const u32 uniqID = ready.m_first;

            if (callback != nullptr) {
                bool aborted = false;
                if (callback->isAborted(aborted) >= 0 && aborted) {
                    record.m_result = COMPILER_E_ABORTED;
                    return COMPILER_E_ABORTED;
                }
            }
            const size_t node =
                static_cast<size_t>(std::lower_bound(m_uniqIDs.begin(), m_uniqIDs.end(), uniqID) - m_uniqIDs.begin());
            const CompileComponent& component = compileList[m_componentIndex[node]];

            for (;;) {
                u64 nextStep = 0;
                const i32 found = model.findCandidateCores(component, candidates, step, nextStep);
                if (found == COMPILER_OK) {
                    break;
                }
                if (found == COMPILER_E_BUSY) {
                    step = nextStep;
                } else if (found == COMPILER_E_STEP_SHORT && !unlimited) {
                    // Go on without a limit so that every component still gets its place; the compile reports
                    // the overflow at the end.
                    overflow = true;
                    unlimited = true;
                    (void)model.setStepUnlimited();
                } else {
                    return COMPILER_E_NO_CORE;
                }
            }

            const CoreCandidate& target = candidates.front();
            const std::string* dspName = model.getDspName(target.m_dspNo);
            const auto description =
                std::find_if(component.m_dspResources.begin(), component.m_dspResources.end(),
                             [dspName](const DspResourceDescription& d) { return d.m_dspName == *dspName; });
            Assignment assignment;
            (void)model.allocate(target.m_dspNo, target.m_coreNo, uniqID, *description, assignment, step);
            record.m_components.push_back(
                {uniqID, component.m_name, component.m_majorVersion, component.m_numX, component.m_numY});
            record.m_dspAssignments.push_back(std::move(assignment));
            const Allocation* stepAllocation = record.m_dspAssignments.back().findStep();
            if (stepAllocation == nullptr) {
                return COMPILER_E_NO_STEP;
            }
            running.emplace(stepAllocation->m_offset + stepAllocation->m_size, static_cast<u32>(node));
            ready.m_uniqIDs.erase(uniqID);
            ++placed;
        }
    }

    record.m_connections.insert(record.m_connections.end(), connections.begin(), connections.end());
    record.m_result = overflow ? COMPILER_E_OVERFLOW : COMPILER_OK;
    return record.m_result;
}

i32 CompileStrategyUniqIdOrder::orderReadyList(const std::vector<CompileComponent>& /*compileList*/,
                                               const std::vector<Connection>& /*connections*/,
                                               const DspResourceModel& /*model*/, ReadyList& /*readyList*/)
{
    return COMPILER_OK;
}

i32 CompileStrategyStepSizeOrder::orderReadyList(const std::vector<CompileComponent>& /*compileList*/,
                                                 const std::vector<Connection>& /*connections*/,
                                                 const DspResourceModel& /*model*/, ReadyList& /*readyList*/)
{
    return COMPILER_E_FAILED;
}

} // namespace Compiler

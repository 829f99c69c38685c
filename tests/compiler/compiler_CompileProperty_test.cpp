// Random dependency graphs compiled by the driver against a reference scheduler that follows the list-scheduling
// steps one by one (a full scan of the graph per pass, a done list searched linearly, a model of one "step"
// resource per core), with the termination and capacity rules of the compiler.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <random>

#include "compiler_CompilerForNativeCPU.h"
#include "compiler_TestDocuments.h"

using namespace Compiler;

namespace {

constexpr u64 CAPACITY = 333333;

struct Input
{
    std::vector<std::pair<u32, u32>> components; // (uniqID, "step" size), ascending uniqID
    std::vector<Connection> connections;         // ascending, each once
    u32 cores = 1;
};

struct ReferenceCore
{
    u64 size = CAPACITY;
    u64 used = 0;
    std::vector<u32> placed;
};

i32 referenceCompile(const Input& in, CompileResult& r)
{
    r = CompileResult();
    r.m_name = "VEXA256-D";
    r.m_fsHz = 96000;
    r.m_numSamplePerFrame = 32;
    r.m_renderSamples = 32;
    std::vector<ReferenceCore> cores(in.cores);
    // Step 2: the graph, sources appended unless present; nodes for every endpoint and every component.
    std::map<u32, std::vector<u32>> graph;
    for (const Connection& c : in.connections) {
        std::vector<u32>& sources = graph[c.m_toUniqID];
        if (std::find(sources.begin(), sources.end(), c.m_fromUniqID) == sources.end()) {
            sources.push_back(c.m_fromUniqID);
        }
    }
    for (const Connection& c : in.connections) {
        graph[c.m_fromUniqID];
    }
    for (const auto& component : in.components) {
        graph[component.first];
    }
    u64 step = 0;
    std::map<u32, u64> running;
    std::vector<u32> done;
    size_t placed = 0;
    bool overflow = false;
    bool unlimited = false;
    const auto isDone = [&done](u32 uid) { return std::find(done.begin(), done.end(), uid) != done.end(); };
    while (placed < in.components.size()) {
        // Step 4.
        std::vector<u32> ready;
        const auto collect = [&] {
            for (auto it = running.begin(); it != running.end();) {
                if (it->second <= step) {
                    done.push_back(it->first);
                    it = running.erase(it);
                } else {
                    ++it;
                }
            }
            ready.clear();
            for (const auto& [uid, sources] : graph) {
                if (running.count(uid) == 0 && !isDone(uid) && std::all_of(sources.begin(), sources.end(), isDone)) {
                    ready.push_back(uid);
                }
            }
        };
        collect();
        while (ready.empty()) {
            if (running.empty()) {
                return COMPILER_E_OVERFLOW;
            }
            step = std::min_element(running.begin(), running.end(), [](const auto& a, const auto& b) {
                       return a.second < b.second;
                   })->second;
            collect();
        }
        // Steps 5 and 6.
        const u32 uid = ready.front();
        const auto component =
            std::find_if(in.components.begin(), in.components.end(), [uid](const auto& c) { return c.first == uid; });
        const u64 need = component->second;
        // Step 7: a range must end within the capacity, measured from the later of step and the used mark.
        size_t target = 0;
        for (;;) {
            bool busy = false;
            bool shortOfSteps = false;
            u64 next = UINT64_MAX;
            std::vector<size_t> candidates;
            for (size_t c = 0; c < cores.size(); ++c) {
                const u64 start = std::max(cores[c].used, step);
                const u64 room = cores[c].size > start ? cores[c].size - start : 0;
                if (need > room) {
                    shortOfSteps = true;
                } else if (cores[c].used > step) {
                    busy = true;
                    next = std::min(next, cores[c].used);
                } else {
                    candidates.push_back(c);
                }
            }
            if (!candidates.empty()) {
                target = candidates.front();
                break;
            }
            if (busy) {
                step = next;
            } else if (shortOfSteps && !unlimited) {
                overflow = unlimited = true;
                for (ReferenceCore& core : cores) {
                    core.size = 0x7FFFFFFFFFFFFFFFull;
                }
            } else {
                return COMPILER_E_NO_CORE;
            }
        }
        // Step 8: the strict capacity test of allocate.
        ReferenceCore& core = cores[target];
        Assignment assignment;
        if (need < (core.size > core.used ? core.size - core.used : 0)) {
            assignment = {0,
                          static_cast<u32>(target),
                          uid,
                          core.placed.empty() ? 0 : core.placed.back(),
                          {{"step", step, static_cast<u32>(need)}}};
            core.used = step + need;
            core.placed.push_back(uid);
        }
        // Steps 9 to 11.
        r.m_components.push_back({uid, "T" + std::to_string(uid), 1, 1, 1});
        r.m_dspAssignments.push_back(assignment);
        if (assignment.m_allocations.empty()) {
            return COMPILER_E_NO_STEP;
        }
        running.emplace(uid, step + need);
        ++placed;
    }
    r.m_connections = in.connections;
    r.m_result = overflow ? COMPILER_E_OVERFLOW : COMPILER_OK;
    return r.m_result;
}

Input randomInput(std::mt19937& rng, bool tight)
{
    Input in;
    const u32 count = 1 + static_cast<u32>(rng() % 64);
    in.cores = 1 + static_cast<u32>(rng() % 4);
    // Distinct uniqIDs in a random order that is also the dependency order.
    std::vector<u32> order(200);
    std::iota(order.begin(), order.end(), 1u);
    std::shuffle(order.begin(), order.end(), rng);
    order.resize(count);
    const u32 maxSize = tight ? 200000 : std::max<u32>(1, static_cast<u32>(CAPACITY * in.cores / (2 * count)));
    for (u32 i = 0; i < count; ++i) {
        in.components.emplace_back(order[i], 1 + static_cast<u32>(rng() % maxSize));
        for (u32 s = static_cast<u32>(rng() % 4); i > 0 && s > 0; --s) {
            in.connections.push_back({order[rng() % i], static_cast<u32>(rng() % 2), order[i], s});
        }
    }
    std::sort(in.components.begin(), in.components.end());
    std::sort(in.connections.begin(), in.connections.end());
    in.connections.erase(std::unique(in.connections.begin(), in.connections.end()), in.connections.end());
    return in;
}

} // namespace

TEST(CompileProperty, RandomGraphsMatchTheReferenceAndKeepTheRules)
{
    std::mt19937 rng(20240611);
    CompilerForNativeCPU compiler;
    std::map<i32, int> outcomes;
    for (int round = 0; round < 500; ++round) {
        const Input in = randomInput(rng, round % 2 == 0);
        std::vector<std::pair<std::string, u32>> types;
        std::vector<std::pair<u32, std::string>> instances;
        for (const auto& [uid, size] : in.components) {
            types.emplace_back("T" + std::to_string(uid), size);
            instances.emplace_back(uid, "T" + std::to_string(uid));
        }
        std::string text;
        const i32 result =
            compiler.compile(compilertest::componentDB(types), compilertest::connectionDB(instances, in.connections),
                             compilertest::dspSystemDB(in.cores), nullptr, text);
        ++outcomes[result];
        CompileResult reference;
        ASSERT_EQ(referenceCompile(in, reference), result) << "round " << round;
        std::string referenceText;
        ASSERT_EQ(writeCompileResult(reference, referenceText), COMPILER_OK);
        ASSERT_EQ(text, referenceText) << "round " << round;
        if (result == COMPILER_E_NO_STEP) {
            continue;
        }

        const CompileResult& r = compiler.getLastResult();
        ASSERT_EQ(r.m_dspAssignments.size(), in.components.size());
        std::map<u32, std::pair<u64, u64>> range; // uid -> (start, end)
        std::map<u32, std::vector<const Assignment*>> byCore;
        for (const Assignment& a : r.m_dspAssignments) {
            const Allocation* step = a.findStep();
            ASSERT_NE(step, nullptr);
            range[a.m_uniqID] = {step->m_offset, step->m_offset + step->m_size};
            byCore[a.m_coreNo].push_back(&a);
            if (result == COMPILER_OK) {
                EXPECT_LE(step->m_offset + step->m_size, CAPACITY) << "round " << round;
            }
        }
        for (const Connection& c : in.connections) {
            EXPECT_GE(range[c.m_toUniqID].first, range[c.m_fromUniqID].second) << "round " << round;
        }
        for (const auto& [core, list] : byCore) {
            for (size_t i = 0; i < list.size(); ++i) {
                EXPECT_EQ(list[i]->m_preUniqID, i == 0 ? 0 : list[i - 1]->m_uniqID) << "round " << round;
                if (i > 0) {
                    EXPECT_GE(range[list[i]->m_uniqID].first, range[list[i - 1]->m_uniqID].second);
                }
            }
        }
    }
    EXPECT_GT(outcomes[COMPILER_OK], 50);
    EXPECT_GT(outcomes[COMPILER_E_OVERFLOW], 50);
}

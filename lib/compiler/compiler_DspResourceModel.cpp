#include "compiler_DspResourceModel.h"

#include <algorithm>

namespace Compiler {

namespace {

constexpr std::string_view STEP = "step";

const DspResourceModel::Resource* findResource(const DspResourceModel::Core& core, std::string_view name)
{
    for (const DspResourceModel::Resource& resource : core.m_resources) {
        if (resource.m_name == name) {
            return &resource;
        }
    }
    return nullptr;
}

u64 remaining(u64 size, u64 used)
{
    return used < size ? size - used : 0;
}

} // namespace

void DspResourceModel::reset()
{
    m_name.clear();
    m_fsHz = 0;
    m_numSamplePerFrame = 0;
    m_renderSamples = 0;
    m_delayCompensation = false;
    m_dsps.clear();
    m_valid = false;
}

i32 DspResourceModel::build(const DspSystemInfo& system, u32 renderSamples, bool delayCompensation)
{
    reset();
    if (system.m_fsHz == 0 || system.m_numSamplePerFrame == 0) {
        return COMPILER_E_FAILED;
    }
    m_name = system.m_name;
    m_fsHz = system.m_fsHz;
    m_numSamplePerFrame = system.m_numSamplePerFrame;
    m_renderSamples = renderSamples;
    m_delayCompensation = delayCompensation;
    m_dsps.reserve(system.m_dsps.size());
    for (const DspInfo& dspInfo : system.m_dsps) {
        Dsp& dsp = m_dsps.emplace_back();
        dsp.m_name = dspInfo.m_name;
        dsp.m_cores.reserve(dspInfo.m_cores.size());
        for (const CoreInfo& coreInfo : dspInfo.m_cores) {
            Core& core = dsp.m_cores.emplace_back();
            core.m_resources.reserve(coreInfo.m_resources.size());
            for (const CoreResource& resource : coreInfo.m_resources) {
                core.m_resources.push_back({resource.m_name, resource.m_offset, resource.m_size, resource.m_shared, 0});
            }
        }
    }
    m_valid = true;
    return COMPILER_OK;
}

const std::string* DspResourceModel::getDspName(u32 dspNo) const
{
    return m_valid && dspNo < m_dsps.size() ? &m_dsps[dspNo].m_name : nullptr;
}

const DspResourceModel::Core* DspResourceModel::findCore(u32 dspNo, u32 coreNo) const
{
    if (!m_valid || dspNo >= m_dsps.size() || coreNo >= m_dsps[dspNo].m_cores.size()) {
        return nullptr;
    }
    return &m_dsps[dspNo].m_cores[coreNo];
}

u64 DspResourceModel::getRemainingSize(u32 dspNo, u32 coreNo, std::string_view name, u64 /*step*/) const
{
    const Core* core = findCore(dspNo, coreNo);
    const Resource* resource = core != nullptr ? findResource(*core, name) : nullptr;
    return resource != nullptr ? remaining(resource->m_size, resource->m_used) : 0;
}

i32 DspResourceModel::findCandidateCores(const CompileComponent& component, std::vector<CoreCandidate>& candidates,
                                         u64 step, u64& nextStep) const
{
    candidates.clear();
    nextStep = UINT64_MAX;
    if (!m_valid) {
        return COMPILER_E_FAILED;
    }
    bool busy = false;
    bool shortOfSteps = false;
    for (u32 d = 0; d < m_dsps.size(); ++d) {
        const Dsp& dsp = m_dsps[d];
        for (const DspResourceDescription& description : component.m_dspResources) {
            if (description.m_dspName != dsp.m_name) {
                continue;
            }
            for (u32 c = 0; c < dsp.m_cores.size(); ++c) {
                const Core& core = dsp.m_cores[c];
                bool coreShort = false;
                bool coreBusy = false;
                bool dropped = false;
                for (const ResourceAmount& requirement : description.m_requirements) {
                    const Resource* resource = findResource(core, requirement.m_name);
                    if (requirement.m_name != STEP) {
                        if (requirement.m_size >
                            (resource != nullptr ? remaining(resource->m_size, resource->m_used) : 0)) {
                            dropped = true;
                            break;
                        }
                        continue;
                    }
                    // A range starts at the later of step and the used mark and must end within the capacity.
                    const u64 room =
                        resource != nullptr ? remaining(resource->m_size, std::max(resource->m_used, step)) : 0;
                    if (requirement.m_size > room) {
                        coreShort = true;
                    } else if (resource != nullptr && resource->m_used > step) {
                        coreBusy = true;
                        nextStep = std::min(nextStep, resource->m_used);
                    }
                }
                if (dropped) {
                    continue;
                }
                if (coreShort) {
                    shortOfSteps = true;
                } else if (coreBusy) {
                    busy = true;
                } else {
                    candidates.push_back({d, c});
                }
            }
        }
    }
    if (!candidates.empty()) {
        return COMPILER_OK;
    }
    if (busy) {
        return COMPILER_E_BUSY;
    }
    return shortOfSteps ? COMPILER_E_STEP_SHORT : COMPILER_E_FAILED;
}

i32 DspResourceModel::allocate(u32 dspNo, u32 coreNo, u32 uniqID, const DspResourceDescription& description,
                               Assignment& assignment, u64 step)
{
    if (!m_valid) {
        return COMPILER_E_FAILED;
    }
    assignment.m_allocations.clear();
    if (findCore(dspNo, coreNo) == nullptr) {
        return COMPILER_E_FAILED;
    }
    for (const ResourceAmount& requirement : description.m_requirements) {
        if (!(requirement.m_size < getRemainingSize(dspNo, coreNo, requirement.m_name, step))) {
            return COMPILER_E_NO_ROOM;
        }
    }
    Core& core = m_dsps[dspNo].m_cores[coreNo];
    assignment.m_dspNo = dspNo;
    assignment.m_coreNo = coreNo;
    assignment.m_uniqID = uniqID;
    assignment.m_preUniqID = core.m_placed.empty() ? 0 : core.m_placed.back();
    for (const ResourceAmount& requirement : description.m_requirements) {
        const bool isStep = requirement.m_name == STEP;
        for (Resource& resource : core.m_resources) {
            if (resource.m_name != requirement.m_name) {
                continue;
            }
            if (isStep) {
                assignment.m_allocations.push_back({resource.m_name, resource.m_offset + step, requirement.m_size});
                resource.m_used = step + requirement.m_size;
            } else {
                assignment.m_allocations.push_back(
                    {resource.m_name, resource.m_offset + resource.m_used, requirement.m_size});
                resource.m_used += requirement.m_size;
            }
        }
    }
    core.m_placed.push_back(uniqID);
    return COMPILER_OK;
}

i32 DspResourceModel::setStepUnlimited()
{
    if (!m_valid) {
        return COMPILER_E_FAILED;
    }
    for (Dsp& dsp : m_dsps) {
        for (Core& core : dsp.m_cores) {
            for (Resource& resource : core.m_resources) {
                if (resource.m_name == STEP) {
                    resource.m_size = STEP_UNLIMITED;
                }
            }
        }
    }
    return COMPILER_OK;
}

} // namespace Compiler

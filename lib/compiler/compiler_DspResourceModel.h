// The compiler's picture of one DSP system during a compile: its DSPs, their cores, and the resources of each
// core with their capacity and how much is taken. The resource named "step" is a time axis on which a component
// occupies a range starting at the current step; every other resource is handed out one block after the other.
// A DSP's and a core's number is its position. Nothing is ever released: within a compile the used marks only
// grow, and each compile works on a copy of a freshly built model.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "compiler_CompileResult.h"
#include "compiler_ComponentDBConverter.h"
#include "compiler_DspSystemDBConverter.h"
#include "compiler_Result.h"
#include "klib_Types.h"

namespace Compiler {

// What a component needs on one kind of DSP.
struct DspResourceDescription
{
    std::string m_dspName;
    u32 m_fsHz = 0;
    u32 m_numSamplePerFrame = 0;
    std::vector<ResourceAmount> m_requirements;
};

// One component instance with what its type needs, as the compile strategy places it.
struct CompileComponent
{
    u32 m_uniqID = 0;
    std::string m_name;
    u32 m_majorVersion = 0;
    u32 m_numX = 0;
    u32 m_numY = 0;
    u32 m_numInPort = 0;
    u32 m_numOutPort = 0;
    std::vector<DspResourceDescription> m_dspResources;
};

// A core that can take a component now.
struct CoreCandidate
{
    u32 m_dspNo = 0;
    u32 m_coreNo = 0;

    bool operator==(const CoreCandidate&) const = default;
};

class DspResourceModel
{
public:
    static constexpr u64 STEP_UNLIMITED = 0x7FFFFFFFFFFFFFFFull;

    struct Resource
    {
        std::string m_name;
        u32 m_offset = 0;
        u64 m_size = 0;
        bool m_shared = false; // carried; no operation looks at it
        u64 m_used = 0;        // "step": end of the latest range; others: the amount handed out
    };
    struct Core
    {
        std::vector<Resource> m_resources;
        std::vector<u32> m_placed; // uniqIDs in placement order
    };
    struct Dsp
    {
        std::string m_name;
        std::vector<Core> m_cores;
    };

    // Resets, then models system: 0; COMPILER_E_FAILED (the model stays invalid) when its fsHz or
    // numSamplePerFrame is 0. A system without DSPs gives a valid model without DSPs.
    [[nodiscard]] i32 build(const DspSystemInfo& system, u32 renderSamples, bool delayCompensation);
    // Empty name, numbers 0, no DSPs, invalid.
    void reset();
    bool isValid() const { return m_valid; }

    // The stored values; the name is empty for an invalid model.
    const std::string& getName() const { return m_name; }
    u32 getFsHz() const { return m_fsHz; }
    u32 getNumSamplePerFrame() const { return m_numSamplePerFrame; }
    u32 getRenderSamples() const { return m_renderSamples; }
    bool isDelayCompensation() const { return m_delayCompensation; }
    // The DSP's name; null when the model is invalid or the number is out of range.
    const std::string* getDspName(u32 dspNo) const;
    // The DSPs with their cores and used marks; empty for an invalid model.
    const std::vector<Dsp>& getDsps() const { return m_dsps; }

    // size - used of the core's first resource of that name, 0 when used exceeds size, the model is invalid,
    // a number is out of range or there is no such resource. The step plays no part.
    u64 getRemainingSize(u32 dspNo, u32 coreNo, std::string_view name, u64 step) const;

    // The cores, in DSP then core order, that can take the component at step: 0 with candidates;
    // COMPILER_E_BUSY when every fitting core is busy beyond step (nextStep: the earliest used mark among them);
    // COMPILER_E_STEP_SHORT when the "step" capacity is short on a fitting core that is not busy;
    // COMPILER_E_FAILED when no core can take it (or the model is invalid). A "step" range must end within the
    // capacity: its room is size - max(used, step).
    [[nodiscard]] i32 findCandidateCores(const CompileComponent& component, std::vector<CoreCandidate>& candidates,
                                         u64 step, u64& nextStep) const;

    // Places uniqID on the core at step with the description's requirements: 0 with the assignment filled
    // (preUniqID: the core's last placed component, 0 for none); COMPILER_E_NO_ROOM when a requirement is not
    // strictly smaller than its remaining size (the assignment then holds no allocation); COMPILER_E_FAILED for
    // an invalid model or a number out of range.
    [[nodiscard]] i32 allocate(u32 dspNo, u32 coreNo, u32 uniqID, const DspResourceDescription& description,
                               Assignment& assignment, u64 step);

    // Every "step" resource gets the size STEP_UNLIMITED: 0; COMPILER_E_FAILED for an invalid model.
    [[nodiscard]] i32 setStepUnlimited();

private:
    const Core* findCore(u32 dspNo, u32 coreNo) const;

    std::string m_name;
    u32 m_fsHz = 0;
    u32 m_numSamplePerFrame = 0;
    u32 m_renderSamples = 0;
    bool m_delayCompensation = false;
    std::vector<Dsp> m_dsps;
    bool m_valid = false;
};

} // namespace Compiler

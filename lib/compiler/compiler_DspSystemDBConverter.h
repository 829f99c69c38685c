// The DspSystemDB document: the DSP systems on offer, their DSPs, cores and core resources.
#pragma once

#include <string>
#include <vector>

#include "klib_Types.h"

namespace Compiler {

struct CoreResource
{
    std::string m_name;
    u32 m_offset = 0;
    u64 m_size = 0; // the capacity
    bool m_shared = false;

    bool operator==(const CoreResource&) const = default;
};

struct CoreInfo
{
    u32 m_coreNo = 0; // the position in "cores"
    std::vector<CoreResource> m_resources;

    bool operator==(const CoreInfo&) const = default;
};

struct DspInfo
{
    u32 m_dspNo = 0; // the position in "dsps"
    std::string m_name;
    std::vector<CoreInfo> m_cores;

    bool operator==(const DspInfo&) const = default;
};

struct DspSystemInfo
{
    std::string m_name;
    u32 m_fsHz = 0;
    u32 m_numSamplePerFrame = 0;
    std::vector<DspInfo> m_dsps;

    bool operator==(const DspSystemInfo&) const = default;
};

// The systems in document order.
struct DspSystemDB
{
    std::vector<DspSystemInfo> m_dspSystems;
};

// Replaces destination by the systems of a DspSystemDB text (read up to its first NUL byte). Lenient as
// loadComponentDB; DSP and core numbers are positions, whatever the document says. Returns 0.
i32 loadDspSystemDB(DspSystemDB& destination, const std::string& text);

} // namespace Compiler

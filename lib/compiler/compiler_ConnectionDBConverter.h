// The ConnectionDB document: the configuration to compile.
#pragma once

#include <string>
#include <vector>

#include "compiler_CompileResult.h"
#include "klib_Types.h"

namespace Compiler {

// The DSP system the configuration targets.
struct DspSystemSetting
{
    std::string m_name;
    u32 m_fsHz = 0;
    u32 m_numSamplePerFrame = 0;
    u32 m_renderSamples = 0;
    bool m_delayCompensation = false;

    bool operator==(const DspSystemSetting&) const = default;
};

// The three lists are in ascending order without equal entries (ComponentInstance and Connection order).
struct ConnectionDB
{
    DspSystemSetting m_dspSystem;
    std::vector<ComponentInstance> m_components;
    std::vector<Connection> m_connections;
    std::vector<Connection> m_logicConnections;

    void reset() { *this = ConnectionDB(); }
    bool operator==(const ConnectionDB&) const = default;
};

// Replaces destination by the record of a ConnectionDB text (read up to its first NUL byte). Lenient as
// loadComponentDB; a missing list prints its "tag not found" line and leaves all three lists empty, with the
// DSP system setting kept when it was read. Returns 0.
i32 loadConnectionDB(ConnectionDB& destination, const std::string& text);

} // namespace Compiler

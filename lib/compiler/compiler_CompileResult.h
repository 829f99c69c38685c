// The outcome of one compile and its document. The strategy fills the record; writeCompileResult turns it into
// the stored and exchanged CompileResult text, which stays byte-exact: indent 2, keys in byte order, non-ASCII
// written as it is (invalid UTF-8 as U+FFFD), empty arrays written, no line feed at the end.
#pragma once

#include <compare>
#include <string>
#include <vector>

#include "compiler_Result.h"
#include "klib_Types.h"

namespace Compiler {

// One component instance. Ordered by (uniqID, name bytewise, majorVersion, numX, numY).
struct ComponentInstance
{
    u32 m_uniqID = 0;
    std::string m_name;
    u32 m_majorVersion = 0;
    u32 m_numX = 0;
    u32 m_numY = 0;

    auto operator<=>(const ComponentInstance&) const = default;
    bool operator==(const ComponentInstance&) const = default;
};

// An audio or logic connection. Ordered lexicographically.
struct Connection
{
    u32 m_fromUniqID = 0;
    u32 m_fromPortNo = 0;
    u32 m_toUniqID = 0;
    u32 m_toPortNo = 0;

    auto operator<=>(const Connection&) const = default;
    bool operator==(const Connection&) const = default;
};

// A part of one core resource given to a component.
struct Allocation
{
    std::string m_name;
    u64 m_offset = 0;
    u32 m_size = 0;

    bool operator==(const Allocation&) const = default;
};

// The placement of one component: its core, its predecessor there (0 for the first) and its allocations.
struct Assignment
{
    u32 m_dspNo = 0;
    u32 m_coreNo = 0;
    u32 m_uniqID = 0;
    u32 m_preUniqID = 0;
    std::vector<Allocation> m_allocations;

    // The first allocation named "step", or null.
    const Allocation* findStep() const;
    bool operator==(const Assignment&) const = default;
};

struct CompileResult
{
    std::string m_name; // the DSP system
    u32 m_fsHz = 0;
    u32 m_numSamplePerFrame = 0;
    u32 m_renderSamples = 0;
    bool m_delayCompensation = false;
    i32 m_result = COMPILER_E_FAILED;
    std::vector<ComponentInstance> m_components; // placement order
    std::vector<Connection> m_connections;       // as given to the compile
    std::vector<Assignment> m_dspAssignments;    // placement order
    std::vector<Connection> m_logicConnections;  // configuration order

    void reset() { *this = CompileResult(); }
    bool operator==(const CompileResult&) const = default;
};

// Writes the record as CompileResult text into text (replacing it). Each list is written as an ordered set
// (equal entries once); an assignment stands as (dspNo, coreNo, stepOffset, stepSize, uniqID, preUniqID) with
// the offset and size of its first "step" allocation (0 and 0 without one). 0; COMPILER_E_FAILED with an empty
// text when the record has no DSP system name or memory runs out.
[[nodiscard]] i32 writeCompileResult(const CompileResult& record, std::string& text);

} // namespace Compiler

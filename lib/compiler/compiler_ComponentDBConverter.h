// The ComponentDB document: for every component type, what it needs of each kind of DSP.
#pragma once

#include <string>
#include <vector>

#include "klib_Types.h"

namespace Compiler {

// A named amount of a core resource; as a requirement, what a component needs of that resource.
struct ResourceAmount
{
    std::string m_name;
    u32 m_size = 0;

    bool operator==(const ResourceAmount&) const = default;
};

struct DspResourceInfo
{
    std::string m_dspName;
    u32 m_fsHz = 0;
    u32 m_numSamplePerFrame = 0;
    u32 m_fixedDelay = 0;
    std::vector<ResourceAmount> m_resources;

    bool operator==(const DspResourceInfo&) const = default;
};

struct ComponentTypeInfo
{
    std::string m_name;
    u32 m_majorVersion = 0;
    u32 m_numX = 0;
    u32 m_numY = 0;
    u32 m_numInPort = 0;
    u32 m_numOutPort = 0;
    std::vector<DspResourceInfo> m_dspResources;

    bool operator==(const ComponentTypeInfo&) const = default;
};

// The types in document order, without a duplicate check.
struct ComponentDB
{
    std::vector<ComponentTypeInfo> m_components;
};

// Replaces destination by the types of a ComponentDB text (read up to its first NUL byte). Lenient: a missing or
// ill-typed field takes its default (empty, 0), a missing "componentDB" or "components" prints its "tag not found"
// line and yields an empty list, and a text the JSON library refuses prints the library's two lines. Returns 0.
i32 loadComponentDB(ComponentDB& destination, const std::string& text);

} // namespace Compiler

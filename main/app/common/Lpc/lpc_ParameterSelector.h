// Element selectors of parameters: a parameter whose address ends in "@<set>@<element>", where <element> is one
// character of <set>, is element <position of that character in <set>> of a set of <length of <set>> parameters
// ("/3DRev/Center@xyz@y": element 1 of 3). The parameters of one set are changed and reported together.
#pragma once

#include "klib_Types.h"

namespace PDB {
class IParameterDB;
}

namespace LPC {

struct ElementSelector
{
    bool m_hasSelector = false;
    u32 m_elementIndex = 0; // position of the element's character in the set (its first occurrence)
    u32 m_setSize = 0;      // characters in the set
};

// The selector of an address text; no selector for null or any other form (m_elementIndex and m_setSize 0).
ElementSelector parseElementSelector(const char* address);

// The selector of parameter (block) blockIndex of the component at componentIndex. 0, also for a parameter that
// does not exist (no selector); PYRITE_E_FAILED for a null output.
[[nodiscard]] u32 getParameterElementSelector(const PDB::IParameterDB& database, u32 componentIndex, u32 blockIndex,
                                              ElementSelector* selector);

} // namespace LPC

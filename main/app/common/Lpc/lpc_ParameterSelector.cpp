#include "lpc_ParameterSelector.h"

#include <cstring>

#include "pdb_IParameterDB.h"
#include "pyrite_Result.h"

namespace LPC {

ElementSelector parseElementSelector(const char* address)
{
    ElementSelector selector;
    if (address == nullptr) {
        return selector;
    }
    const char* last = std::strrchr(address, '@');
    // The element: exactly one character after the last "@".
    if (last == nullptr || last[1] == '\0' || last[2] != '\0') {
        return selector;
    }
    const char* set = last;
    while (set > address && set[-1] != '@') {
        --set;
    }
    if (set == address) {
        return selector; // one "@" only
    }
    const auto setSize = static_cast<u32>(last - set);
    const void* found = std::memchr(set, last[1], setSize);
    if (found == nullptr) {
        return selector;
    }
    selector.m_hasSelector = true;
    selector.m_elementIndex = static_cast<u32>(static_cast<const char*>(found) - set);
    selector.m_setSize = setSize;
    return selector;
}

u32 getParameterElementSelector(const PDB::IParameterDB& database, u32 componentIndex, u32 blockIndex,
                                ElementSelector* selector)
{
    if (selector == nullptr) {
        return PYRITE::PYRITE_E_FAILED;
    }
    // A missing component or block reads as the shared default block, whose address has no selector.
    const PDB::ParameterInfo* info = database.getParameterInfo(componentIndex, blockIndex);
    *selector = parseElementSelector(info != nullptr ? info->getAddress().c_str() : nullptr);
    return PYRITE::PYRITE_OK;
}

} // namespace LPC

#include "lpc_PresetList.h"

#include "lpc_Folder.h"
#include "pyrite_Result.h"

namespace LPC {

u32 PresetList::initialize(const char* presetDirectory)
{
    if (presetDirectory == nullptr) {
        return PYRITE::PYRITE_E_FAILED;
    }
    m_presetDirectory = presetDirectory;
    const u32 made = makeFolder(getTypeDirectory());
    return reload() | made;
}

u32 PresetList::reload()
{
    if (m_presetDirectory.empty()) {
        m_presetFiles.clear();
        return PYRITE::PYRITE_E_FAILED;
    }
    return listFiles(getTypeDirectory(), EXTENSION, m_presetFiles);
}

} // namespace LPC

#include "lpc_SceneList.h"

#include "lpc_Folder.h"
#include "pyrite_Result.h"

namespace LPC {

u32 SceneList::initialize(const char* snapshotDirectory, const char* backupDirectory)
{
    if (snapshotDirectory == nullptr || backupDirectory == nullptr) {
        return PYRITE::PYRITE_E_FAILED;
    }
    m_snapshotDirectory = snapshotDirectory;
    m_backupDirectory = backupDirectory;
    const u32 made = makeFolder(m_snapshotDirectory) | makeFolder(m_backupDirectory);
    return reload() | made;
}

u32 SceneList::reload()
{
    if (m_snapshotDirectory.empty()) {
        m_sceneFiles.clear();
        return PYRITE::PYRITE_E_FAILED;
    }
    return listFiles(m_snapshotDirectory, EXTENSION, m_sceneFiles);
}

u32 SceneList::setEditFlag(u32 on)
{
    m_editFlag = on != 0;
    return PYRITE::PYRITE_OK;
}

} // namespace LPC

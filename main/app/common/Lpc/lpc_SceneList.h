// SceneList: the scenes of logical position control, one snapshot file ("<number>.zethis") each in the snapshot
// folder, with the undo copies in the backup folder, and the scene edit flag (set when a parameter that counts as
// an edit changed since the last store or recall).
//
// So far it keeps its folders, lists the scene files and keeps the edit flag; storing, recalling and the other
// scene operations are not built yet. Used on the device-control thread only.
#pragma once

#include <string>
#include <vector>

#include "klib_Types.h"

namespace LPC {

class SceneList
{
public:
    static constexpr const char* EXTENSION = "zethis";
    static constexpr u32 MAX_SCENES = 2000;

    // Keeps both folders and makes each (with every missing folder along its path), then reloads: 0;
    // PYRITE_E_FAILED for a null path or a folder that cannot be made (what could be done is kept).
    [[nodiscard]] u32 initialize(const char* snapshotDirectory, const char* backupDirectory);
    // Lists the scene files of the snapshot folder: 0; PYRITE_E_FAILED (no scenes) when it cannot be read.
    [[nodiscard]] u32 reload();
    // Keeps the edit flag (any value other than 0 sets it): 0.
    u32 setEditFlag(u32 on);

    bool getEditFlag() const { return m_editFlag; }
    const std::string& getSnapshotDirectory() const { return m_snapshotDirectory; }
    const std::string& getBackupDirectory() const { return m_backupDirectory; }
    const std::vector<std::string>& getSceneFiles() const { return m_sceneFiles; }

private:
    std::string m_snapshotDirectory;
    std::string m_backupDirectory;
    std::vector<std::string> m_sceneFiles;
    bool m_editFlag = false;
};

} // namespace LPC

// SceneList: the scenes of logical position control. A scene is a snapshot of the whole component database
// (database 10) with a title and a comment, kept as the file "<number>.zethis" (numbers 1 to 2000) in the snapshot
// folder. The list also keeps the image of the last recall's starting point (the recall-undo image, in memory) and
// the scene edit flag (set when a parameter that counts as an edit changed since the last store or recall).
//
// Recalls write without change marks; afterwards every value of the component database is refreshed, so every
// subscriber sees the recalled values. A protected scene is a read-only file: storing over it, and deleting it,
// fail until the protection is taken away.
//
// The undo family other than recallUndo, createAllScenes and testRecallSpeed are not offered by this program:
// they answer PYRITE_E_NOT_SUPPORTED with one "[NQ] " line.
//
// The operations are virtual so that a stand-in can take the list's place. Used on the device-control thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "klib_Types.h"

namespace PDB {
class SnapshotData;
}

namespace LPC {

class SceneList
{
public:
    static constexpr const char* EXTENSION = "zethis";
    static constexpr const char* MODEL_TAG = "HUX-NQ";
    static constexpr u32 VERSION = 0;
    static constexpr u32 HEADER_VALUE = 0;
    static constexpr u32 MAX_SCENES = 2000;

    // Runs after a recall that succeeded, inside the recall.
    using Completion = std::function<void()>;

    SceneList();
    virtual ~SceneList();
    SceneList(const SceneList&) = delete;
    SceneList& operator=(const SceneList&) = delete;

    // Keeps both folders and makes each (with every missing folder along its path), then reloads: 0;
    // PYRITE_E_FAILED for a null path or a folder that cannot be made (what could be done is kept).
    [[nodiscard]] virtual u32 initialize(const char* snapshotDirectory, const char* backupDirectory);
    // Lists the scene files of the snapshot folder: 0; PYRITE_E_FAILED (no scenes) when it cannot be read.
    [[nodiscard]] virtual u32 reload();

    // Stores the component database as scene number with the title and comment (null: empty). 0;
    // PYRITE_E_RANGE for a number outside 1..2000; PYRITE_E_FAILED before initialize; the snapshot's failure
    // (0x80000080 when the file cannot be replaced, a protected one included; the old file stays).
    [[nodiscard]] virtual u32 store(u32 number, const char* title, const char* comment);
    // Loads scene number; with keepUndo the database as it is now becomes the recall-undo image; recalls the
    // scene, refreshes the database and runs completion (may be empty). 0; PYRITE_E_RANGE; the load's failure
    // (nothing recalled, the undo image unchanged); the recall's failure (completion not run).
    [[nodiscard]] virtual u32 recall(u32 number, bool keepUndo, const Completion& completion);
    // Deletes scene number: 0; PYRITE_E_RANGE; the file API's failure (a protected or missing scene).
    [[nodiscard]] virtual u32 remove(u32 number);
    // Copies scene source to destination with the new title and comment. 0; PYRITE_E_RANGE; the load's or the
    // write's failure (a protected destination stays as it was).
    [[nodiscard]] virtual u32 duplicate(u32 source, u32 destination, const char* title, const char* comment);
    // Recalls the recall-undo image (kept) and refreshes the database: 0; PYRITE_E_NOT_FOUND without one.
    [[nodiscard]] virtual u32 recallUndo();
    // Protects scene number (on other than 0) or takes the protection away: 0; PYRITE_E_RANGE; the file API's
    // failure (a missing scene).
    [[nodiscard]] virtual u32 protect(u32 number, u32 on);

    [[nodiscard]] virtual u32 updateUndo();
    [[nodiscard]] virtual u32 duplicateUndo();
    [[nodiscard]] virtual u32 deleteUndo();
    [[nodiscard]] virtual u32 fileUndo();
    [[nodiscard]] virtual u32 createAllScenes();
    [[nodiscard]] virtual u32 testRecallSpeed(u32 count, u32 withRecallSafe);

    // Keeps the edit flag (any value other than 0 sets it): 0.
    virtual u32 setEditFlag(u32 on);

    bool getEditFlag() const { return m_editFlag; }
    bool hasUndo() const { return m_undo != nullptr; }
    const std::string& getSnapshotDirectory() const { return m_snapshotDirectory; }
    const std::string& getBackupDirectory() const { return m_backupDirectory; }
    const std::vector<std::string>& getSceneFiles() const { return m_sceneFiles; }
    // "<number>.zethis".
    static std::string fileName(u32 number);

private:
    // The snapshot object of this list: the model settings, contents "the whole component database" (when
    // withContents) and the snapshot folder. Null when it cannot be set up.
    std::unique_ptr<PDB::SnapshotData> makeSnapshot(bool withContents) const;
    u32 checkNumber(u32 number) const;
    std::string pathOf(u32 number) const;

    std::string m_snapshotDirectory;
    std::string m_backupDirectory;
    std::vector<std::string> m_sceneFiles;
    std::unique_ptr<PDB::SnapshotData> m_undo;
    bool m_editFlag = false;
};

} // namespace LPC

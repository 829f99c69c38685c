#include "lpc_SceneList.h"

#include <new>

#include "fsw_api.h"
#include "lpc_Folder.h"
#include "lpc_Log.h"
#include "lpc_Parameter.h"
#include "pdb_SnapshotData.h"
#include "pyrite_Result.h"

namespace LPC {

namespace {

constexpr u8 WRITE_ALL = 0xFF;

u32 resultOf(i32 result)
{
    return result < 0 ? static_cast<u32>(result) : PYRITE::PYRITE_OK;
}

void setTexts(PDB::SnapshotData& snapshot, const char* title, const char* comment)
{
    PDB::LocalParameterDB& info = snapshot.getInfoDatabase();
    info.setValueString(snapshot.getInfoAddress(PDB::ItemFile::INFO_TITLE), 0, 0, title != nullptr ? title : "",
                        WRITE_ALL);
    info.setValueString(snapshot.getInfoAddress(PDB::ItemFile::INFO_COMMENT), 0, 0, comment != nullptr ? comment : "",
                        WRITE_ALL);
}

// Every subscriber of the component database sees the values a recall wrote without change marks.
void refreshComponentDB()
{
    (void)getComponentDB().refreshAllValues(WRITE_ALL);
}

} // namespace

SceneList::SceneList() = default;
SceneList::~SceneList() = default;

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

std::string SceneList::fileName(u32 number)
{
    return std::to_string(number) + "." + EXTENSION;
}

std::string SceneList::pathOf(u32 number) const
{
    return m_snapshotDirectory + "/" + fileName(number);
}

u32 SceneList::checkNumber(u32 number) const
{
    if (number < 1 || number > MAX_SCENES) {
        return PYRITE::PYRITE_E_RANGE;
    }
    return m_snapshotDirectory.empty() ? PYRITE::PYRITE_E_FAILED : PYRITE::PYRITE_OK;
}

std::unique_ptr<PDB::SnapshotData> SceneList::makeSnapshot(bool withContents) const
{
    std::unique_ptr<PDB::SnapshotData> snapshot(new (std::nothrow) PDB::SnapshotData());
    PDB::SnapshotContentsList contents;
    if (snapshot == nullptr || (withContents && contents.addDatabase(getComponentDB()) < 0) ||
        snapshot->initialize(MODEL_TAG, VERSION, HEADER_VALUE, contents, m_snapshotDirectory.c_str()) < 0) {
        return nullptr;
    }
    return snapshot;
}

u32 SceneList::store(u32 number, const char* title, const char* comment)
{
    const u32 checked = checkNumber(number);
    if (checked != PYRITE::PYRITE_OK) {
        return checked;
    }
    std::unique_ptr<PDB::SnapshotData> snapshot = makeSnapshot(true);
    if (snapshot == nullptr) {
        return PYRITE::PYRITE_E_FAILED;
    }
    setTexts(*snapshot, title, comment);
    i32 result = snapshot->storeContents();
    if (result >= 0) {
        result = snapshot->save(fileName(number).c_str());
    }
    (void)reload();
    return resultOf(result);
}

u32 SceneList::recall(u32 number, bool keepUndo, const Completion& completion)
{
    const u32 checked = checkNumber(number);
    if (checked != PYRITE::PYRITE_OK) {
        return checked;
    }
    std::unique_ptr<PDB::SnapshotData> scene = makeSnapshot(false);
    if (scene == nullptr) {
        return PYRITE::PYRITE_E_FAILED;
    }
    const i32 loaded = scene->load(fileName(number).c_str());
    if (loaded < 0) {
        return static_cast<u32>(loaded);
    }
    std::unique_ptr<PDB::SnapshotData> undo;
    if (keepUndo) {
        undo = makeSnapshot(true);
        if (undo == nullptr) {
            return PYRITE::PYRITE_E_FAILED;
        }
        const i32 kept = undo->storeContents();
        if (kept < 0) {
            return static_cast<u32>(kept);
        }
    }
    const i32 recalled = scene->recallToCollection();
    refreshComponentDB();
    if (undo != nullptr) {
        m_undo = std::move(undo);
    }
    if (recalled < 0) {
        return static_cast<u32>(recalled);
    }
    if (completion) {
        completion();
    }
    return PYRITE::PYRITE_OK;
}

u32 SceneList::remove(u32 number)
{
    u32 result = checkNumber(number);
    if (result == PYRITE::PYRITE_OK) {
        result = fsw_remove(pathOf(number).c_str());
        (void)reload();
    }
    return result;
}

u32 SceneList::duplicate(u32 source, u32 destination, const char* title, const char* comment)
{
    u32 result = checkNumber(source) | checkNumber(destination);
    if (result != PYRITE::PYRITE_OK) {
        return result;
    }
    std::unique_ptr<PDB::SnapshotData> scene = makeSnapshot(false);
    if (scene == nullptr) {
        return PYRITE::PYRITE_E_FAILED;
    }
    i32 step = scene->load(fileName(source).c_str());
    if (step >= 0) {
        setTexts(*scene, title, comment);
        step = scene->applySnapshotInfo(scene->getInfoDatabase());
    }
    if (step >= 0) {
        step = scene->save(fileName(destination).c_str());
    }
    (void)reload();
    return resultOf(step);
}

u32 SceneList::recallUndo()
{
    if (m_undo == nullptr) {
        return PYRITE::PYRITE_E_NOT_FOUND;
    }
    const i32 recalled = m_undo->recallToCollection();
    refreshComponentDB();
    return resultOf(recalled);
}

u32 SceneList::protect(u32 number, u32 on)
{
    const u32 checked = checkNumber(number);
    if (checked != PYRITE::PYRITE_OK) {
        return checked;
    }
    return fsw_setAttributes(on != 0 ? FSW_ATTR_READONLY : FSW_ATTR_NORMAL, pathOf(number).c_str());
}

u32 SceneList::updateUndo()
{
    return notSupported("SceneList::updateUndo");
}

u32 SceneList::duplicateUndo()
{
    return notSupported("SceneList::duplicateUndo");
}

u32 SceneList::deleteUndo()
{
    return notSupported("SceneList::deleteUndo");
}

u32 SceneList::fileUndo()
{
    return notSupported("SceneList::fileUndo");
}

u32 SceneList::createAllScenes()
{
    return notSupported("SceneList::createAllScenes");
}

u32 SceneList::testRecallSpeed(u32 count, u32 withRecallSafe)
{
    (void)count, (void)withRecallSafe;
    return notSupported("SceneList::testRecallSpeed");
}

u32 SceneList::setEditFlag(u32 on)
{
    m_editFlag = on != 0;
    return PYRITE::PYRITE_OK;
}

} // namespace LPC

#include "pyrite_VEXABackupFunc.h"

#include <cstring>

#include "fsw_api.h"
#include "klib_Print.h"
#include "os_Clock.h"
#include "pyrite_Result.h"

namespace PYRITE {

namespace {

u32 now()
{
    u32 ms = 0;
    ossupport::getMilliseconds(&ms);
    return ms;
}

} // namespace

u32 VEXABackupFunc::setup(const char* directory, const char* fileName, const char* tag, u32 flags,
                          const std::vector<PDB::IParameterDB*>& databases, u32 intervalMs)
{
    if (fileName == nullptr || std::strchr(fileName, '/') != nullptr) {
        return PYRITE_E_FAILED;
    }
    std::vector<PDB::BackupFile::Entry> entries;
    entries.reserve(databases.size());
    for (PDB::IParameterDB* database : databases) {
        entries.push_back({database, 0});
    }
    if (PDB::BackupFile::setup(tag, flags, entries, directory) < 0) {
        return PYRITE_E_FAILED;
    }
    m_directory = directory != nullptr ? directory : "";
    m_fileName = fileName;
    m_lastTime = now();
    m_interval = intervalMs;
    return PYRITE_OK;
}

u32 VEXABackupFunc::requestBackup()
{
    m_backupRequested = true;
    return PYRITE_OK;
}

u32 VEXABackupFunc::backup()
{
    if (m_fileName.empty()) {
        return PYRITE_E_FAILED;
    }
    if (!m_directory.empty()) {
        // The folder may have been removed since set-up; a failure shows in the write below.
        fsw_makeDir(m_directory.c_str());
    }
    char tempName[256];
    if (fsw_makeReplaceTempName(tempName, sizeof tempName, m_fileName.c_str()) != FSW_OK) {
        KLIB_LOG("[E] VEXABackupFunc::backup - Cannot backup memories[%s]!\n", m_fileName.c_str());
        return PYRITE_E_FAILED;
    }
    const std::string tempPath = makeFilePath(tempName);
    const std::string current = makeFilePath(m_fileName.c_str());
    const std::string old = current + OLD_SUFFIX;
    if (exportToFile(tempName) != 0) {
        // The export is atomic: a failure leaves no temporary file.
        KLIB_LOG("[E] VEXABackupFunc::backup - Cannot backup memories[%s]!\n", m_fileName.c_str());
        return PYRITE_E_FAILED;
    }
    // The previous generation is rotated only when there is a current file to take its place.
    u32 attributes = 0;
    if (fsw_getAttributes(&attributes, current.c_str()) == FSW_OK) {
        const u32 removed = fsw_remove(old.c_str());
        if (removed != FSW_OK && removed != FSW_E_NOT_FOUND) {
            KLIB_LOG("[E] VEXABackupFunc::backup - Cannot remove old backup file[%s]!\n", old.c_str());
        }
        if (fsw_move(current.c_str(), old.c_str()) != FSW_OK) {
            KLIB_LOG("[E] VEXABackupFunc::backup - Cannot rename previous backup file[%s]!\n", current.c_str());
        }
    }
    if (fsw_move(tempPath.c_str(), current.c_str()) != FSW_OK) {
        fsw_remove(tempPath.c_str());
        KLIB_LOG("[E] VEXABackupFunc::backup - Cannot backup memories[%s]!\n", m_fileName.c_str());
        return PYRITE_E_FAILED;
    }
    KLIB_LOG("[i] VEXABackupFunc::backup - memory backuped. [%s]\n", m_fileName.c_str());
    m_backupRequested = false;
    m_lastTime = now();
    return PYRITE_OK;
}

u32 VEXABackupFunc::backupOnTimer()
{
    if (!m_backupRequested) {
        return PYRITE_OK;
    }
    // Unsigned difference: right across the clock's wrap.
    if (now() - m_lastTime < m_interval) {
        return 1;
    }
    return backup();
}

u32 VEXABackupFunc::finalBackup()
{
    if (m_fileName.empty()) {
        return PYRITE_E_FAILED;
    }
    const u32 first = backup();
    const u32 second = backup();
    // The databases are on disk when either write succeeded.
    return pyriteFailed(first) && pyriteFailed(second) ? PYRITE_E_FAILED : PYRITE_OK;
}

u32 VEXABackupFunc::restore()
{
    if (m_fileName.empty()) {
        return PYRITE_E_FAILED;
    }
    bool written = false;
    if (importFromFile(m_fileName.c_str()) == 0) {
        KLIB_LOG("[i] VEXABackupFunc::restore - Memories were restored from backup file[%s].\n", m_fileName.c_str());
        written = !pyriteFailed(backup());
    } else {
        const std::string oldName = m_fileName + OLD_SUFFIX;
        if (importFromFile(oldName.c_str()) == 0) {
            KLIB_LOG("[i] VEXABackupFunc::restore - Backup file was corruped when previous power-off. Memories were "
                     "restored from old backup file[%s].\n",
                     oldName.c_str());
        } else {
            KLIB_LOG("[E] VEXABackupFunc::restore - Cannot restore memories from backup file[%s].\n", oldName.c_str());
        }
        const u32 first = backup();
        written = !pyriteFailed(backup()) && !pyriteFailed(first);
    }
    if (!written) {
        // The timer tries again.
        m_backupRequested = true;
    }
    m_lastTime = now();
    return PYRITE_OK;
}

u32 VEXABackupFunc::removeTemporaries()
{
    if (m_fileName.empty() || m_directory.empty()) {
        return PYRITE_OK;
    }
    // backup() writes "." + file name + ".tmp-" + suffix; the database export writes that file through an atomic
    // replacement, whose own temporary is nested in that way once more.
    return fsw_removeReplaceTemps(makeFilePath(m_fileName.c_str()).c_str(), true) == FSW_OK ? PYRITE_OK
                                                                                            : PYRITE_E_FAILED;
}

} // namespace PYRITE

// VEXABackupFunc: one memory backup file of the device-control thread. It keeps the nonvolatile values of a list
// of parameter databases in "<directory>/<file name>" and the previous generation beside it in "<file name>.old".
//
// A backup writes the databases under a temporary name in the same folder first; only when that succeeded is the
// current file moved to ".old" and the new one moved into its place. A failed write therefore leaves both
// generations as they were and the request set, so a later attempt tries again. The folder is made again when it
// has gone since set-up.
//
// Restore reads the current file, or the ".old" one when the current file is unreadable, and then writes the
// databases out again so that both generations hold what the databases hold.
//
// A process that ends during a backup leaves its temporaries in the folder (up to the size of the file each);
// removeTemporaries, run once at start, takes them away.
//
// Every call runs on one thread (the device-control thread); the databases are locked by the backup file.
#pragma once

#include <string>
#include <vector>

#include "klib_Types.h"
#include "pdb_BackupFile.h"

namespace PYRITE {

class VEXABackupFunc : public PDB::BackupFile
{
public:
    static constexpr const char* OLD_SUFFIX = ".old";

    VEXABackupFunc() = default;

    // Stores directory (null: none) and file name, registers the databases (each with header value 0) under the
    // tag with flags as version, records now as the last backup time and keeps the interval. 0; PYRITE_E_FAILED
    // for a null file name, one holding "/", or a failed registration (null tag or database), nothing changed.
    [[nodiscard]] u32 setup(const char* directory, const char* fileName, const char* tag, u32 flags,
                            const std::vector<PDB::IParameterDB*>& databases, u32 intervalMs);

    // Marks the databases as changed. 0.
    u32 requestBackup();

    // Writes the databases as the new current file and keeps the previous one as ".old". 0; PYRITE_E_FAILED
    // without a file name or when the new file could not be written (the request then stays set).
    [[nodiscard]] u32 backup();

    // 0 when nothing is requested; 1 when less than the interval has passed since the last backup or restore;
    // otherwise what backup() gives. The interval is measured on the wrapping millisecond clock.
    [[nodiscard]] u32 backupOnTimer();

    // Writes both generations (backup twice). PYRITE_E_FAILED without a file name or when neither write
    // succeeded; otherwise 0.
    [[nodiscard]] u32 finalBackup();

    // Restores the databases from the current file, else from ".old" (else they stay as they are), then writes
    // them out again (once after the current file, twice otherwise); a failed write leaves a backup requested.
    // 0; PYRITE_E_FAILED without a file name.
    u32 restore();

    // Removes the temporaries that an interrupted backup of this file left in the folder: "." + file name +
    // ".tmp-" + suffix, and the temporary of the atomic replacement of such a file ("." in front of that name,
    // ".tmp-" + suffix behind it). Nothing else is touched. 0; PYRITE_E_FAILED when one could not be removed
    // (logged). A folder that cannot be listed holds none.
    u32 removeTemporaries();

    const std::string& getDirectory() const { return m_directory; }
    const std::string& getFileName() const { return m_fileName; }
    bool isBackupRequested() const { return m_backupRequested; }
    u32 getLastTime() const { return m_lastTime; }
    u32 getInterval() const { return m_interval; }

private:
    std::string m_directory;
    std::string m_fileName;
    bool m_backupRequested = false;
    u32 m_lastTime = 0; // millisecond clock at the last backup or restore
    u32 m_interval = 0; // ms
};

} // namespace PYRITE

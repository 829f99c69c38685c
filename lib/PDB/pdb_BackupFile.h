// BackupFile: keeps the nonvolatile values of a list of parameter databases in one MBDF container of kind
// "Backup": the top block (kind "Backup", the name text, the version word, a new file id), one "#PDB DB" block
// per listed database in list order (kind text = the database name cut to 12 bytes, data = its whole "#CT1"
// table exported with the entry's header value), the end block.
//
// Writing is all or nothing: every database is exported first; when any of them fails, or the container write
// fails, the file on disk stays as it was (the container replaces it atomically) and the result is 0x80000080.
//
// Reading restores into the databases of the process-wide collection whose names are listed. Every block that
// would be imported is checked against its target database first, under the targets' write locks; a damaged
// block changes no database at all.
//
// The object has no lock of its own; the caller runs it on one thread.
#pragma once

#include <string>
#include <vector>

#include "klib_Types.h"
#include "pdb_Result.h"

namespace PDB {

class IParameterDB;

class BackupFile
{
public:
    static constexpr const char* KIND = "Backup";

    static constexpr i32 RESULT_READ_FAILED = PDB::RESULT_FAILED;
    static constexpr i32 RESULT_BAD_ARGUMENT = PDB::RESULT_BAD_ARGUMENT;
    static constexpr i32 RESULT_NOT_WRITTEN = PDB::RESULT_NOT_WRITTEN;
    static constexpr i32 RESULT_MALFORMED = PDB::RESULT_MALFORMED;
    static constexpr i32 RESULT_WRONG_FILE = PDB::RESULT_WRONG_FILE;

    // One listed database; headerValue goes unchanged into its "#CT1" header.
    struct Entry
    {
        IParameterDB* database = nullptr;
        u32 headerValue = 0;
    };

    // Registers the block factories needed to read a backup back (top, end and "#PDB DB").
    BackupFile();
    ~BackupFile();
    BackupFile(const BackupFile&) = delete;
    BackupFile& operator=(const BackupFile&) = delete;

    // Stores name, version, a copy of the list and the base directory (null counts as empty) and creates the
    // missing folders along that directory. 0x80000001, keeping the previous settings, for a null name, a null
    // database in the list, or two listed databases whose names agree in their first 12 bytes (their blocks
    // could not be told apart).
    i32 setup(const char* name, u32 version, const std::vector<Entry>& databases, const char* baseDirectory);

    // Writes base directory / fileName. 0; 0x80000001 null file name; 0x80000080 a database could not be
    // exported (each one logged) or the write failed; the old file is then untouched.
    [[nodiscard]] i32 exportToFile(const char* fileName);

    // Restores the nonvolatile values (filter 0x18, write flag 0xFF) of the listed databases present in the
    // process-wide collection from base directory / fileName. Blocks of names that are not listed, and listed
    // databases without a block, are passed over.
    //   0; 0x80000001 null file name; 0x80000000 the file cannot be read; 0x80020000 not a backup of this name;
    //   0x80010000 an invalid container, a damaged block (nothing changed) or a failed import.
    [[nodiscard]] i32 importFromFile(const char* fileName);

    const std::string& getName() const { return m_name; }
    u32 getVersion() const { return m_version; }
    const std::vector<Entry>& getDatabases() const { return m_databases; }
    const std::string& getBaseDirectory() const { return m_baseDirectory; }
    // base directory / fileName (fileName alone when the directory is empty).
    std::string makeFilePath(const char* fileName) const;

private:
    // True when a listed database has exactly this name.
    bool isListed(const char* name) const;

    std::string m_name;
    u32 m_version;
    std::vector<Entry> m_databases;
    std::string m_baseDirectory;
};

} // namespace PDB

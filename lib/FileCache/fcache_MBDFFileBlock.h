// "#FILE" block: one file or directory of a folder tree, its name XORed with a key byte, its bytes XORed with the
// key and, at a level of 1 to 10, compressed as one zlib-format stream.
//
// Info part (big-endian): name length n (2), reserved 0 (1), key (1), flags (4), name (n). Flags: 0x01 read-only,
// 0x02 hidden, 0x04 system (always set for a directory), 0x08 compressed, 0x80 directory (no data part).
#pragma once

#include <string>

#include "fcache_MBDFAbstractBlock.h"
#include "klib_Types.h"

namespace FILECACHE {

class MBDFFileBlock : public MBDFAbstractBlock
{
public:
    static constexpr const char* kTag = "#FILE";
    static constexpr u32 kTagLength = 12;
    static constexpr u32 kKindRoom = kMBDFTagFieldSize - kTagLength;
    static constexpr u32 kDefaultLevel = 6;

    static constexpr u32 kFlagReadOnly = 0x01;
    static constexpr u32 kFlagHidden = 0x02;
    static constexpr u32 kFlagSystem = 0x04;
    static constexpr u32 kFlagCompressed = 0x08;
    static constexpr u32 kFlagDirectory = 0x80;

    // Where exportFile sends the bytes of the target file.
    class IFileWriteStrategy
    {
    public:
        virtual ~IFileWriteStrategy() = default;
        virtual i32 write(const u8* bytes, u32 size, u32* written) = 0;
    };

    MBDFFileBlock();

    // Reset the source directory and level first.
    i32 readFromMemory(const u8* image, u32 size, u32* consumed) override;
    // A copy of another file block also takes over its source directory and level, so a copy of a block that
    // streams its file at write time streams it too.
    i32 copyFrom(const MBDFAbstractBlock& other, bool deep) override;
    // Refused with 0x80000000: the data part comes from importFile.
    i32 setData(const u8* bytes, u32 size) override;
    i32 clear() override;
    // Tag "#FILE" and an info part of exactly 8 bytes plus the name length.
    bool isValid() const override;
    u32 getTagLength() const override;
    // A file imported without loadNow is streamed from its source when written.
    i32 writeToFile(FileAccessor& file) override;
    bool isWritable() const override;

    // Imports dir/name. 0x80000001: null, empty or unsafe name (".", "..", "/", "\" or a character refused by
    // isValidFileName), a kind longer than 12 bytes, a level above 10. 0x80000004: missing source or a directory
    // flag that differs from isDirectory. 0x80000003: info + data above the reading limit (after compressing
    // with loadNow; from the file size at level 0 without). Without loadNow the file is read when written.
    virtual i32 importFile(const char* kind, bool isDirectory, const char* dir, const char* name, bool loadNow,
                           u32 level, u8 key);
    // Creates dir/name (name null: the stored name) through an atomic replacement. 0x80000002 not valid;
    // 0x80000006 data not loaded; 0x80000001 unsafe name; 0x80000005 a read-only existing target (left as it
    // is); 0x80000003 a cut or corrupt compressed part or a failed write (the old target stays).
    u32 exportFile(const char* dir, const char* name);
    // The same without the sync of the file and its folder, for a caller that writes many files and makes them
    // durable once at the end (fsync of each file, then of the folder). The file is still written to a temporary
    // beside the target and renamed over it, every write and the close are checked, unsafe names are refused,
    // and writeback of the data is started before the rename. A target that is a symbolic link is replaced
    // itself, never what it points to.
    u32 exportFileUnsynced(const char* dir, const char* name);
    // The stored name, decoded; empty when not valid.
    std::string getFileName() const;
    // A stored name as log and progress texts show it: control characters and bytes that are no UTF-8 written
    // as \xNN, the text cut between characters to at most kPrintableNameBytes bytes with "..." after it.
    static constexpr size_t kPrintableNameBytes = 255;
    static std::string printableName(const std::string& name);

    bool isDirectory() const;
    u32 getFlags() const;
    u8 getKey() const;
    u32 getLevel() const { return m_level; }
    const std::string& getSourceDirectory() const { return m_sourceDir; }
    // True for a file imported without loadNow (its bytes are read from the source at write time).
    bool isStreamed() const { return m_streamed; }

    // A stored name that can become a path component: not empty, ".", "..", no "/", "\", valid UTF-8 and a valid
    // file name.
    static bool isSafeName(const char* name);
    // Registers the "#FILE" factory once per process.
    static void registerFactory();

private:
    void resetSource();
    i32 loadFile(const std::string& path, u32 level, u8 key);
    i32 streamFile(FileAccessor& out, u64* count);
    i32 writeContent(IFileWriteStrategy& out) const;
    u32 exportTo(const char* dir, const char* name, bool sync);
    u32 writeUnsynced(const std::string& target);

    std::string m_sourceDir;
    u32 m_level;
    bool m_streamed;
};

} // namespace FILECACHE

// Ini files: sections of key/value lines, read and written as a file item of a virtual directory.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "fcache_VDir.h"
#include "klib_Types.h"

namespace FILECACHE {

// (section, key) -> value, ordered byte-wise by section, then key.
using IniEntries = std::map<std::pair<std::string, std::string>, std::string>;

// Line parser of the ini syntax. It keeps its state across feed() calls, so a line may span chunks.
class IniParser
{
public:
    explicit IniParser(IniEntries& entries);

    // Parses size bytes; final marks the last chunk of the file (the pending entry of an unterminated last line
    // is stored then). 0, or 0x80000000 on a syntax error (entries stored before the error stay).
    i32 feed(const char* data, size_t size, bool final);

    // The text could be written as a section, key or value and read back identically.
    static bool isWritableSection(const char* text);
    static bool isWritableKey(const char* text);
    static bool isWritableValue(const char* text);

private:
    enum class State { LineStart, Section, AfterSection, Key, Value, Comment };

    void endLine();
    bool step(char c);

    IniEntries& m_entries;
    State m_state;
    bool m_failed;
    bool m_sectionOpen; // a header's "[" was read, its "]" not yet
    std::string m_section;
    std::string m_key;
    std::string m_value;
};

class IniFile : public VDirTreeItem
{
public:
    IniFile();
    ~IniFile() override;

    using VDirTreeItem::open;
    // Creates the item on disk (kind 1 makes an empty file when there is none) and empties the entries.
    i32 open(const char* parentPath, u32 kind, const char* name);

    // Reads and parses the whole file, replacing the entries. 0, or 0x80000000 on any failure.
    virtual i32 load();
    // Writes the entries through an atomic replacement of the file; on failure the old file stays as it was.
    virtual i32 save(bool withByteOrderMark);

    // The stored value, or defaultText for a null or empty section or key or a missing entry. The text belongs
    // to the ini file and is valid until the entry changes or the file is loaded again.
    const char* getValue(const char* section, const char* key, const char* defaultText) const;
    // 0x80000000 (entries unchanged) for a null, empty or unwritable text; see IniParser::isWritable*.
    i32 setValue(const char* section, const char* key, const char* value);

    const IniEntries& entries() const { return m_entries; }

    // A modification report reloads the file.
    i32 onChanged() override;

    // Item factory for VDir::registerFactory.
    static VDirTreeItem* createItem();

private:
    IniEntries m_entries;
};

} // namespace FILECACHE

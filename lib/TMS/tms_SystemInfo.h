// System information: named state values that every thread reads from its own copy. A thread stages changes in
// a SystemInfoLocalData, commits them to the root thread's shared copy (applyChanges), and the copies travel down
// with copyFrom; every element changed by either carries a change mark until the reader clears it (isDirty).
//
// Every copy is guarded by the mutex it is bound to (the owner thread's "TMSThread" mutex). copyFrom holds the
// destination's mutex, then the source's. Item names are copied, so callers may pass texts that do not outlive
// the call.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "klib_Types.h"
#include "klib_Variant.h"

namespace TMS {

class TMSMutex;

// Item kinds.
constexpr u32 SYSTEM_INFO_SIGNED = 1;
constexpr u32 SYSTEM_INFO_UNSIGNED = 2;
constexpr u32 SYSTEM_INFO_TEXT = 3;

// One item as the application defines it. For kinds 1 and 2 the three texts are the minimum, maximum and default
// as signed (1) or unsigned (2) decimal numbers. For kind 3 the minimum is not used, the maximum is the maximum
// text length (unsigned decimal) and the default is the default text, cut to that length.
struct SystemInfoDefinition
{
    const char* m_name;
    u32 m_elementCount; // 1..0xFFFFFF
    u32 m_reserved;     // 0
    u32 m_kind;
    const char* m_minimum;
    const char* m_maximum;
    const char* m_default;
};

// The items of the application: one unsigned element each.
inline constexpr SystemInfoDefinition SYSTEM_INFO_DEFINITIONS[] = {
    {"ProductState", 1, 0, SYSTEM_INFO_UNSIGNED, "0", "4", "0"},
    {"RunMode", 1, 0, SYSTEM_INFO_UNSIGNED, "0", "3", "0"},
    {"DebugState", 1, 0, SYSTEM_INFO_UNSIGNED, "0", "1", "0"},
    {"PanelState/IsProper", 1, 0, SYSTEM_INFO_UNSIGNED, "0", "1", "0"},
    {"PDBState", 1, 0, SYSTEM_INFO_UNSIGNED, "0", "2", "0"},
    {"ZOVORaState", 1, 0, SYSTEM_INFO_UNSIGNED, "0", "5", "0"},
    {"ZOVUDoState", 1, 0, SYSTEM_INFO_UNSIGNED, "0", "5", "0"},
    {"HUIState", 1, 0, SYSTEM_INFO_UNSIGNED, "0", "1", "0"},
    {"GUIState", 1, 0, SYSTEM_INFO_UNSIGNED, "0", "1", "0"},
    {"EditorState", 1, 0, SYSTEM_INFO_UNSIGNED, "0", "6", "0"},
    {"VDPState", 1, 0, SYSTEM_INFO_UNSIGNED, "0", "1", "0"},
    {"CurrentFs", 1, 0, SYSTEM_INFO_UNSIGNED, "0", "96000", "96000"},
    {"UpdateState/PNFDC", 1, 0, SYSTEM_INFO_UNSIGNED, "0", "2", "0"},
};
inline constexpr u32 SYSTEM_INFO_DEFINITION_COUNT =
    sizeof(SYSTEM_INFO_DEFINITIONS) / sizeof(SYSTEM_INFO_DEFINITIONS[0]);

// The staged changes of one thread, in the order they were made. Not synchronised: it belongs to its thread.
class SystemInfoLocalData
{
public:
    struct Entry
    {
        std::string m_name;
        u32 m_index;
        KVariant m_value;

        const char* getName() const { return m_name.c_str(); }
    };

    SystemInfoLocalData() = default;
    virtual ~SystemInfoLocalData() = default;

    // Stages value for element index of name; an entry of the same name and index takes the new value.
    // 0; 0x80000002 for a null name; 0x80000005 when no memory is left.
    u32 add(const char* name, u32 index, const KVariant& value);
    void clear() { m_entries.clear(); }
    u32 count() const { return static_cast<u32>(m_entries.size()); }
    // Entry i, null beyond the end.
    const Entry* at(u32 i) const { return i < m_entries.size() ? &m_entries[i] : nullptr; }

private:
    std::vector<Entry> m_entries;
};

class SystemInfo
{
public:
    SystemInfo();
    // Frees the items without taking the mutex (it may be gone already when the owner is torn down).
    virtual ~SystemInfo();

    SystemInfo(const SystemInfo&) = delete;
    SystemInfo& operator=(const SystemInfo&) = delete;

    // Binds the copy to its mutex and empties it.
    void bind(TMSMutex* mutex);

    // Adds the defined items that do not exist yet, every element at its default and unmarked; existing items
    // stay as they are. 0x80000002 for null definitions, count 0 or a definition that cannot be read (the setup
    // stops there); 0x80000004 without a usable mutex or memory (the copy is then emptied).
    u32 setup(const SystemInfoDefinition* definitions, u32 count);

    // out = element index of name: 0. out is emptied first; not initialised: 0x80000000; null name: 0x80000002;
    // unknown name or index: 0x80000009; no usable mutex: 0x80000004.
    u32 getValue(KVariant& out, const char* name, u32 index);

    // The change mark of element index of name, cleared when clear is set. True for an unknown name or index;
    // false when not initialised, for a null name or without a usable mutex.
    bool isDirty(const char* name, u32 index, bool clear);

    // Takes over every item of from: elements that differ are assigned and marked; missing items are added with
    // every element marked. An item whose definition differs here is left alone and the result is 0x80000002.
    // from is this copy: 0x80000002; from not initialised: 0x80000003; no usable mutex: 0x80000004.
    u32 copyFrom(const SystemInfo& from);

    // Applies staged changes: an element that differs takes the value and is marked. Entries with an unknown name
    // or index are skipped and make the result 0x80000002. No usable mutex: 0x80000004.
    u32 applyChanges(const SystemInfoLocalData& staged);

    // Writes the items (only those with a marked element when changedOnly) into the calling thread's log,
    // "    [name] =" followed by the elements, each with "*" when marked, wrapped to 128-character lines.
    void dump(bool changedOnly);

    // Removes every item; the copy is no longer initialised.
    void clear();

    bool isInitialized() const { return m_initialized.load(std::memory_order_acquire); }
    u32 getItemCount();
    TMSMutex* getMutex() const { return m_mutex; }

private:
    struct Item;
    using ItemMap = std::map<std::string, std::unique_ptr<Item>, std::less<>>;

    bool mutexUsable() const;
    Item* findItem(const char* name) const;

    TMSMutex* m_mutex = nullptr;
    std::atomic<bool> m_initialized{false};
    ItemMap m_items;
};

} // namespace TMS

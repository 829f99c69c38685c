#include "tms_SystemInfo.h"

#include <cstring>
#include <new>
#include <string_view>

#include "klib_HeapManager.h"
#include "klib_Print.h"
#include "tms_Mutex.h"
#include "tms_Result.h"
#include "tms_ThreadLogger.h"

namespace TMS {

namespace {

constexpr u32 MAX_ELEMENTS = 0xFFFFFF;
constexpr const char* VALUES_TAG = "SystemInfoItem";
constexpr const char* MARKS_TAG = "SystemInfoDirty";

constexpr u32 DUMP_LINE_SIZE = 128;
constexpr u32 DUMP_MIN_ROOM = 40;

// Same kind and same contents (used for the definition part of an item).
bool identical(const KVariant& a, const KVariant& b)
{
    if (a.getKind() != b.getKind()) {
        return false;
    }
    return a.getKind() == KVariant::KIND_EMPTY || a.isEqual(b);
}

// Whether an element must be taken over: values that compare equal are left alone.
bool sameValue(const KVariant& current, const KVariant& incoming)
{
    if (current.getKind() == KVariant::KIND_EMPTY && incoming.getKind() == KVariant::KIND_EMPTY) {
        return true;
    }
    return current.isEqual(incoming);
}

bool readSigned(const char* text, i32* value)
{
    if (text == nullptr) {
        return false;
    }
    u32 length = static_cast<u32>(std::strlen(text));
    char* end = nullptr;
    return length > 0 && klib_strtol(value, text, &end, 10, length) == 0 && end == text + length;
}

bool readUnsigned(const char* text, u32* value)
{
    if (text == nullptr) {
        return false;
    }
    u32 length = static_cast<u32>(std::strlen(text));
    char* end = nullptr;
    return length > 0 && text[0] != '-' && klib_strtoul(value, text, &end, 10, length) == 0 && end == text + length;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// Items
// ---------------------------------------------------------------------------------------------------------------

struct SystemInfo::Item
{
    std::string m_name;
    u32 m_count = 0;
    u32 m_reserved = 0;
    u32 m_kind = 0;
    KVariant m_minimum;
    KVariant m_maximum;
    KVariant m_default;
    KVariant* m_values = nullptr; // m_count values in a headed block of heap 0
    u8* m_marks = nullptr;        // m_count change marks in a headed block of heap 0

    Item() = default;
    Item(const Item&) = delete;
    Item& operator=(const Item&) = delete;

    ~Item()
    {
        if (m_values != nullptr) {
            for (u32 i = 0; i < m_count; ++i) {
                m_values[i].~KVariant();
            }
            KLIB::releaseBlock(m_values);
        }
        if (m_marks != nullptr) {
            KLIB::releaseBlock(m_marks);
        }
    }

    // Allocates the elements: copies of source (count values) or of the default when source is null; every mark
    // set to mark. False without memory.
    bool allocateElements(const KVariant* source, u8 mark)
    {
        void* values =
            KLIB::allocateBlockWithCount(0, VALUES_TAG, m_count * static_cast<u32>(sizeof(KVariant)), m_count);
        if (values == nullptr) {
            return false;
        }
        void* marks = KLIB::allocateBlockWithCount(0, MARKS_TAG, m_count, m_count);
        if (marks == nullptr) {
            KLIB::releaseBlock(values);
            return false;
        }
        m_values = static_cast<KVariant*>(values);
        for (u32 i = 0; i < m_count; ++i) {
            new (&m_values[i]) KVariant(source != nullptr ? source[i] : m_default);
        }
        m_marks = static_cast<u8*>(marks);
        std::memset(m_marks, mark, m_count);
        return true;
    }

    bool sameDefinition(const Item& other) const
    {
        return m_name == other.m_name && m_count == other.m_count && m_reserved == other.m_reserved &&
               m_kind == other.m_kind && identical(m_minimum, other.m_minimum) &&
               identical(m_maximum, other.m_maximum) && identical(m_default, other.m_default);
    }

    bool hasMark() const
    {
        for (u32 i = 0; i < m_count; ++i) {
            if (m_marks[i] != 0) {
                return true;
            }
        }
        return false;
    }
};

namespace {

// Reads a definition into an item without elements. False when it cannot be read.
bool parseDefinition(const SystemInfoDefinition& definition, std::string& name, u32& count, u32& reserved, u32& kind,
                     KVariant& minimum, KVariant& maximum, KVariant& defaultValue)
{
    if (definition.m_name == nullptr || definition.m_elementCount == 0 || definition.m_elementCount > MAX_ELEMENTS) {
        return false;
    }
    switch (definition.m_kind) {
    case SYSTEM_INFO_SIGNED: {
        i32 low = 0;
        i32 high = 0;
        i32 initial = 0;
        if (!readSigned(definition.m_minimum, &low) || !readSigned(definition.m_maximum, &high) ||
            !readSigned(definition.m_default, &initial)) {
            return false;
        }
        minimum.setInt(low);
        maximum.setInt(high);
        defaultValue.setInt(initial);
        break;
    }
    case SYSTEM_INFO_UNSIGNED: {
        u32 low = 0;
        u32 high = 0;
        u32 initial = 0;
        if (!readUnsigned(definition.m_minimum, &low) || !readUnsigned(definition.m_maximum, &high) ||
            !readUnsigned(definition.m_default, &initial)) {
            return false;
        }
        minimum.setUInt(low);
        maximum.setUInt(high);
        defaultValue.setUInt(initial);
        break;
    }
    case SYSTEM_INFO_TEXT: {
        u32 maxLength = 0;
        if (!readUnsigned(definition.m_maximum, &maxLength)) {
            return false;
        }
        minimum.setInt(0);
        maximum.setUInt(maxLength);
        if (defaultValue.setString(definition.m_default, maxLength) != KVariant::RESULT_SET_OK) {
            return false;
        }
        break;
    }
    default:
        return false;
    }
    try {
        name = definition.m_name;
    } catch (const std::bad_alloc&) {
        return false;
    }
    count = definition.m_elementCount;
    reserved = definition.m_reserved;
    kind = definition.m_kind;
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// SystemInfoLocalData
// ---------------------------------------------------------------------------------------------------------------

u32 SystemInfoLocalData::add(const char* name, u32 index, const KVariant& value)
{
    if (name == nullptr) {
        return RESULT_ARGUMENT;
    }
    for (Entry& entry : m_entries) {
        if (entry.m_index == index && entry.m_name == name) {
            entry.m_value = value;
            return 0;
        }
    }
    try {
        m_entries.push_back(Entry{name, index, value});
    } catch (const std::bad_alloc&) {
        return RESULT_NO_MEMORY;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// SystemInfo
// ---------------------------------------------------------------------------------------------------------------

SystemInfo::SystemInfo() = default;

SystemInfo::~SystemInfo()
{
    m_items.clear();
}

bool SystemInfo::mutexUsable() const
{
    return m_mutex != nullptr && m_mutex->isValid();
}

SystemInfo::Item* SystemInfo::findItem(const char* name) const
{
    auto it = m_items.find(std::string_view(name));
    return it != m_items.end() ? it->second.get() : nullptr;
}

void SystemInfo::bind(TMSMutex* mutex)
{
    m_mutex = mutex;
    clear();
}

void SystemInfo::clear()
{
    if (mutexUsable()) {
        TMSMutexLocker locker(m_mutex);
        m_items.clear();
        m_initialized.store(false, std::memory_order_release);
    } else {
        m_items.clear();
        m_initialized.store(false, std::memory_order_release);
    }
}

u32 SystemInfo::getItemCount()
{
    TMSMutexLocker locker(mutexUsable() ? m_mutex : nullptr);
    return static_cast<u32>(m_items.size());
}

u32 SystemInfo::setup(const SystemInfoDefinition* definitions, u32 count)
{
    if (definitions == nullptr || count == 0) {
        return RESULT_ARGUMENT;
    }
    if (!mutexUsable()) {
        return RESULT_NO_MUTEX;
    }
    TMSMutexLocker locker(m_mutex);
    for (u32 d = 0; d < count; ++d) {
        auto item = std::unique_ptr<Item>(new (std::nothrow) Item());
        if (item == nullptr) {
            m_items.clear();
            m_initialized.store(false, std::memory_order_release);
            return RESULT_NO_ROOM;
        }
        if (!parseDefinition(definitions[d], item->m_name, item->m_count, item->m_reserved, item->m_kind,
                             item->m_minimum, item->m_maximum, item->m_default)) {
            return RESULT_ARGUMENT;
        }
        if (findItem(item->m_name.c_str()) != nullptr) {
            continue;
        }
        bool stored = item->allocateElements(nullptr, 0);
        if (stored) {
            try {
                std::string key = item->m_name;
                m_items.emplace(std::move(key), std::move(item));
            } catch (const std::bad_alloc&) {
                stored = false;
            }
        }
        if (!stored) {
            m_items.clear();
            m_initialized.store(false, std::memory_order_release);
            return RESULT_NO_ROOM;
        }
    }
    m_initialized.store(true, std::memory_order_release);
    return 0;
}

u32 SystemInfo::getValue(KVariant& out, const char* name, u32 index)
{
    out.clear();
    if (!mutexUsable()) {
        return RESULT_NO_MUTEX;
    }
    TMSMutexLocker locker(m_mutex);
    if (!isInitialized()) {
        return RESULT_FAILED;
    }
    if (name == nullptr) {
        return RESULT_ARGUMENT;
    }
    const Item* item = findItem(name);
    if (item == nullptr || index >= item->m_count) {
        return RESULT_UNKNOWN;
    }
    out = item->m_values[index];
    return 0;
}

bool SystemInfo::isDirty(const char* name, u32 index, bool clear)
{
    if (name == nullptr || !mutexUsable()) {
        return false;
    }
    TMSMutexLocker locker(m_mutex);
    if (!isInitialized()) {
        return false;
    }
    Item* item = findItem(name);
    if (item == nullptr || index >= item->m_count) {
        return true;
    }
    bool marked = item->m_marks[index] != 0;
    if (clear) {
        item->m_marks[index] = 0;
    }
    return marked;
}

u32 SystemInfo::copyFrom(const SystemInfo& from)
{
    if (&from == this) {
        return RESULT_ARGUMENT;
    }
    if (!from.isInitialized()) {
        return RESULT_NOT_READY;
    }
    if (!mutexUsable() || !from.mutexUsable()) {
        return RESULT_NO_MUTEX;
    }
    TMSMutexLocker own(m_mutex);
    TMSMutexLocker source(from.m_mutex);
    bool wasInitialized = isInitialized();
    u32 result = 0;
    for (const auto& [name, theirs] : from.m_items) {
        Item* mine = findItem(name.c_str());
        if (mine != nullptr) {
            if (!mine->sameDefinition(*theirs)) {
                result = RESULT_ARGUMENT;
                continue;
            }
            for (u32 i = 0; i < mine->m_count; ++i) {
                if (!sameValue(mine->m_values[i], theirs->m_values[i])) {
                    mine->m_values[i] = theirs->m_values[i];
                    mine->m_marks[i] = 1;
                }
            }
            continue;
        }
        auto item = std::unique_ptr<Item>(new (std::nothrow) Item());
        bool stored = false;
        if (item != nullptr) {
            try {
                item->m_name = theirs->m_name;
                item->m_count = theirs->m_count;
                item->m_reserved = theirs->m_reserved;
                item->m_kind = theirs->m_kind;
                item->m_minimum = theirs->m_minimum;
                item->m_maximum = theirs->m_maximum;
                item->m_default = theirs->m_default;
                if (item->allocateElements(theirs->m_values, 1)) {
                    m_items.emplace(name, std::move(item));
                    stored = true;
                }
            } catch (const std::bad_alloc&) {
                stored = false;
            }
        }
        if (!stored) {
            result = RESULT_NO_ROOM;
        }
    }
    // A skipped item does not make the whole copy unreadable: a copy that was readable stays readable.
    m_initialized.store(wasInitialized || result == 0, std::memory_order_release);
    return result;
}

u32 SystemInfo::applyChanges(const SystemInfoLocalData& staged)
{
    if (!mutexUsable()) {
        return RESULT_NO_MUTEX;
    }
    TMSMutexLocker locker(m_mutex);
    u32 result = 0;
    for (u32 i = 0; i < staged.count(); ++i) {
        const SystemInfoLocalData::Entry* entry = staged.at(i);
        Item* item = findItem(entry->getName());
        if (item == nullptr || entry->m_index >= item->m_count) {
            result = RESULT_ARGUMENT;
            continue;
        }
        KVariant& value = item->m_values[entry->m_index];
        if (!sameValue(value, entry->m_value)) {
            value = entry->m_value;
            item->m_marks[entry->m_index] = 1;
        }
    }
    return result;
}

void SystemInfo::dump(bool changedOnly)
{
    ThreadLogger* logger = getCurrentThreadLogger();
    if (logger == nullptr || !mutexUsable()) {
        return;
    }
    // The lines are built under the copy's mutex and written after it is released, so the logger's own mutex is
    // never taken while this one is held.
    std::vector<std::string> lines;
    try {
        TMSMutexLocker locker(m_mutex);
        for (const auto& [name, item] : m_items) {
            if (changedOnly && !item->hasMark()) {
                continue;
            }
            char line[DUMP_LINE_SIZE];
            u32 length = 0;
            klib_snprintf(line, sizeof(line), &length, "    [%s] =", name.c_str());
            u32 indent = length < DUMP_LINE_SIZE - DUMP_MIN_ROOM ? length : DUMP_LINE_SIZE - DUMP_MIN_ROOM;
            for (u32 i = 0; i < item->m_count; ++i) {
                if (DUMP_LINE_SIZE - length < DUMP_MIN_ROOM) {
                    lines.emplace_back(line, length);
                    lines.back() += '\n';
                    std::memset(line, ' ', indent);
                    line[indent] = '\0';
                    length = indent;
                }
                const KVariant& value = item->m_values[i];
                const char* mark = item->m_marks[i] != 0 ? "*" : "";
                u32 added = 0;
                if (item->m_kind == SYSTEM_INFO_SIGNED) {
                    klib_snprintf(line + length, DUMP_LINE_SIZE - length, &added, " %d%s", value.getInt(), mark);
                } else if (item->m_kind == SYSTEM_INFO_UNSIGNED) {
                    klib_snprintf(line + length, DUMP_LINE_SIZE - length, &added, " %u%s", value.getUInt(), mark);
                } else {
                    const char* text = value.getString();
                    klib_snprintf(line + length, DUMP_LINE_SIZE - length, &added, " \"%s\"%s",
                                  text != nullptr ? text : "", mark);
                }
                length += added;
            }
            lines.emplace_back(line, length);
            lines.back() += '\n';
        }
    } catch (const std::bad_alloc&) {
        // Write what was gathered.
    }
    for (const std::string& text : lines) {
        logger->printf("%s", text.c_str());
    }
}

} // namespace TMS

// Byte helpers and FileAccessor over the file API.
#include "fcache_BinaryAccessor.h"

#include <cstring>
#include <initializer_list>

namespace FILECACHE {

namespace BinaryAccessor {

u32 readUInt(const void* bytes, u32 width, bool bigEndian)
{
    if (bytes == nullptr) {
        return 0;
    }
    const u8* b = static_cast<const u8*>(bytes);
    switch (width) {
    case 1:
        return b[0];
    case 2:
        return bigEndian ? (static_cast<u32>(b[0]) << 8) | b[1] : (static_cast<u32>(b[1]) << 8) | b[0];
    case 4:
        if (bigEndian) {
            return (static_cast<u32>(b[0]) << 24) | (static_cast<u32>(b[1]) << 16) | (static_cast<u32>(b[2]) << 8) |
                   b[3];
        }
        return (static_cast<u32>(b[3]) << 24) | (static_cast<u32>(b[2]) << 16) | (static_cast<u32>(b[1]) << 8) | b[0];
    default:
        return 0;
    }
}

i32 writeUInt(void* destination, u32 width, u32 value, bool bigEndian)
{
    if (destination == nullptr) {
        return kFailed;
    }
    if (width != 1 && width != 2 && width != 4) {
        return 0;
    }
    u8* d = static_cast<u8*>(destination);
    for (u32 i = 0; i < width; ++i) {
        const u32 shift = 8 * (bigEndian ? width - 1 - i : i);
        d[i] = static_cast<u8>(value >> shift);
    }
    return 0;
}

i32 copyText(void* destination, u32 fieldSize, const char* text)
{
    if (destination == nullptr || fieldSize == 0) {
        return kFailed;
    }
    u8* d = static_cast<u8*>(destination);
    u32 i = 0;
    if (text != nullptr) {
        for (; i < fieldSize && text[i] != 0; ++i) {
            d[i] = static_cast<u8>(text[i]);
        }
    }
    std::memset(d + i, 0, fieldSize - i);
    return 0;
}

i32 copyBytes(void* destination, u32 fieldSize, const void* source, u32 length)
{
    if (destination == nullptr || source == nullptr || fieldSize == 0 || length == 0 || length > fieldSize) {
        return kFailed;
    }
    u8* d = static_cast<u8*>(destination);
    std::memmove(d, source, length);
    std::memset(d + length, 0, fieldSize - length);
    return 0;
}

i32 copyBounded(void* destination, u32 size, const void* source, u32 length)
{
    if (destination == nullptr || source == nullptr || size == 0 || length == 0) {
        return kFailed;
    }
    const u32 count = length < size - 1 ? length : size - 1;
    u8* d = static_cast<u8*>(destination);
    std::memmove(d, source, count);
    d[count] = 0;
    return 0;
}

i32 fillBytes(void* destination, u32 size, u8 value)
{
    if (destination == nullptr || size == 0) {
        return kFailed;
    }
    std::memset(destination, value, size);
    return 0;
}

i32 xorBytes(void* bytes, u32 size, u8 key)
{
    if (bytes == nullptr || size == 0) {
        return kFailed;
    }
    if (key != 0) {
        u8* b = static_cast<u8*>(bytes);
        for (u32 i = 0; i < size; ++i) {
            b[i] ^= key;
        }
    }
    return 0;
}

u32 align4(u32 n)
{
    return (n + 3u) & ~3u;
}

u32 padding4(u32 n)
{
    return align4(n) - n;
}

u64 align4U64(u64 n)
{
    return (n + 3u) & ~static_cast<u64>(3);
}

u64 padding4U64(u64 n)
{
    return align4U64(n) - n;
}

} // namespace BinaryAccessor

namespace {

constexpr i32 kNotOpen = static_cast<i32>(FSW_E_INVALID_HANDLE);
constexpr i32 kBadArgument = static_cast<i32>(FSW_E_BAD_ARGUMENT);

i32 toResult(u32 code)
{
    return static_cast<i32>(code);
}

} // namespace

FileAccessor::FileAccessor() : m_handle(FSW_INVALID_HANDLE), m_pReplace(nullptr) {}

FileAccessor::~FileAccessor()
{
    if (m_pReplace != nullptr) {
        abortReplace();
    } else if (m_handle != FSW_INVALID_HANDLE) {
        close();
    }
}

bool FileAccessor::isOpen() const
{
    return m_handle != FSW_INVALID_HANDLE;
}

bool FileAccessor::isReplacing() const
{
    return m_pReplace != nullptr;
}

i32 FileAccessor::open(const char* path, u32 mode)
{
    if (isOpen()) {
        return kNotOpen;
    }
    static constexpr u32 kFswModes[] = {
        FSW_MODE_READ | FSW_MODE_WRITE | FSW_MODE_CREATE_ALWAYS,
        FSW_MODE_READ | FSW_MODE_WRITE | FSW_MODE_OPEN_ALWAYS,
        FSW_MODE_READ | FSW_MODE_WRITE | FSW_MODE_OPEN_EXISTING,
        FSW_MODE_READ | FSW_MODE_OPEN_EXISTING,
    };
    if (path == nullptr || mode > kModeRead) {
        return kBadArgument;
    }
    FswHandle handle = FSW_INVALID_HANDLE;
    const u32 result = fsw_open(&handle, path, kFswModes[mode]);
    if (result == FSW_OK) {
        m_handle = handle;
    }
    return toResult(result);
}

i32 FileAccessor::close()
{
    if (!isOpen()) {
        return kNotOpen;
    }
    if (m_pReplace != nullptr) {
        return abortReplace();
    }
    // POSIX releases the descriptor even when close reports an error, so the handle is never kept.
    const u32 result = fsw_close(&m_handle);
    m_handle = FSW_INVALID_HANDLE;
    if ((result & 0xFFFFu) == 0xFFFFu) {
        return 0;
    }
    return toResult(result);
}

i32 FileAccessor::read(void* buffer, u32 size, u32* got)
{
    u32 local = 0;
    if (got == nullptr) {
        got = &local;
    }
    if (!isOpen()) {
        *got = 0;
        return kNotOpen;
    }
    return toResult(fsw_read(buffer, got, size, &m_handle));
}

i32 FileAccessor::write(const void* buffer, u32 size, u32* put)
{
    u32 local = 0;
    if (put == nullptr) {
        put = &local;
    }
    if (!isOpen()) {
        *put = 0;
        return kNotOpen;
    }
    return toResult(fsw_write(buffer, put, size, &m_handle));
}

i32 FileAccessor::seek(u32 origin, u32 offset)
{
    if (!isOpen()) {
        return kNotOpen;
    }
    // The target is computed in 64 bits, so a large unsigned offset cannot turn into a backward move.
    u64 base = 0;
    if (origin == 1) {
        u32 current = 0;
        const u32 result = fsw_tell(&current, &m_handle);
        if (result != FSW_OK) {
            return toResult(result);
        }
        base = current;
    } else if (origin == 2) {
        const u32 result = fsw_getOpenSize(&base, &m_handle);
        if (result != FSW_OK) {
            return toResult(result);
        }
    } else if (origin != 0) {
        return kBadArgument;
    }
    const u64 target = base + offset;
    if (target > 0xFFFFFFFFu) {
        return toResult(FSW_E_BEYOND_32_BITS);
    }
    return toResult(fsw_seekAbsolute(static_cast<u32>(target), &m_handle));
}

u32 FileAccessor::tell()
{
    if (!isOpen()) {
        return 0;
    }
    u32 position = 0;
    const u32 result = fsw_tell(&position, &m_handle);
    if (result == FSW_E_BEYOND_32_BITS) {
        return 0xFFFFFFFFu;
    }
    return result == FSW_OK ? position : 0;
}

i32 FileAccessor::flush()
{
    if (!isOpen()) {
        return kNotOpen;
    }
    fsw_flushHooks(&m_handle);
    return toResult(fsw_flush(&m_handle));
}

i32 FileAccessor::getSize(u64* size)
{
    if (size != nullptr) {
        *size = 0;
    }
    if (!isOpen()) {
        return kNotOpen;
    }
    return toResult(fsw_getOpenSize(size, &m_handle));
}

i32 FileAccessor::beginReplace(const char* path)
{
    if (isOpen()) {
        return kNotOpen;
    }
    if (path == nullptr) {
        return kBadArgument;
    }
    FswReplace* replace = nullptr;
    const u32 result = fsw_replaceBegin(&replace, path);
    if (result != FSW_OK) {
        return toResult(result);
    }
    m_pReplace = replace;
    m_handle = *fsw_replaceHandle(replace); // a copy; the replacement object closes it
    return 0;
}

i32 FileAccessor::commitReplace()
{
    if (m_pReplace == nullptr) {
        return kNotOpen;
    }
    FswReplace* replace = m_pReplace;
    m_pReplace = nullptr;
    m_handle = FSW_INVALID_HANDLE;
    return toResult(fsw_replaceCommit(replace));
}

i32 FileAccessor::abortReplace()
{
    if (m_pReplace == nullptr) {
        return kNotOpen;
    }
    FswReplace* replace = m_pReplace;
    m_pReplace = nullptr;
    m_handle = FSW_INVALID_HANDLE;
    return toResult(fsw_replaceAbort(replace));
}

// ---------------------------------------------------------------------------------------------------------------
// Static path helpers
// ---------------------------------------------------------------------------------------------------------------
bool FileAccessor::exists(const char* path)
{
    if (path == nullptr) {
        return false;
    }
    u32 attributes = 0;
    return fsw_getAttributes(&attributes, path) == FSW_OK;
}

i32 FileAccessor::getAttributes(const char* path, bool* readOnly, bool* hidden, bool* system, bool* isDirectory)
{
    for (bool* out : {readOnly, hidden, system, isDirectory}) {
        if (out != nullptr) {
            *out = false;
        }
    }
    if (path == nullptr) {
        return kBadArgument;
    }
    u32 attributes = 0;
    const u32 result = fsw_getAttributes(&attributes, path);
    if (result != FSW_OK) {
        return toResult(result);
    }
    if (readOnly != nullptr) {
        *readOnly = (attributes & FSW_ATTR_READONLY) != 0;
    }
    if (hidden != nullptr) {
        *hidden = (attributes & FSW_ATTR_HIDDEN) != 0;
    }
    if (isDirectory != nullptr) {
        *isDirectory = (attributes & FSW_ATTR_DIRECTORY) != 0;
    }
    return 0;
}

i32 FileAccessor::setAttributes(const char* path, bool readOnly, bool hidden, bool /*system*/)
{
    if (path == nullptr) {
        return kBadArgument;
    }
    u32 attributes = (readOnly ? FSW_ATTR_READONLY : 0) | (hidden ? FSW_ATTR_HIDDEN : 0);
    if (attributes == 0) {
        attributes = FSW_ATTR_NORMAL;
    }
    return toResult(fsw_setAttributes(attributes, path));
}

u32 FileAccessor::getFileSize(const char* path)
{
    u32 size = 0;
    if (path == nullptr || fsw_getSize(&size, path) != FSW_OK) {
        return 0;
    }
    return size;
}

i32 FileAccessor::getFileTime(const char* path, u32 which, FileTime* out, bool localTime)
{
    if (path == nullptr || out == nullptr || which > 2) {
        return kBadArgument;
    }
    FswTime times[3] = {};
    u32 result = fsw_getTime(&times[0], &times[1], &times[2], path);
    if (result != FSW_OK) {
        return toResult(result);
    }
    FswTime t = times[which];
    if (localTime) {
        result = fsw_toLocalTime(&t, &t);
        if (result != FSW_OK) {
            return toResult(result);
        }
    }
    if (t.year < 2000 || t.year > 3000) {
        t.year = 2000;
    }
    if (t.month < 1 || t.month > 12) {
        t.month = 1;
    }
    if (t.day < 1 || t.day > 31) {
        t.day = 1;
    }
    if (t.hour > 23) {
        t.hour = 0;
    }
    if (t.minute > 59) {
        t.minute = 0;
    }
    if (t.second > 61) {
        t.second = 0;
    }
    *out = t;
    return 0;
}

i32 FileAccessor::remove(const char* path, bool recursive)
{
    if (path == nullptr) {
        return kBadArgument;
    }
    u32 attributes = 0;
    bool isLink = false;
    if (fsw_getLinkAttributes(&attributes, &isLink, path) == FSW_OK && !isLink &&
        (attributes & FSW_ATTR_DIRECTORY) != 0) {
        return toResult(fsw_removeDir(path, recursive));
    }
    return toResult(fsw_remove(path));
}

i32 FileAccessor::copy(const char* from, const char* to)
{
    if (from == nullptr || to == nullptr) {
        return kBadArgument;
    }
    return toResult(fsw_copy(from, to));
}

i32 FileAccessor::move(const char* from, const char* to)
{
    if (from == nullptr || to == nullptr) {
        return kBadArgument;
    }
    return toResult(fsw_move(from, to));
}

i32 FileAccessor::makeDir(const char* path)
{
    if (path == nullptr) {
        return kBadArgument;
    }
    return toResult(fsw_makeDir(path));
}

bool FileAccessor::isValidFileName(const char* name)
{
    if (name == nullptr || name[0] == 0) {
        return false;
    }
    for (const char* p = name; *p != 0; ++p) {
        const u8 c = static_cast<u8>(*p);
        if (c < 0x20 || std::strchr("\"*:<>?|", c) != nullptr) {
            return false;
        }
    }
    return true;
}

} // namespace FILECACHE

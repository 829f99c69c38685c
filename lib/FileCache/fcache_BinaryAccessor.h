// Byte helpers for building binary records, and FileAccessor, the one file object of the storage code.
#pragma once

#include "fcache_Result.h"
#include "fsw_api.h"
#include "klib_Types.h"

namespace FILECACHE {

// ---------------------------------------------------------------------------------------------------------------
// Byte helpers. "Fails" means the result 0x80000000; success is 0.
// ---------------------------------------------------------------------------------------------------------------
namespace BinaryAccessor {

constexpr i32 kFailed = RESULT_FAILED;

// Width 1: the byte; width 2 or 4: the value in the given order. Null bytes or another width give 0.
u32 readUInt(const void* bytes, u32 width, bool bigEndian);

// Writes the low 1, 2 or 4 bytes of value in the given order. Null destination fails; another width writes
// nothing and returns 0.
i32 writeUInt(void* destination, u32 width, u32 value, bool bigEndian);

// Copies the text up to its NUL or until the field is full and zero-fills the rest. A text as long as the field
// fills it without terminator (cut without notice); a null text zero-fills the field. Null destination or field
// size 0 fails.
i32 copyText(void* destination, u32 fieldSize, const char* text);

// Copies length bytes and zero-fills the rest of the field. Fails for a null pointer, a size or length of 0, or
// a length beyond the field.
i32 copyBytes(void* destination, u32 fieldSize, const void* source, u32 length);

// Copies at most size - 1 bytes (and at most length) and always writes a terminating NUL. Fails for a null
// pointer or a size or length of 0.
i32 copyBounded(void* destination, u32 size, const void* source, u32 length);

// Sets size bytes to value. Fails for null or size 0.
i32 fillBytes(void* destination, u32 size, u8 value);

// XORs every byte with key in place (applying it twice restores the bytes). Fails for null or size 0.
i32 xorBytes(void* bytes, u32 size, u8 key);

// n rounded up to a multiple of 4 (wraps to 0 within 3 of 2^32; use align4U64 for sizes read from files).
u32 align4(u32 n);
// align4(n) - n.
u32 padding4(u32 n);

// The same in 64 bits, for size arithmetic that must not wrap.
u64 align4U64(u64 n);
u64 padding4U64(u64 n);

} // namespace BinaryAccessor

// Calendar record filled by FileAccessor::getFileTime.
using FileTime = FswTime;

// ---------------------------------------------------------------------------------------------------------------
// FileAccessor: holds one open file of the file API, or none. Results are i32 codes (0 success, < 0 failure);
// every member operation on an accessor that is not open gives 0x80000003 (tell gives 0).
// ---------------------------------------------------------------------------------------------------------------
class FileAccessor
{
public:
    // Open modes.
    static constexpr u32 kModeCreate = 0;     // read-write, created or cut to length 0
    static constexpr u32 kModeOpenAlways = 1; // read-write, opened or created
    static constexpr u32 kModeExisting = 2;   // read-write, must exist
    static constexpr u32 kModeRead = 3;       // read-only, must exist

    FileAccessor();
    // Closes an open file; a replacement still in progress is abandoned (the target stays as it was).
    virtual ~FileAccessor();

    FileAccessor(const FileAccessor&) = delete;
    FileAccessor& operator=(const FileAccessor&) = delete;

    // 0x80000003 when already open; null path or unknown mode 0x8000F000; else the file API's result.
    [[nodiscard]] i32 open(const char* path, u32 mode);

    // Closes and forgets the handle, also when the close fails (whose code is returned; an unknown error, low 16
    // bits 0xFFFF, counts as closed and gives 0). Closing an accessor that is replacing a file abandons the
    // replacement and returns 0.
    i32 close();

    // The file API's read and write; got / put may be null.
    [[nodiscard]] i32 read(void* buffer, u32 size, u32* got);
    [[nodiscard]] i32 write(const void* buffer, u32 size, u32* put);

    // origin 0 from the start, 1 from the current position, 2 from the end (another origin 0x8000F000). The offset
    // is unsigned and never moves backwards; a target beyond 0xFFFFFFFF gives 0x80000012 and keeps the position.
    i32 seek(u32 origin, u32 offset);

    // Current position; 0 when not open, 0xFFFFFFFF when it lies beyond 32 bits.
    u32 tell();

    // Runs the flush hooks, then writes buffered data through to the disk.
    i32 flush();

    // Size of the open file in 64 bits.
    i32 getSize(u64* size);

    bool isOpen() const;

    // Atomic replacement: beginReplace opens a hidden temporary beside path for read-write access (the accessor
    // is then open and used as usual); commitReplace syncs it and renames it over path; abortReplace (or close,
    // or the destructor) removes it. On any failure the old file stays byte-identical. A read-only target:
    // 0x80000005. Both commit and abort leave the accessor closed.
    [[nodiscard]] i32 beginReplace(const char* path);
    [[nodiscard]] i32 commitReplace();
    i32 abortReplace();
    bool isReplacing() const;

    // ---- Static path helpers -----------------------------------------------------------------------------------

    // The path's attributes can be read; false for null.
    static bool exists(const char* path);

    // Outputs (each optional) are set false first; system is always false. Null path 0x8000F000.
    static i32 getAttributes(const char* path, bool* readOnly, bool* hidden, bool* system, bool* isDirectory);

    // Replaces the attributes by read-only and hidden as given (system has no effect; hidden cannot be set on
    // this platform, where it is a matter of the name). Null path 0x8000F000.
    static i32 setAttributes(const char* path, bool readOnly, bool hidden, bool system);

    // Size in bytes; 0 when it cannot be read.
    static u32 getFileSize(const char* path);

    // which: 0 creation, 1 last access, 2 last write (another value, null path or null out 0x8000F000). Fields
    // out of range are replaced: year outside 2000..3000 by 2000, month and day outside 1..12 / 1..31 by 1, hour
    // above 23, minute above 59 and second above 61 by 0.
    static i32 getFileTime(const char* path, u32 which, FileTime* out, bool localTime);

    // A folder is removed as a folder (with its content when recursive); anything else, a symbolic link included,
    // is deleted as a file.
    static i32 remove(const char* path, bool recursive);

    static i32 copy(const char* from, const char* to);
    static i32 move(const char* from, const char* to);
    static i32 makeDir(const char* path);

    // False for null or empty names, any character below 0x20 and any of " * : < > ? |; "/" and "\" are allowed.
    static bool isValidFileName(const char* name);

private:
    FswHandle m_handle;
    FswReplace* m_pReplace;
};

} // namespace FILECACHE

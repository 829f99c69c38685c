// fsw: the flat file API. UTF-8 paths, "/" as the only separator, results in the fsw code family of fsw_Result.h.
// Every function is safe to call with null arguments (they are reported, never dereferenced).
#pragma once

#include "fsw_Result.h"
#include "klib_Types.h"

// ---------------------------------------------------------------------------------------------------------------
// Types
// ---------------------------------------------------------------------------------------------------------------

// OS file handle (the descriptor); all bits set = invalid.
using FswHandle = u64;
constexpr FswHandle FSW_INVALID_HANDLE = ~static_cast<u64>(0);

// Calendar time, UTC unless converted by fsw_toLocalTime.
struct FswTime
{
    u16 year;
    u8 month;  // 1..12
    u8 day;    // 1..31
    u8 hour;   // 0..23
    u8 minute; // 0..59
    u8 second; // 0..60
};

// Open mode bits.
constexpr u32 FSW_MODE_READ = 0x01;
constexpr u32 FSW_MODE_WRITE = 0x02;
constexpr u32 FSW_MODE_OPEN_EXISTING = 0x10;
constexpr u32 FSW_MODE_OPEN_ALWAYS = 0x20;   // create when missing
constexpr u32 FSW_MODE_CREATE_ALWAYS = 0x40; // create or truncate

// Attribute bits. Read-only = no owner-write permission; hidden = the final name starts with ".".
// System, archive and temporary are never reported; setting them is ignored.
constexpr u32 FSW_ATTR_NORMAL = 0x01;
constexpr u32 FSW_ATTR_READONLY = 0x02;
constexpr u32 FSW_ATTR_SYSTEM = 0x04;
constexpr u32 FSW_ATTR_HIDDEN = 0x08;
constexpr u32 FSW_ATTR_ARCHIVE = 0x10;
constexpr u32 FSW_ATTR_TEMPORARY = 0x20;
constexpr u32 FSW_ATTR_DIRECTORY = 0x80; // reported only

// Entry types of fsw_getEntryType and fsw_readDirEntry.
constexpr u32 FSW_ENTRY_UNKNOWN = 0; // the listing could not tell; fsw_getEntryType can
constexpr u32 FSW_ENTRY_FILE = 1;
constexpr u32 FSW_ENTRY_FOLDER = 2;
constexpr u32 FSW_ENTRY_LINK = 3;
constexpr u32 FSW_ENTRY_OTHER = 4; // pipe, socket or device

// Directory listing handle (opaque).
struct FswDir;

// Atomic replacement of one file (opaque), see fsw_replaceBegin.
struct FswReplace;

// ---------------------------------------------------------------------------------------------------------------
// Errors and paths
// ---------------------------------------------------------------------------------------------------------------

// Translates an errno value into the fsw family (0 stays 0; unlisted values give 0x8000ffff).
u32 fsw_fromErrno(int error);

// Checks that a path is usable: null gives 0x8000f000, text that is not valid UTF-8 gives 0x80000004.
u32 fsw_checkPath(const char* path);

// Always 0x80000100.
u32 fsw_unsupported();

// ---------------------------------------------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------------------------------------------

// Opens a file. `*out` is set invalid first. Access from bits 0x01/0x02 (at least one required); disposition
// 0x40 create always, else 0x20 open always, else 0x10 open existing; a read-only mode always opens an existing
// file; write access without a disposition gives 0x8000f000. A write-access open of a read-only file and an open
// of a folder, pipe or socket give 0x80000005 at once (the open never waits for a pipe's other end); devices open.
[[nodiscard]] u32 fsw_open(FswHandle* out, const char* path, u32 mode);

// Closes the handle and sets it invalid, also when the close reports a failure (the descriptor is gone then).
// Null or invalid handle: 0x8000f000.
u32 fsw_close(FswHandle* handle);

// Reads until `size` bytes, end of file or an error. `got` receives what was read. Size 0 gives got 0 and 0;
// nothing read at the end of the file gives 1.
[[nodiscard]] u32 fsw_read(void* buffer, u32* got, u32 size, FswHandle* handle);

// Writes all `size` bytes unless an error stops it; `put` receives what was written.
[[nodiscard]] u32 fsw_write(const void* buffer, u32* put, u32 size, FswHandle* handle);

// Moves the position: origin 0 beginning, 1 current, 2 end (another origin 0x8000f000). A target before the start
// gives 0x80000004, one beyond 0xFFFFFFFF gives 0x80000012; the position is unchanged on failure.
u32 fsw_seek(i32 offset, u32 origin, FswHandle* handle);

// Sets the absolute position (0..0xFFFFFFFF).
u32 fsw_seekAbsolute(u32 position, FswHandle* handle);

// Current position; 0x80000012 beyond 32 bits.
u32 fsw_tell(u32* position, FswHandle* handle);

// Writes buffered data through to the disk (fsync).
u32 fsw_flush(FswHandle* handle);

// Runs only the instrumentation hooks of flush; returns 0.
u32 fsw_flushHooks(FswHandle* handle);

// Size of the file at `path` (0 on failure); 0x80000012 beyond 32 bits, 0x80000005 for a folder.
u32 fsw_getSize(u32* size, const char* path);
// The same in 64 bits.
u32 fsw_getSize64(u64* size, const char* path);
// Size of an open file in 64 bits.
u32 fsw_getOpenSize(u64* size, FswHandle* handle);

// ---------------------------------------------------------------------------------------------------------------
// Names and attributes
// ---------------------------------------------------------------------------------------------------------------

// Deletes a file or a symbolic link (never what it points to). A folder or a read-only file: 0x80000005.
u32 fsw_remove(const char* path);

// Renames or moves, replacing an existing destination file. A read-only destination or an existing destination
// folder gives 0x80000005; a refused rename over a plain existing destination gives 0x80000006 (in use).
// Across file systems a file is copied (atomically) and the source removed.
[[nodiscard]] u32 fsw_move(const char* from, const char* to);

// Copies a file, replacing the destination atomically: on any failure the destination stays byte-identical and
// no temporary file remains. The copy gets the source's permission bits; until then it is readable by its owner
// alone. A source that fsw_open refuses (a folder, pipe or socket) gives its code.
[[nodiscard]] u32 fsw_copy(const char* from, const char* to);

// Attribute word of the entry (following symbolic links); 0x01 alone when no other bit applies.
u32 fsw_getAttributes(u32* attributes, const char* path);

// The same for the entry itself without following a final symbolic link; `isLink` (optional) reports a link.
u32 fsw_getLinkAttributes(u32* attributes, bool* isLink, const char* path);

// Sets read-only (0x02) or clears it (any word without 0x02, e.g. 0x01). Read-only is never applied to a folder.
// Other bits are ignored.
u32 fsw_setAttributes(u32 attributes, const char* path);

// Type of the entry itself (a final symbolic link is not followed): FSW_ENTRY_FILE, _FOLDER, _LINK or _OTHER.
u32 fsw_getEntryType(u32* type, const char* path);

// Permission bits (07777) of the entry, following links.
u32 fsw_getPermissions(u32* permissionBits, const char* path);
// Sets the permission bits (07777) of the entry, following links; other bits are ignored.
u32 fsw_setPermissions(u32 permissionBits, const char* path);

// The absolute path of an existing entry with every link, "." and ".." resolved, into out (size bytes).
// 0x80000010 when it does not fit; out is then empty.
u32 fsw_realPath(char* out, u32 size, const char* path);

// True when both paths name the same existing file (following links).
bool fsw_isSameFile(const char* a, const char* b);

// Writes the file or folder at path through to the disk; a final symbolic link is not followed (0x80000004).
[[nodiscard]] u32 fsw_syncPath(const char* path);
// Writes the folder at path (following links) through to the disk, which makes its entries' names durable. A file
// system that cannot sync folders counts as synced.
[[nodiscard]] u32 fsw_syncFolder(const char* path);

// Creation (birth time when the file system reports it, else modification), access and modification times in
// UTC. At least one output is required (else 0x8000f000).
u32 fsw_getTime(FswTime* created, FswTime* accessed, FswTime* modified, const char* path);

// Converts a UTC record to local time (out may equal in). Null arguments: 0x80000000.
u32 fsw_toLocalTime(FswTime* out, const FswTime* in);

// ---------------------------------------------------------------------------------------------------------------
// Folders
// ---------------------------------------------------------------------------------------------------------------

// Creates every missing folder along the path (split at "/"). 0 when this call created any folder, 2 when all
// existed, 0x80000004 for a path of 260 bytes or more or when a folder could not be made.
u32 fsw_makeDir(const char* path);

// Creates one folder (its parent must exist) with the permission bits given, less the umask. 0x80000002 when an
// entry of that name exists.
[[nodiscard]] u32 fsw_makeFolder(const char* path, u32 permissionBits);

// Lists a folder: "." and ".." first, then the names in byte order. `*out` is null on failure.
u32 fsw_openDir(FswDir** out, const char* path);

// Copies the current entry's name (cut to size - 1 bytes, always NUL-terminated) and moves to the next entry.
// Bad handle 0x80000003; size 0 or above 0x7FFFFFFF 0x8000f000; no entry left 0x80000001.
u32 fsw_readDir(FswDir* dir, char* name, u32 size);

// Byte size of the current entry's name including its NUL; 0x80000001 (size 0) when no entry is left.
u32 fsw_getDirEntryNameSize(FswDir* dir, u32* size);

// The current entry's name (valid until the listing is closed) and type, then moves to the next entry. The type
// comes from the listing: FSW_ENTRY_UNKNOWN where the file system does not tell, and a link is FSW_ENTRY_LINK
// whatever it points to. Bad handle 0x80000003; null name 0x8000f000; no entry left 0x80000001.
u32 fsw_readDirEntry(FswDir* dir, const char** name, u32* type);

// Ends the listing and frees the handle; bad handle 0x80000003.
u32 fsw_closeDir(FswDir* dir);

// Removes a folder; with `recursive` also everything in it. Symbolic links are unlinked and never followed, also
// when `path` itself is one. Recursive: missing folder 0x80000001; any entry that cannot be removed (a read-only
// file, for one) stops the removal with 0x80000004.
u32 fsw_removeDir(const char* path, bool recursive);

// Called by fsw_removeTree for each entry that could not be removed, with its path and the failure code.
using FswRemoveFailure = void (*)(const char* path, u32 code, void* context);

// Removes a file, a link or a folder with everything in it, whatever its read-only flags: folders get owner
// access and files lose their read-only flag before removal. Links are unlinked and never followed, also when
// `path` itself is one. An entry that still cannot be removed is reported to onFailure (optional) and skipped;
// the rest goes on. 0 when everything is gone, else the first failure (a missing path: 0x80000001).
u32 fsw_removeTree(const char* path, FswRemoveFailure onFailure = nullptr, void* context = nullptr);

// Exchanges two existing entries (files or folders): atomically where the file system can; elsewhere b is renamed
// to `aside` (null: a hidden temporary name beside b), a to b and the aside to a, each failing step taking the
// earlier ones back. A process that stops between the renames leaves b's entry at the aside name.
[[nodiscard]] u32 fsw_exchange(const char* a, const char* b, const char* aside = nullptr);

// ---------------------------------------------------------------------------------------------------------------
// Atomic replacement
//
// begin creates a hidden temporary "." + name + ".tmp-" + unique suffix in the target's folder, readable by its
// owner alone, and opens it read-write; write the new content through fsw_replaceHandle. commit fsyncs, gives the
// temporary the old target's permission bits (or those set with fsw_replaceSetMode; for a new file what creating it
// in place gives, 0666 less the umask or what the folder's default ACL says, and owner-only where that cannot be
// told), renames it over the target and fsyncs the folder. abort,
// and any failure in commit before the rename, closes and removes the temporary, so the old target stays
// byte-identical. Once the rename succeeded commit returns 0: a folder sync that fails twice is logged as a
// warning ("[W] fsw_replaceCommit - folder sync failed for <target>"), the target being the complete new file. commit
// and abort always free the object. A read-only target, or a folder, is refused with 0x80000005. A target that is a
// symbolic link replaces the file the link points to.
// ---------------------------------------------------------------------------------------------------------------
[[nodiscard]] u32 fsw_replaceBegin(FswReplace** out, const char* targetPath);
// The same for a caller that writes many files and makes them durable once at the end: commit neither syncs the
// file nor its folder (it starts writeback before the rename), and a target that is a symbolic link is replaced
// itself, never what it points to. A replaced regular file's permission bits are kept.
[[nodiscard]] u32 fsw_replaceBeginUnsynced(FswReplace** out, const char* targetPath);
FswHandle* fsw_replaceHandle(FswReplace* replace); // null for a null object
const char* fsw_replaceTempPath(FswReplace* replace);
u32 fsw_replaceSetMode(FswReplace* replace, u32 permissionBits);
[[nodiscard]] u32 fsw_replaceCommit(FswReplace* replace);
u32 fsw_replaceAbort(FswReplace* replace);

// Temporary files of the replacement are recognisable by name: true for "." + x + ".tmp-" + suffix.
bool fsw_isReplaceTempName(const char* name);
// A fresh temporary name (no folder) for the target file name `name`, in that pattern and within the 255-byte
// limit of a name component: a long name contributes only its start, cut before a UTF-8 continuation byte.
// 0; FSW_E_BAD_ARGUMENT for a null or empty name, or an output smaller than 256 bytes.
u32 fsw_makeReplaceTempName(char* out, u32 size, const char* name);
// True when `candidate` has the form fsw_makeReplaceTempName gives for `name`: "." + name (cut as that function
// cuts a long one) + ".tmp-" + the suffix it writes, exactly: the writer's process id, a counter (both lowercase
// hexadecimal without leading zeros) and eight lowercase hexadecimal digits, joined by "-". With `nested`, also
// that form of such a name (the temporary of a replacement of a temporary, kept uncut). False for null arguments.
bool fsw_isReplaceTempOf(const char* candidate, const char* name, bool nested);
// Removes what replacements of targetPath that a stopped process never finished left: the files in its folder whose
// names are temporaries of its name, as fsw_isReplaceTempOf tells with `nested` (a replacement through a final
// symbolic link writes beside the file it points to; that folder is not looked at). A temporary whose process id
// (either one of a nested name) names a running process other than this one is another writer's live work and
// stays. Nothing else is touched.
// Each removal is logged ("[i]"), each failure too ("[E]"); a leftover already gone (another clean-up took it)
// counts as removed. For a writer at its start, before it replaces the target again and while no replacement of it
// runs. 0, also for a folder that is missing or cannot be listed; else the first failure's code (fsw_checkPath's
// for a bad path).
u32 fsw_removeReplaceTemps(const char* targetPath, bool nested);

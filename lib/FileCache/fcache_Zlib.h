// The one adapter between the storage code and zlib: deflate and inflate streams in the zlib format whose
// library codes are turned into result codes here, so no caller sees a zlib code.
#pragma once

#include "fcache_Result.h"
#include "klib_Types.h"

namespace FILECACHE {

namespace Zlib {
// Level 1..10 of the container maps to zlib's 1..9 (10 runs at 9); 0 and above 10 are not compression levels.
bool isCompressionLevel(u32 level);
} // namespace Zlib

// A zlib-format deflate stream. begin, step until kStreamEnd, then end (the destructor ends it as well).
class ZlibDeflater
{
public:
    ZlibDeflater();
    ~ZlibDeflater();
    ZlibDeflater(const ZlibDeflater&) = delete;
    ZlibDeflater& operator=(const ZlibDeflater&) = delete;

    // level 1..10. A stream still open is ended first.
    i32 begin(u32 level);
    // Consumes input and produces output. `finish` says that no input follows `in`; the stream ends only then.
    // `used` and `made` receive what was consumed and produced. kRunning or kStreamEnd, or a failure.
    i32 step(const u8* in, u32 inSize, u32* used, u8* out, u32 outSize, u32* made, bool finish);
    // Frees the stream. kStreamError when zlib reports the stream as incomplete or broken; 0 otherwise.
    i32 end();
    bool isOpen() const { return m_stream != nullptr; }

private:
    void* m_stream;
};

// A zlib-format inflate stream; step reports kStreamEnd once the stream's end has been met.
class ZlibInflater
{
public:
    ZlibInflater();
    ~ZlibInflater();
    ZlibInflater(const ZlibInflater&) = delete;
    ZlibInflater& operator=(const ZlibInflater&) = delete;

    i32 begin();
    // A stream that cannot advance (cut input with room for output) gives kStreamError only when `last` says that
    // no more input follows; otherwise kRunning with nothing used.
    i32 step(const u8* in, u32 inSize, u32* used, u8* out, u32 outSize, u32* made, bool last);
    i32 end();
    bool isOpen() const { return m_stream != nullptr; }

private:
    void* m_stream;
};

} // namespace FILECACHE

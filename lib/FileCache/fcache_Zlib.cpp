#include "fcache_Zlib.h"

#include <zlib.h>

#include <new>

namespace FILECACHE {

namespace Zlib {
bool isCompressionLevel(u32 level)
{
    return level >= 1 && level <= 10;
}
} // namespace Zlib

namespace {

i32 fromZlib(int code)
{
    switch (code) {
    case Z_OK:
        return Zlib::kRunning;
    case Z_STREAM_END:
        return Zlib::kStreamEnd;
    case Z_MEM_ERROR:
        return Zlib::kNoMemory;
    default:
        return Zlib::kStreamError;
    }
}

z_stream* newStream()
{
    z_stream* stream = new (std::nothrow) z_stream;
    if (stream != nullptr) {
        stream->zalloc = Z_NULL;
        stream->zfree = Z_NULL;
        stream->opaque = Z_NULL;
        stream->next_in = Z_NULL;
        stream->avail_in = 0;
    }
    return stream;
}

bool badBuffers(const u8* in, u32 inSize, u32* used, u8* out, u32 outSize, u32* made)
{
    return used == nullptr || made == nullptr || (in == nullptr && inSize != 0) || out == nullptr || outSize == 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------

ZlibDeflater::ZlibDeflater() : m_stream(nullptr) {}

ZlibDeflater::~ZlibDeflater()
{
    end();
}

i32 ZlibDeflater::begin(u32 level)
{
    end();
    if (!Zlib::isCompressionLevel(level)) {
        return Zlib::kBadArgument;
    }
    z_stream* stream = newStream();
    if (stream == nullptr) {
        return Zlib::kNoMemory;
    }
    const int zlevel = level > 9 ? 9 : static_cast<int>(level);
    const int code = deflateInit(stream, zlevel);
    if (code != Z_OK) {
        delete stream;
        return code == Z_MEM_ERROR ? Zlib::kNoMemory : Zlib::kStreamError;
    }
    m_stream = stream;
    return 0;
}

i32 ZlibDeflater::step(const u8* in, u32 inSize, u32* used, u8* out, u32 outSize, u32* made, bool finish)
{
    if (badBuffers(in, inSize, used, out, outSize, made)) {
        return Zlib::kBadArgument;
    }
    *used = 0;
    *made = 0;
    if (m_stream == nullptr) {
        return Zlib::kBadArgument;
    }
    z_stream* stream = static_cast<z_stream*>(m_stream);
    stream->next_in = const_cast<Bytef*>(in);
    stream->avail_in = inSize;
    stream->next_out = out;
    stream->avail_out = outSize;
    const int code = deflate(stream, finish ? Z_FINISH : Z_NO_FLUSH);
    *used = inSize - stream->avail_in;
    *made = outSize - stream->avail_out;
    stream->next_in = Z_NULL;
    stream->avail_in = 0;
    // No progress possible is not a failure of deflate: the caller supplies more room or input.
    if (code == Z_BUF_ERROR) {
        return Zlib::kRunning;
    }
    return fromZlib(code);
}

i32 ZlibDeflater::end()
{
    if (m_stream == nullptr) {
        return 0;
    }
    z_stream* stream = static_cast<z_stream*>(m_stream);
    const int code = deflateEnd(stream);
    delete stream;
    m_stream = nullptr;
    return code == Z_OK ? 0 : Zlib::kStreamError;
}

// ---------------------------------------------------------------------------------------------------------------

ZlibInflater::ZlibInflater() : m_stream(nullptr) {}

ZlibInflater::~ZlibInflater()
{
    end();
}

i32 ZlibInflater::begin()
{
    end();
    z_stream* stream = newStream();
    if (stream == nullptr) {
        return Zlib::kNoMemory;
    }
    const int code = inflateInit(stream);
    if (code != Z_OK) {
        delete stream;
        return code == Z_MEM_ERROR ? Zlib::kNoMemory : Zlib::kStreamError;
    }
    m_stream = stream;
    return 0;
}

i32 ZlibInflater::step(const u8* in, u32 inSize, u32* used, u8* out, u32 outSize, u32* made, bool last)
{
    if (badBuffers(in, inSize, used, out, outSize, made)) {
        return Zlib::kBadArgument;
    }
    *used = 0;
    *made = 0;
    if (m_stream == nullptr) {
        return Zlib::kBadArgument;
    }
    z_stream* stream = static_cast<z_stream*>(m_stream);
    stream->next_in = const_cast<Bytef*>(in);
    stream->avail_in = inSize;
    stream->next_out = out;
    stream->avail_out = outSize;
    const int code = inflate(stream, Z_SYNC_FLUSH);
    *used = inSize - stream->avail_in;
    *made = outSize - stream->avail_out;
    stream->next_in = Z_NULL;
    stream->avail_in = 0;
    if (code == Z_BUF_ERROR) {
        // Nothing could move: with output room left, the input ran out before the stream's end.
        return (last && *made == 0) ? Zlib::kStreamError : Zlib::kRunning;
    }
    if (code == Z_NEED_DICT) {
        return Zlib::kStreamError;
    }
    return fromZlib(code);
}

i32 ZlibInflater::end()
{
    if (m_stream == nullptr) {
        return 0;
    }
    z_stream* stream = static_cast<z_stream*>(m_stream);
    const int code = inflateEnd(stream);
    delete stream;
    m_stream = nullptr;
    return code == Z_OK ? 0 : Zlib::kStreamError;
}

} // namespace FILECACHE

// Helpers of the container suites: raw block images, an observer that records progress, a failing write seam.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "fcache_MBDF.h"
#include "fsw_SystemCalls.h"
#include "fsw_TestSupport.h"

namespace mbdftest {

using Bytes = std::vector<u8>;

inline void putU32(Bytes& b, size_t at, u32 v)
{
    b[at] = static_cast<u8>(v >> 24);
    b[at + 1] = static_cast<u8>(v >> 16);
    b[at + 2] = static_cast<u8>(v >> 8);
    b[at + 3] = static_cast<u8>(v);
}

inline u32 getU32(const Bytes& b, size_t at)
{
    return (u32(b[at]) << 24) | (u32(b[at + 1]) << 16) | (u32(b[at + 2]) << 8) | u32(b[at + 3]);
}

// One block as on disk: tag field text, info and data parts padded to 4.
inline Bytes rawBlock(const std::string& tagField, const Bytes& info, const Bytes& data)
{
    Bytes b(36, 0);
    std::copy(tagField.begin(), tagField.begin() + std::min<size_t>(24, tagField.size()), b.begin());
    putU32(b, 24, static_cast<u32>(info.size()));
    putU32(b, 28, static_cast<u32>(data.size()));
    b.insert(b.end(), info.begin(), info.end());
    b.resize((b.size() + 3) & ~size_t(3), 0);
    b.insert(b.end(), data.begin(), data.end());
    b.resize((b.size() + 3) & ~size_t(3), 0);
    return b;
}

inline Bytes topBlock(const std::string& kind = "Backup")
{
    Bytes info(36, 0);
    std::copy_n("ZethImage", 9, info.begin());
    return rawBlock(std::string("#KORVAN MBDF") + kind, info, {});
}

inline Bytes endBlock()
{
    return rawBlock("#END", {}, {});
}

inline Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

inline Bytes seq(size_t n, u8 start = 1)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = static_cast<u8>(start + i * 7);
    }
    return b;
}

inline std::string str(const Bytes& b)
{
    return std::string(b.begin(), b.end());
}

inline Bytes bytesOf(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

inline bool writeBytes(const std::string& path, const Bytes& b)
{
    return fswtest::writeFile(path, str(b));
}

inline Bytes readBytes(const std::string& path)
{
    const auto content = fswtest::readFile(path);
    return content ? bytesOf(*content) : Bytes();
}

struct ProgressCall
{
    u32 operation;
    u32 step;
    u32 total;
    std::string text;
    bool last;
};

// Records every call; sets *abortFlag when the call numbered abortAt (from 0) arrives.
class RecordingObserver : public FILECACHE::IMBDFObserver
{
public:
    void onProgress(u32 operation, u32 step, u32 total, const char*, const char* text, bool last) override
    {
        if (abortFlag != nullptr && static_cast<int>(calls.size()) == abortAt) {
            *abortFlag = true;
        }
        calls.push_back({operation, step, total, text, last});
    }
    void onError(u32 operation, const char*, i32 code) override { errors.emplace_back(operation, code); }

    std::vector<ProgressCall> calls;
    std::vector<std::pair<u32, i32>> errors;
    bool* abortFlag = nullptr;
    int abortAt = -1;
};

// Makes every write after `after` successful ones fail with `error` while alive.
class FailingWrites
{
public:
    FailingWrites(int error, int after)
    {
        s_error = error;
        s_left = after;
        fsw_setSystemCalls(nullptr, &FailingWrites::write, nullptr);
    }
    ~FailingWrites() { fsw_setSystemCalls(nullptr, nullptr, nullptr); }

private:
    static ssize_t write(int fd, const void* buffer, size_t size)
    {
        if (s_left-- > 0) {
            return ::write(fd, buffer, size);
        }
        errno = s_error;
        return -1;
    }
    static inline int s_error = 0;
    static inline int s_left = 0;
};

inline const i32 kFailed = static_cast<i32>(0x80000000u);
inline const i32 kBadArgument = static_cast<i32>(0x80000001u);
inline const i32 kInvalid = static_cast<i32>(0x80000002u);
inline const i32 kOutOfRange = static_cast<i32>(0x80000003u);
inline const i32 kFileError = static_cast<i32>(0x80000004u);
inline const i32 kAccess = static_cast<i32>(0x80000005u);
inline const i32 kNotLoaded = static_cast<i32>(0x80000006u);
inline const i32 kDiskFull = static_cast<i32>(0x80000009u);

} // namespace mbdftest

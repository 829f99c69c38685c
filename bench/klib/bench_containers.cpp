// Byte stream, lock-free ring and UTF-8 export throughput.
#include <benchmark/benchmark.h>

#include <iconv.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "klib_DataStream.h"
#include "klib_RingBuffer.h"
#include "klib_String.h"

namespace {

constexpr u32 kStreamBytes = 1u << 20;
constexpr u32 kPiece = 1460;

// 1 MiB through a 15000-byte socket stream in TCP-segment pieces.
void BM_DataStreamPieces(benchmark::State& state)
{
    std::vector<unsigned char> in(kStreamBytes, 0x33);
    std::vector<unsigned char> out(kStreamBytes);
    KLIB::KDataStream<unsigned char> stream(0, 15000);
    for (auto _ : state) {
        for (u32 offset = 0; offset < kStreamBytes; offset += kPiece) {
            const u32 n = kStreamBytes - offset < kPiece ? kStreamBytes - offset : kPiece;
            u32 done = 0;
            stream.write(in.data() + offset, n, &done);
            stream.read(out.data() + offset, n, &done);
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kStreamBytes);
}
BENCHMARK(BM_DataStreamPieces);

// The same bytes moved with two memcpy per piece through a 15000-byte buffer.
void BM_TwoMemcpyPieces(benchmark::State& state)
{
    std::vector<unsigned char> in(kStreamBytes, 0x33);
    std::vector<unsigned char> out(kStreamBytes);
    std::vector<unsigned char> middle(15000);
    u32 position = 0;
    for (auto _ : state) {
        for (u32 offset = 0; offset < kStreamBytes; offset += kPiece) {
            const u32 n = kStreamBytes - offset < kPiece ? kStreamBytes - offset : kPiece;
            if (position + n > middle.size()) {
                position = 0;
            }
            std::memcpy(middle.data() + position, in.data() + offset, n);
            std::memcpy(out.data() + offset, middle.data() + position, n);
            position += n;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kStreamBytes);
}
BENCHMARK(BM_TwoMemcpyPieces);

constexpr u32 kTransferBytes = 8u << 20;
constexpr u32 kChunk = 1460;

// Byte transfer between two threads through the lock-free ring.
void BM_RingBufferSpsc(benchmark::State& state)
{
    std::vector<u8> storage(64 * 1024);
    for (auto _ : state) {
        klib_RingBufferRecord ring;
        klib_ringBufferInit(1, static_cast<u32>(storage.size()), storage.data(), &ring);
        std::thread writer([&ring] {
            u8 chunk[kChunk];
            std::memset(chunk, 1, sizeof(chunk));
            u32 sent = 0;
            while (sent < kTransferBytes) {
                u32 put = 0;
                const u32 n = kTransferBytes - sent < kChunk ? kTransferBytes - sent : kChunk;
                klib_ringBufferWrite(n, chunk, &put, &ring);
                sent += put;
                if (put == 0) {
                    std::this_thread::yield();
                }
            }
        });
        u8 chunk[kChunk];
        u32 received = 0;
        while (received < kTransferBytes) {
            u32 got = 0;
            klib_ringBufferRead(kChunk, chunk, &got, &ring);
            received += got;
            if (got == 0) {
                std::this_thread::yield();
            }
        }
        writer.join();
        benchmark::DoNotOptimize(chunk[0]);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kTransferBytes);
}
BENCHMARK(BM_RingBufferSpsc)->UseRealTime()->Unit(benchmark::kMillisecond);

// The same transfer through a mutex-guarded deque of bytes.
void BM_MutexDequeSpsc(benchmark::State& state)
{
    const size_t limit = 64 * 1024;
    for (auto _ : state) {
        std::mutex lock;
        std::deque<uint8_t> queue;
        std::thread writer([&] {
            u8 chunk[kChunk];
            std::memset(chunk, 1, sizeof(chunk));
            u32 sent = 0;
            while (sent < kTransferBytes) {
                u32 put = 0;
                {
                    std::lock_guard<std::mutex> guard(lock);
                    const size_t room = limit - queue.size();
                    u32 n = kTransferBytes - sent < kChunk ? kTransferBytes - sent : kChunk;
                    put = n < room ? n : static_cast<u32>(room);
                    queue.insert(queue.end(), chunk, chunk + put);
                }
                sent += put;
                if (put == 0) {
                    std::this_thread::yield();
                }
            }
        });
        u8 chunk[kChunk];
        u32 received = 0;
        while (received < kTransferBytes) {
            u32 got = 0;
            {
                std::lock_guard<std::mutex> guard(lock);
                got = queue.size() < kChunk ? static_cast<u32>(queue.size()) : kChunk;
                std::copy(queue.begin(), queue.begin() + got, chunk);
                queue.erase(queue.begin(), queue.begin() + got);
            }
            received += got;
            if (got == 0) {
                std::this_thread::yield();
            }
        }
        writer.join();
        benchmark::DoNotOptimize(chunk[0]);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kTransferBytes);
}
BENCHMARK(BM_MutexDequeSpsc)->UseRealTime()->Unit(benchmark::kMillisecond);

// Mixed text: ASCII, Latin, CJK and emoji code points.
std::vector<u32> sampleText()
{
    std::mt19937 rng(5);
    std::vector<u32> cps;
    for (int i = 0; i < 4096; ++i) {
        switch (rng() % 4) {
        case 0:
            cps.push_back(static_cast<u32>(0x20 + rng() % 0x5F));
            break;
        case 1:
            cps.push_back(static_cast<u32>(0xA0 + rng() % 0x700));
            break;
        case 2:
            cps.push_back(static_cast<u32>(0x4E00 + rng() % 0x5000));
            break;
        default:
            cps.push_back(static_cast<u32>(0x1F300 + rng() % 0x300));
            break;
        }
    }
    return cps;
}

void BM_KStringToUTF8(benchmark::State& state)
{
    KLIB::KString<KLIB::KUnicode> text;
    for (u32 c : sampleText()) {
        text.push_back(KLIB::KUnicode(c));
    }
    std::vector<unsigned char> out(4096 * 4 + 1);
    u32 length = 0;
    for (auto _ : state) {
        text.toUTF8(out.data(), static_cast<u32>(out.size()), &length);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (length - 1));
}
BENCHMARK(BM_KStringToUTF8);

void BM_IconvToUTF8(benchmark::State& state)
{
    const std::vector<u32> cps = sampleText(); // UTF-32 in host (little-endian) order
    std::vector<char> out(4096 * 4 + 1);
    iconv_t cd = iconv_open("UTF-8", "UTF-32LE");
    size_t produced = 0;
    for (auto _ : state) {
        char* in = const_cast<char*>(reinterpret_cast<const char*>(cps.data()));
        size_t inLeft = cps.size() * 4;
        char* outPtr = out.data();
        size_t outLeft = out.size();
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        produced = out.size() - outLeft;
        benchmark::DoNotOptimize(out.data());
    }
    iconv_close(cd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(produced));
}
BENCHMARK(BM_IconvToUTF8);

} // namespace

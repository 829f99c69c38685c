#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "klib_Buffer.h"
#include "klib_DataStream.h"
#include "klib_HeapManager.h"
#include "klib_RingBuffer.h"
#include "klib_Vector.h"

using namespace KLIB;

namespace {

size_t countOf(const std::string& text, const std::string& needle)
{
    size_t n = 0;
    for (size_t p = 0; (p = text.find(needle, p)) != std::string::npos; p += needle.size()) {
        ++n;
    }
    return n;
}

TEST(KVectorTest, GrowthPolicyAndReservedCount)
{
    KVector<int> v;
    std::vector<u32> capacities;
    for (int i = 0; i < 19; ++i) {
        v.push_back(i);
        if (capacities.empty() || capacities.back() != v.capacity()) {
            capacities.push_back(v.capacity());
        }
    }
    EXPECT_EQ(capacities, (std::vector<u32>{1, 2, 3, 4, 6, 9, 13, 19}));
    for (int i = 0; i < 19; ++i) {
        ASSERT_EQ(v[i], i);
    }

    KVector<int> reserved(8);
    EXPECT_EQ(reserved.capacity(), 8u);
    EXPECT_EQ(reserved.getReservedCount(), 8u);
    reserved.push_back(1);
    reserved.shrink_to_fit();
    EXPECT_EQ(reserved.capacity(), 1u);
    EXPECT_EQ(reserved.clear(), 0u);
    EXPECT_EQ(reserved.size(), 0u);
    EXPECT_EQ(reserved.capacity(), 8u);
    // A moved-from vector gets its reserved room back on clear as well.
    KVector<int> taken(std::move(reserved));
    EXPECT_EQ(reserved.capacity(), 0u);
    reserved.clear();
    EXPECT_EQ(reserved.capacity(), 8u);

    struct Big
    {
        char bytes[0x10000];
    };
    KVector<Big> tooBig(0x10000); // above 0xFFFFFFFF / 0x10000 elements
    EXPECT_EQ(tooBig.capacity(), 0u);
    EXPECT_EQ(tooBig.getReservedCount(), 0u);
    try {
        tooBig.reserve(0x10000);
        ADD_FAILURE() << "no length error";
    } catch (const std::length_error& e) {
        EXPECT_STREQ(e.what(), "vector too long");
    }
}

TEST(KVectorTest, EditingKeepsOrderAndOwnership)
{
    KVector<std::string> v(2, KAllocator("test"));
    v.push_back("b");
    v.push_back("d");
    v.insert(v.begin(), "a");
    v.insert(v.begin() + 2, "c");
    v.push_back(v[0]); // an element of the vector itself, while the storage grows
    std::vector<std::string> seen(v.begin(), v.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "c", "d", "a"}));
    v.erase(v.begin() + 1, v.begin() + 3);
    seen.assign(v.begin(), v.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "d", "a"}));
    seen.assign(v.rbegin(), v.rend());
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "d", "a"}));

    KVector<std::string> copy(v);
    v[0] = "changed";
    EXPECT_EQ(copy[0], "a");
    copy = v;
    EXPECT_EQ(copy[0], "changed");
    EXPECT_STREQ(copy.getAllocator().getTag(), "test");
    copy.resize(1);
    EXPECT_EQ(copy.size(), 1u);
    copy.resize(3);
    EXPECT_EQ(copy[2], "");
}

TEST(KVectorTest, AllocationsAreTaggedOnTheNamedHeap)
{
    ASSERT_EQ(setHeapTraceFlag(0, 1), 0u);
    testing::internal::CaptureStdout();
    {
        KVector<u32> v(2, KAllocator("DBGC::gLowIOList", 0));
        v.push_back(1);
        v.push_back(2);
        v.push_back(3); // grows to 3
        KVector<u32> untagged(1);
        // Heap 7 has no manager: falls back to the global heap, with heap 7's (zero) trace byte.
        KVector<u32> fallback(4, KAllocator("Quiet", 7));
        EXPECT_EQ(fallback.capacity(), 4u);
    }
    const std::string out = testing::internal::GetCapturedStdout();
    setHeapTraceFlag(0, 0);
    EXPECT_EQ(countOf(out, "GlobalHeapManager::new    > "), 3u) << out;
    EXPECT_EQ(countOf(out, "(           8) = DBGC::gLowIOList"), 1u) << out;
    EXPECT_EQ(countOf(out, "(          12) = DBGC::gLowIOList"), 1u) << out;
    EXPECT_EQ(countOf(out, "= KAllocator\n"), 1u) << out;
    EXPECT_EQ(countOf(out, "Quiet"), 0u) << out;
    EXPECT_EQ(countOf(out, "GlobalHeapManager::delete > "), 3u) << out;
}

TEST(KBufferTest, HeapWithoutManagerGivesNothing)
{
    KBuffer<char> buffer(0, 100, "KBufferTest");
    ASSERT_NE(buffer.getData(), nullptr);
    EXPECT_EQ(buffer.getSize(), 100u);
    std::memset(buffer.getData(), 'x', 100);

    KBuffer<unsigned char> missing(3, 100, "KBufferTest");
    EXPECT_EQ(missing.getData(), nullptr);
    EXPECT_EQ(missing.getSize(), 0u);
}

TEST(KDataStreamTest, FifoAcrossTheWrapAndBulkBytes)
{
    KDataStream<u32> stream;
    EXPECT_EQ(stream.getState(), 1u);
    ASSERT_EQ(stream.create(0, 5), 0u);
    EXPECT_EQ(stream.getState(), 3u);
    EXPECT_EQ(stream.peek(), nullptr);
    u32 next = 0;
    u32 expected = 0;
    for (int round = 0; round < 7; ++round) {
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(stream.write(next++), 0u);
        }
        for (int i = 0; i < 3; ++i) {
            u32 value = 0;
            ASSERT_EQ(stream.read(value), 0u);
            ASSERT_EQ(value, expected++);
        }
    }
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(stream.write(100 + i), 0u);
    }
    EXPECT_EQ(stream.write(999), 0x80000000u); // full: nothing overwritten
    u32 value = 0;
    EXPECT_EQ(stream.read(value), 0u);
    EXPECT_EQ(value, 100u);
    stream.clear();
    EXPECT_EQ(stream.read(value), 0x80000000u);

    // Byte streams: bulk moves behave like element-wise ones, across the wrap.
    KDataStream<unsigned char> bytes(0, 10);
    std::vector<unsigned char> in(25);
    for (size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<unsigned char>(i + 1);
    }
    u32 done = 0;
    EXPECT_EQ(bytes.write(in.data(), 7, &done), 0u);
    unsigned char out[32] = {};
    EXPECT_EQ(bytes.read(out, 4, &done), 0u);
    EXPECT_EQ(bytes.write(in.data() + 7, 18, &done), 0x80000000u);
    EXPECT_EQ(done, 7u); // 3 stored + 7 = capacity
    EXPECT_EQ(bytes.getFree(), 0u);
    EXPECT_EQ(bytes.read(out + 4, 20, &done), 0x80000000u);
    EXPECT_EQ(done, 10u);
    EXPECT_EQ(std::vector<unsigned char>(out, out + 14), std::vector<unsigned char>(in.begin(), in.begin() + 14));
}

TEST(KDataStreamTest, CreationFailures)
{
    KDataStream<unsigned char> stream(0, 16);
    EXPECT_EQ(stream.create(0, 0), 0x80000000u);
    EXPECT_EQ(stream.getState(), 1u);
    EXPECT_EQ(stream.getCapacity(), 0u);
    EXPECT_EQ(stream.create(0, 0x1000000), 0x80000000u);
    EXPECT_EQ(stream.getState(), 1u);
    EXPECT_EQ(stream.create(9, 16), 0x80000000u);
    EXPECT_EQ(stream.getState(), 1u);
    u32 done = 5;
    unsigned char b = 1;
    EXPECT_EQ(stream.write(&b, 1, &done), 0x80000000u);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(stream.write(b), 0x80000000u);
}

struct Counted
{
    static int constructed;
    static int destroyed;
    Counted() { ++constructed; }
    ~Counted() { ++destroyed; }
    u32 payload[3] = {};
};
int Counted::constructed = 0;
int Counted::destroyed = 0;

TEST(KRingBufferTest, CreateAndReleaseEveryRecord)
{
    Counted::constructed = Counted::destroyed = 0;
    {
        KRingBuffer<Counted> ring;
        EXPECT_EQ(ring.create(0, 0), 0x80000001u);
        EXPECT_EQ(ring.getState(), 0u);
        ASSERT_EQ(ring.create(0, 7), 0u);
        EXPECT_EQ(ring.getState(), 2u);
        EXPECT_EQ(Counted::constructed, 7);
        const u8* header = static_cast<const u8*>(static_cast<const void*>(ring.getData())) - 8;
        EXPECT_EQ(std::vector<u8>(header, header + 8), (std::vector<u8>{0, 0, 0, 7, 0, 0, 0, 0}));
        ring.setCount(3);
        // Re-creation releases the old records first.
        ASSERT_EQ(ring.create(0, 4), 0u);
        EXPECT_EQ(Counted::destroyed, 7);
        EXPECT_EQ(ring.getCount(), 0u);
        EXPECT_EQ(ring.create(0, 0x1000000), 0x80000002u);
        EXPECT_EQ(Counted::destroyed, 11);
        EXPECT_EQ(ring.getCapacity(), 0u);
        EXPECT_EQ(ring.create(12, 4), 0x80000002u);
        ASSERT_EQ(ring.create(0, 5), 0u);
    }
    EXPECT_EQ(Counted::constructed, 16);
    EXPECT_EQ(Counted::destroyed, 16);

    Counted::constructed = Counted::destroyed = 0;
    {
        KDataStream<Counted> stream(0, 6);
        EXPECT_EQ(Counted::constructed, 6);
        stream.write(Counted());
    }
    EXPECT_EQ(Counted::constructed, 7); // six slots and the temporary
    EXPECT_EQ(Counted::destroyed, 7);
}

TEST(RingBufferFunctionsTest, CapacityFourSequence)
{
    u8 storage[4];
    klib_RingBufferRecord ring;
    ASSERT_EQ(klib_ringBufferInit(1, 4, storage, &ring), 0u);
    const u8 in[6] = {1, 2, 3, 4, 5, 6};
    u32 n = 0;
    EXPECT_EQ(klib_ringBufferWrite(6, in, &n, &ring), 0x80000002u);
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(klib_ringBufferGetFree(&ring), 0u);
    u8 out[4] = {};
    EXPECT_EQ(klib_ringBufferRead(3, out, &n, &ring), 4u);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(klib_ringBufferRead(3, out + 3, &n, &ring), 0u);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(std::vector<u8>(out, out + 4), (std::vector<u8>{1, 2, 3, 4}));
    EXPECT_EQ(klib_ringBufferRead(3, out, &n, &ring), 0x80000003u);
    EXPECT_EQ(n, 0u);

    EXPECT_EQ(klib_ringBufferInit(3, 4, storage, &ring), 0x80000001u);
    EXPECT_EQ(klib_ringBufferInit(1, 0x1000001, storage, &ring), 0x80000001u);
    EXPECT_EQ(klib_ringBufferInit(1, 4, nullptr, &ring), 0x80000001u);
    EXPECT_EQ(klib_ringBufferInit(1, 4, storage, nullptr), 0x80000001u);
    EXPECT_EQ(klib_ringBufferGetCount(nullptr), 0x80000005u);
}

TEST(RingBufferFunctionsTest, InconsistentRecordsAreRefused)
{
    u32 storage[8];
    klib_RingBufferRecord ring;
    ASSERT_EQ(klib_ringBufferInit(4, 8, storage, &ring), 0u);
    u32 n = 0;
    u32 out[8];
    const auto expectInconsistent = [&](u32 w, u32 r) {
        SCOPED_TRACE(testing::Message() << std::hex << "w " << w << " r " << r);
        ring.writePosition = w;
        ring.readPosition = r;
        EXPECT_EQ(klib_ringBufferGetCount(&ring), 0x80000005u);
        EXPECT_EQ(klib_ringBufferGetFree(&ring), 0x80000005u);
        EXPECT_EQ(klib_ringBufferRead(1, out, &n, &ring), 0x80000005u);
        EXPECT_EQ(klib_ringBufferWrite(1, out, &n, &ring), 0x80000005u);
    };
    expectInconsistent(0x02000000, 0x00000000); // wrap counts two apart
    expectInconsistent(0x00000001, 0xFE000000); // two apart across the 255 -> 0 turn
    expectInconsistent(0x05000002, 0x05000003); // W below the read index
    expectInconsistent(0x06000005, 0x05000002); // count 11 above capacity 8
    expectInconsistent(0x05000009, 0x05000000); // index beyond the storage
    ring.writePosition = 0x00000001;
    ring.readPosition = 0xFF000007; // one wrap apart across 255 -> 0: count 2
    EXPECT_EQ(klib_ringBufferGetCount(&ring), 2u);
}

TEST(RingBufferFunctionsTest, ManyWrapsKeepCountAndOrder)
{
    u16 storage[3];
    klib_RingBufferRecord ring;
    ASSERT_EQ(klib_ringBufferInit(2, 3, storage, &ring), 0u);
    u16 next = 0;
    u16 expected = 0;
    u32 n = 0;
    for (int step = 0; step < 1000; ++step) {
        const u16 in[2] = {next, static_cast<u16>(next + 1)};
        ASSERT_EQ(klib_ringBufferWrite(2, in, &n, &ring), 0u);
        next = static_cast<u16>(next + 2);
        ASSERT_EQ(klib_ringBufferGetCount(&ring), 2u);
        u16 out[2];
        ASSERT_EQ(klib_ringBufferRead(2, out, &n, &ring), 0u);
        ASSERT_EQ(out[0], expected);
        ASSERT_EQ(out[1], static_cast<u16>(expected + 1));
        expected = static_cast<u16>(expected + 2);
    }
    // 2000 elements through 3 slots: the wrap count went round the 8-bit range more than twice.
    EXPECT_EQ(ring.writePosition.load() >> 24, (2000u / 3u) & 0xFFu);
    EXPECT_EQ(klib_ringBufferClear(&ring), 0u);
    EXPECT_EQ(klib_ringBufferGetCount(&ring), 0u);
}

} // namespace

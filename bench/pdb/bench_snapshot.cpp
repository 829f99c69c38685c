// Snapshot recall: recall(recallSafe) with an empty recall-safe list against recallToCollection of the same
// snapshot, 200 kind-1 items over 200 components x 20 blocks x 64 UINT32. The difference is the private copy of
// the collection that recall(recallSafe) works on. Each benchmark reports its operator-new calls per iteration.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "pdb_ComponentInfoRepository.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_SimpleReadWriteMutex.h"
#include "pdb_SnapshotData.h"

namespace {

std::atomic<bool> g_Counting{false};
std::atomic<unsigned long long> g_Allocations{0};

void* countedAllocate(std::size_t size)
{
    if (g_Counting.load(std::memory_order_relaxed)) {
        g_Allocations.fetch_add(1, std::memory_order_relaxed);
    }
    void* block = std::malloc(size == 0 ? 1 : size);
    return block;
}

// Out of line, so that the compiler does not pair the replaced operators' malloc and free itself.
[[gnu::noinline]] void countedRelease(void* block) noexcept
{
    std::free(block);
}

} // namespace

void* operator new(std::size_t size)
{
    void* block = countedAllocate(size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}
void* operator new[](std::size_t size)
{
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return countedAllocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return countedAllocate(size);
}
void operator delete(void* block) noexcept
{
    countedRelease(block);
}
void operator delete[](void* block) noexcept
{
    countedRelease(block);
}
void operator delete(void* block, std::size_t) noexcept
{
    countedRelease(block);
}
void operator delete[](void* block, std::size_t) noexcept
{
    countedRelease(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept
{
    countedRelease(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    countedRelease(block);
}

namespace {

using namespace PDB;

constexpr u32 COMPONENTS = 200;
constexpr u32 BLOCKS = 20;

struct Scene
{
    SimpleReadWriteMutex mutex;
    SnapshotData data;
    bool ready = false;

    Scene()
    {
        ComponentInfo info;
        info.initialize("Bench20", 1, 1, 1, 1, 1, "", "", nullptr);
        const ParameterAttribute recallable(0, ParameterAttribute::FLAG_RECALLABLE);
        char address[16];
        for (u32 b = 0; b < BLOCKS; ++b) {
            std::snprintf(address, sizeof address, "/B%02u", static_cast<unsigned>(b));
            info.addParameterUInt32(address, 8, 8, "", "", 0, 0xFFFFFFFFu, 0, 0, 1, 1, recallable, "", "", "");
        }
        ComponentInfoRepository::getInstance().registerComponentInfo(info);
        if (ParameterDBCollection::createInstance(7, "SnapshotInfo", &mutex, 0) < 0 ||
            ParameterDBCollection::createInstance(10, "Bench", &mutex, 0) < 0) {
            return;
        }
        IParameterDB& db = ParameterDBCollection::getInstance(10);
        SnapshotContentsList contents;
        for (u32 c = 1; c <= COMPONENTS; ++c) {
            if (db.addComponent(c, "Bench20", 1, 0, 0, 0) < 0) {
                return;
            }
            const u32 index = db.getComponentIndex(c);
            for (u32 b = 0; b < BLOCKS; ++b) {
                for (u32 e = 0; e < 64; ++e) {
                    db.setValueUInt(index, b, e / 8, e % 8, c * 1000 + b * 64 + e, 0);
                }
            }
            contents.addComponent(db, c);
        }
        ready = data.initialize("HUX-NQ", 0, 0, contents, nullptr) == 0 && data.storeContents() == 0;
    }
};

Scene& scene()
{
    static Scene instance;
    return instance;
}

template <class Run> void measure(benchmark::State& state, Run run)
{
    if (!scene().ready) {
        state.SkipWithError("the scene could not be built");
        return;
    }
    unsigned long long allocations = 0;
    for (auto _ : state) {
        g_Allocations = 0;
        g_Counting = true;
        const i32 result = run();
        g_Counting = false;
        allocations = g_Allocations.load();
        if (result != 0) {
            state.SkipWithError("recall failed");
            return;
        }
    }
    state.counters["allocations"] = static_cast<double>(allocations);
}

void BM_SnapshotRecallToCollection(benchmark::State& state)
{
    measure(state, [] { return scene().data.recallToCollection(); });
}
BENCHMARK(BM_SnapshotRecallToCollection)->Unit(benchmark::kMillisecond);

void BM_SnapshotRecallWithEmptySafeList(benchmark::State& state)
{
    const SnapshotContentsList none;
    measure(state, [&] { return scene().data.recall(none); });
}
BENCHMARK(BM_SnapshotRecallWithEmptySafeList)->Unit(benchmark::kMillisecond);

} // namespace

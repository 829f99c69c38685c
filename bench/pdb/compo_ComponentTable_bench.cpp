// "#CT1" export and direct import of 1000 components x 20 blocks x 64 UINT32 (about 5.5 MB), against a
// memcpy of the same number of bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "pdb_ComponentInfo.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_LocalParameterDB.h"

namespace {

using namespace PDB;

constexpr u32 COMPONENTS = 1000;
constexpr u32 BLOCKS = 20;

LocalParameterDB& benchDB()
{
    static LocalParameterDB* db = [] {
        ComponentInfo info;
        info.initialize("TableBench", 1, 1, 1, 1, 1, "", "", nullptr);
        for (u32 b = 0; b < BLOCKS; ++b) {
            const std::string address = "/Block" + std::to_string(b);
            info.addParameterUInt32(address.c_str(), 64, 1, "", "", 0, 0xFFFFFFFF, 0, 0, 1, 1,
                                    ParameterAttribute(0, ParameterAttribute::FLAG_RECALLABLE), "", "", "");
        }
        ComponentInfoRepository::getInstance().registerComponentInfo(info);
        auto* created = new LocalParameterDB();
        for (u32 c = 0; c < COMPONENTS; ++c) {
            created->addComponent(c + 1, "TableBench", 1, 0, 0, 0);
            for (u32 b = 0; b < BLOCKS; ++b) {
                created->setValueUInt(c, b, static_cast<u32>(c % 64), 0, c * 31 + b, 0);
            }
        }
        return created;
    }();
    return *db;
}

void BM_ComponentTableExport(benchmark::State& state)
{
    LocalParameterDB& db = benchDB();
    std::vector<u8> buffer(db.getComponentTableSize());
    for (auto _ : state) {
        benchmark::DoNotOptimize(db.exportComponentTable(buffer.data(), static_cast<u32>(buffer.size()), 0));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(buffer.size()));
}
BENCHMARK(BM_ComponentTableExport)->Unit(benchmark::kMillisecond);

void BM_ComponentTableImportDirect(benchmark::State& state)
{
    LocalParameterDB& db = benchDB();
    std::vector<u8> record(db.getComponentTableSize());
    db.exportComponentTable(record.data(), static_cast<u32>(record.size()), 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(db.importComponentTable(record.data(), static_cast<u32>(record.size()), 8, 0xFF));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(record.size()));
}
BENCHMARK(BM_ComponentTableImportDirect)->Unit(benchmark::kMillisecond);

void BM_ComponentTableMemcpy(benchmark::State& state)
{
    const size_t size = benchDB().getComponentTableSize();
    std::vector<u8> source(size, 0x5A);
    std::vector<u8> target(size);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), size);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}
BENCHMARK(BM_ComponentTableMemcpy)->Unit(benchmark::kMillisecond);

} // namespace

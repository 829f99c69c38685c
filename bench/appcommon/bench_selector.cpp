// Element selectors in a change scan: swapChangeFlags and findNextChange over 1000 components x 20 blocks x 16
// elements with 1 % of the elements changed, with getParameterElementSelector asked for every change, against the
// same scan without it. Three of the 20 blocks form an "@xyz" set; argument 0 spreads the changes over every
// block, argument 1 puts them all into the set.
#include <benchmark/benchmark.h>

#include <string>

#include "lpc_ParameterSelector.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_ParameterDB.h"
#include "pdb_SimpleReadWriteMutex.h"

namespace {

constexpr u32 COMPONENTS = 1000;
constexpr u32 BLOCKS = 20;
constexpr u32 SET_BLOCKS = 3; // the last three
constexpr u32 ELEMENTS = 16;  // 4 x 4
constexpr u32 CHANGED = COMPONENTS * BLOCKS * ELEMENTS / 100;

class Observer : public PDB::IParameterDBCallback
{
public:
    i32 onParameterDBChanged() override { return 0; }
    i32 onParameterChanged() override { return 0; }
};

struct ScanDatabase
{
    PDB::SimpleReadWriteMutex m_mutex;
    PDB::ParameterDB m_db;
    Observer m_observer;
    u32 m_round = 0;

    ScanDatabase()
    {
        constexpr PDB::ParameterAttribute RECALLABLE{0, PDB::ParameterAttribute::FLAG_RECALLABLE};
        PDB::ComponentInfo info;
        info.initialize("SelectorBench", 1, 1, 1, 1, 1, "", "", nullptr);
        for (u32 b = 0; b < BLOCKS - SET_BLOCKS; ++b) {
            info.addParameterUInt32(("/Plain/p" + std::to_string(b)).c_str(), 4, 4, "", "", 0, 1000, 0, 0, 1, 1,
                                    RECALLABLE, "", "", "");
        }
        for (const char* address : {"/3DRev/Center@xyz@x", "/3DRev/Center@xyz@y", "/3DRev/Center@xyz@z"}) {
            info.addParameterUInt32(address, 4, 4, "", "", 0, 1000, 0, 0, 1, 1, RECALLABLE, "", "", "");
        }
        PDB::ComponentInfoRepository::getInstance().registerComponentInfo(info);
        m_db.initialize(1, "Scan", &m_mutex);
        for (u32 c = 0; c < COMPONENTS; ++c) {
            m_db.addComponent(c + 1, "SelectorBench", 1, 0, 0, 0);
        }
        m_db.registerCallback(1, &m_observer, 0);
    }

    // Changes 1 % of all elements, spread over the components and over every block or the set's blocks only.
    void change(bool setsOnly)
    {
        ++m_round;
        const u32 blocks = setsOnly ? SET_BLOCKS : BLOCKS;
        const u32 first = BLOCKS - blocks;
        const u32 total = COMPONENTS * blocks * ELEMENTS;
        for (u32 i = 0; i < CHANGED; ++i) {
            const u32 flat = static_cast<u32>((static_cast<u64>(i) * 7919 + m_round) % total);
            const u32 element = flat % ELEMENTS;
            m_db.setValueUInt(flat / (blocks * ELEMENTS), first + (flat / ELEMENTS) % blocks, element / 4, element % 4,
                              1 + (m_round & 1), 0);
        }
    }
};

template <bool withSelector> void scan(benchmark::State& state)
{
    ScanDatabase data;
    u64 found = 0;
    u64 inSets = 0;
    for (auto _ : state) {
        state.PauseTiming();
        data.change(state.range(0) != 0);
        state.ResumeTiming();
        data.m_db.swapChangeFlags(0);
        u32 c = 0, b = 0, x = 0, y = 0;
        while (data.m_db.findNextChange(0, c, b, x, y, false) == 0) {
            ++found;
            if constexpr (withSelector) {
                LPC::ElementSelector selector;
                (void)LPC::getParameterElementSelector(data.m_db, c, b, &selector);
                inSets += selector.m_hasSelector ? 1 : 0;
            }
        }
    }
    state.counters["found"] = static_cast<double>(found) / static_cast<double>(state.iterations());
    state.counters["inSets"] = static_cast<double>(inSets) / static_cast<double>(state.iterations());
}

void BM_ChangeScan(benchmark::State& state)
{
    scan<false>(state);
}
BENCHMARK(BM_ChangeScan)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_ChangeScanWithSelector(benchmark::State& state)
{
    scan<true>(state);
}
BENCHMARK(BM_ChangeScanWithSelector)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

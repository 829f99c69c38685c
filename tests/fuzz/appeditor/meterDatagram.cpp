// Fuzz target: one device meter datagram into the meter sets of two components. A refused datagram changes no
// meter byte; a taken one changes only bytes of one meter array, each to the payload byte at its place.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "dadov_MeterPool.h"
#include "pyrite_MeterDatagram.h"
#include "pyrite_Result.h"

namespace {

constexpr u32 U8_TYPE = 2;
constexpr u32 UIDS[] = {7, 0x2A01};
constexpr u32 SIZES[] = {64, 16, 1}; // bytes of meters 0..2
constexpr u32 METERS = 3;

class Components : public PYRITE::IMeterPoolFinder
{
public:
    Components()
    {
        std::vector<u32> descriptors;
        for (u32 size : SIZES) {
            const u32 words[8] = {U8_TYPE, size, 0, 0, 0, 0, 0, 0};
            descriptors.insert(descriptors.end(), words, words + 8);
        }
        for (DADOV::MeterPool& pool : m_pools) {
            if (pool.initialize(descriptors.data(), METERS, 0, 1, 1, 255, 1000) != DADOV::DADOV_OK) {
                std::abort();
            }
        }
    }
    DADOV::MeterPool* findMeterPool(u32 uid) override
    {
        for (u32 i = 0; i < 2; ++i) {
            if (UIDS[i] == uid) {
                return &m_pools[i];
            }
        }
        return nullptr;
    }
    // Every byte of sets 2 and 3 of both pools, one vector per array.
    std::vector<std::vector<u8>> contents() const
    {
        std::vector<std::vector<u8>> arrays;
        for (const DADOV::MeterPool& pool : m_pools) {
            for (u32 set = 2; set <= 3; ++set) {
                for (u32 meter = 0; meter < METERS; ++meter) {
                    arrays.emplace_back();
                    if (pool.copyMeterArray(set, meter, arrays.back()) != DADOV::DADOV_OK) {
                        std::abort();
                    }
                }
            }
        }
        return arrays;
    }

    DADOV::MeterPool m_pools[2];
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Components components;
    // A copy of exactly the input's size, so that a read past the length is caught.
    const std::vector<u8> datagram(data, data + size);
    const std::vector<std::vector<u8>> before = components.contents();
    const u32 rc = PYRITE::writeMeterDatagram(components, datagram.data(), static_cast<u32>(datagram.size()));
    const std::vector<std::vector<u8>> after = components.contents();
    if (rc != PYRITE::PYRITE_OK && rc != PYRITE::PYRITE_E_FAILED) {
        std::abort();
    }
    size_t changedArrays = 0;
    for (size_t a = 0; a < after.size(); ++a) {
        if (after[a] == before[a]) {
            continue;
        }
        ++changedArrays;
        if (rc != PYRITE::PYRITE_OK || datagram.size() < 6) {
            std::abort();
        }
        const size_t offset = (static_cast<size_t>(datagram[4]) << 8) | datagram[5];
        for (size_t i = 0; i < after[a].size(); ++i) {
            if (after[a][i] != before[a][i] &&
                (i < offset || 6 + i - offset >= datagram.size() || after[a][i] != datagram[6 + i - offset])) {
                std::abort();
            }
        }
    }
    if (changedArrays > 1) {
        std::abort();
    }
    return 0;
}

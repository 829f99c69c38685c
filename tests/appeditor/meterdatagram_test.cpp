// Device meter datagrams into the meter sets: what is refused, what carries nothing here, and the exact bytes a
// fitting one writes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dadov_MeterPool.h"
#include "pyrite_MeterDatagram.h"
#include "pyrite_Result.h"

namespace {

using PYRITE::PYRITE_E_FAILED;
using PYRITE::PYRITE_OK;

constexpr u32 UID = 7;
constexpr u32 U8_TYPE = 2;
constexpr u32 SIZES[] = {64, 16}; // bytes of meter 0 and 1

// Component UID with two byte meters of 64 and 16 bytes.
class OneComponent : public PYRITE::IMeterPoolFinder
{
public:
    OneComponent()
    {
        std::vector<u32> descriptors;
        for (u32 size : SIZES) {
            const u32 words[8] = {U8_TYPE, size, 0, 0, 0x6D, 0, 0, 0};
            descriptors.insert(descriptors.end(), words, words + 8);
        }
        EXPECT_EQ(m_pool.initialize(descriptors.data(), 2, UID, 1, 1, 255, 1000), DADOV::DADOV_OK);
    }
    DADOV::MeterPool* findMeterPool(u32 uid) override { return uid == UID ? &m_pool : nullptr; }

    // Sets 2 and 3, meters 0 and 1, end to end.
    std::vector<u8> contents() const
    {
        std::vector<u8> all;
        for (u32 set = 2; set <= 3; ++set) {
            for (u32 meter = 0; meter < 2; ++meter) {
                std::vector<u8> bytes;
                EXPECT_EQ(m_pool.copyMeterArray(set, meter, bytes), DADOV::DADOV_OK);
                EXPECT_EQ(bytes.size(), SIZES[meter]);
                all.insert(all.end(), bytes.begin(), bytes.end());
            }
        }
        return all;
    }
    // Position of a meter byte in contents().
    static size_t at(u32 set, u32 meter, u32 offset)
    {
        return (set - 2) * (SIZES[0] + SIZES[1]) + meter * SIZES[0] + offset;
    }

    DADOV::MeterPool m_pool;
};

std::vector<u8> datagram(u8 head, u8 uidLow, u8 uidHigh, u8 meter, u16 offset, u32 payload)
{
    std::vector<u8> bytes = {head, uidLow, uidHigh, meter, static_cast<u8>(offset >> 8), static_cast<u8>(offset)};
    for (u32 i = 0; i < payload; ++i) {
        bytes.push_back(static_cast<u8>(0xA0 + i));
    }
    return bytes;
}

TEST(MeterDatagram, RefusesIgnoresAndWrites)
{
    struct Case
    {
        const char* m_what;
        std::vector<u8> m_bytes;
        u32 m_result;
        u32 m_set; // 0: nothing written
        u32 m_meter;
        u32 m_offset;
    };
    const std::vector<Case> cases = {
        {"three bytes", {0x20, UID, 0}, PYRITE_E_FAILED, 0, 0, 0},
        {"no flag", datagram(0x00, UID, 0, 0, 0, 4), PYRITE_E_FAILED, 0, 0, 0},
        {"unknown uid", datagram(0x20, UID + 1, 0, 0, 0, 4), PYRITE_E_FAILED, 0, 0, 0},
        {"uid high byte counts", datagram(0x20, UID, 1, 0, 0, 4), PYRITE_E_FAILED, 0, 0, 0},
        {"offset 60 with 8 bytes into 64", datagram(0x20, UID, 0, 0, 60, 8), PYRITE_E_FAILED, 0, 0, 0},
        {"offset high byte counts", datagram(0x20, UID, 0, 0, 0x100, 1), PYRITE_E_FAILED, 0, 0, 0},
        {"largest offset", datagram(0x20, UID, 0, 0, 0xFFFF, 8), PYRITE_E_FAILED, 0, 0, 0},
        {"no such meter", datagram(0x20, UID, 0, 2, 0, 1), PYRITE_E_FAILED, 0, 0, 0},
        {"kind 3 carries nothing", datagram(0x23, UID, 0, 0, 0, 4), PYRITE_OK, 0, 0, 0},
        {"kind 31 carries nothing", datagram(0x3F, UID + 1, 0, 0, 0, 4), PYRITE_OK, 0, 0, 0},
        {"kind 0 up to the end", datagram(0x20, UID, 0, 0, 56, 8), PYRITE_OK, 2, 0, 56},
        {"kind 2, meter 1", datagram(0xE2, UID, 0, 1, 3, 13), PYRITE_OK, 2, 1, 3},
        {"kind 5", datagram(0x25, UID, 0, 0, 0, 64), PYRITE_OK, 2, 0, 0},
        {"kind 1: the second set", datagram(0x21, UID, 0, 1, 0, 16), PYRITE_OK, 3, 1, 0},
        {"empty payload", datagram(0x21, UID, 0, 0, 64, 0), PYRITE_OK, 0, 0, 0},
    };
    OneComponent component;
    std::vector<u8> expected = component.contents();
    for (const Case& c : cases) {
        EXPECT_EQ(PYRITE::writeMeterDatagram(component, c.m_bytes.data(), static_cast<u32>(c.m_bytes.size())),
                  c.m_result)
            << c.m_what;
        if (c.m_set != 0) {
            std::memcpy(&expected[OneComponent::at(c.m_set, c.m_meter, c.m_offset)], c.m_bytes.data() + 6,
                        c.m_bytes.size() - 6);
        }
        EXPECT_EQ(component.contents(), expected) << c.m_what;
    }
    EXPECT_EQ(PYRITE::writeMeterDatagram(component, nullptr, 8), PYRITE_E_FAILED);
}

} // namespace

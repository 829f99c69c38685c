// Resolved-address records: hash, refusals that leave the record alone, and owned texts.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "klib_Codec.h"
#include "pdb_ParameterAddress.h"

using namespace PDB;

namespace {

constexpr i32 FAILURE = static_cast<i32>(0x80000000u);
constexpr i32 NOT_SUPPORTED = static_cast<i32>(0x80080000u);

std::vector<u8> concatenation(const std::string& name, u32 uid, const std::string& address, i32 number)
{
    std::vector<u8> out(name.begin(), name.end());
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<u8>(uid >> (8 * i)));
    }
    out.insert(out.end(), address.begin(), address.end());
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<u8>(static_cast<u32>(number) >> (8 * i)));
    }
    return out;
}

struct Snapshot
{
    std::string name;
    std::string address;
    u32 uid, db, component, block, hash;
    i32 number;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snap(const ParameterAddress& a)
{
    return {a.getDatabaseName(),   a.getAddress(),    a.getComponentUID(), a.getDatabaseId(),
            a.getComponentIndex(), a.getBlockIndex(), a.getHash(),         a.getComponentNumber()};
}

} // namespace

TEST(ParameterAddress, HashGoldenAndAgainstZlib)
{
    ParameterAddress a;
    ASSERT_EQ(a.setTexts("Profile", 5, "/Info/Title"), 0);
    EXPECT_FALSE(a.isValid());
    ASSERT_EQ(a.setIndices(3, 1, 0, 2), 0);
    EXPECT_TRUE(a.isValid());
    EXPECT_EQ(a.getHash(), 0xFA0BBDEAu);
    const u8 head[] = {0x50, 0x72, 0x6F, 0x66, 0x69, 0x6C, 0x65, 0x05, 0x00, 0x00, 0x00};
    const std::string title = "/Info/Title";
    std::vector<u8> bytes(sizeof head + title.size() + 4, 0);
    std::memcpy(bytes.data(), head, sizeof head);
    std::memcpy(bytes.data() + sizeof head, title.data(), title.size());
    EXPECT_EQ(klib_crc32(bytes.data(), static_cast<u32>(bytes.size())), 0xFA0BBDEAu);

    std::mt19937 random(11);
    for (int i = 0; i < 200; ++i) {
        std::string name(random() % 17, 'a');
        std::string address(random() % 40, '/');
        for (char& c : name) {
            c = static_cast<char>('A' + random() % 26);
        }
        for (char& c : address) {
            c = static_cast<char>(0x20 + random() % 0x5F);
        }
        const u32 uid = static_cast<u32>(random());
        const i32 number = static_cast<i32>(random() % 0x8000);
        ParameterAddress r;
        ASSERT_EQ(r.setTexts(name.c_str(), uid, address.c_str()), 0);
        ASSERT_EQ(r.setIndices(1, 2, number, 3), 0);
        const std::vector<u8> all = concatenation(name, uid, address, number);
        EXPECT_EQ(r.getHash(), static_cast<u32>(crc32(0, all.data(), static_cast<uInt>(all.size()))));
        EXPECT_EQ(r.getHash(), ParameterAddress::computeHash(name.c_str(), uid, address.c_str(), number));
    }
}

TEST(ParameterAddress, RefusalsLeaveTheRecordUnchanged)
{
    ParameterAddress empty;
    EXPECT_STREQ(empty.getDatabaseName(), "");
    EXPECT_EQ(empty.getComponentUID(), INVALID_COMPONENT_UID);
    EXPECT_EQ(empty.getDatabaseId(), 0xFFFFFFFFu);
    EXPECT_EQ(empty.getComponentIndex(), 0xFFFFFFFFu);
    EXPECT_EQ(empty.getComponentNumber(), -1);
    EXPECT_EQ(empty.getBlockIndex(), 0xFFFFFFFFu);
    EXPECT_EQ(empty.getHash(), 0u);
    EXPECT_FALSE(empty.isValid());

    ParameterAddress a;
    ASSERT_EQ(a.setTexts("Status", 9, "/Meter/Level"), 0);
    ASSERT_EQ(a.setIndices(6, 4, 2, 1), 0);
    const Snapshot before = snap(a);
    EXPECT_EQ(a.setIndices(0xFFFFFFFF, 4, 2, 1), FAILURE);
    EXPECT_EQ(a.setIndices(6, 0xFFFFFFFF, 2, 1), FAILURE);
    EXPECT_EQ(a.setIndices(6, 4, 2, 0xFFFFFFFF), FAILURE);
    EXPECT_EQ(a.setIndices(6, 4, -1, 1), FAILURE);
    EXPECT_EQ(snap(a), before);
    EXPECT_EQ(a.setTexts(nullptr, 9, "/x"), NOT_SUPPORTED);
    EXPECT_EQ(a.setTexts("Status", 9, nullptr), NOT_SUPPORTED);
    EXPECT_EQ(snap(a), before);
    EXPECT_TRUE(a.isValid());

    // New texts make the record unresolved again; reset empties it.
    ASSERT_EQ(a.setTexts("Status", 10, "/Meter/Level"), 0);
    EXPECT_FALSE(a.isValid());
    EXPECT_EQ(a.getBlockIndex(), 0xFFFFFFFFu);
    EXPECT_EQ(a.getHash(), 0u);
    a.setIndices(6, 4, 2, 1);
    a.reset();
    EXPECT_EQ(snap(a), snap(empty));
}

TEST(ParameterAddress, RecordOwnsItsTexts)
{
    ParameterAddress a;
    {
        std::string name = "Temporary";
        std::string address = "/ZOZ/Object/PhysicalPosition@xyz@x";
        ASSERT_EQ(a.setTexts(name.c_str(), 3, address.c_str()), 0);
        name.assign(64, 'z'); // the caller's buffers change and go away
    }
    std::vector<char*> churn;
    for (int i = 0; i < 16; ++i) {
        churn.push_back(new char[40]());
    }
    ASSERT_EQ(a.setIndices(1, 0, 0, 0), 0);
    EXPECT_STREQ(a.getDatabaseName(), "Temporary");
    EXPECT_STREQ(a.getAddress(), "/ZOZ/Object/PhysicalPosition@xyz@x");
    EXPECT_EQ(a.getHash(), ParameterAddress::computeHash("Temporary", 3, "/ZOZ/Object/PhysicalPosition@xyz@x", 0));
    ParameterAddress copy = a;
    a.reset();
    EXPECT_STREQ(copy.getAddress(), "/ZOZ/Object/PhysicalPosition@xyz@x");
    EXPECT_TRUE(copy.isValid());
    for (char* p : churn) {
        delete[] p;
    }
}

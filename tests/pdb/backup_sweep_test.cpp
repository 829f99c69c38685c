// Reader sweep over a valid three-database backup: truncations, flipped header bytes and seeded random flips.
// Every read must end with one of the reader's result codes, and a refused file must leave all three databases
// exactly as they were.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "backup_TestUtil.h"
#include "compo_TestTypes.h"
#include "pdb_BackupFile.h"

using namespace PDB;
using namespace backup_test;

namespace {

// Keeps the readers' log lines of a whole sweep out of the test output.
struct QuietLog
{
    QuietLog() { testing::internal::CaptureStdout(); }
    ~QuietLog() { testing::internal::GetCapturedStdout(); }
};

class BackupSweep : public testing::Test
{
protected:
    void SetUp() override
    {
        registerKeep();
        compo_test::registerGain();
        IParameterDB& profile = makeShared(0, "Profile");
        IParameterDB& device = makeShared(1, "DeviceSetup");
        IParameterDB& staticSetup = makeShared(2, "StaticSetup");
        profile.addComponent(0x11, "Keep", 1, 0, 0, 0);
        profile.addComponent(0x12, "Keep", 1, 0, 0, 0);
        device.addComponent(0x21, "Keep", 1, 0, 0, 0);
        device.addComponent(0x22, "Gain", 1, 2, 1, 0);
        staticSetup.addComponent(0x31, "Gain", 1, 0, 0, 0);
        fillKeep(profile, 10);
        fillKeep(device, 20);
        compo_test::fillGain(staticSetup, 0);
        m_dbs = {&profile, &device, &staticSetup};

        ASSERT_EQ(
            m_backup.setup("ZethImage", 0, {{&profile, 0}, {&device, 1}, {&staticSetup, 2}}, m_dir.path().c_str()), 0);
        ASSERT_EQ(m_backup.exportToFile("valid.bup"), 0);
        m_valid = readBytes(m_dir.file("valid.bup"));
        ASSERT_GT(m_valid.size(), 500u);
        scramble();
    }

    // Values that differ from the file's in every database, so that any import that takes place is visible.
    void scramble()
    {
        fillKeep(*m_dbs[0], 70);
        fillKeep(*m_dbs[1], 80);
        m_dbs[2]->setValueInt(0u, 0u, 1u, 0u, -5, 0);
        m_dbs[2]->setValueUInt(0u, 1u, 2u, 0u, 9, 0);
    }

    std::vector<std::vector<u8>> snapshot() const
    {
        std::vector<std::vector<u8>> tables;
        for (const IParameterDB* db : m_dbs) {
            tables.push_back(exportTable(*db));
        }
        return tables;
    }

    // Imports the image; checks the result code and, for a refusal, that nothing changed.
    void importImage(const std::vector<u8>& image, const std::string& what)
    {
        writeBytes(m_dir.file("mutated.bup"), image);
        const std::vector<std::vector<u8>> before = snapshot();
        const i32 result = m_backup.importFromFile("mutated.bup");
        ++m_counts[result];
        const std::set<i32> known = {0, static_cast<i32>(0x80000000u), static_cast<i32>(0x80020000u),
                                     static_cast<i32>(0x80010000u)};
        ASSERT_TRUE(known.count(result) != 0) << what << ": " << std::hex << result;
        if (result < 0) {
            ASSERT_EQ(snapshot(), before) << what << ": " << std::hex << result;
        } else {
            scramble();
        }
    }

    // Offsets of the bytes of every block header and every "#CT1", "#CI1" and "#PR1" header of the file.
    std::vector<size_t> headerBytes() const
    {
        std::vector<size_t> at;
        size_t pos = 0;
        while (pos + 36 <= m_valid.size()) {
            for (size_t i = 0; i < 36; ++i) {
                at.push_back(pos + i);
            }
            const u64 info = be32(m_valid, pos + 24);
            const u64 data = be32(m_valid, pos + 28);
            pos += 36 + ((info + 3) & ~u64{3}) + ((data + 3) & ~u64{3});
        }
        auto mark = [&](const char* tag, size_t length) {
            for (size_t p = 0; p + 4 <= m_valid.size(); ++p) {
                if (std::memcmp(&m_valid[p], tag, 4) == 0) {
                    size_t n = length;
                    if (std::strcmp(tag, "#CT1") == 0) {
                        n += 4 * static_cast<size_t>(be32(m_valid, p + 8));
                    }
                    for (size_t i = 0; i < n && p + i < m_valid.size(); ++i) {
                        at.push_back(p + i);
                    }
                }
            }
        };
        mark("#CT1", 12);
        mark("#CI1", 92);
        mark("#PR1", 16);
        return at;
    }

    // Thousands of small files: kept in memory when the system offers a memory file system.
    ScratchDir m_dir{::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp"};
    BackupFile m_backup;
    std::vector<IParameterDB*> m_dbs;
    std::vector<u8> m_valid;
    std::map<i32, int> m_counts;
};

TEST_F(BackupSweep, EveryTruncation)
{
    QuietLog quiet;
    for (size_t length = 0; length < m_valid.size(); ++length) {
        importImage(std::vector<u8>(m_valid.begin(), m_valid.begin() + static_cast<std::ptrdiff_t>(length)),
                    "length " + std::to_string(length));
        if (HasFatalFailure()) {
            return;
        }
    }
    // Everything but the whole file is refused.
    EXPECT_EQ(m_counts[0], 0);
    EXPECT_EQ(m_backup.importFromFile("valid.bup"), 0);
    EXPECT_EQ(m_dbs[0]->getValueUInt(1u, 0u, 3u, 0u, nullptr), 23u);
}

TEST_F(BackupSweep, EveryHeaderByteFlipped)
{
    const std::vector<size_t> positions = headerBytes();
    ASSERT_GT(positions.size(), 5u * 36u + 3u * 12u + 5u * 92u);
    QuietLog quiet;
    for (size_t pos : positions) {
        for (u8 mask : {u8{0xFF}, u8{0x01}, u8{0x80}}) {
            std::vector<u8> image = m_valid;
            image[pos] ^= mask;
            importImage(image, "byte " + std::to_string(pos) + " ^ " + std::to_string(mask));
            if (HasFatalFailure()) {
                return;
            }
        }
    }
    // The sweep reached both outcomes: damage refused and harmless changes accepted.
    EXPECT_GT(m_counts[static_cast<i32>(0x80010000u)], 0);
    EXPECT_GT(m_counts[static_cast<i32>(0x80000000u)], 0);
    EXPECT_GT(m_counts[0], 0);
}

TEST_F(BackupSweep, SeededRandomFlips)
{
    std::mt19937 random(20260401);
    QuietLog quiet;
    for (int round = 0; round < 10000; ++round) {
        std::vector<u8> image = m_valid;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i) {
            image[random() % image.size()] ^= static_cast<u8>(1u << (random() % 8));
        }
        importImage(image, "round " + std::to_string(round));
        if (HasFatalFailure()) {
            return;
        }
    }
    EXPECT_GT(m_counts[0], 0);
    EXPECT_GT(m_counts[static_cast<i32>(0x80010000u)] + m_counts[static_cast<i32>(0x80000000u)], 0);
}

} // namespace

// The production unit (set-up checked, connect refused with one error line) and the file holders.
#include <gtest/gtest.h>

#include <string>

#include "comctrl_FileAccessor.h"
#include "comctrl_Result.h"
#include "comctrl_ServerUnit.h"

using namespace ComControl;

namespace {

class NullOwner : public IUnitConnectObserver, public IEventExecutor, public IProgressMonitor, public IDirSyncStrategy
{
public:
    i32 connected(u32) override { return 0; }
    i32 connectFailed(u32) override { return 0; }
    i32 disconnected(u32) override { return 0; }
    i32 synchronizerStateChanged(u32, UnitPart, u32, u32) override { return 0; }
    i32 execute(u32, const char*, const char*) override { return 0; }
    i32 progress(const char*, u32, u64, u64) override { return 0; }
    i32 checkPath(const char*) override { return 0; }
};

VCOM::VComSocketAddress ipv4(const char* text)
{
    return VCOM::VComSocketAddress(VSOCK_FAMILY_IPV4, text);
}

} // namespace

TEST(ProductionUnit, KeepsItsSetUpAndRefusesToConnectWithOneErrorLine)
{
    NullOwner owner;
    FileAccessor files;
    ASSERT_EQ(files.initialize("/tmp"), COMCTRL_OK);
    std::unique_ptr<ServerUnit> unit = getProductionUnitFactory().create(nullptr);
    ASSERT_NE(unit, nullptr);

    testing::internal::CaptureStdout();
    EXPECT_EQ(unit->connect(ipv4("127.0.0.1"), DEVICE_PORT), COMCTRL_E_NOT_READY);
    EXPECT_EQ(unit->setPartId(UnitPart::EventMessenger, 0, "EVT"), COMCTRL_E_NOT_READY);
    EXPECT_EQ(unit->initialize(0, 1, 17, 1, 3, ipv4("127.0.0.1"), &owner, &owner, 0x100000), COMCTRL_E_FAILED);
    EXPECT_EQ(unit->initialize(0, 1, 11, 1, 3, ipv4("127.0.0.1"), &owner, nullptr, 0x100000), COMCTRL_E_FAILED);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    unit->setMode(1);
    ASSERT_EQ(unit->initialize(4, 1, 11, 1, 3, ipv4("127.0.0.1"), &owner, &owner, 0x100000), COMCTRL_OK);
    EXPECT_EQ(unit->getUnitId(), 4u);
    EXPECT_EQ(unit->setPartId(UnitPart::EventMessenger, 0, "EVT"), COMCTRL_OK);
    EXPECT_EQ(unit->setPartId(UnitPart::EventMessenger, 0, "E V"), COMCTRL_E_FAILED);
    EXPECT_EQ(unit->setPartId(UnitPart::EventMessenger, 1, "EVT"), COMCTRL_E_NOT_READY);
    EXPECT_EQ(unit->setupEventMessenger(0, "Event", &owner, 240), COMCTRL_OK);
    EXPECT_EQ(unit->setupPdbSynchronizer(10, "CMP", 10), COMCTRL_OK);
    EXPECT_EQ(unit->setupPdbSynchronizer(11, "XXX", 11), COMCTRL_E_NOT_READY);
    EXPECT_EQ(unit->setupFileSynchronizer(0, "Config", &files, 240, nullptr), COMCTRL_E_FAILED);
    EXPECT_EQ(unit->setupFileSynchronizer(0, "Config", &files, 240, &owner), COMCTRL_OK);
    EXPECT_EQ(unit->setupDirSynchronizer(2, "VWP", "/tmp/VWP", 50, &files, 240, &owner), COMCTRL_OK);
    EXPECT_EQ(unit->setupDirSynchronizer(1, "Snapshot", "/tmp/Snapshot", 0, &files, 240, &owner), COMCTRL_E_FAILED);

    // Operations on parts that are not set up say so before anything else.
    EXPECT_EQ(unit->startSync(UnitPart::PdbSynchronizer, 0, 2), COMCTRL_E_NOT_READY);
    EXPECT_EQ(unit->startSync(UnitPart::PdbSynchronizer, 10, 2), COMCTRL_E_NOT_CONNECTED);
    EXPECT_EQ(unit->sendEvent(0, "KeepAlive", "", 0), COMCTRL_E_NOT_CONNECTED);
    EXPECT_EQ(unit->sendFile(1, "CompileResult.json", 1), COMCTRL_E_NOT_READY);
    EXPECT_EQ(unit->getSyncStatus(UnitPart::PdbSynchronizer, 10), SYNC_STATUS_IDLE);
    u32 initial = 7;
    u32 requested = 7;
    EXPECT_EQ(unit->getDirSyncCounters(DIR_COUNTERS_SNAPSHOT, &initial, &requested), COMCTRL_OK);
    EXPECT_EQ(initial + requested, 0u);
    EXPECT_EQ(unit->getDirSyncCounters(2, &initial, &requested), COMCTRL_E_FAILED);

    testing::internal::CaptureStdout();
    EXPECT_EQ(unit->connect(ipv4("192.0.2.7"), DEVICE_PORT), COMCTRL_E_NO_LINK);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("[E] ServerUnit::connect - cannot connect to 192.0.2.7:50368", 0), 0u) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
    EXPECT_FALSE(unit->isConnected());
}

TEST(FileHolders, PathsStayInsideTheirFolderAndTheCacheKeepsItsBound)
{
    const std::pair<const char*, bool> paths[] = {
        {"a.zethis", true},     {"sub/a.zethip", true}, {"..a", true},        {"", false},
        {"/etc/passwd", false}, {"..", false},          {"a/../../b", false}, {"a//b", false},
        {"a\\b", false},        {"a/", false},          {"./a", false},       {nullptr, false},
    };
    FileAccessor files;
    std::string out = "untouched";
    EXPECT_EQ(files.makePath("a", &out), COMCTRL_E_NOT_READY);
    EXPECT_EQ(files.initialize(""), COMCTRL_E_FAILED);
    ASSERT_EQ(files.initialize("/data/Snapshot"), COMCTRL_OK);
    for (const auto& [path, safe] : paths) {
        EXPECT_EQ(isSafeRelativePath(path), safe) << (path != nullptr ? path : "null");
        EXPECT_EQ(files.makePath(path, &out), safe ? COMCTRL_OK : COMCTRL_E_FAILED);
        if (safe) {
            EXPECT_EQ(out, std::string("/data/Snapshot/") + path);
        }
    }

    FileInfoCache cache;
    EXPECT_EQ(cache.set("a", 1, 1), COMCTRL_E_NOT_READY);
    ASSERT_EQ(cache.initialize(2), COMCTRL_OK);
    EXPECT_EQ(cache.set("b.zethis", 10, 100), COMCTRL_OK);
    EXPECT_EQ(cache.set("a.zethis", 20, 200), COMCTRL_OK);
    EXPECT_EQ(cache.set("c.zethis", 30, 300), COMCTRL_E_LIMIT);
    EXPECT_EQ(cache.set("b.zethis", 11, 101), COMCTRL_OK); // an update needs no room
    EXPECT_EQ(cache.set("../x", 1, 1), COMCTRL_E_FAILED);
    ASSERT_EQ(cache.getCount(), 2u);
    EXPECT_EQ(cache.at(0)->m_path, "a.zethis");
    EXPECT_EQ(cache.at(1)->m_size, 11u);
    EXPECT_EQ(cache.find("c.zethis"), nullptr);
    EXPECT_EQ(cache.remove("a.zethis"), COMCTRL_OK);
    EXPECT_EQ(cache.remove("a.zethis"), COMCTRL_E_FAILED);
    EXPECT_EQ(cache.set("c.zethis", 30, 300), COMCTRL_OK);
    EXPECT_EQ(cache.find("c.zethis")->m_modified, 300u);
    EXPECT_EQ(cache.initialize(0), COMCTRL_E_FAILED);
    EXPECT_EQ(cache.getCount(), 0u);
}

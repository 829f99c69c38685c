// The executor on one thread: the dispatch table's answering and silent rows, replies and notifications, the
// editor-state classes, the device-setting table and the parameter-change notification.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pdb_ParameterDBCollection.h"
#include "tms_ThreadTestSupport.h"
#include "vdp_Executor.h"
#include "vdp_ExecutorRig.h"
#include "vdp_PacketConvertor.h"

namespace {

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new tmstest::RepositoryEnvironment());

using VDevice::DeviceSettingTable;
using VDevice::VDProtocolExecutor;

class ExecutorTest : public ::testing::Test
{
protected:
    void dispatch(const std::string& line)
    {
        VDProtocol::PacketContainer packet;
        ASSERT_EQ(VDProtocol::decodePacket(line, packet), 0) << line;
        EXPECT_EQ(m_executor.dispatchPacket(packet), 0);
    }
    static std::string request(const std::string& cmd)
    {
        return R"({"request":{"cmd":")" + cmd + R"(","from":"editor","reqid":"r1","to":"device"}})";
    }

    vdptest::CaptureUnit m_unit;
    VDProtocolExecutor m_executor{"device-uid", &m_unit};
};

TEST_F(ExecutorTest, DispatchAnswersOkRowsAndDropsSilentRowsAndUnknownInput)
{
    const char* const okRows[] = {"add_prmset",    "add_prmset_duplicate", "add_prmset_assign", "del_modified",
                                  "del_peak_hold", "del_prmset",           "del_prmset_assign", "set_save",
                                  "set_load",      "set_security_check",   "set_prmset"};
    for (const char* cmd : okRows) {
        dispatch(request(cmd));
        const std::vector<std::string> lines = m_unit.takeLines();
        ASSERT_EQ(lines.size(), 1u) << cmd;
        EXPECT_EQ(lines[0], std::string(R"({"reply":{"cmd":")") + cmd +
                                R"(","from":"device","message":"","progress":"100","reqid":"r1","result":"ok",)"
                                R"("to":"editor"}})");
    }

    const char* const silentRows[] = {"del_alert_log", "get_modified", "get_alert_log", "get_net_info", "get_detect",
                                      "get_prm_val", "get_prm_info", "set_auto_save", "set_identify", "set_update",
                                      "set_reboot", "set_real_dev_net_info", "set_prm_step", "setData_prm_step",
                                      // unknown cmdinfos and commands
                                      "set_nothing", "add_Cpt_info", "set_", "put_save", "setdata_prm_val"};
    for (const char* cmd : silentRows) {
        dispatch(request(cmd));
        EXPECT_TRUE(m_unit.takeLines().empty()) << cmd;
    }
    VDProtocol::PacketContainer packet;
    ASSERT_EQ(VDProtocol::decodePacket(request("set_save"), packet), 0);
    packet.m_command = std::string("set\0x", 5); // compared whole, not up to the NUL
    EXPECT_EQ(m_executor.dispatchPacket(packet), 0);
    EXPECT_TRUE(m_unit.takeLines().empty());
    packet.m_command = "set";
    for (const char* type : {"reply", "notify", "connected", "Request", ""}) {
        packet.m_type = type;
        EXPECT_EQ(m_executor.dispatchPacket(packet), 0);
        EXPECT_TRUE(m_unit.takeLines().empty()) << type;
    }
    EXPECT_EQ(m_executor.getPendingRequests().getCount(), 0u);
}

TEST_F(ExecutorTest, LinesBuiltFromScratchCarryTheIdentityAndNeedAUnit)
{
    VDProtocolExecutor detached("device-uid", nullptr);
    VDProtocol::PacketContainer packet;
    packet.m_cmdInfo = "dev_status";
    EXPECT_EQ(detached.makeReply(packet), VDProtocol::RESULT_NG);
    EXPECT_EQ(detached.sendNotify(packet), VDProtocol::RESULT_NG);
    EXPECT_EQ(detached.sendConnected(), VDProtocol::RESULT_NG);

    EXPECT_EQ(m_executor.sendConnected(), 0);
    EXPECT_EQ(m_executor.onDisconnectReply(0), 0);
    EXPECT_EQ(m_unit.takeLines(),
              (std::vector<std::string>{R"({"connected":{"from":"device-uid"}})",
                                        R"({"notify":{"cmd":"Disconnect","from":"device-uid","message":"",)"
                                        R"("progress":"100","result":"ok"}})"}));
}

TEST_F(ExecutorTest, EditorStateClassesAndDeviceStatusOnlyOnAClassChange)
{
    const i32 classes[] = {0, 0, 0, 0, 1, 1, -1, -1, 1, 1, 2, -1};
    for (u32 state = 0; state < 12; ++state) {
        EXPECT_EQ(VDProtocolExecutor::classifyEditorState(state), classes[state]) << state;
    }
    EXPECT_EQ(VDProtocolExecutor::classifyEditorState(0xFFFFFFFFu), -1);

    const auto status = [](const char* deviceStatus) {
        return std::string(R"({"notify":{"cmd":"dev_status","cmdinfo":{"info":{"devIpAddr":"","devMacAddr":"",)"
                           R"("deviceStatus":)") +
               deviceStatus + R"(}},"from":"device-uid"}})";
    };
    const struct
    {
        u32 state;
        std::vector<std::string> lines;
    } steps[] = {{2, {}}, {4, {status("1")}}, {5, {}}, {10, {status("2")}}, {7, {status("-1")}}, {11, {}}};
    for (const auto& step : steps) {
        EXPECT_EQ(m_executor.onEditorStateChanged(step.state), 0);
        EXPECT_EQ(m_unit.takeLines(), step.lines) << step.state;
    }
}

TEST(DeviceSettingTable, RowsAreFoundByTheExactKey)
{
    EXPECT_EQ(&VDProtocolExecutor::findDeviceSetting("VDeviceCapacity"), &DeviceSettingTable[23]);
    EXPECT_EQ(&VDProtocolExecutor::findDeviceSetting("MeterPeakHold"), &DeviceSettingTable[24]);
    for (const char* key : {"vdevicecapacity", "VDeviceCapacity ", "VirtualPeakHold", ""}) {
        EXPECT_EQ(&VDProtocolExecutor::findDeviceSetting(key), &DeviceSettingTable[0]) << key;
    }
}

class DeviceSettingTest : public ExecutorTest
{
protected:
    void setVersions(u32 real, u32 virtualDevice)
    {
        ASSERT_EQ(
            m_executor.writeDeviceSetting(VDProtocolExecutor::findDeviceSetting("RealSyncVersion"), KVariant(real)), 0);
        ASSERT_EQ(m_executor.writeDeviceSetting(VDProtocolExecutor::findDeviceSetting("VirtualSyncVersion"),
                                                KVariant(virtualDevice)),
                  0);
    }

    vdptest::ShippedDatabases m_databases{"Profile", "VDeviceSetup"};
};

TEST_F(DeviceSettingTest, ReadsWritesAndComparesSyncVersions)
{
    KVariant value;
    EXPECT_EQ(VDProtocolExecutor::readDeviceSetting(value, DeviceSettingTable[0]), VDProtocol::RESULT_NG);
    EXPECT_EQ(value.getKind(), KVariant::KIND_EMPTY);
    EXPECT_EQ(m_executor.writeDeviceSetting(DeviceSettingTable[0], KVariant(1u)), VDProtocol::RESULT_NG);
    // A database that exists, a component that does not.
    EXPECT_EQ(VDProtocolExecutor::readDeviceSetting(value, "Profile", 7, "/VEXA/Capacity", 0, 0),
              VDProtocol::RESULT_NG);

    // Text is display text: it goes through the parameter's conversion ("0x10" is 16 for an unsigned parameter).
    const auto& capacity = VDProtocolExecutor::findDeviceSetting("VDeviceCapacity");
    ASSERT_EQ(m_executor.writeDeviceSetting(capacity, KVariant("0x10")), 0);
    ASSERT_EQ(VDProtocolExecutor::readDeviceSetting(value, capacity), 0);
    EXPECT_EQ(value.getKind(), KVariant::KIND_UINT32);
    EXPECT_EQ(value.getUInt(), 16u);
    EXPECT_LT(m_executor.writeDeviceSetting(capacity, KVariant("sixteen")), 0);
    ASSERT_EQ(VDProtocolExecutor::readDeviceSetting(value, capacity), 0);
    EXPECT_EQ(value.getUInt(), 16u);

    const struct
    {
        u32 real;
        u32 local;
        i32 expected;
    } versions[] = {{3, 5, static_cast<i32>(0x80000001u)}, {5, 3, static_cast<i32>(0x80000002u)}, {4, 4, 0}};
    for (const auto& v : versions) {
        setVersions(v.real, v.local);
        EXPECT_EQ(m_executor.compareSyncVersions(), v.expected) << v.real << "/" << v.local;
    }
    // An unreadable real version counts as 0 ("Profile" is database 0).
    ASSERT_EQ(PDB::ParameterDBCollection::deleteInstance(0), 0);
    EXPECT_EQ(m_executor.compareSyncVersions(), static_cast<i32>(0x80000001u));
}

TEST_F(DeviceSettingTest, ResourceUsageIsNotifiedWithTheCapacity)
{
    EXPECT_EQ(m_executor.onResourceUsageReply(1234), 0);
    EXPECT_EQ(m_unit.takeLines(),
              std::vector<std::string>{R"({"notify":{"cmd":"cpt_resource","cmdinfo":{"info":{"capacity":1333332,)"
                                       R"("resource":12}},"from":"device-uid"}})"});
}

TEST_F(DeviceSettingTest, ParameterChangeIsNotifiedWithItsDescription)
{
    PDB::IParameterDB& database = m_databases.get("VDeviceSetup");
    const u32 block = database.getBlockIndex(0, "/Setup/UnitID");
    ASSERT_EQ(database.setValue(0, block, 0, 0, KVariant(42), 255), 0);
    EXPECT_EQ(m_executor.onParameterChanged(database, 0, block, 0, 0), 0);
    EXPECT_EQ(m_unit.takeLines(),
              std::vector<std::string>{
                  R"({"notify":{"cmd":"prm_val","cmdinfo":{"list":[{"cptName":"VDeviceSetup:1:1x1",)"
                  R"("prmAddr":"VDeviceSetup/#0/Setup/UnitID:0:0","prmDef":0,"prmDefUI":"","prmKind":"",)"
                  R"("prmMax":2147483647,"prmMin":0,"prmScale":"1","prmStep":1,"prmStr":"42","prmType":3,)"
                  R"("prmUnit":"","prmValue":42}]},"from":"device-uid"}})"});
    // An element that does not exist: the read's failure, nothing sent.
    EXPECT_LT(m_executor.onParameterChanged(database, 0, block, 3, 0), 0);
    EXPECT_TRUE(m_unit.takeLines().empty());
}

} // namespace

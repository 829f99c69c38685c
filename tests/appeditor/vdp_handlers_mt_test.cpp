// The executor's parameter, device-setting, component-default and copy-and-paste handlers against the real
// device-control thread, its databases from the shipped descriptions and the gain plug-in.
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "pdb_ComponentInfoParserJSON.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_JsonAdapter.h"
#include "pdb_ParameterDBCollection.h"
#include "tms_TestSupport.h"
#include "tms_ThreadTestSupport.h"
#include "vdp_ExecutorRig.h"
#include "vdp_MeterContainer.h"
#include "vdp_PacketConvertor.h"

namespace {

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new tmstest::RepositoryEnvironment());

using Json = PDB::JsonValue;
using VDProtocol::PacketContainer;
using vdptest::makeMessage;

constexpr u32 COMPONENT_DB = 10;
constexpr u32 GAIN = 100;   // "testgain", one channel
constexpr u32 MATRIX = 200; // "matrix", a 2 x 3 block "/Cell"

// "/Cell" FLOAT per x and y element, "/Name" STRING.
constexpr const char* MATRIX_TYPE = R"({"component": {"name": "matrix", "majorVer": 1, "minX": 1, "minY": 1,
 "maxX": 8, "maxY": 8},
 "parameters": [
  {"attr": {"recallable": 1, "nonvolatile": 1}, "strAddress": "/Cell", "type": "FLOAT", "patternX": "*1",
   "patternY": "*1", "min": "-100", "max": "100", "def": "0", "step": "0.5"},
  {"attr": {"recallable": 1, "nonvolatile": 1}, "strAddress": "/Name", "type": "STRING", "max": "16"}]})";

PDB::IParameterDB& database(const char* name)
{
    return PDB::ParameterDBCollection::getInstance(static_cast<u32>(PDB::ParameterDBCollection::findInstance(name)));
}

KVariant read(const char* db, u32 uid, const char* address, u32 x = 0, u32 y = 0)
{
    PDB::ParameterAddress resolved = database(db).resolveAddress(uid, address);
    KVariant value;
    EXPECT_GE(database(db).getValue(value, resolved, x, y, nullptr), 0) << address;
    return value;
}

void write(const char* db, u32 uid, const char* address, const KVariant& value, u32 x = 0, u32 y = 0)
{
    PDB::ParameterAddress resolved = database(db).resolveAddress(uid, address);
    ASSERT_GE(database(db).setValue(resolved, x, y, value, 0), 0) << address;
}

struct Reply
{
    std::string m_result;
    Json m_body;
    // The info and list of cmdinfo: an empty object or array when the reply has none.
    Json info() const { return part("info", Json::object()); }
    Json list() const { return part("list", Json::array()); }

private:
    Json part(const char* name, const Json& none) const
    {
        const auto cmdInfo = m_body.find("cmdinfo");
        return cmdInfo != m_body.end() ? cmdInfo->value(name, none) : none;
    }
};

class HandlerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        static const bool registered = [] {
            PDB::ComponentInfoRepository::getInstance().registerComponentInfo(
                PDB::ComponentInfoParserJSON::createFromJson(MATRIX_TYPE));
            return true;
        }();
        (void)registered;
        m_device.addComponent("testgain", GAIN);
        m_device.addDatabaseComponent("matrix", MATRIX, 2, 3);
        for (u32 x = 0; x < 2; ++x) {
            for (u32 y = 0; y < 3; ++y) {
                write("AudioCompo", MATRIX, "/Cell", KVariant(static_cast<float>(x * 10 + y)), x, y);
            }
        }
        VDevice::VDMeterContainer::getInstance().clear();
    }

    // Sends one request and takes its one reply.
    Reply ask(const std::string& cmd, const Json& cmdInfo)
    {
        dispatch(cmd, cmdInfo);
        return take();
    }
    void dispatch(const std::string& cmd, const Json& cmdInfo)
    {
        const Json request = {
            {"request", {{"cmd", cmd}, {"cmdinfo", cmdInfo}, {"from", "editor"}, {"reqid", "r1"}, {"to", "device"}}}};
        rig().dispatch(request.dump());
    }
    // The next reply; it may follow an answer of another thread.
    Reply take()
    {
        std::vector<std::string> lines;
        tmstest::waitUntil(
            [&] {
                const std::vector<std::string> taken = rig().lines();
                lines.insert(lines.end(), taken.begin(), taken.end());
                return !lines.empty();
            },
            vdptest::WAIT_MS);
        EXPECT_EQ(lines.size(), 1u);
        if (lines.size() != 1) {
            return {};
        }
        const Json line = Json::parse(lines[0]);
        EXPECT_TRUE(line.contains("reply")) << lines[0];
        const Json& body = line["reply"];
        return {body.value("result", std::string()), body};
    }
    vdptest::ExecutorRig& rig() { return m_device.m_rig; }

    vdptest::DeviceRig m_device;
};

// ---- values -------------------------------------------------------------------------------------------------------

TEST_F(HandlerTest, ReadsOneElementWithItsDescription)
{
    const Reply reply = ask("getData_prm_info", {{"list", {{{"prmAddr", "AudioCompo/#100/Gain:0:0"}}}}});
    ASSERT_EQ(reply.m_result, "ok");
    ASSERT_EQ(reply.list().size(), 1u);
    const Json expected = {{"cptName", "testgain:1:1x1"},
                           {"prmAddr", "AudioCompo/#100/Gain:0:0"},
                           {"prmDef", 0.0},
                           {"prmDefUI", ""},
                           {"prmKind", ""},
                           {"prmMax", 10.0},
                           {"prmMin", -138.0},
                           {"prmScale", "1"},
                           {"prmStep", 0.1f},
                           {"prmStr", "0.000000"},
                           {"prmType", 10},
                           {"prmUnit", "dB"},
                           {"prmValue", 0.0}};
    EXPECT_EQ(reply.list()[0], expected);
    EXPECT_EQ(reply.m_body["cmd"], "getData_prm_info");
    EXPECT_EQ(reply.m_body["to"], "editor");
}

TEST_F(HandlerTest, ReadsRangesInOrderAndStopsAtTheFirstFailingEntry)
{
    const struct
    {
        std::vector<std::string> addresses;
        const char* result;
        std::vector<std::string> shown; // "prmStr" of the maps, in order
    } cases[] = {
        {{"AudioCompo/#200/Cell:-1:-1"},
         "ok",
         {"0.000000", "1.000000", "2.000000", "10.000000", "11.000000", "12.000000"}},
        {{"AudioCompo/#200/Cell:1:-1"}, "ok", {"10.000000", "11.000000", "12.000000"}},
        {{"AudioCompo/#200/Cell:-1:2"}, "ok", {"2.000000", "12.000000"}},
        {{"AudioCompo/#200/Cell:0x1:02", "AudioCompo/#200/Cell:0:1"}, "ok", {"12.000000", "1.000000"}},
        {{"AudioCompo/#200/Cell:-2:0"}, "ng", {}},
        {{"AudioCompo/#200/Cell:0:-3"}, "ng", {}},
        {{"AudioCompo/#200/Cell:2:-1"}, "ng/unknown_cmd", {}}, // no element x = 2
        {{"AudioCompo/#200/Cell:2:0"}, "ng/unknown_cmd", {}},
        {{"AudioCompo/#30000/Lebel"}, "ng", {}},
        {{"AudioCompo/#200/Nothing:0:0"}, "ng", {}},
        {{"AudioCompo/#999/Cell:0:0"}, "ng", {}},
        {{"Nowhere/#200/Cell:0:0"}, "ng", {}},
        {{"AudioCompo/#200/Cell:0:0", "AudioCompo/200/Cell:0:0", "AudioCompo/#200/Cell:0:1"}, "ng", {"0.000000"}},
    };
    for (const auto& c : cases) {
        Json list = Json::array();
        for (const std::string& address : c.addresses) {
            list.push_back({{"prmAddr", address}});
        }
        const Reply reply = ask("getData_prm_val", {{"list", list}});
        EXPECT_EQ(reply.m_result, c.result) << c.addresses[0];
        std::vector<std::string> shown;
        for (const Json& map : reply.list()) {
            shown.push_back(map.value("prmStr", ""));
            // Every map of a range carries the address as received.
            if (c.addresses.size() == 1) {
                EXPECT_EQ(map.value("prmAddr", ""), c.addresses[0]);
            }
            EXPECT_EQ(map.value("cptName", ""), "matrix:1:2x3");
        }
        EXPECT_EQ(shown, c.shown) << c.addresses[0];
    }
    // An entry without "prmAddr".
    EXPECT_EQ(ask("getData_prm_val", {{"list", {{{"other", 1}}}}}).m_result, "ng");
}

TEST_F(HandlerTest, WritesValuesElementsAndBlocks)
{
    const struct
    {
        Json value;
        const char* result;
        float stored;
    } single[] = {
        {"0.25", "ok", 0.25f}, // display text through the expression
        {4, "ok", 4.0f},       // a number as it is
        {"loud", "ng", 4.0f},  // text that is no value: nothing written
        {-200.0, "ok", -138.0f},
    };
    for (const auto& s : single) {
        const Reply reply =
            ask("set_prm_val", {{"info", {{"prmAddr", "AudioCompo/#100/Gain:0:0"}, {"prmValue", s.value}}}});
        EXPECT_EQ(reply.m_result.substr(0, 2), std::string(s.result).substr(0, 2)) << s.value;
        EXPECT_EQ(reply.info()["prmValue"], s.value);
        EXPECT_EQ(read("AudioCompo", GAIN, "/Gain").getFloat(), s.stored) << s.value;
    }
    // A negative x writes every x of that y, once; the other elements keep their values.
    EXPECT_EQ(ask("set_prm_val", {{"info", {{"prmAddr", "AudioCompo/#200/Cell:-2:1"}, {"prmValue", "7.5"}}}}).m_result,
              "ok");
    EXPECT_EQ(ask("set_prm_val", {{"info", {{"prmAddr", "AudioCompo/#200/Cell:1:-1"}, {"prmValue", 9}}}}).m_result,
              "ok");
    const float cells[2][3] = {{0, 7.5f, 2}, {9, 9, 9}};
    for (u32 x = 0; x < 2; ++x) {
        for (u32 y = 0; y < 3; ++y) {
            EXPECT_EQ(read("AudioCompo", MATRIX, "/Cell", x, y).getFloat(), cells[x][y]) << x << "," << y;
        }
    }
    // A range outside the block writes nothing.
    EXPECT_EQ(ask("set_prm_val", {{"info", {{"prmAddr", "AudioCompo/#200/Cell:5:-1"}, {"prmValue", 1}}}}).m_result,
              "ng/unknown_cmd");
    EXPECT_EQ(ask("set_prm_val", {{"info", {{"prmAddr", "AudioCompo/#200/Cell:0:0"}}}}).m_result, "ng");

    // setData stops at the first failing entry and answers its code.
    const Json entries = {{{"prmAddr", "AudioCompo/#200/Cell:0:0"}, {"prmValue", 1}},
                          {{"prmAddr", "AudioCompo/#200/Cell:5:0"}, {"prmValue", 2}},
                          {{"prmAddr", "AudioCompo/#200/Cell:0:2"}, {"prmValue", 3}}};
    const Reply reply = ask("setData_prm_val", {{"list", entries}});
    EXPECT_EQ(reply.m_result, "ng/unknown_cmd"); // the database's code for an element the block lacks
    EXPECT_EQ(reply.list(), entries);
    EXPECT_EQ(read("AudioCompo", MATRIX, "/Cell", 0, 0).getFloat(), 1.0f);
    EXPECT_EQ(read("AudioCompo", MATRIX, "/Cell", 0, 2).getFloat(), 2.0f);
}

TEST_F(HandlerTest, RangeChecksAndFixedLists)
{
    Json range = {{"prmAddr", "AudioCompo/#200/Cell:0:0"}, {"startX", 0}, {"startY", 0}, {"endX", 1}, {"endY", 2}};
    EXPECT_EQ(ask("get_range_prm", {{"info", range}}).m_result, "ok");
    range.erase("endY");
    const Reply partial = ask("get_range_prm", {{"info", range}});
    EXPECT_EQ(partial.m_result, "ng");
    EXPECT_EQ(partial.info(), range);

    Reply meters = ask("getData_cpt_meter", Json::object());
    EXPECT_EQ(meters.m_result, "ok");
    EXPECT_TRUE(meters.list().empty());
    ASSERT_TRUE(VDevice::VDMeterContainer::getInstance().addMeter("m", "AudioCompo/#100"));
    ASSERT_TRUE(VDevice::VDMeterContainer::getInstance().addMeter("n", "AudioCompo/#7"));
    meters = ask("getData_cpt_meter", Json::object());
    EXPECT_EQ(meters.list(), (Json{{{"prmAddr", "AudioCompo/#100"}}, {{"prmAddr", "AudioCompo/#7"}}}));

    const Reply sets = ask("getData_prmset", Json::object());
    ASSERT_EQ(sets.list().size(), 3u);
    EXPECT_EQ(sets.list()[2],
              (Json{{"label", "Param. Set(3)"}, {"prmSetGUID", "{GUID3}"}, {"prmSetID", 3}, {"protect", 0}}));
    EXPECT_EQ(ask("getData_prmset_assign", Json::object()).list(),
              (Json{{{"prmAddr", "AudioCompo/#30000/Lebel:0:0"}, {"type", "parameter"}}}));
}

TEST_F(HandlerTest, RepliesThatCannotBeQueuedWholeGoWithoutInfoAndListAsLimitOver)
{
    const auto requestLine = [](const char* cmd, const std::string& reqId, const Json& cmdInfo) {
        return Json{
            {"request", {{"cmd", cmd}, {"cmdinfo", cmdInfo}, {"from", "editor"}, {"reqid", reqId}, {"to", "device"}}}}
            .dump();
    };
    const auto limitOver = [](const char* cmd, const std::string& reqId) {
        return std::string(R"({"reply":{"cmd":")") + cmd +
               R"(","from":"device","message":"","progress":"100","reqid":")" + reqId +
               R"(","result":"ng/limit_over","to":"editor"}})";
    };
    const std::string longText(1000, 'x');

    // A reply longer than the whole send ring: 48 ranges of 64 texts of 1000 characters, about 6 MiB of maps.
    static const bool registered = [] {
        PDB::ComponentInfoRepository::getInstance().registerComponentInfo(PDB::ComponentInfoParserJSON::createFromJson(
            R"({"component": {"name": "notes", "majorVer": 1, "minX": 1, "minY": 1, "maxX": 8, "maxY": 8},
                "parameters": [{"attr": {}, "strAddress": "/Text", "type": "STRING", "patternX": "*1",
                                "patternY": "*1", "max": "1000"}]})"));
        return true;
    }();
    (void)registered;
    m_device.addDatabaseComponent("notes", 300, 8, 8);
    for (u32 x = 0; x < 8; ++x) {
        for (u32 y = 0; y < 8; ++y) {
            write("AudioCompo", 300, "/Text", KVariant(longText.c_str()), x, y);
        }
    }
    const Json range = {{"prmAddr", "AudioCompo/#300/Text:-1:-1"}};
    rig().dispatch(requestLine("getData_prm_val", "big", {{"info", {{"id", 1}}}, {"list", Json(48, range)}}));
    EXPECT_EQ(rig().lines(), std::vector<std::string>{limitOver("getData_prm_val", "big")});

    // Replies that find the ring full while the editor does not read: the first ones fit whole, the others go
    // without their lists.
    constexpr u32 METERS = 1000; // about 1 MiB of meter addresses
    for (u32 i = 0; i < METERS; ++i) {
        ASSERT_TRUE(
            VDevice::VDMeterContainer::getInstance().addMeter(std::to_string(i), "AudioCompo/#100/" + longText));
    }
    rig().m_unit.stall(true);
    constexpr u32 REPLIES = 7;
    for (u32 i = 0; i < REPLIES; ++i) {
        rig().dispatch(requestLine("getData_cpt_meter", std::to_string(i), Json::object()));
    }
    rig().m_unit.stall(false);
    const std::vector<std::string> lines = rig().lines();
    ASSERT_EQ(lines.size(), REPLIES);
    const size_t whole = VDProtocol::VDProtocolClientUnit::BUFFER_SIZE / (lines[0].size() + 1);
    ASSERT_GT(whole, 0u);
    ASSERT_LT(whole, REPLIES);
    for (u32 i = 0; i < REPLIES; ++i) {
        if (i < whole) {
            const Json reply = Json::parse(lines[i])["reply"];
            EXPECT_EQ(reply.value("result", ""), "ok") << i;
            EXPECT_EQ(reply["cmdinfo"]["list"].size(), METERS) << i;
        } else {
            EXPECT_EQ(lines[i], limitOver("getData_cpt_meter", std::to_string(i)));
        }
    }
}

// ---- device information and settings ------------------------------------------------------------------------------

TEST_F(HandlerTest, DeviceInformationAddsTheRealDeviceWhenConnected)
{
    write("VDeviceSetup", 0, "/Setup/DeviceName", KVariant("Booth"));
    write("VDeviceSetup", 0, "/Setup/UnitID", KVariant(12));
    const Json local = {{"category", "processor"},  {"deviceGUID", vdptest::ExecutorRig::IDENTITY},
                        {"deviceID", 12},           {"localLabel", "Booth"},
                        {"modelName", "ZethImage"}, {"projectVersion", "1.00"},
                        {"series", "VEXA"}};
    Reply reply = ask("get_dev_info", {{"info", {{"asked", 1}}}});
    EXPECT_EQ(reply.m_result, "ok");
    EXPECT_EQ(reply.info(), local);

    write("Profile", 0, "/Specification/SyncVersion", KVariant(3u));
    write("VDeviceSetup", 0, "/Specification/SyncVersion", KVariant(5u));
    write("Profile", 0, "/Specification/FirmwareVersion", KVariant(257u));
    write("Profile", 0, "/Specification/SerialNumber", KVariant("SN-1"));
    write("DeviceSetup", 0, "/Setup/DeviceName", KVariant("Rack"));
    write("DeviceSetup", 0, "/Network/VEXAControlPort/IPSetting", KVariant(2));
    write("DeviceSetup", 0, "/Network/VEXAControlPort/StaticIPAddress", KVariant(0xC0A8010Au));
    write("DeviceSetup", 0, "/Network/VEXAControlPort/CurrentSubnetMask", KVariant(0xFFFFFF00u));
    write("Profile", 0, "/VEXA/Capacity", KVariant(2000000u));
    rig().setEditorState(4);
    reply = ask("get_dev_info", Json::object());
    Json connected = local;
    connected.update({{"label", "Rack"},
                      {"version", "257"},
                      {"serialNo", "SN-1"},
                      {"ipMode", 2},
                      {"staticIP", "192.168.1.10"},
                      {"staticNetmask", "0.0.0.0"},
                      {"staticGateway", "0.0.0.0"},
                      {"currentIP", "0.0.0.0"},
                      {"currentNetmask", "255.255.255.0"},
                      {"currentGateway", "0.0.0.0"},
                      {"syncVersion", "3"},
                      {"localSyncVersion", "5"},
                      {"syncStatus", -2147483647},
                      {"capacityStatus", -2147483646}});
    EXPECT_EQ(reply.info(), connected);
}

TEST_F(HandlerTest, SingleSettingsAreWrittenAndNeedTheirKey)
{
    const struct
    {
        const char* cmd;
        Json info;
        const char* db;
        const char* address;
        Json written; // as read back
    } settings[] = {
        {"set_dev_label", {{"localLabel", "Stage"}}, "VDeviceSetup", "/Setup/DeviceName", "Stage"},
        {"set_virtual_dev_id", {{"deviceID", 7}}, "VDeviceSetup", "/Setup/UnitID", 7},
        {"set_dev_capacity", {{"capacity", "Large"}}, "VDeviceSetup", "/Specification/ProductVariationName", "Large"},
        {"set_dev_fs", {{"fs", 96000}}, "CommonSetup", "/Config/ExpectedFs", 96000},
        {"set_peak_hold", {{"on", 1}}, "CommonSetup", "/Meter/PeakHold/On", 1},
        {"set_peak_hold", {{"on", "0"}}, "CommonSetup", "/Meter/PeakHold/On", 0},
    };
    for (const auto& s : settings) {
        EXPECT_EQ(ask(s.cmd, {{"info", {{"other", 1}}}}).m_result, "ng") << s.cmd;
        EXPECT_EQ(ask(s.cmd, {{"info", s.info}}).m_result, "ok") << s.cmd;
        const KVariant value = read(s.db, 0, s.address);
        const Json back = value.getKind() == KVariant::KIND_STRING ? Json(value.getString()) : Json(value.getInt());
        EXPECT_EQ(back, s.written) << s.cmd;
    }
    EXPECT_EQ(ask("set_virtual_dev_id", {{"info", {{"deviceID", "7"}}}}).m_result, "ng");
    EXPECT_EQ(ask("set_dev_fs", {{"info", {{"fs", "fast"}}}}).m_result.substr(0, 2), "ng");
    EXPECT_EQ(read("CommonSetup", 0, "/Config/ExpectedFs").getUInt(), 96000u);

    VDevice::VDMeterContainer& meters = VDevice::VDMeterContainer::getInstance();
    const struct
    {
        Json time;
        const char* result;
        u32 interval;
    } intervals[] = {{59, "ok", 60}, {75, "ok", 75}, {60, "ok", 60}, {"80", "ng", 60}};
    for (const auto& i : intervals) {
        EXPECT_EQ(ask("set_meter_info", {{"info", {{"time", i.time}}}}).m_result, i.result) << i.time;
        EXPECT_EQ(meters.getInterval(), i.interval) << i.time;
    }
}

TEST_F(HandlerTest, SetupWritesEveryGivenKeyAndAnswersTheFirstFailure)
{
    const std::vector<std::string> before = vdptest::exportDatabases();
    EXPECT_EQ(ask("set_setup", {{"info", {{"path", "/data/defaults"}}}}).m_result, "ok");
    EXPECT_EQ(vdptest::exportDatabases(), before);
    EXPECT_EQ(rig().executor().getComponentDefaultDirectory(), "/data/defaults");
    EXPECT_EQ(rig().executor().makeComponentDefaultPath("testgain"),
              "/data/defaults/component/testgain/UserDefault.pst");

    const Reply reply = ask(
        "set_setup",
        {{"info",
          {{"localLabel", "Booth"}, {"deviceID", 3}, {"fs", "fast"}, {"capacity", 1500000}, {"path", "/data/other"}}}});
    EXPECT_EQ(reply.m_result.substr(0, 2), "ng");
    EXPECT_NE(reply.m_result, "ng/unknown_cmd");
    EXPECT_EQ(read("VDeviceSetup", 0, "/Setup/DeviceName").getString(), std::string("Booth"));
    EXPECT_EQ(read("VDeviceSetup", 0, "/Setup/UnitID").getInt(), 3);
    EXPECT_EQ(read("VDeviceSetup", 0, "/VEXA/Capacity").getUInt(), 1500000u);
    EXPECT_EQ(read("CommonSetup", 0, "/Config/ExpectedFs").getUInt(), 48000u);
    EXPECT_EQ(rig().executor().getComponentDefaultDirectory(), "/data/other");
}

TEST_F(HandlerTest, NetworkInformationIsPostedOnlyWithBothAddresses)
{
    for (const Json& info : {Json{{"pcIpAddr", "10.0.0.1"}, {"devIpAddr", ""}}, Json{{"devIpAddr", "10.0.0.2"}}}) {
        EXPECT_EQ(ask("set_net_info", {{"info", info}}).m_result, "ok");
    }
    EXPECT_EQ(rig().m_sync.countOf("msg:"), 0u);
    EXPECT_EQ(rig().executor().getDeviceAddress(), "");

    std::vector<std::string> posted;
    std::mutex lock;
    rig().m_sync.m_messageHook = [&](const TMS::AbstractMessage& message) {
        if (std::string(message.getValue("CommandName").getString()) != "SetNetworkInfo") {
            return;
        }
        std::lock_guard<std::mutex> guard(lock);
        posted.push_back(std::string("SetNetworkInfo ") + message.getValue("FromIPAddress").getString() + " " +
                         message.getValue("ToIPAddress").getString());
    };
    const u32 answers = rig().m_host.getAnswerCount();
    EXPECT_EQ(
        ask("set_net_info", {{"info", {{"pcIpAddr", "10.0.0.1"}, {"devIpAddr", "10.0.0.2"}, {"devMacAddr", "m"}}}})
            .m_result,
        "ok");
    ASSERT_TRUE(rig().m_sync.waitForCount("msg:SetNetworkInfo", 1, vdptest::WAIT_MS));
    {
        std::lock_guard<std::mutex> guard(lock);
        EXPECT_EQ(posted, std::vector<std::string>{"SetNetworkInfo 10.0.0.1 10.0.0.2"});
    }
    EXPECT_EQ(rig().m_host.getAnswerCount(), answers + 1); // "DetectStart" reached "VDProtocol"
    EXPECT_EQ(rig().executor().getPcAddress(), "10.0.0.1");
    EXPECT_EQ(rig().executor().getDeviceMacAddress(), "m");

    // "del" forgets all three texts.
    EXPECT_EQ(ask("del_net_info", Json::object()).m_result, "ok");
    EXPECT_EQ(rig().executor().getPcAddress() + rig().executor().getDeviceAddress() +
                  rig().executor().getDeviceMacAddress(),
              "");
    ASSERT_TRUE(rig().m_sync.waitForCount("msg:Disconnect", 1, vdptest::WAIT_MS));

    // A "Sync" that cannot take the post: the answer is a failure and nothing is kept.
    ASSERT_EQ(rig().m_sync.release(), 0u);
    EXPECT_EQ(ask("set_net_info", {{"info", {{"pcIpAddr", "10.0.0.3"}, {"devIpAddr", "10.0.0.4"}}}}).m_result, "ng");
    EXPECT_EQ(rig().executor().getPcAddress(), "");
}

TEST_F(HandlerTest, SynchronisationNeedsAConnectedDeviceOfTheSameVersion)
{
    write("Profile", 0, "/Specification/SyncVersion", KVariant(3u));
    write("VDeviceSetup", 0, "/Specification/SyncVersion", KVariant(5u));
    rig().setEditorState(4);
    EXPECT_EQ(ask("get_sync_device", Json::object()).m_result, "ng"); // different versions
    write("VDeviceSetup", 0, "/Specification/SyncVersion", KVariant(3u));
    rig().setEditorState(2);
    EXPECT_EQ(ask("set_sync_device", Json::object()).m_result, "ng"); // class 0
    EXPECT_EQ(rig().m_sync.countOf("msg:"), 0u);

    std::vector<std::string> posted;
    std::mutex lock;
    rig().m_sync.m_messageHook = [&](const TMS::AbstractMessage& message) {
        std::lock_guard<std::mutex> guard(lock);
        posted.push_back(std::string(message.getValue("CommandName").getString()) + " " +
                         message.getValue("Direction").getString() + " " + message.getValue("Password").getString());
    };
    rig().setEditorState(5);
    for (const char* cmd : {"get_sync_device", "set_sync_device"}) {
        dispatch(cmd, Json::object());
        EXPECT_TRUE(rig().lines().empty()) << cmd;
        TMS::AbstractMessage done = makeMessage("Re:Synchronize", {{"Progress", 100}});
        done.setInt("Result", 0);
        rig().answer(done);
        const Reply reply = take();
        EXPECT_EQ(reply.m_result, "ok");
        EXPECT_EQ(reply.m_body["cmd"], cmd);
    }
    ASSERT_TRUE(rig().m_sync.waitForCount("msg:Synchronize", 2, vdptest::WAIT_MS));
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(posted, (std::vector<std::string>{"Synchronize ServerToClient 0000", "Synchronize ClientToServer 0000"}));
}

TEST_F(HandlerTest, SynchronisationsDoNotPileUp)
{
    write("Profile", 0, "/Specification/SyncVersion", KVariant(3u));
    write("VDeviceSetup", 0, "/Specification/SyncVersion", KVariant(3u));
    rig().setEditorState(4);
    const auto pending = [&] {
        u32 count = 0;
        rig().m_host.run([&] { count = rig().executor().getPendingRequests().getCount(); });
        return count;
    };
    // While one is pending a second is refused at once; the final answer completes the first.
    dispatch("get_sync_device", Json::object());
    EXPECT_TRUE(rig().lines().empty());
    EXPECT_EQ(ask("set_sync_device", Json::object()).m_result, "ng");
    EXPECT_EQ(pending(), 1u);
    TMS::AbstractMessage done = makeMessage("Re:Synchronize", {{"Progress", 100}});
    done.setInt("Result", 0);
    rig().answer(done);
    const Reply completed = take();
    EXPECT_EQ(completed.m_result, "ok");
    EXPECT_EQ(completed.m_body["cmd"], "get_sync_device");
    EXPECT_EQ(pending(), 0u);
}

// ---- component defaults -------------------------------------------------------------------------------------------

TEST_F(HandlerTest, ComponentDefaultsAreAnsweredAfterDeviceControl)
{
    const Json list = {{{"prmAddr", "AudioCompo/#100"}}, {{"prmAddr", "AudioCompo/#0x64"}}};
    // Without a directory "DeviceControl" refuses, and the reply carries its answer.
    EXPECT_EQ(ask("add_regist_parameter", {{"list", list}}).m_result, "ng");

    const std::string directory = m_device.folder() + "/defaults";
    EXPECT_EQ(ask("set_setup", {{"info", {{"path", directory}}}}).m_result, "ok");
    const std::string file = directory + "/component/testgain/UserDefault.pst/testgain/UserDefault.dat";
    Reply reply = ask("add_regist_parameter", {{"list", list}});
    EXPECT_EQ(reply.m_result, "ok");
    EXPECT_EQ(reply.list(), list);
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(ask("del_regist_parameter", {{"list", list}}).m_result, "ok");
    EXPECT_FALSE(std::filesystem::exists(file));

    // Lists answered at once: empty, or with an entry that names no component (nothing is posted then).
    EXPECT_EQ(ask("add_regist_parameter", Json::object()).m_result, "ok");
    for (const char* address : {"AudioCompo/#999", "Nowhere/#100", "AudioCompo/100"}) {
        EXPECT_EQ(ask("add_regist_parameter", {{"list", {list[0], {{"prmAddr", address}}}}}).m_result, "ng") << address;
    }
    EXPECT_FALSE(std::filesystem::exists(file));
    u32 pending = 0;
    rig().m_host.run([&] { pending = rig().executor().getPendingRequests().getCount(); });
    EXPECT_EQ(pending, 0u);
}

// ---- copy and paste -----------------------------------------------------------------------------------------------

class SnapshotTest : public HandlerTest
{
protected:
    // The copy of one entry: its reply map.
    Json copy(const char* type, const char* address)
    {
        const Reply reply = ask("getData_copy_paste", {{"list", {{{"type", type}, {"prmAddr", address}}}}});
        EXPECT_EQ(reply.m_result, "ok") << address;
        return reply.list().size() == 1 ? reply.list()[0] : Json();
    }
    // The paste of images built from raw bytes, on the executor's thread: its result.
    i32 paste(const char* type, const char* address, const std::string& image)
    {
        PacketContainer request;
        VDProtocol::ArgumentMap& entry = request.m_list.emplace_back();
        (void)entry.setString("type", type);
        (void)entry.setString("prmAddr", address);
        (void)entry.setBinary("d:data", image.data(), static_cast<u32>(image.size()));
        i32 result = 0;
        rig().m_host.run([&] { result = rig().executor().pasteSnapshots(request); });
        return result;
    }
    static std::string bytesOf(const Json& map)
    {
        VDProtocol::ArgumentMap decoded;
        const std::string text = map.value("d:data", "");
        EXPECT_EQ(decoded.setBinaryFromBase64("d", text.c_str(), static_cast<u32>(text.size())), 0);
        return std::string(static_cast<const char*>(decoded.getBinary("d")), decoded.getBinarySize("d"));
    }
};

TEST_F(SnapshotTest, PasteRestoresWhatWasCopied)
{
    write("AudioCompo", GAIN, "/Gain", KVariant(-6.0f));
    const Json component = copy("currentCpt", "AudioCompo/#100");
    EXPECT_EQ(component.value("type", ""), "currentCpt");
    EXPECT_EQ(component.value("prmAddr", ""), "AudioCompo/#100");
    const Json element = copy("currentPrm", "AudioCompo/#200/Cell:1:2");

    write("AudioCompo", GAIN, "/Gain", KVariant(-20.0f));
    write("AudioCompo", MATRIX, "/Cell", KVariant(50.0f), 1, 2);
    write("AudioCompo", MATRIX, "/Cell", KVariant(51.0f), 1, 1);
    EXPECT_EQ(ask("setData_copy_paste", {{"list", {component, element}}}).m_result, "ok");
    EXPECT_EQ(read("AudioCompo", GAIN, "/Gain").getFloat(), -6.0f);
    EXPECT_EQ(read("AudioCompo", MATRIX, "/Cell", 1, 2).getFloat(), 12.0f);
    EXPECT_EQ(read("AudioCompo", MATRIX, "/Cell", 1, 1).getFloat(), 51.0f); // not copied

    // Failures change nothing.
    write("AudioCompo", GAIN, "/Gain", KVariant(-20.0f));
    const std::vector<std::string> before = vdptest::exportDatabases();
    Json elsewhere = component;
    elsewhere["prmAddr"] = "AudioCompo/#200"; // an image of another component
    std::mt19937 random(7);
    std::string garbage(256, '\0');
    for (char& c : garbage) {
        c = static_cast<char>(random());
    }
    Json garbled = component;
    garbled["d:data"] = VDProtocol::binaryToBase64(KVariant(garbage.data(), static_cast<u32>(garbage.size())));
    const Json failing[] = {
        {{{"type", "all"}, {"prmAddr", "AudioCompo/#100"}, {"d:data", component["d:data"]}}},
        {elsewhere},
        {garbled},
        {{{"type", "currentCpt"}, {"prmAddr", "AudioCompo/#100"}}},
    };
    for (const Json& list : failing) {
        EXPECT_EQ(ask("setData_copy_paste", {{"list", list}}).m_result.substr(0, 2), "ng") << list.dump().substr(0, 80);
    }
    EXPECT_EQ(vdptest::exportDatabases(), before);
    EXPECT_EQ(ask("getData_copy_paste", {{"list", {{{"type", "all"}, {"prmAddr", "AudioCompo/#100"}}}}}).m_result,
              "ng");
    EXPECT_EQ(
        ask("getData_copy_paste", {{"list", {{{"type", "currentPrm"}, {"prmAddr", "AudioCompo/#100"}}}}}).m_result,
        "ng");
}

TEST_F(SnapshotTest, DamagedImagesChangeNothing)
{
    write("AudioCompo", GAIN, "/Gain", KVariant(-6.0f));
    const std::string image = bytesOf(copy("currentCpt", "AudioCompo/#100"));
    ASSERT_FALSE(image.empty());
    write("AudioCompo", GAIN, "/Gain", KVariant(-20.0f));
    const std::vector<std::string> before = vdptest::exportDatabases();
    // Every truncation, and every byte flipped in turn: a failure leaves every database as it was.
    size_t failures = 0;
    for (size_t at = 0; at < 2 * image.size(); ++at) {
        std::string damaged = image;
        if (at < image.size()) {
            damaged.resize(at);
        } else {
            damaged[at - image.size()] = static_cast<char>(~damaged[at - image.size()]);
        }
        if (paste("currentCpt", "AudioCompo/#100", damaged) < 0) {
            ++failures;
            ASSERT_EQ(vdptest::exportDatabases(), before) << at;
        } else {
            write("AudioCompo", GAIN, "/Gain", KVariant(-20.0f));
        }
    }
    EXPECT_GT(failures, image.size());
    EXPECT_EQ(paste("currentCpt", "AudioCompo/#100", image), 0);
    EXPECT_EQ(read("AudioCompo", GAIN, "/Gain").getFloat(), -6.0f);
}

} // namespace

// The command modules against a running console thread: messages to stand-in application threads, the thread
// list and logs, shutdown, and the component database commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "dbgc_Modules.h"
#include "dbgc_TestSupport.h"
#include "pdb_ComponentInfo.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_ParameterDBNULL.h"
#include "tms_ThreadRepository.h"

namespace {

using dbgctest::ConsoleRig;
using dbgctest::StandInThread;

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new dbgctest::Environment());

const std::string REFUSED = "Error: Module=Component, ResultCode=-2147483648(0x80000000)\n";

class ModulesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(dbgctest::initializeThread(m_device, "DeviceControl"), 0u);
        ASSERT_EQ(dbgctest::initializeThread(m_compiler, "Compiler"), 0u);
        m_rig = std::make_unique<ConsoleRig>();
        ASSERT_TRUE(m_rig->m_ready);
    }
    void TearDown() override { m_rig.reset(); }

    std::string run(const std::string& line, const std::string& prompt = "Top>")
    {
        return m_rig->command(line, prompt);
    }

    StandInThread m_device;
    StandInThread m_compiler;
    std::unique_ptr<ConsoleRig> m_rig;
};

TEST_F(ModulesTest, MessagesCarryExactNamesFieldsAndKinds)
{
    EXPECT_EQ(run("component", "Component>"), "");
    const char* const lines[] = {
        "add2 5 Gain 1 2 3",
        "del2 5",
        "add 6 \"Mix Bus\" 2 1 1",
        "del 6",
        "addconnection 1 2 3 4",
        "removeconnection 4 3 2 1",
        "eraseconfig",
        "applyconfig",
        "compile",
    };
    for (const char* line : lines) {
        EXPECT_EQ(run(line, "Component>"), "") << line;
    }
    EXPECT_EQ(run("/pdb save 10 /tmp/p.bin", "Component>"), "");
    EXPECT_EQ(run("/PDB LOAD 3 \"my file.bin\"", "Component>"), "");

    ASSERT_TRUE(m_device.waitForMessages(10));
    ASSERT_TRUE(m_compiler.waitForMessages(1));
    const std::vector<std::string> expected = {
        "addAudioComponent|ComponentName:s:Gain|MajorVersion:u:1|NumX:u:2|NumY:u:3|UniqID:u:5",
        "removeAudioComponent|UniqID:u:5",
        "AddComponent|ComponentName:s:Mix Bus|NumX:u:1|NumY:u:1|UniqId:u:6|Version:u:2",
        "DelComponent|UniqId:u:6",
        "addConnection|fromPortNo:u:2|fromUniqId:u:1|toPortNo:u:4|toUniqId:u:3",
        "removeConnection|fromPortNo:u:3|fromUniqId:u:4|toPortNo:u:1|toUniqId:u:2",
        "eraseConfig",
        "applyConfig",
        "SaveProject|FilePath:s:/tmp/p.bin|PDBID:u:10",
        "LoadProject|FilePath:s:my file.bin|PDBID:u:3",
    };
    EXPECT_EQ(m_device.messages(), expected);
    EXPECT_EQ(m_compiler.messages(), std::vector<std::string>{"startCompile"});
}

TEST_F(ModulesTest, ShortOrMalformedCommandsSendNothing)
{
    const char* const refused[] = {
        "/component add2 5 Gain 1 2",
        "/component add2 5 Gain 1 2 zz",
        "/component del2",
        "/component del2 x",
        "/component del -1",
        "/component addconnection 1 2 3",
        "/component add 1 n 1 1 x5",
        "/component bogus",
        "/component get 1 /a 0",
        "/component set 1 /a 0 0",
        "/component show",
    };
    for (const char* line : refused) {
        EXPECT_EQ(run(line), REFUSED) << line;
    }
    EXPECT_EQ(run("/pdb save 10"), "Error: Module=PDB, ResultCode=-2147483648(0x80000000)\n");
    EXPECT_EQ(run("/pdb save zz file"), "Error: Module=PDB, ResultCode=-2147483648(0x80000000)\n");
    EXPECT_EQ(run("/pdb drop 1 f"), "Error: Module=PDB, ResultCode=-2147483648(0x80000000)\n");
    // Top and Thread ignore unknown words.
    EXPECT_EQ(run("bogus"), "");
    EXPECT_EQ(run("/thread bogus"), "");
    // Messages are queued in order, so one that passes after the refused ones is the first to arrive.
    EXPECT_EQ(run("/component del2 77"), "");
    ASSERT_TRUE(m_device.waitForMessages(1));
    EXPECT_EQ(m_device.messages(), std::vector<std::string>{"removeAudioComponent|UniqID:u:77"});
    EXPECT_TRUE(m_compiler.messages().empty());
}

TEST_F(ModulesTest, DebugCommandsGoToMissingThreadsAndSucceed)
{
    const char* const lines[] = {
        "setupprocessing 48000 64 128",
        "addcomponent 1",
        "addtoplaylist 0 1 2",
        "connect 1 2 3 4",
        "startprocessing",
        "stopprocessing",
        "resetcpuinfo",
        "shutdown",
        "beginconfig",
        "endconfig",
        "muteon",
        "muteoff",
        "getcoef 1 2 3 4 5",
        "getrawmeter 1 2 3 4 5",
    };
    for (const char* line : lines) {
        EXPECT_EQ(run(std::string("/component ") + line), "") << line;
    }
    EXPECT_EQ(run("/component getcoef 1 2 3 4"), REFUSED);
    EXPECT_TRUE(m_device.messages().empty());
}

TEST_F(ModulesTest, TopShutdownReleasesTheSystemThread)
{
    StandInThread system;
    ASSERT_EQ(dbgctest::initializeThread(system, "System"), 0u);
    ASSERT_EQ(dbgctest::startThread(system), 0u);
    EXPECT_EQ(run("tlist"), "");
    EXPECT_FALSE(system.sawStatus(TMS::STATUS_CLOSED));
    EXPECT_EQ(run("shutdown now please"), "");
    // release returns once the thread passed CLOSED and DESTROY and was torn down.
    EXPECT_TRUE(system.sawStatus(TMS::STATUS_CLOSED));
    EXPECT_EQ(system.getStatus(), TMS::STATUS_UNINITIALIZED);
    EXPECT_TRUE(TMS::ThreadRepository::getThread("System")->isNull());
}

TEST_F(ModulesTest, ThreadListFormatsAndElapseCount)
{
    m_device.exchangeShownLoopCount(m_device.getLoopCount() - 1000);
    const std::string first = run("/thread tlist");
    ASSERT_EQ(first.rfind("  [ ThreadName ] [TaskID] [LogSize] [ElapseCount] [Status]\n", 0), 0u) << first;
    const std::regex row("  (\\S+) +(-?\\d+)        ( \\d|\\d\\d+)     +(\\d+)   (\\S+)\n");
    std::vector<std::string> names;
    u32 elapse = 0;
    for (std::sregex_iterator it(first.begin(), first.end(), row), end; it != end; ++it) {
        const std::smatch& m = *it;
        names.push_back(m[1]);
        if (m[1] == "DeviceControl") {
            elapse = static_cast<u32>(std::stoul(m[4]));
            char line[128];
            std::snprintf(line, sizeof(line), "  %-16s %4d        %2d     %10d   %s\n", "DeviceControl",
                          m_device.getTaskId(), static_cast<int>(m_device.getLogger().getCount()),
                          static_cast<int>(elapse), "STOP");
            EXPECT_EQ(m.str(0), line);
            EXPECT_EQ(m[5], "STOP");
        }
        if (m[1] == "DebugConsole") {
            EXPECT_EQ(m[5], "RUN");
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Compiler", "DebugConsole", "DeviceControl"}));
    EXPECT_GE(elapse, 1000u);
    EXPECT_LT(elapse, 1100u);

    // The count shown is remembered: the next list shows only what passed since.
    const std::string second = run("/thread tlist");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(second, m, std::regex("  DeviceControl +\\d+ +\\d+ +(\\d+)   STOP\n")));
    EXPECT_LT(std::stoul(m[1]), 100u);
}

TEST_F(ModulesTest, ThreadLogRangesAndClear)
{
    EXPECT_EQ(run("thread", "Thread>"), "");
    EXPECT_EQ(run("tlogc DeviceControl", "Thread>"), "[THREAD:DeviceControl] logs clear\n");
    EXPECT_EQ(run("tlog DeviceControl", "Thread>"), "Error: Module=Thread, ResultCode=-2147483648(0x80000000)\n");
    for (int i = 0; i < 5; ++i) {
        m_device.log("line %d\n", i);
    }
    EXPECT_EQ(run("tlog DeviceControl 0 99", "Thread>"),
              "[THREAD:DeviceControl]\n00)line 0\n01)line 1\n02)line 2\n03)line 3\n04)line 4\n");
    const std::string byId = "tlog " + std::to_string(m_device.getTaskId()) + " 3";
    EXPECT_EQ(run(byId, "Thread>"), "[THREAD:DeviceControl]\n03)line 3\n04)line 4\n");
    EXPECT_EQ(run("tlog DeviceControl 1 2 3", "Thread>"),
              "[THREAD:DeviceControl]\n01)line 1\n02)line 2\n03)line 3\n04)line 4\n");
    EXPECT_EQ(run("tlog DeviceControl 2 2", "Thread>"), "[THREAD:DeviceControl]\n02)line 2\n");
    const std::string refused = "Error: Module=Thread, ResultCode=-2147483648(0x80000000)\n";
    EXPECT_EQ(run("tlog DeviceControl 4 2", "Thread>"), refused);
    EXPECT_EQ(run("tlog DeviceControl x", "Thread>"), refused);
    EXPECT_EQ(run("tlog DeviceControl 0 9z", "Thread>"), refused);
    EXPECT_EQ(run("tlog Nobody", "Thread>"), refused);
    EXPECT_EQ(run("tlog devicecontrol", "Thread>"), refused); // thread names are exact
    EXPECT_EQ(run("tlog", "Thread>"), refused);
    EXPECT_EQ(run("tlogc DeviceControl", "Thread>"), "[THREAD:DeviceControl] logs clear\n");
    EXPECT_EQ(m_device.getLogger().getCount(), 0u);
    EXPECT_EQ(run("tlog DeviceControl", "Thread>"), refused);
}

// Threads of one name created and torn down (and freed) again and again while the console prints that thread's
// log: each command holds the thread it prints, so nothing is ever read from a thread that is gone.
TEST(ThreadLogRace, ATornDownThreadIsNeverReadAfterItIsGone)
{
    dbgctest::FakeTransport transport;
    DBGC::DebugConsole console;
    ASSERT_EQ(console.initialize(nullptr, &transport, DBGC::getModuleTable(), DBGC::getModuleCount()), 0u);
    std::atomic<bool> done{false};
    std::atomic<int> lifetimes{0};
    std::thread churn([&] {
        while (!done.load()) {
            auto victim = std::make_unique<StandInThread>();
            if (dbgctest::initializeThread(*victim, "Victim") == 0) {
                for (int i = 0; i < 30; ++i) {
                    victim->log("line %d of a thread that goes away\n", i);
                }
                lifetimes.fetch_add(1);
            }
        }
    });
    // Until the churn thread has lived 100 times and a print has met a living victim: how many rounds that takes
    // depends on how much CPU each side gets, so the bound is time.
    size_t printed = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int round = 0;
         round < 1000 || ((lifetimes.load() < 100 || printed == 0) && std::chrono::steady_clock::now() < deadline);
         ++round) {
        console.execute("/thread tlog Victim");
        const std::string output = transport.takeOutput();
        printed += output.find("[THREAD:Victim]") != std::string::npos ? 1 : 0;
    }
    done = true;
    churn.join();
    EXPECT_GE(lifetimes.load(), 100);
    EXPECT_GT(printed, 0u);
    console.finalize();
}

// The recursive exclusive lock of the shared databases, counting how often it was taken from unlocked.
class CountingMutex : public PDB::IMutex
{
public:
    i32 lockRead() override { return take(); }
    i32 unlockRead() override { return give(); }
    i32 lockWrite() override { return take(); }
    i32 unlockWrite() override { return give(); }
    u32 outermost() const { return m_outermost.load(); }

private:
    i32 take()
    {
        m_mutex.lock();
        if (++m_depth == 1) {
            ++m_outermost;
        }
        return 0;
    }
    i32 give()
    {
        --m_depth;
        m_mutex.unlock();
        return 0;
    }

    std::recursive_mutex m_mutex;
    u32 m_depth = 0;
    std::atomic<u32> m_outermost{0};
};

// The component database of the database commands, entry 10 of the collection: uid 7 of a small type with one
// block of each kind.
class DatabaseTest : public ModulesTest
{
protected:
    void SetUp() override
    {
        const PDB::ParameterAttribute attribute{0, PDB::ParameterAttribute::FLAG_RECALLABLE};
        PDB::ComponentInfo info;
        ASSERT_EQ(info.initialize("DbgcTypes", 1, 1, 1, 4, 4, "", "", nullptr), 0);
        ASSERT_EQ(info.addParameterUInt16("/u", 1, 1, "", "", 0, 1000, 5, 0, 1, 1, attribute, "", "", ""), 0);
        ASSERT_EQ(
            info.addParameterSInt32("/s", 2, 1, "ch", "", -100, 100, -6, 0, 1, 1, attribute, "dB", "Level", "knob"), 0);
        ASSERT_EQ(
            info.addParameterFloat("/f", 1, 1, "", "", -10.0f, 10.0f, 0.5f, 0.0f, 0.25f, 1, attribute, "", "", ""), 0);
        ASSERT_EQ(info.addParameterBool("/b", 2, 1, "", "", 0, 1, 0, attribute, "", "", ""), 0);
        ASSERT_EQ(info.addParameterString("/str", 1, 1, "", "", 10, "abc", attribute, "", "", ""), 0);
        ASSERT_EQ(info.addParameterBinary("/bin", 1, 1, "", "", 4, attribute, "", "", ""), 0);
        PDB::ComponentInfoRepository::getInstance().registerComponentInfo(info);
        ASSERT_EQ(PDB::ParameterDBCollection::createInstance(DBGC::COMPONENT_DATABASE_ID, "Component", &m_mutex, 0), 0);
        PDB::IParameterDB& db = PDB::ParameterDBCollection::getInstance(DBGC::COMPONENT_DATABASE_ID);
        ASSERT_EQ(&db, &DBGC::getComponentDatabase());
        ASSERT_EQ(db.addComponent(7, "DbgcTypes", 1, 0, 0, 0), 0);
        db.releaseAllOfThisThread();
        ModulesTest::SetUp();
        EXPECT_EQ(run("component", "Component>"), "");
    }
    void TearDown() override
    {
        ModulesTest::TearDown();
        PDB::ParameterDBCollection::deleteInstance(DBGC::COMPONENT_DATABASE_ID);
    }

    std::string get(const std::string& address, u32 x = 0)
    {
        const std::string out = run("get 7 " + address + " " + std::to_string(x) + " 0", "Component>");
        const std::string::size_type open = out.find("value:[");
        return open == std::string::npos ? out : out.substr(open + 7, out.size() - open - 9);
    }

    CountingMutex m_mutex;
};

TEST(ComponentDatabase, NullDatabaseWithoutEntry10)
{
    EXPECT_EQ(&DBGC::getComponentDatabase(), &PDB::ParameterDBNULL::getInstance());
}

TEST_F(DatabaseTest, GetAndSetEveryKind)
{
    EXPECT_EQ(run("get 7 /s 1 0", "Component>"),
              "get component value: UniqID:7 ComponentIdx:0 AddressIdx:1 x:1 y:0 value:[-6]\n");
    EXPECT_EQ(get("/u"), "5");
    EXPECT_EQ(get("/f"), "0.500000");
    EXPECT_EQ(get("/str"), "abc");
    EXPECT_EQ(get("/bin"), "00 00 00 00 ");

    EXPECT_EQ(run("set 7 /s 1 0 -6", "Component>"),
              "set component value: UniqID:7 ComponentIdx:0 AddressIdx:1 x:1 y:0 value:[-6]\n");
    EXPECT_EQ(run("set 7 /s 0 0 -42", "Component>"),
              "set component value: UniqID:7 ComponentIdx:0 AddressIdx:1 x:0 y:0 value:[-42]\n");
    EXPECT_EQ(get("/s"), "-42");
    EXPECT_EQ(run("set 7 /u 0 0 300", "Component>"),
              "set component value: UniqID:7 ComponentIdx:0 AddressIdx:0 x:0 y:0 value:[300]\n");
    EXPECT_EQ(get("/u"), "300");
    run("set 7 /f 0 0 -2.25", "Component>");
    EXPECT_EQ(get("/f"), "-2.250000");
    run("set 7 /f 0 0 3", "Component>");
    EXPECT_EQ(get("/f"), "3.000000");
    run("set 7 /b 1 0 5", "Component>");
    EXPECT_EQ(get("/b", 1), "1");
    EXPECT_EQ(get("/b", 0), "0");
    run("set 7 /str 0 0 \"hi there\"", "Component>");
    EXPECT_EQ(get("/str"), "hi there");
    EXPECT_EQ(run("set 7 /bin 0 0 0A ff", "Component>"),
              "set component value: UniqID:7 ComponentIdx:0 AddressIdx:5 x:0 y:0 value:[0A]\n");
    EXPECT_EQ(get("/bin").substr(0, 6), "0A FF ");

    // Resolving uid and address and the access itself happen under one hold of the lock, so the indices cannot
    // go stale when another thread adds or removes components in between.
    u32 before = m_mutex.outermost();
    EXPECT_EQ(run("set 7 /u 0 0 301", "Component>").rfind("set component value:", 0), 0u);
    EXPECT_EQ(m_mutex.outermost() - before, 1u);
    before = m_mutex.outermost();
    EXPECT_EQ(get("/u"), "301");
    EXPECT_EQ(m_mutex.outermost() - before, 1u);
}

TEST_F(DatabaseTest, MalformedValuesWriteNothing)
{
    // A found target prints its set line, whether the value word parses or not; the result follows.
    const std::pair<const char*, const char*> malformed[] = {
        {"set 7 /s 0 0 zz", "AddressIdx:1 x:0 y:0 value:[zz]"},
        {"set 7 /s 0 0 -", "AddressIdx:1 x:0 y:0 value:[-]"},
        {"set 7 /u 0 0 -3", "AddressIdx:0 x:0 y:0 value:[-3]"},
        {"set 7 /u 0 0 0x10", "AddressIdx:0 x:0 y:0 value:[0x10]"},
        {"set 7 /u 0 0 12abc", "AddressIdx:0 x:0 y:0 value:[12abc]"},
        {"set 7 /u 0 0 1.9", "AddressIdx:0 x:0 y:0 value:[1.9]"},
        {"set 7 /u 0 0 3.4e39", "AddressIdx:0 x:0 y:0 value:[3.4e39]"},
        {"set 7 /b 1 0 0x1", "AddressIdx:3 x:1 y:0 value:[0x1]"},
        {"set 7 /f 0 0 abc", "AddressIdx:2 x:0 y:0 value:[abc]"},
        {"set 7 /bin 0 0 0A fff", "AddressIdx:5 x:0 y:0 value:[0A]"},
        {"set 7 /bin 0 0 zz", "AddressIdx:5 x:0 y:0 value:[zz]"},
    };
    for (const auto& [line, fields] : malformed) {
        EXPECT_EQ(run(line, "Component>"),
                  std::string("set component value: UniqID:7 ComponentIdx:0 ") + fields + "\n" + REFUSED)
            << line;
    }
    EXPECT_EQ(run("set x /s 0 0 1", "Component>"), REFUSED);
    EXPECT_EQ(run("set 7 /u 0 0 \"\"", "Component>"), REFUSED); // an empty word is no word
    EXPECT_EQ(run("set 7 /u 1x 0 1", "Component>"), REFUSED);
    EXPECT_EQ(run("get 7 /s y 0", "Component>"), REFUSED);
    EXPECT_EQ(get("/s"), "-6");
    EXPECT_EQ(get("/u"), "5");
    EXPECT_EQ(get("/b", 1), "0");
    EXPECT_EQ(get("/f"), "0.500000");
    EXPECT_EQ(get("/bin"), "00 00 00 00 ");
    EXPECT_EQ(run("set 7 /u 0 0 42", "Component>"),
              "set component value: UniqID:7 ComponentIdx:0 AddressIdx:0 x:0 y:0 value:[42]\n");
    EXPECT_EQ(get("/u"), "42");

    // Unknown uid or address: a negative result and the module error line.
    const std::string out = run("get 99 /s 0 0", "Component>");
    EXPECT_EQ(out.rfind("Error: Module=Component, ResultCode=-", 0), 0u) << out;
    EXPECT_EQ(run("get 7 /none 0 0", "Component>").rfind("Error: Module=Component, ResultCode=-", 0), 0u);
    EXPECT_EQ(run("show 99", "Component>").rfind("Error: Module=Component, ResultCode=-", 0), 0u);
    EXPECT_EQ(run("set 7 /none 0 0 1", "Component>"), "Error: Module=Component, ResultCode=-2147483646(0x80000002)\n");
    EXPECT_EQ(run("set 99 /s 0 0 1", "Component>"), "Error: Module=Component, ResultCode=-2147483646(0x80000002)\n");
}

TEST_F(DatabaseTest, ShowPrintsFiveLinesPerParameter)
{
    const std::string out = run("show 7", "Component>");
    size_t blocks = 0;
    for (size_t at = out.find("strAddress:"); at != std::string::npos; at = out.find("strAddress:", at + 1)) {
        ++blocks;
    }
    EXPECT_EQ(blocks, 6u);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 30);
    EXPECT_NE(out.find("strAddress:[/s] type:[24] areaTag:[00] flags:[01] size:[4]\n"
                       "  X: pattern:[00000002] comment:[ch] num:[2]\n"
                       "  Y: pattern:[00000001] comment:[] num:[1]\n"
                       "  min:[-100] max:[100] def:[-6] nominal:[0] step:[1]\n"
                       "  scaling:[1] unit:[dB] paramKind:[Level] defUI:[knob]\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("strAddress:[/f] type:[34]"), std::string::npos);
    EXPECT_NE(out.find("  min:[-10.000000] max:[10.000000] def:[0.500000] nominal:[0.000000] step:[0.250000]\n"),
              std::string::npos)
        << out;
}

} // namespace

// The thread "Compiler" against a stand-in requester, with its storage in a temporary folder.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dadov_AudioConfigDB.h"
#include "dadov_AudioConfigParserJSON.h"
#include "fsw_SystemCalls.h"
#include "fsw_TestSupport.h"
#include "pdb_JsonAdapter.h"
#include "pyrite_AudioEngineTestSupport.h"
#include "pyrite_ProductInfo.h"
#include "pyrite_VEXACompilerAPI.h"
#include "pyrite_VEXACompilerThread.h"
#include "tms_TestSupport.h"
#include "tms_ThreadTestSupport.h"

namespace {

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new tmstest::RepositoryEnvironment);

constexpr u32 FAILED = 0x80000000;
const char* const FILES[] = {"ComponentDB.json", "ConnectionDB.json", "DspSystemDB.json", "CompileResult.json"};

// Forwards {"CommandName" "forward", "Command", "Code"[, "UniqId"]} to "Compiler" as its own request and keeps
// every other message it receives (the compiler's answers).
class Requester : public tmstest::RecordingThread
{
public:
    Requester()
    {
        m_messageHook = [this](const TMS::AbstractMessage& message) {
            if (std::strcmp(message.getValue("CommandName").getString(), "forward") != 0) {
                std::lock_guard<std::mutex> guard(m_lock);
                m_answers.push_back(message);
                return;
            }
            TMS::AbstractMessage request;
            request.initialize(TMS::MESSAGE_KIND_USER, message.getValue("Code").getUInt());
            request.setString("CommandName", message.getValue("Command").getString());
            if (message.getValue("UniqId").isValid()) {
                request.setUInt("UniqId", message.getValue("UniqId").getUInt());
            }
            EXPECT_EQ(request.sendTo("Compiler"), 0u);
        };
    }

    void ask(const char* command, u32 code = 0, const u32* uniqId = nullptr)
    {
        TMS::AbstractMessage message = tmstest::userMessage("forward");
        message.setString("Command", command);
        message.setUInt("Code", code);
        if (uniqId != nullptr) {
            message.setUInt("UniqId", *uniqId);
        }
        ASSERT_EQ(sendMessageWithWaiting(message), 0u);
    }

    // The first count answers once they are there (a test failure otherwise).
    std::vector<TMS::AbstractMessage> answers(size_t count)
    {
        EXPECT_TRUE(tmstest::waitUntil([&] { return answerCount() >= count; }, 20000)) << count;
        std::lock_guard<std::mutex> guard(m_lock);
        return std::vector<TMS::AbstractMessage>(
            m_answers.begin(), m_answers.begin() + static_cast<long>(std::min(count, m_answers.size())));
    }

    size_t answerCount()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_answers.size();
    }

private:
    std::mutex m_lock;
    std::vector<TMS::AbstractMessage> m_answers;
};

std::string commandOf(const TMS::AbstractMessage& message)
{
    const char* command = message.getValue("CommandName").getString();
    return command != nullptr ? command : "";
}

class CompilerThreadTest : public ::testing::Test
{
protected:
    void SetUp() override { setStorage(m_storage.path() + "/base"); }

    void setStorage(const std::string& base)
    {
        m_base = base;
        PyriteProductInfo::getInstance().setStoragePath(base);
    }

    void start()
    {
        ASSERT_EQ(tmstest::initializeThread(m_requester, "Requester", 0, 1), 0u);
        ASSERT_EQ(tmstest::initializeThread(m_compiler, "Compiler", 0, 5), 0u);
        ASSERT_EQ(m_requester.start(TMS::AbstractMessage::emptyFields()), 0u);
        ASSERT_EQ(m_compiler.start(TMS::AbstractMessage::emptyFields()), 0u);
    }

    void TearDown() override
    {
        // The compiler answers by name: it stops first.
        m_compiler.release();
        m_requester.release();
    }

    // startCompile: checks the immediate answer and returns the notification's result.
    u32 compile()
    {
        const size_t before = m_requester.answerCount();
        m_requester.ask("startCompile");
        const std::vector<TMS::AbstractMessage> answers = m_requester.answers(before + 2);
        if (answers.size() != before + 2) {
            return 0xDEADBEEF;
        }
        const TMS::AbstractMessage& accepted = answers[before];
        const TMS::AbstractMessage& done = answers[before + 1];
        EXPECT_EQ(commandOf(accepted), "Re:startCompile");
        EXPECT_EQ(accepted.getValue("Result").getKind(), KVariant::KIND_INT32);
        EXPECT_EQ(accepted.getValue("Result").getInt(), 0);
        EXPECT_EQ(accepted.getSender(), std::string("Compiler"));
        EXPECT_EQ(commandOf(done), "Notify:compileResult");
        EXPECT_EQ(done.getValue("Result").getKind(), KVariant::KIND_UINT32);
        return done.getValue("Result").getUInt();
    }

    std::string configFile(const char* name) const { return m_base + "/Config/" + name; }

    fswtest::TempDir m_storage;
    std::string m_base;
    pyritetest::AudioEngine m_engine;
    Requester m_requester;
    PYRITE::VEXACompilerThread m_compiler;
};

TEST_F(CompilerThreadTest, CompileWithoutComponentsWritesAllFourFiles)
{
    // Leftovers of an ended process: the temporaries of its own files go, anything else stays.
    const std::pair<const char*, bool> leftovers[] = {{".CompileResult.json.tmp-7ffffff0-1-1f2e3d4c", false},
                                                      {".ComponentDB.json.tmp-7ffffff0-2-00000001", false},
                                                      {".notes.json.tmp-7ffffff0-3-1f2e3d4c", true}};
    std::filesystem::create_directories(configFile(""));
    for (const auto& [name, stays] : leftovers) {
        ASSERT_TRUE(fswtest::writeFile(configFile(name), "x")) << name;
    }
    start();
    EXPECT_EQ(compile(), 0u);
    for (const char* name : FILES) {
        const std::optional<std::string> text = fswtest::readFile(configFile(name));
        ASSERT_TRUE(text.has_value()) << name;
        PDB::JsonValue document;
        EXPECT_EQ(PDB::JsonAdapter::parse(text->c_str(), document), 0) << name;
    }
    for (const auto& [name, stays] : leftovers) {
        EXPECT_EQ(std::filesystem::exists(configFile(name)), stays) << name;
    }
}

TEST_F(CompilerThreadTest, CompiledConfigurationBecomesCurrent)
{
    m_engine.add("testgain", 1, 100);
    m_engine.add("testgain", 1, 101);
    ASSERT_EQ(m_engine.collection().addConnection(100, 0, 101, 0), 0);
    start();
    EXPECT_EQ(compile(), 0u);

    const std::optional<std::string> stored = fswtest::readFile(configFile("CompileResult.json"));
    ASSERT_TRUE(stored.has_value());
    DADOV::AudioConfig current;
    ASSERT_EQ(DADOV::AudioConfigDB::getInstance().getAudioConfig(current), 0);
    EXPECT_EQ(current, DADOV::parseAudioConfigJSON(stored->c_str()));
    EXPECT_EQ(current.m_result, 0);
    EXPECT_EQ(current.m_dspAssignments.size(), 2u);
    std::vector<DADOV::AudioConnection> applied;
    ASSERT_EQ(m_engine.collection().getAppliedConnections(applied), 0);
    EXPECT_EQ(applied, (std::vector<DADOV::AudioConnection>{{100, 0, 101, 0}}));
}

TEST_F(CompilerThreadTest, StorageThatCannotHoldTheResultFailsAndKeepsTheConfiguration)
{
    ASSERT_TRUE(fswtest::writeFile(m_storage / "plain", "not a folder"));
    setStorage(m_storage / "plain");
    DADOV::AudioConfig before;
    before.m_name = "previous";
    ASSERT_EQ(DADOV::AudioConfigDB::getInstance().setAudioConfig(before), 0);
    m_engine.add("testgain", 1, 100);
    start();
    EXPECT_EQ(compile(), FAILED);
    DADOV::AudioConfig current;
    ASSERT_EQ(DADOV::AudioConfigDB::getInstance().getAudioConfig(current), 0);
    EXPECT_EQ(current, before);
}

// Fails every write into a file whose name holds "CompileResult.json" (its temporary included).
ssize_t failCompileResultWrites(int fd, const void* buffer, size_t size)
{
    char link[64];
    char target[PATH_MAX] = {};
    std::snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
    if (readlink(link, target, sizeof(target) - 1) > 0 && std::strstr(target, "CompileResult.json") != nullptr) {
        errno = ENOSPC;
        return -1;
    }
    return ::write(fd, buffer, size);
}

TEST_F(CompilerThreadTest, FailedResultWriteKeepsThePreviousFileWhole)
{
    m_engine.add("testgain", 1, 100);
    start();
    ASSERT_EQ(compile(), 0u);
    const std::optional<std::string> previous = fswtest::readFile(configFile("CompileResult.json"));
    ASSERT_TRUE(previous.has_value());

    m_engine.add("testgain", 1, 101);
    fsw_setSystemCalls(nullptr, &failCompileResultWrites, nullptr);
    const u32 result = compile();
    fsw_setSystemCalls(nullptr, nullptr, nullptr);
    EXPECT_EQ(result, FAILED);
    EXPECT_EQ(fswtest::readFile(configFile("CompileResult.json")), previous);
    // The input documents describe the new configuration; no temporary file is left.
    EXPECT_NE(fswtest::readFile(configFile("ConnectionDB.json"))->find("\"uniqID\": 101"), std::string::npos);
    std::set<std::string> names;
    DIR* listing = opendir((m_base + "/Config").c_str());
    ASSERT_NE(listing, nullptr);
    while (const dirent* entry = readdir(listing)) {
        if (entry->d_name[0] != '.' || std::strlen(entry->d_name) > 2) {
            names.insert(entry->d_name);
        }
    }
    closedir(listing);
    EXPECT_EQ(names, std::set<std::string>(std::begin(FILES), std::end(FILES)));
}

TEST_F(CompilerThreadTest, ResourceQuestionsAreAnsweredAndOthersIgnored)
{
    m_engine.add("testgain", 1, 100);
    m_engine.add("testgain", 1, 101);
    start();
    const u32 known = 100;
    const u32 unknown = 999;
    // Answers come in request order: one to an ignored request would stand first.
    m_requester.ask("getTotalProcessingResourceCapacity", 1); // code 1
    m_requester.ask("getResourceUsage");                      // unknown name
    m_requester.ask("getTotalProcessingResourceCapacity");
    m_requester.ask("getTotalProcessingResourceUsage");
    m_requester.ask("getProcessingResourceUsage", 0, &known);
    m_requester.ask("getProcessingResourceUsage", 0, &unknown);
    const std::vector<TMS::AbstractMessage> answers = m_requester.answers(4);
    ASSERT_EQ(answers.size(), 4u);
    const struct
    {
        const char* command;
        u32 result;
        bool hasUniqId;
        u32 uniqId;
    } expected[] = {{"Re:getTotalProcessingResourceCapacity", 1333332, false, 0},
                    {"Re:getTotalProcessingResourceUsage", 2000, false, 0},
                    {"Re:getProcessingResourceUsage", 1000, true, known},
                    {"Re:getProcessingResourceUsage", 0, true, unknown}};
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(commandOf(answers[i]), expected[i].command);
        EXPECT_EQ(answers[i].getValue("Result").getKind(), KVariant::KIND_UINT32);
        EXPECT_EQ(answers[i].getValue("Result").getUInt(), expected[i].result);
        EXPECT_EQ(answers[i].getValue("UniqId").isValid(), expected[i].hasUniqId);
        EXPECT_EQ(answers[i].getValue("UniqId").getUInt(), expected[i].uniqId);
    }
}

TEST(CompilerAbortFlag, ClearedFlagReadsFalseOnAnotherThread)
{
    std::atomic<bool> stop{false};
    std::atomic<u32> raised{0};
    std::thread reader([&] {
        while (!stop.load()) {
            raised += PYRITE::VEXACompilerAPI::isAbortRequested() ? 1 : 0;
        }
    });
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(PYRITE::VEXACompilerAPI::clearAbortRequest(), 0);
    }
    EXPECT_FALSE(PYRITE::VEXACompilerAPI::isAbortRequested());
    stop = true;
    reader.join();
    EXPECT_EQ(raised.load(), 0u);
}

} // namespace

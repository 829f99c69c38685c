#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "compiler_CompilerForNativeCPU.h"
#include "compiler_TestDocuments.h"

using namespace Compiler;
using namespace compilertest;

namespace {

const std::string& samples()
{
    static const std::string text = readData("componentdb.json");
    return text;
}

// Ends the whole suite when run stops making progress: a hanging compile cannot be stopped otherwise. run counts
// each compile it finishes in progress, and the limit applies to one compile, not to the whole run, so a loaded
// machine makes a long sweep slower but never fails it.
void within(std::chrono::seconds limit, const char* what, const std::function<void(std::atomic<u64>&)>& run)
{
    std::atomic<u64> progress{0};
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::thread worker([&] {
        run(progress);
        done.set_value();
    });
    for (u64 seen = progress.load(); finished.wait_for(limit) != std::future_status::ready;) {
        const u64 now = progress.load();
        if (now == seen) {
            std::fprintf(stderr, "compile did not end in time: %s\n", what);
            std::_Exit(1);
        }
        seen = now;
    }
    worker.join();
}

// Asks the callback's query count; aborts on query number abortAt (0: never).
class CountingAbort : public ICompilerCallbackForNativeCPU
{
public:
    explicit CountingAbort(u32 abortAt) : m_abortAt(abortAt) {}
    i32 isAborted(bool& aborted) override
    {
        aborted = ++m_queries == m_abortAt;
        return 0;
    }
    u32 m_queries = 0;

private:
    u32 m_abortAt;
};

} // namespace

// The sample cases against their golden texts, each on a fresh compiler and on one reused after another case.
TEST(Compile, Goldens)
{
    struct Case
    {
        const char* name;
        const char* system;
        i32 result;
    };
    const Case cases[] = {
        {"fanin", "dspsystem_4core.json", COMPILER_OK},
        {"onecore", "dspsystem_1core.json", COMPILER_E_OVERFLOW},
        {"twocore", "dspsystem_2core.json", COMPILER_E_OVERFLOW},
        {"exact", "dspsystem_1core.json", COMPILER_E_NO_STEP},
        {"empty", "dspsystem_4core.json", COMPILER_OK},
    };
    CompilerForNativeCPU reused;
    for (const Case& c : cases) {
        const std::string connections = readData(std::string("case_") + c.name + ".connection.json");
        const std::string golden = readData(std::string("case_") + c.name + ".result.json");
        ASSERT_FALSE(golden.empty()) << c.name;
        CompilerForNativeCPU fresh;
        for (CompilerForNativeCPU* compiler : {&reused, &fresh}) {
            std::string text = "old";
            EXPECT_EQ(compiler->compile(samples(), connections, readData(c.system), nullptr, text), c.result) << c.name;
            EXPECT_EQ(text, golden) << c.name;
        }
    }
}

TEST(Compile, ConfigurationsWithoutSystemOrType)
{
    const std::string system = dspSystemDB(4);
    const std::string one = connectionDB({{1, "A"}}, {});
    struct Case
    {
        const char* what;
        std::string connections;
        std::string systems;
    };
    const Case cases[] = {
        {"name", connectionDB({{1, "A"}}, {}, {}, systemSetting("VEXA256-X")), system},
        {"fsHz", connectionDB({{1, "A"}}, {}, {}, systemSetting("VEXA256-D", 48000)), system},
        {"frame", one, dspSystemDB(4, "step", 96000, 64)},
        {"fsHz 0", connectionDB({{1, "A"}}, {}, {}, systemSetting("VEXA256-D", 0)), dspSystemDB(4, "step", 0)},
        {"numX", std::string(one).replace(one.find(R"("numX": 1)"), 9, R"("numX": 2)"), system},
        {"unknown type", connectionDB({{1, "Z"}}, {}), system},
        {"unreadable", "{", system},
    };
    CompilerForNativeCPU compiler;
    for (const Case& c : cases) {
        for (int round = 0; round < 2; ++round) {
            std::string text = "old";
            EXPECT_EQ(compiler.compile(samples(), c.connections, c.systems, nullptr, text), COMPILER_E_NO_SYSTEM)
                << c.what;
            EXPECT_TRUE(text.empty()) << c.what;
            // The second round follows a successful compile, whose model must not be used again.
            ASSERT_EQ(compiler.compile(samples(), one, system, nullptr, text), COMPILER_OK);
        }
    }
}

// An abort before the k-th placement keeps exactly the k-1 placements of the compile without an abort.
TEST(Compile, AbortKeepsAPrefix)
{
    std::vector<std::pair<u32, std::string>> components;
    std::vector<Connection> connections;
    for (u32 uid = 1; uid <= 12; ++uid) {
        components.emplace_back(uid, "ABC"[uid % 3] == 'A' ? "A" : uid % 3 == 1 ? "B" : "C");
        if (uid > 3) {
            connections.push_back({uid - 3, 0, uid, 0});
        }
    }
    const std::string connectionText = connectionDB(components, connections, {{1, 0, 2, 0}});
    CompilerForNativeCPU compiler;
    std::string text;
    ASSERT_EQ(compiler.compile(samples(), connectionText, dspSystemDB(2), nullptr, text), COMPILER_OK);
    const CompileResult full = compiler.getLastResult();
    ASSERT_EQ(full.m_dspAssignments.size(), 12u);

    CountingAbort first(1);
    ASSERT_EQ(compiler.compile(samples(), readData("case_fanin.connection.json"), readData("dspsystem_4core.json"),
                               &first, text),
              COMPILER_E_ABORTED);
    EXPECT_EQ(text, readData("case_fanin_abort.result.json"));
    for (u32 k = 1; k <= 12; ++k) {
        CountingAbort abort(k);
        EXPECT_EQ(compiler.compile(samples(), connectionText, dspSystemDB(2), &abort, text), COMPILER_E_ABORTED);
        EXPECT_EQ(abort.m_queries, k);
        const CompileResult& cut = compiler.getLastResult();
        EXPECT_EQ(cut.m_result, COMPILER_E_ABORTED);
        EXPECT_EQ(cut.m_dspAssignments,
                  std::vector<Assignment>(full.m_dspAssignments.begin(), full.m_dspAssignments.begin() + (k - 1)));
        EXPECT_NE(text.find("\"result\": 2147483650"), std::string::npos);
    }
    CountingAbort never(0);
    EXPECT_EQ(compiler.compile(samples(), connectionText, dspSystemDB(2), &never, text), COMPILER_OK);
    EXPECT_EQ(never.m_queries, 12u);
}

// Inputs on which the list scheduler could never finish end with a code, and the text is still written.
TEST(Compile, EndsOnEveryInput)
{
    struct Case
    {
        const char* what;
        std::string connections;
        std::string systems;
        i32 result;
    };
    const Case cases[] = {
        {"cycle", connectionDB({{1, "A"}, {2, "B"}}, {{1, 0, 2, 0}, {2, 0, 1, 0}}), dspSystemDB(4),
         COMPILER_E_OVERFLOW},
        {"self-loop", connectionDB({{5, "A"}}, {{5, 0, 5, 1}}), dspSystemDB(4), COMPILER_E_OVERFLOW},
        {"unknown uid", connectionDB({{1, "A"}, {2, "B"}}, {{1, 0, 99, 0}}), dspSystemDB(4), COMPILER_E_OVERFLOW},
        {"uid twice", connectionDB({{7, "A"}, {7, "B"}}, {}), dspSystemDB(4), COMPILER_E_OVERFLOW},
        {"no step", connectionDB({{1, "A"}}, {}), dspSystemDB(4, "mem"), COMPILER_E_NO_CORE},
    };
    for (const Case& c : cases) {
        within(std::chrono::seconds(60), c.what, [&](std::atomic<u64>&) {
            CompilerForNativeCPU compiler;
            std::string text;
            EXPECT_EQ(compiler.compile(samples(), c.connections, c.systems, nullptr, text), c.result) << c.what;
            EXPECT_NE(text.find("\"result\": 2147483648"), std::string::npos) << c.what;
            EXPECT_TRUE(compiler.getLastResult().m_dspAssignments.empty()) << c.what;
        });
    }
}

// Every cut of every sample document compiles to some outcome without a fault or a hang.
TEST(Compile, TruncatedSampleDocuments)
{
    const std::string documents[] = {samples(), readData("case_fanin.connection.json"),
                                     readData("dspsystem_4core.json")};
    testing::internal::CaptureStdout();
    // About 6000 compiles, each parsing all three texts.
    within(std::chrono::seconds(60), "truncations", [&](std::atomic<u64>& progress) {
        CompilerForNativeCPU compiler;
        for (size_t which = 0; which < 3; ++which) {
            for (size_t length = 0; length <= documents[which].size(); ++length) {
                std::string texts[3] = {documents[0], documents[1], documents[2]};
                texts[which].resize(length);
                std::string out;
                const i32 result = compiler.compile(texts[0], texts[1], texts[2], nullptr, out);
                EXPECT_TRUE(result == COMPILER_OK || result == COMPILER_E_NO_SYSTEM) << which << " " << length;
                ++progress;
            }
        }
    });
    (void)testing::internal::GetCapturedStdout();
}

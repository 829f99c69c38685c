#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <thread>

#include "compiler_CompileResult.h"
#include "dadov_AudioConfigDB.h"
#include "dadov_AudioConfigParserJSON.h"
#include "logic_TestSupport.h"
#include "pdb_JsonAdapter.h"
#include "tms_TestSupport.h"

using namespace DADOV;
using PDB::JsonValue;

namespace {

// The "JSON: " lines go through the debug print, and the store's lock needs the OS layer.
using AudioConfigTest = tmstest::OsLayerTest;

std::string stdoutOf(const std::function<void()>& run)
{
    testing::internal::CaptureStdout();
    run();
    return testing::internal::GetCapturedStdout();
}

JsonValue connectionJson(u32 from, u32 fromPort, u32 to, u32 toPort)
{
    return {{"fromUniqID", from}, {"fromPortNo", fromPort}, {"toUniqID", to}, {"toPortNo", toPort}};
}

// A document with one entry in every list, and the record it reads as.
JsonValue fullDocument()
{
    JsonValue system = {{"name", "VX"},
                        {"fsHz", 48000},
                        {"numSamplePerFrame", 64},
                        {"renderSamples", 32},
                        {"delayCompensation", true},
                        {"result", 2147483651u}};
    JsonValue component = {{"uniqID", 7}, {"name", "Mix"}, {"majorVersion", 2}, {"numX", 4}, {"numY", 1}};
    JsonValue assignment = {{"dspNo", 1},      {"coreNo", 2}, {"stepOffset", 5000000000u},
                            {"stepSize", 120}, {"uniqID", 7}, {"preUniqID", 3}};
    return {{"compileResult",
             {{"dspSystem", system},
              {"components", {component}},
              {"connections", {connectionJson(7, 0, 8, 1)}},
              {"dspAssignments", {assignment}},
              {"logicConnections", {connectionJson(9, 1, 7, 2)}}}}};
}

AudioConfig fullRecord()
{
    AudioConfig c;
    c.m_name = "VX";
    c.m_fsHz = 48000;
    c.m_numSamplePerFrame = 64;
    c.m_renderSamples = 32;
    c.m_delayCompensation = true;
    c.m_result = static_cast<i32>(0x80000003u);
    c.m_components = {{7, "Mix", 2, 4, 1}};
    c.m_connections = {{7, 0, 8, 1}};
    c.m_dspAssignments = {{1, 2, 5000000000u, 120, 7, 3}};
    c.m_logicConnections = {{9, 1, 7, 2}};
    return c;
}

std::string dumpOf(const JsonValue& document)
{
    std::string text;
    EXPECT_EQ(PDB::JsonAdapter::dump(document, text, 2), 0);
    return text;
}

std::string readSeed()
{
    std::ifstream in(VD_DADOV_COMPILE_RESULT_SEED, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

// Each case changes the full document and gives the record and the lines it must print. A missing section ends
// the fill with its line and keeps what was read before it; refused texts give a cleared record.
TEST_F(AudioConfigTest, ParserSectionsDefaultsAndRefusals)
{
    struct Case
    {
        const char* what;
        std::function<void(JsonValue&)> edit; // on the full document; null: use text
        std::string text;
        std::function<void(AudioConfig&)> expect; // on the full record; null: cleared
        std::string output;
    };
    const auto cleared = [](AudioConfig& c) { c.clear(); };
    const Case cases[] = {
        {"complete", [](JsonValue&) {}, "", [](AudioConfig&) {}, ""},
        {"no logicConnections", [](JsonValue& d) { d["compileResult"].erase("logicConnections"); }, "",
         [](AudioConfig& c) { c.m_logicConnections.clear(); }, "JSON: 'logicConnections' tag not found.\n"},
        {"no result", [](JsonValue& d) { d["compileResult"]["dspSystem"].erase("result"); }, "",
         [](AudioConfig& c) { c.m_result = DADOV_E_FAILED; }, ""},
        {"numeric and ill-typed elements",
         [](JsonValue& d) {
             d["compileResult"]["components"].push_back(5);
             d["compileResult"]["connections"][0]["toPortNo"] = "1";
             d["compileResult"]["dspSystem"]["delayCompensation"] = 1;
         },
         "",
         [](AudioConfig& c) {
             c.m_components.push_back({0, "", 0, 0, 0});
             c.m_connections[0].m_toPortNo = 0;
             c.m_delayCompensation = false;
         },
         ""},
        {"connections missing in the middle", [](JsonValue& d) { d["compileResult"].erase("connections"); }, "",
         [](AudioConfig& c) {
             c.m_connections.clear();
             c.m_dspAssignments.clear();
             c.m_logicConnections.clear();
         },
         "JSON: 'connections' tag not found.\n"},
        {"null dspAssignments", [](JsonValue& d) { d["compileResult"]["dspAssignments"] = nullptr; }, "",
         [](AudioConfig& c) {
             c.m_dspAssignments.clear();
             c.m_logicConnections.clear();
         },
         "JSON: 'dspAssignments' tag not found.\n"},
        {"no dspSystem", [](JsonValue& d) { d["compileResult"].erase("dspSystem"); }, "", cleared,
         "JSON: 'dspSystem' tag not found.\n"},
        {"root is an array", nullptr, "[1]", cleared, "JSON: 'compileResult' tag not found.\n"},
        {"not JSON", nullptr, "{", cleared, "exception id: 101\n"},
        {"trailing text", nullptr, "{} x", cleared, "exception id: 101\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string text = c.text;
        if (c.edit) {
            JsonValue document = fullDocument();
            c.edit(document);
            text = dumpOf(document);
        }
        AudioConfig expected = fullRecord();
        (c.expect ? c.expect : cleared)(expected);
        AudioConfig parsed;
        const std::string output = stdoutOf([&] { parsed = parseAudioConfigJSON(text.c_str()); });
        EXPECT_EQ(parsed, expected);
        if (c.output.rfind("exception id: ", 0) == 0) {
            EXPECT_EQ(output.rfind("message: [json.exception.parse_error.101]", 0), 0u) << output;
            EXPECT_EQ(output.substr(output.find('\n') + 1), c.output);
        } else {
            EXPECT_EQ(output, c.output);
        }
    }
    const std::string output = stdoutOf([] { EXPECT_EQ(parseAudioConfigJSON(nullptr), AudioConfig()); });
    EXPECT_EQ(output, "JSON: unknown exception occurred.\n");
}

// Whatever the writer writes reads back as the record with its lists in set order.
TEST_F(AudioConfigTest, RoundTripOfRandomRecords)
{
    std::mt19937 rng(29);
    const char* names[] = {"A", "Mix", "\xC3\x96rt", "q\"b\\s", "tab\tnl\n", "\x01", "Long name with spaces"};
    auto pick = [&](u32 n) { return static_cast<u32>(rng() % n); };
    for (int round = 0; round < 200; ++round) {
        Compiler::CompileResult r;
        r.m_name = names[pick(7)];
        r.m_fsHz = static_cast<u32>(rng());
        r.m_numSamplePerFrame = pick(1024);
        r.m_renderSamples = pick(1024);
        r.m_delayCompensation = pick(2) == 1;
        r.m_result = static_cast<i32>(rng());
        AudioConfig expected;
        expected.m_name = r.m_name;
        expected.m_fsHz = r.m_fsHz;
        expected.m_numSamplePerFrame = r.m_numSamplePerFrame;
        expected.m_renderSamples = r.m_renderSamples;
        expected.m_delayCompensation = r.m_delayCompensation;
        expected.m_result = r.m_result;
        for (u32 i = pick(12); i > 0; --i) {
            r.m_components.push_back({pick(6), names[pick(7)], pick(3), pick(3), static_cast<u32>(rng())});
            if (pick(4) == 0) {
                r.m_components.push_back(r.m_components.back());
            }
        }
        for (u32 i = pick(12); i > 0; --i) {
            r.m_connections.push_back({pick(4), pick(2), pick(4), pick(2)});
            r.m_logicConnections.push_back({pick(3), pick(2), pick(3), static_cast<u32>(rng())});
        }
        for (u32 i = pick(12); i > 0; --i) {
            Compiler::Assignment a{pick(2), pick(3), pick(5), pick(5), {}};
            const u64 offset = pick(2) == 0 ? pick(300) : (u64{rng()} << 8);
            if (pick(3) != 0) {
                a.m_allocations.push_back({"mem", 1, 2});
                a.m_allocations.push_back({"step", offset, pick(200)});
                a.m_allocations.push_back({"step", 9, 9});
            }
            const Compiler::Allocation* step = a.findStep();
            expected.m_dspAssignments.push_back({a.m_dspNo, a.m_coreNo, step != nullptr ? step->m_offset : 0,
                                                 step != nullptr ? step->m_size : 0, a.m_uniqID, a.m_preUniqID});
            r.m_dspAssignments.push_back(std::move(a));
        }
        expected.m_components = r.m_components;
        expected.m_connections = r.m_connections;
        expected.m_logicConnections = r.m_logicConnections;
        auto setOrder = [](auto& list) {
            std::sort(list.begin(), list.end());
            list.erase(std::unique(list.begin(), list.end()), list.end());
        };
        setOrder(expected.m_components);
        setOrder(expected.m_connections);
        setOrder(expected.m_dspAssignments);
        setOrder(expected.m_logicConnections);

        std::string text;
        ASSERT_EQ(Compiler::writeCompileResult(r, text), 0);
        ASSERT_EQ(parseAudioConfigJSON(text.c_str()), expected) << text;
    }
}

// The fuzz seed reads whole, and every shorter prefix of it is refused without harm.
TEST_F(AudioConfigTest, EveryTruncationOfTheFuzzSeed)
{
    const std::string seed = readSeed();
    ASSERT_GT(seed.size(), 1000u);
    const AudioConfig whole = parseAudioConfigJSON(seed.c_str());
    EXPECT_EQ(whole.m_components.size(), 30u);
    EXPECT_FALSE(whole.m_logicConnections.empty());
    // Four threads share the prefixes: the debug build parses slowly.
    std::atomic<size_t> refused{0};
    testing::internal::CaptureStdout();
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (size_t length = t; length < seed.size(); length += 4) {
                refused += parseAudioConfigJSON(seed.substr(0, length).c_str()) == AudioConfig() ? 1 : 0;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    (void)testing::internal::GetCapturedStdout();
    EXPECT_EQ(refused.load(), seed.size());
}

TEST_F(AudioConfigTest, StoreOnlyBetweenInitializeAndFinalize)
{
    AudioConfigDB& db = AudioConfigDB::getInstance();
    const AudioConfig full = fullRecord();
    AudioConfig out = full;
    out.m_name = "untouched";
    const AudioConfig before = out;
    EXPECT_EQ(db.setAudioConfig(full), DADOV_E_FAILED);
    EXPECT_EQ(db.getAudioConfig(out), DADOV_E_FAILED);
    EXPECT_EQ(out, before);

    std::string log = stdoutOf([&] {
        EXPECT_EQ(db.initialize(), DADOV_OK);
        EXPECT_EQ(db.initialize(), DADOV_E_FAILED);
    });
    EXPECT_EQ(logictest::countOf(log, "[i] AudioConfigDB::initialize - AUDIOCONFIG_DB() initialized.\n"), 1u);
    EXPECT_EQ(db.getAudioConfig(out), DADOV_OK);
    EXPECT_EQ(out, AudioConfig());
    EXPECT_EQ(db.setAudioConfig(full), DADOV_OK);
    EXPECT_EQ(db.getAudioConfig(out), DADOV_OK);
    EXPECT_EQ(out, full);

    log = stdoutOf([&] {
        EXPECT_EQ(db.finalize(), DADOV_OK);
        EXPECT_EQ(db.finalize(), DADOV_OK);
    });
    EXPECT_EQ(logictest::countOf(log, "[i] AudioConfigDB::finalize - AUDIOCONFIG_DB() finalized.\n"), 1u);
    out = before;
    EXPECT_EQ(db.getAudioConfig(out), DADOV_E_FAILED);
    EXPECT_EQ(db.setAudioConfig(AudioConfig()), DADOV_E_FAILED);
    EXPECT_EQ(out, before);
    // A second life keeps the lock and the record.
    EXPECT_EQ(db.initialize(), DADOV_OK);
    EXPECT_EQ(db.getAudioConfig(out), DADOV_OK);
    EXPECT_EQ(out, full);
}

TEST(AudioConnectionCollection, AddRemoveAndRemoveByUid)
{
    AudioConnectionCollection list;
    EXPECT_EQ(list.add(5, 0, 6, 0), DADOV_OK);
    EXPECT_EQ(list.add(6, 0, 5, 1), DADOV_OK);
    EXPECT_EQ(list.add(7, 0, 8, 0), DADOV_OK);
    EXPECT_EQ(list.add(6, 0, 5, 1), DADOV_OK);
    EXPECT_EQ(list.remove(7, 0, 8, 1), DADOV_OK);
    std::vector<AudioConnection> out;
    EXPECT_EQ(list.get(out), DADOV_OK);
    EXPECT_EQ(out, (std::vector<AudioConnection>{{5, 0, 6, 0}, {6, 0, 5, 1}, {7, 0, 8, 0}}));
    EXPECT_EQ(list.removeByUid(5), DADOV_OK);
    EXPECT_EQ(list.get(out), DADOV_OK);
    EXPECT_EQ(out, (std::vector<AudioConnection>{{7, 0, 8, 0}}));

    EXPECT_EQ(list.set({{1, 0, 2, 0}, {2, 0, 3, 0}, {1, 0, 2, 0}}), DADOV_OK);
    EXPECT_EQ(list.remove(1, 0, 2, 0), DADOV_OK);
    EXPECT_EQ(list.get(out), DADOV_OK);
    EXPECT_EQ(out, (std::vector<AudioConnection>{{2, 0, 3, 0}, {1, 0, 2, 0}}));
    EXPECT_EQ(list.clear(), DADOV_OK);
    EXPECT_EQ(list.size(), 0u);
}

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "compiler_CompileResult.h"
#include "compiler_TestDocuments.h"
#include "pdb_JsonAdapter.h"

using namespace Compiler;

namespace {

CompileResult systemOnly(const char* name)
{
    CompileResult record;
    record.m_name = name;
    record.m_fsHz = 48000;
    record.m_numSamplePerFrame = 64;
    record.m_renderSamples = 32;
    record.m_delayCompensation = true;
    record.m_result = COMPILER_E_OVERFLOW;
    return record;
}

Assignment assignment(u32 dsp, u32 core, u32 uid, u32 pre, std::vector<Allocation> allocations)
{
    return {dsp, core, uid, pre, std::move(allocations)};
}

// The document as the JSON library builds and dumps it: the reference for the writer's own serialisation.
std::string libraryDump(const CompileResult& r)
{
    using PDB::JsonValue;
    auto connections = [](std::vector<Connection> list) {
        std::sort(list.begin(), list.end());
        list.erase(std::unique(list.begin(), list.end()), list.end());
        JsonValue array = JsonValue::array();
        for (const Connection& c : list) {
            array.push_back({{"fromUniqID", c.m_fromUniqID},
                             {"fromPortNo", c.m_fromPortNo},
                             {"toUniqID", c.m_toUniqID},
                             {"toPortNo", c.m_toPortNo}});
        }
        return array;
    };
    std::vector<ComponentInstance> components = r.m_components;
    std::sort(components.begin(), components.end());
    components.erase(std::unique(components.begin(), components.end()), components.end());
    JsonValue componentArray = JsonValue::array();
    for (const ComponentInstance& c : components) {
        componentArray.push_back({{"uniqID", c.m_uniqID},
                                  {"name", c.m_name},
                                  {"majorVersion", c.m_majorVersion},
                                  {"numX", c.m_numX},
                                  {"numY", c.m_numY}});
    }
    std::vector<std::tuple<u32, u32, u64, u32, u32, u32>> keys;
    for (const Assignment& a : r.m_dspAssignments) {
        const Allocation* step = a.findStep();
        keys.emplace_back(a.m_dspNo, a.m_coreNo, step ? step->m_offset : 0, step ? step->m_size : 0, a.m_uniqID,
                          a.m_preUniqID);
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    JsonValue assignmentArray = JsonValue::array();
    for (const auto& [dsp, core, offset, size, uid, pre] : keys) {
        assignmentArray.push_back({{"dspNo", dsp},
                                   {"coreNo", core},
                                   {"stepOffset", offset},
                                   {"stepSize", size},
                                   {"uniqID", uid},
                                   {"preUniqID", pre}});
    }
    JsonValue document = {{"compileResult",
                           {{"dspSystem",
                             {{"name", r.m_name},
                              {"fsHz", r.m_fsHz},
                              {"numSamplePerFrame", r.m_numSamplePerFrame},
                              {"renderSamples", r.m_renderSamples},
                              {"delayCompensation", r.m_delayCompensation},
                              {"result", static_cast<u32>(r.m_result)}}},
                            {"components", componentArray},
                            {"connections", connections(r.m_connections)},
                            {"dspAssignments", assignmentArray},
                            {"logicConnections", connections(r.m_logicConnections)}}}};
    std::string text;
    EXPECT_EQ(PDB::JsonAdapter::dumpReplacing(document, text, 2), 0);
    return text;
}

} // namespace

TEST(CompileResultWriter, Goldens)
{
    std::string text;
    ASSERT_EQ(writeCompileResult(systemOnly("S"), text), COMPILER_OK);
    EXPECT_EQ(text, compilertest::readData("result_empty.json"));

    // Lists given out of order and with duplicates; an assignment without "step"; a 64-bit offset; UTF-8.
    CompileResult r = systemOnly("S2");
    r.m_fsHz = 96000;
    r.m_numSamplePerFrame = 32;
    r.m_delayCompensation = false;
    r.m_result = 0;
    r.m_components = {
        {7, "b", 1, 1, 1}, {7, "ab", 1, 1, 1}, {2, "\xC3\x96", 3, 2, 1}, {7, "b", 1, 1, 1}, {1, "A", 1, 1, 1}};
    r.m_connections = {{1, 0, 7, 0}, {1, 0, 2, 1}, {1, 0, 7, 0}};
    r.m_dspAssignments = {assignment(0, 1, 2, 0, {{"step", 0, 50}}),
                          assignment(0, 0, 7, 1, {{"mem", 4, 10}, {"step", 120, 30}, {"step", 999, 1}}),
                          assignment(0, 0, 1, 0, {{"step", 0, 120}}),
                          assignment(0, 0, 1, 0, {{"step", 0, 120}}),
                          assignment(0, 2, 9, 0, {{"mem", 3, 3}}),
                          assignment(1, 0, 8, 0, {{"step", 5000000000ull, 7}})};
    r.m_logicConnections = {{9, 1, 7, 0}, {2, 0, 9, 0}, {9, 1, 7, 0}};
    ASSERT_EQ(writeCompileResult(r, text), COMPILER_OK);
    EXPECT_EQ(text, compilertest::readData("result_lists.json"));
}

TEST(CompileResultWriter, RefusalsAndForeignText)
{
    std::string text = "old";
    EXPECT_EQ(writeCompileResult(systemOnly(""), text), COMPILER_E_FAILED);
    EXPECT_TRUE(text.empty());

    CompileResult r = systemOnly("a\xFF"
                                 "b");
    r.m_components = {{1, "q\"\\\n\x01\x7F\xC3", 0, 0, 0}};
    ASSERT_EQ(writeCompileResult(r, text), COMPILER_OK);
    EXPECT_NE(text.find("\"name\": \"a\xEF\xBF\xBD"
                        "b\""),
              std::string::npos);
    EXPECT_NE(text.find("\"name\": \"q\\\"\\\\\\n\\u0001\x7F\xEF\xBF\xBD\""), std::string::npos);
}

// Random records, with texts of every byte, written exactly as the library dumps the same document.
TEST(CompileResultWriter, MatchesLibraryDumpOnRandomRecords)
{
    std::mt19937 rng(4242);
    auto pick = [&rng](u32 n) { return static_cast<u32>(rng() % n); };
    auto text = [&](bool ascii) {
        std::string s(pick(6), 'a');
        for (char& c : s) {
            c = static_cast<char>(ascii ? 'a' + pick(3) : pick(256));
        }
        return s;
    };
    for (int round = 0; round < 200; ++round) {
        CompileResult r;
        r.m_name = text(round % 2 == 0) + "N";
        r.m_fsHz = static_cast<u32>(rng());
        r.m_numSamplePerFrame = pick(3);
        r.m_renderSamples = static_cast<u32>(rng());
        r.m_delayCompensation = pick(2) == 1;
        r.m_result = static_cast<i32>(rng());
        for (u32 i = pick(6); i > 0; --i) {
            r.m_components.push_back({pick(4), text(pick(4) != 0), pick(2), pick(2), pick(2)});
        }
        for (u32 i = pick(6); i > 0; --i) {
            r.m_connections.push_back({pick(3), pick(2), pick(3), pick(2)});
            r.m_logicConnections.push_back({pick(2), pick(2), pick(3), pick(2)});
        }
        for (u32 i = pick(6); i > 0; --i) {
            std::vector<Allocation> allocations;
            for (u32 k = pick(3); k > 0; --k) {
                allocations.push_back({pick(2) ? "step" : "mem", (u64{rng()} << 32) | pick(3), pick(3)});
            }
            r.m_dspAssignments.push_back(assignment(pick(2), pick(2), pick(4), pick(4), allocations));
        }
        std::string written;
        ASSERT_EQ(writeCompileResult(r, written), COMPILER_OK);
        ASSERT_EQ(written, libraryDump(r)) << "round " << round;
    }
}

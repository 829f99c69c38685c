// The compiler input documents against golden files, byte for byte, and the compiler reading them back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler_CompilerForNativeCPU.h"
#include "fsw_TestSupport.h"
#include "pyrite_AudioEngineTestSupport.h"
#include "pyrite_VEXACompilerAPI.h"

namespace {

namespace API = PYRITE::VEXACompilerAPI;
using DADOV::AudioComponent;
using DADOV::AudioConnection;
using pyritetest::AudioEngine;

std::string golden(const std::string& name)
{
    const std::optional<std::string> text = fswtest::readFile(std::string(APPEDITOR_TEST_DATA) + "/" + name);
    EXPECT_TRUE(text.has_value()) << name;
    return text.value_or("");
}

AudioComponent& componentOf(AudioEngine& engine, u32 uid)
{
    AudioComponent* component = engine.collection().findComponent(uid);
    EXPECT_NE(component, nullptr) << uid;
    return *component;
}

using Documents = std::pair<std::string, std::string>; // ComponentDB, ConnectionDB

Documents fromCollection()
{
    return {API::createComponentDB(), API::createConnectionDB()};
}

void twoGains(AudioEngine& engine)
{
    engine.add("testgain", 1, 100);
    engine.add("testgain", 1, 101);
    ASSERT_EQ(engine.collection().addConnection(100, 0, 101, 0), 0);
}

struct Case
{
    const char* name;
    void (*setup)(AudioEngine&);
    Documents (*documents)();
    const char* componentGolden; // in tests/appeditor/data
    const char* connectionGolden;
    // What the compiler read back.
    size_t instances;
    size_t logicLinks;
};

constexpr const char* INVALID_UTF8_NAME = "gain\xff\xc3";

const Case CASES[] = {
    {"empty", [](AudioEngine&) {}, fromCollection, "empty.componentdb.json", "empty.connectiondb.json", 0, 0},
    {"two instances of one type", twoGains, fromCollection, "gain.componentdb.json", "two_gains.connectiondb.json", 2,
     0},
    {"a third instance with numX 2",
     [](AudioEngine& engine) {
         twoGains(engine);
         engine.add("testgain", 1, 102, 2);
     },
     fromCollection, "gain_numx2.componentdb.json", "three_gains.connectiondb.json", 3, 0},
    {"added in the order 102, 100, 101",
     [](AudioEngine& engine) {
         engine.add("testgain", 1, 102, 2);
         engine.add("testgain", 1, 100);
         engine.add("TestMixer", 2, 101);
     },
     fromCollection, "uid_order.componentdb.json", "uid_order.connectiondb.json", 3, 0},
    {"a logic link seen from both ends",
     [](AudioEngine& engine) {
         engine.add("TestMixer", 2, 7);
         engine.add("TestMixer", 2, 5);
         LogicCtrl::AbstractLogicComponent& b = componentOf(engine, 7).getLogicComponent();
         ASSERT_EQ(componentOf(engine, 5).getLogicComponent().connectOutput(0, &b, 1), 0);
     },
     fromCollection, "mixer.componentdb.json", "logic_link.connectiondb.json", 2, 1},
    {"the collection lists a connection twice", twoGains,
     []() -> Documents {
         std::vector<AudioConnection> list;
         EXPECT_EQ(DADOV::AudioComponentCollection::getInstance().getConnections(list), 0);
         list.insert(list.end(), list.begin(), list.end());
         const API::ComponentList& components = DADOV::AudioComponentCollection::getInstance().getComponentList();
         return {API::createComponentDB(), API::writeConnectionDB(API::collectInstances(components), list, {})};
     },
     "gain.componentdb.json", "two_gains.connectiondb.json", 2, 0},
    {"a type name that is not UTF-8", [](AudioEngine&) {},
     []() -> Documents {
         return {API::writeComponentDB(
                     {{INVALID_UTF8_NAME, 1, 1, 1, 1, 1, {{"VEXA-D CPU", 96000, 32, 0, {{"step", 1000}}}}}}),
                 API::writeConnectionDB({{101, INVALID_UTF8_NAME, 1, 1, 1}, {100, INVALID_UTF8_NAME, 1, 1, 1}},
                                        {{100, 0, 101, 0}}, {})};
     },
     "invalid_name.componentdb.json", "invalid_name.connectiondb.json", 2, 0},
};

TEST(CompilerInputDocuments, MatchTheGoldenFilesAndCompile)
{
    AudioEngine engine;
    for (const Case& c : CASES) {
        SCOPED_TRACE(c.name);
        c.setup(engine);
        const auto [componentDB, connectionDB] = c.documents();
        EXPECT_EQ(componentDB, golden(c.componentGolden));
        EXPECT_EQ(connectionDB, golden(c.connectionGolden));

        Compiler::CompilerForNativeCPU compiler;
        std::string result;
        EXPECT_EQ(compiler.compile(componentDB, connectionDB, API::createDspSystemDB(), nullptr, result), 0);
        EXPECT_EQ(compiler.getLastResult().m_components.size(), c.instances);
        EXPECT_EQ(compiler.getLastResult().m_logicConnections.size(), c.logicLinks);
        engine.clear();
    }
}

TEST(CompilerInputDocuments, DspSystemIsTheFixedModelOnEveryCall)
{
    const std::optional<std::string> model =
        fswtest::readFile(std::string(COMPILER_TEST_DATA) + "/dspsystem_4core.json");
    ASSERT_TRUE(model.has_value());
    EXPECT_EQ(API::createDspSystemDB(), *model);
    EXPECT_EQ(API::createDspSystemDB(), *model);
}

TEST(CompilerResourceFigures, UsageSumSaturatesInsteadOfWrapping)
{
    AudioEngine engine;
    engine.add("hugegain", 1, 1);
    EXPECT_EQ(API::getTotalProcessingResourceUsage(), 0xFFFFFFFFu);
    engine.add("hugegain", 1, 2);
    EXPECT_EQ(API::getProcessingResourceUsage(2), 0xFFFFFFFFu);
    EXPECT_EQ(API::getTotalProcessingResourceUsage(), 0xFFFFFFFFu);
}

} // namespace

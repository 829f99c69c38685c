#include <gtest/gtest.h>

#include <functional>

#include "compiler_ComponentDBConverter.h"
#include "compiler_ConnectionDBConverter.h"
#include "compiler_DspSystemDBConverter.h"
#include "os_Tasks.h"

using namespace Compiler;

namespace {

class Loaders : public ::testing::Test
{
protected:
    // The "tag not found" lines go through the debug print, which needs the OS layer.
    static void SetUpTestSuite()
    {
        if (!ossupport::isInitialized()) {
            ASSERT_EQ(ossupport::initialize(), 0u);
        }
    }
};

std::string stdoutOf(const std::function<void()>& run)
{
    testing::internal::CaptureStdout();
    run();
    return testing::internal::GetCapturedStdout();
}

struct Loaded
{
    ComponentDB types;
    ConnectionDB connections;
    DspSystemDB systems;
};

// Loads text with one loader into a pre-filled destination; the output printed, and the loader's result checked.
std::string load(int which, const std::string& text, Loaded& out)
{
    out.types.m_components.resize(1);
    out.connections.m_components.resize(1);
    out.connections.m_dspSystem.m_name = "old";
    out.systems.m_dspSystems.resize(1);
    return stdoutOf([&] {
        const i32 result = which == 0   ? loadComponentDB(out.types, text)
                           : which == 1 ? loadConnectionDB(out.connections, text)
                                        : loadDspSystemDB(out.systems, text);
        EXPECT_EQ(result, 0);
    });
}

bool isEmpty(int which, const Loaded& l)
{
    return which == 0   ? l.types.m_components.empty()
           : which == 1 ? l.connections == ConnectionDB()
                        : l.systems.m_dspSystems.empty();
}

} // namespace

// Each missing container prints its own line, and texts the library refuses print its two lines; every loader
// then returns 0 with an empty result.
TEST_F(Loaders, MissingContainersAndRefusedTexts)
{
    const char* system = R"("dspSystem": {"name": "S", "fsHz": 1, "numSamplePerFrame": 2})";
    struct Case
    {
        int which;
        std::string text;
        std::string output; // exact, or for refused texts the expected id line
        bool keepsSetting;
    };
    const Case cases[] = {
        {0, "{}", "JSON: 'componentDB' tag not found.\n", false},
        {0, R"({"componentDB": {"components": null}})", "JSON: 'components' tag not found.\n", false},
        {1, "[]", "JSON: 'connectionDB' tag not found.\n", false},
        {1, R"({"connectionDB": {"dspSystem": null}})", "JSON: 'dspSystem' tag not found.\n", false},
        {1, std::string(R"({"connectionDB": {)") + system + "}}", "JSON: 'components' tag not found.\n", true},
        {1, std::string(R"({"connectionDB": {"components": [{"uniqID": 1}], )") + system + "}}",
         "JSON: 'connections' tag not found.\n", true},
        {1, std::string(R"({"connectionDB": {"components": [1], "connections": [{}], )") + system + "}}",
         "JSON: 'logicConnections' tag not found.\n", true},
        {2, "{}", "JSON: 'dspSystemDB' tag not found.\n", false},
        {2, R"({"dspSystemDB": {}})", "JSON: 'dspSystems' tag not found.\n", false},
    };
    for (const Case& c : cases) {
        Loaded loaded;
        EXPECT_EQ(load(c.which, c.text, loaded), c.output) << c.text;
        if (c.keepsSetting) {
            EXPECT_EQ(loaded.connections.m_dspSystem, (DspSystemSetting{"S", 1, 2, 0, false})) << c.text;
            loaded.connections.m_dspSystem = DspSystemSetting();
        }
        EXPECT_TRUE(isEmpty(c.which, loaded)) << c.text;
    }
    for (int which = 0; which < 3; ++which) {
        for (const auto& [text, id] : {std::pair{"{", "101"}, {"1e400", "406"}, {"{} x", "101"}}) {
            Loaded loaded;
            const std::string output = load(which, text, loaded);
            EXPECT_EQ(output.rfind("message: ", 0), 0u) << output;
            EXPECT_NE(output.find(std::string("\nexception id: ") + id + "\n"), std::string::npos) << output;
            EXPECT_TRUE(isEmpty(which, loaded)) << text;
        }
    }
}

TEST_F(Loaders, ComponentTypes)
{
    ComponentDB db;
    const std::string text = R"({"componentDB": {"components": [
        {"name": "A", "majorVersion": "3", "numX": 2, "numY": 1.9, "numOutPort": true,
         "dspResources": [{"dspName": "D", "fsHz": 48000.9, "numSamplePerFrame": 32, "fixedDelay": 4,
                           "resources": [{"name": "step", "size": 100}, {"name": "mem"}]}, 7]},
        5,
        {"name": "B", "majorVersion": true, "dspResources": {"a": 1}}]}})";
    EXPECT_EQ(stdoutOf([&] { (void)loadComponentDB(db, text + std::string(1, '\0') + "garbage"); }), "");
    const std::vector<ComponentTypeInfo> expected = {
        {"A", 0, 2, 1, 0, 1, {{"D", 48000, 32, 4, {{"step", 100}, {"mem", 0}}}, {}}},
        {},
        {"B", 1, 0, 0, 0, 0, {{}}},
    };
    EXPECT_EQ(db.m_components, expected);
}

TEST_F(Loaders, ConnectionListsAreOrderedSets)
{
    ConnectionDB db;
    const std::string text = R"({"connectionDB": {
        "dspSystem": {"name": "S", "fsHz": 96000, "numSamplePerFrame": 32, "renderSamples": 16,
                      "delayCompensation": true},
        "components": [{"uniqID": 9, "name": "x"}, {"uniqID": 2, "name": "x"}, {"uniqID": 5, "name": "x"},
                       {"uniqID": 7, "name": "b"}, {"uniqID": 7, "name": "ab"}, {"uniqID": 2, "name": "x"}, 3],
        "connections": [{"fromUniqID": 5, "toUniqID": 9}, {"fromUniqID": 2, "toUniqID": 9, "toPortNo": 1},
                        {"fromUniqID": 5, "toUniqID": 9}],
        "logicConnections": [{"fromUniqID": 9, "fromPortNo": 1, "toUniqID": 2}, {"fromUniqID": 7}]}})";
    EXPECT_EQ(stdoutOf([&] { (void)loadConnectionDB(db, text); }), "");
    EXPECT_EQ(db.m_dspSystem, (DspSystemSetting{"S", 96000, 32, 16, true}));
    const std::vector<ComponentInstance> components = {{0, "", 0, 0, 0},   {2, "x", 0, 0, 0}, {5, "x", 0, 0, 0},
                                                       {7, "ab", 0, 0, 0}, {7, "b", 0, 0, 0}, {9, "x", 0, 0, 0}};
    EXPECT_EQ(db.m_components, components);
    EXPECT_EQ(db.m_connections, (std::vector<Connection>{{2, 0, 9, 1}, {5, 0, 9, 0}}));
    EXPECT_EQ(db.m_logicConnections, (std::vector<Connection>{{7, 0, 0, 0}, {9, 1, 2, 0}}));
}

TEST_F(Loaders, DspSystemsNumberDspsAndCoresByPosition)
{
    DspSystemDB db;
    const std::string text = R"({"dspSystemDB": {"dspSystems": [
        {"name": "S", "fsHz": 96000, "numSamplePerFrame": 32, "dsps": [{"name": "D", "cores": [
            {"resources": [{"name": "step", "offset": 3, "size": 1.5e10, "shared": true}]},
            {"coreNo": 9},
            {"coreNo": 7, "resources": [{"name": "mem", "size": true}]}]}, {"dspNo": 5}]},
        {"name": "T"}]}})";
    EXPECT_EQ(stdoutOf([&] { (void)loadDspSystemDB(db, text); }), "");
    const std::vector<DspSystemInfo> expected = {
        {"S",
         96000,
         32,
         {{0, "D", {{0, {{"step", 3, 15000000000ull, true}}}, {1, {}}, {2, {{"mem", 0, 0, false}}}}}, {1, "", {}}}},
        {"T", 0, 0, {}},
    };
    EXPECT_EQ(db.m_dspSystems, expected);
}

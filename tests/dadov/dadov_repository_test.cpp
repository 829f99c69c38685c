#include <gtest/gtest.h>

#include <dlfcn.h>

#include <sstream>
#include <string>
#include <vector>

#include "dadov_AudioComponentDLLRepository.h"
#include "dadov_TestSupport.h"
#include "os_Library.h"

namespace {

using DADOV::AudioComponentDLLRepository;

const std::string PREFIX = "AudioComponentDLLRepository::initialize - ";

// The repository's own lines of a captured output.
std::vector<std::string> repositoryLines(const std::string& output)
{
    std::vector<std::string> lines;
    std::istringstream stream(output);
    for (std::string line; std::getline(stream, line);) {
        if (line.find(PREFIX) != std::string::npos) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::string found(const char* what)
{
    return "[i] " + PREFIX + "DADOV Component[" + what + "] found.";
}

std::string failed(const std::string& what)
{
    return "[E] " + PREFIX + what;
}

TEST(PluginRepository, ScansByListedNameAndLogsEachFailureOnce)
{
    dadovtest::createDatabases(11);
    dadovtest::PluginFolder folder;
    for (const char* plugin : {"TestMixer_2.dll", "NoLogic_1.dll", "NoCoef_1.dll", "NullParamInfo_1.dll",
                               "BadJson_1.dll", "Mismatch_3.dll", "Mixer_2.DLL"}) {
        folder.add(plugin);
    }
    folder.add("TestMixer_2.dll", "Mixer_2.dll");
    folder.add("TestMixer_2.dll", "MIXER_2.dll");
    for (const char* other : {"Bad_1.dll", "readme.txt", "a.dll.bak", "dll", ".dll"}) {
        folder.addText(other, "not a library\n");
    }
    AudioComponentDLLRepository& repository = AudioComponentDLLRepository::getInstance();
    testing::internal::CaptureStdout();
    ASSERT_EQ(repository.initialize(folder.path().c_str()), 0);
    const std::vector<std::string> expected = {
        found(" ver:0"), // BadJson_1: its description does not parse
        failed("DLLOpen failed. (bad_1.dll)"),
        found("TestMixer ver:2"), // MIXER_2.dll
        found("Other ver:1"),     // Mismatch_3.dll
        found("TestMixer ver:2"), // Mixer_2.DLL; Mixer_2.dll after it is skipped
        failed("GetDLLFunction \"createCalcCoefFunction\" failed. (nocoef_1.dll)"),
        failed("GetDLLFunction \"createLogicControlFunction\" failed. (nologic_1.dll)"),
        found("NoLogic ver:1"),
        failed("CreateParamInfo failed. (nullparaminfo_1.dll)"),
        found("TestMixer ver:2"),
    };
    EXPECT_EQ(repositoryLines(testing::internal::GetCapturedStdout()), expected);
    EXPECT_EQ(repository.getTypeKeys(),
              (std::vector<std::string>{"BadJson_1", "MIXER_2", "Mismatch_3", "Mixer_2", "NoLogic_1", "TestMixer_2"}));

    const DADOV::AudioComponentType& mixer = repository.findType("Mixer_2");
    Dl_info where{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(mixer.createParamInfo), &where), 0);
    EXPECT_EQ(std::string(where.dli_fname), folder.path() + "Mixer_2.DLL");
    EXPECT_EQ(repository.findType("NoLogic_1").createLogicControl, nullptr);
    EXPECT_NE(repository.findType("NoLogic_1").createCalcCoef, nullptr);
    const DADOV::AudioComponentType& testMixer = repository.findType("TestMixer_2");
    EXPECT_NE(testMixer.createLogicControl, nullptr);
    // One description key, one strategy: the first library in the listing keeps it.
    EXPECT_EQ(testMixer.strategy, repository.findType("MIXER_2").strategy);
    EXPECT_EQ(testMixer.strategy->getParamInfo(), repository.findType("MIXER_2").paramInfo);
    for (const char* unknown : {static_cast<const char*>(nullptr), "Nope_1", "mixer_2"}) {
        const DADOV::AudioComponentType& none = repository.findType(unknown);
        EXPECT_EQ(none.library, nullptr);
        EXPECT_EQ(none.createParamInfo, nullptr);
        EXPECT_EQ(none.paramInfo, nullptr);
        EXPECT_EQ(none.strategy, nullptr);
    }

    // An extra load keeps the plug-in readable after the repository let go of it.
    const std::string testMixerPath = folder.path() + "TestMixer_2.dll";
    ossupport::LibraryModule extra = nullptr;
    ASSERT_EQ(ossupport::loadDynamicLibrary(&extra, nullptr, 0, testMixerPath.c_str()), 0u);
    TestPluginProbe* probe = dadovtest::probeOf(testMixer);
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe->liveObjects, 1);

    EXPECT_EQ(repository.unloadAll(), 0);
    EXPECT_TRUE(repository.getTypeKeys().empty());
    EXPECT_EQ(probe->liveObjects, 0); // the factory's reference and the interface's were both given back
    EXPECT_EQ(ossupport::freeDynamicLibrary(extra), 0u);
    EXPECT_EQ(dlopen(testMixerPath.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST(PluginRepository, EmptyAndMissingFolders)
{
    AudioComponentDLLRepository& repository = AudioComponentDLLRepository::getInstance();
    dadovtest::PluginFolder empty;
    EXPECT_EQ(repository.initialize(empty.path().c_str()), 0);
    EXPECT_TRUE(repository.getTypeKeys().empty());

    const std::string missing = empty.path() + "missing/";
    testing::internal::CaptureStdout();
    EXPECT_EQ(repository.initialize(missing.c_str()), static_cast<i32>(0x80000000u));
    EXPECT_EQ(repositoryLines(testing::internal::GetCapturedStdout()),
              std::vector<std::string>{failed("OpenDir failed. (" + missing + ")")});
}

} // namespace

#include "pyrite_AudioEngineTestSupport.h"

#include <gtest/gtest.h>

#include "dadov_AudioConfigDB.h"
#include "fsw_TestSupport.h"
#include "logic_LogicComponentCollection.h"
#include "logic_TestSupport.h"

namespace pyritetest {

AudioEngine::AudioEngine()
{
    logictest::startOsLayer();
    dadovtest::createDatabases(11);
    const std::string built = std::string(APPEDITOR_TEST_PLUGIN_DIR) + "/";
    const std::optional<std::string> gain = fswtest::readFile(built + "testgain_1.dll");
    const std::optional<std::string> huge = fswtest::readFile(built + "hugegain_1.dll");
    EXPECT_TRUE(gain.has_value() && huge.has_value());
    m_folder.addText("testgain_1.dll", gain.value_or(""));
    m_folder.addText("hugegain_1.dll", huge.value_or(""));
    m_folder.add("TestMixer_2.dll");
    EXPECT_EQ(LogicCtrl::LogicComponentCollection::getInstance().initialize(), 0);
    EXPECT_EQ(DADOV::AudioConfigDB::getInstance().initialize(), 0);
    EXPECT_EQ(collection().initialize(m_folder.path().c_str(), DADOV::AudioComponentCollection::DEFAULT_MAX_THREADS),
              0);
    EXPECT_EQ(collection().beginByThread(nullptr), 0);
}

AudioEngine::~AudioEngine()
{
    (void)collection().endByThread();
    (void)collection().finalize();
    (void)DADOV::AudioConfigDB::getInstance().finalize();
    (void)LogicCtrl::LogicComponentCollection::getInstance().finalize();
}

void AudioEngine::add(const char* type, u32 majorVersion, u32 uid, u32 numX, u32 numY)
{
    ASSERT_EQ(collection().addComponent(type, majorVersion, uid, numX, numY), 0) << type << " " << uid;
}

void AudioEngine::clear()
{
    (void)collection().reqRemoveAllComponents();
    (void)collection().updateByThread();
}

} // namespace pyritetest

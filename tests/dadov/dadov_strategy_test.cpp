#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "dadov_AudioComponentDLLRepository.h"
#include "dadov_Config.h"
#include "dadov_PDBParameterStrategy.h"
#include "dadov_TestSupport.h"
#include "logic_TestSupport.h"
#include "pdb_ParameterDBCollection.h"

namespace {

using DADOV::AudioComponentDLLRepository;
using DADOV::PDBAccessor;
using DADOV::VariantType;

constexpr i32 FAILED = static_cast<i32>(0x80000000u);
constexpr u32 UID = 77;
constexpr u32 GAIN = 0, MODE = 1, NAME = 2, BLOB = 3, LEVEL = 4, ON = 5;
constexpr u8 ORIGIN = 255;

// A TestMixer component (2 x 1) in the shared component database, with TestMixer_2 alone in the folder.
class MixerStrategy : public ::testing::Test
{
protected:
    void SetUp() override
    {
        logictest::startOsLayer();
        dadovtest::createDatabases(11);
        m_db = &PDB::ParameterDBCollection::getInstance(10);
        m_folder.add("TestMixer_2.dll");
        ASSERT_EQ(repository().initialize(m_folder.path().c_str()), 0);
        m_probe = dadovtest::probeOf(type());
        ASSERT_NE(m_probe, nullptr);
        ASSERT_EQ(DADOV::addPDBComponent(UID, "TestMixer", 2, 2, 1, 0), 0);
        m_index = m_db->getComponentIndex(UID);
        ASSERT_NE(m_index, 0xFFFFFFFFu);
    }
    void TearDown() override
    {
        m_db->clear();
        repository().unloadAll();
    }

    // Made after the databases, so that it goes first at exit.
    static AudioComponentDLLRepository& repository() { return AudioComponentDLLRepository::getInstance(); }
    static const DADOV::AudioComponentType& type() { return repository().findType("TestMixer_2"); }
    i32 gain() const { return m_db->getValueInt(m_index, GAIN, 0, 0, nullptr); }
    std::string log() const { return std::string(m_probe->changeLog, m_probe->changeLogLength); }

    dadovtest::PluginFolder m_folder;
    PDB::IParameterDB* m_db = nullptr;
    TestPluginProbe* m_probe = nullptr;
    u32 m_index = 0;
};

TEST_F(MixerStrategy, HooksNarrowAdjustAndSeeEachChange)
{
    EXPECT_EQ(gain(), 7); // the value hook's default
    ASSERT_GE(m_db->setValueInt(m_index, GAIN, 0, 0, 60, ORIGIN), 0);
    EXPECT_EQ(gain(), 50); // the range hook's maximum
    ASSERT_GE(m_db->setValueInt(m_index, GAIN, 0, 0, 50, ORIGIN), 0);
    ASSERT_GE(m_db->setToDefault(m_index, GAIN, 0, 0, ORIGIN), 0);
    EXPECT_EQ(gain(), 7);
    EXPECT_EQ(log(), "29 0 i50 i7\n29 0 i7 i50\n");

    // A write made by the change hook reaches the database without running the hook again.
    m_probe->writeBackMode = 2;
    const u32 changeCalls = m_probe->calls[29];
    ASSERT_GE(m_db->setValueInt(m_index, GAIN, 0, 0, 10, ORIGIN), 0);
    EXPECT_EQ(m_probe->writeBackResult, 0);
    EXPECT_EQ(m_db->getValueUInt(m_index, MODE, 0, 0, nullptr), 2u);
    EXPECT_EQ(m_probe->calls[29], changeCalls + 1);
    EXPECT_EQ(logictest::countOf(log(), "29 1 "), 0u);
}

TEST_F(MixerStrategy, SwitchedOffHooksCallNothing)
{
    m_probe->hooksOff = 1;
    m_probe->changeHookOff = 1;
    DADOV::PDBParameterStrategy& strategy = *type().strategy;
    ASSERT_EQ(strategy.setup(type().paramInfo), 0);
    EXPECT_FALSE(strategy.isRangeHookOn() || strategy.isValueHookOn() || strategy.isChangeHookOn());
    const u32 before[] = {m_probe->calls[27], m_probe->calls[28], m_probe->calls[29]};
    ASSERT_GE(m_db->setValueInt(m_index, GAIN, 0, 0, 900, ORIGIN), 0);
    EXPECT_EQ(gain(), 900); // the description's own maximum applies
    ASSERT_GE(m_db->setToDefault(m_index, GAIN, 1, 0, ORIGIN), 0);
    EXPECT_EQ(m_db->getValueInt(m_index, GAIN, 1, 0, nullptr), -3); // the description's default
    const u32 after[] = {m_probe->calls[27], m_probe->calls[28], m_probe->calls[29]};
    EXPECT_EQ(std::memcmp(before, after, sizeof(before)), 0);
}

TEST_F(MixerStrategy, ADefaultThatDoesNotConvertBackIsKept)
{
    m_probe->leaveBadTag = 1;
    ASSERT_GE(m_db->setValueInt(m_index, GAIN, 0, 0, 5, ORIGIN), 0);
    ASSERT_GE(m_db->setToDefault(m_index, GAIN, 0, 0, ORIGIN), 0);
    EXPECT_EQ(gain(), -3); // the description's default, not whatever the tag-9 value held
}

i64 numberOf(const VariantType& value)
{
    return value.getType() == VariantType::TYPE_INT ? value.getInt() : static_cast<i64>(value.getUInt());
}

TEST_F(MixerStrategy, AccessorPositionsReachTheComponent)
{
    PDBAccessor accessor(m_db, m_index);
    EXPECT_EQ(accessor.getVersion(), 1u);
    char text[8];
    std::memset(text, '#', sizeof(text));
    ASSERT_EQ(accessor.getValueString(NAME, 0, 0, text, 4), 0);
    EXPECT_STREQ(text, "Mix");
    EXPECT_EQ(text[4], '#');
    text[0] = '#';
    EXPECT_EQ(accessor.getValueString(NAME, 0, 0, text, 0), 0);
    EXPECT_EQ(text[0], '#');
    EXPECT_EQ(accessor.getValueString(NAME, 0, 0, nullptr, 4), FAILED);

    const u8 bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(accessor.setValueBinary(BLOB, 0, 0, bytes, sizeof(bytes)), 0);
    u8 read[8] = {};
    EXPECT_EQ(accessor.getValueBinary(BLOB, 0, 0, read, 7), 0);
    EXPECT_EQ(read[0], 0); // one byte short: nothing copied
    EXPECT_EQ(accessor.getValueBinary(BLOB, 0, 0, read, 8), 0);
    EXPECT_EQ(std::memcmp(read, bytes, sizeof(bytes)), 0);
    EXPECT_EQ(accessor.getValueBinary(BLOB, 0, 0, nullptr, 8), FAILED);

    EXPECT_EQ(accessor.setValueUInt(MODE, 0, 0, 3), 0);
    EXPECT_EQ(accessor.getValueUInt(MODE, 0, 0), 3u);
    EXPECT_EQ(accessor.setValueUInt(99, 0, 0, 3), FAILED);
    EXPECT_EQ(accessor.setValueInt(GAIN, 1, 0, -20), 0);
    EXPECT_EQ(accessor.getValueInt(GAIN, 1, 0), -20);
    EXPECT_EQ(accessor.setValueFloat(LEVEL, 0, 0, 0.5f), 0);
    EXPECT_EQ(accessor.getValueFloat(LEVEL, 0, 0), 0.5f);
    EXPECT_TRUE(accessor.getValueBool(ON, 0, 0));
    EXPECT_EQ(accessor.setValueBool(ON, 0, 0, false), 0);
    EXPECT_FALSE(accessor.getValueBool(ON, 0, 0));
    EXPECT_EQ(accessor.setValueString(NAME, 0, 0, "Desk"), 0);
    ASSERT_EQ(accessor.getValueString(NAME, 0, 0, text, sizeof(text)), 0);
    EXPECT_STREQ(text, "Desk");

    EXPECT_EQ(accessor.getParameterInfoField1(GAIN), 2u); // "*1" of numX 2
    EXPECT_EQ(accessor.getParameterInfoField2(GAIN), 1u);
    const std::function<i32(VariantType*)> values[] = {
        [&](VariantType* out) { return accessor.getParameterInfoValue1(GAIN, out); },
        [&](VariantType* out) { return accessor.getParameterInfoValue2(GAIN, out); },
        [&](VariantType* out) { return accessor.getParameterInfoValue3(GAIN, out); },
        [&](VariantType* out) { return accessor.getParameterInfoValue4(GAIN, out); },
        [&](VariantType* out) { return accessor.getParameterInfoValue5(GAIN, out); }};
    const i64 expected[] = {-13800, 1000, -3, -10, 1};
    for (size_t i = 0; i < std::size(values); ++i) {
        VariantType out;
        EXPECT_EQ(values[i](&out), 0) << "value " << i + 1;
        EXPECT_EQ(numberOf(out), expected[i]) << "value " << i + 1;
    }
}

TEST_F(MixerStrategy, UnloadDetachesAndTheNextScanAttachesAgain)
{
    DADOV::PDBParameterStrategy* strategy = type().strategy;
    ASSERT_EQ(repository().unloadAll(), 0);
    EXPECT_EQ(strategy->getParamInfo(), nullptr);
    // The library is gone: any call into it would fail under the sanitizers.
    const u32 blocks = m_db->getBlockCount(m_index);
    for (u32 block = 0; block < blocks; ++block) {
        KVariant value;
        EXPECT_GE(m_db->getValue(value, m_index, block, 0, 0, nullptr), 0);
        m_db->setValue(m_index, block, 0, 0, value, ORIGIN);
        EXPECT_GE(m_db->setBlockToDefault(m_index, block, ORIGIN), 0);
    }
    ASSERT_GE(m_db->setValueInt(m_index, GAIN, 0, 0, 60, ORIGIN), 0);
    EXPECT_EQ(gain(), 60);

    ASSERT_EQ(repository().initialize(m_folder.path().c_str()), 0);
    EXPECT_EQ(type().strategy, strategy);
    EXPECT_EQ(strategy->getParamInfo(), type().paramInfo);
    TestPluginProbe* probe = dadovtest::probeOf(type());
    ASSERT_GE(m_db->setValueInt(m_index, GAIN, 0, 0, 70, ORIGIN), 0);
    EXPECT_EQ(gain(), 50);
    EXPECT_EQ(std::string(probe->changeLog, probe->changeLogLength), "29 0 i50 i60\n");
}

} // namespace

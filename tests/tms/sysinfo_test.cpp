#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tms_Mutex.h"
#include "tms_SystemInfo.h"
#include "tms_TestSupport.h"
#include "tms_ThreadLogger.h"

namespace {

using TMS::SystemInfo;
using TMS::SystemInfoDefinition;
using TMS::SystemInfoLocalData;
using TMS::ThreadLogger;

ThreadLogger* g_dumpLogger = nullptr;
ThreadLogger* dumpLogger()
{
    return g_dumpLogger;
}

// A root thread's two copies and one child's view, bound like the thread system binds them.
class SystemInfoTest : public tmstest::OsLayerTest
{
protected:
    void SetUp() override
    {
        tmstest::OsLayerTest::SetUp();
        rootShared.bind(&rootMutex);
        rootView.bind(&rootMutex);
        childView.bind(&childMutex);
        ASSERT_EQ(rootShared.setup(TMS::SYSTEM_INFO_DEFINITIONS, TMS::SYSTEM_INFO_DEFINITION_COUNT), 0u);
        ASSERT_EQ(rootView.setup(TMS::SYSTEM_INFO_DEFINITIONS, TMS::SYSTEM_INFO_DEFINITION_COUNT), 0u);
        ASSERT_EQ(childView.copyFrom(rootView), 0u);
        clearMarks(childView);
    }

    void TearDown() override
    {
        TMS::setCurrentThreadLoggerHook(nullptr);
        tmstest::OsLayerTest::TearDown();
    }

    static void clearMarks(SystemInfo& copy)
    {
        for (const SystemInfoDefinition& definition : TMS::SYSTEM_INFO_DEFINITIONS) {
            copy.isDirty(definition.m_name, 0, true);
        }
    }

    // Commit to the root, let the root take it over, hand it down to the child.
    u32 commit(const SystemInfoLocalData& staged)
    {
        u32 result = rootShared.applyChanges(staged);
        EXPECT_EQ(rootView.copyFrom(rootShared), 0u);
        EXPECT_EQ(childView.copyFrom(rootView), 0u);
        return result;
    }

    static u32 valueOf(SystemInfo& copy, const char* name, u32 index = 0)
    {
        KVariant value;
        EXPECT_EQ(copy.getValue(value, name, index), 0u) << name;
        return value.getUInt();
    }

    // Captures what dump writes through the current-logger hook.
    std::vector<std::string> dumpLines(SystemInfo& copy, bool changedOnly)
    {
        TMS::TMSMutex logMutex("DumpLog");
        TMS::ThreadLogger logger;
        EXPECT_EQ(logger.prepare(&logMutex, "Dump", 100), 0u);
        g_dumpLogger = &logger;
        TMS::setCurrentThreadLoggerHook(&dumpLogger);
        testing::internal::CaptureStdout();
        copy.dump(changedOnly);
        testing::internal::GetCapturedStdout();
        TMS::setCurrentThreadLoggerHook(nullptr);
        std::vector<std::string> lines;
        char text[TMS::ThreadLogger::LINE_SIZE];
        for (u32 i = 0; logger.getLine(i, text, sizeof(text)) == 0; ++i) {
            lines.emplace_back(text);
        }
        return lines;
    }

    TMS::TMSMutex rootMutex{"TMSThread"};
    TMS::TMSMutex childMutex{"TMSThread"};
    SystemInfo rootShared;
    SystemInfo rootView;
    SystemInfo childView;
};

TEST_F(SystemInfoTest, DefinitionsGiveTheirDefaults)
{
    EXPECT_EQ(childView.getItemCount(), 13u);
    EXPECT_EQ(valueOf(childView, "CurrentFs"), 96000u);
    EXPECT_EQ(valueOf(childView, "EditorState"), 0u);
    EXPECT_FALSE(childView.isDirty("CurrentFs", 0, false));

    // A second setup keeps the values that exist.
    SystemInfoLocalData staged;
    staged.add("RunMode", 0, KVariant(2u));
    ASSERT_EQ(rootShared.applyChanges(staged), 0u);
    ASSERT_EQ(rootShared.setup(TMS::SYSTEM_INFO_DEFINITIONS, TMS::SYSTEM_INFO_DEFINITION_COUNT), 0u);
    EXPECT_EQ(valueOf(rootShared, "RunMode"), 2u);
}

TEST_F(SystemInfoTest, EqualCommitMarksNothing)
{
    SystemInfoLocalData staged;
    staged.add("CurrentFs", 0, KVariant(96000u));
    staged.add("PDBState", 0, KVariant(0)); // a signed 0 equals the unsigned 0 held
    EXPECT_EQ(commit(staged), 0u);
    EXPECT_FALSE(rootShared.isDirty("CurrentFs", 0, false));
    EXPECT_FALSE(childView.isDirty("CurrentFs", 0, false));
    EXPECT_FALSE(childView.isDirty("PDBState", 0, false));
}

TEST_F(SystemInfoTest, TwoCommitsArriveTogetherAndMarksStayUntilRead)
{
    SystemInfoLocalData first;
    first.add("PDBState", 0, KVariant(2u));
    ASSERT_EQ(rootShared.applyChanges(first), 0u);
    SystemInfoLocalData second;
    second.add("VDPState", 0, KVariant(1u));
    ASSERT_EQ(rootShared.applyChanges(second), 0u);

    ASSERT_EQ(rootView.copyFrom(rootShared), 0u);
    ASSERT_EQ(childView.copyFrom(rootView), 0u);
    EXPECT_TRUE(childView.isDirty("PDBState", 0, false));
    EXPECT_TRUE(childView.isDirty("VDPState", 0, false));
    EXPECT_FALSE(childView.isDirty("RunMode", 0, false));
    EXPECT_EQ(valueOf(childView, "PDBState"), 2u);
    EXPECT_EQ(valueOf(childView, "VDPState"), 1u);

    // Reading with clear takes the mark away; a copy without news does not set it again.
    EXPECT_TRUE(childView.isDirty("PDBState", 0, true));
    EXPECT_FALSE(childView.isDirty("PDBState", 0, false));
    ASSERT_EQ(childView.copyFrom(rootView), 0u);
    EXPECT_FALSE(childView.isDirty("PDBState", 0, false));
    EXPECT_TRUE(childView.isDirty("VDPState", 0, false));
}

TEST_F(SystemInfoTest, UnknownNamesAndIndexes)
{
    KVariant value(5u);
    EXPECT_TRUE(childView.isDirty("NoSuchItem", 0, true));
    EXPECT_EQ(childView.getValue(value, "NoSuchItem", 0), 0x80000009u);
    EXPECT_FALSE(value.isValid());
    value = 5u;
    EXPECT_EQ(childView.getValue(value, "RunMode", 1), 0x80000009u);
    EXPECT_FALSE(value.isValid());
    EXPECT_TRUE(childView.isDirty("RunMode", 1, false));
    EXPECT_EQ(childView.getValue(value, nullptr, 0), 0x80000002u);
    EXPECT_FALSE(childView.isDirty(nullptr, 0, false));

    // Unknown entries are skipped, the others still applied.
    SystemInfoLocalData staged;
    staged.add("NoSuchItem", 0, KVariant(1u));
    staged.add("RunMode", 3, KVariant(1u));
    staged.add("RunMode", 0, KVariant(3u));
    EXPECT_EQ(rootShared.applyChanges(staged), 0x80000002u);
    EXPECT_EQ(valueOf(rootShared, "RunMode"), 3u);
    EXPECT_TRUE(rootShared.isDirty("RunMode", 0, false));
}

TEST_F(SystemInfoTest, StagingTheSameElementTwiceKeepsTheLastValue)
{
    SystemInfoLocalData staged;
    std::string name = "EditorState";
    ASSERT_EQ(staged.add(name.c_str(), 0, KVariant(4u)), 0u);
    name = "EditorState"; // a different buffer with the same text
    ASSERT_EQ(staged.add(name.c_str(), 0, KVariant(6u)), 0u);
    name.assign("Overwritten");
    ASSERT_EQ(staged.count(), 1u);
    EXPECT_STREQ(staged.at(0)->getName(), "EditorState");
    EXPECT_EQ(staged.at(1), nullptr);
    EXPECT_EQ(staged.add(nullptr, 0, KVariant(1u)), 0x80000002u);

    EXPECT_EQ(commit(staged), 0u);
    EXPECT_EQ(valueOf(childView, "EditorState"), 6u);
    staged.clear();
    EXPECT_EQ(staged.count(), 0u);
}

TEST_F(SystemInfoTest, RefusedDefinitions)
{
    SystemInfo copy;
    EXPECT_EQ(copy.setup(TMS::SYSTEM_INFO_DEFINITIONS, 13), 0x80000004u); // not bound
    copy.bind(&childMutex);
    EXPECT_EQ(copy.setup(nullptr, 1), 0x80000002u);
    EXPECT_EQ(copy.setup(TMS::SYSTEM_INFO_DEFINITIONS, 0), 0x80000002u);

    const SystemInfoDefinition kindFour[] = {{"Binary", 1, 0, 4, "0", "1", "0"}};
    EXPECT_EQ(copy.setup(kindFour, 1), 0x80000002u);
    const SystemInfoDefinition kindZero[] = {{"Nothing", 1, 0, 0, "0", "1", "0"}};
    EXPECT_EQ(copy.setup(kindZero, 1), 0x80000002u);
    const SystemInfoDefinition badNumber[] = {{"Bad", 1, 0, 2, "0", "1x", "0"}};
    EXPECT_EQ(copy.setup(badNumber, 1), 0x80000002u);
    const SystemInfoDefinition noElements[] = {{"Empty", 0, 0, 2, "0", "1", "0"}};
    EXPECT_EQ(copy.setup(noElements, 1), 0x80000002u);
    EXPECT_FALSE(copy.isInitialized());
    KVariant value;
    EXPECT_EQ(copy.getValue(value, "Bad", 0), 0x80000000u);
}

TEST_F(SystemInfoTest, CopyWithDifferentLimitsSkipsThatItem)
{
    SystemInfoDefinition other[TMS::SYSTEM_INFO_DEFINITION_COUNT];
    std::memcpy(other, TMS::SYSTEM_INFO_DEFINITIONS, sizeof(other));
    for (SystemInfoDefinition& definition : other) {
        if (std::strcmp(definition.m_name, "CurrentFs") == 0) {
            definition.m_maximum = "48000";
        }
    }
    SystemInfo mismatched;
    mismatched.bind(&childMutex);
    ASSERT_EQ(mismatched.setup(other, TMS::SYSTEM_INFO_DEFINITION_COUNT), 0u);

    SystemInfoLocalData staged;
    staged.add("CurrentFs", 0, KVariant(48000u));
    staged.add("DebugState", 0, KVariant(1u));
    ASSERT_EQ(rootView.applyChanges(staged), 0u);

    EXPECT_EQ(mismatched.copyFrom(rootView), 0x80000002u);
    EXPECT_EQ(valueOf(mismatched, "CurrentFs"), 96000u);
    EXPECT_FALSE(mismatched.isDirty("CurrentFs", 0, false));
    // The other items are taken over and the copy stays readable.
    EXPECT_TRUE(mismatched.isInitialized());
    EXPECT_EQ(valueOf(mismatched, "DebugState"), 1u);
    EXPECT_TRUE(mismatched.isDirty("DebugState", 0, false));
}

TEST_F(SystemInfoTest, CopyRefusals)
{
    EXPECT_EQ(childView.copyFrom(childView), 0x80000002u);
    SystemInfo empty;
    empty.bind(&rootMutex);
    EXPECT_EQ(childView.copyFrom(empty), 0x80000003u);
    SystemInfo unbound;
    EXPECT_EQ(unbound.copyFrom(rootView), 0x80000004u);

    // A fresh copy takes every item with every element marked.
    SystemInfo fresh;
    fresh.bind(&childMutex);
    ASSERT_EQ(fresh.copyFrom(rootView), 0u);
    EXPECT_TRUE(fresh.isInitialized());
    EXPECT_TRUE(fresh.isDirty("ProductState", 0, false));
    EXPECT_EQ(valueOf(fresh, "CurrentFs"), 96000u);

    fresh.clear();
    EXPECT_FALSE(fresh.isInitialized());
    EXPECT_EQ(fresh.getItemCount(), 0u);
}

TEST_F(SystemInfoTest, DumpListsItemsInNameOrderWithMarks)
{
    SystemInfoLocalData staged;
    staged.add("PDBState", 0, KVariant(2u));
    staged.add("CurrentFs", 0, KVariant(48000u));
    ASSERT_EQ(rootShared.applyChanges(staged), 0u);

    std::vector<std::string> changed = dumpLines(rootShared, true);
    ASSERT_EQ(changed.size(), 2u);
    EXPECT_EQ(changed[0], "    [CurrentFs] = 48000*\n");
    EXPECT_EQ(changed[1], "    [PDBState] = 2*\n");

    rootShared.isDirty("CurrentFs", 0, true);
    std::vector<std::string> all = dumpLines(rootShared, false);
    ASSERT_EQ(all.size(), 13u);
    EXPECT_EQ(all[0], "    [CurrentFs] = 48000\n");
    EXPECT_EQ(all[1], "    [DebugState] = 0\n");
    EXPECT_EQ(all[5], "    [PDBState] = 2*\n");
    EXPECT_EQ(all[6], "    [PanelState/IsProper] = 0\n");
    EXPECT_EQ(all[12], "    [ZOVUDoState] = 0\n");

    // Without a logger for the calling thread nothing is written (and nothing breaks).
    TMS::setCurrentThreadLoggerHook(nullptr);
    rootShared.dump(false);
}

TEST_F(SystemInfoTest, DumpWrapsLongItemsAtTheSameColumn)
{
    char name[16] = "Names";
    const SystemInfoDefinition definitions[] = {
        {"Wide", 60, 0, TMS::SYSTEM_INFO_UNSIGNED, "0", "9", "7"},
        {name, 2, 0, TMS::SYSTEM_INFO_TEXT, nullptr, "3", "abcdef"},
        {"Signed", 1, 0, TMS::SYSTEM_INFO_SIGNED, "-9", "9", "-3"},
    };
    SystemInfo copy;
    copy.bind(&childMutex);
    ASSERT_EQ(copy.setup(definitions, 3), 0u);
    std::strcpy(name, "Changed"); // the copy keeps its own name texts
    KVariant value;
    ASSERT_EQ(copy.getValue(value, "Signed", 0), 0u);
    EXPECT_EQ(value.getInt(), -3);
    SystemInfoLocalData staged;
    staged.add("Wide", 3, KVariant(8u));
    staged.add("Names", 1, KVariant("xyz"));
    ASSERT_EQ(copy.applyChanges(staged), 0u);

    std::vector<std::string> lines = dumpLines(copy, false);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "    [Names] = \"abc\" \"xyz\"*\n");
    EXPECT_EQ(lines[1], "    [Signed] = -3\n");
    // "    [Wide] =" is 12 characters; a new line starts once more than 88 of 128 are used.
    std::string first = "    [Wide] =";
    for (int i = 0; i < 38; ++i) {
        first += i == 3 ? " 8*" : " 7";
    }
    ASSERT_EQ(first.size(), 89u);
    EXPECT_EQ(lines[2], first + "\n");
    std::string second(12, ' ');
    for (int i = 38; i < 60; ++i) {
        second += " 7";
    }
    EXPECT_EQ(lines[3], second + "\n");
}

} // namespace

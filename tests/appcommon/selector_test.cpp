// Element selectors: which addresses name one element of an "@" set, and the selector of a database parameter.
#include <gtest/gtest.h>

#include "appcommon_TestSupport.h"
#include "lpc_ParameterSelector.h"
#include "pdb_LocalParameterDB.h"
#include "pyrite_Result.h"

namespace {

TEST(ParameterSelector, AddressForms)
{
    struct Case
    {
        const char* address;
        bool has;
        u32 index;
        u32 size;
    };
    const Case cases[] = {
        {"/3DRev/Center@xyz@x", true, 0, 3},
        {"/3DRev/Center@xyz@y", true, 1, 3},
        {"/3DRev/Center@xyz@z", true, 2, 3},
        {"/ZOZ/Object/PhysicalPosition@rgba@a", true, 3, 4},
        {"/a@b@c@xyx@x", true, 0, 3}, // the first occurrence; only the last two suffixes count
        {"/a@x", false, 0, 0},
        {"/a@xyz@w", false, 0, 0},
        {"/a@xyz@xy", false, 0, 0},
        {"/a@xyz@", false, 0, 0},
        {"/a@@x", false, 0, 0},
        {"@x@x", true, 0, 1},
        {"/plain", false, 0, 0},
        {"", false, 0, 0},
        {nullptr, false, 0, 0},
    };
    for (const Case& c : cases) {
        const LPC::ElementSelector s = LPC::parseElementSelector(c.address);
        EXPECT_EQ(s.m_hasSelector, c.has) << (c.address != nullptr ? c.address : "null");
        EXPECT_EQ(s.m_elementIndex, c.index) << (c.address != nullptr ? c.address : "null");
        EXPECT_EQ(s.m_setSize, c.size) << (c.address != nullptr ? c.address : "null");
    }
}

TEST(ParameterSelector, ReadsTheAddressOfTheDatabaseParameter)
{
    appcommontest::registerUIntType("Reverb", {"/3DRev/Level", "/3DRev/Center@xyz@x", "/3DRev/Center@xyz@z"}, 2);
    PDB::LocalParameterDB database;
    ASSERT_EQ(database.addComponent(0x40, "Reverb", 1, 0, 0, 0), 0);
    const u32 component = database.getComponentIndex(0x40);

    LPC::ElementSelector s;
    ASSERT_EQ(LPC::getParameterElementSelector(database, component, 2, &s), PYRITE::PYRITE_OK);
    EXPECT_TRUE(s.m_hasSelector);
    EXPECT_EQ(s.m_elementIndex, 2u);
    EXPECT_EQ(s.m_setSize, 3u);
    ASSERT_EQ(LPC::getParameterElementSelector(database, component, 0, &s), PYRITE::PYRITE_OK);
    EXPECT_FALSE(s.m_hasSelector);
    // A parameter or component that does not exist has none.
    ASSERT_EQ(LPC::getParameterElementSelector(database, component, 3, &s), PYRITE::PYRITE_OK);
    EXPECT_FALSE(s.m_hasSelector);
    ASSERT_EQ(LPC::getParameterElementSelector(database, component + 7, 1, &s), PYRITE::PYRITE_OK);
    EXPECT_FALSE(s.m_hasSelector);
    EXPECT_EQ(LPC::getParameterElementSelector(database, component, 1, nullptr), PYRITE::PYRITE_E_FAILED);
}

} // namespace

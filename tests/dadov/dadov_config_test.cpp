#include <gtest/gtest.h>

#include "dadov_Config.h"
#include "dadov_TestSupport.h"
#include "pdb_ComponentInfoParserJSON.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_ParameterDBCollection.h"

namespace {

TEST(EngineConfig, ComponentsGoToDatabaseTenOnceItExists)
{
    PDB::ComponentInfo info = PDB::ComponentInfoParserJSON::createFromJson(
        R"({"component": {"name": "Plain", "majorVer": 3},
            "parameters": [{"strAddress": "/a", "type": "UINT8", "max": "9"}]})");
    ASSERT_EQ(PDB::ComponentInfoRepository::getInstance().registerComponentInfo(info), 0);
    EXPECT_EQ(DADOV::addPDBComponent(1, nullptr, 3, 1, 1, 0), static_cast<i32>(0x80000000u));

    dadovtest::createDatabases(10);
    EXPECT_EQ(DADOV::addPDBComponent(1, "Plain", 3, 1, 1, 0), 0); // the null database takes it
    for (u32 id = 0; id < 10; ++id) {
        EXPECT_EQ(PDB::ParameterDBCollection::getInstance(id).getComponentCount(), 0u) << id;
    }

    dadovtest::createDatabases(11);
    PDB::IParameterDB& components = PDB::ParameterDBCollection::getInstance(10);
    EXPECT_EQ(DADOV::addPDBComponent(1, "Plain", 3, 1, 1, 0), 0);
    EXPECT_NE(components.getComponentIndex(1), 0xFFFFFFFFu);
    EXPECT_EQ(DADOV::addPDBComponent(2, "Plain", 3, 1, 1, -1), static_cast<i32>(0x80000000u));
    EXPECT_EQ(DADOV::addPDBComponent(3, "Unknown", 1, 1, 1, 0), static_cast<i32>(0x80000000u));
}

} // namespace

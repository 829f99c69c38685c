#include "appcommon_TestSupport.h"

#include <gtest/gtest.h>

#include "os_Clock.h"
#include "os_TestHooks.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_SimpleReadWriteMutex.h"

namespace appcommontest {

void registerUIntType(const char* name, const std::vector<std::string>& addresses, u32 count)
{
    constexpr PDB::ParameterAttribute STORED{0, PDB::ParameterAttribute::FLAG_RECALLABLE |
                                                    PDB::ParameterAttribute::FLAG_NONVOLATILE};
    PDB::ComponentInfo info;
    ASSERT_EQ(info.initialize(name, 1, 1, 1, 1, 1, "", "", nullptr), 0);
    for (const std::string& address : addresses) {
        ASSERT_EQ(
            info.addParameterUInt32(address.c_str(), count, 1, "", "", 0, 0xFFFFFFFF, 0, 0, 1, 1, STORED, "", "", ""),
            0);
    }
    PDB::ComponentInfoRepository::getInstance().registerComponentInfo(info);
}

SharedDatabase::SharedDatabase(u32 id, const char* name) : m_id(id)
{
    static PDB::SimpleReadWriteMutex mutex;
    EXPECT_GE(PDB::ParameterDBCollection::createInstance(id, name, &mutex, 0), 0) << name;
}

SharedDatabase::~SharedDatabase()
{
    PDB::ParameterDBCollection::deleteInstance(m_id);
}

PDB::IParameterDB& SharedDatabase::get() const
{
    return PDB::ParameterDBCollection::getInstance(m_id);
}

void setClock(u32 ms)
{
    ossupport::testhooks::setMillisecondsOffset(0);
    u32 real = 0;
    ossupport::getMilliseconds(&real);
    ossupport::testhooks::setMillisecondsOffset(ms - real);
}

} // namespace appcommontest

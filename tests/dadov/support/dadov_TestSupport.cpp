#include "dadov_TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

#include "os_Library.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_ParameterDBNULL.h"
#include "pdb_SimpleReadWriteMutex.h"

namespace dadovtest {

void PluginFolder::add(const std::string& fileName, const std::string& as)
{
    const std::optional<std::string> bytes = fswtest::readFile(std::string(DADOV_TEST_PLUGIN_DIR) + "/" + fileName);
    ASSERT_TRUE(bytes.has_value()) << fileName;
    ASSERT_TRUE(fswtest::writeFile(m_dir / (as.empty() ? fileName : as), *bytes));
}

void PluginFolder::addText(const std::string& name, const std::string& content)
{
    ASSERT_TRUE(fswtest::writeFile(m_dir / name, content));
}

void createDatabases(u32 count)
{
    static PDB::SimpleReadWriteMutex locks[PDB::ParameterDBCollection::CAPACITY];
    for (u32 id = 0; id < count && id < PDB::ParameterDBCollection::CAPACITY; ++id) {
        if (&PDB::ParameterDBCollection::getInstance(id) != &PDB::ParameterDBNULL::getInstance()) {
            continue;
        }
        const std::string name = "DB" + std::to_string(id);
        ASSERT_GE(PDB::ParameterDBCollection::createInstance(id, name.c_str(), &locks[id], 0), 0) << name;
    }
}

TestPluginProbe* probeOf(const DADOV::AudioComponentType& type)
{
    void* symbol = nullptr;
    if (type.library == nullptr || ossupport::getDynamicLibrarySymbol(&symbol, type.library, "testPluginProbe") != 0) {
        return nullptr;
    }
    return reinterpret_cast<TestPluginProbeFunction>(symbol)();
}

} // namespace dadovtest

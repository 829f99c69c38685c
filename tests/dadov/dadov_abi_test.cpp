#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dadov_AudioComponent.h"
#include "dadov_AudioComponentDLLRepository.h"
#include "dadov_Config.h"
#include "dadov_PluginInterfaces.h"
#include "dadov_TestSupport.h"
#include "logic_LogicComponentCollection.h"
#include "logic_TestSupport.h"
#include "os_Library.h"
#include "pdb_ParameterDBCollection.h"

namespace {

using namespace DADOV;

// Position of a virtual operation in its table (x86-64 C++ ABI: a member pointer to a virtual function holds
// 1 + the byte offset of its slot).
template <typename F> u64 slotOf(F operation)
{
    static_assert(sizeof(F) == 2 * sizeof(std::uintptr_t));
    std::uintptr_t raw[2];
    std::memcpy(raw, &operation, sizeof(raw));
    return (raw[0] - 1) / sizeof(void*);
}

struct Slot
{
    const char* name;
    u64 actual;
    u64 expected;
};

// The C++ declarations put every operation the host calls, or implements for the plug-ins, at its position.
TEST(PluginAbi, DeclarationsSitAtTheirPositions)
{
    const Slot slots[] = {
        {"query", slotOf(&IPluginObject::queryInterface), 0},
        {"release", slotOf(&IPluginObject::release), 2},
        {"info 15", slotOf(&IParamInfo::getNumInPort), 15},
        {"info 16", slotOf(&IParamInfo::getNumOutPort), 16},
        {"info 21", slotOf(&IParamInfo::getDspResourceSize), 21},
        {"info 23", slotOf(&IParamInfo::getComponentInfoJson), 23},
        {"info 25", slotOf(&IParamInfo::isRangeHookEnabled), 25},
        {"info 26", slotOf(&IParamInfo::isChangeHookEnabled), 26},
        {"info 27", slotOf(&IParamInfo::onRangeHook), 27},
        {"info 28", slotOf(&IParamInfo::onValueHook), 28},
        {"info 29", slotOf(&IParamInfo::onChangeHook), 29},
        {"coef 13", slotOf(&ICalcCoef::getArrayDescriptors), 13},
        {"coef 14", slotOf(&ICalcCoef::getMeterDescriptors), 14},
        {"coef 29", slotOf(&ICalcCoef::setup), 29},
        {"coef 30", slotOf(&ICalcCoef::setSamplingRate), 30},
        {"coef 39", slotOf(&ICalcCoef::getProcessingValue), 39},
        {"coef 43", slotOf(&ICalcCoef::start), 43},
        {"logic 26", slotOf(&ILogicControl::setLogicAccessor), 26},
        {"logic 27", slotOf(&ILogicControl::getLogicInfo), 27},
        {"logic 28", slotOf(&ILogicControl::getNumInputs), 28},
        {"logic 29", slotOf(&ILogicControl::getNumOutputs), 29},
        {"logic 30", slotOf(&ILogicControl::getInputDescriptors), 30},
        {"logic 32", slotOf(&ILogicControl::isLogicReady), 32},
        {"logic 31", slotOf(&ILogicControl::getOutputDescriptors), 31},
        {"logic 33", slotOf(&ILogicControl::process), 33},
        {"database 1", slotOf(&IDataBaseAccessor_V1::getValueUInt), 1},
        {"database 2", slotOf(&IDataBaseAccessor_V1::getValueInt), 2},
        {"database 3", slotOf(&IDataBaseAccessor_V1::getValueFloat), 3},
        {"database 4", slotOf(&IDataBaseAccessor_V1::getValueBool), 4},
        {"database 5", slotOf(&IDataBaseAccessor_V1::getValueString), 5},
        {"database 6", slotOf(&IDataBaseAccessor_V1::getValueBinary), 6},
        {"database 7", slotOf(&IDataBaseAccessor_V1::setValueUInt), 7},
        {"database 8", slotOf(&IDataBaseAccessor_V1::setValueInt), 8},
        {"database 9", slotOf(&IDataBaseAccessor_V1::setValueFloat), 9},
        {"database 10", slotOf(&IDataBaseAccessor_V1::setValueBool), 10},
        {"database 11", slotOf(&IDataBaseAccessor_V1::setValueString), 11},
        {"database 12", slotOf(&IDataBaseAccessor_V1::setValueBinary), 12},
        {"database 13", slotOf(&IDataBaseAccessor_V1::getParameterInfoField1), 13},
        {"database 14", slotOf(&IDataBaseAccessor_V1::getParameterInfoField2), 14},
        {"database 15", slotOf(&IDataBaseAccessor_V1::getParameterInfoValue1), 15},
        {"database 16", slotOf(&IDataBaseAccessor_V1::getParameterInfoValue2), 16},
        {"database 17", slotOf(&IDataBaseAccessor_V1::getParameterInfoValue3), 17},
        {"database 18", slotOf(&IDataBaseAccessor_V1::getParameterInfoValue4), 18},
        {"database 19", slotOf(&IDataBaseAccessor_V1::getParameterInfoValue5), 19},
        {"manager 1", slotOf(&IManagerAccessor_V1::getValueUInt), 1},
        {"manager 7", slotOf(&IManagerAccessor_V1::getParameterInfoField1), 7},
        {"manager 13", slotOf(&IManagerAccessor_V1::getParameterInfoValue5), 13},
        {"manager 14", slotOf(&IManagerAccessor_V1::setArrayValueUInt), 14},
        {"manager 15", slotOf(&IManagerAccessor_V1::setArrayValueUIntAlias), 15},
        {"manager 17", slotOf(&IManagerAccessor_V1::setArrayValueDouble), 17},
        {"manager 18", slotOf(&IManagerAccessor_V1::touchMeterValue), 18},
        {"manager 23", slotOf(&IManagerAccessor_V1::getMeterByte2OrFE), 23},
        {"manager 24", slotOf(&IManagerAccessor_V1::setValueUInt), 24},
        {"manager 29", slotOf(&IManagerAccessor_V1::setValueBinary), 29},
        {"logic accessor 1", slotOf(&ILogicComponentAccessor_V1::getInputData), 1},
        {"logic accessor 9", slotOf(&ILogicComponentAccessor_V1::requestProcess), 9},
        {"logic accessor 22", slotOf(&ILogicComponentAccessor_V1::getParameterInfoValue5), 22},
        {"logic accessor 23", slotOf(&ILogicComponentAccessor_V1::getMeterByte2), 23},
        {"logic accessor 25", slotOf(&ILogicComponentAccessor_V1::getMeterByte2OrFE), 25},
        {"logic accessor 26", slotOf(&ILogicComponentAccessor_V1::setValueUInt), 26},
        {"logic accessor 31", slotOf(&ILogicComponentAccessor_V1::setValueBinary), 31},
    };
    for (const Slot& slot : slots) {
        EXPECT_EQ(slot.actual, slot.expected) << slot.name;
    }
}

template <typename T> T probeValue(const AudioComponentType& type, const char* name)
{
    void* symbol = nullptr;
    EXPECT_EQ(ossupport::getDynamicLibrarySymbol(&symbol, type.library, name), 0u) << name;
    return symbol != nullptr ? reinterpret_cast<T (*)()>(symbol)() : T{};
}

// The host's calls of the probe's operations.
DADOV_CALLS_PLUGINS void expectTheProbesAnswers(IParamInfo& info)
{
    EXPECT_EQ(info.getNumInPort(1, 1, 1), 1015u);
    EXPECT_EQ(info.getNumOutPort(1, 1, 1), 1016u);
    EXPECT_EQ(info.getDspResourceSize(1, 1, 1, "dsp", 48000, 64, "step"), 1021);
    EXPECT_EQ(std::string(info.getComponentInfoJson()).rfind(R"({"component": {"name": "AbiProbe")", 0), 0u);
    EXPECT_FALSE(info.isRangeHookEnabled());
    EXPECT_TRUE(info.isChangeHookEnabled());
    EXPECT_EQ(info.onRangeHook(nullptr, 0, 0, 0, nullptr, nullptr), 1027);
    EXPECT_EQ(info.onValueHook(nullptr, 0, 0, 0, nullptr), 1028);
    EXPECT_EQ(info.onChangeHook(nullptr, 0, 0, 0, nullptr, nullptr), 1029);
}

// A plug-in written in C answers the host at the C++ positions and finds every accessor operation at its own.
TEST(PluginAbi, APluginInCAgreesWithTheHost)
{
    dadovtest::createDatabases(11);
    dadovtest::PluginFolder folder;
    folder.add("AbiProbe_1.dll");
    AudioComponentDLLRepository& repository = AudioComponentDLLRepository::getInstance();
    ASSERT_EQ(repository.initialize(folder.path().c_str()), 0);
    const AudioComponentType& type = repository.findType("AbiProbe_1");
    ASSERT_NE(type.paramInfo, nullptr);
    EXPECT_EQ(probeValue<u32>(type, "abiProbeReferences"), 1u);
    EXPECT_FALSE(type.strategy->isRangeHookOn());
    EXPECT_TRUE(type.strategy->isChangeHookOn());

    expectTheProbesAnswers(*type.paramInfo);

    constexpr u32 UID = 5;
    constexpr u32 GO_BLOCK = 6;
    ASSERT_EQ(addPDBComponent(UID, "AbiProbe", 1, 1, 1, 0), 0);
    PDB::IParameterDB& database = PDB::ParameterDBCollection::getInstance(10);
    const u32 index = database.getComponentIndex(UID);
    ASSERT_GE(database.setValueUInt(index, GO_BLOCK, 0, 0, 1, 255), 0);
    EXPECT_EQ(probeValue<u32>(type, "abiProbeChecksRun"), 1u);
    EXPECT_EQ(probeValue<u32>(type, "abiProbeMismatches"), 0u) << "bit n: accessor position n";
    EXPECT_EQ(probeValue<u32>(type, "abiProbeUnexpectedCalls"), 0u);
    database.clear();
    EXPECT_EQ(repository.unloadAll(), 0);
}

template <typename T> T elementOf(PARRAY::ArrayAccessorForServer& set, u32 array, u32 index)
{
    void* data = nullptr;
    u32 size = 0;
    T value{};
    if (set.getArray(&data, &size, array) == 0 && (index + 1) * sizeof(T) <= size) {
        std::memcpy(&value, static_cast<const u8*>(data) + index * sizeof(T), sizeof(T));
    }
    return value;
}

// An instance of the C plug-in: its logic control checks the logic accessor without a manager accessor, its
// set-up every manager and logic accessor position; the host sees their stores and writes.
TEST(PluginAbi, APluginInCReachesEveryAccessorPosition)
{
    logictest::startOsLayer();
    dadovtest::createDatabases(11);
    (void)LogicCtrl::LogicComponentCollection::getInstance().initialize();
    dadovtest::PluginFolder folder;
    folder.add("AbiProbe_1.dll");
    AudioComponentDLLRepository& repository = AudioComponentDLLRepository::getInstance();
    ASSERT_EQ(repository.initialize(folder.path().c_str()), 0);
    const AudioComponentType& type = repository.findType("AbiProbe_1");
    PDB::IParameterDB& database = PDB::ParameterDBCollection::getInstance(10);
    {
        constexpr u32 UID = 6;
        AudioComponent component;
        ASSERT_EQ(component.initialize("AbiProbe", 1, UID, 1, 1), 0);
        EXPECT_EQ(probeValue<u32>(type, "abiProbeIdleChecksRun"), 1u);
        EXPECT_EQ(probeValue<u32>(type, "abiProbeIdleLogicMismatches"), 0u) << "bit n: logic accessor position n";
        EXPECT_EQ(component.getNumInPort(), 1015u);
        EXPECT_EQ(component.getNumOutPort(), 1016u);
        EXPECT_EQ(component.getDspResourceSize("dsp", 48000, 64, "fixedDelay"), 1021);
        EXPECT_EQ(component.getLogicComponent().getNumOutputs(), 3u);

        ASSERT_EQ(component.beginUseByDSPThread(nullptr), 0);
        EXPECT_EQ(probeValue<u32>(type, "abiProbeUseChecksRun"), 1u);
        EXPECT_EQ(probeValue<u32>(type, "abiProbeManagerMismatches"), 0u) << "bit n: manager accessor position n";
        EXPECT_EQ(probeValue<u32>(type, "abiProbeLogicMismatches"), 0u) << "bit n: logic accessor position n";
        EXPECT_EQ(component.getProcessingValue(), 1039);

        PARRAY::ArrayAccessorForServer& arrays = component.getParameterArrays();
        EXPECT_EQ(elementOf<u32>(arrays, 0, 0), 6u);
        EXPECT_EQ(elementOf<u32>(arrays, 0, 1), 5u);
        EXPECT_EQ(elementOf<f32>(arrays, 1, 1), 2.5f);
        EXPECT_EQ(elementOf<f64>(arrays, 2, 0), 3.5);
        EXPECT_EQ(arrays.getChangedCount(), 3u);
        EXPECT_EQ(elementOf<u32>(*component.getMeterPool().getArraySet(1), 0, 1), 123u);
        const u32 index = database.getComponentIndex(UID);
        EXPECT_EQ(database.getValueUInt(index, 0, 1, 0, nullptr), 8u);  // manager position 24
        EXPECT_EQ(database.getValueUInt(index, 0, 0, 0, nullptr), 58u); // logic position 26
        EXPECT_EQ(database.getValueInt(index, 1, 0, 0, nullptr), -56);
        EXPECT_EQ(database.getValueFloat(index, 2, 0, 0, nullptr), 2.5f);
        EXPECT_FALSE(database.getValueBool(index, 3, 0, 0, nullptr));
        KVariant text;
        database.getValue(text, index, 4, 0, 0, nullptr);
        EXPECT_STREQ(text.getString(), "uvw");

        EXPECT_EQ(component.endUseByDSPThread(), 0);
        EXPECT_EQ(probeValue<u32>(type, "abiProbeInstanceReferences"), 4u); // two objects, each queried once
        EXPECT_EQ(component.release(), 0);
        EXPECT_EQ(probeValue<u32>(type, "abiProbeInstanceReferences"), 0u);
    }
    EXPECT_EQ(probeValue<u32>(type, "abiProbeUnexpectedCalls"), 0u);
    database.clear();
    EXPECT_EQ(repository.unloadAll(), 0);
}

} // namespace

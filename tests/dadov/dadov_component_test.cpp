#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dadov_AudioComponent.h"
#include "dadov_AudioComponentDLLRepository.h"
#include "dadov_AudioConfigDB.h"
#include "dadov_ManagerAccessor.h"
#include "dadov_TestSupport.h"
#include "logic_LogicComponentCollection.h"
#include "logic_TestSupport.h"
#include "pdb_ParameterDBCollection.h"

namespace {

using namespace DADOV;
using LogicCtrl::LogicComponentCollection;
using logictest::code;

constexpr u32 NUM_X = 2;
constexpr u32 NUM_Y = 3;
constexpr const char* BEGIN_LINE = "[i] AudioComponent::beginUseByDSPThread - AudioComponent[uid:%u].\n";
constexpr const char* END_LINE = "[i] AudioComponent::endUseByDSPThread - AudioComponent[uid:%u].\n";

std::string line(const char* format, u32 uid)
{
    char text[128];
    std::snprintf(text, sizeof(text), format, uid);
    return text;
}

class AudioComponentTest : public ::testing::Test
{
protected:
    // The repository holds each type's parameter-information object; the rest are instances'.
    static constexpr i32 REPOSITORY_OBJECTS = 1;
    static i32 instanceObjects(const TestPluginProbe& probe) { return probe.liveObjects - REPOSITORY_OBJECTS; }

    static void SetUpTestSuite()
    {
        logictest::startOsLayer();
        dadovtest::createDatabases(11);
        (void)LogicComponentCollection::getInstance().initialize();
        (void)AudioConfigDB::getInstance().initialize();
        AudioConfig config;
        config.m_fsHz = 96000;
        config.m_numSamplePerFrame = 32;
        ASSERT_EQ(AudioConfigDB::getInstance().setAudioConfig(config), 0);
        s_folder = new dadovtest::PluginFolder();
        for (const char* name : {"TestMixer_2.dll", "NoLogic_1.dll", "NullCoef_1.dll", "NullQuery_1.dll"}) {
            s_folder->add(name);
        }
        ASSERT_EQ(AudioComponentDLLRepository::getInstance().initialize(s_folder->path().c_str()), 0);
    }
    static void TearDownTestSuite()
    {
        PDB::ParameterDBCollection::getInstance(10).clear();
        AudioComponentDLLRepository::getInstance().unloadAll();
        delete s_folder;
    }

    void SetUp() override
    {
        for (const char* key : {"TestMixer_2", "NoLogic_1", "NullCoef_1", "NullQuery_1"}) {
            TestPluginProbe* probe = probeOf(key);
            ASSERT_NE(probe, nullptr) << key;
            ASSERT_EQ(probe->liveObjects, REPOSITORY_OBJECTS) << key << " kept objects of an earlier test";
            std::memset(probe, 0, sizeof(*probe));
            probe->liveObjects = REPOSITORY_OBJECTS;
        }
    }

    static TestPluginProbe* probeOf(const char* key)
    {
        return dadovtest::probeOf(AudioComponentDLLRepository::getInstance().findType(key));
    }
    static TestPluginProbe& mixer() { return *probeOf("TestMixer_2"); }
    static LogicCtrl::ILogicComponent* registered(u32 uid)
    {
        return LogicComponentCollection::getInstance().findComponent(uid);
    }

    static dadovtest::PluginFolder* s_folder;
};

dadovtest::PluginFolder* AudioComponentTest::s_folder = nullptr;

// Every way an instance is built and taken down leaves the plug-in without objects and the logic registry with
// exactly the instances that registered and still live.
TEST_F(AudioComponentTest, EveryLifeEndsWithNothingLeft)
{
    enum End { RELEASE, DESTROY, REGISTRY_FINALISED_FIRST };
    const struct
    {
        const char* label;
        const char* type;
        u32 version;
        std::function<void()> arrange;
        i32 initResult;
        i32 liveObjects; // while the instance lives
        bool registered;
        u32 inputs, outputs;
        End end;
    } rows[] = {
        {"success", "TestMixer", 2, [] {}, 0, 4, true, 3, 2, RELEASE},
        {"destroyed while registered", "TestMixer", 2, [] {}, 0, 4, true, 3, 2, DESTROY},
        {"registry finalised first", "TestMixer", 2, [] {}, 0, 4, true, 3, 2, REGISTRY_FINALISED_FIRST},
        {"no logic factory", "NoLogic", 1, [] {}, 0, 3, true, 0, 0, RELEASE},
        {"has-logic false", "TestMixer", 2, [] { mixer().noLogicPorts = 1; }, 0, 4, true, 0, 0, RELEASE},
        {"null coefficient", "NullCoef", 1, [] {}, code(0x80000000), 3, false, 0, 0, DESTROY},
        {"array descriptors fail", "TestMixer", 2, [] { mixer().failDescriptors = 13; }, code(0x80000000), 0, false, 0,
         0, RELEASE},
        {"meter descriptors fail", "TestMixer", 2, [] { mixer().failDescriptors = 14; }, code(0x80000000), 0, false, 0,
         0, DESTROY},
        {"queries answer null", "NullQuery", 1, [] {}, code(0x80000000), 1, false, 0, 0, RELEASE},
    };
    u32 uid = 100;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        ++uid;
        const std::string key = std::string(row.type) + "_" + std::to_string(row.version);
        TestPluginProbe& probe = *probeOf(key.c_str());
        row.arrange();
        auto component = std::make_unique<AudioComponent>();
        EXPECT_EQ(component->initialize(row.type, row.version, uid, NUM_X, NUM_Y), row.initResult);
        EXPECT_EQ(instanceObjects(probe), row.liveObjects);
        EXPECT_EQ(component->isLogicRegistered(), row.registered);
        EXPECT_EQ(registered(uid), row.registered ? &component->getLogicComponent() : nullptr);
        if (row.registered) {
            EXPECT_EQ(component->getLogicComponent().getNumInputs(), row.inputs);
            EXPECT_EQ(component->getLogicComponent().getNumOutputs(), row.outputs);
            EXPECT_EQ(component->getLogicComponent().getUniqID(), uid);
        }
        switch (row.end) {
        case RELEASE:
            EXPECT_EQ(component->release(), 0);
            EXPECT_EQ(component->getUniqID(), AudioComponent::NO_UID);
            break;
        case DESTROY:
            component.reset();
            break;
        case REGISTRY_FINALISED_FIRST:
            ASSERT_EQ(LogicComponentCollection::getInstance().finalize(), 0);
            EXPECT_EQ(component->release(), 0);
            EXPECT_FALSE(component->isLogicRegistered());
            EXPECT_EQ(LogicComponentCollection::getInstance().initialize(), 0);
            break;
        }
        EXPECT_EQ(instanceObjects(probe), 0);
        EXPECT_EQ(registered(uid), nullptr);
        if (component != nullptr) {
            EXPECT_EQ(component->getParameterArrays().getArrayCount(), 0u);
            EXPECT_EQ(component->getMeterPool().getDescriptorCount(), 0u);
            EXPECT_EQ(component->getLogicComponent().getNumInputs(), 0u);
        }
    }
    PDB::ParameterDBCollection::getInstance(10).clear();
}

// A second instance under a taken uid fails and gives back only what it built itself.
TEST_F(AudioComponentTest, ADuplicateUidLeavesTheFirstRegistration)
{
    AudioComponent first;
    AudioComponent second;
    ASSERT_EQ(first.initialize("TestMixer", 2, 7, NUM_X, NUM_Y), 0);
    EXPECT_EQ(second.initialize("TestMixer", 2, 7, NUM_X, NUM_Y), code(0x80000000));
    EXPECT_EQ(instanceObjects(mixer()), 4);
    EXPECT_EQ(registered(7), &first.getLogicComponent());
    EXPECT_EQ(second.release(), 0);
    EXPECT_EQ(registered(7), &first.getLogicComponent());
    EXPECT_EQ(first.release(), 0);
    EXPECT_EQ(registered(7), nullptr);
    EXPECT_EQ(instanceObjects(mixer()), 0);
    PDB::ParameterDBCollection::getInstance(10).clear();
}

// The instance's arrays, meters and logic ports as TestMixer describes them; the descriptors' odd fields.
TEST_F(AudioComponentTest, TheInstanceTakesItsShapeFromThePlugIn)
{
    AudioComponent component;
    ASSERT_EQ(component.initialize("TestMixer", 2, 9, NUM_X, NUM_Y), 0);
    EXPECT_EQ(component.getTypeName(), "TestMixer");
    EXPECT_EQ(component.getMajorVersion(), 2u);
    EXPECT_EQ(PDB::ParameterDBCollection::getInstance(10).getComponentIndex(9) != 0xFFFFFFFF, true);
    PARRAY::ArrayAccessorForServer& arrays = component.getParameterArrays();
    ASSERT_EQ(arrays.getArrayCount(), 2u);
    EXPECT_EQ(arrays.getRecord(0)->array->getByteSize(), NUM_X * 4);
    EXPECT_EQ(arrays.getRecord(1)->array->getByteSize(), NUM_X * NUM_Y * 4);
    EXPECT_EQ(component.getMeterPool().getDescriptorCount(), 4u);
    EXPECT_EQ(component.getMeterPool().getFill(), 255u);

    // The plug-in got the logic accessor and the instance's numbers.
    EXPECT_EQ(mixer().logicAccessor, static_cast<ILogicComponentAccessor_V1*>(&component.getLogicAccessor()));
    EXPECT_EQ(mixer().logicArguments[0], 9u);
    EXPECT_EQ(mixer().logicArguments[1], NUM_X);
    EXPECT_EQ(mixer().logicArguments[2], NUM_Y);
    EXPECT_EQ(component.getLogicComponent().getProcessInterval(), 10u);

    const auto value = [](const KVariant& v) {
        switch (v.getKind()) {
        case KVariant::KIND_UINT32:
            return "u" + std::to_string(v.getUInt());
        case KVariant::KIND_INT32:
            return "i" + std::to_string(v.getInt());
        case KVariant::KIND_FLOAT32:
            return "f" + std::to_string(v.getFloat());
        case KVariant::KIND_EMPTY:
            return std::string("empty");
        default:
            return "kind" + std::to_string(v.getKind());
        }
    };
    const LogicCtrl::ILogicComponent& logic = component.getLogicComponent();
    const struct
    {
        const LogicCtrl::PortInfo& port;
        std::string name;
        u32 kind;
        std::string expression, min, max;
    } ports[] = {
        {logic.getInputInfo(0), std::string(48, 'n'), 2, "", "u0", "u100"},
        {logic.getInputInfo(1), "", 3, "", "i-5", "f2.500000"},
        {logic.getInputInfo(2), "mode", 0, "", "empty", "empty"},
        {logic.getOutputInfo(0), "gain", 2, "dB", "u0", "u100"},
        {logic.getOutputInfo(1), "label", 7, "", "empty", "empty"},
    };
    for (const auto& port : ports) {
        EXPECT_EQ(port.port.name, port.name);
        EXPECT_EQ(port.port.kind, port.kind) << port.name;
        EXPECT_EQ(port.port.expressionName, port.expression) << port.name;
        EXPECT_EQ(value(port.port.minValue), port.min) << port.name;
        EXPECT_EQ(value(port.port.maxValue), port.max) << port.name;
    }
    EXPECT_EQ(logic.getInputData(2).getKind(), 0u);
    EXPECT_EQ(component.release(), 0);
    PDB::ParameterDBCollection::getInstance(10).clear();
}

TEST_F(AudioComponentTest, TheUseStartsOnceAndEndsOnce)
{
    AudioComponent component;
    ASSERT_EQ(component.initialize("TestMixer", 2, 11, NUM_X, NUM_Y), 0);
    int context = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(component.beginUseByDSPThread(&context), 0);
    EXPECT_EQ(component.beginUseByDSPThread(nullptr), 0);
    const std::string beginLog = testing::internal::GetCapturedStdout();
    EXPECT_EQ(logictest::countOf(beginLog, line(BEGIN_LINE, 11)), 1u);

    const TestPluginProbe& probe = mixer();
    EXPECT_EQ(std::vector<u32>(probe.coefCalls, probe.coefCalls + probe.coefCallCount),
              (std::vector<u32>{29, 39, 30, 43}));
    ASSERT_NE(component.getManagerAccessor(), nullptr);
    EXPECT_EQ(probe.setupAccessor, static_cast<IManagerAccessor_V1*>(component.getManagerAccessor()));
    EXPECT_EQ(std::vector<u32>(probe.setupArguments, probe.setupArguments + 7),
              (std::vector<u32>{11, NUM_X, NUM_Y, 0, 0, 32, 96000}));
    EXPECT_EQ(probe.samplingRate, 96000u);
    EXPECT_EQ(component.getProcessingValue(), 39);
    EXPECT_EQ(component.getContext(), &context);
    EXPECT_TRUE(component.isInUse());
    EXPECT_TRUE(PDB::ParameterDBCollection::getInstance(10).isReserved(11));

    EXPECT_EQ(component.release(), code(0x80000000));
    EXPECT_EQ(registered(11), &component.getLogicComponent());
    EXPECT_EQ(instanceObjects(mixer()), 4);
    EXPECT_EQ(component.initialize("TestMixer", 2, 12, NUM_X, NUM_Y), code(0x80000000));
    EXPECT_EQ(component.getUniqID(), 11u);

    testing::internal::CaptureStdout();
    EXPECT_EQ(component.endUseByDSPThread(), 0);
    EXPECT_EQ(component.endUseByDSPThread(), 0);
    const std::string endLog = testing::internal::GetCapturedStdout();
    EXPECT_EQ(endLog, line(END_LINE, 11));
    EXPECT_EQ(component.getManagerAccessor(), nullptr);
    EXPECT_EQ(component.getContext(), nullptr);
    EXPECT_FALSE(PDB::ParameterDBCollection::getInstance(10).isReserved(11));
    EXPECT_EQ(component.release(), 0);
    EXPECT_EQ(component.getProcessingValue(), -1);

    // An instance destroyed while in use ends the use first.
    auto busy = std::make_unique<AudioComponent>();
    ASSERT_EQ(busy->initialize("TestMixer", 2, 13, NUM_X, NUM_Y), 0);
    ASSERT_EQ(busy->beginUseByDSPThread(nullptr), 0);
    testing::internal::CaptureStdout();
    busy.reset();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), line(END_LINE, 13));
    EXPECT_EQ(instanceObjects(mixer()), 0);
    EXPECT_FALSE(PDB::ParameterDBCollection::getInstance(10).isReserved(13));
    EXPECT_EQ(registered(13), nullptr);

    // Without a component in the database the manager accessor cannot be made: the instance is released.
    AudioComponent orphan;
    ASSERT_EQ(orphan.initialize("TestMixer", 2, 14, NUM_X, NUM_Y), 0);
    PDB::ParameterDBCollection::getInstance(10).clear();
    EXPECT_EQ(orphan.beginUseByDSPThread(nullptr), code(0x80000000));
    EXPECT_FALSE(orphan.isInUse());
    EXPECT_EQ(orphan.getUniqID(), AudioComponent::NO_UID);
    EXPECT_EQ(instanceObjects(mixer()), 0);
    // Nor without a coefficient calculation.
    EXPECT_EQ(orphan.beginUseByDSPThread(nullptr), code(0x80000000));
}

TEST_F(AudioComponentTest, LogicStepsGoToThePlugInOnlyWithLogicPorts)
{
    AudioComponent withPorts;
    AudioComponent noFactory;
    AudioComponent noPorts;
    ASSERT_EQ(withPorts.initialize("TestMixer", 2, 21, NUM_X, NUM_Y), 0);
    ASSERT_EQ(noFactory.initialize("NoLogic", 1, 22, NUM_X, NUM_Y), 0);
    mixer().noLogicPorts = 1;
    ASSERT_EQ(noPorts.initialize("TestMixer", 2, 23, NUM_X, NUM_Y), 0);

    mixer().logicReady = 1;
    mixer().processResult = 77;
    EXPECT_TRUE(withPorts.getLogicComponent().isLogicReady());
    for (u32 mode = 0; mode <= 2; ++mode) {
        EXPECT_EQ(withPorts.getLogicComponent().onProcess(0x100000005ull, mode), 77);
        EXPECT_EQ(mixer().processMode, mode);
    }
    EXPECT_EQ(mixer().processArgument, 0x100000005ull);
    EXPECT_EQ(mixer().processFlags, 0x80000000u);
    EXPECT_EQ(withPorts.getLogicComponent().onProcess(1, 3), code(0x80000000));
    EXPECT_EQ(mixer().processCalls, 3u);

    for (AudioComponent* without : {&noFactory, &noPorts}) {
        EXPECT_FALSE(without->getLogicComponent().isLogicReady());
        EXPECT_EQ(without->getLogicComponent().onProcess(1, 0), 0);
        EXPECT_EQ(without->getLogicComponent().onProcess(1, 3), 0);
    }
    EXPECT_EQ(mixer().processCalls, 3u);
    PDB::ParameterDBCollection::getInstance(10).clear();
}

// Positions 1-9 reach the logic component; 10-31 the manager accessor only while in use.
TEST_F(AudioComponentTest, TheLogicAccessorForwardsWhatItHas)
{
    AudioComponent component;
    ASSERT_EQ(component.initialize("TestMixer", 2, 31, NUM_X, NUM_Y), 0);
    ILogicComponentAccessor_V1& a = *static_cast<ILogicComponentAccessor_V1*>(mixer().logicAccessor);

    EXPECT_EQ(a.setOutputUInt(0, 40), 0);
    EXPECT_EQ(a.setOutputText(1, "hi"), 0);
    EXPECT_EQ(a.setOutputNormalized(0, 0.5f), 0);
    EXPECT_EQ(a.setOutputInt(0, 41), 0);
    EXPECT_EQ(a.setOutputFloat(0, 42.0f), 0);
    EXPECT_EQ(a.triggerOutput(0), 0);
    EXPECT_EQ(a.requestProcess(), 0);
    EXPECT_TRUE(component.getLogicComponent().isProcessRequested());
    u32 kind = 9;
    VariantType value(8);
    f32 normalized = -1.0f;
    u8 changed = 9;
    EXPECT_EQ(a.getOutputData(0, &kind, &value, &normalized, &changed), 0);
    EXPECT_EQ(kind, 2u);
    EXPECT_EQ(value.getType(), VariantType::TYPE_UINT);
    EXPECT_EQ(value.getUInt(), component.getLogicComponent().getOutputData(0).getValue().getUInt());
    EXPECT_EQ(normalized, component.getLogicComponent().getOutputData(0).getNormalized());
    EXPECT_EQ(changed, 1u);
    EXPECT_EQ(a.getOutputData(1, &kind, &value, &normalized, &changed), 0);
    EXPECT_EQ(kind, 7u);
    EXPECT_STREQ(value.getString(), "hi");
    VariantType small(2);
    EXPECT_EQ(a.getOutputData(1, &kind, &small, nullptr, nullptr), code(0x80000000)); // cut to "h"
    EXPECT_STREQ(small.getString(), "h");
    EXPECT_EQ(a.getOutputData(1, &kind, nullptr, nullptr, nullptr), 0); // no value wanted
    EXPECT_EQ(a.getInputData(1, &kind, &value, &normalized, &changed), 0);
    EXPECT_EQ(kind, 3u);
    EXPECT_EQ(value.getType(), VariantType::TYPE_INT);
    // Kind 0 (the port described with kind 9) and ports out of range.
    for (u32 port : {2u, 3u}) {
        kind = 9;
        EXPECT_EQ(a.getInputData(port, &kind, &value, &normalized, &changed), code(0x80000000));
        EXPECT_EQ(kind, 0u);
        EXPECT_EQ(value.getType(), VariantType::TYPE_EMPTY);
        EXPECT_EQ(normalized, 0.0f);
        EXPECT_EQ(changed, 0u);
    }
    EXPECT_EQ(a.getOutputData(2, &kind, &value, &normalized, &changed), code(0x80000000));
    const std::function<i32()> outOfRange[] = {
        [&] { return a.setOutputNormalized(2, 0.5f); }, [&] { return a.setOutputUInt(2, 1); },
        [&] { return a.setOutputInt(2, 1); },           [&] { return a.setOutputFloat(2, 1.0f); },
        [&] { return a.setOutputText(2, "x"); },        [&] { return a.triggerOutput(2); },
    };
    for (const auto& call : outOfRange) {
        EXPECT_EQ(call(), code(0x80000001));
    }

    // 10-31 without a manager accessor (before and after the use), then forwarded.
    const auto lastColumn = [&] {
        char text[4] = "##";
        u8 bytes[2] = {};
        VariantType info;
        info.setUInt(3);
        const i32 infoResult = a.getParameterInfoValue3(0, &info);
        return std::vector<i64>{
            a.getValueUInt(5, 0, 0),
            a.getValueInt(0, 0, 0),
            static_cast<i64>(a.getValueFloat(4, 0, 0) * 100),
            a.getValueBool(5, 0, 0),
            a.getValueString(2, 0, 0, text, sizeof(text)),
            text[0],
            a.getValueBinary(3, 0, 0, bytes, sizeof(bytes)),
            a.getParameterInfoField1(0),
            a.getParameterInfoField2(0),
            infoResult,
            info.getType(),
            a.getParameterInfoValue1(0, nullptr),
            a.getMeterByte2(1, 0, 0, 0),
            a.getMeterByte3(1, 0, 0, 0),
            a.getMeterByte2OrFE(1, 0, 0, 0),
            a.setValueUInt(1, 0, 0, 1),
            a.setValueInt(0, 0, 0, 1),
            a.setValueFloat(4, 0, 0, 0.5f),
            a.setValueBool(5, 0, 0, false),
            a.setValueString(2, 0, 0, "x"),
            a.setValueBinary(3, 0, 0, bytes, 1),
        };
    };
    const i64 F = code(0x80000000);
    const std::vector<i64> idle = {0, 0, 0, 0, F, '#', F, 0, 0, F, 0, F, 0, 0, 254, F, F, F, F, F, F};
    const std::vector<i64> inUse = {1, -3,  25, 1,   0, 'M', 0, NUM_X, 1, 0, VariantType::TYPE_INT,
                                    F, 254, 0,  254, 0, 0,   0, 0,     0, 0};
    EXPECT_EQ(lastColumn(), idle);
    ASSERT_EQ(component.beginUseByDSPThread(nullptr), 0);
    EXPECT_EQ(lastColumn(), inUse);
    EXPECT_EQ(component.endUseByDSPThread(), 0);
    EXPECT_EQ(lastColumn(), idle);
    EXPECT_EQ(component.release(), 0);
    EXPECT_EQ(a.setOutputUInt(0, 1), code(0x80000000)); // released: no logic component
    EXPECT_EQ(a.getInputData(0, &kind, &value, &normalized, &changed), code(0x80000000));
    PDB::ParameterDBCollection::getInstance(10).clear();
}

TEST_F(AudioComponentTest, PortCountsAndResourcesAskTheInstancesParameterInformation)
{
    AudioComponent component;
    EXPECT_EQ(component.getNumInPort(), 0u); // no parameter information yet
    EXPECT_EQ(component.getDspResourceSize("dsp", 48000, 64, "step"), 0);
    ASSERT_EQ(component.initialize("TestMixer", 2, 41, NUM_X, NUM_Y), 0);
    const u32 in = mixer().calls[15];
    const u32 out = mixer().calls[16];
    const u32 resource = mixer().calls[21];
    EXPECT_EQ(component.getNumInPort(), 0u);
    EXPECT_EQ(component.getNumOutPort(), 0u);
    EXPECT_EQ(component.getDspResourceSize("dsp", 48000, 64, "step"), 0);
    EXPECT_EQ(mixer().calls[15], in + 1);
    EXPECT_EQ(mixer().calls[16], out + 1);
    EXPECT_EQ(mixer().calls[21], resource + 1);
    EXPECT_EQ(component.release(), 0);

    // A null type name: the null type, and no component-database entry.
    EXPECT_EQ(component.initialize(nullptr, 2, 42, NUM_X, NUM_Y), code(0x80000000));
    EXPECT_EQ(component.getTypeName(), "");
    EXPECT_EQ(PDB::ParameterDBCollection::getInstance(10).getComponentIndex(42), 0xFFFFFFFFu);
    EXPECT_EQ(component.getNumInPort(), 0u);
    PDB::ParameterDBCollection::getInstance(10).clear();
}

} // namespace

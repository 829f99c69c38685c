// The benchmarks' plug-in: description "BenchMixer" version 2, every hook switched on and doing nothing. Its
// instances are shaped like the test mixer's: two parameter arrays (u32 of numX, f32 of numX x numY), four meters
// and a logic control with three inputs and two outputs. benchStoreFloats stores through a manager accessor from
// plug-in code.
//
// Built with BENCH_PLUGIN_MINIMAL it is "BenchMinimal" version 1: one parameter, and instances without arrays,
// meters or logic control.
#include <cstring>
#include <new>

#include "dadov_PluginInterfaces.h"

#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using namespace DADOV;

#ifdef BENCH_PLUGIN_MINIMAL
const char DESCRIPTION[] = R"({"component": {"name": "BenchMinimal", "majorVer": 1, "maxX": 64, "maxY": 64},
 "parameters": [{"strAddress": "/Level", "type": "UINT32", "min": "0", "max": "1000000", "def": "0"}]})";
constexpr u32 ARRAY_COUNT = 0;
constexpr u32 METER_COUNT = 0;
#else
const char DESCRIPTION[] = R"({"component": {"name": "BenchMixer", "majorVer": 2, "maxX": 64, "maxY": 64},
 "parameters": [
  {"strAddress": "/Level", "type": "UINT32", "min": "0", "max": "1000000", "def": "0"},
  {"strAddress": "/Gain", "type": "SINT16", "min": "-13800", "max": "1000", "def": "0"},
  {"strAddress": "/Name", "type": "STRING", "max": "16", "def": "Mixer"}]})";
constexpr u32 ARRAY_COUNT = 2;
constexpr u32 METER_COUNT = 4;
#endif

class ParamInfo final : public IParamInfo
{
public:
    void* queryInterface(const InterfaceId* id) override
    {
        if (id == nullptr || !(*id == IID_PARAM_INFO)) {
            return nullptr;
        }
        ++m_references;
        return static_cast<IParamInfo*>(this);
    }
    u32 release() override
    {
        const u32 left = --m_references;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    u32 getNumInPort(u32, u32, u32) override { return 0; }
    u32 getNumOutPort(u32, u32, u32) override { return 0; }
    i32 getDspResourceSize(u32, u32, u32, const char*, u32, u32, const char*) override { return 0; }
    const char* getComponentInfoJson() override { return DESCRIPTION; }
    bool isRangeHookEnabled() override { return true; }
    bool isChangeHookEnabled() override { return true; }
    i32 onRangeHook(IDataBaseAccessor_V1*, u32, u32, u32, VariantType*, VariantType*) override { return 0; }
    i32 onValueHook(IDataBaseAccessor_V1*, u32, u32, u32, VariantType*) override { return 0; }
    i32 onChangeHook(IDataBaseAccessor_V1*, u32, u32, u32, const VariantType*, const VariantType*) override
    {
        return 0;
    }

private:
    u32 m_references = 1;
};

constexpr u32 SIZE_NUM_X = 0x10000001;
constexpr u32 SIZE_NUM_Y = 0x20000001;
constexpr u32 F32 = 6;
const u32 ARRAYS[] = {0, SIZE_NUM_X, 0, 0, 0, 0, 0, 0, F32, SIZE_NUM_X, SIZE_NUM_Y, 0, 0, 0, 0, 0};

const u32* meterDescriptors()
{
    static u32 words[4 * 8] = {};
    const char* names[] = {"level", "gr", "levelX", "peak"};
    for (u32 i = 0; i < 4; ++i) {
        words[8 * i] = i < 3 ? F32 : 0;
        words[8 * i + 1] = SIZE_NUM_X;
        std::memcpy(words + 8 * i + 4, names[i], std::strlen(names[i]));
    }
    return words;
}

template <typename Self> u32 dropReference(Self* self, u32& references)
{
    const u32 left = --references;
    if (left == 0) {
        delete self;
    }
    return left;
}

class CalcCoef final : public ICalcCoef
{
public:
    void* queryInterface(const InterfaceId* id) override
    {
        if (id == nullptr || !(*id == IID_CALC_COEF)) {
            return nullptr;
        }
        ++m_references;
        return static_cast<ICalcCoef*>(this);
    }
    u32 release() override { return dropReference(this, m_references); }
    i32 getArrayDescriptors(const u32** descriptors, u32* count) override
    {
        *descriptors = ARRAYS;
        *count = ARRAY_COUNT;
        return 0;
    }
    i32 getMeterDescriptors(const u32** descriptors, u32* count) override
    {
        *descriptors = meterDescriptors();
        *count = METER_COUNT;
        return 0;
    }
    i32 setup(IManagerAccessor_V1*, u32, u32, u32, u32, u32, u32, u32) override { return 0; }
    i32 setSamplingRate(u32) override { return 0; }
    i32 getProcessingValue() override { return 0; }
    i32 start() override { return 0; }

private:
    u32 m_references = 1;
};

class LogicControl final : public ILogicControl
{
public:
    void* queryInterface(const InterfaceId* id) override
    {
        if (id == nullptr || !(*id == IID_LOGIC_CONTROL)) {
            return nullptr;
        }
        ++m_references;
        return static_cast<ILogicControl*>(this);
    }
    u32 release() override { return dropReference(this, m_references); }
    i32 setLogicAccessor(ILogicComponentAccessor_V1*, u32, u32, u32) override { return 0; }
    i32 getLogicInfo(bool* hasLogic, u32* processInterval) override
    {
        *hasLogic = true;
        *processInterval = 10;
        return 0;
    }
    u32 getNumInputs() override { return 3; }
    u32 getNumOutputs() override { return 2; }
    i32 getInputDescriptors(LogicPortDescriptor* ports, u32 count) override
    {
        const u32 kinds[] = {2, 3, 2};
        for (u32 i = 0; i < count && i < 3; ++i) {
            ports[i].name.setString("in");
            ports[i].kind = kinds[i];
            ports[i].minValue.setUInt(0);
            ports[i].maxValue.setUInt(100);
        }
        return 0;
    }
    i32 getOutputDescriptors(LogicPortDescriptor* ports, u32 count) override
    {
        for (u32 i = 0; i < count && i < 2; ++i) {
            ports[i].name.setString("out");
            ports[i].kind = i == 0 ? 2 : 7;
        }
        return 0;
    }
    bool isLogicReady() override { return false; }
    i32 process(u64, u32, u32) override { return 0; }

private:
    u32 m_references = 1;
};

class AudioProcess final : public IAudioProcess
{
public:
    void* queryInterface(const InterfaceId*) override { return nullptr; }
    u32 release() override
    {
        delete this;
        return 0;
    }
};

} // namespace

PLUGIN_EXPORT IPluginObject* createParamInfoFunction()
{
    return new (std::nothrow) ParamInfo();
}

PLUGIN_EXPORT IPluginObject* createCalcCoefFunction()
{
    return new (std::nothrow) CalcCoef();
}

PLUGIN_EXPORT IPluginObject* createAudioProcessFunction()
{
    return new (std::nothrow) AudioProcess();
}

#ifndef BENCH_PLUGIN_MINIMAL
PLUGIN_EXPORT IPluginObject* createLogicControlFunction()
{
    return new (std::nothrow) LogicControl();
}
#endif

// Stores every element of the f32 array (index 1) of a numX x numY instance, rounds times.
PLUGIN_EXPORT void benchStoreFloats(IManagerAccessor_V1* accessor, u32 numX, u32 numY, u32 rounds)
{
    for (u32 round = 0; round < rounds; ++round) {
        for (u32 x = 0; x < numX; ++x) {
            for (u32 y = 0; y < numY; ++y) {
                accessor->setArrayValueFloat(1, x, y, 0, static_cast<f32>(x + y + round));
            }
        }
    }
}

// The plug-in of the component type "testgain", version 1: one gain per channel with one audio input and one audio
// output. Its description has one parameter, "/Gain" (FLOAT -138..10 dB, default 0, recallable, nonvolatile, and
// an edit: a change marks the scene as edited). Each instance asks for 1000 "step" units and no fixed delay, and
// keeps one meter array ("level", one float per channel).
//
// Suites build variants of it: TESTGAIN_NAME replaces the type name, TESTGAIN_STEP the "step" size.
//
// Objects are counted: the factories hand out one reference, each answered interface holds one more, and the
// last release deletes the object. The host never calls the audio-process object, and the type has no logic
// control (its factory is left out).
#include <cstring>
#include <new>

#include "dadov_PluginInterfaces.h"

#define TESTGAIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using namespace DADOV;

#ifndef TESTGAIN_NAME
#define TESTGAIN_NAME "testgain"
#endif
#ifndef TESTGAIN_STEP
#define TESTGAIN_STEP 1000
#endif

constexpr char DESCRIPTION[] =
    R"({"component": {"name": ")" TESTGAIN_NAME R"(", "majorVer": 1, "minX": 1, "minY": 1, "maxX": 64, "maxY": 1},
 "parameters": [
  {"attr": {"recallable": 1, "nonvolatile": 1, "syncable": 1, "noeditflag": 0, "private": 0},
   "strAddress": "/Gain", "type": "FLOAT", "patternX": "*1", "min": "-138", "max": "10", "def": "0",
   "step": "0.1", "unit": "dB"}]})";

constexpr i32 STEP_PER_INSTANCE = TESTGAIN_STEP;
constexpr u32 PORTS_PER_SIDE = 1;

// Meter descriptor words: type (6 = 32-bit float), size (numX elements), two unused words, then the name.
constexpr u32 TYPE_F32 = 6;
constexpr u32 SIZE_NUM_X = 0x10000001;

const u32* meterDescriptors()
{
    static u32 words[8] = {TYPE_F32, SIZE_NUM_X};
    static const bool named = [] {
        std::memcpy(words + 4, "level", 5);
        return true;
    }();
    (void)named;
    return words;
}

class Counted
{
protected:
    u32 m_references = 1;

    template <typename Interface> void* answer(Interface* self, const InterfaceId* id, const InterfaceId& own)
    {
        if (id == nullptr || !(*id == own)) {
            return nullptr;
        }
        ++m_references;
        return self;
    }

    template <typename Self> static u32 drop(Self* self, u32& references)
    {
        const u32 left = --references;
        if (left == 0) {
            delete self;
        }
        return left;
    }
};

class ParamInfo final : public IParamInfo, Counted
{
public:
    void* queryInterface(const InterfaceId* id) override { return answer<IParamInfo>(this, id, IID_PARAM_INFO); }
    u32 release() override { return drop(this, m_references); }
    u32 getNumInPort(u32, u32, u32) override { return PORTS_PER_SIDE; }
    u32 getNumOutPort(u32, u32, u32) override { return PORTS_PER_SIDE; }
    i32 getDspResourceSize(u32, u32, u32, const char*, u32, u32, const char* resourceName) override
    {
        return resourceName != nullptr && std::strcmp(resourceName, "step") == 0 ? STEP_PER_INSTANCE : 0;
    }
    const char* getComponentInfoJson() override { return DESCRIPTION; }
    bool isRangeHookEnabled() override { return false; }
    bool isChangeHookEnabled() override { return false; }
    i32 onRangeHook(IDataBaseAccessor_V1*, u32, u32, u32, VariantType*, VariantType*) override { return 0; }
    i32 onValueHook(IDataBaseAccessor_V1*, u32, u32, u32, VariantType*) override { return 0; }
    i32 onChangeHook(IDataBaseAccessor_V1*, u32, u32, u32, const VariantType*, const VariantType*) override
    {
        return 0;
    }
};

class CalcCoef final : public ICalcCoef, Counted
{
public:
    void* queryInterface(const InterfaceId* id) override { return answer<ICalcCoef>(this, id, IID_CALC_COEF); }
    u32 release() override { return drop(this, m_references); }
    i32 getArrayDescriptors(const u32** descriptors, u32* count) override
    {
        *descriptors = nullptr;
        *count = 0;
        return 0;
    }
    i32 getMeterDescriptors(const u32** descriptors, u32* count) override
    {
        *descriptors = meterDescriptors();
        *count = 1;
        return 0;
    }
    i32 setup(IManagerAccessor_V1*, u32, u32, u32, u32, u32, u32, u32) override { return 0; }
    i32 setSamplingRate(u32) override { return 0; }
    i32 getProcessingValue() override { return 0; }
    i32 start() override { return 0; }
};

class AudioProcess final : public IAudioProcess, Counted
{
public:
    void* queryInterface(const InterfaceId* id) override { return answer<IAudioProcess>(this, id, IID_AUDIO_PROCESS); }
    u32 release() override { return drop(this, m_references); }
};

} // namespace

TESTGAIN_EXPORT IPluginObject* createParamInfoFunction()
{
    return new (std::nothrow) ParamInfo();
}

TESTGAIN_EXPORT IPluginObject* createCalcCoefFunction()
{
    return new (std::nothrow) CalcCoef();
}

TESTGAIN_EXPORT IPluginObject* createAudioProcessFunction()
{
    return new (std::nothrow) AudioProcess();
}

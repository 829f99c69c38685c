// A plug-in shaped like the shipped gain: type "testgain" version 1, one audio input and one output, "step" 1000
// and "fixedDelay" 0 for every instance, one "/Gain" parameter, no arrays, meters or logic control.
// Variants by definition: TEST_GAIN_NAME (the description's name) and TEST_GAIN_STEP (the "step" size).
#include <cstring>
#include <new>

#include "dadov_PluginInterfaces.h"

#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using namespace DADOV;

#ifndef TEST_GAIN_NAME
#define TEST_GAIN_NAME "testgain"
#endif
#ifndef TEST_GAIN_STEP
#define TEST_GAIN_STEP 1000
#endif

const char DESCRIPTION[] =
    R"({"component": {"name": ")" TEST_GAIN_NAME R"(", "majorVer": 1, "minX": 1, "minY": 1, "maxX": 8,
 "maxY": 8}, "parameters": [{"strAddress": "/Gain", "type": "FLOAT", "min": "-138", "max": "10", "def": "0"}]})";

constexpr i32 STEP_SIZE = TEST_GAIN_STEP;

template <typename Interface> class Object : public Interface
{
public:
    explicit Object(const InterfaceId& id) : m_id(id) {}
    virtual ~Object() = default;

    void* queryInterface(const InterfaceId* id) override
    {
        if (id == nullptr || !(*id == m_id)) {
            return nullptr;
        }
        ++m_references;
        return static_cast<Interface*>(this);
    }
    u32 release() override
    {
        const u32 left = --m_references;
        if (left == 0) {
            delete this;
        }
        return left;
    }

private:
    const InterfaceId& m_id;
    u32 m_references = 1;
};

class ParamInfo final : public Object<IParamInfo>
{
public:
    ParamInfo() : Object(IID_PARAM_INFO) {}
    u32 getNumInPort(u32, u32, u32) override { return 1; }
    u32 getNumOutPort(u32, u32, u32) override { return 1; }
    i32 getDspResourceSize(u32, u32, u32, const char*, u32, u32, const char* resourceName) override
    {
        return resourceName != nullptr && std::strcmp(resourceName, "step") == 0 ? STEP_SIZE : 0;
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

class CalcCoef final : public Object<ICalcCoef>
{
public:
    CalcCoef() : Object(IID_CALC_COEF) {}
    i32 getArrayDescriptors(const u32** descriptors, u32* count) override
    {
        *descriptors = nullptr;
        *count = 0;
        return 0;
    }
    i32 getMeterDescriptors(const u32** descriptors, u32* count) override
    {
        *descriptors = nullptr;
        *count = 0;
        return 0;
    }
    i32 setup(IManagerAccessor_V1*, u32, u32, u32, u32, u32, u32, u32) override { return 0; }
    i32 setSamplingRate(u32) override { return 0; }
    i32 getProcessingValue() override { return 0; }
    i32 start() override { return 0; }
};

class AudioProcess final : public Object<IAudioProcess>
{
public:
    AudioProcess() : Object(IID_AUDIO_PROCESS) {}
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

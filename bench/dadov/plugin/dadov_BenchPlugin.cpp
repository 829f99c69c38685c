// The benchmarks' plug-in: description "BenchMixer" version 2, every hook switched on and doing nothing.
#include <new>

#include "dadov_PluginInterfaces.h"

#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using namespace DADOV;

const char DESCRIPTION[] = R"({"component": {"name": "BenchMixer", "majorVer": 2},
 "parameters": [
  {"strAddress": "/Level", "type": "UINT32", "min": "0", "max": "1000000", "def": "0"},
  {"strAddress": "/Gain", "type": "SINT16", "min": "-13800", "max": "1000", "def": "0"},
  {"strAddress": "/Name", "type": "STRING", "max": "16", "def": "Mixer"}]})";

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
    return nullptr;
}

PLUGIN_EXPORT IPluginObject* createAudioProcessFunction()
{
    return new (std::nothrow) AudioProcess();
}

PLUGIN_EXPORT IPluginObject* createLogicControlFunction()
{
    return nullptr;
}

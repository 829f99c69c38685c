// A test plug-in: all four factories (two may be left out), reference-counted objects, switchable parameter hooks
// and a probe. Its description, by default "TestMixer" version 2, has six blocks:
//   0 "/Gain" SINT16 -13800..1000 (-3)   1 "/Mode" UINT8 0..3   2 "/Name" STRING 16 ("Mixer")   3 "/Blob" BINARY 8
//   4 "/Level" FLOAT -1..1          5 "/On" BOOL
// Hooks: 27 narrows the maximum of "/Gain" to 50, 28 makes the default of "/Gain" 7, 29 logs (new, old) and may
// write "/Mode" through the accessor.
//
// Instances: operation 13 gives two parameter arrays (u32 of numX; f32 of numX x numY), 14 four meters ("level",
// "gr", "levelX" f32 and "peak" u32, numX each); the logic control has 3 inputs (kinds 2, 3 and 9, the first
// named with 49 characters and no terminator, the second with a number) and 2 outputs (kind 2 "gain" with the
// expression "dB", kind 7 "label"), processing interval 10. Their ranges carry value tags 1, 3, 5, 0 and 7.
// Operations 15 and 16 answer the probe's port counts.
//
// Variants by definition: TEST_PLUGIN_NAME / TEST_PLUGIN_VERSION (description), TEST_PLUGIN_NO_LOGIC,
// TEST_PLUGIN_NO_COEF (export left out), TEST_PLUGIN_NO_PARAM_INTERFACE (the parameter-information object answers
// no interface), TEST_PLUGIN_BAD_JSON (operation 23 gives "{"), TEST_PLUGIN_NULL_COEF (the coefficient factory
// returns null), TEST_PLUGIN_NULL_QUERY (the coefficient, audio-process and logic objects answer no interface),
// TEST_PLUGIN_METER_PAIR (operation 14 gives the first two meters only, "level" and "gr").
#include <cstdio>
#include <cstring>
#include <new>

#include "dadov_PluginInterfaces.h"
#include "dadov_TestPluginProbe.h"

#ifndef TEST_PLUGIN_NAME
#define TEST_PLUGIN_NAME "TestMixer"
#endif
#ifndef TEST_PLUGIN_VERSION
#define TEST_PLUGIN_VERSION 2
#endif
#define TEST_PLUGIN_TEXT(x) #x
#define TEST_PLUGIN_NUMBER(x) TEST_PLUGIN_TEXT(x)

#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using namespace DADOV;

TestPluginProbe g_probe;

constexpr u32 GAIN_BLOCK = 0;
constexpr u32 MODE_BLOCK = 1;

const char DESCRIPTION[] =
    R"({"component": {"name": ")" TEST_PLUGIN_NAME
    R"(", "majorVer": )" TEST_PLUGIN_NUMBER(TEST_PLUGIN_VERSION) R"(, "minX": 1, "minY": 1, "maxX": 8, "maxY": 8},
 "parameters": [
  {"strAddress": "/Gain", "type": "SINT16", "patternX": "*1", "min": "-13800", "max": "1000", "def": "-3",
   "nominal": "-10", "step": "1"},
  {"strAddress": "/Mode", "type": "UINT8", "min": "0", "max": "3", "def": "0"},
  {"strAddress": "/Name", "type": "STRING", "max": "16", "def": "Mixer"},
  {"strAddress": "/Blob", "type": "BINARY", "max": "8"},
  {"strAddress": "/Level", "type": "FLOAT", "min": "-1", "max": "1", "def": "0.25", "step": "0.5"},
  {"strAddress": "/On", "type": "BOOL", "min": "0", "max": "1", "def": "1"}]})";

void count(u32 operation)
{
    if (operation < sizeof(g_probe.calls) / sizeof(g_probe.calls[0])) {
        ++g_probe.calls[operation];
    }
}

int describe(char* out, size_t size, const VariantType* value)
{
    switch (value != nullptr ? value->getType() : VariantType::TYPE_EMPTY) {
    case VariantType::TYPE_UINT:
        return std::snprintf(out, size, "u%u", value->getUInt());
    case VariantType::TYPE_INT:
        return std::snprintf(out, size, "i%d", value->getInt());
    case VariantType::TYPE_FLOAT:
        return std::snprintf(out, size, "f%g", static_cast<double>(value->getFloat()));
    case VariantType::TYPE_STRING:
        return std::snprintf(out, size, "s%.*s", static_cast<int>(value->getStringLength()), value->getString());
    case VariantType::TYPE_BINARY:
        return std::snprintf(out, size, "b%u", value->getBinarySize());
    default:
        return std::snprintf(out, size, "e");
    }
}

void logChange(u32 block, const VariantType* first, const VariantType* second)
{
    char line[256];
    char newText[96];
    char oldText[96];
    describe(newText, sizeof(newText), first);
    describe(oldText, sizeof(oldText), second);
    const int length = std::snprintf(line, sizeof(line), "29 %u %s %s\n", block, newText, oldText);
    const size_t room = sizeof(g_probe.changeLog) - 1 - g_probe.changeLogLength;
    const size_t kept = length > 0 && static_cast<size_t>(length) < room ? static_cast<size_t>(length) : 0;
    std::memcpy(g_probe.changeLog + g_probe.changeLogLength, line, kept);
    g_probe.changeLogLength += static_cast<u32>(kept);
}

// Reference count and live-object bookkeeping of every object.
class Counted
{
protected:
    Counted() { ++g_probe.liveObjects; }
    ~Counted() { --g_probe.liveObjects; }
    u32 m_references = 1;
};

// The object as the interface asked for, with a reference of its own; null for another identifier.
template <typename Interface>
void* answer(Interface* self, const InterfaceId* id, const InterfaceId& own, u32& references)
{
    if (id == nullptr || !(*id == own)) {
        return nullptr;
    }
    ++references;
    return self;
}

template <typename Self> u32 dropReference(Self* self, u32& references)
{
    const u32 left = --references;
    if (left == 0) {
        delete self;
    }
    return left;
}

class ParamInfo final : public IParamInfo, Counted
{
public:
    void* queryInterface(const InterfaceId* id) override
    {
        count(0);
#ifdef TEST_PLUGIN_NO_PARAM_INTERFACE
        (void)id;
        return nullptr;
#else
        return answer<IParamInfo>(this, id, IID_PARAM_INFO, m_references);
#endif
    }
    u32 release() override
    {
        count(2);
        return dropReference(this, m_references);
    }
    u32 getNumInPort(u32, u32, u32) override
    {
        count(15);
        return g_probe.inPorts;
    }
    u32 getNumOutPort(u32, u32, u32) override
    {
        count(16);
        return g_probe.outPorts;
    }
    i32 getDspResourceSize(u32, u32, u32, const char*, u32, u32, const char*) override
    {
        count(21);
        return 0;
    }
    const char* getComponentInfoJson() override
    {
        count(23);
#ifdef TEST_PLUGIN_BAD_JSON
        return "{";
#else
        return DESCRIPTION;
#endif
    }
    bool isRangeHookEnabled() override
    {
        count(25);
        return g_probe.hooksOff == 0;
    }
    bool isChangeHookEnabled() override
    {
        count(26);
        return g_probe.changeHookOff == 0;
    }
    i32 onRangeHook(IDataBaseAccessor_V1*, u32 block, u32, u32, VariantType*, VariantType* second) override
    {
        count(27);
        if (block == GAIN_BLOCK && second != nullptr) {
            second->setInt(50);
        }
        return 0;
    }
    i32 onValueHook(IDataBaseAccessor_V1*, u32 block, u32, u32, VariantType* value) override
    {
        count(28);
        if (value == nullptr || block != GAIN_BLOCK) {
            return 0;
        }
        if (g_probe.leaveBadTag != 0) {
            const u32 badTag = 9; // as a careless plug-in might leave it
            std::memcpy(reinterpret_cast<u8*>(value) + 16, &badTag, sizeof(badTag));
        } else {
            value->setInt(7);
        }
        return 0;
    }
    i32 onChangeHook(IDataBaseAccessor_V1* accessor, u32 block, u32, u32, const VariantType* first,
                     const VariantType* second) override
    {
        count(29);
        logChange(block, first, second);
        if (g_probe.writeBackMode != 0 && block == GAIN_BLOCK && accessor != nullptr) {
            g_probe.writeBackResult = accessor->setValueUInt(MODE_BLOCK, 0, 0, g_probe.writeBackMode);
        }
        return 0;
    }
};

// The instance objects' queries; a variant answers none.
template <typename Interface>
void* answerInstance(Interface* self, const InterfaceId* id, const InterfaceId& own, u32& references)
{
#ifdef TEST_PLUGIN_NULL_QUERY
    (void)self, (void)id, (void)own, (void)references;
    return nullptr;
#else
    return answer<Interface>(self, id, own, references);
#endif
}

constexpr u32 SIZE_NUM_X = 0x10000001; // numX elements
constexpr u32 SIZE_NUM_Y = 0x20000001; // numY elements
constexpr u32 F32 = 6;

const u32 ARRAY_DESCRIPTORS[] = {0, SIZE_NUM_X, 0, 0, 0, 0, 0, 0, F32, SIZE_NUM_X, SIZE_NUM_Y, 0, 0, 0, 0, 0};

// Four meters of numX elements; words 4-7 of a descriptor hold the name.
#ifdef TEST_PLUGIN_METER_PAIR
constexpr u32 METER_COUNT = 2;
#else
constexpr u32 METER_COUNT = 4;
#endif
const u32* meterDescriptors()
{
    static u32 words[4 * 8] = {};
    const struct
    {
        u32 type;
        const char* name;
    } meters[] = {{F32, "level"}, {F32, "gr"}, {F32, "levelX"}, {0, "peak"}};
    for (u32 i = 0; i < 4; ++i) {
        u32* descriptor = words + 8 * i;
        descriptor[0] = meters[i].type;
        descriptor[1] = SIZE_NUM_X;
        std::memcpy(descriptor + 4, meters[i].name, std::strlen(meters[i].name));
    }
    return words;
}

void recordCoef(u32 operation)
{
    if (g_probe.coefCallCount < sizeof(g_probe.coefCalls) / sizeof(g_probe.coefCalls[0])) {
        g_probe.coefCalls[g_probe.coefCallCount++] = operation;
    }
}

class CalcCoef final : public ICalcCoef, Counted
{
public:
    void* queryInterface(const InterfaceId* id) override
    {
        return answerInstance<ICalcCoef>(this, id, IID_CALC_COEF, m_references);
    }
    u32 release() override { return dropReference(this, m_references); }
    i32 getArrayDescriptors(const u32** descriptors, u32* count) override
    {
        *descriptors = ARRAY_DESCRIPTORS;
        *count = 2;
        return g_probe.failDescriptors == 13 ? -1 : 0;
    }
    i32 getMeterDescriptors(const u32** descriptors, u32* count) override
    {
        *descriptors = meterDescriptors();
        *count = METER_COUNT;
        return g_probe.failDescriptors == 14 ? -1 : 0;
    }
    i32 setup(IManagerAccessor_V1* accessor, u32 uid, u32 numX, u32 numY, u32 reserved1, u32 reserved2,
              u32 numSamplePerFrame, u32 fsHz) override
    {
        recordCoef(29);
        g_probe.setupAccessor = accessor;
        const u32 arguments[] = {uid, numX, numY, reserved1, reserved2, numSamplePerFrame, fsHz};
        std::memcpy(g_probe.setupArguments, arguments, sizeof(arguments));
        return 0;
    }
    i32 setSamplingRate(u32 fsHz) override
    {
        recordCoef(30);
        g_probe.samplingRate = fsHz;
        return 0;
    }
    i32 getProcessingValue() override
    {
        recordCoef(39);
        return 39;
    }
    i32 start() override
    {
        recordCoef(43);
        return 0;
    }
};

class AudioProcess final : public IAudioProcess, Counted
{
public:
    void* queryInterface(const InterfaceId* id) override
    {
        return answerInstance<IAudioProcess>(this, id, IID_AUDIO_PROCESS, m_references);
    }
    u32 release() override { return dropReference(this, m_references); }
};

// A text written over the whole buffer without a terminator, as a careless plug-in might.
void fillName(VariantType& name, char letter)
{
    name.setString("");
    std::memset(const_cast<char*>(name.getString()), letter, name.getCapacity());
}

class LogicControl final : public ILogicControl, Counted
{
public:
    void* queryInterface(const InterfaceId* id) override
    {
        return answerInstance<ILogicControl>(this, id, IID_LOGIC_CONTROL, m_references);
    }
    u32 release() override { return dropReference(this, m_references); }
    i32 setLogicAccessor(ILogicComponentAccessor_V1* accessor, u32 uid, u32 numX, u32 numY) override
    {
        g_probe.logicAccessor = accessor;
        g_probe.logicArguments[0] = uid;
        g_probe.logicArguments[1] = numX;
        g_probe.logicArguments[2] = numY;
        return 0;
    }
    i32 getLogicInfo(bool* hasLogic, u32* processInterval) override
    {
        *hasLogic = g_probe.noLogicPorts == 0;
        *processInterval = 10;
        return 0;
    }
    u32 getNumInputs() override { return 3; }
    u32 getNumOutputs() override { return 2; }
    i32 getInputDescriptors(LogicPortDescriptor* ports, u32 count) override
    {
        if (count != 3) {
            return -1;
        }
        fillName(ports[0].name, 'n');
        ports[0].kind = 2;
        ports[0].minValue.setUInt(0);
        ports[0].maxValue.setUInt(100);
        ports[1].name.setUInt(5);
        ports[1].kind = 3;
        ports[1].minValue.setInt(-5);
        ports[1].maxValue.setFloat(2.5f);
        ports[2].name.setString("mode");
        ports[2].kind = 9;
        ports[2].maxValue.initialize(8);
        ports[2].maxValue.setString("x");
        return 0;
    }
    i32 getOutputDescriptors(LogicPortDescriptor* ports, u32 count) override
    {
        if (count != 2) {
            return -1;
        }
        ports[0].name.setString("gain");
        ports[0].kind = 2;
        ports[0].expressionName.setString("dB");
        ports[0].minValue.setUInt(0);
        ports[0].maxValue.setUInt(100);
        ports[1].name.setString("label");
        ports[1].kind = 7;
        return 0;
    }
    bool isLogicReady() override { return g_probe.logicReady != 0; }
    i32 process(u64 argument, u32 mode, u32 flags) override
    {
        g_probe.processArgument = argument;
        g_probe.processMode = mode;
        g_probe.processFlags = flags;
        ++g_probe.processCalls;
        return g_probe.processResult;
    }
};

} // namespace

PLUGIN_EXPORT IPluginObject* createParamInfoFunction()
{
    return new (std::nothrow) ParamInfo();
}

#ifndef TEST_PLUGIN_NO_COEF
PLUGIN_EXPORT IPluginObject* createCalcCoefFunction()
{
#ifdef TEST_PLUGIN_NULL_COEF
    return nullptr;
#else
    return new (std::nothrow) CalcCoef();
#endif
}
#endif

PLUGIN_EXPORT IPluginObject* createAudioProcessFunction()
{
    return new (std::nothrow) AudioProcess();
}

#ifndef TEST_PLUGIN_NO_LOGIC
PLUGIN_EXPORT IPluginObject* createLogicControlFunction()
{
    return new (std::nothrow) LogicControl();
}
#endif

PLUGIN_EXPORT TestPluginProbe* testPluginProbe()
{
    return &g_probe;
}

// The binary contract between the host and the audio-component plug-ins.
//
// A plug-in library exports four factories by name (the logic-control one may be missing); each takes nothing and
// returns a plug-in object or null. Every object and every interface is called through a table of operations whose
// positions are fixed: the declaration index below is the slot index under the x86-64 C++ ABI (a virtual
// destructor would take two slots, so no interface here has one; unused positions are placeholders).
//
// Plug-in side (implemented by plug-ins): IPluginObject (0 query, 1 unused, 2 release) and the four interfaces
// derived from it. An interface obtained through the query holds a reference of its own, so the querier releases
// the factory's object and later the interface.
//
// Host side (handed to plug-ins, each "_V1"): position 0 is a placeholder the plug-ins never call. Element
// addresses are (block, x, y) of the component's parameters. Plug-ins reach the host only through these.
#pragma once

#include "dadov_Types.h"
#include "dadov_VariantType.h"

// Plug-in objects are tables of operations, not C++ objects with run-time type information (a plug-in may be
// written in C): functions that call into them are exempt from the sanitizer's dynamic-type check.
#define DADOV_CALLS_PLUGINS __attribute__((no_sanitize("vptr")))

namespace DADOV {

struct InterfaceId
{
    u8 bytes[16];
};

// The usual byte order of such identifiers: the first field and the two short ones little-endian, then 8 bytes.
constexpr InterfaceId makeInterfaceId(u32 a, u16 b, u16 c, const u8 (&d)[8])
{
    return InterfaceId{{static_cast<u8>(a), static_cast<u8>(a >> 8), static_cast<u8>(a >> 16), static_cast<u8>(a >> 24),
                        static_cast<u8>(b), static_cast<u8>(b >> 8), static_cast<u8>(c), static_cast<u8>(c >> 8), d[0],
                        d[1], d[2], d[3], d[4], d[5], d[6], d[7]}};
}

constexpr u8 PARAM_INFO_TAIL[8] = {0xAE, 0xF4, 0x6C, 0x8C, 0x9E, 0x8C, 0x67, 0x66};
constexpr u8 CALC_COEF_TAIL[8] = {0x84, 0xF6, 0x28, 0x8D, 0x42, 0x0A, 0xE4, 0x62};
constexpr u8 AUDIO_PROCESS_TAIL[8] = {0x8A, 0x71, 0xD2, 0xF1, 0xF7, 0x01, 0xD4, 0x83};
constexpr u8 LOGIC_CONTROL_TAIL[8] = {0xBC, 0x36, 0x27, 0x07, 0xB3, 0x5F, 0xB2, 0xD9};

constexpr InterfaceId IID_PARAM_INFO = makeInterfaceId(0x6AE6A549, 0x3E9A, 0x42E9, PARAM_INFO_TAIL);
constexpr InterfaceId IID_CALC_COEF = makeInterfaceId(0x6CFA38C4, 0x23D2, 0x4869, CALC_COEF_TAIL);
constexpr InterfaceId IID_AUDIO_PROCESS = makeInterfaceId(0xEAD6E579, 0xE865, 0x463E, AUDIO_PROCESS_TAIL);
constexpr InterfaceId IID_LOGIC_CONTROL = makeInterfaceId(0x2DDDAE60, 0xC316, 0x44F8, LOGIC_CONTROL_TAIL);

constexpr bool operator==(const InterfaceId& a, const InterfaceId& b)
{
    for (int i = 0; i < 16; ++i) {
        if (a.bytes[i] != b.bytes[i]) {
            return false;
        }
    }
    return true;
}

class IDataBaseAccessor_V1;
class IManagerAccessor_V1;
class ILogicComponentAccessor_V1;

// ---------------------------------------------------------------------------------------------------------------
// Plug-in side
// ---------------------------------------------------------------------------------------------------------------

class IPluginObject
{
public:
    // 0: the interface of that identifier with a reference of its own, or null.
    virtual void* queryInterface(const InterfaceId* id) = 0;
    virtual u32 unused1() { return 0; }
    // 2: gives up one reference.
    virtual u32 release() = 0;

protected:
    ~IPluginObject() = default;
};

// Parameter information of a component type and its instances.
class IParamInfo : public IPluginObject
{
public:
    virtual u32 unused3() { return 0; }
    virtual u32 unused4() { return 0; }
    virtual u32 unused5() { return 0; }
    virtual u32 unused6() { return 0; }
    virtual u32 unused7() { return 0; }
    virtual u32 unused8() { return 0; }
    virtual u32 unused9() { return 0; }
    virtual u32 unused10() { return 0; }
    virtual u32 unused11() { return 0; }
    virtual u32 unused12() { return 0; }
    virtual u32 unused13() { return 0; }
    virtual u32 unused14() { return 0; }
    // 15, 16: logic port counts of an instance.
    virtual u32 getNumInPort(u32 uid, u32 numX, u32 numY) = 0;
    virtual u32 getNumOutPort(u32 uid, u32 numX, u32 numY) = 0;
    virtual u32 unused17() { return 0; }
    virtual u32 unused18() { return 0; }
    virtual u32 unused19() { return 0; }
    virtual u32 unused20() { return 0; }
    // 21: size of a DSP resource ("fixedDelay", "step", ...) of an instance.
    virtual i32 getDspResourceSize(u32 uid, u32 numX, u32 numY, const char* dspName, u32 fsHz, u32 numSamplePerFrame,
                                   const char* resourceName) = 0;
    virtual u32 unused22() { return 0; }
    // 23: the type's parameter description as JSON, held by the plug-in while the interface lives.
    virtual const char* getComponentInfoJson() = 0;
    virtual u32 unused24() { return 0; }
    // 25: whether the range and value hooks are wanted; 26: whether the change hook is.
    virtual bool isRangeHookEnabled() = 0;
    virtual bool isChangeHookEnabled() = 0;
    // 27: may narrow an element's limits (first = minimum, second = maximum, numbers only).
    virtual i32 onRangeHook(IDataBaseAccessor_V1* accessor, u32 block, u32 x, u32 y, VariantType* first,
                            VariantType* second) = 0;
    // 28: may change an element's default value in place.
    virtual i32 onValueHook(IDataBaseAccessor_V1* accessor, u32 block, u32 x, u32 y, VariantType* value) = 0;
    // 29: after an element changed (first = new value, second = old value).
    virtual i32 onChangeHook(IDataBaseAccessor_V1* accessor, u32 block, u32 x, u32 y, const VariantType* first,
                             const VariantType* second) = 0;

protected:
    ~IParamInfo() = default;
};

// Coefficient calculation of an instance.
class ICalcCoef : public IPluginObject
{
public:
    virtual u32 unused3() { return 0; }
    virtual u32 unused4() { return 0; }
    virtual u32 unused5() { return 0; }
    virtual u32 unused6() { return 0; }
    virtual u32 unused7() { return 0; }
    virtual u32 unused8() { return 0; }
    virtual u32 unused9() { return 0; }
    virtual u32 unused10() { return 0; }
    virtual u32 unused11() { return 0; }
    virtual u32 unused12() { return 0; }
    // 13, 14: array and meter descriptors (words as the array sets take them) and their count.
    virtual i32 getArrayDescriptors(const u32** descriptors, u32* count) = 0;
    virtual i32 getMeterDescriptors(const u32** descriptors, u32* count) = 0;
    virtual u32 unused15() { return 0; }
    virtual u32 unused16() { return 0; }
    virtual u32 unused17() { return 0; }
    virtual u32 unused18() { return 0; }
    virtual u32 unused19() { return 0; }
    virtual u32 unused20() { return 0; }
    virtual u32 unused21() { return 0; }
    virtual u32 unused22() { return 0; }
    virtual u32 unused23() { return 0; }
    virtual u32 unused24() { return 0; }
    virtual u32 unused25() { return 0; }
    virtual u32 unused26() { return 0; }
    virtual u32 unused27() { return 0; }
    virtual u32 unused28() { return 0; }
    // 29: set-up at the start of use.
    virtual i32 setup(IManagerAccessor_V1* accessor, u32 uid, u32 numX, u32 numY, u32 reserved1, u32 reserved2,
                      u32 numSamplePerFrame, u32 fsHz) = 0;
    // 30: the sampling rate, after 39.
    virtual i32 setSamplingRate(u32 fsHz) = 0;
    virtual u32 unused31() { return 0; }
    virtual u32 unused32() { return 0; }
    virtual u32 unused33() { return 0; }
    virtual u32 unused34() { return 0; }
    virtual u32 unused35() { return 0; }
    virtual u32 unused36() { return 0; }
    virtual u32 unused37() { return 0; }
    virtual u32 unused38() { return 0; }
    // 39: the processing value kept by the instance.
    virtual i32 getProcessingValue() = 0;
    virtual u32 unused40() { return 0; }
    virtual u32 unused41() { return 0; }
    virtual u32 unused42() { return 0; }
    // 43: last call of the start of use.
    virtual i32 start() = 0;

protected:
    ~ICalcCoef() = default;
};

// Audio processing of an instance: created and released with it, otherwise not called by the host.
class IAudioProcess : public IPluginObject
{
protected:
    ~IAudioProcess() = default;
};

// Logic control of an instance.
class ILogicControl : public IPluginObject
{
public:
    virtual u32 unused3() { return 0; }
    virtual u32 unused4() { return 0; }
    virtual u32 unused5() { return 0; }
    virtual u32 unused6() { return 0; }
    virtual u32 unused7() { return 0; }
    virtual u32 unused8() { return 0; }
    virtual u32 unused9() { return 0; }
    virtual u32 unused10() { return 0; }
    virtual u32 unused11() { return 0; }
    virtual u32 unused12() { return 0; }
    virtual u32 unused13() { return 0; }
    virtual u32 unused14() { return 0; }
    virtual u32 unused15() { return 0; }
    virtual u32 unused16() { return 0; }
    virtual u32 unused17() { return 0; }
    virtual u32 unused18() { return 0; }
    virtual u32 unused19() { return 0; }
    virtual u32 unused20() { return 0; }
    virtual u32 unused21() { return 0; }
    virtual u32 unused22() { return 0; }
    virtual u32 unused23() { return 0; }
    virtual u32 unused24() { return 0; }
    virtual u32 unused25() { return 0; }
    // 26: the instance's logic accessor.
    virtual i32 setLogicAccessor(ILogicComponentAccessor_V1* accessor, u32 uid, u32 numX, u32 numY) = 0;
    // 27: whether the type has logic ports, and the processing interval.
    virtual i32 getLogicInfo(bool* hasLogic, u32* processInterval) = 0;
    // 28, 29: port counts; 30, 31: fill that many port descriptors.
    virtual u32 getNumInputs() = 0;
    virtual u32 getNumOutputs() = 0;
    virtual i32 getInputDescriptors(LogicPortDescriptor* ports, u32 count) = 0;
    virtual i32 getOutputDescriptors(LogicPortDescriptor* ports, u32 count) = 0;
    // 32: ready for processing; 33: one processing step (mode 0, 1 or 2; flags 0x80000000).
    virtual bool isLogicReady() = 0;
    virtual i32 process(u64 argument, u32 mode, u32 flags) = 0;

protected:
    ~ILogicControl() = default;
};

using PluginFactory = IPluginObject* (*)();

constexpr const char* EXPORT_PARAM_INFO = "createParamInfoFunction";
constexpr const char* EXPORT_CALC_COEF = "createCalcCoefFunction";
constexpr const char* EXPORT_AUDIO_PROCESS = "createAudioProcessFunction";
constexpr const char* EXPORT_LOGIC_CONTROL = "createLogicControlFunction";

// ---------------------------------------------------------------------------------------------------------------
// Host side
// ---------------------------------------------------------------------------------------------------------------

// The parameters of one component in one database, handed to the parameter hooks.
class IDataBaseAccessor_V1
{
public:
    virtual void unused0() {}
    // 1-4: one element.
    virtual u32 getValueUInt(u32 block, u32 x, u32 y) = 0;
    virtual i32 getValueInt(u32 block, u32 x, u32 y) = 0;
    virtual f32 getValueFloat(u32 block, u32 x, u32 y) = 0;
    virtual bool getValueBool(u32 block, u32 x, u32 y) = 0;
    // 5: the text, cut to size - 1 characters, terminated, buffer zero-filled; null buffer 0x80000000.
    virtual i32 getValueString(u32 block, u32 x, u32 y, char* buffer, u32 size) = 0;
    // 6: the bytes, only when the element is binary and fits; null buffer 0x80000000.
    virtual i32 getValueBinary(u32 block, u32 x, u32 y, u8* buffer, u32 size) = 0;
    // 7-12: writes (origin 255): 0, or 0x80000000 when the database refuses.
    virtual i32 setValueUInt(u32 block, u32 x, u32 y, u32 value) = 0;
    virtual i32 setValueInt(u32 block, u32 x, u32 y, i32 value) = 0;
    virtual i32 setValueFloat(u32 block, u32 x, u32 y, f32 value) = 0;
    virtual i32 setValueBool(u32 block, u32 x, u32 y, bool value) = 0;
    virtual i32 setValueString(u32 block, u32 x, u32 y, const char* text) = 0;
    virtual i32 setValueBinary(u32 block, u32 x, u32 y, const void* data, u32 size) = 0;
    // 13, 14: the block's element counts x and y.
    virtual u32 getParameterInfoField1(u32 block) = 0;
    virtual u32 getParameterInfoField2(u32 block) = 0;
    // 15-19: the block's minimum, maximum, default, nominal and step.
    virtual i32 getParameterInfoValue1(u32 block, VariantType* out) = 0;
    virtual i32 getParameterInfoValue2(u32 block, VariantType* out) = 0;
    virtual i32 getParameterInfoValue3(u32 block, VariantType* out) = 0;
    virtual i32 getParameterInfoValue4(u32 block, VariantType* out) = 0;
    virtual i32 getParameterInfoValue5(u32 block, VariantType* out) = 0;

protected:
    ~IDataBaseAccessor_V1() = default;
};

// The data of one instance while a processing thread uses it.
class IManagerAccessor_V1
{
public:
    virtual void unused0() {}
    // 1-6: elements of the instance's private parameter set.
    virtual u32 getValueUInt(u32 block, u32 x, u32 y) = 0;
    virtual i32 getValueInt(u32 block, u32 x, u32 y) = 0;
    virtual f32 getValueFloat(u32 block, u32 x, u32 y) = 0;
    virtual bool getValueBool(u32 block, u32 x, u32 y) = 0;
    virtual i32 getValueString(u32 block, u32 x, u32 y, char* buffer, u32 size) = 0;
    virtual i32 getValueBinary(u32 block, u32 x, u32 y, u8* buffer, u32 size) = 0;
    // 7, 8: element counts; 9-13: minimum, maximum, default, nominal, step.
    virtual u32 getParameterInfoField1(u32 block) = 0;
    virtual u32 getParameterInfoField2(u32 block) = 0;
    virtual i32 getParameterInfoValue1(u32 block, VariantType* out) = 0;
    virtual i32 getParameterInfoValue2(u32 block, VariantType* out) = 0;
    virtual i32 getParameterInfoValue3(u32 block, VariantType* out) = 0;
    virtual i32 getParameterInfoValue4(u32 block, VariantType* out) = 0;
    virtual i32 getParameterInfoValue5(u32 block, VariantType* out) = 0;
    // 14-17: array stores (positions 14 and 15 both store an unsigned value): 1.
    virtual i32 setArrayValueUInt(u32 array, u32 x, u32 y, u32 z, u32 value) = 0;
    virtual i32 setArrayValueUIntAlias(u32 array, u32 x, u32 y, u32 z, u32 value) = 0;
    virtual i32 setArrayValueFloat(u32 array, u32 x, u32 y, u32 z, f32 value) = 0;
    virtual i32 setArrayValueDouble(u32 array, u32 x, u32 y, u32 z, f64 value) = 0;
    // 18-23: meters.
    virtual i32 touchMeterValue(u32 meter, u32 x, u32 y, u32 z) = 0;
    virtual u32* getMeterValuePointer(u32 meter, u32 x, u32 y, u32 z) = 0;
    virtual f32 getMeterFloat(u32 meter, u32 x, u32 y, u32 z) = 0;
    virtual u8 getMeterByte2(u32 meter, u32 x, u32 y, u32 z) = 0;
    virtual u8 getMeterByte3(u32 meter, u32 x, u32 y, u32 z) = 0;
    virtual u8 getMeterByte2OrFE(u32 meter, u32 x, u32 y, u32 z) = 0;
    // 24-29: writes to the component database (origin 255).
    virtual i32 setValueUInt(u32 block, u32 x, u32 y, u32 value) = 0;
    virtual i32 setValueInt(u32 block, u32 x, u32 y, i32 value) = 0;
    virtual i32 setValueFloat(u32 block, u32 x, u32 y, f32 value) = 0;
    virtual i32 setValueBool(u32 block, u32 x, u32 y, bool value) = 0;
    virtual i32 setValueString(u32 block, u32 x, u32 y, const char* text) = 0;
    virtual i32 setValueBinary(u32 block, u32 x, u32 y, const void* data, u32 size) = 0;

protected:
    ~IManagerAccessor_V1() = default;
};

// The logic component of an instance (1-9) and, while in use, its manager accessor (10-31).
class ILogicComponentAccessor_V1
{
public:
    virtual void unused0() {}
    virtual i32 getInputData(u32 port, u32* kind, VariantType* value, f32* normalized, u8* changed) = 0;
    virtual i32 getOutputData(u32 port, u32* kind, VariantType* value, f32* normalized, u8* changed) = 0;
    virtual i32 setOutputNormalized(u32 port, f32 normalized) = 0;
    virtual i32 setOutputUInt(u32 port, u32 value) = 0;
    virtual i32 setOutputInt(u32 port, i32 value) = 0;
    virtual i32 setOutputFloat(u32 port, f32 value) = 0;
    virtual i32 setOutputText(u32 port, const char* text) = 0;
    virtual i32 triggerOutput(u32 port) = 0;
    virtual i32 requestProcess() = 0;
    virtual u32 getValueUInt(u32 block, u32 x, u32 y) = 0;
    virtual i32 getValueInt(u32 block, u32 x, u32 y) = 0;
    virtual f32 getValueFloat(u32 block, u32 x, u32 y) = 0;
    virtual bool getValueBool(u32 block, u32 x, u32 y) = 0;
    virtual i32 getValueString(u32 block, u32 x, u32 y, char* buffer, u32 size) = 0;
    virtual i32 getValueBinary(u32 block, u32 x, u32 y, u8* buffer, u32 size) = 0;
    virtual u32 getParameterInfoField1(u32 block) = 0;
    virtual u32 getParameterInfoField2(u32 block) = 0;
    virtual i32 getParameterInfoValue1(u32 block, VariantType* out) = 0;
    virtual i32 getParameterInfoValue2(u32 block, VariantType* out) = 0;
    virtual i32 getParameterInfoValue3(u32 block, VariantType* out) = 0;
    virtual i32 getParameterInfoValue4(u32 block, VariantType* out) = 0;
    virtual i32 getParameterInfoValue5(u32 block, VariantType* out) = 0;
    virtual u8 getMeterByte2(u32 meter, u32 x, u32 y, u32 z) = 0;
    virtual u8 getMeterByte3(u32 meter, u32 x, u32 y, u32 z) = 0;
    virtual u8 getMeterByte2OrFE(u32 meter, u32 x, u32 y, u32 z) = 0;
    virtual i32 setValueUInt(u32 block, u32 x, u32 y, u32 value) = 0;
    virtual i32 setValueInt(u32 block, u32 x, u32 y, i32 value) = 0;
    virtual i32 setValueFloat(u32 block, u32 x, u32 y, f32 value) = 0;
    virtual i32 setValueBool(u32 block, u32 x, u32 y, bool value) = 0;
    virtual i32 setValueString(u32 block, u32 x, u32 y, const char* text) = 0;
    virtual i32 setValueBinary(u32 block, u32 x, u32 y, const void* data, u32 size) = 0;

protected:
    ~ILogicComponentAccessor_V1() = default;
};

} // namespace DADOV

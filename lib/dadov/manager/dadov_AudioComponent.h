// AudioComponent: one instance of an audio-component type. It binds a uid and the instance's dimensions to the
// plug-in objects of its type, owns the instance's parameter arrays and meters, takes part in the logic registry
// as a logic component, and while one processing thread uses it holds the manager accessor through which the
// plug-in reaches the instance's data.
//
// Life: constructed empty -> initialize (plug-in objects, component-database component, arrays, meters, logic
// component registered) -> beginUseByDSPThread / endUseByDSPThread any number of times -> release or destruction.
// release always completes unless the instance is in use: afterwards the plug-in holds no object of the
// instance, the logic registry no entry of it, and the arrays and meters are empty. The destructor ends a use
// first.
//
// An instance owns no lock: its owner (the audio component collection) serialises calls to it.
#pragma once

#include <string>
#include <vector>

#include "dadov_AudioConfigDB.h"
#include "dadov_MeterPool.h"
#include "dadov_PluginInterfaces.h"
#include "dadov_Result.h"
#include "logic_AbstractLogicComponent.h"
#include "parray_ArrayAccessorForServer.h"

namespace DADOV {

class VEXADManagerAccessor;

class AudioComponent
{
public:
    static constexpr u32 NO_UID = 0xFFFFFFFF;
    static constexpr i32 NO_PROCESSING_VALUE = -1;
    static constexpr u32 NAME_CAPACITY = 49;            // logic port names: 48 characters
    static constexpr u32 EXPRESSION_NAME_CAPACITY = 17; // logic port expression names: 16 characters
    static constexpr u8 METER_FILL = 255;
    static constexpr u32 METER_PERIOD = 1000;

    // The instance as a logic component: ports as the plug-in describes them, readiness and processing by its
    // logic control (operations 32 and 33).
    class LogicComponentImpl final : public LogicCtrl::AbstractLogicComponent
    {
    public:
        LogicComponentImpl() = default;
        ~LogicComponentImpl() override = default;

        void setLogicControl(bool hasLogic, ILogicControl* logicControl)
        {
            m_hasLogic = hasLogic;
            m_logicControl = logicControl;
        }
        bool hasLogic() const { return m_hasLogic; }

        // False without logic ports or logic control; else the plug-in's answer.
        bool isLogicReady() const override;
        // 0 without logic ports or logic control; modes 0 to 2: the plug-in's step; other modes 0x80000000.
        i32 onProcess(u64 argument, u32 mode) override;

    private:
        bool m_hasLogic = false;
        ILogicControl* m_logicControl = nullptr;
    };

    // The logic accessor handed to the plug-in's logic control: positions 1-9 reach the logic component, 10-31
    // the manager accessor while the instance is in use (the values of the interface's last column otherwise).
    class LogicComponentAccessorAdapter final : public ILogicComponentAccessor_V1
    {
    public:
        LogicComponentAccessorAdapter() = default;
        ~LogicComponentAccessorAdapter() = default;
        LogicComponentAccessorAdapter(const LogicComponentAccessorAdapter&) = delete;
        LogicComponentAccessorAdapter& operator=(const LogicComponentAccessorAdapter&) = delete;

        void setLogicComponent(LogicCtrl::ILogicComponent* component) { m_logic = component; }
        void setManagerAccessor(IManagerAccessor_V1* accessor) { m_manager = accessor; }
        IManagerAccessor_V1* getManagerAccessor() const { return m_manager; }

        // A port's kind, value, normalized value and changed flag (null outputs are skipped). Kinds 1 and 4 give
        // a float, 2, 5, 6 and 8 an unsigned, 3 a signed value, 7 a text (into the value's own buffer; 0x80000000
        // when it does not fit whole): 0. A port out of range or of another kind: kind 0, empty value, 0.0, 0 and
        // 0x80000000.
        i32 getInputData(u32 port, u32* kind, VariantType* value, f32* normalized, u8* changed) override;
        i32 getOutputData(u32 port, u32* kind, VariantType* value, f32* normalized, u8* changed) override;
        i32 setOutputNormalized(u32 port, f32 normalized) override;
        i32 setOutputUInt(u32 port, u32 value) override;
        i32 setOutputInt(u32 port, i32 value) override;
        i32 setOutputFloat(u32 port, f32 value) override;
        i32 setOutputText(u32 port, const char* text) override;
        i32 triggerOutput(u32 port) override;
        i32 requestProcess() override;
        u32 getValueUInt(u32 block, u32 x, u32 y) override;
        i32 getValueInt(u32 block, u32 x, u32 y) override;
        f32 getValueFloat(u32 block, u32 x, u32 y) override;
        bool getValueBool(u32 block, u32 x, u32 y) override;
        i32 getValueString(u32 block, u32 x, u32 y, char* buffer, u32 size) override;
        i32 getValueBinary(u32 block, u32 x, u32 y, u8* buffer, u32 size) override;
        u32 getParameterInfoField1(u32 block) override;
        u32 getParameterInfoField2(u32 block) override;
        i32 getParameterInfoValue1(u32 block, VariantType* out) override;
        i32 getParameterInfoValue2(u32 block, VariantType* out) override;
        i32 getParameterInfoValue3(u32 block, VariantType* out) override;
        i32 getParameterInfoValue4(u32 block, VariantType* out) override;
        i32 getParameterInfoValue5(u32 block, VariantType* out) override;
        u8 getMeterByte2(u32 meter, u32 x, u32 y, u32 z) override;
        u8 getMeterByte3(u32 meter, u32 x, u32 y, u32 z) override;
        u8 getMeterByte2OrFE(u32 meter, u32 x, u32 y, u32 z) override;
        i32 setValueUInt(u32 block, u32 x, u32 y, u32 value) override;
        i32 setValueInt(u32 block, u32 x, u32 y, i32 value) override;
        i32 setValueFloat(u32 block, u32 x, u32 y, f32 value) override;
        i32 setValueBool(u32 block, u32 x, u32 y, bool value) override;
        i32 setValueString(u32 block, u32 x, u32 y, const char* text) override;
        i32 setValueBinary(u32 block, u32 x, u32 y, const void* data, u32 size) override;

    private:
        LogicCtrl::ILogicComponent* m_logic = nullptr;
        IManagerAccessor_V1* m_manager = nullptr;
    };

    AudioComponent() = default;
    // Ends a use, then releases.
    virtual ~AudioComponent();
    AudioComponent(const AudioComponent&) = delete;
    AudioComponent& operator=(const AudioComponent&) = delete;

    // Builds the instance of type typeName "_" majorVersion (a null name: the null type, nothing added to the
    // component database). 0; 0x80000000 when in use (nothing changes), without a coefficient calculation (the
    // instance stays half-built until release), or when the array or meter descriptors, the arrays, the meters or
    // the logic registration fail (the instance is released then).
    [[nodiscard]] i32 initialize(const char* typeName, u32 majorVersion, u32 uid, u32 numX, u32 numY);
    // 0x80000000 while in use, nothing changed; else 0 with everything given back (see above).
    i32 release();

    // Copies the audio configuration, makes the manager accessor and sets the plug-in up with it (operations 29,
    // 39, 30 and 43): 0, also when in use already (nothing called). 0x80000000 without a coefficient calculation,
    // or, when the manager accessor cannot be made, after releasing the whole instance.
    [[nodiscard]] i32 beginUseByDSPThread(void* context);
    // 0; when in use, destroys the manager accessor (on the thread that began the use) and logs.
    i32 endUseByDSPThread();

    // Operations 15, 16 and 21 of the instance's parameter information; 0 without it.
    u32 getNumInPort();
    u32 getNumOutPort();
    i32 getDspResourceSize(const char* dspName, u32 fsHz, u32 numSamplePerFrame, const char* resourceName);

    u32 getUniqID() const { return m_uid; }
    const std::string& getTypeName() const { return m_typeName; }
    u32 getMajorVersion() const { return m_majorVersion; }
    u32 getNumX() const { return m_numX; }
    u32 getNumY() const { return m_numY; }
    bool isInUse() const { return m_inUse; }
    // Operation 39's answer at the start of the last use; -1 until then and after release.
    i32 getProcessingValue() const { return m_processingValue; }
    void* getContext() const { return m_context; }
    // The audio configuration copied at the start of the last use.
    const AudioConfig& getAudioConfig() const { return m_audioConfig; }
    // Whether the logic registry holds this instance (set by its own successful registration).
    bool isLogicRegistered() const { return m_logicRegistered; }

    // The logic component (ports, wiring and values) and the logic accessor given to the plug-in.
    LogicComponentImpl& getLogicComponent() { return m_logic; }
    const LogicComponentImpl& getLogicComponent() const { return m_logic; }
    LogicComponentAccessorAdapter& getLogicAccessor() { return m_logicAccessor; }
    // The parameter arrays and meters (the sync thread writes meter sets 2 and 3 through the pool).
    PARRAY::ArrayAccessorForServer& getParameterArrays() { return m_arrays; }
    MeterPool& getMeterPool() { return m_meters; }
    // The manager accessor while in use, else null.
    VEXADManagerAccessor* getManagerAccessor() const { return m_managerAccessor; }

private:
    enum : u32 { PARAM_INFO = 0, CALC_COEF = 1, AUDIO_PROCESS = 2, LOGIC_CONTROL = 3, INTERFACE_COUNT = 4 };

    // Steps of initialize after the plug-in objects exist: 0 or 0x80000000.
    i32 buildArraysAndMeters();
    i32 registerLogic();
    // The port list of one side through the counting and describing operations: false when memory runs out.
    bool describePorts(bool inputs, std::vector<LogicCtrl::PortInfo>& out);
    void releasePluginObjects();

    u32 m_uid = NO_UID;
    bool m_inUse = false;
    std::string m_typeName;
    u32 m_majorVersion = 0;
    u32 m_numX = 0;
    u32 m_numY = 0;
    // The factories' objects and the interfaces they answered, one reference each.
    IPluginObject* m_objects[INTERFACE_COUNT] = {};
    IParamInfo* m_paramInfo = nullptr;
    ICalcCoef* m_calcCoef = nullptr;
    IAudioProcess* m_audioProcess = nullptr;
    ILogicControl* m_logicControl = nullptr;
    VEXADManagerAccessor* m_managerAccessor = nullptr;
    PARRAY::ArrayAccessorForServer m_arrays;
    MeterPool m_meters;
    i32 m_processingValue = NO_PROCESSING_VALUE;
    void* m_context = nullptr;
    AudioConfig m_audioConfig;
    LogicComponentImpl m_logic;
    LogicComponentAccessorAdapter m_logicAccessor;
    bool m_logicRegistered = false;
};

} // namespace DADOV

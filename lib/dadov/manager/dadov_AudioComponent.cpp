#include "dadov_AudioComponent.h"

#include <algorithm>
#include <exception>

#include "dadov_AudioComponentDLLRepository.h"
#include "dadov_Config.h"
#include "dadov_ManagerAccessor.h"
#include "klib_Print.h"
#include "logic_LogicComponentCollection.h"

namespace DADOV {

namespace {

// More logic ports on one side than this are taken for a faulty plug-in.
constexpr u32 MAX_PORTS_PER_SIDE = 0x10000;
constexpr u32 PROCESS_FLAGS = 0x80000000u;
constexpr u32 LAST_PROCESS_MODE = 2;

// The plug-in's object made by factory and its interface of that identifier, each holding one reference; a made
// object whose query answers nothing is given back at once.
template <typename Interface>
DADOV_CALLS_PLUGINS Interface* createInterface(PluginFactory factory, const InterfaceId& id, IPluginObject*& object)
{
    object = nullptr;
    IPluginObject* made = factory != nullptr ? factory() : nullptr;
    if (made == nullptr) {
        return nullptr;
    }
    auto* found = static_cast<Interface*>(made->queryInterface(&id));
    if (found == nullptr) {
        made->release();
        return nullptr;
    }
    object = made;
    return found;
}

// At most limit characters of a text value; the empty text for any other value.
std::string portText(const VariantType& value, u32 limit)
{
    if (value.getType() != VariantType::TYPE_STRING) {
        return std::string();
    }
    return std::string(value.getString(), std::min(value.getStringLength(), limit));
}

KVariant portValue(const VariantType& value)
{
    KVariant converted;
    switch (value.getType()) {
    case VariantType::TYPE_UINT:
        converted.setUInt(value.getUInt());
        break;
    case VariantType::TYPE_INT:
        converted.setInt(value.getInt());
        break;
    case VariantType::TYPE_FLOAT:
        converted.setFloat(value.getFloat());
        break;
    default:
        break;
    }
    return converted;
}

LogicCtrl::PortInfo toPortInfo(const LogicPortDescriptor& port)
{
    LogicCtrl::PortInfo info;
    info.name = portText(port.name, AudioComponent::NAME_CAPACITY - 1);
    info.kind = port.kind >= LogicCtrl::LogicData::KIND_NORMALIZED && port.kind <= LogicCtrl::LogicData::KIND_TRIGGER
                    ? port.kind
                    : LogicCtrl::LogicData::KIND_NONE;
    info.expressionName = portText(port.expressionName, AudioComponent::EXPRESSION_NAME_CAPACITY - 1);
    info.minValue = portValue(port.minValue);
    info.maxValue = portValue(port.maxValue);
    return info;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// AudioComponent
// ---------------------------------------------------------------------------------------------------------------

AudioComponent::~AudioComponent()
{
    endUseByDSPThread();
    release();
}

DADOV_CALLS_PLUGINS i32 AudioComponent::initialize(const char* typeName, u32 majorVersion, u32 uid, u32 numX, u32 numY)
{
    if (m_inUse) {
        return DADOV_E_FAILED;
    }
    release();
    const AudioComponentDLLRepository& repository = AudioComponentDLLRepository::getInstance();
    const AudioComponentType& type =
        typeName != nullptr ? repository.findType((std::string(typeName) + "_" + std::to_string(majorVersion)).c_str())
                            : repository.findType(nullptr);
    m_uid = uid;
    m_inUse = false;
    m_typeName = typeName != nullptr ? typeName : "";
    m_majorVersion = majorVersion;
    m_numX = numX;
    m_numY = numY;

    m_paramInfo = createInterface<IParamInfo>(type.createParamInfo, IID_PARAM_INFO, m_objects[PARAM_INFO]);
    m_calcCoef = createInterface<ICalcCoef>(type.createCalcCoef, IID_CALC_COEF, m_objects[CALC_COEF]);
    m_audioProcess =
        createInterface<IAudioProcess>(type.createAudioProcess, IID_AUDIO_PROCESS, m_objects[AUDIO_PROCESS]);
    m_logicControl =
        createInterface<ILogicControl>(type.createLogicControl, IID_LOGIC_CONTROL, m_objects[LOGIC_CONTROL]);

    if (typeName != nullptr) {
        (void)addPDBComponent(uid, typeName, majorVersion, numX, numY, 0); // an existing component stays
    }
    if (m_calcCoef == nullptr) {
        return DADOV_E_FAILED;
    }
    if (buildArraysAndMeters() != DADOV_OK) {
        release();
        return DADOV_E_FAILED;
    }
    m_logicAccessor.setLogicComponent(&m_logic);
    if (registerLogic() != DADOV_OK) {
        release();
        return DADOV_E_FAILED;
    }
    return DADOV_OK;
}

DADOV_CALLS_PLUGINS i32 AudioComponent::buildArraysAndMeters()
{
    const u32* descriptors = nullptr;
    u32 count = 0;
    if (m_calcCoef->getArrayDescriptors(&descriptors, &count) < 0) {
        return DADOV_E_FAILED;
    }
    if (count > 0 && m_arrays.create(descriptors, count, m_numX, m_numY) != PARRAY::RESULT_OK) {
        return DADOV_E_FAILED;
    }
    descriptors = nullptr;
    count = 0;
    if (m_calcCoef->getMeterDescriptors(&descriptors, &count) < 0) {
        return DADOV_E_FAILED;
    }
    if (count > 0 && m_meters.initialize(descriptors, count, m_uid, m_numX, m_numY, METER_FILL, METER_PERIOD) < 0) {
        return DADOV_E_FAILED;
    }
    return DADOV_OK;
}

DADOV_CALLS_PLUGINS bool AudioComponent::describePorts(bool inputs, std::vector<LogicCtrl::PortInfo>& out)
{
    const u32 count = inputs ? m_logicControl->getNumInputs() : m_logicControl->getNumOutputs();
    if (count > MAX_PORTS_PER_SIDE) {
        return false;
    }
    try {
        std::vector<LogicPortDescriptor> ports(count);
        for (LogicPortDescriptor& port : ports) {
            if (port.name.initialize(NAME_CAPACITY) != DADOV_OK ||
                port.expressionName.initialize(EXPRESSION_NAME_CAPACITY) != DADOV_OK) {
                return false;
            }
        }
        if (count > 0) {
            if (inputs) {
                m_logicControl->getInputDescriptors(ports.data(), count);
            } else {
                m_logicControl->getOutputDescriptors(ports.data(), count);
            }
        }
        out.clear();
        out.reserve(count);
        for (const LogicPortDescriptor& port : ports) {
            out.push_back(toPortInfo(port));
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

DADOV_CALLS_PLUGINS i32 AudioComponent::registerLogic()
{
    bool hasLogic = false;
    u32 processInterval = 0;
    std::vector<LogicCtrl::PortInfo> inputs;
    std::vector<LogicCtrl::PortInfo> outputs;
    if (m_logicControl != nullptr) {
        m_logicControl->setLogicAccessor(&m_logicAccessor, m_uid, m_numX, m_numY);
        m_logicControl->getLogicInfo(&hasLogic, &processInterval);
        if (hasLogic && (!describePorts(true, inputs) || !describePorts(false, outputs))) {
            return DADOV_E_FAILED;
        }
    }
    m_logic.setLogicControl(hasLogic, m_logicControl);
    if (m_logic.initialize(m_uid, inputs, outputs, processInterval) < 0 ||
        LogicCtrl::LogicComponentCollection::getInstance().addComponent(&m_logic) < 0) {
        return DADOV_E_FAILED;
    }
    m_logicRegistered = true;
    return DADOV_OK;
}

i32 AudioComponent::release()
{
    if (m_inUse) {
        return DADOV_E_FAILED;
    }
    if (m_logicRegistered) {
        // A registry finalised first refuses; the entry is gone with it then.
        (void)LogicCtrl::LogicComponentCollection::getInstance().removeComponent(&m_logic);
        m_logicRegistered = false;
    }
    m_uid = NO_UID;
    m_numX = 0;
    m_numY = 0;
    m_logic.reset();
    m_logic.setLogicControl(false, nullptr);
    m_logicAccessor.setLogicComponent(nullptr);
    m_logicAccessor.setManagerAccessor(nullptr);
    releasePluginObjects();
    m_managerAccessor = nullptr;
    m_arrays.clear();
    m_meters.release();
    m_context = nullptr;
    m_processingValue = NO_PROCESSING_VALUE;
    return DADOV_OK;
}

DADOV_CALLS_PLUGINS void AudioComponent::releasePluginObjects()
{
    IPluginObject* const interfaces[INTERFACE_COUNT] = {m_paramInfo, m_calcCoef, m_audioProcess, m_logicControl};
    for (u32 i = 0; i < INTERFACE_COUNT; ++i) {
        if (interfaces[i] != nullptr) {
            interfaces[i]->release();
        }
        if (m_objects[i] != nullptr) {
            m_objects[i]->release();
            m_objects[i] = nullptr;
        }
    }
    m_paramInfo = nullptr;
    m_calcCoef = nullptr;
    m_audioProcess = nullptr;
    m_logicControl = nullptr;
}

DADOV_CALLS_PLUGINS i32 AudioComponent::beginUseByDSPThread(void* context)
{
    if (m_inUse) {
        return DADOV_OK;
    }
    if (m_calcCoef == nullptr) {
        return DADOV_E_FAILED;
    }
    AudioConfig config;
    (void)AudioConfigDB::getInstance().getAudioConfig(config); // an unusable store leaves the cleared record
    m_audioConfig = std::move(config);
    m_context = context;
    m_managerAccessor = createManagerAccessor(m_uid, m_numX, m_numY, &m_arrays, &m_meters);
    if (m_managerAccessor == nullptr) {
        release();
        return DADOV_E_FAILED;
    }
    m_logicAccessor.setManagerAccessor(m_managerAccessor);
    m_calcCoef->setup(m_managerAccessor, m_uid, m_numX, m_numY, 0, 0, m_audioConfig.m_numSamplePerFrame,
                      m_audioConfig.m_fsHz);
    m_processingValue = m_calcCoef->getProcessingValue();
    m_calcCoef->setSamplingRate(m_audioConfig.m_fsHz);
    m_calcCoef->start();
    m_inUse = true;
    KLIB_LOG("[i] AudioComponent::beginUseByDSPThread - AudioComponent[uid:%d].\n", static_cast<int>(m_uid));
    return DADOV_OK;
}

i32 AudioComponent::endUseByDSPThread()
{
    if (!m_inUse) {
        return DADOV_OK;
    }
    m_inUse = false;
    m_logicAccessor.setManagerAccessor(nullptr);
    destroyManagerAccessor(m_managerAccessor);
    m_managerAccessor = nullptr;
    m_context = nullptr;
    KLIB_LOG("[i] AudioComponent::endUseByDSPThread - AudioComponent[uid:%d].\n", static_cast<int>(m_uid));
    return DADOV_OK;
}

DADOV_CALLS_PLUGINS u32 AudioComponent::getNumInPort()
{
    return m_paramInfo != nullptr ? m_paramInfo->getNumInPort(m_uid, m_numX, m_numY) : 0u;
}

DADOV_CALLS_PLUGINS u32 AudioComponent::getNumOutPort()
{
    return m_paramInfo != nullptr ? m_paramInfo->getNumOutPort(m_uid, m_numX, m_numY) : 0u;
}

DADOV_CALLS_PLUGINS i32 AudioComponent::getDspResourceSize(const char* dspName, u32 fsHz, u32 numSamplePerFrame,
                                                           const char* resourceName)
{
    return m_paramInfo != nullptr
               ? m_paramInfo->getDspResourceSize(m_uid, m_numX, m_numY, dspName, fsHz, numSamplePerFrame, resourceName)
               : 0;
}

// ---------------------------------------------------------------------------------------------------------------
// LogicComponentImpl
// ---------------------------------------------------------------------------------------------------------------

DADOV_CALLS_PLUGINS bool AudioComponent::LogicComponentImpl::isLogicReady() const
{
    return m_hasLogic && m_logicControl != nullptr && m_logicControl->isLogicReady();
}

DADOV_CALLS_PLUGINS i32 AudioComponent::LogicComponentImpl::onProcess(u64 argument, u32 mode)
{
    if (!m_hasLogic || m_logicControl == nullptr) {
        return DADOV_OK;
    }
    if (mode > LAST_PROCESS_MODE) {
        return DADOV_E_FAILED;
    }
    return m_logicControl->process(argument, mode, PROCESS_FLAGS);
}

// ---------------------------------------------------------------------------------------------------------------
// LogicComponentAccessorAdapter
// ---------------------------------------------------------------------------------------------------------------

namespace {

i32 readLogicData(const LogicCtrl::LogicData& data, u32* kind, VariantType* value, f32* normalized, u8* changed)
{
    using LogicCtrl::LogicData;
    i32 result = DADOV_OK;
    VariantType ignored;
    VariantType& out = value != nullptr ? *value : ignored;
    switch (data.getKind()) {
    case LogicData::KIND_NORMALIZED:
    case LogicData::KIND_FLOAT:
        out.setFloat(data.getValue().getFloat());
        break;
    case LogicData::KIND_UNSIGNED:
    case LogicData::KIND_UNSIGNED_5:
    case LogicData::KIND_UNSIGNED_6:
    case LogicData::KIND_TRIGGER:
        out.setUInt(data.getValue().getUInt());
        break;
    case LogicData::KIND_SIGNED:
        out.setInt(data.getValue().getInt());
        break;
    case LogicData::KIND_TEXT: {
        if (value != nullptr) {
            const KVariant& text = data.getValue();
            const char* chars = text.getKind() == KVariant::KIND_STRING ? text.getString() : nullptr;
            result = value->setString(chars != nullptr ? chars : "");
            if (value->getType() != VariantType::TYPE_STRING) {
                value->clear(); // no buffer to take it
            }
        }
        break;
    }
    default:
        out.clear();
        if (kind != nullptr) {
            *kind = LogicData::KIND_NONE;
        }
        if (normalized != nullptr) {
            *normalized = 0.0f;
        }
        if (changed != nullptr) {
            *changed = 0;
        }
        return DADOV_E_FAILED;
    }
    if (kind != nullptr) {
        *kind = data.getKind();
    }
    if (normalized != nullptr) {
        *normalized = data.getNormalized();
    }
    if (changed != nullptr) {
        *changed = data.isChanged() ? 1 : 0;
    }
    return result;
}

} // namespace

using Adapter = AudioComponent::LogicComponentAccessorAdapter;

i32 Adapter::getInputData(u32 port, u32* kind, VariantType* value, f32* normalized, u8* changed)
{
    if (m_logic == nullptr) {
        return DADOV_E_FAILED;
    }
    return readLogicData(m_logic->getInputData(port), kind, value, normalized, changed);
}

i32 Adapter::getOutputData(u32 port, u32* kind, VariantType* value, f32* normalized, u8* changed)
{
    if (m_logic == nullptr) {
        return DADOV_E_FAILED;
    }
    return readLogicData(m_logic->getOutputData(port), kind, value, normalized, changed);
}

i32 Adapter::setOutputNormalized(u32 port, f32 normalized)
{
    return m_logic != nullptr ? m_logic->setOutputNormalized(port, normalized) : DADOV_E_FAILED;
}

i32 Adapter::setOutputUInt(u32 port, u32 value)
{
    return m_logic != nullptr ? m_logic->setOutputUInt(port, value) : DADOV_E_FAILED;
}

i32 Adapter::setOutputInt(u32 port, i32 value)
{
    return m_logic != nullptr ? m_logic->setOutputInt(port, value) : DADOV_E_FAILED;
}

i32 Adapter::setOutputFloat(u32 port, f32 value)
{
    return m_logic != nullptr ? m_logic->setOutputFloat(port, value) : DADOV_E_FAILED;
}

i32 Adapter::setOutputText(u32 port, const char* text)
{
    return m_logic != nullptr ? m_logic->setOutputText(port, text) : DADOV_E_FAILED;
}

i32 Adapter::triggerOutput(u32 port)
{
    return m_logic != nullptr ? m_logic->triggerOutput(port) : DADOV_E_FAILED;
}

i32 Adapter::requestProcess()
{
    return m_logic != nullptr ? m_logic->requestProcess() : DADOV_E_FAILED;
}

u32 Adapter::getValueUInt(u32 block, u32 x, u32 y)
{
    return m_manager != nullptr ? m_manager->getValueUInt(block, x, y) : 0u;
}

i32 Adapter::getValueInt(u32 block, u32 x, u32 y)
{
    return m_manager != nullptr ? m_manager->getValueInt(block, x, y) : 0;
}

f32 Adapter::getValueFloat(u32 block, u32 x, u32 y)
{
    return m_manager != nullptr ? m_manager->getValueFloat(block, x, y) : 0.0f;
}

bool Adapter::getValueBool(u32 block, u32 x, u32 y)
{
    return m_manager != nullptr && m_manager->getValueBool(block, x, y);
}

i32 Adapter::getValueString(u32 block, u32 x, u32 y, char* buffer, u32 size)
{
    return m_manager != nullptr ? m_manager->getValueString(block, x, y, buffer, size) : DADOV_E_FAILED;
}

i32 Adapter::getValueBinary(u32 block, u32 x, u32 y, u8* buffer, u32 size)
{
    return m_manager != nullptr ? m_manager->getValueBinary(block, x, y, buffer, size) : DADOV_E_FAILED;
}

u32 Adapter::getParameterInfoField1(u32 block)
{
    return m_manager != nullptr ? m_manager->getParameterInfoField1(block) : 0u;
}

u32 Adapter::getParameterInfoField2(u32 block)
{
    return m_manager != nullptr ? m_manager->getParameterInfoField2(block) : 0u;
}

namespace {

// Positions 18-22 without a manager accessor.
i32 noInfoValue(VariantType* out)
{
    if (out != nullptr) {
        out->clear();
    }
    return DADOV_E_FAILED;
}

} // namespace

i32 Adapter::getParameterInfoValue1(u32 block, VariantType* out)
{
    return m_manager != nullptr ? m_manager->getParameterInfoValue1(block, out) : noInfoValue(out);
}

i32 Adapter::getParameterInfoValue2(u32 block, VariantType* out)
{
    return m_manager != nullptr ? m_manager->getParameterInfoValue2(block, out) : noInfoValue(out);
}

i32 Adapter::getParameterInfoValue3(u32 block, VariantType* out)
{
    return m_manager != nullptr ? m_manager->getParameterInfoValue3(block, out) : noInfoValue(out);
}

i32 Adapter::getParameterInfoValue4(u32 block, VariantType* out)
{
    return m_manager != nullptr ? m_manager->getParameterInfoValue4(block, out) : noInfoValue(out);
}

i32 Adapter::getParameterInfoValue5(u32 block, VariantType* out)
{
    return m_manager != nullptr ? m_manager->getParameterInfoValue5(block, out) : noInfoValue(out);
}

u8 Adapter::getMeterByte2(u32 meter, u32 x, u32 y, u32 z)
{
    return m_manager != nullptr ? m_manager->getMeterByte2(meter, x, y, z) : u8{0};
}

u8 Adapter::getMeterByte3(u32 meter, u32 x, u32 y, u32 z)
{
    return m_manager != nullptr ? m_manager->getMeterByte3(meter, x, y, z) : u8{0};
}

u8 Adapter::getMeterByte2OrFE(u32 meter, u32 x, u32 y, u32 z)
{
    return m_manager != nullptr ? m_manager->getMeterByte2OrFE(meter, x, y, z) : VEXADManagerAccessor::NO_SET_BYTE;
}

i32 Adapter::setValueUInt(u32 block, u32 x, u32 y, u32 value)
{
    return m_manager != nullptr ? m_manager->setValueUInt(block, x, y, value) : DADOV_E_FAILED;
}

i32 Adapter::setValueInt(u32 block, u32 x, u32 y, i32 value)
{
    return m_manager != nullptr ? m_manager->setValueInt(block, x, y, value) : DADOV_E_FAILED;
}

i32 Adapter::setValueFloat(u32 block, u32 x, u32 y, f32 value)
{
    return m_manager != nullptr ? m_manager->setValueFloat(block, x, y, value) : DADOV_E_FAILED;
}

i32 Adapter::setValueBool(u32 block, u32 x, u32 y, bool value)
{
    return m_manager != nullptr ? m_manager->setValueBool(block, x, y, value) : DADOV_E_FAILED;
}

i32 Adapter::setValueString(u32 block, u32 x, u32 y, const char* text)
{
    return m_manager != nullptr ? m_manager->setValueString(block, x, y, text) : DADOV_E_FAILED;
}

i32 Adapter::setValueBinary(u32 block, u32 x, u32 y, const void* data, u32 size)
{
    return m_manager != nullptr ? m_manager->setValueBinary(block, x, y, data, size) : DADOV_E_FAILED;
}

} // namespace DADOV

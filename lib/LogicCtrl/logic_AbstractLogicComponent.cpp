#include "logic_AbstractLogicComponent.h"

#include <algorithm>
#include <new>

#include "logic_LogicComponentCollection.h"
#include "logic_Result.h"
#include "tms_DebugBreak.h"

namespace LogicCtrl {

namespace {

constexpr u32 BITS_PER_WORD = 32;

const PortInfo& emptyPortInfo()
{
    static const PortInfo empty;
    return empty;
}

const LogicConnection& nullConnection()
{
    static const LogicConnection none;
    return none;
}

const LogicConnectionList& emptyConnectionList()
{
    static const LogicConnectionList none;
    return none;
}

const LogicData& defaultData()
{
    static const LogicData data;
    return data;
}

} // namespace

AbstractLogicComponent::~AbstractLogicComponent()
{
    reset();
}

bool AbstractLogicComponent::testBit(const OverrideBits& bits, u32 port, u32 count)
{
    return port < count && (bits[port / BITS_PER_WORD] & (1u << (port % BITS_PER_WORD))) != 0;
}

void AbstractLogicComponent::setBit(OverrideBits& bits, u32 port, bool on)
{
    const u32 mask = 1u << (port % BITS_PER_WORD);
    u32& word = bits[port / BITS_PER_WORD];
    word = on ? (word | mask) : (word & ~mask);
}

i32 AbstractLogicComponent::initialize(u32 uniqID, const std::vector<PortInfo>& inputs,
                                       const std::vector<PortInfo>& outputs, u32 processInterval)
{
    if (m_uniqID != INVALID_UNIQ_ID) {
        TMS::returnZero();
        return LOGIC_E_ARGUMENT;
    }
    if (uniqID == INVALID_UNIQ_ID) {
        return LOGIC_E_UID;
    }
    try {
        m_inputInfos = inputs;
        m_outputInfos = outputs;
        m_inputConnections.assign(inputs.size(), LogicConnection{});
        m_outputConnections.assign(outputs.size(), LogicConnectionList{});
        m_inputData.assign(inputs.size(), LogicData{});
        m_outputData.assign(outputs.size(), LogicData{});
        m_inputOverride.assign((inputs.size() + BITS_PER_WORD - 1) / BITS_PER_WORD, 0u);
        m_outputOverride.assign((outputs.size() + BITS_PER_WORD - 1) / BITS_PER_WORD, 0u);
    } catch (const std::bad_alloc&) {
        clearPorts();
        return LOGIC_E_NO_MEMORY;
    }
    for (size_t i = 0; i < inputs.size(); ++i) {
        const PortInfo& info = inputs[i];
        m_inputData[i].initialize(info.kind, info.expressionName.c_str(), info.minValue, info.maxValue);
    }
    for (size_t i = 0; i < outputs.size(); ++i) {
        const PortInfo& info = outputs[i];
        m_outputData[i].initialize(info.kind, info.expressionName.c_str(), info.minValue, info.maxValue);
    }
    m_uniqID = uniqID;
    m_processInterval = processInterval;
    m_lastProcessTick = 0;
    m_processRequested = false;
    return LOGIC_OK;
}

void AbstractLogicComponent::clearPorts()
{
    m_inputInfos.clear();
    m_outputInfos.clear();
    m_inputConnections.clear();
    m_outputConnections.clear();
    m_inputData.clear();
    m_outputData.clear();
    m_inputOverride.clear();
    m_outputOverride.clear();
}

i32 AbstractLogicComponent::reset()
{
    m_uniqID = INVALID_UNIQ_ID;
    for (u32 port = 0; port < getNumInputs(); ++port) {
        disconnectInput(port);
    }
    for (u32 port = 0; port < getNumOutputs(); ++port) {
        disconnectOutputs(port);
    }
    clearPorts();
    m_processRequested = false;
    return LOGIC_OK;
}

const PortInfo& AbstractLogicComponent::getInputInfo(u32 port) const
{
    return port < getNumInputs() ? m_inputInfos[port] : emptyPortInfo();
}

const PortInfo& AbstractLogicComponent::getOutputInfo(u32 port) const
{
    return port < getNumOutputs() ? m_outputInfos[port] : emptyPortInfo();
}

const LogicConnection& AbstractLogicComponent::getInputConnection(u32 port) const
{
    return port < getNumInputs() ? m_inputConnections[port] : nullConnection();
}

const LogicConnectionList& AbstractLogicComponent::getOutputConnections(u32 port) const
{
    return port < getNumOutputs() ? m_outputConnections[port] : emptyConnectionList();
}

i32 AbstractLogicComponent::connectInput(u32 port, ILogicComponent* source, u32 sourcePort)
{
    if (port >= getNumInputs() || source == nullptr) {
        return LOGIC_E_ARGUMENT;
    }
    const LogicConnection wanted{source, sourcePort};
    if (m_inputConnections[port] == wanted) {
        return LOGIC_OK;
    }
    if (m_inputConnections[port].peer != nullptr) {
        disconnectInput(port); // the old source must stop listing this input
    }
    m_inputConnections[port] = wanted;
    const i32 result = source->connectOutput(sourcePort, this, port);
    if (result < 0 && m_inputConnections[port] == wanted) {
        m_inputConnections[port] = LogicConnection{}; // the source refused: no half connection
    }
    return result < 0 ? result : LOGIC_OK;
}

i32 AbstractLogicComponent::connectOutput(u32 port, ILogicComponent* destination, u32 destinationPort)
{
    if (port >= getNumOutputs() || destination == nullptr) {
        return LOGIC_E_ARGUMENT;
    }
    const LogicConnection wanted{destination, destinationPort};
    LogicConnectionList& list = m_outputConnections[port];
    if (std::find(list.begin(), list.end(), wanted) != list.end()) {
        return LOGIC_OK;
    }
    try {
        list.push_back(wanted);
    } catch (const std::bad_alloc&) {
        return LOGIC_E_NO_MEMORY;
    }
    const i32 result = destination->connectInput(destinationPort, this, port);
    if (result < 0) {
        // The destination refused: no half connection.
        LogicConnectionList& current = m_outputConnections[port];
        const auto found = std::find(current.begin(), current.end(), wanted);
        if (found != current.end()) {
            current.erase(found);
        }
        return result;
    }
    return LOGIC_OK;
}

i32 AbstractLogicComponent::disconnectInput(u32 port)
{
    if (port >= getNumInputs()) {
        return LOGIC_E_ARGUMENT;
    }
    const LogicConnection source = m_inputConnections[port];
    m_inputConnections[port] = LogicConnection{};
    if (source.peer != nullptr) {
        source.peer->disconnectOutput(source.port, this, port);
    }
    return LOGIC_OK;
}

i32 AbstractLogicComponent::disconnectOutput(u32 port, ILogicComponent* destination, u32 destinationPort)
{
    if (port >= getNumOutputs()) {
        return LOGIC_E_ARGUMENT;
    }
    LogicConnectionList& list = m_outputConnections[port];
    const auto found = std::find(list.begin(), list.end(), LogicConnection{destination, destinationPort});
    if (found != list.end()) {
        list.erase(found);
        destination->disconnectInput(destinationPort);
    }
    return LOGIC_OK;
}

i32 AbstractLogicComponent::disconnectOutputs(u32 port)
{
    if (port >= getNumOutputs()) {
        return LOGIC_E_ARGUMENT;
    }
    const LogicConnectionList destinations = m_outputConnections[port];
    for (const LogicConnection& destination : destinations) {
        disconnectOutput(port, destination.peer, destination.port);
    }
    return LOGIC_OK;
}

const LogicData& AbstractLogicComponent::getInputData(u32 port) const
{
    return port < getNumInputs() ? m_inputData[port] : defaultData();
}

const LogicData& AbstractLogicComponent::getOutputData(u32 port) const
{
    return port < getNumOutputs() ? m_outputData[port] : defaultData();
}

i32 AbstractLogicComponent::receiveInput(u32 port, const LogicData& source)
{
    if (port >= getNumInputs()) {
        return LOGIC_E_ARGUMENT;
    }
    if (testBit(m_inputOverride, port, getNumInputs())) {
        return LOGIC_OK;
    }
    LogicData& data = m_inputData[port];
    const i32 result = data.assignFrom(source);
    if (data.isChanged()) {
        requestProcess();
    }
    return result;
}

LogicData* AbstractLogicComponent::writableOutput(u32 port)
{
    return testBit(m_outputOverride, port, getNumOutputs()) ? nullptr : &m_outputData[port];
}

i32 AbstractLogicComponent::setOutputNormalized(u32 port, f32 normalized)
{
    if (port >= getNumOutputs()) {
        return LOGIC_E_ARGUMENT;
    }
    LogicData* data = writableOutput(port);
    return data != nullptr ? data->setNormalized(normalized) : LOGIC_OK;
}

i32 AbstractLogicComponent::setOutputFloat(u32 port, f32 value)
{
    if (port >= getNumOutputs()) {
        return LOGIC_E_ARGUMENT;
    }
    LogicData* data = writableOutput(port);
    return data != nullptr ? data->setValue(KVariant(value)) : LOGIC_OK;
}

i32 AbstractLogicComponent::setOutputInt(u32 port, i32 value)
{
    if (port >= getNumOutputs()) {
        return LOGIC_E_ARGUMENT;
    }
    LogicData* data = writableOutput(port);
    return data != nullptr ? data->setValue(KVariant(value)) : LOGIC_OK;
}

i32 AbstractLogicComponent::setOutputUInt(u32 port, u32 value)
{
    if (port >= getNumOutputs()) {
        return LOGIC_E_ARGUMENT;
    }
    LogicData* data = writableOutput(port);
    return data != nullptr ? data->setValue(KVariant(value)) : LOGIC_OK;
}

i32 AbstractLogicComponent::setOutputText(u32 port, const char* text)
{
    if (port >= getNumOutputs()) {
        return LOGIC_E_ARGUMENT;
    }
    LogicData* data = writableOutput(port);
    return data != nullptr ? data->setText(text) : LOGIC_OK;
}

i32 AbstractLogicComponent::triggerOutput(u32 port)
{
    if (port >= getNumOutputs()) {
        return LOGIC_E_ARGUMENT;
    }
    LogicData* data = writableOutput(port);
    return data != nullptr ? data->trigger() : LOGIC_OK;
}

i32 AbstractLogicComponent::overrideInputData(u32 port, const LogicData& data)
{
    if (port >= getNumInputs()) {
        return LOGIC_E_ARGUMENT;
    }
    m_inputData[port] = data;
    setBit(m_inputOverride, port, true);
    requestProcess();
    return LOGIC_OK;
}

i32 AbstractLogicComponent::overrideOutputData(u32 port, const LogicData& data)
{
    if (port >= getNumOutputs()) {
        return LOGIC_E_ARGUMENT;
    }
    m_outputData[port] = data;
    setBit(m_outputOverride, port, true);
    requestProcess();
    return LOGIC_OK;
}

bool AbstractLogicComponent::isInputOverridden(u32 port) const
{
    return testBit(m_inputOverride, port, getNumInputs());
}

bool AbstractLogicComponent::isOutputOverridden(u32 port) const
{
    return testBit(m_outputOverride, port, getNumOutputs());
}

bool AbstractLogicComponent::hasOverrides() const
{
    const auto any = [](const OverrideBits& bits) {
        return std::any_of(bits.begin(), bits.end(), [](u32 word) { return word != 0; });
    };
    return any(m_inputOverride) || any(m_outputOverride);
}

i32 AbstractLogicComponent::setAllOverridden()
{
    for (u32 port = 0; port < getNumInputs(); ++port) {
        setBit(m_inputOverride, port, true);
    }
    for (u32 port = 0; port < getNumOutputs(); ++port) {
        setBit(m_outputOverride, port, true);
    }
    return LOGIC_OK;
}

i32 AbstractLogicComponent::clearAllOverridden()
{
    std::fill(m_inputOverride.begin(), m_inputOverride.end(), 0u);
    std::fill(m_outputOverride.begin(), m_outputOverride.end(), 0u);
    return LOGIC_OK;
}

i32 AbstractLogicComponent::requestProcess()
{
    m_processRequested = true;
    requestDspProcessing();
    return LOGIC_OK;
}

bool AbstractLogicComponent::isProcessDue(u32 tick, u32 mode)
{
    bool due = false;
    switch (mode) {
    case 0:
        due = true;
        break;
    case 1:
        due = m_processRequested;
        break;
    case 2:
        due = m_processInterval != 0 ? tick - m_lastProcessTick >= m_processInterval : m_processRequested;
        break;
    default:
        break;
    }
    if (due) {
        m_processRequested = false;
        m_lastProcessTick = tick;
    }
    return due;
}

i32 AbstractLogicComponent::process(u64 tick, u32 mode)
{
    if (isProcessDue(static_cast<u32>(tick), mode)) {
        onProcess(tick, mode);
        transferOutputs(tick, mode);
    }
    return LOGIC_OK;
}

i32 AbstractLogicComponent::transferOutputs(u64, u32 mode)
{
    for (LogicData& input : m_inputData) {
        input.acknowledge();
    }
    for (u32 port = 0; port < getNumOutputs(); ++port) {
        LogicData& output = m_outputData[port];
        if (mode != 0 && !output.isChanged()) {
            continue;
        }
        output.acknowledge();
        // By index: a destination may rewire this output while it takes the value.
        for (size_t i = 0; port < getNumOutputs() && i < m_outputConnections[port].size(); ++i) {
            const LogicConnection destination = m_outputConnections[port][i];
            destination.peer->receiveInput(destination.port, m_outputData[port]);
        }
    }
    return LOGIC_OK;
}

} // namespace LogicCtrl

// AbstractLogicComponent: the base implementation of ILogicComponent: ports, wiring recorded on both ends, values,
// overrides and the processing step. Owners derive from it and override isLogicReady and onProcess (and the
// destructor).
//
// Wiring keeps one invariant: an input's source lists that input exactly once, and every listed destination
// records this output as its source. Connecting an input to a new source first disconnects the old one, and the
// destructor resets the component, so no peer is left pointing at it.
//
// No locking: the owner serialises access to a component and its peers.
#pragma once

#include <vector>

#include "klib_Types.h"
#include "logic_ILogicComponent.h"

namespace LogicCtrl {

class AbstractLogicComponent : public ILogicComponent
{
public:
    static constexpr u32 INVALID_UNIQ_ID = 0xFFFFFFFF;

    AbstractLogicComponent() = default;
    // Resets (disconnects) the component.
    ~AbstractLogicComponent() override;
    AbstractLogicComponent(const AbstractLogicComponent&) = delete;
    AbstractLogicComponent& operator=(const AbstractLogicComponent&) = delete;

    // 0; 0x80000001 when already initialised (debug-break hook); 0x80100000 for uniqID 0xFFFFFFFF; 0x80040000
    // when memory runs out (the component stays uninitialised). Every port's data is initialised from its info (a
    // port whose kind is not 1 to 8 keeps a default record of kind 0).
    [[nodiscard]] i32 initialize(u32 uniqID, const std::vector<PortInfo>& inputs, const std::vector<PortInfo>& outputs,
                                 u32 processInterval);

    i32 reset() override;
    u32 getUniqID() const override { return m_uniqID; }
    u32 getNumInputs() const override { return static_cast<u32>(m_inputInfos.size()); }
    u32 getNumOutputs() const override { return static_cast<u32>(m_outputInfos.size()); }
    const PortInfo& getInputInfo(u32 port) const override;
    const PortInfo& getOutputInfo(u32 port) const override;
    const LogicConnection& getInputConnection(u32 port) const override;
    const LogicConnectionList& getOutputConnections(u32 port) const override;
    // 0 (also when already connected so); 0x80000001 for a port out of range on either end or a null source.
    i32 connectInput(u32 port, ILogicComponent* source, u32 sourcePort) override;
    // 0 (also when already connected so); 0x80000001 for a port out of range on either end or a null
    // destination; 0x80040000 when memory runs out.
    i32 connectOutput(u32 port, ILogicComponent* destination, u32 destinationPort) override;
    i32 disconnectInput(u32 port) override;
    i32 disconnectOutput(u32 port, ILogicComponent* destination, u32 destinationPort) override;
    i32 disconnectOutputs(u32 port) override;
    const LogicData& getInputData(u32 port) const override;
    const LogicData& getOutputData(u32 port) const override;
    // An overridden input keeps its data (0); otherwise the assignment's result, and a processing request when
    // the input changed.
    i32 receiveInput(u32 port, const LogicData& source) override;
    // The setters change nothing on an overridden output (0).
    i32 setOutputNormalized(u32 port, f32 normalized) override;
    i32 setOutputFloat(u32 port, f32 value) override;
    i32 setOutputInt(u32 port, i32 value) override;
    i32 setOutputUInt(u32 port, u32 value) override;
    i32 setOutputText(u32 port, const char* text) override;
    i32 triggerOutput(u32 port) override;
    // Copies the data in, sets the override bit and requests processing.
    i32 overrideInputData(u32 port, const LogicData& data) override;
    i32 overrideOutputData(u32 port, const LogicData& data) override;
    bool isInputOverridden(u32 port) const override;
    bool isOutputOverridden(u32 port) const override;
    bool hasOverrides() const override;
    i32 setAllOverridden() override;
    i32 clearAllOverridden() override;
    // When due: onProcess, then transferOutputs. 0.
    i32 process(u64 tick, u32 mode) override;
    // Sets the request flag and asks the DSP thread for a pass. 0.
    i32 requestProcess() override;
    bool isLogicReady() const override { return false; }
    // Mode 0 due; 1 when requested; 2 when the interval (modulo 2^32) has passed since the last step, or, with
    // interval 0, when requested; other modes never. When due the request is cleared and the tick recorded.
    bool isProcessDue(u32 tick, u32 mode) override;
    i32 onProcess(u64, u32) override { return 0; }
    // Acknowledges every input, then every output that changed (every output in mode 0), delivering each to its
    // destinations in connection order. 0.
    i32 transferOutputs(u64 tick, u32 mode) override;

    u32 getProcessInterval() const { return m_processInterval; }
    u32 getLastProcessTick() const { return m_lastProcessTick; }
    bool isProcessRequested() const { return m_processRequested; }

private:
    using OverrideBits = std::vector<u32>;

    static bool testBit(const OverrideBits& bits, u32 port, u32 count);
    static void setBit(OverrideBits& bits, u32 port, bool on);
    LogicData* writableOutput(u32 port);
    void clearPorts();

    u32 m_uniqID = INVALID_UNIQ_ID;
    std::vector<PortInfo> m_inputInfos;
    std::vector<PortInfo> m_outputInfos;
    std::vector<LogicConnection> m_inputConnections;
    std::vector<LogicConnectionList> m_outputConnections;
    std::vector<LogicData> m_inputData;
    std::vector<LogicData> m_outputData;
    OverrideBits m_inputOverride;
    OverrideBits m_outputOverride;
    u32 m_processInterval = 0;
    u32 m_lastProcessTick = 0;
    bool m_processRequested = false;
};

} // namespace LogicCtrl

// ILogicComponent: a control-rate node with numbered input and output ports that carry LogicData values. Outputs
// are wired to inputs (each input has one source, each output a list of destinations); a connection is recorded on
// both ends and either end may start or end it. Connections hold plain pointers: neither side owns the other.
//
// Every operation that takes a port number checks it against the port count of its side: out of range gives
// 0x80000001, or for the reference accessors a shared empty object (empty PortInfo, the null connection, an empty
// connection list, a default LogicData), and false for the override tests.
#pragma once

#include <string>
#include <vector>

#include "klib_Types.h"
#include "klib_Variant.h"
#include "logic_LogicData.h"

namespace LogicCtrl {

class ILogicComponent;

// Description of one port, supplied by the owner of the component.
struct PortInfo
{
    std::string name;
    u32 kind = LogicData::KIND_NONE; // 1 to 8, see LogicData
    std::string expressionName;      // value-to-text expression, looked up by name
    KVariant minValue;               // range of kinds 2 to 6
    KVariant maxValue;
};

// One end of a connection: a peer component and a port number of the peer. The null connection has no peer.
struct LogicConnection
{
    ILogicComponent* peer = nullptr;
    u32 port = 0;

    bool operator==(const LogicConnection& other) const = default;
};

using LogicConnectionList = std::vector<LogicConnection>;

class ILogicComponent
{
public:
    virtual ~ILogicComponent() = default;

    // Disconnects everything and forgets ports and identity.
    virtual i32 reset() = 0;
    virtual u32 getUniqID() const = 0;
    virtual u32 getNumInputs() const = 0;
    virtual u32 getNumOutputs() const = 0;
    virtual const PortInfo& getInputInfo(u32 port) const = 0;
    virtual const PortInfo& getOutputInfo(u32 port) const = 0;
    // The source of an input.
    virtual const LogicConnection& getInputConnection(u32 port) const = 0;
    // The destinations of an output, in the order they were connected.
    virtual const LogicConnectionList& getOutputConnections(u32 port) const = 0;
    // Wires an input to a source output (replacing the input's previous source).
    virtual i32 connectInput(u32 port, ILogicComponent* source, u32 sourcePort) = 0;
    // Wires an output to a destination input.
    virtual i32 connectOutput(u32 port, ILogicComponent* destination, u32 destinationPort) = 0;
    virtual i32 disconnectInput(u32 port) = 0;
    virtual i32 disconnectOutput(u32 port, ILogicComponent* destination, u32 destinationPort) = 0;
    virtual i32 disconnectOutputs(u32 port) = 0;
    virtual const LogicData& getInputData(u32 port) const = 0;
    virtual const LogicData& getOutputData(u32 port) const = 0;
    // Delivers a value from a connected output.
    virtual i32 receiveInput(u32 port, const LogicData& source) = 0;
    virtual i32 setOutputNormalized(u32 port, f32 normalized) = 0;
    virtual i32 setOutputFloat(u32 port, f32 value) = 0;
    virtual i32 setOutputInt(u32 port, i32 value) = 0;
    virtual i32 setOutputUInt(u32 port, u32 value) = 0;
    virtual i32 setOutputText(u32 port, const char* text) = 0;
    virtual i32 triggerOutput(u32 port) = 0;
    virtual i32 overrideInputData(u32 port, const LogicData& data) = 0;
    virtual i32 overrideOutputData(u32 port, const LogicData& data) = 0;
    virtual bool isInputOverridden(u32 port) const = 0;
    virtual bool isOutputOverridden(u32 port) const = 0;
    virtual bool hasOverrides() const = 0;
    virtual i32 setAllOverridden() = 0;
    virtual i32 clearAllOverridden() = 0;
    // Runs one processing step when isProcessDue says so.
    virtual i32 process(u64 tick, u32 mode) = 0;
    virtual i32 requestProcess() = 0;
    virtual bool isLogicReady() const = 0;
    virtual bool isProcessDue(u32 tick, u32 mode) = 0;
    virtual i32 onProcess(u64 tick, u32 mode) = 0;
    // Passes changed outputs on to the connected inputs.
    virtual i32 transferOutputs(u64 tick, u32 mode) = 0;
};

} // namespace LogicCtrl

// What a test plug-in shows its test through its exported probe, "testPluginProbe": its switches, a call count
// per operation of the parameter-information interface, the change hook's log and its live objects.
#pragma once

#include <cstdint>

struct TestPluginProbe
{
    // Switches (0 by default).
    std::uint32_t hooksOff;        // operation 25 answers false
    std::uint32_t changeHookOff;   // operation 26 answers false
    std::uint32_t writeBackMode;   // operation 29 on "/Gain" writes this value to "/Mode" (0: no write)
    std::uint32_t leaveBadTag;     // operation 28 leaves the value with tag 9
    std::int32_t writeBackResult;  // result of the last write-back
    std::uint32_t failDescriptors; // 13 or 14: that coefficient operation fails
    std::uint32_t noLogicPorts;    // operation 27 of the logic control answers has-logic false
    std::uint32_t logicReady;      // operation 32's answer
    std::int32_t processResult;    // operation 33's answer
    std::uint32_t inPorts;         // operation 15's answer
    std::uint32_t outPorts;        // operation 16's answer
    // Counts.
    std::uint32_t calls[32];  // per operation of the parameter-information interface
    std::int32_t liveObjects; // objects made by the factories and not yet released
    // Coefficient operations 29, 39, 30 and 43 in call order, and the arguments of the last 29 (the accessor
    // first) and 30.
    std::uint32_t coefCalls[16];
    std::uint32_t coefCallCount;
    void* setupAccessor;
    std::uint32_t setupArguments[7];
    std::uint32_t samplingRate;
    // Logic control: the accessor and arguments of operation 26, and the arguments of the last operation 33.
    void* logicAccessor;
    std::uint32_t logicArguments[3];
    std::uint64_t processArgument;
    std::uint32_t processMode;
    std::uint32_t processFlags;
    std::uint32_t processCalls;
    // "29 <block> <new> <old>\n" per change hook call, cut at the end of the buffer.
    char changeLog[4096];
    std::uint32_t changeLogLength;
};

using TestPluginProbeFunction = TestPluginProbe* (*)();

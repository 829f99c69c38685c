// What a test plug-in shows its test through its exported probe, "testPluginProbe": its switches, a call count
// per operation of the parameter-information interface, the change hook's log and its live objects.
#pragma once

#include <cstdint>

struct TestPluginProbe
{
    // Switches (0 by default).
    std::uint32_t hooksOff;       // operation 25 answers false
    std::uint32_t changeHookOff;  // operation 26 answers false
    std::uint32_t writeBackMode;  // operation 29 on "/Gain" writes this value to "/Mode" (0: no write)
    std::uint32_t leaveBadTag;    // operation 28 leaves the value with tag 9
    std::int32_t writeBackResult; // result of the last write-back
    // Counts.
    std::uint32_t calls[32];  // per operation of the parameter-information interface
    std::int32_t liveObjects; // objects made by the factories and not yet released
    // "29 <block> <new> <old>\n" per change hook call, cut at the end of the buffer.
    char changeLog[4096];
    std::uint32_t changeLogLength;
};

using TestPluginProbeFunction = TestPluginProbe* (*)();

// Compact compiler input documents for the suites and benchmarks, in the layout the compiler thread writes
// (without its indentation): one DSP "VEXA-D CPU" in system "VEXA256-D" (96000 Hz, 32 samples per frame).
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "compiler_CompileResult.h"

namespace compilertest {

inline std::string componentDB(const std::vector<std::pair<std::string, u32>>& stepSizes)
{
    std::string text = R"({"componentDB": {"components": [)";
    for (size_t i = 0; i < stepSizes.size(); ++i) {
        text += (i == 0 ? "" : ",") + std::string(R"({"name": ")") + stepSizes[i].first +
                R"(", "majorVersion": 1, "numX": 1, "numY": 1, "numInPort": 4, "numOutPort": 4, "dspResources": )" +
                R"([{"dspName": "VEXA-D CPU", "fsHz": 96000, "numSamplePerFrame": 32, "fixedDelay": 0, )" +
                R"("resources": [{"name": "step", "size": )" + std::to_string(stepSizes[i].second) + "}]}]}";
    }
    return text + "]}}";
}

inline std::string connectionList(const std::vector<Compiler::Connection>& connections)
{
    std::string text = "[";
    for (size_t i = 0; i < connections.size(); ++i) {
        const Compiler::Connection& c = connections[i];
        text += (i == 0 ? "{" : ",{") + std::string(R"("fromUniqID": )") + std::to_string(c.m_fromUniqID) +
                R"(, "fromPortNo": )" + std::to_string(c.m_fromPortNo) + R"(, "toUniqID": )" +
                std::to_string(c.m_toUniqID) + R"(, "toPortNo": )" + std::to_string(c.m_toPortNo) + "}";
    }
    return text + "]";
}

inline std::string systemSetting(const std::string& name = "VEXA256-D", u32 fsHz = 96000, u32 numSamplePerFrame = 32)
{
    return R"("name": ")" + name + R"(", "fsHz": )" + std::to_string(fsHz) + R"(, "numSamplePerFrame": )" +
           std::to_string(numSamplePerFrame) + R"(, "renderSamples": 32, "delayCompensation": false)";
}

// Instances are (uniqID, type name), each with majorVersion, numX and numY 1.
inline std::string connectionDB(const std::vector<std::pair<u32, std::string>>& components,
                                const std::vector<Compiler::Connection>& connections,
                                const std::vector<Compiler::Connection>& logicConnections = {},
                                const std::string& setting = systemSetting())
{
    std::string text = R"({"connectionDB": {"dspSystem": {)" + setting + R"(}, "components": [)";
    for (size_t i = 0; i < components.size(); ++i) {
        text += (i == 0 ? "{" : ",{") + std::string(R"("uniqID": )") + std::to_string(components[i].first) +
                R"(, "name": ")" + components[i].second + R"(", "majorVersion": 1, "numX": 1, "numY": 1})";
    }
    return text + R"(], "connections": )" + connectionList(connections) + R"(, "logicConnections": )" +
           connectionList(logicConnections) + "}}";
}

inline std::string dspSystemDB(u32 cores, const char* resource = "step", u32 fsHz = 96000, u32 numSamplePerFrame = 32)
{
    std::string text = R"({"dspSystemDB": {"dspSystems": [{"name": "VEXA256-D", "fsHz": )" + std::to_string(fsHz) +
                       R"(, "numSamplePerFrame": )" + std::to_string(numSamplePerFrame) +
                       R"(, "dsps": [{"name": "VEXA-D CPU", "cores": [)";
    for (u32 c = 0; c < cores; ++c) {
        text += (c == 0 ? "" : ",") + std::string(R"({"resources": [{"name": ")") + resource +
                R"(", "offset": 0, "size": 333333, "shared": false}]})";
    }
    return text + "]}]}]}}";
}

#ifdef VD_COMPILER_DATA
inline std::string readData(const std::string& name)
{
    std::ifstream in(std::string(VD_COMPILER_DATA) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
#endif

} // namespace compilertest

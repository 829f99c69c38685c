// Fuzz target: reading CompileResult text into the audio configuration. The text ends at the first NUL byte. Any
// input must read without a fault, and a record that names its DSP system must survive being written and read
// again: the same record with its lists in set order.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "compiler_CompileResult.h"
#include "dadov_AudioConfigParserJSON.h"

namespace {

template <typename T> void setOrder(std::vector<T>& list)
{
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    DADOV::AudioConfig config = DADOV::parseAudioConfigJSON(text.c_str());
    if (config.m_name.empty()) {
        return 0;
    }
    Compiler::CompileResult record;
    record.m_name = config.m_name;
    record.m_fsHz = config.m_fsHz;
    record.m_numSamplePerFrame = config.m_numSamplePerFrame;
    record.m_renderSamples = config.m_renderSamples;
    record.m_delayCompensation = config.m_delayCompensation;
    record.m_result = config.m_result;
    record.m_components = config.m_components;
    record.m_connections = config.m_connections;
    record.m_logicConnections = config.m_logicConnections;
    for (const DADOV::DspAssignment& a : config.m_dspAssignments) {
        record.m_dspAssignments.push_back(
            {a.m_dspNo, a.m_coreNo, a.m_uniqID, a.m_preUniqID, {{"step", a.m_stepOffset, a.m_stepSize}}});
    }
    std::string written;
    if (Compiler::writeCompileResult(record, written) != 0) {
        std::abort();
    }
    setOrder(config.m_components);
    setOrder(config.m_connections);
    setOrder(config.m_dspAssignments);
    setOrder(config.m_logicConnections);
    if (DADOV::parseAudioConfigJSON(written.c_str()) != config) {
        std::abort();
    }
    return 0;
}

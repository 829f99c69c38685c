#include "dadov_AudioConfigParserJSON.h"

#include "compiler_JsonReader.h"
#include "dbgc_Print.h"

namespace DADOV {

using Compiler::jsonElement;
using Compiler::jsonElementCount;
using Compiler::jsonMember;
using Compiler::JsonValue;
using Compiler::readJsonBool;
using Compiler::readJsonString;
using Compiler::readJsonUInt32;
using Compiler::readJsonUInt64;
using PDB::JsonAdapter;

namespace {

// The member under key, or null after its "tag not found" line.
const JsonValue* findSection(const JsonValue& parent, const char* key)
{
    const JsonValue& section = jsonMember(parent, key);
    if (JsonAdapter::isNull(&section)) {
        dbgc_printf("JSON: '%s' tag not found.\n", key);
        return nullptr;
    }
    return &section;
}

// Appends one record per element of the section under key, each read by readElement; false when the section
// is missing.
template <typename T, typename ReadElement>
bool readList(const JsonValue& parent, const char* key, std::vector<T>& out, ReadElement readElement)
{
    const JsonValue* list = findSection(parent, key);
    if (list == nullptr) {
        return false;
    }
    const size_t count = jsonElementCount(*list);
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        T record;
        readElement(jsonElement(*list, i), record);
        out.push_back(std::move(record));
    }
    return true;
}

void readConnection(const JsonValue& entry, AudioConnection& c)
{
    (void)readJsonUInt32(entry, "fromUniqID", c.m_fromUniqID, 0);
    (void)readJsonUInt32(entry, "fromPortNo", c.m_fromPortNo, 0);
    (void)readJsonUInt32(entry, "toUniqID", c.m_toUniqID, 0);
    (void)readJsonUInt32(entry, "toPortNo", c.m_toPortNo, 0);
}

void fill(const JsonValue& root, AudioConfig& config)
{
    const JsonValue* result = findSection(root, "compileResult");
    if (result == nullptr) {
        return;
    }
    const JsonValue* system = findSection(*result, "dspSystem");
    if (system == nullptr) {
        return;
    }
    u32 code = 0;
    (void)readJsonString(*system, "name", config.m_name, "");
    (void)readJsonUInt32(*system, "fsHz", config.m_fsHz, 0);
    (void)readJsonUInt32(*system, "numSamplePerFrame", config.m_numSamplePerFrame, 0);
    (void)readJsonUInt32(*system, "renderSamples", config.m_renderSamples, 0);
    (void)readJsonBool(*system, "delayCompensation", config.m_delayCompensation, false);
    (void)readJsonUInt32(*system, "result", code, static_cast<u32>(DADOV_E_FAILED));
    config.m_result = static_cast<i32>(code);

    const bool complete = readList(*result, "components", config.m_components,
                                   [](const JsonValue& entry, AudioConfigComponent& c) {
                                       (void)readJsonUInt32(entry, "uniqID", c.m_uniqID, 0);
                                       (void)readJsonString(entry, "name", c.m_name, "");
                                       (void)readJsonUInt32(entry, "majorVersion", c.m_majorVersion, 0);
                                       (void)readJsonUInt32(entry, "numX", c.m_numX, 0);
                                       (void)readJsonUInt32(entry, "numY", c.m_numY, 0);
                                   }) &&
                          readList(*result, "connections", config.m_connections, readConnection) &&
                          readList(*result, "dspAssignments", config.m_dspAssignments,
                                   [](const JsonValue& entry, DspAssignment& a) {
                                       (void)readJsonUInt32(entry, "dspNo", a.m_dspNo, 0);
                                       (void)readJsonUInt32(entry, "coreNo", a.m_coreNo, 0);
                                       (void)readJsonUInt64(entry, "stepOffset", a.m_stepOffset, 0);
                                       (void)readJsonUInt32(entry, "stepSize", a.m_stepSize, 0);
                                       (void)readJsonUInt32(entry, "uniqID", a.m_uniqID, 0);
                                       (void)readJsonUInt32(entry, "preUniqID", a.m_preUniqID, 0);
                                   }) &&
                          readList(*result, "logicConnections", config.m_logicConnections, readConnection);
    (void)complete;
}

} // namespace

AudioConfig parseAudioConfigJSON(const char* text)
{
    AudioConfig config;
    JsonValue root;
    const Compiler::JsonParseOutcome outcome =
        text != nullptr ? Compiler::parseJsonText(text, root) : Compiler::JsonParseOutcome::OTHER_ERROR;
    if (outcome == Compiler::JsonParseOutcome::PARSED) {
        // Memory can only run out while a list grows: the record keeps what was read before.
        const i32 filled = JsonAdapter::invoke([&]() -> i32 {
            fill(root, config);
            return DADOV_OK;
        });
        if (filled != DADOV_OK) {
            dbgc_printf("JSON: unknown exception occurred.\n");
        }
    } else if (outcome == Compiler::JsonParseOutcome::OTHER_ERROR) {
        dbgc_printf("JSON: unknown exception occurred.\n");
    }
    return config;
}

} // namespace DADOV

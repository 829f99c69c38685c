#include "compiler_CompileResult.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "pdb_JsonAdapter.h"

namespace Compiler {

using PDB::JsonAdapter;
using PDB::JsonValue;

const Allocation* Assignment::findStep() const
{
    for (const Allocation& allocation : m_allocations) {
        if (allocation.m_name == "step") {
            return &allocation;
        }
    }
    return nullptr;
}

namespace {

struct AssignmentKey
{
    u32 m_dspNo;
    u32 m_coreNo;
    u64 m_stepOffset;
    u32 m_stepSize;
    u32 m_uniqID;
    u32 m_preUniqID;

    auto operator<=>(const AssignmentKey&) const = default;
};

template <typename T> void sortUnique(std::vector<T>& items)
{
    std::sort(items.begin(), items.end());
    items.erase(std::unique(items.begin(), items.end()), items.end());
}

// Appends the document text in the exact form of the JSON library's dump with indent 2. The structure is fixed,
// so only the texts need the library: a text that is not plain printable ASCII is quoted by it, which writes
// its escapes and replaces invalid UTF-8.
class DocumentWriter
{
public:
    explicit DocumentWriter(std::string& out) : m_out(out) {}

    void number(u64 value)
    {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof(digits), value).ptr;
        m_out.append(digits, end);
    }

    void field(std::string_view lead, u64 value)
    {
        m_out.append(lead);
        number(value);
    }

    i32 quoted(const std::string& text)
    {
        const bool plain = std::all_of(text.begin(), text.end(),
                                       [](char c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; });
        if (plain) {
            m_out.push_back('"');
            m_out.append(text);
            m_out.push_back('"');
            return COMPILER_OK;
        }
        std::string dumped;
        const i32 result = JsonAdapter::invoke([&]() -> i32 {
            const JsonValue value(text);
            return JsonAdapter::dumpReplacing(value, dumped);
        });
        m_out.append(dumped);
        return result;
    }

    // A four-field connection array under a key at indent 4.
    void connections(const std::vector<Connection>& items)
    {
        if (items.empty()) {
            m_out.append("[]");
            return;
        }
        m_out.append("[\n");
        for (size_t i = 0; i < items.size(); ++i) {
            const Connection& c = items[i];
            m_out.append(i == 0 ? "      {\n" : ",\n      {\n");
            field("        \"fromPortNo\": ", c.m_fromPortNo);
            field(",\n        \"fromUniqID\": ", c.m_fromUniqID);
            field(",\n        \"toPortNo\": ", c.m_toPortNo);
            field(",\n        \"toUniqID\": ", c.m_toUniqID);
            m_out.append("\n      }");
        }
        m_out.append("\n    ]");
    }

    i32 components(const std::vector<const ComponentInstance*>& items)
    {
        if (items.empty()) {
            m_out.append("[]");
            return COMPILER_OK;
        }
        i32 result = COMPILER_OK;
        m_out.append("[\n");
        for (size_t i = 0; i < items.size(); ++i) {
            const ComponentInstance& c = *items[i];
            m_out.append(i == 0 ? "      {\n" : ",\n      {\n");
            field("        \"majorVersion\": ", c.m_majorVersion);
            m_out.append(",\n        \"name\": ");
            if (quoted(c.m_name) != COMPILER_OK) {
                result = COMPILER_E_FAILED;
            }
            field(",\n        \"numX\": ", c.m_numX);
            field(",\n        \"numY\": ", c.m_numY);
            field(",\n        \"uniqID\": ", c.m_uniqID);
            m_out.append("\n      }");
        }
        m_out.append("\n    ]");
        return result;
    }

    void assignments(const std::vector<AssignmentKey>& items)
    {
        if (items.empty()) {
            m_out.append("[]");
            return;
        }
        m_out.append("[\n");
        for (size_t i = 0; i < items.size(); ++i) {
            const AssignmentKey& a = items[i];
            m_out.append(i == 0 ? "      {\n" : ",\n      {\n");
            field("        \"coreNo\": ", a.m_coreNo);
            field(",\n        \"dspNo\": ", a.m_dspNo);
            field(",\n        \"preUniqID\": ", a.m_preUniqID);
            field(",\n        \"stepOffset\": ", a.m_stepOffset);
            field(",\n        \"stepSize\": ", a.m_stepSize);
            field(",\n        \"uniqID\": ", a.m_uniqID);
            m_out.append("\n      }");
        }
        m_out.append("\n    ]");
    }

private:
    std::string& m_out;
};

i32 writeDocument(const CompileResult& record, std::string& text)
{
    std::vector<const ComponentInstance*> components;
    components.reserve(record.m_components.size());
    for (const ComponentInstance& component : record.m_components) {
        components.push_back(&component);
    }
    std::sort(components.begin(), components.end(),
              [](const ComponentInstance* a, const ComponentInstance* b) { return *a < *b; });
    components.erase(std::unique(components.begin(), components.end(),
                                 [](const ComponentInstance* a, const ComponentInstance* b) { return *a == *b; }),
                     components.end());

    std::vector<Connection> connections = record.m_connections;
    sortUnique(connections);
    std::vector<Connection> logicConnections = record.m_logicConnections;
    sortUnique(logicConnections);

    std::vector<AssignmentKey> assignments;
    assignments.reserve(record.m_dspAssignments.size());
    for (const Assignment& assignment : record.m_dspAssignments) {
        const Allocation* step = assignment.findStep();
        assignments.push_back({assignment.m_dspNo, assignment.m_coreNo, step != nullptr ? step->m_offset : 0,
                               step != nullptr ? step->m_size : 0, assignment.m_uniqID, assignment.m_preUniqID});
    }
    sortUnique(assignments);

    size_t nameBytes = record.m_name.size();
    for (const ComponentInstance* component : components) {
        nameBytes += component->m_name.size();
    }
    text.reserve(400 + nameBytes + 140 * components.size() + 120 * (connections.size() + logicConnections.size()) +
                 170 * assignments.size());

    DocumentWriter writer(text);
    text.append("{\n  \"compileResult\": {\n    \"components\": ");
    i32 result = writer.components(components);
    text.append(",\n    \"connections\": ");
    writer.connections(connections);
    text.append(",\n    \"dspAssignments\": ");
    writer.assignments(assignments);
    text.append(record.m_delayCompensation ? ",\n    \"dspSystem\": {\n      \"delayCompensation\": true"
                                           : ",\n    \"dspSystem\": {\n      \"delayCompensation\": false");
    writer.field(",\n      \"fsHz\": ", record.m_fsHz);
    text.append(",\n      \"name\": ");
    if (writer.quoted(record.m_name) != COMPILER_OK) {
        result = COMPILER_E_FAILED;
    }
    writer.field(",\n      \"numSamplePerFrame\": ", record.m_numSamplePerFrame);
    writer.field(",\n      \"renderSamples\": ", record.m_renderSamples);
    writer.field(",\n      \"result\": ", static_cast<u32>(record.m_result));
    text.append("\n    },\n    \"logicConnections\": ");
    writer.connections(logicConnections);
    text.append("\n  }\n}");
    return result;
}

} // namespace

i32 writeCompileResult(const CompileResult& record, std::string& text)
{
    text.clear();
    if (record.m_name.empty()) {
        return COMPILER_E_FAILED;
    }
    const i32 result = JsonAdapter::invoke([&]() -> i32 { return writeDocument(record, text); });
    if (result != COMPILER_OK) {
        text.clear();
        return COMPILER_E_FAILED;
    }
    return COMPILER_OK;
}

} // namespace Compiler

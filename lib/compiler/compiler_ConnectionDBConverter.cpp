#include "compiler_ConnectionDBConverter.h"

#include <algorithm>

#include "compiler_JsonReader.h"
#include "dbgc_Print.h"
#include "klib_Print.h"

namespace Compiler {

using PDB::JsonAdapter;

namespace {

template <typename T> void sortUnique(std::vector<T>& items)
{
    std::sort(items.begin(), items.end());
    items.erase(std::unique(items.begin(), items.end()), items.end());
}

// The list under key, or false after its "tag not found" line.
bool readConnections(const JsonValue& database, const char* key, std::vector<Connection>& out)
{
    const JsonValue& list = jsonMember(database, key);
    if (JsonAdapter::isNull(&list)) {
        dbgc_printf("JSON: '%s' tag not found.\n", key);
        return false;
    }
    const size_t count = jsonElementCount(list);
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const JsonValue& entry = jsonElement(list, i);
        Connection connection;
        (void)readJsonUInt32(entry, "fromUniqID", connection.m_fromUniqID, 0);
        (void)readJsonUInt32(entry, "fromPortNo", connection.m_fromPortNo, 0);
        (void)readJsonUInt32(entry, "toUniqID", connection.m_toUniqID, 0);
        (void)readJsonUInt32(entry, "toPortNo", connection.m_toPortNo, 0);
        out.push_back(connection);
    }
    sortUnique(out);
    return true;
}

void convert(const JsonValue& root, ConnectionDB& destination)
{
    const JsonValue& database = jsonMember(root, "connectionDB");
    if (JsonAdapter::isNull(&database)) {
        dbgc_printf("JSON: 'connectionDB' tag not found.\n");
        return;
    }
    const JsonValue& system = jsonMember(database, "dspSystem");
    if (JsonAdapter::isNull(&system)) {
        dbgc_printf("JSON: 'dspSystem' tag not found.\n");
        return;
    }
    DspSystemSetting& setting = destination.m_dspSystem;
    (void)readJsonString(system, "name", setting.m_name, "");
    (void)readJsonUInt32(system, "fsHz", setting.m_fsHz, 0);
    (void)readJsonUInt32(system, "numSamplePerFrame", setting.m_numSamplePerFrame, 0);
    (void)readJsonUInt32(system, "renderSamples", setting.m_renderSamples, 0);
    (void)readJsonBool(system, "delayCompensation", setting.m_delayCompensation, false);

    // The lists are built aside and stored together, so a stop leaves all three empty.
    const JsonValue& componentList = jsonMember(database, "components");
    if (JsonAdapter::isNull(&componentList)) {
        dbgc_printf("JSON: 'components' tag not found.\n");
        return;
    }
    std::vector<ComponentInstance> components;
    const size_t count = jsonElementCount(componentList);
    components.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const JsonValue& entry = jsonElement(componentList, i);
        ComponentInstance component;
        (void)readJsonUInt32(entry, "uniqID", component.m_uniqID, 0);
        (void)readJsonString(entry, "name", component.m_name, "");
        (void)readJsonUInt32(entry, "majorVersion", component.m_majorVersion, 0);
        (void)readJsonUInt32(entry, "numX", component.m_numX, 0);
        (void)readJsonUInt32(entry, "numY", component.m_numY, 0);
        components.push_back(std::move(component));
    }
    sortUnique(components);
    std::vector<Connection> connections;
    std::vector<Connection> logicConnections;
    if (!readConnections(database, "connections", connections) ||
        !readConnections(database, "logicConnections", logicConnections)) {
        return;
    }
    destination.m_components = std::move(components);
    destination.m_connections = std::move(connections);
    destination.m_logicConnections = std::move(logicConnections);
}

} // namespace

i32 loadConnectionDB(ConnectionDB& destination, const std::string& text)
{
    destination.reset();
    if (!convertJsonText(text, [&](const JsonValue& root) { convert(root, destination); })) {
        KLIB_LOG("[E] compiler_ConnectionDBConverter: unknown exception occurred.\n");
    }
    return 0;
}

} // namespace Compiler

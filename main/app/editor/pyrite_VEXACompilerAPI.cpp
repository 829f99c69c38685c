#include "pyrite_VEXACompilerAPI.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "pdb_JsonAdapter.h"

namespace PYRITE::VEXACompilerAPI {

namespace {

using Compiler::ComponentTypeInfo;
using DADOV::AudioComponent;
using DADOV::AudioConfigComponent;
using DADOV::AudioConnection;
using PDB::JsonAdapter;
using PDB::JsonValue;

constexpr int INDENT = 2;

std::atomic<bool> g_abortRequested{false};

u32 resourceSize(AudioComponent& component, const char* resource)
{
    return static_cast<u32>(component.getDspResourceSize(DSP_NAME, FS_HZ, NUM_SAMPLE_PER_FRAME, resource));
}

// Sorts and drops equal entries.
template <typename T> void makeOrderedSet(std::vector<T>& items)
{
    std::sort(items.begin(), items.end());
    items.erase(std::unique(items.begin(), items.end()), items.end());
}

JsonValue connectionArray(const std::vector<AudioConnection>& connections)
{
    JsonValue array = JsonValue::array();
    array.get_ref<JsonValue::array_t&>().reserve(connections.size());
    for (const AudioConnection& c : connections) {
        JsonValue& entry = array.emplace_back(JsonValue::object());
        entry["fromUniqID"] = c.m_fromUniqID;
        entry["fromPortNo"] = c.m_fromPortNo;
        entry["toUniqID"] = c.m_toUniqID;
        entry["toPortNo"] = c.m_toPortNo;
    }
    return array;
}

// The document's dump; empty when it cannot be built.
template <typename Build> std::string dumpDocument(Build&& build)
{
    std::string text;
    const i32 result = JsonAdapter::invoke([&]() -> i32 {
        JsonValue document;
        build(document);
        return JsonAdapter::dumpReplacing(document, text, INDENT);
    });
    if (result != 0) {
        text.clear();
    }
    return text;
}

const ComponentList& callerList()
{
    return DADOV::AudioComponentCollection::getInstance().getComponentList();
}

} // namespace

std::vector<ComponentTypeInfo> collectComponentTypes(const ComponentList& components)
{
    std::vector<ComponentTypeInfo> types;
    for (AudioComponent* component : components) {
        if (component == nullptr) {
            continue;
        }
        const std::string& name = component->getTypeName();
        const u32 majorVersion = component->getMajorVersion();
        const u32 numX = component->getNumX();
        const u32 numY = component->getNumY();
        const bool known = std::any_of(types.begin(), types.end(), [&](const ComponentTypeInfo& type) {
            return type.m_name == name && type.m_majorVersion == majorVersion && type.m_numX == numX &&
                   type.m_numY == numY;
        });
        if (known) {
            continue;
        }
        Compiler::DspResourceInfo dsp{DSP_NAME,
                                      FS_HZ,
                                      NUM_SAMPLE_PER_FRAME,
                                      resourceSize(*component, FIXED_DELAY),
                                      {{PROCESSING_RESOURCE, resourceSize(*component, PROCESSING_RESOURCE)}}};
        types.push_back(
            {name, majorVersion, numX, numY, component->getNumInPort(), component->getNumOutPort(), {std::move(dsp)}});
    }
    return types;
}

std::vector<AudioConfigComponent> collectInstances(const ComponentList& components)
{
    std::vector<AudioConfigComponent> instances;
    instances.reserve(components.size());
    for (AudioComponent* component : components) {
        if (component != nullptr) {
            instances.push_back({component->getUniqID(), component->getTypeName(), component->getMajorVersion(),
                                 component->getNumX(), component->getNumY()});
        }
    }
    return instances;
}

std::vector<AudioConnection> collectLogicConnections(const ComponentList& components)
{
    std::vector<AudioConnection> links;
    for (AudioComponent* component : components) {
        if (component == nullptr) {
            continue;
        }
        const u32 uid = component->getUniqID();
        const LogicCtrl::ILogicComponent& logic = component->getLogicComponent();
        for (u32 port = 0; port < logic.getNumInputs(); ++port) {
            const LogicCtrl::LogicConnection& source = logic.getInputConnection(port);
            if (source.peer != nullptr) {
                links.push_back({source.peer->getUniqID(), source.port, uid, port});
            }
        }
        for (u32 port = 0; port < logic.getNumOutputs(); ++port) {
            for (const LogicCtrl::LogicConnection& destination : logic.getOutputConnections(port)) {
                if (destination.peer != nullptr) {
                    links.push_back({uid, port, destination.peer->getUniqID(), destination.port});
                }
            }
        }
    }
    return links;
}

std::string writeComponentDB(const std::vector<ComponentTypeInfo>& types)
{
    return dumpDocument([&](JsonValue& document) {
        JsonValue& entries = document["componentDB"]["components"] = JsonValue::array();
        entries.get_ref<JsonValue::array_t&>().reserve(types.size());
        for (const ComponentTypeInfo& type : types) {
            JsonValue& entry = entries.emplace_back(JsonValue::object());
            entry["name"] = type.m_name;
            entry["majorVersion"] = type.m_majorVersion;
            entry["numX"] = type.m_numX;
            entry["numY"] = type.m_numY;
            entry["numInPort"] = type.m_numInPort;
            entry["numOutPort"] = type.m_numOutPort;
            JsonValue& dsps = entry["dspResources"] = JsonValue::array();
            for (const Compiler::DspResourceInfo& dsp : type.m_dspResources) {
                JsonValue& dspEntry = dsps.emplace_back(JsonValue::object());
                dspEntry["dspName"] = dsp.m_dspName;
                dspEntry["fsHz"] = dsp.m_fsHz;
                dspEntry["numSamplePerFrame"] = dsp.m_numSamplePerFrame;
                dspEntry["fixedDelay"] = dsp.m_fixedDelay;
                JsonValue& resources = dspEntry["resources"] = JsonValue::array();
                for (const Compiler::ResourceAmount& resource : dsp.m_resources) {
                    JsonValue& resourceEntry = resources.emplace_back(JsonValue::object());
                    resourceEntry["name"] = resource.m_name;
                    resourceEntry["size"] = resource.m_size;
                }
            }
        }
    });
}

std::string writeConnectionDB(std::vector<AudioConfigComponent> instances, std::vector<AudioConnection> connections,
                              std::vector<AudioConnection> logicConnections)
{
    makeOrderedSet(instances);
    makeOrderedSet(connections);
    makeOrderedSet(logicConnections);
    return dumpDocument([&](JsonValue& document) {
        JsonValue& db = document["connectionDB"];
        JsonValue& system = db["dspSystem"];
        system["name"] = DSP_SYSTEM_NAME;
        system["fsHz"] = FS_HZ;
        system["numSamplePerFrame"] = NUM_SAMPLE_PER_FRAME;
        system["renderSamples"] = RENDER_SAMPLES;
        system["delayCompensation"] = false;

        JsonValue& array = db["components"] = JsonValue::array();
        array.get_ref<JsonValue::array_t&>().reserve(instances.size());
        for (const AudioConfigComponent& instance : instances) {
            JsonValue& entry = array.emplace_back(JsonValue::object());
            entry["uniqID"] = instance.m_uniqID;
            entry["name"] = instance.m_name;
            entry["majorVersion"] = instance.m_majorVersion;
            entry["numX"] = instance.m_numX;
            entry["numY"] = instance.m_numY;
        }
        db["connections"] = connectionArray(connections);
        db["logicConnections"] = connectionArray(logicConnections);
    });
}

std::string createComponentDB()
{
    try {
        return writeComponentDB(collectComponentTypes(callerList()));
    } catch (const std::bad_alloc&) {
        return std::string();
    }
}

std::string createConnectionDB()
{
    try {
        std::vector<AudioConnection> connections;
        if (DADOV::AudioComponentCollection::getInstance().getConnections(connections) != 0) {
            return std::string();
        }
        const ComponentList& components = callerList();
        return writeConnectionDB(collectInstances(components), std::move(connections),
                                 collectLogicConnections(components));
    } catch (const std::bad_alloc&) {
        return std::string();
    }
}

std::string createDspSystemDB()
{
    return dumpDocument([](JsonValue& document) {
        JsonValue resource = JsonValue::object();
        resource["name"] = PROCESSING_RESOURCE;
        resource["offset"] = 0;
        resource["size"] = CORE_STEP_SIZE;
        resource["shared"] = false;
        JsonValue core = JsonValue::object();
        core["resources"] = JsonValue::array({std::move(resource)});
        JsonValue dsp = JsonValue::object();
        dsp["name"] = DSP_NAME;
        JsonValue& cores = dsp["cores"] = JsonValue::array();
        for (u32 i = 0; i < NUM_CORES; ++i) {
            cores.push_back(core);
        }
        JsonValue system = JsonValue::object();
        system["name"] = DSP_SYSTEM_NAME;
        system["fsHz"] = FS_HZ;
        system["numSamplePerFrame"] = NUM_SAMPLE_PER_FRAME;
        system["dsps"] = JsonValue::array({std::move(dsp)});
        document["dspSystemDB"]["dspSystems"] = JsonValue::array({std::move(system)});
    });
}

u32 getProcessingResourceUsage(u32 uniqID)
{
    AudioComponent* component = DADOV::AudioComponentCollection::getInstance().findComponent(uniqID);
    return component != nullptr ? resourceSize(*component, PROCESSING_RESOURCE) : 0;
}

u32 getTotalProcessingResourceCapacity()
{
    return TOTAL_CAPACITY;
}

u32 getTotalProcessingResourceUsage()
{
    u64 sum = 0;
    for (AudioComponent* component : callerList()) {
        if (component != nullptr) {
            sum += resourceSize(*component, PROCESSING_RESOURCE);
        }
    }
    return static_cast<u32>(std::min<u64>(sum, 0xFFFFFFFFu));
}

i32 clearAbortRequest()
{
    (void)g_abortRequested.exchange(false);
    return 0;
}

bool isAbortRequested()
{
    return g_abortRequested.load();
}

} // namespace PYRITE::VEXACompilerAPI

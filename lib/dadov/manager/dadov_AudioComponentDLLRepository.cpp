#include "dadov_AudioComponentDLLRepository.h"

#include <memory>
#include <new>

#include "fsw_api.h"
#include "klib_Print.h"
#include "pdb_ComponentInfoParserJSON.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_NullMutex.h"
#include "pdb_ParameterDBCollection.h"

namespace DADOV {

namespace {

constexpr u32 COMPONENT_DATABASE = 10;
constexpr const char* PLUGIN_SUFFIX = ".dll";
constexpr size_t PLUGIN_SUFFIX_LENGTH = 4;

bool failed(u32 result)
{
    return (result & 0x80000000u) != 0;
}

PDB::IParameterDB& componentDatabase()
{
    return PDB::ParameterDBCollection::getInstance(COMPONENT_DATABASE);
}

// The strategy of a description key, made on first need and never freed: stored descriptions and database
// components keep pointing to it.
PDBParameterStrategy* strategyFor(const std::string& descriptionKey)
{
    static auto* const strategies = new std::map<std::string, std::unique_ptr<PDBParameterStrategy>>();
    std::unique_ptr<PDBParameterStrategy>& strategy = (*strategies)[descriptionKey];
    if (strategy == nullptr) {
        strategy = std::make_unique<PDBParameterStrategy>();
    }
    return strategy.get();
}

// Only the letters A to Z change.
std::string lowerCase(const std::string& name)
{
    std::string lower(name);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

// A plug-in's type key: the name as listed less ".dll" (of any case), when that suffix is the last ".dll" and
// something is left before it.
bool pluginKey(const std::string& name, const std::string& lower, std::string& key)
{
    if (lower.size() <= PLUGIN_SUFFIX_LENGTH || lower.rfind(PLUGIN_SUFFIX) != lower.size() - PLUGIN_SUFFIX_LENGTH) {
        return false;
    }
    key = name.substr(0, name.size() - PLUGIN_SUFFIX_LENGTH);
    return true;
}

} // namespace

AudioComponentDLLRepository& AudioComponentDLLRepository::getInstance()
{
    // The collection and the description repository are made first, so they outlive this one at exit.
    PDB::ParameterDBCollection::getCollection();
    PDB::ComponentInfoRepository::getInstance();
    static AudioComponentDLLRepository instance;
    return instance;
}

AudioComponentDLLRepository::~AudioComponentDLLRepository()
{
    unloadAll();
}

i32 AudioComponentDLLRepository::initialize(const char* directory)
{
    FswDir* listing = nullptr;
    if (directory == nullptr || failed(fsw_openDir(&listing, directory))) {
        KLIB_LOG("[E] AudioComponentDLLRepository::initialize - OpenDir failed. (%s)\n",
                 directory != nullptr ? directory : "");
        return DADOV_E_FAILED;
    }
    const std::string folder(directory);
    std::string name;
    for (;;) {
        u32 size = 0;
        if (failed(fsw_getDirEntryNameSize(listing, &size)) || size == 0) {
            break;
        }
        name.assign(size, '\0');
        if (failed(fsw_readDir(listing, name.data(), size))) {
            break;
        }
        name.resize(strnlen(name.c_str(), size));
        loadPlugin(folder, name);
    }
    fsw_closeDir(listing);
    return DADOV_OK;
}

DADOV_CALLS_PLUGINS void AudioComponentDLLRepository::loadPlugin(const std::string& directory, const std::string& name)
{
    const std::string lower = lowerCase(name);
    std::string key;
    if (!pluginKey(name, lower, key) || m_types.count(key) != 0) {
        return; // not a plug-in, or a later name of a key already taken
    }
    AudioComponentType type;
    if (failed(ossupport::loadDynamicLibrary(&type.library, nullptr, 0, (directory + name).c_str()))) {
        KLIB_LOG("[E] AudioComponentDLLRepository::initialize - DLLOpen failed. (%s)\n", lower.c_str());
        return;
    }
    const struct
    {
        const char* name;
        PluginFactory* slot;
    } exports[] = {{EXPORT_PARAM_INFO, &type.createParamInfo},
                   {EXPORT_CALC_COEF, &type.createCalcCoef},
                   {EXPORT_AUDIO_PROCESS, &type.createAudioProcess},
                   {EXPORT_LOGIC_CONTROL, &type.createLogicControl}};
    bool complete = true;
    for (size_t i = 0; i < std::size(exports); ++i) {
        void* symbol = nullptr;
        if (failed(ossupport::getDynamicLibrarySymbol(&symbol, type.library, exports[i].name))) {
            KLIB_LOG("[E] AudioComponentDLLRepository::initialize - GetDLLFunction \"%s\" failed. (%s)\n",
                     exports[i].name, lower.c_str());
            complete = complete && i == 3; // the logic-control factory is optional
            continue;
        }
        *exports[i].slot = reinterpret_cast<PluginFactory>(symbol);
    }
    if (!complete) {
        return; // the library stays loaded
    }

    IPluginObject* object = type.createParamInfo();
    type.paramInfo = object != nullptr ? static_cast<IParamInfo*>(object->queryInterface(&IID_PARAM_INFO)) : nullptr;
    if (object != nullptr) {
        object->release(); // the interface holds a reference of its own
    }
    if (type.paramInfo == nullptr) {
        KLIB_LOG("[E] AudioComponentDLLRepository::initialize - CreateParamInfo failed. (%s)\n", lower.c_str());
        ossupport::freeDynamicLibrary(type.library);
        return;
    }

    const char* json = type.paramInfo->getComponentInfoJson();
    PDB::ComponentInfo info =
        json != nullptr ? PDB::ComponentInfoParserJSON::createFromJson(json) : PDB::ComponentInfo();
    type.strategy = strategyFor(info.getName() + "_" + std::to_string(info.getVersion()));
    if (type.strategy->getParamInfo() == nullptr) {
        PDB::WriteLock lock(componentDatabase());
        type.strategy->setup(type.paramInfo); // the first library of a description key keeps it
    }
    info.setParameterStrategy(type.strategy);
    PDB::ComponentInfoRepository::getInstance().registerComponentInfo(info);
    m_types.emplace(key, type);
    KLIB_LOG("[i] AudioComponentDLLRepository::initialize - DADOV Component[%s ver:%d] found.\n",
             info.getName().c_str(), static_cast<int>(info.getVersion()));
}

const AudioComponentType& AudioComponentDLLRepository::findType(const char* key) const
{
    static const AudioComponentType none;
    if (key == nullptr) {
        return none;
    }
    const auto found = m_types.find(key);
    return found != m_types.end() ? found->second : none;
}

DADOV_CALLS_PLUGINS i32 AudioComponentDLLRepository::unloadAll()
{
    {
        PDB::WriteLock lock(componentDatabase());
        for (auto& [key, type] : m_types) {
            if (type.strategy != nullptr && type.strategy->getParamInfo() == type.paramInfo) {
                type.strategy->setup(nullptr);
            }
        }
    }
    for (auto& [key, type] : m_types) {
        type.paramInfo->release();
        ossupport::freeDynamicLibrary(type.library);
    }
    m_types.clear();
    return DADOV_OK;
}

std::vector<std::string> AudioComponentDLLRepository::getTypeKeys() const
{
    std::vector<std::string> keys;
    keys.reserve(m_types.size());
    for (const auto& entry : m_types) {
        keys.push_back(entry.first);
    }
    return keys;
}

} // namespace DADOV

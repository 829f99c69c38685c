// AudioComponentDLLRepository: the audio-component plug-in libraries of the component directory and, per type,
// the four factories they export.
//
// initialize lists the directory ("." and ".." first, then names in byte order) and takes every name whose
// lower-case form ends in ".dll" as a plug-in; its type key is the name as listed less those four characters
// (Mixer_2.DLL gives "Mixer_2"; names differing in case are different files and keys; a later name with a key
// already taken is skipped before its library is touched). For every plug-in it registers the type's parameter
// description with the description repository and attaches the description's parameter strategy. One strategy per
// description key ("<name>_<version>") lives for the process, since stored descriptions and database components
// keep pointing to it; unloadAll detaches it and a later initialize attaches it again.
//
// Filled once while the audio component collection starts and emptied when it ends; readers take no lock, since
// the map does not change while components exist.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "dadov_PDBParameterStrategy.h"
#include "dadov_PluginInterfaces.h"
#include "klib_Types.h"
#include "os_Library.h"

namespace DADOV {

// One component type. Lookups of an unknown key give an entry whose fields are all null.
struct AudioComponentType
{
    ossupport::LibraryModule library = nullptr;
    PluginFactory createParamInfo = nullptr;
    PluginFactory createCalcCoef = nullptr;
    PluginFactory createAudioProcess = nullptr;
    PluginFactory createLogicControl = nullptr; // null: the type has no logic control
    // The type-level parameter-information interface (one reference held).
    IParamInfo* paramInfo = nullptr;
    // The description's strategy (process lifetime, shared by types with one description key).
    PDBParameterStrategy* strategy = nullptr;
};

class AudioComponentDLLRepository
{
public:
    static AudioComponentDLLRepository& getInstance();

    // Does what unloadAll does.
    ~AudioComponentDLLRepository();
    AudioComponentDLLRepository(const AudioComponentDLLRepository&) = delete;
    AudioComponentDLLRepository& operator=(const AudioComponentDLLRepository&) = delete;

    // Scans the directory (a path ending in a separator: names are appended as they are): 0, also when plug-ins
    // fail (each failure is logged and the file skipped); 0x80000000 and "OpenDir failed" when it cannot be listed.
    [[nodiscard]] i32 initialize(const char* directory);
    // The entry of a type key; the null entry for null or an unknown key.
    const AudioComponentType& findType(const char* key) const;
    // Detaches every strategy (under the component database's write lock), releases the type-level interfaces,
    // unloads the libraries and empties the map: 0.
    i32 unloadAll();

    // The type keys in map order.
    std::vector<std::string> getTypeKeys() const;

private:
    AudioComponentDLLRepository() = default;

    // Loads one listed name; logs and skips what fails.
    void loadPlugin(const std::string& directory, const std::string& name);

    std::map<std::string, AudioComponentType> m_types;
};

} // namespace DADOV

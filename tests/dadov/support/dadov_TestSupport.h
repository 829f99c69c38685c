// Helpers of the engine suites: plug-in folders, the process-wide parameter databases and the test plug-ins' probes.
#pragma once

#include <string>

#include "dadov_AudioComponentDLLRepository.h"
#include "dadov_TestPluginProbe.h"
#include "fsw_TestSupport.h"
#include "klib_Types.h"

namespace dadovtest {

// A fresh folder holding copies of built test plug-ins (and any other files a test puts there).
class PluginFolder
{
public:
    // The folder's path with a trailing "/", as the repository wants it.
    std::string path() const { return m_dir.path() + "/"; }
    // Copies the built plug-in fileName under the name as (default: the same name).
    void add(const std::string& fileName, const std::string& as = "");
    void addText(const std::string& name, const std::string& content);

private:
    fswtest::TempDir m_dir;
};

// Databases 0 to count - 1 of the process-wide collection ("DB0", ...), each with a recursive lock; existing ones
// stay.
void createDatabases(u32 count);

// The probe of a loaded test plug-in (null when it has none).
TestPluginProbe* probeOf(const DADOV::AudioComponentType& type);

} // namespace dadovtest

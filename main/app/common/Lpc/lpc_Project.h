// Project: the project files of logical position control. A project bundles the files of the folders of the
// project-contents map (item name -> folder) and the "ProjectInfo" database into one project file.
//
// So far it sets the project file up; saving and loading are not built yet. Used on the device-control thread
// only.
#pragma once

#include <map>
#include <string>

#include "klib_Types.h"
#include "pdb_ProjectFile.h"

namespace MMSFUNC {
class SelectedItemLoader;
}

namespace LPC {

class Project
{
public:
    static constexpr const char* MODEL_TAG = "ZethImage";
    static constexpr u32 VERSION = 1;
    static constexpr u32 TABLE_HEADER_VALUE = 1;

    // Sets the project file up with the items of contents and the loader that extracts a selection: 0;
    // PYRITE_E_FAILED when an item name cannot be stored (nothing changed).
    [[nodiscard]] u32 initialize(const std::map<std::string, std::string>& contents,
                                 MMSFUNC::SelectedItemLoader* loader);

    PDB::ProjectFile& getProjectFile() { return m_file; }

private:
    PDB::ProjectFile m_file;
};

} // namespace LPC

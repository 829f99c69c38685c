// PresetContentsList: the items of a preset file (see ItemContentsList). The preset list fills it with
// addParameterBlockOfInstance.
#pragma once

#include "pdb_SnapshotContentsList.h"

namespace PDB {

class PresetContentsList : public ItemContentsList
{
public:
    PresetContentsList() = default;
    PresetContentsList(const PresetContentsList&) = default;
    PresetContentsList& operator=(const PresetContentsList&) = default;
    ~PresetContentsList() override = default;
};

} // namespace PDB

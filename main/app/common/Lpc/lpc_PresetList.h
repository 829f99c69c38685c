// PresetList: the presets of logical position control, up to 128 per preset type, one file
// ("<number>.zethip") each in the type's folder below the preset folder ("<preset folder>/3DRev").
//
// So far it keeps its folders and lists the preset files; storing, recalling, removing and protecting presets
// are not built yet. Used on the device-control thread only.
#pragma once

#include <string>
#include <vector>

#include "klib_Types.h"

namespace LPC {

class PresetList
{
public:
    static constexpr const char* EXTENSION = "zethip";
    static constexpr const char* TYPE_3DREV = "3DRev";
    static constexpr u32 MAX_PRESETS_PER_TYPE = 128;

    // Keeps the preset folder and makes it with the type folder, then reloads: 0; PYRITE_E_FAILED for a null path
    // or a folder that cannot be made.
    [[nodiscard]] u32 initialize(const char* presetDirectory);
    // Lists the preset files of the type folder: 0; PYRITE_E_FAILED (no presets) when it cannot be read.
    [[nodiscard]] u32 reload();

    const std::string& getPresetDirectory() const { return m_presetDirectory; }
    std::string getTypeDirectory() const { return m_presetDirectory + "/" + TYPE_3DREV; }
    const std::vector<std::string>& getPresetFiles() const { return m_presetFiles; }

private:
    std::string m_presetDirectory;
    std::vector<std::string> m_presetFiles;
};

} // namespace LPC

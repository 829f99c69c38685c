// PresetList: the presets of logical position control, numbers 1 to 128 per preset type, one file
// ("<number>.zethip") each in the type's folder below the preset folder ("<preset folder>/3DRev"). "3DRev" is the
// one type: a preset holds every parameter block of the component "nqCurrent" under "/3DRev/" except the preset
// number "/3DRev/Preset" itself, and is recalled onto that component.
//
// Recalls write without change marks; afterwards every value of the component database is refreshed, so every
// subscriber sees the recalled values. A protected preset is a read-only file: storing over it, and deleting it,
// fail until the protection is taken away.
//
// The operations are virtual so that a stand-in can take the list's place. Used on the device-control thread only.
#pragma once

#include <string>
#include <vector>

#include "klib_Types.h"

namespace PDB {
class PresetContentsList;
}

namespace LPC {

class PresetList
{
public:
    static constexpr const char* EXTENSION = "zethip";
    static constexpr const char* TYPE_3DREV = "3DRev";
    static constexpr const char* MODEL_TAG = "HUX-NQ";
    static constexpr u32 VERSION = 0;
    static constexpr u32 HEADER_VALUE = 0;
    static constexpr u32 MAX_PRESETS_PER_TYPE = 128;
    // The component of database 10 a preset is taken from and recalled onto.
    static constexpr u32 COMPONENT_UID = 0;

    PresetList();
    virtual ~PresetList();
    PresetList(const PresetList&) = delete;
    PresetList& operator=(const PresetList&) = delete;

    // Keeps the preset folder and makes it with the type folder, then reloads: 0; PYRITE_E_FAILED for a null path
    // or a folder that cannot be made.
    [[nodiscard]] virtual u32 initialize(const char* presetDirectory);
    // Lists the preset files of the type folder: 0; PYRITE_E_FAILED (no presets) when it cannot be read.
    [[nodiscard]] virtual u32 reload();

    // Each: 0; PYRITE_E_NOT_FOUND for another type than "3DRev" (or a null one); PYRITE_E_RANGE for a number
    // outside 1..128; PYRITE_E_FAILED before initialize.
    // store: the preset's blocks as they are now, with the title (null: empty); the preset file's failure
    // (0x80000080 when the file cannot be replaced, a protected one included; the old file stays).
    [[nodiscard]] virtual u32 store(const char* type, u32 number, const char* title);
    // recall: the preset's values onto the component, then the refresh; the load's or the recall's failure.
    [[nodiscard]] virtual u32 recall(const char* type, u32 number);
    // remove: the file API's failure (a protected or missing preset).
    [[nodiscard]] virtual u32 remove(const char* type, u32 number);
    // protect: on other than 0 protects; the file API's failure (a missing preset).
    [[nodiscard]] virtual u32 protect(const char* type, u32 number, u32 on);

    const std::string& getPresetDirectory() const { return m_presetDirectory; }
    std::string getTypeDirectory() const { return m_presetDirectory + "/" + TYPE_3DREV; }
    const std::vector<std::string>& getPresetFiles() const { return m_presetFiles; }
    // "<number>.zethip".
    static std::string fileName(u32 number);

private:
    u32 check(const char* type, u32 number) const;
    // The blocks a preset of the type holds: 0; PYRITE_E_NOT_FOUND when the component has none.
    static u32 fillContents(PDB::PresetContentsList& contents);

    std::string m_presetDirectory;
    std::vector<std::string> m_presetFiles;
};

} // namespace LPC

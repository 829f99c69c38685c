#include "lpc_PresetList.h"

#include <cstring>
#include <new>
#include <string>

#include "fsw_api.h"
#include "lpc_Folder.h"
#include "lpc_Parameter.h"
#include "pdb_PresetData.h"
#include "pyrite_Result.h"

namespace LPC {

namespace {

constexpr u8 WRITE_ALL = 0xFF;
// The preset number is the selection of a preset, not part of it.
constexpr const char* PRESET_NUMBER = "/3DRev/Preset";
constexpr const char* PRESET_BLOCKS = "/3DRev/";

} // namespace

PresetList::PresetList() = default;
PresetList::~PresetList() = default;

u32 PresetList::initialize(const char* presetDirectory)
{
    if (presetDirectory == nullptr) {
        return PYRITE::PYRITE_E_FAILED;
    }
    m_presetDirectory = presetDirectory;
    const u32 made = makeFolder(getTypeDirectory());
    return reload() | made;
}

u32 PresetList::reload()
{
    if (m_presetDirectory.empty()) {
        m_presetFiles.clear();
        return PYRITE::PYRITE_E_FAILED;
    }
    return listFiles(getTypeDirectory(), EXTENSION, m_presetFiles);
}

std::string PresetList::fileName(u32 number)
{
    return std::to_string(number) + "." + EXTENSION;
}

u32 PresetList::check(const char* type, u32 number) const
{
    if (type == nullptr || std::strcmp(type, TYPE_3DREV) != 0) {
        return PYRITE::PYRITE_E_NOT_FOUND;
    }
    if (number < 1 || number > MAX_PRESETS_PER_TYPE) {
        return PYRITE::PYRITE_E_RANGE;
    }
    return m_presetDirectory.empty() ? PYRITE::PYRITE_E_FAILED : PYRITE::PYRITE_OK;
}

u32 PresetList::fillContents(PDB::PresetContentsList& contents)
{
    PDB::IParameterDB& database = getComponentDB();
    const size_t prefix = std::strlen(PRESET_BLOCKS);
    database.lockRead();
    const u32 component = database.getComponentIndex(COMPONENT_UID);
    const u32 blocks = database.getBlockCount(component);
    for (u32 block = 0; block < blocks; ++block) {
        const PDB::ParameterInfo* info = database.getParameterInfo(component, block);
        if (info != nullptr && info->getAddress().compare(0, prefix, PRESET_BLOCKS) == 0 &&
            info->getAddress() != PRESET_NUMBER) {
            (void)contents.addParameterBlockOfInstance(database.resolveAddress(component, block));
        }
    }
    database.unlockRead();
    return contents.isEmpty() ? PYRITE::PYRITE_E_NOT_FOUND : PYRITE::PYRITE_OK;
}

u32 PresetList::store(const char* type, u32 number, const char* title)
{
    u32 result = check(type, number);
    PDB::PresetContentsList contents;
    if (result == PYRITE::PYRITE_OK) {
        result = fillContents(contents);
    }
    if (result != PYRITE::PYRITE_OK) {
        return result;
    }
    PDB::PresetData preset;
    i32 step = preset.initialize(MODEL_TAG, VERSION, HEADER_VALUE, type, contents, getTypeDirectory().c_str());
    if (step >= 0) {
        preset.getInfoDatabase().setValueString(preset.getInfoAddress(PDB::ItemFile::INFO_TITLE), 0, 0,
                                                title != nullptr ? title : "", WRITE_ALL);
        step = preset.storeContents();
    }
    if (step >= 0) {
        step = preset.save(fileName(number).c_str());
    }
    (void)reload();
    return step < 0 ? static_cast<u32>(step) : PYRITE::PYRITE_OK;
}

u32 PresetList::recall(const char* type, u32 number)
{
    const u32 checked = check(type, number);
    if (checked != PYRITE::PYRITE_OK) {
        return checked;
    }
    PDB::PresetData preset;
    i32 step = preset.initialize(MODEL_TAG, VERSION, HEADER_VALUE, nullptr, PDB::PresetContentsList(),
                                 getTypeDirectory().c_str());
    if (step >= 0) {
        step = preset.load(fileName(number).c_str());
    }
    if (step < 0) {
        return static_cast<u32>(step);
    }
    PDB::IParameterDB& database = getComponentDB();
    step = preset.recall(database, COMPONENT_UID);
    (void)database.refreshAllValues(WRITE_ALL);
    return step < 0 ? static_cast<u32>(step) : PYRITE::PYRITE_OK;
}

u32 PresetList::remove(const char* type, u32 number)
{
    u32 result = check(type, number);
    if (result == PYRITE::PYRITE_OK) {
        result = fsw_remove((getTypeDirectory() + "/" + fileName(number)).c_str());
        (void)reload();
    }
    return result;
}

u32 PresetList::protect(const char* type, u32 number, u32 on)
{
    const u32 checked = check(type, number);
    if (checked != PYRITE::PYRITE_OK) {
        return checked;
    }
    return fsw_setAttributes(on != 0 ? FSW_ATTR_READONLY : FSW_ATTR_NORMAL,
                             (getTypeDirectory() + "/" + fileName(number)).c_str());
}

} // namespace LPC

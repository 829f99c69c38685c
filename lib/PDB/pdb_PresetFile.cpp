#include <new>

#include "klib_Print.h"
#include "pdb_MBDFPDBBlock.h"
#include "pdb_PresetData.h"
#include "pdb_SnapshotRecord.h"

namespace PDB {

namespace {

const char* const PRESET_INFO_ADDRESSES[ItemFile::INFO_ADDRESS_COUNT] = {
    "/Info/ProductName",      "/Info/ProductSubName", "/Info/PresetType",
    "/Info/Protect",          "/Info/Title",          "/Info/Comment",
    "/Info/OwnerName",        "/Info/TimeStamp/Year", "/Info/TimeStamp/Month",
    "/Info/TimeStamp/Day",    "/Info/TimeStamp/Hour", "/Info/TimeStamp/Minute",
    "/Info/TimeStamp/Second",
};

} // namespace

PresetData::PresetData()
{
    MBDFPDBPSBlock::registerFactory();
}

PresetData::~PresetData() = default;

const char* PresetData::getItemBlockTag() const
{
    return MBDFPDBPSBlock::TAG;
}

const char* const* PresetData::getInfoAddressTexts() const
{
    return PRESET_INFO_ADDRESSES;
}

i32 PresetData::initialize(const char* modelTag, u32 version, u32 headerValue, const char* presetType,
                           const PresetContentsList& contents, const char* directory)
{
    if (modelTag == nullptr) {
        return ItemFileResult::BAD_ARGUMENT;
    }
    m_contents = contents;
    const i32 result = initializeCommon(modelTag, version, headerValue, directory);
    if (result < 0) {
        return result;
    }
    if (presetType != nullptr && m_info.hasOwnerThread()) {
        m_info.setValueString(m_infoAddresses[INFO_TYPE], 0, 0, presetType, 0xFF);
    }
    return 0;
}

FILECACHE::MBDFAbstractBlock* PresetData::buildItemBlock(const PresetItem& item, i32& result)
{
    MBDFPDBPSBlock* block = new (std::nothrow) MBDFPDBPSBlock();
    if (block == nullptr) {
        result = ItemFileResult::READ_FAILED;
        return nullptr;
    }
    result = setupPresetBlock(*block, "", item, m_headerValue, true);
    return block;
}

i32 PresetData::decodeItemHeader(PresetItem& item, const u8* record, u32 size)
{
    return decodePresetRecord(item, nullptr, INVALID_COMPONENT_UID, record, size, false);
}

bool PresetData::isProtected(IParameterDB& db)
{
    return db.getValueUInt(m_infoAddresses[INFO_PROTECT], 0, 0, nullptr) != 0;
}

void PresetData::logCannotAddInfoBlock()
{
    KLIB_LOG("[E] PresetData::store - cannot add ssinfo block!\n");
}

void PresetData::logCannotAddItemBlock(u32 index)
{
    KLIB_LOG("[E] PresetData::store - cannot add #%d block!\n", static_cast<int>(index));
}

void PresetData::logCannotApplyInfoBlock()
{
    KLIB_LOG("[E] PresetData::applyPresetInfo - cannot add ssinfo block!\n");
}

i32 PresetData::recall(IParameterDB& db, ComponentUID uid)
{
    if (!isComplete()) {
        return ItemFileResult::NOTHING_TO_DO;
    }
    bool failed = importInfoBlock() < 0;
    for (FILECACHE::MBDFAbstractBlock* block : getItemBlocks()) {
        PresetItem item;
        if (decodePresetRecord(item, &db, uid, block->getData(), block->getDataSize(false), true) < 0) {
            failed = true;
        }
    }
    return failed ? ItemFileResult::MALFORMED : 0;
}

} // namespace PDB

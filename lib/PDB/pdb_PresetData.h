// PresetData: a preset, i.e. a stored set of parameter values applied at recall time to a component chosen by
// the caller, not to the one it was taken from. An MBDF container of kind "Preset" (see ItemFile for the layout)
// with one "#PDB PS" block ("#PC1" record) per contents item and the "PresetInfo" information.
//
// The preset list keeps one PresetData per slot and stores each preset as a file (extension "zethip").
//
// Recall writes through the target database's recall brackets under its write lock, without change marks for
// ordinary observers (only observers registered with filter byte 1 see them); a caller whose observers must see
// the values calls refreshAllValues afterwards. A kind-0 record applies its table by its own uids to the whole
// target database.
#pragma once

#include "klib_Types.h"
#include "pdb_ItemFile.h"
#include "pdb_PresetContentsList.h"

namespace PDB {

class PresetData : public ItemFile
{
public:
    static constexpr const char* FILE_KIND = "Preset";
    static constexpr const char* INFO_DATABASE = "PresetInfo";

    // Registers the block factories a preset is read with ("#PDB DB", "#PDB PS").
    PresetData();
    ~PresetData() override;

    // As SnapshotData::initialize, from the process-wide "PresetInfo"; a preset type that is not null is written
    // into "/Info/PresetType". 0x80000001 for a null tag.
    i32 initialize(const char* modelTag, u32 version, u32 headerValue, const char* presetType,
                   const PresetContentsList& contents, const char* directory);

    // Applies every stored record to component uid of db (whatever component the records were taken from; its
    // type name must match), after importing the information block; goes on after failures. Blocks are written
    // whether recallable or not. 0; 0x80080000 container not complete; 0x80010000 any step failed.
    i32 recall(IParameterDB& db, ComponentUID uid);
    // Replaces the information (see ItemFile::applyInfo).
    i32 applyPresetInfo(IParameterDB& info) { return applyInfo(info); }

    // The item at index, or the shared empty item (kind 4).
    const PresetItem& getItem(u32 index) const { return m_contents.getItem(index); }
    PresetContentsList& getContents() { return m_contents; }
    const PresetContentsList& getContents() const { return m_contents; }

private:
    const char* getFileKind() const override { return FILE_KIND; }
    const char* getInfoDatabaseName() const override { return INFO_DATABASE; }
    const char* getItemBlockTag() const override;
    const char* const* getInfoAddressTexts() const override;
    ItemContentsList& getContentsList() override { return m_contents; }
    FILECACHE::MBDFAbstractBlock* buildItemBlock(const PresetItem& item, i32& result) override;
    i32 decodeItemHeader(PresetItem& item, const u8* record, u32 size) override;
    bool isProtected(IParameterDB& db) override;
    void logCannotAddInfoBlock() override;
    void logCannotAddItemBlock(u32 index) override;
    void logCannotApplyInfoBlock() override;

    PresetContentsList m_contents;
};

} // namespace PDB

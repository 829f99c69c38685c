// SnapshotData: a snapshot, i.e. a chosen set of parameter values of the process-wide databases kept as an MBDF
// container of kind "Snapshot" (see ItemFile for the layout) with one "#PDB SS" block ("#SC1" record) per
// contents item, and the "SnapshotInfo" information (title, comment, owner, protection, data type, time stamp).
//
// The scene list stores scenes as snapshot files (model tag "HUX-NQ", version 0, table header value 0); the
// copy and paste of the editor link exchanges in-memory images (model tag "VEXA_SNAPSHOT", 1, 1).
//
// Applying records writes through the databases' recall brackets under their write locks; the direct recalls
// write without change marks for ordinary observers (only observers registered with filter byte 1 see them), so a
// caller whose observers must see the values calls refreshAllValues afterwards.
#pragma once

#include "klib_Types.h"
#include "pdb_ItemFile.h"
#include "pdb_SnapshotContentsList.h"

namespace PDB {

class SnapshotData : public ItemFile
{
public:
    static constexpr const char* FILE_KIND = "Snapshot";
    static constexpr const char* INFO_DATABASE = "SnapshotInfo";

    // Registers the block factories a snapshot is read with ("#PDB DB", "#PDB SS").
    SnapshotData();
    ~SnapshotData() override;

    // Settings, a copy of contents, the directory (null: none; created with every missing folder) and the
    // information database copied from the process-wide "SnapshotInfo" (left empty when that has no owner),
    // with the model tag written into "/Info/ProductName". 0x80000001 for a null tag.
    i32 initialize(const char* modelTag, u32 version, u32 headerValue, const SnapshotContentsList& contents,
                   const char* directory);

    // Applies every stored record to the databases of the process-wide collection, in container order, after
    // importing the information block; goes on after failures. 0; 0x80080000 container not complete;
    // 0x80010000 any step failed.
    i32 recallToCollection();
    // Applies the snapshot while every parameter named in recallSafe keeps its live value: the records go into a
    // private copy of the collection, the live recall-safe values over them, and the snapshot's own items are
    // then encoded from the copy and applied to the live databases. 0; 0x80080000 container not complete;
    // 0x80010000 at the first failing step.
    i32 recall(const SnapshotContentsList& recallSafe);
    // Replaces the information (see ItemFile::applyInfo). 0; 0x80080000 mismatching information database; the
    // failure of the new information block.
    i32 applySnapshotInfo(IParameterDB& info) { return applyInfo(info); }

    // The container as one byte image: top block, information block, every "#PDB SS" block, end block, each as
    // in a file. 0; 0x80000001 null buffer or size below getFileSize; 0x80080000 empty contents or incomplete
    // container; 0x80000000 a block that is not valid.
    i32 exportImage(u8* buffer, u32 size);
    // Reads an image block by block: "#KORVAN MBDF..." replaces the top block, "#END" the end block and ends the
    // reading (an image that ends without one gets one), anything else is appended. The information block stays
    // in the container and is not imported. 0; 0x80000001 null image; 0x80000000 a block cannot be read;
    // 0x80020000 another kind or model tag; 0x80010000 invalid container; on failure the container and the
    // contents list are left empty.
    i32 importImage(const u8* image, u32 size);
    // Size of the image exportImage writes; 0 when the container is not valid.
    u64 getFileSize();

    // The item at index, or the shared empty item (kind 4).
    const PresetItem& getItem(u32 index) const { return m_contents.getItem(index); }
    SnapshotContentsList& getContents() { return m_contents; }
    const SnapshotContentsList& getContents() const { return m_contents; }

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

    // The blocks an image holds, in order (the information block only when present).
    std::vector<const FILECACHE::MBDFAbstractBlock*> getImageBlocks();

    SnapshotContentsList m_contents;
};

} // namespace PDB

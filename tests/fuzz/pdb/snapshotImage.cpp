// Fuzz target: snapshot images in memory (the copy and paste images of the editor link, and scene files taken as
// images), read with SnapshotData::importImage. An image that reads exports again, and that export reads back to
// the same items and the same bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_PdbSetup.h"
#include "pdb_SnapshotData.h"

namespace {

void roundTrip(PDB::SnapshotData& snapshot, const uint8_t* data, size_t size)
{
    if (snapshot.importImage(data, static_cast<u32>(size)) != 0) {
        return;
    }
    const u64 imageSize = snapshot.getFileSize();
    if (imageSize == 0 || imageSize > 0x1000000) {
        return;
    }
    std::vector<u8> image(imageSize);
    if (snapshot.exportImage(image.data(), static_cast<u32>(image.size())) != 0) {
        return; // nothing to export (no item), or a block that is not valid
    }
    const std::vector<PDB::PresetItem> items = snapshot.getContents().getItems();
    std::vector<u8> again(imageSize);
    if (snapshot.importImage(image.data(), static_cast<u32>(image.size())) != 0 ||
        snapshot.getFileSize() != imageSize || snapshot.getContents().getItems() != items ||
        snapshot.exportImage(again.data(), static_cast<u32>(again.size())) != 0 || again != image) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    pdbfuzz::setUpCollection();
    static PDB::SnapshotData* const images = [] {
        auto* made = new PDB::SnapshotData();
        made->initialize("VEXA_SNAPSHOT", 1, 1, PDB::SnapshotContentsList(), nullptr);
        return made;
    }();
    static PDB::SnapshotData* const scenes = [] {
        auto* made = new PDB::SnapshotData();
        made->initialize("HUX-NQ", 0, 0, PDB::SnapshotContentsList(), nullptr);
        return made;
    }();
    const size_t limited = size > 0x100000 ? 0x100000 : size;
    roundTrip(*images, data, limited);
    roundTrip(*scenes, data, limited);
    return 0;
}

// Fuzz target: snapshot and preset files loaded and recalled into the databases of the collection. A file that
// loads is saved again and that copy loads to the same items. The databases are put back after every input.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_PdbSetup.h"
#include "pdb_PresetData.h"
#include "pdb_SnapshotData.h"

namespace {

// Saves what was loaded under another name and loads it back: the same items.
void roundTrip(PDB::ItemFile& file, const std::vector<PDB::PresetItem>& (*itemsOf)(PDB::ItemFile&))
{
    const std::vector<PDB::PresetItem> items = itemsOf(file);
    if (items.empty()) {
        return;
    }
    if (file.save("copy.bin") != 0) {
        std::abort(); // a complete container that was read can be written
    }
    if (file.load("copy.bin") != 0 || itemsOf(file) != items) {
        std::abort();
    }
}

const std::vector<PDB::PresetItem>& snapshotItems(PDB::ItemFile& file)
{
    return static_cast<PDB::SnapshotData&>(file).getContents().getItems();
}

const std::vector<PDB::PresetItem>& presetItems(PDB::ItemFile& file)
{
    return static_cast<PDB::PresetData&>(file).getContents().getItems();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const pdbfuzz::References& references = pdbfuzz::setUpCollection();
    static PDB::SnapshotData* const snapshot = [] {
        auto* made = new PDB::SnapshotData();
        made->initialize("HUX-NQ", 0, 0, PDB::SnapshotContentsList(), pdbfuzz::scratch().c_str());
        return made;
    }();
    static PDB::PresetData* const preset = [] {
        auto* made = new PDB::PresetData();
        made->initialize("HUX-NQ", 0, 0, "fuzz", PDB::PresetContentsList(), pdbfuzz::scratch().c_str());
        return made;
    }();
    pdbfuzz::writeInput(pdbfuzz::scratch() + "/input.bin", data, size);

    const i32 snapshotLoaded = snapshot->load("input.bin");
    if (snapshotLoaded == 0) {
        snapshot->recallToCollection();
        snapshot->recall(PDB::SnapshotContentsList());
        roundTrip(*snapshot, &snapshotItems);
    }
    const i32 presetLoaded = preset->load("input.bin");
    if (presetLoaded == 0) {
        for (PDB::ComponentUID uid : {PDB::ComponentUID{0x101}, PDB::ComponentUID{0x201}, PDB::ComponentUID{0x301}}) {
            preset->recall(pdbfuzz::testDB(), uid);
        }
        roundTrip(*preset, &presetItems);
    }
    if (snapshotLoaded == 0 || presetLoaded == 0) {
        pdbfuzz::resetCollection(references);
    }
    return 0;
}

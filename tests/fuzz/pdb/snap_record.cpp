// Fuzz target: snapshot ("#SC1") and preset ("#PC1") item records decoded header-only and applied, into a
// private copy of a collection and into a local database. A header that reads must read back the same after
// it is written again.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "../../pdb/compo_TestTypes.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_SnapshotRecord.h"

namespace {

const PDB::ParameterDBCollection& collection()
{
    static const bool made = [] {
        compo_test::registerAllTypes();
        compo_test::registerGain();
        if (PDB::ParameterDBCollection::createInstance(3, "Test", nullptr, 0) < 0) {
            std::abort();
        }
        PDB::IParameterDB& db = PDB::ParameterDBCollection::getInstance(3);
        db.addComponent(0x201, "AllTypes", 2, 3, 2, 0);
        db.addComponent(0x101, "Gain", 1, 0, 0, 0);
        return true;
    }();
    (void)made;
    return PDB::ParameterDBCollection::getCollection();
}

// Writes the item's header again (no values) and checks that it reads back unchanged.
void checkHeader(const PDB::PresetItem& item, PDB::IParameterDB& db, bool preset)
{
    if (!item.isValid() || item.getKind() > PDB::PresetItem::KIND_ELEMENTS) {
        return;
    }
    const PDB::ComponentUID uid = item.getComponentUID();
    std::vector<u8> out(16 + 3 * 256);
    const i32 written =
        preset ? PDB::encodePresetRecord(item, &db, uid, out.data(), static_cast<u32>(out.size()), 0, false)
               : PDB::encodeSnapshotRecord(item, collection(), out.data(), static_cast<u32>(out.size()), 0, false);
    if (written < 0) {
        return; // e.g. a kind-3 index that the record cannot carry, or a database that is not there
    }
    PDB::PresetItem back;
    const i32 read =
        preset ? PDB::decodePresetRecord(back, &db, uid, out.data(), static_cast<u32>(out.size()), false)
               : PDB::decodeSnapshotRecord(back, collection(), out.data(), static_cast<u32>(out.size()), false);
    if (read != 0 || !(back == item)) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto limited = static_cast<u32>(size > 0x100000 ? 0x100000 : size);
    const std::vector<u8> snapshot(data, data + limited);
    std::vector<u8> preset(snapshot);
    if (preset.size() > 1) {
        preset[1] = 'P'; // the same bytes as a preset record
    }
    const u8* snapshotBytes = snapshot.empty() ? nullptr : snapshot.data();
    const u8* presetBytes = preset.empty() ? nullptr : preset.data();

    PDB::ParameterDBCollection copy(collection());
    PDB::PresetItem item;
    if (PDB::decodeSnapshotRecord(item, copy, snapshotBytes, limited, false) == 0) {
        checkHeader(item, copy.getEntry(3), false);
    }
    PDB::decodeSnapshotRecord(item, copy, snapshotBytes, limited, true);

    PDB::LocalParameterDB local(collection().getEntry(3));
    if (PDB::decodePresetRecord(item, &local, 0x101, presetBytes, limited, false) == 0) {
        checkHeader(item, local, true);
    }
    PDB::decodePresetRecord(item, &local, 0x101, presetBytes, limited, true);
    PDB::decodePresetRecord(item, &local, 0x201, presetBytes, limited, true);
    return 0;
}

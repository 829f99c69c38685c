// Fuzz target: the "#CI1" record reader. Any input must give a result code without a fault; an accepted record
// describes a registered type within its limits and exports to a record that reads back the same.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "pdb_ComponentInfo.h"
#include "pdb_ComponentInfoRepository.h"

namespace {

// The type the seeds name: "Mixer" version 3, X 1..8.
bool registerMixer()
{
    PDB::ComponentInfo info;
    info.initialize("Mixer", 3, 1, 1, 8, 1, "", "", nullptr);
    info.addParameterUInt8("/Mix/Gain", PDB::PATTERN_MULTIPLY | 2, 1, "", "", 0, 100, 0, 0, 1, 1,
                           PDB::ParameterAttribute(), "", "", "");
    info.addParameterString("/Mix/Name", 1, 1, "", "", 16, "", PDB::ParameterAttribute(), "", "", "");
    return PDB::ComponentInfoRepository::getInstance().registerComponentInfo(info) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool registered = registerMixer();
    (void)registered;
    const u32 length = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<u32>(size);
    PDB::ComponentInfo info;
    u32 count = 0;
    const i32 result = info.importBinary(data, length, count);
    if (result < 0) {
        if (info.hasParameters()) {
            std::abort();
        }
        return 0;
    }
    if (!info.hasParameters() || info.getCurrentX() < info.getMinX() || info.getCurrentX() > info.getMaxX()) {
        std::abort();
    }
    u8 record[92];
    if (info.exportBinary(record, sizeof(record)) != 0) {
        std::abort();
    }
    PDB::ComponentInfo again;
    u32 countAgain = 0;
    if (again.importBinary(record, sizeof(record), countAgain) != 0 ||
        again.getComponentUID() != info.getComponentUID() || again.getInstanceName() != info.getInstanceName() ||
        again.getCurrentX() != info.getCurrentX() || again.getUserValue() != info.getUserValue()) {
        std::abort();
    }
    return 0;
}

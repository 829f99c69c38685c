// Fuzz target: copy images pasted through the executor. The first byte picks the entry the image is pasted as (a
// component or one of three parameter selections of a component with a float block and a text), the rest is the
// image. Any image must paste without a fault, and an image whose paste fails must leave every database
// byte-identical.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pdb_ComponentInfoParserJSON.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_SimpleReadWriteMutex.h"
#include "tms_ThreadRepository.h"
#include "vdp_Executor.h"

namespace {

constexpr const char* MIXED_TYPE = R"({"component": {"name": "mixed", "majorVer": 1, "minX": 1, "minY": 1,
 "maxX": 4, "maxY": 4},
 "parameters": [
  {"attr": {"recallable": 1, "nonvolatile": 1}, "strAddress": "/Cell", "type": "FLOAT", "patternX": "*1",
   "patternY": "*1", "min": "-100", "max": "100", "def": "0"},
  {"attr": {"recallable": 1, "nonvolatile": 1}, "strAddress": "/Count", "type": "UINT32", "max": "1000"},
  {"attr": {"recallable": 1, "nonvolatile": 1}, "strAddress": "/Name", "type": "STRING", "max": "16"}]})";

// The entries an image is pasted as, picked by the first input byte.
constexpr const char* ENTRIES[][2] = {
    {"currentCpt", "AudioCompo/#100"},
    {"currentPrm", "AudioCompo/#100/Cell:1:2"},
    {"currentPrm", "AudioCompo/#100/Cell:-1:0"},
    {"currentPrm", "AudioCompo/#100/Name:0:0"},
};
constexpr u32 ENTRY_COUNT = sizeof(ENTRIES) / sizeof(ENTRIES[0]);

void registerType(const std::string& json)
{
    PDB::ComponentInfoRepository::getInstance().registerComponentInfo(
        PDB::ComponentInfoParserJSON::createFromJson(json.c_str()));
}

// "SnapshotInfo" from its shipped description and the component database with one "mixed" component of 2 x 3.
VDevice::VDProtocolExecutor& executor()
{
    static VDevice::VDProtocolExecutor* const made = [] {
        static PDB::SimpleReadWriteMutex lock;
        (void)TMS::ThreadRepository::initialize();
        std::ifstream file(std::string(VD_LAYOUT_DIR) + "/Descriptor/SnapshotInfo_1.json");
        registerType(std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()));
        registerType(MIXED_TYPE);
        if (PDB::ParameterDBCollection::createInstance(7, "SnapshotInfo", &lock, 0) < 0 ||
            PDB::ParameterDBCollection::createInstance(10, "AudioCompo", &lock, 0) < 0 ||
            PDB::ParameterDBCollection::getInstance(7).addComponent(0, "SnapshotInfo", 1, 1, 1, 0) < 0 ||
            PDB::ParameterDBCollection::getInstance(10).addComponent(100, "mixed", 1, 2, 3, 0) < 0) {
            std::abort();
        }
        return new VDevice::VDProtocolExecutor("fuzz", nullptr);
    }();
    return *made;
}

std::vector<std::string> exportDatabases()
{
    std::vector<std::string> images;
    for (u32 position : {7u, 10u}) {
        const PDB::IParameterDB& database = PDB::ParameterDBCollection::getInstance(position);
        std::string image(database.getComponentTableSize(), '\0');
        if (database.exportComponentTable(image.data(), static_cast<u32>(image.size()), 0) < 0) {
            std::abort();
        }
        images.push_back(std::move(image));
    }
    return images;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    VDevice::VDProtocolExecutor& pasting = executor();
    if (size == 0 || size > KVariant::MAX_BINARY_SIZE) {
        return 0;
    }
    VDProtocol::PacketContainer request;
    VDProtocol::ArgumentMap& entry = request.m_list.emplace_back();
    const auto* names = ENTRIES[data[0] % ENTRY_COUNT];
    (void)entry.setString("type", names[0]);
    (void)entry.setString("prmAddr", names[1]);
    // A binary value holds at least one byte: an image of none is pasted as a missing "d:data".
    (void)entry.setBinary("d:data", data + 1, static_cast<u32>(size - 1));

    const std::vector<std::string> before = exportDatabases();
    if (pasting.pasteSnapshots(request) < 0 && exportDatabases() != before) {
        std::abort();
    }
    return 0;
}

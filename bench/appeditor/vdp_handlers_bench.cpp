// The executor's parameter handlers:
//   BM_ReadBlockHandler: "getData" "prm_val" of a 64 x 8 float block with x and y -1, dispatched and its reply
//   sent, against BM_ReadBlockDirect, which reads the block and builds and sends the same 512 maps without the
//   handler (the ratio is the handler's overhead);
//   BM_CopyPasteRoundTrip: "getData" "copy_paste" of a component with 100 float parameters, then "setData"
//   "copy_paste" of its image.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "pdb_ComponentInfoParserJSON.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_NullMutex.h"
#include "pdb_ParameterArray.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_ParameterDBNULL.h"
#include "pdb_SimpleReadWriteMutex.h"
#include "tms_ThreadRepository.h"
#include "vdp_Address.h"
#include "vdp_DiscardUnit.h"
#include "vdp_Executor.h"

namespace {

constexpr u32 BLOCK_UID = 60001;
constexpr u32 HUNDRED_UID = 60002;
constexpr u32 BLOCK_X = 64;
constexpr u32 BLOCK_Y = 8;
constexpr const char* BLOCK_ADDRESS = "AudioCompo/#60001/Cell:-1:-1";

using vdpbench::DiscardUnit;

void registerType(const std::string& json)
{
    PDB::ComponentInfoRepository::getInstance().registerComponentInfo(
        PDB::ComponentInfoParserJSON::createFromJson(json.c_str()));
}

// "SnapshotInfo" from its shipped description, and in the component database a "block" component (64 x 8 float
// cells) and a "hundred" component (100 float parameters).
bool setUp()
{
    static const bool ready = [] {
        static PDB::SimpleReadWriteMutex lock;
        (void)TMS::ThreadRepository::initialize();
        std::ifstream file(std::string(VD_LAYOUT_DIR) + "/Descriptor/SnapshotInfo_1.json");
        registerType(std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()));
        registerType(R"({"component": {"name": "block", "majorVer": 1, "minX": 1, "minY": 1, "maxX": 64, "maxY": 8},
            "parameters": [{"attr": {"recallable": 1}, "strAddress": "/Cell", "type": "FLOAT", "patternX": "*1",
            "patternY": "*1", "min": "-138", "max": "10", "def": "0", "step": "0.1", "unit": "dB"}]})");
        std::string hundred = R"({"component": {"name": "hundred", "majorVer": 1}, "parameters": [)";
        for (u32 i = 0; i < 100; ++i) {
            hundred += std::string(i == 0 ? "" : ",") + R"({"attr": {"recallable": 1}, "strAddress": "/P)" +
                       std::to_string(i) + R"(", "type": "FLOAT", "min": "-138", "max": "10", "def": "0"})";
        }
        registerType(hundred + "]}");
        for (const auto& [id, name] : {std::pair<u32, const char*>{7, "SnapshotInfo"}, {10, "AudioCompo"}}) {
            if (&PDB::ParameterDBCollection::getInstance(id) == &PDB::ParameterDBNULL::getInstance() &&
                PDB::ParameterDBCollection::createInstance(id, name, &lock, 0) < 0) {
                return false;
            }
        }
        PDB::IParameterDB& components = PDB::ParameterDBCollection::getInstance(10);
        if (PDB::ParameterDBCollection::getInstance(7).addComponent(0, "SnapshotInfo", 1, 1, 1, 0) < 0 ||
            components.addComponent(BLOCK_UID, "block", 1, BLOCK_X, BLOCK_Y, 0) < 0 ||
            components.addComponent(HUNDRED_UID, "hundred", 1, 1, 1, 0) < 0) {
            return false;
        }
        PDB::ParameterAddress cells = components.resolveAddress(BLOCK_UID, "/Cell");
        for (u32 x = 0; x < BLOCK_X; ++x) {
            for (u32 y = 0; y < BLOCK_Y; ++y) {
                (void)components.setValue(cells, x, y, KVariant(-0.5f * static_cast<float>(x + y)), 0);
            }
        }
        return true;
    }();
    return ready;
}

VDProtocol::PacketContainer makeRequest(const char* command, const char* cmdInfo)
{
    VDProtocol::PacketContainer request;
    request.m_type = "request";
    request.m_from = "editor";
    request.m_to = "device";
    request.m_reqId = "b1";
    request.m_command = command;
    request.m_cmdInfo = cmdInfo;
    return request;
}

void BM_ReadBlockHandler(benchmark::State& state)
{
    if (!setUp()) {
        state.SkipWithError("set-up failed");
        return;
    }
    DiscardUnit unit;
    VDevice::VDProtocolExecutor executor("bench-uid", &unit);
    VDProtocol::PacketContainer request = makeRequest("getData", "prm_val");
    (void)request.m_list.emplace_back().setString("prmAddr", std::string(BLOCK_ADDRESS));
    for (auto _ : state) {
        executor.dispatchPacket(request);
        unit.drain();
    }
}
BENCHMARK(BM_ReadBlockHandler)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_ReadBlockDirect(benchmark::State& state)
{
    if (!setUp()) {
        state.SkipWithError("set-up failed");
        return;
    }
    DiscardUnit unit;
    VDProtocol::ExpressionAdapter expressions;
    PDB::IParameterDB& database = PDB::ParameterDBCollection::getInstance(10);
    const VDProtocol::PacketContainer request = makeRequest("getData", "prm_val");
    const std::string address(BLOCK_ADDRESS);
    for (auto _ : state) {
        VDProtocol::PacketContainer reply(request);
        reply.m_type = "reply";
        std::swap(reply.m_from, reply.m_to);
        PDB::LocalParameterArray block;
        PDB::ParameterInfo info;
        std::string componentName;
        {
            PDB::ReadLock<PDB::IParameterDB> lock(database);
            const u32 component = database.getComponentIndex(BLOCK_UID);
            const u32 index = database.getBlockIndex(BLOCK_UID, "/Cell");
            info = *database.getParameterInfo(component, index);
            componentName = VDevice::VDProtocolExecutor::makeComponentName(database, component);
            if (block.initialize(info) != 0 || database.getArray(block, component, index) != 0) {
                state.SkipWithError("read failed");
                return;
            }
        }
        reply.m_list.reserve(BLOCK_X * BLOCK_Y);
        KVariant value;
        for (u32 x = 0; x < BLOCK_X; ++x) {
            for (u32 y = 0; y < BLOCK_Y; ++y) {
                (void)block.getValue(value, x, y, nullptr);
                VDProtocol::ArgumentMap& map = reply.m_list.emplace_back();
                (void)VDProtocol::setParameterArguments(map, info, value);
                const KVariant text = expressions.valueToText(info, value);
                (void)map.setString("prmStr", std::string(text.getString()));
                (void)map.setString("prmAddr", address);
                (void)map.setString("cptName", componentName);
            }
        }
        reply.setResult(0, 100, "");
        (void)unit.sendPacket(reply);
        unit.drain();
    }
}
BENCHMARK(BM_ReadBlockDirect)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_CopyPasteRoundTrip(benchmark::State& state)
{
    if (!setUp()) {
        state.SkipWithError("set-up failed");
        return;
    }
    DiscardUnit unit;
    VDevice::VDProtocolExecutor executor("bench-uid", &unit);
    VDProtocol::PacketContainer copy = makeRequest("getData", "copy_paste");
    VDProtocol::ArgumentMap& entry = copy.m_list.emplace_back();
    (void)entry.setString("type", std::string("currentCpt"));
    (void)entry.setString("prmAddr", "AudioCompo/#" + std::to_string(HUNDRED_UID));
    VDProtocol::PacketContainer paste = makeRequest("setData", "copy_paste");
    if (executor.copySnapshots(copy, paste.m_list) != 0 || executor.pasteSnapshots(paste) != 0) {
        state.SkipWithError("copy or paste failed");
        return;
    }
    for (auto _ : state) {
        executor.dispatchPacket(copy);
        executor.dispatchPacket(paste);
        unit.drain();
    }
    state.counters["image_bytes"] = static_cast<double>(paste.m_list[0].getBinarySize("d:data"));
}
BENCHMARK(BM_CopyPasteRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

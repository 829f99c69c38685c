// The packet converter against the JSON library alone: decodePacket + encodePacket of a line against parse + dump
// of the same text. The pre-scan benchmarks give the share of the nesting-depth check.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <string>

#include "vdp_PacketConvertor.h"

namespace {

// An add request with 20 components, as the editor sends it.
std::string addLine()
{
    std::string list;
    for (int i = 0; i < 20; ++i) {
        if (i != 0) {
            list += ',';
        }
        list += R"({"cptName":"Mixer)" + std::to_string(i) + R"(:1:8x2","prmAddr":"AudioCompo/#)" +
                std::to_string(1000 + i) + R"("})";
    }
    return R"({"request":{"cmd":"add_cpt_info","cmdinfo":{"list":[)" + list +
           R"(]},"from":"editor","reqid":"17","to":"vdevice"}})";
}

// A line of 4 KiB carrying a getData answer's body: 3 KiB of binary data as base64 and the parameter address.
std::string dataLine()
{
    VDProtocol::PacketContainer packet;
    packet.m_type = "request";
    packet.m_command = "getData";
    packet.m_cmdInfo = "prm_val";
    packet.m_from = "editor";
    packet.m_to = "vdevice";
    packet.m_reqId = "5";
    std::string bytes(3000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 131 + 7);
    }
    if (packet.m_info.setBinary("d:data", bytes.data(), static_cast<u32>(bytes.size())) != 0 ||
        packet.m_info.setString("prmAddr", std::string("AudioCompo/#12/ZOZ/Object/Pair:0:3")) != 0) {
        std::abort();
    }
    std::string line;
    if (VDProtocol::encodePacket(packet, line) != 0) {
        std::abort();
    }
    return line;
}

const std::string& lineOf(int which)
{
    static const std::string add = addLine();
    static const std::string data = dataLine();
    return which == 0 ? add : data;
}

void BM_LibraryParseDump(benchmark::State& state)
{
    const std::string& line = lineOf(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        nlohmann::json json = nlohmann::json::parse(line);
        std::string text = json.dump();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.size()));
}

void BM_DecodeEncode(benchmark::State& state)
{
    const std::string& line = lineOf(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        VDProtocol::PacketContainer packet;
        std::string text;
        if (VDProtocol::decodePacket(line, packet) != 0 || VDProtocol::encodePacket(packet, text) != 0 ||
            text != line) {
            state.SkipWithError("round trip changed the line");
            break;
        }
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.size()));
}

void BM_DepthPreScan(benchmark::State& state)
{
    const std::string& line = lineOf(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(VDProtocol::nestsDeeperThan(line.data(), line.size(), VDProtocol::MAX_JSON_DEPTH));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.size()));
}

// Argument 0: the add request with 20 entries; 1: the 4 KiB data line.
BENCHMARK(BM_LibraryParseDump)->Arg(0)->Arg(1);
BENCHMARK(BM_DecodeEncode)->Arg(0)->Arg(1);
BENCHMARK(BM_DepthPreScan)->Arg(0)->Arg(1);

} // namespace

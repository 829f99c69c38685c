// Fuzz target: received lines into the packet converter. Any line must decode without a fault; a decoded request
// with a command and a cmdinfo, encoded and decoded again, must give the same packet. The line writer must write
// every packet (decoded ones, and one built from the raw bytes with invalid UTF-8 and any float) exactly as the
// JSON library dumps the packet's JSON value.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vdp_PacketConvertor.h"

namespace {

using VDProtocol::ArgumentMap;
using VDProtocol::PacketContainer;

// Same value as the wire carries it: integers by their 32 bits (the wire does not tell int 1 from uint 1), floats
// by their bits, texts and binaries by content.
bool sameValue(const KVariant& a, const KVariant& b)
{
    const auto integer = [](u32 kind) { return kind == KVariant::KIND_INT32 || kind == KVariant::KIND_UINT32; };
    if (integer(a.getKind()) && integer(b.getKind())) {
        return a.getUInt() == b.getUInt();
    }
    if (a.getKind() != b.getKind()) {
        return false;
    }
    switch (a.getKind()) {
    case KVariant::KIND_FLOAT32: {
        const f32 x = a.getFloat();
        const f32 y = b.getFloat();
        return std::memcmp(&x, &y, sizeof(x)) == 0;
    }
    case KVariant::KIND_STRING:
        return std::strcmp(a.getString(), b.getString()) == 0;
    case KVariant::KIND_BINARY:
        return a.getBinarySize() == b.getBinarySize() &&
               std::memcmp(a.getBinary(), b.getBinary(), a.getBinarySize()) == 0;
    default:
        return true;
    }
}

bool sameArguments(const ArgumentMap& a, const ArgumentMap& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (auto x = a.getEntries().begin(), y = b.getEntries().begin(); x != a.getEntries().end(); ++x, ++y) {
        if (x->first != y->first || !sameValue(x->second, y->second)) {
            return false;
        }
    }
    return true;
}

bool samePacket(const PacketContainer& a, const PacketContainer& b)
{
    if (a.m_type != b.m_type || a.m_from != b.m_from || a.m_to != b.m_to || a.m_reqId != b.m_reqId ||
        a.m_command != b.m_command || a.m_cmdInfo != b.m_cmdInfo || a.m_hasResult != b.m_hasResult ||
        !sameArguments(a.m_info, b.m_info) || a.m_list.size() != b.m_list.size()) {
        return false;
    }
    for (size_t i = 0; i < a.m_list.size(); ++i) {
        if (!sameArguments(a.m_list[i], b.m_list[i])) {
            return false;
        }
    }
    return true;
}

void checkWriter(const PacketContainer& packet)
{
    std::string line;
    VDProtocol::JsonValue json;
    std::string dumped;
    if (VDProtocol::encodePacket(packet, line) != 0 || VDProtocol::packetToJson(packet, json) != 0 ||
        PDB::JsonAdapter::dumpReplacing(json, dumped) != 0 || line != dumped) {
        std::abort();
    }
}

// A packet whose texts, names and values are slices of the raw bytes.
PacketContainer packetFromBytes(const uint8_t* data, size_t size)
{
    size_t offset = 0;
    const auto take = [&](size_t wanted) {
        const size_t n = wanted < size - offset ? wanted : size - offset;
        std::string piece(reinterpret_cast<const char*>(data) + offset, n);
        offset += n;
        return piece;
    };
    const auto word = [&]() {
        u32 value = 0;
        const std::string bytes = take(4);
        std::memcpy(&value, bytes.data(), bytes.size());
        return value;
    };
    PacketContainer packet;
    packet.m_type = take(6);
    packet.m_from = take(5);
    packet.m_reqId = take(3);
    const u32 flags = word();
    packet.m_command = (flags & 1) != 0 ? take(3) : "";
    packet.m_cmdInfo = take(4);
    if ((flags & 2) != 0) {
        packet.setResult(static_cast<i32>(word()), word(), take(4));
    }
    ArgumentMap& info = (flags & 4) != 0 ? packet.m_list.emplace_back() : packet.m_info;
    const u32 bits = word();
    f32 number = 0;
    std::memcpy(&number, &bits, sizeof(number));
    (void)info.setFloat(take(2), number);
    (void)info.setInt(take(2), static_cast<i32>(word()));
    (void)info.setUInt(take(2), word());
    const std::string name = take(3);
    (void)info.setString(name, take(12));
    (void)info.setBinary((flags & 8) != 0 ? "d:data" : "b", data, static_cast<u32>(size));
    (void)info.setString("z", std::string(reinterpret_cast<const char*>(data) + offset, size - offset));
    return packet;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    checkWriter(packetFromBytes(data, size));

    PacketContainer packet;
    if (VDProtocol::decodePacket(reinterpret_cast<const char*>(data), size, packet) != 0) {
        return 0;
    }
    checkWriter(packet);
    std::string line;
    if (VDProtocol::encodePacket(packet, line) != 0) {
        std::abort();
    }
    if (packet.m_type != "request" || packet.m_command.empty() || packet.m_cmdInfo.empty()) {
        return 0;
    }
    PacketContainer again;
    if (VDProtocol::decodePacket(line, again) != 0 || !samePacket(packet, again)) {
        std::abort();
    }
    return 0;
}

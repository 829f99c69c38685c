// The packet converter of the editor link: one text line (a JSON object) to a PacketContainer and back.
//
// A written line is an object with one member named by the packet type; its value, the body, holds "from"
// (always), "to", "reqid" and "cmd" (when not empty), "result", "progress" and "message" (with the result flag)
// and "cmdinfo" with "info" and "list" (when they have entries). The dump is compact, keys in byte order, UTF-8
// unescaped; invalid UTF-8 in an outgoing text is written as U+FFFD, so every answer leaves.
//
// A read line is parsed strictly; the reader looks for "request", then "abort". Lines nested deeper than
// MAX_JSON_DEPTH are refused before anything is built. No exception of the JSON library leaves these functions.
#pragma once

#include <string>

#include "klib_Types.h"
#include "pdb_JsonAdapter.h"
#include "vdp_PacketContainer.h"

namespace VDProtocol {

using JsonValue = PDB::JsonValue;

// Arrays and objects nested deeper than this refuse the line (real editor lines nest 5 levels).
constexpr u32 MAX_JSON_DEPTH = 64;

// The argument whose string value is base64-encoded binary.
constexpr const char* BINARY_ARGUMENT = "d:data";

// True when arrays and objects nest deeper than limit; brackets inside strings do not count. Exact for valid
// JSON (anything else fails to parse anyway).
bool nestsDeeperThan(const char* text, size_t length, u32 limit);

// Parses one line (a trailing line feed is white space) and fills the packet: 0, or 0x80000000 (nothing logged,
// packet untouched) when the text is not one JSON value or nests deeper than MAX_JSON_DEPTH.
[[nodiscard]] i32 decodePacket(const char* text, size_t length, PacketContainer& packet);
[[nodiscard]] i32 decodePacket(const std::string& line, PacketContainer& packet);
// The line of a packet, without line feed, written directly and byte for byte as the library dumps the value of
// packetToJson (with U+FFFD for invalid UTF-8): 0, or 0x80000000 when it cannot be built (no memory).
[[nodiscard]] i32 encodePacket(const PacketContainer& packet, std::string& text);

// Fills the packet from a request or an abort; problems are logged and leave the packet as far as it was filled.
void jsonToPacket(const JsonValue& json, PacketContainer& packet);
// True when an "abort" member was found and stored (type "abort" and its reqid).
bool jsonToAbortPacket(const JsonValue& json, PacketContainer& packet);
// Adds one entry per member of an object: booleans as int 0/1, numbers with a fraction or exponent as float
// (left out beyond the float range), other non-negative integers as uint and negative ones as int (low 32 bits),
// strings as text, "d:data" only from base64 text as binary; null, arrays and objects are skipped. Null and an
// empty array add nothing. Any other value cannot be read as arguments: 0x80000000.
[[nodiscard]] i32 jsonToArguments(const JsonValue& json, ArgumentMap& arguments);
// One member per writable entry, in name order; null when no entry is writable. 0, or 0x80000000 (no memory).
[[nodiscard]] i32 argumentsToJson(const ArgumentMap& arguments, JsonValue& json);
[[nodiscard]] i32 packetToJson(const PacketContainer& packet, JsonValue& json);
// A lower bound of the bytes the arguments take in a written line (their object, or null): exact but for escapes
// in texts and the digits of numbers, which count one byte each. A list entry adds one separator to it.
size_t encodedSizeAtLeast(const ArgumentMap& arguments);

// The member of an object, or a shared null value when the key is missing or the value is no object.
const JsonValue& getJsonChild(const JsonValue& value, const char* key);
// The element of an array, or the shared null value when the index is beyond it or the value is no array.
const JsonValue& getJsonElement(const JsonValue& value, size_t index);
// The string member into out: 0; the default and 0x80000000 when the member is missing or not a string.
i32 getJsonString(const JsonValue& value, const char* key, std::string& out, const std::string& defaultText);

} // namespace VDProtocol

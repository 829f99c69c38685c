// Editor-link address texts and parameter descriptions as protocol arguments.
//
// A component address is the database name, "/", "#" and the unique id ("AudioCompo/#12"); a parameter address
// adds the parameter path, ":", x and ":", y ("AudioCompo/#12/ZOZ/Object/Pair:0:3"). Numbers are read in
// decimal, "0x" hexadecimal or leading-zero octal, and written in decimal; a negative number reads as its 32-bit
// two's complement, so an x or y of "-1" (every element) reads as 0xFFFFFFFF. A number with a fraction is no id
// or index and is refused.
#pragma once

#include <string>

#include "klib_Types.h"
#include "klib_Variant.h"
#include "vdp_PacketContainer.h"

namespace PDB {
class ParameterInfo;
}

namespace VDProtocol {

// Reads a whole text as a 32-bit integer: 0, the reader's failure code, or 0x80000000 for a fraction.
[[nodiscard]] i32 readAddressNumber(const std::string& text, u32& value);

// 0, or a failure code (0x80000000 for a text of another form, the number reader's code for a bad number).
[[nodiscard]] i32 parseParameterAddress(const std::string& text, std::string& componentName, u32& uniqueId,
                                        std::string& parameterPath, u32& x, u32& y);
[[nodiscard]] i32 parseComponentAddress(const std::string& text, std::string& componentName, u32& uniqueId);
// name "/#" uid path ":" x ":" y; 0x80000000 (text untouched) for an empty name or path.
[[nodiscard]] i32 makeParameterAddress(const std::string& componentName, u32 uniqueId, const std::string& parameterPath,
                                       u32 x, u32 y, std::string& text);

// The protocol type number ("prmType") of a parameter type code, or 0 when it has none (binary among them).
u32 getProtocolType(u8 typeCode);

// Adds the description and the current value as arguments: "prmType" and, for every type but string, "prmDef",
// "prmMax", "prmMin", "prmNominal", "prmStep", "prmScale" (decimal text), "prmUnit", "prmDefUI", "prmKind" and
// "prmValue"; a string parameter gets "prmType", "prmMax", "prmDefUI", "prmKind" and "prmValue" as text. Names
// already present keep their values. 0x80000000, adding nothing, for a type without protocol number.
[[nodiscard]] i32 setParameterArguments(ArgumentMap& arguments, const PDB::ParameterInfo& info, const KVariant& value);

} // namespace VDProtocol

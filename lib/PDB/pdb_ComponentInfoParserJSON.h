// Decoder of component-type JSON documents (plug-in descriptions and the fixed parameter sets) into
// ComponentInfo descriptions.
//
// Document: {"component": {"name", "majorVer", "minX", "minY", "maxX", "maxY", "commentX", "commentY"},
//            "parameters": [{"attr": {"recallable", "nonvolatile", "syncable", "noeditflag", "private"},
//                            "strAddress", "type", "patternX", "patternY", "commentX", "commentY", "min", "max",
//                            "def", "nominal", "step", "scaling", "unit", "kind", "defUI"}, ...]}
// Missing keys and values of another JSON kind take their defaults. Value texts are decimal numbers read with
// 32-bit rules (leading blanks and a sign accepted, trailing characters ignored); a text without a number, or
// out of range, ends the whole decoding with an empty result.
#pragma once

#include "klib_Types.h"
#include "pdb_ComponentInfo.h"
#include "pdb_JsonAdapter.h"
#include "pdb_Result.h"

namespace PDB {

class ComponentInfoParserJSON
{
public:
    // Result of decodeComponentInfo when a value could not be converted.
    static constexpr i32 RESULT_CONVERSION_ERROR = PDB::RESULT_CONVERSION_ERROR;

    // Parses and decodes a NUL-terminated document. The description has no parameter strategy (the caller sets
    // one before registering it). A malformed document prints the library's "message: " and "exception id: "
    // lines; a conversion error logs "[E] JSON: unknown exception occurred.\n". Both give an empty description.
    static ComponentInfo createFromJson(const char* text);

    // Fills info from a parsed document. Missing "component" or "parameters" stop decoding with a log line
    // (info keeps what was decoded, and 0 is returned); a failing entry is logged and skipped. A conversion
    // error returns RESULT_CONVERSION_ERROR and leaves info cleared.
    static i32 decodeComponentInfo(const JsonValue& document, ComponentInfo& info);

    // The value-text rules, exposed for the callers that read the same texts.
    // Unsigned: magnitude up to 0xFFFFFFFF; a "-" negates in 32 bits ("-1" gives 0xFFFFFFFF).
    static bool parseUnsigned(const char* text, u32& out);
    // Signed: within the i32 range.
    static bool parseSigned(const char* text, i32& out);
    // Float: the standard string-to-float rules; out of the float range (overflow or underflow) fails.
    static bool parseFloat(const char* text, f32& out);
    // Size pattern: "" 1; "*n" multiply mode; "/n" divide mode; "n" plain; n 0 becomes 1; n above 0xFFFF fails.
    static bool parsePattern(const char* text, u32& out);
};

} // namespace PDB

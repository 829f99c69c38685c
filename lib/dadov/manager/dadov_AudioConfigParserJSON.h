// Reads CompileResult text back into an AudioConfig.
#pragma once

#include "dadov_AudioConfigDB.h"

namespace DADOV {

// Never fails. Text the JSON library refuses gives a cleared record and its "message: " and "exception id: "
// lines on standard output; any other failure (a null text, memory) a cleared record and "JSON: unknown
// exception occurred.\n". Otherwise the sections are read in the order "compileResult", "dspSystem",
// "components", "connections", "dspAssignments", "logicConnections": the first missing one (or null) prints
// "JSON: '<name>' tag not found.\n" and ends the fill, and the sections before it stay filled. Missing or
// ill-typed fields keep their defaults (0, empty, false; "result" 0x80000000); a list element that is no object
// becomes a record of defaults. The "JSON: " lines go through the debug print.
AudioConfig parseAudioConfigJSON(const char* text);

} // namespace DADOV

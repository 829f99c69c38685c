// Bulk value operations of logical position control.
#pragma once

#include "klib_Types.h"

namespace LPC {

// Writes one line "<database>/#<uid><address>:<x>:<y>=<value>\n" per element of every component of every
// database of the process-wide collection (databases in id order, components in table order) into the file at
// path, which is replaced atomically. Values read as text: integers in decimal, floats with "%f", texts as they
// are, binary data as "%02X " per byte. 0; PYRITE_E_FAILED for a null path or a failed write (the old file
// stays).
[[nodiscard]] u32 showAllValues(const char* path);

// Write every element of every number and bool parameter of the component database (database 10) to the
// parameter's minimum or maximum, with factor as the writes' status byte, and tell the registered link set of
// each write. 0, or the ORed failures of the writes that were refused.
[[nodiscard]] u32 setMinValues(u32 factor);
[[nodiscard]] u32 setMaxValues(u32 factor);

// The speaker positions as a CSV file. This program does not offer them: PYRITE_E_NOT_SUPPORTED with one "[NQ] "
// line each.
class LpcSpeakerData
{
public:
    [[nodiscard]] static u32 importFromFile(const char* path);
    [[nodiscard]] static u32 exportToFile(const char* path);
};

} // namespace LPC

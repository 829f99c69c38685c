// Folder helpers of the scene and preset lists.
#pragma once

#include <string>
#include <vector>

#include "klib_Types.h"

namespace LPC {

// Makes the folder with every missing folder along its path: 0 when it exists afterwards, else PYRITE_E_FAILED.
[[nodiscard]] u32 makeFolder(const std::string& path);

// The names of the regular files of folder whose names end in "." + extension, in byte order (symbolic links and
// the file API's temporary files are left out): 0; PYRITE_E_FAILED (out emptied) when the folder cannot be read.
[[nodiscard]] u32 listFiles(const std::string& folder, const char* extension, std::vector<std::string>& out);

} // namespace LPC

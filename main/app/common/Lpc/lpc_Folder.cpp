#include "lpc_Folder.h"

#include <cstring>

#include "fsw_api.h"
#include "pyrite_Result.h"

namespace LPC {

u32 makeFolder(const std::string& path)
{
    const u32 result = fsw_makeDir(path.c_str());
    return result == FSW_OK || result == FSW_DIR_EXISTED ? PYRITE::PYRITE_OK : PYRITE::PYRITE_E_FAILED;
}

u32 listFiles(const std::string& folder, const char* extension, std::vector<std::string>& out)
{
    out.clear();
    FswDir* dir = nullptr;
    if (fsw_openDir(&dir, folder.c_str()) != FSW_OK) {
        return PYRITE::PYRITE_E_FAILED;
    }
    const std::string suffix = std::string(".") + extension;
    std::vector<char> name;
    u32 size = 0;
    while (fsw_getDirEntryNameSize(dir, &size) == FSW_OK && size > 0) {
        name.resize(size);
        if (fsw_readDir(dir, name.data(), size) != FSW_OK) {
            break;
        }
        const std::string entry(name.data());
        if (entry.size() <= suffix.size() || entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) != 0 ||
            fsw_isReplaceTempName(entry.c_str())) {
            continue;
        }
        u32 attributes = 0;
        bool isLink = false;
        const std::string path = folder + "/" + entry;
        if (fsw_getLinkAttributes(&attributes, &isLink, path.c_str()) != FSW_OK || isLink ||
            (attributes & FSW_ATTR_DIRECTORY) != 0) {
            continue;
        }
        out.push_back(entry);
    }
    fsw_closeDir(dir);
    return PYRITE::PYRITE_OK;
}

} // namespace LPC

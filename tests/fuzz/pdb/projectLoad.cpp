// Fuzz target: project files loaded into two item folders of a scratch folder. Whatever the file holds, nothing
// outside the item folders changes and no staging folder is left behind; a file that loads is saved again, and
// that copy loads to the same files.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>

#include "fuzz_PdbSetup.h"
#include "pdb_ProjectFile.h"

namespace {

bool isInItem(const std::string& relative)
{
    for (const std::string item : {"items/Current", "items/CurrentList"}) {
        if (relative == item || relative.rfind(item + "/", 0) == 0) {
            return true;
        }
    }
    return false;
}

// Everything below root but the item folders.
project_test::TreeImage outsideItems(const std::string& root)
{
    project_test::TreeImage image = project_test::imageTree(root);
    for (auto it = image.begin(); it != image.end();) {
        it = isInItem(it->first) ? image.erase(it) : std::next(it);
    }
    return image;
}

// What a save stores of the item folders: the regular files directly in them (a folder that a directory block
// made is not stored again).
project_test::TreeImage storedFiles(const std::string& root)
{
    project_test::TreeImage image = project_test::imageTree(root + "/items");
    for (auto it = image.begin(); it != image.end();) {
        const bool file = it->second != "D" && it->second.rfind('L', 0) != 0;
        const bool direct = std::count(it->first.begin(), it->first.end(), '/') == 1;
        it = file && direct ? std::next(it) : image.erase(it);
    }
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    pdbfuzz::setUpCollection();
    const std::string root = pdbfuzz::scratch();
    static PDB::ProjectFile* const project = [&root] {
        ::mkdir((root + "/items").c_str(), 0755);
        // Both item folders exist, as they do in the application: a save needs them.
        ::mkdir((root + "/items/Current").c_str(), 0755);
        ::mkdir((root + "/items/CurrentList").c_str(), 0755);
        project_test::writeText(root + "/items/Current/a.txt", "a");
        auto* made = new PDB::ProjectFile();
        const PDB::ProjectFile::ItemMap itemMap = {{"Current", root + "/items/Current"},
                                                   {"CurrentList", root + "/items/CurrentList"}};
        if (made->initialize("HUX-NQ", 3, 0, itemMap, nullptr, 0) != 0) {
            std::abort();
        }
        return made;
    }();
    const std::string input = root + "/input.zethiprj";
    pdbfuzz::writeInput(input, data, size);
    const project_test::TreeImage before = outsideItems(root);
    const i32 result = project->load(input.c_str(), nullptr, nullptr, nullptr);
    if (outsideItems(root) != before) {
        std::abort(); // something was written, or left, outside the item folders
    }
    if (result != 0) {
        return 0;
    }
    const project_test::TreeImage loaded = storedFiles(root);
    const std::string copy = root + "/copy.zethiprj";
    if (project->save(copy.c_str(), "copy", "fuzz", nullptr, nullptr) != 0 ||
        project->load(copy.c_str(), nullptr, nullptr, nullptr) != 0 || storedFiles(root) != loaded) {
        std::abort();
    }
    return 0;
}

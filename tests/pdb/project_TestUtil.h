// Helpers of the project-file suites: the process-wide "ProjectInfo" database, a scratch folder, folder
// snapshots, a recording observer and raw block builders.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "fcache_MBDF.h"
#include "pdb_ComponentInfo.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_ProjectFile.h"
#include "vdtest_Support.h"

namespace project_test {

using namespace PDB;

constexpr i32 FAILED = static_cast<i32>(0x80000000u);
constexpr i32 BAD_ARGUMENT = static_cast<i32>(0x80000001u);
constexpr i32 NOT_PROJECT = static_cast<i32>(0x80000003u);
constexpr i32 REFUSED = static_cast<i32>(0x80000004u);
constexpr u32 INFO_DB_ID = 9;

// Registers the information component type and creates "ProjectInfo" in the process-wide collection (once per
// process); ProductName starts as "Factory", Comment as "none".
inline IParameterDB& setupProjectInfo()
{
    const i32 found = ParameterDBCollection::findInstance("ProjectInfo");
    if (found >= 0) {
        return ParameterDBCollection::getInstance(static_cast<u32>(found));
    }
    constexpr ParameterAttribute kept{0, ParameterAttribute::FLAG_RECALLABLE | ParameterAttribute::FLAG_NONVOLATILE};
    ComponentInfo info;
    info.initialize("ProjInfo", 1, 1, 1, 1, 1, "", "", nullptr);
    info.addParameterString("/Info/ProductName", 1, 1, "", "", 32, "Factory", kept, "", "", "");
    info.addParameterString("/Info/ProductSubName", 1, 1, "", "", 32, "Sub", kept, "", "", "");
    info.addParameterString("/Info/Comment", 1, 1, "", "", 64, "none", kept, "", "", "");
    info.addParameterString("/Info/OwnerName", 1, 1, "", "", 64, "", kept, "", "", "");
    info.addParameterUInt32("/Info/TimeStamp/Year", 1, 1, "", "", 0, 9999, 0, 0, 1, 1, kept, "", "", "");
    info.addParameterUInt32("/Info/TimeStamp/Month", 1, 1, "", "", 0, 12, 0, 0, 1, 1, kept, "", "", "");
    info.addParameterUInt32("/Info/TimeStamp/Day", 1, 1, "", "", 0, 31, 0, 0, 1, 1, kept, "", "", "");
    info.addParameterUInt32("/Info/TimeStamp/Hour", 1, 1, "", "", 0, 23, 0, 0, 1, 1, kept, "", "", "");
    info.addParameterUInt32("/Info/TimeStamp/Minute", 1, 1, "", "", 0, 59, 0, 0, 1, 1, kept, "", "", "");
    info.addParameterUInt32("/Info/TimeStamp/Second", 1, 1, "", "", 0, 60, 0, 0, 1, 1, kept, "", "", "");
    info.addParameterSInt32("/Info/Level", 1, 1, "", "", -100, 100, -7, 0, 1, 1, kept, "", "", "");
    ComponentInfoRepository::getInstance().registerComponentInfo(info);
    ParameterDBCollection::createInstance(INFO_DB_ID, "ProjectInfo", nullptr, 0);
    IParameterDB& db = ParameterDBCollection::getInstance(INFO_DB_ID);
    db.addComponent(0x501, "ProjInfo", 1, 1, 1, 0);
    return db;
}

inline std::string infoText(ProjectFile& project, ProjectFile::InfoIndex index)
{
    ParameterAddress address = project.getInfoAddress(index);
    KVariant value;
    project.getInformationDB().getValue(value, address, 0, 0, nullptr);
    const char* text = value.getKind() == KVariant::KIND_STRING ? value.getString() : nullptr;
    return text != nullptr ? text : "";
}

inline u32 infoUInt(ProjectFile& project, ProjectFile::InfoIndex index)
{
    ParameterAddress address = project.getInfoAddress(index);
    return project.getInformationDB().getValueUInt(address, 0, 0, nullptr);
}

using vdtest::ScratchDir;

inline std::vector<u8> readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<u8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::vector<u8>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void writeText(const std::string& path, const std::string& text)
{
    writeBytes(path, std::vector<u8>(text.begin(), text.end()));
}

inline std::vector<u8> randomBytes(size_t size, u32 seed)
{
    std::mt19937 generator(seed);
    std::vector<u8> bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<u8>(generator());
    }
    return bytes;
}

inline bool exists(const std::string& path)
{
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

inline void makeDir(const std::string& path)
{
    ::mkdir(path.c_str(), 0755);
}

// Names in a folder (without "." and ".."), sorted.
inline std::vector<std::string> listNames(const std::string& path)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// Everything below a folder: relative path -> "D" for a folder, "L" + target for a link, mode + bytes for a file.
using TreeImage = std::map<std::string, std::string>;

inline void imageTree(const std::string& root, const std::string& relative, TreeImage& image)
{
    for (const std::string& name : listNames(relative.empty() ? root : root + "/" + relative)) {
        const std::string rel = relative.empty() ? name : relative + "/" + name;
        const std::string full = root + "/" + rel;
        struct stat info;
        if (::lstat(full.c_str(), &info) != 0) {
            continue;
        }
        if (S_ISLNK(info.st_mode)) {
            char target[4096] = {};
            const ssize_t n = ::readlink(full.c_str(), target, sizeof(target) - 1);
            image[rel] = "L" + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
        } else if (S_ISDIR(info.st_mode)) {
            image[rel] = "D";
            imageTree(root, rel, image);
        } else {
            const std::vector<u8> bytes = readBytes(full);
            image[rel] = std::to_string(info.st_mode & 0777) + ":" + std::string(bytes.begin(), bytes.end());
        }
    }
}

inline TreeImage imageTree(const std::string& root)
{
    TreeImage image;
    imageTree(root, "", image);
    return image;
}

// Records every callback; onStep (optional) runs inside onProgress.
class RecordingObserver : public FILECACHE::IMBDFObserver
{
public:
    struct Progress
    {
        u32 operation;
        u32 step;
        u32 total;
        std::string path;
        std::string text;
        bool last;
    };
    struct Error
    {
        u32 operation;
        std::string path;
        i32 code;
    };

    void onProgress(u32 operation, u32 step, u32 total, const char* path, const char* text, bool last) override
    {
        progress.push_back({operation, step, total, path != nullptr ? path : "", text != nullptr ? text : "", last});
        if (onStep) {
            onStep(progress.back());
        }
    }
    void onError(u32 operation, const char* path, i32 code) override
    {
        errors.push_back({operation, path != nullptr ? path : "", code});
    }
    bool hasText(const std::string& text) const
    {
        for (const auto& p : progress) {
            if (p.text == text) {
                return true;
            }
        }
        return false;
    }

    std::vector<Progress> progress;
    std::vector<Error> errors;
    std::function<void(const Progress&)> onStep;
};

inline void putBE(std::vector<u8>& out, u32 value)
{
    out.push_back(static_cast<u8>(value >> 24));
    out.push_back(static_cast<u8>(value >> 16));
    out.push_back(static_cast<u8>(value >> 8));
    out.push_back(static_cast<u8>(value));
}

// A "#FILE" block as on disk, built byte by byte: kind, stored name, no compression, the bytes.
inline std::vector<u8> rawFileBlock(const std::string& kind, const std::string& name, const std::string& content)
{
    std::vector<u8> block(24, 0);
    std::copy_n("#FILE", 5, block.begin());
    std::copy(kind.begin(), kind.end(), block.begin() + 12);
    const u32 infoSize = static_cast<u32>(8 + name.size());
    putBE(block, infoSize);
    putBE(block, static_cast<u32>(content.size()));
    putBE(block, 0);
    block.push_back(static_cast<u8>(name.size() >> 8));
    block.push_back(static_cast<u8>(name.size()));
    block.push_back(0);
    block.push_back(0);
    putBE(block, 0);
    block.insert(block.end(), name.begin(), name.end());
    while (block.size() % 4 != 0) {
        block.push_back(0);
    }
    block.insert(block.end(), content.begin(), content.end());
    while (block.size() % 4 != 0) {
        block.push_back(0);
    }
    return block;
}

// Block offsets (top block first) of a container image.
inline std::vector<size_t> blockOffsets(const std::vector<u8>& image)
{
    std::vector<size_t> offsets;
    size_t at = 0;
    while (at + 36 <= image.size()) {
        offsets.push_back(at);
        if (std::equal(image.begin() + static_cast<long>(at), image.begin() + static_cast<long>(at) + 5, "#END")) {
            break;
        }
        const u64 info =
            (u64{image[at + 24]} << 24) | (u64{image[at + 25]} << 16) | (u64{image[at + 26]} << 8) | image[at + 27];
        const u64 data =
            (u64{image[at + 28]} << 24) | (u64{image[at + 29]} << 16) | (u64{image[at + 30]} << 8) | image[at + 31];
        at += 36 + ((info + 3) & ~u64{3}) + ((data + 3) & ~u64{3});
    }
    return offsets;
}

// Offset of the end block in a container image.
inline size_t endBlockOffset(const std::vector<u8>& image)
{
    const std::vector<size_t> offsets = blockOffsets(image);
    return offsets.empty() ? image.size() : offsets.back();
}

} // namespace project_test

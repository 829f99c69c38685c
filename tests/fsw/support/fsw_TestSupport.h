// Helpers of the file API suites: a private temporary folder and whole-file read/write.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace fswtest {

// A fresh folder below the system's temporary folder, removed with its content afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

bool writeFile(const std::string& path, const std::string& content);
std::optional<std::string> readFile(const std::string& path);
// Names in a folder (without "." and ".."), sorted.
std::vector<std::string> listNames(const std::string& folder);
bool exists(const std::string& path);
bool isWritableByOwner(const std::string& path);
bool setModificationTime(const std::string& path, std::time_t seconds);
std::string pattern(size_t size, unsigned seed);

} // namespace fswtest

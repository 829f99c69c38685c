// Helpers of the file API suites: a private temporary folder and whole-file read/write.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "vdtest_Support.h"

namespace fswtest {

using TempDir = vdtest::ScratchDir;

bool writeFile(const std::string& path, const std::string& content);
std::optional<std::string> readFile(const std::string& path);
// Names in a folder (without "." and ".."), sorted.
std::vector<std::string> listNames(const std::string& folder);
bool exists(const std::string& path);
bool isWritableByOwner(const std::string& path);
bool setModificationTime(const std::string& path, std::time_t seconds);
std::string pattern(size_t size, unsigned seed);

} // namespace fswtest

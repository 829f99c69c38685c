// Helpers every suite may use: waiting for a condition and a scratch folder.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace vdtest {

// Polls condition every millisecond until it holds or timeoutMs pass; true when it held.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 30000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A fresh folder below base, removed with everything in it (read-only entries included) at the end. path() is
// empty when the folder could not be made.
class ScratchDir
{
public:
    explicit ScratchDir(const char* base = "/tmp")
    {
        std::string pattern = std::string(base) + "/vdtest_XXXXXX";
        const char* made = ::mkdtemp(pattern.data());
        m_path = made != nullptr ? made : "";
    }
    ~ScratchDir()
    {
        if (m_path.empty()) {
            return;
        }
        std::error_code ignored;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(
                 m_path, std::filesystem::directory_options::skip_permission_denied, ignored)) {
            if (!entry.is_symlink()) {
                std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ignored);
            }
        }
        ::chmod(m_path.c_str(), 0700);
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

} // namespace vdtest

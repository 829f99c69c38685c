#include "pyrite_CommandLineOptions.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

#include "pyrite_Result.h"
#include "pyrite_Text.h"

namespace {

std::string workingDirectory()
{
    std::vector<char> buffer(256);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() >= (1u << 20)) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

std::string programDirectoryOf(const char* programPath)
{
    std::vector<std::string> parts = PYRITE::splitText(programPath, "/\\");
    const bool absolute = programPath[0] == '/';
    if (parts.size() < 2 && !absolute) {
        return {};
    }
    if (!parts.empty()) {
        parts.pop_back();
    }
    std::string directory = absolute ? "/" : workingDirectory();
    for (const std::string& part : parts) {
        if (part == ".") {
            continue;
        }
        if (!directory.empty() && directory.back() != '/') {
            directory += '/';
        }
        directory += part;
    }
    return directory;
}

} // namespace

CommandLineOptions& CommandLineOptions::getInstance()
{
    static CommandLineOptions instance;
    return instance;
}

u32 CommandLineOptions::parse(int argc, const char* const* argv)
{
    if (argc < 2) {
        return PYRITE::PYRITE_OK;
    }
    if (argv == nullptr) {
        return PYRITE::PYRITE_E_FAILED;
    }
    if (argv[0] != nullptr) {
        m_programDirectory = programDirectoryOf(argv[0]);
    }
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr) {
            return PYRITE::PYRITE_E_FAILED;
        }
        const std::vector<std::string> pieces = PYRITE::splitText(argv[i], "=");
        if (pieces.size() != 2 || pieces[1].size() > KVariant::MAX_STRING_LENGTH) {
            return PYRITE::PYRITE_E_FAILED;
        }
        if (m_options.find(pieces[0]) == m_options.end()) {
            m_options.emplace(pieces[0], KVariant(pieces[1].c_str(), KVariant::MAX_STRING_LENGTH + 1));
        }
    }
    return PYRITE::PYRITE_OK;
}

void CommandLineOptions::find(const char* name, KVariant& out) const
{
    out.clear();
    if (name == nullptr) {
        return;
    }
    const auto found = m_options.find(std::string_view(name));
    if (found != m_options.end()) {
        out = found->second;
    }
}

#include "pyrite_DirSyncStrategy.h"

#include <cstring>

namespace PYRITE {

namespace {

constexpr i32 TAKE = 0;
constexpr i32 SKIP = 1;

char toLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

void PyriteDirSyncStrategy::setup(ComControl::FileAccessor* owner, const char* extension)
{
    m_owner = owner;
    m_extension = extension != nullptr ? extension : "";
    for (char& c : m_extension) {
        c = toLower(c);
    }
}

i32 PyriteDirSyncStrategy::checkPath(const char* path)
{
    if (path == nullptr) {
        return SKIP;
    }
    if (m_extension.empty()) {
        return TAKE;
    }
    const char* dot = std::strrchr(path, '.');
    if (dot == nullptr) {
        return SKIP;
    }
    const char* suffix = dot + 1;
    if (std::strlen(suffix) != m_extension.size()) {
        return SKIP;
    }
    for (size_t i = 0; i < m_extension.size(); ++i) {
        if (toLower(suffix[i]) != m_extension[i]) {
            return SKIP;
        }
    }
    return TAKE;
}

} // namespace PYRITE

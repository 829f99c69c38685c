// PyriteDirSyncStrategy: the file policy of one directory synchroniser of the sync thread. It takes only the
// files whose extension is the configured one, compared without regard to letter case; with no extension
// configured it takes every file.
#pragma once

#include <string>

#include "comctrl_Interfaces.h"
#include "klib_Types.h"

namespace ComControl {
class FileAccessor;
}

namespace PYRITE {

class PyriteDirSyncStrategy : public ComControl::IDirSyncStrategy
{
public:
    ~PyriteDirSyncStrategy() override = default;

    // 0: the path is taken; 1: it is skipped. A null path is skipped; with no extension configured every other
    // path is taken; otherwise a path is taken when the text after its last "." is the extension.
    i32 checkPath(const char* path) override;

    // The synchroniser's file cache and the extension (without "."; null counts as none).
    void setup(ComControl::FileAccessor* owner, const char* extension);
    ComControl::FileAccessor* getOwner() const { return m_owner; }
    const std::string& getExtension() const { return m_extension; }

private:
    ComControl::FileAccessor* m_owner = nullptr;
    std::string m_extension; // lower case
};

} // namespace PYRITE

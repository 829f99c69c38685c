// Facade of the file-change watcher.
#include "fw_FileWatcher.h"

namespace FW {

FileWatcher::FileWatcher() : m_pImpl(std::make_unique<FileWatcherLinux>()) {}

FileWatcher::~FileWatcher() = default;

u32 FileWatcher::watchDirectory(const std::string& folder, FileWatchListener* listener)
{
    return m_pImpl->watchDirectory(folder, listener);
}

void FileWatcher::unwatch(u32 id)
{
    m_pImpl->unwatch(id);
}

void FileWatcher::unwatchFolder(const std::string& folder)
{
    m_pImpl->unwatchFolder(folder);
}

void FileWatcher::poll()
{
    m_pImpl->poll();
}

} // namespace FW

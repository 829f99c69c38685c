#include "pdb_ComponentInfoRepository.h"

#include <cstring>
#include <mutex>
#include <new>
#include <string_view>

#include "fcache_BinaryAccessor.h"
#include "fcache_MBDFAbstractBlock.h"
#include "pdb_ComponentInfoRepositoryTestHooks.h"
#include "pdb_ComponentNULL.h"
#include "pdb_Result.h"

namespace PDB {

namespace {

// Builds "<name>_<version>" without allocating for names that fit the buffer; longer names use the string.
class RepositoryKey
{
public:
    RepositoryKey(const char* name, u32 version)
    {
        const size_t length = name != nullptr ? std::strlen(name) : 0;
        char digits[10];
        size_t count = 0;
        do {
            digits[count++] = static_cast<char>('0' + version % 10);
            version /= 10;
        } while (version != 0);
        const size_t total = length + 1 + count;
        char* out = m_buffer;
        if (total > sizeof(m_buffer)) {
            m_long.resize(total);
            out = m_long.data();
        }
        if (length != 0) {
            std::memcpy(out, name, length);
        }
        out[length] = '_';
        for (size_t i = 0; i < count; ++i) {
            out[length + 1 + i] = digits[count - 1 - i];
        }
        m_view = std::string_view(out, total);
    }
    RepositoryKey(const RepositoryKey&) = delete;
    RepositoryKey& operator=(const RepositoryKey&) = delete;

    std::string_view view() const { return m_view; }

private:
    char m_buffer[96];
    std::string m_long;
    std::string_view m_view;
};

} // namespace

ComponentInfoRepository::ComponentInfoRepository() = default;
ComponentInfoRepository::~ComponentInfoRepository() = default;

ComponentInfoRepository& ComponentInfoRepository::getInstance()
{
    static ComponentInfoRepository s_instance;
    return s_instance;
}

i32 ComponentInfoRepository::registerComponentInfo(const ComponentInfo& info)
{
    if (!info.hasParameters()) {
        return RESULT_BAD_ARGUMENT;
    }
    try {
        const RepositoryKey key(info.getName().c_str(), info.getVersion());
        {
            std::shared_lock<std::shared_mutex> guard(m_lock);
            if (m_infos.find(key.view()) != m_infos.end()) {
                return RESULT_DUPLICATE;
            }
        }
        // The copy is made outside the lock; a copy that ran out of memory has no blocks and is not stored.
        std::unique_ptr<ComponentInfo> copy(new (std::nothrow) ComponentInfo());
        if (!copy || copy->copyFrom(info) < 0) {
            return RESULT_NO_MEMORY;
        }
        std::unique_lock<std::shared_mutex> guard(m_lock);
        const auto inserted = m_infos.emplace(std::string(key.view()), std::move(copy));
        return inserted.second ? 0 : RESULT_DUPLICATE;
    } catch (const std::bad_alloc&) {
        return RESULT_NO_MEMORY;
    }
}

const ComponentInfo& ComponentInfoRepository::findComponentInfo(const char* name, u32 version) const
{
    try {
        const RepositoryKey key(name, version);
        std::shared_lock<std::shared_mutex> guard(m_lock);
        const auto it = m_infos.find(key.view());
        if (it != m_infos.end()) {
            return *it->second;
        }
    } catch (const std::bad_alloc&) {
        // A key too long for the buffer could not be built: it cannot be registered either.
    }
    return getEmptyComponentInfo();
}

u32 ComponentInfoRepository::getCount() const
{
    std::shared_lock<std::shared_mutex> guard(m_lock);
    return static_cast<u32>(m_infos.size());
}

namespace testhooks {

void clearComponentInfos()
{
    ComponentInfoRepository& repository = ComponentInfoRepository::getInstance();
    std::unique_lock<std::shared_mutex> guard(repository.m_lock);
    repository.m_infos.clear();
}

} // namespace testhooks

ComponentNULL& ComponentInfoRepository::getNullComponent()
{
    return ComponentNULL::getInstance();
}

i32 makeUniqueFileName(std::string& name, const char* extension)
{
    static constexpr char HEX[] = "0123456789ABCDEF";
    try {
        name.clear();
        u8 id[16];
        if (FILECACHE::makeUniqueFileId(id, sizeof(id)) < 0) {
            return RESULT_FAILED;
        }
        char text[33];
        for (u32 i = 0; i < sizeof(id); ++i) {
            text[2 * i] = HEX[id[i] >> 4];
            text[2 * i + 1] = HEX[id[i] & 0x0F];
        }
        text[32] = '\0';
        name = text;
        if (extension != nullptr && extension[0] != '\0') {
            name += '.';
            name += extension;
        }
        if (!FILECACHE::FileAccessor::isValidFileName(name.c_str())) {
            name.clear();
            return RESULT_FAILED;
        }
    } catch (const std::bad_alloc&) {
        name.clear();
        return RESULT_FAILED;
    }
    return 0;
}

} // namespace PDB

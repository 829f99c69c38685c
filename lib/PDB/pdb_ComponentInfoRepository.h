// The process-wide registry of component descriptions, keyed "<type name>_<version>", and the unique file-name
// maker of the storage code.
//
// Descriptions are registered at start-up and never removed, so a reference returned by findComponentInfo stays
// valid for the life of the process. Look-ups take the lock shared and registrations take it exclusively, so a
// late registration may run beside readers on other threads.
#pragma once

#include <map>
#include <memory>
#include <shared_mutex>
#include <string>

#include "klib_Types.h"
#include "pdb_ComponentInfo.h"

namespace PDB {

class ComponentNULL;

namespace testhooks {
void clearComponentInfos();
}

class ComponentInfoRepository
{
public:
    static ComponentInfoRepository& getInstance();

    // Stores a deep copy under "<name>_<version>". A description without blocks gives 0x80000001, a key
    // already present 0x80100000 (the first registration stays), an allocation failure 0x80040000 (nothing
    // stored); otherwise 0.
    i32 registerComponentInfo(const ComponentInfo& info);
    // The stored description, or the shared empty description (getEmptyComponentInfo()) when the key is absent.
    const ComponentInfo& findComponentInfo(const char* name, u32 version) const;
    u32 getCount() const;

    static ComponentNULL& getNullComponent();

    virtual ~ComponentInfoRepository();
    ComponentInfoRepository(const ComponentInfoRepository&) = delete;
    ComponentInfoRepository& operator=(const ComponentInfoRepository&) = delete;

private:
    friend void testhooks::clearComponentInfos();

    ComponentInfoRepository();

    mutable std::shared_mutex m_lock;
    std::map<std::string, std::unique_ptr<ComponentInfo>, std::less<>> m_infos;
};

// 32 upper-case hexadecimal digits of a fresh 16-byte container file id, then "." and the extension when it is
// not empty (null counts as empty). The result must be a valid file name (not empty, no control characters,
// none of " * : < > ? |); otherwise, and when no file id can be made, name is emptied and the result is
// 0x80000000. Success 0.
i32 makeUniqueFileName(std::string& name, const char* extension);

} // namespace PDB

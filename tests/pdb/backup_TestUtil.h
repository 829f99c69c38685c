// Helpers shared by the database-block and backup suites: a scripted stand-in database, a scratch folder and
// file helpers.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "compo_TestTypes.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_ParameterDBNULL.h"
#include "pdb_SimpleReadWriteMutex.h"
#include "vdtest_Support.h"

namespace backup_test {

using namespace PDB;

// A database that answers the table operations from a script and records how it is locked.
class ScriptedDB : public ParameterDBNULL
{
public:
    explicit ScriptedDB(const char* name) : m_name(name) {}

    std::string m_name;
    u32 m_tableSize = 16;
    i32 m_exportResult = 0;
    u8 m_fill = 0x5A;
    int m_readDepth = 0;
    int m_writeDepth = 0;
    bool m_unlockedExport = false; // the export ran without the read lock
    u32 m_growOutsideLock = 0;     // the table grows by this much after each size query outside the lock
    int m_exports = 0;
    int m_imports = 0;

    const char* getName() const override { return m_name.c_str(); }
    i32 lockRead() override
    {
        ++m_readDepth;
        return 0;
    }
    i32 unlockRead() override
    {
        --m_readDepth;
        return 0;
    }
    i32 lockWrite() override
    {
        ++m_writeDepth;
        return 0;
    }
    i32 unlockWrite() override
    {
        --m_writeDepth;
        return 0;
    }
    u32 getComponentTableSize() const override
    {
        const u32 size = m_tableSize;
        if (m_readDepth == 0) {
            // Another thread adds a component right after the answer.
            const_cast<ScriptedDB*>(this)->m_tableSize += m_growOutsideLock;
        }
        return size;
    }
    i32 exportComponentTable(void* buffer, u32 size, u32 headerValue) const override
    {
        auto* self = const_cast<ScriptedDB*>(this);
        ++self->m_exports;
        if (m_readDepth == 0) {
            self->m_unlockedExport = true;
        }
        if (m_exportResult < 0) {
            return m_exportResult;
        }
        if (size != m_tableSize) {
            return static_cast<i32>(0x80000001u);
        }
        std::memset(buffer, m_fill, m_tableSize);
        std::memcpy(buffer, "#CT1", 4);
        u8* p = static_cast<u8*>(buffer);
        p[4] = static_cast<u8>(headerValue >> 24);
        p[5] = static_cast<u8>(headerValue >> 16);
        p[6] = static_cast<u8>(headerValue >> 8);
        p[7] = static_cast<u8>(headerValue);
        return 0;
    }
    i32 importComponentTable(const void*, u32, ParameterFilter, u8) override
    {
        ++m_imports;
        return 0;
    }
};

// A fresh folder below base (the system's temporary folder by default), removed with its content at the end.
class ScratchDir : public vdtest::ScratchDir
{
public:
    using vdtest::ScratchDir::ScratchDir;
    std::string file(const char* name) const { return path() + "/" + name; }

    // Names in the folder (without "." and "..").
    std::vector<std::string> list() const { return listFolder(path()); }

    static std::vector<std::string> listFolder(const std::string& path)
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
        return names;
    }
};

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

inline u32 be32(const std::vector<u8>& bytes, size_t at)
{
    return (static_cast<u32>(bytes[at]) << 24) | (static_cast<u32>(bytes[at + 1]) << 16) |
           (static_cast<u32>(bytes[at + 2]) << 8) | bytes[at + 3];
}

// The one lock of the shared databases of a test process.
inline SimpleReadWriteMutex& sharedMutex()
{
    static SimpleReadWriteMutex mutex;
    return mutex;
}

// Creates the shared database id/name in the process-wide collection.
inline IParameterDB& makeShared(u32 id, const char* name)
{
    const i32 result = ParameterDBCollection::createInstance(id, name, &sharedMutex(), 0);
    if (result < 0) {
        std::fprintf(stderr, "createInstance(%u, %s) gave %x\n", id, name, static_cast<u32>(result));
        std::abort();
    }
    return ParameterDBCollection::getInstance(id);
}

// "Keep" 1: block 0 "/Stored" UINT32 4 x 1 nonvolatile, block 1 "/Live" SINT32 3 x 1 recallable only, block 2
// "/Label" STRING of capacity 8, 2 x 1, nonvolatile.
inline const ComponentInfo& registerKeep()
{
    constexpr ParameterAttribute STORED{0, ParameterAttribute::FLAG_RECALLABLE | ParameterAttribute::FLAG_NONVOLATILE};
    constexpr ParameterAttribute LIVE{0, ParameterAttribute::FLAG_RECALLABLE};
    ComponentInfo info;
    info.initialize("Keep", 1, 1, 1, 1, 1, "", "", nullptr);
    info.addParameterUInt32("/Stored", 4, 1, "", "", 0, 100000, 0, 0, 1, 1, STORED, "", "", "");
    info.addParameterSInt32("/Live", 3, 1, "", "", -100000, 100000, 0, 0, 1, 1, LIVE, "", "", "");
    info.addParameterString("/Label", 2, 1, "", "", 8, "", STORED, "", "", "");
    ComponentInfoRepository::getInstance().registerComponentInfo(info);
    return ComponentInfoRepository::getInstance().findComponentInfo("Keep", 1);
}

// Adds "Keep" components with the given uids and writes values derived from seed into every element.
inline void fillKeep(IParameterDB& db, u32 seed)
{
    for (u32 index = 0; index < db.getComponentSlotCount(); ++index) {
        if (db.getComponentUID(index) == INVALID_COMPONENT_UID) {
            continue;
        }
        for (u32 x = 0; x < 4; ++x) {
            db.setValueUInt(index, 0, x, 0, seed + index * 10 + x, 0);
        }
        for (u32 x = 0; x < 3; ++x) {
            db.setValueInt(index, 1, x, 0, -static_cast<i32>(seed + index * 10 + x), 0);
        }
        for (u32 x = 0; x < 2; ++x) {
            const std::string text = "s" + std::to_string(seed + x);
            db.setValueString(index, 2, x, 0, text.c_str(), 0);
        }
    }
}

inline std::vector<u8> exportTable(const IParameterDB& db)
{
    return compo_test::exportAll(db, 0);
}

} // namespace backup_test

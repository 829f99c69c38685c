// PyriteProductInfo: the process-wide product information. It holds what "SystemSetting.ini" says (paths,
// application type, serial-port and network settings, switches), the directory layout derived from it (system
// data, storage and factory-preset paths), the product-name selectors, the 23-entry version table and the
// parameter-database instance table.
//
// Written on the main thread only, during start-up (initialize, setSystemDataPath, setStoragePath) and shut-down
// (finalize); read from every thread afterwards. Every accessor takes the mutex "ProductInfo" while it exists
// (from initialize to finalize), so readers see whole strings.
#pragma once

#include <atomic>
#include <string>

#include "klib_Types.h"

namespace TMS {
class TMSMutex;
class SystemThread;
} // namespace TMS

// One row of the parameter-database instance table: database id, name, three-letter tag and sync kind (0 never
// synchronised, 1 with the temporary synchronisation, 2 with the memory synchronisation).
struct PdbInstanceTable
{
    u32 m_id;
    const char* m_name;
    const char* m_tag;
    u32 m_syncKind;
};

class PyriteProductInfo
{
public:
    static constexpr u32 VERSION_COUNT = 23;
    static constexpr u32 VERSION_PROGRAM = 0;
    static constexpr u32 VERSION_BOOT_LOADER = 1;
    static constexpr u32 VERSION_KERNEL = 2;
    static constexpr u32 SELECTOR_COUNT = 3;

    static constexpr const char* SETTINGS_FILE_NAME = "SystemSetting.ini";

    // Rows of the path table (suffixes "", "/Config", ... "/Editor") and its two columns.
    static constexpr u32 PATH_COUNT = 10;
    static constexpr int COLUMN_STORAGE = 0;
    static constexpr int COLUMN_FACTORY_PRESET = 1;

    static constexpr u32 APPLICATION_NONE = 0;
    static constexpr u32 APPLICATION_FIRMWARE = 1;
    static constexpr u32 APPLICATION_FADER_IQC = 2;
    static constexpr u32 APPLICATION_EDITOR = 3;

    static constexpr u32 HUI_OFF = 0;
    static constexpr u32 HUI_FIRMWARE = 1;
    static constexpr u32 HUI_OTHER = 2;

    static constexpr u32 DEBUG_OUTPUT_OFF = 0;
    static constexpr u32 DEBUG_OUTPUT_ERRORS = 1;
    static constexpr u32 DEBUG_OUTPUT_ALL = 2;

    static constexpr u32 PDB_INSTANCE_COUNT = 11;

    // Everything read from the settings file and derived from it, as one copy.
    struct Settings
    {
        std::string m_settingsDirectory; // the directory given to initialize
        std::string m_systemDataPath;
        std::string m_descriptorPath; // system data path + "/Descriptor"
        std::string m_componentPath;  // + "/Component"
        std::string m_fontPath;       // + "/Font"
        std::string m_openingPath;    // + "/Opening"
        std::string m_helpPath;       // + "/Help"
        std::string m_firmwarePath;
        std::string m_storagePath; // the "StoragePath" setting (the storage base is path row 0)
        std::string m_etherPort;
        u32 m_applicationType = APPLICATION_NONE;
        u32 m_huiMode = HUI_OFF;
        u32 m_huiPort = 0;
        u32 m_huiBaudRate = 0;
        u32 m_dioPort = 0;
        u32 m_dioBaudRate = 0;
        u32 m_extCtrlPort = 0;
        u32 m_extCtrlBaudRate = 0;
        u32 m_debugOutputLevel = DEBUG_OUTPUT_OFF;
        bool m_useMmsExplorer = false;
        bool m_useDebugConsole = false;
        bool m_startupDiag = false;
        bool m_useCpuLoad = false;
    };

    // The singleton, built on first use.
    static PyriteProductInfo& getInstance();

    // Creates the mutex "ProductInfo" and loads the settings file of that directory: 0 whatever the load gave.
    // 0x80000000 when already initialised or when the mutex cannot be created.
    u32 initialize(const char* directory);
    // Reads "./SystemSetting.ini" of the directory (a missing file is created empty first). A file that cannot be
    // read is logged and gives 0x80000000; every setting then takes its default, as for an empty file.
    u32 load(const char* directory);
    // With end code 1 removes the storage base (path row 0) with everything below it, never following links: an
    // entry that cannot be removed is logged and skipped. A base that is empty or lexically the root, "." or only
    // ".." parts is refused (logged, nothing removed). Then deletes the mutex. 0, or the first failure.
    u32 finalize(int endCode);

    // The system data path; rebuilds the derived paths and the factory-preset column: 0.
    u32 setSystemDataPath(const std::string& path);
    // Rebuilds the storage column on base: row i = base + suffix of row i: 0.
    u32 setStoragePath(const std::string& base);
    // Row 0..9 of column 0 (storage) or 1 (factory preset); "" for any other row or column.
    void getPath(std::string& out, int index, int column);

    u32 getApplicationType();
    void getComponentPath(std::string& out);
    void getDescriptorPath(std::string& out);
    void getEtherPort(std::string& out);
    // Two characters from the kernel version ("02"); "--" when it carries no revision; "" before load.
    void getKernelRevision(std::string& out);
    Settings getSettings();

    // Row index of the parameter-database instance table, null for 11 or more; the table has 11 rows.
    const PdbInstanceTable* getPdbInstance(u32 index);
    u32 getPdbInstanceCount();

    // Kind 0, 1 or 2 picks a selector (any other kind counts as 0); selector 1 gives "ZethImage", else "---".
    const char* getProductName(u32 kind);
    // A set entry in the version format ("R1.23", "V0.00b"): 0. Unset: "------" and 0x80000000. Kind outside
    // 0..22: "ERROR!" and 0x80000000.
    u32 getVersionString(u32 kind, std::string& out);
    // "R" or "V" (either case), decimal major, ".", decimal minor (0..99, split into tens and units), an optional
    // revision letter ("a" when none). 0x80000000, with the entry unchanged, for a kind outside 0..22, a null text,
    // another first letter, or a text that does not have that form or is out of range.
    u32 setVersion(int kind, const char* text);

    PyriteProductInfo(const PyriteProductInfo&) = delete;
    PyriteProductInfo& operator=(const PyriteProductInfo&) = delete;

private:
    struct VersionEntry
    {
        u8 m_set = 0;
        u32 m_version = 0;
    };

    struct PathRow
    {
        std::string m_storage;
        std::string m_factoryPreset;
    };

    // Locks the product-information mutex "ProductInfo" while it exists.
    class Guard
    {
    public:
        explicit Guard(const std::atomic<TMS::TMSMutex*>& mutex);
        ~Guard();
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        TMS::TMSMutex* m_mutex;
        bool m_locked;
    };

    PyriteProductInfo() = default;
    ~PyriteProductInfo() = default;

    void rebuildSystemDataPaths();
    void rebuildStorageColumn(const std::string& base);
    void setEmulatedVersions();

    std::atomic<TMS::TMSMutex*> m_mutex{nullptr};
    u32 m_productSelectors[SELECTOR_COUNT] = {0, 0, 0};
    VersionEntry m_versions[VERSION_COUNT] = {};
    std::string m_kernelRevision;
    Settings m_settings;
    PathRow m_paths[PATH_COUNT];
};

// Registers the 13 system-information items (TMS::SYSTEM_INFO_DEFINITIONS) on both copies of the thread: the
// result of its setup; 0x80000000 for a null thread.
u32 registerSystemInfoItems(TMS::SystemThread* thread);

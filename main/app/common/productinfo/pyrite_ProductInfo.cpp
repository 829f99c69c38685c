#include "pyrite_ProductInfo.h"

#include <new>
#include <vector>

#include "fcache_IniFile.h"
#include "fsw_api.h"
#include "klib_Codec.h"
#include "klib_Print.h"
#include "pyrite_Result.h"
#include "pyrite_Text.h"
#include "tms_Mutex.h"
#include "tms_SystemInfo.h"
#include "tms_SystemThread.h"

using PYRITE::PYRITE_E_FAILED;
using PYRITE::PYRITE_OK;

namespace {

constexpr const char* SECTION_SETTING = "Setting";
constexpr const char* SECTION_PRODUCT_INFO = "ProductInfo";

constexpr const char* PATH_SUFFIXES[PyriteProductInfo::PATH_COUNT] = {
    "",          "/Config", "/Current", "/CurrentList", "/CurrentUnloadable", "/ParameterSet",
    "/Snapshot", "/VWP",    "/System",  "/Editor"};

constexpr PdbInstanceTable PDB_INSTANCES[PyriteProductInfo::PDB_INSTANCE_COUNT] = {
    {0, "Profile", "PRF", 1},     {1, "DeviceSetup", "DVS", 1},  {2, "StaticSetup", "STS", 1},
    {3, "LocalSetup", "LCS", 0},  {4, "VDeviceSetup", "VDS", 0}, {5, "CommonSetup", "CMS", 2},
    {6, "Status", "STT", 1},      {7, "SnapshotInfo", "SSI", 0}, {8, "PresetInfo", "PSI", 0},
    {9, "ProjectInfo", "PJI", 0}, {10, "Component", "CMP", 2},
};

// The emulated versions of the program and the loader and kernel strings they are read from.
constexpr const char* EMULATED_VERSION = "R0.00.00";
constexpr u32 EMULATED_VERSION_KINDS[] = {0, 3, 4, 5, 6, 7, 20, 21};
constexpr const char* BOOT_LOADER_TEXT = "BootLoaderVersion Emulation  WQ V0.00";
constexpr const char* KERNEL_TEXT = "KernelVersion Emulation  WQ V0.00 2.0";

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

char upperOf(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string upperCased(std::string text)
{
    for (char& c : text) {
        c = upperOf(c);
    }
    return text;
}

// Reads decimal digits; false when there is none or the number passes limit.
bool readNumber(const char*& p, u32 limit, u32* value)
{
    if (!isDigit(*p)) {
        return false;
    }
    u32 number = 0;
    while (isDigit(*p)) {
        const u32 digit = static_cast<u32>(*p - '0');
        if (number > (limit - digit) / 10) {
            return false;
        }
        number = number * 10 + digit;
        ++p;
    }
    *value = number;
    return true;
}

// The whole text as an unsigned decimal number, else fallback.
u32 decimalOr(const std::string& text, u32 fallback)
{
    const char* p = text.c_str();
    u32 value = 0;
    if (!readNumber(p, 0xFFFFFFFFu, &value) || *p != '\0') {
        return fallback;
    }
    return value;
}

bool isTrue(const std::string& text)
{
    const std::string upper = upperCased(text);
    return upper == "1" || upper == "ON" || upper == "TRUE";
}

std::string withoutTrailingSlash(std::string text)
{
    if (!text.empty() && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

u32 applicationTypeOf(const std::string& text)
{
    const std::string upper = upperCased(text);
    if (upper == "FIRMWARE") {
        return PyriteProductInfo::APPLICATION_FIRMWARE;
    }
    if (upper == "FADER_IQC") {
        return PyriteProductInfo::APPLICATION_FADER_IQC;
    }
    if (upper == "EDITOR") {
        return PyriteProductInfo::APPLICATION_EDITOR;
    }
    return PyriteProductInfo::APPLICATION_NONE;
}

u32 debugOutputLevelOf(const std::string& text)
{
    const std::string upper = upperCased(text);
    if (upper == "0" || upper == "OFF") {
        return PyriteProductInfo::DEBUG_OUTPUT_OFF;
    }
    if (upper == "1" || upper == "ERRORONLY" || upper == "ON") {
        return PyriteProductInfo::DEBUG_OUTPUT_ERRORS;
    }
    return PyriteProductInfo::DEBUG_OUTPUT_ALL;
}

// The token after "WQ" (the version) and the one after that; empty when absent.
void versionTokens(const char* text, std::string& version, std::string& next)
{
    const std::vector<std::string> tokens = PYRITE::splitText(text, " ");
    version.clear();
    next.clear();
    for (size_t i = 0; i + 1 < tokens.size(); ++i) {
        if (tokens[i] == "WQ") {
            version = tokens[i + 1];
            if (i + 2 < tokens.size()) {
                next = tokens[i + 2];
            }
            return;
        }
    }
}

// The lexical form of a path: no empty or "." parts, ".." taken back against an earlier part where there is one.
// "/" for the root, "." for nothing.
std::vector<std::string> normalizedParts(const std::string& path, bool& absolute)
{
    absolute = !path.empty() && path[0] == '/';
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..") {
                parts.pop_back();
            } else if (!absolute) {
                parts.push_back(part);
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    return parts;
}

// True for a base whose removal would take the root, the working directory or one of its parents.
bool isUnsafeRemovalBase(const std::string& base)
{
    if (base.empty()) {
        return true;
    }
    bool absolute = false;
    const std::vector<std::string> parts = normalizedParts(base, absolute);
    for (const std::string& part : parts) {
        if (part != "..") {
            return false;
        }
    }
    return true;
}

void logRemovalFailure(const char* path, u32 code, void*)
{
    KLIB_LOG("[E] PyriteProductInfo::finalize() - Cannot remove \"%s\" (0x%08X).\n", path, code);
}

} // namespace

PyriteProductInfo::Guard::Guard(const std::atomic<TMS::TMSMutex*>& mutex)
    : m_mutex(mutex.load(std::memory_order_acquire)), m_locked(m_mutex != nullptr && m_mutex->lock() == 0)
{
}

PyriteProductInfo::Guard::~Guard()
{
    if (m_locked) {
        m_mutex->unlock();
    }
}

PyriteProductInfo& PyriteProductInfo::getInstance()
{
    static PyriteProductInfo instance;
    return instance;
}

u32 PyriteProductInfo::initialize(const char* directory)
{
    if (m_mutex.load(std::memory_order_acquire) != nullptr) {
        return PYRITE_E_FAILED;
    }
    TMS::TMSMutex* mutex = new (std::nothrow) TMS::TMSMutex("ProductInfo");
    if (mutex == nullptr) {
        return PYRITE_E_FAILED;
    }
    if (!mutex->isValid()) {
        delete mutex;
        return PYRITE_E_FAILED;
    }
    m_mutex.store(mutex, std::memory_order_release);
    load(directory);
    return PYRITE_OK;
}

u32 PyriteProductInfo::load(const char* directory)
{
    Guard guard(m_mutex);
    FILECACHE::IniFile reader;
    bool readable =
        reader.open(directory, FILECACHE::VDirTreeItem::kKindFile, "./SystemSetting.ini") >= 0 && reader.load() >= 0;
    if (!readable) {
        KLIB_LOG("[E] PyriteProductInfo::load() - Cannot load \"%s\".\n", SETTINGS_FILE_NAME);
    }
    // An unreadable file reads as an empty one: every key at its default.
    auto value = [&](const char* section, const char* key, const char* fallback) -> std::string {
        return readable ? reader.getValue(section, key, fallback) : fallback;
    };
    auto setting = [&](const char* key, const char* fallback) { return value(SECTION_SETTING, key, fallback); };

    Settings& s = m_settings;
    s.m_settingsDirectory = directory != nullptr ? directory : "";
    s.m_systemDataPath = setting("SystemDataPath", ".");
    s.m_applicationType = applicationTypeOf(value(SECTION_PRODUCT_INFO, "ApplicationType", ""));

    m_productSelectors[0] = 1;
    m_productSelectors[1] = 1;
    rebuildSystemDataPaths();
    setEmulatedVersions();

    s.m_firmwarePath = withoutTrailingSlash(setting("FirmwarePath", "./Firmware"));
    s.m_storagePath = withoutTrailingSlash(setting("StoragePath", "./storage"));
    rebuildStorageColumn(withoutTrailingSlash(setting("UserDataPath", "./userdata")));

    if (isTrue(setting("UseHUI", ""))) {
        s.m_huiMode = s.m_applicationType == APPLICATION_FIRMWARE ? HUI_FIRMWARE : HUI_OTHER;
    } else {
        s.m_huiMode = HUI_OFF;
    }
    s.m_huiPort = decimalOr(setting("HUIPort", "0"), 0);
    s.m_huiBaudRate = decimalOr(setting("HUIBaudRate", "115200"), 115200);
    s.m_dioPort = decimalOr(setting("DIOPort", "1"), 0);
    s.m_dioBaudRate = decimalOr(setting("DIOBaudRate", "115200"), 115200);
    s.m_extCtrlPort = decimalOr(setting("ExtCtrlPort", "1"), 0);
    s.m_extCtrlBaudRate = decimalOr(setting("ExtCtrlBaudRate", "115200"), 115200);
    s.m_etherPort = setting("EtherPort", "eth0");
    s.m_useMmsExplorer = isTrue(setting("UseMMSExplorer", ""));
    s.m_useDebugConsole = isTrue(setting("UseDebugConsole", ""));
    s.m_debugOutputLevel = debugOutputLevelOf(setting("DebugOutputLevel", "2"));
    s.m_startupDiag = isTrue(setting("StartupDiag", ""));
    s.m_useCpuLoad = isTrue(setting("UseCpuLoad", ""));
    return readable ? PYRITE_OK : PYRITE_E_FAILED;
}

void PyriteProductInfo::setEmulatedVersions()
{
    for (u32 kind : EMULATED_VERSION_KINDS) {
        setVersion(static_cast<int>(kind), EMULATED_VERSION);
    }
    std::string version;
    std::string next;
    versionTokens(BOOT_LOADER_TEXT, version, next);
    setVersion(static_cast<int>(VERSION_BOOT_LOADER), version.c_str());
    versionTokens(KERNEL_TEXT, version, next);
    setVersion(static_cast<int>(VERSION_KERNEL), version.c_str());
    if (next.size() == 3 && isDigit(next[0]) && next[1] == '.' && isDigit(next[2])) {
        m_kernelRevision = {upperOf(next[2]), next[0]};
    } else {
        m_kernelRevision = "--";
    }
}

u32 PyriteProductInfo::finalize(int endCode)
{
    u32 result = PYRITE_OK;
    if (endCode == 1) {
        std::string base;
        getPath(base, 0, COLUMN_STORAGE);
        if (isUnsafeRemovalBase(base)) {
            KLIB_LOG("[E] PyriteProductInfo::finalize() - Refused to remove the storage base \"%s\".\n", base.c_str());
            result = PYRITE_E_FAILED;
        } else {
            const u32 removed = fsw_removeTree(base.c_str(), &logRemovalFailure, nullptr);
            if (removed != FSW_OK && removed != FSW_E_NOT_FOUND) {
                result = removed;
            }
        }
    }
    delete m_mutex.exchange(nullptr, std::memory_order_acq_rel);
    return result;
}

void PyriteProductInfo::rebuildSystemDataPaths()
{
    Settings& s = m_settings;
    s.m_descriptorPath = s.m_systemDataPath + "/Descriptor";
    s.m_componentPath = s.m_systemDataPath + "/Component";
    s.m_fontPath = s.m_systemDataPath + "/Font";
    s.m_openingPath = s.m_systemDataPath + "/Opening";
    s.m_helpPath = s.m_systemDataPath + "/Help";
    for (u32 i = 0; i < PATH_COUNT; ++i) {
        m_paths[i].m_factoryPreset = s.m_systemDataPath + "/FactoryPreset" + PATH_SUFFIXES[i];
    }
}

void PyriteProductInfo::rebuildStorageColumn(const std::string& base)
{
    for (u32 i = 0; i < PATH_COUNT; ++i) {
        m_paths[i].m_storage = base + PATH_SUFFIXES[i];
    }
}

u32 PyriteProductInfo::setSystemDataPath(const std::string& path)
{
    Guard guard(m_mutex);
    m_settings.m_systemDataPath = path;
    rebuildSystemDataPaths();
    return PYRITE_OK;
}

u32 PyriteProductInfo::setStoragePath(const std::string& base)
{
    Guard guard(m_mutex);
    rebuildStorageColumn(base);
    return PYRITE_OK;
}

void PyriteProductInfo::getPath(std::string& out, int index, int column)
{
    Guard guard(m_mutex);
    if (index < 0 || index >= static_cast<int>(PATH_COUNT)) {
        out.clear();
    } else if (column == COLUMN_STORAGE) {
        out = m_paths[index].m_storage;
    } else if (column == COLUMN_FACTORY_PRESET) {
        out = m_paths[index].m_factoryPreset;
    } else {
        out.clear();
    }
}

u32 PyriteProductInfo::getApplicationType()
{
    Guard guard(m_mutex);
    return m_settings.m_applicationType;
}

void PyriteProductInfo::getComponentPath(std::string& out)
{
    Guard guard(m_mutex);
    out = m_settings.m_componentPath;
}

void PyriteProductInfo::getDescriptorPath(std::string& out)
{
    Guard guard(m_mutex);
    out = m_settings.m_descriptorPath;
}

void PyriteProductInfo::getEtherPort(std::string& out)
{
    Guard guard(m_mutex);
    out = m_settings.m_etherPort;
}

void PyriteProductInfo::getKernelRevision(std::string& out)
{
    Guard guard(m_mutex);
    out = m_kernelRevision;
}

PyriteProductInfo::Settings PyriteProductInfo::getSettings()
{
    Guard guard(m_mutex);
    return m_settings;
}

const PdbInstanceTable* PyriteProductInfo::getPdbInstance(u32 index)
{
    return index < PDB_INSTANCE_COUNT ? &PDB_INSTANCES[index] : nullptr;
}

u32 PyriteProductInfo::getPdbInstanceCount()
{
    return PDB_INSTANCE_COUNT;
}

const char* PyriteProductInfo::getProductName(u32 kind)
{
    Guard guard(m_mutex);
    const u32 selector = m_productSelectors[kind < SELECTOR_COUNT ? kind : 0];
    return selector == 1 ? "ZethImage" : "---";
}

u32 PyriteProductInfo::getVersionString(u32 kind, std::string& out)
{
    Guard guard(m_mutex);
    if (kind >= VERSION_COUNT) {
        out = "ERROR!";
        return PYRITE_E_FAILED;
    }
    if (m_versions[kind].m_set == 0) {
        out = "------";
        return PYRITE_E_FAILED;
    }
    char text[32] = {};
    const u32 result = klib_versionToString(text, sizeof(text), m_versions[kind].m_version);
    out = text;
    return PYRITE::pyriteFailed(result) ? PYRITE_E_FAILED : PYRITE_OK;
}

u32 PyriteProductInfo::setVersion(int kind, const char* text)
{
    if (kind < 0 || kind >= static_cast<int>(VERSION_COUNT) || text == nullptr) {
        return PYRITE_E_FAILED;
    }
    const char first = upperOf(text[0]);
    if (first != 'R' && first != 'V') {
        return PYRITE_E_FAILED;
    }
    const char* p = text + 1;
    u32 major = 0;
    u32 minor = 0;
    if (!readNumber(p, 255, &major) || *p != '.') {
        return PYRITE_E_FAILED;
    }
    ++p;
    if (!readNumber(p, 99, &minor)) {
        return PYRITE_E_FAILED;
    }
    char letter = 'a';
    if ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z')) {
        letter = (*p >= 'A' && *p <= 'Z') ? static_cast<char>(*p - 'A' + 'a') : *p;
    }
    u32 packed = 0;
    if (klib_makeVersion(&packed, first == 'R' ? 0 : 1, major, minor / 10, minor % 10, letter) != 0) {
        return PYRITE_E_FAILED;
    }
    Guard guard(m_mutex);
    m_versions[kind].m_version = packed;
    m_versions[kind].m_set = 1;
    return PYRITE_OK;
}

u32 registerSystemInfoItems(TMS::SystemThread* thread)
{
    if (thread == nullptr) {
        return PYRITE_E_FAILED;
    }
    return thread->setupSystemInfo(TMS::SYSTEM_INFO_DEFINITIONS, TMS::SYSTEM_INFO_DEFINITION_COUNT);
}

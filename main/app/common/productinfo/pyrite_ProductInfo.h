// PyriteProductInfo: the process-wide product information (product name and version records).
//
// This library holds the product-name selectors and the 23-entry version table with their accessors. The settings
// reader, the paths, initialize and load are added by the application core; until load runs, the product name
// is "---" and every version "------".
#pragma once

#include <string>

#include "klib_Types.h"

namespace TMS {
class TMSMutex;
}

class PyriteProductInfo {
public:
    static constexpr u32 VERSION_COUNT = 23;
    static constexpr u32 VERSION_PROGRAM = 0;
    static constexpr u32 VERSION_BOOT_LOADER = 1;
    static constexpr u32 VERSION_KERNEL = 2;
    static constexpr u32 SELECTOR_COUNT = 3;

    // The singleton, built on first use.
    static PyriteProductInfo& getInstance();

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
    struct VersionEntry {
        u8 m_set = 0;
        u32 m_version = 0;
    };

    // Locks the product-information mutex "ProductInfo" while it exists (it is created by initialize).
    class Guard {
    public:
        explicit Guard(TMS::TMSMutex* mutex);
        ~Guard();
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        TMS::TMSMutex* m_mutex;
        bool m_locked;
    };

    PyriteProductInfo() = default;
    ~PyriteProductInfo() = default;

    TMS::TMSMutex* m_mutex = nullptr;
    u32 m_productSelectors[SELECTOR_COUNT] = {0, 0, 0};
    VersionEntry m_versions[VERSION_COUNT] = {};
};

#include "pyrite_ProductInfo.h"

#include "klib_Codec.h"
#include "tms_Mutex.h"

namespace {

constexpr u32 FAILED = 0x80000000u;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads decimal digits; false when there is none or the number passes limit.
bool readNumber(const char*& p, u32 limit, u32* value)
{
    if (!isDigit(*p)) {
        return false;
    }
    u32 number = 0;
    while (isDigit(*p)) {
        number = number * 10 + static_cast<u32>(*p - '0');
        if (number > limit) {
            return false;
        }
        ++p;
    }
    *value = number;
    return true;
}

} // namespace

PyriteProductInfo::Guard::Guard(TMS::TMSMutex* mutex)
    : m_mutex(mutex), m_locked(mutex != nullptr && mutex->lock() == 0)
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
        return FAILED;
    }
    if (m_versions[kind].m_set == 0) {
        out = "------";
        return FAILED;
    }
    char text[32] = {};
    const u32 result = klib_versionToString(text, sizeof(text), m_versions[kind].m_version);
    out = text;
    return (result & FAILED) != 0 ? FAILED : 0;
}

u32 PyriteProductInfo::setVersion(int kind, const char* text)
{
    if (kind < 0 || kind >= static_cast<int>(VERSION_COUNT) || text == nullptr) {
        return FAILED;
    }
    const char first = (text[0] >= 'a' && text[0] <= 'z') ? static_cast<char>(text[0] - 'a' + 'A') : text[0];
    if (first != 'R' && first != 'V') {
        return FAILED;
    }
    const char* p = text + 1;
    u32 major = 0;
    u32 minor = 0;
    if (!readNumber(p, 255, &major) || *p != '.') {
        return FAILED;
    }
    ++p;
    if (!readNumber(p, 99, &minor)) {
        return FAILED;
    }
    char letter = 'a';
    if ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z')) {
        letter = (*p >= 'A' && *p <= 'Z') ? static_cast<char>(*p - 'A' + 'a') : *p;
    }
    u32 packed = 0;
    if (klib_makeVersion(&packed, first == 'R' ? 0 : 1, major, minor / 10, minor % 10, letter) != 0) {
        return FAILED;
    }
    Guard guard(m_mutex);
    m_versions[kind].m_version = packed;
    m_versions[kind].m_set = 1;
    return 0;
}

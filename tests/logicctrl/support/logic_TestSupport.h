// Helpers of the logic suites (and of the engine-lock suites, which reuse the mutex contract).
#pragma once

#include <string>
#include <vector>

#include "klib_Types.h"

namespace logictest {

// Brings the OS layer up once for the process; it stays up.
void startOsLayer();

// Occurrences of part in text.
size_t countOf(const std::string& text, const std::string& part);

// The i32 form of a result code as the Parts write it.
constexpr i32 code(u32 value)
{
    return static_cast<i32>(value);
}

// Takes every automatic semaphore id for its lifetime.
class SemaphoreHog
{
public:
    SemaphoreHog();
    ~SemaphoreHog();
    SemaphoreHog(const SemaphoreHog&) = delete;
    SemaphoreHog& operator=(const SemaphoreHog&) = delete;

    // Result of the creation that ended the run (0x80000010 when the ids ran out).
    u32 lastResult() const { return m_lastResult; }
    size_t count() const { return m_ids.size(); }

private:
    std::vector<u16> m_ids;
    u32 m_lastResult = 0;
};

} // namespace logictest

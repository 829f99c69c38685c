#include "logic_TestSupport.h"

#include "os_Tasks.h"

namespace logictest {

void startOsLayer()
{
    if (!ossupport::isInitialized()) {
        ossupport::initialize();
    }
}

size_t countOf(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

SemaphoreHog::SemaphoreHog()
{
    ossupport::SemaphoreRecord record;
    record.m_name = "Hog";
    for (;;) {
        u16 id = 0;
        m_lastResult = ossupport::createSemaphore(&id, &record);
        if (ossupport::osFailed(m_lastResult)) {
            break;
        }
        m_ids.push_back(id);
    }
}

SemaphoreHog::~SemaphoreHog()
{
    for (u16 id : m_ids) {
        ossupport::deleteSemaphore(id);
    }
}

} // namespace logictest

#include "lpc_Project.h"

#include "lpc_Log.h"
#include "pyrite_Result.h"

namespace LPC {

namespace {

constexpr u32 DONE = 100;

u32 resultOf(i32 result)
{
    return result < 0 ? PYRITE::PYRITE_E_FAILED : static_cast<u32>(result);
}

const char* textOf(const char* text)
{
    return text != nullptr ? text : "";
}

} // namespace

ProjectProcessNotifier::ProjectProcessNotifier(std::atomic<u32>& progress, const char* what)
    : m_progress(progress), m_what(what != nullptr ? what : "")
{
}

void ProjectProcessNotifier::onProgress(u32 operation, u32 step, u32 total, const char* path, const char* text,
                                        bool last)
{
    (void)operation;
    const u32 percent = total == 0 || step >= total ? DONE : static_cast<u32>(u64{step} * DONE / total);
    m_progress.store(percent, std::memory_order_release);
    const u32 tenth = percent / LOG_STEPS;
    if (last || tenth > m_loggedTenth) {
        m_loggedTenth = tenth;
        logNq("[NQ] ProjectProcessNotifier::onProgress - %s %u%% [%s] %s\n", m_what, percent, textOf(path),
              textOf(text));
    }
}

void ProjectProcessNotifier::onError(u32 operation, const char* path, i32 code)
{
    (void)operation;
    ++m_errors;
    logNq("[NQ] ProjectProcessNotifier::onError - %s [%s] 0x%08X\n", m_what, textOf(path), static_cast<u32>(code));
}

Project::Project() = default;
Project::~Project() = default;

u32 Project::initialize(const std::map<std::string, std::string>& contents, MMSFUNC::SelectedItemLoader* loader)
{
    return m_file.initialize(MODEL_TAG, VERSION, TABLE_HEADER_VALUE, contents, loader, 0) < 0 ? PYRITE::PYRITE_E_FAILED
                                                                                              : PYRITE::PYRITE_OK;
}

u32 Project::save(const char* path, std::atomic<u32>& progress, FILECACHE::IMBDFObserver& observer)
{
    progress.store(0, std::memory_order_release);
    const u32 result = resultOf(m_file.save(path, "", "", nullptr, &observer));
    if (result == PYRITE::PYRITE_OK) {
        progress.store(DONE, std::memory_order_release);
    }
    return result;
}

u32 Project::load(const char* path, std::atomic<u32>& progress, FILECACHE::IMBDFObserver& observer)
{
    progress.store(0, std::memory_order_release);
    const u32 result = resultOf(m_file.load(path, nullptr, &observer, nullptr));
    if (result == PYRITE::PYRITE_OK) {
        progress.store(DONE, std::memory_order_release);
    }
    return result;
}

} // namespace LPC

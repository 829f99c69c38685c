#include "vdp_PostWindow.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "os_Clock.h"
#include "pyrite_MessageFields.h"
#include "tms_ThreadRepository.h"
#include "vdp_Result.h"

namespace VDevice {

namespace {

using VDProtocol::RESULT_OK;

// How many awaited posts of one target may be unanswered: in total, or per answer name.
struct WindowRule
{
    const char* m_target;
    bool m_perAnswer;
    u32 m_limit;
};

constexpr WindowRule kWindowRules[] = {
    {"DeviceControl", false, PostWindow::DEVICE_CONTROL_WINDOW},
    {"Compiler", true, PostWindow::COMPILER_WINDOW},
};

} // namespace

TMS::ThreadHandle findRunningThread(const char* threadName)
{
    TMS::ThreadHandle thread = TMS::ThreadRepository::acquireThread(threadName);
    if (!thread || thread->getStatus() < TMS::STATUS_STOP) {
        return {};
    }
    return thread;
}

i32 sendToThread(const char* threadName, const TMS::AbstractMessage& message)
{
    return static_cast<i32>(PYRITE::sendToListener(threadName, message));
}

TMS::AbstractMessage makeCommandMessage(const char* command)
{
    return PYRITE::makeCommand(command);
}

PostWindow::PostWindow(FailureHandler onFailure) : m_onFailure(std::move(onFailure)) {}

bool PostWindow::fits(const std::string& target, const Target& state, const OutgoingPost& post) const
{
    if (post.m_answer.empty()) {
        return true;
    }
    for (const WindowRule& rule : kWindowRules) {
        if (target != rule.m_target) {
            continue;
        }
        const auto counted =
            std::count_if(state.m_outstanding.begin(), state.m_outstanding.end(), [&](const AwaitedAnswer& sent) {
                return !rule.m_perAnswer || sent.m_answer == post.m_answer;
            });
        return static_cast<u32>(counted) < rule.m_limit;
    }
    return true;
}

i32 PostWindow::send(Target& state, OutgoingPost& post)
{
    const i32 result = sendToThread(post.m_target.c_str(), post.m_message);
    if (VDProtocol::failed(result)) {
        if (m_onFailure) {
            m_onFailure(post, result);
        }
        return result;
    }
    if (!post.m_answer.empty()) {
        u32 now = 0;
        ossupport::getMilliseconds(&now);
        state.m_outstanding.push_back(AwaitedAnswer{post.m_target, post.m_answer, post.m_key, post.m_requestId, now});
    }
    return RESULT_OK;
}

i32 PostWindow::submit(OutgoingPost post)
{
    const std::string target = post.m_target;
    Target& state = m_targets[target];
    if (!state.m_queue.empty() || !fits(target, state, post)) {
        state.m_queue.push_back(std::move(post));
        return RESULT_OK;
    }
    return send(state, post);
}

void PostWindow::pump(const std::string& target)
{
    Target& state = m_targets[target];
    // The failure handler may cancel queued posts, so the queue is looked at afresh after every send.
    while (!state.m_queue.empty() && fits(target, state, state.m_queue.front())) {
        OutgoingPost post = std::move(state.m_queue.front());
        state.m_queue.pop_front();
        (void)send(state, post);
    }
}

bool PostWindow::release(const std::string& answer, const std::string& key)
{
    for (auto& [target, state] : m_targets) {
        auto& sent = state.m_outstanding;
        const auto it = std::find_if(sent.begin(), sent.end(), [&](const AwaitedAnswer& entry) {
            return entry.m_answer == answer && entry.m_key == key;
        });
        if (it != sent.end()) {
            sent.erase(it);
            pump(target);
            return true;
        }
    }
    return false;
}

void PostWindow::cancel(u32 requestId)
{
    if (requestId == 0) {
        return;
    }
    for (auto& entry : m_targets) {
        auto& queue = entry.second.m_queue;
        queue.erase(std::remove_if(queue.begin(), queue.end(),
                                   [&](const OutgoingPost& post) { return post.m_requestId == requestId; }),
                    queue.end());
    }
}

std::vector<AwaitedAnswer> PostWindow::takeExpired(u32 now, u32 timeoutMs)
{
    std::vector<AwaitedAnswer> expired;
    for (auto& entry : m_targets) {
        auto& sent = entry.second.m_outstanding;
        // The clock wraps: the age is the unsigned difference.
        const auto isExpired = [&](const AwaitedAnswer& awaited) { return now - awaited.m_sentAt >= timeoutMs; };
        std::copy_if(sent.begin(), sent.end(), std::back_inserter(expired), isExpired);
        sent.erase(std::remove_if(sent.begin(), sent.end(), isExpired), sent.end());
    }
    return expired;
}

void PostWindow::forget(u32 requestId)
{
    if (requestId == 0) {
        return;
    }
    for (auto& entry : m_targets) {
        auto& sent = entry.second.m_outstanding;
        sent.erase(std::remove_if(sent.begin(), sent.end(),
                                  [&](const AwaitedAnswer& awaited) { return awaited.m_requestId == requestId; }),
                   sent.end());
    }
}

void PostWindow::pump()
{
    for (auto& entry : m_targets) {
        pump(entry.first);
    }
}

bool PostWindow::serves(u32 requestId) const
{
    for (const auto& entry : m_targets) {
        const Target& state = entry.second;
        if (std::any_of(state.m_queue.begin(), state.m_queue.end(),
                        [&](const OutgoingPost& post) { return post.m_requestId == requestId; }) ||
            std::any_of(state.m_outstanding.begin(), state.m_outstanding.end(),
                        [&](const AwaitedAnswer& awaited) { return awaited.m_requestId == requestId; })) {
            return true;
        }
    }
    return false;
}

bool PostWindow::isBusy() const
{
    return std::any_of(m_targets.begin(), m_targets.end(), [](const auto& entry) {
        return !entry.second.m_queue.empty() || !entry.second.m_outstanding.empty();
    });
}

u32 PostWindow::getQueuedCount(const std::string& target) const
{
    const auto it = m_targets.find(target);
    return it == m_targets.end() ? 0 : static_cast<u32>(it->second.m_queue.size());
}

u32 PostWindow::getOutstandingCount(const std::string& target) const
{
    const auto it = m_targets.find(target);
    return it == m_targets.end() ? 0 : static_cast<u32>(it->second.m_outstanding.size());
}

} // namespace VDevice

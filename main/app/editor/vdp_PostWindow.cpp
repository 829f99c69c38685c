#include "vdp_PostWindow.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "os_Clock.h"
#include "pyrite_MessageFields.h"
#include "tms_MessageStream.h"
#include "tms_Result.h"
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

const WindowRule* findRule(const std::string& target)
{
    for (const WindowRule& rule : kWindowRules) {
        if (target == rule.m_target) {
            return &rule;
        }
    }
    return nullptr;
}

// Whether an awaited post takes a slot that the post needs (every awaited post of a target without a window).
bool holdsSlotOf(const WindowRule* rule, const AwaitedAnswer& awaited, const OutgoingPost& post)
{
    return rule == nullptr || !rule->m_perAnswer || awaited.m_answer == post.m_answer;
}

std::string commandOf(const OutgoingPost& post)
{
    const char* command = post.m_message.getValue("CommandName").getString();
    return command != nullptr ? command : "";
}

} // namespace

TMS::ThreadHandle findRunningThread(const char* threadName)
{
    TMS::ThreadHandle thread = TMS::ThreadRepository::acquireThread(threadName);
    if (!thread || thread->getStatus() < TMS::STATUS_STOP) {
        return {};
    }
    return thread;
}

SendStatus sendToThread(const char* threadName, const TMS::AbstractMessage& message)
{
    const TMS::ThreadHandle thread = findRunningThread(threadName);
    if (!thread) {
        return SendStatus::REFUSED;
    }
    // A full queue is seen before the send, so that a post retried until its target takes it again leaves no
    // "Busy!" line in the target's log each time. A message to the calling thread itself is handled at once.
    if (!thread->isCallerOwnTask()) {
        TMS::ThreadMessageStream& stream = thread->getMessageStream();
        if (stream.getCount() >= stream.getCapacity()) {
            return SendStatus::QUEUE_FULL;
        }
    }
    const u32 sent = thread->sendMessage(message);
    if (sent == TMS::RESULT_FULL) {
        return SendStatus::QUEUE_FULL;
    }
    return (sent & TMS::RESULT_FAILED) != 0 ? SendStatus::REFUSED : SendStatus::TAKEN;
}

TMS::AbstractMessage makeCommandMessage(const char* command)
{
    return PYRITE::makeCommand(command);
}

PostWindow::PostWindow(FailureHandler onFailure, SentHandler onSent)
    : m_onFailure(std::move(onFailure)), m_onSent(std::move(onSent))
{
}

bool PostWindow::fits(const std::string& target, const Target& state, const OutgoingPost& post) const
{
    const WindowRule* rule = findRule(target);
    if (post.m_answer.empty() || rule == nullptr) {
        return true;
    }
    const auto counted = std::count_if(state.m_outstanding.begin(), state.m_outstanding.end(),
                                       [&](const AwaitedAnswer& sent) { return holdsSlotOf(rule, sent, post); });
    return static_cast<u32>(counted) < rule->m_limit;
}

SendStatus PostWindow::send(Target& state, OutgoingPost& post)
{
    const SendStatus status = sendToThread(post.m_target.c_str(), post.m_message);
    state.m_blocked = status == SendStatus::QUEUE_FULL;
    if (status == SendStatus::REFUSED && m_onFailure) {
        m_onFailure(post, VDProtocol::RESULT_NG);
    }
    if (status != SendStatus::TAKEN) {
        return status;
    }
    if (!post.m_answer.empty()) {
        u32 now = 0;
        ossupport::getMilliseconds(&now);
        state.m_outstanding.push_back(
            AwaitedAnswer{post.m_target, post.m_answer, post.m_key, post.m_requestId, now, false, false});
    }
    if (m_onSent) {
        m_onSent(post);
    }
    return status;
}

i32 PostWindow::submit(OutgoingPost post)
{
    const std::string target = post.m_target;
    Target& state = m_targets[target];
    if (post.m_requestId == 0 && !state.m_queue.empty()) {
        if (post.m_coalesce) {
            // The older one goes and this one joins the end: whatever was queued after the older one still goes
            // first, as it was asked for first.
            const std::string command = commandOf(post);
            const auto same = std::find_if(state.m_queue.begin(), state.m_queue.end(), [&](const OutgoingPost& queued) {
                return queued.m_coalesce && commandOf(queued) == command;
            });
            if (same != state.m_queue.end()) {
                state.m_queue.erase(same);
            }
        }
        const auto unowned = std::count_if(state.m_queue.begin(), state.m_queue.end(),
                                           [](const OutgoingPost& queued) { return queued.m_requestId == 0; });
        if (static_cast<u32>(unowned) >= MAX_QUEUED) {
            if (m_onFailure) {
                m_onFailure(post, VDProtocol::RESULT_NG);
            }
            return VDProtocol::RESULT_NG;
        }
    }
    if (!state.m_queue.empty() || !fits(target, state, post)) {
        state.m_queue.push_back(std::move(post));
        return RESULT_OK;
    }
    const SendStatus sent = send(state, post);
    if (sent == SendStatus::QUEUE_FULL) {
        state.m_queue.push_back(std::move(post));
    }
    return sent == SendStatus::REFUSED ? VDProtocol::RESULT_NG : RESULT_OK;
}

void PostWindow::pump(const std::string& target)
{
    Target& state = m_targets[target];
    // The failure handler may cancel queued posts, so the queue is looked at afresh after every send.
    while (!state.m_queue.empty() && fits(target, state, state.m_queue.front())) {
        OutgoingPost post = std::move(state.m_queue.front());
        state.m_queue.pop_front();
        if (send(state, post) == SendStatus::QUEUE_FULL) {
            state.m_queue.push_front(std::move(post));
            return;
        }
    }
    state.m_blocked = false;
}

PostWindow::Matched PostWindow::take(const std::string& answer, const std::string& key, bool final, u32 now)
{
    for (auto& entry : m_targets) {
        auto& sent = entry.second.m_outstanding;
        const auto it = std::find_if(sent.begin(), sent.end(), [&](const AwaitedAnswer& awaited) {
            return awaited.m_answer == answer && awaited.m_key == key;
        });
        if (it == sent.end()) {
            continue;
        }
        const Matched matched{it->m_expired ? Match::LATE : Match::LIVE, it->m_expired ? 0 : it->m_requestId};
        if (final) {
            sent.erase(it);
        } else if (it->m_expired) {
            it->m_since = now; // its work runs: the answer is still to come
            it->m_progress = true;
        }
        return matched;
    }
    return Matched{};
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

void PostWindow::expire(u32 requestId, u32 now)
{
    if (requestId == 0) {
        return;
    }
    for (auto& entry : m_targets) {
        for (AwaitedAnswer& awaited : entry.second.m_outstanding) {
            if (awaited.m_requestId == requestId && !awaited.m_expired) {
                awaited.m_expired = true;
                awaited.m_since = now;
            }
        }
    }
}

void PostWindow::detach(u32 requestId)
{
    if (requestId == 0) {
        return;
    }
    for (auto& entry : m_targets) {
        for (OutgoingPost& post : entry.second.m_queue) {
            post.m_requestId = post.m_requestId == requestId ? 0 : post.m_requestId;
        }
        for (AwaitedAnswer& awaited : entry.second.m_outstanding) {
            awaited.m_requestId = awaited.m_requestId == requestId ? 0 : awaited.m_requestId;
        }
    }
}

std::vector<AwaitedAnswer> PostWindow::expireOverdue(u32 now, u32 timeoutMs,
                                                     const std::function<bool(u32)>& isTimedByRequest)
{
    std::vector<AwaitedAnswer> expired;
    for (auto& entry : m_targets) {
        for (AwaitedAnswer& awaited : entry.second.m_outstanding) {
            // The clock wraps: the age is the unsigned difference.
            if (!awaited.m_expired && now - awaited.m_since >= timeoutMs && !isTimedByRequest(awaited.m_requestId)) {
                awaited.m_expired = true;
                awaited.m_since = now;
                expired.push_back(awaited);
            }
        }
    }
    return expired;
}

std::vector<AwaitedAnswer> PostWindow::forgetLost(u32 now, u32 limitMs, u32 progressLimitMs)
{
    std::vector<AwaitedAnswer> lost;
    for (auto& entry : m_targets) {
        auto& sent = entry.second.m_outstanding;
        const auto isLost = [&](const AwaitedAnswer& awaited) {
            return awaited.m_expired && now - awaited.m_since >= (awaited.m_progress ? progressLimitMs : limitMs);
        };
        std::copy_if(sent.begin(), sent.end(), std::back_inserter(lost), isLost);
        sent.erase(std::remove_if(sent.begin(), sent.end(), isLost), sent.end());
    }
    return lost;
}

void PostWindow::pump()
{
    for (auto& entry : m_targets) {
        pump(entry.first);
    }
}

bool PostWindow::isBusy() const
{
    return std::any_of(m_targets.begin(), m_targets.end(), [](const auto& entry) {
        return !entry.second.m_queue.empty() || !entry.second.m_outstanding.empty();
    });
}

bool PostWindow::isBlocked() const
{
    return std::any_of(m_targets.begin(), m_targets.end(),
                       [](const auto& entry) { return entry.second.m_blocked && !entry.second.m_queue.empty(); });
}

bool PostWindow::hasQueued(u32 requestId) const
{
    return std::any_of(m_targets.begin(), m_targets.end(), [&](const auto& entry) {
        return std::any_of(entry.second.m_queue.begin(), entry.second.m_queue.end(),
                           [&](const OutgoingPost& post) { return post.m_requestId == requestId; });
    });
}

bool PostWindow::waitsItsTurn(u32 requestId) const
{
    if (requestId == 0) {
        return false;
    }
    bool queued = false;
    for (const auto& [target, state] : m_targets) {
        const WindowRule* rule = findRule(target);
        if (std::any_of(state.m_outstanding.begin(), state.m_outstanding.end(),
                        [&](const AwaitedAnswer& awaited) { return awaited.m_requestId == requestId; })) {
            return false;
        }
        for (const OutgoingPost& post : state.m_queue) {
            if (post.m_requestId != requestId) {
                continue;
            }
            queued = true;
            if (state.m_blocked ||
                std::any_of(state.m_outstanding.begin(), state.m_outstanding.end(), [&](const AwaitedAnswer& awaited) {
                    return awaited.m_expired && holdsSlotOf(rule, awaited, post);
                })) {
                return false;
            }
        }
    }
    return queued;
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

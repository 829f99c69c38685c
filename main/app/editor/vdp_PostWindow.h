// PostWindow: the executor's outgoing messages to other threads, one FIFO per target thread, with a window of
// unanswered posts per target.
//
// The window keeps the executor's posts from waiting on the small queues of the threads that answer it: at most 4
// posts to "DeviceControl" (queue of 5) are unanswered at a time, and towards "Compiler" (queue of 1) at most one
// "startCompile" (answered by "Notify:compileResult") and one "getTotalProcessingResourceUsage". A post that does
// not fit waits in its target's FIFO; each answer that matches an outstanding post (answer name and key) frees that
// slot and sends what now fits, in order. Posts to other targets, and posts that expect no answer, count against
// no window but keep their place in their target's FIFO.
//
// An answer may be lost or never come: takeExpired hands back the posts that have waited for their answer longer
// than the deadline and frees their slots, so one lost answer never blocks a kind of post for good.
//
// Every send goes through sendToThread. Not synchronised: the window belongs to the executor's thread.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "klib_Types.h"
#include "tms_AbstractThread.h"
#include "tms_Message.h"
#include "tms_ThreadRepository.h"

namespace VDevice {

// Looks the thread up by name and sends the message with waiting (TMS retries a full queue). The send's result;
// 0x80000000 when no thread of that name runs its message loop (none registered, or below STOP).
[[nodiscard]] i32 sendToThread(const char* threadName, const TMS::AbstractMessage& message);
// A handle on the registered thread of that name when it is at least in STOP, else an empty handle. Hold it only
// for the look-up at hand (see TMS::ThreadHandle).
TMS::ThreadHandle findRunningThread(const char* threadName);

// A user message (kind 2, code 0) from the calling thread with "CommandName" = command.
TMS::AbstractMessage makeCommandMessage(const char* command);

struct OutgoingPost
{
    std::string m_target; // thread name
    TMS::AbstractMessage m_message;
    std::string m_answer; // the answer that frees its slot; empty when none is awaited
    std::string m_key;    // the answer's key ("" when the answer carries none)
    u32 m_requestId = 0;  // the pending request it serves; 0 for none
    i32 m_failResult = 0; // the failure code its request is answered with; 0: the send's own code
};

// A sent post still awaiting its answer.
struct AwaitedAnswer
{
    std::string m_target;
    std::string m_answer;
    std::string m_key;
    u32 m_requestId = 0;
    u32 m_sentAt = 0; // the millisecond clock at the send
};

class PostWindow
{
public:
    static constexpr u32 DEVICE_CONTROL_WINDOW = 4;
    static constexpr u32 COMPILER_WINDOW = 1; // per answer kind

    // Called for every post whose send failed, also one sent at once from submit.
    using FailureHandler = std::function<void(const OutgoingPost& post, i32 result)>;

    explicit PostWindow(FailureHandler onFailure);

    // Sends the post now when its target's FIFO is empty and a slot is free; otherwise queues it. 0 when sent or
    // queued; the send's failure code (after the failure handler ran) when sending now failed.
    i32 submit(OutgoingPost post);
    // Frees the slot of the oldest outstanding post awaiting this answer and key, then sends what fits from that
    // target's FIFO: true; false (nothing freed) when no outstanding post matches.
    bool release(const std::string& answer, const std::string& key);
    // Drops every queued (not yet sent) post of a request.
    void cancel(u32 requestId);
    // Frees the slots of the posts that were sent timeoutMs or more before now and hands them back, oldest first
    // per target. Sends nothing: call pump once their requests are dealt with.
    std::vector<AwaitedAnswer> takeExpired(u32 now, u32 timeoutMs);
    // Frees the slots of every outstanding post of a request (its answers are given up). Sends nothing.
    void forget(u32 requestId);
    // Sends what fits from every target's FIFO.
    void pump();
    // True while a post of the request waits in a FIFO or for its answer.
    bool serves(u32 requestId) const;
    // True while any post waits in a FIFO or for its answer.
    bool isBusy() const;

    u32 getQueuedCount(const std::string& target) const;
    u32 getOutstandingCount(const std::string& target) const;

private:
    struct Target
    {
        std::deque<OutgoingPost> m_queue;
        std::vector<AwaitedAnswer> m_outstanding; // in send order
    };

    bool fits(const std::string& target, const Target& state, const OutgoingPost& post) const;
    // Sends one post: 0 or the send's failure (the failure handler has run then).
    i32 send(Target& state, OutgoingPost& post);
    void pump(const std::string& target);

    FailureHandler m_onFailure;
    std::map<std::string, Target, std::less<>> m_targets;
};

} // namespace VDevice

// PostWindow: the executor's outgoing messages to other threads, one FIFO per target thread, with a window of
// unanswered posts per target.
//
// The window keeps the executor's posts from flooding the small queues of the threads that answer it: at most 4
// posts to "DeviceControl" (queue of 5) are unanswered at a time, and towards "Compiler" (queue of 1) at most one
// "startCompile" (answered by "Notify:compileResult") and one "getTotalProcessingResourceUsage". A post that does
// not fit waits in its target's FIFO; each answer that matches an awaited post (answer name and key) frees that
// slot and sends what now fits, in order. Posts to other targets, and posts that expect no answer, count against
// no window but keep their place in their target's FIFO.
//
// Sending never waits: a post whose target's queue is full stays at the head of its FIFO, the target counts as
// blocked, and pump sends it once the target takes messages again. So a stuck thread holds back only the posts
// meant for it, never the thread that owns the window.
//
// An answer may come late. A post given up on (expire) stays awaited as expired: its answer, when it comes, is
// swallowed instead of completing a later post of the same answer and key, and its slot stays taken until then, so
// a slow target is never sent more than its window. Answers of one target come in the order of its posts, so an
// answer always belongs to the oldest awaited post that it matches. An expired post whose answer has not come
// within the lost-answer limit is forgotten (forgetLost), so a lost answer never blocks a kind of post for good; a
// progress answer of an expired post shows that its work runs and gives it the longer limit.
//
// Posts that serve no request may repeat while their target is stuck (the network addresses every 5 s, the meter
// list): one marked m_coalesce drops a post of the same command that still waits in the FIFO and joins the end, so
// it never overtakes what was queued after the post it replaces. At most MAX_QUEUED posts that serve no request
// wait for one target. Posts of requests are bounded by the stored requests.
//
// Not synchronised: the window belongs to the executor's thread.
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

// What one send did: the target took the message; its queue was full and nothing was queued; or no thread of that
// name runs its message loop (none registered, or below STOP) or the send failed otherwise.
enum class SendStatus {
    TAKEN,
    QUEUE_FULL,
    REFUSED,
};

// Looks the thread up by name and queues the message without waiting. A full queue is seen before the send, so
// that the target logs no "Busy!" line unless its queue filled in between. The thread system's own codes stay
// here: its queue-full code has the number of "ng/timeout".
[[nodiscard]] SendStatus sendToThread(const char* threadName, const TMS::AbstractMessage& message);
// A handle on the registered thread of that name when it is at least in STOP, else an empty handle. Hold it only
// for the look-up at hand (see TMS::ThreadHandle).
TMS::ThreadHandle findRunningThread(const char* threadName);

// A user message (kind 2, code 0) from the calling thread with "CommandName" = command.
TMS::AbstractMessage makeCommandMessage(const char* command);

struct OutgoingPost
{
    std::string m_target; // thread name
    TMS::AbstractMessage m_message;
    std::string m_answer;    // the answer that frees its slot; empty when none is awaited
    std::string m_key;       // the answer's key ("" when the answer carries none)
    u32 m_requestId = 0;     // the pending request it serves; 0 for none
    bool m_coalesce = false; // serving no request, it drops a queued post of the same command and goes last
};

// A sent post still awaiting its answer.
struct AwaitedAnswer
{
    std::string m_target;
    std::string m_answer;
    std::string m_key;
    u32 m_requestId = 0;
    u32 m_since = 0;         // the millisecond clock at the send, or when it was given up on or last heard of
    bool m_expired = false;  // given up on: its answer is swallowed
    bool m_progress = false; // given up on, but a progress answer came since: the longer lost-answer limit
};

class PostWindow
{
public:
    static constexpr u32 DEVICE_CONTROL_WINDOW = 4;
    static constexpr u32 COMPILER_WINDOW = 1; // per answer kind
    // Posts serving no request that may wait in one target's FIFO; one beyond them fails with 0x80000000.
    static constexpr u32 MAX_QUEUED = 1000;

    // What an answer met in the window.
    enum class Match {
        NONE, // no awaited post: the answer is no answer of a post
        LIVE, // the answer of an awaited post (of m_requestId)
        LATE, // the answer of a post given up on: to be swallowed
    };
    struct Matched
    {
        Match m_match = Match::NONE;
        u32 m_requestId = 0;
    };

    // Called for every post whose send failed, also one sent at once from submit; result is 0x80000000.
    using FailureHandler = std::function<void(const OutgoingPost& post, i32 result)>;
    // Called for every post that has gone out.
    using SentHandler = std::function<void(const OutgoingPost& post)>;

    explicit PostWindow(FailureHandler onFailure, SentHandler onSent = nullptr);

    // Sends the post now when its target's FIFO is empty, a slot is free and the target takes it; otherwise queues
    // it (after dropping a queued one it coalesces with). 0 when sent or queued; 0x80000000 (after the failure
    // handler ran) when sending now failed or too many posts serving no request wait.
    i32 submit(OutgoingPost post);
    // Finds the oldest awaited post of this answer and key. A final answer frees its slot; a progress answer
    // (final false) leaves it awaited. Sends nothing: call pump once the answer is dealt with.
    Matched take(const std::string& answer, const std::string& key, bool final, u32 now);
    // Drops every queued (not yet sent) post of a request.
    void cancel(u32 requestId);
    // Gives up every awaited post of a request (see above).
    void expire(u32 requestId, u32 now);
    // Lets every post of a request, queued or awaited, serve no request any more: their answers complete nothing.
    void detach(u32 requestId);
    // Gives up the live posts sent timeoutMs or more before now whose request is not timed by itself (see
    // isTimedByRequest) and hands them back.
    std::vector<AwaitedAnswer> expireOverdue(u32 now, u32 timeoutMs, const std::function<bool(u32)>& isTimedByRequest);
    // Forgets the posts given up on limitMs (progressLimitMs after a progress answer) or more before now whose
    // answer never came, freeing their slots, and hands them back. Sends nothing.
    std::vector<AwaitedAnswer> forgetLost(u32 now, u32 limitMs, u32 progressLimitMs);
    // Sends what fits from every target's FIFO.
    void pump();
    // True while any post waits in a FIFO or for its answer.
    bool isBusy() const;
    // True while a target whose queue was full holds back a queued post: pump soon.
    bool isBlocked() const;
    // True while a post of the request waits in a FIFO, not yet sent.
    bool hasQueued(u32 requestId) const;
    // True while the request has posts waiting in FIFOs only behind the window slots of live posts of other work,
    // at targets that take messages: it waits its turn, not on a stuck thread. False for a request with a post
    // sent, or none queued.
    bool waitsItsTurn(u32 requestId) const;

    u32 getQueuedCount(const std::string& target) const;
    // Awaited posts of the target, those given up on included (their slots are still taken).
    u32 getOutstandingCount(const std::string& target) const;

private:
    struct Target
    {
        std::deque<OutgoingPost> m_queue;
        std::vector<AwaitedAnswer> m_outstanding; // in send order
        bool m_blocked = false;                   // its queue was full at the last try
    };

    bool fits(const std::string& target, const Target& state, const OutgoingPost& post) const;
    // Sends one post; a full target queue marks the target blocked and nothing else happens, a failure runs the
    // failure handler.
    SendStatus send(Target& state, OutgoingPost& post);
    void pump(const std::string& target);

    FailureHandler m_onFailure;
    SentHandler m_onSent;
    std::map<std::string, Target, std::less<>> m_targets;
};

} // namespace VDevice

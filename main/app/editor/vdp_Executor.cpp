#include "vdp_Executor.h"

#include <string_view>
#include <utility>

#include "dbgc_Print.h"
#include "os_Clock.h"
#include "vdp_Result.h"

namespace VDevice {

using VDProtocol::PacketContainer;
using VDProtocol::RESULT_EXECUTING;
using VDProtocol::RESULT_NG;
using VDProtocol::RESULT_OK;

namespace {

constexpr u32 FULL_PROGRESS = 100;

// How an answer's key is formed from its message fields.
enum class KeyForm {
    NONE,       // the answer carries no key
    UNIQUE_ID,  // "UniqID" in decimal
    CONNECTION, // "toUniqId:toPortNo/fromUniqId:fromPortNo"
};

// Every answer that frees a window slot, and for sub-request answers the pending requests it completes. An answer
// completes only requests of its own command and cmdinfo, so a removal never lands on a pending add of the same
// uid ("add" and "del" share the cmdinfo "cpt_info").
struct AnswerRoute
{
    const char* m_answer;
    KeyForm m_keyForm;
    const char* m_command; // null: not a sub-request answer
    const char* m_cmdInfo;
    bool m_requestsUsage; // a sent reply is followed by "getTotalProcessingResourceUsage"
};

constexpr AnswerRoute kAnswerRoutes[] = {
    {"Re:addComponent", KeyForm::UNIQUE_ID, "add", "cpt_info", true},
    {"Re:removeComponent", KeyForm::UNIQUE_ID, "del", "cpt_info", true},
    {"Re:changeComponentType", KeyForm::UNIQUE_ID, "set", "cpt_change", true},
    {"Re:addConnection", KeyForm::CONNECTION, "add", "cpt_connect", false},
    {"Re:removeConnection", KeyForm::CONNECTION, "del", "cpt_connect", false},
    {"Re:setComponentDefault", KeyForm::UNIQUE_ID, "add", "regist_parameter", false},
    {"Re:removeComponentDefault", KeyForm::UNIQUE_ID, "del", "regist_parameter", false},
    {"Notify:compileResult", KeyForm::NONE, nullptr, nullptr, false},
    {"Re:getTotalProcessingResourceUsage", KeyForm::NONE, nullptr, nullptr, false},
};

const AnswerRoute* findRoute(const std::string& answer)
{
    for (const AnswerRoute& route : kAnswerRoutes) {
        if (answer == route.m_answer) {
            return &route;
        }
    }
    return nullptr;
}

u32 clockNow()
{
    u32 now = 0;
    ossupport::getMilliseconds(&now);
    return now;
}

constexpr const char* kCompileAnswer = "Notify:compileResult";
constexpr const char* kUsageAnswer = "Re:getTotalProcessingResourceUsage";

} // namespace

// Rows in the order the dispatch compares them. A null handler drops the request (no reply, nothing stored).
const VDProtocolExecutor::DispatchRow VDProtocolExecutor::s_dispatchTable[] = {
    {"add", "cpt_info", &VDProtocolExecutor::addComponents},
    {"add", "cpt_connect", &VDProtocolExecutor::addConnections},
    {"add", "regist_parameter", &VDProtocolExecutor::addComponentDefaults},
    {"add", "cpt_meter", &VDProtocolExecutor::addMeters},
    {"add", "prmset", &VDProtocolExecutor::replyOk},
    {"add", "prmset_duplicate", &VDProtocolExecutor::replyOk},
    {"add", "prmset_assign", &VDProtocolExecutor::replyOk},

    {"del", "modified", &VDProtocolExecutor::replyOk},
    {"del", "cpt_info", &VDProtocolExecutor::removeComponents},
    {"del", "cpt_connect", &VDProtocolExecutor::removeConnections},
    {"del", "regist_parameter", &VDProtocolExecutor::removeComponentDefaults},
    {"del", "alert_log", nullptr},
    {"del", "net_info", &VDProtocolExecutor::clearNetworkInfo},
    {"del", "cpt_meter", &VDProtocolExecutor::removeMeters},
    {"del", "peak_hold", &VDProtocolExecutor::replyOk},
    {"del", "prmset", &VDProtocolExecutor::replyOk},
    {"del", "prmset_assign", &VDProtocolExecutor::replyOk},

    {"get", "modified", nullptr},
    {"get", "dev_info", &VDProtocolExecutor::getDeviceInfo},
    {"get", "sync_device", &VDProtocolExecutor::getSyncDevice},
    {"get", "alert_log", nullptr},
    {"get", "net_info", nullptr},
    {"get", "detect", nullptr},
    {"get", "prm_val", nullptr},
    {"get", "prm_info", nullptr},
    {"get", "range_prm", &VDProtocolExecutor::checkParameterRange},

    {"getData", "prm_info", &VDProtocolExecutor::readParameters},
    {"getData", "prm_val", &VDProtocolExecutor::readParameters},
    {"getData", "copy_paste", &VDProtocolExecutor::copySnapshot},
    {"getData", "cpt_meter", &VDProtocolExecutor::listMeters},
    {"getData", "prmset", &VDProtocolExecutor::listParameterSets},
    {"getData", "prmset_assign", &VDProtocolExecutor::listParameterSetAssignments},

    {"set", "setup", &VDProtocolExecutor::setDeviceSetup},
    {"set", "active", &VDProtocolExecutor::activate},
    {"set", "save", &VDProtocolExecutor::replyOk},
    {"set", "load", &VDProtocolExecutor::replyOk},
    {"set", "auto_save", nullptr},
    {"set", "dev_label", &VDProtocolExecutor::setDeviceLabel},
    {"set", "virtual_dev_id", &VDProtocolExecutor::setVirtualDeviceId},
    {"set", "dev_capacity", &VDProtocolExecutor::setDeviceCapacity},
    {"set", "dev_fs", &VDProtocolExecutor::setDeviceFs},
    {"set", "cpt_change", &VDProtocolExecutor::changeComponentType},
    {"set", "security_check", &VDProtocolExecutor::replyOk},
    {"set", "sync_device", &VDProtocolExecutor::setSyncDevice},
    {"set", "sync_offline", &VDProtocolExecutor::syncOffline},
    {"set", "identify", nullptr},
    {"set", "update", nullptr},
    {"set", "reboot", nullptr},
    {"set", "net_info", &VDProtocolExecutor::setNetworkInfo},
    {"set", "real_dev_net_info", nullptr},
    {"set", "prm_val", &VDProtocolExecutor::setParameterValue},
    {"set", "prm_step", nullptr},
    {"set", "meter_info", &VDProtocolExecutor::setMeterInterval},
    {"set", "compile", &VDProtocolExecutor::startCompile},
    {"set", "peak_hold", &VDProtocolExecutor::setPeakHold},
    {"set", "prmset", &VDProtocolExecutor::replyOk},

    {"setData", "prm_val", &VDProtocolExecutor::setParameterValues},
    {"setData", "prm_step", nullptr},
    {"setData", "copy_paste", &VDProtocolExecutor::pasteSnapshot},
};

VDProtocolExecutor::VDProtocolExecutor(const std::string& identity, VDProtocol::VDProtocolClientUnit* unit)
    : m_identity(identity), m_unit(unit),
      m_posts([this](const OutgoingPost& failed, i32 result) { onPostFailed(failed, result); },
              [this](const OutgoingPost& sent) {
                  if (sent.m_requestId != 0) {
                      (void)m_requests.touch(sent.m_requestId); // its turn has come: its deadline starts now
                  }
              })
{
}

// ---- dispatch -----------------------------------------------------------------------------------------------------

i32 VDProtocolExecutor::dispatchPacket(const PacketContainer& packet)
{
    if (packet.m_type == "request") {
        // The table holds rows of the six commands only (onAdd ... onSetData), so any other command finds none.
        dispatchCommand(packet.m_command, packet);
    } else if (packet.m_type == "abort") {
        abortRequest(packet);
    }
    return RESULT_OK;
}

i32 VDProtocolExecutor::dispatchCommand(std::string_view command, const PacketContainer& request)
{
    for (const DispatchRow& row : s_dispatchTable) {
        if (command == row.m_command && request.m_cmdInfo == row.m_cmdInfo) {
            if (row.m_handler != nullptr) {
                (this->*row.m_handler)(request);
            }
            break;
        }
    }
    return RESULT_OK;
}

void VDProtocolExecutor::abortRequest(const PacketContainer& abort)
{
    u32 id = 0;
    std::string cmdInfo;
    if (m_requests.findByReqId(id, cmdInfo, abort.m_reqId) != RESULT_OK) {
        return;
    }
    // A compile is not aborted from the editor link; a synchronisation is asked to stop (once) and stays pending
    // until its final "Re:Synchronize" or its deadline.
    if (cmdInfo == "sync_device" && !m_syncAbortPosted) {
        m_syncAbortPosted = post("Sync", "abort") == RESULT_OK;
    }
}

// ---- sending --------------------------------------------------------------------------------------------------------

i32 VDProtocolExecutor::makeReply(const PacketContainer& request)
{
    if (m_unit == nullptr) {
        return RESULT_NG;
    }
    return makeReply(PacketContainer(request));
}

i32 VDProtocolExecutor::makeReply(PacketContainer&& reply)
{
    if (m_unit == nullptr) {
        return RESULT_NG;
    }
    reply.m_type = "reply";
    reply.m_from.swap(reply.m_to);
    const i32 queued = m_unit->queuePacket(reply, 0);
    if (queued != VDProtocol::RESULT_LIMIT_OVER) {
        return queued;
    }
    // Without its info and list the reply is short: the editor learns that its request was served, though not what
    // it asked for.
    reply.m_info.clear();
    reply.m_list.clear();
    reply.setResult(VDProtocol::RESULT_LIMIT_OVER, FULL_PROGRESS, "");
    const i32 stripped = m_unit->queuePacket(reply, 0);
    if (stripped == VDProtocol::RESULT_LIMIT_OVER) {
        DBGC_LOG("[E] VDProtocolExecutor::makeReply - no room for the reply to '%s'\n", reply.getCommandText().c_str());
        return VDProtocol::RESULT_SOCKET_ERROR;
    }
    return stripped;
}

i32 VDProtocolExecutor::replyLimitOver(PacketContainer&& reply)
{
    reply.m_info.clear();
    reply.m_list.clear();
    return replyWith(std::move(reply), VDProtocol::RESULT_LIMIT_OVER);
}

bool VDProtocolExecutor::ReplyRoom::take(size_t bytes)
{
    if (m_full || bytes > m_left) {
        m_full = true;
        return false;
    }
    m_left -= bytes;
    return true;
}

i32 VDProtocolExecutor::replyWith(const PacketContainer& request, i32 result)
{
    return replyWith(PacketContainer(request), result);
}

i32 VDProtocolExecutor::replyWith(PacketContainer&& reply, i32 result)
{
    reply.setResult(result, FULL_PROGRESS, "");
    return makeReply(std::move(reply));
}

i32 VDProtocolExecutor::sendNotify(const PacketContainer& packet)
{
    return sendNotify(PacketContainer(packet));
}

i32 VDProtocolExecutor::sendNotify(PacketContainer&& packet)
{
    if (m_unit == nullptr) {
        return RESULT_NG;
    }
    packet.m_type = "notify";
    packet.m_from = m_identity;
    return m_unit->sendPacket(packet);
}

i32 VDProtocolExecutor::queueNotify(PacketContainer&& packet, u32 keepFree)
{
    if (m_unit == nullptr) {
        return RESULT_NG;
    }
    packet.m_type = "notify";
    packet.m_from = m_identity;
    return m_unit->queuePacket(packet, keepFree);
}

i32 VDProtocolExecutor::sendConnected()
{
    if (m_unit == nullptr) {
        return RESULT_NG;
    }
    PacketContainer connected;
    connected.m_type = "connected";
    connected.m_from = m_identity;
    return m_unit->sendPacket(connected);
}

// ---- pending requests -----------------------------------------------------------------------------------------

bool VDProtocolExecutor::takeRequest(u32 requestId, PacketContainer& copy)
{
    const PacketContainer& stored = m_requests.get(requestId);
    if (stored.m_reqId.empty()) {
        return false; // the container's empty packet: no request has the id (stored requests have a reqid)
    }
    copy = stored;
    m_requests.remove(requestId);
    m_firstFailures.erase(requestId);
    return true;
}

i32 VDProtocolExecutor::failRequest(u32 requestId, i32 result)
{
    PacketContainer request;
    if (!takeRequest(requestId, request)) {
        return RESULT_NG;
    }
    m_posts.cancel(requestId);
    m_posts.detach(requestId); // the answers of those sent complete nothing
    return replyWith(request, result);
}

bool VDProtocolExecutor::isStored(u32 requestId)
{
    return !m_requests.get(requestId).m_reqId.empty(); // stored requests have a reqid
}

bool VDProtocolExecutor::timeOutRequest(u32 requestId, u32 now)
{
    PacketContainer request;
    if (!takeRequest(requestId, request)) {
        return false;
    }
    // Its queued posts are dropped; those sent are given up on, so that their answers, should they still come,
    // complete nothing else. A synchronisation that "Sync" runs is asked to stop, unless an abort went for it
    // already; the answer of either abort belongs to no request, unless the device link has gone (see the header).
    if (request.m_cmdInfo == "sync_device") {
        if (!m_syncAbortPosted && !m_posts.hasQueued(requestId) && isSynchronizing()) {
            m_syncAbortPosted = post("Sync", "abort") == RESULT_OK;
        }
        if (m_syncAbortPosted && getEditorStateClass() != STATE_CLASS_OFFLINE) {
            oweSyncAnswer(now);
        }
        m_syncAbortPosted = false;
    }
    m_posts.cancel(requestId);
    m_posts.expire(requestId, now);
    (void)replyWith(std::move(request), VDProtocol::RESULT_TIMEOUT);
    return true;
}

u32 VDProtocolExecutor::expireRequests()
{
    const u32 now = clockNow();
    const u32 lostAfter = m_answerTimeoutMs * LATE_ANSWER_FACTOR;
    for (const AwaitedAnswer& lost : m_posts.forgetLost(now, lostAfter, m_answerTimeoutMs * COMPILE_FACTOR)) {
        DBGC_LOG("[W] VDProtocolExecutor::expireRequests - '%s' from '%s' taken as lost\n", lost.m_answer.c_str(),
                 lost.m_target.c_str());
    }
    if (m_syncAnswersOwed != 0 && now - m_syncOwedSince >= lostAfter) {
        DBGC_LOG("[W] VDProtocolExecutor::expireRequests - %u synchronisation answers taken as lost\n",
                 m_syncAnswersOwed);
        m_syncAnswersOwed = 0;
    }
    // A request is timed from its arrival, the send of its post or its last progress, whether its posts were sent
    // or still wait; only one whose posts wait their turn behind live work is not.
    u32 answered = 0;
    for (u32 id : m_requests.findStale(m_answerTimeoutMs)) {
        const std::string cmdInfo = m_requests.get(id).m_cmdInfo;
        if (!m_posts.waitsItsTurn(id) && timeOutRequest(id, now)) {
            DBGC_LOG("[W] VDProtocolExecutor::expireRequests - request %u (%s) had no answer in time\n", id,
                     cmdInfo.c_str());
            ++answered;
        }
    }
    // Posts that serve no stored request are timed from their send.
    for (const AwaitedAnswer& overdue : m_posts.expireOverdue(
             now, m_answerTimeoutMs, [this](u32 requestId) { return requestId != 0 && isStored(requestId); })) {
        DBGC_LOG("[W] VDProtocolExecutor::expireRequests - no '%s' from '%s' within %u ms\n", overdue.m_answer.c_str(),
                 overdue.m_target.c_str(), m_answerTimeoutMs);
    }
    m_posts.pump();
    return answered;
}

bool VDProtocolExecutor::isAwaitingAnswers()
{
    return m_requests.getCount() != 0 || m_posts.isBusy() || m_syncAnswersOwed != 0;
}

i32 VDProtocolExecutor::onSubRequestAnswer(const std::string& answer, const std::string& key, i32 result)
{
    const PostWindow::Matched matched = m_posts.take(answer, key, true, clockNow());
    i32 sent = RESULT_NG;
    if (matched.m_match == PostWindow::Match::LATE) {
        DBGC_LOG("[i] VDProtocolExecutor - late '%s' for %s dropped\n", answer.c_str(), key.c_str());
    } else if (matched.m_match == PostWindow::Match::LIVE) {
        sent = completeSubRequest(matched.m_requestId, answer, key, result);
    }
    m_posts.pump();
    return sent;
}

i32 VDProtocolExecutor::completeSubRequest(u32 id, const std::string& answer, const std::string& key, i32 result)
{
    const AnswerRoute* route = findRoute(answer);
    // The post was made for this request and key; the request may have been answered meanwhile.
    if (route == nullptr || route->m_command == nullptr ||
        m_requests.setSub(id, key, static_cast<u32>(result)) != RESULT_OK) {
        return RESULT_NG;
    }
    if (VDProtocol::failed(result)) {
        m_firstFailures.emplace(id, result); // keeps an earlier failure
    }
    if (m_requests.isExecuting(id)) {
        (void)m_requests.touch(id); // progress: its deadline starts again
        return RESULT_OK;
    }
    const auto firstFailure = m_firstFailures.find(id);
    const i32 replyResult = firstFailure != m_firstFailures.end() ? firstFailure->second : result;
    PacketContainer request;
    takeRequest(id, request);
    const i32 sent = replyWith(request, replyResult);
    if (route->m_requestsUsage && sent == RESULT_OK) {
        postResourceUsageRequest();
    }
    return sent;
}

i32 VDProtocolExecutor::onComponentReply(const std::string& answer, i32 result, u32 uniqueId)
{
    return onSubRequestAnswer(answer, std::to_string(uniqueId), result);
}

i32 VDProtocolExecutor::onChangeComponentTypeReply(i32 result, u32 uniqueId)
{
    return onComponentReply("Re:changeComponentType", result, uniqueId);
}

i32 VDProtocolExecutor::onComponentDefaultReply(const std::string& answer, i32 result, u32 uniqueId)
{
    return onComponentReply(answer, result, uniqueId);
}

i32 VDProtocolExecutor::onConnectionReply(const std::string& answer, i32 result, u32 toUniqId, u32 toPortNo,
                                          u32 fromUniqId, u32 fromPortNo)
{
    return onSubRequestAnswer(answer, makeConnectionKey(toUniqId, toPortNo, fromUniqId, fromPortNo), result);
}

void VDProtocolExecutor::oweSyncAnswer(u32 now)
{
    ++m_syncAnswersOwed;
    m_syncOwedSince = now;
}

i32 VDProtocolExecutor::onSyncProgress(i32 result, u32 progress)
{
    const u32 now = clockNow();
    const auto linkUp = [this] { return getEditorStateClass() != STATE_CLASS_OFFLINE; };
    // After a failed step "Sync" has sent an abort of its own, whose answer comes later: not so after the capacity
    // check (it clears the client type instead), nor once the device link has gone.
    const bool abortFollows = VDProtocol::failed(result) && result != VDProtocol::RESULT_CAPACITY_OVER && linkUp();
    if (m_syncAnswersOwed != 0) {
        // An answer while one that belongs to no request is still to come: it completes no request.
        DBGC_LOG("[i] VDProtocolExecutor - late synchronisation answer (%d) dropped\n", result);
        if (result == RESULT_OK) {
            // A run has finished: every abort "Sync" took was answered before this, and one it takes now is ignored.
            m_syncAnswersOwed = 0;
        } else if (result == VDProtocol::RESULT_ABORTED) {
            --m_syncAnswersOwed;
            m_syncOwedSince = now;
        }
        if (abortFollows) {
            oweSyncAnswer(now);
        }
        return RESULT_NG;
    }
    if (abortFollows) {
        oweSyncAnswer(now);
    }
    u32 id = 0;
    if (m_requests.findByCmdInfo(id, "sync_device") != RESULT_OK) {
        return RESULT_NG;
    }
    PacketContainer reply(m_requests.get(id));
    if (result != RESULT_EXECUTING) {
        takeRequest(id, reply);
        // The editor's abort, when this is not its answer: "Sync" took it, or takes it now, in states 4 to 9, and
        // its Result 2 belongs to no request. After a finished run it is ignored.
        if (m_syncAbortPosted && result != RESULT_OK && result != VDProtocol::RESULT_ABORTED && linkUp()) {
            oweSyncAnswer(now);
        }
        m_syncAbortPosted = false;
    } else {
        (void)m_requests.touch(id); // still running: its deadline starts again
    }
    reply.setResult(result, progress, "");
    return makeReply(reply);
}

i32 VDProtocolExecutor::onCompileResult(i32 result)
{
    const bool final = result != RESULT_EXECUTING;
    const PostWindow::Matched matched = m_posts.take(kCompileAnswer, "", final, clockNow());
    i32 sent = RESULT_NG;
    if (matched.m_match == PostWindow::Match::LATE) {
        DBGC_LOG("[i] VDProtocolExecutor::onCompileResult - late result (%d) dropped\n", result);
    } else if (matched.m_match == PostWindow::Match::LIVE && isStored(matched.m_requestId)) {
        const u32 id = matched.m_requestId;
        PacketContainer reply(m_requests.get(id));
        if (final) {
            takeRequest(id, reply);
        } else {
            (void)m_requests.touch(id);
        }
        reply.m_info.clear();
        KVariant capacity;
        const i32 read = readDeviceSetting(capacity, findDeviceSetting("VDeviceCapacity"));
        if (VDProtocol::failed(read)) {
            DBGC_LOG("[E] VDProtocolExecutor::onCompileResult - cannot read 'VDeviceCapacity' (0x%08X)\n",
                     static_cast<u32>(read));
        } else {
            (void)reply.m_info.setVariant("capacity", capacity);
        }
        reply.setResult(result, FULL_PROGRESS, "");
        sent = makeReply(reply);
    }
    m_posts.pump(); // a compile that has ended lets the next "startCompile" go
    return sent;
}

i32 VDProtocolExecutor::onCompileStarted()
{
    // The compiler has taken the compile: from now on it is timed by the compile's own limit.
    const PostWindow::Matched matched = m_posts.take(kCompileAnswer, "", false, clockNow());
    if (matched.m_match != PostWindow::Match::LIVE || !isStored(matched.m_requestId)) {
        return RESULT_NG;
    }
    return m_requests.extend(matched.m_requestId, m_answerTimeoutMs * COMPILE_FACTOR);
}

i32 VDProtocolExecutor::onResourceUsageReply(u32 usage)
{
    // A late usage is still the usage: it is notified like any other.
    (void)m_posts.take(kUsageAnswer, "", true, clockNow());
    m_posts.pump();
    KVariant capacity;
    const i32 read = readDeviceSetting(capacity, findDeviceSetting("VDeviceCapacity"));
    if (VDProtocol::failed(read)) {
        return RESULT_NG;
    }
    PacketContainer notify;
    notify.m_cmdInfo = "cpt_resource";
    (void)notify.m_info.setVariant("capacity", capacity);
    (void)notify.m_info.setUInt("resource", usage / 100);
    return sendNotify(std::move(notify));
}

i32 VDProtocolExecutor::onDisconnectReply(i32 result)
{
    PacketContainer notify;
    notify.m_cmdInfo = "Disconnect";
    notify.setResult(result, FULL_PROGRESS, "");
    sendNotify(std::move(notify));
    return RESULT_OK;
}

i32 VDProtocolExecutor::onAnswer(const TMS::AbstractMessage& answer)
{
    const char* text = answer.getValue("CommandName").getString();
    const std::string name = text != nullptr ? text : "";
    const auto field = [&](const char* fieldName) { return answer.getValue(fieldName).getUInt(); };
    const i32 result = answer.getValue("Result").getInt();
    if (name == "Re:addComponent" || name == "Re:removeComponent") {
        return onComponentReply(name, result, field("UniqID"));
    }
    if (name == "Re:changeComponentType") {
        return onChangeComponentTypeReply(result, field("UniqID"));
    }
    if (name == "Re:setComponentDefault" || name == "Re:removeComponentDefault") {
        return onComponentDefaultReply(name, result, field("UniqID"));
    }
    if (name == "Re:addConnection" || name == "Re:removeConnection") {
        return onConnectionReply(name, result, field("toUniqId"), field("toPortNo"), field("fromUniqId"),
                                 field("fromPortNo"));
    }
    if (name == "Re:Synchronize" || name == "Re:Asynchronous") {
        return onSyncProgress(result, field("Progress"));
    }
    if (name == kCompileAnswer) {
        return onCompileResult(result);
    }
    if (name == "Re:startCompile") {
        return onCompileStarted();
    }
    if (name == kUsageAnswer) {
        return onResourceUsageReply(field("Result"));
    }
    if (name == "Re:Disconnect") {
        return onDisconnectReply(result);
    }
    return VDProtocol::RESULT_UNKNOWN_CMD;
}

bool VDProtocolExecutor::releasePostSlot(const TMS::AbstractMessage& answer)
{
    const char* name = answer.getValue("CommandName").getString();
    const AnswerRoute* route = findRoute(name != nullptr ? name : "");
    if (route == nullptr) {
        return false;
    }
    std::string key;
    if (route->m_keyForm == KeyForm::UNIQUE_ID) {
        key = std::to_string(answer.getValue("UniqID").getUInt());
    } else if (route->m_keyForm == KeyForm::CONNECTION) {
        key = makeConnectionKey(answer.getValue("toUniqId").getUInt(), answer.getValue("toPortNo").getUInt(),
                                answer.getValue("fromUniqId").getUInt(), answer.getValue("fromPortNo").getUInt());
    }
    // A compile that still runs keeps its slot.
    const bool final =
        std::string(route->m_answer) != kCompileAnswer || answer.getValue("Result").getInt() != RESULT_EXECUTING;
    const bool taken = m_posts.take(route->m_answer, key, final, clockNow()).m_match != PostWindow::Match::NONE;
    m_posts.pump();
    return taken;
}

std::string VDProtocolExecutor::makeConnectionKey(u32 toUniqId, u32 toPortNo, u32 fromUniqId, u32 fromPortNo)
{
    return std::to_string(toUniqId) + ":" + std::to_string(toPortNo) + "/" + std::to_string(fromUniqId) + ":" +
           std::to_string(fromPortNo);
}

// ---- posts ------------------------------------------------------------------------------------------------------

i32 VDProtocolExecutor::queuePost(OutgoingPost outgoing)
{
    return m_posts.submit(std::move(outgoing));
}

i32 VDProtocolExecutor::postSubRequest(u32 requestId, const std::string& key, const char* target,
                                       TMS::AbstractMessage message, const char* answer)
{
    (void)m_requests.markSub(requestId, key);
    OutgoingPost outgoing;
    outgoing.m_target = target;
    outgoing.m_message = std::move(message);
    outgoing.m_answer = answer;
    outgoing.m_key = key;
    outgoing.m_requestId = requestId;
    return queuePost(std::move(outgoing));
}

void VDProtocolExecutor::onPostFailed(const OutgoingPost& failed, i32 result)
{
    const char* command = failed.m_message.getValue("CommandName").getString();
    DBGC_LOG("[E] VDProtocolExecutor - cannot post '%s' to '%s' (0x%08X)\n", command != nullptr ? command : "",
             failed.m_target.c_str(), static_cast<u32>(result));
    if (failed.m_requestId != 0) {
        failRequest(failed.m_requestId, result);
    }
}

i32 VDProtocolExecutor::post(const char* target, const char* command)
{
    OutgoingPost outgoing;
    outgoing.m_target = target;
    outgoing.m_message = makeCommandMessage(command);
    return queuePost(std::move(outgoing));
}

i32 VDProtocolExecutor::postNetworkInfo(const std::string& pcAddress, const std::string& deviceAddress)
{
    if (pcAddress.empty() || deviceAddress.empty()) {
        return RESULT_NG;
    }
    OutgoingPost outgoing;
    outgoing.m_target = "Sync";
    outgoing.m_message = makeCommandMessage("SetNetworkInfo");
    outgoing.m_message.setString("FromIPAddress", pcAddress.c_str());
    outgoing.m_message.setString("ToIPAddress", deviceAddress.c_str());
    outgoing.m_coalesce = true; // the newest addresses are what counts
    queuePost(std::move(outgoing));
    return RESULT_OK;
}

i32 VDProtocolExecutor::postResourceUsageRequest()
{
    OutgoingPost outgoing;
    outgoing.m_target = "Compiler";
    outgoing.m_message = makeCommandMessage("getTotalProcessingResourceUsage");
    outgoing.m_answer = kUsageAnswer;
    return VDProtocol::failed(queuePost(std::move(outgoing))) ? RESULT_NG : RESULT_OK;
}

i32 VDProtocolExecutor::postMeterList()
{
    OutgoingPost outgoing;
    outgoing.m_target = "Sync";
    outgoing.m_message = makeCommandMessage("MeterList");
    outgoing.m_coalesce = true; // "Sync" reads the list when it takes the message
    return VDProtocol::failed(queuePost(std::move(outgoing))) ? RESULT_NG : RESULT_OK;
}

i32 VDProtocolExecutor::startCompile(const PacketContainer& request)
{
    u32 id = 0;
    if (m_requests.add(id, request) != RESULT_OK) {
        // Nothing could ever answer a compile that is not stored.
        return replyWith(request, RESULT_NG);
    }
    OutgoingPost outgoing;
    outgoing.m_target = "Compiler";
    outgoing.m_message = makeCommandMessage("startCompile");
    outgoing.m_answer = kCompileAnswer;
    outgoing.m_requestId = id;
    return queuePost(std::move(outgoing));
}

// ---- editor state -----------------------------------------------------------------------------------------------

i32 VDProtocolExecutor::classifyEditorState(u32 value)
{
    switch (value) {
    case 0:
    case 1:
    case 2:
    case 3:
        return STATE_CLASS_OFFLINE;
    case 4:
    case 5:
    case 8:
    case 9:
        return STATE_CLASS_CONNECTED;
    case 10:
        return STATE_CLASS_SYNCHRONIZED;
    default:
        return STATE_CLASS_UNKNOWN;
    }
}

bool VDProtocolExecutor::readEditorState(u32& state)
{
    const TMS::ThreadHandle sync = findRunningThread("Sync");
    KVariant value;
    if (!sync || (sync->getSystemInfo(value, "EditorState", 0) & 0x80000000u) != 0) {
        return false;
    }
    bool ok = false;
    state = value.getUInt(&ok);
    return ok;
}

i32 VDProtocolExecutor::getEditorStateClass()
{
    u32 state = 0;
    return readEditorState(state) ? classifyEditorState(state) : STATE_CLASS_UNKNOWN;
}

bool VDProtocolExecutor::isSynchronizingState(u32 value)
{
    return value >= SYNC_STATE_FIRST && value <= SYNC_STATE_LAST;
}

bool VDProtocolExecutor::isSynchronizing()
{
    u32 state = 0;
    return readEditorState(state) && isSynchronizingState(state);
}

i32 VDProtocolExecutor::onEditorStateChanged(u32 value)
{
    const i32 stateClass = classifyEditorState(value);
    if (stateClass == STATE_CLASS_OFFLINE) {
        // The device link has gone: no abort sent through it is answered any more.
        m_syncAnswersOwed = 0;
        m_syncAbortPosted = false;
    }
    if (stateClass == m_editorStateClass) {
        return RESULT_OK;
    }
    m_editorStateClass = stateClass;
    PacketContainer notify;
    notify.m_cmdInfo = "dev_status";
    (void)notify.m_info.setInt("deviceStatus", stateClass);
    (void)notify.m_info.setString("devIpAddr", m_deviceAddress);
    (void)notify.m_info.setString("devMacAddr", m_deviceMacAddress);
    sendNotify(std::move(notify));
    return RESULT_OK;
}

i32 VDProtocolExecutor::postNetworkInfoWhenOffline()
{
    if (getEditorStateClass() != STATE_CLASS_OFFLINE) {
        return RESULT_OK;
    }
    return postNetworkInfo(m_pcAddress, m_deviceAddress);
}

} // namespace VDevice

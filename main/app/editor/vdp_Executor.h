// VDProtocolExecutor: carries out the editor's requests on the virtual device and turns the answers of the other
// threads into reply and notify packets.
//
// The VDProtocol thread owns one executor and calls it on its own thread only: with every packet its client unit
// decoded (dispatchPacket), with every answer another thread sent back to "VDProtocol" (the on...Reply entry
// points, onSyncProgress, onCompileResult), and from its timers, its parameter-change scan and its system-
// information changes. The executor takes no lock of its own.
//
// Dispatch: a request is looked up by command and cmdinfo in one table (exact byte comparison, first match). A
// row either replies "ok" at once, drops the request (no reply, nothing stored), starts a compile, or calls its
// handler. Unknown types, commands and cmdinfos are dropped; "ng/unknown_cmd" is never sent.
//
// Pending requests: requests whose work completes on other threads are kept in the command container with one
// sub-request per posted command (key: the unique id in decimal, or "to:port/from:port" for a connection; state
// 1 while executing, else the answer's result). An answer completes the sub-request of the post it answers: the
// oldest post awaiting that answer name and key (see PostWindow). The reply goes out with the last answer and
// carries the first failing answer's result, else the last one's.
//
// Posts to other threads go through the post window (vdp_PostWindow.h): handlers queue them and return, and no
// send waits on a full queue; a post that fails, at once or later, ends the request it serves with a failure reply
// (failRequest).
//
// Deadlines: every stored request gets exactly one final reply. A request not heard of within the answer timeout
// (30 s unless set otherwise) from its arrival, the send of its post or its last progress (an answer of one of its
// posts, a progress "Re:Synchronize") is answered "ng/timeout" (0x80000008), whether its posts were sent or still
// wait; only a request whose posts wait their turn behind live work (see PostWindow::waitsItsTurn) is not. A
// compile the compiler has taken ("Re:startCompile") is timed by COMPILE_FACTOR times the answer timeout instead.
// Posts of a request given up on are dropped if queued and given up on if sent: their late answers complete
// nothing. A request answered otherwise before its answers came lets its posts go on serving nothing. The
// VDProtocol thread calls expireRequests while anything is awaited (isAwaitingAnswers) and retryPosts while a target
// holds posts back (hasBlockedPosts).
//
// Synchronisations: "Sync" ignores "Synchronize" and names no request in its answers. A request given up on while
// "Sync" runs a synchronisation (EditorState 5 to 9) after its "Synchronize" went out asks it to stop ("abort",
// at most one per request, the editor's included). "Sync" takes an "abort" in states 4 to 9: back to state 4 at
// once (from where it starts again on its own when a direction is set) and "AbortSynchronize" to the device, whose
// answer it reports later ("Re:Synchronize" Result 2). A failed step of "Sync" sends an abort of its own before its
// failure result (not the capacity check, which clears the client type instead). No "abort" goes at the deadline
// in state 4. The executor counts the Result 2 answers that belong to no request: that of an abort for a request
// given up on, or answered by a failure first, and that of each failed step's own abort. While any is owed, every
// answer of "Sync" is swallowed and a new "sync_device" is refused, whatever the EditorState does in states 4 to
// 10. A Result 0 (a run has finished: the aborts "Sync" took were answered before it, and one it takes now is
// ignored), the device link going (states 0 to 3) and LATE_ANSWER_FACTOR answer timeouts without an owed answer
// end the debt.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "klib_Types.h"
#include "klib_Variant.h"
#include "vdp_ClientUnit.h"
#include "vdp_CommandContainer.h"
#include "vdp_DeviceSettings.h"
#include "vdp_ExpressionAdapter.h"
#include "vdp_PacketContainer.h"
#include "vdp_PostWindow.h"
#include "vdp_Result.h"

namespace PDB {
class IParameterDB;
}

namespace VDevice {

class VDProtocolExecutor
{
public:
    using PacketContainer = VDProtocol::PacketContainer;
    // A request handler: the request packet in, the result of its last step out (not looked at by the dispatch).
    using Handler = i32 (VDProtocolExecutor::*)(const PacketContainer& request);
    // One row of the dispatch table; a null handler drops the request.
    struct DispatchRow
    {
        const char* m_command;
        const char* m_cmdInfo;
        Handler m_handler;
    };

    // The room of a reply's list in the client unit's send ring, taken entry by entry with a lower bound of each
    // entry's bytes (VDProtocol::encodedSizeAtLeast and a separator): a list that would pass the ring stops
    // growing, since its reply could never be queued.
    class ReplyRoom
    {
    public:
        // Counts one more entry: false, and nothing counted, when it does not fit any more (full from then on).
        bool take(size_t bytes);
        bool isFull() const { return m_full; }

    private:
        size_t m_left = VDProtocol::VDProtocolClientUnit::BUFFER_SIZE;
        bool m_full = false;
    };

    // Meter notifies are queued only while this much of the send ring stays free behind them: a front end that
    // reads slowly loses meter values, not replies.
    static constexpr u32 METER_KEEPS_FREE = VDProtocol::VDProtocolClientUnit::BUFFER_SIZE / 2;

    // The editor-state classes.
    static constexpr i32 STATE_CLASS_OFFLINE = 0;
    static constexpr i32 STATE_CLASS_CONNECTED = 1;
    static constexpr i32 STATE_CLASS_SYNCHRONIZED = 2;
    static constexpr i32 STATE_CLASS_UNKNOWN = -1;
    // The change origin of every write the editor link makes.
    static constexpr u8 EDITOR_ORIGIN = 255;
    // How long an answer of another thread may take before its request is answered "ng/timeout".
    static constexpr u32 ANSWER_TIMEOUT_MS = 30000;
    // A compile the compiler has taken may run this many answer timeouts (10 minutes by default).
    static constexpr u32 COMPILE_FACTOR = 20;
    // An answer given up on is still awaited (and swallowed) for this many answer timeouts; then it counts as lost.
    static constexpr u32 LATE_ANSWER_FACTOR = 10;
    // The "EditorState" values of "Sync" while it runs a synchronisation (from sending the client type to the
    // directory sync; 4 is the resting state an "abort" goes back to).
    static constexpr u32 SYNC_STATE_FIRST = 5;
    static constexpr u32 SYNC_STATE_LAST = 9;

    // identity: the "uid" option, the "from" of every notification. unit: not owned; null makes every send fail.
    VDProtocolExecutor(const std::string& identity, VDProtocol::VDProtocolClientUnit* unit);
    virtual ~VDProtocolExecutor() = default;
    VDProtocolExecutor(const VDProtocolExecutor&) = delete;
    VDProtocolExecutor& operator=(const VDProtocolExecutor&) = delete;

    // ---- entry points of the VDProtocol thread ------------------------------------------------------------------

    // Dispatches one received packet by type, command and cmdinfo. Returns 0.
    i32 dispatchPacket(const PacketContainer& packet);
    // "Re:addComponent" / "Re:removeComponent" (answer name, "Result", "UniqID").
    i32 onComponentReply(const std::string& answer, i32 result, u32 uniqueId);
    // "Re:changeComponentType".
    i32 onChangeComponentTypeReply(i32 result, u32 uniqueId);
    // "Re:addConnection" / "Re:removeConnection".
    i32 onConnectionReply(const std::string& answer, i32 result, u32 toUniqId, u32 toPortNo, u32 fromUniqId,
                          u32 fromPortNo);
    // "Re:setComponentDefault" / "Re:removeComponentDefault".
    i32 onComponentDefaultReply(const std::string& answer, i32 result, u32 uniqueId);
    // "Re:Synchronize" and "Re:Asynchronous": answers the first pending "sync_device" request with the progress
    // (at most 100); a result other than 1 (executing) removes it. 0x80000000 when none is pending, and while an
    // answer of a synchronisation given up on is owed (dropped; see Synchronisations above).
    i32 onSyncProgress(i32 result, u32 progress);
    // "Notify:compileResult": answers the compile whose "startCompile" it answers with info {"capacity":
    // "VDeviceCapacity"} (no info when that cannot be read); a result other than 1 removes it and lets the next
    // queued "startCompile" go. 0x80000000 when no compile awaits it (a late result is dropped).
    i32 onCompileResult(i32 result);
    // "Re:startCompile": the compiler has taken the awaited compile, which is timed by its own limit from now on.
    // 0x80000000 when no pending compile awaits it.
    i32 onCompileStarted();
    // "Re:getTotalProcessingResourceUsage": notify "cpt_resource" {"capacity", "resource": usage / 100}.
    i32 onResourceUsageReply(u32 usage);
    // "Re:Disconnect": notify "Disconnect" with the result, progress 100. Returns 0.
    i32 onDisconnectReply(i32 result);
    // Hands an answer of another thread to its entry point below by its "CommandName" (numeric fields read as
    // 32-bit values): that entry point's result; 0x80000001 for a message that is no answer of the executor.
    i32 onAnswer(const TMS::AbstractMessage& answer);
    // Frees the window slot of a post that this answer message ("CommandName" and its key fields) matches,
    // without handling the answer otherwise (the thread drops answers while "RunMode" is not 0).
    bool releasePostSlot(const TMS::AbstractMessage& answer);
    // Gives up what has waited too long (see Deadlines above): each request not heard of in time is answered
    // "ng/timeout" and removed, posts of no stored request are given up on after the answer timeout from their
    // send, and answers given up on are forgotten after LATE_ANSWER_FACTOR timeouts. Then sends what waits. The
    // number of requests answered.
    u32 expireRequests();
    // True while a request is stored, a post waits in the window or a late answer is still expected.
    bool isAwaitingAnswers();
    // True while a target whose queue was full holds back posts: call retryPosts soon.
    bool hasBlockedPosts() const { return m_posts.isBlocked(); }
    // Sends the posts that now fit and that their targets take.
    void retryPosts() { m_posts.pump(); }
    void setAnswerTimeout(u32 timeoutMs) { m_answerTimeoutMs = timeoutMs; }
    // {"connected": {"from": identity}}.
    i32 sendConnected();
    // "EditorState" 0..3 -> 0; 4, 5, 8, 9 -> 1; 10 -> 2; anything else -> -1.
    static i32 classifyEditorState(u32 value);
    // The class of the "EditorState" that the thread "Sync" sees; -1 when it cannot be read.
    i32 getEditorStateClass();
    // Timer 0: in class 0 posts the stored network addresses to "Sync" (postNetworkInfo); else 0.
    i32 postNetworkInfoWhenOffline();

    // ---- notifications ------------------------------------------------------------------------------------------

    // "dev_status" {"deviceStatus": class, "devIpAddr", "devMacAddr"} when the class changes. Returns 0.
    i32 onEditorStateChanged(u32 value);
    // "prm_val" with one list entry: the parameter's description arguments, "prmStr", "prmAddr" and "cptName".
    i32 onParameterChanged(PDB::IParameterDB& database, u32 componentIndex, u32 blockIndex, u32 x, u32 y);
    // Timer 1: in class 2 one "meter" notify per subscribed component (sendMeterNotify, first set). A key that
    // fails is skipped; the first failure is returned, else 0. Outside class 2: 0, nothing sent. Meter notifies
    // give way to replies: while less than METER_KEEPS_FREE bytes of the send ring are free the pass sends
    // nothing, and it ends at the first notify that would leave less free (0 either way).
    i32 sendMeterNotifications();
    // "meter" {"prmAddr": key, "type": "#Ar1"} with one list entry {"index", "value": "%02X"} per byte of every
    // array of the component's first (secondSet 0) or second meter set, "index" counting from 0 in each array.
    // The arrays are copied under the meter pool's lock. 0x80000000 for a component that is not in this thread's
    // list or a set without arrays; the address reader's code for a key that is no component address; 0x80000007
    // (nothing sent) when the notify would leave less than METER_KEEPS_FREE bytes of the send ring free.
    i32 sendMeterNotify(const std::string& meterKey, u8 secondSet);

    // ---- dispatch by command (each returns 0) -------------------------------------------------------------------

    i32 onAdd(const PacketContainer& request) { return dispatchCommand("add", request); }
    i32 onDel(const PacketContainer& request) { return dispatchCommand("del", request); }
    i32 onSet(const PacketContainer& request) { return dispatchCommand("set", request); }
    i32 onGet(const PacketContainer& request) { return dispatchCommand("get", request); }
    i32 onGetData(const PacketContainer& request) { return dispatchCommand("getData", request); }
    i32 onSetData(const PacketContainer& request) { return dispatchCommand("setData", request); }

    // ---- sending ------------------------------------------------------------------------------------------------

    // The request copied whole, type "reply", from and to swapped, sent: the send's result (0x80000000 without a
    // client unit). Callers set result, progress and message first. A reply whose line does not fit whole into
    // the free part of the send ring goes without its info and list, with 0x80000007 ("ng/limit_over"),
    // progress 100 and message "" (0x8000000F and an "[E]" line when even that does not fit).
    i32 makeReply(const PacketContainer& request);
    // The same on a reply built by its handler, without the copy.
    i32 makeReply(PacketContainer&& reply);
    // The reply without its info and list, with 0x80000007, progress 100 and message "": for a reply whose list
    // outgrew its ReplyRoom.
    i32 replyLimitOver(PacketContainer&& reply);
    // The request copied with result, progress 100 and message "", then makeReply.
    i32 replyWith(const PacketContainer& request, i32 result);
    i32 replyWith(PacketContainer&& reply, i32 result);
    i32 replyOk(const PacketContainer& request) { return replyWith(request, VDProtocol::RESULT_OK); }
    // The packet copied with type "notify" and from = identity ("to" kept), sent.
    i32 sendNotify(const PacketContainer& packet);
    // The same for a packet built to be sent, without the copy.
    i32 sendNotify(PacketContainer&& packet);

    // ---- posts ----------------------------------------------------------------------------------------------------

    // Submits a post to the window. A failing send, at once or later, ends post.m_requestId (if any) through
    // failRequest with 0x80000000 and drops its queued posts. 0 when sent or queued; 0x80000000 when sending at
    // once failed (the request is answered then).
    i32 queuePost(OutgoingPost post);
    // One command of a stored request: marks its sub-request key as executing and queues the post, which awaits
    // answer with that key; a failed post ends the request. queuePost's result.
    i32 postSubRequest(u32 requestId, const std::string& key, const char* target, TMS::AbstractMessage message,
                       const char* answer);
    // Takes a pending request out of the store and replies with result, progress 100, message "". 0x80000000
    // when no request has the id.
    i32 failRequest(u32 requestId, i32 result);
    // {"CommandName": "SetNetworkInfo", "FromIPAddress", "ToIPAddress"} to "Sync": 0x80000000 (nothing posted)
    // when a text is empty, else 0.
    i32 postNetworkInfo(const std::string& pcAddress, const std::string& deviceAddress);
    // {"CommandName": "getTotalProcessingResourceUsage"} to "Compiler": 0, or 0x80000000 when the post failed.
    i32 postResourceUsageRequest();
    // {"CommandName": "MeterList"} to "Sync": 0, or 0x80000000 when the post failed.
    i32 postMeterList();
    // "set" "compile": stores the request and posts "startCompile" to "Compiler"; "Notify:compileResult"
    // answers it. A failed post replies with the post's code; a full store replies 0x80000000 and posts nothing.
    i32 startCompile(const PacketContainer& request);

    // ---- components, connections, meters and the link state (vdp_ExecutorComponents.cpp) -------------------------

    // "add" / "del" "cpt_info": one "addComponent" {"UniqID", "ComponentName", "MajorVersion", "NumX", "NumY",
    // "ComponentDefaultPath"} / "removeComponent" {"UniqID"} to "DeviceControl" per list entry ("prmAddr", and for
    // "add" "cptName"), in list order; the reply follows the last answer, then a resource-usage request. An empty
    // list is answered "ok" at once. A bad entry (a field missing: 0x80000000; an address or name that does not
    // read: the reader's code; a unique id that an earlier entry holds: 0x80000004) ends the request with a failure
    // reply: what was posted before it is still sent, its answers find no request. A full store answers 0x80000000
    // and posts nothing. The result of the last step.
    i32 addComponents(const PacketContainer& request);
    i32 removeComponents(const PacketContainer& request);
    // "set" "cpt_change": info "prmAddr" and "cptName" -> one "changeComponentType" (as "addComponent" without the
    // path), answered like "cpt_info". A bad info or a full store: a failure reply at once.
    i32 changeComponentType(const PacketContainer& request);
    // "add" / "del" "cpt_connect": one "addConnection" / "removeConnection" {"fromUniqId", "fromPortNo", "toUniqId",
    // "toPortNo"} per entry ("rx_cpt" and "rx_cpt_port" the receiving side, "tx_cpt" and "tx_cpt_port" the sending
    // one; a port is the number after the first ":" of its text), keyed "to:port/from:port"; otherwise as
    // addComponents (no resource-usage request follows).
    i32 addConnections(const PacketContainer& request);
    i32 removeConnections(const PacketContainer& request);
    // "add" / "del" "cpt_meter": info "id" (else 0x80000000); every list entry's "prmAddr" counted in or out of the
    // meter container under "id". An entry without "prmAddr" ends the list, and "MeterList" is posted to "Sync":
    // its result is the reply's. "del" with "id" "_ALL_" forgets every meter.
    i32 addMeters(const PacketContainer& request);
    i32 removeMeters(const PacketContainer& request);
    // "del" "net_info": forgets the network texts, stops timer 0 ("DetectStop" to "VDProtocol"), posts
    // "Disconnect" to "Sync" ("Re:Disconnect" is notified) and replies "ok".
    i32 clearNetworkInfo(const PacketContainer& request);
    // "set" "active": replies with the result of reading "VEXACapacity"; nothing is written.
    i32 activate(const PacketContainer& request);
    // "set" "sync_offline": in class 2 "Asynchronous" to "Sync" and no reply ("Re:Asynchronous" answers a pending
    // "sync_device"); in any other class a 0x80000000 reply.
    i32 syncOffline(const PacketContainer& request);
    // "name:major:XxY" (empty pieces dropped, numbers as C literals): 0, or 0x80000000 with the outputs untouched.
    [[nodiscard]] static i32 parseComponentName(const std::string& text, std::string& name, u32& majorVersion,
                                                u32& numX, u32& numY);
    // <component-default directory>/component/<name>/UserDefault.pst; empty while the directory is empty.
    std::string makeComponentDefaultPath(const std::string& componentName) const;

    // ---- parameter values (vdp_ExecutorValues.cpp; each replies at once with a copy of the request) ---------------

    // "getData" "prm_info" / "prm_val": the list becomes one map per element read (description arguments,
    // "prmStr", "prmAddr" as received, "cptName"). x and y of -1 read every element of that axis, x outer; any
    // other negative index is 0x80000000, an element the block lacks 0x80000001. The first failing entry ends
    // the list; maps already read stay in the reply. A list that outgrows its ReplyRoom ends there, and the reply
    // goes as replyLimitOver.
    i32 readParameters(const PacketContainer& request);
    // "set" "prm_val" {"prmAddr", "prmValue"}: a text is display text and goes through the parameter's
    // expression, other kinds are written as they are (origin 255). A negative x or y writes every element of
    // that axis: the block is read, changed and written back once under the database's write lock.
    i32 setParameterValue(const PacketContainer& request);
    // "setData" "prm_val": each list entry as "set" "prm_val"; the first failing entry ends the list.
    i32 setParameterValues(const PacketContainer& request);
    // "get" "range_prm": 0 when info has "prmAddr", "startX", "startY", "endX" and "endY", else 0x80000000.
    i32 checkParameterRange(const PacketContainer& request);
    // "add" / "del" "regist_parameter": one "setComponentDefault" / "removeComponentDefault" per component named
    // by the list's "prmAddr" component addresses, posted to "DeviceControl" with makeComponentDefaultPath; the
    // request stays pending (key: the uid in decimal) until every answer is in and carries the first failing
    // answer. Every entry is checked before anything is posted: a bad one is answered at once and posts nothing.
    // An empty list is answered "ok" at once.
    i32 addComponentDefaults(const PacketContainer& request);
    i32 removeComponentDefaults(const PacketContainer& request);
    // "getData" "cpt_meter": one map {"prmAddr"} per subscribed meter key, in key order.
    i32 listMeters(const PacketContainer& request);
    // "getData" "prmset" / "prmset_assign": the fixed parameter sets and their one assignment.
    i32 listParameterSets(const PacketContainer& request);
    i32 listParameterSetAssignments(const PacketContainer& request);

    // ---- device information and settings (vdp_ExecutorSettings.cpp) -------------------------------------------

    // "get" "dev_info": info replaced by the virtual device's information, and in editor-state class 1 or 2 also
    // the real device's (labels, versions, network as dotted text, "syncStatus" and "capacityStatus").
    i32 getDeviceInfo(const PacketContainer& request);
    // "set" "setup" {"localLabel", "deviceID", "path", "capacity", "fs"}: every given key is applied; the reply
    // carries the first failing write's code.
    i32 setDeviceSetup(const PacketContainer& request);
    // One setting each: the writer's result; 0x80000000 without the key (or "deviceID" that is no integer).
    i32 setDeviceLabel(const PacketContainer& request);
    i32 setVirtualDeviceId(const PacketContainer& request);
    i32 setDeviceCapacity(const PacketContainer& request);
    i32 setDeviceFs(const PacketContainer& request);
    i32 setPeakHold(const PacketContainer& request);
    // "set" "meter_info" {"time"}: the meter interval (kept below 60); 0, or 0x80000000 without an integer time.
    i32 setMeterInterval(const PacketContainer& request);
    // "set" "net_info" {"pcIpAddr", "devIpAddr", "devMacAddr"}: with both addresses given, "SetNetworkInfo" to
    // "Sync" and "DetectStart" to "VDProtocol", then the three texts are kept; a failed post answers 0x80000000
    // and keeps nothing. Without both addresses nothing happens and the answer is 0.
    i32 setNetworkInfo(const PacketContainer& request);
    // "get" / "set" "sync_device": in editor-state class 1 with equal sync versions, "Synchronize" {"Direction"
    // "ServerToClient" / "ClientToServer", "Password"} to "Sync" and the request stays pending until a final
    // "Re:Synchronize"; otherwise 0x80000000 at once. "Sync" runs one synchronisation at a time and its answers
    // name none, so a request while another is pending, or while an answer that belongs to no request is owed
    // (see Synchronisations above), is refused at once with 0x80000000 as well.
    i32 getSyncDevice(const PacketContainer& request);
    i32 setSyncDevice(const PacketContainer& request);

    // ---- copy and paste (vdp_ExecutorSnapshot.cpp) -----------------------------------------------------------

    // "getData" "copy_paste": the list becomes one map {"prmAddr", "type", "d:data"} per entry, "d:data" the
    // snapshot image ("VEXA_SNAPSHOT", 1, 1) of the component ("currentCpt") or parameter ("currentPrm"). Images
    // that outgrow the reply's ReplyRoom end the list, and the reply goes as replyLimitOver.
    i32 copySnapshot(const PacketContainer& request);
    // "setData" "copy_paste": each entry's image is imported and recalled.
    i32 pasteSnapshot(const PacketContainer& request);
    // The images of copySnapshot appended to list: 0 or the first failing entry's code. An image that would make
    // the list outgrow room is not made: 0x80000007, and room reports full.
    i32 copySnapshots(const PacketContainer& request, std::vector<VDProtocol::ArgumentMap>& list, ReplyRoom& room);
    i32 copySnapshots(const PacketContainer& request, std::vector<VDProtocol::ArgumentMap>& list);
    // The recalls of pasteSnapshot: 0 or the first failing entry's code. An image must hold exactly the item its
    // entry names; every record is decoded into a private copy of the databases first, so an image that fails
    // changes no database.
    i32 pasteSnapshots(const PacketContainer& request);

    // ---- device settings --------------------------------------------------------------------------------------

    // The first row whose key equals itemKey exactly; row 0 (blank) when none does.
    static const DeviceSettingItem& findDeviceSetting(const std::string& itemKey);
    // The first database among positions 0..10 of the process-wide collection whose name equals name; null.
    static PDB::IParameterDB* findDatabase(const std::string& name);
    // One element under the database's read lock: the read's result; 0x80000000 (out untouched) for a missing
    // database, component or parameter.
    [[nodiscard]] static i32 readDeviceSetting(KVariant& out, const std::string& databaseName, u32 componentId,
                                               const std::string& parameterAddress, u32 x, u32 y);
    [[nodiscard]] static i32 readDeviceSetting(KVariant& out, const DeviceSettingItem& row);
    // One element, origin 255; a text (kind 2) is first converted through the parameter's expression. The write's
    // (or the conversion's) result; 0x80000000 for a missing database or component.
    [[nodiscard]] i32 writeDeviceSetting(const std::string& databaseName, u32 componentId,
                                         const std::string& parameterAddress, u32 x, u32 y, const KVariant& value);
    [[nodiscard]] i32 writeDeviceSetting(const DeviceSettingItem& row, const KVariant& value);
    // The value written to every element of the block, origin 255: the first failing write's result, else 0.
    [[nodiscard]] i32 writeDeviceSettingArray(const std::string& databaseName, u32 componentId,
                                              const std::string& parameterAddress, const KVariant& value);
    // "RealSyncVersion" against "VirtualSyncVersion" (unreadable: 0): 0 equal, 0x80000001 real smaller,
    // 0x80000002 real larger.
    i32 compareSyncVersions();
    // The same comparison of two values read as unsigned numbers (an empty value gives 0).
    static i32 compareVersions(const KVariant& real, const KVariant& local);

    // ---- shared with the handlers ---------------------------------------------------------------------------------

    const std::string& getComponentDefaultDirectory() const { return m_componentDefaultDirectory; }
    const std::string& getPcAddress() const { return m_pcAddress; }
    const std::string& getDeviceAddress() const { return m_deviceAddress; }
    const std::string& getDeviceMacAddress() const { return m_deviceMacAddress; }

    // "cptName" of a component: type name ":" major version ":" x size "x" y size.
    static std::string makeComponentName(const PDB::IParameterDB& database, u32 componentIndex);
    // The sub-request key of a connection: "to:port/from:port" in decimal.
    static std::string makeConnectionKey(u32 toUniqId, u32 toPortNo, u32 fromUniqId, u32 fromPortNo);

    VDProtocol::CommandContainer& getPendingRequests() { return m_requests; }
    const PostWindow& getPostWindow() const { return m_posts; }
    const std::string& getIdentity() const { return m_identity; }
    i32 getStoredEditorStateClass() const { return m_editorStateClass; }

private:
    static const DispatchRow s_dispatchTable[];

    // Calls the handler of the first row of this command whose cmdinfo matches. Returns 0.
    i32 dispatchCommand(std::string_view command, const PacketContainer& request);
    void abortRequest(const PacketContainer& abort);
    // An answer of a sub-request post: completes the sub-request of the post it answers, drops a late one.
    i32 onSubRequestAnswer(const std::string& answer, const std::string& key, i32 result);
    // Sets the sub-request's result and replies once the request has every answer.
    i32 completeSubRequest(u32 id, const std::string& answer, const std::string& key, i32 result);
    bool isStored(u32 requestId);
    // Copies a stored request and removes it with its recorded failure: false when no request has the id.
    bool takeRequest(u32 requestId, PacketContainer& copy);
    // Takes a stored request out, drops its queued posts, gives up those sent and replies "ng/timeout": false
    // when no request has the id.
    bool timeOutRequest(u32 requestId, u32 now);
    // "EditorState" values of a running synchronisation; whether "Sync" is in one now.
    static bool isSynchronizingState(u32 value);
    bool isSynchronizing();
    // The "EditorState" that "Sync" sees: false when it cannot be read.
    bool readEditorState(u32& state);
    void onPostFailed(const OutgoingPost& post, i32 result);
    // A post that serves no request; its failure is only reported.
    i32 post(const char* target, const char* command);
    // Reads one list entry into its sub-request key and the message posted for it: 0, or the failure code.
    using EntryReader =
        std::function<i32(const VDProtocol::ArgumentMap& entry, std::string& key, TMS::AbstractMessage& message)>;
    // The shared steps of the list handlers: store, answer an empty list, read and post every entry.
    i32 postListEntries(const PacketContainer& request, const char* answer, const EntryReader& readEntry);
    // sendNotify, but queued only while keepFree bytes of the send ring stay free behind it (else 0x80000007).
    i32 queueNotify(PacketContainer&& packet, u32 keepFree);
    // Takes a stored request out and replies with result; its posts already queued still go (unlike failRequest).
    i32 answerRequest(u32 requestId, i32 result);
    i32 editMeters(const PacketContainer& request, bool add);

    // Appends the maps of one "getData" "prm_val" entry while room takes them (else 0x80000007, room full).
    i32 readParameterEntry(const VDProtocol::ArgumentMap& entry, std::vector<VDProtocol::ArgumentMap>& list,
                           ReplyRoom& room);
    // Writes one "prmAddr" / "prmValue" entry.
    i32 writeParameterEntry(const VDProtocol::ArgumentMap& entry);
    // Every element of the selected axes of one block (a negative x or y: the whole axis).
    i32 writeParameterBlock(PDB::IParameterDB& database, u32 uniqueId, const std::string& path, u32 x, u32 y,
                            const KVariant& value);
    // The component-default command of every component of the list, as one pending request.
    i32 postComponentDefaults(const PacketContainer& request, const char* command, const char* answer);
    // One setting from info[infoKey]: the writer's result, 0x80000000 without the key.
    i32 writeSettingFrom(const PacketContainer& request, const char* infoKey, const char* itemKey);
    i32 startSynchronize(const PacketContainer& request, const char* direction);
    // One more Result 2 of "Sync" that belongs to no request.
    void oweSyncAnswer(u32 now);

    // In this order (the texts outlive the store and the converter).
    std::string m_componentDefaultDirectory;
    std::string m_identity;
    VDProtocol::VDProtocolClientUnit* m_unit;
    std::string m_pcAddress;
    std::string m_deviceAddress;
    std::string m_deviceMacAddress;
    i32 m_editorStateClass = STATE_CLASS_OFFLINE;
    VDProtocol::CommandContainer m_requests;
    VDProtocol::ExpressionAdapter m_expressions;

    PostWindow m_posts;
    std::map<u32, i32> m_firstFailures; // request id -> the first failing answer's result
    u32 m_answerTimeoutMs = ANSWER_TIMEOUT_MS;
    u32 m_syncAnswersOwed = 0;      // Result 2 answers of "Sync" still to come that belong to no request
    u32 m_syncOwedSince = 0;        // the clock when the debt last grew or an owed answer came
    bool m_syncAbortPosted = false; // an "abort" went for the pending synchronisation, not yet accounted for
};

} // namespace VDevice

#include "pyrite_ClientVDProtocolThread.h"

#include <cstring>
#include <new>

#include "klib_Print.h"
#include "pyrite_CommandLineOptions.h"
#include "pyrite_DeviceControlThread.h"
#include "pyrite_Result.h"
#include "tms_ThreadRepository.h"
#include "vcom_SocketAddress.h"
#include "vdp_MeterContainer.h"
#include "vdp_Result.h"

namespace PYRITE {

namespace {

constexpr u32 VDP_STATE_READY = 1;

// What the thread does with a message it is sent.
enum class Route {
    DETECT_START, // arm timer 0
    DETECT_STOP,  // stop timer 0
    EXECUTOR,     // an answer: the executor's onAnswer
};

// The messages the thread handles, compared in this order (first match); any other name is ignored. Answers of
// other threads go to the executor, which reads their fields (numbers as 32-bit values) and routes them on by name.
struct MessageRoute
{
    const char* m_name;
    Route m_route;
};

constexpr MessageRoute kMessageRoutes[] = {
    {"DetectStart", Route::DETECT_START},        {"DetectStop", Route::DETECT_STOP},
    {"Re:Synchronize", Route::EXECUTOR},         {"Re:Asynchronous", Route::EXECUTOR},
    {"Re:Disconnect", Route::EXECUTOR},          {"Re:addComponent", Route::EXECUTOR},
    {"Re:removeComponent", Route::EXECUTOR},     {"Re:changeComponentType", Route::EXECUTOR},
    {"Re:addConnection", Route::EXECUTOR},       {"Re:removeConnection", Route::EXECUTOR},
    {"Re:setComponentDefault", Route::EXECUTOR}, {"Re:removeComponentDefault", Route::EXECUTOR},
    {"Notify:compileResult", Route::EXECUTOR},   {"Re:getTotalProcessingResourceUsage", Route::EXECUTOR},
    {"Re:startCompile", Route::EXECUTOR},
};

const MessageRoute* findMessageRoute(const char* name)
{
    if (name == nullptr) {
        return nullptr;
    }
    for (const MessageRoute& route : kMessageRoutes) {
        if (std::strcmp(name, route.m_name) == 0) {
            return &route;
        }
    }
    return nullptr;
}

// An option's text, or null when it was not given or is empty.
const char* optionText(const KVariant& option)
{
    const char* text = option.getString();
    return text != nullptr && text[0] != '\0' ? text : nullptr;
}

} // namespace

PyriteClientVDProtocolThread::PyriteClientVDProtocolThread() : PyriteAppThread(QUEUE_CAPACITY) {}

PyriteClientVDProtocolThread::~PyriteClientVDProtocolThread()
{
    if (getTaskId() != TMS::NO_ID) {
        release();
    }
    m_unit.reset();
    m_executor.reset();
}

bool PyriteClientVDProtocolThread::parsePort(const char* text, u16& port)
{
    if (text == nullptr) {
        return false;
    }
    const u32 length = static_cast<u32>(std::strlen(text));
    i32 value = 0;
    char* end = nullptr;
    const u32 result = klib_strtol(&value, text, &end, 10, length);
    // The reader leaves end at the text when it read no digit; nothing may follow the digits.
    if (length == 0 || (result & 0x80000000u) != 0 || end != text + length || value < 1 || value > 0xFFFF) {
        return false;
    }
    port = static_cast<u16>(value);
    return true;
}

// ---- start and end --------------------------------------------------------------------------------------------

u32 PyriteClientVDProtocolThread::onChangeStatus(u32 status, const TMS::FieldMap& arguments)
{
    const u32 previous = getStatus(); // the status is stored after this handler
    const u32 base = PyriteAppThread::onChangeStatus(status, arguments);
    if (pyriteFailed(base)) {
        return PYRITE_E_FAILED;
    }
    if (previous != TMS::STATUS_STOP || status != TMS::STATUS_RUN || m_started) {
        return base;
    }
    m_started = true;
    KVariant uid;
    KVariant port;
    CommandLineOptions::getInstance().getUid(uid);
    CommandLineOptions::getInstance().getPort(port);
    if (optionText(uid) == nullptr || optionText(port) == nullptr) {
        // No editor: the system runs without a link.
        setSystemInfo("VDPState", 0, KVariant(VDP_STATE_READY));
        commitSystemInfo();
        return PYRITE_OK;
    }
    const u32 result = startLink();
    if (pyriteFailed(result)) {
        endProgram(); // nothing else would ever end a program without its editor
    }
    return result;
}

u32 PyriteClientVDProtocolThread::startLink()
{
    KVariant uid;
    KVariant portOption;
    CommandLineOptions::getInstance().getUid(uid);
    CommandLineOptions::getInstance().getPort(portOption);
    const char* identity = optionText(uid);
    u16 port = 0;
    if (!parsePort(optionText(portOption), port)) {
        log("[E] PyriteClientVDProtocolThread::onChangeStatus - port \"%s\" is no port number.\n",
            optionText(portOption));
        return PYRITE_E_FAILED;
    }
    const VCOM::VComSocketAddress address(VSOCK_FAMILY_IPV4, LINK_ADDRESS);
    m_unit.reset(new (std::nothrow) VDProtocol::VDProtocolClientUnit());
    if (!m_unit) {
        log("[E] PyriteClientVDProtocolThread::onChangeStatus - cannot create the client unit.\n");
        return PYRITE_E_FAILED;
    }
    const i32 initialized = m_unit->initialize(identity, address, this, this);
    if (VDProtocol::failed(initialized)) {
        log("[E] PyriteClientVDProtocolThread::onChangeStatus - cannot initialise the client unit (0x%08X).\n",
            static_cast<u32>(initialized));
        return PYRITE_E_FAILED;
    }
    m_executor.reset(new (std::nothrow) VDevice::VDProtocolExecutor(identity, m_unit.get()));
    if (!m_executor) {
        log("[E] PyriteClientVDProtocolThread::onChangeStatus - cannot create the executor.\n");
        return PYRITE_E_FAILED;
    }
    m_executor->setAnswerTimeout(m_answerTimeoutMs);
    const i32 connected = m_unit->connect(address, port);
    if (VDProtocol::failed(connected)) {
        log("[E] PyriteClientVDProtocolThread::onChangeStatus - cannot connect to %s:%u (0x%08X).\n", LINK_ADDRESS,
            static_cast<u32>(port), static_cast<u32>(connected));
        return PYRITE_E_FAILED;
    }
    return PYRITE_OK;
}

void PyriteClientVDProtocolThread::endProgram()
{
    if (m_systemReleased) {
        return;
    }
    m_systemReleased = true;
    // From a thread of the system this returns at once; the System loop then releases the stages, this thread
    // among them.
    (void)TMS::ThreadRepository::acquireThread("System").releaseThread();
}

u32 PyriteClientVDProtocolThread::onFinalize()
{
    const u32 result = PyriteAppThread::onFinalize();
    if (m_unit) {
        // The socket is closed and released on its owner's task: no wake-up follows the loop's end.
        m_unit->close();
    }
    return result;
}

// ---- the link -------------------------------------------------------------------------------------------------

void PyriteClientVDProtocolThread::wakeup(u16, VCOM::IVCom*)
{
    setUserEvent(EVENT_SOCKET);
}

void PyriteClientVDProtocolThread::onConnected()
{
    setSystemInfo("VDPState", 0, KVariant(VDP_STATE_READY));
    commitSystemInfo();
    sendConnectedWhenConfigured(); // the configuration may have been running before the link was up
}

void PyriteClientVDProtocolThread::onConnectionFailed(u32 errorCode, u8)
{
    log("[E] PyriteClientVDProtocolThread::onConnectionFailed - the editor link failed (reason %u).\n", errorCode);
    endProgram();
}

void PyriteClientVDProtocolThread::onDisconnected()
{
    endProgram();
}

void PyriteClientVDProtocolThread::onReceivePacket(const VDProtocol::PacketContainer& packet)
{
    if (!m_executor) {
        return;
    }
    if (m_requestsOpen) {
        m_executor->dispatchPacket(packet);
    } else if (m_held.size() < MAX_HELD_PACKETS) {
        m_held.push_back(packet); // carried out once "connected" has gone: the restore would undo it
    } else if (packet.m_type == "request") {
        log("[E] PyriteClientVDProtocolThread::onReceivePacket - too many requests before \"connected\".\n");
        (void)m_executor->replyWith(packet, VDProtocol::RESULT_NG);
    }
}

void PyriteClientVDProtocolThread::openRequests()
{
    m_requestsOpen = true;
    std::deque<VDProtocol::PacketContainer> held;
    held.swap(m_held);
    for (const VDProtocol::PacketContainer& packet : held) {
        m_executor->dispatchPacket(packet);
    }
}

// ---- messages, events and timers --------------------------------------------------------------------------------

u32 PyriteClientVDProtocolThread::onReceiveMessage(const TMS::AbstractMessage& message)
{
    const MessageRoute* route = findMessageRoute(message.getValue("CommandName").getString());
    if (route == nullptr || message.getCode() != 0) {
        return PYRITE_OK;
    }
    if (getRunMode() != 0) {
        // Dropped; an answer still frees the window slot of its post, so later posts are not held back.
        if (route->m_route == Route::EXECUTOR && m_executor) {
            m_executor->releasePostSlot(message);
        }
        return PYRITE_OK;
    }
    switch (route->m_route) {
    case Route::DETECT_START:
        (void)getTimers().setTimer(DETECT_TIMER, DETECT_INTERVAL_MS, false, this);
        (void)getTimers().getTimer(DETECT_TIMER).start();
        break;
    case Route::DETECT_STOP:
        stopTimer(DETECT_TIMER);
        break;
    case Route::EXECUTOR:
        if (m_executor) {
            (void)m_executor->onAnswer(message);
        }
        break;
    }
    return PYRITE_OK;
}

void PyriteClientVDProtocolThread::setAnswerTimeout(u32 timeoutMs)
{
    m_answerTimeoutMs = timeoutMs;
    if (m_executor) {
        m_executor->setAnswerTimeout(timeoutMs);
    }
}

u32 PyriteClientVDProtocolThread::onAfterEvents()
{
    const u32 result = PyriteAppThread::onAfterEvents();
    keepTimer(EXPIRY_TIMER, EXPIRY_INTERVAL_MS, m_executor && m_executor->isAwaitingAnswers());
    keepTimer(RETRY_TIMER, RETRY_INTERVAL_MS, m_executor && m_executor->hasBlockedPosts());
    return result;
}

u32 PyriteClientVDProtocolThread::onReceiveUserEvent(u32 eventId)
{
    if (eventId == EVENT_SOCKET) {
        if (m_unit) {
            (void)m_unit->processSocketEvents();
        }
    } else if (eventId == EVENT_METER_REARM) {
        if (m_executor && m_executor->getEditorStateClass() == VDevice::VDProtocolExecutor::STATE_CLASS_SYNCHRONIZED) {
            armMeterTimer(true);
        } else {
            stopTimer(METER_TIMER);
        }
    }
    return PYRITE_OK;
}

u32 PyriteClientVDProtocolThread::onTimer(u32 timerId, u32)
{
    if (!m_executor) {
        return PYRITE_OK;
    }
    if (timerId == DETECT_TIMER) {
        (void)m_executor->postNetworkInfoWhenOffline();
    } else if (timerId == METER_TIMER) {
        (void)m_executor->sendMeterNotifications();
        setUserEvent(EVENT_METER_REARM);
    } else if (timerId == EXPIRY_TIMER) {
        (void)m_executor->expireRequests();
    } else if (timerId == RETRY_TIMER) {
        m_executor->retryPosts();
    }
    return PYRITE_OK;
}

void PyriteClientVDProtocolThread::armMeterTimer(bool oneShot)
{
    stopTimer(METER_TIMER);
    (void)getTimers().setTimer(METER_TIMER, VDevice::VDMeterContainer::getInstance().getInterval(), oneShot, this);
    (void)getTimers().getTimer(METER_TIMER).start();
}

void PyriteClientVDProtocolThread::keepTimer(u32 timerId, u32 intervalMs, bool wanted)
{
    const bool running = getTimers().getTimer(timerId).isRunning();
    if (wanted && !running) {
        (void)getTimers().setTimer(timerId, intervalMs, false, this);
        (void)getTimers().getTimer(timerId).start();
    } else if (!wanted && running) {
        stopTimer(timerId);
    }
}

void PyriteClientVDProtocolThread::stopTimer(u32 timerId)
{
    (void)getTimers().getTimer(timerId).stop();
    (void)getTimers().removeTimer(timerId, false);
}

u32 PyriteClientVDProtocolThread::onChangeSystemInfo()
{
    const u32 base = PyriteAppThread::onChangeSystemInfo();
    if (pyriteFailed(base)) {
        return PYRITE_E_FAILED;
    }
    if (isSystemInfoDirty("ZOVORaState", 0, true)) {
        sendConnectedWhenConfigured();
    }
    KVariant state;
    if (!isSystemInfoDirty("EditorState", 0, true) || pyriteFailed(getSystemInfo(state, "EditorState", 0)) ||
        !m_executor) {
        return base;
    }
    (void)m_executor->onEditorStateChanged(state.getUInt());
    if (VDevice::VDProtocolExecutor::classifyEditorState(state.getUInt()) ==
        VDevice::VDProtocolExecutor::STATE_CLASS_SYNCHRONIZED) {
        armMeterTimer(false);
    } else {
        stopTimer(METER_TIMER);
    }
    return base;
}

// ---- product and database states ----------------------------------------------------------------------------------

u32 PyriteClientVDProtocolThread::onProductStarted(u32 runMode)
{
    m_connectedDue = runMode == 0;
    if (!m_connectedDue && m_executor && !m_requestsOpen) {
        openRequests(); // no "connected" follows in this run mode
    }
    sendConnectedWhenConfigured();
    return PYRITE_OK;
}

void PyriteClientVDProtocolThread::sendConnectedWhenConfigured()
{
    // "connected" lets the editor write. The device-control thread restores the memories after "PDBState" 1 and
    // only then runs the configuration ("ZOVORaState" 3): a write made before that would be overwritten.
    KVariant configuration;
    getSystemInfo(configuration, "ZOVORaState", 0);
    if (!m_connectedDue || configuration.getUInt() != PyriteDeviceControlThread::CONFIG_RUNNING || !m_unit ||
        !m_executor || !m_unit->isConnected()) {
        return;
    }
    m_connectedDue = false;
    (void)m_executor->sendConnected();
    openRequests();
}

u32 PyriteClientVDProtocolThread::onChangePDBState(u32 state)
{
    if (state == 1) {
        (void)registerPDBCallback(0, 0);
    }
    return PYRITE_OK;
}

u32 PyriteClientVDProtocolThread::onChangePDBParam(PDB::IParameterDB* database, u32 component, u32 parameter, u32 x,
                                                   u32 y, u32)
{
    if (m_executor && database != nullptr) {
        (void)m_executor->onParameterChanged(*database, component, parameter, x, y);
    }
    return PYRITE_OK;
}

} // namespace PYRITE

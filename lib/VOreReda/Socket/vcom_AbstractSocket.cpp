#include "vcom_AbstractSocket.h"

#include <cstring>

#include "vcom_Result.h"
#include "vcom_SocketMapper.h"
#include "vcom_Trace.h"

namespace VCOM {

i32 mapVsockResult(i32 vsockResult)
{
    if (vsockResult >= 0) {
        return vsockResult;
    }
    switch (vsockResult) {
    case VSOCK_E_ARG:
        return VCOM_E_ARG;
    case VSOCK_E_CLOSED:
        return VCOM_E_STATE;
    case VSOCK_E_OBJ:
        return VCOM_E_SLOT_STATE;
    case VSOCK_E_RES:
        return VCOM_E_RESOURCE;
    case VSOCK_E_PENDING:
        return VCOM_IN_PROGRESS;
    case VSOCK_E_TIMEOUT:
        return VCOM_E_TIMEOUT;
    case VSOCK_E_EMPTY:
        return VCOM_OK;
    default:
        return VCOM_E_OTHER;
    }
}

std::mutex& VComAbstractSocket::socketLock()
{
    static std::mutex lock; // created once, by the first socket, whichever thread builds it
    return lock;
}

VComAbstractSocket::VComAbstractSocket()
{
    socketLock();
    std::memset(&m_events, 0, sizeof(m_events));
}

VComAbstractSocket::~VComAbstractSocket()
{
    // Derived destructors release; this only makes sure nothing stays registered.
    if (m_mapperIndex >= 0) {
        VComSocketMapper::getInstance()->unregisterSocket(m_mapperIndex);
        m_mapperIndex = -1;
    }
}

i32 VComAbstractSocket::initialize(u32 socketId, IVComWakeupFunction* wakeup)
{
    closeAndClear();
    m_socketId = socketId;
    m_wakeup = wakeup;
    return VCOM_OK;
}

i32 VComAbstractSocket::release()
{
    closeAndClear();
    m_socketId = 0;
    m_wakeup = nullptr;
    return VCOM_OK;
}

i32 VComAbstractSocket::openSlot(u32 type, const VComSocketAddress& local, u16 port)
{
    VsockOpenParams params;
    std::memset(&params, 0, sizeof(params));
    params.type = type;
    params.local.port = port;
    params.local.address = local.getVsockAddress();
    if (params.local.address.family == 0) {
        params.local.address.family = VSOCK_FAMILY_IPV4; // an empty address is 0.0.0.0
    }
    VsockOptions options;
    std::memset(&options, 0, sizeof(options));
    options.flags = VSOCK_OPTION_EVENT_CALLBACK;
    options.callback = &VComSocketMapper::eventCallback;
    const i32 handle = vsockOpen(&params, &options);
    if (handle < 0) {
        return mapVsockResult(handle);
    }
    const i32 rc = adoptHandle(handle);
    if (rc != VCOM_OK) {
        vsockClose(handle);
    }
    return rc;
}

i32 VComAbstractSocket::adoptHandle(i32 handle)
{
    i32 index = -1;
    const i32 rc = VComSocketMapper::getInstance()->registerSocket(this, handle, &index);
    if (rc != VCOM_OK) {
        return rc;
    }
    m_mapperIndex = index;
    m_handle = handle;
    return VCOM_OK;
}

void VComAbstractSocket::closeAndClear()
{
    // Unregister first: the close below cuts off pending operations, and those events must not come back.
    if (m_mapperIndex >= 0) {
        VComSocketMapper::getInstance()->unregisterSocket(m_mapperIndex);
        m_mapperIndex = -1;
    }
    if (m_handle >= 0) {
        vsockClose(m_handle);
        m_handle = -1;
    }
    m_state = STATE_CLOSED;
    m_role = ROLE_NONE;
    resetConnection();
    std::lock_guard<std::mutex> guard(socketLock());
    std::memset(&m_events, 0, sizeof(m_events));
}

i32 VComAbstractSocket::wakeOwner(bool wasEmpty)
{
    if (m_wakeup == nullptr) {
        return VCOM_E_STATE;
    }
    if (wasEmpty) {
        if (vsockOnPollTask()) {
            VComSocketMapper::getInstance()->deferWakeup(this);
        } else {
            m_wakeup->wakeup(m_wakeValue, this);
        }
    }
    return VCOM_OK;
}

void VComAbstractSocket::takeEvents(VComEventRecord* out)
{
    std::lock_guard<std::mutex> guard(socketLock());
    *out = m_events;
    std::memset(&m_events, 0, sizeof(m_events));
}

i32 VComAbstractSocket::handleEvents(IVComCallback* callback)
{
    return handleEventsAs(callback, 0);
}

i32 VComAbstractSocket::handleEventsAs(IVComCallback* callback, u8 childIndex)
{
    VComEventRecord events;
    takeEvents(&events);
    if (m_handle < 0) {
        return VCOM_E_STATE;
    }
    if (events.bits == 0) {
        return VCOM_OK;
    }
    return handleSocketEvents(callback, childIndex, &events);
}

i32 VComAbstractSocket::onConnectDone(i32)
{
    return VCOM_E_NOT_SUPPORTED;
}

i32 VComAbstractSocket::onDisconnect()
{
    return VCOM_OK;
}

i32 VComAbstractSocket::onAccept(i32, u32)
{
    return VCOM_E_NOT_SUPPORTED;
}

i32 VComAbstractSocket::onReceiveDone(i32 result)
{
    bool wasEmpty = false;
    {
        std::lock_guard<std::mutex> guard(socketLock());
        wasEmpty = m_events.bits == 0;
        m_events.bits |= EVENT_RECEIVE_DONE;
        m_events.receiveResult = result;
    }
    return wakeOwner(wasEmpty);
}

i32 VComAbstractSocket::onSendDone(i32 result)
{
    bool wasEmpty = false;
    {
        std::lock_guard<std::mutex> guard(socketLock());
        wasEmpty = m_events.bits == 0;
        m_events.bits |= EVENT_SEND_DONE;
        m_events.sendResult = result;
    }
    return wakeOwner(wasEmpty);
}

// ----- mapper -----

namespace {
// Wake-ups asked for during the poll task's current pass (only the poll task uses these). A socket is listed
// once: at most every registered socket.
thread_local VComAbstractSocket* t_deferred[VComSocketMapper::ENTRY_COUNT];
thread_local u32 t_deferredCount = 0;
} // namespace

VComSocketMapper::VComSocketMapper()
{
    vsockSetPassHook(&VComSocketMapper::deliverWakeups);
}

VComSocketMapper* VComSocketMapper::getInstance()
{
    static VComSocketMapper* instance = new VComSocketMapper(); // never destroyed: the poll task may use it late
    return instance;
}

void VComSocketMapper::deferWakeup(VComAbstractSocket* socket)
{
    for (u32 i = 0; i < t_deferredCount; ++i) {
        if (t_deferred[i] == socket) {
            return;
        }
    }
    if (t_deferredCount < ENTRY_COUNT) {
        t_deferred[t_deferredCount++] = socket;
    }
}

void VComSocketMapper::deliverWakeups()
{
    if (t_deferredCount == 0) {
        return;
    }
    VComSocketMapper* mapper = getInstance();
    // Under the mapper lock a registered socket cannot be released, and its wake-up target stays as it is.
    std::lock_guard<std::mutex> guard(mapper->m_lock);
    for (u32 d = 0; d < t_deferredCount; ++d) {
        for (i32 i = 0; i <= mapper->m_highest; ++i) {
            VComAbstractSocket* socket = mapper->m_entries[i].socket;
            if (socket == t_deferred[d]) {
                if (socket->m_wakeup != nullptr) {
                    socket->m_wakeup->wakeup(socket->m_wakeValue, socket);
                }
                break;
            }
        }
    }
    t_deferredCount = 0;
}

i32 VComSocketMapper::registerSocket(VComAbstractSocket* socket, i32 handle, i32* index)
{
    if (socket == nullptr || index == nullptr || handle < 0) {
        return VCOM_E_ARG;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    for (u32 i = 0; i < ENTRY_COUNT; ++i) {
        if (m_entries[i].socket == nullptr) {
            m_entries[i].socket = socket;
            m_entries[i].handle = handle;
            if (static_cast<i32>(i) > m_highest) {
                m_highest = static_cast<i32>(i);
            }
            *index = static_cast<i32>(i);
            return VCOM_OK;
        }
    }
    return VCOM_E_RESOURCE;
}

i32 VComSocketMapper::unregisterSocket(i32 index)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (index < 0 || index >= static_cast<i32>(ENTRY_COUNT) || m_entries[index].socket == nullptr) {
        return VCOM_E_ARG;
    }
    m_entries[index].socket = nullptr;
    m_entries[index].handle = -1;
    while (m_highest >= 0 && m_entries[m_highest].socket == nullptr) {
        --m_highest;
    }
    return VCOM_OK;
}

i32 VComSocketMapper::dispatch(i32 handle, const VsockEvent* event)
{
    if (event == nullptr) {
        return VCOM_E_ARG;
    }
    // The lock stays held through the call, so that an owner's unregister waits until the socket is left.
    std::lock_guard<std::mutex> guard(m_lock);
    for (i32 i = 0; i <= m_highest; ++i) {
        VComAbstractSocket* socket = m_entries[i].socket;
        if (socket == nullptr || m_entries[i].handle != handle) {
            continue;
        }
        switch (event->kind) {
        case VSOCK_EVENT_ACCEPT:
            return socket->onAccept(event->result, static_cast<u32>(event->result));
        case VSOCK_EVENT_CONNECT:
            return socket->onConnectDone(event->result);
        case VSOCK_EVENT_SEND:
        case VSOCK_EVENT_SENDTO:
            return socket->onSendDone(event->result);
        case VSOCK_EVENT_RECV:
        case VSOCK_EVENT_DATAGRAM:
            return socket->onReceiveDone(event->result);
        default:
            return VCOM_E_ARG;
        }
    }
    return VCOM_E_FAILED;
}

void VComSocketMapper::eventCallback(i32 handle, const VsockEvent* event)
{
    getInstance()->dispatch(handle, event);
}

u16 VComAbstractSocket::getBoundPort() const
{
    u32 port = 0;
    if (m_handle < 0 || vsockGetLocalPort(m_handle, &port) != VSOCK_OK) {
        return 0;
    }
    return static_cast<u16>(port);
}

} // namespace VCOM

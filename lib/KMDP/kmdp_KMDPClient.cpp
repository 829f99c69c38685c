#include "kmdp_KMDPClient.h"

#include <cstring>

#include "kmdp_Result.h"
#include "os_Clock.h"
#include "vcom_Result.h"
#include "vsock_Socket.h"

namespace KMDP {

namespace {

constexpr u32 SOCKET_ID = 1;
constexpr i32 MAX_INTERFACES = 256;
constexpr u32 MAX_ADDRESSES = 16;
constexpr u32 PORT_RETRIES = 20;
constexpr u32 PORT_RETRY_MS = 5;

u32 hostOrder(const u8* bytes)
{
    return (static_cast<u32>(bytes[0]) << 24) | (static_cast<u32>(bytes[1]) << 16) | (static_cast<u32>(bytes[2]) << 8) |
           bytes[3];
}

bool validTag(const char* tag)
{
    if (tag == nullptr || tag[0] == '\0' || ::strnlen(tag, TAG_SIZE) >= TAG_SIZE) {
        return false;
    }
    for (const char* p = tag; *p != '\0'; ++p) {
        if (static_cast<unsigned char>(*p) <= ' ' || *p == 0x7F) {
            return false;
        }
    }
    return true;
}

} // namespace

// Number 0 (loopback) may be missing while Ethernet interfaces exist; past it the first number that names no
// interface ends the walk.
i32 findInterfaceNumber(u32 address)
{
    for (i32 number = 0; number < MAX_INTERFACES; ++number) {
        VsockInterfaceAddress list[MAX_ADDRESSES];
        const i32 count = vsockGetInterfaceAddresses(number, VSOCK_FAMILY_IPV4, list, MAX_ADDRESSES);
        if (count < 0) {
            if (number == 0) {
                continue;
            }
            break;
        }
        for (i32 i = 0; i < count; ++i) {
            if (hostOrder(list[i].address.address) == address) {
                return number;
            }
        }
    }
    return -1;
}

void clearAddress(MeterAddress* address)
{
    if (address != nullptr) {
        *address = MeterAddress();
    }
}

i32 getMeterType(const u8* data, u32 length)
{
    if (data == nullptr || length == 0) {
        return -1;
    }
    const i32 type = data[0] & 0x1F;
    return type <= 5 ? type : -1;
}

KMDPClient::KMDPClient(const char* group, u16 port) : m_port(port)
{
    m_groupValid = group != nullptr && vsockStringToAddress(VSOCK_FAMILY_IPV4, group, &m_group) == VSOCK_OK &&
                   (m_group.address[0] & 0xF0) == 0xE0;
}

KMDPClient::~KMDPClient()
{
    m_serving = false;
    closeNow();
}

i32 KMDPClient::initialize(IClientMeterDataAccessor* accessor, VCOM::IVComWakeupFunction* wakeup,
                           IKMDPClientCallback* callback)
{
    if (accessor == nullptr || wakeup == nullptr || isOpen()) {
        return KMDP_E_FAILED;
    }
    m_accessor = accessor;
    m_wakeup = wakeup;
    m_callback = callback;
    return KMDP_OK;
}

i32 KMDPClient::open(u32 adapterAddress, const MeterAddress& address, const char* tag)
{
    if (m_accessor == nullptr) {
        return KMDP_E_NOT_READY;
    }
    if (!validTag(tag) || !m_groupValid || m_port == 0) {
        return KMDP_E_FAILED;
    }
    if (m_serving) {
        // The socket is inside its own event handling: it cannot be released now.
        return KMDP_E_FAILED;
    }
    closeNow();
    const i32 number = findInterfaceNumber(adapterAddress);
    if (number < 0) {
        return KMDP_E_NOT_FOUND;
    }
    TMS::TMSMutexLocker guard(&m_lock);
    i32 rc = m_socket.initialize(SOCKET_ID, m_wakeup);
    if (rc == VCOM::VCOM_OK) {
        rc = openSocket();
    }
    if (rc == VCOM::VCOM_OK) {
        rc = VCOM::mapVsockResult(vsockJoinMulticastGroup(static_cast<u32>(number), &m_group));
    }
    if (rc != VCOM::VCOM_OK) {
        m_socket.release();
        return rc;
    }
    std::memcpy(m_tag, tag, ::strnlen(tag, TAG_SIZE) + 1);
    m_interface = number;
    m_address = address;
    m_open = true;
    return KMDP_OK;
}

i32 KMDPClient::openSocket()
{
    // A port closed a moment ago stays bound until the slot layer's poll task lets go of the old socket,
    // so a busy answer is retried for a short while.
    const VCOM::VComSocketAddress any(VSOCK_FAMILY_IPV4, "0.0.0.0");
    i32 rc = m_socket.open(any, m_port);
    for (u32 retry = 0; rc == VCOM::VCOM_E_SLOT_STATE && retry < PORT_RETRIES; ++retry) {
        ossupport::sleepMilliseconds(PORT_RETRY_MS);
        rc = m_socket.open(any, m_port);
    }
    return rc;
}

i32 KMDPClient::close()
{
    if (m_serving) {
        m_closeRequested = true;
        return KMDP_OK;
    }
    closeNow();
    return KMDP_OK;
}

void KMDPClient::closeNow()
{
    TMS::TMSMutexLocker guard(&m_lock);
    m_closeRequested = false;
    if (!m_open) {
        return;
    }
    m_socket.release();
    m_open = false;
    m_tag[0] = '\0';
    m_interface = -1;
    clearAddress(&m_address);
}

i32 KMDPClient::processSocketEvents()
{
    if (!m_open) {
        return KMDP_OK;
    }
    m_serving = true;
    const i32 rc = m_socket.handleEvents(this);
    m_serving = false;
    if (m_closeRequested) {
        closeNow();
    }
    return rc;
}

void KMDPClient::onReceived(u32, u8)
{
    const u32 device = m_address.m_device;
    for (;;) {
        if (m_closeRequested) {
            return;
        }
        // The slot layer drops empty datagrams, so 0 bytes means that none is waiting.
        u32 got = 0;
        if (m_socket.receive(m_buffer, sizeof(m_buffer), &got) != VCOM::VCOM_OK || got == 0) {
            return;
        }
        if (device != 0) {
            VCOM::VComSocketAddress source;
            m_socket.getSourceAddress(source, nullptr);
            u8 bytes[4] = {};
            if (source.getAddressBytes(bytes, sizeof(bytes)) != VCOM::VCOM_OK || hostOrder(bytes) != device) {
                m_filtered.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
        }
        if (m_accessor->setMeterData(m_buffer, got) < 0) {
            m_refused.fetch_add(1, std::memory_order_relaxed);
        } else {
            m_delivered.fetch_add(1, std::memory_order_relaxed);
        }
    }
}

void KMDPClient::onCommunicationFailed(u32, u8, u32 reason)
{
    if (reason == IVComCallback::COMM_NO_ROOM) {
        m_dropped.fetch_add(1, std::memory_order_relaxed);
        notice(NOTICE_DATAGRAMS_DROPPED);
    }
}

void KMDPClient::onConnectionFailed(u32, u8, u32)
{
    // The socket closed itself; the record follows once the socket work is done.
    m_closeRequested = true;
    notice(NOTICE_SOCKET_FAILED);
}

void KMDPClient::onDisconnected(u32, u8)
{
    m_closeRequested = true;
    notice(NOTICE_SOCKET_FAILED);
}

void KMDPClient::notice(u32 what)
{
    if (m_callback != nullptr) {
        m_callback->onClientNotice(what);
    }
}

bool KMDPClient::isOpen() const
{
    TMS::TMSMutexLocker guard(&m_lock);
    return m_open;
}

std::string KMDPClient::getTag() const
{
    TMS::TMSMutexLocker guard(&m_lock);
    return m_tag;
}

i32 KMDPClient::getInterfaceNumber() const
{
    TMS::TMSMutexLocker guard(&m_lock);
    return m_interface;
}

ClientStatistics KMDPClient::getStatistics() const
{
    ClientStatistics out;
    out.m_delivered = m_delivered.load(std::memory_order_relaxed);
    out.m_refused = m_refused.load(std::memory_order_relaxed);
    out.m_filtered = m_filtered.load(std::memory_order_relaxed);
    out.m_dropped = m_dropped.load(std::memory_order_relaxed);
    return out;
}

} // namespace KMDP

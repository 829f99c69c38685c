// KMDPClient: receives a device's meter datagrams from a multicast group and hands each one to its owner.
//
// The client has one UDP socket, bound to 0.0.0.0:port and joined to the group on the interface that
// carries the adapter address given to open. Like every socket it has one owner thread: the owner opens,
// serves and closes it. Socket readiness reaches the owner through the wake-up given to initialize; the
// owner then calls processSocketEvents, which reads every waiting datagram and passes it to the
// IClientMeterDataAccessor on the owner thread. The socket record (socket, tag, interface, address) is
// guarded by the mutex "KMDPClient", so other threads may read the client's state.
#pragma once

#include <atomic>
#include <string>

#include "klib_Types.h"
#include "kmdp_Result.h"
#include "tms_Mutex.h"
#include "vcom_Socket.h"

namespace KMDP {

constexpr const char* DEFAULT_GROUP = "239.192.0.168";
constexpr u16 DEFAULT_PORT = 50240;
// The slot layer queues datagrams of at most this size; a read buffer of this size takes any of them.
constexpr u32 MAX_DATAGRAM = 2048;
constexpr u32 TAG_SIZE = 8; // NUL included

// The address record given to open: the device whose datagrams are taken (0: any source).
struct MeterAddress
{
    u32 m_device = 0; // IPv4, the first dotted number in the most significant byte
    u32 m_reserved = 0;
};
static_assert(sizeof(MeterAddress) == 8);

void clearAddress(MeterAddress* address);

// The slot layer's number of the interface that carries the IPv4 address (same form as MeterAddress::m_device):
// 0 loopback, n >= 1 the n-th Ethernet interface; -1 when no interface has it.
i32 findInterfaceNumber(u32 address);

// The meter kind of a datagram: the low 5 bits of byte 0 when they are 0..5, else -1 (also with no bytes).
i32 getMeterType(const u8* data, u32 length);

class IClientMeterDataAccessor
{
public:
    virtual ~IClientMeterDataAccessor() = default;
    // One meter datagram. A failure result counts the datagram as refused.
    virtual i32 setMeterData(const u8* data, u32 length) = 0;
};

// Notices of processSocketEvents.
constexpr u32 NOTICE_DATAGRAMS_DROPPED = 1; // datagrams were lost: the receive queue was full
constexpr u32 NOTICE_SOCKET_FAILED = 2;     // the socket failed and the client closed

class IKMDPClientCallback
{
public:
    virtual ~IKMDPClientCallback() = default;
    // Called on the owner thread from processSocketEvents.
    virtual void onClientNotice(u32 notice) = 0;
};

struct ClientStatistics
{
    u64 m_delivered = 0; // handed to the accessor and taken
    u64 m_refused = 0;   // handed to the accessor and refused
    u64 m_filtered = 0;  // from a source other than the device of the address record
    u64 m_dropped = 0;   // receive-queue overflow reports
};

class KMDPClient : private VCOM::IVComCallback
{
public:
    // The group as dotted IPv4 text and the port to bind.
    explicit KMDPClient(const char* group = DEFAULT_GROUP, u16 port = DEFAULT_PORT);
    ~KMDPClient() override;

    KMDPClient(const KMDPClient&) = delete;
    KMDPClient& operator=(const KMDPClient&) = delete;

    // The owner: the accessor of the datagrams, the wake-up of its thread and its notice callback (may be
    // null). 0; KMDP_E_FAILED for a null accessor or wake-up, or while open.
    [[nodiscard]] i32 initialize(IClientMeterDataAccessor* accessor, VCOM::IVComWakeupFunction* wakeup,
                                 IKMDPClientCallback* callback);
    // Opens the socket and joins the group on the interface whose IPv4 address is adapterAddress (same form
    // as MeterAddress::m_device); an open client closes first. The tag (1..7 characters) names the
    // subscription. 0; KMDP_E_NOT_READY before initialize; KMDP_E_FAILED for a bad tag or group;
    // KMDP_E_NOT_FOUND when no interface has the address; a VCOM code when the socket cannot be opened or
    // joined (the client is then closed).
    [[nodiscard]] i32 open(u32 adapterAddress, const MeterAddress& address, const char* tag);
    // Closes the socket, which ends its membership (an explicit leave would also drop the membership of
    // other sockets bound to 0.0.0.0). 0 also when closed. Called from inside the accessor, the close
    // happens when processSocketEvents returns.
    i32 close();
    // The socket work of one wake-up, on the owner thread: every waiting datagram goes to the accessor.
    i32 processSocketEvents();

    bool isOpen() const;
    std::string getTag() const;
    // Interface number of the open socket (0 loopback, n >= 1 the n-th Ethernet interface), -1 when closed.
    i32 getInterfaceNumber() const;
    u16 getPort() const { return m_port; }
    ClientStatistics getStatistics() const;

private:
    void onConnected(u32, u8) override {}
    void onConnectionFailed(u32, u8, u32) override;
    void onDisconnected(u32, u8) override;
    void onAccepted(u32, u8, u8) override {}
    void onReceived(u32, u8) override;
    void onSent(u32, u8, i32) override {}
    void onCommunicationFailed(u32, u8, u32 reason) override;

    i32 openSocket();
    void closeNow();
    void notice(u32 what);

    mutable TMS::TMSMutex m_lock{"KMDPClient"};
    VsockAddress m_group{};
    bool m_groupValid = false;
    u16 m_port;
    IClientMeterDataAccessor* m_accessor = nullptr;
    VCOM::IVComWakeupFunction* m_wakeup = nullptr;
    IKMDPClientCallback* m_callback = nullptr;

    // The socket record, guarded by m_lock (written on the owner thread only).
    VCOM::VComUdpSocket m_socket;
    bool m_open = false;
    char m_tag[TAG_SIZE] = {};
    i32 m_interface = -1;
    MeterAddress m_address;

    // Owner thread only.
    bool m_serving = false;
    bool m_closeRequested = false;
    u8 m_buffer[MAX_DATAGRAM];

    std::atomic<u64> m_delivered{0};
    std::atomic<u64> m_refused{0};
    std::atomic<u64> m_filtered{0};
    std::atomic<u64> m_dropped{0};
};

} // namespace KMDP

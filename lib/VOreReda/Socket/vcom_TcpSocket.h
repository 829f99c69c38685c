// TCP sockets: the shared stream handling, the client and the child a server hands an accepted connection.
//
// Each TCP socket owns a 15000-byte receive stream and send stream and a 10000-byte receive buffer and send
// buffer. Received bytes move once from the receive buffer into the receive stream; what does not fit stays
// in the receive buffer and follows when `receive` frees room, so nothing is lost while the owner does not
// read. Sent bytes move from the send stream into the send buffer one chunk at a time.
#pragma once

#include "klib_DataStream.h"
#include "vcom_AbstractSocket.h"

namespace VCOM {

class VComAbstractTcpSocket : public VComAbstractSocket
{
public:
    VComAbstractTcpSocket();
    ~VComAbstractTcpSocket() override;

    u32 getSendableSize() const override;
    i32 receive(u8* buffer, u32 size, u32* got) override;
    i32 send(const u8* data, u32 length, u32* taken) override;
    i32 close() override;

    i32 onDisconnect() override;
    i32 onSendDone(i32 result) override;
    i32 handleSocketEvents(IVComCallback* callback, u8 childIndex, const VComEventRecord* events) override;

    // Bytes received but not yet moved into the receive stream.
    u32 getPendingReceiveCount() const { return m_pendingReceive; }

protected:
    void resetConnection() override;
    // Arms the next receive into the receive buffer; 0 or the slot-layer failure.
    i32 armReceive();
    // Handles a failed receive arm with the owner's callbacks.
    void handleArmFailure(IVComCallback* callback, u8 childIndex, i32 vsockResult);
    // Moves the next chunk of the send stream to the slot layer.
    i32 flush();
    // Moves what fits of the pending received bytes into the receive stream; re-arms once none is left.
    i32 resumeReceiveCopy();
    // True while the socket still has its slot (a callback may have closed or released it).
    bool alive() const { return m_handle >= 0; }
    // The branches of handleSocketEvents, in its order; true when handling must stop (the socket closed or a
    // callback released it).
    bool handleConnected(IVComCallback* callback, u8 childIndex);
    void handleConnectFailed(IVComCallback* callback, u8 childIndex, u32 kind);
    void handleDisconnected(IVComCallback* callback, u8 childIndex);
    bool handleReceiveDone(IVComCallback* callback, u8 childIndex, i32 result);
    bool handleSendDone(IVComCallback* callback, u8 childIndex, i32 result);

    KLIB::KDataStream<u8> m_receiveStream;
    KLIB::KDataStream<u8> m_sendStream;
    u8* m_receiveBuffer = nullptr;
    u8* m_sendBuffer = nullptr;
    u32 m_pendingReceive = 0;
    u32 m_pendingOffset = 0; // where the pending bytes start in the receive buffer
    u8 m_sendBusy = 0;
    bool m_receiveArmed = false;
    // The unsent part of the current chunk; changed by the poll task only while the chunk is in flight.
    u8* m_chunkPointer = nullptr;
    u32 m_chunkRemaining = 0;
};

class VComTcpClientSocket : public VComAbstractTcpSocket
{
public:
    VComTcpClientSocket() = default;
    ~VComTcpClientSocket() override;

    // 0 connected at once, 1 in progress, 6 already connected; in state connecting 1; else a failure.
    i32 connect(const VComSocketAddress& local, const VComSocketAddress& remote, u16 remotePort);

    i32 onConnectDone(i32 result) override;
    i32 handleSocketEvents(IVComCallback* callback, u8 childIndex, const VComEventRecord* events) override;

private:
    VsockSocketAddress m_remote{};
};

class VComTcpServerSocket;

class VComTcpServerChildSocket : public VComAbstractTcpSocket
{
public:
    VComTcpServerChildSocket() = default;
    ~VComTcpServerChildSocket() override;

    bool inUse() const { return m_handle >= 0; }

private:
    friend class VComTcpServerSocket;
    // Takes over an accepted connection: registered, connected, with its onConnected pending.
    i32 takeConnection(u32 socketId, IVComWakeupFunction* wakeup, i32 handle, const VsockSocketAddress& peer);
    // True when the peer has closed or reset the connection and every byte it sent has been read by the owner.
    bool peerGone();
};

} // namespace VCOM

// VComTcpServerSocket: a TCP listener with a fixed array of children that take the accepted connections.
#pragma once

#include "vcom_TcpSocket.h"

namespace VCOM {

class VComTcpServerSocket : public VComAbstractTcpSocket
{
public:
    // At most 255 children (child indices are one byte); 0 or above 0xFFFFFF gives no children array.
    static constexpr u32 MAX_CHILDREN = 255;

    explicit VComTcpServerSocket(u32 maxConnections);
    ~VComTcpServerSocket() override;

    i32 initialize(u32 socketId, IVComWakeupFunction* wakeup) override;
    i32 release() override;
    u32 getConnectionCount() const override;
    u32 getMaxConnections() const override { return m_childCount; }
    IVCom* getSocket(u8 index) override;
    u32 getSendableSize() const override { return 0; }
    i32 receive(u8* buffer, u32 size, u32* got) override;
    i32 send(const u8* data, u32 length, u32* taken) override;
    i32 close() override;
    i32 handleEvents(IVComCallback* callback) override;

    i32 onAccept(i32 status, u32 childHandle) override;

    // Opens the listener on local:port and arms the first accept; 1 in progress, or a failure.
    i32 listen(const VComSocketAddress& local, u16 port);

protected:
    void closeAndClear() override;

private:
    // Arms the next accept; 0 / 1 or a failure.
    i32 armAccept();

    VComTcpServerChildSocket* m_children = nullptr; // one global-heap block
    u32 m_childCount = 0;
    VsockSocketAddress m_acceptPeer{}; // written by the slot layer when an accept completes
};

} // namespace VCOM

#include "dbgc_LowIOEtherServer.h"

#include <new>

#include "dbgc_Result.h"
#include "klib_Print.h"
#include "os_Clock.h"

namespace DBGC {

namespace {
constexpr u32 SOCKET_ID = 0;
} // namespace

LowIOEtherServer::LowIOEtherServer(u16 port, const char* address) : m_port(port)
{
    klib_strlcpy(m_address, sizeof(m_address), address != nullptr ? address : DEFAULT_ADDRESS);
}

LowIOEtherServer::~LowIOEtherServer()
{
    close();
}

void LowIOEtherServer::destroyServer()
{
    if (m_server != nullptr) {
        m_server->release();
        delete m_server;
        m_server = nullptr;
    }
    m_accepted = false;
    m_received = false;
}

u32 LowIOEtherServer::open(IDebugConsoleLowIOCallback* callback)
{
    TMS::TMSMutexLocker guard(&m_mutex);
    destroyServer();
    m_callback.store(callback, std::memory_order_release);
    VCOM::VComTcpServerSocket* server = new (std::nothrow) VCOM::VComTcpServerSocket(1);
    if (server == nullptr) {
        return RESULT_FAILED;
    }
    m_server = server;
    if (server->initialize(SOCKET_ID, this) < 0) {
        destroyServer();
        return RESULT_FAILED;
    }
    const VCOM::VComSocketAddress local(VSOCK_FAMILY_IPV4, m_address);
    if (server->listen(local, m_port) < 0) {
        destroyServer();
        return RESULT_FAILED;
    }
    return 0;
}

u32 LowIOEtherServer::close()
{
    TMS::TMSMutexLocker guard(&m_mutex);
    destroyServer();
    return 0;
}

VCOM::IVCom* LowIOEtherServer::peer()
{
    if (m_server == nullptr) {
        return nullptr;
    }
    VCOM::IVCom* child = m_server->getSocket(1);
    return (child != nullptr && child->isConnected()) ? child : nullptr;
}

u32 LowIOEtherServer::read(u8* buffer, u32 size, u32* got)
{
    if (got != nullptr) {
        *got = 0;
    }
    if (buffer == nullptr || size == 0) {
        return RESULT_FAILED;
    }
    TMS::TMSMutexLocker guard(&m_mutex);
    VCOM::IVCom* child = peer();
    if (child == nullptr) {
        return RESULT_FAILED;
    }
    u32 count = 0;
    if (child->receive(buffer, size, &count) < 0) {
        return RESULT_FAILED;
    }
    if (got != nullptr) {
        *got = count;
    }
    return 0;
}

u32 LowIOEtherServer::write(const u8* data, u32 size, u32* written)
{
    if (written != nullptr) {
        *written = 0;
    }
    if (data == nullptr || size == 0) {
        return RESULT_FAILED;
    }
    bool recorded = false;
    u32 result = RESULT_FAILED;
    for (u32 attempt = 0; attempt < WRITE_ATTEMPTS; ++attempt) {
        bool done = false;
        {
            TMS::TMSMutexLocker guard(&m_mutex);
            VCOM::IVCom* child = peer();
            if (child == nullptr) {
                break;
            }
            if (child->getSendableSize() < size) {
                // The send stream moves on only when completed chunks are taken in: do that here instead of
                // waiting for the console thread, which may itself be the writer or wait for "DBGC".
                m_server->handleEvents(this);
                recorded = recorded || m_accepted || m_received;
                child = peer();
                if (child == nullptr) {
                    break;
                }
            }
            if (child->getSendableSize() >= size) {
                u32 taken = 0;
                const i32 rc = child->send(data, size, &taken);
                if (rc >= 0) {
                    if (written != nullptr) {
                        *written = size;
                    }
                    result = 0;
                    done = true;
                } else if (rc != RESULT_SEND_REFUSED) {
                    done = true;
                }
            }
        }
        if (done) {
            break;
        }
        // Let the socket layer drain the send stream (the mutex is not held while yielding).
        ossupport::sleepMilliseconds(0);
    }
    if (recorded) {
        // Events taken in here belong to the console: have its thread poll.
        IDebugConsoleLowIOCallback* callback = m_callback.load(std::memory_order_acquire);
        if (callback != nullptr) {
            callback->onWakeup(this);
        }
    }
    return result;
}

u32 LowIOEtherServer::poll()
{
    bool accepted = false;
    bool received = false;
    IDebugConsoleLowIOCallback* callback = nullptr;
    {
        TMS::TMSMutexLocker guard(&m_mutex);
        if (m_server == nullptr) {
            return RESULT_FAILED;
        }
        // Events recorded by a writer's handleEvents (see write) are handed on here as well.
        const i32 rc = m_server->handleEvents(this);
        accepted = m_accepted;
        received = m_received;
        m_accepted = false;
        m_received = false;
        callback = m_callback.load(std::memory_order_acquire);
        if (rc < 0 && !accepted && !received) {
            return RESULT_FAILED;
        }
    }
    if (callback != nullptr) {
        if (accepted) {
            callback->onConnected(this);
        }
        if (received) {
            callback->onReceive(this);
        }
    }
    return 0;
}

void LowIOEtherServer::wakeup(u16, VCOM::IVCom*)
{
    IDebugConsoleLowIOCallback* callback = m_callback.load(std::memory_order_acquire);
    if (callback != nullptr) {
        callback->onWakeup(this);
    }
}

void LowIOEtherServer::onAccepted(u32, u8, u8)
{
    m_accepted = true;
}

void LowIOEtherServer::onReceived(u32, u8)
{
    m_received = true;
}

void LowIOEtherServer::onConnected(u32, u8) {}
void LowIOEtherServer::onConnectionFailed(u32, u8, u32) {}
void LowIOEtherServer::onDisconnected(u32, u8) {}
void LowIOEtherServer::onSent(u32, u8, i32) {}
void LowIOEtherServer::onCommunicationFailed(u32, u8, u32) {}

u16 LowIOEtherServer::getBoundPort()
{
    TMS::TMSMutexLocker guard(&m_mutex);
    return m_server != nullptr ? m_server->getBoundPort() : 0;
}

bool LowIOEtherServer::isOpen()
{
    TMS::TMSMutexLocker guard(&m_mutex);
    return m_server != nullptr;
}

bool LowIOEtherServer::hasPeer()
{
    TMS::TMSMutexLocker guard(&m_mutex);
    return peer() != nullptr;
}

} // namespace DBGC

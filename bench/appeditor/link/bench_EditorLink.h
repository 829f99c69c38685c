// The rig of the editor-link benchmarks: the program's threads "DeviceControl", "VDProtocol" and "Sync" (the
// compiler a stand-in that answers the resource-usage requests) under a System thread, in a fresh folder holding
// the program's layout, linked to a test editor on a loopback listener, with the product started.
//
// One rig per program (Setup::get): its device-control thread owns the process-wide audio engine.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "pyrite_ClientSyncThread.h"
#include "pyrite_ClientSystemThread.h"
#include "pyrite_ClientVDProtocolThread.h"
#include "pyrite_CommandLineOptions.h"
#include "pyrite_DeviceControlThread.h"
#include "pyrite_ProductInfo.h"
#include "tms_ThreadRepository.h"
#include "vsock_Socket.h"

namespace linkbench {

// "Compiler": answers every resource-usage request, does nothing else.
class StandIn : public TMS::AbstractThread
{
public:
    StandIn() : TMS::AbstractThread(5) {}
    ~StandIn() override { release(); }

    u32 onReceiveMessage(const TMS::AbstractMessage& message) override
    {
        const char* command = message.getValue("CommandName").getString();
        if (command != nullptr && std::string(command) == "getTotalProcessingResourceUsage") {
            TMS::AbstractMessage usage;
            usage.initialize(TMS::MESSAGE_KIND_USER, 0);
            usage.setString("CommandName", "Re:getTotalProcessingResourceUsage");
            usage.setUInt("Result", 0);
            (void)usage.sendTo("VDProtocol");
        }
        return 0;
    }
};

class System : public PYRITE::PyriteClientSystemThread
{
public:
    System() : PYRITE::PyriteClientSystemThread(0) {}
    ~System() override { release(); }

    u32 onInitialize(const TMS::FieldMap& arguments) override
    {
        registerSystemInfoItems(this);
        const struct
        {
            TMS::AbstractThread* m_thread;
            const char* m_name;
            u8 m_stage;
        } threads[] = {{&m_device, "DeviceControl", 2},
                       {&m_link, "VDProtocol", 3},
                       {&m_sync, "Sync", 4},
                       {&m_compiler, "Compiler", 5}};
        for (const auto& entry : threads) {
            entry.m_thread->initialize(entry.m_name, TASK_PRIORITY, entry.m_stage, STACK_SIZE, HEAP_SIZE, LOG_LINES,
                                       TIMER_INTERVAL_MS, TMS::AbstractMessage::emptyFields());
            addChild(entry.m_thread);
        }
        return TMS::SystemThread::onInitialize(arguments);
    }

    PYRITE::PyriteDeviceControlThread m_device;
    PYRITE::PyriteClientVDProtocolThread m_link;
    PYRITE::PyriteClientSyncThread m_sync;
    StandIn m_compiler;
};

// A blocking loopback peer that sends lines and reads the lines that come back.
class LinePeer
{
public:
    LinePeer() = default;
    ~LinePeer() { close(m_fd); }
    LinePeer(const LinePeer&) = delete;
    LinePeer& operator=(const LinePeer&) = delete;

    void adopt(int fd) { m_fd = fd; }
    // Ends both directions: a read on the other end finds the end of the stream.
    void shutdown() { ::shutdown(m_fd, SHUT_RDWR); }
    bool connectTo(u16 port)
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        return m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    bool send(const std::string& line)
    {
        const std::string bytes = line + "\n";
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }
    // The next line (without its line feed); false when the link fails.
    bool nextLine(std::string& line)
    {
        for (;;) {
            const size_t feed = m_pending.find('\n', m_start);
            if (feed != std::string::npos) {
                line.assign(m_pending, m_start, feed - m_start);
                m_start = feed + 1;
                return true;
            }
            m_pending.erase(0, m_start);
            m_start = 0;
            char chunk[65536];
            const ssize_t got = recv(m_fd, chunk, sizeof(chunk), 0);
            if (got <= 0) {
                return false;
            }
            m_pending.append(chunk, static_cast<size_t>(got));
        }
    }
    // The next line that starts with the prefix (others are skipped); empty when the link fails.
    std::string lineStartingWith(const std::string& prefix)
    {
        std::string line;
        while (nextLine(line)) {
            if (line.rfind(prefix, 0) == 0) {
                return line;
            }
        }
        return {};
    }

private:
    int m_fd = -1;
    std::string m_pending;
    size_t m_start = 0;
};

// A listener on 127.0.0.1 at a free port.
class Listener
{
public:
    Listener()
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(m_fd, 1) == 0 &&
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            m_port = ntohs(address.sin_port);
        }
    }
    ~Listener() { close(m_fd); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    u16 port() const { return m_port; }
    // The next connection within 10 s; -1 when none came.
    int accept()
    {
        pollfd waiting{m_fd, POLLIN, 0};
        if (poll(&waiting, 1, 10000) != 1) {
            return -1;
        }
        return accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    }

private:
    int m_fd = -1;
    u16 m_port = 0;
};

struct Setup
{
    Setup()
    {
        namespace fs = std::filesystem;
        TMS::ThreadRepository::initialize();
        vsockInitialize();
        char folder[] = "/tmp/bench_vdplink-XXXXXX";
        m_folder = ::mkdtemp(folder);
        fs::copy(fs::path(VD_LAYOUT_DIR) / "Descriptor", m_folder + "/Descriptor");
        fs::create_directories(m_folder + "/Component");
        fs::copy_file(APPEDITOR_BENCH_PLUGIN_DIR "testgain_1.dll", m_folder + "/Component/testgain_1.dll");
        PyriteProductInfo::getInstance().setSystemDataPath(m_folder);
        PyriteProductInfo::getInstance().setStoragePath(m_folder + "/storage");
        const std::string port = "port=" + std::to_string(m_listener.port());
        const char* argv[] = {"/opt/virtualVEXA-D", "uid=bench", port.c_str()};
        CommandLineOptions::getInstance().parse(3, argv);
        m_system.initialize("System", 0, 0, 0, 20000, 100, 0, TMS::AbstractMessage::emptyFields());
        m_system.start(TMS::AbstractMessage::emptyFields());
        const int link = m_listener.accept();
        if (link >= 0) {
            m_editor.adopt(link);
            m_ok = m_editor.lineStartingWith(R"({"connected")") == R"({"connected":{"from":"bench"}})";
        }
    }
    ~Setup()
    {
        m_system.release();
        vsockFinalize();
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }

    static Setup& get()
    {
        static Setup setup;
        return setup;
    }

    std::string m_folder;
    Listener m_listener;
    LinePeer m_editor;
    System m_system;
    bool m_ok = false;
    u32 m_nextUid = 1000;
    u32 m_nextRequest = 0;
};

} // namespace linkbench

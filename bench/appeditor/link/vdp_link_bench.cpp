// One "add_cpt_info" request of 200 testgain components from the editor's line in to its reply out, through the
// real threads: the client unit and the executor on the "VDProtocol" thread, the posts to the device-control
// thread and its answers. Against it, the 200 adds alone, made directly on the audio component collection by a
// registered thread beside the same started threads. Removing the components between iterations is not timed.
//
// Its own program: its device-control thread owns the process-wide audio engine, which other benchmarks of the
// editor set up themselves.
#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bench_AudioComponents.h"
#include "dadov_AudioComponentCollection.h"
#include "pyrite_ClientSystemThread.h"
#include "pyrite_ClientVDProtocolThread.h"
#include "pyrite_CommandLineOptions.h"
#include "pyrite_DeviceControlThread.h"
#include "pyrite_ProductInfo.h"
#include "tms_ThreadRepository.h"
#include "vsock_Socket.h"

namespace {

namespace fs = std::filesystem;

constexpr u32 COMPONENTS = 200;

// "Compiler" and "Sync": the first answers every resource-usage request, neither does anything else.
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
    StandIn m_sync;
    StandIn m_compiler;
};

class Quiet : public DADOV::IAudioComponentCallback
{
public:
    void onChangeAudioComponents() override {}
};

// The editor's end of the link.
class Editor
{
public:
    Editor()
    {
        m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(m_listener, 1) == 0 &&
            getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            m_port = ntohs(address.sin_port);
        }
    }
    ~Editor()
    {
        close(m_link);
        close(m_listener);
    }
    u16 port() const { return m_port; }
    bool accept()
    {
        pollfd waiting{m_listener, POLLIN, 0};
        if (poll(&waiting, 1, 10000) != 1) {
            return false;
        }
        m_link = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        return m_link >= 0;
    }
    bool send(const std::string& line)
    {
        const std::string bytes = line + "\n";
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(m_link, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }
    // The next line that starts with the prefix (others are skipped); empty when the link fails.
    std::string lineStartingWith(const std::string& prefix)
    {
        for (;;) {
            const size_t feed = m_pending.find('\n');
            if (feed != std::string::npos) {
                std::string line = m_pending.substr(0, feed);
                m_pending.erase(0, feed + 1);
                if (line.rfind(prefix, 0) == 0) {
                    return line;
                }
                continue;
            }
            char chunk[65536];
            const ssize_t got = recv(m_link, chunk, sizeof(chunk), 0);
            if (got <= 0) {
                return {};
            }
            m_pending.append(chunk, static_cast<size_t>(got));
        }
    }

private:
    int m_listener = -1;
    int m_link = -1;
    u16 m_port = 0;
    std::string m_pending;
};

// The threads in a fresh folder holding the program's layout, linked to the editor, with the product started.
struct Setup
{
    Setup()
    {
        TMS::ThreadRepository::initialize();
        vsockInitialize();
        char folder[] = "/tmp/bench_vdplink-XXXXXX";
        m_folder = ::mkdtemp(folder);
        fs::copy(fs::path(VD_LAYOUT_DIR) / "Descriptor", m_folder + "/Descriptor");
        fs::create_directories(m_folder + "/Component");
        fs::copy_file(APPEDITOR_BENCH_PLUGIN_DIR "testgain_1.dll", m_folder + "/Component/testgain_1.dll");
        PyriteProductInfo::getInstance().setSystemDataPath(m_folder);
        PyriteProductInfo::getInstance().setStoragePath(m_folder + "/storage");
        const std::string port = "port=" + std::to_string(m_editor.port());
        const char* argv[] = {"/opt/virtualVEXA-D", "uid=bench", port.c_str()};
        CommandLineOptions::getInstance().parse(3, argv);
        m_system.initialize("System", 0, 0, 0, 20000, 100, 0, TMS::AbstractMessage::emptyFields());
        m_system.start(TMS::AbstractMessage::emptyFields());
        m_ok = m_editor.accept() && m_editor.lineStartingWith(R"({"connected")") == R"({"connected":{"from":"bench"}})";
    }
    ~Setup()
    {
        m_system.release();
        vsockFinalize();
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }

    static Setup& get()
    {
        static Setup setup;
        return setup;
    }

    std::string m_folder;
    Editor m_editor;
    System m_system;
    bool m_ok = false;
    u32 m_nextUid = 1000;
    u32 m_nextRequest = 0;
};

void BM_AddComponentsThroughTheLink(benchmark::State& state)
{
    Setup& setup = Setup::get();
    if (!setup.m_ok) {
        state.SkipWithError("set-up failed");
        return;
    }
    Quiet quiet;
    (void)DADOV::AudioComponentCollection::getInstance().beginByThread(&quiet);
    for (auto _ : state) {
        state.PauseTiming();
        const std::string reqId = std::to_string(setup.m_nextRequest++);
        std::string list;
        for (u32 i = 0; i < COMPONENTS; ++i) {
            list += std::string(i == 0 ? "" : ",") + R"({"cptName":"testgain:1:2x1","prmAddr":"AudioCompo/#)" +
                    std::to_string(setup.m_nextUid++) + R"("})";
        }
        const std::string line = R"({"request":{"cmd":"add_cpt_info","cmdinfo":{"list":[)" + list +
                                 R"(]},"from":"editor","reqid":")" + reqId + R"(","to":"bench"}})";
        state.ResumeTiming();
        const std::string reply = setup.m_editor.send(line)
                                      ? setup.m_editor.lineStartingWith(R"({"reply":{"cmd":"add_cpt_info")")
                                      : std::string();
        state.PauseTiming();
        if (reply.find(R"("reqid":")" + reqId + R"(","result":"ok")") == std::string::npos) {
            state.SkipWithError("the request failed");
            break;
        }
        (void)setup.m_editor.lineStartingWith(R"({"notify":{"cmd":"cpt_resource")");
        benchaudio::removeAllComponents();
        state.ResumeTiming();
    }
    DADOV::AudioComponentCollection::getInstance().endByThread();
    state.SetItemsProcessed(state.iterations() * COMPONENTS);
}
BENCHMARK(BM_AddComponentsThroughTheLink)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

void BM_AddComponentsDirect(benchmark::State& state)
{
    Setup& setup = Setup::get();
    if (!setup.m_ok) {
        state.SkipWithError("set-up failed");
        return;
    }
    Quiet quiet;
    DADOV::AudioComponentCollection& collection = DADOV::AudioComponentCollection::getInstance();
    (void)collection.beginByThread(&quiet);
    for (auto _ : state) {
        for (u32 i = 0; i < COMPONENTS; ++i) {
            benchmark::DoNotOptimize(collection.addComponent("testgain", 1, setup.m_nextUid++, 2, 1));
        }
        state.PauseTiming();
        benchaudio::removeAllComponents();
        state.ResumeTiming();
    }
    collection.endByThread();
    state.SetItemsProcessed(state.iterations() * COMPONENTS);
}
BENCHMARK(BM_AddComponentsDirect)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

} // namespace

// The debug print from 8 threads, without a console peer and with a peer that reads everything, against plain
// fprintf to standard output. Run with standard output redirected to /dev/null and the results written with
// --benchmark_out.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "dbgc_DebugConsoleThread.h"
#include "dbgc_Print.h"
#include "tms_ThreadRepository.h"
#include "vsock_Socket.h"

namespace {

// 59 characters and a line feed.
const char* const LINE = "[i] Bench::print - sixty characters of debug text 0123456\n";

struct Console
{
    Console()
    {
        TMS::ThreadRepository::initialize();
        vsockInitialize();
        thread = std::make_unique<DBGC::DebugConsoleThread>(0, "127.0.0.1");
        thread->initialize("DebugConsole", 0, 0, 20000, 20000, 100, 100, TMS::AbstractMessage::emptyFields());
        thread->start(TMS::AbstractMessage::emptyFields());
        thread->startEtherConsole();
    }

    // Connects a client that reads and discards everything, once.
    void connectReader()
    {
        if (reader.joinable()) {
            return;
        }
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(thread->getTransport().getBoundPort());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            ::close(fd);
            return;
        }
        reader = std::thread([fd] {
            char buffer[65536];
            while (::recv(fd, buffer, sizeof(buffer), 0) > 0) {
            }
            ::close(fd);
        });
        reader.detach();
        for (int i = 0; i < 500 && !thread->getTransport().hasPeer(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    std::unique_ptr<DBGC::DebugConsoleThread> thread;
    std::thread reader;
};

Console& console()
{
    static Console instance;
    return instance;
}

void BM_Fprintf(benchmark::State& state)
{
    for (auto _ : state) {
        std::fprintf(stdout, "%s", LINE);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_DbgcPrintfNoPeer(benchmark::State& state)
{
    if (state.thread_index() == 0) {
        console();
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(dbgc_printf("%s", LINE));
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_DbgcPrintfReadingPeer(benchmark::State& state)
{
    if (state.thread_index() == 0) {
        console().connectReader();
        state.counters["peer"] = console().thread->getTransport().hasPeer() ? 1 : 0;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(dbgc_printf("%s", LINE));
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_Fprintf)->Threads(8)->UseRealTime();
BENCHMARK(BM_DbgcPrintfNoPeer)->Threads(8)->UseRealTime();
BENCHMARK(BM_DbgcPrintfReadingPeer)->Threads(8)->UseRealTime();

// The debug print from 8 threads, without a console peer, with a peer that reads everything and with one that
// never reads, against plain fprintf to standard output. Run with standard output redirected to /dev/null and the
// results written with
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

// The console's peer for a benchmark: none, one that reads and discards everything, or one that never reads.
enum class Peer { None, Reading, NeverReading };

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

    // Puts the wanted peer in place: the previous one is closed first and gone from the transport.
    void use(Peer wanted)
    {
        if (wanted == current && (wanted == Peer::None || thread->getTransport().hasPeer())) {
            return;
        }
        if (fd >= 0) {
            ::shutdown(fd, SHUT_RDWR);
            if (reader.joinable()) {
                reader.join();
            }
            ::close(fd);
            fd = -1;
        }
        waitForPeer(false);
        current = wanted;
        if (wanted == Peer::None) {
            return;
        }
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (wanted == Peer::NeverReading) {
            const int small = 4096;
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(thread->getTransport().getBoundPort());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            ::close(fd);
            fd = -1;
            return;
        }
        if (wanted == Peer::Reading) {
            reader = std::thread([socket = fd] {
                char buffer[65536];
                while (::recv(socket, buffer, sizeof(buffer), 0) > 0) {
                }
            });
        }
        waitForPeer(true);
    }

    void waitForPeer(bool present)
    {
        for (int i = 0; i < 1000 && thread->getTransport().hasPeer() != present; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    std::unique_ptr<DBGC::DebugConsoleThread> thread;
    std::thread reader;
    int fd = -1;
    Peer current = Peer::None;
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

void printWith(benchmark::State& state, Peer peer)
{
    if (state.thread_index() == 0) {
        console().use(peer);
        state.counters["peer"] = console().thread->getTransport().hasPeer() ? 1 : 0;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(dbgc_printf("%s", LINE));
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_DbgcPrintfNoPeer(benchmark::State& state)
{
    printWith(state, Peer::None);
}

void BM_DbgcPrintfReadingPeer(benchmark::State& state)
{
    printWith(state, Peer::Reading);
}

void BM_DbgcPrintfNeverReadingPeer(benchmark::State& state)
{
    printWith(state, Peer::NeverReading);
}

} // namespace

BENCHMARK(BM_Fprintf)->Threads(8)->UseRealTime();
BENCHMARK(BM_DbgcPrintfNoPeer)->Threads(8)->UseRealTime();
BENCHMARK(BM_DbgcPrintfReadingPeer)->Threads(8)->UseRealTime();
BENCHMARK(BM_DbgcPrintfNeverReadingPeer)->Threads(8)->UseRealTime();

// CPU time of the slot layer's poll task while idle, measured with getrusage over 10 s, with no socket
// and with one idle socket. The benchmark thread only sleeps meanwhile, so the process time is the poll
// task's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <sys/resource.h>
#include <thread>

#include "os_Tasks.h"
#include "vsock_Socket.h"

namespace {

void ignoreEvent(i32, const VsockEvent*) {}

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void idlePollCpu(benchmark::State& state)
{
    if (!ossupport::isInitialized()) {
        ossupport::initialize();
    }
    if (vsockInitialize() != VSOCK_OK) {
        state.SkipWithError("the slot layer did not start");
        return;
    }
    i32 handle = -1;
    if (state.range(0) != 0) {
        VsockOpenParams params{};
        params.type = VSOCK_TYPE_UDP;
        params.local.address.family = VSOCK_FAMILY_IPV4;
        params.local.address.address[0] = 127;
        params.local.address.address[3] = 1;
        VsockOptions options{};
        options.flags = VSOCK_OPTION_EVENT_CALLBACK;
        options.callback = &ignoreEvent;
        handle = vsockOpen(&params, &options);
    }
    double cpu = 0;
    for (auto _ : state) {
        const double before = processCpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        cpu = processCpuSeconds() - before;
    }
    state.counters["cpu_ms_per_s"] = cpu * 1000.0 / 10.0;
    state.counters["cpu_percent"] = cpu * 100.0 / 10.0;
    if (handle >= 0) {
        vsockClose(handle);
    }
    vsockFinalize();
}

} // namespace

BENCHMARK(idlePollCpu)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

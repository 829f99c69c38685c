// One "add_cpt_info" request of 200 testgain components from the editor's line in to its reply out, through the
// real threads: the client unit and the executor on the "VDProtocol" thread, the posts to the device-control
// thread and its answers. Against it, the 200 adds alone, made directly on the audio component collection by a
// registered thread beside the same started threads. Removing the components between iterations is not timed.
//
// Its own program: its device-control thread owns the process-wide audio engine, which other benchmarks of the
// editor set up themselves.
#include <benchmark/benchmark.h>

#include <string>

#include "bench_AudioComponents.h"
#include "bench_EditorLink.h"
#include "dadov_AudioComponentCollection.h"

namespace {

using linkbench::Setup;

constexpr u32 COMPONENTS = 200;

class Quiet : public DADOV::IAudioComponentCallback
{
public:
    void onChangeAudioComponents() override {}
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

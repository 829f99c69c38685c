// One request line from the editor to its reply line, through the program's threads ("VDProtocol" with its client
// unit and executor, "DeviceControl" and "Sync" subscribed to the parameter databases), against the same line sent
// to a minimal line server in this program that parses each line with nlohmann::json and answers it with the
// dumped reply, over loopback too. Each iteration sends the line to both, one after the other, so that both meet
// the same load. The time reported is the program's mean; "program_us" and "baseline_us" are the medians of the
// two round trips and "ratio" their quotient.
//
//   "set" "prm_val"      the gain of a testgain component, alternating between two values (every write changes it)
//   "getData" "prm_val"  the same gain read back
//   "get" "dev_info"     the device information
//
// Run with --benchmark_repetitions=3 and compare the ratios of the repetitions.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "bench_EditorLink.h"
#include "pdb_ParameterDBCollection.h"

namespace {

using linkbench::LinePeer;
using linkbench::Setup;

constexpr u32 COMPONENT_DB = 10;
constexpr u32 GAIN_UID = 900;

// Answers every line: the request's body with type "reply", "from" and "to" swapped and an ok result.
class LineServer
{
public:
    LineServer()
    {
        m_thread = std::thread([this] {
            const int fd = m_listener.accept();
            if (fd < 0) {
                return;
            }
            m_peer.adopt(fd);
            std::string line;
            while (m_peer.nextLine(line)) {
                nlohmann::json request = nlohmann::json::parse(line, nullptr, false);
                if (request.is_discarded() || !request.contains("request")) {
                    continue;
                }
                nlohmann::json body = std::move(request["request"]);
                const nlohmann::json from = body.value("from", nlohmann::json(""));
                body["from"] = body.value("to", nlohmann::json(""));
                body["to"] = from;
                body["result"] = "ok";
                body["progress"] = "100";
                body["message"] = "";
                nlohmann::json reply;
                reply["reply"] = std::move(body);
                if (!m_peer.send(reply.dump())) {
                    return;
                }
            }
        });
        m_ok = m_client.connectTo(m_listener.port());
    }
    ~LineServer()
    {
        m_client.shutdown(); // the server's read ends
        m_thread.join();
    }

    static LineServer& get()
    {
        static LineServer server;
        return server;
    }

    linkbench::Listener m_listener;
    LinePeer m_peer;
    LinePeer m_client;
    std::thread m_thread;
    bool m_ok = false;
};

std::string request(const std::string& cmd, const std::string& cmdInfo, const std::string& reqId)
{
    return R"({"request":{"cmd":")" + cmd + R"(",)" + cmdInfo + R"("from":"editor","reqid":")" + reqId +
           R"(","to":"bench"}})";
}

// The gain component, added through the link when it is not there (another benchmark may have removed it).
bool ensureGain(Setup& setup)
{
    if (PDB::ParameterDBCollection::getInstance(COMPONENT_DB).getComponentIndex(GAIN_UID) != 0xFFFFFFFFu) {
        return true;
    }
    const std::string line = request("add_cpt_info",
                                     R"("cmdinfo":{"list":[{"cptName":"testgain:1:1x1","prmAddr":"AudioCompo/#)" +
                                         std::to_string(GAIN_UID) + R"("}]},)",
                                     "gain");
    if (!setup.m_editor.send(line) ||
        setup.m_editor.lineStartingWith(R"({"reply":{"cmd":"add_cpt_info")").find(R"("result":"ok")") ==
            std::string::npos) {
        return false;
    }
    (void)setup.m_editor.lineStartingWith(R"({"notify":{"cmd":"cpt_resource")");
    return true;
}

double roundTrip(LinePeer& peer, const std::string& line, const std::string& reqId)
{
    const auto start = std::chrono::steady_clock::now();
    const bool sent = peer.send(line);
    const std::string reply = sent ? peer.lineStartingWith(R"({"reply":)") : std::string();
    const auto end = std::chrono::steady_clock::now();
    if (reply.find(R"("reqid":")" + reqId + R"(")") == std::string::npos ||
        reply.find(R"("result":"ok")") == std::string::npos) {
        return -1.0;
    }
    return std::chrono::duration<double>(end - start).count();
}

double median(std::vector<double>& samples)
{
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(samples.size() / 2), samples.end());
    return samples[samples.size() / 2];
}

// makeLine(reqId, iteration): the request line of one iteration.
template <typename MakeLine> void runRoundTrips(benchmark::State& state, MakeLine makeLine)
{
    Setup& setup = Setup::get();
    LineServer& server = LineServer::get();
    if (!setup.m_ok || !server.m_ok || !ensureGain(setup)) {
        state.SkipWithError("set-up failed");
        return;
    }
    std::vector<double> program;
    std::vector<double> baseline;
    for (auto _ : state) {
        const std::string reqId = std::to_string(setup.m_nextRequest++);
        const std::string line = makeLine(reqId, program.size());
        const double linked = roundTrip(setup.m_editor, line, reqId);
        const double served = roundTrip(server.m_client, line, reqId);
        if (linked < 0.0 || served < 0.0) {
            state.SkipWithError("a request failed");
            return;
        }
        state.SetIterationTime(linked);
        program.push_back(linked);
        baseline.push_back(served);
    }
    if (!program.empty()) {
        // Medians: on a loaded machine a few round trips wait for a core for milliseconds.
        const double programMedian = median(program);
        const double baselineMedian = median(baseline);
        state.counters["program_us"] = benchmark::Counter(programMedian * 1e6);
        state.counters["baseline_us"] = benchmark::Counter(baselineMedian * 1e6);
        state.counters["ratio"] = benchmark::Counter(programMedian / baselineMedian);
    }
}

void BM_SetParameterValue(benchmark::State& state)
{
    runRoundTrips(state, [](const std::string& reqId, u64 iteration) {
        const char* value = iteration % 2 == 0 ? "-6.5" : "-3.25";
        return request("set_prm_val",
                       R"("cmdinfo":{"info":{"prmAddr":"AudioCompo/#)" + std::to_string(GAIN_UID) +
                           R"(/Gain:0:0","prmValue":)" + value + "}},",
                       reqId);
    });
}
BENCHMARK(BM_SetParameterValue)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_GetDataParameterValue(benchmark::State& state)
{
    runRoundTrips(state, [](const std::string& reqId, u64) {
        return request(
            "getData_prm_val",
            R"("cmdinfo":{"list":[{"prmAddr":"AudioCompo/#)" + std::to_string(GAIN_UID) + R"(/Gain:0:0"}]},)", reqId);
    });
}
BENCHMARK(BM_GetDataParameterValue)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_GetDeviceInfo(benchmark::State& state)
{
    runRoundTrips(state, [](const std::string& reqId, u64) { return request("get_dev_info", "", reqId); });
}
BENCHMARK(BM_GetDeviceInfo)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

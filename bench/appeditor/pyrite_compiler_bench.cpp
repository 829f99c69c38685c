// The compiler input documents and a whole "startCompile" for 256 gain components and 512 connections.
//   BM_InputDocuments (createComponentDB + createConnectionDB) against BM_InputDocumentsDirect, which builds and
//   dumps the same JSON objects from ready data;
//   BM_StartCompileRoundTrip (post to "Notify:compileResult") against BM_CompileAlone (the compiler on the same
//   texts) and BM_AllDocumentTexts (the three create operations): the rest of the round trip is file writing and
//   messaging.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "bench_Engine.h"
#include "compiler_CompilerForNativeCPU.h"
#include "dadov_AudioComponentCollection.h"
#include "pdb_JsonAdapter.h"
#include "pyrite_ProductInfo.h"
#include "pyrite_VEXACompilerAPI.h"
#include "pyrite_VEXACompilerThread.h"

namespace {

namespace API = PYRITE::VEXACompilerAPI;

constexpr u32 COMPONENTS = 256;
constexpr u32 CONNECTIONS = 512;
constexpr u32 FIRST_UID = 100;

// Asks "Compiler" for a compile on each "go" and counts the notifications.
class Requester : public TMS::AbstractThread
{
public:
    Requester() : TMS::AbstractThread(5) {}
    ~Requester() override { release(); }

    u32 onReceiveMessage(const TMS::AbstractMessage& message) override
    {
        const char* command = message.getValue("CommandName").getString();
        if (command != nullptr && std::strcmp(command, "go") == 0) {
            TMS::AbstractMessage request;
            request.initialize(TMS::MESSAGE_KIND_USER, 0);
            request.setString("CommandName", "startCompile");
            (void)request.sendTo("Compiler");
        } else if (command != nullptr && std::strcmp(command, "Notify:compileResult") == 0) {
            m_lastResult.store(message.getValue("Result").getUInt());
            m_done.fetch_add(1);
        }
        return 0;
    }

    std::atomic<u32> m_done{0};
    std::atomic<u32> m_lastResult{0};
};

// The audio engine with the components and connections, the calling thread registered, and the two threads.
struct Setup
{
    Setup()
    {
        DADOV::AudioComponentCollection& collection = DADOV::AudioComponentCollection::getInstance();
        ok = appeditorbench::startEngine() && collection.beginByThread(nullptr) == 0;
        for (u32 i = 0; ok && i < COMPONENTS; ++i) {
            ok = collection.addComponent("testgain", 1, FIRST_UID + i, 1, 1) == 0;
        }
        std::mt19937 random(7);
        std::set<std::pair<u32, u32>> links;
        while (ok && links.size() < CONNECTIONS) {
            const u32 to = 1 + static_cast<u32>(random() % (COMPONENTS - 1));
            const u32 from = static_cast<u32>(random() % to);
            if (links.emplace(from, to).second) {
                ok = collection.addConnection(FIRST_UID + from, 0, FIRST_UID + to, 0) == 0;
            }
        }
        char folder[] = "/tmp/compilerbenchXXXXXX";
        ok = ok && mkdtemp(folder) != nullptr;
        storage = folder;
        PyriteProductInfo::getInstance().setStoragePath(storage);
        const TMS::FieldMap& none = TMS::AbstractMessage::emptyFields();
        ok = ok && requester.initialize("Requester", 0, 1, 0x40000, 0x40000, 100, 0, none) == 0 &&
             compiler.initialize("Compiler", 0, 5, 0x40000, 0x40000, 100, 0, none) == 0 && requester.start(none) == 0 &&
             compiler.start(none) == 0;
    }
    ~Setup()
    {
        compiler.release();
        requester.release();
        std::error_code ignored;
        std::filesystem::remove_all(storage, ignored);
    }

    bool ok = false;
    std::string storage;
    Requester requester;
    PYRITE::VEXACompilerThread compiler;
};

Setup& setup()
{
    static Setup instance;
    return instance;
}

void BM_InputDocuments(benchmark::State& state)
{
    if (!setup().ok) {
        state.SkipWithError("set-up failed");
        return;
    }
    for (auto _ : state) {
        std::string componentDB = API::createComponentDB();
        std::string connectionDB = API::createConnectionDB();
        benchmark::DoNotOptimize(componentDB.data());
        benchmark::DoNotOptimize(connectionDB.data());
    }
}
BENCHMARK(BM_InputDocuments);

// The same two documents from data at hand: the JSON library's part of the work.
void BM_InputDocumentsDirect(benchmark::State& state)
{
    if (!setup().ok) {
        state.SkipWithError("set-up failed");
        return;
    }
    std::vector<DADOV::AudioConnection> connections;
    (void)DADOV::AudioComponentCollection::getInstance().getConnections(connections);
    std::sort(connections.begin(), connections.end());
    using PDB::JsonValue;
    for (auto _ : state) {
        JsonValue resource;
        resource["name"] = "step";
        resource["size"] = 1000u;
        JsonValue dspResource;
        dspResource["dspName"] = "VEXA-D CPU";
        dspResource["fsHz"] = 96000u;
        dspResource["numSamplePerFrame"] = 32u;
        dspResource["fixedDelay"] = 0u;
        dspResource["resources"] = JsonValue::array({std::move(resource)});
        JsonValue componentDB;
        JsonValue& type = componentDB["componentDB"]["components"].emplace_back();
        type["name"] = "testgain";
        type["majorVersion"] = 1u;
        type["numX"] = 1u;
        type["numY"] = 1u;
        type["numInPort"] = 1u;
        type["numOutPort"] = 1u;
        type["dspResources"] = JsonValue::array({std::move(dspResource)});

        JsonValue connectionDB;
        JsonValue& db = connectionDB["connectionDB"];
        JsonValue& system = db["dspSystem"];
        system["name"] = "VEXA256-D";
        system["fsHz"] = 96000u;
        system["numSamplePerFrame"] = 32u;
        system["renderSamples"] = 32;
        system["delayCompensation"] = false;
        JsonValue& components = db["components"] = JsonValue::array();
        for (u32 i = 0; i < COMPONENTS; ++i) {
            JsonValue& entry = components.emplace_back();
            entry["uniqID"] = FIRST_UID + i;
            entry["name"] = "testgain";
            entry["majorVersion"] = 1u;
            entry["numX"] = 1u;
            entry["numY"] = 1u;
        }
        JsonValue& links = db["connections"] = JsonValue::array();
        for (const DADOV::AudioConnection& c : connections) {
            JsonValue& entry = links.emplace_back();
            entry["fromUniqID"] = c.m_fromUniqID;
            entry["fromPortNo"] = c.m_fromPortNo;
            entry["toUniqID"] = c.m_toUniqID;
            entry["toPortNo"] = c.m_toPortNo;
        }
        db["logicConnections"] = JsonValue::array();
        std::string componentText = componentDB.dump(2);
        std::string connectionText = connectionDB.dump(2);
        benchmark::DoNotOptimize(componentText.data());
        benchmark::DoNotOptimize(connectionText.data());
    }
}
BENCHMARK(BM_InputDocumentsDirect);

void BM_AllDocumentTexts(benchmark::State& state)
{
    if (!setup().ok) {
        state.SkipWithError("set-up failed");
        return;
    }
    for (auto _ : state) {
        std::string texts[] = {API::createComponentDB(), API::createConnectionDB(), API::createDspSystemDB()};
        benchmark::DoNotOptimize(texts[1].data());
    }
}
BENCHMARK(BM_AllDocumentTexts)->Unit(benchmark::kMicrosecond);

void BM_CompileAlone(benchmark::State& state)
{
    if (!setup().ok) {
        state.SkipWithError("set-up failed");
        return;
    }
    const std::string componentDB = API::createComponentDB();
    const std::string connectionDB = API::createConnectionDB();
    const std::string dspSystemDB = API::createDspSystemDB();
    Compiler::CompilerForNativeCPU compiler;
    for (auto _ : state) {
        std::string result;
        if (compiler.compile(componentDB, connectionDB, dspSystemDB, nullptr, result) != 0) {
            state.SkipWithError("compile failed");
            break;
        }
        benchmark::DoNotOptimize(result.data());
    }
}
BENCHMARK(BM_CompileAlone)->Unit(benchmark::kMicrosecond);

void BM_StartCompileRoundTrip(benchmark::State& state)
{
    if (!setup().ok) {
        state.SkipWithError("set-up failed");
        return;
    }
    Requester& requester = setup().requester;
    for (auto _ : state) {
        const u32 before = requester.m_done.load();
        TMS::AbstractMessage go;
        go.initialize(TMS::MESSAGE_KIND_USER, 0);
        go.setString("CommandName", "go");
        (void)requester.sendMessageWithWaiting(go);
        while (requester.m_done.load() == before) {
            std::this_thread::yield();
        }
        if (requester.m_lastResult.load() != 0) {
            state.SkipWithError("compile failed");
            break;
        }
    }
}
BENCHMARK(BM_StartCompileRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

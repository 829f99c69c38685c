// Peer bytes through the line editor into the real command modules (Top, Thread, Component, PDB). Set up once per
// process: the thread repository with three threads that queue the modules' messages (they are not started, so no
// other thread runs during an input; once a queue is full, a send fails at once instead of waiting; the queues are
// emptied after every input), and the
// component database (entry 10) holding a component of every type code.
#include <cstdint>
#include <cstdlib>

#include "../../pdb/compo_TestTypes.h"
#include "dbgc_DebugConsole.h"
#include "dbgc_Modules.h"
#include "fuzz_MemoryTransport.h"
#include "pdb_ParameterDBCollection.h"
#include "tms_AbstractThread.h"
#include "tms_ThreadRepository.h"
#include "tms_ThreadTestHooks.h"

namespace {

// Queues every message.
class SinkThread : public TMS::AbstractThread
{
public:
    SinkThread() : TMS::AbstractThread(64) {}
    ~SinkThread() override
    {
        if (getTaskId() != TMS::NO_ID) {
            release();
        }
    }
    u32 onReceiveMessage(const TMS::AbstractMessage&) override { return 0; }
};

SinkThread* g_sinks[3] = {};

bool setUp()
{
    if (TMS::ThreadRepository::initialize() != 0) {
        std::abort();
    }
    TMS::testhooks::setSendRetry(1, 0);
    const char* const names[] = {"DeviceControl", "Compiler", "DSPMeter"};
    for (size_t t = 0; t < 3; ++t) {
        const char* const name = names[t];
        auto* thread = new SinkThread(); // lives as long as the process
        g_sinks[t] = thread;
        if (thread->initialize(name, 0, 0, 20000, 20000, 100, 0, TMS::AbstractMessage::emptyFields()) != 0) {
            std::abort();
        }
        for (int i = 0; i < 5; ++i) {
            thread->log("line %d of %s\n", i, name);
        }
    }
    compo_test::registerAllTypes();
    if (PDB::ParameterDBCollection::createInstance(DBGC::COMPONENT_DATABASE_ID, "Component", nullptr, 0) < 0) {
        std::abort();
    }
    PDB::IParameterDB& db = PDB::ParameterDBCollection::getInstance(DBGC::COMPONENT_DATABASE_ID);
    if (db.addComponent(7, "AllTypes", 2, 0, 3, 2) < 0) {
        std::abort();
    }
    db.releaseAllOfThisThread();
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = setUp();
    (void)ready;
    dbgcfuzz::MemoryTransport transport;
    DBGC::DebugConsole console;
    if (console.initialize(nullptr, &transport, DBGC::getModuleTable(), DBGC::getModuleCount()) != 0) {
        std::abort();
    }
    dbgcfuzz::feedInChunks(console, transport, data, size);
    console.finalize();
    // Every input starts from empty queues, and nothing it allocated outlives it (an input that leaves memory
    // behind makes libFuzzer run a leak check, which costs more than the input).
    for (SinkThread* sink : g_sinks) {
        TMS::ThreadMessageStream& queue = sink->getMessageStream();
        while (queue.getCount() > 0) {
            TMS::AbstractMessage taken;
            (void)queue.read(taken);
        }
    }
    return 0;
}

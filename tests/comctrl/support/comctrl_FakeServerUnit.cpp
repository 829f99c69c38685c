#include "comctrl_FakeServerUnit.h"

#include <gtest/gtest.h>

#include <new>

#include "comctrl_Result.h"
#include "os_Clock.h"

using namespace ComControl;

namespace comctrltest {

namespace {

u32 now()
{
    u32 ms = 0;
    ossupport::getMilliseconds(&ms);
    return ms;
}

std::string textOf(const char* text)
{
    return text != nullptr ? text : "(null)";
}

std::string addressText(const VCOM::VComSocketAddress& address)
{
    char text[64] = "";
    (void)address.getAddressText(text, sizeof(text), nullptr);
    return text;
}

u32 partIndex(UnitPart part)
{
    return static_cast<u32>(part);
}

} // namespace

class FakeServerUnit final : public ServerUnit
{
public:
    explicit FakeServerUnit(FakeUnitScript& script) : m_script(script) {}
    ~FakeServerUnit() override
    {
        std::lock_guard<std::mutex> guard(m_script.m_lock);
        m_script.m_unitAlive = false;
        m_script.m_wakeup = nullptr;
        m_script.m_connected = false;
        m_script.dropUnitDeliveriesLocked();
    }

    void setMode(u32 mode) override { record({FakeOp::SetMode, UnitPart::EventMessenger, 0, mode, "", "", 0}); }

    i32 initialize(u32 unitId, u32 eventMessengers, u32 pdbSynchronizers, u32 mmsSynchronizers, u32 dirSynchronizers,
                   const VCOM::VComSocketAddress& localAddress, IEventExecutor* executor,
                   IUnitConnectObserver* observer, u32 bufferSize) override
    {
        i32 rc = m_setup.initialize(unitId, eventMessengers, pdbSynchronizers, mmsSynchronizers, dirSynchronizers,
                                    executor, observer, bufferSize);
        for (auto& e : m_executors) {
            e = nullptr;
        }
        for (auto& m : m_monitors) {
            m = nullptr;
        }
        const std::string counts = std::to_string(eventMessengers) + " " + std::to_string(pdbSynchronizers) + " " +
                                   std::to_string(mmsSynchronizers) + " " + std::to_string(dirSynchronizers);
        return answer(
            {FakeOp::Initialize, UnitPart::EventMessenger, unitId, bufferSize, addressText(localAddress), counts, rc});
    }

    i32 setPartId(UnitPart part, u32 index, const char* id) override
    {
        return answer({FakeOp::SetPartId, part, index, 0, textOf(id), "", m_setup.setId(part, index, id)});
    }

    i32 setupEventMessenger(u32 index, const char* name, IEventExecutor* executor, u32 eventCode) override
    {
        i32 rc =
            executor == nullptr ? COMCTRL_E_FAILED : m_setup.setUp(UnitPart::EventMessenger, index, name, eventCode);
        if (rc == COMCTRL_OK) {
            m_executors[index] = executor;
        }
        return answer(
            {FakeOp::SetupEventMessenger, UnitPart::EventMessenger, index, 0, textOf(name), "", rc, eventCode});
    }

    i32 setupPdbSynchronizer(u32 index, const char* tag, u32 databaseId) override
    {
        return answer({FakeOp::SetupPdbSynchronizer, UnitPart::PdbSynchronizer, index, databaseId, textOf(tag), "",
                       m_setup.setUp(UnitPart::PdbSynchronizer, index, tag, 0)});
    }

    i32 setupFileSynchronizer(u32 index, const char* name, FileAccessor* files, u32 eventCode,
                              IProgressMonitor* monitor) override
    {
        const i32 rc = files == nullptr || monitor == nullptr
                           ? COMCTRL_E_FAILED
                           : m_setup.setUp(UnitPart::MmsSynchronizer, index, name, eventCode);
        if (rc == COMCTRL_OK) {
            m_monitors[index] = monitor;
        }
        return answer(
            {FakeOp::SetupFileSynchronizer, UnitPart::MmsSynchronizer, index, 0, textOf(name), "", rc, eventCode});
    }

    i32 setupDirSynchronizer(u32 index, const char* name, const char* directory, u32 maxFiles, FileAccessor* cache,
                             u32 eventCode, IDirSyncStrategy* strategy) override
    {
        i32 rc = COMCTRL_E_FAILED;
        if (directory != nullptr && directory[0] != '\0' && maxFiles != 0 && cache != nullptr && strategy != nullptr) {
            rc = m_setup.setUp(UnitPart::DirSynchronizer, index, name, eventCode);
        }
        // The event code is checked through the set-up entry; the record keeps the maximum file count.
        return answer({FakeOp::SetupDirSynchronizer, UnitPart::DirSynchronizer, index, maxFiles, textOf(name),
                       textOf(directory), rc, eventCode});
    }

    i32 connect(const VCOM::VComSocketAddress& device, u16 port) override
    {
        FakeCall call{FakeOp::Connect, UnitPart::EventMessenger, 0, port, addressText(device), "", 0};
        std::lock_guard<std::mutex> guard(m_script.m_lock);
        if (!m_setup.isInitialized()) {
            call.m_result = COMCTRL_E_NOT_READY;
        } else {
            std::pair<i32, ConnectOutcome> step{COMCTRL_OK, ConnectOutcome::Connected};
            if (!m_script.m_connects.empty()) {
                step = m_script.m_connects.front();
                m_script.m_connects.pop_front();
            }
            call.m_result = step.first;
            if (step.first >= 0 && step.second != ConnectOutcome::Silent) {
                const Delivery kind =
                    step.second == ConnectOutcome::Connected ? Delivery::Connected : Delivery::ConnectFailed;
                m_script.queueLocked({kind, true, UnitPart::EventMessenger, 0, 0, "", "", 0, 0});
            }
        }
        m_script.recordLocked(call);
        return call.m_result;
    }

    bool isConnected() const override
    {
        std::lock_guard<std::mutex> guard(m_script.m_lock);
        return m_script.m_connected;
    }

    i32 processSocketEvents() override
    {
        while (m_setup.isInitialized()) {
            FakeUnitScript::Pending p;
            {
                std::lock_guard<std::mutex> guard(m_script.m_lock);
                if (m_script.m_pending.empty()) {
                    break;
                }
                p = std::move(m_script.m_pending.front());
                m_script.m_pending.pop_front();
                apply(p);
            }
            const i32 result = deliver(p);
            std::lock_guard<std::mutex> guard(m_script.m_lock);
            m_script.m_deliveries.push_back({p.m_kind, p.m_part, p.m_index, p.m_status, p.m_text, p.m_detail, result});
        }
        return COMCTRL_OK;
    }

    i32 periodicHandle(u32, u32, u32) override
    {
        std::lock_guard<std::mutex> guard(m_script.m_lock);
        ++m_script.m_periodic;
        return COMCTRL_OK;
    }

    u32 getLastReceiveTime() const override
    {
        std::lock_guard<std::mutex> guard(m_script.m_lock);
        return m_script.m_lastReceive;
    }

    u32 getLastSendTime() const override
    {
        std::lock_guard<std::mutex> guard(m_script.m_lock);
        return m_script.m_lastSend;
    }

    i32 disconnect() override
    {
        std::lock_guard<std::mutex> guard(m_script.m_lock);
        m_script.m_connected = false;
        m_script.dropUnitDeliveriesLocked();
        m_script.queueLocked({Delivery::Disconnected, true, UnitPart::EventMessenger, 0, 0, "", "", 0, 0});
        m_script.recordLocked({FakeOp::Disconnect, UnitPart::EventMessenger, 0, 0, "", "", COMCTRL_OK});
        return COMCTRL_OK;
    }

    i32 close() override
    {
        std::lock_guard<std::mutex> guard(m_script.m_lock);
        m_script.m_connected = false;
        m_script.dropUnitDeliveriesLocked();
        m_script.recordLocked({FakeOp::Close, UnitPart::EventMessenger, 0, 0, "", "", COMCTRL_OK});
        return COMCTRL_OK;
    }

    u32 getUnitId() const override { return m_setup.getUnitId(); }

    i32 startSync(UnitPart part, u32 index, u32 mode) override
    {
        FakeCall call{FakeOp::StartSync, part, index, mode, "", "", m_setup.checkReady(part, index)};
        if (part != UnitPart::PdbSynchronizer && part != UnitPart::DirSynchronizer) {
            call.m_result = COMCTRL_E_FAILED;
        }
        std::lock_guard<std::mutex> guard(m_script.m_lock);
        if (call.m_result == COMCTRL_OK && !m_script.m_connected) {
            call.m_result = COMCTRL_E_NOT_CONNECTED;
        }
        if (call.m_result == COMCTRL_OK) {
            call.m_result = m_script.m_results[static_cast<u32>(FakeOp::StartSync)];
        }
        if (call.m_result == COMCTRL_OK) {
            m_script.m_status[partIndex(part)][index] = SYNC_STATUS_RUNNING;
            if (m_script.m_autoFinish) {
                m_script.queueLocked({Delivery::SyncStatus, true, part, index, SYNC_STATUS_FINISHED, "", "", 0, 0});
            }
        }
        m_script.recordLocked(call);
        return call.m_result;
    }

    i32 stopSync(UnitPart part, u32 index) override
    {
        FakeCall call{FakeOp::StopSync, part, index, 0, "", "", m_setup.check(part, index)};
        std::lock_guard<std::mutex> guard(m_script.m_lock);
        if (call.m_result == COMCTRL_OK) {
            m_script.m_status[partIndex(part)][index] = SYNC_STATUS_IDLE;
        }
        m_script.recordLocked(call);
        return call.m_result;
    }

    u32 getSyncStatus(UnitPart part, u32 index) const override
    {
        if (m_setup.check(part, index) != COMCTRL_OK) {
            return SYNC_STATUS_IDLE;
        }
        std::lock_guard<std::mutex> guard(m_script.m_lock);
        return m_script.m_status[partIndex(part)][index];
    }

    i32 notifyParameterChanges() override
    {
        return answer({FakeOp::NotifyParameterChanges, UnitPart::EventMessenger, 0, 0, "", "", COMCTRL_OK});
    }

    i32 sendEvent(u32 messenger, const char* name, const char* argument, u32 eventCode) override
    {
        FakeCall call{FakeOp::SendEvent,
                      UnitPart::EventMessenger,
                      messenger,
                      0,
                      textOf(name),
                      textOf(argument),
                      m_setup.checkReady(UnitPart::EventMessenger, messenger),
                      eventCode};
        if (call.m_result == COMCTRL_OK && (name == nullptr || argument == nullptr)) {
            call.m_result = COMCTRL_E_FAILED;
        }
        std::lock_guard<std::mutex> guard(m_script.m_lock);
        if (call.m_result == COMCTRL_OK && !m_script.m_connected) {
            call.m_result = COMCTRL_E_NOT_CONNECTED;
        }
        if (call.m_result == COMCTRL_OK) {
            call.m_result = m_script.m_results[static_cast<u32>(FakeOp::SendEvent)];
        }
        if (call.m_result == COMCTRL_OK) {
            m_script.m_lastSend = now();
        }
        m_script.recordLocked(call);
        return call.m_result;
    }

    i32 sendFile(u32 synchronizer, const char* fileName, u32 mode) override
    {
        FakeCall call{FakeOp::SendFile,
                      UnitPart::MmsSynchronizer,
                      synchronizer,
                      mode,
                      textOf(fileName),
                      "",
                      m_setup.checkReady(UnitPart::MmsSynchronizer, synchronizer)};
        if (call.m_result == COMCTRL_OK && fileName == nullptr) {
            call.m_result = COMCTRL_E_FAILED;
        }
        std::lock_guard<std::mutex> guard(m_script.m_lock);
        if (call.m_result == COMCTRL_OK && !m_script.m_connected) {
            call.m_result = COMCTRL_E_NOT_CONNECTED;
        }
        if (call.m_result == COMCTRL_OK) {
            call.m_result = m_script.m_results[static_cast<u32>(FakeOp::SendFile)];
        }
        if (call.m_result == COMCTRL_OK && m_script.m_autoFinish) {
            m_script.queueLocked(
                {Delivery::Progress, true, UnitPart::MmsSynchronizer, PROGRESS_STARTED, 0, fileName, "", 0, 1});
            m_script.queueLocked(
                {Delivery::Progress, true, UnitPart::MmsSynchronizer, PROGRESS_FINISHED, 0, fileName, "", 1, 1});
        }
        m_script.recordLocked(call);
        return call.m_result;
    }

    i32 getDirSyncCounters(u32 which, u32* initial, u32* requested) override
    {
        if ((which != DIR_COUNTERS_PARAMETER_SET && which != DIR_COUNTERS_SNAPSHOT) || initial == nullptr ||
            requested == nullptr) {
            return COMCTRL_E_FAILED;
        }
        std::lock_guard<std::mutex> guard(m_script.m_lock);
        *initial = m_script.m_counters[which][0];
        *requested = m_script.m_counters[which][1];
        return COMCTRL_OK;
    }

private:
    // Records the call; a call the set-up accepted gets the scripted answer.
    i32 answer(FakeCall call)
    {
        std::lock_guard<std::mutex> guard(m_script.m_lock);
        if (call.m_result == COMCTRL_OK) {
            call.m_result = m_script.m_results[static_cast<u32>(call.m_op)];
        }
        m_script.recordLocked(call);
        return call.m_result;
    }

    void record(FakeCall call)
    {
        std::lock_guard<std::mutex> guard(m_script.m_lock);
        m_script.recordLocked(std::move(call));
    }

    // The link state a delivery brings, with the script's lock held.
    void apply(const FakeUnitScript::Pending& p)
    {
        switch (p.m_kind) {
        case Delivery::Connected:
            m_script.m_connected = true;
            m_script.m_lastReceive = m_script.m_lastSend = now();
            break;
        case Delivery::ConnectFailed:
        case Delivery::Disconnected:
            m_script.m_connected = false;
            break;
        case Delivery::SyncStatus:
            m_script.m_status[partIndex(p.m_part)][p.m_index] = p.m_status;
            break;
        default:
            break;
        }
    }

    i32 deliver(const FakeUnitScript::Pending& p)
    {
        IUnitConnectObserver* observer = m_setup.getObserver();
        const u32 id = m_setup.getUnitId();
        switch (p.m_kind) {
        case Delivery::Connected:
            return observer->connected(id);
        case Delivery::ConnectFailed:
            return observer->connectFailed(id);
        case Delivery::Disconnected:
            return observer->disconnected(id);
        case Delivery::SyncStatus:
            return observer->synchronizerStateChanged(id, p.m_part, p.m_index, p.m_status);
        case Delivery::Event: {
            IEventExecutor* executor = m_executors[0] != nullptr ? m_executors[0] : m_setup.getExecutor();
            return executor->execute(p.m_index, p.m_text.c_str(), p.m_detail.c_str());
        }
        case Delivery::Progress:
            if (m_monitors[0] == nullptr) {
                return COMCTRL_E_NOT_READY;
            }
            return m_monitors[0]->progress(p.m_text.c_str(), p.m_index, p.m_done, p.m_total);
        }
        return COMCTRL_E_FAILED;
    }

    FakeUnitScript& m_script;
    UnitSetup m_setup; // owner thread only
    IEventExecutor* m_executors[UnitSetup::MAX_PARTS] = {};
    IProgressMonitor* m_monitors[UnitSetup::MAX_PARTS] = {};
};

FakeUnitScript::FakeUnitScript() = default;

FakeUnitScript::~FakeUnitScript()
{
    std::lock_guard<std::mutex> guard(m_lock);
    EXPECT_FALSE(m_unitAlive) << "a fake unit outlives its script";
}

std::unique_ptr<ServerUnit> FakeUnitScript::create(VCOM::IVComWakeupFunction* wakeup)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_failCreate) {
        return nullptr;
    }
    if (m_unitAlive) {
        ADD_FAILURE() << "a second fake unit while one lives";
        return nullptr;
    }
    std::unique_ptr<ServerUnit> unit(new (std::nothrow) FakeServerUnit(*this));
    if (unit == nullptr) {
        return nullptr;
    }
    ++m_created;
    m_unitAlive = true;
    m_wakeup = wakeup;
    m_connected = false;
    for (auto& part : m_status) {
        for (u32& status : part) {
            status = SYNC_STATUS_IDLE;
        }
    }
    if (!m_pending.empty() && m_wakeup != nullptr) {
        m_wakeup->wakeup(1, nullptr);
    }
    return unit;
}

void FakeUnitScript::queueLocked(Pending pending)
{
    m_pending.push_back(std::move(pending));
    if (m_unitAlive && m_wakeup != nullptr) {
        m_wakeup->wakeup(1, nullptr);
    }
}

void FakeUnitScript::recordLocked(FakeCall call)
{
    m_calls.push_back(std::move(call));
}

void FakeUnitScript::dropUnitDeliveriesLocked()
{
    std::erase_if(m_pending, [](const Pending& p) { return p.m_fromUnit; });
}

void FakeUnitScript::failCreate(bool fail)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_failCreate = fail;
}

void FakeUnitScript::scriptConnect(i32 answer, ConnectOutcome outcome)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_connects.emplace_back(answer, outcome);
}

void FakeUnitScript::setResult(FakeOp op, i32 result)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (op < FakeOp::Count) {
        m_results[static_cast<u32>(op)] = result;
    }
}

void FakeUnitScript::setAutoFinish(bool on)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_autoFinish = on;
}

void FakeUnitScript::setSyncStatus(UnitPart part, u32 index, u32 status)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (partIndex(part) < UNIT_PART_KINDS && index < UnitSetup::MAX_PARTS) {
        queueLocked({Delivery::SyncStatus, false, part, index, status, "", "", 0, 0});
    }
}

void FakeUnitScript::deliverEvent(u32 eventCode, const std::string& name, const std::string& argument)
{
    std::lock_guard<std::mutex> guard(m_lock);
    queueLocked({Delivery::Event, false, UnitPart::EventMessenger, eventCode, 0, name, argument, 0, 0});
}

void FakeUnitScript::deliverProgress(const std::string& fileName, u32 step, u64 doneBytes, u64 totalBytes)
{
    std::lock_guard<std::mutex> guard(m_lock);
    queueLocked({Delivery::Progress, false, UnitPart::MmsSynchronizer, step, 0, fileName, "", doneBytes, totalBytes});
}

void FakeUnitScript::dropLink()
{
    std::lock_guard<std::mutex> guard(m_lock);
    queueLocked({Delivery::Disconnected, false, UnitPart::EventMessenger, 0, 0, "", "", 0, 0});
}

void FakeUnitScript::setCounters(u32 which, u32 initial, u32 requested)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (which < 2) {
        m_counters[which][0] = initial;
        m_counters[which][1] = requested;
    }
}

void FakeUnitScript::setLastReceiveTime(u32 ms)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_lastReceive = ms;
}

void FakeUnitScript::setLastSendTime(u32 ms)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_lastSend = ms;
}

std::vector<FakeCall> FakeUnitScript::calls() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_calls;
}

std::vector<FakeCall> FakeUnitScript::calls(FakeOp op) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<FakeCall> out;
    for (const FakeCall& call : m_calls) {
        if (call.m_op == op) {
            out.push_back(call);
        }
    }
    return out;
}

std::vector<FakeCall> FakeUnitScript::sentEvents() const
{
    std::vector<FakeCall> out = calls(FakeOp::SendEvent);
    std::erase_if(out, [](const FakeCall& call) { return call.m_result != COMCTRL_OK; });
    return out;
}

std::vector<FakeDelivery> FakeUnitScript::deliveries() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_deliveries;
}

std::vector<FakeDelivery> FakeUnitScript::deliveries(Delivery kind) const
{
    std::vector<FakeDelivery> out = deliveries();
    std::erase_if(out, [kind](const FakeDelivery& d) { return d.m_kind != kind; });
    return out;
}

u32 FakeUnitScript::periodicCount() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_periodic;
}

u32 FakeUnitScript::unitsCreated() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_created;
}

bool FakeUnitScript::hasUnit() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_unitAlive;
}

bool FakeUnitScript::isConnected() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_connected;
}

u32 FakeUnitScript::getSyncStatus(UnitPart part, u32 index) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return partIndex(part) < UNIT_PART_KINDS && index < UnitSetup::MAX_PARTS ? m_status[partIndex(part)][index]
                                                                             : SYNC_STATUS_IDLE;
}

void FakeUnitScript::clearRecords()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_calls.clear();
    m_deliveries.clear();
    m_periodic = 0;
}

} // namespace comctrltest

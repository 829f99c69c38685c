#include "comctrl_ServerUnit.h"

#include <cstring>
#include <new>

#include "comctrl_FileAccessor.h"
#include "comctrl_Result.h"
#include "klib_Print.h"

namespace ComControl {

namespace {

constexpr u32 MAX_BUFFER_SIZE = 0x1000000;

u32 kindIndex(UnitPart part)
{
    return static_cast<u32>(part);
}

bool copyText(char* out, u32 size, const char* text, bool blanksAllowed)
{
    if (text == nullptr || text[0] == '\0') {
        return false;
    }
    const u32 length = static_cast<u32>(::strnlen(text, size));
    if (length >= size) {
        return false;
    }
    for (u32 i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F || (!blanksAllowed && c == ' ')) {
            return false;
        }
    }
    std::memcpy(out, text, length + 1);
    return true;
}

// The unit of this build: it keeps and checks its set-up, and refuses to connect because no device link
// exists yet.
class ProductionServerUnit final : public ServerUnit
{
public:
    // Neither the mode nor the local address matter without a link.
    void setMode(u32) override {}
    i32 initialize(u32 unitId, u32 eventMessengers, u32 pdbSynchronizers, u32 mmsSynchronizers, u32 dirSynchronizers,
                   const VCOM::VComSocketAddress&, IEventExecutor* executor, IUnitConnectObserver* observer,
                   u32 bufferSize) override
    {
        return m_setup.initialize(unitId, eventMessengers, pdbSynchronizers, mmsSynchronizers, dirSynchronizers,
                                  executor, observer, bufferSize);
    }
    i32 setPartId(UnitPart part, u32 index, const char* id) override { return m_setup.setId(part, index, id); }
    i32 setupEventMessenger(u32 index, const char* name, IEventExecutor* executor, u32 eventCode) override
    {
        return executor == nullptr ? COMCTRL_E_FAILED : m_setup.setUp(UnitPart::EventMessenger, index, name, eventCode);
    }
    i32 setupPdbSynchronizer(u32 index, const char* tag, u32) override
    {
        return m_setup.setUp(UnitPart::PdbSynchronizer, index, tag, 0);
    }
    i32 setupFileSynchronizer(u32 index, const char* name, FileAccessor* files, u32 eventCode,
                              IProgressMonitor* monitor) override
    {
        return files == nullptr || monitor == nullptr
                   ? COMCTRL_E_FAILED
                   : m_setup.setUp(UnitPart::MmsSynchronizer, index, name, eventCode);
    }
    i32 setupDirSynchronizer(u32 index, const char* name, const char* directory, u32 maxFiles, FileAccessor* cache,
                             u32 eventCode, IDirSyncStrategy* strategy) override
    {
        if (directory == nullptr || directory[0] == '\0' || maxFiles == 0 || cache == nullptr || strategy == nullptr) {
            return COMCTRL_E_FAILED;
        }
        return m_setup.setUp(UnitPart::DirSynchronizer, index, name, eventCode);
    }

    i32 connect(const VCOM::VComSocketAddress& device, u16 port) override
    {
        if (!m_setup.isInitialized()) {
            return COMCTRL_E_NOT_READY;
        }
        char text[64] = "?";
        (void)device.getAddressText(text, sizeof(text), nullptr);
        KLIB_LOG("[E] ServerUnit::connect - cannot connect to %s:%u, no device link exists in this build\n", text,
                 static_cast<unsigned>(port));
        return COMCTRL_E_NO_LINK;
    }
    bool isConnected() const override { return false; }
    i32 processSocketEvents() override { return COMCTRL_OK; }
    i32 periodicHandle(u32, u32, u32) override { return COMCTRL_OK; }
    u32 getLastReceiveTime() const override { return 0; }
    u32 getLastSendTime() const override { return 0; }
    i32 disconnect() override { return COMCTRL_OK; }
    i32 close() override { return COMCTRL_OK; }
    u32 getUnitId() const override { return m_setup.getUnitId(); }

    i32 startSync(UnitPart part, u32 index, u32) override
    {
        const i32 rc = m_setup.checkReady(part, index);
        return rc != COMCTRL_OK ? rc : COMCTRL_E_NOT_CONNECTED;
    }
    i32 stopSync(UnitPart part, u32 index) override { return m_setup.check(part, index); }
    u32 getSyncStatus(UnitPart, u32) const override { return SYNC_STATUS_IDLE; }
    i32 notifyParameterChanges() override { return COMCTRL_OK; }

    i32 sendEvent(u32 messenger, const char* name, const char* argument, u32) override
    {
        const i32 rc = m_setup.checkReady(UnitPart::EventMessenger, messenger);
        if (rc != COMCTRL_OK) {
            return rc;
        }
        return name == nullptr || argument == nullptr ? COMCTRL_E_FAILED : COMCTRL_E_NOT_CONNECTED;
    }
    i32 sendFile(u32 synchronizer, const char* fileName, u32) override
    {
        const i32 rc = m_setup.checkReady(UnitPart::MmsSynchronizer, synchronizer);
        if (rc != COMCTRL_OK) {
            return rc;
        }
        return fileName == nullptr ? COMCTRL_E_FAILED : COMCTRL_E_NOT_CONNECTED;
    }
    i32 getDirSyncCounters(u32 which, u32* initial, u32* requested) override
    {
        if ((which != DIR_COUNTERS_PARAMETER_SET && which != DIR_COUNTERS_SNAPSHOT) || initial == nullptr ||
            requested == nullptr) {
            return COMCTRL_E_FAILED;
        }
        *initial = 0;
        *requested = 0;
        return COMCTRL_OK;
    }

private:
    UnitSetup m_setup;
};

class ProductionUnitFactory final : public IServerUnitFactory
{
public:
    std::unique_ptr<ServerUnit> create(VCOM::IVComWakeupFunction*) override
    {
        return std::unique_ptr<ServerUnit>(new (std::nothrow) ProductionServerUnit());
    }
};

} // namespace

IServerUnitFactory& getProductionUnitFactory()
{
    static ProductionUnitFactory factory;
    return factory;
}

i32 UnitSetup::initialize(u32 unitId, u32 eventMessengers, u32 pdbSynchronizers, u32 mmsSynchronizers,
                          u32 dirSynchronizers, IEventExecutor* executor, IUnitConnectObserver* observer,
                          u32 bufferSize)
{
    *this = UnitSetup();
    const u32 counts[UNIT_PART_KINDS] = {eventMessengers, pdbSynchronizers, mmsSynchronizers, dirSynchronizers};
    for (u32 count : counts) {
        if (count > MAX_PARTS) {
            return COMCTRL_E_FAILED;
        }
    }
    if (executor == nullptr || observer == nullptr || bufferSize == 0 || bufferSize > MAX_BUFFER_SIZE) {
        return COMCTRL_E_FAILED;
    }
    std::memcpy(m_counts, counts, sizeof(m_counts));
    m_unitId = unitId;
    m_executor = executor;
    m_observer = observer;
    m_initialized = true;
    return COMCTRL_OK;
}

u32 UnitSetup::getCount(UnitPart part) const
{
    return kindIndex(part) < UNIT_PART_KINDS ? m_counts[kindIndex(part)] : 0;
}

i32 UnitSetup::check(UnitPart part, u32 index) const
{
    return index < getCount(part) ? COMCTRL_OK : COMCTRL_E_NOT_READY;
}

i32 UnitSetup::checkReady(UnitPart part, u32 index) const
{
    const Entry* entry = getEntry(part, index);
    return entry != nullptr && entry->m_ready ? COMCTRL_OK : COMCTRL_E_NOT_READY;
}

const UnitSetup::Entry* UnitSetup::getEntry(UnitPart part, u32 index) const
{
    return check(part, index) == COMCTRL_OK ? &m_entries[kindIndex(part)][index] : nullptr;
}

i32 UnitSetup::setId(UnitPart part, u32 index, const char* id)
{
    if (check(part, index) != COMCTRL_OK) {
        return COMCTRL_E_NOT_READY;
    }
    Entry& entry = m_entries[kindIndex(part)][index];
    return copyText(entry.m_id, ID_SIZE, id, false) ? COMCTRL_OK : COMCTRL_E_FAILED;
}

i32 UnitSetup::setUp(UnitPart part, u32 index, const char* name, u32 eventCode)
{
    if (check(part, index) != COMCTRL_OK) {
        return COMCTRL_E_NOT_READY;
    }
    Entry& entry = m_entries[kindIndex(part)][index];
    if (!copyText(entry.m_name, NAME_SIZE, name, true)) {
        return COMCTRL_E_FAILED;
    }
    entry.m_eventCode = eventCode;
    entry.m_ready = true;
    return COMCTRL_OK;
}

} // namespace ComControl

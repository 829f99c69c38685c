#include "pyrite_AppThread.h"

#include <algorithm>
#include <utility>

#include "klib_Print.h"
#include "lpc_ParameterSelector.h"
#include "pdb_ParameterDBCollection.h"
#include "pyrite_Result.h"

namespace PYRITE {

namespace {

constexpr i32 NO_FURTHER_CHANGE = 0x200000;

u32 readUnsigned(TMS::AbstractThread& thread, const char* name)
{
    KVariant value;
    thread.getSystemInfo(value, name, 0);
    return value.getUInt();
}

} // namespace

PyriteAppThread::PyriteAppThread(u32 queueCapacity) : TMS::AbstractThread(queueCapacity) {}

PyriteAppThread::~PyriteAppThread()
{
    if (getTaskId() != TMS::NO_ID) {
        release();
    }
}

u32 PyriteAppThread::onChangeStatus(u32 status, const TMS::FieldMap& arguments)
{
    return TMS::AbstractThread::onChangeStatus(status, arguments);
}

u32 PyriteAppThread::onChangeSystemInfo()
{
    const u32 result = TMS::AbstractThread::onChangeSystemInfo();
    if (isSystemInfoDirty("PDBState", 0, true)) {
        const u32 state = readUnsigned(*this, "PDBState");
        if (state != m_pdbState) {
            m_pdbState = state;
            onChangePDBState(state);
        }
    }
    // RunMode's flag stays set when ProductState's was: the next change reads both again and finds no difference.
    if (isSystemInfoDirty("ProductState", 0, true) || isSystemInfoDirty("RunMode", 0, true)) {
        const u32 productState = readUnsigned(*this, "ProductState");
        const u32 runMode = readUnsigned(*this, "RunMode");
        if (productState != m_productState || runMode != m_runMode) {
            m_productState = productState;
            m_runMode = runMode;
            if (productState == 1) {
                onProductStarted(runMode);
            }
        }
    }
    return result;
}

u32 PyriteAppThread::onReceiveEvent(u32 bit)
{
    switch (bit) {
    case EVENT_PDB_CHANGED:
        onChangePDB();
        break;
    case 1:
        onReceiveEvent1();
        break;
    case 2:
        onReceiveEvent2();
        break;
    case 3:
        onReceiveEvent3();
        break;
    case 4:
        onReceiveEvent4();
        break;
    case 5:
        onReceiveEvent5();
        break;
    case 6:
        onReceiveEvent6();
        break;
    case 7:
        onReceiveEvent7();
        break;
    case 8:
        onReceiveEvent8();
        break;
    case EVENT_PDB_CONFIG:
        onChangePDBConfig();
        break;
    case EVENT_AUDIO_COMPONENTS:
        onUpdateAudioComponents();
        break;
    case 14:
        onReceiveEvent14();
        break;
    case 15:
        onReceiveEvent15();
        break;
    default:
        if (bit >= EVENT_SOCKET) {
            onReceiveUserEvent(bit);
        } else {
            KLIB_LOG("[E] PyritaAppThread::onReceiveEvent - unknown event ID = %d\n", static_cast<int>(bit));
        }
        break;
    }
    return PYRITE_OK;
}

u32 PyriteAppThread::onProductStarted(u32)
{
    return PYRITE_OK;
}

u32 PyriteAppThread::onChangePDBConfig()
{
    return PYRITE_OK;
}

u32 PyriteAppThread::onChangePDBState(u32)
{
    return PYRITE_OK;
}

u32 PyriteAppThread::onChangePDB()
{
    const u32 started = onChangePDBParamStarted();
    if (pyriteFailed(started)) {
        return started;
    }
    const PDB::ParameterDBCollection& collection = PDB::ParameterDBCollection::getCollection();
    // Both counts are read again each round: a handler may create a database or subscribe another key.
    for (u32 index = 0; index < collection.getSize(); ++index) {
        PDB::IParameterDB& database = collection.getEntry(index);
        for (size_t k = 0; k < m_keys.size(); ++k) {
            scanKey(database, m_keys[k]);
        }
    }
    const u32 finished = onChangePDBParamFinished();
    return pyriteFailed(finished) ? finished : PYRITE_OK;
}

void PyriteAppThread::scanKey(PDB::IParameterDB& database, u32 key)
{
    const u32 flagSet = database.getCallbackIndex(key);
    if (database.swapChangeFlags(flagSet) < 0) {
        return;
    }
    // Taken out of the member so that a handler that scans again meanwhile cannot disturb it.
    std::vector<PendingChange> pending = std::move(m_pending);
    pending.clear();

    // The selector of a block depends on its address alone: the component's description is fetched once per
    // component, and the selector once per block in a row.
    u32 describedComponent = 0xFFFFFFFF;
    const PDB::ComponentInfo* description = nullptr;
    u32 selectedBlock = 0xFFFFFFFF;
    LPC::ElementSelector selector;

    u32 component = 0, parameter = 0, x = 0, y = 0;
    for (;;) {
        const u32 before[4] = {component, parameter, x, y};
        const i32 result = database.findNextChange(flagSet, component, parameter, x, y, false);
        if (result < 0 || result == NO_FURTHER_CHANGE) {
            break;
        }
        if (result != 0) {
            // Not a change; go on unless the cursor stands still.
            const u32 after[4] = {component, parameter, x, y};
            if (std::equal(before, before + 4, after)) {
                break;
            }
            continue;
        }
        if (component != describedComponent) {
            describedComponent = component;
            description = database.getComponentInfo(component);
            selectedBlock = 0xFFFFFFFF;
        }
        if (parameter != selectedBlock) {
            selectedBlock = parameter;
            selector = description != nullptr
                           ? LPC::parseElementSelector(description->getParameterInfo(parameter).getAddress().c_str())
                           : LPC::ElementSelector{};
        }
        // An element position beyond the block index cannot have its set's first parameter in the component:
        // such a parameter is reported as it is.
        if (!selector.m_hasSelector || selector.m_elementIndex > parameter) {
            onChangePDBParam(&database, component, parameter, x, y, key);
            continue;
        }
        pending.push_back(PendingChange{component, parameter - selector.m_elementIndex, x, y});
    }

    // Changes arrive in component order; only entries of one component can be out of order.
    std::sort(pending.begin(), pending.end());
    pending.erase(std::unique(pending.begin(), pending.end()), pending.end());
    for (const PendingChange& change : pending) {
        onChangePDBParam(&database, change.m_component, change.m_parameter, change.m_x, change.m_y, key);
    }
    pending.clear();
    m_pending = std::move(pending);
}

u32 PyriteAppThread::onUpdateAudioComponents()
{
    return PYRITE_OK;
}

u32 PyriteAppThread::onReceiveEvent1()
{
    return PYRITE_OK;
}

u32 PyriteAppThread::onReceiveEvent2()
{
    return PYRITE_OK;
}

u32 PyriteAppThread::onReceiveEvent3()
{
    return PYRITE_OK;
}

u32 PyriteAppThread::onReceiveEvent4()
{
    return PYRITE_OK;
}

u32 PyriteAppThread::onReceiveEvent5()
{
    return PYRITE_OK;
}

u32 PyriteAppThread::onReceiveEvent6()
{
    return PYRITE_OK;
}

u32 PyriteAppThread::onReceiveEvent7()
{
    return PYRITE_OK;
}

u32 PyriteAppThread::onReceiveEvent8()
{
    return PYRITE_OK;
}

u32 PyriteAppThread::onReceiveUserEvent(u32)
{
    return PYRITE_OK;
}

u32 PyriteAppThread::onReceiveEvent14()
{
    return PYRITE_OK;
}

u32 PyriteAppThread::onReceiveEvent15()
{
    return PYRITE_OK;
}

u32 PyriteAppThread::registerPDBCallback(u16 component, PDB::ParameterFilter filter)
{
    const u32 key = (static_cast<u32>(getTaskId()) << 16) | component;
    if (std::find(m_keys.begin(), m_keys.end(), key) != m_keys.end()) {
        return PYRITE_OK;
    }
    m_keys.push_back(key);
    const PDB::ParameterDBCollection& collection = PDB::ParameterDBCollection::getCollection();
    for (u32 index = 0; index < collection.getSize(); ++index) {
        collection.getEntry(index).registerCallback(key, this, filter);
    }
    return PYRITE_OK;
}

u32 PyriteAppThread::onChangePDBParamStarted()
{
    return PYRITE_OK;
}

u32 PyriteAppThread::onChangePDBParam(PDB::IParameterDB*, u32, u32, u32, u32, u32)
{
    return PYRITE_OK;
}

u32 PyriteAppThread::onChangePDBParamFinished()
{
    return PYRITE_OK;
}

i32 PyriteAppThread::onParameterDBChanged()
{
    setUserEvent(EVENT_PDB_CONFIG);
    return 0;
}

i32 PyriteAppThread::onParameterChanged()
{
    setUserEvent(EVENT_PDB_CHANGED);
    return 0;
}

} // namespace PYRITE

#include "pyrite_AppThread.h"

#include <algorithm>
#include <string>
#include <vector>

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

// One change scan of a thread. The element selector of a block depends on its address alone, and a component type
// (name and version) fixes its blocks' addresses: the selectors are kept per type for the scan and each is parsed
// once, when a change first meets its block. Reading a block's address from each component's own description
// instead would cost several cache misses per change.
class ChangeScan
{
public:
    explicit ChangeScan(PyriteAppThread& thread) : m_thread(thread) {}

    // Reports the changes of one key in one database; a key whose flags cannot be latched is skipped.
    void visit(PDB::IParameterDB& database, u32 key);

private:
    struct BlockSelector
    {
        bool m_known = false;
        LPC::ElementSelector m_selector;
    };
    struct TypeSelectors
    {
        std::string m_name;
        u32 m_version;
        std::vector<BlockSelector> m_blocks; // one per block of the type
    };
    // A parameter of an element set awaiting its report: the set's first parameter at (x, y).
    struct PendingChange
    {
        u32 m_component;
        u32 m_parameter;
        u32 m_x;
        u32 m_y;
        auto operator<=>(const PendingChange&) const = default;
    };

    // The type entry of a component's description (null for none).
    TypeSelectors* typeOf(const PDB::ComponentInfo* description);
    const LPC::ElementSelector& selectorOf(TypeSelectors* type, const PDB::ComponentInfo* description, u32 block);

    PyriteAppThread& m_thread;
    std::vector<TypeSelectors> m_types;
    size_t m_lastType = 0;
    std::vector<PendingChange> m_pending;
};

ChangeScan::TypeSelectors* ChangeScan::typeOf(const PDB::ComponentInfo* description)
{
    if (description == nullptr) {
        return nullptr;
    }
    auto matches = [description](const TypeSelectors& type) {
        return type.m_version == description->getVersion() &&
               type.m_blocks.size() == description->getParameterCount() && type.m_name == description->getName();
    };
    if (m_lastType < m_types.size() && matches(m_types[m_lastType])) {
        return &m_types[m_lastType];
    }
    const auto found = std::find_if(m_types.begin(), m_types.end(), matches);
    if (found != m_types.end()) {
        m_lastType = static_cast<size_t>(found - m_types.begin());
    } else {
        m_types.push_back(TypeSelectors{description->getName(), description->getVersion(),
                                        std::vector<BlockSelector>(description->getParameterCount())});
        m_lastType = m_types.size() - 1;
    }
    return &m_types[m_lastType];
}

const LPC::ElementSelector& ChangeScan::selectorOf(TypeSelectors* type, const PDB::ComponentInfo* description,
                                                   u32 block)
{
    static const LPC::ElementSelector NONE;
    if (type == nullptr || block >= type->m_blocks.size()) {
        return NONE; // the description's default block, whose address has no selector
    }
    BlockSelector& entry = type->m_blocks[block];
    if (!entry.m_known) {
        entry.m_selector = LPC::parseElementSelector(description->getParameterInfo(block).getAddress().c_str());
        entry.m_known = true;
    }
    return entry.m_selector;
}

void ChangeScan::visit(PDB::IParameterDB& database, u32 key)
{
    const u32 flagSet = database.getCallbackIndex(key);
    if (database.swapChangeFlags(flagSet) < 0) {
        return;
    }
    m_pending.clear();
    u32 describedComponent = 0xFFFFFFFF;
    const PDB::ComponentInfo* description = nullptr;
    TypeSelectors* type = nullptr;

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
            type = typeOf(description);
        }
        const LPC::ElementSelector& selector = selectorOf(type, description, parameter);
        // An element position beyond the block index cannot have its set's first parameter in the component:
        // such a parameter is reported as it is.
        if (!selector.m_hasSelector || selector.m_elementIndex > parameter) {
            m_thread.onChangePDBParam(&database, component, parameter, x, y, key);
            continue;
        }
        m_pending.push_back(PendingChange{component, parameter - selector.m_elementIndex, x, y});
    }

    // Changes arrive in component order; only entries of one component can be out of order.
    std::sort(m_pending.begin(), m_pending.end());
    m_pending.erase(std::unique(m_pending.begin(), m_pending.end()), m_pending.end());
    for (const PendingChange& change : m_pending) {
        m_thread.onChangePDBParam(&database, change.m_component, change.m_parameter, change.m_x, change.m_y, key);
    }
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
    // A collection that is not set up refuses both; the thread runs without audio components then.
    if (status == TMS::STATUS_RUN) {
        (void)DADOV::AudioComponentCollection::getInstance().beginByThread(this);
    } else if (status == TMS::STATUS_CLOSING) {
        (void)DADOV::AudioComponentCollection::getInstance().endByThread();
    }
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
        releaseRemovedComponents();
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

void PyriteAppThread::releaseRemovedComponents()
{
    // A database lists each removed component for every subscribed thread until that thread releases it; a thread
    // that never did would keep a uid for every component ever removed.
    const PDB::ParameterDBCollection& collection = PDB::ParameterDBCollection::getCollection();
    PDB::ComponentUIDList removed;
    for (u32 index = 0; index < collection.getSize(); ++index) {
        PDB::IParameterDB& database = collection.getEntry(index);
        (void)database.getRemovedComponents(removed);
        for (const PDB::ComponentUID uid : removed) {
            (void)database.releaseComponent(uid);
        }
    }
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
    ChangeScan scan(*this);
    const PDB::ParameterDBCollection& collection = PDB::ParameterDBCollection::getCollection();
    // Both counts are read again each round: a handler may create a database or subscribe another key.
    for (u32 index = 0; index < collection.getSize(); ++index) {
        PDB::IParameterDB& database = collection.getEntry(index);
        for (size_t k = 0; k < m_keys.size(); ++k) {
            scan.visit(database, m_keys[k]);
        }
    }
    const u32 finished = onChangePDBParamFinished();
    return pyriteFailed(finished) ? finished : PYRITE_OK;
}

u32 PyriteAppThread::onUpdateAudioComponents()
{
    if (getStatus() == TMS::STATUS_RUN) {
        (void)DADOV::AudioComponentCollection::getInstance().updateByThread();
    }
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

void PyriteAppThread::onChangeAudioComponents()
{
    setUserEvent(EVENT_AUDIO_COMPONENTS);
}

} // namespace PYRITE

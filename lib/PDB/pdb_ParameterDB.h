// ParameterDB: the parameter database that the application threads share. Beside the component table it has a
// replaceable lock, an owner thread, observers with per-subscriber change banks, and a per-thread reservation
// protocol through which components are added and removed while other threads keep using them.
//
// Locking: every operation takes the database's IMutex (the process-wide NullMutex until initialize) and gives
// it up before it returns; getDBId, getName, hasOwnerThread, getComponent and the strategy/recall queries take
// none. The mutex must be recursive: operations call other locking operations while they hold it. Observer
// callbacks run on the changing thread inside the lock, in ascending thread-entry order; they must only set an
// event and return (never block, never take a lock that anyone holds while calling a database). A writer that
// holds a DeferredChangeNotices (below) has its value-change callbacks run after its locks are released instead,
// each under the lock of the database's observer list and only while the observer is still registered there.
// Lock order is database mutex, then observer-list lock, then whatever a callback touches. Copies between
// databases on different mutexes take the two in address order, so two databases copying each other cannot
// deadlock.
//
// Threads are told apart by ossupport's process-unique thread identity (never reused), for the owner thread,
// the thread entries and the reservations.
//
// Reservations: removeComponent only requests removal (the component becomes removal-pending and every thread
// entry's removed list gets its uid). releaseComponent and releaseAllOfThisThread drop the calling thread's
// reservation and delete a component only when it is removal-pending and nobody holds a reservation any more.
// removeAllComponents (owner thread only, nothing reserved), a replacing import and destruction free
// everything.
//
// Change tracking: each subscriber (callback index) has two banks per block in every component; writes mark
// the collecting bank, swapChangeFlags exchanges them under the lock and findNextChange drains the other one,
// so no write is lost between two scans. While isRecalling, writes mark only subscribers registered with
// filter byte 1. suppressStrategy/resumeStrategy and beginRecall/endRecall are counted brackets (active while
// the depth is above 0; an unmatched end stays at 0). A caller that brackets many writes holds lockWrite across
// the bracket so that no other writer interleaves.
//
// Every component reports its writes through a callback of its own position, which also marks the position in
// a per-subscriber pair of component bitsets that mirrors the change banks (collecting / scanned); a scan visits
// only positions whose scanned bit is set, so an empty scan costs one pass over a bit per component.
//
// Address records are used as they stand only while the component at their index still has their database
// id, uid and component number; otherwise they are completed again by uid (or reach the null component).
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "klib_Types.h"
#include "pdb_IParameterDB.h"

namespace PDB {

class Component;
struct ObserverList;

class ParameterDB final : public IParameterDB, public IComponentCallback
{
public:
    static constexpr u32 MAX_NAME_LENGTH = 16;
    static constexpr ComponentUID MAX_GENERATED_UID = 32767;

    // Null mutex, id 0, empty name, no owner.
    ParameterDB();
    ParameterDB(const ParameterDB&) = delete;
    ParameterDB& operator=(const ParameterDB&) = delete;
    // Frees every component and forgets the observers; the mutex is not destroyed.
    ~ParameterDB() override;

    // Under the mutex in place on entry: a name over 16 characters (null counts as empty) gives 0x80000001 and
    // changes nothing. Otherwise installs mutex (null: the NullMutex) and makes the calling thread the owner;
    // then, with a component reserved, gives 0x80000004 (mutex and owner stay); else stores id and name, frees
    // every component and forgets every observer: 0.
    i32 initialize(u32 id, const char* name, IMutex* mutex);
    // The mutex in place.
    IMutex& getMutex() const { return *m_pMutex.load(std::memory_order_acquire); }

    // IComponentCallback: onParameterChanged of every thread entry's callback (no lock: it runs inside the
    // write that caused it), held back while the thread holds a DeferredChangeNotices.
    i32 onComponentChanged() override;

    i32 lockRead() override;
    i32 unlockRead() override;
    i32 lockWrite() override;
    i32 unlockWrite() override;
    i32 clear() override;
    // Owner thread only and nothing reserved (else 0x80000004, nothing changes): frees every component, empties
    // the table and forgets every callback and thread entry, telling nobody. Observers register again.
    i32 removeAllComponents() override;
    bool hasOwnerThread() const override;
    u32 getDBId() const override;
    const char* getName() const override;
    // A key registered already changes nothing. The calling thread's first key creates its thread entry, whose
    // added list then names every component present. The callback must only set an event and return: besides
    // inside the database's lock (see above), its onParameterChanged may run from an ending DeferredChangeNotices
    // under the lock of this database's observer list, which is not re-entrant. There it must not register or
    // remove an observer of this database, nor end notices it holds itself (both take that lock again), nor write
    // to the database or wait on a thread that does: registration and removal take the database's lock and then
    // the list's, and a callback that takes the database's lock under the list's inverts that order.
    i32 registerCallback(u32 key, IParameterDBCallback* callback, ParameterFilter filter) override;
    u32 getCallbackIndex(u32 key) const override;
    // The index-taking change operations give 0x80000000 for an index that no key was registered with.
    i32 swapChangeFlags(u32 callbackIndex) override;
    i32 findNextChange(u32 callbackIndex, u32& componentIndex, u32& blockIndex, u32& x, u32& y,
                       bool stayInComponent) override;
    i32 clearChangeFlags(u32 callbackIndex) override;
    // Revalidates every element (limits and strategy; hooks run where a value changed), then marks every block
    // of every component changed for every subscriber and notifies once. OR of the components' results.
    i32 refreshAllValues(u8 writeFlag) override;
    // A uid in 0..32767 that no component has: 64 random draws, then the lowest free value; the invalid uid when
    // all are taken.
    ComponentUID generateComponentUID() const override;
    i32 addComponent(const ComponentUID& uid, const ComponentInfo& info) override;
    i32 addComponent(const ComponentUID& uid, const char* typeName, u32 typeVersion, u32 numX, u32 numY,
                     i16 componentNumber) override;
    // Requests removal: marks the component removal-pending, adds its uid to every thread entry's removed list
    // and tells every observer; 0 (an unknown uid is listed nowhere but still notifies).
    i32 removeComponent(const ComponentUID& uid) override;
    i32 reserveAllComponents() override;
    i32 reserveComponent(const ComponentUID& uid) override;
    i32 releaseAllOfThisThread() override;
    i32 releaseComponent(const ComponentUID& uid) override;
    bool hasReservedComponents() const override;
    bool isReserved(const ComponentUID& uid) const override;
    bool isRemovalPending(const ComponentUID& uid) const;
    i32 getAddedComponents(ComponentUIDList& out) const override;
    i32 getRemovedComponents(ComponentUIDList& out) const override;
    ParameterAddress resolveAddress(u32 componentIndex, u32 blockIndex) const override;
    ParameterAddress resolveAddress(const ComponentUID& uid, const char* address) const override;
    u32 getComponentIndex(const ComponentUID& uid) const override;
    u32 getBlockIndex(const ComponentUID& uid, const char* address) const override;
    u32 getComponentCount() const override;
    u32 getComponentSlotCount() const override;
    i32 setComponentName(u32 componentIndex, const char* name) override;
    i32 setComponentUserValue(u32 componentIndex, u32 value) override;
    // On success every observer is told that the component set changed.
    i32 setComponentDimensions(u32 componentIndex, u32 numX, u32 numY, u8 keepValues, u8 writeFlag) override;
    const ComponentInfo* getComponentInfo(u32 componentIndex) const override;
    const char* getComponentTypeName(u32 componentIndex) const override;
    u32 getComponentVersion(u32 componentIndex) const override;
    u16 getComponentNumber(u32 componentIndex) const override;
    ComponentUID getComponentUID(u32 componentIndex) const override;
    const char* getComponentName(u32 componentIndex) const override;
    u32 getComponentUserValue(u32 componentIndex) const override;
    u32 getBlockCount(u32 componentIndex) const override;
    const ParameterInfo* getParameterInfo(ParameterAddress& address) const override;
    const ParameterInfo* getParameterInfo(u32 componentIndex, u32 blockIndex) const override;
    i32 setValue(ParameterAddress& address, u32 x, u32 y, const KVariant& value, u8 writeFlag) override;
    i32 setValue(u32 componentIndex, u32 blockIndex, u32 x, u32 y, const KVariant& value, u8 writeFlag) override;
    i32 setArray(ParameterAddress& address, const IParameterArray& source, u8 writeFlag) override;
    i32 setArray(u32 componentIndex, u32 blockIndex, const IParameterArray& source, u8 writeFlag) override;
    i32 setValueUInt(ParameterAddress& address, u32 x, u32 y, u32 value, u8 writeFlag) override;
    i32 setValueUInt(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u32 value, u8 writeFlag) override;
    i32 setValueInt(ParameterAddress& address, u32 x, u32 y, i32 value, u8 writeFlag) override;
    i32 setValueInt(u32 componentIndex, u32 blockIndex, u32 x, u32 y, i32 value, u8 writeFlag) override;
    i32 setValueFloat(ParameterAddress& address, u32 x, u32 y, f32 value, u8 writeFlag) override;
    i32 setValueFloat(u32 componentIndex, u32 blockIndex, u32 x, u32 y, f32 value, u8 writeFlag) override;
    i32 setValueBool(ParameterAddress& address, u32 x, u32 y, bool value, u8 writeFlag) override;
    i32 setValueBool(u32 componentIndex, u32 blockIndex, u32 x, u32 y, bool value, u8 writeFlag) override;
    i32 setValueString(ParameterAddress& address, u32 x, u32 y, const char* text, u8 writeFlag) override;
    i32 setValueString(u32 componentIndex, u32 blockIndex, u32 x, u32 y, const char* text, u8 writeFlag) override;
    i32 setValueBinary(ParameterAddress& address, u32 x, u32 y, const void* data, u32 length, u8 writeFlag) override;
    i32 setValueBinary(u32 componentIndex, u32 blockIndex, u32 x, u32 y, const void* data, u32 length,
                       u8 writeFlag) override;
    i32 setBlockToDefault(ParameterAddress& address, u8 writeFlag) override;
    i32 setToDefault(ParameterAddress& address, u32 x, u32 y, u8 writeFlag) override;
    i32 setAllToDefault(u32 componentIndex, u8 writeFlag) override;
    i32 setBlockToDefault(u32 componentIndex, u32 blockIndex, u8 writeFlag) override;
    i32 setToDefault(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8 writeFlag) override;
    i32 getValue(KVariant& value, ParameterAddress& address, u32 x, u32 y, u8* status) const override;
    i32 getValue(KVariant& value, u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const override;
    i32 getArray(IParameterArray& destination, ParameterAddress& address) const override;
    i32 getArray(IParameterArray& destination, u32 componentIndex, u32 blockIndex) const override;
    u32 getValueUInt(ParameterAddress& address, u32 x, u32 y, u8* status) const override;
    u32 getValueUInt(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const override;
    i32 getValueInt(ParameterAddress& address, u32 x, u32 y, u8* status) const override;
    i32 getValueInt(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const override;
    f32 getValueFloat(ParameterAddress& address, u32 x, u32 y, u8* status) const override;
    f32 getValueFloat(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const override;
    bool getValueBool(ParameterAddress& address, u32 x, u32 y, u8* status) const override;
    bool getValueBool(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const override;
    i32 getValueString(KVariant& value, ParameterAddress& address, u32 x, u32 y) const override;
    i32 getValueString(KVariant& value, u32 componentIndex, u32 blockIndex, u32 x, u32 y) const override;
    i32 setElementStatus(ParameterAddress& address, u32 x, u32 y, u8 status) override;
    i32 setElementStatus(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8 status) override;
    bool isChanged(u32 callbackIndex, ParameterAddress& address, u32 x, u32 y) const override;
    bool isChanged(u32 callbackIndex, u32 componentIndex, u32 blockIndex, u32 x, u32 y) const override;
    u8 getElementStatus(ParameterAddress& address, u32 x, u32 y) const override;
    u8 getElementStatus(u32 componentIndex, u32 blockIndex, u32 x, u32 y) const override;
    bool isValidIndex(ParameterAddress& address, u32 x, u32 y) const override;
    bool isValidIndex(u32 componentIndex, u32 blockIndex, u32 x, u32 y) const override;
    i32 copyBlockFrom(ParameterAddress& address, IParameterDB& source, ParameterFilter filter, u8 writeFlag) override;
    i32 copyBlockFrom(u32 componentIndex, u32 blockIndex, IParameterDB& source, ParameterFilter filter,
                      u8 writeFlag) override;
    i32 copyComponentFrom(u32 componentIndex, IParameterDB& source, ParameterFilter filter, u8 writeFlag) override;
    i32 copyAllFrom(IParameterDB& source, ParameterFilter filter, u8 writeFlag) override;
    // The "#CT1" operations check the buffer under the lock, against the table of every component present.
    i32 exportComponentTable(void* buffer, u32 size, u32 headerValue,
                             const std::vector<u32>& componentIndices) const override;
    i32 exportComponentTable(void* buffer, u32 size, u32 headerValue, const ComponentUIDList& uids) const override;
    i32 exportComponentTable(void* buffer, u32 size, u32 headerValue) const override;
    u32 getComponentTableSize(const std::vector<u32>& componentIndices) const override;
    u32 getComponentTableSize(const ComponentUIDList& uids) const override;
    u32 getComponentTableSize() const override;
    // Checks the whole record first (a refused record changes nothing and tells nobody). With option bit 0
    // (replace) a reserved component refuses with 0x80000004; otherwise every component is freed (observers
    // stay, their added and removed lists are emptied) and the record's components are added. Observers are
    // told (onParameterDBChanged) after a successful import, and after a failed one that changed the set.
    i32 importComponentTable(const void* record, u32 size, ParameterFilter options, u8 writeFlag) override;
    i32 suppressStrategy() override;
    i32 resumeStrategy() override;
    bool isStrategySuppressed() const override;
    i32 beginRecall() override;
    i32 endRecall() override;
    bool isRecalling() const override;
    // No lock: a caller that keeps the component across calls holds lockRead or lockWrite meanwhile.
    const IComponent& getComponent(u32 componentIndex) const override;
    IComponent& getComponent(u32 componentIndex) override;

private:
    struct CallbackEntry
    {
        u32 index = 0;
        IParameterDBCallback* callback = nullptr;
        ParameterFilter filter;
    };
    // The callback handed to the component at one position.
    class SlotCallback final : public IComponentCallback
    {
    public:
        SlotCallback(ParameterDB& db, u32 index) : m_dB(db), m_index(index) {}
        i32 onComponentChanged() override { return m_dB.onSlotChanged(m_index); }

    private:
        ParameterDB& m_dB;
        const u32 m_index;
    };
    // Per subscriber: which positions may hold flags in their collecting and their scanned bank.
    struct ChangeHints
    {
        std::vector<u64> bits[2];
        u32 collecting = 0;
    };
    struct ThreadEntry
    {
        IParameterDBCallback* callback = nullptr;
        std::vector<ComponentUID> added;
        std::vector<ComponentUID> removed;
    };

    // The helpers below expect the caller to hold the mutex.
    Component* at(u32 index) const { return index < m_components.size() ? m_components[index] : nullptr; }
    IComponent& componentAt(u32 index) const;
    u32 indexOf(ComponentUID uid) const;
    u32 complete(ParameterAddress& address, u32& block) const;
    template <typename Operation> auto writeAt(ParameterAddress& address, Operation&& operation);
    template <typename Operation> auto readAt(ParameterAddress& address, Operation&& operation) const;
    // Stores a component built from a prepared description (uid, dimensions, number set) and lists it as
    // added; tells nobody. 0, 0x80000001 (invalid or duplicate uid), 0x80040000, 0x80010000 or the subscriber
    // setup's failure.
    i32 addPrepared(const ComponentInfo& info);
    // Frees the component at index, leaving the position empty; the uid leaves the map and the added lists.
    void deleteAt(u32 index);
    // Frees every component and empties the table; forgetObservers also drops callbacks and thread entries,
    // otherwise each thread entry's lists are emptied.
    void removeAllLocked(bool forgetObservers);
    bool anyReserved() const;
    // Marks the position in every subscriber's collecting hints, then tells the observers.
    i32 onSlotChanged(u32 index);
    void markAllHints(u32 index);
    // Sizes every subscriber's hints to the table and clears both bits of index.
    void resetHints(u32 index);
    // Drops the thread from the reservations at index and deletes the component when it is removal-pending and
    // nobody holds it any more.
    void releaseAt(u32 index, u64 thread);
    void notifyComponentSetChanged();
    void rebuildObservers();
    i32 copyLocked(IParameterDB& source, u32 componentIndex, u32 blockIndex, bool wholeComponent,
                   ParameterFilter filter, u8 writeFlag);

    std::atomic<IMutex*> m_pMutex;
    u32 m_id = 0;
    std::string m_name;
    std::atomic<u64> m_ownerThread{0};
    std::vector<Component*> m_components;
    std::vector<std::vector<u64>> m_reservations; // threads holding each position
    std::vector<u8> m_removalPending;             // removal requested for each position
    std::map<ComponentUID, u32> m_uidMap;
    std::vector<std::unique_ptr<SlotCallback>> m_slotCallbacks; // by position, kept while the table has it
    std::map<u32, CallbackEntry> m_callbacks;                   // by key
    std::vector<ParameterFilter> m_filters;                     // by callback index
    std::vector<ChangeHints> m_hints;                           // by callback index
    std::map<u64, ThreadEntry> m_threads;                       // by thread identity
    std::vector<IParameterDBCallback*> m_observers;             // non-null thread-entry callbacks in thread order
    u32 m_mutedChanges = 0;                                     // onComponentChanged tells nobody while above 0
    std::atomic<i32> m_suppressDepth{0};
    std::atomic<i32> m_recallDepth{0};
    // A copy of m_observers for held notices, under a lock of its own; it outlives the database (emptied then) for
    // notices still held.
    std::shared_ptr<ObserverList> m_observerList;
};

// While one lives on a thread, the value-change callbacks (onParameterChanged) that the thread's writes to shared
// databases would run are held back, one per observer, and run when the outermost one ends. A writer declares one
// before it takes a database lock, so that it ends after the lock is released: an observer's thread, woken by the
// callback, then does not find the lock it scans under still held by the writer. Not copyable; ends on the thread
// that made it.
class DeferredChangeNotices
{
public:
    DeferredChangeNotices();
    ~DeferredChangeNotices();
    DeferredChangeNotices(const DeferredChangeNotices&) = delete;
    DeferredChangeNotices& operator=(const DeferredChangeNotices&) = delete;

    // True while the calling thread holds one.
    static bool isActive();

private:
    friend class ParameterDB;

    // Holds the observer's callback back until the outermost one ends (once, however often it is asked). It runs
    // then only when the observer is still in the list of a database that held it, under that list's lock, so an
    // observer that has left every such database is not called (and may be gone).
    static void hold(const std::shared_ptr<ObserverList>& list, IParameterDBCallback* observer);
};

} // namespace PDB

// AudioComponentCollection (log name AUDIOCOMPO_DB): the process-wide registry of audio components and of the
// audio connections between them.
//
// The device-control thread adds and removes components and connections. Every application thread that
// registers (beginByThread) keeps a list of its own of the components it may use; it brings that list up to date
// only by its own calls (updateByThread, usually on its onChangeAudioComponents notification), so a thread reads
// its list without fear of another thread changing it. A component whose removal was requested stays alive until
// every registered thread has dropped it; the thread whose update drops the last hold destroys it, under the lock.
//
// One re-entrant lock ("CompoCol") guards all state. The lock object lives for the process: a thread may still
// take it while another finalizes, and every operation checks under it that the collection is initialised.
// finalize leaves a fresh collection (no threads, no components, no connections) that initialize can start again.
//
// Threads are told apart by ossupport::getCurrentThreadIdentity (never reused); log lines print its low 32 bits.
// Components are known by the uid given to addComponent, not by their own: a component released after it could
// not begin use forgets its uid, and is still found, removed and destroyed under the one it was added with.
#pragma once

#include <list>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dadov_AudioComponent.h"
#include "dadov_AudioConfigDB.h"
#include "dadov_Mutex.h"
#include "dadov_Result.h"

namespace DADOV {

// Implemented by a thread that registers with the collection: told when the component set changed, it answers
// later with updateByThread on its own thread. Called under the collection's lock: it must only signal.
class IAudioComponentCallback
{
public:
    virtual ~IAudioComponentCallback() = default;
    virtual void onChangeAudioComponents() = 0;
};

class AudioComponentCollection
{
public:
    using ComponentList = std::vector<AudioComponent*>;

    static constexpr u32 DEFAULT_MAX_THREADS = 100;

    static AudioComponentCollection& getInstance();

    // Does what finalize does.
    ~AudioComponentCollection();
    AudioComponentCollection(const AudioComponentCollection&) = delete;
    AudioComponentCollection& operator=(const AudioComponentCollection&) = delete;

    // Loads the plug-ins of componentDirectory (a path ending in a separator) and allows up to maxThreads
    // registered threads: 0; 0x80000000 when initialised already, without a lock, or when the directory cannot be
    // listed (the collection stays uninitialised).
    [[nodiscard]] i32 initialize(const char* componentDirectory, u32 maxThreads);
    // Requests the removal of every component, waits (without a time limit, the lock released between checks)
    // until every registered thread has dropped its components, destroys what is left, unloads the plug-ins and
    // forgets every thread: 0 (also when not initialised, and at once for a second caller while one waits).
    i32 finalize();

    // Builds and adds a component of type typeName "_" majorVersion; the caller takes it at once, every other
    // registered thread at its next update: 0. 0x80000000 when the uid is in use (also by a component whose removal
    // is pending) or memory runs out; the component's own initialize failure code when it cannot be built.
    [[nodiscard]] i32 addComponent(const char* typeName, u32 majorVersion, u32 uid, u32 numX, u32 numY);
    // Requests the removal of a component of the caller's list and drops every connection from or to it: 0;
    // 0x80000000 when the caller's list does not hold the uid.
    [[nodiscard]] i32 reqRemoveComponent(u32 uid);
    // Requests the removal of every component and drops every connection: 0.
    i32 reqRemoveAllComponents();

    // Adds a connection between two components of the caller's list (fromPortNo below the source's output count,
    // toPortNo below the destination's input count; an equal record is kept once): 0, else 0x80000000.
    [[nodiscard]] i32 addConnection(u32 fromUid, u32 fromPortNo, u32 toUid, u32 toPortNo);
    // Removes the first equal connection, if any: 0.
    i32 removeConnection(u32 fromUid, u32 fromPortNo, u32 toUid, u32 toPortNo);
    // out becomes a copy of the connections being edited: 0; 0x80000000 (out unchanged) otherwise.
    [[nodiscard]] i32 getConnections(std::vector<AudioConnection>& out);
    // The applied connections become a copy of list: 0; 0x80000000 otherwise.
    [[nodiscard]] i32 applyConnections(const std::vector<AudioConnection>& list);
    // out becomes a copy of the applied connections: 0; 0x80000000 (out unchanged) otherwise.
    [[nodiscard]] i32 getAppliedConnections(std::vector<AudioConnection>& out);

    // The component of this uid in the caller's list, or null.
    AudioComponent* findComponent(u32 uid);
    // The caller's list, in order of taking (an empty list for a thread that has not begun). Only the caller's
    // own begin, update, end and component-request calls change it, so the caller reads it without the lock; the
    // reference stays valid for the life of the process.
    const ComponentList& getComponentList();

    // Registers the calling thread (again: its list is rebuilt and its callback replaced) with a copy of every
    // component: the result of the update that follows; 0x80000000 with the line
    // "[E] AudioComponentCollection::beginByThread() - Couldn't add a thread entry!\n" when the table is full.
    [[nodiscard]] i32 beginByThread(IAudioComponentCallback* callback);
    // As above; a non-null context makes the caller the processing thread, whose components are put into use
    // (AudioComponent::beginUseByDSPThread with the context) as it takes them and leave use as it drops them.
    [[nodiscard]] i32 beginByThread(IAudioComponentCallback* callback, void* context);
    // Brings the caller's list up to date: takes the components added since, drops those whose removal was
    // requested and destroys those no thread holds any more: 0 (0x80000000 when not initialised).
    i32 updateByThread();
    // Ends the caller's use (its list emptied, its callback cleared; the processing thread's components leave
    // use) and destroys what only the caller held: 0 (0x80000000 when not initialised).
    i32 endByThread();

    // The number of live components (0 when not initialised).
    u32 getNumComponents();

private:
    // A live component: owned here, with the uid it was added under and the number of thread lists that hold it.
    struct Record
    {
        AudioComponent* m_component = nullptr;
        u32 m_uid = 0;
        u32 m_holders = 0;
        bool m_inPendingAdd = false;
        bool m_inPendingRemove = false;
    };
    using RecordList = std::list<Record>;

    struct ThreadEntry
    {
        ComponentList m_list;
        std::vector<u32> m_uids; // the uid of each component of m_list, at the same index
        std::unordered_map<u32, AudioComponent*> m_byUid;
        // Components taken and not yet offered to the processing thread's use, with their uids.
        std::vector<std::pair<u32, AudioComponent*>> m_fresh;
        IAudioComponentCallback* m_callback = nullptr;
        bool m_registered = false; // holds a place in the table (from beginByThread until finalize)
        bool m_active = false;     // between beginByThread and endByThread
    };

    AudioComponentCollection();

    // The rest runs under the lock.
    ThreadEntry* callerEntry(u64 identity);
    AudioComponent* findHeld(u64 identity, u32 uid);
    i32 update(u64 identity);
    void take(ThreadEntry& entry, Record& record, bool processing);
    // The processing thread ends the use of what it drops.
    void drop(ThreadEntry& entry, Record& record, bool processing);
    void clearEntry(ThreadEntry& entry);
    void endUse(AudioComponent& component, u32 uid);
    // Destroys a component no thread holds and forgets it everywhere but in the pending-remove list.
    void destroy(RecordList::iterator record);
    void requestRemoveAll(u64 identity);
    i32 copyEditingToApplied();
    void notifyAll();
    bool anyListHeld() const;
    void resetState();

    ReadyLock m_lock{"CompoCol"};

    bool m_finalizing = false;
    u32 m_maxThreads = 0;
    RecordList m_components; // in order of addition
    std::unordered_map<u32, RecordList::iterator> m_recordsByUid;
    std::unordered_map<u64, ThreadEntry> m_threads;
    u32 m_registeredThreads = 0;
    u32 m_activeThreads = 0;
    std::vector<RecordList::iterator> m_pendingAdd;
    std::vector<RecordList::iterator> m_pendingRemove;
    u64 m_dspThread = 0;
    void* m_dspContext = nullptr;
    AudioConnectionCollection m_editingConnections;
    AudioConnectionCollection m_appliedConnections;
};

} // namespace DADOV

// PyriteAppThread: the base of the application threads. It turns the 32 user-event bits into named operations,
// subscribes the thread to parameter changes and visits the changed parameters in a change scan, and turns the
// system-information items "ProductState", "RunMode" and "PDBState" into calls of its own operations.
//
// User events: 0 a parameter changed (onChangePDB), 1..8 onReceiveEvent1..8, 9 a database's configuration
// changed (the thread releases the components whose removal it was told of, then onChangePDBConfig), 10 the audio
// components changed (onUpdateAudioComponents), 11..13 unused (logged), 14 and 15 onReceiveEvent14/15, 16..31
// onReceiveUserEvent (16: socket wake-up).
//
// The database and audio-component callbacks are the thread object itself: they only set a user event, so the work runs
// later on the thread's own task. A database keeps the callback pointer, so the thread must outlive every database it
// subscribed to; it ends its use of the audio components when it closes. Every other operation runs on the thread's own
// task.
//
// Derived threads that override handlers call release() in their own destructor.
#pragma once

#include <vector>

#include "dadov_AudioComponentCollection.h"
#include "klib_Types.h"
#include "pdb_IParameterDB.h"
#include "tms_AbstractThread.h"

namespace PYRITE {

class PyriteAppThread : public TMS::AbstractThread,
                        private PDB::IParameterDBCallback,
                        private DADOV::IAudioComponentCallback
{
public:
    // User events of the base.
    static constexpr u32 EVENT_PDB_CHANGED = 0;
    static constexpr u32 EVENT_PDB_CONFIG = 9;
    static constexpr u32 EVENT_AUDIO_COMPONENTS = 10;
    static constexpr u32 EVENT_SOCKET = 16;

    explicit PyriteAppThread(u32 queueCapacity);
    ~PyriteAppThread() override;

    // Entering RUN begins the thread's use of the audio components (beginByThread), entering CLOSING ends it
    // (endByThread); then the base operation.
    u32 onChangeStatus(u32 status, const TMS::FieldMap& arguments) override;
    // The base operation, then onChangePDBState for a new "PDBState" and onProductStarted for a new
    // "ProductState"/"RunMode" pair while "ProductState" is 1. Returns the base result.
    u32 onChangeSystemInfo() override;
    // Calls the operation of the event id (see above). Returns 0.
    u32 onReceiveEvent(u32 bit) override;

    virtual u32 onProductStarted(u32 runMode);
    virtual u32 onChangePDBConfig();
    virtual u32 onChangePDBState(u32 state);
    // The change scan: onChangePDBParamStarted; then for every database of the process-wide collection (the
    // count read again after each) and every subscription key in list order, each changed parameter through
    // onChangePDBParam. A parameter of an element set ("<address>@<set>@<element>") is reported once per scan
    // and element position as the set's first parameter, after the key's plain parameters, in ascending
    // (component, parameter, x, y) order. A key whose change flags cannot be latched is skipped. Then
    // onChangePDBParamFinished. A failing Started or Finished result is returned, else 0.
    virtual u32 onChangePDB();
    // Only while in RUN: brings the thread's list of audio components up to date (updateByThread). 0.
    virtual u32 onUpdateAudioComponents();
    virtual u32 onReceiveEvent1();
    virtual u32 onReceiveEvent2();
    virtual u32 onReceiveEvent3();
    virtual u32 onReceiveEvent4();
    virtual u32 onReceiveEvent5();
    virtual u32 onReceiveEvent6();
    virtual u32 onReceiveEvent7();
    virtual u32 onReceiveEvent8();
    virtual u32 onReceiveUserEvent(u32 eventId);
    virtual u32 onReceiveEvent14();
    virtual u32 onReceiveEvent15();
    // Subscribes the thread under the key (task id << 16) | component with every database of the collection, in
    // index order, unless the key is already subscribed. The task id is this thread's own (the caller's when, as
    // intended, it runs on the thread's task). 0.
    virtual u32 registerPDBCallback(u16 component, PDB::ParameterFilter filter);
    virtual u32 onChangePDBParamStarted();
    virtual u32 onChangePDBParam(PDB::IParameterDB* database, u32 component, u32 parameter, u32 x, u32 y, u32 key);
    virtual u32 onChangePDBParamFinished();

    // The subscription keys in the order they were made.
    const std::vector<u32>& getSubscriptionKeys() const { return m_keys; }
    u32 getProductState() const { return m_productState; }
    u32 getRunMode() const { return m_runMode; }
    u32 getPDBState() const { return m_pdbState; }

private:
    // Releases, in every database, the components listed as removed for this thread: they are deleted once no
    // thread holds them, and the lists stay short.
    void releaseRemovedComponents();

    // PDB::IParameterDBCallback
    i32 onParameterDBChanged() override;
    i32 onParameterChanged() override;
    // DADOV::IAudioComponentCallback
    void onChangeAudioComponents() override;

    u32 m_productState = 0;
    u32 m_runMode = 0;
    u32 m_pdbState = 0;
    std::vector<u32> m_keys;
};

} // namespace PYRITE

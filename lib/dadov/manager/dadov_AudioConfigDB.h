// The audio configuration: what the last compile produced (the DSP system, the component instances, their
// connections and placements), kept process-wide in AudioConfigDB for the audio components; and the connection
// list type of the audio component collection.
#pragma once

#include <compare>
#include <string>
#include <vector>

#include "compiler_CompileResult.h"
#include "dadov_Mutex.h"
#include "dadov_Result.h"

namespace DADOV {

// A connection record: four u32 (fromUniqID, fromPortNo, toUniqID, toPortNo), 16 bytes.
using AudioConnection = Compiler::Connection;
// A component instance: uniqID, name, majorVersion, numX, numY.
using AudioConfigComponent = Compiler::ComponentInstance;

// Where one component runs: its DSP and core, its step range there and its predecessor on that core (0: first).
struct DspAssignment
{
    u32 m_dspNo = 0;
    u32 m_coreNo = 0;
    u64 m_stepOffset = 0;
    u32 m_stepSize = 0;
    u32 m_uniqID = 0;
    u32 m_preUniqID = 0;

    auto operator<=>(const DspAssignment&) const = default;
    bool operator==(const DspAssignment&) const = default;
};

// The cleared state is the default: no name, zero numbers, result 0x80000000, empty lists.
struct AudioConfig
{
    std::string m_name; // the DSP system
    u32 m_fsHz = 0;
    u32 m_numSamplePerFrame = 0;
    u32 m_renderSamples = 0;
    bool m_delayCompensation = false;
    i32 m_result = DADOV_E_FAILED;
    std::vector<AudioConfigComponent> m_components;
    std::vector<AudioConnection> m_connections;
    std::vector<DspAssignment> m_dspAssignments;
    std::vector<AudioConnection> m_logicConnections;

    void clear() { *this = AudioConfig(); }
    bool operator==(const AudioConfig&) const = default;
};

// AudioConfigDB ("AUDIOCONFIG_DB"): the current audio configuration. Any thread may copy it in or out; each
// copy runs under the lock "AudioCfg". The lock is made by the first initialize and kept for the life of the
// process, so a thread may still lock it while another finalizes; initialize and finalize switch the store
// between usable and unusable under it.
class AudioConfigDB
{
public:
    static AudioConfigDB& getInstance();

    // Does what finalize does.
    ~AudioConfigDB();
    AudioConfigDB(const AudioConfigDB&) = delete;
    AudioConfigDB& operator=(const AudioConfigDB&) = delete;

    // 0 and the line "[i] AudioConfigDB::initialize - AUDIOCONFIG_DB() initialized.\n"; 0x80000000 when already
    // initialised or when the lock has no semaphore. The stored record keeps what it held.
    [[nodiscard]] i32 initialize();
    // 0; when initialised, makes the store unusable and logs "[i] AudioConfigDB::finalize - AUDIOCONFIG_DB()
    // finalized.\n".
    i32 finalize();
    // The stored record becomes a copy of config: 0; 0x80000000 when not initialised or out of memory (the
    // stored record then stays as it was).
    [[nodiscard]] i32 setAudioConfig(const AudioConfig& config);
    // out becomes a copy of the stored record: 0; 0x80000000 when not initialised or out of memory (out is
    // then left as it was).
    [[nodiscard]] i32 getAudioConfig(AudioConfig& out);

private:
    AudioConfigDB() = default;

    ReadyLock m_lock{"AudioCfg"};
    AudioConfig m_config;
};

// An ordered list of connection records, without a lock of its own (its owner locks around it).
class AudioConnectionCollection
{
public:
    // Appends the record unless an equal one is present: 0; 0x80000000 out of memory.
    i32 add(u32 fromUid, u32 fromPortNo, u32 toUid, u32 toPortNo);
    // Removes the first equal record, if any: 0.
    i32 remove(u32 fromUid, u32 fromPortNo, u32 toUid, u32 toPortNo);
    // Removes every record from or to uid; the others keep their order: 0.
    i32 removeByUid(u32 uid);
    i32 clear();
    // out becomes a copy of the list: 0; 0x80000000 out of memory (out unchanged).
    i32 get(std::vector<AudioConnection>& out) const;
    // The list becomes a copy of list: 0; 0x80000000 out of memory (the list unchanged).
    i32 set(const std::vector<AudioConnection>& list);
    size_t size() const { return m_connections.size(); }

private:
    std::vector<AudioConnection> m_connections;
};

} // namespace DADOV

// The interfaces through which a unit reports to its owner thread, and the directory-sync policy.
// A unit calls all of them on its owner thread, from processSocketEvents or periodicHandle.
#pragma once

#include "klib_Types.h"

namespace ComControl {

// The parts of a unit, counted when it is initialised.
enum class UnitPart : u32 { EventMessenger = 0, PdbSynchronizer = 1, MmsSynchronizer = 2, DirSynchronizer = 3 };
constexpr u32 UNIT_PART_KINDS = 4;

// Synchroniser status values.
constexpr u32 SYNC_STATUS_IDLE = 0;
constexpr u32 SYNC_STATUS_RUNNING = 1;
constexpr u32 SYNC_STATUS_FINISHED = 2;
constexpr u32 SYNC_STATUS_FAILED = 3;

class IUnitConnectObserver
{
public:
    virtual ~IUnitConnectObserver() = default;
    virtual i32 connected(u32 unitId) = 0;
    virtual i32 connectFailed(u32 unitId) = 0;
    virtual i32 disconnected(u32 unitId) = 0;
    // A synchroniser (PDB, MMS or directory) moved to another SYNC_STATUS_* value.
    virtual i32 synchronizerStateChanged(u32 unitId, UnitPart part, u32 index, u32 status) = 0;
};

class IEventExecutor
{
public:
    virtual ~IEventExecutor() = default;
    // One event received from the device: the event code of its messenger, its name and its argument
    // text (items, see comctrl_EventMessage.h). The result is the executor's own.
    virtual i32 execute(u32 eventCode, const char* eventName, const char* argument) = 0;
};

// Steps of a file transfer report.
constexpr u32 PROGRESS_STARTED = 0;
constexpr u32 PROGRESS_RUNNING = 1;
constexpr u32 PROGRESS_FINISHED = 2;
constexpr u32 PROGRESS_FAILED = 3;

class IProgressMonitor
{
public:
    virtual ~IProgressMonitor() = default;
    // One report about the transfer of fileName: a PROGRESS_* step and the bytes done of the total.
    virtual i32 progress(const char* fileName, u32 step, u64 doneBytes, u64 totalBytes) = 0;
};

// Decides which files of its directory a directory synchroniser takes.
class IDirSyncStrategy
{
public:
    virtual ~IDirSyncStrategy() = default;
    // 0: the file at path (relative to the synchronised directory) is taken; 1: it is skipped.
    virtual i32 checkPath(const char* path) = 0;
};

} // namespace ComControl

// The byte transport of a debug console and the two callback interfaces that connect transport, console and
// the console's owner thread.
#pragma once

#include "klib_Types.h"

namespace DBGC {

class IDebugConsoleLowIO;
class DebugConsole;

// Implemented by the console: the transport reports to it.
class IDebugConsoleLowIOCallback
{
public:
    virtual ~IDebugConsoleLowIOCallback() = default;
    // The transport has events to handle; may be called on any thread and must only signal.
    virtual void onWakeup(IDebugConsoleLowIO* transport) = 0;
    // A peer connected (on the thread that polls the transport).
    virtual void onConnected(IDebugConsoleLowIO* transport) = 0;
    // Bytes can be read (on the thread that polls the transport).
    virtual void onReceive(IDebugConsoleLowIO* transport) = 0;
};

// Implemented by the owner thread of a console.
class IDebugConsoleCallback
{
public:
    virtual ~IDebugConsoleCallback() = default;
    // Asks the owner to call console->poll() on its own thread soon. Called from any thread; must only signal.
    virtual u32 requestService(DebugConsole* console) = 0;
};

// A byte transport. Results: 0 success, 0x80000000 failure.
class IDebugConsoleLowIO
{
public:
    virtual ~IDebugConsoleLowIO() = default;
    virtual u32 open(IDebugConsoleLowIOCallback* callback) = 0;
    virtual u32 close() = 0;
    // Not used by the console; every transport of this system answers false.
    virtual bool isSerial() const = 0;
    // Up to size bytes; *got = 0 when nothing waits.
    virtual u32 read(u8* buffer, u32 size, u32* got) = 0;
    // All size bytes or a failure; *written = size on success.
    virtual u32 write(const u8* data, u32 size, u32* written) = 0;
    virtual u32 flush() = 0;
    // Handles pending transport events on the caller's thread.
    virtual u32 poll() = 0;
};

} // namespace DBGC

// DebugConsole: turns the bytes of a transport into edited command lines, splits a line into words and hands them
// to a command module. All of its work runs on the thread that calls poll(); only onWakeup comes from elsewhere.
#pragma once

#include <atomic>
#include <cstdarg>

#include "dbgc_LowIO.h"
#include "dbgc_StringElement.h"
#include "klib_Types.h"

namespace DBGC {

class DebugConsole;

// A module's command handler: words[0] is the command word. A negative result is printed as the module error line.
using ModuleHandler = i32 (*)(DebugConsole& console, u32 count, StringElement words[]);

struct ModuleEntry
{
    const char* m_name;
    ModuleHandler m_handler;
    const char* m_description;
};

// Called when a peer connects, before the first prompt (the banner).
using ConnectHandler = void (*)(DebugConsole& console);

class DebugConsole : public IDebugConsoleLowIOCallback
{
public:
    static constexpr u32 OUTPUT_SIZE = 256;
    static constexpr u32 LINE_SIZE = 80;
    static constexpr u32 MAX_WORDS = 20;

    DebugConsole() = default;
    ~DebugConsole() override;

    DebugConsole(const DebugConsole&) = delete;
    DebugConsole& operator=(const DebugConsole&) = delete;

    // 0x80000000 when already initialised, without table or with count 0, or when the transport cannot be opened.
    u32 initialize(IDebugConsoleCallback* owner, IDebugConsoleLowIO* transport, const ModuleEntry* modules, u32 count);
    // 0x80000000 when not initialised; else closes the transport and resets module, lines and output.
    u32 finalize();
    bool isInitialized() const { return m_transport != nullptr; }
    // Lets the transport handle its pending events on the calling thread.
    u32 poll();

    // Formats (cut at 255 characters) and writes to the transport; 0x80000000 without transport or format, or
    // when a write fails.
    u32 printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    u32 vprintf(const char* format, va_list args);
    // Writes the text as it is, without formatting or length limit.
    u32 puts(const char* text);
    // The "DBGC" lock around multi-line output: 0 when taken (then unlock), 0x80000000 when not.
    u32 lock();
    u32 unlock();

    // The banner printed when a peer connects; null prints none.
    void setConnectHandler(ConnectHandler handler) { m_connectHandler = handler; }

    u32 getCurrentModule() const { return m_currentModule; }
    const char* getCurrentModuleName() const;
    const ModuleEntry* getModules() const { return m_modules; }
    u32 getModuleCount() const { return m_moduleCount; }

    // IDebugConsoleLowIOCallback
    void onWakeup(IDebugConsoleLowIO* transport) override;
    void onConnected(IDebugConsoleLowIO* transport) override;
    void onReceive(IDebugConsoleLowIO* transport) override;

    // Runs one command line as if typed (at most 79 characters are used).
    void execute(const char* line);

private:
    // The module of that name (ignoring case), or m_moduleCount.
    u32 findModule(const char* name) const;
    void printPrompt();
    u32 writeRaw(const void* data, u32 size);
    void runModule(u32 module, u32 count, StringElement words[]);
    void resetState();

    std::atomic<IDebugConsoleCallback*> m_owner{nullptr};
    IDebugConsoleLowIO* m_transport = nullptr;
    const ModuleEntry* m_modules = nullptr;
    u32 m_moduleCount = 0;
    u32 m_currentModule = 0;
    char m_output[OUTPUT_SIZE] = {};
    char m_line[LINE_SIZE] = {};
    char m_history[LINE_SIZE] = {};
    u32 m_lineLength = 0;
    u32 m_historyLength = 0;
    ConnectHandler m_connectHandler = nullptr;
};

// Takes the console's "DBGC" lock for the life of the guard (when it could be taken).
class ConsoleLock
{
public:
    explicit ConsoleLock(DebugConsole& console) : m_console(console), m_locked(console.lock() == 0) {}
    ~ConsoleLock()
    {
        if (m_locked) {
            m_console.unlock();
        }
    }
    ConsoleLock(const ConsoleLock&) = delete;
    ConsoleLock& operator=(const ConsoleLock&) = delete;

private:
    DebugConsole& m_console;
    bool m_locked;
};

} // namespace DBGC

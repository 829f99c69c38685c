#include "dbgc_DebugConsole.h"

#include <cstring>

#include "dbgc_Print.h"
#include "dbgc_Result.h"
#include "klib_Print.h"

namespace DBGC {

namespace {

constexpr u8 BACKSPACE = 8;
constexpr u8 LINE_FEED = 10;
constexpr u8 CARRIAGE_RETURN = 13;
constexpr u8 DELETE = 127;

bool isCommentStart(char c)
{
    return c == '#' || c == ':' || c == ';';
}

} // namespace

DebugConsole::~DebugConsole()
{
    if (m_transport != nullptr) {
        finalize();
    }
}

u32 DebugConsole::initialize(IDebugConsoleCallback* owner, IDebugConsoleLowIO* transport, const ModuleEntry* modules,
                             u32 count)
{
    if (m_transport != nullptr || transport == nullptr || modules == nullptr || count == 0) {
        return RESULT_FAILED;
    }
    m_owner.store(owner, std::memory_order_release);
    m_modules = modules;
    m_moduleCount = count;
    m_transport = transport;
    if (transport->open(this) != 0) {
        m_transport = nullptr;
        // The process-wide debug print pair (standard output), not the console print.
        KLIB_LOG("[E] DebugConsole::initialize - Cannot initialize 'Low-level I/O'!\n");
        return RESULT_FAILED;
    }
    return 0;
}

u32 DebugConsole::finalize()
{
    if (m_transport == nullptr) {
        return RESULT_FAILED;
    }
    m_transport->close();
    m_transport = nullptr;
    resetState();
    return 0;
}

void DebugConsole::resetState()
{
    m_currentModule = 0;
    std::memset(m_line, 0, sizeof(m_line));
    std::memset(m_history, 0, sizeof(m_history));
    std::memset(m_output, 0, sizeof(m_output));
    m_lineLength = 0;
    m_historyLength = 0;
}

u32 DebugConsole::poll()
{
    if (m_transport == nullptr) {
        return RESULT_FAILED;
    }
    return m_transport->poll() != 0 ? RESULT_FAILED : 0;
}

u32 DebugConsole::writeRaw(const void* data, u32 size)
{
    if (m_transport == nullptr) {
        return RESULT_FAILED;
    }
    const u8* bytes = static_cast<const u8*>(data);
    u32 done = 0;
    while (done < size) {
        u32 written = 0;
        if (m_transport->write(bytes + done, size - done, &written) != 0 || written == 0) {
            return RESULT_FAILED;
        }
        m_transport->flush();
        done += written;
    }
    return 0;
}

u32 DebugConsole::vprintf(const char* format, va_list args)
{
    if (m_transport == nullptr || format == nullptr) {
        return RESULT_FAILED;
    }
    u32 length = 0;
    klib_vsnprintf(m_output, OUTPUT_SIZE, &length, format, args);
    if (length == 0) {
        return 0;
    }
    return writeRaw(m_output, length);
}

u32 DebugConsole::printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const u32 result = vprintf(format, args);
    va_end(args);
    return result;
}

u32 DebugConsole::puts(const char* text)
{
    if (m_transport == nullptr || text == nullptr) {
        return RESULT_FAILED;
    }
    const size_t length = std::strlen(text);
    return length == 0 ? 0 : writeRaw(text, static_cast<u32>(length));
}

u32 DebugConsole::lock()
{
    return dbgc_lock();
}

u32 DebugConsole::unlock()
{
    return dbgc_unlock();
}

const char* DebugConsole::getCurrentModuleName() const
{
    if (m_modules == nullptr || m_currentModule >= m_moduleCount) {
        return "";
    }
    return m_modules[m_currentModule].m_name;
}

void DebugConsole::printPrompt()
{
    printf("%s>", getCurrentModuleName());
}

void DebugConsole::onWakeup(IDebugConsoleLowIO*)
{
    IDebugConsoleCallback* owner = m_owner.load(std::memory_order_acquire);
    if (owner != nullptr) {
        owner->requestService(this);
    }
}

void DebugConsole::onConnected(IDebugConsoleLowIO*)
{
    // A half-typed line belongs to the previous peer; module and history stay.
    m_lineLength = 0;
    m_line[0] = '\0';
    if (m_connectHandler != nullptr) {
        m_connectHandler(*this);
    }
    printPrompt();
}

void DebugConsole::onReceive(IDebugConsoleLowIO* transport)
{
    if (transport == nullptr || transport != m_transport) {
        return;
    }
    for (;;) {
        u8 c = 0;
        u32 got = 0;
        if (m_transport == nullptr || m_transport->read(&c, 1, &got) != 0 || got == 0) {
            return;
        }
        // Echo first.
        if (c == BACKSPACE || c == DELETE) {
            if (m_lineLength > 0) {
                writeRaw("\b \b", 3);
            }
        } else if (c == CARRIAGE_RETURN) {
            c = LINE_FEED;
            writeRaw("\r\n", 2);
        } else {
            writeRaw(&c, 1);
        }

        if (c >= 32 && c <= 126) {
            if (m_lineLength < LINE_SIZE - 1) {
                m_line[m_lineLength++] = static_cast<char>(c);
                m_line[m_lineLength] = '\0';
            }
        } else if (c == BACKSPACE || c == DELETE) {
            if (m_lineLength > 0) {
                m_line[--m_lineLength] = '\0';
            }
        } else if (c == LINE_FEED) {
            m_line[m_lineLength] = '\0';
            if (m_lineLength == 0) {
                printPrompt();
                return;
            }
            if (std::strcmp(m_line, "!!") == 0) {
                std::memcpy(m_line, m_history, sizeof(m_line));
                m_lineLength = m_historyLength;
                printPrompt();
                if (m_lineLength > 0) {
                    writeRaw(m_line, m_lineLength);
                }
                return;
            }
            char command[LINE_SIZE];
            std::memcpy(command, m_line, sizeof(command));
            std::memcpy(m_history, m_line, sizeof(m_history));
            m_historyLength = m_lineLength;
            m_lineLength = 0;
            m_line[0] = '\0';
            execute(command);
            printPrompt();
        }
    }
}

u32 DebugConsole::findModule(const char* name) const
{
    StringElement word;
    word.set(name);
    for (u32 i = 0; i < m_moduleCount; ++i) {
        if (word.equals(m_modules[i].m_name)) {
            return i;
        }
    }
    return m_moduleCount;
}

void DebugConsole::runModule(u32 module, u32 count, StringElement words[])
{
    const ModuleEntry& entry = m_modules[module];
    if (entry.m_handler == nullptr) {
        return;
    }
    const i32 result = entry.m_handler(*this, count, words);
    if (result < 0) {
        printf("Error: Module=%s, ResultCode=%d(0x%08X)\n", entry.m_name, result, static_cast<u32>(result));
    }
}

void DebugConsole::execute(const char* line)
{
    if (line == nullptr || m_modules == nullptr) {
        return;
    }
    char text[LINE_SIZE];
    klib_strlcpy(text, sizeof(text), line);
    const u32 length = klib_strnlen(text, LINE_SIZE - 1);

    // Blanks outside quotes and every quote become word ends.
    bool quoted = false;
    for (u32 i = 0; i < length; ++i) {
        if (text[i] == '"') {
            quoted = !quoted;
            text[i] = '\0';
        } else if (!quoted && (text[i] == ' ' || text[i] == '\t')) {
            text[i] = '\0';
        }
    }

    StringElement words[MAX_WORDS];
    u32 count = 0;
    for (u32 i = 0; i < length;) {
        if (text[i] == '\0') {
            ++i;
            continue;
        }
        if (count == MAX_WORDS || isCommentStart(text[i])) {
            break;
        }
        words[count++].set(text + i);
        i += klib_strnlen(text + i, length - i);
    }

    if (count == 0) {
        return;
    }
    if (count == MAX_WORDS) {
        printf("Error: too many parameters\n");
        return;
    }
    if (words[0].equals("..")) {
        m_currentModule = 0;
        return;
    }
    if (words[0].equals("restart")) {
        m_currentModule = 0;
        std::memset(m_line, 0, sizeof(m_line));
        std::memset(m_history, 0, sizeof(m_history));
        std::memset(m_output, 0, sizeof(m_output));
        m_lineLength = 0;
        m_historyLength = 0;
        return;
    }
    if (words[0].equals("log")) {
        if (count > 1) {
            printf("Error: argument\n");
        }
        return;
    }
    const char* first = words[0].text();
    if (first[0] == '/') {
        if (first[1] == '\0') {
            return;
        }
        const u32 module = findModule(first + 1);
        if (module >= m_moduleCount) {
            printf("Error: command not found!\n");
            return;
        }
        runModule(module, count - 1, words + 1);
        return;
    }
    const u32 module = findModule(first);
    if (module < m_moduleCount) {
        m_currentModule = module;
        return;
    }
    runModule(m_currentModule, count, words);
}

} // namespace DBGC

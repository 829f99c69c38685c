#include "dbgc_Modules.h"

#include <atomic>
#include <string>

#include "dbgc_HelpText.h"
#include "dbgc_Result.h"
#include "tms_ThreadRepository.h"

namespace DBGC {

namespace {

std::atomic<BannerSource> g_bannerSource{nullptr};

const ModuleEntry MODULES[] = {
    {"Top", &moduleTop, "基本コマンド"},
    {"Thread", &moduleThread, "Threadコマンド"},
    {"Component", &moduleComponent, "Componentコマンド"},
    {"PDB", &modulePDB, "PDBコマンド"},
};

template <size_t N> void putLines(DebugConsole& console, const char* const (&lines)[N])
{
    for (const char* line : lines) {
        console.puts(line);
    }
}

bool isHelp(const StringElement& word)
{
    return word.equals("help") || word.equals("?");
}

const char* statusName(u32 status)
{
    static const char* const NAMES[] = {"UNINITIALIZED", "OPENING", "STOP",   "RUN",
                                        "PAUSE",         "CLOSING", "CLOSED", "DESTROY"};
    return status < 8 ? NAMES[status] : "UNKNOWN";
}

const char* textOf(const char* text)
{
    return text != nullptr ? text : "";
}

// A word with a letter names a thread; any other word is a decimal task id. The handle keeps the thread readable
// while the command uses it, also when the thread is torn down meanwhile; a missing thread is an empty handle
// (the null thread).
TMS::ThreadHandle findThread(const StringElement& word)
{
    const char* text = textOf(word.text());
    for (const char* p = text; *p != '\0'; ++p) {
        if ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z')) {
            return TMS::ThreadRepository::acquireThread(text);
        }
    }
    const u32 id = word.toUInt();
    if (id > 0xFFFE) {
        return TMS::ThreadHandle();
    }
    return TMS::ThreadRepository::acquireThreadById(static_cast<u16>(id));
}

i32 threadList(DebugConsole& console)
{
    const std::vector<TMS::ThreadSnapshotEntry> threads = TMS::ThreadRepository::snapshot(true);
    ConsoleLock lock(console);
    console.printf("  [ ThreadName ] [TaskID] [LogSize] [ElapseCount] [Status]\n");
    for (const TMS::ThreadSnapshotEntry& entry : threads) {
        console.printf("  %-16s %4d        %2d     %10d   %-s\n", textOf(entry.m_name),
                       static_cast<i32>(entry.m_taskId), static_cast<i32>(entry.m_logSize),
                       static_cast<i32>(entry.m_loopCount - entry.m_shownLoopCount), statusName(entry.m_status));
    }
    return 0;
}

i32 threadLog(DebugConsole& console, u32 count, StringElement words[])
{
    if (count < 2) {
        return RESULT_COMMAND_FAILED;
    }
    const TMS::ThreadHandle thread = findThread(words[1]);
    u32 start = 0;
    if (count >= 3 && words[2].toUInt(&start, 10) != 0) {
        return RESULT_COMMAND_FAILED;
    }
    TMS::ThreadLogger& logger = thread->getLogger();
    const u32 entries = logger.getCount();
    if (entries == 0 || static_cast<i32>(entries) < 0) {
        return RESULT_COMMAND_FAILED;
    }
    u32 end = entries - 1;
    if (count == 4 && words[3].toUInt(&end, 10) != 0) {
        return RESULT_COMMAND_FAILED;
    }
    if (end > entries - 1) {
        end = entries - 1;
    }
    if (start > end) {
        return RESULT_COMMAND_FAILED;
    }
    ConsoleLock lock(console);
    console.printf("[THREAD:%s]\n", textOf(thread->getName()));
    char line[TMS::ThreadLogger::LINE_SIZE];
    for (u32 i = start; i <= end; ++i) {
        if (logger.getLine(i, line, sizeof(line)) != 0) {
            break;
        }
        console.printf("%02d)", static_cast<i32>(i));
        console.puts(line);
    }
    return 0;
}

i32 threadLogClear(DebugConsole& console, u32 count, StringElement words[])
{
    if (count < 2) {
        return RESULT_COMMAND_FAILED;
    }
    const TMS::ThreadHandle thread = findThread(words[1]);
    console.printf("[THREAD:%s] logs clear\n", textOf(thread->getName()));
    thread->getLogger().clearLines();
    return 0;
}

} // namespace

const ModuleEntry* getModuleTable()
{
    return MODULES;
}

u32 getModuleCount()
{
    return static_cast<u32>(sizeof(MODULES) / sizeof(MODULES[0]));
}

BannerSource setBannerSource(BannerSource source)
{
    return g_bannerSource.exchange(source, std::memory_order_acq_rel);
}

void printBanner(DebugConsole& console)
{
    BannerInfo info;
    const BannerSource source = g_bannerSource.load(std::memory_order_acquire);
    if (source != nullptr) {
        source(info);
    }

    ConsoleLock lock(console);
    console.puts("\n");
    console.printf("== KORVAN %s Debug Monitor\n", info.m_product.c_str());
    console.puts("==\n");
    console.printf("== Boot Loader Version : %s\n", info.m_bootLoaderVersion.c_str());
    console.printf("== Kernel Version      : %s\n", info.m_kernelVersion.c_str());
    console.printf("== Program Version     : %s\n", info.m_programVersion.c_str());
    console.puts("==\n");
    console.puts("== [?]  Help Display\n");
    console.puts("\n");
}

i32 moduleTop(DebugConsole& console, u32 count, StringElement words[])
{
    if (count == 0) {
        return RESULT_COMMAND_FAILED;
    }
    if (isHelp(words[0])) {
        ConsoleLock lock(console);
        putLines(console, helptext::TOP_HELP);
        for (const ModuleEntry& module : MODULES) {
            console.printf("%-12s%s\n", module.m_name, module.m_description);
        }
        console.puts(helptext::TOP_HELP_END);
        return 0;
    }
    if (words[0].equals("shutdown")) {
        TMS::ThreadRepository::acquireThread("System").releaseThread();
        return 0;
    }
    return 0;
}

i32 moduleThread(DebugConsole& console, u32 count, StringElement words[])
{
    if (count == 0) {
        return RESULT_COMMAND_FAILED;
    }
    if (isHelp(words[0])) {
        ConsoleLock lock(console);
        putLines(console, helptext::THREAD_HELP);
        return 0;
    }
    if (words[0].equals("tlist")) {
        return threadList(console);
    }
    if (words[0].equals("tlog")) {
        return threadLog(console, count, words);
    }
    if (words[0].equals("tlogc")) {
        return threadLogClear(console, count, words);
    }
    return 0;
}

} // namespace DBGC

// The crash handler: on the first fatal signal (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT; an exception that
// escapes a thread ends in SIGABRT) it writes a text report to <executable folder>/userdata/virtualVEXA-D.dmp,
// replacing an old one (nothing is written when userdata/ is missing), prints the crash message on standard
// error and ends the process with exit code 1. A second thread that crashes meanwhile parks for good, so there
// is one report and one message; a different fatal signal on the handling thread itself ends the process with
// exit code 1 at once, keeping what the report holds so far.
//
// The handler only calls async-signal-safe functions: the path and the message are built at installation, and
// backtrace() is called there once so that it does not load anything later. Every task of the OS layer gets an
// alternate signal stack (pages of the OS layer) through the layer's thread-start hook, so a stack overflow
// reaches the handler too.
#pragma once

#include <signal.h>

#include "klib_Types.h"

constexpr u32 CRASH_DUMP_PATH_SIZE = 260;
constexpr const char* CRASH_PROGRAM_NAME = "virtualVEXA-D";

// Called on a thread that crashes while the first crash is being handled; it does not return.
using SecondCrashHandler = void (*)();

// Parks the calling thread for good (all signals blocked): the second-crash handler of the program.
[[noreturn]] void pumpMessagesForever();

// Installs writeCrashDump for the fatal signals with secondHandler, an alternate signal stack on the calling
// thread and the thread-start hook that gives every later thread one. executableFolder stands for the
// executable's folder (null: the real one); without a second handler a second crash is handled like the first.
// 0; 0x80000000 when the dump path cannot be built (the handler then only restores the default action and raises
// the signal again).
u32 installCrashHandler(const char* executableFolder = nullptr,
                        SecondCrashHandler secondHandler = &pumpMessagesForever);

// The signal handler (SA_SIGINFO form).
void writeCrashDump(int signal, siginfo_t* info, void* context);

// The executable's folder + "/userdata/virtualVEXA-D.dmp" into buffer: 0; 0x80000000 when it does not fit in
// 260 bytes or the buffer, or the executable cannot be found.
u32 getCrashDumpPath(char* buffer, u32 size);

// Gives the calling thread an alternate signal stack, kept until the thread ends (once per thread).
void installSignalStack();

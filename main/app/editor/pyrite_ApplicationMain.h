// The application start: loads the options and the settings, runs the thread "System" until it ends, tidies up
// and, when "System" ended with end code 1, removes the storage and restarts the program.
#pragma once

#include "klib_Types.h"

constexpr u16 DEBUG_CONSOLE_PORT = 50002;

// Runs the program; always 0. consolePort is the debug console's TCP port (0: a port the system chooses).
// "work" and "uid" place the storage at work + "/" + uid only when uid is one plain folder name (not empty, "."
// or "..", without "/" or "\"); otherwise the refusal is logged and the settings' paths stay.
int applicationMain(int argc, char** argv, u16 consolePort = DEBUG_CONSOLE_PORT);

#include "pyrite_Restart.h"

#include <signal.h>
#include <spawn.h>

#include <string>

#include "pyrite_Result.h"

extern char** environ;

namespace {

std::string directoryOf(const std::string& path)
{
    const size_t last = path.find_last_of("/\\");
    if (last == std::string::npos) {
        return ".";
    }
    std::string directory = path.substr(0, last);
    while (!directory.empty() && (directory.back() == '/' || directory.back() == '\\')) {
        directory.pop_back();
    }
    return directory;
}

} // namespace

u32 restartProgram(const char* programPath)
{
    if (programPath == nullptr) {
        return PYRITE::PYRITE_E_FAILED;
    }
    const std::string path = programPath;
    std::string shell = "/bin/sh";
    std::string script = directoryOf(path) + "/restart.bat";
    char* const arguments[] = {shell.data(), script.data(), const_cast<char*>(path.c_str()), nullptr};

    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    if (posix_spawnattr_init(&attributes) != 0) {
        return PYRITE::PYRITE_OK;
    }
    if (posix_spawn_file_actions_init(&actions) != 0) {
        posix_spawnattr_destroy(&attributes);
        return PYRITE::PYRITE_OK;
    }
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
    // Sockets and files of this process are not the command's business (a listener kept open by it would stop
    // the restarted program from binding its port).
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t child = 0;
    posix_spawn(&child, shell.c_str(), &actions, &attributes, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return PYRITE::PYRITE_OK;
}

#include "pyrite_ApplicationMain.h"

#include <cstring>
#include <memory>
#include <string>

#include "klib_HeapManager.h"
#include "klib_Print.h"
#include "pyrite_ClientSystemThread.h"
#include "pyrite_CommandLineOptions.h"
#include "pyrite_ProductInfo.h"
#include "pyrite_Restart.h"
#include "pyrite_StopSignals.h"
#include "tms_ThreadRepository.h"
#include "vsock_Socket.h"

namespace {

// A uid becomes the last part of the storage base, which a restart removes with everything below it.
bool isPlainFolderName(const char* name)
{
    return name[0] != '\0' && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 &&
           std::strpbrk(name, "/\\") == nullptr;
}

void applyWorkAndUid(const CommandLineOptions& options, PyriteProductInfo& info)
{
    KVariant work;
    KVariant uid;
    options.getWork(work);
    options.getUid(uid);
    const char* workText = work.getString();
    const char* uidText = uid.getString();
    if (workText == nullptr || uidText == nullptr) {
        return;
    }
    if (!isPlainFolderName(uidText)) {
        KLIB_LOG("[E] applicationMain - uid \"%s\" is not a plain folder name: the storage paths of the settings "
                 "stay.\n",
                 uidText);
        return;
    }
    const std::string& directory = options.getProgramDirectory();
    info.setSystemDataPath(directory.empty() ? "." : directory);
    info.setStoragePath(std::string(workText) + "/" + uidText);
}

u32 runSystem(u16 consolePort, PYRITE::StopSignalWatcher& watcher)
{
    auto system = std::make_unique<PYRITE::PyriteClientSystemThread>(consolePort);
    const TMS::FieldMap& none = TMS::AbstractMessage::emptyFields();
    using Thread = PYRITE::PyriteClientSystemThread;
    system->initialize("System", Thread::TASK_PRIORITY, 0, Thread::STACK_SIZE, Thread::HEAP_SIZE, Thread::LOG_LINES,
                       Thread::TIMER_INTERVAL_MS, none);
    system->start(none);
    watcher.setSystemRunning(true);
    const u32 endCode = system->waitForExit();
    watcher.stop();
    system.reset();
    return endCode;
}

} // namespace

int applicationMain(int argc, char** argv, u16 consolePort)
{
    CommandLineOptions& options = CommandLineOptions::getInstance();
    options.parse(argc, argv);
    KLIB::setHeapTraceFlag(0, 0);
    TMS::ThreadRepository::initialize();

    PyriteProductInfo& info = PyriteProductInfo::getInstance();
    info.initialize(options.getProgramDirectory().c_str());
    applyWorkAndUid(options, info);

    vsockInitialize();
    PYRITE::StopSignalWatcher watcher;
    watcher.start();
    const u32 endCode = runSystem(consolePort, watcher);
    vsockFinalize();

    info.finalize(endCode == 1 ? 1 : 0);
    TMS::ThreadRepository::finalize();
    if (endCode == 1 && argc >= 1 && argv != nullptr) {
        restartProgram(argv[0]);
    }
    return 0;
}

#include "pyrite_ClientSystemThread.h"

#include <cstring>

#include "lpc_ThreadCommon.h"
#include "pyrite_ProductInfo.h"
#include "pyrite_Result.h"

namespace PYRITE {

namespace {

u32 readUnsigned(TMS::AbstractThread& thread, const char* name)
{
    KVariant value;
    thread.getSystemInfo(value, name, 0);
    return value.getUInt();
}

} // namespace

PyriteClientSystemThread::PyriteClientSystemThread(u16 consolePort)
    : TMS::SystemThread(QUEUE_CAPACITY), m_debugConsole(consolePort)
{
}

PyriteClientSystemThread::~PyriteClientSystemThread()
{
    release();
}

u32 PyriteClientSystemThread::onTimer(u32, u32)
{
    return 0;
}

u32 PyriteClientSystemThread::onInitialize(const TMS::FieldMap& arguments)
{
    if (pyriteFailed(registerSystemInfoItems(this))) {
        return PYRITE_E_FAILED;
    }
    LPC::LpcThreadCommon::getInstance().initialize();

    const struct
    {
        TMS::AbstractThread* m_thread;
        const char* m_name;
        u8 m_stage;
    } threads[] = {
        {&m_debugConsole, "DebugConsole", 1}, {&m_deviceControl, "DeviceControl", 2},
        {&m_vdProtocol, "VDProtocol", 3},     {&m_sync, "Sync", 4},
        {&m_compiler, "Compiler", 5},         {&m_nqDeviceControl, "DeviceControlForNQ", 2},
        {&m_oscServer, "OSCServer", 4},       {&m_huxRemote, "HUXRemote", 5},
    };
    for (const auto& entry : threads) {
        entry.m_thread->initialize(entry.m_name, TASK_PRIORITY, entry.m_stage, STACK_SIZE, HEAP_SIZE, LOG_LINES,
                                   TIMER_INTERVAL_MS, TMS::AbstractMessage::emptyFields());
    }
    for (const auto& entry : threads) {
        addChild(entry.m_thread);
    }
    return TMS::SystemThread::onInitialize(arguments);
}

u32 PyriteClientSystemThread::onChangeSystemInfo()
{
    const u32 result = TMS::SystemThread::onChangeSystemInfo();
    const bool changed = isSystemInfoDirty("ProductState", 0, true) || isSystemInfoDirty("PDBState", 0, true) ||
                         isSystemInfoDirty("VDPState", 0, true);
    if (!changed) {
        return result;
    }
    if (readUnsigned(*this, "ProductState") == 0 && readUnsigned(*this, "PDBState") == 1 &&
        readUnsigned(*this, "VDPState") == 1) {
        setSystemInfo("ProductState", 0, KVariant(1u));
        commitSystemInfo();
    }
    return result;
}

u32 PyriteClientSystemThread::onReceiveMessage(const TMS::AbstractMessage& message)
{
    const u32 result = TMS::SystemThread::onReceiveMessage(message);
    if (message.getCode() != 0) {
        return result;
    }
    const char* command = message.getValue("CommandName").getString();
    if (command != nullptr && std::strcmp(command, "Close") == 0) {
        release();
    }
    return result;
}

} // namespace PYRITE

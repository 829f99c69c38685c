#include "lpc_ThreadCommon.h"

#include <new>
#include <string>

#include "pyrite_ProductInfo.h"
#include "pyrite_Result.h"
#include "pyrite_SystemRequest.h"
#include "tms_Message.h"
#include "tms_ThreadRepository.h"

namespace LPC {

LpcThreadCommon& LpcThreadCommon::getInstance()
{
    static LpcThreadCommon instance;
    return instance;
}

u32 LpcThreadCommon::initialize()
{
    if (m_mutex != nullptr) {
        return PYRITE::PYRITE_E_FAILED;
    }
    std::unique_ptr<TMS::TMSMutex> mutex(new (std::nothrow) TMS::TMSMutex("LpcThreadCommon"));
    if (mutex == nullptr || !mutex->isValid()) {
        return PYRITE::PYRITE_E_FAILED;
    }
    m_mutex = std::move(mutex);
    TMS::TMSMutexLocker locker(m_mutex.get());
    const std::string directory = PyriteProductInfo::getInstance().getSettings().m_settingsDirectory;
    if (m_settings.open(directory.c_str(), FILECACHE::VDirTreeItem::kKindFile, "./SystemSetting.ini") < 0 ||
        m_settings.load() < 0) {
        return PYRITE::PYRITE_E_FAILED;
    }
    return PYRITE::PYRITE_OK;
}

u32 requestRestartWithInitialize()
{
    TMS::ThreadRepository::acquireThread("System")->setExitCode(1);
    PYRITE::requestSystemClose();
    return PYRITE::PYRITE_OK;
}

u32 requestSyncReceive()
{
    TMS::AbstractMessage message;
    message.initialize(TMS::MESSAGE_KIND_USER, 0);
    message.setString("CommandName", "NQSync");
    message.setString("Operation", "Receive");
    message.setString("Status", "End");
    return message.sendTo("DeviceControl");
}

} // namespace LPC

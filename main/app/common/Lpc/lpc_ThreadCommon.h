// LpcThreadCommon: the process-wide settings of logical position control, read from "SystemSetting.ini" in the
// directory the product information read it from. Initialised once by the System thread.
#pragma once

#include <memory>

#include "fcache_IniFile.h"
#include "klib_Types.h"
#include "tms_Mutex.h"

namespace LPC {

class LpcThreadCommon
{
public:
    static LpcThreadCommon& getInstance();

    // Creates the mutex "LpcThreadCommon" and loads the settings file: 0. 0x80000000 when already initialised,
    // when the mutex cannot be created or the file cannot be read.
    u32 initialize();

    LpcThreadCommon(const LpcThreadCommon&) = delete;
    LpcThreadCommon& operator=(const LpcThreadCommon&) = delete;

private:
    LpcThreadCommon() = default;
    ~LpcThreadCommon() = default;

    std::unique_ptr<TMS::TMSMutex> m_mutex;
    FILECACHE::IniFile m_settings;
};

// Ends the program with a restart that first removes the storage: sets the end code of "System" to 1 and
// releases it (see PYRITE::requestSystemClose). 0.
u32 requestRestartWithInitialize();

// Asks the device-control thread to take the values a synchronisation received: posts {"CommandName" "NQSync",
// "Operation" "Receive", "Status" "End"} to "DeviceControl" with waiting. The post's result.
u32 requestSyncReceive();

} // namespace LPC

// The fixture of the thread-logger suites: a logger and its mutex over the OS layer.
#pragma once

#include <string>

#include "tms_Mutex.h"
#include "tms_TestSupport.h"
#include "tms_ThreadLogger.h"

namespace tmstest {

class ThreadLoggerTest : public OsLayerTest
{
protected:
    std::string line(u32 index)
    {
        char out[TMS::ThreadLogger::LINE_SIZE];
        EXPECT_EQ(logger.getLine(index, out, sizeof(out)), 0u);
        return out;
    }

    TMS::TMSMutex mutex{"TMSThread"};
    TMS::ThreadLogger logger;
};

} // namespace tmstest

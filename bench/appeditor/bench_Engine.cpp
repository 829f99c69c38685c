#include "bench_Engine.h"

#include "dadov_AudioComponentCollection.h"
#include "dadov_AudioConfigDB.h"
#include "logic_LogicComponentCollection.h"
#include "tms_ThreadRepository.h"

namespace appeditorbench {

bool startEngine()
{
    static const bool started = [] {
        (void)TMS::ThreadRepository::initialize();
        (void)LogicCtrl::LogicComponentCollection::getInstance().initialize();
        (void)DADOV::AudioConfigDB::getInstance().initialize();
        return DADOV::AudioComponentCollection::getInstance().initialize(APPEDITOR_BENCH_PLUGIN_DIR, 10) == 0;
    }();
    return started;
}

} // namespace appeditorbench

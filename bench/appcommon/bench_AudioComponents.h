// Emptying the process-wide audio component collection between benchmark runs.
#pragma once

#include "dadov_AudioComponentCollection.h"
#include "tms_AbstractThread.h"

namespace benchaudio {

// Removes every audio component through the calling (registered) thread and waits until the last one is gone.
inline void removeAllComponents()
{
    DADOV::AudioComponentCollection& collection = DADOV::AudioComponentCollection::getInstance();
    collection.reqRemoveAllComponents();
    collection.updateByThread();
    while (collection.getNumComponents() != 0) {
        TMS::AbstractThread::sleep(1);
        collection.updateByThread();
    }
}

} // namespace benchaudio

// The audio engine as the compiler suites need it: the eleven parameter databases, the logic registry, the audio
// configuration and the audio component collection over a folder of test plug-ins, with the calling thread
// registered with the collection.
#pragma once

#include <string>

#include "dadov_AudioComponentCollection.h"
#include "dadov_TestSupport.h"
#include "klib_Types.h"

namespace pyritetest {

class AudioEngine
{
public:
    // Installs "testgain_1.dll", "hugegain_1.dll" and "TestMixer_2.dll", starts the OS layer (it stays up)
    // and everything above, and registers the caller.
    AudioEngine();
    // Ends the caller's use and finalizes the collection, the configuration and the logic registry.
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    DADOV::AudioComponentCollection& collection() { return DADOV::AudioComponentCollection::getInstance(); }
    // Adds a component (a test failure when it cannot be added).
    void add(const char* type, u32 majorVersion, u32 uid, u32 numX = 1, u32 numY = 1);
    // Removes every component and takes the removal into the caller's list.
    void clear();

private:
    dadovtest::PluginFolder m_folder;
};

} // namespace pyritetest

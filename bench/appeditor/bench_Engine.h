// The audio engine the benchmarks of this program share: the thread repository, the logic registry, the audio
// configuration and the component collection on the folder of the shipped gain plug-in, started once per process.
#pragma once

namespace appeditorbench {

// True when the collection is started.
bool startEngine();

} // namespace appeditorbench

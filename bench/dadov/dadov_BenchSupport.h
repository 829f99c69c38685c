// Set-up shared by the engine benchmarks.
#pragma once

namespace dadovbench {

// Once per process: the OS layer, parameter databases 0 to 10 (10 is the component database, each with a lock of
// its own) and the logic registry.
void startEngine();

} // namespace dadovbench

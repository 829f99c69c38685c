// Test-only controls of the project file's folder swap. Production code never includes this header.
#pragma once

namespace PDB::projecttesthooks {

// Makes the swap act as on a file system without atomic exchange (rename aside, rename in).
void setAtomicExchange(bool enabled);
// Makes the swap of the index-th item folder (from 0, in item order) of every later load fail; -1 turns it off.
void failSwapAt(int index);

} // namespace PDB::projecttesthooks

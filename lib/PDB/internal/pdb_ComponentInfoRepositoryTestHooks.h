// Test-only controls of the component description repository. Production code never includes this header.
#pragma once

namespace PDB::testhooks {

// Forgets every stored description, so a test that lays out other descriptions starts from none. Only while no
// component or database refers to a stored description.
void clearComponentInfos();

} // namespace PDB::testhooks

// Helpers of the application-core suites: component types of unsigned parameters and shared databases in the
// process-wide collection (each test runs as its own process, so a test owns the collection).
#pragma once

#include <string>
#include <vector>

#include "klib_Types.h"
#include "pdb_IParameterDB.h"

namespace appcommontest {

// Registers the type name/1 with one nonvolatile UINT32 parameter of count x 1 elements per address.
void registerUIntType(const char* name, const std::vector<std::string>& addresses, u32 count);

// The shared database id/name in the process-wide collection (one lock for all of them), deleted again at the
// end of its scope; a creation failure fails the test.
class SharedDatabase
{
public:
    SharedDatabase(u32 id, const char* name);
    ~SharedDatabase();
    SharedDatabase(const SharedDatabase&) = delete;
    SharedDatabase& operator=(const SharedDatabase&) = delete;

    PDB::IParameterDB& get() const;

private:
    u32 m_id;
};

// Sets the millisecond clock so that it reads `ms` now.
void setClock(u32 ms);

} // namespace appcommontest

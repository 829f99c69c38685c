// The command modules of the debug console (Top, Thread, Component, PDB), their table and the banner.
//
// Component and PDB commands that post messages address the application threads by name ("DeviceControl",
// "Compiler", "DSP", "DSPMeter"); show/get/set work on the component database, entry 10 of the process-wide
// database collection (the null database while there is none).
#pragma once

#include <string>

#include "dbgc_DebugConsole.h"
#include "klib_Types.h"

namespace PDB {
class IParameterDB;
}

namespace DBGC {

constexpr u32 MODULE_TOP = 0;
constexpr u32 MODULE_THREAD = 1;
constexpr u32 MODULE_COMPONENT = 2;
constexpr u32 MODULE_PDB = 3;

// The module table of the TCP console, in the order above.
const ModuleEntry* getModuleTable();
u32 getModuleCount();

// The product lines of the banner.
struct BannerInfo
{
    std::string m_product = "---";
    std::string m_bootLoaderVersion = "------";
    std::string m_kernelVersion = "------";
    std::string m_programVersion = "------";
};

// Fills the product lines; called for every new peer, on the console's thread.
using BannerSource = void (*)(BannerInfo& info);

// Registers where the banner's product lines come from (the program registers its product information); null
// leaves the defaults above. Any thread. The source registered before.
BannerSource setBannerSource(BannerSource source);

// The greeting of a new peer, with the product lines of the registered source.
void printBanner(DebugConsole& console);

i32 moduleTop(DebugConsole& console, u32 count, StringElement words[]);
i32 moduleThread(DebugConsole& console, u32 count, StringElement words[]);
i32 moduleComponent(DebugConsole& console, u32 count, StringElement words[]);
i32 modulePDB(DebugConsole& console, u32 count, StringElement words[]);

constexpr u32 COMPONENT_DATABASE_ID = 10;

// The database of Component show/get/set.
PDB::IParameterDB& getComponentDatabase();

} // namespace DBGC

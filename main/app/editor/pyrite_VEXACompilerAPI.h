// VEXACompilerAPI: what the compiler thread needs around a compile. It describes the virtual device's current
// audio components and connections in the three compiler input documents, answers the device's processing
// capacity and its components' processing load, and keeps the process-wide abort flag that the compile polls.
//
// The device model is fixed: DSP system "VEXA256-D" with one DSP "VEXA-D CPU" at 96000 Hz and 32 samples per
// frame, four cores of 333333 "step" each. A component's processing load is its "step" size for that DSP.
//
// The documents are the JSON library's dump with an indent of 2 spaces, keys in ascending byte order and text
// written as it is (invalid UTF-8 as U+FFFD, so a plug-in's odd name never stops a compile). No exception leaves
// a writer: a text that cannot be built is returned empty.
//
// The operations read the calling thread's list of the audio component collection (the collection locks itself);
// call them on the thread that owns that list.
#pragma once

#include <string>
#include <vector>

#include "compiler_ComponentDBConverter.h"
#include "dadov_AudioComponentCollection.h"
#include "klib_Types.h"

namespace PYRITE::VEXACompilerAPI {

using ComponentList = DADOV::AudioComponentCollection::ComponentList;

inline constexpr const char* DSP_SYSTEM_NAME = "VEXA256-D";
inline constexpr const char* DSP_NAME = "VEXA-D CPU";
inline constexpr u32 FS_HZ = 96000;
inline constexpr u32 NUM_SAMPLE_PER_FRAME = 32;
inline constexpr i32 RENDER_SAMPLES = 32;
inline constexpr u32 NUM_CORES = 4;
inline constexpr const char* PROCESSING_RESOURCE = "step";
inline constexpr const char* FIXED_DELAY = "fixedDelay";
inline constexpr u32 CORE_STEP_SIZE = 333333;
inline constexpr u32 TOTAL_CAPACITY = NUM_CORES * CORE_STEP_SIZE;

// ComponentDB of the calling thread's components: one entry per distinct (name, majorVersion, numX, numY), in
// list order, with the port counts and the "fixedDelay" and "step" sizes for the DSP.
std::string createComponentDB();
// ConnectionDB of the calling thread's components, the collection's audio connections and the components' logic
// links; empty when the collection cannot give its connection list.
std::string createConnectionDB();
// DspSystemDB: the fixed device model; the same text on every call.
std::string createDspSystemDB();

// The steps of the two forms above. Null list entries are skipped. A type has one DSP entry (DSP_NAME, FS_HZ,
// NUM_SAMPLE_PER_FRAME, its "fixedDelay") with one resource: PROCESSING_RESOURCE and its size.
std::vector<Compiler::ComponentTypeInfo> collectComponentTypes(const ComponentList& components);
std::vector<DADOV::AudioConfigComponent> collectInstances(const ComponentList& components);
// The links of the components' logic parts; a link is recorded on both of its ends and may come twice.
std::vector<DADOV::AudioConnection> collectLogicConnections(const ComponentList& components);
std::string writeComponentDB(const std::vector<Compiler::ComponentTypeInfo>& types);
// Writes the DSP system setting, then the instances (ascending by uniqID, name, majorVersion, numX, numY), the
// audio connections and the logic connections (each ascending), every list with equal entries once.
std::string writeConnectionDB(std::vector<DADOV::AudioConfigComponent> instances,
                              std::vector<DADOV::AudioConnection> connections,
                              std::vector<DADOV::AudioConnection> logicConnections);

// The "step" size of the component of that uniqID in the calling thread's list; 0 when there is none.
u32 getProcessingResourceUsage(u32 uniqID);
// TOTAL_CAPACITY.
u32 getTotalProcessingResourceCapacity();
// The sum over the calling thread's list, saturated at 0xFFFFFFFF.
u32 getTotalProcessingResourceUsage();

// The abort flag: cleared by an atomic exchange (0), read with a plain load. Nothing in the program sets it.
i32 clearAbortRequest();
bool isAbortRequested();

} // namespace PYRITE::VEXACompilerAPI

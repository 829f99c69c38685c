#include "compiler_DspSystemDBConverter.h"

#include "compiler_JsonReader.h"
#include "dbgc_Print.h"
#include "klib_Print.h"

namespace Compiler {

using PDB::JsonAdapter;

namespace {

void convert(const JsonValue& root, DspSystemDB& destination)
{
    const JsonValue& database = jsonMember(root, "dspSystemDB");
    if (JsonAdapter::isNull(&database)) {
        dbgc_printf("JSON: 'dspSystemDB' tag not found.\n");
        return;
    }
    const JsonValue& systems = jsonMember(database, "dspSystems");
    if (JsonAdapter::isNull(&systems)) {
        dbgc_printf("JSON: 'dspSystems' tag not found.\n");
        return;
    }
    const size_t count = jsonElementCount(systems);
    for (size_t s = 0; s < count; ++s) {
        const JsonValue& systemEntry = jsonElement(systems, s);
        DspSystemInfo system;
        (void)readJsonString(systemEntry, "name", system.m_name, "");
        (void)readJsonUInt32(systemEntry, "fsHz", system.m_fsHz, 0);
        (void)readJsonUInt32(systemEntry, "numSamplePerFrame", system.m_numSamplePerFrame, 0);
        const JsonValue& dsps = jsonMember(systemEntry, "dsps");
        const size_t dspCount = jsonElementCount(dsps);
        for (size_t d = 0; d < dspCount; ++d) {
            const JsonValue& dspEntry = jsonElement(dsps, d);
            DspInfo dsp;
            dsp.m_dspNo = static_cast<u32>(d);
            (void)readJsonString(dspEntry, "name", dsp.m_name, "");
            const JsonValue& cores = jsonMember(dspEntry, "cores");
            const size_t coreCount = jsonElementCount(cores);
            for (size_t c = 0; c < coreCount; ++c) {
                const JsonValue& resources = jsonMember(jsonElement(cores, c), "resources");
                CoreInfo core;
                core.m_coreNo = static_cast<u32>(c);
                const size_t resourceCount = jsonElementCount(resources);
                for (size_t r = 0; r < resourceCount; ++r) {
                    const JsonValue& resourceEntry = jsonElement(resources, r);
                    CoreResource resource;
                    (void)readJsonString(resourceEntry, "name", resource.m_name, "");
                    (void)readJsonUInt32(resourceEntry, "offset", resource.m_offset, 0);
                    (void)readJsonUInt64(resourceEntry, "size", resource.m_size, 0);
                    (void)readJsonBool(resourceEntry, "shared", resource.m_shared, false);
                    core.m_resources.push_back(std::move(resource));
                }
                dsp.m_cores.push_back(std::move(core));
            }
            system.m_dsps.push_back(std::move(dsp));
        }
        destination.m_dspSystems.push_back(std::move(system));
    }
}

} // namespace

i32 loadDspSystemDB(DspSystemDB& destination, const std::string& text)
{
    destination.m_dspSystems.clear();
    if (!convertJsonText(text, [&](const JsonValue& root) { convert(root, destination); })) {
        KLIB_LOG("[E] compiler_DspSystemDBConverter: unknown exception occurred.\n");
    }
    return 0;
}

} // namespace Compiler

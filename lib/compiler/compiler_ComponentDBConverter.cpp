#include "compiler_ComponentDBConverter.h"

#include "compiler_JsonReader.h"
#include "dbgc_Print.h"
#include "klib_Print.h"

namespace Compiler {

namespace {

void convert(const JsonValue& root, ComponentDB& destination)
{
    const JsonValue& database = jsonMember(root, "componentDB");
    if (PDB::JsonAdapter::isNull(&database)) {
        dbgc_printf("JSON: 'componentDB' tag not found.\n");
        return;
    }
    const JsonValue& components = jsonMember(database, "components");
    if (PDB::JsonAdapter::isNull(&components)) {
        dbgc_printf("JSON: 'components' tag not found.\n");
        return;
    }
    const size_t count = jsonElementCount(components);
    destination.m_components.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const JsonValue& entry = jsonElement(components, i);
        ComponentTypeInfo type;
        (void)readJsonString(entry, "name", type.m_name, "");
        (void)readJsonUInt32(entry, "majorVersion", type.m_majorVersion, 0);
        (void)readJsonUInt32(entry, "numX", type.m_numX, 0);
        (void)readJsonUInt32(entry, "numY", type.m_numY, 0);
        (void)readJsonUInt32(entry, "numInPort", type.m_numInPort, 0);
        (void)readJsonUInt32(entry, "numOutPort", type.m_numOutPort, 0);
        const JsonValue& dspResources = jsonMember(entry, "dspResources");
        const size_t dspCount = jsonElementCount(dspResources);
        for (size_t d = 0; d < dspCount; ++d) {
            const JsonValue& dspEntry = jsonElement(dspResources, d);
            DspResourceInfo dsp;
            (void)readJsonString(dspEntry, "dspName", dsp.m_dspName, "");
            (void)readJsonUInt32(dspEntry, "fsHz", dsp.m_fsHz, 0);
            (void)readJsonUInt32(dspEntry, "numSamplePerFrame", dsp.m_numSamplePerFrame, 0);
            (void)readJsonUInt32(dspEntry, "fixedDelay", dsp.m_fixedDelay, 0);
            const JsonValue& resources = jsonMember(dspEntry, "resources");
            const size_t resourceCount = jsonElementCount(resources);
            for (size_t r = 0; r < resourceCount; ++r) {
                const JsonValue& resourceEntry = jsonElement(resources, r);
                ResourceAmount resource;
                (void)readJsonString(resourceEntry, "name", resource.m_name, "");
                (void)readJsonUInt32(resourceEntry, "size", resource.m_size, 0);
                dsp.m_resources.push_back(std::move(resource));
            }
            type.m_dspResources.push_back(std::move(dsp));
        }
        destination.m_components.push_back(std::move(type));
    }
}

} // namespace

i32 loadComponentDB(ComponentDB& destination, const std::string& text)
{
    destination.m_components.clear();
    if (!convertJsonText(text, [&](const JsonValue& root) { convert(root, destination); })) {
        KLIB_LOG("[E] compiler_ComponentDBConverter: unknown exception occurred.\n");
    }
    return 0;
}

} // namespace Compiler

#include "compiler_CompilerForNativeCPU.h"

#include <algorithm>
#include <string_view>
#include <tuple>

namespace Compiler {

i32 CompilerForNativeCPU::isAborted(bool& aborted)
{
    if (m_callback == nullptr) {
        aborted = false;
        return COMPILER_OK;
    }
    return m_callback->isAborted(aborted);
}

i32 CompilerForNativeCPU::buildCompileList(std::vector<CompileComponent>& compileList) const
{
    // The first type of each (name, majorVersion, numX, numY), found by binary search.
    using Key = std::tuple<std::string_view, u32, u32, u32>;
    std::vector<std::pair<Key, size_t>> types;
    types.reserve(m_componentDB.m_components.size());
    for (size_t i = 0; i < m_componentDB.m_components.size(); ++i) {
        const ComponentTypeInfo& type = m_componentDB.m_components[i];
        types.emplace_back(Key{type.m_name, type.m_majorVersion, type.m_numX, type.m_numY}, i);
    }
    std::stable_sort(types.begin(), types.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

    compileList.clear();
    compileList.reserve(m_connectionDB.m_components.size());
    for (const ComponentInstance& instance : m_connectionDB.m_components) {
        const Key key{instance.m_name, instance.m_majorVersion, instance.m_numX, instance.m_numY};
        const auto it = std::lower_bound(types.begin(), types.end(), key,
                                         [](const auto& entry, const Key& k) { return entry.first < k; });
        if (it == types.end() || it->first != key) {
            return COMPILER_E_NO_SYSTEM;
        }
        const ComponentTypeInfo& type = m_componentDB.m_components[it->second];
        CompileComponent& component = compileList.emplace_back();
        component.m_uniqID = instance.m_uniqID;
        component.m_name = instance.m_name;
        component.m_majorVersion = instance.m_majorVersion;
        component.m_numX = instance.m_numX;
        component.m_numY = instance.m_numY;
        component.m_numInPort = type.m_numInPort;
        component.m_numOutPort = type.m_numOutPort;
        component.m_dspResources.reserve(type.m_dspResources.size());
        for (const DspResourceInfo& resources : type.m_dspResources) {
            component.m_dspResources.push_back(
                {resources.m_dspName, resources.m_fsHz, resources.m_numSamplePerFrame, resources.m_resources});
        }
    }
    return COMPILER_OK;
}

i32 CompilerForNativeCPU::compile(const std::string& componentDB, const std::string& connectionDB,
                                  const std::string& dspSystemDB, ICompilerCallbackForNativeCPU* callback,
                                  std::string& out)
{
    out.clear();
    m_working.reset();
    // A model left from an earlier compile must never stand in for a system that does not match now.
    m_model.reset();
    (void)loadComponentDB(m_componentDB, componentDB);
    (void)loadDspSystemDB(m_dspSystemDB, dspSystemDB);
    (void)loadConnectionDB(m_connectionDB, connectionDB);

    const DspSystemSetting& setting = m_connectionDB.m_dspSystem;
    const auto system = std::find_if(m_dspSystemDB.m_dspSystems.begin(), m_dspSystemDB.m_dspSystems.end(),
                                     [&setting](const DspSystemInfo& s) {
                                         return s.m_name == setting.m_name && s.m_fsHz == setting.m_fsHz &&
                                                s.m_numSamplePerFrame == setting.m_numSamplePerFrame;
                                     });
    if (system == m_dspSystemDB.m_dspSystems.end() ||
        m_model.build(*system, setting.m_renderSamples, setting.m_delayCompensation) != COMPILER_OK ||
        !m_model.isValid()) {
        return COMPILER_E_NO_SYSTEM;
    }
    std::vector<CompileComponent> compileList;
    if (buildCompileList(compileList) != COMPILER_OK) {
        return COMPILER_E_NO_SYSTEM;
    }

    m_callback = callback;
    DspResourceModel model = m_model;
    const i32 result = m_uniqIdOrder.compile(compileList, m_connectionDB.m_connections, model, m_working, this);
    m_callback = nullptr;
    m_working.m_logicConnections.insert(m_working.m_logicConnections.end(), m_connectionDB.m_logicConnections.begin(),
                                        m_connectionDB.m_logicConnections.end());
    m_lastResult = m_working;
    if (writeCompileResult(m_working, out) != COMPILER_OK) {
        return COMPILER_E_FAILED;
    }
    return result;
}

} // namespace Compiler

// The front object of the DSP resource compiler: from the ComponentDB, ConnectionDB and DspSystemDB texts to a
// result code and the CompileResult text. It picks the DSP system the configuration targets, models it, places
// every component instance with the uniqID-order strategy and writes the outcome. Identical inputs give
// byte-identical texts.
#pragma once

#include <string>
#include <vector>

#include "compiler_AbstractSimpleCompileStrategy.h"
#include "compiler_CompileResult.h"
#include "compiler_ComponentDBConverter.h"
#include "compiler_ConnectionDBConverter.h"
#include "compiler_DspResourceModel.h"
#include "compiler_DspSystemDBConverter.h"
#include "compiler_Result.h"
#include "klib_Types.h"

namespace Compiler {

// The caller's abort query, asked once before each placement.
class ICompilerCallbackForNativeCPU
{
public:
    virtual ~ICompilerCallbackForNativeCPU() = default;
    virtual i32 isAborted(bool& aborted) = 0;
};

class CompilerForNativeCPU : public ICompileStrategyCallback
{
public:
    CompilerForNativeCPU() = default;

    // Compiles the three document texts (not file names). out holds the CompileResult text whenever the
    // placement ran, whatever its outcome; its "result" tells the outcomes apart. Returns:
    //   0 every component placed within the core capacities;
    //   COMPILER_E_NO_SYSTEM no DSP system matches the ConnectionDB setting (name, fsHz, numSamplePerFrame), the
    //     system cannot be modelled, or an instance has no component type (out stays empty);
    //   COMPILER_E_ABORTED, COMPILER_E_OVERFLOW, COMPILER_E_NO_CORE, COMPILER_E_NO_STEP from the strategy;
    //   COMPILER_E_FAILED when the result has no DSP system name.
    [[nodiscard]] i32 compile(const std::string& componentDB, const std::string& connectionDB,
                              const std::string& dspSystemDB, ICompilerCallbackForNativeCPU* callback,
                              std::string& out);

    // Forwards to the compile's callback; without one: 0 and not aborted.
    i32 isAborted(bool& aborted) override;

    // The record of the last compile that got as far as writing.
    const CompileResult& getLastResult() const { return m_lastResult; }

private:
    [[nodiscard]] i32 buildCompileList(std::vector<CompileComponent>& compileList) const;

    ComponentDB m_componentDB;
    ConnectionDB m_connectionDB;
    DspSystemDB m_dspSystemDB;
    CompileResult m_lastResult;
    CompileResult m_working;
    DspResourceModel m_model;
    ICompilerCallbackForNativeCPU* m_callback = nullptr;
    CompileStrategyUniqIdOrder m_uniqIdOrder;
    CompileStrategyStepSizeOrder m_stepSizeOrder; // kept, never run
};

} // namespace Compiler

// Compile strategies: a list scheduler that places every component instance on one core of the DSP system and
// gives it a range on that core's "step" axis, so that a component starts only after every component feeding it
// has finished. It keeps a current step, collects the components whose sources have all finished by then, places
// the first of them on the first core that can take it at that step, and moves the step forward when nothing
// can be placed.
#pragma once

#include <set>
#include <vector>

#include "compiler_CompileResult.h"
#include "compiler_DspResourceModel.h"
#include "compiler_Result.h"
#include "klib_Types.h"

namespace Compiler {

class ICompileStrategyCallback
{
public:
    virtual ~ICompileStrategyCallback() = default;
    // aborted: true to end the compile. A failure result counts as "not aborted".
    virtual i32 isAborted(bool& aborted) = 0;
};

// The components ready at the current step, ascending by uniqID, and which of them is placed next (the lowest
// unless an ordering hook chooses another).
class ReadyList
{
public:
    const std::set<u32>& getUniqIDs() const { return m_uniqIDs; }
    u32 getFirst() const { return m_first; }
    // Makes uniqID the one placed next: true; false when it is not in the list.
    bool setFirst(u32 uniqID);

private:
    friend class AbstractSimpleCompileStrategy;
    std::set<u32> m_uniqIDs;
    u32 m_first = 0;
};

class ICompileStrategy
{
public:
    virtual ~ICompileStrategy() = default;
    // Places the compile list on the model (which it changes) and fills record: 0; COMPILER_E_ABORTED;
    // COMPILER_E_OVERFLOW (a "step" capacity exceeded, every component still placed; or the dependency graph
    // refused); COMPILER_E_NO_CORE; COMPILER_E_NO_STEP.
    virtual i32 compile(const std::vector<CompileComponent>& compileList, const std::vector<Connection>& connections,
                        DspResourceModel& model, CompileResult& record, ICompileStrategyCallback* callback) = 0;
};

class AbstractSimpleCompileStrategy : public ICompileStrategy
{
public:
    i32 compile(const std::vector<CompileComponent>& compileList, const std::vector<Connection>& connections,
                DspResourceModel& model, CompileResult& record, ICompileStrategyCallback* callback) override;

    // The graph of sources per uniqID. 0; COMPILER_E_OVERFLOW when the connections form a cycle (a self-loop
    // included), a connection names a uniqID not in the compile list, or a uniqID is listed twice: the list
    // scheduler could never place every component then.
    [[nodiscard]] i32 buildDependencyGraph(const std::vector<CompileComponent>& compileList,
                                           const std::vector<Connection>& connections);

protected:
    // May choose another ready component to be placed next. The result is not looked at.
    virtual i32 orderReadyList(const std::vector<CompileComponent>& compileList,
                               const std::vector<Connection>& connections, const DspResourceModel& model,
                               ReadyList& readyList) = 0;

private:
    // Nodes in ascending uniqID order; sources and successors as node indices (each once).
    std::vector<u32> m_uniqIDs;
    std::vector<u32> m_componentIndex; // node -> its entry in the compile list
    std::vector<u32> m_sourceCount;
    std::vector<u32> m_successorStart; // node -> first entry in m_successors; one more entry than nodes
    std::vector<u32> m_successors;
};

// Places the lowest uniqID first.
class CompileStrategyUniqIdOrder : public AbstractSimpleCompileStrategy
{
protected:
    i32 orderReadyList(const std::vector<CompileComponent>& compileList, const std::vector<Connection>& connections,
                       const DspResourceModel& model, ReadyList& readyList) override;
};

// Kept beside the uniqID order; it leaves the order unchanged and reports COMPILER_E_FAILED.
class CompileStrategyStepSizeOrder : public AbstractSimpleCompileStrategy
{
protected:
    i32 orderReadyList(const std::vector<CompileComponent>& compileList, const std::vector<Connection>& connections,
                       const DspResourceModel& model, ReadyList& readyList) override;
};

} // namespace Compiler

// VEXACompilerThread: the thread "Compiler" (stage 5, queue of 1 message), the only owner of the DSP resource
// compiler. It answers the device's processing capacity and its components' processing load, and on
// "startCompile" writes the three input documents, compiles them, stores the result as "CompileResult.json" and as
// the current audio configuration, and notifies the requester.
//
// Commands (field "CommandName", code 0; anything else is ignored). Every answer is a new user message with code 0
// sent, with waiting, to the thread named as the request's sender:
//   "getTotalProcessingResourceCapacity" -> "Re:getTotalProcessingResourceCapacity" {"Result" unsigned}
//   "getTotalProcessingResourceUsage"    -> "Re:getTotalProcessingResourceUsage" {"Result" unsigned}
//   "getProcessingResourceUsage" {"UniqId"} -> "Re:getProcessingResourceUsage" {"UniqId", "Result" unsigned}
//   "startCompile" -> "Re:startCompile" {"Result" signed 0} at once, then "Notify:compileResult" {"Result"
//   unsigned: the compiler's code, or 0x80000000 when the result could not be stored}
//
// The files go to storage path row 1 (the storage base + "/Config"), each replaced atomically: an input document
// that cannot be written is skipped (the compiler takes the texts), while a "CompileResult.json" that cannot be
// written fails the compile and leaves the previous file as it was. The first compile removes what replacements of
// these four files that an ended process never finished left in the folder.
#pragma once

#include <string>

#include "compiler_CompilerForNativeCPU.h"
#include "pyrite_AppThread.h"

namespace PYRITE {

class VEXACompilerThread : public PyriteAppThread, private Compiler::ICompilerCallbackForNativeCPU
{
public:
    static constexpr u32 QUEUE_CAPACITY = 1;
    static constexpr u32 RESULT_FAILED = 0x80000000;

    VEXACompilerThread();
    ~VEXACompilerThread() override;

    u32 onReceiveMessage(const TMS::AbstractMessage& message) override;

private:
    // Answers the abort flag of the compiler API: 0.
    i32 isAborted(bool& aborted) override;

    // Writes the documents, compiles, stores the result: the notification's result.
    u32 startCompile();
    // A new user message with "CommandName", to be sent to the requester.
    static TMS::AbstractMessage answer(const char* command);

    Compiler::CompilerForNativeCPU m_compiler;
    bool m_leftoversRemoved = false;
};

} // namespace PYRITE

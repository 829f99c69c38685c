// VEXACompilerThread: the thread "Compiler" (stage 5, queue of 1 message), which will run the DSP resource
// compiler. It does nothing yet.
#pragma once

#include "pyrite_AppThread.h"

namespace PYRITE {

class VEXACompilerThread : public PyriteAppThread
{
public:
    static constexpr u32 QUEUE_CAPACITY = 1;

    VEXACompilerThread() : PyriteAppThread(QUEUE_CAPACITY) {}
    ~VEXACompilerThread() override = default;
};

} // namespace PYRITE

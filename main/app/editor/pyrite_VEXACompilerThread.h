// VEXACompilerThread: the thread "Compiler" (stage 5, queue of 1 message), which will run the DSP resource
// compiler. It does nothing yet.
#pragma once

#include "tms_AbstractThread.h"

namespace PYRITE {

class VEXACompilerThread : public TMS::AbstractThread
{
public:
    static constexpr u32 QUEUE_CAPACITY = 1;

    VEXACompilerThread() : TMS::AbstractThread(QUEUE_CAPACITY) {}
    ~VEXACompilerThread() override = default;
};

} // namespace PYRITE

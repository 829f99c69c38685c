// IParameterArrayCallback: how a parameter array reports to its component. A shared-database component
// implements it; arrays without one use the shared DummyParameterArrayCallback.
#pragma once

#include "klib_Types.h"

namespace PDB {

class IParameterArrayCallback
{
public:
    virtual ~IParameterArrayCallback() = default;
    // After an accepted write of element linearIndex (0xFFFFFFFF: every element) of block; recalling is the
    // owner database's recall state at the time of the write.
    virtual i32 onChanged(u32 blockIndex, u32 linearIndex, bool recalling) = 0;
    // A write of element (x, y) that the strategy refused; code is 0x80000004.
    virtual i32 onRejected(u32 blockIndex, u32 x, u32 y, i32 code) = 0;
};

// Accepts every report and does nothing. One shared instance (getInstance), never freed by its users.
class DummyParameterArrayCallback final : public IParameterArrayCallback
{
public:
    static DummyParameterArrayCallback& getInstance();

    i32 onChanged(u32, u32, bool) override { return 0; }
    i32 onRejected(u32, u32, u32, i32) override { return 0; }
};

} // namespace PDB

// Result codes of the device-communication layer. 0 is success; failures have the top bit set.
#pragma once

#include "klib_Types.h"

namespace ComControl {

constexpr i32 COMCTRL_OK = 0;
constexpr i32 COMCTRL_E_FAILED = static_cast<i32>(0x80000000u);        // bad argument, malformed item, no room
constexpr i32 COMCTRL_E_NO_LINK = static_cast<i32>(0x80000001u);       // no device link exists in this build
constexpr i32 COMCTRL_E_END = static_cast<i32>(0x80000002u);           // parseEventMessage: no item left
constexpr i32 COMCTRL_E_NOT_READY = static_cast<i32>(0x80000003u);     // unit not initialised, or no such part
constexpr i32 COMCTRL_E_LIMIT = static_cast<i32>(0x80000007u);         // output cut to the buffer
constexpr i32 COMCTRL_E_NOT_CONNECTED = static_cast<i32>(0x8000000Au); // the operation needs a connected unit

inline bool comctrlFailed(i32 result)
{
    return result < 0;
}

} // namespace ComControl

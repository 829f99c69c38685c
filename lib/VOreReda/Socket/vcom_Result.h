// Result codes of the VCOM socket classes and the mapping of slot-layer codes onto them.
#pragma once

#include "klib_Types.h"

namespace VCOM {

constexpr i32 VCOM_OK = 0;
constexpr i32 VCOM_IN_PROGRESS = 1;       // the outcome follows as a callback
constexpr i32 VCOM_MORE_DATA = 2;         // receive: bytes remain in the receive stream
constexpr i32 VCOM_ALREADY_CONNECTED = 6; // connect on a connected socket
constexpr i32 VCOM_E_FAILED = static_cast<i32>(0x80000000u);
constexpr i32 VCOM_E_REFUSED = static_cast<i32>(0x80000003u); // send refused (stream full, busy, too long)
constexpr i32 VCOM_E_NO_ROOM = static_cast<i32>(0x80000004u); // a UDP receive found the datagram ring full
constexpr i32 VCOM_E_TIMEOUT = static_cast<i32>(0x80000005u);
constexpr i32 VCOM_E_ARG = static_cast<i32>(0x80000080u);        // bad argument
constexpr i32 VCOM_E_STATE = static_cast<i32>(0x80000081u);      // not open / not connected
constexpr i32 VCOM_E_SLOT_STATE = static_cast<i32>(0x80000082u); // the slot layer answered "wrong state"
constexpr i32 VCOM_E_RESOURCE = static_cast<i32>(0x80000083u);   // no resources
constexpr i32 VCOM_E_OTHER = static_cast<i32>(0x80000084u);      // any other failure, or a missing buffer
constexpr i32 VCOM_E_NOT_SUPPORTED = static_cast<i32>(0x80000085u);

// Slot-layer result -> VCOM result. Non-negative results pass through.
i32 mapVsockResult(i32 vsockResult);

} // namespace VCOM

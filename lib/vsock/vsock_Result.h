// Result codes of the socket slot layer (negative as i32).
#pragma once

#include "klib_Types.h"

constexpr i32 VSOCK_OK = 0;
constexpr i32 VSOCK_E_FAIL = static_cast<i32>(0xFACE0000u);    // OS error with no closer mapping
constexpr i32 VSOCK_E_ARG = static_cast<i32>(0xFACE0001u);     // bad argument or bad handle
constexpr i32 VSOCK_E_CLOSED = static_cast<i32>(0xFACE0002u);  // slot not open / cut off by a close
constexpr i32 VSOCK_E_OBJ = static_cast<i32>(0xFACE0003u);     // wrong state, reset, refused, busy
constexpr i32 VSOCK_E_RES = static_cast<i32>(0xFACE0004u);     // no free slot / entry, ring full, no buffers
constexpr i32 VSOCK_E_PENDING = static_cast<i32>(0xFACE0005u); // in progress / would block
constexpr i32 VSOCK_E_TIMEOUT = static_cast<i32>(0xFACE0006u); // the operation's time-out elapsed
constexpr i32 VSOCK_E_BUFFER = static_cast<i32>(0xFACE0007u);  // buffer too small for the waiting datagram
constexpr i32 VSOCK_E_EMPTY = static_cast<i32>(0xFACE0008u);   // no datagram waiting
constexpr i32 VSOCK_E_TEXT =
    static_cast<i32>(0x80000000u); // an address text that does not parse or fit; a failed interface listing

// Test-only accessors of the slot layer: tests bind port 0 and learn the ephemeral port the OS chose.
#pragma once

#include "vsock_Socket.h"

// The local port of an open slot's socket (0 while a UDP slot is not bound yet).
// VSOCK_E_ARG bad handle or null port, VSOCK_E_CLOSED slot not open, VSOCK_E_FAIL the OS refused.
i32 vsockGetLocalPort(i32 handle, u32* port);

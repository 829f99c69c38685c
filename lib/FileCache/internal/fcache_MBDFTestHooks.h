// Test-only controls of the file-id maker. Production code never includes this header.
#pragma once

#include "klib_Types.h"

namespace FILECACHE::mbdftesthooks {

// Makes the id use these 6 bytes as the hardware address (null: as if no adapter had one, six zero bytes).
void fixFileIdAddress(const u8* address);
// Back to the adapter list.
void clearFixedFileIdAddress();

// Makes the id use this time in seconds; clearFixedFileIdTime returns to the real clock.
void fixFileIdTime(u32 seconds);
void clearFixedFileIdTime();

// The 24-bit generator state (0x50000 at program start).
void setFileIdGeneratorState(u32 state);
u32 getFileIdGeneratorState();

} // namespace FILECACHE::mbdftesthooks

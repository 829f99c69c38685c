// Container images in memory: every block the reader accepts must be safe to inspect.
#include <cstddef>
#include <cstdint>

#include "fcache_MBDF.h"
#include "fcache_MBDFFileBlock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FILECACHE::MBDFFileBlock::registerFactory();
    FILECACHE::MBDF container;
    container.readFromMemory(data, static_cast<u32>(size));
    u64 total = 0;
    for (auto it = container.beginBlocks(); it != container.endBlocks(); ++it) {
        FILECACHE::MBDFAbstractBlock* block = container.getBlock(it);
        total += block->getBlockSize() + block->getTag().size() + block->getKind().size();
        if (auto* file = dynamic_cast<FILECACHE::MBDFFileBlock*>(block)) {
            total += file->getFileName().size() + file->getFlags();
        }
    }
    container.isValid();
    container.isComplete();
    return total == 1 ? 1 : 0;
}

// Container files: read with and without data parts, checked, loaded block by block, and file blocks exported.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fcache_MBDF.h"
#include "fcache_MBDFFileBlock.h"

namespace {

char g_workDir[] = "/tmp/mbdf_fuzz_XXXXXX";

// A private folder for the inputs, removed when the process ends.
std::string workDir()
{
    static const bool made = [] {
        if (mkdtemp(g_workDir) == nullptr) {
            std::abort();
        }
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(g_workDir, ignored);
        });
        return true;
    }();
    (void)made;
    return g_workDir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace FILECACHE;
    MBDFFileBlock::registerFactory();
    const std::string path = workDir() + "/input.mbdf";
    const std::string out = workDir() + "/out";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return 0;
    }
    if (size != 0) {
        std::fwrite(data, 1, size, f);
    }
    std::fclose(f);

    MBDF::isMBDFFile(path.c_str());
    MBDF container;
    container.readFile(path.c_str(), false, nullptr, nullptr, 0);
    for (auto it = container.beginBlocks(); it != container.endBlocks(); ++it) {
        container.loadBlockData(it, nullptr);
        container.releaseBlockData(it);
    }
    if (container.readFile(path.c_str(), true, nullptr, nullptr, 0) == 0) {
        for (auto it = container.beginBlocks(); it != container.endBlocks(); ++it) {
            if (auto* file = dynamic_cast<MBDFFileBlock*>(container.getBlock(it))) {
                file->exportFile(out.c_str(), file->isDirectory() ? "d" : "f");
                file->exportFile(out.c_str(), nullptr);
            }
        }
        (void)container.write((workDir() + "/copy.mbdf").c_str(), nullptr, nullptr, false);
    }
    // Exported names stay inside the output folder; clean it (read-only exports included) for the next input.
    std::error_code ignored;
    std::filesystem::remove_all(out, ignored);
    return 0;
}

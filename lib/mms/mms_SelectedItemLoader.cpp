#include "mms_SelectedItemLoader.h"

#include <atomic>

namespace MMSFUNC {

i32 SelectedItemLoader::extract(const char*, FILECACHE::FileAccessor&, FILECACHE::MBDF&, const bool*,
                                FILECACHE::IMBDFObserver*, const void*, u32)
{
    return 0;
}

i32 SelectedItemLoader::reservedOperation2()
{
    return LoaderResult::kFailed;
}

i32 SelectedItemLoader::reservedOperation3()
{
    return LoaderResult::kFailed;
}

bool SelectedItemLoader::accept(FILECACHE::MBDF&, FILECACHE::IMBDFObserver*, const void*, const bool*)
{
    return true;
}

namespace {
std::atomic<SelectedItemLoader*> g_registered{nullptr};
} // namespace

SelectedItemLoader* getDefaultSelectedItemLoader()
{
    // Never destroyed: users compare and keep the pointer until the process ends.
    static SelectedItemLoader* const instance = new SelectedItemLoader();
    return instance;
}

i32 registerSelectedItemLoader(SelectedItemLoader* loader)
{
    if (loader == nullptr) {
        return LoaderResult::kRefused;
    }
    SelectedItemLoader* expected = nullptr;
    if (!g_registered.compare_exchange_strong(expected, loader, std::memory_order_acq_rel)) {
        return LoaderResult::kRefused;
    }
    return 0;
}

SelectedItemLoader* getSelectedItemLoader()
{
    return g_registered.load(std::memory_order_acquire);
}

} // namespace MMSFUNC

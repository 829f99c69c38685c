// SelectedItemLoader: the extraction delegate that a project file hands a load with a selection. The delegate
// extracts the selected items from the open project file in place of the project file's own extraction of its
// "#FILE" blocks, and may refuse a selection before anything is read.
//
// One instance is registered per process (normally the default one, at start); the project handler of the
// position-control layer takes the registered instance and hands it to the project file.
//
// The container types come from the storage layer; this header only names them, so this library does not
// depend on it.
#pragma once

#include "klib_Types.h"
#include "mms_Result.h"

namespace FILECACHE {
class FileAccessor;
class MBDF;
class IMBDFObserver;
} // namespace FILECACHE

namespace MMSFUNC {

// Operations in their fixed virtual-table order.
class SelectedItemLoader
{
public:
    virtual ~SelectedItemLoader() = default;

    // Extracts the selection from the project file at projectPath, which the caller has opened read-only as file
    // and read (without data parts) into container. cancel (optional) is set by another thread to stop the work;
    // observer (optional) receives progress. selection is the caller's, passed through unchanged; options is 0.
    // The default extracts nothing and returns 0.
    virtual i32 extract(const char* projectPath, FILECACHE::FileAccessor& file, FILECACHE::MBDF& container,
                        const bool* cancel, FILECACHE::IMBDFObserver* observer, const void* selection, u32 options);

    // Slot kept for the device link's own use; the default answers 0x80000000.
    virtual i32 reservedOperation2();
    // Slot kept for the device link's own use; the default answers 0x80000000.
    virtual i32 reservedOperation3();

    // Asked before the project information is read: false refuses the selection for this container. The
    // default accepts every selection.
    virtual bool accept(FILECACHE::MBDF& container, FILECACHE::IMBDFObserver* observer, const void* selection,
                        const bool* cancel);
};

// The default instance: extracts nothing and accepts everything. Shared, never freed.
SelectedItemLoader* getDefaultSelectedItemLoader();

// Registers the process-wide loader. Only the first non-null registration of the process is taken (0); a
// second one, or a null loader, is refused with 0x80000001. Safe to call from several threads at once.
i32 registerSelectedItemLoader(SelectedItemLoader* loader);

// The registered loader, or null before a registration.
SelectedItemLoader* getSelectedItemLoader();

} // namespace MMSFUNC

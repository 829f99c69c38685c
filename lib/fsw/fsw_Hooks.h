// Instrumentation hooks of the file API. Every public operation listed below has a pre-hook and a post-hook: the
// pre-hook is called first with a flag to fill in and the operation's arguments; the post-hook is called with the
// result and the same arguments after the operation, only when the pre-hook set the flag. The defaults clear the
// flag (and return 0x80000000 when given none) and do nothing. Install replacements before any file is used.
#pragma once

#include "fsw_api.h"

template <typename... Args> struct FswHookPair
{
    u32 (*pre)(u32* flag, Args... args);
    void (*post)(u32 result, Args... args);
};

template <typename... Args> u32 fsw_defaultPreHook(u32* flag, Args...)
{
    if (flag == nullptr) {
        return FSW_E_FAILED;
    }
    *flag = 0;
    return 0;
}

template <typename... Args> void fsw_defaultPostHook(u32, Args...) {}

extern FswHookPair<FswHandle*, const char*, u32> fsw_openHooks;
extern FswHookPair<FswHandle*> fsw_closeHooks;
extern FswHookPair<void*, u32*, u32, FswHandle*> fsw_readHooks;
extern FswHookPair<const void*, u32*, u32, FswHandle*> fsw_writeHooks;
extern FswHookPair<i32, u32, FswHandle*> fsw_seekHooks;
extern FswHookPair<u32*, FswHandle*> fsw_tellHooks;
extern FswHookPair<FswHandle*> fsw_flushHookPair; // run by fsw_flushHooks only
extern FswHookPair<u32*, const char*> fsw_getSizeHooks;
extern FswHookPair<const char*> fsw_removeHooks;
extern FswHookPair<const char*, const char*> fsw_moveHooks;
extern FswHookPair<const char*, const char*> fsw_copyHooks;
extern FswHookPair<u32*, const char*> fsw_getAttributesHooks;
extern FswHookPair<u32, const char*> fsw_setAttributesHooks;
extern FswHookPair<FswTime*, FswTime*, FswTime*, const char*> fsw_getTimeHooks;
extern FswHookPair<const char*> fsw_makeDirHooks;
extern FswHookPair<FswDir**, const char*> fsw_openDirHooks;
extern FswHookPair<FswDir*, char*, u32> fsw_readDirHooks;
extern FswHookPair<FswDir*, u32*> fsw_getDirEntryNameSizeHooks;
extern FswHookPair<FswDir*> fsw_closeDirHooks;
extern FswHookPair<const char*, bool> fsw_removeDirHooks;

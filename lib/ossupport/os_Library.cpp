// Dynamic libraries through the POSIX loader.

#include "os_Library.h"

#include <dlfcn.h>

#include <cstring>

namespace ossupport {
namespace {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const char* text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        const unsigned char lead = *p;
        u32 length = 0;
        u32 codePoint = 0;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 1;
            codePoint = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 2;
            codePoint = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 3;
            codePoint = lead & 0x07u;
        } else {
            return false;
        }
        for (u32 i = 1; i <= length; ++i) {
            if ((p[i] & 0xC0u) != 0x80u) {
                return false; // also stops at the terminating NUL
            }
            codePoint = (codePoint << 6) | (p[i] & 0x3Fu);
        }
        if ((length == 2 && (codePoint < 0x800 || (codePoint >= 0xD800 && codePoint <= 0xDFFF))) ||
            (length == 3 && (codePoint < 0x10000 || codePoint > 0x10FFFF))) {
            return false;
        }
        p += length + 1;
    }
    return true;
}

// Copies text into a buffer of size bytes (NUL included) without splitting a UTF-8 sequence.
void copyCut(char* out, int size, const char* text)
{
    if (out == nullptr || size <= 0) {
        return;
    }
    size_t length = std::strlen(text);
    const size_t room = static_cast<size_t>(size) - 1;
    if (length > room) {
        length = room;
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0u) == 0x80u) {
            --length;
        }
    }
    std::memcpy(out, text, length);
    out[length] = '\0';
}

} // namespace

u32 loadDynamicLibrary(LibraryModule* out, char* errorText, int errorSize, const char* utf8Path)
{
    if (out == nullptr || utf8Path == nullptr) {
        return OS_E_ARGUMENT;
    }
    *out = nullptr;
    if (!isValidUtf8(utf8Path)) {
        return OS_E_ARGUMENT;
    }
    void* module = dlopen(utf8Path, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* message = dlerror();
        copyCut(errorText, errorSize, message != nullptr ? message : "the library could not be loaded");
        return OS_E_NOT_FOUND;
    }
    *out = module;
    return OS_OK;
}

u32 getDynamicLibrarySymbol(void** out, LibraryModule module, const char* name)
{
    if (out == nullptr) {
        return OS_E_ARGUMENT;
    }
    *out = nullptr;
    if (module == nullptr || name == nullptr) {
        return OS_E_ARGUMENT;
    }
    dlerror();
    void* symbol = dlsym(module, name);
    if (symbol == nullptr) {
        return OS_E_NOT_FOUND;
    }
    *out = symbol;
    return OS_OK;
}

u32 freeDynamicLibrary(LibraryModule module)
{
    if (module == nullptr) {
        return OS_E_ARGUMENT;
    }
    return dlclose(module) == 0 ? OS_OK : OS_E_FAILED;
}

} // namespace ossupport

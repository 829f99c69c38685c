// The console's word numbers: the leading-number forms (toInt, toUInt, toHex) read nothing beyond the word and
// agree with the whole-word and strict forms wherever those accept the word.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "dbgc_StringElement.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A word is a NUL-terminated text without NUL inside; the copy ends at its terminator, so any read past it
    // is caught.
    const size_t length = size == 0 ? 0 : strnlen(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<char[]> text(new char[length + 1]);
    if (length != 0) {
        std::memcpy(text.get(), data, length);
    }
    text[length] = '\0';
    DBGC::StringElement word;
    word.set(text.get());
    if (word.length() != length) {
        std::abort();
    }

    const i32 leadingInt = word.toInt();
    const u32 leadingUInt = word.toUInt();
    const u32 leadingHex = word.toHex();
    u32 whole = 0;
    if (word.toUInt(&whole, 10) == 0 && whole != leadingUInt) {
        std::abort(); // a word that is one decimal number starts with that number
    }
    if (word.toUInt(&whole, 16) == 0 && whole != leadingHex) {
        std::abort();
    }
    u32 strict = 0;
    if (word.toStrictUInt(&strict) == 0 && strict != leadingUInt) {
        std::abort();
    }
    u32 field = 0;
    if (word.toFieldUInt(&field) == 0 && field != leadingUInt) {
        std::abort();
    }
    i32 strictSigned = 0;
    if (word.toStrictInt(&strictSigned) == 0 && strictSigned != leadingInt) {
        std::abort();
    }
    u8 byte = 0;
    if (word.toHexByte(&byte) == 0 && byte != leadingHex) {
        std::abort(); // one or two hexadecimal digits
    }
    for (i32 base : {0, 2, 8, 36}) {
        word.toUInt(&whole, base);
    }
    return 0;
}

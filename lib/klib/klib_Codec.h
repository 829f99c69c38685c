// Allocation-free codecs and checksums: Base64, CRC-32, MD5, packed version words and ASCII character classes.
// Functions return u32 result codes (0 success, top bit set = failure) unless noted.
#pragma once

#include "klib_Types.h"

// ---------------------------------------------------------------------------------------------------------------
// Base64. Variant 0: standard alphabet with "=" padding; 1: the same with "\r\n" after every 76 characters;
// 2: URL-safe alphabet ("-_") whose padding positions hold NUL, so the text ends before them. Unknown variants
// use 0.
// ---------------------------------------------------------------------------------------------------------------

// Writes the text and a NUL; `outLength` receives the required size (text length + 1 for variants 0 and 1).
// Null out or outSize 0: 0x80000001; null in with a non-zero inLength: 0x80000001; outSize too small: 0x80000003.
u32 klib_base64EncodeEx(char* out, u32* outLength, u32 outSize, const unsigned char* in, u32 inLength, i32 variant);
u32 klib_base64Encode(char* out, u32* outLength, u32 outSize, const unsigned char* in, u32 inLength);
// 4 * ceil(inLength / 3) + 1 for variant 0; 0 for a null or empty input.
u32 klib_base64EncodedSize(const unsigned char* in, u32 inLength);
// Decodes the standard alphabet up to "=" or inLength; `outLength` receives the number of whole decoded bytes
// (leftover bits under 8 are dropped). Null in with inLength > 0 (or null out/outLength): 0x80000001; a character
// outside the alphabet: 0x80000002; decoded bytes that do not fit in outSize: 0x80000003.
u32 klib_base64Decode(unsigned char* out, u32* outLength, u32 outSize, const char* in, u32 inLength);

// ---------------------------------------------------------------------------------------------------------------
// CRC-32 (reflected 0xEDB88320, init 0xFFFFFFFF, final complement; "123456789" -> 0xCBF43926).
// ---------------------------------------------------------------------------------------------------------------

// Returns the CRC; 0 for null data or length 0.
u32 klib_crc32(const void* data, u32 length);
// Continues a finished CRC over more bytes; returns crc unchanged for null data or length 0.
u32 klib_crc32Update(u32 crc, const void* data, u32 length);

// ---------------------------------------------------------------------------------------------------------------
// MD5
// ---------------------------------------------------------------------------------------------------------------

struct KlibMd5Context
{
    u32 state[4];
    u32 count[2]; // bit count, low word first
    unsigned char buffer[64];
};

void klib_md5Init(KlibMd5Context* context);
void klib_md5Update(KlibMd5Context* context, const unsigned char* data, u32 length);
// Pads, appends the bit length, writes the digest and wipes the context.
void klib_md5Final(unsigned char digest[16], KlibMd5Context* context);
void klib_md5Transform(u32 state[4], const unsigned char block[64]);

// ---------------------------------------------------------------------------------------------------------------
// Version words: bits 24-31 'R' (kind 0) or 'V' (kind 1), 16-23 major, 8-15 minor * 10 + revision,
// 0-7 suffix letter index ('a' = 0).
// ---------------------------------------------------------------------------------------------------------------

// Null version: 0x80000000. Else *version = 0 and, when every part is in range, the packed word (result 0);
// otherwise 0x80000000.
u32 klib_makeVersion(u32* version, u32 kind, u32 major, u32 minor, u32 revision, char letter);
// "V1.23b" / "R1.23" (letter 'a' omitted); an invalid word writes "V?.???" and returns 0x80000000.
u32 klib_versionToString(char* out, u32 size, u32 version);

// ---------------------------------------------------------------------------------------------------------------
// ASCII character classes (no locale; values outside 0..127 are never in a class and map to themselves).
// ---------------------------------------------------------------------------------------------------------------

i32 klib_isAlpha(i32 c);
i32 klib_isBlank(i32 c);
i32 klib_isDigit(i32 c);
i32 klib_isLower(i32 c);
i32 klib_isSpace(i32 c);
i32 klib_isXDigit(i32 c);
i32 klib_toLower(i32 c);
i32 klib_toUpper(i32 c);

// Bounded text formatter, number parsers, checked memory/string helpers and the debug print pair.
// All functions return u32 result codes (0 success, top bit set = failure) unless noted.
#pragma once

#include <cstdarg>

#include "klib_Types.h"

// ---------------------------------------------------------------------------------------------------------------
// Formatter: a small printf subset that never writes past `size` and needs no locale.
// Conversions: %d %u %x %X %c %s %% with flags "+", "-", "0" and a width; %f / %.Nf (N = 0..9, default 6) and
// %lf format an f64 exactly as the C runtime does. Any other character after "%" and the flags/width is printed
// as text and consumes no argument ("%ld" prints "ld").
// Null buffer, null format or size 0 give 0x80000000; a cut output still returns 0 and is always terminated.
// `length` (optional) receives the number of characters written without the NUL.
// ---------------------------------------------------------------------------------------------------------------
u32 klib_vsnprintf(char* buffer, u32 size, u32* length, const char* format, va_list args);
u32 klib_snprintf(char* buffer, u32 size, u32* length, const char* format, ...) __attribute__((format(printf, 4, 5)));

// Prints nothing and returns 0; a sink for switched-off trace calls.
u32 returnZeroVariadic(const char* format, ...);

// ---------------------------------------------------------------------------------------------------------------
// Number parsing
// ---------------------------------------------------------------------------------------------------------------

// Forms reported by the parsers.
constexpr u32 KLIB_NUMBER_FORM_UNSIGNED = 0; // non-negative integer
constexpr u32 KLIB_NUMBER_FORM_NEGATIVE = 1; // negative integer, two's complement
constexpr u32 KLIB_NUMBER_FORM_FLOAT = 2;    // f32

// Reads one C-style number literal (decimal, 0x hexadecimal, 0-prefixed octal, decimal fraction with optional
// exponent, suffixes f/F, l/L, u/U) from at most `length` characters. `value` receives 32 bits: an integer (form 0
// or 1) or an f32 (form 2). Null text/form or length 0: 0x80000001; malformed, or a decimal integer or float out of
// range: 0x80000002. Success: 0 when a NUL ended the text within `length`, 1 when the number ran to `length`.
u32 klib_strToNumber(void* value, u32* form, const char* text, u32 length);

// The decimal part of klib_strToNumber: [+-]digits[.digits][(e|E)[+-]digits]. Like klib_strToNumber, `*value`
// receives 32 bits: for the integer forms 0 and 1 these are the integer's bits, not a float.
u32 klib_strToFloat(f32* value, u32* form, const char* text, u32 length);

// strtol-like reader bounded by `length`. Base 0 or 2..36 (else 0x80000001, as for null result/text).
// Overflow: 0x7FFFFFFF with 0x80000002, or 0x80000000 with 0x80000003 (remaining digits are consumed).
// `end` (optional) points after the last character read.
u32 klib_strtol(i32* result, const char* text, char** end, i32 base, u32 length);
// Same syntax into a u32: overflow gives 0xFFFFFFFF and 0x80000002; a "-" negates the value at the end.
u32 klib_strtoul(u32* result, const char* text, char** end, i32 base, u32 length);

// ---------------------------------------------------------------------------------------------------------------
// Memory and strings: null pointers are reported (0x80000003), never dereferenced.
// ---------------------------------------------------------------------------------------------------------------

// 0 equal, 1 a greater, 2 a smaller (bytes compared unsigned).
u32 klib_memcmp(const void* a, const void* b, u32 n);
u32 klib_memcpy(void* dst, const void* src, u32 n);
// n 0 is refused as well (0x80000003).
u32 klib_memset(void* dst, i32 byte, u32 n);
// Copies at most size - 1 characters and terminates; 0x80000005 when the source was cut.
u32 klib_strlcpy(char* dst, u32 size, const char* src);
// Copies up to and including the NUL; after n characters without one, writes NUL at dst[n] (dst needs n + 1 bytes)
// and returns 5. 0 when the NUL was copied.
u32 klib_strncpy(char* dst, const char* src, u32 n);
// Length counting at most max characters; 0 for null or max 0. Returns the length itself.
u32 klib_strnlen(const char* s, u32 max);
// Length when a NUL is met within the first max + 1 characters; else length = max and 0x80000004.
u32 klib_strlenChecked(const char* s, u32 max, u32* length);
// Length when a NUL is met within the first max characters; else length = max and 0x80000004.
u32 klib_strnlenChecked(const char* s, u32 max, u32* length);
// First c among the first max characters (stopping at NUL): 0 and the pointer; not found: null and 0x80000004.
u32 klib_strnchr(const char* s, char c, u32 max, char** found);
// Compares at most n characters as signed characters: 0 equal, 1 a greater, 2 a smaller.
u32 klib_strncmp(const char* a, const char* b, u32 n);

// ---------------------------------------------------------------------------------------------------------------
// Debug print pair. Every "[E] ", "[W] " and "[i] " line goes through KLIB_LOG.
// ---------------------------------------------------------------------------------------------------------------

// Records (per thread) the file name after the last '/' or '\\' of `sourcePath` and the line; returns 0.
u32 klib_setPrintLocation(const char* sourcePath, u32 line);
// Reads the location last recorded on the calling thread (null file and line 0 before any record).
void klib_getPrintLocation(const char** file, u32* line);
// Full printf syntax, vfprintf to stdout; returns 0.
u32 klib_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

#define KLIB_LOG(...) (klib_setPrintLocation(__FILE__, __LINE__), klib_printf(__VA_ARGS__))

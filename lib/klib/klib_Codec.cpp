#include "klib_Codec.h"

#include <array>
#include <bit>
#include <cstring>

#include "klib_Print.h"
#include "klib_Result.h"

namespace {

// ---------------------------------------------------------------------------------------------------------------
// Base64
// ---------------------------------------------------------------------------------------------------------------

struct Base64Variant
{
    u32 number;
    const char* alphabet;
    char padding;
    u32 lineLength; // 0 = no line breaks
    const char* separator;
    u32 separatorLength;
};

constexpr char kStandardAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kUrlAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

constexpr Base64Variant kVariants[] = {
    {0, kStandardAlphabet, '=', 0, "", 0},
    {1, kStandardAlphabet, '=', 76, "\r\n", 2},
    {2, kUrlAlphabet, '\0', 0, "", 0},
};

const Base64Variant& selectVariant(i32 variant)
{
    for (const Base64Variant& v : kVariants) {
        if (static_cast<i32>(v.number) == variant) {
            return v;
        }
    }
    return kVariants[0];
}

// Number of separators the encoder writes for `groups` groups of four characters.
u64 separatorCount(const Base64Variant& v, u64 groups)
{
    if (v.lineLength == 0 || groups == 0) {
        return 0;
    }
    const u64 groupsPerLine = (v.lineLength + 3) / 4;
    return (groups - 1) / groupsPerLine;
}

// Decoding table of the standard alphabet: 0..63, kPad for '=', kInvalid otherwise.
constexpr u8 kInvalid = 0xFF;
constexpr u8 kPad = 0xFE;

constexpr std::array<u8, 256> makeDecodeTable()
{
    std::array<u8, 256> t{};
    for (auto& e : t) {
        e = kInvalid;
    }
    for (u32 i = 0; i < 64; ++i) {
        t[static_cast<u8>(kStandardAlphabet[i])] = static_cast<u8>(i);
    }
    t[static_cast<u8>('=')] = kPad;
    return t;
}

constexpr std::array<u8, 256> kDecode = makeDecodeTable();

// ---------------------------------------------------------------------------------------------------------------
// CRC-32
// ---------------------------------------------------------------------------------------------------------------

// Slicing-by-16 tables: kCrcTables[0] is the classic byte table; kCrcTables[k][n] is the CRC register after byte n
// followed by k zero bytes, so 16 input bytes fold into the register with 16 independent look-ups.
constexpr u32 kCrcSlices = 16;
using CrcTables = std::array<std::array<u32, 256>, kCrcSlices>;

constexpr CrcTables makeCrcTables()
{
    CrcTables t{};
    for (u32 n = 0; n < 256; ++n) {
        u32 c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        t[0][n] = c;
    }
    for (u32 s = 1; s < kCrcSlices; ++s) {
        for (u32 n = 0; n < 256; ++n) {
            t[s][n] = (t[s - 1][n] >> 8) ^ t[0][t[s - 1][n] & 0xFFu];
        }
    }
    return t;
}

constexpr CrcTables kCrcTables = makeCrcTables();

// Without initial value and final complement the register update is linear: the register after A followed by B
// is shift_|B|(register after A) ^ (register of B started from 0). Long inputs therefore run as three independent
// streams over consecutive lanes of kCrcLane bytes, joined by the "kCrcLane zero bytes" shift, which keeps three
// look-up chains in flight instead of one.
constexpr u32 kCrcLane = 128;
using CrcShift = std::array<std::array<u32, 256>, 4>;

constexpr CrcShift makeCrcShift(u32 zeroBytes)
{
    std::array<u32, 32> column{};
    for (u32 bit = 0; bit < 32; ++bit) {
        u32 r = 1u << bit;
        for (u32 i = 0; i < zeroBytes; ++i) {
            r = kCrcTables[0][r & 0xFFu] ^ (r >> 8);
        }
        column[bit] = r;
    }
    CrcShift t{};
    for (u32 part = 0; part < 4; ++part) {
        for (u32 v = 0; v < 256; ++v) {
            u32 x = 0;
            for (u32 k = 0; k < 8; ++k) {
                if (((v >> k) & 1u) != 0) {
                    x ^= column[8 * part + k];
                }
            }
            t[part][v] = x;
        }
    }
    return t;
}

constexpr CrcShift kCrcLaneShift = makeCrcShift(kCrcLane);

inline u32 crcShiftLane(u32 r)
{
    return kCrcLaneShift[0][r & 0xFFu] ^ kCrcLaneShift[1][(r >> 8) & 0xFFu] ^ kCrcLaneShift[2][(r >> 16) & 0xFFu] ^
           kCrcLaneShift[3][r >> 24];
}

inline u64 loadLe64(const u8* p)
{
    u64 v;
    std::memcpy(&v, p, sizeof(v));
    if constexpr (std::endian::native == std::endian::big) {
        v = __builtin_bswap64(v);
    }
    return v;
}

// One table look-up per byte of a 64-bit word; slice `first` takes the word's lowest byte.
inline u32 crcWord(u64 v, u32 first)
{
    return kCrcTables[first][v & 0xFFu] ^ kCrcTables[first - 1][(v >> 8) & 0xFFu] ^
           kCrcTables[first - 2][(v >> 16) & 0xFFu] ^ kCrcTables[first - 3][(v >> 24) & 0xFFu] ^
           kCrcTables[first - 4][(v >> 32) & 0xFFu] ^ kCrcTables[first - 5][(v >> 40) & 0xFFu] ^
           kCrcTables[first - 6][(v >> 48) & 0xFFu] ^ kCrcTables[first - 7][v >> 56];
}

// The register after 16 more bytes.
inline u32 crcStep16(u32 register_, const u8* p)
{
    return crcWord(loadLe64(p) ^ register_, 15) ^ crcWord(loadLe64(p + 8), 7);
}

// Runs the reflected CRC register over the bytes: three lanes at a time, then 16 bytes per step, the tail byte by
// byte.
u32 crcRun(u32 register_, const u8* p, u32 length)
{
    while (length >= 3 * kCrcLane) {
        u32 a = register_;
        u32 b = 0;
        u32 c = 0;
        for (u32 i = 0; i < kCrcLane; i += 16) {
            a = crcStep16(a, p + i);
            b = crcStep16(b, p + kCrcLane + i);
            c = crcStep16(c, p + 2 * kCrcLane + i);
        }
        register_ = crcShiftLane(crcShiftLane(a) ^ b) ^ c;
        p += 3 * kCrcLane;
        length -= 3 * kCrcLane;
    }
    while (length >= 16) {
        register_ = crcStep16(register_, p);
        p += 16;
        length -= 16;
    }
    for (u32 i = 0; i < length; ++i) {
        register_ = kCrcTables[0][(register_ ^ p[i]) & 0xFFu] ^ (register_ >> 8);
    }
    return register_;
}

// ---------------------------------------------------------------------------------------------------------------
// MD5 helpers
// ---------------------------------------------------------------------------------------------------------------

inline u32 rotl(u32 x, u32 n)
{
    return (x << n) | (x >> (32 - n));
}

inline u32 md5F(u32 x, u32 y, u32 z)
{
    return (x & y) | (~x & z);
}
inline u32 md5G(u32 x, u32 y, u32 z)
{
    return (x & z) | (y & ~z);
}
inline u32 md5H(u32 x, u32 y, u32 z)
{
    return x ^ y ^ z;
}
inline u32 md5I(u32 x, u32 y, u32 z)
{
    return y ^ (x | ~z);
}

void encodeLe(unsigned char* out, const u32* in, u32 words)
{
    for (u32 i = 0; i < words; ++i) {
        out[i * 4] = static_cast<unsigned char>(in[i]);
        out[i * 4 + 1] = static_cast<unsigned char>(in[i] >> 8);
        out[i * 4 + 2] = static_cast<unsigned char>(in[i] >> 16);
        out[i * 4 + 3] = static_cast<unsigned char>(in[i] >> 24);
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// Base64
// ---------------------------------------------------------------------------------------------------------------

u32 klib_base64EncodedSize(const unsigned char* in, u32 inLength)
{
    if (in == nullptr || inLength == 0) {
        return 0;
    }
    return 4 * ((inLength / 3) + (inLength % 3 != 0 ? 1 : 0)) + 1;
}

u32 klib_base64EncodeEx(char* out, u32* outLength, u32 outSize, const unsigned char* in, u32 inLength, i32 variant)
{
    const Base64Variant& v = selectVariant(variant);
    if (out == nullptr || outSize == 0) {
        return KLIB::RESULT_BAD_ARGUMENT;
    }
    if (in == nullptr && inLength != 0) {
        return KLIB::RESULT_BAD_ARGUMENT;
    }
    const u64 groups = (static_cast<u64>(inLength) + 2) / 3;
    const u64 required = inLength == 0 ? 0 : 4 * groups + 1 + separatorCount(v, groups) * v.separatorLength;
    if (required > outSize) {
        return KLIB::RESULT_OUTPUT_TOO_SMALL;
    }
    if (inLength == 0) {
        out[0] = '\0';
        if (outLength != nullptr) {
            *outLength = 0;
        }
        return 0;
    }

    const char* a = v.alphabet;
    u32 pos = 0;
    u32 line = 0;
    u32 i = 0;
    auto breakLine = [&] {
        if (v.lineLength != 0) {
            if (line >= v.lineLength) {
                std::memcpy(out + pos, v.separator, v.separatorLength);
                pos += v.separatorLength;
                line = 0;
            }
            line += 4;
        }
    };
    for (; i + 3 <= inLength; i += 3) {
        breakLine();
        const u32 b0 = in[i];
        const u32 b1 = in[i + 1];
        const u32 b2 = in[i + 2];
        out[pos++] = a[b0 >> 2];
        out[pos++] = a[((b0 & 3u) << 4) | (b1 >> 4)];
        out[pos++] = a[((b1 & 15u) << 2) | (b2 >> 6)];
        out[pos++] = a[b2 & 63u];
    }
    const u32 rest = inLength - i;
    if (rest != 0) {
        breakLine();
        const u32 b0 = in[i];
        const u32 b1 = rest == 2 ? in[i + 1] : 0u;
        out[pos++] = a[b0 >> 2];
        out[pos++] = a[((b0 & 3u) << 4) | (b1 >> 4)];
        out[pos++] = rest == 2 ? a[(b1 & 15u) << 2] : v.padding;
        out[pos++] = v.padding;
    }
    out[pos] = '\0';
    if (outLength != nullptr) {
        *outLength = static_cast<u32>(required);
    }
    return 0;
}

u32 klib_base64Encode(char* out, u32* outLength, u32 outSize, const unsigned char* in, u32 inLength)
{
    return klib_base64EncodeEx(out, outLength, outSize, in, inLength, 0);
}

u32 klib_base64Decode(unsigned char* out, u32* outLength, u32 outSize, const char* in, u32 inLength)
{
    if (in == nullptr && inLength > 0) {
        return KLIB::RESULT_BAD_ARGUMENT;
    }
    if (outLength == nullptr) {
        return KLIB::RESULT_BAD_ARGUMENT;
    }
    *outLength = 0;
    if (inLength == 0) {
        return 0;
    }
    if (out == nullptr) {
        return KLIB::RESULT_BAD_ARGUMENT;
    }
    u32 pos = 0;
    u32 bits = 0;  // pending bits, right-aligned
    u32 count = 0; // number of pending bits (< 8 between characters)
    u32 i = 0;

    // Four characters at a time while whole groups remain and fit.
    while (i + 4 <= inLength && pos + 3 <= outSize && count == 0) {
        const u8 c0 = kDecode[static_cast<u8>(in[i])];
        const u8 c1 = kDecode[static_cast<u8>(in[i + 1])];
        const u8 c2 = kDecode[static_cast<u8>(in[i + 2])];
        const u8 c3 = kDecode[static_cast<u8>(in[i + 3])];
        if ((c0 | c1 | c2 | c3) >= 64) {
            break; // padding or an invalid character: the general loop below sorts it out
        }
        const u32 word = (static_cast<u32>(c0) << 18) | (static_cast<u32>(c1) << 12) | (static_cast<u32>(c2) << 6) | c3;
        out[pos] = static_cast<unsigned char>(word >> 16);
        out[pos + 1] = static_cast<unsigned char>(word >> 8);
        out[pos + 2] = static_cast<unsigned char>(word);
        pos += 3;
        i += 4;
    }

    for (; i < inLength; ++i) {
        const u8 d = kDecode[static_cast<u8>(in[i])];
        if (d == kPad) {
            break;
        }
        if (d == kInvalid) {
            return KLIB::RESULT_BAD_CHARACTER;
        }
        bits = (bits << 6) | d;
        count += 6;
        if (count >= 8) {
            count -= 8;
            if (pos >= outSize) {
                return KLIB::RESULT_OUTPUT_TOO_SMALL;
            }
            out[pos++] = static_cast<unsigned char>(bits >> count);
            bits &= (1u << count) - 1u;
        }
    }
    *outLength = pos;
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// CRC-32
// ---------------------------------------------------------------------------------------------------------------

u32 klib_crc32(const void* data, u32 length)
{
    if (data == nullptr || length == 0) {
        return 0;
    }
    return ~crcRun(0xFFFFFFFFu, static_cast<const u8*>(data), length);
}

u32 klib_crc32Update(u32 crc, const void* data, u32 length)
{
    if (data == nullptr || length == 0) {
        return crc;
    }
    return ~crcRun(~crc, static_cast<const u8*>(data), length);
}

// ---------------------------------------------------------------------------------------------------------------
// MD5
// ---------------------------------------------------------------------------------------------------------------

void klib_md5Init(KlibMd5Context* context)
{
    if (context == nullptr) {
        return;
    }
    context->count[0] = 0;
    context->count[1] = 0;
    context->state[0] = 0x67452301u;
    context->state[1] = 0xEFCDAB89u;
    context->state[2] = 0x98BADCFEu;
    context->state[3] = 0x10325476u;
    std::memset(context->buffer, 0, sizeof(context->buffer));
}

void klib_md5Transform(u32 state[4], const unsigned char block[64])
{
    static constexpr u32 kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                       5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                       4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                       6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
    // floor(abs(sin(i + 1)) * 2^32)
    static constexpr u32 kSine[64] = {
        0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
        0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
        0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
        0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
        0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
        0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
        0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
        0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

    u32 x[16];
    for (u32 i = 0; i < 16; ++i) {
        x[i] = static_cast<u32>(block[i * 4]) | (static_cast<u32>(block[i * 4 + 1]) << 8) |
               (static_cast<u32>(block[i * 4 + 2]) << 16) | (static_cast<u32>(block[i * 4 + 3]) << 24);
    }
    u32 a = state[0];
    u32 b = state[1];
    u32 c = state[2];
    u32 d = state[3];
    for (u32 i = 0; i < 64; ++i) {
        u32 f;
        u32 g;
        if (i < 16) {
            f = md5F(b, c, d);
            g = i;
        } else if (i < 32) {
            f = md5G(b, c, d);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = md5H(b, c, d);
            g = (3 * i + 5) % 16;
        } else {
            f = md5I(b, c, d);
            g = (7 * i) % 16;
        }
        const u32 next = b + rotl(a + f + kSine[i] + x[g], kShift[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    std::memset(x, 0, sizeof(x));
}

void klib_md5Update(KlibMd5Context* context, const unsigned char* data, u32 length)
{
    if (context == nullptr || data == nullptr || length == 0) {
        return;
    }
    u32 index = (context->count[0] >> 3) & 0x3Fu;
    const u32 addBits = length << 3;
    context->count[0] += addBits;
    if (context->count[0] < addBits) {
        ++context->count[1];
    }
    context->count[1] += length >> 29;

    const u32 partLength = 64 - index;
    u32 i = 0;
    if (length >= partLength) {
        std::memcpy(context->buffer + index, data, partLength);
        klib_md5Transform(context->state, context->buffer);
        for (i = partLength; length - i >= 64; i += 64) { // not i + 63 < length, which wraps near 4 GiB
            klib_md5Transform(context->state, data + i);
        }
        index = 0;
    }
    std::memcpy(context->buffer + index, data + i, length - i);
}

void klib_md5Final(unsigned char digest[16], KlibMd5Context* context)
{
    if (context == nullptr) {
        return;
    }
    static constexpr unsigned char kPadding[64] = {0x80};
    unsigned char bitCount[8];
    encodeLe(bitCount, context->count, 2);
    const u32 index = (context->count[0] >> 3) & 0x3Fu;
    const u32 padLength = index < 56 ? 56 - index : 120 - index;
    klib_md5Update(context, kPadding, padLength);
    klib_md5Update(context, bitCount, 8);
    if (digest != nullptr) {
        encodeLe(digest, context->state, 4);
    }
    std::memset(context, 0, sizeof(*context));
}

// ---------------------------------------------------------------------------------------------------------------
// Versions
// ---------------------------------------------------------------------------------------------------------------

u32 klib_makeVersion(u32* version, u32 kind, u32 major, u32 minor, u32 revision, char letter)
{
    if (version == nullptr) {
        return KLIB::RESULT_FAILED;
    }
    *version = 0;
    const i32 lower = klib_toLower(static_cast<unsigned char>(letter));
    if (kind >= 2 || major >= 256 || minor > 9 || revision > 9 || lower < 'a' || lower > 'z') {
        return KLIB::RESULT_FAILED;
    }
    const u32 kindLetter = kind == 0 ? 'R' : 'V';
    *version = (kindLetter << 24) | (major << 16) | ((minor * 10 + revision) << 8) | static_cast<u32>(lower - 'a');
    return 0;
}

u32 klib_versionToString(char* out, u32 size, u32 version)
{
    const u32 kindLetter = version >> 24;
    const u32 major = (version >> 16) & 0xFFu;
    const u32 middle = (version >> 8) & 0xFFu;
    const u32 index = version & 0xFFu;
    if ((kindLetter != 'R' && kindLetter != 'V') || middle > 99 || index >= 26) {
        klib_snprintf(out, size, nullptr, "V?.???");
        return KLIB::RESULT_FAILED;
    }
    const char k = static_cast<char>(kindLetter);
    const i32 minor = static_cast<i32>(middle / 10);
    const i32 revision = static_cast<i32>(middle % 10);
    if (index == 0) {
        return klib_snprintf(out, size, nullptr, "%c%d.%d%d", k, static_cast<i32>(major), minor, revision);
    }
    return klib_snprintf(out, size, nullptr, "%c%d.%d%d%c", k, static_cast<i32>(major), minor, revision,
                         static_cast<char>('a' + index));
}

// ---------------------------------------------------------------------------------------------------------------
// ASCII character classes
// ---------------------------------------------------------------------------------------------------------------

i32 klib_isLower(i32 c)
{
    return (c >= 'a' && c <= 'z') ? 1 : 0;
}

i32 klib_isAlpha(i32 c)
{
    return (klib_isLower(c) != 0 || (c >= 'A' && c <= 'Z')) ? 1 : 0;
}

i32 klib_isBlank(i32 c)
{
    return (c == ' ' || c == '\t') ? 1 : 0;
}

i32 klib_isDigit(i32 c)
{
    return (c >= '0' && c <= '9') ? 1 : 0;
}

i32 klib_isSpace(i32 c)
{
    return (c == ' ' || (c >= 9 && c <= 13)) ? 1 : 0;
}

i32 klib_isXDigit(i32 c)
{
    return (klib_isDigit(c) != 0 || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) ? 1 : 0;
}

i32 klib_toLower(i32 c)
{
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

i32 klib_toUpper(i32 c)
{
    return (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c;
}

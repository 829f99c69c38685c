#include "klib_Print.h"
#include "klib_Result.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr u32 kOk = 0;

constexpr char kDigits[] = "0123456789abcdef0123456789ABCDEF";

// Widths and precisions beyond these are clamped; no caller comes near them.
constexpr u32 kMaxWidth = 0xFFFF;
constexpr u32 kMaxPrecision = 350;

// Bounded output: keeps room for the NUL and drops whatever does not fit.
struct Sink
{
    char* buffer;
    u32 capacity; // size - 1
    u32 pos;

    bool full() const { return pos >= capacity; }
    void put(char c)
    {
        if (pos < capacity) {
            buffer[pos++] = c;
        }
    }
    void put(const char* text, u32 count)
    {
        for (u32 i = 0; i < count && pos < capacity; ++i) {
            buffer[pos++] = text[i];
        }
    }
    void fill(char c, u32 count)
    {
        for (u32 i = 0; i < count && pos < capacity; ++i) {
            buffer[pos++] = c;
        }
    }
};

struct Spec
{
    bool plus = false;
    bool left = false;
    bool zero = false;
    u32 width = 0;
};

// Writes sign and body with the padding rules shared by numbers: "0" pads between sign and digits,
// "-" pads on the right, otherwise spaces go in front of the sign. `zeroAllowed` is false for inf/nan.
void emitPadded(Sink& out, const Spec& spec, char sign, const char* body, u32 bodyLength, bool zeroAllowed)
{
    const u32 used = bodyLength + (sign != 0 ? 1u : 0u);
    const u32 pad = spec.width > used ? spec.width - used : 0;
    if (spec.left) {
        if (sign != 0) {
            out.put(sign);
        }
        out.put(body, bodyLength);
        out.fill(' ', pad);
    } else if (spec.zero && zeroAllowed) {
        if (sign != 0) {
            out.put(sign);
        }
        out.fill('0', pad);
        out.put(body, bodyLength);
    } else {
        out.fill(' ', pad);
        if (sign != 0) {
            out.put(sign);
        }
        out.put(body, bodyLength);
    }
}

// Every numeric conversion takes the sign rules: "-" for a negative value, "+" (when asked for) for any non-zero
// value, unsigned and hexadecimal ones included.
void emitInteger(Sink& out, const Spec& spec, u32 magnitude, bool negative, u32 base, bool upper)
{
    char digits[12];
    u32 n = 0;
    const char* table = upper ? kDigits + 16 : kDigits;
    do {
        digits[n++] = table[magnitude % base];
        magnitude /= base;
    } while (magnitude != 0);
    char body[12];
    for (u32 i = 0; i < n; ++i) {
        body[i] = digits[n - 1 - i];
    }
    char sign = 0;
    const bool isZero = (n == 1 && body[0] == '0');
    if (negative) {
        sign = '-';
    } else if (spec.plus && !isZero) {
        sign = '+';
    }
    emitPadded(out, spec, sign, body, n, true);
}

// ---- exact fixed-point conversion of an f64 (same digits and rounding as the C runtime's "%.Nf") ----

// Little-endian multi-word unsigned integer, large enough for 2^1024 and for a 1074-bit fraction times 10.
struct BigNum
{
    static constexpr u32 kWords = 40;
    u32 w[kWords];
    u32 used;
};

// Decimal digits of the integer m * 2^shift (shift >= 0), most significant first; returns the count.
u32 bigIntegerDigits(u64 m, u32 shift, char* out)
{
    BigNum n{};
    n.w[0] = static_cast<u32>(m);
    n.w[1] = static_cast<u32>(m >> 32);
    n.used = 2;
    // Shift left by `shift` bits.
    const u32 wordShift = shift / 32;
    const u32 bitShift = shift % 32;
    if (shift != 0) {
        u32 tmp[BigNum::kWords] = {};
        for (u32 i = 0; i < n.used; ++i) {
            const u64 v = static_cast<u64>(n.w[i]) << bitShift;
            tmp[i + wordShift] |= static_cast<u32>(v);
            tmp[i + wordShift + 1] |= static_cast<u32>(v >> 32);
        }
        std::memcpy(n.w, tmp, sizeof(tmp));
        n.used = n.used + wordShift + 1;
    }
    while (n.used > 0 && n.w[n.used - 1] == 0) {
        --n.used;
    }
    // Repeated division by 10^9 gives nine-digit chunks, least significant first.
    char reversed[400];
    u32 count = 0;
    while (n.used > 0) {
        u64 rem = 0;
        for (u32 i = n.used; i-- > 0;) {
            const u64 cur = (rem << 32) | n.w[i];
            n.w[i] = static_cast<u32>(cur / 1000000000u);
            rem = cur % 1000000000u;
        }
        while (n.used > 0 && n.w[n.used - 1] == 0) {
            --n.used;
        }
        u32 chunk = static_cast<u32>(rem);
        for (u32 d = 0; d < 9; ++d) {
            reversed[count++] = static_cast<char>('0' + chunk % 10);
            chunk /= 10;
            if (n.used == 0 && chunk == 0) {
                break;
            }
        }
    }
    if (count == 0) {
        reversed[count++] = '0';
    }
    for (u32 i = 0; i < count; ++i) {
        out[i] = reversed[count - 1 - i];
    }
    return count;
}

// Writes the digits of |value| with `precision` fraction digits (no sign); returns the length.
// `out` must hold 310 + 1 + precision characters.
u32 formatFixed(f64 value, u32 precision, char* out)
{
    u64 bits;
    std::memcpy(&bits, &value, sizeof(bits));
    const u32 rawExp = static_cast<u32>((bits >> 52) & 0x7FF);
    u64 mant = bits & ((u64{1} << 52) - 1);
    i32 exp;
    if (rawExp == 0) {
        exp = -1074;
    } else {
        mant |= u64{1} << 52;
        exp = static_cast<i32>(rawExp) - 1075;
    }

    u32 len = 0;
    if (exp >= 0) {
        len = bigIntegerDigits(mant, static_cast<u32>(exp), out);
        if (precision > 0) {
            out[len++] = '.';
            for (u32 i = 0; i < precision; ++i) {
                out[len++] = '0';
            }
        }
        return len;
    }

    const u32 scale = static_cast<u32>(-exp); // value = mant / 2^scale
    const u64 intPart = scale < 64 ? (mant >> scale) : 0;
    len = bigIntegerDigits(intPart, 0, out);

    // Fraction F / 2^scale with F < 2^scale, kept in words; each step multiplies by 10 and takes the bits >= scale.
    BigNum f{};
    const u64 fracBits = scale < 64 ? (mant & ((u64{1} << scale) - 1)) : mant;
    f.w[0] = static_cast<u32>(fracBits);
    f.w[1] = static_cast<u32>(fracBits >> 32);
    f.used = scale / 32 + 2;
    const u32 topWord = scale / 32;
    const u32 topBit = scale % 32;

    if (precision > 0) {
        out[len++] = '.';
    }
    for (u32 i = 0; i < precision; ++i) {
        u64 carry = 0;
        for (u32 k = 0; k < f.used; ++k) {
            const u64 v = static_cast<u64>(f.w[k]) * 10u + carry;
            f.w[k] = static_cast<u32>(v);
            carry = v >> 32;
        }
        // Digit = F >> scale (< 10), then keep only the bits below scale.
        u64 high = f.w[topWord];
        if (topWord + 1 < f.used) {
            high |= static_cast<u64>(f.w[topWord + 1]) << 32;
        }
        const u32 digit = static_cast<u32>(high >> topBit);
        f.w[topWord] &= topBit == 0 ? 0u : ((1u << topBit) - 1u);
        for (u32 k = topWord + 1; k < f.used; ++k) {
            f.w[k] = 0;
        }
        out[len++] = static_cast<char>('0' + digit);
    }

    // Round to nearest, ties to even, on the exact remainder.
    bool halfBit;
    bool belowHalf = false;
    if (scale == 0) {
        halfBit = false;
    } else {
        const u32 hb = scale - 1;
        halfBit = ((f.w[hb / 32] >> (hb % 32)) & 1u) != 0;
        for (u32 k = 0; k <= hb / 32 && !belowHalf; ++k) {
            u32 word = f.w[k];
            if (k == hb / 32) {
                word &= (hb % 32) == 0 ? 0u : ((1u << (hb % 32)) - 1u);
            }
            belowHalf = word != 0;
        }
    }
    bool roundUp = false;
    if (halfBit) {
        if (belowHalf) {
            roundUp = true;
        } else {
            const char last = out[len - 1] == '.' ? out[len - 2] : out[len - 1];
            roundUp = ((last - '0') & 1) != 0;
        }
    }
    if (roundUp) {
        i32 i = static_cast<i32>(len) - 1;
        for (; i >= 0; --i) {
            if (out[i] == '.') {
                continue;
            }
            if (out[i] == '9') {
                out[i] = '0';
            } else {
                ++out[i];
                break;
            }
        }
        if (i < 0) {
            std::memmove(out + 1, out, len);
            out[0] = '1';
            ++len;
        }
    }
    return len;
}

void emitFloat(Sink& out, const Spec& spec, f64 value, u32 precision)
{
    u64 bits;
    std::memcpy(&bits, &value, sizeof(bits));
    const bool negative = (bits >> 63) != 0;
    const char sign = negative ? '-' : (spec.plus ? '+' : 0);
    const u32 rawExp = static_cast<u32>((bits >> 52) & 0x7FF);
    if (rawExp == 0x7FF) {
        const bool isNan = (bits & ((u64{1} << 52) - 1)) != 0;
        emitPadded(out, spec, sign, isNan ? "nan" : "inf", 3, false);
        return;
    }
    char body[310 + 2 + kMaxPrecision];
    const u32 length = formatFixed(value, precision, body);
    emitPadded(out, spec, sign, body, length, true);
}

bool isDecimalDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

u32 klib_vsnprintf(char* buffer, u32 size, u32* length, const char* format, va_list args)
{
    if (buffer == nullptr || format == nullptr || size == 0) {
        return KLIB::RESULT_FAILED;
    }
    Sink out{buffer, size - 1, 0};
    const char* p = format;
    while (*p != '\0') {
        if (*p != '%') {
            out.put(*p++);
            continue;
        }
        ++p; // past '%'
        Spec spec;
        for (;; ++p) {
            if (*p == '+') {
                spec.plus = true;
            } else if (*p == '-') {
                spec.left = true;
            } else if (*p == '0') {
                spec.zero = true;
            } else {
                break;
            }
        }
        while (isDecimalDigit(*p)) {
            spec.width = spec.width * 10 + static_cast<u32>(*p - '0');
            if (spec.width > kMaxWidth) {
                spec.width = kMaxWidth;
            }
            ++p;
        }
        // Float conversions: "f", "lf", ".Nf", ".Nlf". Anything else after "." or "l" is ordinary text.
        {
            const char* q = p;
            u32 precision = 6;
            if (*q == '.') {
                ++q;
                precision = 0;
                while (isDecimalDigit(*q)) {
                    precision = precision * 10 + static_cast<u32>(*q - '0');
                    if (precision > kMaxPrecision) {
                        precision = kMaxPrecision;
                    }
                    ++q;
                }
            }
            if (*q == 'l' && q[1] == 'f') {
                ++q;
            }
            if (*q == 'f') {
                emitFloat(out, spec, va_arg(args, double), precision);
                p = q + 1;
                continue;
            }
        }
        switch (*p) {
        case 'd': {
            const i32 v = va_arg(args, int);
            const bool negative = v < 0;
            const u32 magnitude = negative ? 0u - static_cast<u32>(v) : static_cast<u32>(v);
            emitInteger(out, spec, magnitude, negative, 10, false);
            ++p;
            break;
        }
        case 'u':
            emitInteger(out, spec, va_arg(args, unsigned int), false, 10, false);
            ++p;
            break;
        case 'x':
        case 'X':
            emitInteger(out, spec, va_arg(args, unsigned int), false, 16, *p == 'X');
            ++p;
            break;
        case 'c':
            out.put(static_cast<char>(va_arg(args, int)));
            ++p;
            break;
        case 's': {
            const char* s = va_arg(args, const char*);
            if (s == nullptr) {
                s = "";
            }
            // Only as much of the text as can still be written is measured.
            const u32 room = out.capacity - out.pos;
            const u32 measureLimit = spec.width > room ? spec.width : room;
            const u32 n = static_cast<u32>(strnlen(s, measureLimit));
            const u32 pad = spec.width > n ? spec.width - n : 0;
            if (!spec.left) {
                out.fill(' ', pad);
            }
            out.put(s, n);
            if (spec.left) {
                out.fill(' ', pad);
            }
            ++p;
            break;
        }
        case '%':
            out.put('%');
            ++p;
            break;
        default:
            // Not a conversion: the character (if any) is printed as ordinary text by the main loop.
            break;
        }
    }
    buffer[out.pos] = '\0';
    if (length != nullptr) {
        *length = out.pos;
    }
    return kOk;
}

u32 klib_snprintf(char* buffer, u32 size, u32* length, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const u32 result = klib_vsnprintf(buffer, size, length, format, args);
    va_end(args);
    return result;
}

u32 returnZeroVariadic(const char* /*format*/, ...)
{
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Number parsing
// ---------------------------------------------------------------------------------------------------------------

namespace {

i32 digitValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + 10;
    }
    return 99;
}

f64 powerOfTen(u32 e)
{
    static constexpr f64 kExact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                     1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (e <= 22) {
        return kExact[e];
    }
    f64 r = 1e22;
    e -= 22;
    while (e > 0) {
        const u32 step = e > 22 ? 22 : e;
        r *= kExact[step];
        e -= step;
    }
    return r;
}

// Unsigned integer in `base` over text[0..n): every character a digit. Sets overflow when above 32 bits.
bool readDigits(const char* text, u32 n, u32 base, u32* value, bool* overflow)
{
    u64 v = 0;
    *overflow = false;
    for (u32 i = 0; i < n; ++i) {
        const i32 d = digitValue(text[i]);
        if (d >= static_cast<i32>(base)) {
            return false;
        }
        v = v * base + static_cast<u32>(d);
        if (v > 0xFFFFFFFFull) {
            *overflow = true;
            v &= 0xFFFFFFFFull;
        }
    }
    *value = static_cast<u32>(v);
    return true;
}

} // namespace

u32 klib_strToFloat(f32* value, u32* form, const char* text, u32 length)
{
    if (value == nullptr || form == nullptr || text == nullptr || length == 0) {
        return KLIB::RESULT_BAD_ARGUMENT;
    }
    u32 i = 0;
    bool negative = false;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        ++i;
    }
    u64 mantissa = 0;        // first 19 significant digits
    i32 decimalExponent = 0; // correction for dropped and fraction digits
    u32 significant = 0;
    u32 intDigits = 0;
    u32 fracDigits = 0;
    bool endedByNul = false;

    auto takeDigit = [&](char c, bool fraction) {
        const u32 d = static_cast<u32>(c - '0');
        if (mantissa == 0 && d == 0) {
            if (fraction) {
                --decimalExponent;
            }
            return;
        }
        if (significant < 19) {
            mantissa = mantissa * 10 + d;
            ++significant;
            if (fraction) {
                --decimalExponent;
            }
        } else if (!fraction) {
            ++decimalExponent;
        }
    };

    for (; i < length; ++i) {
        const char c = text[i];
        if (c == '\0') {
            endedByNul = true;
            break;
        }
        if (!isDecimalDigit(c)) {
            break;
        }
        takeDigit(c, false);
        ++intDigits;
    }
    bool hasPoint = false;
    if (!endedByNul && i < length && text[i] == '.') {
        hasPoint = true;
        ++i;
        for (; i < length; ++i) {
            const char c = text[i];
            if (c == '\0') {
                endedByNul = true;
                break;
            }
            if (!isDecimalDigit(c)) {
                break;
            }
            takeDigit(c, true);
            ++fracDigits;
        }
    }
    if (intDigits + fracDigits == 0) {
        return KLIB::RESULT_MALFORMED; // no digit at all (including "", "-", ".", "e5")
    }
    i64 exponent = 0;
    bool hasExponent = false;
    if (!endedByNul && i < length && (text[i] == 'e' || text[i] == 'E')) {
        hasExponent = true;
        ++i;
        bool expNegative = false;
        if (i < length && (text[i] == '+' || text[i] == '-')) {
            expNegative = text[i] == '-';
            ++i;
        }
        u32 expDigits = 0;
        for (; i < length; ++i) {
            const char c = text[i];
            if (c == '\0') {
                endedByNul = true;
                break;
            }
            if (!isDecimalDigit(c)) {
                return KLIB::RESULT_MALFORMED;
            }
            // Bounded: anything past a few thousand already over- or underflows an f32.
            if (exponent < 100000) {
                exponent = exponent * 10 + (c - '0');
            }
            ++expDigits;
        }
        if (expDigits == 0) {
            return KLIB::RESULT_MALFORMED;
        }
        if (expNegative) {
            exponent = -exponent;
        }
    }
    if (!endedByNul && i < length) {
        return KLIB::RESULT_MALFORMED; // a stray character (second sign or point, letter, ...)
    }
    const u32 done = endedByNul ? 0u : 1u;

    const bool isFloat = (hasPoint && fracDigits > 0) || (hasExponent && exponent != 0);
    if (!isFloat) {
        // Integer: the digits themselves (no fraction digits were taken, so decimalExponent counts dropped ones).
        if (decimalExponent != 0 || mantissa > (negative ? 0x80000000ull : 0xFFFFFFFFull)) {
            return KLIB::RESULT_MALFORMED; // does not fit in 32 bits
        }
        const u32 magnitude = static_cast<u32>(mantissa);
        if (negative && magnitude != 0) {
            const u32 bitsOut = 0u - magnitude;
            std::memcpy(value, &bitsOut, sizeof(bitsOut));
            *form = KLIB_NUMBER_FORM_NEGATIVE;
        } else {
            std::memcpy(value, &magnitude, sizeof(magnitude));
            *form = KLIB_NUMBER_FORM_UNSIGNED;
        }
        return done;
    }

    const i64 total = static_cast<i64>(decimalExponent) + exponent;
    f64 v = static_cast<f64>(mantissa);
    if (mantissa != 0) {
        if (total > 0) {
            v *= powerOfTen(total > 1000 ? 1000u : static_cast<u32>(total));
        } else if (total < 0) {
            // 10^down may be infinite for huge exponents; the quotient is then 0, as it is for an f32 anyway.
            const i64 down = -total;
            v /= powerOfTen(static_cast<u32>(down > 1000 ? 1000 : down));
        }
    }
    f32 result = static_cast<f32>(v);
    if (std::isinf(result)) {
        return KLIB::RESULT_MALFORMED; // beyond the f32 range
    }
    if (negative) {
        result = -result;
    }
    *value = result;
    *form = KLIB_NUMBER_FORM_FLOAT;
    return done;
}

u32 klib_strToNumber(void* value, u32* form, const char* text, u32 length)
{
    if (value == nullptr || form == nullptr || text == nullptr || length == 0) {
        return KLIB::RESULT_BAD_ARGUMENT;
    }
    const u32 n = static_cast<u32>(strnlen(text, length));
    const u32 done = n < length ? 0u : 1u;
    if (n == 0) {
        return KLIB::RESULT_MALFORMED;
    }

    enum class Base { Decimal, Octal, Hex } base = Base::Decimal;
    u32 digitsStart = 0;
    if (text[0] == 'x' || text[0] == 'X') {
        base = Base::Hex;
        digitsStart = 1;
    } else if (text[0] == '0') {
        u32 k = 0;
        while (k < n && text[k] == '0') {
            ++k;
        }
        if (k < n && (text[k] == 'x' || text[k] == 'X')) {
            base = Base::Hex;
            digitsStart = k + 1;
        } else if (k < n && text[k] >= '1' && text[k] <= '9') {
            base = Base::Octal;
            digitsStart = k;
        }
    }

    u32 end = n;
    bool floatSuffix = false;
    if (base == Base::Decimal && end > 0 && (text[end - 1] == 'f' || text[end - 1] == 'F')) {
        floatSuffix = true;
        --end;
    }
    if (end > digitsStart && (text[end - 1] == 'l' || text[end - 1] == 'L')) {
        --end;
    }
    if (end > digitsStart && (text[end - 1] == 'u' || text[end - 1] == 'U')) {
        --end;
    }

    if (base == Base::Decimal) {
        if (end == 0) {
            return KLIB::RESULT_MALFORMED;
        }
        f32 f = 0;
        u32 bits = 0;
        u32 localForm = 0;
        // The stripped text has no NUL inside, so klib_strToFloat runs it to `end`.
        const u32 r = klib_strToFloat(&f, &localForm, text, end);
        if ((r & 0x80000000u) != 0) {
            return r;
        }
        std::memcpy(&bits, &f, sizeof(bits)); // integer forms arrive as raw 32 bits
        if (floatSuffix && localForm != KLIB_NUMBER_FORM_FLOAT) {
            // "10f": a decimal fraction after all.
            const f32 asFloat = localForm == KLIB_NUMBER_FORM_NEGATIVE ? static_cast<f32>(static_cast<i32>(bits))
                                                                       : static_cast<f32>(bits);
            std::memcpy(&bits, &asFloat, sizeof(bits));
            localForm = KLIB_NUMBER_FORM_FLOAT;
        }
        std::memcpy(value, &bits, sizeof(bits));
        *form = localForm;
        return done;
    }

    if (end <= digitsStart) {
        return KLIB::RESULT_MALFORMED; // "0x" with no digits
    }
    u32 v = 0;
    bool overflow = false;
    if (!readDigits(text + digitsStart, end - digitsStart, base == Base::Hex ? 16 : 8, &v, &overflow)) {
        return KLIB::RESULT_MALFORMED;
    }
    if (overflow && base == Base::Octal) {
        return KLIB::RESULT_MALFORMED; // hexadecimal wraps modulo 2^32; octal reports the overflow like decimal
    }
    std::memcpy(value, &v, sizeof(v));
    *form = KLIB_NUMBER_FORM_UNSIGNED;
    return done;
}

namespace {

// Shared scanner of klib_strtol/klib_strtoul: reads blanks, sign, prefix and digits; the magnitude saturates at
// `limit` (overflow set) while the remaining digits are still consumed.
u32 scanInteger(const char* text, char** end, i32 base, u32 length, u64 limit, u64* magnitude, bool* negative,
                bool* overflow)
{
    *magnitude = 0;
    *negative = false;
    *overflow = false;
    u32 i = 0;
    while (i < length && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        *negative = text[i] == '-';
        ++i;
    }
    if (base == 0) {
        if (i + 1 < length && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
            base = 16;
            i += 2;
        } else if (i + 1 < length && text[i] == '0' && isDecimalDigit(text[i + 1])) {
            base = 8;
            i += 1;
        } else {
            base = 10;
        }
    }
    u64 v = 0;
    u32 digits = 0;
    for (; i < length; ++i) {
        const i32 d = digitValue(text[i]);
        if (d >= base) {
            break;
        }
        ++digits;
        if (!*overflow) {
            v = v * static_cast<u64>(base) + static_cast<u64>(d);
            if (v > limit) {
                *overflow = true;
            }
        }
    }
    if (end != nullptr) {
        *end = const_cast<char*>(digits > 0 ? text + i : text);
    }
    *magnitude = v;
    return digits;
}

bool validBase(i32 base)
{
    return base == 0 || (base >= 2 && base <= 36);
}

} // namespace

u32 klib_strtol(i32* result, const char* text, char** end, i32 base, u32 length)
{
    if (result == nullptr || text == nullptr || !validBase(base)) {
        return KLIB::RESULT_BAD_ARGUMENT;
    }
    u64 magnitude = 0;
    bool negative = false;
    bool overflow = false;
    // The negative side reaches one further than the positive (INT32_MIN is representable).
    scanInteger(text, end, base, length, 0x80000000ull, &magnitude, &negative, &overflow);
    if (!negative && magnitude > 0x7FFFFFFFull) {
        overflow = true;
    }
    if (overflow) {
        *result = negative ? static_cast<i32>(0x80000000u) : 0x7FFFFFFF;
        return negative ? KLIB::RESULT_UNDERFLOW : KLIB::RESULT_OVERFLOW;
    }
    const u32 m = static_cast<u32>(magnitude);
    *result = static_cast<i32>(negative ? 0u - m : m);
    return kOk;
}

u32 klib_strtoul(u32* result, const char* text, char** end, i32 base, u32 length)
{
    if (result == nullptr || text == nullptr || !validBase(base)) {
        return KLIB::RESULT_BAD_ARGUMENT;
    }
    u64 magnitude = 0;
    bool negative = false;
    bool overflow = false;
    scanInteger(text, end, base, length, 0xFFFFFFFFull, &magnitude, &negative, &overflow);
    if (overflow) {
        *result = 0xFFFFFFFFu;
        return KLIB::RESULT_MALFORMED;
    }
    const u32 m = static_cast<u32>(magnitude);
    *result = negative ? 0u - m : m;
    return kOk;
}

// ---------------------------------------------------------------------------------------------------------------
// Memory and strings
// ---------------------------------------------------------------------------------------------------------------

u32 klib_memcmp(const void* a, const void* b, u32 n)
{
    if (a == nullptr || b == nullptr) {
        return KLIB::RESULT_NULL_POINTER;
    }
    const int r = std::memcmp(a, b, n);
    return r == 0 ? 0u : (r > 0 ? 1u : 2u);
}

u32 klib_memcpy(void* dst, const void* src, u32 n)
{
    if (dst == nullptr || src == nullptr) {
        return KLIB::RESULT_NULL_POINTER;
    }
    std::memmove(dst, src, n);
    return kOk;
}

u32 klib_memset(void* dst, i32 byte, u32 n)
{
    if (dst == nullptr || n == 0) {
        return KLIB::RESULT_NULL_POINTER;
    }
    std::memset(dst, byte, n);
    return kOk;
}

u32 klib_strlcpy(char* dst, u32 size, const char* src)
{
    if (dst == nullptr || src == nullptr || size == 0) {
        return KLIB::RESULT_NULL_POINTER;
    }
    u32 i = 0;
    for (; i + 1 < size && src[i] != '\0'; ++i) {
        dst[i] = src[i];
    }
    dst[i] = '\0';
    return src[i] == '\0' ? kOk : KLIB::RESULT_CUT;
}

u32 klib_strncpy(char* dst, const char* src, u32 n)
{
    if (dst == nullptr || src == nullptr || n == 0) {
        return KLIB::RESULT_NULL_POINTER;
    }
    for (u32 i = 0; i < n; ++i) {
        dst[i] = src[i];
        if (src[i] == '\0') {
            return kOk;
        }
    }
    dst[n] = '\0';
    return 5;
}

u32 klib_strnlen(const char* s, u32 max)
{
    if (s == nullptr || max == 0) {
        return 0;
    }
    return static_cast<u32>(strnlen(s, max));
}

u32 klib_strlenChecked(const char* s, u32 max, u32* length)
{
    if (length == nullptr) {
        return KLIB::RESULT_NULL_POINTER;
    }
    if (s == nullptr) {
        *length = 0;
        return KLIB::RESULT_NULL_POINTER;
    }
    const u64 limit = static_cast<u64>(max) + 1;
    for (u64 i = 0; i < limit; ++i) {
        if (s[i] == '\0') {
            *length = static_cast<u32>(i);
            return kOk;
        }
    }
    *length = max;
    return KLIB::RESULT_NO_MATCH;
}

u32 klib_strnlenChecked(const char* s, u32 max, u32* length)
{
    if (length == nullptr) {
        return KLIB::RESULT_NULL_POINTER;
    }
    if (s == nullptr) {
        *length = 0;
        return KLIB::RESULT_NULL_POINTER;
    }
    if (max == 0) {
        *length = 0;
        return KLIB::RESULT_NO_MATCH;
    }
    const u32 n = static_cast<u32>(strnlen(s, max));
    if (n < max) {
        *length = n;
        return kOk;
    }
    *length = max;
    return KLIB::RESULT_NO_MATCH;
}

u32 klib_strnchr(const char* s, char c, u32 max, char** found)
{
    if (found == nullptr) {
        return KLIB::RESULT_NULL_POINTER;
    }
    *found = nullptr;
    if (s == nullptr || max == 0) {
        return KLIB::RESULT_NULL_POINTER;
    }
    for (u32 i = 0; i < max; ++i) {
        if (s[i] == c) {
            *found = const_cast<char*>(s + i);
            return kOk;
        }
        if (s[i] == '\0') {
            break;
        }
    }
    return KLIB::RESULT_NO_MATCH;
}

u32 klib_strncmp(const char* a, const char* b, u32 n)
{
    if (a == nullptr || b == nullptr || n == 0) {
        return KLIB::RESULT_NULL_POINTER;
    }
    for (u32 i = 0; i < n; ++i) {
        const auto ca = static_cast<signed char>(a[i]);
        const auto cb = static_cast<signed char>(b[i]);
        if (ca != cb) {
            return ca > cb ? 1u : 2u;
        }
        if (ca == 0) {
            break;
        }
    }
    return kOk;
}

// ---------------------------------------------------------------------------------------------------------------
// Debug print pair
// ---------------------------------------------------------------------------------------------------------------

namespace {
thread_local const char* t_printFile = nullptr;
thread_local u32 t_printLine = 0;
} // namespace

u32 klib_setPrintLocation(const char* sourcePath, u32 line)
{
    const char* name = sourcePath;
    if (sourcePath != nullptr) {
        for (const char* p = sourcePath; *p != '\0'; ++p) {
            if (*p == '/' || *p == '\\') {
                name = p + 1;
            }
        }
    }
    t_printFile = name;
    t_printLine = line;
    return kOk;
}

void klib_getPrintLocation(const char** file, u32* line)
{
    if (file != nullptr) {
        *file = t_printFile;
    }
    if (line != nullptr) {
        *line = t_printLine;
    }
}

u32 klib_printf(const char* format, ...)
{
    if (format == nullptr) {
        return KLIB::RESULT_FAILED;
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    return kOk;
}

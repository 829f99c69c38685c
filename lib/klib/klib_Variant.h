// KVariant: the tagged value carried by parameters, message fields, options and protocol arguments.
//
// Kinds: 0 signed 32-bit integer, 1 unsigned 32-bit integer, 2 text, 3 32-bit float, 4 binary, 5 empty.
// Texts and binaries live in headed blocks of heap 0 (see klib_HeapManager.h):
//   text   payload = the characters and a NUL (at most 1023 characters),
//   binary payload = 4-byte big-endian size followed by the bytes (at most 0xFFFFFB bytes).
//
// The cross-kind rules are fixed and callers depend on them, asymmetries included:
//   - int/uint compare equal when their 32-bit patterns match; float == int converts the int, int == float is false;
//   - texts and binaries are ordered by size alone, the longer one being the lesser;
//   - an empty value equals nothing, not even another empty value;
//   - + and - keep the left operand's kind (a float added to an int adds nothing).
#pragma once

#include "klib_Result.h"
#include "klib_Types.h"

class KVariant
{
public:
    // Kinds.
    static constexpr u32 KIND_INT32 = 0;
    static constexpr u32 KIND_UINT32 = 1;
    static constexpr u32 KIND_STRING = 2;
    static constexpr u32 KIND_FLOAT32 = 3;
    static constexpr u32 KIND_BINARY = 4;
    static constexpr u32 KIND_EMPTY = 5;

    // Setter results.
    static constexpr u32 RESULT_SET_OK = 0x10000;
    static constexpr u32 RESULT_BAD_INPUT =
        KLIB::RESULT_VARIANT_BAD_INPUT; // over-long text ("ERROR:" stored) or bad binary arguments
    static constexpr u32 RESULT_NO_MEMORY =
        KLIB::RESULT_VARIANT_NO_MEMORY; // no heap manager, no memory or binary too large

    static constexpr u32 MAX_STRING_LENGTH = 1023;   // characters, without the NUL
    static constexpr u32 MAX_BINARY_SIZE = 0xFFFFFB; // bytes

    // Tags given to the heap manager for the two kinds of storage.
    static constexpr const char* STRING_TAG = "KVariant::m_Value.m_pString";
    static constexpr const char* BINARY_TAG = "KVariant::m_Value.m_pBinary";

    KVariant();
    KVariant(short value);
    KVariant(int value);
    KVariant(unsigned int value);
    KVariant(float value);
    KVariant(const char* text, u32 maxLength = 1024); // setString(text, maxLength)
    KVariant(const void* data, u32 size);             // setBinary(data, size)
    KVariant(const KVariant& other);
    KVariant(KVariant&& other) noexcept; // the source keeps its kind but loses its storage
    virtual ~KVariant();

    // Every numeric assignment clears the old value first.
    virtual KVariant& operator=(float value);           // kind 3
    virtual KVariant& operator=(unsigned char value);   // kind 1
    virtual KVariant& operator=(unsigned short value);  // kind 1
    virtual KVariant& operator=(unsigned int value);    // kind 1
    virtual KVariant& operator=(unsigned long value);   // kind 1, low 32 bits
    virtual KVariant& operator=(signed char value);     // kind 0
    virtual KVariant& operator=(short value);           // kind 0
    virtual KVariant& operator=(int value);             // kind 0
    virtual KVariant& operator=(long value);            // kind 0, low 32 bits
    virtual KVariant& operator=(const KVariant& other); // deep copy; self-assignment keeps the value
    KVariant& operator=(KVariant&& other) noexcept;

    virtual bool operator==(const KVariant& other) const;    // isEqual
    virtual bool operator!=(const KVariant& other) const;    // !isEqual
    virtual bool operator<(const KVariant& other) const;     // isLess
    virtual bool operator<=(const KVariant& other) const;    // isLess || isEqual
    virtual bool operator>(const KVariant& other) const;     // !isLess && !isEqual
    virtual bool operator>=(const KVariant& other) const;    // !isLess
    virtual KVariant operator+(const KVariant& other) const; // addScaled(other, +1)
    virtual KVariant operator-(const KVariant& other) const; // addScaled(other, -1)

    // Setters: 0x10000 on success, else one of the failure results above.
    u32 setInt(i32 value);
    u32 setUInt(u32 value);
    u32 setFloat(f32 value);
    // Stores at most maxLength characters of text (null text = empty text). More than 1023 characters
    // store "ERROR:" and give 0x80010001; without memory the value stays empty and 0x80010002 is given.
    // The text (or, for setBinary, the bytes) may be this value's own storage.
    u32 setString(const char* text, u32 maxLength);
    // Null data, size 0 or size > 0xFFFFFFFB: 0x80010001; too large for a block or no memory: 0x80010002.
    u32 setBinary(const void* data, u32 size);
    // Releases text/binary storage; kind 5, value 0. Returns 0.
    u32 clear();

    u32 getKind() const { return m_Kind; }
    bool isValid() const { return m_Kind != KIND_EMPTY; }
    // 4 for numbers; text length + 1 for texts; stored byte count for binaries; 0 without storage or when empty.
    u32 getSize() const;
    u32 getStringSize(bool* ok = nullptr) const;
    u32 getBinarySize(bool* ok = nullptr) const;

    // Typed getters; `ok` may be null. A float is never converted to an integer.
    i32 getInt(bool* ok = nullptr) const;            // kinds 0 and 1 (same 32 bits)
    u32 getUInt(bool* ok = nullptr) const;           // getInt's 32 bits read as unsigned
    f32 getFloat(bool* ok = nullptr) const;          // kinds 0 (signed), 1 (unsigned), 3
    f64 getDouble(bool* ok = nullptr) const;         // kinds 0 (signed), 1 (unsigned), 3
    const char* getString(bool* ok = nullptr) const; // kind 2 with storage
    const void* getBinary(bool* ok = nullptr) const; // kind 4 with storage: the bytes after the length

    bool isEqual(const KVariant& other) const;
    bool isLess(const KVariant& other) const;
    // New value of this value's kind: this + factor * other (see the rules at the top).
    KVariant addScaled(const KVariant& other, i32 factor) const;

private:
    void takeOver(KVariant& other) noexcept;
    bool copyStorage(const KVariant& other);

    union Value {
        i32 m_Int;
        u32 m_UInt;
        f32 m_Float;
        char* m_pString;
        u8* m_pBinary; // points at the 4-byte length
        u64 m_Raw;
    } m_Value;
    u32 m_Kind;
};

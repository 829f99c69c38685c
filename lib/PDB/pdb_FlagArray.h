// Change flags: which elements (or parameter blocks) changed since a consumer last looked.
//
// Flag i is bit 0x80000000 >> (i & 31) of 32-bit word i / 32, so flag 0 is the most significant bit of word 0.
// The bits of the last word beyond the count are always 0, and the set count always equals the set bits.
//
// A consumer walks the changes with index = 0, then repeatedly findNext(index): on 0 it handles flag index,
// resets it if it consumes it, and continues from index + 1; it stops on 0x200000.
//
// No locking inside: the owning component or database serialises access.
#pragma once

#include <bit>

#include "klib_Types.h"
#include "pdb_Result.h"

namespace PDB {

class IFlagArray
{
public:
    virtual ~IFlagArray() = default;

    virtual u32 getSetCount() const = 0;
    virtual u32 getCount() const = 0;
    // index >= count: 0x80000001.
    virtual i32 set(u32 index) = 0;
    virtual i32 reset(u32 index) = 0;
    // false for index >= count.
    virtual bool isSet(u32 index) const = 0;
    virtual i32 setAll() = 0;
    virtual i32 resetAll() = 0;
    virtual bool hasAny() const = 0;
    // First set flag at or after index, left in index: 0 found; 0x200000 nothing (more) set; 0x80200001 when a
    // flag is set but index >= count. With no flag set at all, index stays unchanged.
    virtual i32 findNext(u32& index) const = 0;
};

class FlagArray final : public IFlagArray
{
public:
    FlagArray() = default;
    FlagArray(const FlagArray& other);
    // Deep copy; an allocation failure leaves this array empty.
    FlagArray& operator=(const FlagArray& other);
    FlagArray(FlagArray&& other) noexcept;
    FlagArray& operator=(FlagArray&& other) noexcept;
    ~FlagArray() override;

    // Frees the old words, then allocates ceil(count / 32) zeroed words. count 0 leaves the array empty and
    // returns 0x80000001; allocation failure leaves it empty and gives 0x80040000.
    i32 allocate(u32 count);

    // The word block (null when empty) and its length in words.
    const u32* getWords() const { return m_pWords; }
    u32 getWordCount() const { return wordCount(m_count); }
    static u32 wordCount(u32 count) { return count / 32 + ((count & 31) != 0 ? 1 : 0); }

    u32 getSetCount() const override { return m_setCount; }
    u32 getCount() const override { return m_count; }
    // Single-word operations, inline so that scans through a FlagArray cost no call per flag.
    i32 set(u32 index) override
    {
        if (index >= m_count) {
            return RESULT_BAD_INDEX;
        }
        u32& word = m_pWords[index >> 5];
        const u32 bit = bitOf(index);
        if ((word & bit) == 0) {
            word |= bit;
            ++m_setCount;
        }
        return 0;
    }
    i32 reset(u32 index) override
    {
        if (index >= m_count) {
            return RESULT_BAD_INDEX;
        }
        u32& word = m_pWords[index >> 5];
        const u32 bit = bitOf(index);
        if ((word & bit) != 0) {
            word &= ~bit;
            --m_setCount;
        }
        return 0;
    }
    bool isSet(u32 index) const override { return index < m_count && (m_pWords[index >> 5] & bitOf(index)) != 0; }
    i32 setAll() override;
    i32 resetAll() override;
    bool hasAny() const override { return m_setCount > 0; }
    i32 findNext(u32& index) const override
    {
        if (m_setCount == 0) {
            return RESULT_NO_FURTHER_CHANGE;
        }
        if (index >= m_count) {
            return RESULT_INDEX_OUT_OF_RANGE;
        }
        // The bits of index's word from index on, shifted to the top: the leading zeros are the distance to
        // the next set flag. Zero words after it are skipped whole.
        const u32 word = m_pWords[index >> 5] << (index & 31);
        if (word != 0) {
            index += static_cast<u32>(std::countl_zero(word));
            return 0;
        }
        return findInLaterWords(index, (index >> 5) + 1);
    }

private:
    static constexpr i32 RESULT_BAD_INDEX = PDB::RESULT_BAD_ARGUMENT;
    static constexpr i32 RESULT_INDEX_OUT_OF_RANGE = PDB::RESULT_INDEX_OUT_OF_RANGE;
    static constexpr i32 RESULT_NO_FURTHER_CHANGE = 0x200000;

    static constexpr u32 bitOf(u32 index) { return 0x80000000u >> (index & 31); }
    // findNext beyond the word of index, from word w on.
    i32 findInLaterWords(u32& index, u32 w) const;
    void freeWords();

    u32* m_pWords = nullptr;
    u32 m_count = 0;
    u32 m_setCount = 0;
};

// Stand-in where no flags exist: nothing is ever set. One shared instance.
class DummyFlagArray final : public IFlagArray
{
public:
    u32 getSetCount() const override { return 0; }
    u32 getCount() const override { return 0; }
    i32 set(u32) override { return 0; }
    i32 reset(u32) override { return 0; }
    bool isSet(u32) const override { return false; }
    i32 setAll() override { return 0; }
    i32 resetAll() override { return 0; }
    bool hasAny() const override { return false; }
    i32 findNext(u32&) const override { return 0x200000; }
};

// The one shared DummyFlagArray; it lives for the whole process and is never freed by its users.
IFlagArray* getDummyFlagArray();

} // namespace PDB

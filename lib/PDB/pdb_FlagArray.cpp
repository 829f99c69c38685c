// Change-flag bit sets.
#include "pdb_FlagArray.h"
#include "pdb_Result.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

namespace PDB {

namespace {

constexpr i32 kNoFurtherChange = 0x200000;

} // namespace

FlagArray::FlagArray(const FlagArray& other)
{
    *this = other;
}

FlagArray& FlagArray::operator=(const FlagArray& other)
{
    if (&other == this) {
        return *this;
    }
    if (other.m_pWords == nullptr) {
        freeWords();
        return *this;
    }
    if (allocate(other.m_count) == 0) {
        std::memcpy(m_pWords, other.m_pWords, size_t{getWordCount()} * sizeof(u32));
        m_setCount = other.m_setCount;
    }
    return *this;
}

FlagArray::FlagArray(FlagArray&& other) noexcept
    : m_pWords(other.m_pWords), m_count(other.m_count), m_setCount(other.m_setCount)
{
    other.m_pWords = nullptr;
    other.m_count = 0;
    other.m_setCount = 0;
}

FlagArray& FlagArray::operator=(FlagArray&& other) noexcept
{
    if (&other != this) {
        freeWords();
        m_pWords = other.m_pWords;
        m_count = other.m_count;
        m_setCount = other.m_setCount;
        other.m_pWords = nullptr;
        other.m_count = 0;
        other.m_setCount = 0;
    }
    return *this;
}

FlagArray::~FlagArray()
{
    freeWords();
}

void FlagArray::freeWords()
{
    std::free(m_pWords);
    m_pWords = nullptr;
    m_count = 0;
    m_setCount = 0;
}

i32 FlagArray::allocate(u32 count)
{
    freeWords();
    if (count == 0) {
        return RESULT_BAD_ARGUMENT;
    }
    void* words = std::calloc(wordCount(count), sizeof(u32));
    if (words == nullptr) {
        return RESULT_NO_MEMORY;
    }
    m_pWords = static_cast<u32*>(words);
    m_count = count;
    return 0;
}

i32 FlagArray::setAll()
{
    if (m_count == 0) {
        return 0;
    }
    const u32 words = getWordCount();
    std::memset(m_pWords, 0xFF, size_t{words} * sizeof(u32));
    const u32 tail = m_count & 31;
    if (tail != 0) {
        m_pWords[words - 1] = 0xFFFFFFFFu << (32 - tail);
    }
    m_setCount = m_count;
    return 0;
}

i32 FlagArray::resetAll()
{
    if (m_pWords != nullptr) {
        std::memset(m_pWords, 0, size_t{getWordCount()} * sizeof(u32));
    }
    m_setCount = 0;
    return 0;
}

i32 FlagArray::findInLaterWords(u32& index, u32 w) const
{
    const u32 words = getWordCount();
    // A nearby word first, then long zero runs four words at a time, then the rest word by word.
    const u32 nearEnd = std::min(words, w + 4);
    for (; w < nearEnd; ++w) {
        if (m_pWords[w] != 0) {
            index = (w << 5) + static_cast<u32>(std::countl_zero(m_pWords[w]));
            return 0;
        }
    }
    while (w + 4 <= words && (m_pWords[w] | m_pWords[w + 1] | m_pWords[w + 2] | m_pWords[w + 3]) == 0) {
        w += 4;
    }
    for (; w < words; ++w) {
        if (m_pWords[w] != 0) {
            index = (w << 5) + static_cast<u32>(std::countl_zero(m_pWords[w]));
            return 0;
        }
    }
    // Past the last word (clamped where that would wrap): at or past the count.
    index = static_cast<u32>(std::min<u64>(u64{words} * 32, 0xFFFFFFFFu));
    return kNoFurtherChange;
}

IFlagArray* getDummyFlagArray()
{
    // Built in place and never destroyed, so it outlives every user, static ones included.
    alignas(DummyFlagArray) static unsigned char storage[sizeof(DummyFlagArray)];
    static DummyFlagArray* const instance = new (storage) DummyFlagArray();
    return instance;
}

} // namespace PDB

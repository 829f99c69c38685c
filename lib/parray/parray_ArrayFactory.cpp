#include "parray_ArrayFactory.h"

#include <cstdlib>
#include <cstring>

namespace PARRAY {
namespace ArrayFactory {

namespace {

constexpr char SET_TAG[4] = {'#', 'A', 'r', '1'};

bool hasSetTag(const u8* set)
{
    return set != nullptr && std::memcmp(set, SET_TAG, sizeof(SET_TAG)) == 0;
}

u32 readSetCount(const u8* set)
{
    u32 count = 0;
    std::memcpy(&count, set + 4, sizeof(count));
    return count;
}

u64 ceilDivide(u64 numerator, u64 denominator)
{
    return denominator == 0 ? 0 : (numerator + denominator - 1) / denominator;
}

} // namespace

u32 decodeSize(u32 code, u32 a, u32 b)
{
    const u64 n = code & 0x00FFFFFFu;
    const u32 rounding = (code >> 24) & 0xFu;
    const u32 base = code >> 28;
    u64 size = n;
    switch (base) {
    case 1:
        size = n * a;
        break;
    case 2:
        size = n * b;
        break;
    case 3:
        size = ceilDivide(a, n);
        break;
    case 4:
        size = ceilDivide(b, n);
        break;
    default:
        break;
    }
    if (rounding >= 1 && rounding <= 6) {
        const u64 multiple = 1ull << rounding;
        size = (size + multiple - 1) & ~(multiple - 1);
    }
    return size > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<u32>(size);
}

u32 getDimensionCount(const u32* descriptor)
{
    if (descriptor == nullptr || descriptor[1] == 0) {
        return 0;
    }
    if (descriptor[2] == 0) {
        return 1;
    }
    return descriptor[3] == 0 ? 2 : 3;
}

u32 createSet(u8** outSet, u32* outSize, const u32* descriptors, u32 count, u32 a, u32 b)
{
    if (outSet == nullptr || outSize == nullptr) {
        return RESULT_FAILED;
    }
    *outSet = nullptr;
    *outSize = 0;
    if (descriptors == nullptr || count == 0 || a == 0 || b == 0) {
        return RESULT_FAILED;
    }
    const u64 setSize = SET_HEADER_SIZE + static_cast<u64>(count) * sizeof(IArray*);
    if (setSize > 0xFFFFFFFFull) {
        return RESULT_FAILED;
    }
    u8* set = static_cast<u8*>(std::calloc(1, static_cast<size_t>(setSize)));
    if (set == nullptr) {
        return RESULT_FAILED;
    }
    std::memcpy(set, SET_TAG, sizeof(SET_TAG));
    std::memcpy(set + 4, &count, sizeof(count));
    *outSet = set;
    *outSize = static_cast<u32>(setSize);

    for (u32 i = 0; i < count; ++i) {
        const u32* descriptor = descriptors + static_cast<size_t>(i) * DESCRIPTOR_WORDS;
        const ITypeAccessor* accessor = getTypeAccessor(descriptor[0]);
        if (accessor == nullptr) {
            return RESULT_FAILED;
        }
        IArray** slot = getArrayAt(set, i);
        if (accessor->createArray(slot, getDimensionCount(descriptor), decodeSize(descriptor[1], a, b),
                                  decodeSize(descriptor[2], a, b), decodeSize(descriptor[3], a, b)) != RESULT_OK) {
            return RESULT_FAILED;
        }
    }
    return RESULT_OK;
}

IArray** getArrayAt(u8* set, u32 index)
{
    if (!hasSetTag(set) || index >= readSetCount(set)) {
        return nullptr;
    }
    return reinterpret_cast<IArray**>(set + SET_HEADER_SIZE) + index;
}

u32 destroySet(u8* set, const u32* descriptors, u32 count)
{
    if (!hasSetTag(set)) {
        return RESULT_FAILED;
    }
    const u32 setCount = readSetCount(set);
    u32 result = (descriptors == nullptr || count == 0 || count != setCount) ? RESULT_FAILED : RESULT_OK;
    for (u32 i = 0; i < setCount; ++i) {
        if (result == RESULT_OK) {
            const u32* descriptor = descriptors + static_cast<size_t>(i) * DESCRIPTOR_WORDS;
            if (descriptor[0] >= ELEMENT_TYPE_COUNT || getDimensionCount(descriptor) == 0) {
                result = RESULT_FAILED;
            }
        }
        // The arrays delete through their virtual destructor, so a bad descriptor cannot strand them.
        IArray** slot = getArrayAt(set, i);
        delete *slot;
        *slot = nullptr;
    }
    std::memset(set, 0, SET_HEADER_SIZE);
    std::free(set);
    return result;
}

} // namespace ArrayFactory
} // namespace PARRAY

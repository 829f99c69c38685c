#include "parray_ArrayAccessorForServer.h"

#include <new>

namespace PARRAY {

ArrayAccessorForServer::~ArrayAccessorForServer()
{
    clear();
}

u32 ArrayAccessorForServer::create(const u32* descriptors, u32 count, u32 a, u32 b)
{
    clear();
    if (descriptors == nullptr || count == 0) {
        return RESULT_FAILED;
    }

    u8* set = nullptr;
    u32 setSize = 0;
    const u32 result = ArrayFactory::createSet(&set, &setSize, descriptors, count, a, b);
    if (result != RESULT_OK) {
        if (set != nullptr) {
            ArrayFactory::destroySet(set, descriptors, count);
        }
        return result;
    }

    const size_t words = static_cast<size_t>(count) * DESCRIPTOR_WORDS;
    try {
        m_Descriptors.assign(descriptors, descriptors + words);
        m_Records.reserve(count);
    } catch (const std::bad_alloc&) {
        m_Descriptors.clear();
        ArrayFactory::destroySet(set, descriptors, count);
        return RESULT_FAILED;
    }
    m_pSet = set;
    for (u32 i = 0; i < count; ++i) {
        const u32* descriptor = descriptors + static_cast<size_t>(i) * DESCRIPTOR_WORDS;
        m_Records.push_back(
            ArrayRecord{descriptor[0], ArrayFactory::getDimensionCount(descriptor),
                        ArrayFactory::decodeSize(descriptor[1], a, b), ArrayFactory::decodeSize(descriptor[2], a, b),
                        ArrayFactory::decodeSize(descriptor[3], a, b), *ArrayFactory::getArrayAt(set, i), 0});
    }
    return RESULT_OK;
}

u32 ArrayAccessorForServer::getArray(void** outData, u32* outByteSize, u32 index) const
{
    if (outData != nullptr) {
        *outData = nullptr;
    }
    if (outByteSize != nullptr) {
        *outByteSize = 0;
    }
    if (index >= m_Records.size() || m_Records[index].array == nullptr) {
        return RESULT_FAILED;
    }
    IArray* array = m_Records[index].array;
    if (outData != nullptr) {
        *outData = array->getData();
    }
    if (outByteSize != nullptr) {
        *outByteSize = array->getByteSize();
    }
    return RESULT_OK;
}

ArrayAccessorForServer::ArrayRecord* ArrayAccessorForServer::getRecord(u32 index)
{
    return index < m_Records.size() ? &m_Records[index] : nullptr;
}

u32 ArrayAccessorForServer::clear()
{
    if (m_pSet != nullptr) {
        ArrayFactory::destroySet(m_pSet, m_Descriptors.data(),
                                 static_cast<u32>(m_Descriptors.size() / DESCRIPTOR_WORDS));
        m_pSet = nullptr;
    }
    m_Descriptors.clear();
    m_Records.clear();
    m_changedCount = 0;
    return RESULT_OK;
}

} // namespace PARRAY

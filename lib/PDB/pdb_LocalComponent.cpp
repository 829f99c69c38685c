#include "pdb_LocalComponent.h"

#include <new>

#include "pdb_FlagArray.h"
#include "pdb_ParameterArrayNULL.h"
#include "pdb_Result.h"

namespace PDB {

namespace {
} // namespace

LocalComponent::~LocalComponent()
{
    releaseArrays();
}

i32 LocalComponent::releaseArrays()
{
    m_arrays.reset();
    m_count = 0;
    return 0;
}

i32 LocalComponent::create(const ComponentInfo& info)
{
    if (!info.hasParameters()) {
        return RESULT_BAD_ARGUMENT;
    }
    if (&info == &m_info) {
        const ComponentInfo own(info); // rebuilding from its own description
        return own.hasParameters() ? create(own) : RESULT_NO_MEMORY;
    }
    releaseArrays();
    m_info.clear();
    const u32 count = info.getParameterCount();
    m_arrays.reset(new (std::nothrow) LocalParameterArray[count]);
    if (!m_arrays) {
        return RESULT_NO_MEMORY;
    }
    m_count = count;
    for (u32 block = 0; block < count; ++block) {
        const i32 result = m_arrays[block].initialize(info.getParameterInfo(block));
        if (result < 0) {
            releaseArrays();
            return result;
        }
    }
    if (m_info.copyFrom(info) < 0) {
        releaseArrays();
        m_info.clear();
        return RESULT_NO_MEMORY;
    }
    return 0;
}

i32 LocalComponent::copyFrom(const IComponent& source)
{
    if (&source == this) {
        return 0;
    }
    i32 result = create(source.getComponentInfo());
    if (result < 0) {
        releaseArrays();
        m_info.clear();
        return result;
    }
    for (u32 block = 0; block < m_count; ++block) {
        result = m_arrays[block].assign(source.getParameterArray(block), 0xFF, 0);
        if (result < 0) {
            releaseArrays();
            m_info.clear();
            return result;
        }
    }
    return 0;
}

i32 LocalComponent::recreate(IParameterDB* /*owner*/, u32 /*index*/, const ComponentInfo& info, u8 /*copyByte*/)
{
    return create(info);
}

i32 LocalComponent::setDimensions(u32 x, u32 y, u8 keep, u8 status)
{
    if (x == 0 || y == 0) {
        return RESULT_NOT_SUPPORTED;
    }
    ComponentInfo saved;
    if (saved.copyFrom(m_info) < 0) {
        return RESULT_NO_MEMORY;
    }
    i32 result = m_info.setDimensions(x, y, m_info.getComponentNumber());
    if (result < 0) {
        m_info.assign(std::move(saved));
        return result;
    }
    result = 0;
    for (u32 block = 0; block < m_count; ++block) {
        result |= m_arrays[block].resize(x, y, keep, status);
    }
    return result;
}

IParameterArray& LocalComponent::getParameterArray(u32 block)
{
    if (block >= m_count) {
        return ParameterArrayNULL::getInstance();
    }
    return m_arrays[block];
}

const IParameterArray& LocalComponent::getParameterArray(u32 block) const
{
    if (block >= m_count) {
        return ParameterArrayNULL::getInstance();
    }
    return m_arrays[block];
}

void LocalComponent::prefetchBlock(u32 block) const
{
    if (block < m_count) {
        __builtin_prefetch(&m_arrays[block].getRawArray());
    }
}

const IFlagArray& LocalComponent::getSkipMask(u32 /*block*/) const
{
    return *getDummyFlagArray();
}

} // namespace PDB

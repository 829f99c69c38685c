#include "expression_ExpressionCollection.h"

#include "klib_Codec.h"

#include <cstring>
#include <new>

namespace Expression {

ExpressionCollection::ExpressionCollection()
{
    try {
        m_Names.emplace(0u, std::string());
    } catch (const std::bad_alloc&) {
        // Without memory the map stays empty; the empty name still resolves to 0.
    }
}

u32 ExpressionCollection::addExpression(u32 id, IExpression* expression)
{
    if (expression == nullptr || m_Expressions.count(id) != 0) {
        return RESULT_FAILED;
    }
    try {
        m_Expressions.emplace(id, expression);
    } catch (const std::bad_alloc&) {
        return RESULT_FAILED;
    }
    return RESULT_OK;
}

u32 ExpressionCollection::clear()
{
    m_Expressions.clear();
    return RESULT_OK;
}

IExpression* ExpressionCollection::getExpression(u32 id) const
{
    const auto it = m_Expressions.find(id);
    return it == m_Expressions.end() ? nullptr : it->second;
}

u32 ExpressionCollection::getCount() const
{
    return static_cast<u32>(m_Expressions.size());
}

u32 ExpressionCollection::resolveNameId(const char* name, bool* known) const
{
    *known = false;
    if (name == nullptr || name[0] == '\0') {
        *known = true;
        return 0;
    }
    const size_t length = std::strlen(name);
    u32 candidate = klib_crc32(name, static_cast<u32>(length));
    for (;;) {
        if (candidate == 0) { // held by the empty name
            ++candidate;
            continue;
        }
        const auto it = m_Names.find(candidate);
        if (it == m_Names.end()) {
            return candidate;
        }
        if (it->second.size() == length && std::memcmp(it->second.data(), name, length) == 0) {
            *known = true;
            return candidate;
        }
        ++candidate;
    }
}

u32 ExpressionCollection::registerName(const char* name)
{
    bool known = false;
    const u32 id = resolveNameId(name, &known);
    if (!known) {
        try {
            m_Names.emplace(id, std::string(name));
        } catch (const std::bad_alloc&) {
            // Not recorded: the id is still the one the name would get.
        }
    }
    return id;
}

u32 ExpressionCollection::findNameId(const char* name) const
{
    bool known = false;
    return resolveNameId(name, &known);
}

} // namespace Expression

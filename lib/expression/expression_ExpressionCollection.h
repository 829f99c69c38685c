// Name-keyed collection of expressions. A name's id is the CRC-32 of its characters, moved up by one while
// another name holds it; the empty name has id 0. The collection does not own its expressions and is not
// synchronised: its owner fills it once before use.
#pragma once

#include "expression_IExpression.h"

#include <map>
#include <string>

namespace Expression {

class IExpressionCollection
{
public:
    virtual ~IExpressionCollection() = default;
    // 0x80000000 when the id already has an expression (or the expression is null).
    virtual u32 addExpression(u32 id, IExpression* expression) = 0;
    // Forgets every expression; the names stay.
    virtual u32 clear() = 0;
    // The expression of an id, or null.
    virtual IExpression* getExpression(u32 id) const = 0;
    virtual u32 getCount() const = 0;
    // Records the name (once) and returns its id.
    virtual u32 registerName(const char* name) = 0;
    // The id the name has, or would get; records nothing.
    virtual u32 findNameId(const char* name) const = 0;
};

class ExpressionCollection : public IExpressionCollection
{
public:
    ExpressionCollection();
    ExpressionCollection(const ExpressionCollection&) = delete;
    ExpressionCollection& operator=(const ExpressionCollection&) = delete;

    u32 addExpression(u32 id, IExpression* expression) override;
    u32 clear() override;
    IExpression* getExpression(u32 id) const override;
    u32 getCount() const override;
    u32 registerName(const char* name) override;
    u32 findNameId(const char* name) const override;

private:
    // The id the name has or would get; *known tells which.
    u32 resolveNameId(const char* name, bool* known) const;

    std::map<u32, IExpression*> m_Expressions;
    std::map<u32, std::string> m_Names;
};

} // namespace Expression

#include "expression_Instances.h"

namespace Expression {

namespace {

constinit DefaultExpression s_DefaultExpression(30, 330);
constinit OnOffExpression s_OnOffExpression;
constinit LevelExpression s_LevelExpression;
constinit StringTableExpression s_StringExpression(nullptr, 0, 30, 330);

} // namespace

DefaultExpression* getDefaultExpression()
{
    return &s_DefaultExpression;
}

OnOffExpression* getOnOffExpression()
{
    return &s_OnOffExpression;
}

LevelExpression* getLevelExpression()
{
    return &s_LevelExpression;
}

StringTableExpression* getStringExpression()
{
    return &s_StringExpression;
}

} // namespace Expression

// The four process-wide expressions, built before main (constant-initialised) and never freed by their users:
// the plain one (normalized range 30..330), "OnOff", "Level" and the table-less "String" (30..330).
#pragma once

#include "expression_DefaultExpression.h"
#include "expression_LevelExpression.h"
#include "expression_OnOffExpression.h"
#include "expression_StringTableExpression.h"

namespace Expression {

constexpr const char* ONOFF_NAME = "OnOff";
constexpr const char* LEVEL_NAME = "Level";
constexpr const char* STRING_NAME = "String";

DefaultExpression* getDefaultExpression();
OnOffExpression* getOnOffExpression();
LevelExpression* getLevelExpression();
StringTableExpression* getStringExpression();

} // namespace Expression

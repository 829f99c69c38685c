// The default parameter strategy: one shared instance that accepts everything and changes nothing.
#include <gtest/gtest.h>

#include "pdb_ParameterInfo.h"
#include "pdb_ParameterStrategy.h"

using namespace PDB;

TEST(ParameterStrategy, DefaultInstanceAcceptsAndPassesThrough)
{
    ParameterStrategy* strategy = getDefaultStrategy();
    ASSERT_NE(strategy, nullptr);
    EXPECT_EQ(strategy, getDefaultStrategy());

    ParameterInfo own;
    ParameterInfo scratch;
    EXPECT_EQ(&strategy->getEffectiveInfo(nullptr, 1, 2, 3, 4, own, scratch), &own);

    KVariant value(42);
    EXPECT_EQ(strategy->adjustDefault(nullptr, 0, 0, 0, 0, own, value), 0);
    EXPECT_EQ(value.getKind(), KVariant::KIND_INT32);
    EXPECT_EQ(value.getInt(), 42);
    EXPECT_EQ(strategy->checkWrite(nullptr, 0, 0, 0, 0, own, KVariant(7), value, 0, 0xFF), 0);
    EXPECT_EQ(strategy->onWritten(nullptr, 0, 0, 0, 0, own, KVariant(7), value, 0), 0);
    EXPECT_EQ(strategy->onRead(nullptr, 0, 0, 0, 0, own, value), 0);
    EXPECT_EQ(strategy->bind(nullptr), 0);
}

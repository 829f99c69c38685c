// The default parameter strategy: one shared instance that accepts everything and changes nothing.
#include <gtest/gtest.h>

#include "pdb_ParameterStrategy.h"

using namespace PDB;

namespace {

// The strategy only passes ParameterInfo references through, so opaque storage stands in for the blocks' info.
struct alignas(16) InfoStorage {
    unsigned char bytes[64];
};

ParameterInfo& asInfo(InfoStorage& storage) {
    return *reinterpret_cast<ParameterInfo*>(&storage);
}

}  // namespace

TEST(ParameterStrategy, DefaultInstanceAcceptsAndPassesThrough) {
    ParameterStrategy* strategy = getDefaultStrategy();
    ASSERT_NE(strategy, nullptr);
    EXPECT_EQ(strategy, getDefaultStrategy());

    InfoStorage own{};
    InfoStorage scratch{};
    EXPECT_EQ(&strategy->getEffectiveInfo(nullptr, 1, 2, 3, 4, asInfo(own), asInfo(scratch)), &asInfo(own));

    KVariant value(42);
    EXPECT_EQ(strategy->adjustDefault(nullptr, 0, 0, 0, 0, asInfo(own), value), 0);
    EXPECT_EQ(value.getKind(), KVariant::KIND_INT32);
    EXPECT_EQ(value.getInt(), 42);
    EXPECT_EQ(strategy->checkWrite(nullptr, 0, 0, 0, 0, asInfo(own), KVariant(7), value, 0, 0xFF), 0);
    EXPECT_EQ(strategy->onWritten(nullptr, 0, 0, 0, 0, asInfo(own), KVariant(7), value, 0), 0);
    EXPECT_EQ(strategy->onRead(nullptr, 0, 0, 0, 0, asInfo(own), value), 0);
    EXPECT_EQ(strategy->bind(nullptr), 0);
}

// The selected-item loader: its default answers and the once-per-process registration.
#include <gtest/gtest.h>

#include "fcache_MBDF.h"
#include "mms_SelectedItemLoader.h"

namespace {

using MMSFUNC::SelectedItemLoader;

constexpr i32 REFUSED = static_cast<i32>(0x80000001u);
constexpr i32 FAILED = static_cast<i32>(0x80000000u);

class RefusingLoader : public SelectedItemLoader
{
public:
    bool accept(FILECACHE::MBDF&, FILECACHE::IMBDFObserver*, const void*, const bool*) override { return false; }
};

TEST(SelectedItemLoader, DefaultInstanceAnswers)
{
    SelectedItemLoader* loader = MMSFUNC::getDefaultSelectedItemLoader();
    ASSERT_NE(loader, nullptr);
    EXPECT_EQ(loader, MMSFUNC::getDefaultSelectedItemLoader());
    FILECACHE::MBDF container;
    FILECACHE::FileAccessor file;
    const int selection = 7;
    const bool cancel = true;
    EXPECT_EQ(loader->extract("/nowhere/p.zethiprj", file, container, &cancel, nullptr, &selection, 0), 0);
    EXPECT_TRUE(loader->accept(container, nullptr, &selection, &cancel));
    EXPECT_TRUE(loader->accept(container, nullptr, nullptr, nullptr));
    EXPECT_EQ(loader->reservedOperation2(), FAILED);
    // Nothing was extracted into the container.
    EXPECT_EQ(container.getBlockCount(), 0u);
}

TEST(SelectedItemLoader, RegistrationOnlyOnce)
{
    EXPECT_EQ(MMSFUNC::getSelectedItemLoader(), nullptr);
    EXPECT_EQ(MMSFUNC::registerSelectedItemLoader(nullptr), REFUSED);
    EXPECT_EQ(MMSFUNC::getSelectedItemLoader(), nullptr);

    SelectedItemLoader* first = MMSFUNC::getDefaultSelectedItemLoader();
    EXPECT_EQ(MMSFUNC::registerSelectedItemLoader(first), 0);
    RefusingLoader other;
    EXPECT_EQ(MMSFUNC::registerSelectedItemLoader(&other), REFUSED);
    EXPECT_EQ(MMSFUNC::registerSelectedItemLoader(first), REFUSED);
    EXPECT_EQ(MMSFUNC::registerSelectedItemLoader(nullptr), REFUSED);
    EXPECT_EQ(MMSFUNC::getSelectedItemLoader(), first);
}

} // namespace

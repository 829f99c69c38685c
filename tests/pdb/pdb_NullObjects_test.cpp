// The repository of component descriptions, the shared null objects and unique file names.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "fcache_MBDFTestHooks.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_ComponentNULL.h"
#include "pdb_ParameterArrayNULL.h"
#include "pdb_ParameterStrategy.h"

using namespace PDB;

namespace {

constexpr i32 BAD_ARGUMENT = static_cast<i32>(0x80000001u);
constexpr i32 NOT_FOUND = static_cast<i32>(0x80000002u);
constexpr i32 NOT_SUPPORTED = static_cast<i32>(0x80080000u);
constexpr i32 DUPLICATE = static_cast<i32>(0x80100000u);

ComponentInfo makeType(const char* name, u32 version, const char* firstAddress)
{
    ComponentInfo info;
    EXPECT_EQ(info.initialize(name, version, 1, 1, 4, 1, "", "", nullptr), 0);
    EXPECT_EQ(info.addParameterUInt32(firstAddress, 1, 1, "", "", 0, 9, 1, 1, 1, 1, ParameterAttribute(), "", "", ""),
              0);
    return info;
}

i64 withOut(i32 result, u32 out)
{
    return static_cast<i64>(static_cast<u32>(result)) | (static_cast<i64>(out) << 32);
}

struct Case
{
    const char* name;
    std::function<i64()> call;
    i64 expected;
};

// A value that must come back empty, and a status byte that must come back 255.
struct Probe
{
    KVariant value{5u};
    u8 status = 0;
    void reset()
    {
        value = 5u;
        status = 0;
    }
};

} // namespace

TEST(ComponentInfoRepository, RegistersByNameAndVersion)
{
    ComponentInfoRepository& repository = ComponentInfoRepository::getInstance();
    EXPECT_EQ(&repository, &ComponentInfoRepository::getInstance());
    const u32 before = repository.getCount();

    EXPECT_EQ(repository.registerComponentInfo(makeType("Repo", 3, "/first")), 0);
    EXPECT_EQ(repository.registerComponentInfo(makeType("Repo", 3, "/second")), DUPLICATE);
    EXPECT_EQ(repository.registerComponentInfo(makeType("Repo", 4, "/fourth")), 0);
    EXPECT_EQ(repository.getCount(), before + 2);

    const ComponentInfo& v3 = repository.findComponentInfo("Repo", 3);
    ASSERT_TRUE(v3.hasParameters());
    EXPECT_EQ(v3.getParameterInfo(0).getAddress(), "/first");
    EXPECT_EQ(repository.findComponentInfo("Repo", 4).getParameterInfo(0).getAddress(), "/fourth");
    EXPECT_EQ(&repository.findComponentInfo("Repo", 3), &v3);

    const ComponentInfo& missing = repository.findComponentInfo("Repo", 5);
    EXPECT_EQ(&missing, &getEmptyComponentInfo());
    EXPECT_FALSE(missing.hasParameters());
    EXPECT_EQ(&repository.findComponentInfo(nullptr, 3), &getEmptyComponentInfo());
    EXPECT_EQ(&repository.findComponentInfo("Rep", 3), &getEmptyComponentInfo());

    ComponentInfo empty;
    ASSERT_EQ(empty.initialize("NoBlocks", 1, 1, 1, 1, 1, "", "", nullptr), 0);
    EXPECT_EQ(repository.registerComponentInfo(empty), BAD_ARGUMENT);
    EXPECT_EQ(&repository.findComponentInfo("NoBlocks", 1), &getEmptyComponentInfo());
}

TEST(ComponentInfoRepository, StoresAnIndependentCopy)
{
    ComponentInfo type = makeType("Independent", 1, "/a");
    type.setParameterStrategy(getDefaultStrategy());
    ASSERT_EQ(ComponentInfoRepository::getInstance().registerComponentInfo(type), 0);
    ASSERT_EQ(type.addParameterUInt8("/b", 1, 1, "", "", 0, 1, 0, 0, 1, 1, ParameterAttribute(), "", "", ""), 0);
    const ComponentInfo& stored = ComponentInfoRepository::getInstance().findComponentInfo("Independent", 1);
    EXPECT_EQ(stored.getParameterCount(), 1u);
    EXPECT_EQ(stored.findParameterIndex("/b"), ComponentInfo::NOT_FOUND);
    EXPECT_EQ(stored.getParameterStrategy(), getDefaultStrategy());
    // Long names take the slow key path and still match exactly.
    const std::string longName(200, 'L');
    ASSERT_EQ(ComponentInfoRepository::getInstance().registerComponentInfo(makeType(longName.c_str(), 7, "/x")), 0);
    EXPECT_TRUE(ComponentInfoRepository::getInstance().findComponentInfo(longName.c_str(), 7).hasParameters());
    EXPECT_FALSE(ComponentInfoRepository::getInstance().findComponentInfo(longName.c_str(), 70).hasParameters());
}

TEST(NullObjects, EveryOperationAnswersAsSpecified)
{
    ComponentNULL& nc = ComponentInfoRepository::getNullComponent();
    ParameterArrayNULL& na = ParameterArrayNULL::getInstance();
    EXPECT_EQ(&nc, &ComponentNULL::getInstance());
    IComponent& c = nc;
    IParameterArray& a = na;
    const ComponentInfo other = makeType("Other", 1, "/o");
    FlagArray mask;
    Probe p;
    u32 x = 7, y = 7, block = 3;

    const std::vector<Case> cases = {
        {"releaseArrays", [&] { return c.releaseArrays(); }, 0},
        {"isValid", [&] { return c.isValid(); }, 0},
        {"getBlockCount", [&] { return c.getBlockCount(); }, 0},
        {"getBlockIndex", [&] { return c.getBlockIndex("/a"); }, 0xFFFFFFFF},
        {"setName", [&] { return c.setName("n"); }, 0},
        {"setUserValue", [&] { return c.setUserValue(1); }, 0},
        {"setDimensions", [&] { return c.setDimensions(1, 1, 1, 0); }, 0},
        {"setSubscriberCount", [&] { return c.setSubscriberCount(2); }, 0},
        {"setValue", [&] { return c.setValue(0, 0, 0, KVariant(1), 0); }, NOT_SUPPORTED},
        {"setArray", [&] { return c.setArray(0, a, 0); }, NOT_SUPPORTED},
        {"setValueUInt", [&] { return c.setValueUInt(0, 0, 0, 1, 0); }, NOT_SUPPORTED},
        {"setValueInt", [&] { return c.setValueInt(0, 0, 0, 1, 0); }, NOT_SUPPORTED},
        {"setValueFloat", [&] { return c.setValueFloat(0, 0, 0, 1.0f, 0); }, NOT_SUPPORTED},
        {"setValueBool", [&] { return c.setValueBool(0, 0, 0, true, 0); }, NOT_SUPPORTED},
        {"setValueString", [&] { return c.setValueString(0, 0, 0, "t", 0); }, NOT_SUPPORTED},
        {"setValueBinary", [&] { return c.setValueBinary(0, 0, 0, "b", 1, 0); }, NOT_SUPPORTED},
        {"setAllToDefault", [&] { return c.setAllToDefault(0); }, NOT_SUPPORTED},
        {"setBlockToDefault", [&] { return c.setBlockToDefault(0, 0); }, NOT_SUPPORTED},
        {"setToDefault", [&] { return c.setToDefault(0, 0, 0, 0); }, NOT_SUPPORTED},
        {"setSkipMark", [&] { return c.setSkipMark(0, 0, 0, true); }, NOT_SUPPORTED},
        {"setAllSkipMarks", [&] { return c.setAllSkipMarks(true); }, NOT_SUPPORTED},
        {"setElementStatus", [&] { return c.setElementStatus(0, 0, 0, 1); }, NOT_SUPPORTED},
        {"getArray", [&] { return c.getArray(a, 0); }, NOT_SUPPORTED},
        {"clearChangesFor", [&] { return c.clearChangesFor(0); }, NOT_SUPPORTED},
        {"revalidateAll", [&] { return c.revalidateAll(0); }, NOT_SUPPORTED},
        {"assignBlock", [&] { return c.assignBlock(0, c, 0); }, NOT_SUPPORTED},
        {"copyBlockFiltered", [&] { return c.copyBlockFiltered(0, c, 8, 0); }, NOT_SUPPORTED},
        {"copyValueFrom", [&] { return c.copyValueFrom(0, 0, 0, c); }, NOT_SUPPORTED},
        {"exportBinary", [&] { return c.exportBinary(&p, 1); }, NOT_SUPPORTED},
        {"importBinary", [&] { return c.importBinary(nullptr, 0, &p, 1, 0, 0, 0); }, NOT_SUPPORTED},
        {"getExportSize", [&] { return c.getExportSize(); }, 0},
        {"swapChangeBank", [&] { return c.swapChangeBank(0); }, 0},
        {"isSkipMarked", [&] { return c.isSkipMarked(0, 0, 0); }, 0},
        {"isChangedFor", [&] { return c.isChangedFor(0, 0, 0, 0); }, 0},
        {"isValidIndex", [&] { return c.isValidIndex(0, 0, 0); }, 0},
        {"getElementStatus", [&] { return c.getElementStatus(0, 0, 0); }, 255},
        {"findNextChange", [&] { return c.findNextChange(0, block, x, y); }, 0x200000},
        {"getValue", [&] { return c.getValue(p.value, 0, 0, 0, &p.status); }, NOT_SUPPORTED},
        {"getValueUInt", [&] { return c.getValueUInt(0, 0, 0, &p.status); }, 0},
        {"getValueInt", [&] { return c.getValueInt(0, 0, 0, &p.status); }, 0},
        {"getValueFloat", [&] { return static_cast<i64>(c.getValueFloat(0, 0, 0, &p.status) * 1000); }, 0},
        {"getValueBool", [&] { return c.getValueBool(0, 0, 0, &p.status); }, 0},
        {"getDefaultValue", [&] { return c.getDefaultValue(p.value, 0, 0, 0); }, NOT_SUPPORTED},

        {"array isAllocated", [&] { return a.isAllocated(); }, 0},
        {"array isValidIndex", [&] { return a.isValidIndex(0, 0); }, 0},
        {"array getExportSize", [&] { return a.getExportSize(); }, 0},
        {"array toLinearIndex", [&] { return a.toLinearIndex(3, 4); }, 0},
        {"array resize", [&] { return a.resize(2, 2, 1, 0); }, NOT_SUPPORTED},
        {"array setElementStatus", [&] { return a.setElementStatus(0, 0, 1); }, NOT_FOUND},
        {"array setToDefault", [&] { return a.setToDefault(0, 0, 1); }, NOT_FOUND},
        {"array setValue", [&] { return a.setValue(0, 0, KVariant(1), 1); }, NOT_FOUND},
        {"array copyFrom", [&] { return a.copyFrom(a, 1); }, NOT_FOUND},
        {"array copyTo", [&] { return a.copyTo(a); }, NOT_FOUND},
        {"array assign", [&] { return a.assign(a, 1, 0); }, NOT_FOUND},
        {"array copyFiltered", [&] { return a.copyFiltered(a, mask, 0, 1); }, NOT_FOUND},
        {"array importBinary", [&] { return a.importBinary(other.getParameterInfo(0), &p, 1, mask, 0, 1); }, NOT_FOUND},
        // The result in the low half, the out values in the high half (both must be 0).
        {"array exportBinary",
         [&] {
             x = 9;
             const i32 r = a.exportBinary(&p, 4, x);
             return withOut(r, x);
         },
         0x80000002},
        {"array fromLinearIndex",
         [&] {
             x = y = 9;
             const i32 r = a.fromLinearIndex(x, y, 0);
             return withOut(r, x | y);
         },
         0x80000002},
        {"array getValue", [&] { return a.getValue(p.value, 0, 0, &p.status); }, 0},
        {"array getDefaultValue", [&] { return a.getDefaultValue(p.value, 0, 0); }, 0},
        {"array getElementStatus", [&] { return a.getElementStatus(0, 0); }, 255},
    };
    for (const Case& test : cases) {
        p.reset();
        const i64 result = test.call();
        EXPECT_EQ(result, test.expected) << test.name;
        const std::string name(test.name);
        if (name.find("getValue") != std::string::npos) {
            EXPECT_EQ(p.status, 255) << test.name;
        }
        if (name.find("getValue") != std::string::npos && name.find("getValue") + 8 == name.size()) {
            EXPECT_FALSE(p.value.isValid()) << test.name;
        }
        if (name.find("getDefaultValue") != std::string::npos) {
            EXPECT_FALSE(p.value.isValid()) << test.name;
        }
    }
    EXPECT_EQ(block, 3u); // findNextChange moves nothing

    // The shared instances behind the null objects.
    EXPECT_EQ(&c.getComponentInfo(), &getEmptyComponentInfo());
    EXPECT_EQ(&c.getParameterArray(0), &na);
    EXPECT_EQ(c.getParameterInfo(5).getAddress(), "<unknown>");
    EXPECT_EQ(&c.getParameterInfo(5), &c.getParameterInfo(0));
    EXPECT_EQ(a.getParameterInfo().getAddress(), "<unknown>");
    EXPECT_EQ(&a.getRawArray(), getNullRawArray());
    EXPECT_EQ(a.getStrategy(), getDefaultStrategy());
    EXPECT_EQ(&(a = na), &na);
}

TEST(UniqueFileName, FormatAndUniqueness)
{
    std::string name;
    ASSERT_EQ(makeUniqueFileName(name, "xyz"), 0);
    ASSERT_EQ(name.size(), 36u);
    EXPECT_EQ(name.substr(32), ".xyz");
    for (size_t i = 0; i < 32; ++i) {
        const char c = name[i];
        EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << name;
    }
    ASSERT_EQ(makeUniqueFileName(name, ""), 0);
    EXPECT_EQ(name.size(), 32u);
    ASSERT_EQ(makeUniqueFileName(name, nullptr), 0);
    EXPECT_EQ(name.size(), 32u);

    EXPECT_EQ(makeUniqueFileName(name, "a:b"), static_cast<i32>(0x80000000u));
    EXPECT_EQ(name, "");
    EXPECT_EQ(makeUniqueFileName(name, "\x01"), static_cast<i32>(0x80000000u));

    std::set<std::string> names;
    for (int i = 0; i < 10000; ++i) {
        ASSERT_EQ(makeUniqueFileName(name, "zethis"), 0);
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 10000u);
}

TEST(UniqueFileName, DigitsFollowTheFileIdBytes)
{
    namespace hooks = FILECACHE::mbdftesthooks;
    const u8 address[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xEF};
    hooks::fixFileIdAddress(address);
    hooks::fixFileIdTime(0x01020304);
    hooks::setFileIdGeneratorState(0x50000);
    std::string first;
    ASSERT_EQ(makeUniqueFileName(first, "zethip"), 0);
    EXPECT_EQ(first.substr(0, 20), "001A2B3C4DEF04030201");
    EXPECT_EQ(first.substr(32), ".zethip");

    // Without an adapter address the id starts with six zero bytes; the name is still made.
    hooks::fixFileIdAddress(nullptr);
    std::string second;
    ASSERT_EQ(makeUniqueFileName(second, ""), 0);
    EXPECT_EQ(second.substr(0, 20), "00000000000004030201");
    EXPECT_NE(second.substr(20), first.substr(20, 12));
    hooks::clearFixedFileIdAddress();
    hooks::clearFixedFileIdTime();
}

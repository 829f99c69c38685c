// Parameter arrays: writes through limits, strategy and callback; suppression nesting; resize; export; the local
// array's plain store.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "pdb_ParamArrayFixture.h"
#include "pdb_ParameterArrayTestHooks.h"

using namespace pdbtest;

namespace {

struct Rig
{
    EventLog log;
    RecordingStrategy strategy{log};
    RecordingCallback callback{log};
    CountingOwner owner{log};
    ParameterArray array;

    i32 init(const ParameterInfo& info) { return array.initialize(&owner, 4, 7, info, &callback, &strategy, 0); }
    u32 u(u32 x, u32 y)
    {
        KVariant v;
        array.getValue(v, x, y, nullptr);
        return v.getUInt();
    }
};

} // namespace

TEST(ParameterArray, WriteLimitsByKind)
{
    Rig r;
    ASSERT_EQ(r.init(makeInfo(0x11, 1, 2, 1, KVariant(0u), KVariant(255u), KVariant(0u))), 0);
    EXPECT_EQ(r.array.setValue(0, 0, KVariant(300u), 3), 0x20);
    EXPECT_EQ(r.u(0, 0), 255u);
    EXPECT_EQ(r.array.getElementStatus(0, 0), 3);
    EXPECT_EQ(r.log.count("changed 7 0"), 1u);
    r.log.events.clear();
    EXPECT_EQ(r.array.setValue(0, 0, KVariant(255u), 5), 0);
    EXPECT_TRUE(r.log.events.size() == 1 && r.log.events[0] == "effective") << r.log.events.size();
    EXPECT_EQ(r.array.getElementStatus(0, 0), 3);

    // Signed blocks compare signed: -5 is below -1 (unsigned, it would be above the maximum).
    Rig s;
    ASSERT_EQ(s.init(makeInfo(0x21, 1, 1, 1, KVariant(-1), KVariant(100), KVariant(0))), 0);
    EXPECT_EQ(s.array.setValue(0, 0, KVariant(-5), 0), 0x20);
    KVariant v;
    s.array.getValue(v, 0, 0, nullptr);
    EXPECT_EQ(v.getInt(), -1);

    // BOOL and unsigned compare unsigned: -1 is above the maximum.
    Rig b;
    ASSERT_EQ(b.init(makeInfo(0x41, 1, 1, 1, KVariant(0u), KVariant(1u), KVariant(0u))), 0);
    EXPECT_EQ(b.array.setValue(0, 0, KVariant(-1), 0), 0x20);
    EXPECT_EQ(b.u(0, 0), 1u);
    Rig w;
    ASSERT_EQ(w.init(makeInfo(0x12, 2, 1, 1, KVariant(10u), KVariant(1000u), KVariant(10u))), 0);
    EXPECT_EQ(w.array.setValue(0, 0, KVariant(-1), 0), 0x20);
    EXPECT_EQ(w.u(0, 0), 1000u);
    EXPECT_EQ(w.array.setValue(0, 0, KVariant(3u), 0), 0x20);
    EXPECT_EQ(w.u(0, 0), 10u);

    Rig f;
    ASSERT_EQ(f.init(makeInfo(0x34, 4, 1, 1, KVariant(-1.5f), KVariant(2.0f), KVariant(0.0f))), 0);
    EXPECT_EQ(f.array.setValue(0, 0, KVariant(-3.0f), 0), 0x20);
    f.array.getValue(v, 0, 0, nullptr);
    EXPECT_EQ(v.getFloat(), -1.5f);
    EXPECT_EQ(f.array.setValue(0, 0, KVariant(1.25f), 0), 0);
    f.array.getValue(v, 0, 0, nullptr);
    EXPECT_EQ(v.getFloat(), 1.25f);

    // Texts and binaries are not limited (their limits are 0).
    Rig t;
    ASSERT_EQ(t.init(makeInfo(0x50, 8, 1, 1, KVariant(0u), KVariant(0u), KVariant(""))), 0);
    EXPECT_EQ(t.array.setValue(0, 0, KVariant("hello"), 0), 0);
    t.array.getValue(v, 0, 0, nullptr);
    EXPECT_STREQ(v.getString(), "hello");
    Rig bin;
    ASSERT_EQ(bin.init(makeInfo(0x60, 4, 1, 1, KVariant(0u), KVariant(0u), KVariant(0u))), 0);
    const u8 bytes[4] = {9, 8, 7, 6};
    EXPECT_EQ(bin.array.setValue(0, 0, KVariant(bytes, 4), 0), 0);
    bin.array.getValue(v, 0, 0, nullptr);
    EXPECT_EQ(std::memcmp(v.getBinary(), bytes, 4), 0);

    // The strategy's effective limits apply, not the block's own.
    Rig n;
    ASSERT_EQ(n.init(makeInfo(0x14, 4, 1, 1, KVariant(0u), KVariant(1000u), KVariant(0u))), 0);
    n.strategy.narrow = true;
    n.strategy.narrowMin = KVariant(0u);
    n.strategy.narrowMax = KVariant(50u);
    EXPECT_EQ(n.array.setValue(0, 0, KVariant(70u), 0), 0x20);
    EXPECT_EQ(n.u(0, 0), 50u);
}

TEST(ParameterArray, UnknownKindIsAMismatch)
{
    // A source whose description carries a type code without a kind: the array takes it over with assign.
    class OddSource : public LocalParameterArray
    {
    public:
        const ParameterInfo& getParameterInfo() const override { return odd; }
        ParameterInfo odd;
    };
    OddSource source;
    ASSERT_EQ(source.initialize(makeInfo(0x14, 4, 1, 1, KVariant(0u), KVariant(9u), KVariant(0u))), 0);
    source.odd = source.LocalParameterArray::getParameterInfo();
    source.odd.setTypeCode(0x74);
    Rig r;
    ASSERT_EQ(r.init(makeInfo(0x14, 4, 1, 1, KVariant(0u), KVariant(9u), KVariant(0u))), 0);
    ASSERT_EQ(r.array.assign(source, 0, 0), 0);
    EXPECT_EQ(r.array.setValue(0, 0, KVariant(1u), 0), TYPE_MISMATCH);
    EXPECT_EQ(r.u(0, 0), 0u);
}

TEST(ParameterArray, WriteOrderRefusalAndHookWrites)
{
    Rig r;
    ASSERT_EQ(r.init(makeInfo(0x14, 4, 2, 1, KVariant(0u), KVariant(100u), KVariant(0u))), 0);
    r.owner.recalling = true;
    r.strategy.afterWrite = [&](u32 x, u32) {
        if (x == 0) {
            r.array.setValue(1, 0, KVariant(9u), 2); // runs no hook of its own
        }
    };
    EXPECT_EQ(r.array.setValue(0, 0, KVariant(5u), 1), 0);
    const std::vector<std::string> expected = {"effective", "check",         "suppress", "written",      "effective",
                                               "check",     "changed 7 1 R", "resume",   "changed 7 0 R"};
    EXPECT_EQ(r.log.events, expected);
    EXPECT_EQ(r.u(1, 0), 9u);
    EXPECT_EQ(r.owner.depth, 0);

    r.log.events.clear();
    r.strategy.refuse = true;
    EXPECT_EQ(r.array.setValue(0, 0, KVariant(500u), 6), 0x20);
    EXPECT_EQ(r.array.setValue(0, 0, KVariant(7u), 6), 0);
    EXPECT_EQ(r.u(0, 0), 5u);
    EXPECT_EQ(r.array.getElementStatus(0, 0), 1);
    EXPECT_EQ(r.log.count("rejected 7 0 0 2147483652"), 2u);
    EXPECT_EQ(r.log.count("written"), 0u);

    // An owner that is already suppressed: the check runs, the hook does not.
    r.log.events.clear();
    r.strategy.refuse = false;
    r.owner.depth = 1;
    EXPECT_EQ(r.array.setValue(0, 0, KVariant(8u), 0), 0);
    EXPECT_EQ(r.log.count("check"), 1u);
    EXPECT_EQ(r.log.count("written"), 0u);
    EXPECT_EQ(r.log.count("suppress"), 0u);
    EXPECT_EQ(r.owner.depth, 1);

    EXPECT_EQ(r.array.setValue(2, 0, KVariant(1u), 0), BAD_ARGUMENT);
    u8 status = 0;
    KVariant v(3u);
    EXPECT_EQ(r.array.getValue(v, 0, 1, &status), BAD_ARGUMENT);
    EXPECT_EQ(status, 0xFF);
}

TEST(ParameterArray, ElementWiseCopyInsideHookKeepsOuterSuppression)
{
    Rig r;
    ASSERT_EQ(r.init(makeInfo(0x14, 4, 3, 1, KVariant(0u), KVariant(100u), KVariant(0u))), 0);
    LocalParameterArray source;
    ASSERT_EQ(source.initialize(makeInfo(0x14, 4, 3, 1, KVariant(0u), KVariant(100u), KVariant(0u))), 0);
    source.setValue(1, 0, KVariant(11u), 0);
    bool suppressedAfterCopy = false;
    r.strategy.afterWrite = [&](u32 x, u32) {
        if (x != 0) {
            return;
        }
        r.array.copyFiltered(source, *getDummyFlagArray(), ParameterFilter(2), 0);
        suppressedAfterCopy = r.owner.isStrategySuppressed();
        r.array.setValue(2, 0, KVariant(22u), 0);
    };
    EXPECT_EQ(r.array.setValue(0, 0, KVariant(1u), 0), 0);
    EXPECT_TRUE(suppressedAfterCopy);
    EXPECT_EQ(r.log.count("written"), 1u);
    EXPECT_EQ(r.owner.depth, 0);
    EXPECT_EQ(r.u(1, 0), 11u);
    EXPECT_EQ(r.u(2, 0), 22u);
}

TEST(ParameterArray, DefaultsStatusesAndDefaultStrategy)
{
    EventLog log;
    RecordingStrategy strategy(log);
    strategy.defaultBonus = 3;
    ParameterArray array;
    ASSERT_EQ(array.initialize(nullptr, 0, 0, makeInfo(0x11, 1, 2, 2, KVariant(0u), KVariant(99u), KVariant(4u)),
                               nullptr, &strategy, 0),
              0);
    KVariant v;
    u8 status = 0;
    ASSERT_EQ(array.getValue(v, 1, 1, &status), 0);
    EXPECT_EQ(v.getUInt(), 7u);
    EXPECT_EQ(status, 0xFF);
    EXPECT_EQ(array.getOwner(), &ParameterDBNULL::getInstance());
    EXPECT_EQ(array.getCallback(), &DummyParameterArrayCallback::getInstance());
    array.setValue(1, 1, KVariant(50u), 9);
    EXPECT_EQ(array.setToDefault(1, 1, 2), 0);
    array.getValue(v, 1, 1, &status);
    EXPECT_EQ(v.getUInt(), 7u);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(array.setElementStatus(0, 1, 0x33), 0);
    EXPECT_EQ(array.getElementStatus(0, 1), 0x33);
    EXPECT_EQ(array.setElementStatus(2, 0, 1), BAD_ARGUMENT);

    // Without a strategy the default one is used: values within the limits are stored, reads unaltered.
    ParameterArray plain;
    ASSERT_EQ(plain.initialize(nullptr, 0, 0, makeInfo(0x24, 4, 1, 1, KVariant(-50), KVariant(50), KVariant(-2)),
                               nullptr, nullptr, 0),
              0);
    EXPECT_EQ(plain.getStrategy(), getDefaultStrategy());
    plain.getValue(v, 0, 0, nullptr);
    EXPECT_EQ(v.getInt(), -2);
    EXPECT_EQ(plain.setValue(0, 0, KVariant(-49), 0), 0);
    plain.getValue(v, 0, 0, nullptr);
    EXPECT_EQ(v.getInt(), -49);

    ParameterInfo bad = makeInfo(0x12, 4, 1, 1, KVariant(0u), KVariant(1u), KVariant(0u));
    EXPECT_EQ(plain.initialize(nullptr, 0, 0, bad, nullptr, nullptr, 0), BAD_ARGUMENT);
    EXPECT_FALSE(plain.isAllocated());
    EXPECT_EQ(plain.getOwner(), &ParameterDBNULL::getInstance());
    EXPECT_FALSE(plain.isValidIndex(0, 0));
}

TEST(ParameterArray, ResizeKeepsOverlapAndRestoresOnFailure)
{
    EventLog log;
    RecordingStrategy strategy(log);
    ParameterInfo info = makeInfo(0x11, 1, 1, 1, KVariant(0u), KVariant(200u), KVariant(7u));
    info.setPatterns(PATTERN_MULTIPLY | 1, PATTERN_MULTIPLY | 1);
    info.setDimensions(2, 3);
    ParameterArray a;
    ASSERT_EQ(a.initialize(nullptr, 0, 0, info, nullptr, &strategy, 0), 0);
    for (u32 x = 0; x < 2; ++x) {
        for (u32 y = 0; y < 3; ++y) {
            a.setValue(x, y, KVariant(10 * x + y + 1), 1);
        }
    }
    auto value = [&](u32 x, u32 y) {
        KVariant v;
        return a.getValue(v, x, y, nullptr) < 0 ? 999u : v.getUInt();
    };

    ASSERT_EQ(a.resize(3, 2, 1, 4), 0);
    EXPECT_EQ(a.getParameterInfo().getCountX(), 3u);
    EXPECT_EQ(a.getParameterInfo().getCountY(), 2u);
    EXPECT_EQ(a.getRawArray().getCount(), 6u);
    const u32 grown[3][2] = {{1, 2}, {11, 12}, {7, 7}};
    for (u32 x = 0; x < 3; ++x) {
        for (u32 y = 0; y < 2; ++y) {
            EXPECT_EQ(value(x, y), grown[x][y]) << x << "," << y;
            EXPECT_EQ(a.getElementStatus(x, y), 4);
        }
    }

    testhooks::failStatusAllocationAfter(0);
    EXPECT_EQ(a.resize(4, 4, 1, 9), ALLOCATION);
    testhooks::failStatusAllocationAfter(-1);
    EXPECT_EQ(a.getParameterInfo().getCountX(), 3u);
    EXPECT_EQ(a.getRawArray().getCount(), 6u);
    EXPECT_EQ(value(1, 1), 12u);
    EXPECT_EQ(a.getElementStatus(1, 1), 4);

    ASSERT_EQ(a.resize(1, 1, 1, 5), 0);
    EXPECT_EQ(a.getRawArray().getCount(), 1u);
    EXPECT_EQ(value(0, 0), 1u);
    ASSERT_EQ(a.resize(2, 2, 0, 5), 0);
    EXPECT_EQ(value(0, 0), 7u);
    EXPECT_EQ(value(1, 1), 7u);
    EXPECT_EQ(a.resize(0, 2, 1, 5), BAD_ARGUMENT);
    EXPECT_EQ(a.getRawArray().getCount(), 4u);

    // The local array resizes alike, new elements zero.
    LocalParameterArray l;
    ASSERT_EQ(l.initialize(info), 0);
    l.setValue(1, 2, KVariant(66u), 0);
    ASSERT_EQ(l.resize(3, 3, 1, 0), 0);
    KVariant v;
    l.getValue(v, 1, 2, nullptr);
    EXPECT_EQ(v.getUInt(), 66u);
    l.getValue(v, 2, 2, nullptr);
    EXPECT_EQ(v.getUInt(), 0u);
}

TEST(ParameterArray, ExportImage)
{
    ParameterArray wide16;
    ParameterInfo wide = makeInfo(0x12, 2, 3, 1, KVariant(0u), KVariant(0xFFFFu), KVariant(0u));
    ASSERT_EQ(wide16.initialize(nullptr, 0, 0, wide, nullptr, nullptr, 0), 0);
    wide16.setValue(0, 0, KVariant(0x0102u), 0);
    wide16.setValue(1, 0, KVariant(0x0304u), 0);
    wide16.setValue(2, 0, KVariant(0xFFFFu), 0);
    u8 out[16];
    std::memset(out, 0xAA, sizeof out);
    u32 written = 99;
    EXPECT_EQ(wide16.getExportSize(), 8u);
    ASSERT_EQ(wide16.exportBinary(out, 8, written), 0);
    const u8 expectU16[8] = {0x02, 0x01, 0x04, 0x03, 0xFF, 0xFF, 0, 0};
    EXPECT_EQ(written, 8u);
    EXPECT_EQ(std::memcmp(out, expectU16, 8), 0);
    written = 99;
    EXPECT_EQ(wide16.exportBinary(out, 7, written), BAD_ARGUMENT);
    EXPECT_EQ(written, 0u);

    ParameterArray bits;
    ASSERT_EQ(bits.initialize(nullptr, 0, 0, makeInfo(0x41, 1, 9, 1, KVariant(0u), KVariant(1u), KVariant(0u)), nullptr,
                              nullptr, 0),
              0);
    bits.setValue(0, 0, KVariant(1u), 0);
    bits.setValue(8, 0, KVariant(1u), 0);
    ASSERT_EQ(bits.exportBinary(out, sizeof out, written), 0);
    const u8 expectBits[4] = {0x80, 0x80, 0, 0};
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(std::memcmp(out, expectBits, 4), 0);

    LocalParameterArray text;
    ASSERT_EQ(text.initialize(makeInfo(0x50, 5, 2, 1, KVariant(0u), KVariant(0u), KVariant(""))), 0);
    text.setValue(0, 0, KVariant("abc"), 0);
    text.setValue(1, 0, KVariant("hello"), 0);
    ASSERT_EQ(text.exportBinary(out, 16, written), 0);
    const u8 expectText[16] = {0x61, 0x62, 0x63, 0, 0, 0, 0, 0, 0x68, 0x65, 0x6C, 0x6C, 0x6F, 0, 0, 0};
    EXPECT_EQ(written, 16u);
    EXPECT_EQ(std::memcmp(out, expectText, 16), 0);
    EXPECT_EQ(text.exportBinary(out, 15, written), BAD_ARGUMENT);
}

TEST(ParameterArray, AssignCopiesAndLocalArrayIsAPlainStore)
{
    EventLog log;
    RecordingCallback callback(log);
    ParameterArray a;
    ASSERT_EQ(a.initialize(nullptr, 0, 5, makeU16(2, 1), &callback, nullptr, 0), 0);
    LocalParameterArray l;
    ASSERT_EQ(l.initialize(makeU16(3, 2)), 0);
    EXPECT_EQ(l.setValue(2, 1, KVariant(70000u), 0), 0); // no limits: cut to 16 bits
    KVariant v;
    u8 status = 0;
    l.getValue(v, 2, 1, &status);
    EXPECT_EQ(v.getUInt(), 70000u & 0xFFFF);
    EXPECT_EQ(status, 0xFF);
    EXPECT_EQ(l.setElementStatus(0, 0, 1), NOT_SUPPORTED);
    EXPECT_EQ(l.setToDefault(0, 0, 1), NOT_SUPPORTED);
    v = 5u;
    EXPECT_EQ(l.getDefaultValue(v, 0, 0), NOT_SUPPORTED);
    EXPECT_FALSE(v.isValid());
    EXPECT_EQ(l.setValue(3, 0, KVariant(1u), 0), BAD_ARGUMENT);

    // assign takes the source's shape, values and the given status, and reports every element.
    ASSERT_EQ(a.assign(l, 0x42, 0), 0);
    EXPECT_EQ(a.getRawArray().getCount(), 6u);
    EXPECT_EQ(a.getParameterInfo().getCountX(), 3u);
    a.getValue(v, 2, 1, &status);
    EXPECT_EQ(v.getUInt(), 70000u & 0xFFFF);
    EXPECT_EQ(status, 0x42);
    EXPECT_EQ(log.count("changed 5 4294967295"), 1u);
    EXPECT_EQ(a.assign(l, 0, 32), NOT_SUPPORTED);

    // copyFrom writes element by element through the limits of the target.
    ParameterArray limited;
    ASSERT_EQ(limited.initialize(nullptr, 0, 0, makeInfo(0x12, 2, 2, 2, KVariant(0u), KVariant(100u), KVariant(0u)),
                                 nullptr, nullptr, 0),
              0);
    l.setValue(1, 1, KVariant(500u), 0);
    EXPECT_EQ(limited.copyFrom(l, 3), 0x20);
    limited.getValue(v, 1, 1, &status);
    EXPECT_EQ(v.getUInt(), 100u);
    EXPECT_EQ(status, 3);
    limited.getValue(v, 0, 0, &status);
    EXPECT_EQ(status, 0xFF); // unchanged elements keep their status

    // operator= re-shapes from the source and keeps this array's links.
    LocalParameterArray copy;
    copy = a;
    EXPECT_EQ(copy.getRawArray().getCount(), 6u);
    copy.getValue(v, 2, 1, nullptr);
    EXPECT_EQ(v.getUInt(), 70000u & 0xFFFF);
    ParameterArray again;
    again.initialize(nullptr, 1, 5, makeU16(1, 1), &callback, nullptr, 0);
    again = copy;
    EXPECT_EQ(again.getCallback(), &callback);
    EXPECT_EQ(again.getRawArray().getCount(), 6u);
    EXPECT_EQ(again.getElementStatus(0, 0), 0xFF);

    u32 x = 9;
    u32 y = 9;
    EXPECT_EQ(again.fromLinearIndex(x, y, 5), 0);
    EXPECT_EQ(x, 2u);
    EXPECT_EQ(y, 1u);
    EXPECT_EQ(again.fromLinearIndex(x, y, 6), BAD_ARGUMENT);
    EXPECT_EQ(x, 0u);
    EXPECT_EQ(y, 0u);
}

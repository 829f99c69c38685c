// Shared parameter database: initialisation, observers and their added/removed lists, the reservation protocol
// with removal requests, uid generation, change scans, address records that outlive their component, counted
// brackets, "#CT1" imports that must change nothing when refused, and value notices held back until a writer's
// locks are released, and only for observers still registered then.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "compo_TestTypes.h"
#include "pdb_NullMutex.h"
#include "pdb_ParameterDB.h"
#include "pdb_SimpleReadWriteMutex.h"
#include "pdb_TestSupport.h"
#include "shareddb_Fixture.h"

using namespace PDB;
using namespace compo_test;
using namespace shareddb_test;

namespace {

std::vector<ComponentUID> added(const IParameterDB& db)
{
    ComponentUIDList list;
    db.getAddedComponents(list);
    return std::vector<ComponentUID>(list.begin(), list.end());
}

std::vector<ComponentUID> removed(const IParameterDB& db)
{
    ComponentUIDList list;
    db.getRemovedComponents(list);
    return std::vector<ComponentUID>(list.begin(), list.end());
}

class SharedDB : public testing::Test
{
protected:
    void SetUp() override
    {
        registerGain();
        ASSERT_EQ(db.initialize(3, "Shared", &mutex), 0);
    }
    void addGain(ComponentUID uid) { ASSERT_EQ(db.addComponent(uid, "Gain", 1, 0, 0, 0), 0) << uid; }
    // Requests removal and releases it from this thread (nobody else holds it).
    void drop(ComponentUID uid)
    {
        ASSERT_EQ(db.removeComponent(uid), 0);
        ASSERT_EQ(db.releaseComponent(uid), 0);
    }

    SimpleReadWriteMutex mutex;
    ParameterDB db;
};

} // namespace

TEST(SharedDBInitialize, NameLengthOwnerAndReservations)
{
    registerGain();
    SimpleReadWriteMutex mutex;
    ParameterDB db;
    EXPECT_FALSE(db.hasOwnerThread());
    EXPECT_EQ(&db.getMutex(), &NullMutex::getInstance());
    EXPECT_EQ(db.initialize(5, "12345678901234567", &mutex), BAD_ARGUMENT);
    EXPECT_FALSE(db.hasOwnerThread());
    EXPECT_EQ(&db.getMutex(), &NullMutex::getInstance());
    EXPECT_STREQ(db.getName(), "");
    EXPECT_EQ(db.initialize(5, "1234567890123456", &mutex), 0);
    EXPECT_TRUE(db.hasOwnerThread());
    EXPECT_EQ(&db.getMutex(), &mutex);
    EXPECT_STREQ(db.getName(), "1234567890123456");
    EXPECT_EQ(db.getDBId(), 5u);

    ASSERT_EQ(db.addComponent(0x10, "Gain", 1, 0, 0, 0), 0);
    ASSERT_EQ(db.reserveComponent(0x10), 0);
    EXPECT_EQ(db.initialize(6, "Other", nullptr), REFUSED);
    EXPECT_EQ(db.getComponentCount(), 1u);
    EXPECT_STREQ(db.getName(), "1234567890123456");
    EXPECT_EQ(&db.getMutex(), &NullMutex::getInstance()); // the new mutex stays installed
}

TEST_F(SharedDB, RegistrationListsComponentsOncePerThread)
{
    addGain(0x11);
    addGain(0x12);
    CountingObserver first;
    CountingObserver second;
    CountingObserver other;
    EXPECT_EQ(db.registerCallback(1, &first, 0), 0);
    EXPECT_EQ(db.getCallbackIndex(1), 0u);
    EXPECT_EQ(added(db), (std::vector<ComponentUID>{0x11, 0x12}));
    EXPECT_EQ(db.registerCallback(2, &second, 0), 0);
    EXPECT_EQ(db.registerCallback(1, &second, 1), 0); // known key: nothing changes
    EXPECT_EQ(db.getCallbackIndex(2), 1u);
    EXPECT_EQ(db.getCallbackIndex(3), NONE);
    EXPECT_EQ(added(db), (std::vector<ComponentUID>{0x11, 0x12}));

    Worker worker;
    worker.run([&] {
        EXPECT_EQ(db.registerCallback(3, &other, 0), 0);
        EXPECT_EQ(db.getCallbackIndex(3), 2u);
        EXPECT_EQ(added(db), (std::vector<ComponentUID>{0x11, 0x12}));
    });
    addGain(0x13);
    // One notification per thread entry, through the thread's first callback.
    EXPECT_EQ(first.dbChanged.load(), 1);
    EXPECT_EQ(second.dbChanged.load(), 0);
    EXPECT_EQ(other.dbChanged.load(), 1);
    EXPECT_EQ(db.reserveComponent(0x11), 0);
    EXPECT_EQ(added(db), (std::vector<ComponentUID>{0x12, 0x13}));
    worker.run([&] {
        EXPECT_EQ(added(db), (std::vector<ComponentUID>{0x11, 0x12, 0x13}));
        EXPECT_EQ(db.reserveAllComponents(), 0);
        EXPECT_TRUE(added(db).empty());
    });
    EXPECT_EQ(db.reserveComponent(0x99), BAD_ARGUMENT);
    EXPECT_TRUE(db.isReserved(0x13));
    EXPECT_FALSE(db.isReserved(0x99));
}

TEST_F(SharedDB, RemovalIsARequestThatTheLastReleaseCompletes)
{
    addGain(0x21);
    addGain(0x22);
    addGain(0x23);
    CountingObserver observer;
    ASSERT_EQ(db.registerCallback(1, &observer, 0), 0);
    Worker holder;
    holder.run([&] { EXPECT_EQ(db.reserveComponent(0x21), 0); });

    EXPECT_EQ(db.removeComponent(0x21), 0);
    EXPECT_TRUE(db.isRemovalPending(0x21));
    EXPECT_EQ(observer.dbChanged.load(), 1);
    EXPECT_EQ(db.removeComponent(0x99), 0); // unknown: still 0, still notified, listed nowhere
    EXPECT_EQ(db.removeComponent(0x21), 0); // listed once
    EXPECT_EQ(observer.dbChanged.load(), 3);
    EXPECT_EQ(removed(db), (std::vector<ComponentUID>{0x21}));

    // Ending this thread deletes nothing that is not removal-pending, nor what another thread holds.
    EXPECT_EQ(db.releaseAllOfThisThread(), 0);
    EXPECT_TRUE(removed(db).empty());
    EXPECT_EQ(db.getComponentCount(), 3u);
    EXPECT_EQ(db.releaseComponent(0x22), 0); // no removal requested: released, kept
    EXPECT_NE(db.getComponentIndex(0x22), NONE);

    holder.run([&] { EXPECT_EQ(db.releaseComponent(0x21), 0); });
    EXPECT_EQ(db.getComponentIndex(0x21), NONE);
    EXPECT_EQ(db.getComponentCount(), 2u);
    EXPECT_EQ(db.getComponentSlotCount(), 3u);
    EXPECT_EQ(db.releaseComponent(0x21), BAD_ARGUMENT);
    addGain(0x24);
    EXPECT_EQ(db.getComponentIndex(0x24), 0u); // the lowest empty position

    EXPECT_EQ(db.removeComponent(0x23), 0);
    EXPECT_EQ(db.releaseAllOfThisThread(), 0); // pending and unreserved: deleted
    EXPECT_EQ(db.getComponentIndex(0x23), NONE);
    EXPECT_NE(db.getComponentIndex(0x22), NONE);
    EXPECT_NE(db.getComponentIndex(0x24), NONE);
    EXPECT_FALSE(db.hasReservedComponents());
}

TEST_F(SharedDB, RemoveAllNeedsTheOwnerAndNoReservations)
{
    addGain(0x31);
    addGain(0x32);
    CountingObserver observer;
    ASSERT_EQ(db.registerCallback(7, &observer, 0), 0);
    Worker other;
    other.run([&] { EXPECT_EQ(db.removeAllComponents(), REFUSED); });
    EXPECT_EQ(db.getComponentCount(), 2u);
    EXPECT_EQ(db.getCallbackIndex(7), 0u);
    ASSERT_EQ(db.reserveComponent(0x31), 0);
    EXPECT_EQ(db.clear(), REFUSED);
    EXPECT_EQ(db.getComponentCount(), 2u);
    ASSERT_EQ(db.releaseComponent(0x31), 0);
    const int notified = observer.dbChanged.load();
    EXPECT_EQ(db.removeAllComponents(), 0);
    EXPECT_EQ(db.getComponentSlotCount(), 0u);
    EXPECT_EQ(db.getCallbackIndex(7), NONE); // observers register again
    EXPECT_EQ(observer.dbChanged.load(), notified);
    addGain(0x33);
    EXPECT_EQ(observer.dbChanged.load(), notified);
}

TEST_F(SharedDB, GeneratedUidsAreFreeBoundedAndRunOut)
{
    ComponentInfo tiny;
    tiny.initialize("Tiny", 1, 1, 1, 1, 1, "", "", nullptr);
    tiny.addParameterUInt8("/v", 1, 1, "", "", 0, 1, 0, 0, 1, 1, RECALLABLE, "", "", "");
    for (int i = 0; i < 300; ++i) {
        const ComponentUID uid = db.generateComponentUID();
        ASSERT_LE(uid, 32767u);
        ASSERT_EQ(db.getComponentIndex(uid), NONE);
        ASSERT_EQ(db.addComponent(uid, tiny), 0);
    }
    for (ComponentUID uid = 0; uid <= 32767; ++uid) {
        if (db.getComponentIndex(uid) == NONE) {
            ASSERT_EQ(db.addComponent(uid, tiny), 0);
        }
        if (uid == 32000) {
            const ComponentUID last = db.generateComponentUID(); // found by the linear search
            EXPECT_GT(last, 32000u);
            EXPECT_EQ(db.getComponentIndex(last), NONE);
        }
    }
    EXPECT_EQ(db.generateComponentUID(), INVALID_COMPONENT_UID);
    EXPECT_EQ(db.addComponent(INVALID_COMPONENT_UID, tiny), BAD_ARGUMENT);
}

TEST_F(SharedDB, ChangeScanSkipsEmptyPositionsAndStaysWhenAsked)
{
    addGain(0x41);
    addGain(0x42);
    addGain(0x43);
    drop(0x42);
    CountingObserver observer;
    ASSERT_EQ(db.registerCallback(1, &observer, 0), 0);
    EXPECT_EQ(db.setValueInt(0, 0, 1, 0, 5, 0), 0);
    EXPECT_EQ(db.setValueUInt(2, 1, 2, 0, 9, 0), 0);
    EXPECT_EQ(db.setValueInt(2, 0, 3, 1, 5, 0), 0);
    EXPECT_EQ(observer.parameterChanged.load(), 3);
    ASSERT_EQ(db.swapChangeFlags(0), 0);
    EXPECT_TRUE(db.isChanged(0, 2, 1, 2, 0));
    EXPECT_EQ(db.setValueInt(0, 0, 0, 0, 1, 0), 0); // collected for the next swap
    std::set<Element> found;
    u32 c = 0, b = 0, x = 0, y = 0;
    while (db.findNextChange(0, c, b, x, y, false) == 0) {
        found.emplace(c, b, x, y);
    }
    EXPECT_EQ(found, (std::set<Element>{{0, 0, 1, 0}, {2, 0, 3, 1}, {2, 1, 2, 0}}));
    EXPECT_FALSE(db.isChanged(0, 2, 1, 2, 0)); // reported flags are cleared

    EXPECT_EQ(db.setValueInt(2, 0, 0, 0, 4, 0), 0);
    ASSERT_EQ(db.swapChangeFlags(0), 0);
    c = 0, b = 0, x = 0, y = 0;
    EXPECT_EQ(db.findNextChange(0, c, b, x, y, true), 0);
    EXPECT_EQ(std::make_tuple(c, b, x, y), std::make_tuple(0u, 0u, 0u, 0u));
    EXPECT_EQ(db.findNextChange(0, c, b, x, y, true), NO_FURTHER_CHANGE);
    EXPECT_EQ(c, 0u);
    c = 1;
    EXPECT_EQ(db.findNextChange(0, c, b, x, y, true), NO_FURTHER_CHANGE); // an empty position
    EXPECT_EQ(c, 1u);
    EXPECT_TRUE(db.isChanged(0, 2, 0, 0, 0));
    EXPECT_EQ(db.clearChangeFlags(0), 0);
    EXPECT_FALSE(db.isChanged(0, 2, 0, 0, 0));

    // A scan that stops early: what it left behind comes back after the banks went round once more.
    EXPECT_EQ(db.setValueInt(0, 0, 0, 1, 8, 0), 0);
    EXPECT_EQ(db.setValueInt(2, 0, 1, 0, 8, 0), 0);
    ASSERT_EQ(db.swapChangeFlags(0), 0);
    c = 0, b = 0, x = 0, y = 0;
    ASSERT_EQ(db.findNextChange(0, c, b, x, y, false), 0);
    EXPECT_EQ(c, 0u);
    ASSERT_EQ(db.swapChangeFlags(0), 0);
    EXPECT_EQ(swapAndScan(db, 0), (std::set<Element>{{2, 0, 1, 0}}));

    EXPECT_EQ(db.swapChangeFlags(1), INVALID_INDEX);
    EXPECT_EQ(db.findNextChange(1, c, b, x, y, false), INVALID_INDEX);
    EXPECT_EQ(db.clearChangeFlags(1), INVALID_INDEX);
}

TEST_F(SharedDB, StaleRecordsNeverReachANewcomer)
{
    addGain(0x51);
    ParameterAddress record = db.resolveAddress(0x51, "/Level");
    ASSERT_TRUE(record.isValid());
    EXPECT_EQ(db.setValueInt(record, 1, 1, 5, 0), 0);
    EXPECT_EQ(db.getValueInt(0, 0, 1, 1, nullptr), 5);
    drop(0x51);
    addGain(0x52);
    ASSERT_EQ(db.getComponentIndex(0x52), 0u);
    EXPECT_EQ(db.setValueInt(record, 1, 1, 9, 0), NOT_SUPPORTED);
    u8 status = 0;
    EXPECT_EQ(db.getValueInt(record, 1, 1, &status), 0);
    EXPECT_EQ(status, 0xFF);
    EXPECT_EQ(db.getValueInt(0, 0, 1, 1, nullptr), 0);
    EXPECT_FALSE(record.isValid());

    // A resize renumbers the component: an older record is completed again and still names it.
    ParameterAddress mute = db.resolveAddress(0, 1);
    ASSERT_TRUE(mute.isValid());
    const i32 number = mute.getComponentNumber();
    CountingObserver observer;
    ASSERT_EQ(db.registerCallback(1, &observer, 0), 0);
    ASSERT_EQ(db.setComponentDimensions(0, 2, 2, 1, 0), 0);
    EXPECT_EQ(observer.dbChanged.load(), 1);
    EXPECT_EQ(db.setValueUInt(mute, 2, 0, 7, 0), 0);
    EXPECT_EQ(db.getValueUInt(0, 1, 2, 0, nullptr), 7u);
    EXPECT_EQ(mute.getComponentNumber(), number + 1);
    EXPECT_EQ(db.setComponentDimensions(1, 2, 2, 1, 0), NOT_SUPPORTED);
}

TEST_F(SharedDB, BracketsNestAndNeverGoBelowZero)
{
    addGain(0x61);
    CountingObserver observer;
    ASSERT_EQ(db.registerCallback(1, &observer, 1), 0);
    ASSERT_EQ(db.registerCallback(2, &observer, 0), 0);
    db.beginRecall();
    db.beginRecall();
    db.endRecall();
    EXPECT_TRUE(db.isRecalling());
    EXPECT_EQ(db.setValueInt(0, 0, 2, 0, 3, 0), 0);
    db.endRecall();
    db.endRecall(); // unmatched: stays at 0
    EXPECT_FALSE(db.isRecalling());
    EXPECT_EQ(db.setValueInt(0, 0, 3, 0, 3, 0), 0);
    EXPECT_EQ(swapAndScan(db, 0), (std::set<Element>{{0, 0, 2, 0}, {0, 0, 3, 0}}));
    EXPECT_EQ(swapAndScan(db, 1), (std::set<Element>{{0, 0, 3, 0}}));
    db.beginRecall();
    EXPECT_TRUE(db.isRecalling());
    db.endRecall();

    db.suppressStrategy();
    db.suppressStrategy();
    db.resumeStrategy();
    EXPECT_TRUE(db.isStrategySuppressed());
    db.resumeStrategy();
    db.resumeStrategy();
    EXPECT_FALSE(db.isStrategySuppressed());
    db.suppressStrategy();
    EXPECT_TRUE(db.isStrategySuppressed());
    db.resumeStrategy();
}

TEST_F(SharedDB, RefreshMarksEveryElementAndNotifiesOnce)
{
    addGain(0x71);
    addGain(0x72);
    CountingObserver observer;
    ASSERT_EQ(db.registerCallback(1, &observer, 0), 0);
    ASSERT_EQ(db.registerCallback(2, &observer, 1), 0);
    db.beginRecall(); // a refresh marks every subscriber even while recalling
    EXPECT_EQ(db.refreshAllValues(0), 0);
    db.endRecall();
    EXPECT_EQ(observer.parameterChanged.load(), 1);
    for (u32 s = 0; s < 2; ++s) {
        const std::set<Element> found = swapAndScan(db, s);
        EXPECT_EQ(found.size(), 2u * (8 + 3));
        EXPECT_EQ(found.count(Element{1, 1, 2, 0}), 1u);
    }
}

TEST_F(SharedDB, CopiesAndExportsUnderTheLock)
{
    LocalParameterDB local;
    buildReferenceDB(local);
    addGain(0x102);
    addGain(0x101);
    EXPECT_EQ(db.copyAllFrom(local, 0, 0), 0);
    db.setComponentName(1, "In1"); // names and user values are no parameters: not copied
    db.setComponentUserValue(1, 0x12345);
    EXPECT_EQ(exportAll(db), exportAll(local));
    const u32 size = db.getComponentTableSize();
    std::vector<u8> buffer(size);
    EXPECT_EQ(db.exportComponentTable(buffer.data(), size - 1, 0), BAD_ARGUMENT);
    EXPECT_EQ(db.exportComponentTable(nullptr, size, 0), BAD_ARGUMENT);
    const ComponentUIDList one = {0x101};
    EXPECT_EQ(db.getComponentTableSize(one), local.getComponentTableSize(one));
    // A list bigger than the table of all components is refused (the room is checked under the lock).
    const std::vector<u32> twice = {1, 1, 0};
    EXPECT_EQ(db.exportComponentTable(buffer.data(), size, 0, twice), BAD_ARGUMENT);

    ParameterDB second;
    SimpleReadWriteMutex otherMutex;
    ASSERT_EQ(second.initialize(4, "Second", &otherMutex), 0);
    ASSERT_EQ(second.addComponent(0x102, "Gain", 1, 0, 0, 0), 0);
    ASSERT_EQ(second.addComponent(0x101, "Gain", 1, 0, 0, 0), 0);
    EXPECT_EQ(second.copyComponentFrom(1, db, 0, 0), 0);
    EXPECT_EQ(second.getValueInt(1, 0, 2, 1, nullptr), 7);
    ParameterAddress level = second.resolveAddress(0x101, "/Level");
    EXPECT_EQ(second.setValueInt(level, 1, 0, 0, 0), 0);
    EXPECT_EQ(second.getValueInt(1, 0, 1, 0, nullptr), 0);
    EXPECT_EQ(second.copyBlockFrom(level, db, 0, 0), 0);
    EXPECT_EQ(second.getValueInt(1, 0, 1, 0, nullptr), -2);
    EXPECT_EQ(db.copyAllFrom(second, 0, 0), 0);
}

TEST_F(SharedDB, RefusedImportsChangeNothingAndTellNobody)
{
    const std::vector<u8> table = [] {
        LocalParameterDB local;
        buildReferenceDB(local);
        return exportAll(local);
    }();
    auto build = [](ParameterDB& target, SimpleReadWriteMutex& lock, CountingObserver& observer) {
        ASSERT_EQ(target.initialize(3, "Shared", &lock), 0);
        ASSERT_EQ(target.addComponent(0x102, "Gain", 1, 0, 0, 0), 0);
        ASSERT_EQ(target.addComponent(0x101, "Gain", 1, 0, 0, 0), 0);
        fillGain(target, 1);
        target.setValueInt(1, 0, 0, 0, 99, 0);
        ASSERT_EQ(target.registerCallback(1, &observer, 0), 0);
    };
    std::mt19937 random(4242);
    int accepted = 0;
    auto attempt = [&](const std::vector<u8>& record, size_t length, u8 options) {
        SimpleReadWriteMutex lock;
        ParameterDB target;
        CountingObserver observer;
        build(target, lock, observer);
        const std::vector<u8> before = exportAll(target);
        const i32 result = target.importComponentTable(record.data(), static_cast<u32>(length), options, 0xFF);
        if (result < 0) {
            ASSERT_EQ(exportAll(target), before) << length << " " << int(options);
            ASSERT_EQ(target.getComponentSlotCount(), 2u);
            ASSERT_EQ(observer.dbChanged.load(), 0);
            ASSERT_EQ(observer.parameterChanged.load(), 0);
        } else {
            ++accepted;
        }
    };
    for (u8 options : {u8{0x08}, u8{0x09}}) {
        for (size_t length = 0; length < table.size(); ++length) {
            std::vector<u8> prefix(table.begin(), table.begin() + static_cast<long>(length));
            attempt(prefix, length, options);
        }
    }
    for (int round = 0; round < 1500; ++round) {
        std::vector<u8> record = table;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int f = 0; f < flips; ++f) {
            record[random() % record.size()] ^= static_cast<u8>(1u << (random() % 8));
        }
        attempt(record, record.size(), (round & 1) != 0 ? 0x09 : 0x08);
    }
    EXPECT_GT(accepted, 0); // flips inside values import fine

    // A replacing import is refused while anything is reserved, and otherwise tells the observers.
    CountingObserver observer;
    SimpleReadWriteMutex lock;
    ParameterDB target;
    build(target, lock, observer);
    ASSERT_EQ(target.reserveComponent(0x102), 0);
    EXPECT_EQ(target.importComponentTable(table.data(), static_cast<u32>(table.size()), 0x09, 0xFF), REFUSED);
    EXPECT_EQ(target.getValueInt(1, 0, 0, 0, nullptr), 99);
    ASSERT_EQ(target.releaseComponent(0x102), 0);
    EXPECT_EQ(target.importComponentTable(table.data(), static_cast<u32>(table.size()), 0x09, 0xFF), 0);
    EXPECT_EQ(observer.dbChanged.load(), 1);
    EXPECT_EQ(exportAll(target, 7), table);
    EXPECT_EQ(target.getCallbackIndex(1), 0u);
    EXPECT_EQ(added(target), (std::vector<ComponentUID>{0x101, 0x102}));
}

TEST_F(SharedDB, ImportLogsTypesThatAreNotRegistered)
{
    LocalParameterDB source;
    buildReferenceDB(source);
    std::vector<u8> record = exportAll(source);
    std::memcpy(record.data() + 20 + 8, "Nope", 4); // entry 0 (uid 0x101): a type nobody registered
    testing::internal::CaptureStdout();
    EXPECT_EQ(db.importComponentTable(record.data(), static_cast<u32>(record.size()), 9, 0xFF), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[E] ComponentInfo::importBinary - Unknown ComponentInfo found. [name=Nope, ver=1]\n");
    EXPECT_EQ(db.getComponentCount(), 1u);
    EXPECT_EQ(db.getComponentIndex(0x101), 0xFFFFFFFFu);
}

TEST_F(SharedDB, SuccessfulImportsTellTheObservers)
{
    LocalParameterDB source;
    buildReferenceDB(source);
    const std::vector<u8> record = exportAll(source);
    addGain(0x101);
    CountingObserver observer;
    ASSERT_EQ(db.registerCallback(1, &observer, 0), 0);
    // A value import changes no component, yet a successful import is announced once.
    ASSERT_EQ(db.importComponentTable(record.data(), static_cast<u32>(record.size()), 8, 0xFF), 0);
    EXPECT_EQ(db.getValueInt(0, 0, 2, 1, nullptr), 7);
    EXPECT_EQ(observer.dbChanged.load(), 1);
    EXPECT_GT(observer.parameterChanged.load(), 0);
    // An empty table replacing nothing succeeds and is announced too; a refused one is not.
    const std::vector<u8> empty = hexBytes("23435431 00000000 00000000");
    SimpleReadWriteMutex other;
    ParameterDB fresh;
    ASSERT_EQ(fresh.initialize(4, "Fresh", &other), 0);
    CountingObserver second;
    ASSERT_EQ(fresh.registerCallback(1, &second, 0), 0);
    ASSERT_EQ(fresh.importComponentTable(empty.data(), 12, 9, 0xFF), 0);
    EXPECT_EQ(second.dbChanged.load(), 1);
    EXPECT_EQ(fresh.importComponentTable(empty.data(), 11, 9, 0xFF), static_cast<i32>(0x80000001u));
    EXPECT_EQ(second.dbChanged.load(), 1);
}

TEST_F(SharedDB, DeferredNoticesReachEachObserverOnceAfterTheLocksAreReleased)
{
    using pdbtest::DepthMutex;
    using pdbtest::DepthObserver;

    DepthMutex depthMutex;
    ASSERT_EQ(db.initialize(3, "Shared", &depthMutex), 0);
    ParameterDB second;
    ASSERT_EQ(second.initialize(4, "Second", &depthMutex), 0);
    addGain(0x21);
    ASSERT_EQ(second.addComponent(0x22, "Gain", 1, 0, 0, 0), 0);
    DepthObserver mine(depthMutex);
    DepthObserver other(depthMutex);
    ASSERT_EQ(db.registerCallback(1, &mine, 0), 0);
    ASSERT_EQ(second.registerCallback(1, &mine, 0), 0);
    Worker worker;
    worker.run([&] { ASSERT_EQ(db.registerCallback(2, &other, 0), 0); });
    ParameterAddress level = db.resolveAddress(0x21, "/Level");
    ParameterAddress otherLevel = second.resolveAddress(0x22, "/Level");

    // Without notices held, each write tells the observers inside its lock.
    EXPECT_EQ(db.setValueInt(level, 0, 0, 5, 0), 0);
    EXPECT_EQ(mine.m_depths, (std::vector<int>{1}));
    EXPECT_EQ(other.m_depths, (std::vector<int>{1}));

    // Held: every write under the lock, in either database and inside nested holders, gives one notice per
    // observer, once the outermost holder ends after the lock.
    mine.m_depths.clear();
    other.m_depths.clear();
    {
        const DeferredChangeNotices outer;
        EXPECT_TRUE(DeferredChangeNotices::isActive());
        WriteLock<IParameterDB> lock(db);
        {
            const DeferredChangeNotices inner;
            EXPECT_EQ(db.setValueInt(level, 1, 0, 6, 0), 0);
        }
        EXPECT_EQ(second.setValueInt(otherLevel, 2, 1, 7, 0), 0);
        EXPECT_EQ(db.setValueInt(level, 3, 1, 8, 0), 0);
        worker.run([&] { EXPECT_FALSE(DeferredChangeNotices::isActive()); });
        EXPECT_TRUE(mine.m_depths.empty());
        EXPECT_TRUE(other.m_depths.empty());
    }
    EXPECT_FALSE(DeferredChangeNotices::isActive());
    EXPECT_EQ(mine.m_depths, (std::vector<int>{0}));
    EXPECT_EQ(other.m_depths, (std::vector<int>{0}));
    EXPECT_EQ(swapAndScan(db, 0).size(), 3u); // the changes themselves are marked as ever
}

TEST_F(SharedDB, HeldNoticesReachOnlyObserversStillRegistered)
{
    ParameterDB second;
    ASSERT_EQ(second.initialize(4, "Second", nullptr), 0);
    addGain(0x21);
    ASSERT_EQ(second.addComponent(0x22, "Gain", 1, 0, 0, 0), 0);
    CountingObserver observer;
    ASSERT_EQ(db.registerCallback(1, &observer, 0), 0);
    ASSERT_EQ(second.registerCallback(1, &observer, 0), 0);
    ParameterAddress level = db.resolveAddress(0x21, "/Level");
    ParameterAddress otherLevel = second.resolveAddress(0x22, "/Level");

    // Held by both databases, it leaves one of them and is told once through the other.
    {
        const DeferredChangeNotices notices;
        ASSERT_EQ(db.setValueInt(level, 0, 0, 5, 0), 0);
        ASSERT_EQ(second.setValueInt(otherLevel, 0, 0, 5, 0), 0);
        ASSERT_EQ(db.removeAllComponents(), 0);
    }
    EXPECT_EQ(observer.parameterChanged.load(), 1);
    // Held by one database only, it leaves that one and is not told.
    {
        const DeferredChangeNotices notices;
        ASSERT_EQ(second.setValueInt(otherLevel, 0, 0, 6, 0), 0);
        ASSERT_EQ(second.removeAllComponents(), 0);
    }
    EXPECT_EQ(observer.parameterChanged.load(), 1);
}

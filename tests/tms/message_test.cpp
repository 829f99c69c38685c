// Messages and the message queue.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tms_Message.h"
#include "tms_MessageStream.h"
#include "tms_Mutex.h"
#include "tms_ThreadRepository.h"
#include "tms_ThreadTestSupport.h"

namespace {

using TMS::AbstractMessage;
using TMS::SystemMessage;
using TMS::ThreadMessageStream;

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new tmstest::RepositoryEnvironment());

AbstractMessage numbered(u32 n)
{
    AbstractMessage message;
    message.initialize(TMS::MESSAGE_KIND_USER, 0);
    message.setUInt("N", n);
    return message;
}

u32 numberOf(const AbstractMessage& message)
{
    return message.getValue("N").getUInt();
}

TEST(MessageStream, CapacityOneRefusesSecondWriteUntilRead)
{
    TMS::TMSMutex mutex("TestMsg");
    ThreadMessageStream stream;
    ASSERT_EQ(stream.create(&mutex, 0, 1), 0u);
    EXPECT_EQ(stream.write(numbered(1)), 0u);
    EXPECT_EQ(stream.write(numbered(2)), 0x80000008u);
    AbstractMessage out;
    EXPECT_EQ(stream.read(out), 0u);
    EXPECT_EQ(numberOf(out), 1u);
    EXPECT_EQ(stream.write(numbered(3)), 0u);
    EXPECT_EQ(stream.read(out), 0u);
    EXPECT_EQ(numberOf(out), 3u);
}

TEST(MessageStream, ReadsReportWhetherMoreWaitAndKeepOrderAcrossTheWrap)
{
    TMS::TMSMutex mutex("TestMsg");
    ThreadMessageStream stream;
    ASSERT_EQ(stream.create(&mutex, 0, 3), 0u);
    AbstractMessage out;
    u32 next = 0;
    u32 expected = 0;
    // Several rounds so that both indices pass the end of the array more than once.
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(stream.write(numbered(next++)), 0u);
        }
        EXPECT_EQ(stream.read(out), 10u);
        EXPECT_EQ(numberOf(out), expected++);
        EXPECT_EQ(stream.read(out), 10u);
        EXPECT_EQ(numberOf(out), expected++);
        // Refill one slot past the wrap before draining.
        ASSERT_EQ(stream.write(numbered(next++)), 0u);
        EXPECT_EQ(stream.read(out), 10u);
        EXPECT_EQ(numberOf(out), expected++);
        EXPECT_EQ(stream.read(out), 0u);
        EXPECT_EQ(numberOf(out), expected++);
        EXPECT_EQ(stream.read(out), 0x80000007u);
    }
}

TEST(MessageStream, CreationFailuresAndMissingMutex)
{
    TMS::TMSMutex mutex("TestMsg");
    ThreadMessageStream stream;
    EXPECT_EQ(stream.create(&mutex, 0, 0), 0x80000000u);
    EXPECT_EQ(stream.getState(), ThreadMessageStream::STATE_NO_STORAGE);
    EXPECT_EQ(stream.write(numbered(1)), 0x80000008u);
    EXPECT_EQ(stream.create(&mutex, 0, 0x1000000), 0x80000000u);
    EXPECT_EQ(stream.create(&mutex, 31, 4), 0x80000000u); // no heap in that slot

    ThreadMessageStream unbound;
    AbstractMessage out;
    EXPECT_EQ(unbound.write(numbered(1)), 0x80000004u);
    EXPECT_EQ(unbound.read(out), 0x80000004u);
    EXPECT_EQ(unbound.create(nullptr, 0, 4), 0x80000004u);

    // Re-creation drops the queued messages.
    ASSERT_EQ(stream.create(&mutex, 0, 2), 0u);
    ASSERT_EQ(stream.write(numbered(1)), 0u);
    ASSERT_EQ(stream.create(&mutex, 0, 2), 0u);
    EXPECT_EQ(stream.read(out), 0x80000007u);
}

TEST(Message, InitializationAndKinds)
{
    AbstractMessage fresh;
    EXPECT_STREQ(fresh.getSender(), "Dummy");
    EXPECT_EQ(fresh.getKind(), 0u);

    AbstractMessage invalid;
    EXPECT_EQ(invalid.initialize(3, 0), 0x80000000u);
    EXPECT_STREQ(invalid.getSender(), "Dummy");
    EXPECT_EQ(invalid.getKind(), 0u);
    EXPECT_EQ(invalid.setString("A", "x"), 0x80000000u);
    EXPECT_EQ(invalid.setInt("A", 1), 0x80000000u);
    EXPECT_EQ(invalid.getValue("A").getKind(), KVariant::KIND_EMPTY);
    EXPECT_TRUE(invalid.getFields().empty());

    AbstractMessage user;
    EXPECT_EQ(user.initialize(TMS::MESSAGE_KIND_USER, 7), 0u);
    EXPECT_STREQ(user.getSender(), "NullThread"); // the test thread is no TMS thread
    EXPECT_EQ(user.getCode(), 7u);
    EXPECT_EQ(user.setInt(nullptr, 1), 0x80000002u);
    EXPECT_EQ(user.getValue(nullptr).getKind(), KVariant::KIND_EMPTY);

    TMS::FieldMap fields;
    fields["Reason"] = KVariant(5u);
    SystemMessage stopRequest(1, fields);
    EXPECT_EQ(stopRequest.getKind(), TMS::MESSAGE_KIND_SYSTEM);
    EXPECT_EQ(stopRequest.getCode(), 1u);
    EXPECT_STREQ(stopRequest.getSender(), "Dummy");
    EXPECT_EQ(stopRequest.getValue("Reason").getUInt(), 5u);

    SystemMessage unknown(4, fields);
    EXPECT_EQ(unknown.getKind(), 0u);
    EXPECT_TRUE(unknown.getFields().empty());
}

TEST(Message, FieldsAreOwnedCopiedAndReplaced)
{
    AbstractMessage message;
    ASSERT_EQ(message.initialize(TMS::MESSAGE_KIND_USER, 0), 0u);

    // A key built at run time: the message keeps its own copy of the text.
    std::string key = "Field";
    key += std::to_string(42);
    EXPECT_EQ(message.setUInt(key.c_str(), 1), 0u);
    key.assign("Overwritten!");
    EXPECT_EQ(message.getValue("Field42").getUInt(), 1u);

    EXPECT_EQ(message.setUInt("Field42", 2), 0u);
    EXPECT_EQ(message.getFields().size(), 1u);
    EXPECT_EQ(message.getValue("Field42").getUInt(), 2u);
    EXPECT_EQ(message.getValue("Missing").getKind(), KVariant::KIND_EMPTY);

    const u8 bytes[] = {1, 2, 3};
    EXPECT_EQ(message.setBinary("Bytes", bytes, sizeof(bytes)), 0u);
    EXPECT_EQ(message.setBinary("Bytes", nullptr, 3), 0x80000002u);
    EXPECT_EQ(message.setBinary("Bytes", bytes, 0), 0x80000002u);
    EXPECT_EQ(std::memcmp(message.getValue("Bytes").getBinary(), bytes, sizeof(bytes)), 0);

    EXPECT_EQ(message.setString("Text", nullptr), 0u);
    EXPECT_STREQ(message.getValue("Text").getString(), "");

    // Copies are deep: changing the copy leaves the original alone.
    AbstractMessage copy = message;
    copy.setInt("Field42", -1);
    EXPECT_EQ(message.getValue("Field42").getUInt(), 2u);
    EXPECT_EQ(copy.getValue("Field42").getInt(), -1);
}

TEST(Message, OverLongTextReportsTheValueFailure)
{
    AbstractMessage message;
    ASSERT_EQ(message.initialize(TMS::MESSAGE_KIND_USER, 0), 0u);
    const std::string longest(1023, 'a');
    EXPECT_EQ(message.setString("Text", longest.c_str()), 0u);
    EXPECT_EQ(std::string(message.getValue("Text").getString()), longest);

    const std::string tooLong(1024, 'b');
    const u32 result = message.setString("Text", tooLong.c_str());
    EXPECT_TRUE((result & 0x80000000u) != 0) << std::hex << result;
    EXPECT_STREQ(message.getValue("Text").getString(), "ERROR:");
}

TEST(Message, MovedOutOfTheQueueKeepsEverything)
{
    TMS::TMSMutex mutex("TestMsg");
    ThreadMessageStream stream;
    ASSERT_EQ(stream.create(&mutex, 0, 2), 0u);
    AbstractMessage message;
    message.initialize(TMS::MESSAGE_KIND_USER, 3);
    message.setString("CommandName", "ping");
    message.setInt("A", -5);
    ASSERT_EQ(stream.write(message), 0u);
    AbstractMessage out;
    ASSERT_EQ(stream.read(out), 0u);
    EXPECT_EQ(out.getCode(), 3u);
    EXPECT_STREQ(out.getSender(), "NullThread");
    EXPECT_STREQ(out.getValue("CommandName").getString(), "ping");
    EXPECT_EQ(out.getValue("A").getInt(), -5);
    // The sender's own message is untouched by the queue.
    EXPECT_EQ(message.getFields().size(), 2u);
}

} // namespace

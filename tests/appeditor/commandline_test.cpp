// Command-line options, the program directory and the restart command.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "fsw_TestSupport.h"
#include "pyrite_CommandLineOptions.h"
#include "pyrite_Restart.h"
#include "tms_TestSupport.h"

namespace {

std::string textOf(const KVariant& value)
{
    return value.getKind() == KVariant::KIND_STRING ? value.getString() : "<" + std::to_string(value.getKind()) + ">";
}

u32 parse(CommandLineOptions& options, const std::vector<const char*>& arguments)
{
    return options.parse(static_cast<int>(arguments.size()), arguments.data());
}

TEST(CommandLineOptions, OptionsStopAtTheFirstMalformedArgument)
{
    const struct
    {
        std::vector<const char*> arguments;
        u32 result;
        size_t count;
        const char* port;
        const char* uid;
    } cases[] = {
        {{"p", "port=5000", "uid=abc", "port=6000"}, 0, 2, "5000", "abc"},
        {{"p", "a==b", "port=1"}, 0, 2, "1", "<5>"},
        {{"p", "uid=u", "a=", "port=1"}, 0x80000000, 1, "<5>", "u"},
        {{"p", "uid=u", "=b", "port=1"}, 0x80000000, 1, "<5>", "u"},
        {{"p", "uid=u", "x", "port=1"}, 0x80000000, 1, "<5>", "u"},
        {{"p", "uid=u", "a=b=c", "port=1"}, 0x80000000, 1, "<5>", "u"},
        {{"p", "delayedStart", "uid=u", "port=1"}, 0x80000000, 0, "<5>", "<5>"},
        {{"p", "uid=u", "delayedStart", "port=1"}, 0x80000000, 1, "<5>", "u"},
        {{"p"}, 0, 0, "<5>", "<5>"},
    };
    for (const auto& c : cases) {
        CommandLineOptions options;
        EXPECT_EQ(parse(options, c.arguments), c.result) << c.arguments.size() << " " << c.arguments.back();
        EXPECT_EQ(options.getOptionCount(), c.count) << c.arguments.back();
        KVariant port;
        KVariant uid;
        options.getPort(port);
        options.getUid(uid);
        EXPECT_EQ(textOf(port), c.port) << c.arguments.back();
        EXPECT_EQ(textOf(uid), c.uid) << c.arguments.back();
    }
    CommandLineOptions options;
    const std::string tooLong = "uid=" + std::string(1024, 'u');
    EXPECT_EQ(parse(options, {"p", "work=w", tooLong.c_str()}), 0x80000000u);
    KVariant work;
    KVariant uid;
    options.getWork(work);
    options.find("uid", uid);
    EXPECT_EQ(textOf(work), "w");
    EXPECT_EQ(textOf(uid), "<5>");
}

TEST(CommandLineOptions, ProgramDirectoryFromArgvZero)
{
    char buffer[4096];
    ASSERT_NE(::getcwd(buffer, sizeof(buffer)), nullptr);
    const std::string cwd = buffer;
    const struct
    {
        const char* argv0;
        std::string directory;
    } cases[] = {
        {"/opt/p/bin", "/opt/p"},      {"//opt//p/", "/opt"}, {"/bin", "/"},
        {"rel/bin", cwd + "/rel"},     {"./bin", cwd},        {"bin", ""},
        {"C:\\p\\bin", cwd + "/C:/p"},
    };
    for (const auto& c : cases) {
        CommandLineOptions options;
        EXPECT_EQ(parse(options, {c.argv0, "uid=u"}), 0u);
        EXPECT_EQ(options.getProgramDirectory(), c.directory) << c.argv0;
    }
    CommandLineOptions alone;
    EXPECT_EQ(parse(alone, {"/opt/p/bin"}), 0u);
    EXPECT_EQ(alone.getProgramDirectory(), "");
    EXPECT_EQ(alone.parse(2, nullptr), 0x80000000u);
}

TEST(Restart, RunsTheBatchFileBesideTheProgramWithoutWaiting)
{
    EXPECT_EQ(restartProgram(nullptr), 0x80000000u);

    fswtest::TempDir dir;
    const std::string program = dir / "virtualVEXA-D";
    ASSERT_TRUE(fswtest::writeFile(dir / "restart.bat", "echo \"$1\" > \"$(dirname \"$0\")/marker\"\n"
                                                        "sleep 2\n"
                                                        "echo done > \"$(dirname \"$0\")/done\"\n"));
    ASSERT_EQ(restartProgram(program.c_str()), 0u);
    // The call came back while the script still sleeps.
    EXPECT_FALSE(fswtest::exists(dir / "done"));
    EXPECT_TRUE(tmstest::waitUntil([&] { return fswtest::readFile(dir / "marker") == program + "\n"; }, 5000));
    EXPECT_TRUE(tmstest::waitUntil([&] { return fswtest::exists(dir / "done"); }, 5000));
}

} // namespace

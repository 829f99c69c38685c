// Ini files: the reader's syntax, chunking, saving and round trips.
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <random>
#include <string>

#include "fcache_IniFile.h"
#include "fsw_SystemCalls.h"
#include "fsw_TestSupport.h"

using FILECACHE::IniEntries;
using FILECACHE::IniFile;

namespace {

constexpr i32 kFailed = static_cast<i32>(0x80000000u);

IniEntries entries(std::initializer_list<std::tuple<const char*, const char*, const char*>> list)
{
    IniEntries out;
    for (const auto& [s, k, v] : list) {
        out[{s, k}] = v;
    }
    return out;
}

class IniTest : public ::testing::Test
{
protected:
    void TearDown() override { fsw_setSystemCalls(nullptr, nullptr, nullptr); }

    // Writes the text as "set.ini" and loads it into a fresh ini file.
    i32 loadText(const std::string& text)
    {
        EXPECT_TRUE(fswtest::writeFile(dir / "set.ini", text));
        ini = std::make_unique<IniFile>();
        EXPECT_EQ(ini->open(dir.path().c_str(), 1, "set.ini"), 0);
        return ini->load();
    }

    fswtest::TempDir dir;
    std::unique_ptr<IniFile> ini;
};

} // namespace

TEST_F(IniTest, SettingsLinesAndCommentsAreParsed)
{
    ASSERT_EQ(loadText("; leading comment\n\n# another\n[Setting]\n  OSCRxPort =  49900  ; rx port\n"
                       "Path = C:\\data\nHost: a=b:c\nnovalue\n\tx\t=\t1\t\n[ Other ]  \nlast=line"),
              0);
    EXPECT_EQ(ini->entries(), entries({{"Setting", "OSCRxPort", "49900"},
                                       {"Setting", "Path", "C:\\data"},
                                       {"Setting", "Host", "a=b:c"},
                                       {"Setting", "x", "1"},
                                       {"Other", "last", "line"}}));
    const char* fallback = "default";
    EXPECT_EQ(ini->getValue("Setting", "missing", fallback), fallback);
    EXPECT_EQ(ini->getValue("Setting", "", fallback), fallback);
    EXPECT_EQ(ini->getValue(nullptr, "Path", fallback), fallback);
    EXPECT_STREQ(ini->getValue("Setting", "Path", fallback), "C:\\data");
}

TEST_F(IniTest, ParserStateTable)
{
    struct Case
    {
        const char* text;
        i32 result;
        IniEntries expected;
    };
    const Case cases[] = {
        {"\xEF\xBB\xBF", 0, {}},
        {"", 0, {}},
        {"k=v\n[S]\n", kFailed, {}},     // entry before any header
        {"  \n[S]\nk=v\n", kFailed, {}}, // blanks before any header
        {"\t\n[S]\nk=v\n", kFailed, {}},
        {"\r\n\x01=:]\n[S]\nk=v\r\n", 0, entries({{"S", "k", "v"}})},    // skipped line-start characters
        {"[S]\nk=v\n[a=b]\nx=y\n", kFailed, entries({{"S", "k", "v"}})}, // error keeps what came before
        {"[S] x\nk=v\n", kFailed, {}},
        {"[S]\t \nk=v\n", 0, entries({{"S", "k", "v"}})},
        {"[S]\nk[1]=v\n", kFailed, {}},
        {"[S]\nk\x01=v\n", kFailed, {}},
        {"[S]\nk\tz=v\n", 0, entries({{"S", "k\tz", "v"}})},
        {"[S]\nk=v\x01w\n", 0, entries({{"S", "k", "v\x01w"}})},
        {"[a[b]\n", kFailed, {}},
        {"[abc\nk=v\n", 0, entries({{"abc", "k", "v"}})}, // unterminated header still names the section
        {"[ ab \t#c\nk=v\n", 0, entries({{"ab", "k", "v"}})},
        {"[S]\nk=1\nk=2\n", 0, entries({{"S", "k", "2"}})},
        {"[S]\nk= \n", 0, {}},
        {"[S]\nk=v#c\nz=1;c\n", 0, entries({{"S", "k", "v"}, {"S", "z", "1"}})},
        {"[S]#comment\nk=v\n", 0, entries({{"S", "k", "v"}})},
        {"[S]\n]k=v\n", 0, entries({{"S", "k", "v"}})},
        {"[S]\nk=v\r\n[T]\r\nk=w", 0, entries({{"S", "k", "v"}, {"T", "k", "w"}})},
        {"[]\nk=v\n", kFailed, {}}, // an empty section name counts as no section
    };
    for (const Case& c : cases) {
        EXPECT_EQ(loadText(c.text), c.result) << c.text;
        EXPECT_EQ(ini->entries(), c.expected) << c.text;
    }
}

TEST_F(IniTest, SpecialCharactersAroundTheChunkSeam)
{
    for (size_t at = 250; at <= 260; ++at) {
        for (bool bom : {false, true}) {
            const std::string head = bom ? "\xEF\xBB\xBF[S]\n" : "[S]\n";
            // Line break at `at`.
            std::string text = head + "k=" + std::string(at - head.size() - 2, 'v') + "\nz=1\n";
            ASSERT_EQ(text[at], '\n');
            ASSERT_EQ(loadText(text), 0) << at;
            EXPECT_EQ(ini->entries(),
                      entries({{"S", "k", std::string(at - head.size() - 2, 'v').c_str()}, {"S", "z", "1"}}));
            // "=" at `at`.
            const std::string key(at - head.size(), 'k');
            text = head + key + "=v\n";
            ASSERT_EQ(text[at], '=');
            ASSERT_EQ(loadText(text), 0);
            EXPECT_EQ(ini->entries(), entries({{"S", key.c_str(), "v"}}));
            // A header's "]" at `at`.
            const std::string section(at - head.size() - 1, 'T');
            text = head + "[" + section + "]\nk=v\n";
            ASSERT_EQ(text[at], ']');
            ASSERT_EQ(loadText(text), 0);
            EXPECT_EQ(ini->entries(), entries({{section.c_str(), "k", "v"}}));
            // A comment start at `at`.
            const std::string value(at - head.size() - 2, 'w');
            text = head + "k=" + value + "#tail=x\nz=1\n";
            ASSERT_EQ(text[at], '#');
            ASSERT_EQ(loadText(text), 0);
            EXPECT_EQ(ini->entries(), entries({{"S", "k", value.c_str()}, {"S", "z", "1"}}));
        }
    }
}

namespace {
std::atomic<size_t> g_readBudget{0};

// Delivers at most the budget, then reports the end of the file, as a file that shrinks while it is read.
ssize_t shrinkingRead(int fd, void* buffer, size_t size)
{
    const size_t budget = g_readBudget.load();
    const size_t n = size < budget ? size : budget;
    if (n == 0) {
        return 0;
    }
    const ssize_t got = ::read(fd, buffer, n);
    if (got > 0) {
        g_readBudget -= static_cast<size_t>(got);
    }
    return got;
}

ssize_t failingWrite(int, const void*, size_t)
{
    errno = ENOSPC;
    return -1;
}
} // namespace

TEST_F(IniTest, AFileThatShrinksWhileReadEndsTheLoad)
{
    std::string text = "[S]\n";
    for (int i = 0; i < 100; ++i) {
        text += "key" + std::to_string(i) + " = value\n";
    }
    g_readBudget = 300;
    fsw_setSystemCalls(&shrinkingRead, nullptr, nullptr);
    ASSERT_EQ(loadText(text), 0);
    fsw_setSystemCalls(nullptr, nullptr, nullptr);
    // Exactly the lines within the first 300 bytes, the cut last one included.
    EXPECT_GT(ini->entries().size(), 10u);
    EXPECT_LT(ini->entries().size(), 100u);
    IniEntries expected;
    FILECACHE::IniParser parser(expected);
    parser.feed(text.data(), 300, true);
    EXPECT_EQ(ini->entries(), expected);
}

TEST_F(IniTest, SaveWritesTheGoldenForm)
{
    ini = std::make_unique<IniFile>();
    ASSERT_EQ(ini->open((dir / "new/folder").c_str(), 1, "out.ini"), 0);
    EXPECT_TRUE(fswtest::exists(dir / "new/folder/out.ini"));
    ASSERT_EQ(ini->setValue("B", "x", "y"), 0);
    ASSERT_EQ(ini->setValue("A", "z", "1"), 0);
    ASSERT_EQ(ini->setValue("A", "k", "v"), 0);
    ASSERT_EQ(ini->save(true), 0);
    EXPECT_EQ(fswtest::readFile(dir / "new/folder/out.ini").value_or(""),
              "\xEF\xBB\xBF[A]\nk = v\nz = 1\n\n[B]\nx = y\n");

    // Comments and spacing are not kept; order is byte-wise by section, then key.
    ASSERT_EQ(loadText("# c\n[b]\nZ=1\na = 2 ; c\n[B]\nk:v\n"), 0);
    ASSERT_EQ(ini->save(false), 0);
    EXPECT_EQ(fswtest::readFile(dir / "set.ini").value_or(""), "[B]\nk = v\n\n[b]\nZ = 1\na = 2\n");
    EXPECT_EQ(fswtest::listNames(dir.path()), (std::vector<std::string>{"new", "set.ini"}));

    // An item the caller holds open follows the replacement: the next load reads the new text.
    ASSERT_EQ(ini->open(3u), 0);
    ASSERT_EQ(ini->setValue("b", "Z", "changed"), 0);
    ASSERT_EQ(ini->save(false), 0);
    ASSERT_EQ(ini->load(), 0);
    EXPECT_TRUE(ini->isOpen());
    EXPECT_STREQ(ini->getValue("b", "Z", "-"), "changed");
}

TEST_F(IniTest, SetValueRefusesTextsThatWouldNotReadBack)
{
    ini = std::make_unique<IniFile>();
    ASSERT_EQ(ini->open(dir.path().c_str(), 1, "set.ini"), 0);
    ASSERT_EQ(ini->setValue("S", "k", "v"), 0);
    const IniEntries before = ini->entries();
    const char* badValues[] = {nullptr, "", "#FF0000", "a;b", "a\nb", "a\rb", " v", "v ", "\tv", "v\t"};
    for (const char* v : badValues) {
        EXPECT_EQ(ini->setValue("S", "k", v), kFailed) << (v ? v : "null");
    }
    const char* badNames[] = {nullptr, "",   "a[b", "a]b",   "a=b",  "a:b", "a#b",
                              "a;b",   " a", "a ",  "a\x01", "a\nb", "\x7f"};
    for (const char* n : badNames) {
        EXPECT_EQ(ini->setValue(n, "k", "v"), kFailed) << (n ? n : "null");
        EXPECT_EQ(ini->setValue("S", n, "v"), kFailed) << (n ? n : "null");
    }
    EXPECT_EQ(ini->entries(), before);
    EXPECT_EQ(ini->setValue("S", "k\tx", "v = w: x\x01"), 0);
}

TEST_F(IniTest, AcceptedTextsSurviveSaveAndLoad)
{
    std::mt19937 rng(4711);
    const std::string plain = "abcXYZ019\xc3\xa9/\\.\"'-_";
    const std::string special = " \t=:[]#;\r\n\x01\x7f";
    auto randomText = [&]() {
        std::string s(1 + rng() % 12, ' ');
        for (char& c : s) {
            c = rng() % 16 == 0 ? special[rng() % special.size()] : plain[rng() % plain.size()];
        }
        return s;
    };
    ini = std::make_unique<IniFile>();
    ASSERT_EQ(ini->open(dir.path().c_str(), 1, "set.ini"), 0);
    int accepted = 0;
    for (int i = 0; i < 3000; ++i) {
        const std::string s = randomText(), k = randomText(), v = randomText();
        const bool writable = FILECACHE::IniParser::isWritableSection(s.c_str()) &&
                              FILECACHE::IniParser::isWritableKey(k.c_str()) &&
                              FILECACHE::IniParser::isWritableValue(v.c_str());
        const i32 r = ini->setValue(s.c_str(), k.c_str(), v.c_str());
        EXPECT_EQ(r, writable ? 0 : kFailed);
        accepted += r == 0;
    }
    ASSERT_GT(accepted, 300);
    ASSERT_LT(accepted, 2900);
    for (bool bom : {false, true}) {
        ASSERT_EQ(ini->save(bom), 0);
        IniFile again;
        ASSERT_EQ(again.open(dir.path().c_str(), 1, "set.ini"), 0);
        ASSERT_EQ(again.load(), 0);
        EXPECT_EQ(again.entries(), ini->entries());
    }
}

TEST_F(IniTest, FailedSavesLeaveTheOldFile)
{
    const std::string old = "[S]\nold = 1\n";
    ASSERT_EQ(loadText(old), 0);
    ASSERT_EQ(ini->setValue("S", "new", "2"), 0);
    fsw_setSystemCalls(nullptr, &failingWrite, nullptr);
    EXPECT_EQ(ini->save(true), kFailed);
    fsw_setSystemCalls(nullptr, nullptr, nullptr);
    EXPECT_EQ(fswtest::readFile(dir / "set.ini").value_or(""), old);
    EXPECT_EQ(fswtest::listNames(dir.path()), (std::vector<std::string>{"set.ini"}));

    ASSERT_EQ(::chmod((dir / "set.ini").c_str(), 0444), 0);
    EXPECT_EQ(ini->save(false), kFailed);
    EXPECT_EQ(fswtest::readFile(dir / "set.ini").value_or(""), old);

    IniFile folderItem;
    ASSERT_EQ(folderItem.open(dir.path().c_str(), 2, "sub"), 0);
    EXPECT_EQ(folderItem.save(false), kFailed);
    EXPECT_EQ(folderItem.load(), kFailed);
    IniFile missing;
    EXPECT_EQ(missing.load(), kFailed);
}

TEST_F(IniTest, DamagedFilesNeverHangAndLoadTheSameTwice)
{
    const std::string sample = "\xEF\xBB\xBF; System settings\n[Setting]\nOSCRxPort = 49900\nOSCTxPort = 0 ; reply\n"
                               "Path: C:\\data\\x=1\n\n[Network]\nAddress = 192.168.0.10\nMask=255.255.255.0\n"
                               "# end\n[Empty]\n";
    auto check = [&](const std::string& text, const std::string& what) {
        const i32 first = loadText(text);
        const IniEntries firstEntries = ini->entries();
        ASSERT_TRUE(first == 0 || first == kFailed) << what;
        ASSERT_EQ(ini->load(), first) << what;
        ASSERT_EQ(ini->entries(), firstEntries) << what;
    };
    for (size_t cut = 0; cut <= sample.size(); ++cut) {
        check(sample.substr(0, cut), "cut " + std::to_string(cut));
    }
    const char replacements[] = {'[', ']', '=', ':', '#', '\r', '\n', '\0', '\xFF'};
    for (size_t i = 0; i < sample.size(); ++i) {
        for (char r : replacements) {
            std::string text = sample;
            text[i] = r;
            check(text, "byte " + std::to_string(i));
        }
    }
}

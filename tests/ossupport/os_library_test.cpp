// Loading the test plug-in built beside this suite.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "os_Support.h"

using namespace ossupport;

TEST(OsLibrary, LoadsAndResolvesThePlugIn)
{
    LibraryModule module = nullptr;
    char error[256] = "untouched";
    ASSERT_EQ(loadDynamicLibrary(&module, error, sizeof(error), OS_TEST_PLUGIN_PATH), 0u) << error;
    ASSERT_NE(module, nullptr);

    void* symbol = nullptr;
    ASSERT_EQ(getDynamicLibrarySymbol(&symbol, module, "osTestPluginAnswer"), 0u);
    ASSERT_NE(symbol, nullptr);
    EXPECT_EQ(reinterpret_cast<int (*)(int)>(symbol)(20), 41);

    symbol = &module;
    EXPECT_EQ(getDynamicLibrarySymbol(&symbol, module, "osTestPluginAbsent"), 0x80000002u);
    EXPECT_EQ(symbol, nullptr);

    EXPECT_EQ(freeDynamicLibrary(module), 0u);
}

TEST(OsLibrary, MissingFileReportsTheLoaderTextCut)
{
    const std::string missing = std::string(OS_TEST_PLUGIN_PATH) + ".missing.dll";
    LibraryModule module = reinterpret_cast<LibraryModule>(1);
    char full[512] = {};
    ASSERT_EQ(loadDynamicLibrary(&module, full, sizeof(full), missing.c_str()), 0x80000002u);
    EXPECT_EQ(module, nullptr);
    ASSERT_GT(std::strlen(full), 12u);

    char cut[12];
    std::memset(cut, 'x', sizeof(cut));
    ASSERT_EQ(loadDynamicLibrary(&module, cut, sizeof(cut), missing.c_str()), 0x80000002u);
    EXPECT_EQ(std::strlen(cut), sizeof(cut) - 1);
    EXPECT_EQ(std::string(full).substr(0, sizeof(cut) - 1), cut);

    // No buffer, or a size of 0: nothing is written.
    char untouched[4] = "abc";
    EXPECT_EQ(loadDynamicLibrary(&module, untouched, 0, missing.c_str()), 0x80000002u);
    EXPECT_STREQ(untouched, "abc");
    EXPECT_EQ(loadDynamicLibrary(&module, nullptr, 100, missing.c_str()), 0x80000002u);

    // A path with non-ASCII (valid) UTF-8 reaches the loader as bytes.
    EXPECT_EQ(loadDynamicLibrary(&module, nullptr, 0, "/nonexistent/pl\xC3\xBCgin.dll"), 0x80000002u);
}

// The loader's text names a path of two-byte characters: every cut ends before a whole character, never inside
// one, and keeps as much as fits.
TEST(OsLibrary, LoaderTextIsCutBetweenCharacters)
{
    std::string missing = "/nonexistent/";
    for (int i = 0; i < 20; ++i) {
        missing += "\xC3\xBC";
    }
    missing += ".dll";
    LibraryModule module = nullptr;
    char full[512] = {};
    ASSERT_EQ(loadDynamicLibrary(&module, full, sizeof(full), missing.c_str()), 0x80000002u);
    const std::string text = full;
    ASSERT_NE(text.find("\xC3\xBC"), std::string::npos);
    for (int size = 1; size <= 60; ++size) {
        char cut[64];
        std::memset(cut, 'x', sizeof(cut));
        ASSERT_EQ(loadDynamicLibrary(&module, cut, size, missing.c_str()), 0x80000002u);
        const size_t length = std::strlen(cut);
        EXPECT_LT(length, static_cast<size_t>(size)) << size;
        EXPECT_EQ(text.compare(0, length, cut), 0) << size;
        EXPECT_NE(static_cast<unsigned char>(text[length]) & 0xC0u, 0x80u) << "split at size " << size;
        EXPECT_GE(length + 2, static_cast<size_t>(size - 1)) << size;
    }
}

TEST(OsLibrary, RefusesBadArgumentsAndInvalidUtf8)
{
    LibraryModule module = nullptr;
    char error[64] = "untouched";
    EXPECT_EQ(loadDynamicLibrary(nullptr, error, sizeof(error), OS_TEST_PLUGIN_PATH), 0x80000001u);
    EXPECT_EQ(loadDynamicLibrary(&module, error, sizeof(error), nullptr), 0x80000001u);
    const char* invalid[] = {
        "/tmp/\xC3\x28.dll",         // broken continuation
        "/tmp/\xC0\xAF.dll",         // overlong "/"
        "/tmp/\xED\xA0\x80.dll",     // surrogate
        "/tmp/\xF4\x90\x80\x80.dll", // above U+10FFFF
        "/tmp/plugin\xE2\x82",       // cut sequence at the end
    };
    for (const char* path : invalid) {
        EXPECT_EQ(loadDynamicLibrary(&module, error, sizeof(error), path), 0x80000001u) << path;
        EXPECT_EQ(module, nullptr);
    }
    EXPECT_STREQ(error, "untouched");
}

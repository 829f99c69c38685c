// CommandLineOptions: the options of the command line ("name=value" arguments) and the program directory taken
// from argv[0]. Written once by parse on the main thread before any other thread exists; read-only afterwards.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "klib_Types.h"
#include "klib_Variant.h"

class CommandLineOptions
{
public:
    CommandLineOptions() = default;

    // The process-wide store, built on first use.
    static CommandLineOptions& getInstance();

    // argc < 2: 0 and nothing stored, not even the program directory. Null argv: 0x80000000.
    // The program directory is argv[0] less its last part (split at "/" and "\"): an absolute path keeps its
    // leading "/", a relative one is made absolute against the working directory, and a bare name gives "".
    // Then argv[1..] in order: each must split at "=" (empty pieces dropped) into exactly a name and a value of
    // at most 1023 characters; the first argument that does not stops parsing with 0x80000000, and what was
    // stored before stays. The first occurrence of a name wins.
    u32 parse(int argc, const char* const* argv);

    // out = the option's text value (kind 2), or empty (kind 5) when it was not given.
    void find(const char* name, KVariant& out) const;
    void getUid(KVariant& out) const { find("uid", out); }
    void getPort(KVariant& out) const { find("port", out); }
    void getWork(KVariant& out) const { find("work", out); }

    const std::string& getProgramDirectory() const { return m_programDirectory; }
    size_t getOptionCount() const { return m_options.size(); }

private:
    std::string m_programDirectory;
    std::map<std::string, KVariant, std::less<>> m_options;
};

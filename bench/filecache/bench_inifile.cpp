// IniFile::load of 5,000 entries against one read() of the file plus map insertion of pre-split pairs.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fcache_IniFile.h"

namespace {

constexpr int kEntries = 5000;

struct Sample
{
    std::string folder;
    std::string path;
    std::vector<std::pair<std::pair<std::string, std::string>, std::string>> pairs;
};

const Sample& sample()
{
    static const Sample* s = [] {
        auto* out = new Sample;
        std::string templ = (std::filesystem::temp_directory_path() / "inibench-XXXXXX").string();
        if (::mkdtemp(templ.data()) == nullptr) {
            std::abort();
        }
        out->folder = templ;
        out->path = templ + "/bench.ini";
        std::string text;
        for (int i = 0; i < kEntries; ++i) {
            const std::string section = "Section" + std::to_string(i / 100);
            if (i % 100 == 0) {
                text += (i == 0 ? "[" : "\n[") + section + "]\n";
            }
            const std::string key = "Key" + std::to_string(i);
            const std::string value = "value-" + std::to_string(i * 7);
            text += key + " = " + value + "\n";
            out->pairs.push_back({{section, key}, value});
        }
        const int fd = ::open(out->path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            std::abort();
        }
        ::close(fd);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(s->folder, ec);
        });
        return out;
    }();
    return *s;
}

void BM_IniLoad5000(benchmark::State& state)
{
    const Sample& s = sample();
    FILECACHE::IniFile ini;
    if (ini.open(s.folder.c_str(), 1, "bench.ini") != 0) {
        state.SkipWithError("open failed");
        return;
    }
    for (auto _ : state) {
        if (ini.load() != 0 || ini.entries().size() != kEntries) {
            state.SkipWithError("load failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_IniLoad5000)->Unit(benchmark::kMicrosecond);

void BM_IniReadAndInsertPairs5000(benchmark::State& state)
{
    const Sample& s = sample();
    std::vector<char> buffer(1 << 20);
    for (auto _ : state) {
        const int fd = ::open(s.path.c_str(), O_RDONLY | O_CLOEXEC);
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        ::close(fd);
        benchmark::DoNotOptimize(n);
        FILECACHE::IniEntries map;
        for (const auto& pair : s.pairs) {
            map.insert_or_assign(pair.first, pair.second);
        }
        benchmark::DoNotOptimize(map.size());
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_IniReadAndInsertPairs5000)->Unit(benchmark::kMicrosecond);

} // namespace

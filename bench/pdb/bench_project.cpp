// Project save and load of one item folder of 50 files x 1 MiB (25 of random bytes, 25 of text) against the
// bare work: compress2 at level 6 of the same bytes plus write() of the result into one file, and uncompress of
// those streams plus write() of each file.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "pdb_ComponentInfo.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_ProjectFile.h"

namespace {

constexpr int kFiles = 50;
constexpr size_t kFileSize = 1u << 20;

struct ProjectFixture
{
    std::string root;
    std::string item;
    std::string project;
    std::vector<std::vector<unsigned char>> files;

    ProjectFixture()
    {
        char pattern[] = "/tmp/pdbprojectbench_XXXXXX";
        const char* made = ::mkdtemp(pattern);
        root = made != nullptr ? made : "/tmp";
        item = root + "/Current";
        ::mkdir(item.c_str(), 0755);
        project = root + "/p.zethiprj";
        std::mt19937 generator(7);
        static const char* const words[] = {"level ",  "speaker ",  "object ", "scene ",  "-12.5 dB\n",
                                            "preset ", "position ", "x=0.25 ", "y=1.75\n"};
        for (int i = 0; i < kFiles; ++i) {
            std::vector<unsigned char> bytes;
            bytes.reserve(kFileSize);
            if (i % 2 == 0) {
                while (bytes.size() < kFileSize) {
                    bytes.push_back(static_cast<unsigned char>(generator()));
                }
            } else {
                while (bytes.size() < kFileSize) {
                    const char* word = words[generator() % 9];
                    while (*word != '\0' && bytes.size() < kFileSize) {
                        bytes.push_back(static_cast<unsigned char>(*word++));
                    }
                }
            }
            char name[32];
            std::snprintf(name, sizeof(name), "/file%02d.dat", i);
            FILE* out = std::fopen((item + name).c_str(), "wb");
            if (out != nullptr) {
                std::fwrite(bytes.data(), 1, bytes.size(), out);
                std::fclose(out);
            }
            files.push_back(std::move(bytes));
        }
    }
    ~ProjectFixture()
    {
        const std::string command = "rm -rf '" + root + "'";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "cannot remove %s\n", root.c_str());
        }
    }
};

ProjectFixture& fixture()
{
    static ProjectFixture instance;
    return instance;
}

void setupInfo()
{
    if (PDB::ParameterDBCollection::findInstance("ProjectInfo") >= 0) {
        return;
    }
    constexpr PDB::ParameterAttribute kept{0, PDB::ParameterAttribute::FLAG_RECALLABLE |
                                                  PDB::ParameterAttribute::FLAG_NONVOLATILE};
    PDB::ComponentInfo info;
    info.initialize("ProjInfo", 1, 1, 1, 1, 1, "", "", nullptr);
    for (const char* address : {"/Info/ProductName", "/Info/ProductSubName", "/Info/Comment", "/Info/OwnerName"}) {
        info.addParameterString(address, 1, 1, "", "", 64, "", kept, "", "", "");
    }
    for (const char* address : {"/Info/TimeStamp/Year", "/Info/TimeStamp/Month", "/Info/TimeStamp/Day",
                                "/Info/TimeStamp/Hour", "/Info/TimeStamp/Minute", "/Info/TimeStamp/Second"}) {
        info.addParameterUInt32(address, 1, 1, "", "", 0, 9999, 0, 0, 1, 1, kept, "", "", "");
    }
    PDB::ComponentInfoRepository::getInstance().registerComponentInfo(info);
    PDB::ParameterDBCollection::createInstance(9, "ProjectInfo", nullptr, 0);
    PDB::ParameterDBCollection::getInstance(9).addComponent(0x501, "ProjInfo", 1, 1, 1, 0);
}

PDB::ProjectFile& project()
{
    static PDB::ProjectFile instance;
    static bool ready = false;
    if (!ready) {
        setupInfo();
        instance.initialize("HUX-NQ", 0, 0, {{"Current", fixture().item}}, nullptr, 0);
        ready = true;
    }
    return instance;
}

void BM_ProjectSave(benchmark::State& state)
{
    PDB::ProjectFile& file = project();
    for (auto _ : state) {
        if (file.save(fixture().project.c_str(), "bench", "bench", nullptr, nullptr) != 0) {
            state.SkipWithError("save failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFiles * kFileSize);
}
BENCHMARK(BM_ProjectSave)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SaveBaselineCompressWrite(benchmark::State& state)
{
    ProjectFixture& data = fixture();
    const std::string out = data.root + "/baseline.bin";
    std::vector<unsigned char> packed(compressBound(kFileSize));
    for (auto _ : state) {
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        for (const auto& bytes : data.files) {
            uLongf size = packed.size();
            compress2(packed.data(), &size, bytes.data(), bytes.size(), 6);
            if (::write(fd, packed.data(), size) != static_cast<ssize_t>(size)) {
                state.SkipWithError("write failed");
            }
        }
        ::close(fd);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFiles * kFileSize);
}
BENCHMARK(BM_SaveBaselineCompressWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ProjectLoad(benchmark::State& state)
{
    PDB::ProjectFile& file = project();
    if (file.save(fixture().project.c_str(), "bench", "bench", nullptr, nullptr) != 0) {
        state.SkipWithError("save failed");
        return;
    }
    for (auto _ : state) {
        if (file.load(fixture().project.c_str(), nullptr, nullptr, nullptr) != 0) {
            state.SkipWithError("load failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFiles * kFileSize);
}
BENCHMARK(BM_ProjectLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadBaselineUncompressWrite(benchmark::State& state)
{
    ProjectFixture& data = fixture();
    std::vector<std::vector<unsigned char>> streams;
    for (const auto& bytes : data.files) {
        std::vector<unsigned char> packed(compressBound(kFileSize));
        uLongf size = packed.size();
        compress2(packed.data(), &size, bytes.data(), bytes.size(), 6);
        packed.resize(size);
        streams.push_back(std::move(packed));
    }
    const std::string dir = data.root + "/baseline";
    ::mkdir(dir.c_str(), 0755);
    std::vector<unsigned char> plain(kFileSize);
    for (auto _ : state) {
        int index = 0;
        for (const auto& stream : streams) {
            uLongf size = plain.size();
            uncompress(plain.data(), &size, stream.data(), stream.size());
            char name[32];
            std::snprintf(name, sizeof(name), "/file%02d.dat", index++);
            const int fd = ::open((dir + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (::write(fd, plain.data(), size) != static_cast<ssize_t>(size)) {
                state.SkipWithError("write failed");
            }
            ::close(fd);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFiles * kFileSize);
}
BENCHMARK(BM_LoadBaselineUncompressWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same with each file made durable the way an atomic replacement does it: a temporary, fsync, rename.
void BM_LoadBaselineUncompressDurable(benchmark::State& state)
{
    ProjectFixture& data = fixture();
    std::vector<std::vector<unsigned char>> streams;
    for (const auto& bytes : data.files) {
        std::vector<unsigned char> packed(compressBound(kFileSize));
        uLongf size = packed.size();
        compress2(packed.data(), &size, bytes.data(), bytes.size(), 6);
        packed.resize(size);
        streams.push_back(std::move(packed));
    }
    const std::string dir = data.root + "/durable";
    ::mkdir(dir.c_str(), 0755);
    std::vector<unsigned char> plain(kFileSize);
    for (auto _ : state) {
        int index = 0;
        for (const auto& stream : streams) {
            uLongf size = plain.size();
            uncompress(plain.data(), &size, stream.data(), stream.size());
            char name[32];
            std::snprintf(name, sizeof(name), "/file%02d.dat", index++);
            const std::string target = dir + name;
            const std::string temp = target + ".tmp";
            const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (::write(fd, plain.data(), size) != static_cast<ssize_t>(size) || ::fsync(fd) != 0) {
                state.SkipWithError("write failed");
            }
            ::close(fd);
            ::rename(temp.c_str(), target.c_str());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFiles * kFileSize);
}
BENCHMARK(BM_LoadBaselineUncompressDurable)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

// Container writes and reads against plain write()/read() of the identical image, and file-block compression
// against zlib's one-shot calls on the same bytes. Run the whole set: the read figures depend on the allocator's
// state, which the earlier benchmarks warm up as a long-running process would.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fcache_MBDF.h"
#include "fcache_MBDFFileBlock.h"

namespace {

using FILECACHE::MBDF;

// Scratch folder of this file's benchmarks, removed at exit.
const std::string& mbdfFolder()
{
    static const std::string* folder = [] {
        std::string templ = (std::filesystem::temp_directory_path() / "mbdfbench-XXXXXX").string();
        if (::mkdtemp(templ.data()) == nullptr) {
            std::abort();
        }
        return new std::string(templ); // never destroyed, so the exit handler can still use it
    }();
    static const bool cleanup = [] {
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(*folder, ec);
        });
        return true;
    }();
    (void)cleanup;
    return *folder;
}

void fillContainer(MBDF& c, u32 count, u32 size)
{
    static const u8 id[16] = {1, 2, 3};
    c.create("Backup", "ZethImage", 1, id, 16);
    std::vector<u8> data(size);
    for (u32 i = 0; i < size; ++i) {
        data[i] = static_cast<u8>(i * 31 + 7);
    }
    const u8 info[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (u32 i = 0; i < count; ++i) {
        auto* block = new FILECACHE::MBDFAbstractBlock();
        block->setTag("#PDB DB");
        block->setInfo(info, sizeof(info));
        block->setData(data.data(), size);
        c.appendBlock(block);
    }
}

std::vector<char> readWhole(const std::string& path)
{
    std::vector<char> bytes(std::filesystem::file_size(path));
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::read(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        std::abort();
    }
    ::close(fd);
    return bytes;
}

// ---- write -----------------------------------------------------------------------------------------------------

void BM_MbdfWriteFile(benchmark::State& state)
{
    MBDF c;
    fillContainer(c, static_cast<u32>(state.range(0)), static_cast<u32>(state.range(1)));
    const std::string path = mbdfFolder() + "/write.mbdf";
    for (auto _ : state) {
        if (c.writeFile(path.c_str(), nullptr, nullptr, false) != 0) {
            state.SkipWithError("writeFile failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.getFileSize()));
}

// One write() of the same image into a temporary, fsync, rename over the target, fsync of the folder.
void BM_MbdfWritePlain(benchmark::State& state)
{
    MBDF c;
    fillContainer(c, static_cast<u32>(state.range(0)), static_cast<u32>(state.range(1)));
    const std::string path = mbdfFolder() + "/plain.mbdf";
    c.writeFile(path.c_str(), nullptr, nullptr, false);
    const std::vector<char> image = readWhole(path);
    const std::string temp = mbdfFolder() + "/.plain.mbdf.tmp";
    for (auto _ : state) {
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (::write(fd, image.data(), image.size()) != static_cast<ssize_t>(image.size()) || ::fsync(fd) != 0 ||
            ::close(fd) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
            state.SkipWithError("plain write failed");
            break;
        }
        const int dir = ::open(mbdfFolder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::fsync(dir);
        ::close(dir);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * image.size()));
}

// ---- read ------------------------------------------------------------------------------------------------------

std::string prepareRead(benchmark::State& state)
{
    MBDF c;
    fillContainer(c, static_cast<u32>(state.range(0)), static_cast<u32>(state.range(1)));
    const std::string path = mbdfFolder() + "/read-" + std::to_string(state.range(0)) + ".mbdf";
    c.writeFile(path.c_str(), nullptr, nullptr, false);
    return path;
}

void BM_MbdfReadFile(benchmark::State& state)
{
    const std::string path = prepareRead(state);
    MBDF c;
    for (auto _ : state) {
        if (c.readFile(path.c_str(), true, nullptr, nullptr, 0) != 0) {
            state.SkipWithError("readFile failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * std::filesystem::file_size(path)));
}

void BM_MbdfReadPlain(benchmark::State& state)
{
    const std::string path = prepareRead(state);
    const size_t size = std::filesystem::file_size(path);
    for (auto _ : state) {
        std::vector<char> bytes(size);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (::read(fd, bytes.data(), size) != static_cast<ssize_t>(size)) {
            state.SkipWithError("read failed");
            break;
        }
        ::close(fd);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

// ---- compression -----------------------------------------------------------------------------------------------

// 4 MiB of mixed content: text runs, repeated records and noise.
const std::string& mixedFile()
{
    static const std::string path = [] {
        std::string bytes;
        unsigned x = 12345;
        while (bytes.size() < (4u << 20)) {
            bytes += "parameter /ZOZ/Object/Pair value " + std::to_string(bytes.size() % 977) + "\n";
            for (int i = 0; i < 64; ++i) {
                x = x * 1103515245u + 12345u;
                bytes.push_back(static_cast<char>(x >> 16));
            }
            bytes.append(48, static_cast<char>(bytes.size() & 0x3F));
        }
        bytes.resize(4u << 20);
        const std::string p = mbdfFolder() + "/mixed.bin";
        const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
            std::abort();
        }
        ::close(fd);
        return p;
    }();
    return path;
}

void BM_MbdfImportLevel6(benchmark::State& state)
{
    const std::string& path = mixedFile();
    const std::string dir = std::filesystem::path(path).parent_path().string();
    FILECACHE::MBDFFileBlock block;
    for (auto _ : state) {
        if (block.importFile("Current", false, dir.c_str(), "mixed.bin", true, 6, 0) != 0) {
            state.SkipWithError("importFile failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (4 << 20)));
}

void BM_MbdfCompress2Level6(benchmark::State& state)
{
    const std::vector<char> bytes = readWhole(mixedFile());
    std::vector<Bytef> out(compressBound(bytes.size()));
    for (auto _ : state) {
        // The same work as the import: read the file, then compress it.
        const std::vector<char> input = readWhole(mixedFile());
        uLongf size = out.size();
        if (compress2(out.data(), &size, reinterpret_cast<const Bytef*>(input.data()), input.size(), 6) != Z_OK) {
            state.SkipWithError("compress2 failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void BM_MbdfExportLevel6(benchmark::State& state)
{
    const std::string& path = mixedFile();
    const std::string dir = std::filesystem::path(path).parent_path().string();
    FILECACHE::MBDFFileBlock block;
    block.importFile("Current", false, dir.c_str(), "mixed.bin", true, 6, 0);
    const std::string out = dir + "/export";
    for (auto _ : state) {
        if (block.exportFile(out.c_str(), nullptr) != 0) {
            state.SkipWithError("exportFile failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (4 << 20)));
}

void BM_MbdfUncompress(benchmark::State& state)
{
    const std::vector<char> bytes = readWhole(mixedFile());
    std::vector<Bytef> packed(compressBound(bytes.size()));
    uLongf packedSize = packed.size();
    compress2(packed.data(), &packedSize, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size(), 6);
    std::vector<Bytef> out(bytes.size());
    const std::string folder = std::filesystem::path(mixedFile()).parent_path().string();
    const std::string target = folder + "/plain-export.bin";
    const std::string temp = folder + "/.plain-export.bin.tmp";
    for (auto _ : state) {
        // The same work as the export: inflate, then replace the target durably (temporary, fsync, rename).
        uLongf size = out.size();
        if (uncompress(out.data(), &size, packed.data(), packedSize) != Z_OK) {
            state.SkipWithError("uncompress failed");
            break;
        }
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (::write(fd, out.data(), size) != static_cast<ssize_t>(size) || ::fsync(fd) != 0 || ::close(fd) != 0 ||
            ::rename(temp.c_str(), target.c_str()) != 0) {
            state.SkipWithError("write failed");
            break;
        }
        const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::fsync(dir);
        ::close(dir);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

} // namespace

BENCHMARK(BM_MbdfWriteFile)->Args({1000, 4096})->Args({10, 1 << 20})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MbdfWritePlain)->Args({1000, 4096})->Args({10, 1 << 20})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MbdfReadFile)->Args({1000, 4096})->Args({10, 1 << 20})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MbdfReadPlain)->Args({1000, 4096})->Args({10, 1 << 20})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MbdfImportLevel6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MbdfCompress2Level6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MbdfExportLevel6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MbdfUncompress)->Unit(benchmark::kMillisecond);

// Replays a fuzz target's seed corpus and a fixed-seed mutation sweep under the sanitizers,
// so every build that is not the libFuzzer build still runs each target.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::vector<uint8_t>> loadCorpus()
{
    std::vector<std::vector<uint8_t>> seeds;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(VD_FUZZ_CORPUS, ec)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        std::ifstream in(entry.path(), std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return seeds;
}

} // namespace

TEST(FuzzReplay, SeedCorpus)
{
    const auto seeds = loadCorpus();
    ASSERT_FALSE(seeds.empty()) << "no seeds in " << VD_FUZZ_CORPUS;
    for (const auto& seed : seeds) {
        LLVMFuzzerTestOneInput(seed.data(), seed.size());
    }
}

TEST(FuzzReplay, MutationSweep)
{
    auto seeds = loadCorpus();
    seeds.emplace_back();
    std::mt19937 rng(20261207u);
    constexpr int kRounds = 4000;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<uint8_t> input = seeds[rng() % seeds.size()];
        const int edits = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < edits; ++e) {
            switch (rng() % 5) {
            case 0: // flip a bit
                if (!input.empty()) {
                    input[rng() % input.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
                }
                break;
            case 1: // insert a random byte
                input.insert(input.begin() + static_cast<long>(input.empty() ? 0 : rng() % (input.size() + 1)),
                             static_cast<uint8_t>(rng()));
                break;
            case 2: // delete a byte
                if (!input.empty()) {
                    input.erase(input.begin() + static_cast<long>(rng() % input.size()));
                }
                break;
            case 3: // overwrite with an interesting byte
                if (!input.empty()) {
                    static const uint8_t interesting[] = {0, 1, 0x7F, 0x80, 0xFF, '0', '9', 'x', '-', '.', 'e', '='};
                    input[rng() % input.size()] = interesting[rng() % sizeof(interesting)];
                }
                break;
            default: // truncate
                if (!input.empty()) {
                    input.resize(rng() % input.size());
                }
                break;
            }
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    SUCCEED();
}

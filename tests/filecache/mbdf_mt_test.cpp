// Ids and containers made on many threads at once.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "fcache_MBDFFileBlock.h"
#include "mbdf_TestUtil.h"

using namespace FILECACHE;
using namespace mbdftest;

TEST(MbdfThreads, IdsAreUniqueAndContainersIndependent)
{
    fswtest::TempDir dir;
    constexpr int kThreads = 8;
    constexpr int kIds = 300;
    std::vector<std::vector<Bytes>> ids(kThreads);
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            static MBDFBlockFactory<MBDFAbstractBlock> factory;
            const std::string tag = "#MT" + std::to_string(t);
            MBDF::registerBlockFactory(tag.c_str(), &factory);
            MBDFFileBlock::registerFactory();
            for (int i = 0; i < kIds; ++i) {
                u8 id[16];
                failures[t] += makeUniqueFileId(id, 16) != 0;
                ids[t].emplace_back(id, id + 16);
                if (i % 30 != 0) {
                    continue;
                }
                const std::string path = dir / (tag + "_" + std::to_string(i));
                MBDF c;
                failures[t] += c.create("Backup", "ZethImage", static_cast<u32>(i), id, 16) != 0;
                auto* block = new MBDFAbstractBlock();
                block->setTag(tag.c_str());
                const Bytes data = seq(100 + i, static_cast<u8>(t));
                block->setData(data.data(), static_cast<u32>(data.size()));
                c.appendBlock(block);
                failures[t] += c.write(path.c_str(), nullptr, nullptr, false) != 0;
                MBDF back;
                failures[t] += back.read(path.c_str(), true, nullptr, nullptr, 0) != 0;
                const MBDFAbstractBlock* read = back.getBlock(back.beginBlocks());
                failures[t] += read->getTag() != tag || read->getDataSize(false) != data.size() ||
                               Bytes(back.getFileId(), back.getFileId() + 16) != Bytes(id, id + 16);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::set<Bytes> all;
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(failures[t], 0) << t;
        all.insert(ids[t].begin(), ids[t].end());
    }
    EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kIds));
}

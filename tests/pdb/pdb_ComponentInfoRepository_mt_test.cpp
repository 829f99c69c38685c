// Look-ups of the description repository on several threads while another thread keeps registering.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "pdb_ComponentInfoRepository.h"

using namespace PDB;

TEST(ComponentInfoRepositoryMt, LookupsRaceWithRegistration)
{
    constexpr u32 TYPES = 300;
    constexpr int READERS = 8;
    ComponentInfoRepository& repository = ComponentInfoRepository::getInstance();
    std::atomic<bool> done{false};
    std::atomic<u32> wrong{0};
    std::atomic<u32> seen{0};

    std::vector<std::thread> readers;
    for (int r = 0; r < READERS; ++r) {
        readers.emplace_back([&, r] {
            u32 i = static_cast<u32>(r);
            while (!done.load(std::memory_order_acquire)) {
                const std::string name = "MtType" + std::to_string(i % TYPES);
                const ComponentInfo& info = repository.findComponentInfo(name.c_str(), 2);
                if (info.hasParameters()) {
                    // A found description is complete: its block and the index agree with the name.
                    const std::string expected = "/" + name;
                    if (info.getParameterInfo(0).getAddress() != expected ||
                        info.findParameterIndex(expected.c_str()) != 0 || info.getName() != name) {
                        wrong.fetch_add(1);
                    }
                    seen.fetch_add(1, std::memory_order_relaxed);
                } else if (&info != &getEmptyComponentInfo()) {
                    wrong.fetch_add(1);
                }
                i += 7;
            }
        });
    }

    for (u32 t = 0; t < TYPES; ++t) {
        const std::string name = "MtType" + std::to_string(t);
        ComponentInfo info;
        ASSERT_EQ(info.initialize(name.c_str(), 2, 1, 1, 2, 1, "", "", nullptr), 0);
        const std::string address = "/" + name;
        ASSERT_EQ(
            info.addParameterUInt16(address.c_str(), 1, 1, "", "", 0, 10, 1, 1, 1, 1, ParameterAttribute(), "", "", ""),
            0);
        ASSERT_EQ(repository.registerComponentInfo(info), 0);
        if (t % 50 == 0) {
            std::this_thread::yield();
        }
    }
    // Let the readers find the late registrations too.
    while (seen.load() < 1000) {
        std::this_thread::yield();
    }
    done.store(true, std::memory_order_release);
    for (auto& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(wrong.load(), 0u);
    for (u32 t = 0; t < TYPES; ++t) {
        EXPECT_TRUE(repository.findComponentInfo(("MtType" + std::to_string(t)).c_str(), 2).hasParameters()) << t;
    }
}

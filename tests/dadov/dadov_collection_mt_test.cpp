#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dadov_AudioComponentCollection.h"
#include "dadov_AudioComponentDLLRepository.h"
#include "dadov_AudioConfigDB.h"
#include "dadov_TestSupport.h"
#include "logic_LogicComponentCollection.h"
#include "logic_TestSupport.h"
#include "os_Library.h"

using namespace DADOV;

namespace {

constexpr u32 UIDS = 48;
constexpr u32 READERS = 4;

// A registered thread: its callback only raises the flag; the thread updates when it sees it.
struct Reader : IAudioComponentCallback
{
    void onChangeAudioComponents() override { m_flag.store(true); }
    std::atomic<bool> m_flag{false};
};

int stressSeconds()
{
    const char* text = std::getenv("DADOV_STRESS_SECONDS");
    const int seconds = text != nullptr ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 3;
}

} // namespace

// One device thread adds and removes random components and connections and finally finalizes, while four
// threads update on their flag and read their lists, one of them pausing and one ending and beginning again. The
// sanitizers see no race and no use after free; every component is destroyed exactly once and the plug-in is
// unloaded.
TEST(CollectionStress, DeviceAndReadersAgreeOnEveryComponent)
{
    logictest::startOsLayer();
    dadovtest::createDatabases(11);
    (void)LogicCtrl::LogicComponentCollection::getInstance().initialize();
    (void)AudioConfigDB::getInstance().initialize();
    dadovtest::PluginFolder folder;
    folder.add("TestMixer_2.dll");
    const std::string pluginPath = folder.path() + "TestMixer_2.dll";
    // A reference of the test's own keeps the probe readable after the collection unloads the plug-in.
    ossupport::LibraryModule own = nullptr;
    ASSERT_EQ(ossupport::loadDynamicLibrary(&own, nullptr, 0, pluginPath.c_str()), 0u);
    void* symbol = nullptr;
    ASSERT_EQ(ossupport::getDynamicLibrarySymbol(&symbol, own, "testPluginProbe"), 0u);
    TestPluginProbe& probe = *reinterpret_cast<TestPluginProbeFunction>(symbol)();

    AudioComponentCollection& collection = AudioComponentCollection::getInstance();
    ASSERT_EQ(collection.initialize(folder.path().c_str(), AudioComponentCollection::DEFAULT_MAX_THREADS), 0);
    probe.inPorts = 3;
    probe.outPorts = 2;

    std::atomic<bool> stopReaders{false};
    std::atomic<bool> finalizing{false};
    std::atomic<int> faults{0};
    std::atomic<u32> updates{0};
    std::vector<std::thread> readers;
    for (u32 index = 0; index < READERS; ++index) {
        readers.emplace_back([&, index] {
            Reader self;
            if (collection.beginByThread(&self) != DADOV_OK) {
                ++faults;
                return;
            }
            std::minstd_rand random(index + 1);
            std::vector<AudioConnection> connections;
            for (u32 round = 0; !stopReaders.load(); ++round) {
                // Reader 1 pauses now and then, so components wait for it in the pending lists.
                const bool paused = index == 1 && round % 512 < 128;
                if (!paused && self.m_flag.exchange(false)) {
                    (void)collection.updateByThread();
                    ++updates;
                }
                const AudioComponentCollection::ComponentList& list = collection.getComponentList();
                for (AudioComponent* component : list) {
                    if (component->getUniqID() == 0 || component->getUniqID() > UIDS ||
                        collection.findComponent(component->getUniqID()) != component) {
                        ++faults;
                    }
                }
                (void)collection.findComponent(static_cast<u32>(random() % UIDS) + 1);
                if (collection.getConnections(connections) == DADOV_OK) {
                    for (const AudioConnection& c : connections) {
                        if (c.m_fromUniqID == 0 || c.m_fromUniqID > UIDS || c.m_toUniqID == 0 || c.m_toUniqID > UIDS ||
                            c.m_fromPortNo >= 2 || c.m_toPortNo >= 3) {
                            ++faults;
                        }
                    }
                }
                if (index == 0 && round % 256 == 255) {
                    (void)collection.endByThread();
                    if (!collection.getComponentList().empty()) {
                        ++faults;
                    }
                    // Once finalize has returned, beginning again fails.
                    if (collection.beginByThread(&self) != DADOV_OK && !finalizing.load()) {
                        ++faults;
                    }
                }
                std::this_thread::yield();
            }
            (void)collection.endByThread();
        });
    }

    std::atomic<u32> added{0};
    auto device = std::async(std::launch::async, [&] {
        Reader self;
        if (collection.beginByThread(&self) != DADOV_OK) {
            ++faults;
        }
        std::minstd_rand random(99);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(stressSeconds());
        while (std::chrono::steady_clock::now() < until) {
            const u32 uid = static_cast<u32>(random() % UIDS) + 1;
            const u32 other = static_cast<u32>(random() % UIDS) + 1;
            switch (random() % 8) {
            case 0:
            case 1:
            case 2:
                if (collection.addComponent("TestMixer", 2, uid, 2, 2) == DADOV_OK) {
                    ++added;
                }
                break;
            case 3:
            case 4:
                (void)collection.reqRemoveComponent(uid);
                break;
            case 5:
                (void)collection.addConnection(uid, static_cast<u32>(random() % 3), other,
                                               static_cast<u32>(random() % 4));
                break;
            case 6:
                (void)collection.removeConnection(uid, 0, other, 0);
                break;
            default:
                if (random() % 64 == 0) {
                    (void)collection.reqRemoveAllComponents();
                }
                break;
            }
            std::this_thread::yield();
        }
        (void)collection.endByThread();
        // Finalize while the readers still run: it waits for their updates.
        finalizing.store(true);
        return collection.finalize();
    });

    if (device.wait_for(std::chrono::seconds(stressSeconds() + 60)) != std::future_status::ready) {
        ADD_FAILURE() << "finalize did not return";
        std::abort();
    }
    EXPECT_EQ(device.get(), DADOV_OK);
    stopReaders.store(true);
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(faults.load(), 0);
    EXPECT_GT(added.load(), 0u);
    EXPECT_GT(updates.load(), 0u);
    EXPECT_EQ(probe.liveObjects, 0); // every instance, and the repository's own object, released exactly once
    EXPECT_TRUE(AudioComponentDLLRepository::getInstance().getTypeKeys().empty());
    ASSERT_EQ(ossupport::freeDynamicLibrary(own), 0u);
    EXPECT_EQ(dlopen(pluginPath.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

// Cancelling a save or a load from another thread while it runs: the operation answers 2 and nothing changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "project_TestUtil.h"

namespace {

using namespace project_test;

// A second thread that sets the cancel flag when asked and reports back once it is set.
class Canceller
{
public:
    Canceller() : m_thread([this] { run(); }) {}
    ~Canceller()
    {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    // Asks the thread to set the flag and waits until it has.
    void cancelNow()
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_requested = true;
        m_wake.notify_all();
        m_wake.wait(lock, [this] { return m_done; });
    }
    const bool* flag() const { return &m_flag; }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_wake.wait(lock, [this] { return m_requested || m_stop; });
        if (m_requested) {
            __atomic_store_n(&m_flag, true, __ATOMIC_RELEASE);
            m_done = true;
            m_wake.notify_all();
        }
    }

    bool m_flag = false;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_requested = false;
    bool m_done = false;
    bool m_stop = false;
    std::thread m_thread;
};

class ProjectCancelTest : public ::testing::TestWithParam<u32>
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_scratch.path().empty());
        setupProjectInfo();
        m_current = m_scratch / "Current";
        m_list = m_scratch / "CurrentList";
        makeDir(m_current);
        makeDir(m_list);
        for (u32 i = 0; i < 4; ++i) {
            writeBytes(m_current + "/f" + std::to_string(i), randomBytes(20000 + i, i));
            writeBytes(m_list + "/g" + std::to_string(i), randomBytes(100 + i, 50 + i));
        }
        ASSERT_EQ(m_project.initialize("HUX-NQ", 0, 0, {{"Current", m_current}, {"CurrentList", m_list}}, nullptr, 1),
                  0);
        m_path = m_scratch / "p.zethiprj";
        ASSERT_EQ(m_project.save(m_path.c_str(), "saved", "", nullptr, nullptr), 0);
        m_saved = readBytes(m_path);
    }

    ScratchDir m_scratch;
    std::string m_current;
    std::string m_list;
    std::string m_path;
    std::vector<u8> m_saved;
    ProjectFile m_project;
};

TEST_P(ProjectCancelTest, ACancelledLoadChangesNothing)
{
    // Extraction reports the file blocks only: 1 to 8.
    const u32 k = std::min(std::max(GetParam(), 1u), 8u);
    writeText(m_current + "/f0", "edited");
    writeText(m_list + "/added", "added");
    ParameterAddress comment = m_project.getInfoAddress(ProjectFile::INFO_COMMENT);
    m_project.getInformationDB().setValueString(comment, 0, 0, "unsaved", 0xFF);
    // A copy of the saved file is loaded; the current name stays the original's.
    const std::string copyPath = m_scratch / "copy.zethiprj";
    writeBytes(copyPath, m_saved);
    const TreeImage before = imageTree(m_scratch.path());

    Canceller canceller;
    RecordingObserver observer;
    observer.onStep = [&](const RecordingObserver::Progress& progress) {
        if (progress.text == "Extracting files..." && progress.step == k) {
            canceller.cancelNow();
        }
    };
    EXPECT_EQ(m_project.load(copyPath.c_str(), canceller.flag(), &observer, nullptr), 2);
    EXPECT_EQ(imageTree(m_scratch.path()), before);
    EXPECT_EQ(infoText(m_project, ProjectFile::INFO_COMMENT), "unsaved");
    EXPECT_EQ(m_project.getCurrentFileName(), m_path);
    ASSERT_FALSE(observer.progress.empty());
    EXPECT_EQ(observer.progress.back().text, "Aborted.");
    EXPECT_TRUE(observer.progress.back().last);
    EXPECT_FALSE(observer.hasText("Finshed."));
}

TEST_P(ProjectCancelTest, ACancelledSaveChangesNothing)
{
    const u32 k = GetParam();
    writeText(m_current + "/f1", "edited");
    const std::string otherPath = m_scratch / "other.zethiprj";
    const TreeImage before = imageTree(m_scratch.path());

    Canceller canceller;
    RecordingObserver observer;
    observer.onStep = [&](const RecordingObserver::Progress& progress) {
        if (progress.operation == 1 && progress.step == k && progress.text != "Aborted.") {
            canceller.cancelNow();
        }
    };
    // Over the current file, and under a new name with replace-previous set.
    EXPECT_EQ(m_project.save(m_path.c_str(), "cancelled", "x", canceller.flag(), &observer), 2);
    EXPECT_EQ(readBytes(m_path), m_saved);
    Canceller second;
    RecordingObserver secondObserver;
    secondObserver.onStep = [&](const RecordingObserver::Progress& progress) {
        if (progress.operation == 1 && progress.step == k && progress.text != "Aborted.") {
            second.cancelNow();
        }
    };
    EXPECT_EQ(m_project.save(otherPath.c_str(), "cancelled", "x", second.flag(), &secondObserver), 2);
    EXPECT_EQ(imageTree(m_scratch.path()), before); // no temporary, no new file, the previous one kept
    EXPECT_EQ(infoText(m_project, ProjectFile::INFO_COMMENT), "saved");
    EXPECT_EQ(m_project.getCurrentFileName(), m_path);
}

// Block 0 is the information block; 1.. are files, 9 is the last one.
INSTANTIATE_TEST_SUITE_P(AtBlock, ProjectCancelTest, ::testing::Values(0u, 1u, 4u, 9u));

TEST(ProjectCancel, AFlagSetBeforehandStopsAtOnce)
{
    ScratchDir scratch;
    setupProjectInfo();
    const std::string dir = scratch / "Current";
    makeDir(dir);
    writeText(dir + "/a", "a");
    ProjectFile project;
    ASSERT_EQ(project.initialize("HUX-NQ", 0, 0, {{"Current", dir}}, nullptr, 0), 0);
    const std::string path = scratch / "p.zethiprj";
    bool cancel = true;
    EXPECT_EQ(project.save(path.c_str(), "", "", &cancel, nullptr), 2);
    EXPECT_FALSE(exists(path));
    cancel = false;
    ASSERT_EQ(project.save(path.c_str(), "", "", &cancel, nullptr), 0);
    writeText(dir + "/a", "changed");
    cancel = true;
    EXPECT_EQ(project.load(path.c_str(), &cancel, nullptr, nullptr), 2);
    EXPECT_EQ(readBytes(dir + "/a").size(), 7u);
}

} // namespace

#include "appcommon_DeviceFixture.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "os_TestHooks.h"
#include "pdb_ComponentInfoRepositoryTestHooks.h"
#include "pdb_ParameterDBCollection.h"
#include "pyrite_MessageFields.h"
#include "pyrite_ProductInfo.h"
#include "tms_TestSupport.h"

namespace appcommontest {

namespace fs = std::filesystem;

void Journal::add(const std::string& entry)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_entries.push_back(entry);
}

std::vector<std::string> Journal::entries()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_entries;
}

void Journal::clear()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_entries.clear();
}

void ProbeRunner::run(TMS::AbstractThread& thread, const std::function<void()>& work)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_work = work;
        m_done = false;
    }
    // A thread takes user messages once it is past its start-up.
    ASSERT_TRUE(tmstest::waitUntil([&] { return thread.getStatus() >= TMS::STATUS_STOP; }, WAIT_MS));
    ASSERT_EQ(thread.sendMessageWithWaiting(command("Probe")), 0u);
    std::unique_lock<std::mutex> guard(m_lock);
    m_ran.wait(guard, [this] { return m_done; });
}

bool ProbeRunner::serve(const TMS::AbstractMessage& message)
{
    const char* name = message.getValue("CommandName").getString();
    if (name == nullptr || std::strcmp(name, "Probe") != 0) {
        return false;
    }
    std::function<void()> work;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        work = m_work;
    }
    work();
    std::lock_guard<std::mutex> guard(m_lock);
    m_done = true;
    m_ran.notify_all();
    return true;
}

u32 Device::onReceiveMessage(const TMS::AbstractMessage& message)
{
    return m_probes.serve(message) ? 0 : PyriteDeviceControlThread::onReceiveMessage(message);
}

u32 Device::onChangeSystemInfo()
{
    KVariant state;
    getSystemInfo(state, "ZOVORaState", 0);
    if (state.getUInt() != m_configState) {
        m_configState = state.getUInt();
        m_journal.add("ZOVORaState " + std::to_string(m_configState));
    }
    return PyriteDeviceControlThread::onChangeSystemInfo();
}

u32 Device::onTimer(u32 timerId, u32 count)
{
    const u32 result = PyriteDeviceControlThread::onTimer(timerId, count);
    ++m_timerPasses;
    return result;
}

void Device::setState(u32 state)
{
    m_journal.add("state " + std::to_string(state));
    PyriteDeviceControlThread::setState(state);
}

std::vector<std::string> Device::logLines()
{
    std::vector<std::string> lines;
    char line[TMS::ThreadLogger::LINE_SIZE];
    for (u32 i = 0; getLogger().getLine(i, line, sizeof(line)) == 0; ++i) {
        lines.emplace_back(line);
    }
    return lines;
}

bool Device::logged(const std::string& text)
{
    const std::vector<std::string> lines = logLines();
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

StandIn::StandIn()
{
    m_messageHook = [this](const TMS::AbstractMessage& message) {
        if (!m_probes.serve(message)) {
            std::lock_guard<std::mutex> guard(m_keptLock);
            m_messages.push_back(message);
        }
    };
    m_systemInfoHook = [this] {
        for (const char* item : {"ZOVORaState", "PDBState"}) {
            if (isSystemInfoDirty(item, 0, true)) {
                KVariant value;
                getSystemInfo(value, item, 0);
                std::lock_guard<std::mutex> guard(m_keptLock);
                m_states.push_back(std::string(item) + " " + std::to_string(value.getUInt()));
            }
        }
    };
}

std::optional<TMS::AbstractMessage> StandIn::take()
{
    std::optional<TMS::AbstractMessage> taken;
    tmstest::waitUntil(
        [&] {
            std::lock_guard<std::mutex> guard(m_keptLock);
            if (m_messages.empty()) {
                return false;
            }
            taken = m_messages.front();
            m_messages.erase(m_messages.begin());
            return true;
        },
        WAIT_MS);
    return taken;
}

size_t StandIn::pending()
{
    std::lock_guard<std::mutex> guard(m_keptLock);
    return m_messages.size();
}

std::vector<std::string> StandIn::states()
{
    std::lock_guard<std::mutex> guard(m_keptLock);
    return m_states;
}

TMS::AbstractMessage command(const char* name)
{
    return PYRITE::makeCommand(name);
}

TMS::AbstractMessage command(const char* name, const std::vector<std::pair<const char*, const char*>>& texts)
{
    TMS::AbstractMessage message = command(name);
    for (const auto& [field, value] : texts) {
        message.setString(field, value);
    }
    return message;
}

std::string text(const TMS::AbstractMessage& message, const char* field)
{
    const char* value = message.getValue(field).getString();
    return value != nullptr ? value : "<none>";
}

u32 number(const TMS::AbstractMessage& message, const char* field)
{
    return message.getValue(field).getUInt();
}

PDB::IParameterDB& database(u32 id)
{
    return PDB::ParameterDBCollection::getInstance(id);
}

i32 write(u32 db, u32 uid, const char* address, const KVariant& value, u32 x)
{
    PDB::ParameterAddress resolved = database(db).resolveAddress(uid, address);
    return database(db).setValue(resolved, x, 0, value, 0xFF);
}

KVariant read(u32 db, u32 uid, const char* address)
{
    PDB::ParameterAddress resolved = database(db).resolveAddress(uid, address);
    KVariant value;
    database(db).getValue(value, resolved, 0, 0, nullptr);
    return value;
}

void DeviceControlRig::TearDown()
{
    m_root.release();
    ossupport::testhooks::setMillisecondsOffset(0);
}

void DeviceControlRig::setApplicationType(const char* type)
{
    const std::string settings = m_folder / "settings";
    fs::create_directories(settings);
    ASSERT_TRUE(fswtest::writeFile(settings + "/SystemSetting.ini",
                                   std::string("[ProductInfo]\nApplicationType=") + type + "\n"));
    PyriteProductInfo::getInstance().load(settings.c_str());
    PyriteProductInfo::getInstance().setSystemDataPath(m_folder.path());
    PyriteProductInfo::getInstance().setStoragePath(m_storage);
}

void DeviceControlRig::start(const std::set<std::string>& leftOut, const std::string& brokenFile,
                             const char* applicationType)
{
    fs::create_directories(m_folder / "Descriptor");
    fs::create_directories(m_folder / "Component");
    for (const auto& entry : fs::directory_iterator(VD_LAYOUT_DESCRIPTORS)) {
        const std::string name = entry.path().filename().string();
        if (leftOut.count(name) == 0) {
            fs::copy_file(entry.path(), m_folder / ("Descriptor/" + name));
        }
    }
    if (!brokenFile.empty()) {
        // A description of another name: the component of its row cannot be added.
        fswtest::writeFile(m_folder / ("Descriptor/" + brokenFile),
                           R"({"component": {"name": "Broken", "majorVer": 1},
                               "parameters": [{"strAddress": "/X", "type": "UINT32", "max": "9"}]})");
    }
    fs::copy_file(VD_TESTGAIN_PLUGIN, m_folder / "Component/testgain_1.dll");
    // The descriptions of an earlier test in this process would stand in for those left out or broken here.
    PDB::testhooks::clearComponentInfos();
    if (applicationType != nullptr) {
        setApplicationType(applicationType);
    }
    PyriteProductInfo::getInstance().setSystemDataPath(m_folder.path());
    PyriteProductInfo::getInstance().setStoragePath(m_storage);

    // The stand-ins share the root's stage 0: the root starts them only once it runs itself, and before they run it
    // starts nothing, so every thread is its child before any starts.
    ASSERT_EQ(tmstest::initializeThread(m_root, "Root"), 0u);
    ASSERT_EQ(registerSystemInfoItems(&m_root), 0u);
    for (auto [thread, name] : {std::pair<StandIn*, const char*>{&m_vdp, "VDProtocol"},
                                {&m_sync, "Sync"},
                                {&m_bridge, "GUIBridge"},
                                {&m_osc, "OSCServer"}}) {
        ASSERT_EQ(tmstest::initializeThread(*thread, name, 0, 0), 0u);
        ASSERT_EQ(m_root.addChild(thread), 0u);
    }
    ASSERT_EQ(tmstest::initializeThread(m_dev, "DeviceControl", 100, 2), 0u);
    ASSERT_EQ(m_root.addChild(&m_dev), 0u);
    ASSERT_EQ(m_root.start(TMS::AbstractMessage::emptyFields()), 0u);
    // Start-up writes every memory twice with a sync each: slow on a busy disk.
    ASSERT_TRUE(
        tmstest::waitUntil([&] { return m_dev.getState() == PYRITE::PyriteDeviceControlThread::STATE_IDLE; }, WAIT_MS));
}

std::optional<TMS::AbstractMessage> DeviceControlRig::ask(const TMS::AbstractMessage& message, StandIn& to)
{
    EXPECT_EQ(message.sendTo("DeviceControl"), 0u);
    return to.take();
}

void DeviceControlRig::post(const TMS::AbstractMessage& message)
{
    ASSERT_EQ(message.sendTo("DeviceControl"), 0u);
}

void DeviceControlRig::serve(const TMS::AbstractMessage& message)
{
    post(message);
    m_dev.run([](Device&) {});
}

} // namespace appcommontest

#include "vdp_ExecutorRig.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include "pdb_ComponentInfoParserJSON.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_SimpleReadWriteMutex.h"
#include "pyrite_DeviceControlThread.h"
#include "pyrite_ProductInfo.h"
#include "tms_TestSupport.h"
#include "vdp_PacketConvertor.h"

namespace vdptest {

i32 CaptureSocket::send(const u8* data, u32 length, u32* taken)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_bytes.append(reinterpret_cast<const char*>(data), length);
    *taken = length;
    return 0;
}

std::string CaptureSocket::take()
{
    std::lock_guard<std::mutex> guard(m_lock);
    std::string bytes;
    bytes.swap(m_bytes);
    return bytes;
}

CaptureUnit::CaptureUnit()
{
    EXPECT_EQ(initialize("capture", VCOM::VComSocketAddress(), nullptr, nullptr), 0);
}

VCOM::VComTcpClientSocket* CaptureUnit::createSocket()
{
    return m_socket = new CaptureSocket();
}

std::vector<std::string> CaptureUnit::takeLines()
{
    while (flushSendRing() != 0) {
    }
    m_partial += m_socket->take();
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t feed = m_partial.find('\n'); feed != std::string::npos; feed = m_partial.find('\n', start)) {
        lines.push_back(m_partial.substr(start, feed - start));
        start = feed + 1;
    }
    m_partial.erase(0, start);
    return lines;
}

HostThread::HostThread() : tmstest::RecordingThread(5)
{
    m_messageHook = [this](const TMS::AbstractMessage& message) {
        const char* command = message.getValue("CommandName").getString();
        if (command != nullptr && std::string(command) == "Run") {
            std::function<void()> work;
            {
                std::lock_guard<std::mutex> guard(m_workLock);
                work = std::move(m_work.front());
                m_work.pop_front();
            }
            work();
            return;
        }
        ++m_answers;
        m_answerHook(message);
        if (m_executor == nullptr) {
            return;
        }
        if (m_answerFilter && !m_answerFilter(message)) {
            m_executor->releasePostSlot(message);
            return;
        }
        m_executor->onAnswer(message);
    };
}

HostThread::~HostThread()
{
    if (getTaskId() != TMS::NO_ID) {
        release();
    }
}

void HostThread::run(std::function<void()> work)
{
    std::promise<void> done;
    {
        std::lock_guard<std::mutex> guard(m_workLock);
        m_work.push_back([&] {
            work();
            done.set_value();
        });
    }
    ASSERT_EQ(sendMessageWithWaiting(tmstest::userMessage("Run")), 0u);
    done.get_future().wait();
}

ExecutorRig::ExecutorRig(TMS::AbstractThread* deviceControl)
{
    TMS::AbstractThread* device = deviceControl != nullptr ? deviceControl : &m_deviceControl;
    m_executor = std::make_unique<VDevice::VDProtocolExecutor>(IDENTITY, &m_unit);
    m_host.m_executor = m_executor.get();
    EXPECT_EQ(tmstest::initializeThread(m_system, "System"), 0u);
    EXPECT_EQ(m_system.setupSystemInfo(TMS::SYSTEM_INFO_DEFINITIONS, TMS::SYSTEM_INFO_DEFINITION_COUNT), 0u);
    // The device-control thread runs its backup timer on the repository's tick.
    EXPECT_EQ(tmstest::initializeThread(*device, "DeviceControl", deviceControl != nullptr ? 100 : 0, 2), 0u);
    EXPECT_EQ(tmstest::initializeThread(m_host, "VDProtocol", 0, 3), 0u);
    EXPECT_EQ(tmstest::initializeThread(m_sync, "Sync", 0, 4), 0u);
    EXPECT_EQ(tmstest::initializeThread(m_compiler, "Compiler", 0, 5), 0u);
    for (TMS::AbstractThread* child :
         std::initializer_list<TMS::AbstractThread*>{device, &m_host, &m_sync, &m_compiler}) {
        EXPECT_EQ(m_system.addChild(child), 0u);
    }
    EXPECT_EQ(m_system.start(TMS::AbstractMessage::emptyFields()), 0u);
    EXPECT_TRUE(
        tmstest::waitUntil([&] { return m_system.getChildState() == TMS::SystemThread::CHILDREN_STARTED; }, WAIT_MS));
}

ExecutorRig::~ExecutorRig()
{
    m_system.release();
}

void ExecutorRig::dispatch(const std::string& line)
{
    VDProtocol::PacketContainer packet;
    ASSERT_EQ(VDProtocol::decodePacket(line, packet), 0) << line;
    m_host.run([&] { m_executor->dispatchPacket(packet); });
}

void ExecutorRig::answer(const TMS::AbstractMessage& message)
{
    ASSERT_EQ(m_host.sendMessageWithWaiting(message), 0u);
    m_host.run([] {});
}

std::vector<std::string> ExecutorRig::lines()
{
    std::vector<std::string> taken;
    m_host.run([&] { taken = m_unit.takeLines(); });
    return taken;
}

void ExecutorRig::setEditorState(u32 value)
{
    m_sync.setSystemInfo("EditorState", 0, KVariant(value));
    ASSERT_EQ(m_sync.commitSystemInfo(), 0u);
    ASSERT_TRUE(tmstest::waitUntil(
        [&] {
            KVariant seen;
            m_sync.getSystemInfo(seen, "EditorState", 0);
            return seen.getUInt() == value;
        },
        WAIT_MS));
}

ShippedDatabases::ShippedDatabases(std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        add(name);
    }
}

void ShippedDatabases::add(const char* name)
{
    static PDB::SimpleReadWriteMutex mutex;
    PyriteProductInfo& product = PyriteProductInfo::getInstance();
    const PdbInstanceTable* row = nullptr;
    for (u32 i = 0; i < product.getPdbInstanceCount(); ++i) {
        if (std::string(product.getPdbInstance(i)->m_name) == name) {
            row = product.getPdbInstance(i);
        }
    }
    ASSERT_NE(row, nullptr) << name;
    std::ifstream file(std::string(VD_LAYOUT_DIR) + "/Descriptor/" + name + "_1.json");
    std::stringstream text;
    text << file.rdbuf();
    ASSERT_FALSE(text.str().empty()) << name;
    const PDB::ComponentInfo info = PDB::ComponentInfoParserJSON::createFromJson(text.str().c_str());
    PDB::ComponentInfoRepository::getInstance().registerComponentInfo(info);
    ASSERT_GE(PDB::ParameterDBCollection::createInstance(row->m_id, name, &mutex, 0), 0) << name;
    m_ids.push_back(row->m_id);
    ASSERT_GE(PDB::ParameterDBCollection::getInstance(row->m_id).addComponent(0, name, 1, 1, 1, 0), 0) << name;
}

ShippedDatabases::~ShippedDatabases()
{
    for (u32 id : m_ids) {
        PDB::ParameterDBCollection::deleteInstance(id);
    }
}

PDB::IParameterDB& ShippedDatabases::get(const char* name) const
{
    return PDB::ParameterDBCollection::getInstance(static_cast<u32>(PDB::ParameterDBCollection::findInstance(name)));
}

void layOutDeviceControl(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::create_directories(folder + "/Component", error);
    fs::copy(std::string(VD_LAYOUT_DIR) + "/Descriptor", folder + "/Descriptor", error);
    EXPECT_FALSE(error) << error.message();
    fs::copy_file(std::string(APPEDITOR_TEST_PLUGIN_DIR) + "/testgain_1.dll", folder + "/Component/testgain_1.dll",
                  error);
    EXPECT_FALSE(error) << error.message();
    PyriteProductInfo::getInstance().setSystemDataPath(folder);
    PyriteProductInfo::getInstance().setStoragePath(folder + "/storage");
}

DeviceRig::Layout::Layout(const std::string& folder)
{
    // The product names come from the layout's settings.
    PyriteProductInfo& product = PyriteProductInfo::getInstance();
    if (product.initialize(VD_LAYOUT_DIR) != 0) {
        product.load(VD_LAYOUT_DIR);
    }
    layOutDeviceControl(folder);
}

DeviceRig::DeviceRig() : m_device(std::make_unique<PYRITE::PyriteDeviceControlThread>())
{
    // The device-control thread is idle once "PDBState" and the configuration state are published and the
    // backups restored; its component database then holds the seven fixed components.
    auto* device = static_cast<PYRITE::PyriteDeviceControlThread*>(m_device.get());
    EXPECT_TRUE(tmstest::waitUntil([&] { return device->getState() == PYRITE::PyriteDeviceControlThread::STATE_IDLE; },
                                   WAIT_MS));
}

void DeviceRig::addComponent(const char* type, u32 uniqueId, u32 numX, u32 numY)
{
    TMS::AbstractMessage message =
        makeMessage("addComponent", {{"MajorVersion", 1}, {"UniqID", uniqueId}, {"NumX", numX}, {"NumY", numY}});
    message.setString("ComponentName", type);
    const u32 answers = m_rig.m_host.getAnswerCount();
    ASSERT_EQ(message.sendTo("DeviceControl"), 0u);
    ASSERT_TRUE(tmstest::waitUntil([&] { return m_rig.m_host.getAnswerCount() > answers; }, WAIT_MS));
    m_rig.m_host.run([] {});
    ASSERT_NE(PDB::ParameterDBCollection::getInstance(10).getComponentIndex(uniqueId), 0xFFFFFFFFu) << type;
}

void DeviceRig::addDatabaseComponent(const char* type, u32 uniqueId, u32 numX, u32 numY)
{
    TMS::AbstractMessage message =
        makeMessage("addPDBComponent", {{"UniqId", uniqueId}, {"Version", 1}, {"NumX", numX}, {"NumY", numY}});
    message.setString("ComponentName", type);
    ASSERT_EQ(message.sendTo("DeviceControl"), 0u);
    ASSERT_TRUE(tmstest::waitUntil(
        [&] { return PDB::ParameterDBCollection::getInstance(10).getComponentIndex(uniqueId) != 0xFFFFFFFFu; },
        WAIT_MS))
        << type;
}

std::vector<std::string> exportDatabases()
{
    std::vector<std::string> images;
    for (u32 position = 0; position <= 10; ++position) {
        const PDB::IParameterDB& database = PDB::ParameterDBCollection::getInstance(position);
        std::string image(database.getComponentTableSize(), '\0');
        if (!image.empty()) {
            EXPECT_GE(database.exportComponentTable(image.data(), static_cast<u32>(image.size()), 0), 0) << position;
        }
        images.push_back(std::move(image));
    }
    return images;
}

TMS::AbstractMessage makeMessage(const char* command, const std::vector<std::pair<const char*, u32>>& fields)
{
    TMS::AbstractMessage message = tmstest::userMessage(command);
    for (const auto& [name, value] : fields) {
        message.setUInt(name, value);
    }
    return message;
}

} // namespace vdptest

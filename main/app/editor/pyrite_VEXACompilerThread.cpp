#include "pyrite_VEXACompilerThread.h"

#include <cstring>
#include <vector>

#include "dadov_AudioComponentCollection.h"
#include "dadov_AudioConfigDB.h"
#include "dadov_AudioConfigParserJSON.h"
#include "fcache_BinaryAccessor.h"
#include "fsw_api.h"
#include "pyrite_ProductInfo.h"
#include "pyrite_VEXACompilerAPI.h"

namespace PYRITE {

namespace {

constexpr int CONFIG_PATH_ROW = 1; // the storage base + "/Config"

bool failedCode(i32 result)
{
    return result < 0;
}

// Replaces the file with the text atomically: true when done; otherwise the old file stays as it was.
bool replaceFile(const std::string& path, const std::string& text)
{
    if (text.size() > 0xFFFFFFFFu) {
        return false;
    }
    FILECACHE::FileAccessor file;
    if (failedCode(file.beginReplace(path.c_str()))) {
        return false;
    }
    const auto size = static_cast<u32>(text.size());
    u32 put = 0;
    if (size > 0 && (failedCode(file.write(text.data(), size, &put)) || put != size)) {
        (void)file.abortReplace();
        return false;
    }
    return !failedCode(file.commitReplace());
}

// The compile directory, created with its missing parents (a failure shows when its files are written).
std::string compileDirectory()
{
    std::string directory;
    PyriteProductInfo::getInstance().getPath(directory, CONFIG_PATH_ROW, PyriteProductInfo::COLUMN_STORAGE);
    (void)FILECACHE::FileAccessor::makeDir(directory.c_str());
    return directory;
}

} // namespace

VEXACompilerThread::VEXACompilerThread() : PyriteAppThread(QUEUE_CAPACITY) {}

VEXACompilerThread::~VEXACompilerThread()
{
    if (getTaskId() != TMS::NO_ID) {
        release();
    }
}

u32 VEXACompilerThread::onReceiveMessage(const TMS::AbstractMessage& message)
{
    const char* command = message.getValue("CommandName").getString();
    if (message.getCode() != 0 || command == nullptr) {
        return 0;
    }
    const char* requester = message.getSender();
    if (std::strcmp(command, "getTotalProcessingResourceCapacity") == 0) {
        TMS::AbstractMessage reply = answer("Re:getTotalProcessingResourceCapacity");
        reply.setUInt("Result", VEXACompilerAPI::getTotalProcessingResourceCapacity());
        (void)reply.sendTo(requester);
    } else if (std::strcmp(command, "getTotalProcessingResourceUsage") == 0) {
        TMS::AbstractMessage reply = answer("Re:getTotalProcessingResourceUsage");
        reply.setUInt("Result", VEXACompilerAPI::getTotalProcessingResourceUsage());
        (void)reply.sendTo(requester);
    } else if (std::strcmp(command, "getProcessingResourceUsage") == 0) {
        const u32 uniqId = message.getValue("UniqId").getUInt();
        TMS::AbstractMessage reply = answer("Re:getProcessingResourceUsage");
        reply.setUInt("UniqId", uniqId);
        reply.setUInt("Result", VEXACompilerAPI::getProcessingResourceUsage(uniqId));
        (void)reply.sendTo(requester);
    } else if (std::strcmp(command, "startCompile") == 0) {
        TMS::AbstractMessage accepted = answer("Re:startCompile");
        accepted.setInt("Result", 0);
        (void)accepted.sendTo(requester);
        TMS::AbstractMessage done = answer("Notify:compileResult");
        done.setUInt("Result", startCompile());
        (void)done.sendTo(requester);
    }
    return 0;
}

u32 VEXACompilerThread::startCompile()
{
    const std::string componentDB = VEXACompilerAPI::createComponentDB();
    const std::string connectionDB = VEXACompilerAPI::createConnectionDB();
    const std::string dspSystemDB = VEXACompilerAPI::createDspSystemDB();
    const std::string inputDirectory = compileDirectory();
    if (!m_leftoversRemoved) {
        m_leftoversRemoved = true;
        for (const char* name :
             {"/ComponentDB.json", "/ConnectionDB.json", "/DspSystemDB.json", "/CompileResult.json"}) {
            (void)fsw_removeReplaceTemps((inputDirectory + name).c_str(), false);
        }
    }
    (void)replaceFile(inputDirectory + "/ComponentDB.json", componentDB);
    (void)replaceFile(inputDirectory + "/ConnectionDB.json", connectionDB);
    (void)replaceFile(inputDirectory + "/DspSystemDB.json", dspSystemDB);

    (void)VEXACompilerAPI::clearAbortRequest();
    std::string compileResult;
    i32 result = m_compiler.compile(componentDB, connectionDB, dspSystemDB, this, compileResult);
    log("[i] CompilerThread - compile result = 0x%08x\n", static_cast<u32>(result));

    if (!replaceFile(compileDirectory() + "/CompileResult.json", compileResult)) {
        result = static_cast<i32>(RESULT_FAILED);
    }
    if (!failedCode(result)) {
        const DADOV::AudioConfig config = DADOV::parseAudioConfigJSON(compileResult.c_str());
        if (failedCode(DADOV::AudioConfigDB::getInstance().setAudioConfig(config)) ||
            failedCode(DADOV::AudioComponentCollection::getInstance().applyConnections(config.m_connections))) {
            result = static_cast<i32>(RESULT_FAILED);
        }
    }
    return static_cast<u32>(result);
}

i32 VEXACompilerThread::isAborted(bool& aborted)
{
    aborted = VEXACompilerAPI::isAbortRequested();
    return 0;
}

TMS::AbstractMessage VEXACompilerThread::answer(const char* command)
{
    TMS::AbstractMessage message;
    (void)message.initialize(TMS::MESSAGE_KIND_USER, 0);
    (void)message.setString("CommandName", command);
    return message;
}

} // namespace PYRITE

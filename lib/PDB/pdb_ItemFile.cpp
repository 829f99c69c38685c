#include "pdb_ItemFile.h"

#include <cstring>
#include <new>

#include "fcache_MBDFAbstractBlock.h"
#include "fsw_api.h"
#include "os_Clock.h"
#include "pdb_MBDFPDBBlock.h"
#include "pdb_NullMutex.h"
#include "pdb_ParameterDBCollection.h"

namespace PDB {

namespace {

constexpr u8 FILTER_ALL = 8;
constexpr u8 NO_STATUS = 0xFF;
constexpr u32 NONE = 0xFFFFFFFF;

bool sameName(const char* a, const char* b)
{
    return std::strcmp(a != nullptr ? a : "", b != nullptr ? b : "") == 0;
}

// Both databases have an owner (a local one: an id) and the same name.
bool isMatchingInfo(const IParameterDB& a, const IParameterDB& b)
{
    return a.hasOwnerThread() && b.hasOwnerThread() && sameName(a.getName(), b.getName());
}

// Room of the container's name text: a longer model tag is stored cut, and is compared the same way.
constexpr size_t CONTAINER_NAME_LENGTH = 16;

} // namespace

ItemFile::ItemFile()
{
    MBDFPDBBlock::registerFactory();
}

ItemFile::~ItemFile() = default;

i32 ItemFile::clear()
{
    m_buildFailed = false;
    return m_file.clear();
}

void ItemFile::clearAll()
{
    clear();
    getContentsList().clear();
}

i32 ItemFile::initializeCommon(const char* modelTag, u32 version, u32 headerValue, const char* directory)
{
    if (modelTag == nullptr) {
        return ItemFileResult::BAD_ARGUMENT;
    }
    m_modelTag = modelTag;
    m_version = version;
    m_headerValue = headerValue;
    m_directory = directory != nullptr ? directory : "";
    if (!m_directory.empty()) {
        fsw_makeDir(m_directory.c_str());
    }

    // Start from an empty information database: no owner until the process-wide one is copied.
    m_info.clear();
    m_info.setIdentity(NONE, "");
    for (ParameterAddress& address : m_infoAddresses) {
        address.reset();
    }
    const i32 position = ParameterDBCollection::findInstance(getInfoDatabaseName());
    IParameterDB& source =
        ParameterDBCollection::getInstance(position < 0 ? ParameterDBCollection::CAPACITY : static_cast<u32>(position));
    if (!source.hasOwnerThread()) {
        return 0;
    }
    // The copy takes every component with its values as they are (each value keeps its kind).
    const i32 result = copyInfo(source);
    if (result < 0) {
        return result;
    }
    resolveInfoAddresses();
    m_info.setValueString(m_infoAddresses[INFO_PRODUCT_NAME], 0, 0, m_modelTag.c_str(), NO_STATUS);
    return 0;
}

i32 ItemFile::copyInfo(IParameterDB& info)
{
    if (&info == &m_info) {
        return 0;
    }
    ReadLock guard(info);
    if (m_info.copyFrom(info) < 0) {
        m_info.setIdentity(NONE, "");
        return ItemFileResult::NO_MEMORY;
    }
    m_info.setIdentity(info.getDBId(), info.getName());
    return 0;
}

void ItemFile::resolveInfoAddresses()
{
    const char* const* texts = getInfoAddressTexts();
    const u32 slots = m_info.getComponentSlotCount();
    for (u32 i = 0; i < INFO_ADDRESS_COUNT; ++i) {
        // The description of the information database says which component holds each parameter: take the first.
        for (u32 index = 0; index < slots; ++index) {
            const ComponentUID uid = m_info.getComponentUID(index);
            if (uid == INVALID_COMPONENT_UID) {
                continue;
            }
            const u32 block = m_info.getBlockIndex(uid, texts[i]);
            if (block != NONE) {
                m_infoAddresses[i] = m_info.resolveAddress(index, block);
                break;
            }
        }
    }
}

i32 ItemFile::store(IParameterDB& info)
{
    ItemContentsList& contents = getContentsList();
    if (contents.isEmpty() || !isMatchingInfo(info, m_info)) {
        return ItemFileResult::NOTHING_TO_DO;
    }
    if (isProtected(m_info) && isProtected(info)) {
        return ItemFileResult::PROTECTED;
    }
    i32 result = copyInfo(info);
    if (result < 0) {
        return result;
    }

    u32 year = 0;
    u32 month = 0;
    u32 day = 0;
    u32 hour = 0;
    u32 minute = 0;
    u32 second = 0;
    ossupport::getCurrentUtcTime(&year, &month, &day, nullptr, &hour, &minute, &second);
    const u32 stamp[] = {year, month, day, hour, minute, second};
    for (u32 i = 0; i < 6; ++i) {
        m_info.setValueUInt(m_infoAddresses[INFO_YEAR + i], 0, 0, stamp[i], NO_STATUS);
    }

    m_file.clear();
    bool failed = false;
    u8 id[FILECACHE::MBDFTopBlock::kFileIdSize] = {};
    const bool created = FILECACHE::makeUniqueFileId(id, sizeof id) >= 0 &&
                         m_file.create(getFileKind(), m_modelTag.c_str(), m_version, id, sizeof id) >= 0;

    MBDFPDBBlock* infoBlock = new (std::nothrow) MBDFPDBBlock();
    if (!created || infoBlock == nullptr || infoBlock->setup(m_info.getName(), &m_info, m_headerValue) < 0) {
        logCannotAddInfoBlock();
        delete infoBlock;
        failed = true;
    } else {
        m_file.appendBlock(infoBlock);
    }

    // Every item is attempted: one that cannot be built is logged and left out, the later ones still go in.
    const std::vector<PresetItem>& items = contents.getItems();
    for (u32 i = 0; i < items.size(); ++i) {
        result = 0;
        FILECACHE::MBDFAbstractBlock* block = buildItemBlock(items[i], result);
        if (block == nullptr || result < 0) {
            logCannotAddItemBlock(i);
            delete block;
            failed = true;
            continue;
        }
        m_file.appendBlock(block);
    }
    m_buildFailed = failed;
    return failed ? ItemFileResult::NOT_WRITTEN : 0;
}

i32 ItemFile::save(const char* name)
{
    if (name == nullptr || getContentsList().isEmpty()) {
        return ItemFileResult::NOTHING_TO_DO;
    }
    if (!m_file.isComplete() || m_buildFailed) {
        const i32 result = store(m_info);
        if (result < 0) {
            return result;
        }
    }
    const std::string path = FILECACHE::MBDF::makePath(m_directory.c_str(), name);
    if (m_file.write(path.c_str(), nullptr, nullptr, true) != 0) {
        return ItemFileResult::NOT_WRITTEN;
    }
    m_currentFileName = name;
    return 0;
}

i32 ItemFile::load(const char* name)
{
    if (name == nullptr) {
        return ItemFileResult::BAD_ARGUMENT;
    }
    clearAll();
    const std::string path = FILECACHE::MBDF::makePath(m_directory.c_str(), name);
    if (m_file.read(path.c_str(), true, nullptr, nullptr, 0) != 0) {
        clearAll();
        return ItemFileResult::READ_FAILED;
    }
    if (!m_file.isKind(getFileKind()) || !m_file.isName(m_modelTag.substr(0, CONTAINER_NAME_LENGTH).c_str())) {
        clearAll();
        return ItemFileResult::WRONG_FILE;
    }
    if (!m_file.isValid()) {
        clearAll();
        return ItemFileResult::MALFORMED;
    }
    const i32 infoResult = importInfoBlock();
    readItems();
    if (infoResult < 0) {
        return ItemFileResult::MALFORMED;
    }
    m_currentFileName = name;
    return 0;
}

FILECACHE::MBDF::BlockIterator ItemFile::findInfoBlock()
{
    for (auto it = m_file.beginBlocks(); it != m_file.endBlocks(); ++it) {
        const FILECACHE::MBDFAbstractBlock* block = *it;
        if (block != nullptr && block->getTag() == MBDFPDBBlock::TAG && isPDBBlockKindOf(*block, m_info.getName())) {
            return it;
        }
    }
    return m_file.endBlocks();
}

i32 ItemFile::importInfoBlock()
{
    const auto it = findInfoBlock();
    if (it == m_file.endBlocks()) {
        return 0;
    }
    const FILECACHE::MBDFAbstractBlock* block = *it;
    return m_info.importComponentTable(block->getData(), block->getDataSize(false), FILTER_ALL, NO_STATUS);
}

std::vector<FILECACHE::MBDFAbstractBlock*> ItemFile::getItemBlocks()
{
    std::vector<FILECACHE::MBDFAbstractBlock*> blocks;
    const std::string tag = getItemBlockTag();
    for (auto it = m_file.beginBlocks(); it != m_file.endBlocks(); ++it) {
        FILECACHE::MBDFAbstractBlock* block = *it;
        if (block != nullptr && block->getTag() == tag) {
            blocks.push_back(block);
        }
    }
    return blocks;
}

void ItemFile::readItems()
{
    ItemContentsList& contents = getContentsList();
    for (FILECACHE::MBDFAbstractBlock* block : getItemBlocks()) {
        PresetItem item;
        if (decodeItemHeader(item, block->getData(), block->getDataSize(false)) >= 0 && item.isValid()) {
            contents.addItem(item);
        }
    }
}

i32 ItemFile::applyInfo(IParameterDB& info)
{
    if (!isMatchingInfo(info, m_info)) {
        return ItemFileResult::NOTHING_TO_DO;
    }
    const i32 copied = copyInfo(info);
    if (copied < 0) {
        return copied;
    }
    if (!m_file.isComplete()) {
        return 0;
    }
    // The new block is built before the old one goes, so a failure leaves the container as it was.
    MBDFPDBBlock* block = new (std::nothrow) MBDFPDBBlock();
    const i32 result =
        block == nullptr ? ItemFileResult::READ_FAILED : block->setup(m_info.getName(), &m_info, m_headerValue);
    if (result < 0) {
        logCannotApplyInfoBlock();
        delete block;
        return result;
    }
    FILECACHE::MBDF::BlockList& list = m_file.getBlockList();
    auto where = findInfoBlock();
    if (where == m_file.endBlocks()) {
        where = list.begin();
    } else {
        delete *where;
        where = list.erase(where);
    }
    list.insert(where, block);
    return 0;
}

} // namespace PDB

#include <cstring>
#include <new>
#include <string>

#include "fcache_MBDFAbstractBlock.h"
#include "klib_Print.h"
#include "pdb_MBDFPDBBlock.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_SnapshotData.h"
#include "pdb_SnapshotRecord.h"

namespace PDB {

namespace {

const char* const SNAPSHOT_INFO_ADDRESSES[ItemFile::INFO_ADDRESS_COUNT] = {
    "/Info/ProductName",      "/Info/ProductSubName", "/Info/DataType",
    "/Info/Protect",          "/Info/Title",          "/Info/Comment",
    "/Info/OwnerName",        "/Info/TimeStamp/Year", "/Info/TimeStamp/Month",
    "/Info/TimeStamp/Day",    "/Info/TimeStamp/Hour", "/Info/TimeStamp/Minute",
    "/Info/TimeStamp/Second",
};

// Writes a block as it lies in a file: header, padded info part, padded data part.
u64 writeBlockImage(const FILECACHE::MBDFAbstractBlock& block, u8* out)
{
    std::memcpy(out, block.getHeader(), FILECACHE::kMBDFHeaderSize);
    u64 position = FILECACHE::kMBDFHeaderSize;
    const u32 infoSize = block.getInfoSize(false);
    const u64 infoRoom = block.getInfoSizeOnDisk();
    std::memset(out + position, 0, infoRoom);
    if (infoSize != 0) {
        std::memcpy(out + position, block.getInfo(), infoSize);
    }
    position += infoRoom;
    const u32 dataSize = block.getDataSize(false);
    const u64 dataRoom = block.getDataSizeOnDisk();
    std::memset(out + position, 0, dataRoom);
    if (dataSize != 0) {
        std::memcpy(out + position, block.getData(), dataSize);
    }
    return position + dataRoom;
}

// A block whose parts are all present, so that its image can be written.
bool isImageReady(const FILECACHE::MBDFAbstractBlock& block)
{
    return block.isValid() && (block.getInfoSize(false) == 0 || block.getInfo() != nullptr) &&
           (block.getDataSize(false) == 0 || block.getData() != nullptr);
}

// The tag text of a block image: the tag field up to its first NUL.
std::string tagTextOf(const u8* header, u32 available)
{
    const u32 room = available < FILECACHE::kMBDFTagFieldSize ? available : FILECACHE::kMBDFTagFieldSize;
    const char* text = reinterpret_cast<const char*>(header);
    return std::string(text, strnlen(text, room));
}

// Room of the container's name text: a longer model tag is stored cut, and is compared the same way.
constexpr size_t CONTAINER_NAME_LENGTH = 16;

bool startsWith(const u8* bytes, u32 available, const char* text)
{
    const size_t length = std::strlen(text);
    return available >= length && std::memcmp(bytes, text, length) == 0;
}

} // namespace

SnapshotData::SnapshotData()
{
    MBDFPDBSSBlock::registerFactory();
}

SnapshotData::~SnapshotData() = default;

const char* SnapshotData::getItemBlockTag() const
{
    return MBDFPDBSSBlock::TAG;
}

const char* const* SnapshotData::getInfoAddressTexts() const
{
    return SNAPSHOT_INFO_ADDRESSES;
}

i32 SnapshotData::initialize(const char* modelTag, u32 version, u32 headerValue, const SnapshotContentsList& contents,
                             const char* directory)
{
    if (modelTag == nullptr) {
        return ItemFileResult::BAD_ARGUMENT;
    }
    m_contents = contents;
    return initializeCommon(modelTag, version, headerValue, directory);
}

FILECACHE::MBDFAbstractBlock* SnapshotData::buildItemBlock(const PresetItem& item, i32& result)
{
    MBDFPDBSSBlock* block = new (std::nothrow) MBDFPDBSSBlock();
    if (block == nullptr) {
        result = ItemFileResult::READ_FAILED;
        return nullptr;
    }
    result = setupSnapshotBlock(*block, "", item, m_headerValue, true);
    return block;
}

i32 SnapshotData::decodeItemHeader(PresetItem& item, const u8* record, u32 size)
{
    return decodeSnapshotRecord(item, ParameterDBCollection::getCollection(), record, size, false);
}

bool SnapshotData::isProtected(IParameterDB& db)
{
    return db.getValueBool(m_infoAddresses[INFO_PROTECT], 0, 0, nullptr);
}

void SnapshotData::logCannotAddInfoBlock()
{
    KLIB_LOG("[E] SnapshotData::store - cannot add ssinfo block!\n");
}

void SnapshotData::logCannotAddItemBlock(u32 index)
{
    KLIB_LOG("[E] SnapshotData::store - cannot add #%d block!\n", static_cast<int>(index));
}

void SnapshotData::logCannotApplyInfoBlock()
{
    KLIB_LOG("[E] SnapshotData::applySnapshotInfo - cannot add ssinfo block!\n");
}

i32 SnapshotData::recallToCollection()
{
    if (!isComplete()) {
        return ItemFileResult::NOTHING_TO_DO;
    }
    bool failed = importInfoBlock() < 0;
    const ParameterDBCollection& live = ParameterDBCollection::getCollection();
    for (FILECACHE::MBDFAbstractBlock* block : getItemBlocks()) {
        PresetItem item;
        if (decodeSnapshotRecord(item, live, block->getData(), block->getDataSize(false), true) < 0) {
            failed = true;
        }
    }
    return failed ? ItemFileResult::MALFORMED : 0;
}

i32 SnapshotData::recall(const SnapshotContentsList& recallSafe)
{
    if (!isComplete()) {
        return ItemFileResult::NOTHING_TO_DO;
    }
    const ParameterDBCollection& live = ParameterDBCollection::getCollection();
    const ParameterDBCollection copy(live);

    PresetItem decoded;
    for (FILECACHE::MBDFAbstractBlock* block : getItemBlocks()) {
        if (decodeSnapshotRecord(decoded, copy, block->getData(), block->getDataSize(false), true) < 0) {
            return ItemFileResult::MALFORMED;
        }
    }

    // The live values of the recall-safe parameters go over the snapshot's values in the copy.
    std::vector<u8> record;
    const std::vector<PresetItem>& safe = recallSafe.getItems();
    for (u32 i = 0; i < safe.size(); ++i) {
        if (encodeSnapshotRecord(safe[i], live, record, m_headerValue, true) < 0) {
            KLIB_LOG("[E] SnapshotData::recall(recallSafe) - cannot import #%d recallsafe!\n", static_cast<int>(i));
            continue;
        }
        decodeSnapshotRecord(decoded, copy, record.data(), static_cast<u32>(record.size()), true);
    }

    if (importInfoBlock() < 0) {
        return ItemFileResult::MALFORMED;
    }

    const std::vector<PresetItem>& items = m_contents.getItems();
    for (u32 i = 0; i < items.size(); ++i) {
        if (encodeSnapshotRecord(items[i], copy, record, m_headerValue, true) < 0) {
            KLIB_LOG("[E] SnapshotData::recall(recallSafe) - cannot import #%d content!\n", static_cast<int>(i));
            continue;
        }
        if (decodeSnapshotRecord(decoded, live, record.data(), static_cast<u32>(record.size()), true) < 0) {
            return ItemFileResult::MALFORMED;
        }
    }
    return 0;
}

std::vector<const FILECACHE::MBDFAbstractBlock*> SnapshotData::getImageBlocks()
{
    std::vector<const FILECACHE::MBDFAbstractBlock*> blocks;
    blocks.push_back(m_file.getTopBlock());
    for (auto it = m_file.beginBlocks(); it != m_file.endBlocks(); ++it) {
        const FILECACHE::MBDFAbstractBlock* block = *it;
        if (block != nullptr && block->getTag() == MBDFPDBBlock::TAG && isPDBBlockKindOf(*block, m_info.getName())) {
            blocks.push_back(block);
            break;
        }
    }
    for (FILECACHE::MBDFAbstractBlock* block : getItemBlocks()) {
        blocks.push_back(block);
    }
    blocks.push_back(m_file.getEndBlock());
    return blocks;
}

u64 SnapshotData::getFileSize()
{
    if (!m_file.isValid()) {
        return 0;
    }
    u64 size = 0;
    for (const FILECACHE::MBDFAbstractBlock* block : getImageBlocks()) {
        size += block->getBlockSize();
    }
    return size;
}

i32 SnapshotData::exportImage(u8* buffer, u32 size)
{
    if (buffer == nullptr || size < getFileSize()) {
        return ItemFileResult::BAD_ARGUMENT;
    }
    if (m_contents.isEmpty() || !isComplete()) {
        return ItemFileResult::NOTHING_TO_DO;
    }
    u64 position = 0;
    for (const FILECACHE::MBDFAbstractBlock* block : getImageBlocks()) {
        if (!isImageReady(*block) || block->getBlockSize() > size - position) {
            return ItemFileResult::READ_FAILED;
        }
        position += writeBlockImage(*block, buffer + position);
    }
    return 0;
}

i32 SnapshotData::importImage(const u8* image, u32 size)
{
    if (image == nullptr) {
        return ItemFileResult::BAD_ARGUMENT;
    }
    clearAll();
    bool ended = false;
    u64 position = 0;
    while (position < size && !ended) {
        const u8* at = image + position;
        const u32 left = static_cast<u32>(size - position);
        u32 consumed = 0;
        i32 result = 0;
        if (startsWith(at, left, FILECACHE::MBDFTopBlock::kTag)) {
            result = m_file.getTopBlock()->readFromMemory(at, left, &consumed);
        } else if (tagTextOf(at, left) == FILECACHE::MBDFEndBlock::kTag && left >= FILECACHE::kMBDFTagFieldSize) {
            result = m_file.getEndBlock()->readFromMemory(at, left, &consumed);
            ended = true;
        } else {
            FILECACHE::IMBDFBlockFactory* factory = FILECACHE::MBDF::findBlockFactory(tagTextOf(at, left).c_str());
            FILECACHE::MBDFAbstractBlock* block =
                factory != nullptr ? factory->createBlock() : new (std::nothrow) FILECACHE::MBDFAbstractBlock();
            result = block == nullptr ? ItemFileResult::READ_FAILED : block->readFromMemory(at, left, &consumed);
            if (result < 0) {
                delete block;
            } else {
                m_file.appendBlock(block);
            }
        }
        if (result < 0 || consumed == 0) {
            clearAll();
            return ItemFileResult::READ_FAILED;
        }
        position += consumed;
    }
    if (!ended) {
        m_file.getEndBlock()->setup(); // an image may stop right after its last data block
    }
    if (!m_file.isKind(FILE_KIND) || !m_file.isName(m_modelTag.substr(0, CONTAINER_NAME_LENGTH).c_str())) {
        clearAll();
        return ItemFileResult::WRONG_FILE;
    }
    if (!m_file.isValid()) {
        clearAll();
        return ItemFileResult::MALFORMED;
    }
    readItems();
    return 0;
}

} // namespace PDB

#include "fcache_MBDFAbstractBlock.h"

#include <time.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "fcache_MBDF.h"
#include "fcache_MBDFTestHooks.h"
#include "os_Net.h"

namespace FILECACHE {

namespace BA = BinaryAccessor;

namespace {

bool isAborted(const bool* abort)
{
    // Another thread may set the flag while we run.
    return abort != nullptr && __atomic_load_n(abort, __ATOMIC_ACQUIRE);
}

std::string textOf(const u8* bytes, u32 room)
{
    u32 n = 0;
    while (n < room && bytes[n] != 0) {
        ++n;
    }
    return std::string(reinterpret_cast<const char*>(bytes), n);
}

} // namespace

i32 mapMBDFWriteFailure(i32 code)
{
    return (static_cast<u32>(code) & 0x7FFFFFFFu) == 0x14u ? MBDFResult::kDiskFull : MBDFResult::kFileError;
}

// ---------------------------------------------------------------------------------------------------------------
// MBDFAbstractBlock
// ---------------------------------------------------------------------------------------------------------------

MBDFAbstractBlock::MBDFAbstractBlock() : m_info(nullptr), m_data(nullptr), m_fileOffset(kMBDFNoOffset)
{
    std::memset(m_header, 0, sizeof(m_header));
}

MBDFAbstractBlock::~MBDFAbstractBlock()
{
    freeParts();
}

u8* MBDFAbstractBlock::allocatePart(u64 size, u32 slack)
{
    const u64 bytes = BA::align4U64(size);
    if (bytes == 0 || bytes > 0xFFFFFFFFull + 4) {
        return nullptr;
    }
    u8* part = static_cast<u8*>(std::malloc(static_cast<size_t>(bytes + slack)));
    if (part != nullptr) {
        std::memset(part + bytes - 4, 0, 4); // the padding behind the content; the content is filled by the caller
    }
    return part;
}

void MBDFAbstractBlock::freePart(u8*& part)
{
    std::free(part);
    part = nullptr;
}

void MBDFAbstractBlock::freeParts()
{
    freePart(m_info);
    freePart(m_data);
}

void MBDFAbstractBlock::adoptData(u8* part, u32 size)
{
    freePart(m_data);
    m_data = part;
    setDataSizeField(size);
}

void MBDFAbstractBlock::setInfoSizeField(u32 size)
{
    BA::writeUInt(m_header + 24, 4, size, true);
}

void MBDFAbstractBlock::setDataSizeField(u32 size)
{
    BA::writeUInt(m_header + 28, 4, size, true);
}

u32 MBDFAbstractBlock::getReserved() const
{
    return BA::readUInt(m_header + 32, 4, true);
}

i32 MBDFAbstractBlock::readFromMemory(const u8* image, u32 size, u32* consumed)
{
    clear();
    if (consumed != nullptr) {
        *consumed = 0;
    }
    if (image == nullptr || size == 0) {
        return MBDFResult::kBadArgument;
    }
    if (size < kMBDFHeaderSize) {
        return MBDFResult::kOutOfRange;
    }
    std::memcpy(m_header, image, kMBDFHeaderSize);
    u64 used = kMBDFHeaderSize;
    u8** parts[2] = {&m_info, &m_data};
    const u32 sizes[2] = {getInfoSize(false), getDataSize(false)};
    for (int i = 0; i < 2; ++i) {
        if (sizes[i] == 0) {
            continue;
        }
        const u64 onDisk = BA::align4U64(sizes[i]);
        if (onDisk > size - used) {
            clear();
            return MBDFResult::kOutOfRange;
        }
        u8* part = allocatePart(sizes[i]);
        if (part == nullptr) {
            clear();
            return MBDFResult::kNoMemory;
        }
        std::memcpy(part, image + used, sizes[i]);
        *parts[i] = part;
        used += onDisk;
    }
    if (consumed != nullptr) {
        *consumed = static_cast<u32>(used);
    }
    return 0;
}

void MBDFAbstractBlock::copyDeep(const MBDFAbstractBlock& other)
{
    clear();
    std::memcpy(m_header, other.m_header, kMBDFHeaderSize);
    if (other.m_info != nullptr && getInfoSize(false) != 0) {
        m_info = allocatePart(getInfoSize(false));
        if (m_info == nullptr) {
            clear();
            return;
        }
        std::memcpy(m_info, other.m_info, BA::align4U64(getInfoSize(false)));
    }
    if (other.m_data != nullptr && getDataSize(false) != 0) {
        m_data = allocatePart(getDataSize(false));
        if (m_data == nullptr) {
            clear();
            return;
        }
        std::memcpy(m_data, other.m_data, BA::align4U64(getDataSize(false)));
    }
}

i32 MBDFAbstractBlock::copyFrom(const MBDFAbstractBlock& other, bool /*deep*/)
{
    if (&other == this) {
        return 0;
    }
    clear();
    // A shallow copy would share the parts; every copy is deep so that each block owns its parts.
    copyDeep(other);
    return 0;
}

i32 MBDFAbstractBlock::setInfo(const u8* bytes, u32 size)
{
    if (m_header[0] == 0) {
        return MBDFResult::kInvalid;
    }
    freePart(m_info);
    setInfoSizeField(0);
    if (bytes != nullptr && size != 0) {
        u8* part = allocatePart(size);
        if (part == nullptr) {
            return MBDFResult::kNoMemory;
        }
        std::memcpy(part, bytes, size);
        m_info = part;
        setInfoSizeField(size);
    }
    return 0;
}

i32 MBDFAbstractBlock::setData(const u8* bytes, u32 size)
{
    if (m_header[0] == 0) {
        return MBDFResult::kInvalid;
    }
    freePart(m_data);
    setDataSizeField(0);
    if (bytes != nullptr && size != 0) {
        u8* part = allocatePart(size);
        if (part == nullptr) {
            return MBDFResult::kNoMemory;
        }
        std::memcpy(part, bytes, size);
        m_data = part;
        setDataSizeField(size);
    }
    return 0;
}

i32 MBDFAbstractBlock::clear()
{
    std::memset(m_header, 0, sizeof(m_header));
    freeParts();
    return 0;
}

bool MBDFAbstractBlock::isNull() const
{
    return false;
}

bool MBDFAbstractBlock::isValid() const
{
    return m_header[0] != 0;
}

u32 MBDFAbstractBlock::getTagLength() const
{
    return kMBDFTagFieldSize;
}

u32 MBDFAbstractBlock::getInfoSize(bool aligned) const
{
    const u32 size = BA::readUInt(m_header + 24, 4, true);
    return aligned ? BA::align4(size) : size;
}

u32 MBDFAbstractBlock::getDataSize(bool aligned) const
{
    const u32 size = BA::readUInt(m_header + 28, 4, true);
    return aligned ? BA::align4(size) : size;
}

u64 MBDFAbstractBlock::getInfoSizeOnDisk() const
{
    return BA::align4U64(getInfoSize(false));
}

u64 MBDFAbstractBlock::getDataSizeOnDisk() const
{
    return BA::align4U64(getDataSize(false));
}

u64 MBDFAbstractBlock::getBlockSize() const
{
    return kMBDFHeaderSize + getInfoSizeOnDisk() + getDataSizeOnDisk();
}

i32 MBDFAbstractBlock::releaseData()
{
    freePart(m_data);
    return 0;
}

bool MBDFAbstractBlock::hasData() const
{
    return isValid() && (getDataSize(false) == 0 || m_data != nullptr);
}

bool MBDFAbstractBlock::isWritable() const
{
    return hasData();
}

std::string MBDFAbstractBlock::getTag() const
{
    return textOf(m_header, getTagLength());
}

std::string MBDFAbstractBlock::getKind() const
{
    const u32 length = getTagLength();
    return textOf(m_header + length, kMBDFTagFieldSize - length);
}

i32 MBDFAbstractBlock::setTag(const char* text)
{
    return BA::copyText(m_header, getTagLength(), text) == 0 ? 0 : MBDFResult::kBadArgument;
}

i32 MBDFAbstractBlock::setKind(const char* text)
{
    const u32 length = getTagLength();
    if (length >= kMBDFTagFieldSize) {
        return 0; // no room for a kind text
    }
    return BA::copyText(m_header + length, kMBDFTagFieldSize - length, text) == 0 ? 0 : MBDFResult::kBadArgument;
}

i32 MBDFAbstractBlock::takePart(FileAccessor& file, u8** part, u32 size, const u8*& prefix, u64& available,
                                const bool* abort, u64* taken, u8* spill, u32 spillRoom, u32* spilled)
{
    if (size == 0) {
        return 0;
    }
    const u64 onDisk = BA::align4U64(size);
    // Reading on behind the part saves a read for small parts only; large ones keep their exact allocation.
    if (spill == nullptr || available >= onDisk || onDisk > 64 * 1024) {
        spillRoom = 0;
    }
    u8* buffer = allocatePart(size, spillRoom);
    if (buffer == nullptr) {
        return MBDFResult::kNoMemory;
    }
    if (isAborted(abort)) {
        freePart(buffer);
        return MBDFResult::kAborted;
    }
    const u64 fromPrefix = available < onDisk ? available : onDisk;
    std::memcpy(buffer, prefix, static_cast<size_t>(fromPrefix));
    prefix += fromPrefix;
    available -= fromPrefix;
    if (fromPrefix < onDisk) {
        // The padding is read along; a file that ends right behind the content still counts as complete.
        const u32 rest = static_cast<u32>(onDisk - fromPrefix);
        u32 got = 0;
        if (file.read(buffer + fromPrefix, rest + spillRoom, &got) < 0) {
            freePart(buffer);
            return MBDFResult::kFileError;
        }
        *taken += got;
        if (fromPrefix + got < size) {
            freePart(buffer);
            return MBDFResult::kOutOfRange;
        }
        if (got > rest) {
            std::memcpy(spill, buffer + onDisk, got - rest);
            *spilled = got - rest;
        }
    }
    std::memset(buffer + size, 0, static_cast<size_t>(onDisk - size)); // padding bytes are not checked
    *part = buffer;
    return 0;
}

i32 MBDFAbstractBlock::readFromPrefix(FileAccessor& file, const u8* prefix, u32 prefixLength, bool withData,
                                      const bool* abort, u64* taken, u8* spill, u32 spillRoom, u32* spilled)
{
    clear();
    *taken = prefixLength;
    u32 none = 0;
    if (spilled == nullptr) {
        spilled = &none;
    }
    *spilled = 0;
    if (prefix == nullptr || prefixLength < kMBDFHeaderSize) {
        return MBDFResult::kOutOfRange;
    }
    std::memcpy(m_header, prefix, kMBDFHeaderSize);
    const u64 counted = static_cast<u64>(getInfoSize(false)) + (withData ? getDataSize(false) : 0u);
    if (counted > kMBDFBlockLimit) {
        return MBDFResult::kOutOfRange;
    }
    const u8* rest = prefix + kMBDFHeaderSize;
    u64 available = prefixLength - kMBDFHeaderSize;
    // Only the block's last part may read on behind the block.
    const bool infoLast = getDataSize(false) == 0;
    i32 result = takePart(file, &m_info, getInfoSize(false), rest, available, abort, taken, infoLast ? spill : nullptr,
                          spillRoom, spilled);
    if (result < 0 || getDataSize(false) == 0 || !withData) {
        return result;
    }
    if (isAborted(abort)) {
        return MBDFResult::kAborted;
    }
    return takePart(file, &m_data, getDataSize(false), rest, available, abort, taken, spill, spillRoom, spilled);
}

i32 MBDFAbstractBlock::readFromFile(FileAccessor& file, bool withData, const bool* abort)
{
    if (!file.isOpen()) {
        return MBDFResult::kFileError;
    }
    clear();
    if (isAborted(abort)) {
        return MBDFResult::kAborted;
    }
    u8 header[kMBDFHeaderSize];
    u32 got = 0;
    if (file.read(header, kMBDFHeaderSize, &got) < 0) {
        return MBDFResult::kFileError;
    }
    if (got != kMBDFHeaderSize) {
        return MBDFResult::kOutOfRange;
    }
    u64 taken = 0;
    const i32 result = readFromPrefix(file, header, kMBDFHeaderSize, withData, abort, &taken);
    if (result < 0) {
        return result;
    }
    if (!withData && getDataSize(false) != 0) {
        if (isAborted(abort)) {
            return MBDFResult::kAborted;
        }
        const u64 skip = getDataSizeOnDisk();
        if (skip > 0xFFFFFFFFu || file.seek(1, static_cast<u32>(skip)) < 0) {
            return MBDFResult::kFileError;
        }
    }
    return isValid() ? 0 : MBDFResult::kOutOfRange;
}

i32 MBDFAbstractBlock::writeAll(FileAccessor& file, const void* bytes, u64 size)
{
    const u8* p = static_cast<const u8*>(bytes);
    while (size != 0) {
        const u32 chunk = size > 0x40000000u ? 0x40000000u : static_cast<u32>(size);
        u32 put = 0;
        const i32 result = file.write(p, chunk, &put);
        if (result < 0) {
            return mapMBDFWriteFailure(result);
        }
        if (put != chunk) {
            return MBDFResult::kFileError;
        }
        p += chunk;
        size -= chunk;
    }
    return 0;
}

i32 MBDFAbstractBlock::writeParts(FileAccessor& file, bool writeData)
{
    // Small blocks go out in one write: many small blocks are the common case of parameter files.
    constexpr u64 kGather = 64 * 1024;
    const u64 total = kMBDFHeaderSize + getInfoSizeOnDisk() + (writeData ? getDataSizeOnDisk() : 0u);
    if (total <= kGather) {
        thread_local std::vector<u8> gather;
        gather.resize(static_cast<size_t>(total));
        u8* p = gather.data();
        std::memcpy(p, m_header, kMBDFHeaderSize);
        p += kMBDFHeaderSize;
        if (getInfoSize(false) != 0) {
            std::memcpy(p, m_info, getInfoSizeOnDisk());
            p += getInfoSizeOnDisk();
        }
        if (writeData && getDataSize(false) != 0) {
            std::memcpy(p, m_data, getDataSizeOnDisk());
        }
        return writeAll(file, gather.data(), total);
    }
    i32 result = writeAll(file, m_header, kMBDFHeaderSize);
    if (result == 0 && getInfoSize(false) != 0) {
        result = writeAll(file, m_info, getInfoSizeOnDisk());
    }
    if (result == 0 && writeData && getDataSize(false) != 0) {
        result = writeAll(file, m_data, getDataSizeOnDisk());
    }
    return result;
}

i32 MBDFAbstractBlock::checkWritable() const
{
    if (!isValid()) {
        return MBDFResult::kInvalid;
    }
    if ((getInfoSize(false) != 0 && m_info == nullptr) || (getDataSize(false) != 0 && m_data == nullptr)) {
        return MBDFResult::kNotLoaded;
    }
    return 0;
}

i32 MBDFAbstractBlock::writeToFile(FileAccessor& file)
{
    if (!isValid()) {
        return MBDFResult::kInvalid;
    }
    if (!file.isOpen()) {
        return MBDFResult::kFileError;
    }
    const i32 result = checkWritable();
    return result < 0 ? result : writeParts(file, true);
}

i32 MBDFAbstractBlock::appendImage(std::vector<u8>& out) const
{
    const i32 result = checkWritable();
    if (result < 0) {
        return result;
    }
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(getBlockSize()));
    u8* p = out.data() + start;
    std::memcpy(p, m_header, kMBDFHeaderSize);
    p += kMBDFHeaderSize;
    if (getInfoSize(false) != 0) {
        std::memcpy(p, m_info, getInfoSizeOnDisk());
        p += getInfoSizeOnDisk();
    }
    if (getDataSize(false) != 0) {
        std::memcpy(p, m_data, getDataSizeOnDisk());
    }
    return 0;
}

i32 MBDFAbstractBlock::loadDataAt(FileAccessor& file)
{
    if (m_fileOffset == kMBDFNoOffset || m_fileOffset > 0xFFFFFFFFu) {
        return MBDFResult::kOutOfRange;
    }
    if (file.seek(0, static_cast<u32>(m_fileOffset)) < 0) {
        return MBDFResult::kFileError;
    }
    u8 header[kMBDFHeaderSize];
    u32 got = 0;
    if (file.read(header, kMBDFHeaderSize, &got) < 0) {
        return MBDFResult::kFileError;
    }
    // Tag field and both sizes must be this block's: otherwise the file changed or the offset is foreign.
    if (got != kMBDFHeaderSize || std::memcmp(header, m_header, 32) != 0) {
        return MBDFResult::kOutOfRange;
    }
    const u32 size = getDataSize(false);
    if (static_cast<u64>(getInfoSize(false)) + size > kMBDFBlockLimit) {
        return MBDFResult::kOutOfRange;
    }
    const u64 skip = getInfoSizeOnDisk();
    if (skip != 0 && file.seek(1, static_cast<u32>(skip)) < 0) {
        return MBDFResult::kFileError;
    }
    u8* part = allocatePart(size);
    if (part == nullptr) {
        return MBDFResult::kNoMemory;
    }
    if (file.read(part, size, &got) < 0) {
        freePart(part);
        return MBDFResult::kFileError;
    }
    if (got != size) {
        freePart(part);
        return MBDFResult::kOutOfRange;
    }
    adoptData(part, size);
    return isValid() ? 0 : MBDFResult::kOutOfRange;
}

// ---------------------------------------------------------------------------------------------------------------
// MBDFNullBlock
// ---------------------------------------------------------------------------------------------------------------

MBDFNullBlock* MBDFNullBlock::getInstance()
{
    static MBDFNullBlock* const instance = new MBDFNullBlock(); // shared for the life of the process
    return instance;
}

i32 MBDFNullBlock::readFromMemory(const u8*, u32, u32* consumed)
{
    if (consumed != nullptr) {
        *consumed = 0;
    }
    return 0;
}

i32 MBDFNullBlock::copyFrom(const MBDFAbstractBlock&, bool)
{
    return 0;
}

i32 MBDFNullBlock::setInfo(const u8*, u32)
{
    return 0;
}

i32 MBDFNullBlock::setData(const u8*, u32)
{
    return 0;
}

i32 MBDFNullBlock::clear()
{
    return 0;
}

bool MBDFNullBlock::isNull() const
{
    return true;
}

bool MBDFNullBlock::isValid() const
{
    return false;
}

i32 MBDFNullBlock::releaseData()
{
    return 0;
}

i32 MBDFNullBlock::readFromFile(FileAccessor&, bool, const bool*)
{
    return 0;
}

i32 MBDFNullBlock::writeToFile(FileAccessor&)
{
    return 0;
}

bool MBDFNullBlock::isWritable() const
{
    return true;
}

// ---------------------------------------------------------------------------------------------------------------
// MBDFEndBlock
// ---------------------------------------------------------------------------------------------------------------

bool MBDFEndBlock::isValid() const
{
    return getTag() == kTag && getInfoSize(false) == 0 && getDataSize(false) == 0;
}

i32 MBDFEndBlock::setup()
{
    clear();
    return BA::copyText(m_header, kMBDFTagFieldSize, kTag) == 0 ? 0 : MBDFResult::kBadArgument;
}

void MBDFEndBlock::registerFactory()
{
    static MBDFBlockFactory<MBDFEndBlock> factory;
    static const bool registered = (MBDF::registerBlockFactory(kTag, &factory), true);
    (void)registered;
}

// ---------------------------------------------------------------------------------------------------------------
// MBDFTopBlock
// ---------------------------------------------------------------------------------------------------------------

bool MBDFTopBlock::isValid() const
{
    return std::memcmp(m_header, kTag, kTagLength) == 0 && getInfoSize(false) >= kInfoSize && m_info != nullptr;
}

u32 MBDFTopBlock::getTagLength() const
{
    return kTagLength;
}

i32 MBDFTopBlock::setup(const char* kind, const char* name, u32 value, const u8* id, u32 idLength)
{
    clear();
    bool ok = setTag(kTag) == 0;
    ok = setKind(kind) == 0 && ok;
    u8 info[kInfoSize] = {};
    ok = BA::copyText(info, 16, name) == 0 && ok;
    ok = BA::writeUInt(info + 16, 4, value, true) == 0 && ok;
    const bool idOk = id != nullptr && idLength != 0 && idLength <= kFileIdSize;
    if (idOk) {
        BA::copyBytes(info + 20, kFileIdSize, id, idLength);
    }
    ok = idOk && ok;
    ok = setInfo(info, kInfoSize) == 0 && ok;
    return ok ? 0 : MBDFResult::kBadArgument;
}

std::string MBDFTopBlock::getName() const
{
    if (!isValid()) {
        return std::string();
    }
    return textOf(m_info, 16);
}

u32 MBDFTopBlock::getValue() const
{
    return isValid() ? BA::readUInt(m_info + 16, 4, true) : 0;
}

const u8* MBDFTopBlock::getFileId() const
{
    return isValid() ? m_info + 20 : nullptr;
}

void MBDFTopBlock::registerFactory()
{
    static MBDFBlockFactory<MBDFTopBlock> factory;
    static const bool registered = (MBDF::registerBlockFactory(kTag, &factory), true);
    (void)registered;
}

// ---------------------------------------------------------------------------------------------------------------
// Unique file id
// ---------------------------------------------------------------------------------------------------------------

namespace {

struct FileIdState
{
    std::mutex lock;
    u32 generator = 0x50000u;
    bool addressFixed = false;
    bool addressNone = false;
    u8 address[6] = {};
    bool timeFixed = false;
    u32 time = 0;
};

FileIdState& fileIdState()
{
    static FileIdState state;
    return state;
}

u32 nextGeneratorValue(u32 x)
{
    return (0xFFC39EC3u - x * 179203u) & 0xFFFFFFu;
}

// The hardware address of the first adapter that has one; six zero bytes when none does.
void readAdapterAddress(u8* out)
{
    std::memset(out, 0, 6);
    std::vector<ossupport::AdapterEntry> adapters;
    if (ossupport::listNetworkAdapters(&adapters) != 0) {
        return;
    }
    for (const auto& adapter : adapters) {
        u8 mac[6] = {};
        if (ossupport::getNetworkAdapterMacAddress(adapter.m_index.c_str(), mac, sizeof(mac)) != 0) {
            continue;
        }
        bool any = false;
        for (u8 b : mac) {
            any = any || b != 0;
        }
        if (any) {
            std::memcpy(out, mac, 6);
            return;
        }
    }
}

} // namespace

i32 makeUniqueFileId(u8* out, u32 size)
{
    if (out == nullptr || size < 16) {
        return MBDFResult::kFailed;
    }
    FileIdState& state = fileIdState();
    u8 address[6] = {};
    bool addressFixed = false;
    bool timeFixed = false;
    u32 seconds = 0;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        addressFixed = state.addressFixed;
        if (addressFixed && !state.addressNone) {
            std::memcpy(address, state.address, 6);
        }
        timeFixed = state.timeFixed;
        seconds = state.time;
    }
    if (!addressFixed) {
        readAdapterAddress(address);
    }
    if (!timeFixed) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        seconds = static_cast<u32>(now.tv_sec);
    }
    u32 first = 0;
    u32 second = 0;
    {
        // Both values of one id are drawn under the lock, so two threads never share a value.
        std::lock_guard<std::mutex> guard(state.lock);
        first = nextGeneratorValue(state.generator);
        second = nextGeneratorValue(first);
        state.generator = second;
    }
    std::memcpy(out, address, 6);
    BA::writeUInt(out + 6, 4, seconds, false);
    for (u32 i = 0; i < 3; ++i) {
        out[10 + i] = static_cast<u8>(first >> (8 * i));
        out[13 + i] = static_cast<u8>(second >> (8 * i));
    }
    return 0;
}

namespace mbdftesthooks {

void fixFileIdAddress(const u8* address)
{
    FileIdState& state = fileIdState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.addressFixed = true;
    state.addressNone = address == nullptr;
    if (address != nullptr) {
        std::memcpy(state.address, address, 6);
    }
}

void clearFixedFileIdAddress()
{
    FileIdState& state = fileIdState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.addressFixed = false;
}

void fixFileIdTime(u32 seconds)
{
    FileIdState& state = fileIdState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.timeFixed = true;
    state.time = seconds;
}

void clearFixedFileIdTime()
{
    FileIdState& state = fileIdState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.timeFixed = false;
}

void setFileIdGeneratorState(u32 value)
{
    FileIdState& state = fileIdState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.generator = value & 0xFFFFFFu;
}

u32 getFileIdGeneratorState()
{
    FileIdState& state = fileIdState();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.generator;
}

} // namespace mbdftesthooks

} // namespace FILECACHE

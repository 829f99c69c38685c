// Blocks of the MBDF container: the generic base block (raw header, info and data parts), the shared null block,
// the end block and the top block; the block factories by which the container creates a block for a tag; and the
// 16-byte unique file id.
//
// Every block has a 36-byte header (24-byte tag field, big-endian info size, big-endian data size, 4 reserved
// bytes), an info part and a data part, each padded with zeros to a multiple of 4 on disk.
#pragma once

#include <string>
#include <vector>

#include "fcache_BinaryAccessor.h"
#include "fcache_Result.h"
#include "klib_Types.h"

namespace FILECACHE {

// Largest info + data a reader accepts for one block.
constexpr u64 kMBDFBlockLimit = 0xA00000u;
constexpr u32 kMBDFHeaderSize = 36;
constexpr u32 kMBDFTagFieldSize = 24;
// A block's file offset that is not known (a block made in memory, or read from an image).
constexpr u64 kMBDFNoOffset = ~static_cast<u64>(0);

// Maps a failed write of the file API: disk full (0x14 below the top bit) gives 0x80000009, anything else
// 0x80000004.
i32 mapMBDFWriteFailure(i32 code);

class MBDFAbstractBlock
{
public:
    MBDFAbstractBlock();
    virtual ~MBDFAbstractBlock();
    MBDFAbstractBlock(const MBDFAbstractBlock&) = delete;
    MBDFAbstractBlock& operator=(const MBDFAbstractBlock&) = delete;

    // Reads header, info part and data part from an image of `size` bytes; `consumed` (optional) receives the
    // bytes taken. Null image or size 0: 0x80000001; fewer than 36 bytes or a part beyond the image: 0x80000003
    // (cleared); no memory: 0x80000005. Validity is not tested.
    virtual i32 readFromMemory(const u8* image, u32 size, u32* consumed);
    // clear, then (also for deep false) a deep copy of other's header and parts.
    virtual i32 copyFrom(const MBDFAbstractBlock& other, bool deep);
    // Replace the part by a copy of bytes (none for null or size 0). A block without tag text: 0x80000002.
    virtual i32 setInfo(const u8* bytes, u32 size);
    virtual i32 setData(const u8* bytes, u32 size);
    // Zeroes the header and frees both parts.
    virtual i32 clear();
    virtual bool isNull() const;
    // Generic block: the first byte of the tag field is not 0.
    virtual bool isValid() const;
    virtual u32 getTagLength() const;
    // The header's sizes; aligned rounds up to a multiple of 4 (a size within 3 of 2^32 cannot be rounded in 32
    // bits: use getInfoSizeOnDisk / getDataSizeOnDisk for arithmetic on sizes read from files).
    virtual u32 getInfoSize(bool aligned) const;
    virtual u32 getDataSize(bool aligned) const;
    // Frees the data part; the header keeps the data size.
    virtual i32 releaseData();
    // Reads the block at the file's position. Not open 0x80000004; abort flag set 0x8000000A; failed read
    // 0x80000004; short read, info + (withData ? data : 0) above 0xA00000, or not valid afterwards 0x80000003.
    // Without data the file is left at the next block.
    virtual i32 readFromFile(FileAccessor& file, bool withData, const bool* abort);
    // Writes header and padded parts. Not valid 0x80000002; not open 0x80000004; data size not 0 without the data
    // part 0x80000006; disk full 0x80000009; other failed or short write 0x80000004.
    virtual i32 writeToFile(FileAccessor& file);
    // A block that a container can write as it stands: its data part is present (or empty).
    virtual bool isWritable() const;

    // Tag text: the first getTagLength bytes up to the first NUL. Kind text: the rest of the tag field up to the
    // first NUL.
    std::string getTag() const;
    std::string getKind() const;
    // Copy the text into the field (zero-filled, cut at its room without notice); null zero-fills.
    i32 setTag(const char* text);
    i32 setKind(const char* text);

    // 36 + aligned info size + aligned data size, in 64 bits.
    u64 getBlockSize() const;
    u64 getInfoSizeOnDisk() const;
    u64 getDataSizeOnDisk() const;
    const u8* getInfo() const { return m_info; }
    const u8* getData() const { return m_data; }
    u32 getHeaderSize() const { return kMBDFHeaderSize; }
    const u8* getHeader() const { return m_header; }
    u32 getReserved() const;
    // isValid and (data size 0 or the data part is present).
    bool hasData() const;
    // clear, copy the header, duplicate other's parts; cleared when a duplicate cannot be made.
    void copyDeep(const MBDFAbstractBlock& other);

    // Where the container read this block from (kMBDFNoOffset when unknown).
    u64 getFileOffset() const { return m_fileOffset; }
    void setFileOffset(u64 offset) { m_fileOffset = offset; }

    // Reads the block from `prefix`, which holds its first prefixLength bytes (the header at least), and from the
    // file, which stands right behind the prefix: the info part and, with withData, the data part (the data part
    // is left alone otherwise). `taken` receives prefixLength plus the bytes then read from the file. Same results
    // as readFromFile, except that validity is not tested. Used by the container for classes whose readFromFile is
    // this base's, so that one read serves a header and the small parts behind it. When the block's last part is
    // read from the file, up to spillRoom bytes behind the block are read with it and copied to spill (`spilled`
    // tells how many; they count in `taken`).
    i32 readFromPrefix(FileAccessor& file, const u8* prefix, u32 prefixLength, bool withData, const bool* abort,
                       u64* taken, u8* spill = nullptr, u32 spillRoom = 0, u32* spilled = nullptr);

    // Appends the block as on disk (header, padded parts) to out. The checks of writeToFile.
    i32 appendImage(std::vector<u8>& out) const;

    // Reads this block's data part again from `file` at the recorded offset. The header found there (tag field and
    // both sizes) must equal this block's, else 0x80000003 and the block stays as it was.
    i32 loadDataAt(FileAccessor& file);

protected:
    void setInfoSizeField(u32 size);
    void setDataSizeField(u32 size);
    // Writes the header, the padded info part and (when writeData) the padded data part.
    i32 writeParts(FileAccessor& file, bool writeData);
    // Writes bytes, mapping failures; a short write gives 0x80000004.
    static i32 writeAll(FileAccessor& file, const void* bytes, u64 size);
    // Allocates a part of align4(size) bytes whose padding is zero, plus `slack` spare bytes (null for size 0 or
    // when memory runs out).
    static u8* allocatePart(u64 size, u32 slack = 0);
    static void freePart(u8*& part);
    // Takes ownership of a part allocated with allocatePart and records its size.
    void adoptData(u8* part, u32 size);
    void freeParts();

    u8 m_header[kMBDFHeaderSize];
    u8* m_info;
    u8* m_data;

private:
    i32 takePart(FileAccessor& file, u8** part, u32 size, const u8*& prefix, u64& available, const bool* abort,
                 u64* taken, u8* spill, u32 spillRoom, u32* spilled);
    i32 checkWritable() const;

    u64 m_fileOffset;
};

// The single process-wide block that stands for a missing one: never valid, every change is a no-op.
class MBDFNullBlock : public MBDFAbstractBlock
{
public:
    static MBDFNullBlock* getInstance();

    i32 readFromMemory(const u8* image, u32 size, u32* consumed) override;
    i32 copyFrom(const MBDFAbstractBlock& other, bool deep) override;
    i32 setInfo(const u8* bytes, u32 size) override;
    i32 setData(const u8* bytes, u32 size) override;
    i32 clear() override;
    bool isNull() const override;
    bool isValid() const override;
    i32 releaseData() override;
    i32 readFromFile(FileAccessor& file, bool withData, const bool* abort) override;
    i32 writeToFile(FileAccessor& file) override;
    bool isWritable() const override;

private:
    MBDFNullBlock() = default;
};

// "#END" and 20 NUL bytes, no parts.
class MBDFEndBlock : public MBDFAbstractBlock
{
public:
    static constexpr const char* kTag = "#END";
    bool isValid() const override;
    i32 setup();
    // Registers the end block's factory once per process.
    static void registerFactory();
};

// "#KORVAN MBDF" + the file kind; the 36-byte info holds name (16), version word (4, big-endian) and file id (16).
class MBDFTopBlock : public MBDFAbstractBlock
{
public:
    static constexpr const char* kTag = "#KORVAN MBDF";
    static constexpr u32 kTagLength = 12;
    static constexpr u32 kInfoSize = 36;
    static constexpr u32 kFileIdSize = 16;

    bool isValid() const override;
    u32 getTagLength() const override;
    // Every step runs; 0x80000001 when any failed (a null id, a length of 0 or above 16 leaves a zero id).
    i32 setup(const char* kind, const char* name, u32 value, const u8* id, u32 idLength);
    std::string getName() const;
    u32 getValue() const;
    const u8* getFileId() const;
    u32 getFileIdSize() const { return kFileIdSize; }
    static void registerFactory();
};

// Creates blocks of one class for the container's reader.
class IMBDFBlockFactory
{
public:
    virtual MBDFAbstractBlock* createBlock() = 0;
    virtual ~IMBDFBlockFactory() = default;
};

template <class T> class MBDFBlockFactory : public IMBDFBlockFactory
{
public:
    MBDFAbstractBlock* createBlock() override;
};

// 16 bytes: hardware address (6), time in seconds (4, little-endian), two generator values (3 + 3, little-endian).
// Null out or a size below 16: 0x80000000.
i32 makeUniqueFileId(u8* out, u32 size);

} // namespace FILECACHE

#include <new>

template <class T> FILECACHE::MBDFAbstractBlock* FILECACHE::MBDFBlockFactory<T>::createBlock()
{
    return new (std::nothrow) T();
}

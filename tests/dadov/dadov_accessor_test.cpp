#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "dadov_AudioComponentDLLRepository.h"
#include "dadov_Config.h"
#include "dadov_ManagerAccessor.h"
#include "dadov_MeterPool.h"
#include "dadov_TestSupport.h"
#include "logic_TestSupport.h"
#include "parray_ArrayAccessorForServer.h"
#include "pdb_ParameterDBCollection.h"

namespace {

using namespace DADOV;
using logictest::code;

constexpr u32 UID = 21;
constexpr u32 NUM_X = 2;
constexpr u32 NUM_Y = 3;
// TestMixer's blocks.
constexpr u32 GAIN = 0;
constexpr u32 MODE = 1;
constexpr u32 NAME = 2;
constexpr u32 BLOB = 3;
constexpr u32 LEVEL = 4;
constexpr u32 ON = 5;

constexpr u32 NX = 0x10000001; // numX
constexpr u32 NY = 0x20000001; // numY

// The arrays the stores go to: u32 of numX, f32 of numX x numY, f64 of 2 x 2 x 2, u8 and i16 of numX.
const std::vector<u32> ARRAYS = {
    0, NX, 0, 0, 0, 0,  0, 0, 6, NX, NY, 0, 0, 0,  0, 0, 7, 2, 2, 2,
    0, 0,  0, 0, 2, NX, 0, 0, 0, 0,  0,  0, 4, NX, 0, 0, 0, 0, 0, 0,
};
enum : u32 { A_U32, A_F32, A_F64, A_U8, A_I16, ARRAY_COUNT };

std::vector<u32> meter(u32 type, const char* name)
{
    std::vector<u32> words = {type, NX, 0, 0, 0, 0, 0, 0};
    std::memcpy(&words[4], name, std::min<size_t>(std::strlen(name), 16));
    return words;
}

// TestMixer's meters and one of two bytes.
std::vector<u32> meters()
{
    std::vector<u32> all;
    for (const auto& one :
         {meter(6, "level"), meter(6, "gr"), meter(6, "levelX"), meter(0, "peak"), meter(1, "wide")}) {
        all.insert(all.end(), one.begin(), one.end());
    }
    return all;
}
enum : u32 { M_LEVEL, M_GR, M_LEVELX, M_PEAK, M_WIDE, METER_COUNT };

std::vector<u8> bytesOf(PARRAY::ArrayAccessorForServer& set, u32 index)
{
    void* data = nullptr;
    u32 size = 0;
    set.getArray(&data, &size, index);
    const u8* first = static_cast<const u8*>(data);
    return first != nullptr ? std::vector<u8>(first, first + size) : std::vector<u8>();
}

template <typename T> T element(PARRAY::ArrayAccessorForServer& set, u32 index, u32 at)
{
    const std::vector<u8> bytes = bytesOf(set, index);
    T value{};
    if ((at + 1) * sizeof(T) <= bytes.size()) {
        std::memcpy(&value, bytes.data() + at * sizeof(T), sizeof(T));
    }
    return value;
}

class ManagerAccessorTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        logictest::startOsLayer();
        dadovtest::createDatabases(11);
        s_folder = new dadovtest::PluginFolder();
        s_folder->add("TestMixer_2.dll");
        ASSERT_EQ(AudioComponentDLLRepository::getInstance().initialize(s_folder->path().c_str()), 0);
    }
    static void TearDownTestSuite()
    {
        database().clear();
        AudioComponentDLLRepository::getInstance().unloadAll();
        delete s_folder;
    }
    static PDB::IParameterDB& database() { return PDB::ParameterDBCollection::getInstance(10); }

    void SetUp() override
    {
        ASSERT_EQ(addPDBComponent(UID, "TestMixer", 2, NUM_X, NUM_Y, 0), 0);
        ASSERT_EQ(m_arrays.create(ARRAYS.data(), ARRAY_COUNT, NUM_X, NUM_Y), PARRAY::RESULT_OK);
        const std::vector<u32> descriptors = meters();
        ASSERT_EQ(m_meters.initialize(descriptors.data(), METER_COUNT, UID, NUM_X, NUM_Y, 255, 1000), 0);
        m_accessor = createManagerAccessor(UID, NUM_X, NUM_Y, &m_arrays, &m_meters);
        ASSERT_NE(m_accessor, nullptr);
    }
    void TearDown() override
    {
        destroyManagerAccessor(m_accessor);
        database().clear();
    }

    u32 index() const { return database().getComponentIndex(UID); }

    static dadovtest::PluginFolder* s_folder;
    PARRAY::ArrayAccessorForServer m_arrays;
    MeterPool m_meters;
    VEXADManagerAccessor* m_accessor = nullptr;
};

dadovtest::PluginFolder* ManagerAccessorTest::s_folder = nullptr;

std::string text(const VariantType& value)
{
    std::ostringstream out;
    switch (value.getType()) {
    case VariantType::TYPE_UINT:
        out << "u" << value.getUInt();
        break;
    case VariantType::TYPE_INT:
        out << "i" << value.getInt();
        break;
    case VariantType::TYPE_FLOAT:
        out << "f" << value.getFloat();
        break;
    default:
        out << "tag" << value.getType();
    }
    return out.str();
}

template <typename T> std::string text(T value)
{
    std::ostringstream out;
    out << +value;
    return out.str();
}

// Every position as the plug-in sees it; the writes are checked in the component database.
TEST_F(ManagerAccessorTest, EveryPositionAnswersAsDescribed)
{
    VEXADManagerAccessor& a = *m_accessor;
    const u8 bytes[4] = {1, 2, 3, 4};
    const auto info = [&](i32 (VEXADManagerAccessor::*get)(u32, VariantType*)) {
        VariantType value;
        const i32 result = (a.*get)(GAIN, &value);
        return text(result) + " " + text(value);
    };
    const struct
    {
        u32 position;
        std::function<std::string()> call;
        std::string expected;
    } rows[] = {
        {1, [&] { return text(a.getValueUInt(ON, 0, 0)); }, "1"},
        {2, [&] { return text(a.getValueInt(GAIN, 1, 0)); }, "-3"},
        {3, [&] { return text(a.getValueFloat(LEVEL, 0, 0)); }, "0.25"},
        {4, [&] { return text(a.getValueBool(ON, 0, 0)); }, "1"},
        {5,
         [&] {
             char buffer[6] = "#####";
             const i32 result = a.getValueString(NAME, 0, 0, buffer, 4);
             return text(result) + " " + std::string(buffer, 5);
         },
         std::string("0 Mix\0#", 7)},
        {6,
         [&] {
             // The block's elements are 8 bytes: a buffer of 7 is one byte short.
             u8 buffer[9] = {9, 9, 9, 9, 9, 9, 9, 9, 9};
             a.getLocalComponent().setValueBinary(BLOB, 0, 0, bytes, 4, 255);
             const i32 shortResult = a.getValueBinary(BLOB, 0, 0, buffer, 7);
             const bool untouched = std::count(buffer, buffer + 9, 9) == 9;
             const i32 result = a.getValueBinary(BLOB, 0, 0, buffer, 8);
             return text(shortResult) + text(untouched) + " " + text(result) + text(buffer[3]) + text(buffer[4]) +
                    text(buffer[8]);
         },
         "01 0409"},
        {7, [&] { return text(a.getParameterInfoField1(GAIN)); }, "2"},
        {8, [&] { return text(a.getParameterInfoField2(GAIN)); }, "1"},
        {9, [&] { return info(&VEXADManagerAccessor::getParameterInfoValue1); }, "0 i-13800"},
        {10, [&] { return info(&VEXADManagerAccessor::getParameterInfoValue2); }, "0 i1000"},
        {11, [&] { return info(&VEXADManagerAccessor::getParameterInfoValue3); }, "0 i-3"},
        {12, [&] { return info(&VEXADManagerAccessor::getParameterInfoValue4); }, "0 i-10"},
        {13, [&] { return info(&VEXADManagerAccessor::getParameterInfoValue5); }, "0 u1"},
        {14,
         [&] {
             const std::string answer = text(a.setArrayValueUInt(A_U32, 1, 0, 0, 7));
             return answer + text(element<u32>(m_arrays, A_U32, 1));
         },
         "17"},
        {15,
         [&] {
             const std::string answer = text(a.setArrayValueUIntAlias(A_U32, 0, 0, 0, 8));
             return answer + text(element<u32>(m_arrays, A_U32, 0));
         },
         "18"},
        {16,
         [&] {
             const std::string answer = text(a.setArrayValueFloat(A_F32, 1, 2, 0, 1.5f));
             return answer + text(element<f32>(m_arrays, A_F32, 1 * 3 + 2));
         },
         "11.5"},
        {17,
         [&] {
             const std::string answer = text(a.setArrayValueDouble(A_F64, 1, 0, 1, 2.5));
             return answer + text(element<f64>(m_arrays, A_F64, 4 + 1));
         },
         "12.5"},
        {18, [&] { return text(a.touchMeterValue(M_PEAK, 1, 0, 0)); }, "0"},
        {19,
         [&] {
             *a.getMeterValuePointer(M_PEAK, 1, 0, 0) = 77;
             return text(element<u32>(*m_meters.getArraySet(1), M_PEAK, 1));
         },
         "77"},
        {20, [&] { return text(a.getMeterFloat(M_PEAK, 1, 0, 0)); }, "77"},
        {21, [&] { return text(a.getMeterByte2(M_GR, 1, 0, 0)); }, "254"},
        {22, [&] { return text(a.getMeterByte3(M_GR, 1, 0, 0)); }, "0"},
        {23, [&] { return text(a.getMeterByte2OrFE(M_GR, 0, 0, 0)); }, "254"},
        {24,
         [&] {
             const std::string answer = text(a.setValueUInt(MODE, 0, 0, 2));
             return answer + text(database().getValueUInt(index(), MODE, 0, 0, nullptr));
         },
         "02"},
        {25,
         [&] {
             const std::string answer = text(a.setValueInt(GAIN, 1, 0, -7));
             return answer + text(database().getValueInt(index(), GAIN, 1, 0, nullptr));
         },
         "0-7"},
        {26,
         [&] {
             const std::string answer = text(a.setValueFloat(LEVEL, 0, 0, 0.5f));
             return answer + text(database().getValueFloat(index(), LEVEL, 0, 0, nullptr));
         },
         "00.5"},
        {27,
         [&] {
             const std::string answer = text(a.setValueBool(ON, 0, 0, false));
             return answer + text(database().getValueBool(index(), ON, 0, 0, nullptr));
         },
         "00"},
        {28,
         [&] {
             KVariant value;
             const i32 result = a.setValueString(NAME, 0, 0, "Bus");
             database().getValue(value, index(), NAME, 0, 0, nullptr);
             return text(result) + value.getString();
         },
         "0Bus"},
        {29,
         [&] {
             KVariant value;
             const i32 result = a.setValueBinary(BLOB, 0, 0, bytes, 3);
             database().getValue(value, index(), BLOB, 0, 0, nullptr);
             return text(result) + text(value.getBinarySize());
         },
         "08"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.call(), row.expected) << "position " << row.position;
    }
    // Reads stay with the description's values whatever the database holds.
    EXPECT_EQ(a.getValueInt(GAIN, 1, 0), -3);
    EXPECT_EQ(a.getValueUInt(MODE, 0, 0), 0u);
    // A refused database write.
    EXPECT_EQ(a.setValueUInt(MODE, 9, 9, 1), code(0x80000000));
}

TEST_F(ManagerAccessorTest, BufferReadsNeedABufferAndWriteNothingAtSizeZero)
{
    char buffer[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(m_accessor->getValueString(NAME, 0, 0, buffer, 0), 0);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(m_accessor->getValueString(NAME, 0, 0, nullptr, 4), code(0x80000000));
    EXPECT_EQ(m_accessor->getValueBinary(BLOB, 0, 0, nullptr, 4), code(0x80000000));
    VariantType value;
    value.setUInt(5);
    EXPECT_EQ(m_accessor->getParameterInfoValue1(GAIN, nullptr), code(0x80000000));
    EXPECT_EQ(m_accessor->getParameterInfoValue1(99, &value), code(0x80000000)); // no such block: cleared
    EXPECT_EQ(value.getType(), VariantType::TYPE_EMPTY);
}

TEST_F(ManagerAccessorTest, TheFirstStoreIntoAnArrayMarksItOnce)
{
    EXPECT_EQ(m_arrays.getChangedCount(), 0u);
    EXPECT_EQ(m_accessor->setArrayValueFloat(A_F32, 0, 0, 0, 1.0f), 1);
    EXPECT_EQ(m_accessor->setArrayValueFloat(A_F32, 1, 1, 0, 2.0f), 1);
    EXPECT_EQ(m_arrays.getChangedCount(), 1u);
    EXPECT_TRUE(m_arrays.isChanged(A_F32));
    EXPECT_EQ(m_accessor->setArrayValueFloat(A_F32, NUM_X, 0, 0, 3.0f), 1); // stores nothing, marks nothing new
    EXPECT_EQ(m_accessor->setArrayValueUInt(A_U32, 0, 0, NUM_X, 3), 1);     // a 1D array ignores z
    EXPECT_EQ(m_arrays.getChangedCount(), 2u);
    EXPECT_EQ(m_accessor->setArrayValueUInt(A_U8, NUM_X, 0, 0, 3), 1); // out of range: not marked
    EXPECT_FALSE(m_arrays.isChanged(A_U8));
    EXPECT_EQ(m_arrays.getChangedCount(), 2u);
}

// Each store changes at most its element, converted to the array's type; out of range nothing changes.
TEST_F(ManagerAccessorTest, StoresConvertToTheElementTypeAndStayInsideTheArray)
{
    constexpr f64 NaN = std::numeric_limits<f64>::quiet_NaN();
    enum Kind { UINT, FLOAT, DOUBLE };
    const struct
    {
        const char* label;
        Kind kind;
        u32 array, x, y, z;
        f64 value;
        std::int64_t elementIndex; // -1: nothing may change
        f64 expected;
    } rows[] = {
        {"u32 beyond X", UINT, A_U32, NUM_X, 0, 0, 5, -1, 0},
        {"f32 beyond Y", FLOAT, A_F32, 0, NUM_Y, 0, 5, -1, 0},
        {"f64 beyond Z", DOUBLE, A_F64, 1, 1, 2, 5, -1, 0},
        {"no such array", UINT, ARRAY_COUNT, 0, 0, 0, 5, -1, 0},
        {"huge x", FLOAT, A_U8, 0xFFFFFFFF, 0, 0, 5, -1, 0},
        {"u32 into u8 wraps", UINT, A_U8, 1, 0, 0, 0x1FF, 1, 0xFF},
        {"u32 into i16 wraps", UINT, A_I16, 0, 0, 0, 0x18000, 0, -32768},
        {"double into u8 saturates", DOUBLE, A_U8, 0, 0, 0, 1e10, 0, 255},
        {"negative float into u8", FLOAT, A_U8, 1, 0, 0, -1.5, 1, 0},
        {"float into i16 truncates", FLOAT, A_I16, 1, 0, 0, -3.9, 1, -3},
        {"double into i16 saturates", DOUBLE, A_I16, 1, 0, 0, -1e9, 1, -32768},
        {"NaN into u32", DOUBLE, A_U32, 0, 0, 0, NaN, 0, 0},
        {"double into u32 saturates", DOUBLE, A_U32, 1, 0, 0, 5e9, 1, 4294967295.0},
        {"float into u32 truncates", FLOAT, A_U32, 1, 0, 0, 7.9, 1, 7},
        {"u32 into f64", UINT, A_F64, 1, 1, 1, 4000000000.0, 7, 4000000000.0},
        {"double into f32 overflows", DOUBLE, A_F32, 1, 2, 0, 1e300, 5, std::numeric_limits<f64>::infinity()},
    };
    const std::vector<u32> sizes = {4, 4, 8, 1, 2};
    for (const auto& row : rows) {
        std::vector<std::vector<u8>> before;
        for (u32 i = 0; i < ARRAY_COUNT; ++i) {
            before.push_back(bytesOf(m_arrays, i));
        }
        i32 result = 0;
        switch (row.kind) {
        case UINT:
            result = m_accessor->setArrayValueUInt(row.array, row.x, row.y, row.z, static_cast<u32>(row.value));
            break;
        case FLOAT:
            result = m_accessor->setArrayValueFloat(row.array, row.x, row.y, row.z, static_cast<f32>(row.value));
            break;
        case DOUBLE:
            result = m_accessor->setArrayValueDouble(row.array, row.x, row.y, row.z, row.value);
            break;
        }
        EXPECT_EQ(result, 1) << row.label;
        for (u32 i = 0; i < ARRAY_COUNT; ++i) {
            std::vector<u8> after = bytesOf(m_arrays, i);
            const size_t size = sizes[i];
            if (i == row.array && row.elementIndex >= 0) {
                const size_t at = static_cast<size_t>(row.elementIndex) * size;
                ASSERT_LE(at + size, after.size()) << row.label;
                f64 stored = 0;
                switch (i) {
                case A_U32:
                    stored = element<u32>(m_arrays, i, static_cast<u32>(row.elementIndex));
                    break;
                case A_F32:
                    stored = element<f32>(m_arrays, i, static_cast<u32>(row.elementIndex));
                    break;
                case A_F64:
                    stored = element<f64>(m_arrays, i, static_cast<u32>(row.elementIndex));
                    break;
                case A_U8:
                    stored = element<u8>(m_arrays, i, static_cast<u32>(row.elementIndex));
                    break;
                default:
                    stored = element<std::int16_t>(m_arrays, i, static_cast<u32>(row.elementIndex));
                }
                EXPECT_EQ(stored, row.expected) << row.label;
                std::memcpy(after.data() + at, before[i].data() + at, size); // the rest must be as it was
            }
            EXPECT_EQ(after, before[i]) << row.label << ", array " << i;
        }
    }
}

TEST_F(ManagerAccessorTest, MeterReadsOfTheFirstThreeSets)
{
    // The sync thread's writes into sets 2 and 3.
    const f32 levelX = 300.7f;
    const f32 small = 12.9f;
    ASSERT_EQ(m_meters.writeMeterBytes(2, M_LEVEL, 1, "\x2A", 1), 0);
    ASSERT_EQ(m_meters.writeMeterBytes(2, M_LEVELX, 0, &levelX, 4), 0);
    ASSERT_EQ(m_meters.writeMeterBytes(3, M_LEVELX, 4, &small, 4), 0);
    EXPECT_EQ(m_accessor->getMeterByte2(M_LEVEL, 1, 0, 0), 42);
    EXPECT_EQ(m_accessor->getMeterByte2OrFE(M_LEVEL, 1, 0, 0), 42);
    EXPECT_EQ(m_accessor->getMeterByte2(M_LEVELX, 0, 0, 0), 255); // a float element, saturated
    EXPECT_EQ(m_accessor->getMeterByte3(M_LEVELX, 1, 0, 0), 12);  // truncated
    EXPECT_EQ(m_accessor->getMeterByte2(M_GR, 0, 0, 0), 254);
    EXPECT_EQ(m_accessor->getMeterByte3(M_GR, 0, 0, 0), 0);
    // Out of range: the zero element, also where the set would answer 254.
    EXPECT_EQ(m_accessor->getMeterByte2OrFE(METER_COUNT, 0, 0, 0), 0);
    EXPECT_EQ(m_accessor->getMeterByte2OrFE(M_GR, NUM_X, 0, 0), 0);
    EXPECT_EQ(m_accessor->getMeterByte3(M_LEVEL, NUM_X, 0, 0), 0);
    EXPECT_EQ(m_accessor->getMeterFloat(M_LEVEL, NUM_X, 0, 0), 0.0f);

    // Set 1: the plug-in's own 32-bit values.
    f32* level = reinterpret_cast<f32*>(m_accessor->getMeterValuePointer(M_LEVEL, 1, 0, 0));
    *level = -0.5f;
    EXPECT_EQ(m_accessor->getMeterFloat(M_LEVEL, 1, 0, 0), -0.5f);
    EXPECT_EQ(element<f32>(*m_meters.getArraySet(1), M_LEVEL, 1), -0.5f);
    // Elements of another width and addresses out of range give the zero word, zeroed again each time.
    for (const u32 at : {M_WIDE, METER_COUNT}) {
        u32* word = m_accessor->getMeterValuePointer(at, 0, 0, 0);
        ASSERT_NE(word, nullptr);
        EXPECT_EQ(*word, 0u);
        *word = 5;
        EXPECT_EQ(*m_accessor->getMeterValuePointer(M_PEAK, NUM_X, 0, 0), 0u);
        EXPECT_EQ(m_accessor->getMeterValuePointer(M_PEAK, NUM_X, 0, 0), word);
    }
    EXPECT_EQ(bytesOf(*m_meters.getArraySet(1), M_WIDE), std::vector<u8>(NUM_X * 2, 0));

    // Without meter sets: null pointer, 0.0, 0 and 254.
    VEXADManagerAccessor* bare = createManagerAccessor(UID, NUM_X, NUM_Y, nullptr, nullptr);
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->getMeterValuePointer(0, 0, 0, 0), nullptr);
    EXPECT_EQ(bare->getMeterFloat(0, 0, 0, 0), 0.0f);
    EXPECT_EQ(bare->getMeterByte2(0, 0, 0, 0), 0);
    EXPECT_EQ(bare->getMeterByte2OrFE(0, 0, 0, 0), 254);
    EXPECT_EQ(bare->setArrayValueUInt(0, 0, 0, 0, 1), 1);
    destroyManagerAccessor(bare);
}

TEST_F(ManagerAccessorTest, TheComponentIsReservedForTheAccessorsLife)
{
    EXPECT_TRUE(database().isReserved(UID));
    EXPECT_EQ(m_accessor->getUniqID(), UID);
    EXPECT_EQ(m_accessor->getComponentIndex(), index());
    destroyManagerAccessor(m_accessor);
    m_accessor = nullptr;
    EXPECT_FALSE(database().isReserved(UID));
    // A uid the database does not hold gives no accessor and no reservation.
    EXPECT_EQ(createManagerAccessor(UID + 1, NUM_X, NUM_Y, &m_arrays, &m_meters), nullptr);
    EXPECT_FALSE(database().isReserved(UID + 1));
}

} // namespace

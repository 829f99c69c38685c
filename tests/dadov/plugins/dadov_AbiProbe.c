/* A plug-in written in C with tables of function pointers: it pins the operation positions of the plug-in
 * interfaces and of the three host accessors independently of the C++ declarations.
 *
 * Parameter information: operations 15, 16, 21, 27, 28 and 29 answer 1000 + their position, 25 answers false and
 * 26 true (so only the change hook runs), 23 gives the description "AbiProbe" version 1. When "/Go" changes,
 * operation 29 calls every position of the database accessor it is given and records each position whose answer
 * differs from what the description and the writes make it (bit n = position n).
 *
 * Coefficient calculation: three arrays (u32, f32, f64 of 2) and two meters ("peak" u32, "gr" f32, 2 each); its
 * set-up (29) calls every position of the manager accessor and, through the logic accessor kept from the logic
 * control's operation 26, every position of that; operation 26 itself checks positions 10 to 31 of the logic
 * accessor while there is no manager accessor. The logic control has one input (kind 2, 0..10) and three outputs
 * (kind 2, 0..10; kind 7; kind 8, whose trigger count reads back as unsigned).
 *
 * Every unused position records that it was called. */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#define PROBE_EXPORT __attribute__((visibility("default")))

#pragma pack(push, 4)
typedef struct
{
    uint64_t value;
    uint8_t* buffer;
    uint32_t type;
    uint32_t capacity;
    uint32_t byteCount;
} VariantType;
#pragma pack(pop)

_Static_assert(sizeof(VariantType) == 28, "the value crossing the interfaces is 28 bytes");

enum { BLOCK_U, BLOCK_I, BLOCK_F, BLOCK_B, BLOCK_S, BLOCK_BIN, BLOCK_GO };

static const char DESCRIPTION[] =
    "{\"component\": {\"name\": \"AbiProbe\", \"majorVer\": 1},"
    " \"parameters\": ["
    "{\"strAddress\": \"/U\", \"type\": \"UINT32\", \"patternX\": \"2\", \"min\": \"1\", \"max\": \"100\","
    " \"def\": \"7\", \"nominal\": \"9\", \"step\": \"2\"},"
    "{\"strAddress\": \"/I\", \"type\": \"SINT32\", \"min\": \"-100\", \"max\": \"100\", \"def\": \"-5\"},"
    "{\"strAddress\": \"/F\", \"type\": \"FLOAT\", \"min\": \"-10\", \"max\": \"10\", \"def\": \"1.5\"},"
    "{\"strAddress\": \"/B\", \"type\": \"BOOL\", \"min\": \"0\", \"max\": \"1\", \"def\": \"1\"},"
    "{\"strAddress\": \"/S\", \"type\": \"STRING\", \"max\": \"8\", \"def\": \"abc\"},"
    "{\"strAddress\": \"/Bin\", \"type\": \"BINARY\", \"max\": \"4\"},"
    "{\"strAddress\": \"/Go\", \"type\": \"UINT8\", \"min\": \"0\", \"max\": \"9\"}]}";

/* The database accessor's table, position by position. */
typedef struct Accessor Accessor;
typedef uint32_t (*GetUIntFn)(Accessor*, uint32_t, uint32_t, uint32_t);
typedef int32_t (*GetIntFn)(Accessor*, uint32_t, uint32_t, uint32_t);
typedef float (*GetFloatFn)(Accessor*, uint32_t, uint32_t, uint32_t);
typedef _Bool (*GetBoolFn)(Accessor*, uint32_t, uint32_t, uint32_t);
typedef int32_t (*GetTextFn)(Accessor*, uint32_t, uint32_t, uint32_t, char*, uint32_t);
typedef int32_t (*GetBytesFn)(Accessor*, uint32_t, uint32_t, uint32_t, uint8_t*, uint32_t);
typedef int32_t (*SetUIntFn)(Accessor*, uint32_t, uint32_t, uint32_t, uint32_t);
typedef int32_t (*SetIntFn)(Accessor*, uint32_t, uint32_t, uint32_t, int32_t);
typedef int32_t (*SetFloatFn)(Accessor*, uint32_t, uint32_t, uint32_t, float);
typedef int32_t (*SetBoolFn)(Accessor*, uint32_t, uint32_t, uint32_t, _Bool);
typedef int32_t (*SetTextFn)(Accessor*, uint32_t, uint32_t, uint32_t, const char*);
typedef int32_t (*SetBytesFn)(Accessor*, uint32_t, uint32_t, uint32_t, const void*, uint32_t);
typedef uint32_t (*FieldFn)(Accessor*, uint32_t);
typedef int32_t (*InfoValueFn)(Accessor*, uint32_t, VariantType*);

struct Accessor
{
    void** table;
};

static uint32_t g_mismatches;
static uint32_t g_checksRun;
static uint32_t g_unexpectedCalls;

static void expect(int position, int ok)
{
    if (!ok) {
        g_mismatches |= 1u << position;
    }
}

static void checkInfoValue(Accessor* a, int position, uint32_t expected)
{
    VariantType value;
    memset(&value, 0, sizeof(value));
    int32_t result = ((InfoValueFn)a->table[position])(a, BLOCK_U, &value);
    expect(position, result == 0 && value.type == 1 && (uint32_t)value.value == expected);
}

static void checkAccessor(Accessor* a)
{
    void** t = a->table;
    char text[8];
    uint8_t bytes[4] = {0};
    static const uint8_t written[4] = {1, 2, 3, 4};

    expect(1, ((GetUIntFn)t[1])(a, BLOCK_U, 0, 0) == 7);
    expect(2, ((GetIntFn)t[2])(a, BLOCK_I, 0, 0) == -5);
    expect(3, ((GetFloatFn)t[3])(a, BLOCK_F, 0, 0) == 1.5f);
    expect(4, ((GetBoolFn)t[4])(a, BLOCK_B, 0, 0) == 1);
    memset(text, 'x', sizeof(text));
    expect(5, ((GetTextFn)t[5])(a, BLOCK_S, 0, 0, text, sizeof(text)) == 0 && strcmp(text, "abc") == 0);

    expect(7, ((SetUIntFn)t[7])(a, BLOCK_U, 0, 0, 8) == 0 && ((GetUIntFn)t[1])(a, BLOCK_U, 0, 0) == 8);
    expect(8, ((SetIntFn)t[8])(a, BLOCK_I, 0, 0, -6) == 0 && ((GetIntFn)t[2])(a, BLOCK_I, 0, 0) == -6);
    expect(9, ((SetFloatFn)t[9])(a, BLOCK_F, 0, 0, 2.5f) == 0 && ((GetFloatFn)t[3])(a, BLOCK_F, 0, 0) == 2.5f);
    expect(10, ((SetBoolFn)t[10])(a, BLOCK_B, 0, 0, 0) == 0 && ((GetBoolFn)t[4])(a, BLOCK_B, 0, 0) == 0);
    memset(text, 'x', sizeof(text));
    expect(11, ((SetTextFn)t[11])(a, BLOCK_S, 0, 0, "xyz") == 0 &&
                   ((GetTextFn)t[5])(a, BLOCK_S, 0, 0, text, sizeof(text)) == 0 && strcmp(text, "xyz") == 0);
    expect(12, ((SetBytesFn)t[12])(a, BLOCK_BIN, 0, 0, written, sizeof(written)) == 0);
    expect(6, ((GetBytesFn)t[6])(a, BLOCK_BIN, 0, 0, bytes, sizeof(bytes)) == 0 &&
                  memcmp(bytes, written, sizeof(bytes)) == 0);

    expect(13, ((FieldFn)t[13])(a, BLOCK_U) == 2);
    expect(14, ((FieldFn)t[14])(a, BLOCK_U) == 1);
    checkInfoValue(a, 15, 1);
    checkInfoValue(a, 16, 100);
    checkInfoValue(a, 17, 7);
    checkInfoValue(a, 18, 9);
    checkInfoValue(a, 19, 2);
    ++g_checksRun;
}

/* The parameter-information object: operations 0 to 29. */
typedef struct ParamInfo ParamInfo;
struct ParamInfo
{
    void** table;
    uint32_t references;
};

static const uint8_t PARAM_INFO_ID[16] = {0x49, 0xA5, 0xE6, 0x6A, 0x9A, 0x3E, 0xE9, 0x42,
                                          0xAE, 0xF4, 0x6C, 0x8C, 0x9E, 0x8C, 0x67, 0x66};

static void* query(ParamInfo* self, const uint8_t* id)
{
    if (id == NULL || memcmp(id, PARAM_INFO_ID, sizeof(PARAM_INFO_ID)) != 0) {
        return NULL;
    }
    ++self->references;
    return self;
}

static uint32_t release(ParamInfo* self)
{
    return --self->references;
}

static uint32_t unexpected(ParamInfo* self)
{
    (void)self;
    ++g_unexpectedCalls;
    return 0xDEAD;
}

static uint32_t numInPort(ParamInfo* self, uint32_t uid, uint32_t x, uint32_t y)
{
    (void)self, (void)uid, (void)x, (void)y;
    return 1015;
}

static uint32_t numOutPort(ParamInfo* self, uint32_t uid, uint32_t x, uint32_t y)
{
    (void)self, (void)uid, (void)x, (void)y;
    return 1016;
}

static int32_t resourceSize(ParamInfo* self, uint32_t uid, uint32_t x, uint32_t y, const char* dsp, uint32_t fs,
                            uint32_t samples, const char* resource)
{
    (void)self, (void)uid, (void)x, (void)y, (void)dsp, (void)fs, (void)samples, (void)resource;
    return 1021;
}

static const char* description(ParamInfo* self)
{
    (void)self;
    return DESCRIPTION;
}

static _Bool rangeHookWanted(ParamInfo* self)
{
    (void)self;
    return 0;
}

static _Bool changeHookWanted(ParamInfo* self)
{
    (void)self;
    return 1;
}

static int32_t rangeHook(ParamInfo* self, Accessor* a, uint32_t block, uint32_t x, uint32_t y, VariantType* first,
                         VariantType* second)
{
    (void)self, (void)a, (void)block, (void)x, (void)y, (void)first, (void)second;
    return 1027;
}

static int32_t valueHook(ParamInfo* self, Accessor* a, uint32_t block, uint32_t x, uint32_t y, VariantType* value)
{
    (void)self, (void)a, (void)block, (void)x, (void)y, (void)value;
    return 1028;
}

static int32_t changeHook(ParamInfo* self, Accessor* a, uint32_t block, uint32_t x, uint32_t y,
                          const VariantType* first, const VariantType* second)
{
    (void)self, (void)x, (void)y, (void)first, (void)second;
    if (block == BLOCK_GO && a != NULL) {
        checkAccessor(a);
    }
    return 1029;
}

static void* g_table[30];
static ParamInfo g_paramInfo = {g_table, 0};

static void fillTable(void)
{
    for (size_t i = 0; i < sizeof(g_table) / sizeof(g_table[0]); ++i) {
        g_table[i] = (void*)unexpected;
    }
    g_table[0] = (void*)query;
    g_table[2] = (void*)release;
    g_table[15] = (void*)numInPort;
    g_table[16] = (void*)numOutPort;
    g_table[21] = (void*)resourceSize;
    g_table[23] = (void*)description;
    g_table[25] = (void*)rangeHookWanted;
    g_table[26] = (void*)changeHookWanted;
    g_table[27] = (void*)rangeHook;
    g_table[28] = (void*)valueHook;
    g_table[29] = (void*)changeHook;
}

/* ------------------------------------------------------------------------------------------------------------
 * The manager and logic accessors.
 * ------------------------------------------------------------------------------------------------------------ */

enum { ARRAY_U32, ARRAY_F32, ARRAY_F64 };
enum { METER_PEAK, METER_GR };

typedef int32_t (*SetArrayUIntFn)(Accessor*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);
typedef int32_t (*SetArrayFloatFn)(Accessor*, uint32_t, uint32_t, uint32_t, uint32_t, float);
typedef int32_t (*SetArrayDoubleFn)(Accessor*, uint32_t, uint32_t, uint32_t, uint32_t, double);
typedef int32_t (*MeterTouchFn)(Accessor*, uint32_t, uint32_t, uint32_t, uint32_t);
typedef uint32_t* (*MeterPointerFn)(Accessor*, uint32_t, uint32_t, uint32_t, uint32_t);
typedef float (*MeterFloatFn)(Accessor*, uint32_t, uint32_t, uint32_t, uint32_t);
typedef uint8_t (*MeterByteFn)(Accessor*, uint32_t, uint32_t, uint32_t, uint32_t);
typedef int32_t (*PortDataFn)(Accessor*, uint32_t, uint32_t*, VariantType*, float*, uint8_t*);
typedef int32_t (*PortFloatFn)(Accessor*, uint32_t, float);
typedef int32_t (*PortUIntFn)(Accessor*, uint32_t, uint32_t);
typedef int32_t (*PortIntFn)(Accessor*, uint32_t, int32_t);
typedef int32_t (*PortTextFn)(Accessor*, uint32_t, const char*);
typedef int32_t (*PortFn)(Accessor*, uint32_t);
typedef int32_t (*RequestFn)(Accessor*);

#define FAILED ((int32_t)0x80000000u)

static uint32_t g_managerMismatches;
static uint32_t g_logicMismatches;
static uint32_t g_idleMismatches;
static uint32_t g_useChecksRun;
static uint32_t g_idleChecksRun;
static Accessor* g_logicAccessor;

static void expectIn(uint32_t* mask, int position, int ok)
{
    if (!ok) {
        *mask |= 1u << position;
    }
}

static int infoValueIs(Accessor* a, int position, uint32_t expected)
{
    VariantType value;
    memset(&value, 0, sizeof(value));
    int32_t result = ((InfoValueFn)a->table[position])(a, BLOCK_U, &value);
    return result == 0 && value.type == 1 && (uint32_t)value.value == expected;
}

/* Reads of the description's values at manager positions 1-13 or, shifted by 9, logic positions 10-22. */
static void checkReads(Accessor* a, int shift, uint32_t* mask)
{
    void** t = a->table;
    char text[8];
    uint8_t bytes[4] = {9, 9, 9, 9};
    expectIn(mask, 1 + shift, ((GetUIntFn)t[1 + shift])(a, BLOCK_U, 0, 0) == 7);
    expectIn(mask, 2 + shift, ((GetIntFn)t[2 + shift])(a, BLOCK_I, 0, 0) == -5);
    expectIn(mask, 3 + shift, ((GetFloatFn)t[3 + shift])(a, BLOCK_F, 0, 0) == 1.5f);
    expectIn(mask, 4 + shift, ((GetBoolFn)t[4 + shift])(a, BLOCK_B, 0, 0) == 1);
    memset(text, 'x', sizeof(text));
    expectIn(mask, 5 + shift,
             ((GetTextFn)t[5 + shift])(a, BLOCK_S, 0, 0, text, sizeof(text)) == 0 && strcmp(text, "abc") == 0);
    expectIn(mask, 6 + shift,
             ((GetBytesFn)t[6 + shift])(a, BLOCK_BIN, 0, 0, bytes, sizeof(bytes)) == 0 &&
                 ((GetBytesFn)t[6 + shift])(a, BLOCK_BIN, 0, 0, NULL, sizeof(bytes)) == FAILED);
    expectIn(mask, 7 + shift, ((FieldFn)t[7 + shift])(a, BLOCK_U) == 2);
    expectIn(mask, 8 + shift, ((FieldFn)t[8 + shift])(a, BLOCK_U) == 1);
    expectIn(mask, 9 + shift, infoValueIs(a, 9 + shift, 1));
    expectIn(mask, 10 + shift, infoValueIs(a, 10 + shift, 100));
    expectIn(mask, 11 + shift, infoValueIs(a, 11 + shift, 7));
    expectIn(mask, 12 + shift, infoValueIs(a, 12 + shift, 9));
    expectIn(mask, 13 + shift, infoValueIs(a, 13 + shift, 2));
}

/* Database writes at manager positions 24-29 or, shifted by 2, logic positions 26-31; "/U" element x gets
 * base + 8. */
static void checkWrites(Accessor* a, int shift, uint32_t* mask, uint32_t x, uint32_t base)
{
    void** t = a->table;
    static const uint8_t written[4] = {1, 2, 3, 4};
    expectIn(mask, 24 + shift, ((SetUIntFn)t[24 + shift])(a, BLOCK_U, x, 0, base + 8) == 0);
    expectIn(mask, 25 + shift, ((SetIntFn)t[25 + shift])(a, BLOCK_I, 0, 0, -(int32_t)base - 6) == 0);
    expectIn(mask, 26 + shift, ((SetFloatFn)t[26 + shift])(a, BLOCK_F, 0, 0, 2.5f) == 0);
    expectIn(mask, 27 + shift, ((SetBoolFn)t[27 + shift])(a, BLOCK_B, 0, 0, 0) == 0);
    expectIn(mask, 28 + shift, ((SetTextFn)t[28 + shift])(a, BLOCK_S, 0, 0, base == 0 ? "xyz" : "uvw") == 0);
    expectIn(mask, 29 + shift, ((SetBytesFn)t[29 + shift])(a, BLOCK_BIN, 0, 0, written, sizeof(written)) == 0);
}

static void checkManager(Accessor* a)
{
    void** t = a->table;
    uint32_t* peak;
    checkReads(a, 0, &g_managerMismatches);
    expectIn(&g_managerMismatches, 14, ((SetArrayUIntFn)t[14])(a, ARRAY_U32, 1, 0, 0, 5) == 1);
    expectIn(&g_managerMismatches, 15, ((SetArrayUIntFn)t[15])(a, ARRAY_U32, 0, 0, 0, 6) == 1);
    expectIn(&g_managerMismatches, 16, ((SetArrayFloatFn)t[16])(a, ARRAY_F32, 1, 0, 0, 2.5f) == 1);
    expectIn(&g_managerMismatches, 17, ((SetArrayDoubleFn)t[17])(a, ARRAY_F64, 0, 0, 0, 3.5) == 1);
    expectIn(&g_managerMismatches, 18, ((MeterTouchFn)t[18])(a, METER_PEAK, 1, 0, 0) == 0);
    peak = ((MeterPointerFn)t[19])(a, METER_PEAK, 1, 0, 0);
    expectIn(&g_managerMismatches, 19, peak != NULL);
    if (peak != NULL) {
        *peak = 123;
    }
    expectIn(&g_managerMismatches, 20, ((MeterFloatFn)t[20])(a, METER_PEAK, 1, 0, 0) == 123.0f);
    expectIn(&g_managerMismatches, 21, ((MeterByteFn)t[21])(a, METER_GR, 0, 0, 0) == 254);
    expectIn(&g_managerMismatches, 22, ((MeterByteFn)t[22])(a, METER_GR, 0, 0, 0) == 0);
    expectIn(&g_managerMismatches, 23, ((MeterByteFn)t[23])(a, METER_GR, 1, 0, 0) == 254);
    checkWrites(a, 0, &g_managerMismatches, 1, 0);
}

static void checkLogic(Accessor* a)
{
    void** t = a->table;
    uint32_t kind = 0;
    VariantType value;
    char textBuffer[8];
    float normalized = -1.0f;
    uint8_t changed = 9;
    memset(&value, 0, sizeof(value));
    value.buffer = (uint8_t*)textBuffer; /* the host writes texts into the caller's buffer */
    value.capacity = sizeof(textBuffer);

    expectIn(&g_logicMismatches, 1,
             ((PortDataFn)t[1])(a, 0, &kind, &value, &normalized, &changed) == 0 && kind == 2 && value.type == 1);
    expectIn(&g_logicMismatches, 3, ((PortFloatFn)t[3])(a, 0, 0.5f) == 0);
    expectIn(&g_logicMismatches, 4, ((PortUIntFn)t[4])(a, 0, 3) == 0);
    expectIn(&g_logicMismatches, 2,
             ((PortDataFn)t[2])(a, 0, &kind, &value, &normalized, &changed) == 0 && kind == 2 && value.type == 1 &&
                 (uint32_t)value.value == 3 && changed == 1);
    expectIn(&g_logicMismatches, 5, ((PortIntFn)t[5])(a, 0, 4) == 0);
    expectIn(&g_logicMismatches, 6, ((PortFloatFn)t[6])(a, 0, 5.0f) == 0);
    expectIn(&g_logicMismatches, 7,
             ((PortTextFn)t[7])(a, 1, "t") == 0 && ((PortDataFn)t[2])(a, 1, &kind, &value, NULL, NULL) == 0 &&
                 kind == 7 && value.type == 7 && strcmp(textBuffer, "t") == 0);
    expectIn(&g_logicMismatches, 8,
             ((PortFn)t[8])(a, 0) == 0 && ((PortFn)t[8])(a, 2) == 0 && ((PortFn)t[8])(a, 2) == 0 &&
                 ((PortDataFn)t[2])(a, 2, &kind, &value, NULL, &changed) == 0 && kind == 8 && value.type == 1 &&
                 (uint32_t)value.value == 2 && changed == 1 && ((PortFn)t[8])(a, 3) == (int32_t)0x80000001u);
    expectIn(&g_logicMismatches, 9, ((RequestFn)t[9])(a) == 0);
    checkReads(a, 9, &g_logicMismatches);
    expectIn(&g_logicMismatches, 23, ((MeterByteFn)t[23])(a, METER_GR, 0, 0, 0) == 254);
    expectIn(&g_logicMismatches, 24, ((MeterByteFn)t[24])(a, METER_GR, 0, 0, 0) == 0);
    expectIn(&g_logicMismatches, 25, ((MeterByteFn)t[25])(a, METER_GR, 1, 0, 0) == 254);
    checkWrites(a, 2, &g_logicMismatches, 0, 50);
}

/* Positions 10-31 while the instance has no manager accessor. */
static void checkIdleLogic(Accessor* a)
{
    void** t = a->table;
    char text[4] = "##";
    uint8_t bytes[2] = {0};
    int position;
    expectIn(&g_idleMismatches, 10, ((GetUIntFn)t[10])(a, BLOCK_U, 0, 0) == 0);
    expectIn(&g_idleMismatches, 11, ((GetIntFn)t[11])(a, BLOCK_I, 0, 0) == 0);
    expectIn(&g_idleMismatches, 12, ((GetFloatFn)t[12])(a, BLOCK_F, 0, 0) == 0.0f);
    expectIn(&g_idleMismatches, 13, ((GetBoolFn)t[13])(a, BLOCK_B, 0, 0) == 0);
    expectIn(&g_idleMismatches, 14, ((GetTextFn)t[14])(a, BLOCK_S, 0, 0, text, sizeof(text)) == FAILED);
    expectIn(&g_idleMismatches, 15, ((GetBytesFn)t[15])(a, BLOCK_BIN, 0, 0, bytes, sizeof(bytes)) == FAILED);
    expectIn(&g_idleMismatches, 16, ((FieldFn)t[16])(a, BLOCK_U) == 0);
    expectIn(&g_idleMismatches, 17, ((FieldFn)t[17])(a, BLOCK_U) == 0);
    for (position = 18; position <= 22; ++position) {
        VariantType value;
        memset(&value, 0, sizeof(value));
        value.type = 1;
        expectIn(&g_idleMismatches, position,
                 ((InfoValueFn)t[position])(a, BLOCK_U, &value) == FAILED && value.type == 0);
    }
    expectIn(&g_idleMismatches, 23, ((MeterByteFn)t[23])(a, 0, 0, 0, 0) == 0);
    expectIn(&g_idleMismatches, 24, ((MeterByteFn)t[24])(a, 0, 0, 0, 0) == 0);
    expectIn(&g_idleMismatches, 25, ((MeterByteFn)t[25])(a, 0, 0, 0, 0) == 254);
    expectIn(&g_idleMismatches, 26, ((SetUIntFn)t[26])(a, BLOCK_U, 0, 0, 1) == FAILED);
    expectIn(&g_idleMismatches, 27, ((SetIntFn)t[27])(a, BLOCK_I, 0, 0, 1) == FAILED);
    expectIn(&g_idleMismatches, 28, ((SetFloatFn)t[28])(a, BLOCK_F, 0, 0, 1.0f) == FAILED);
    expectIn(&g_idleMismatches, 29, ((SetBoolFn)t[29])(a, BLOCK_B, 0, 0, 1) == FAILED);
    expectIn(&g_idleMismatches, 30, ((SetTextFn)t[30])(a, BLOCK_S, 0, 0, "x") == FAILED);
    expectIn(&g_idleMismatches, 31, ((SetBytesFn)t[31])(a, BLOCK_BIN, 0, 0, bytes, 1) == FAILED);
}

/* ------------------------------------------------------------------------------------------------------------
 * The coefficient-calculation and logic-control objects (static, reference-counted like any other).
 * ------------------------------------------------------------------------------------------------------------ */

typedef struct Object Object;
struct Object
{
    void** table;
    uint32_t references;
};

static const uint8_t CALC_COEF_ID[16] = {0xC4, 0x38, 0xFA, 0x6C, 0xD2, 0x23, 0x69, 0x48,
                                         0x84, 0xF6, 0x28, 0x8D, 0x42, 0x0A, 0xE4, 0x62};
static const uint8_t LOGIC_CONTROL_ID[16] = {0x60, 0xAE, 0xDD, 0x2D, 0x16, 0xC3, 0xF8, 0x44,
                                             0xBC, 0x36, 0x27, 0x07, 0xB3, 0x5F, 0xB2, 0xD9};

static void* queryCoef(Object* self, const uint8_t* id)
{
    if (id == NULL || memcmp(id, CALC_COEF_ID, sizeof(CALC_COEF_ID)) != 0) {
        return NULL;
    }
    ++self->references;
    return self;
}

static void* queryLogic(Object* self, const uint8_t* id)
{
    if (id == NULL || memcmp(id, LOGIC_CONTROL_ID, sizeof(LOGIC_CONTROL_ID)) != 0) {
        return NULL;
    }
    ++self->references;
    return self;
}

static uint32_t releaseObject(Object* self)
{
    return --self->references;
}

static uint32_t unexpectedObject(Object* self)
{
    (void)self;
    ++g_unexpectedCalls;
    return 0xDEAD;
}

static const uint32_t ARRAY_DESCRIPTORS[] = {0, 2, 0, 0, 0, 0, 0, 0, 6, 2, 0, 0, 0, 0, 0, 0, 7, 2, 0, 0, 0, 0, 0, 0};
/* Names in words 4-7: "peak" and "gr", little-endian. */
static const uint32_t METER_DESCRIPTORS[] = {0, 2, 0, 0, 0x6B616570, 0, 0, 0, 6, 2, 0, 0, 0x7267, 0, 0, 0};

static int32_t arrays(Object* self, const uint32_t** descriptors, uint32_t* count)
{
    (void)self;
    *descriptors = ARRAY_DESCRIPTORS;
    *count = 3;
    return 0;
}

static int32_t meters(Object* self, const uint32_t** descriptors, uint32_t* count)
{
    (void)self;
    *descriptors = METER_DESCRIPTORS;
    *count = 2;
    return 0;
}

static int32_t setup(Object* self, Accessor* manager, uint32_t uid, uint32_t x, uint32_t y, uint32_t r1, uint32_t r2,
                     uint32_t samples, uint32_t fs)
{
    (void)self, (void)uid, (void)x, (void)y, (void)r1, (void)r2, (void)samples, (void)fs;
    if (manager != NULL) {
        checkManager(manager);
    }
    if (g_logicAccessor != NULL) {
        checkLogic(g_logicAccessor);
    }
    ++g_useChecksRun;
    return 1029;
}

static int32_t samplingRate(Object* self, uint32_t fs)
{
    (void)self, (void)fs;
    return 1030;
}

static int32_t processingValue(Object* self)
{
    (void)self;
    return 1039;
}

static int32_t startUse(Object* self)
{
    (void)self;
    return 1043;
}

static int32_t logicAccessor(Object* self, Accessor* accessor, uint32_t uid, uint32_t x, uint32_t y)
{
    (void)self, (void)uid, (void)x, (void)y;
    g_logicAccessor = accessor;
    if (accessor != NULL) {
        checkIdleLogic(accessor);
        ++g_idleChecksRun;
    }
    return 0;
}

static int32_t logicInfo(Object* self, _Bool* hasLogic, uint32_t* interval)
{
    (void)self;
    *hasLogic = 1;
    *interval = 0;
    return 0;
}

static uint32_t inputCount(Object* self)
{
    (void)self;
    return 1;
}

static uint32_t outputCount(Object* self)
{
    (void)self;
    return 3;
}

static void describePort(VariantType* port, uint32_t kind)
{
    VariantType* minValue = (VariantType*)((uint8_t*)port + 60);
    VariantType* maxValue = (VariantType*)((uint8_t*)port + 88);
    memcpy((uint8_t*)port + 28, &kind, sizeof(kind));
    if (kind == 2) {
        minValue->type = 1;
        minValue->value = 0;
        maxValue->type = 1;
        maxValue->value = 10;
    }
}

/* A port descriptor is 116 bytes: name (28), kind (4), expression name (28), minimum (28), maximum (28). */
static int32_t inputPorts(Object* self, uint8_t* ports, uint32_t count)
{
    (void)self;
    if (count == 1) {
        describePort((VariantType*)ports, 2);
    }
    return 0;
}

static int32_t outputPorts(Object* self, uint8_t* ports, uint32_t count)
{
    (void)self;
    if (count == 3) {
        describePort((VariantType*)ports, 2);
        describePort((VariantType*)(ports + 116), 7);
        describePort((VariantType*)(ports + 232), 8);
    }
    return 0;
}

static _Bool logicReady(Object* self)
{
    (void)self;
    return 0;
}

static int32_t processStep(Object* self, uint64_t argument, uint32_t mode, uint32_t flags)
{
    (void)self, (void)argument, (void)mode, (void)flags;
    return 0;
}

static void* g_coefTable[44];
static void* g_logicTable[34];
static Object g_calcCoef = {g_coefTable, 0};
static Object g_logicControl = {g_logicTable, 0};

static void fillObjectTables(void)
{
    size_t i;
    for (i = 0; i < sizeof(g_coefTable) / sizeof(g_coefTable[0]); ++i) {
        g_coefTable[i] = (void*)unexpectedObject;
    }
    for (i = 0; i < sizeof(g_logicTable) / sizeof(g_logicTable[0]); ++i) {
        g_logicTable[i] = (void*)unexpectedObject;
    }
    g_coefTable[0] = (void*)queryCoef;
    g_coefTable[2] = (void*)releaseObject;
    g_coefTable[13] = (void*)arrays;
    g_coefTable[14] = (void*)meters;
    g_coefTable[29] = (void*)setup;
    g_coefTable[30] = (void*)samplingRate;
    g_coefTable[39] = (void*)processingValue;
    g_coefTable[43] = (void*)startUse;
    g_logicTable[0] = (void*)queryLogic;
    g_logicTable[2] = (void*)releaseObject;
    g_logicTable[26] = (void*)logicAccessor;
    g_logicTable[27] = (void*)logicInfo;
    g_logicTable[28] = (void*)inputCount;
    g_logicTable[29] = (void*)outputCount;
    g_logicTable[30] = (void*)inputPorts;
    g_logicTable[31] = (void*)outputPorts;
    g_logicTable[32] = (void*)logicReady;
    g_logicTable[33] = (void*)processStep;
}

/* Every factory hands out its one static object; the host queries and releases it like any other. */
PROBE_EXPORT void* createParamInfoFunction(void)
{
    fillTable();
    ++g_paramInfo.references;
    return &g_paramInfo;
}

PROBE_EXPORT void* createCalcCoefFunction(void)
{
    fillObjectTables();
    ++g_calcCoef.references;
    return &g_calcCoef;
}

PROBE_EXPORT void* createLogicControlFunction(void)
{
    fillObjectTables();
    ++g_logicControl.references;
    return &g_logicControl;
}

PROBE_EXPORT void* createAudioProcessFunction(void)
{
    return NULL;
}

PROBE_EXPORT uint32_t abiProbeMismatches(void)
{
    return g_mismatches;
}

PROBE_EXPORT uint32_t abiProbeChecksRun(void)
{
    return g_checksRun;
}

PROBE_EXPORT uint32_t abiProbeUnexpectedCalls(void)
{
    return g_unexpectedCalls;
}

PROBE_EXPORT uint32_t abiProbeReferences(void)
{
    return g_paramInfo.references;
}

PROBE_EXPORT uint32_t abiProbeManagerMismatches(void)
{
    return g_managerMismatches;
}

PROBE_EXPORT uint32_t abiProbeLogicMismatches(void)
{
    return g_logicMismatches;
}

PROBE_EXPORT uint32_t abiProbeIdleLogicMismatches(void)
{
    return g_idleMismatches;
}

PROBE_EXPORT uint32_t abiProbeUseChecksRun(void)
{
    return g_useChecksRun;
}

PROBE_EXPORT uint32_t abiProbeIdleChecksRun(void)
{
    return g_idleChecksRun;
}

/* References the host holds on the coefficient and logic objects. */
PROBE_EXPORT uint32_t abiProbeInstanceReferences(void)
{
    return g_calcCoef.references + g_logicControl.references;
}

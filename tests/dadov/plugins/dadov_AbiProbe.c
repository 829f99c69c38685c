/* A plug-in written in C with tables of function pointers: it pins the operation positions of the parameter-
 * information interface and of the database accessor independently of the C++ declarations.
 *
 * Its operations 15, 16, 21, 27, 28 and 29 answer 1000 + their position, 25 answers false and 26 true (so only the
 * change hook runs), 23 gives the description "AbiProbe" version 1. Every unused position records that it was
 * called. When "/Go" changes, operation 29 calls every position of the database accessor it is given and records
 * each position whose answer differs from what the description and the writes make it (bit n = position n). */
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

/* Every factory hands out the one static object; the host queries and releases it like any other. */
PROBE_EXPORT void* createParamInfoFunction(void)
{
    fillTable();
    ++g_paramInfo.references;
    return &g_paramInfo;
}

PROBE_EXPORT void* createCalcCoefFunction(void)
{
    return NULL;
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

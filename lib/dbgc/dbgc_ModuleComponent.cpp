// The Component and PDB modules: message commands to the application threads and direct access to the
// component database.
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "dbgc_HelpText.h"
#include "dbgc_Modules.h"
#include "dbgc_Result.h"
#include "klib_Print.h"
#include "pdb_IParameterDB.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_ParameterInfo.h"
#include "tms_Message.h"
#include "tms_ThreadRepository.h"

namespace DBGC {

namespace {

constexpr u32 NO_INDEX = 0xFFFFFFFFu;
constexpr u8 WRITE_FLAG = 255;
constexpr u32 MAX_FIELDS = 5;

enum class FieldKind { Unsigned, Text };

struct Field
{
    const char* m_name;
    FieldKind m_kind;
};

// One message command: words[1..] fill the fields in order.
struct MessageCommand
{
    const char* m_word;
    u32 m_minimumWords;
    const char* m_target;
    const char* m_message;
    Field m_fields[MAX_FIELDS];
};

constexpr FieldKind U = FieldKind::Unsigned;
constexpr FieldKind T = FieldKind::Text;

const MessageCommand COMPONENT_COMMANDS[] = {
    {"add2",
     6,
     "DeviceControl",
     "addAudioComponent",
     {{"UniqID", U}, {"ComponentName", T}, {"MajorVersion", U}, {"NumX", U}, {"NumY", U}}},
    {"del2", 2, "DeviceControl", "removeAudioComponent", {{"UniqID", U}}},
    {"add",
     6,
     "DeviceControl",
     "AddComponent",
     {{"UniqId", U}, {"ComponentName", T}, {"Version", U}, {"NumX", U}, {"NumY", U}}},
    {"del", 2, "DeviceControl", "DelComponent", {{"UniqId", U}}},
    {"addconnection",
     5,
     "DeviceControl",
     "addConnection",
     {{"fromUniqId", U}, {"fromPortNo", U}, {"toUniqId", U}, {"toPortNo", U}}},
    {"removeconnection",
     5,
     "DeviceControl",
     "removeConnection",
     {{"fromUniqId", U}, {"fromPortNo", U}, {"toUniqId", U}, {"toPortNo", U}}},
    {"compile", 1, "Compiler", "startCompile", {}},
    {"eraseconfig", 1, "DeviceControl", "eraseConfig", {}},
    {"applyconfig", 1, "DeviceControl", "applyConfig", {}},
    {"setupprocessing",
     4,
     "DSP",
     "[Debug]setupProcessing",
     {{"FsHz", U}, {"NumSamplePerFrame", U}, {"RenderSamples", U}}},
    {"addcomponent", 2, "DSP", "[Debug]addComponent", {{"UniqID", U}}},
    {"addtoplaylist", 4, "DSP", "[Debug]addToPlayList", {{"PlayListNo", U}, {"UniqID", U}, {"PreUniqID", U}}},
    {"connect",
     5,
     "DSP",
     "[Debug]connect",
     {{"FromUniqID", U}, {"FromOutputPortNo", U}, {"ToUniqID", U}, {"ToInputPortNo", U}}},
    {"startprocessing", 1, "DSP", "[Debug]startProcessing", {}},
    {"stopprocessing", 1, "DSP", "[Debug]stopProcessing", {}},
    {"resetcpuinfo", 1, "DSP", "[Debug]resetCpuInfo", {}},
    {"shutdown", 1, "DSP", "[Debug]shutdown", {}},
    {"beginconfig", 1, "DSP", "[Debug]beginconfig", {}},
    {"endconfig", 1, "DSP", "[Debug]endconfig", {}},
    {"muteon", 1, "DSP", "[Debug]muteon", {}},
    {"muteoff", 1, "DSP", "[Debug]muteoff", {}},
    {"getcoef", 6, "DSP", "[Debug]printCoef", {{"UniqID", U}, {"CoefID", U}, {"Pos1", U}, {"Pos2", U}, {"Pos3", U}}},
    {"getrawmeter",
     6,
     "DSPMeter",
     "[Debug]printRawMeter",
     {{"UniqID", U}, {"MeterID", U}, {"Pos1", U}, {"Pos2", U}, {"Pos3", U}}},
};

const MessageCommand PDB_COMMANDS[] = {
    {"save", 3, "DeviceControl", "SaveProject", {{"PDBID", U}, {"FilePath", T}}},
    {"load", 3, "DeviceControl", "LoadProject", {{"PDBID", U}, {"FilePath", T}}},
};

bool isHelpWord(const StringElement& word)
{
    return word.equals("help") || word.equals("?");
}

template <size_t N> const MessageCommand* findCommand(const MessageCommand (&commands)[N], const StringElement& word)
{
    for (const MessageCommand& command : commands) {
        if (word.equals(command.m_word)) {
            return &command;
        }
    }
    return nullptr;
}

// Builds the user message (every number word checked before anything is sent) and posts it with waiting.
i32 sendCommand(const MessageCommand& command, u32 count, StringElement words[])
{
    if (count < command.m_minimumWords) {
        return RESULT_COMMAND_FAILED;
    }
    TMS::AbstractMessage message;
    if (message.initialize(TMS::MESSAGE_KIND_USER, 0) != 0 ||
        message.setString("CommandName", command.m_message) != 0) {
        return RESULT_COMMAND_FAILED;
    }
    for (u32 i = 0; i < MAX_FIELDS && command.m_fields[i].m_name != nullptr; ++i) {
        const Field& field = command.m_fields[i];
        const StringElement& word = words[i + 1];
        u32 result = 0;
        if (field.m_kind == FieldKind::Text) {
            result = message.setString(field.m_name, word.text());
        } else {
            u32 value = 0;
            if (word.toFieldUInt(&value) != 0) {
                return RESULT_COMMAND_FAILED;
            }
            result = message.setUInt(field.m_name, value);
        }
        if (static_cast<i32>(result) < 0) {
            return RESULT_COMMAND_FAILED;
        }
    }
    const u32 result = TMS::ThreadRepository::acquireThread(command.m_target)->sendMessageWithWaiting(message);
    return static_cast<i32>(result) < 0 ? static_cast<i32>(result) : 0;
}

void appendf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

void appendf(std::string& out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n > 0) {
        const size_t old = out.size();
        out.resize(old + static_cast<size_t>(n) + 1);
        std::vsnprintf(&out[old], static_cast<size_t>(n) + 1, format, args);
        out.resize(old + static_cast<size_t>(n));
    }
    va_end(args);
}

// Value to text: integers in decimal, strings as they are, floats with "%f", binaries "%02X " per byte.
std::string valueText(const KVariant& value)
{
    std::string text;
    switch (value.getKind()) {
    case KVariant::KIND_INT32:
        appendf(text, "%d", value.getInt());
        break;
    case KVariant::KIND_UINT32:
        appendf(text, "%u", value.getUInt());
        break;
    case KVariant::KIND_STRING: {
        const char* s = value.getString();
        text = s != nullptr ? s : "";
        break;
    }
    case KVariant::KIND_FLOAT32:
        appendf(text, "%f", static_cast<f64>(value.getFloat()));
        break;
    case KVariant::KIND_BINARY: {
        const u8* bytes = static_cast<const u8*>(value.getBinary());
        const u32 size = value.getBinarySize();
        for (u32 i = 0; bytes != nullptr && i < size; ++i) {
            appendf(text, "%02X ", static_cast<u32>(bytes[i]));
        }
        break;
    }
    default:
        break;
    }
    return text;
}

// uid, parameter and indices of show/get/set.
struct Target
{
    u32 m_uid = 0;
    u32 m_component = NO_INDEX;
    u32 m_block = NO_INDEX;
    u32 m_x = 0;
    u32 m_y = 0;
};

i32 showComponent(DebugConsole& console, StringElement words[])
{
    u32 uid = 0;
    if (words[1].toStrictUInt(&uid) != 0) {
        return RESULT_COMMAND_FAILED;
    }
    PDB::IParameterDB& db = getComponentDatabase();
    std::vector<PDB::ParameterInfo> infos;
    db.lockRead();
    const u32 component = db.getComponentIndex(uid);
    const u32 blocks = component == NO_INDEX ? 0 : db.getBlockCount(component);
    for (u32 b = 0; b < blocks; ++b) {
        const PDB::ParameterInfo* info = db.getParameterInfo(component, b);
        if (info != nullptr) {
            infos.push_back(*info);
        }
    }
    db.unlockRead();
    if (component == NO_INDEX) {
        return RESULT_NOT_FOUND;
    }
    ConsoleLock lock(console);
    for (const PDB::ParameterInfo& info : infos) {
        std::string text;
        appendf(text, "strAddress:[%s] type:[%02x] areaTag:[%02x] flags:[%02x] size:[%d]\n", info.getAddress().c_str(),
                info.getTypeCode(), info.getAttribute().getValue(), info.getAttribute().getFlags(),
                static_cast<i32>(info.getElementSize()));
        appendf(text, "  X: pattern:[%08x] comment:[%s] num:[%d]\n", info.getPatternX(), info.getCommentX().c_str(),
                static_cast<i32>(info.getCountX()));
        appendf(text, "  Y: pattern:[%08x] comment:[%s] num:[%d]\n", info.getPatternY(), info.getCommentY().c_str(),
                static_cast<i32>(info.getCountY()));
        appendf(text, "  min:[%s] max:[%s] def:[%s] nominal:[%s] step:[%s]\n", valueText(info.getMin()).c_str(),
                valueText(info.getMax()).c_str(), valueText(info.getDefault()).c_str(),
                valueText(info.getNominal()).c_str(), valueText(info.getStep()).c_str());
        appendf(text, "  scaling:[%d] unit:[%s] paramKind:[%s] defUI:[%s]\n", static_cast<i32>(info.getScaling()),
                info.getUnit().c_str(), info.getKind().c_str(), info.getDefUI().c_str());
        console.puts(text.c_str());
    }
    return 0;
}

// Reads uid (w1), x (w3) and y (w4).
bool readTarget(StringElement words[], Target& target)
{
    return words[1].toStrictUInt(&target.m_uid) == 0 && words[3].toStrictUInt(&target.m_x) == 0 &&
           words[4].toStrictUInt(&target.m_y) == 0;
}

// Resolves component and block of the address text (the caller holds the database lock, so the indices stay
// valid for the access that follows).
void resolveTarget(PDB::IParameterDB& db, const StringElement& address, Target& target)
{
    target.m_component = db.getComponentIndex(target.m_uid);
    target.m_block = db.getBlockIndex(target.m_uid, address.text());
}

// Holds the database's read or write lock for the life of the guard.
class DatabaseLock
{
public:
    DatabaseLock(PDB::IParameterDB& db, bool write) : m_db(db), m_write(write)
    {
        m_write ? m_db.lockWrite() : m_db.lockRead();
    }
    ~DatabaseLock() { m_write ? m_db.unlockWrite() : m_db.unlockRead(); }
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;

private:
    PDB::IParameterDB& m_db;
    bool m_write;
};

// An unknown uid or address is reported as not found instead of reaching the null objects, which would read as
// an empty value or take a write without effect.

bool resolved(const Target& target)
{
    return target.m_component != NO_INDEX && target.m_block != NO_INDEX;
}

i32 getParameter(DebugConsole& console, StringElement words[])
{
    Target target;
    if (!readTarget(words, target)) {
        return RESULT_COMMAND_FAILED;
    }
    PDB::IParameterDB& db = getComponentDatabase();
    KVariant value;
    {
        DatabaseLock guard(db, false);
        resolveTarget(db, words[2], target);
        if (!resolved(target)) {
            return RESULT_NOT_FOUND;
        }
        const i32 result = db.getValue(value, target.m_component, target.m_block, target.m_x, target.m_y, nullptr);
        if (result < 0) {
            return result;
        }
    }
    std::string text;
    appendf(text, "get component value: UniqID:%d ComponentIdx:%d AddressIdx:%d x:%d y:%d value:[%s]\n",
            static_cast<i32>(target.m_uid), static_cast<i32>(target.m_component), static_cast<i32>(target.m_block),
            static_cast<i32>(target.m_x), static_cast<i32>(target.m_y), valueText(value).c_str());
    console.puts(text.c_str());
    return 0;
}

// Resolves the target and writes w5 (binary: w5 onwards) by the parameter's kind. Resolution, kind and write
// run under one hold of the lock, so the indices and the description stay those of the addressed parameter
// while other threads add or remove components. found tells whether the target was resolved; the result is the
// setter's, or 0x80000000 for a value word that does not parse or a kind without a setter.
i32 writeParameter(PDB::IParameterDB& db, u32 count, StringElement words[], Target& target, bool& found)
{
    found = false;
    DatabaseLock guard(db, true);
    resolveTarget(db, words[2], target);
    if (!resolved(target)) {
        return RESULT_NOT_FOUND;
    }
    found = true;
    const PDB::ParameterInfo* info = db.getParameterInfo(target.m_component, target.m_block);
    const u8 kind = info != nullptr ? static_cast<u8>(info->getTypeCode() >> 4) : 0;
    const StringElement& word = words[5];
    const u32 ci = target.m_component;
    const u32 bi = target.m_block;
    const u32 x = target.m_x;
    const u32 y = target.m_y;
    switch (kind) {
    case 1: {
        u32 value = 0;
        if (word.toStrictUInt(&value) != 0) {
            return RESULT_COMMAND_FAILED;
        }
        return db.setValueUInt(ci, bi, x, y, value, WRITE_FLAG);
    }
    case 2: {
        i32 value = 0;
        if (word.toStrictInt(&value) != 0) {
            return RESULT_COMMAND_FAILED;
        }
        return db.setValueInt(ci, bi, x, y, value, WRITE_FLAG);
    }
    case 3: {
        f32 value = 0;
        u32 form = 0;
        if (klib_strToFloat(&value, &form, word.text(), word.length()) >= 0x80000000u) {
            return RESULT_COMMAND_FAILED;
        }
        if (form != KLIB_NUMBER_FORM_FLOAT) {
            // The parser hands integers back as their 32 bits.
            u32 bits = 0;
            static_assert(sizeof(bits) == sizeof(value));
            __builtin_memcpy(&bits, &value, sizeof(bits));
            value =
                form == KLIB_NUMBER_FORM_NEGATIVE ? static_cast<f32>(static_cast<i32>(bits)) : static_cast<f32>(bits);
        }
        return db.setValueFloat(ci, bi, x, y, value, WRITE_FLAG);
    }
    case 4: {
        u32 value = 0;
        if (word.toStrictUInt(&value) != 0) {
            return RESULT_COMMAND_FAILED;
        }
        return db.setValueUInt(ci, bi, x, y, value != 0 ? 1u : 0u, WRITE_FLAG);
    }
    case 5:
        return db.setValueString(ci, bi, x, y, word.text(), WRITE_FLAG);
    case 6: {
        u8 bytes[DebugConsole::MAX_WORDS];
        const u32 size = count - 5;
        for (u32 i = 0; i < size; ++i) {
            if (words[5 + i].toHexByte(&bytes[i]) != 0) {
                return RESULT_COMMAND_FAILED;
            }
        }
        return db.setValueBinary(ci, bi, x, y, bytes, size, WRITE_FLAG);
    }
    default:
        return RESULT_COMMAND_FAILED;
    }
}

// Every set whose target was found prints its line, whether the value could be written or not.
i32 setParameter(DebugConsole& console, u32 count, StringElement words[])
{
    Target target;
    if (!readTarget(words, target)) {
        return RESULT_COMMAND_FAILED;
    }
    bool found = false;
    const i32 result = writeParameter(getComponentDatabase(), count, words, target, found);
    if (!found) {
        return result;
    }
    const char* value = words[5].text();
    std::string text;
    appendf(text, "set component value: UniqID:%d ComponentIdx:%d AddressIdx:%d x:%d y:%d value:[%s]\n",
            static_cast<i32>(target.m_uid), static_cast<i32>(target.m_component), static_cast<i32>(target.m_block),
            static_cast<i32>(target.m_x), static_cast<i32>(target.m_y), value != nullptr ? value : "");
    console.puts(text.c_str());
    return result;
}

} // namespace

PDB::IParameterDB& getComponentDatabase()
{
    return PDB::ParameterDBCollection::getInstance(COMPONENT_DATABASE_ID);
}

i32 moduleComponent(DebugConsole& console, u32 count, StringElement words[])
{
    if (count == 0) {
        return RESULT_COMMAND_FAILED;
    }
    if (isHelpWord(words[0])) {
        ConsoleLock lock(console);
        for (const char* line : helptext::COMPONENT_HELP) {
            console.puts(line);
        }
        return 0;
    }
    if (words[0].equals("show")) {
        return count < 2 ? RESULT_COMMAND_FAILED : showComponent(console, words);
    }
    if (words[0].equals("get")) {
        return count < 5 ? RESULT_COMMAND_FAILED : getParameter(console, words);
    }
    if (words[0].equals("set")) {
        return count < 6 ? RESULT_COMMAND_FAILED : setParameter(console, count, words);
    }
    const MessageCommand* command = findCommand(COMPONENT_COMMANDS, words[0]);
    return command != nullptr ? sendCommand(*command, count, words) : RESULT_COMMAND_FAILED;
}

i32 modulePDB(DebugConsole& console, u32 count, StringElement words[])
{
    if (count == 0) {
        return RESULT_COMMAND_FAILED;
    }
    if (isHelpWord(words[0])) {
        ConsoleLock lock(console);
        for (const char* line : helptext::PDB_HELP) {
            console.puts(line);
        }
        return 0;
    }
    const MessageCommand* command = findCommand(PDB_COMMANDS, words[0]);
    return command != nullptr ? sendCommand(*command, count, words) : RESULT_COMMAND_FAILED;
}

} // namespace DBGC

#include "tms_Message.h"

#include <mutex>
#include <new>
#include <set>
#include <string_view>
#include <tuple>
#include <utility>

#include "tms_AbstractThread.h"
#include "tms_Result.h"
#include "tms_ThreadRepository.h"

namespace TMS {

namespace {
constexpr u32 MAX_FIELD_TEXT = 1024;
const char* const DUMMY_SENDER = "Dummy";

// Never destroyed: messages may be read by static destructors and by threads that outlive main.
struct NameTable
{
    std::mutex m_lock;
    std::set<std::string, std::less<>> m_names;
};

NameTable& nameTable()
{
    static NameTable* table = new NameTable();
    return *table;
}
} // namespace

const char* internThreadName(const char* name)
{
    if (name == nullptr || name[0] == '\0') {
        return "";
    }
    NameTable& table = nameTable();
    std::lock_guard<std::mutex> guard(table.m_lock);
    auto found = table.m_names.find(std::string_view(name));
    if (found != table.m_names.end()) {
        return found->c_str();
    }
    try {
        return table.m_names.emplace(name).first->c_str();
    } catch (const std::bad_alloc&) {
        return "";
    }
}

const FieldMap& AbstractMessage::emptyFields()
{
    static const FieldMap* empty = new FieldMap();
    return *empty;
}

const KVariant& AbstractMessage::emptyValue()
{
    static const KVariant* empty = new KVariant();
    return *empty;
}

AbstractMessage::AbstractMessage() : m_sender(DUMMY_SENDER) {}

AbstractMessage::AbstractMessage(const AbstractMessage& other)
    : m_sender(other.m_sender), m_kind(other.m_kind), m_code(other.m_code)
{
    try {
        m_fields = other.m_fields;
    } catch (const std::bad_alloc&) {
        m_fields.clear();
    }
}

AbstractMessage::AbstractMessage(AbstractMessage&& other) noexcept
    : m_sender(other.m_sender), m_kind(other.m_kind), m_code(other.m_code), m_fields(std::move(other.m_fields))
{
}

AbstractMessage::~AbstractMessage() = default;

AbstractMessage& AbstractMessage::operator=(const AbstractMessage& other)
{
    if (this != &other) {
        m_sender = other.m_sender;
        m_kind = other.m_kind;
        m_code = other.m_code;
        copyFields(other.m_fields);
    }
    return *this;
}

AbstractMessage& AbstractMessage::operator=(AbstractMessage&& other) noexcept
{
    if (this != &other) {
        m_sender = other.m_sender;
        m_kind = other.m_kind;
        m_code = other.m_code;
        m_fields.swap(other.m_fields);
        other.m_fields.clear();
    }
    return *this;
}

bool AbstractMessage::copyFields(const FieldMap& fields)
{
    try {
        m_fields = fields;
        return true;
    } catch (const std::bad_alloc&) {
        m_fields.clear();
        return false;
    }
}

u32 AbstractMessage::initialize(u32 kind, u32 code)
{
    m_fields.clear();
    if (kind > MESSAGE_KIND_USER) {
        m_sender = DUMMY_SENDER;
        m_kind = MESSAGE_KIND_NONE;
        m_code = 0;
        return RESULT_FAILED;
    }
    const char* sender = ThreadRepository::getCurrentThread()->getName();
    m_sender = sender != nullptr ? sender : "";
    m_kind = kind;
    m_code = code;
    return 0;
}

KVariant* AbstractMessage::fieldFor(const char* name)
{
    auto found = m_fields.find(std::string_view(name));
    if (found != m_fields.end()) {
        return &found->second;
    }
    try {
        return &m_fields
                    .emplace_hint(found, std::piecewise_construct, std::forward_as_tuple(name), std::forward_as_tuple())
                    ->second;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

u32 AbstractMessage::setString(const char* name, const char* text)
{
    if (m_kind == MESSAGE_KIND_NONE) {
        return RESULT_FAILED;
    }
    if (name == nullptr) {
        return RESULT_ARGUMENT;
    }
    KVariant* field = fieldFor(name);
    if (field == nullptr) {
        return RESULT_NO_MEMORY;
    }
    u32 result = field->setString(text, MAX_FIELD_TEXT);
    return result == KVariant::RESULT_SET_OK ? 0 : result;
}

u32 AbstractMessage::setInt(const char* name, i32 value)
{
    if (m_kind == MESSAGE_KIND_NONE) {
        return RESULT_FAILED;
    }
    if (name == nullptr) {
        return RESULT_ARGUMENT;
    }
    KVariant* field = fieldFor(name);
    if (field == nullptr) {
        return RESULT_NO_MEMORY;
    }
    u32 result = field->setInt(value);
    return result == KVariant::RESULT_SET_OK ? 0 : result;
}

u32 AbstractMessage::setUInt(const char* name, u32 value)
{
    if (m_kind == MESSAGE_KIND_NONE) {
        return RESULT_FAILED;
    }
    if (name == nullptr) {
        return RESULT_ARGUMENT;
    }
    KVariant* field = fieldFor(name);
    if (field == nullptr) {
        return RESULT_NO_MEMORY;
    }
    u32 result = field->setUInt(value);
    return result == KVariant::RESULT_SET_OK ? 0 : result;
}

u32 AbstractMessage::setBinary(const char* name, const void* data, u32 size)
{
    if (m_kind == MESSAGE_KIND_NONE) {
        return RESULT_FAILED;
    }
    if (name == nullptr || data == nullptr || size == 0) {
        return RESULT_ARGUMENT;
    }
    KVariant* field = fieldFor(name);
    if (field == nullptr) {
        return RESULT_NO_MEMORY;
    }
    u32 result = field->setBinary(data, size);
    return result == KVariant::RESULT_SET_OK ? 0 : result;
}

const KVariant& AbstractMessage::getValue(const char* name) const
{
    if (m_kind == MESSAGE_KIND_NONE || name == nullptr) {
        return emptyValue();
    }
    auto found = m_fields.find(std::string_view(name));
    return found != m_fields.end() ? found->second : emptyValue();
}

const FieldMap& AbstractMessage::getFields() const
{
    return m_kind == MESSAGE_KIND_NONE ? emptyFields() : m_fields;
}

u32 AbstractMessage::sendTo(const char* threadName) const
{
    // The handle keeps the receiver alive while the message is queued, also when it is being torn down.
    return ThreadRepository::acquireThread(threadName)->sendMessageWithWaiting(*this);
}

SystemMessage::SystemMessage(u32 code, const FieldMap& fields)
{
    if (code <= REQUEST_RELEASE) {
        setRaw(MESSAGE_KIND_SYSTEM, code);
        copyFields(fields);
    }
}

} // namespace TMS

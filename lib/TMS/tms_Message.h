// Thread messages: AbstractMessage (sender name, kind, code, named KVariant fields) and SystemMessage, which
// carries a life-cycle request (start, stop, pause, release) to a thread.
//
// The sender is a pointer into the process-lifetime table of thread names (internThreadName), so a message
// keeps a readable sender after the sending thread was released or destroyed. Field keys own their text.
// A message object belongs to one thread at a time and is not locked.
#pragma once

#include <map>
#include <string>

#include "klib_Types.h"
#include "klib_Variant.h"

namespace TMS {

// Field map of messages and of request arguments: ordered by text, keys own their text.
using FieldMap = std::map<std::string, KVariant, std::less<>>;

// Message kinds.
constexpr u32 MESSAGE_KIND_NONE = 0;
constexpr u32 MESSAGE_KIND_SYSTEM = 1;
constexpr u32 MESSAGE_KIND_USER = 2;

// Request codes of system messages.
constexpr u32 REQUEST_START = 0;
constexpr u32 REQUEST_STOP = 1;
constexpr u32 REQUEST_PAUSE = 2;
constexpr u32 REQUEST_RELEASE = 3;

// The process-lifetime copy of a thread name: equal texts give the same pointer, which stays valid until the
// process ends. Null and "" give "".
const char* internThreadName(const char* name);

class AbstractMessage
{
public:
    // Sender "Dummy", kind 0, code 0, no fields.
    AbstractMessage();
    AbstractMessage(const AbstractMessage& other);
    AbstractMessage(AbstractMessage&& other) noexcept;
    virtual ~AbstractMessage();

    // Deep copy of every field.
    AbstractMessage& operator=(const AbstractMessage& other);
    // Takes the fields over; the source keeps its sender, kind and code but loses its fields.
    AbstractMessage& operator=(AbstractMessage&& other) noexcept;

    // Kind 0..2: sender = the calling thread's name ("NullThread" outside TMS threads), kind and code stored,
    // fields removed: 0. Kind above 2: sender "Dummy", kind 0, code 0, fields removed: 0x80000000.
    u32 initialize(u32 kind, u32 code);

    // Setters: 0x80000000 when the message is not initialised (kind 0), 0x80000002 for a null name; otherwise the
    // field is created or replaced. setString stores at most 1024 characters: a text of 1024 characters or more
    // is kept as the value stores it ("ERROR:") and the value's failure code is returned. setBinary refuses null
    // data or size 0 with 0x80000002. 0x80000005 when no memory is left for the field.
    u32 setString(const char* name, const char* text);
    u32 setInt(const char* name, i32 value);
    u32 setUInt(const char* name, u32 value);
    u32 setBinary(const char* name, const void* data, u32 size);

    // The stored value; the shared empty value (kind 5) when not initialised, for a null name or a missing field.
    const KVariant& getValue(const char* name) const;
    // The fields, or the shared empty map when not initialised.
    const FieldMap& getFields() const;

    u32 getKind() const { return m_kind; }
    u32 getCode() const { return m_code; }
    const char* getSender() const { return m_sender; }

    // Sends a copy to the thread of that name (the null thread when there is none) with waiting; its result.
    u32 sendTo(const char* threadName) const;

    // The shared empty field map and the shared empty value.
    static const FieldMap& emptyFields();
    static const KVariant& emptyValue();

protected:
    // Used by SystemMessage.
    void setRaw(u32 kind, u32 code)
    {
        m_kind = kind;
        m_code = code;
    }
    // Replaces the fields with a copy; false when no memory is left (the fields are then empty).
    bool copyFields(const FieldMap& fields);

private:
    // The field of that name, created empty when absent; null without memory.
    KVariant* fieldFor(const char* name);

    const char* m_sender;
    u32 m_kind = MESSAGE_KIND_NONE;
    u32 m_code = 0;
    FieldMap m_fields;
};

class SystemMessage : public AbstractMessage
{
public:
    // Codes 0..3: kind 1, that code and a copy of fields; the sender stays "Dummy". Other codes leave the message
    // uninitialised (kind 0).
    explicit SystemMessage(u32 code, const FieldMap& fields = emptyFields());
    ~SystemMessage() override = default;
};

} // namespace TMS

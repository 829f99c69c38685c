#include "pyrite_MessageFields.h"

#include <cstring>
#include <string>

#include "pyrite_Result.h"
#include "tms_AbstractThread.h"
#include "tms_ThreadRepository.h"

namespace PYRITE {

bool hasField(const TMS::AbstractMessage& message, const char* field)
{
    return message.getValue(field).isValid();
}

u32 readUInt(const TMS::AbstractMessage& message, const char* field)
{
    return message.getValue(field).getUInt();
}

i32 readInt(const TMS::AbstractMessage& message, const char* field)
{
    return message.getValue(field).getInt();
}

const char* readText(const TMS::AbstractMessage& message, const char* field)
{
    return message.getValue(field).getString();
}

const char* textOrEmpty(const TMS::AbstractMessage& message, const char* field)
{
    const char* text = readText(message, field);
    return text != nullptr ? text : "";
}

bool isText(const TMS::AbstractMessage& message, const char* field, const char* expected)
{
    const char* text = readText(message, field);
    return text != nullptr && std::strcmp(text, expected) == 0;
}

bool readNumber(const TMS::AbstractMessage& message, const char* field, u32& number)
{
    number = 0;
    const KVariant& value = message.getValue(field);
    if (value.getKind() == KVariant::KIND_INT32 || value.getKind() == KVariant::KIND_UINT32) {
        number = value.getUInt();
        return true;
    }
    const char* text = value.getString();
    if (text == nullptr || text[0] == '\0') {
        return false;
    }
    u64 parsed = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') {
            return false;
        }
        parsed = parsed * 10 + static_cast<u64>(*c - '0');
        if (parsed > 0xFFFFFFFFu) {
            return false;
        }
    }
    number = static_cast<u32>(parsed);
    return true;
}

TMS::AbstractMessage makeCommand(const char* name)
{
    TMS::AbstractMessage message;
    message.initialize(TMS::MESSAGE_KIND_USER, 0);
    message.setString("CommandName", name);
    return message;
}

TMS::AbstractMessage makeReply(const char* command)
{
    return makeCommand((std::string("Re:") + command).c_str());
}

void echoUInt(TMS::AbstractMessage& reply, const TMS::AbstractMessage& message, const char* field)
{
    reply.setUInt(field, readUInt(message, field));
}

void echoText(TMS::AbstractMessage& reply, const TMS::AbstractMessage& message, const char* field)
{
    reply.setString(field, textOrEmpty(message, field));
}

void echoField(TMS::AbstractMessage& reply, const TMS::AbstractMessage& message, const char* field)
{
    const char* text = readText(message, field);
    if (text != nullptr) {
        reply.setString(field, text);
    } else {
        echoUInt(reply, message, field);
    }
}

u32 sendToListener(const char* name, const TMS::AbstractMessage& message)
{
    // The handle keeps the thread alive until the send is done, even when it is released meanwhile.
    const TMS::ThreadHandle thread = TMS::ThreadRepository::acquireThread(name);
    if (!thread || thread->getStatus() < TMS::STATUS_STOP) {
        return PYRITE_E_FAILED;
    }
    return thread->sendMessageWithWaiting(message);
}

} // namespace PYRITE

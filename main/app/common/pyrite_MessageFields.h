// Reading the fields of command messages, building replies and sending them to threads that may be going away.
//
// Integer fields are read as 32-bit values (another kind reads as 0); text fields as text (null when absent or not
// a text).
#pragma once

#include "klib_Types.h"
#include "tms_Message.h"

namespace PYRITE {

bool hasField(const TMS::AbstractMessage& message, const char* field);
u32 readUInt(const TMS::AbstractMessage& message, const char* field);
i32 readInt(const TMS::AbstractMessage& message, const char* field);
const char* readText(const TMS::AbstractMessage& message, const char* field);
const char* textOrEmpty(const TMS::AbstractMessage& message, const char* field);
// The field is a text equal to expected.
bool isText(const TMS::AbstractMessage& message, const char* field, const char* expected);
// A number given as a decimal text or as an integer; false (number 0) for anything else.
bool readNumber(const TMS::AbstractMessage& message, const char* field, u32& number);

// A user message (code 0) from the calling thread with "CommandName" = name.
TMS::AbstractMessage makeCommand(const char* name);
// The same with "CommandName" = "Re:" + command.
TMS::AbstractMessage makeReply(const char* command);

void echoUInt(TMS::AbstractMessage& reply, const TMS::AbstractMessage& message, const char* field);
// The field as text (an empty text when absent).
void echoText(TMS::AbstractMessage& reply, const TMS::AbstractMessage& message, const char* field);
// A text as text, anything else as an unsigned integer.
void echoField(TMS::AbstractMessage& reply, const TMS::AbstractMessage& message, const char* field);

// Sends message with waiting to the thread registered under name, only when it is there and in STOP or later.
// The send's result; PYRITE_E_FAILED (nothing sent) for a thread that is not there or not that far. A thread
// released while the message is on its way makes the send fail; the message is then lost.
u32 sendToListener(const char* name, const TMS::AbstractMessage& message);

} // namespace PYRITE

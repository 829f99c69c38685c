// Result codes of the editor link and the names the editor reads in the "result" member of a reply or notify.
//
// 0 is success, 1 still executing, 2 aborted; a code with the top bit set is a failure. Codes outside the name
// table are named "ng" when they have the top bit set and "ok" otherwise.
#pragma once

#include "klib_Types.h"

namespace VDProtocol {

constexpr i32 RESULT_OK = 0;
constexpr i32 RESULT_EXECUTING = 1;
constexpr i32 RESULT_ABORTED = 2;
constexpr i32 RESULT_NG = static_cast<i32>(0x80000000u);
constexpr i32 RESULT_UNKNOWN_CMD = static_cast<i32>(0x80000001u);
// A range read: an element that the parameter block lacks.
constexpr i32 RESULT_ABSENT_ELEMENT = RESULT_UNKNOWN_CMD;
constexpr i32 RESULT_NOT_FOUND = static_cast<i32>(0x80000002u);
constexpr i32 RESULT_OUT_OF_RANGE = static_cast<i32>(0x80000003u);
constexpr i32 RESULT_DUPLICATE = static_cast<i32>(0x80000004u);
constexpr i32 RESULT_SHORT_SEND = RESULT_DUPLICATE; // the client unit: the socket took fewer bytes than were given
constexpr i32 RESULT_MEMORY_SHORTAGE = static_cast<i32>(0x80000005u);
constexpr i32 RESULT_FILE_SYSTEM = static_cast<i32>(0x80000006u);
constexpr i32 RESULT_LIMIT_OVER = static_cast<i32>(0x80000007u);
constexpr i32 RESULT_TIMEOUT = static_cast<i32>(0x80000008u);
constexpr i32 RESULT_COMPATIBLE = static_cast<i32>(0x80000009u);
constexpr i32 RESULT_DEVICE_STATUS = static_cast<i32>(0x8000000Au);
constexpr i32 RESULT_UNMATCHED_CONFIG = static_cast<i32>(0x8000000Bu);
constexpr i32 RESULT_CAPACITY_OVER = static_cast<i32>(0x8000000Cu);
// The client unit's code for a socket or send-ring failure that has no name of its own.
constexpr i32 RESULT_SOCKET_ERROR = static_cast<i32>(0x8000000Fu);

inline bool failed(i32 result)
{
    return result < 0;
}

// The name of a code: its table entry, else "ng" for a failure and "ok" for anything else. The returned text is
// static.
const char* getResultName(i32 result);

} // namespace VDProtocol

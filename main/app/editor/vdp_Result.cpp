#include "vdp_Result.h"

namespace VDProtocol {

namespace {

// Indexed by the low bits of the failure codes 0x80000000..0x8000000C.
constexpr const char* kFailureNames[] = {
    "ng",
    "ng/unknown_cmd",
    "ng/not_found",
    "ng/out_of_range",
    "ng/duplicate",
    "ng/memory_shortage",
    "ng/file_system",
    "ng/limit_over",
    "ng/timeout",
    "ng/compatible",
    "ng/device_status",
    "ng/unmatched_config",
    "ng/capacity_over",
};
constexpr u32 kFailureNameCount = sizeof(kFailureNames) / sizeof(kFailureNames[0]);

} // namespace

const char* getResultName(i32 result)
{
    const u32 code = static_cast<u32>(result);
    switch (code) {
    case 1:
        return "excuting"; // the editor reads this spelling
    case 2:
        return "aborted";
    default:
        break;
    }
    if ((code & 0x80000000u) == 0) {
        return "ok";
    }
    const u32 index = code & 0x7FFFFFFFu;
    return index < kFailureNameCount ? kFailureNames[index] : "ng";
}

} // namespace VDProtocol

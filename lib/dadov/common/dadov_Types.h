// Fixed-width names of the plug-in interface declarations. This library depends on nothing (plug-ins link it
// alone), so it names the widths itself; they are the same types as the rest of the code base uses.
#pragma once

#include <cstdint>

namespace DADOV {

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;
using u64 = std::uint64_t;
using i32 = std::int32_t;
using f32 = float;
using f64 = double;

} // namespace DADOV

// Trace hook of the socket classes: every callback is preceded by a trace line, which this build drops.
#pragma once

namespace VCOM {

inline void vcomTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline void vcomTrace(const char*, ...) {}

} // namespace VCOM

// Small pieces shared by the readers of the host's binary formats (module
// files, property lists, terminology, version records, pixel maps): little-
// endian integers from bytes the caller has bounds-checked, and the failure
// that carries a reason.
#pragma once

#include <cstdint>
#include <string>

namespace binary {

inline uint16_t Le16(const uint8_t *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

inline uint32_t Le32(const uint8_t *p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Sets the reason (when asked for one) and returns false.
inline bool Fail(std::string *error, const std::string &why)
{
    if (error != nullptr)
        *error = why;
    return false;
}

} // namespace binary

#include "settings/SettingsCodec.h"

#include <cstring>

size_t EncodeSettings(uint32_t magic, const void *data, size_t size, uint8_t *out, size_t capacity)
{
    if (capacity < 4 || capacity - 4 < size)
        return 0;
    std::memcpy(out, &magic, 4);
    if (size != 0)
        std::memcpy(out + 4, data, size);
    return 4 + size;
}

bool DecodeSettings(const uint8_t *bytes, size_t length, uint32_t magic, void *data, size_t size)
{
    if (length < 4 || std::memcmp(bytes, &magic, 4) != 0)
        return false;
    const size_t body = length - 4 < size ? length - 4 : size;
    if (body != 0)
        std::memcpy(data, bytes + 4, body);
    return true;
}

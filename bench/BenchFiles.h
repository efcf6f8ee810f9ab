// A whole file's bytes, for the benchmarks that read a photograph.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

inline bool ReadWholeFile(const char *path, std::vector<uint8_t> *bytes)
{
    FILE *f = std::fopen(path, "rb");
    if (f == nullptr)
        return false;
    uint8_t buffer[1 << 16];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes->insert(bytes->end(), buffer, buffer + got);
    std::fclose(f);
    return true;
}

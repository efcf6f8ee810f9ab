// Module files made by hand, byte by byte, for the module-file reader's tests
// and the seeds of its fuzzing.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

// A minimal, valid PE32 DLL image with one export "PluginMain" and one import.
inline std::vector<uint8_t> TinyDll()
{
    std::vector<uint8_t> b(0x400, 0);
    auto put16 = [&](size_t at, uint16_t v) { b[at] = uint8_t(v); b[at + 1] = uint8_t(v >> 8); };
    auto put32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i)); };
    put16(0, 0x5A4D);
    put32(0x3C, 0x40);
    put32(0x40, 0x00004550);
    put16(0x44, 0x014c);     // machine
    put16(0x46, 1);          // one section
    put16(0x54, 224);        // optional header size
    put16(0x56, 0x2102);     // DLL
    put16(0x58, 0x10b);      // PE32
    put32(0x58 + 92, 16);    // directory count
    put32(0x58 + 96, 0x1000);       // export directory rva
    put32(0x58 + 100, 40);
    put32(0x58 + 104, 0x1100);      // import directory rva
    put32(0x58 + 108, 40);
    const size_t section = 0x58 + 224;
    put32(section + 8, 0x200);      // virtual size
    put32(section + 12, 0x1000);    // virtual address
    put32(section + 16, 0x200);     // raw size
    put32(section + 20, 0x200);     // raw offset
    // Export directory at rva 0x1000 (file 0x200).
    put32(0x200 + 20, 1);           // functions
    put32(0x200 + 24, 1);           // names
    put32(0x200 + 28, 0x1040);      // function table
    put32(0x200 + 32, 0x1044);      // name table
    put32(0x200 + 36, 0x1048);      // ordinal table
    put32(0x240, 0x1234);
    put32(0x244, 0x1050);
    put16(0x248, 0);
    const char name[] = "PluginMain";
    std::copy(name, name + sizeof name, b.begin() + 0x250);
    // Import directory at rva 0x1100 (file 0x300): one entry, then zeros.
    put32(0x300 + 12, 0x1180);
    put32(0x300 + 16, 0x1190);
    const char dll[] = "KERNEL32.dll";
    std::copy(dll, dll + sizeof dll, b.begin() + 0x380);
    return b;
}

// TinyDll with a resource directory at rva 0x1400 (file 0x600), its section
// grown to hold it: `count` entries at each of the three levels, each level's
// entries all leading to the one table of the next level (so `count`^3
// resources when tables may be shared), and every resource the same 16 bytes.
inline std::vector<uint8_t> DllWithResources(uint16_t count)
{
    std::vector<uint8_t> b = TinyDll();
    b.resize(0x1200, 0);
    auto put16 = [&](size_t at, uint16_t v) { b[at] = uint8_t(v); b[at + 1] = uint8_t(v >> 8); };
    auto put32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i)); };
    const size_t section = 0x58 + 224;
    put32(section + 8, 0x1000);
    put32(section + 16, 0x1000);
    put32(0x58 + 112, 0x1400);  // resource directory rva
    put32(0x58 + 116, 0x800);
    const size_t base = 0x600;
    const uint32_t tables[3] = {0, 0x200, 0x400}, data = 0x600;
    for (int level = 0; level < 3; ++level) {
        const size_t table = base + tables[level];
        put16(table + 14, count);
        for (uint16_t i = 0; i < count; ++i) {
            put32(table + 16 + i * 8u, level == 2 ? 1033u : uint32_t(i + 1));
            put32(table + 20 + i * 8u, level < 2 ? 0x80000000u | tables[level + 1] : data);
        }
    }
    put32(base + data, 0x1000);  // the bytes at rva 0x1000 (file 0x200)
    put32(base + data + 4, 16);
    return b;
}


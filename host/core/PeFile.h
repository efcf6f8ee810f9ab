// Reads what a host needs to know about a Windows module straight from its
// file bytes: machine type, exported names, imported DLLs and resources. Every offset
// read from the file is bounds-checked; a malformed file yields an error text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pe {

constexpr uint16_t kMachineI386 = 0x014c;
constexpr uint16_t kMachineAmd64 = 0x8664;

struct ExportedName {
    std::string name;
    uint32_t rva = 0;
};

// A resource's type and name are either a number, written "#16000", or a
// name as stored (resource compilers store names upper-case).
// Its bytes are not copied: they lie at `offset` in the file, `size` of them.
struct Resource {
    std::string type;
    std::string name;
    uint16_t language = 0;
    uint64_t offset = 0;
    uint32_t size = 0;
};

struct ModuleInfo {
    uint16_t machine = 0;
    bool isDll = false;
    bool isPe32Plus = false;
    std::vector<ExportedName> exports;
    std::vector<std::string> importedDlls;
    std::vector<Resource> resources;
};

// The resource of that type, name and language, or null.
const Resource *FindResource(const ModuleInfo &info, const std::string &type, const std::string &name,
                             uint16_t language);

// A resource's bytes in the file it was parsed from (empty when they do not
// lie in it).
std::vector<uint8_t> ResourceBytes(const std::vector<uint8_t> &file, const Resource &resource);

// Parses a module image held in memory. Returns false and sets *error when
// the bytes are not a well-formed PE file. Its time and memory grow with the
// file's size alone: every resource table is read once (tables that are
// shared or form a cycle are malformed), and entries and name lengths are
// bounded.
bool ParseModule(const std::vector<uint8_t> &bytes, ModuleInfo *info, std::string *error);

bool ReadFileBytes(const std::string &path, std::vector<uint8_t> *bytes);

} // namespace pe

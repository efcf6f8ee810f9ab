// A module's version record (the VS_VERSIONINFO resource) read from its
// bytes: the fixed numbers, the string tables and the translations.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace version {

struct StringTable {
    std::string language;  // language and code page, "040904b0"
    std::vector<std::pair<std::string, std::string>> strings;
};

struct VersionRecord {
    uint32_t fileVersionMS = 0, fileVersionLS = 0;
    uint32_t productVersionMS = 0, productVersionLS = 0;
    uint32_t fileFlagsMask = 0, fileFlags = 0;
    uint32_t fileOS = 0, fileType = 0, fileSubtype = 0;
    uint32_t fileDateMS = 0, fileDateLS = 0;
    std::vector<StringTable> tables;
    std::vector<uint32_t> translations;  // language in the low word, code page in the high

    // "1.0.0.1"
    std::string FileVersionText() const;
    // The string of that key in the first table that has it, or "".
    std::string String(const std::string &key) const;
};

// False with a reason for anything truncated or not in the record's form.
// Text is kept as UTF-8.
bool Parse(const std::vector<uint8_t> &bytes, VersionRecord *record, std::string *error);

} // namespace version

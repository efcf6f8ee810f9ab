#include "host/core/VersionRecord.h"

#include "host/core/ByteReading.h"

namespace version {
namespace {

using binary::Fail;

uint16_t U16(const std::vector<uint8_t> &b, size_t at)
{
    return binary::Le16(&b[at]);
}

uint32_t U32(const std::vector<uint8_t> &b, size_t at)
{
    return binary::Le32(&b[at]);
}

// A node of the record: length, value length, type (0 binary, 1 text),
// a UTF-16 key with its NUL, padding to 4, the value, padding to 4, and
// child nodes up to the length.
struct Node {
    size_t start = 0, end = 0;
    uint16_t valueLength = 0, type = 0;
    std::string key;
    size_t value = 0;      // offset of the value
    size_t valueEnd = 0;   // where the value ends, within the node
    size_t children = 0;   // offset of the first child
};

size_t Align4(size_t at)
{
    return (at + 3) & ~size_t(3);
}

void AppendUtf8(std::string *out, uint32_t unit)
{
    if (unit < 0x80) {
        out->push_back(char(unit));
    } else if (unit < 0x800) {
        out->push_back(char(0xC0 | (unit >> 6)));
        out->push_back(char(0x80 | (unit & 0x3F)));
    } else {
        out->push_back(char(0xE0 | (unit >> 12)));
        out->push_back(char(0x80 | ((unit >> 6) & 0x3F)));
        out->push_back(char(0x80 | (unit & 0x3F)));
    }
}

// UTF-16 text from `at` up to a NUL before `end`; *next is past the NUL.
bool Text(const std::vector<uint8_t> &b, size_t at, size_t end, std::string *text, size_t *next)
{
    text->clear();
    for (; at + 2 <= end; at += 2) {
        const uint16_t unit = U16(b, at);
        if (unit == 0) {
            *next = at + 2;
            return true;
        }
        AppendUtf8(text, unit);
    }
    return false;
}

// Reads the node at `at`, which must lie within `limit`.
bool ReadNode(const std::vector<uint8_t> &b, size_t at, size_t limit, Node *node)
{
    if (at + 6 > limit)
        return false;
    const uint16_t length = U16(b, at);
    if (length < 6 || at + length > limit)
        return false;
    node->start = at;
    node->end = at + length;
    node->valueLength = U16(b, at + 2);
    node->type = U16(b, at + 4);
    size_t next = 0;
    if (!Text(b, at + 6, node->end, &node->key, &next))
        return false;
    node->value = Align4(next);
    const size_t valueBytes = node->type == 1 ? size_t(node->valueLength) * 2 : node->valueLength;
    if (node->value > node->end || valueBytes > node->end - node->value)
        return false;
    node->valueEnd = node->value + valueBytes;
    node->children = Align4(node->valueEnd);
    return true;
}

} // namespace

std::string VersionRecord::FileVersionText() const
{
    return std::to_string(fileVersionMS >> 16) + "." + std::to_string(fileVersionMS & 0xFFFF) + "." +
           std::to_string(fileVersionLS >> 16) + "." + std::to_string(fileVersionLS & 0xFFFF);
}

std::string VersionRecord::String(const std::string &key) const
{
    for (const StringTable &t : tables)
        for (const auto &entry : t.strings)
            if (entry.first == key)
                return entry.second;
    return "";
}

bool Parse(const std::vector<uint8_t> &bytes, VersionRecord *record, std::string *error)
{
    *record = VersionRecord();
    Node root;
    if (!ReadNode(bytes, 0, bytes.size(), &root) || root.key != "VS_VERSION_INFO")
        return Fail(error, "not a version record");
    if (root.valueLength != 52 || U32(bytes, root.value) != 0xFEEF04BDu)
        return Fail(error, "the version record has no fixed file information");
    const size_t f = root.value;
    record->fileVersionMS = U32(bytes, f + 8);
    record->fileVersionLS = U32(bytes, f + 12);
    record->productVersionMS = U32(bytes, f + 16);
    record->productVersionLS = U32(bytes, f + 20);
    record->fileFlagsMask = U32(bytes, f + 24);
    record->fileFlags = U32(bytes, f + 28);
    record->fileOS = U32(bytes, f + 32);
    record->fileType = U32(bytes, f + 36);
    record->fileSubtype = U32(bytes, f + 40);
    record->fileDateMS = U32(bytes, f + 44);
    record->fileDateLS = U32(bytes, f + 48);

    for (size_t at = root.children; at < root.end;) {
        Node info;
        if (!ReadNode(bytes, at, root.end, &info))
            return Fail(error, "a block of the version record is malformed");
        for (size_t inner = info.children; inner < info.end;) {
            Node block;
            if (!ReadNode(bytes, inner, info.end, &block))
                return Fail(error, "a block of " + info.key + " is malformed");
            if (info.key == "StringFileInfo") {
                StringTable table;
                table.language = block.key;
                for (size_t s = block.children; s < block.end;) {
                    Node entry;
                    std::string value;
                    size_t next = 0;
                    if (!ReadNode(bytes, s, block.end, &entry))
                        return Fail(error, "a string of table " + block.key + " is malformed");
                    // The value's length counts characters for text and bytes
                    // for binary data; either way it ends within the entry.
                    if (entry.valueLength != 0 && !Text(bytes, entry.value, entry.valueEnd, &value, &next))
                        return Fail(error, "the string " + entry.key + " is not terminated");
                    table.strings.emplace_back(entry.key, value);
                    s = Align4(entry.end);
                }
                record->tables.push_back(table);
            } else if (info.key == "VarFileInfo" && block.key == "Translation") {
                for (size_t v = 0; v + 4 <= block.valueLength; v += 4)
                    record->translations.push_back(U32(bytes, block.value + v));
            }
            inner = Align4(block.end);
        }
        at = Align4(info.end);
    }
    return true;
}

} // namespace version

#include "host/core/PeFile.h"

#include "host/core/ByteReading.h"

#include <cstdio>
#include <set>

namespace pe {
namespace {

using binary::Fail;

class Reader {
public:
    explicit Reader(const std::vector<uint8_t> &bytes) : bytes_(bytes) {}

    bool Has(uint64_t offset, uint64_t size) const
    {
        return offset <= bytes_.size() && size <= bytes_.size() - offset;
    }
    bool U16(uint64_t offset, uint16_t *value) const
    {
        if (!Has(offset, 2))
            return false;
        *value = binary::Le16(&bytes_[offset]);
        return true;
    }
    bool U32(uint64_t offset, uint32_t *value) const
    {
        if (!Has(offset, 4))
            return false;
        *value = binary::Le32(&bytes_[offset]);
        return true;
    }
    // A NUL-terminated string that must end inside the file.
    bool CString(uint64_t offset, std::string *text) const
    {
        text->clear();
        for (uint64_t i = offset; i < bytes_.size(); ++i) {
            if (bytes_[i] == 0)
                return true;
            text->push_back(char(bytes_[i]));
            if (text->size() > 4096)
                return false;
        }
        return false;
    }

    const uint8_t *Data() const { return bytes_.data(); }

private:
    const std::vector<uint8_t> &bytes_;
};

struct Section {
    uint32_t virtualAddress;
    uint32_t virtualSize;
    uint32_t rawOffset;
    uint32_t rawSize;
};

bool RvaToOffset(const std::vector<Section> &sections, uint32_t rva, uint64_t *offset)
{
    for (const Section &s : sections) {
        const uint32_t extent = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
        if (rva >= s.virtualAddress && uint64_t(rva) < uint64_t(s.virtualAddress) + extent) {
            const uint32_t delta = rva - s.virtualAddress;
            if (delta >= s.rawSize)
                return false;
            *offset = uint64_t(s.rawOffset) + delta;
            return true;
        }
    }
    return false;
}

// Walks the three levels of the resource directory (type, name, language).
class ResourceWalker {
public:
    ResourceWalker(const Reader &r, const std::vector<Section> &sections, uint64_t base, ModuleInfo *info)
        : r_(r), sections_(sections), base_(base), info_(info)
    {
    }

    bool Walk(uint32_t tableOffset, int level, Resource *partial, std::string *error)
    {
        // Each table is read once: a table reached again is shared between
        // entries or part of a cycle, which multiplies the walk.
        if (!tables_.insert(tableOffset).second)
            return Fail(error, "resource directory tables are shared or cyclic");
        uint16_t named = 0, numbered = 0;
        if (!r_.U16(base_ + tableOffset + 12, &named) || !r_.U16(base_ + tableOffset + 14, &numbered))
            return Fail(error, "truncated resource directory");
        for (uint32_t i = 0; i < uint32_t(named) + numbered; ++i) {
            if (++entries_ > 65536)
                return Fail(error, "implausible resource count");
            const uint64_t entry = base_ + tableOffset + 16 + uint64_t(i) * 8;
            uint32_t id = 0, target = 0;
            if (!r_.U32(entry, &id) || !r_.U32(entry + 4, &target))
                return Fail(error, "truncated resource directory");
            std::string label;
            if ((id & 0x80000000u) != 0) {
                if (!NameAt(id & 0x7FFFFFFFu, &label))
                    return Fail(error, "malformed resource name");
            } else {
                label = "#" + std::to_string(id);
            }
            Resource here = *partial;
            if (level == 0)
                here.type = label;
            else if (level == 1)
                here.name = label;
            else
                here.language = uint16_t(id);

            const bool isTable = (target & 0x80000000u) != 0;
            if (isTable != (level < 2))
                return Fail(error, "malformed resource directory");
            if (isTable) {
                if (!Walk(target & 0x7FFFFFFFu, level + 1, &here, error))
                    return false;
                continue;
            }
            uint32_t dataRva = 0, size = 0;
            uint64_t at = 0;
            if (!r_.U32(base_ + target, &dataRva) || !r_.U32(base_ + target + 4, &size) ||
                !RvaToOffset(sections_, dataRva, &at) || !r_.Has(at, size))
                return Fail(error, "malformed resource data entry");
            here.offset = at;
            here.size = size;
            info_->resources.push_back(std::move(here));
        }
        return true;
    }

private:
    // A directory string: a 16-bit count, then UTF-16 units; kept as ASCII.
    bool NameAt(uint32_t offset, std::string *name) const
    {
        uint16_t length = 0;
        if (!r_.U16(base_ + offset, &length) || length > kMaxNameLength)
            return false;
        for (uint16_t k = 0; k < length; ++k) {
            uint16_t unit = 0;
            if (!r_.U16(base_ + offset + 2 + uint64_t(k) * 2, &unit))
                return false;
            name->push_back(unit < 0x80 ? char(unit) : '?');
        }
        return true;
    }

    const Reader &r_;
    const std::vector<Section> &sections_;
    uint64_t base_;
    ModuleInfo *info_;
    uint32_t entries_ = 0;
    std::set<uint32_t> tables_;
    static constexpr uint16_t kMaxNameLength = 256;
};

} // namespace

std::vector<uint8_t> ResourceBytes(const std::vector<uint8_t> &file, const Resource &resource)
{
    if (resource.offset > file.size() || resource.size > file.size() - resource.offset)
        return {};
    return std::vector<uint8_t>(file.begin() + std::ptrdiff_t(resource.offset),
                                file.begin() + std::ptrdiff_t(resource.offset + resource.size));
}

const Resource *FindResource(const ModuleInfo &info, const std::string &type, const std::string &name,
                             uint16_t language)
{
    for (const Resource &resource : info.resources)
        if (resource.type == type && resource.name == name && resource.language == language)
            return &resource;
    return nullptr;
}

bool ParseModule(const std::vector<uint8_t> &bytes, ModuleInfo *info, std::string *error)
{
    Reader r(bytes);
    *info = ModuleInfo();

    uint16_t mz = 0;
    uint32_t peOffset = 0;
    if (!r.U16(0, &mz) || mz != 0x5A4D)
        return Fail(error, "not an executable module (no MZ header)");
    uint32_t signature = 0;
    if (!r.U32(0x3C, &peOffset) || !r.U32(peOffset, &signature) || signature != 0x00004550)
        return Fail(error, "not a PE module (no PE signature)");

    const uint64_t coff = uint64_t(peOffset) + 4;
    uint16_t sectionCount = 0, optionalSize = 0, characteristics = 0;
    if (!r.U16(coff, &info->machine) || !r.U16(coff + 2, &sectionCount) ||
        !r.U16(coff + 16, &optionalSize) || !r.U16(coff + 18, &characteristics))
        return Fail(error, "truncated COFF header");
    info->isDll = (characteristics & 0x2000) != 0;

    const uint64_t optional = coff + 20;
    uint16_t magic = 0;
    if (!r.U16(optional, &magic) || (magic != 0x10b && magic != 0x20b))
        return Fail(error, "unknown optional header");
    info->isPe32Plus = magic == 0x20b;
    const uint64_t directories = optional + (info->isPe32Plus ? 112 : 96);
    uint32_t directoryCount = 0;
    if (!r.U32(directories - 4, &directoryCount))
        return Fail(error, "truncated optional header");

    std::vector<Section> sections;
    const uint64_t sectionTable = optional + optionalSize;
    for (uint16_t i = 0; i < sectionCount; ++i) {
        const uint64_t at = sectionTable + uint64_t(i) * 40;
        Section s{};
        if (!r.U32(at + 8, &s.virtualSize) || !r.U32(at + 12, &s.virtualAddress) ||
            !r.U32(at + 16, &s.rawSize) || !r.U32(at + 20, &s.rawOffset))
            return Fail(error, "truncated section table");
        sections.push_back(s);
    }

    auto directory = [&](uint32_t index, uint32_t *rva, uint32_t *size) {
        *rva = *size = 0;
        if (index >= directoryCount)
            return true;
        return r.U32(directories + index * 8, rva) && r.U32(directories + index * 8 + 4, size);
    };

    uint32_t exportRva = 0, exportSize = 0;
    if (!directory(0, &exportRva, &exportSize))
        return Fail(error, "truncated data directories");
    if (exportRva != 0) {
        uint64_t at = 0;
        uint32_t nameCount = 0, functionsRva = 0, namesRva = 0, ordinalsRva = 0, functionCount = 0;
        if (!RvaToOffset(sections, exportRva, &at) || !r.U32(at + 20, &functionCount) ||
            !r.U32(at + 24, &nameCount) || !r.U32(at + 28, &functionsRva) ||
            !r.U32(at + 32, &namesRva) || !r.U32(at + 36, &ordinalsRva))
            return Fail(error, "malformed export directory");
        if (nameCount > 65536)
            return Fail(error, "implausible export count");
        for (uint32_t i = 0; i < nameCount; ++i) {
            uint64_t nameSlot = 0, ordinalSlot = 0, nameAt = 0, functionSlot = 0;
            uint32_t nameRva = 0, functionRva = 0;
            uint16_t ordinal = 0;
            ExportedName e;
            if (!RvaToOffset(sections, namesRva + i * 4, &nameSlot) || !r.U32(nameSlot, &nameRva) ||
                !RvaToOffset(sections, nameRva, &nameAt) || !r.CString(nameAt, &e.name) ||
                !RvaToOffset(sections, ordinalsRva + i * 2, &ordinalSlot) ||
                !r.U16(ordinalSlot, &ordinal) || ordinal >= functionCount ||
                !RvaToOffset(sections, functionsRva + ordinal * 4u, &functionSlot) ||
                !r.U32(functionSlot, &functionRva))
                return Fail(error, "malformed export entry");
            e.rva = functionRva;
            info->exports.push_back(e);
        }
    }

    uint32_t importRva = 0, importSize = 0;
    if (!directory(1, &importRva, &importSize))
        return Fail(error, "truncated data directories");
    if (importRva != 0) {
        uint64_t at = 0;
        if (!RvaToOffset(sections, importRva, &at))
            return Fail(error, "malformed import directory");
        for (uint32_t i = 0;; ++i) {
            if (i > 4096)
                return Fail(error, "implausible import count");
            uint32_t nameRva = 0, thunkRva = 0;
            if (!r.U32(at + i * 20 + 12, &nameRva) || !r.U32(at + i * 20 + 16, &thunkRva))
                return Fail(error, "truncated import directory");
            if (nameRva == 0 && thunkRva == 0)
                break;
            uint64_t nameAt = 0;
            std::string name;
            if (!RvaToOffset(sections, nameRva, &nameAt) || !r.CString(nameAt, &name))
                return Fail(error, "malformed import name");
            info->importedDlls.push_back(name);
        }
    }

    uint32_t resourceRva = 0, resourceSize = 0;
    if (!directory(2, &resourceRva, &resourceSize))
        return Fail(error, "truncated data directories");
    if (resourceRva != 0) {
        uint64_t at = 0;
        if (!RvaToOffset(sections, resourceRva, &at))
            return Fail(error, "malformed resource directory");
        ResourceWalker walker(r, sections, at, info);
        Resource root;
        if (!walker.Walk(0, 0, &root, error))
            return false;
    }
    return true;
}

bool ReadFileBytes(const std::string &path, std::vector<uint8_t> *bytes)
{
    bytes->clear();
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

} // namespace pe

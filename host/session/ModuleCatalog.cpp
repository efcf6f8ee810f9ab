#include "host/session/ModuleCatalog.h"

namespace {

bool ResourceBytes(HMODULE module, const char *name, const char *type, std::vector<uint8_t> *bytes)
{
    HRSRC found = FindResourceA(module, name, type);
    if (found == nullptr)
        return false;
    HGLOBAL loaded = LoadResource(module, found);
    const void *data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr)
        return false;
    const auto *begin = static_cast<const uint8_t *>(data);
    bytes->assign(begin, begin + SizeofResource(module, found));
    return true;
}

BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR names)
{
    auto *list = reinterpret_cast<std::vector<std::string> *>(names);
    list->push_back(IS_INTRESOURCE(name) ? "#" + std::to_string(reinterpret_cast<uintptr_t>(name))
                                         : std::string(name));
    return TRUE;
}

} // namespace

const aete::Event *FilterResource::Event() const
{
    return hasTerminology ? terminology.FindEvent(list.terminologyClass, list.terminologyEvent) : nullptr;
}

std::string FilterResource::MenuPath() const
{
    return list.category.empty() ? list.name : list.category + " > " + list.name;
}

const FilterResource *ModuleCatalog::FirstFilter() const
{
    for (const FilterResource &f : filters)
        if (f.valid)
            return &f;
    return nullptr;
}

std::string ModuleCatalog::VersionLine() const
{
    if (!hasVersion)
        return "";
    const std::string product = version.String("ProductName");
    return (product.empty() ? std::string("version") : product) + " " + version.FileVersionText();
}

ModuleCatalog ReadModuleCatalog(HMODULE module)
{
    ModuleCatalog catalog;
    // Resource type names are not case-sensitive: "PiPL" finds "PIPL".
    std::vector<std::string> names;
    EnumResourceNamesA(module, "PiPL", CollectName, reinterpret_cast<LONG_PTR>(&names));
    for (const std::string &name : names) {
        FilterResource f;
        f.resourceName = name;
        std::vector<uint8_t> bytes;
        if (!ResourceBytes(module, name.c_str(), "PiPL", &bytes)) {
            f.error = "cannot be loaded";
        } else if (pipl::Parse(bytes, &f.list, &f.error)) {
            f.valid = true;
        }
        if (f.valid && f.list.hasTerminology) {
            std::vector<uint8_t> terms;
            const auto id = static_cast<uint16_t>(f.list.terminologyResource);
            if (!ResourceBytes(module, MAKEINTRESOURCEA(id), "AETE", &terms)) {
                f.terminologyError = "its terminology (AETE " + std::to_string(id) + ") is missing";
            } else if (!aete::Parse(terms, &f.terminology, &f.terminologyError)) {
                f.terminologyError = "its terminology (AETE " + std::to_string(id) + ") is malformed: " + f.terminologyError;
            } else {
                f.hasTerminology = true;
                if (f.Event() == nullptr)
                    f.terminologyError = "its terminology has no event " + pipl::CodeText(f.list.terminologyClass) + "/" +
                                         pipl::CodeText(f.list.terminologyEvent);
            }
        }
        catalog.filters.push_back(f);
    }

    std::vector<uint8_t> record;
    if (ResourceBytes(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16), &record))
        catalog.hasVersion = version::Parse(record, &catalog.version, &catalog.versionError);
    return catalog;
}

const char *EntryPointKey()
{
    return sizeof(void *) == 8 ? "8664" : "wx86";
}

std::string EntryPointFor(const pipl::PropertyList &list)
{
    return sizeof(void *) == 8 ? list.entryX64 : list.entryX86;
}

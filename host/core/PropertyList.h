// The plug-in property list ("PiPL") as hosts read it: parsed and checked
// from the resource's bytes, and the enabling expression evaluated for a
// document's mode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pipl {

struct Property {
    uint32_t vendor = 0;
    uint32_t key = 0;
    int32_t id = 0;
    std::vector<uint8_t> data;
};

struct FilterCase {
    uint8_t inputHandling = 0, outputHandling = 0, flags1 = 0, flags2 = 0;
};

struct PropertyList {
    std::vector<Property> properties;

    // The standard properties, when present.
    uint32_t kind = 0;
    std::string name, category, entryX86, entryX64, enableExpression;
    bool hasEnable = false;
    uint32_t interfaceVersion = 0;
    bool hasMode = false;
    uint16_t modeFlags = 0;  // most significant byte first, as stored
    bool hasTerminology = false;
    uint32_t terminologyClass = 0, terminologyEvent = 0;
    int16_t terminologyResource = 0;
    std::string terminologyScope;
    std::vector<FilterCase> filterCases;
};

constexpr uint32_t Code(const char (&text)[5])
{
    return (uint32_t(uint8_t(text[0])) << 24) | (uint32_t(uint8_t(text[1])) << 16) |
           (uint32_t(uint8_t(text[2])) << 8) | uint32_t(uint8_t(text[3]));
}

// A four-character code in its reading order ("kvr1").
std::string CodeText(uint32_t code);

// Parses and checks a property list; false with a reason when a host would
// refuse it (header, version, a length not padded to 4, a truncated
// property, a kind other than a filter, an interface above 4.0).
bool Parse(const std::vector<uint8_t> &bytes, PropertyList *list, std::string *error);

// Evaluates an enabling expression for a document's image mode, given by its
// name in the host interface ("RGBMode", ...). Understands
// `in (PSHOP_ImageMode, A, B, ...)`, `PSHOP_ImageMode == A`, `!`, `&&`, `||`
// and parentheses, and the constants true and false. False with a reason
// when it cannot parse the expression.
bool Evaluate(const std::string &expression, const std::string &imageMode, bool *enabled, std::string *error);

// Whether the mode flags of a list without an expression admit a mode
// (by its number in the host interface).
bool ModeFlagsAdmit(uint16_t flags, int mode);

// Whether a host enables the filter's menu item for a document of that mode
// (number and name): by the enabling expression when there is one (one that
// cannot be read disables), else by the mode flags. The reason says why not.
struct Enablement {
    bool enabled = false;
    std::string reason;
};
Enablement EnabledFor(const PropertyList &list, int mode, const std::string &modeName);

// Filter cases, numbered as in the list's fici property.
enum {
    kFlatImageNoSelection = 1,
    kFlatImageWithSelection = 2,
    kFloatingSelection = 3,
    kEditableTransparencyNoSelection = 4,
    kEditableTransparencyWithSelection = 5,
    kProtectedTransparencyNoSelection = 6,
    kProtectedTransparencyWithSelection = 7,
};
// Handling codes of a filter case: the case cannot be filtered, the pixels
// pass as they are, or transparent parts are matted against white on the
// way in (and the matte taken out again on the way back).
enum {
    kHandlingCantFilter = 0,
    kHandlingNone = 1,
    kHandlingWhiteMatte = 4,
};
// fici flags1 bits.
enum : uint8_t {
    kDontCopyToDestination = 0x01,
    kWorksWithBlankData = 0x02,
    kFiltersLayerMasks = 0x04,
    kWritesOutsideSelection = 0x08,
};

int FilterCaseFor(bool hasSelection, bool hasTransparency);
// The handling the list asks for in a case (pixels as they are when the
// list has no fici property).
FilterCase CaseHandling(const PropertyList &list, int filterCase);

} // namespace pipl

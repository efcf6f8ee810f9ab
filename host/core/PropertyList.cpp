#include "host/core/PropertyList.h"

#include "host/core/ByteReading.h"

#include <cctype>

namespace pipl {
namespace {

using binary::Fail;

bool PascalString(const std::vector<uint8_t> &data, std::string *text)
{
    if (data.empty() || size_t(data[0]) + 1 > data.size())
        return false;
    text->assign(data.begin() + 1, data.begin() + 1 + data[0]);
    return true;
}

bool CString(const std::vector<uint8_t> &data, size_t from, std::string *text)
{
    text->clear();
    for (size_t i = from; i < data.size(); ++i) {
        if (data[i] == 0)
            return true;
        text->push_back(char(data[i]));
    }
    return false;
}

// A small recursive-descent reader of enabling expressions.
class Expression {
public:
    Expression(const std::string &text, const std::string &mode) : text_(text), mode_(mode) {}

    bool Run(bool *value, std::string *error)
    {
        if (!Or(value) || (Skip(), at_ != text_.size()))
            return Fail(error, error_.empty() ? "unexpected text at position " + std::to_string(at_) : error_);
        return true;
    }

private:
    void Skip()
    {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_])))
            ++at_;
    }
    bool Take(const std::string &token)
    {
        Skip();
        if (text_.compare(at_, token.size(), token) != 0)
            return false;
        at_ += token.size();
        return true;
    }
    bool Identifier(std::string *name)
    {
        Skip();
        const size_t start = at_;
        while (at_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[at_])) || text_[at_] == '_'))
            ++at_;
        *name = text_.substr(start, at_ - start);
        return !name->empty();
    }
    bool Or(bool *value)
    {
        if (!And(value))
            return false;
        while (Take("||")) {
            bool right = false;
            if (!And(&right))
                return false;
            *value = *value || right;
        }
        return true;
    }
    bool And(bool *value)
    {
        if (!Unary(value))
            return false;
        while (Take("&&")) {
            bool right = false;
            if (!Unary(&right))
                return false;
            *value = *value && right;
        }
        return true;
    }
    bool Unary(bool *value)
    {
        // Nesting deep enough to exhaust the stack is no expression a
        // person wrote.
        if (++depth_ > 200)
            return Error("the expression nests too deeply");
        const bool ok = Term(value);
        --depth_;
        return ok;
    }
    bool Term(bool *value)
    {
        if (Take("!")) {
            if (!Unary(value))
                return false;
            *value = !*value;
            return true;
        }
        if (Take("(")) {
            if (!Or(value) || !Take(")"))
                return Error("a parenthesis is not closed");
            return true;
        }
        std::string word;
        if (!Identifier(&word))
            return Error("expected a term at position " + std::to_string(at_));
        if (word == "true" || word == "false") {
            *value = word == "true";
            return true;
        }
        if (word == "in") {
            std::string variable;
            if (!Take("(") || !Identifier(&variable))
                return Error("`in` wants (variable, value, ...)");
            if (variable != "PSHOP_ImageMode")
                return Error("unknown variable " + variable);
            *value = false;
            while (Take(",")) {
                std::string item;
                if (!Identifier(&item))
                    return Error("expected a mode name in the `in` list");
                *value = *value || item == mode_;
            }
            if (!Take(")"))
                return Error("the `in` list is not closed");
            return true;
        }
        if (word == "PSHOP_ImageMode" && Take("==")) {
            std::string item;
            if (!Identifier(&item))
                return Error("expected a mode name after ==");
            *value = item == mode_;
            return true;
        }
        return Error("unknown term " + word);
    }
    bool Error(const std::string &why)
    {
        if (error_.empty())
            error_ = why;
        return false;
    }

    const std::string &text_;
    const std::string &mode_;
    size_t at_ = 0;
    int depth_ = 0;
    std::string error_;
};

} // namespace

std::string CodeText(uint32_t code)
{
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8)
        text.push_back(char((code >> shift) & 0xFF));
    return text;
}

bool Parse(const std::vector<uint8_t> &bytes, PropertyList *list, std::string *error)
{
    *list = PropertyList();
    if (bytes.size() < 10)
        return Fail(error, "property list shorter than its header");
    if (binary::Le16(bytes.data()) != 1)
        return Fail(error, "property list does not begin with 1");
    if (binary::Le32(bytes.data() + 2) != 0)
        return Fail(error, "property list version is not 0");
    const uint32_t count = binary::Le32(bytes.data() + 6);
    size_t at = 10;
    for (uint32_t i = 0; i < count; ++i) {
        if (bytes.size() - at < 16)
            return Fail(error, "property " + std::to_string(i + 1) + " is truncated");
        Property p;
        p.vendor = binary::Le32(bytes.data() + at);
        p.key = binary::Le32(bytes.data() + at + 4);
        p.id = int32_t(binary::Le32(bytes.data() + at + 8));
        const uint32_t length = binary::Le32(bytes.data() + at + 12);
        at += 16;
        if (length % 4 != 0)
            return Fail(error, "property '" + CodeText(p.key) + "' has a length not padded to 4");
        if (bytes.size() - at < length)
            return Fail(error, "property '" + CodeText(p.key) + "' is truncated");
        p.data.assign(bytes.begin() + long(at), bytes.begin() + long(at + length));
        at += length;
        list->properties.push_back(p);
    }

    for (const Property &p : list->properties) {
        const std::vector<uint8_t> &d = p.data;
        const std::string key = CodeText(p.key);
        bool ok = true;
        if (p.key == Code("kind"))
            ok = d.size() >= 4 && (list->kind = binary::Le32(d.data()), true);
        else if (p.key == Code("name"))
            ok = PascalString(d, &list->name);
        else if (p.key == Code("catg"))
            ok = PascalString(d, &list->category);
        else if (p.key == Code("vers"))
            ok = d.size() >= 4 && (list->interfaceVersion = binary::Le32(d.data()), true);
        else if (p.key == Code("wx86"))
            ok = CString(d, 0, &list->entryX86);
        else if (p.key == Code("8664"))
            ok = CString(d, 0, &list->entryX64);
        else if (p.key == Code("enbl"))
            ok = CString(d, 0, &list->enableExpression) && (list->hasEnable = true);
        else if (p.key == Code("mode")) {
            ok = d.size() >= 2;
            if (ok) {
                list->hasMode = true;
                list->modeFlags = uint16_t((d[0] << 8) | d[1]);
            }
        } else if (p.key == Code("hstm")) {
            ok = d.size() >= 14 && CString(d, 14, &list->terminologyScope);
            if (ok) {
                list->hasTerminology = true;
                list->terminologyClass = binary::Le32(d.data() + 4);
                list->terminologyEvent = binary::Le32(d.data() + 8);
                list->terminologyResource = int16_t(binary::Le16(d.data() + 12));
            }
        } else if (p.key == Code("fici")) {
            ok = d.size() >= 28;
            for (size_t c = 0; ok && c < 7; ++c)
                list->filterCases.push_back(FilterCase{d[c * 4], d[c * 4 + 1], d[c * 4 + 2], d[c * 4 + 3]});
        }
        if (!ok)
            return Fail(error, "property '" + key + "' is malformed");
    }
    if (list->kind != Code("8BFM"))
        return Fail(error, "the module is not a filter (kind '" + CodeText(list->kind) + "')");
    if (list->interfaceVersion > (4u << 16))
        return Fail(error, "interface version above 4.0");
    return true;
}

bool Evaluate(const std::string &expression, const std::string &imageMode, bool *enabled, std::string *error)
{
    Expression parser(expression, imageMode);
    return parser.Run(enabled, error);
}

Enablement EnabledFor(const PropertyList &list, int mode, const std::string &modeName)
{
    Enablement e;
    if (list.hasEnable) {
        std::string why;
        if (!Evaluate(list.enableExpression, modeName, &e.enabled, &why)) {
            e.enabled = false;
            e.reason = "its enabling expression \"" + list.enableExpression + "\" cannot be read: " + why;
        } else if (!e.enabled) {
            e.reason = "its enabling expression \"" + list.enableExpression + "\" excludes " + modeName;
        }
    } else if (list.hasMode) {
        e.enabled = ModeFlagsAdmit(list.modeFlags, mode);
        if (!e.enabled)
            e.reason = "its mode flags exclude " + modeName;
    } else {
        e.reason = "it names no image modes";
    }
    return e;
}

int FilterCaseFor(bool hasSelection, bool hasTransparency)
{
    if (hasTransparency)
        return hasSelection ? kEditableTransparencyWithSelection : kEditableTransparencyNoSelection;
    return hasSelection ? kFlatImageWithSelection : kFlatImageNoSelection;
}

FilterCase CaseHandling(const PropertyList &list, int filterCase)
{
    if (filterCase >= 1 && size_t(filterCase) <= list.filterCases.size())
        return list.filterCases[size_t(filterCase) - 1];
    return FilterCase{kHandlingNone, kHandlingNone, 0, 0};
}

bool ModeFlagsAdmit(uint16_t flags, int mode)
{
    // Bit 15 (the first byte's top bit) is bitmap mode; mode n is bit 15 - n.
    if (mode < 0 || mode > 13)
        return false;
    return (flags >> (15 - mode)) & 1;
}

} // namespace pipl

#include "host/core/Terminology.h"

#include "host/core/ByteReading.h"

namespace aete {
namespace {

using binary::Fail;

class Reader {
public:
    explicit Reader(const std::vector<uint8_t> &bytes) : bytes_(bytes) {}

    bool U8(uint8_t *v)
    {
        if (!Has(1))
            return false;
        *v = bytes_[at_++];
        return true;
    }
    bool U16(uint16_t *v)
    {
        if (!Has(2))
            return false;
        *v = binary::Le16(&bytes_[at_]);
        at_ += 2;
        return true;
    }
    bool U32(uint32_t *v)
    {
        if (!Has(4))
            return false;
        *v = binary::Le32(&bytes_[at_]);
        at_ += 4;
        return true;
    }
    // A count byte and the characters.
    bool Pascal(std::string *text)
    {
        uint8_t length = 0;
        if (!U8(&length) || !Has(length))
            return false;
        text->assign(bytes_.begin() + long(at_), bytes_.begin() + long(at_ + length));
        at_ += length;
        return true;
    }
    size_t At() const { return at_; }

private:
    bool Has(size_t n) const { return n <= bytes_.size() - at_; }

    const std::vector<uint8_t> &bytes_;
    size_t at_ = 0;
};

bool ReadEvent(Reader &r, Event *e)
{
    uint16_t count = 0;
    if (!r.Pascal(&e->name) || !r.Pascal(&e->description) || !r.U32(&e->eventClass) || !r.U32(&e->eventId))
        return false;
    std::string unused;
    if (!r.U32(&e->replyType) || !r.Pascal(&unused) || !r.U16(&e->replyFlags))
        return false;
    if (!r.U32(&e->directType) || !r.Pascal(&unused) || !r.U16(&e->directFlags))
        return false;
    if (!r.U16(&count))
        return false;
    for (uint16_t i = 0; i < count; ++i) {
        Parameter p;
        if (!r.Pascal(&p.name) || !r.U32(&p.key) || !r.U32(&p.type) || !r.Pascal(&p.description) ||
            !r.U16(&p.flags))
            return false;
        e->parameters.push_back(p);
    }
    return true;
}

} // namespace

const Event *Terminology::FindEvent(uint32_t eventClass, uint32_t eventId) const
{
    for (const Suite &s : suites)
        for (const Event &e : s.events)
            if (e.eventClass == eventClass && e.eventId == eventId)
                return &e;
    return nullptr;
}

bool Parse(const std::vector<uint8_t> &bytes, Terminology *terms, std::string *error)
{
    *terms = Terminology();
    Reader r(bytes);
    uint16_t format = 0, suiteCount = 0;
    if (!r.U16(&format) || format != 1)
        return Fail(error, "terminology does not begin with 1");
    if (!r.U8(&terms->majorVersion) || !r.U8(&terms->minorVersion) || !r.U16(&terms->language) ||
        !r.U16(&terms->script) || !r.U16(&suiteCount))
        return Fail(error, "terminology header is truncated");
    for (uint16_t s = 0; s < suiteCount; ++s) {
        Suite suite;
        uint16_t events = 0, classes = 0, operators = 0, enumerations = 0;
        const std::string which = "suite " + std::to_string(s + 1);
        if (!r.Pascal(&suite.name) || !r.Pascal(&suite.description) || !r.U32(&suite.id) ||
            !r.U16(&suite.level) || !r.U16(&suite.version) || !r.U16(&events))
            return Fail(error, which + " is truncated");
        for (uint16_t e = 0; e < events; ++e) {
            Event event;
            if (!ReadEvent(r, &event))
                return Fail(error, which + ", event " + std::to_string(e + 1) + " is truncated");
            suite.events.push_back(event);
        }
        if (!r.U16(&classes) || !r.U16(&operators))
            return Fail(error, which + " is truncated after its events");
        if (classes != 0 || operators != 0)
            return Fail(error, which + " declares classes or comparison operators, which a filter has none of");
        if (!r.U16(&enumerations))
            return Fail(error, which + " is truncated before its enumerations");
        for (uint16_t n = 0; n < enumerations; ++n) {
            Enumeration enumeration;
            uint16_t count = 0;
            if (!r.U32(&enumeration.id) || !r.U16(&count))
                return Fail(error, which + ", enumeration " + std::to_string(n + 1) + " is truncated");
            for (uint16_t k = 0; k < count; ++k) {
                Enumerator item;
                if (!r.Pascal(&item.name) || !r.U32(&item.code) || !r.Pascal(&item.description))
                    return Fail(error, which + ", enumeration " + std::to_string(n + 1) + " is truncated");
                enumeration.enumerators.push_back(item);
            }
            suite.enumerations.push_back(enumeration);
        }
        terms->suites.push_back(suite);
    }
    // Zero bytes may pad the resource; anything else is left over from a
    // misread.
    for (size_t i = r.At(); i < bytes.size(); ++i)
        if (bytes[i] != 0)
            return Fail(error, "terminology has stray bytes at its end");
    return true;
}

} // namespace aete

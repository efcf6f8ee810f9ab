// The scripting terminology ("AETE") a filter names through its property
// list, read as a host reads it: suites, events with their parameters, and
// enumerations. Every read is bounds-checked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace aete {

struct Parameter {
    std::string name, description;
    uint32_t key = 0, type = 0;
    uint16_t flags = 0;
};

struct Event {
    std::string name, description;
    uint32_t eventClass = 0, eventId = 0;
    uint32_t replyType = 0, directType = 0;
    uint16_t replyFlags = 0, directFlags = 0;
    std::vector<Parameter> parameters;
};

struct Enumerator {
    std::string name, description;
    uint32_t code = 0;
};

struct Enumeration {
    uint32_t id = 0;
    std::vector<Enumerator> enumerators;
};

struct Suite {
    std::string name, description;
    uint32_t id = 0;
    uint16_t level = 0, version = 0;
    std::vector<Event> events;
    std::vector<Enumeration> enumerations;
};

struct Terminology {
    uint8_t majorVersion = 0, minorVersion = 0;
    uint16_t language = 0, script = 0;
    std::vector<Suite> suites;

    // The event of that class and id, or null.
    const Event *FindEvent(uint32_t eventClass, uint32_t eventId) const;
};

// False with a reason for anything truncated or not in the resource's form.
// Classes and comparison operators are not supported (a filter declares
// none); a resource with them is refused.
bool Parse(const std::vector<uint8_t> &bytes, Terminology *terms, std::string *error);

} // namespace aete

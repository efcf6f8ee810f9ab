// A channel port of the emulated host: either one plane of the document
// (read-only) or a scratch channel created by the plug-in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/HostInterface.h"

struct Document;

struct HostChannelPort {};

struct HostPort : HostChannelPort {
    std::string name;
    int32_t depth = 8;
    VRect bounds{};
    bool writable = false;
    bool createdByPlugin = false;
    Document *document = nullptr;   // set for a document plane
    int32_t plane = 0;
    std::vector<uint16_t> samples;  // a scratch channel's own samples
};

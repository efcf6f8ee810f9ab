// A channel port of the emulated host: one plane of the document (read-only)
// or a scratch channel that the plug-in created.
#pragma once

#include <string>

#include "host/core/Raster.h"
#include "plugin/HostInterface.h"

struct HostChannelPort {};

struct HostPort : HostChannelPort {
    std::string name;
    bool writable = false;
    bool createdByPlugin = false;
    Raster own;        // a scratch channel's samples
    RasterView view;   // what the port reads and writes: `own` or a document plane
    Pyramid pyramid;   // built on the first read from a level above 0 or a scaled read

    const Pyramid &Levels()
    {
        if (pyramid.Empty())
            pyramid.Build(view);
        return pyramid;
    }
};

// The channel-ports suite (version 3) that the host hands out.
const PSChannelPortsSuite3 &ChannelPortsSuite();

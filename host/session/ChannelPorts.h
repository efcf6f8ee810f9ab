// The channel ports the host serves: one per plane of the document
// (read-only) and the scratch channels the plug-in creates, with the
// channel-ports suite (version 3) through which the plug-in reads and writes
// them, scales them and runs the host's named filters on them.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/ChannelFilters.h"
#include "engine/Raster.h"
#include "plugin/HostInterface.h"

struct HostChannelPort {};

struct HostPort : HostChannelPort {
    std::string name;
    bool writable = false;
    bool createdByPlugin = false;
    Raster own;        // a scratch channel's samples
    RasterView view;   // what the port reads and writes: `own` or a document plane
    Pyramid pyramid;   // built on the first read from a level above 0 or a scaled read

    const Pyramid &Levels();
};

class FilterHost;

class ChannelPorts {
public:
    explicit ChannelPorts(FilterHost &host) : host_(host) {}
    ChannelPorts(const ChannelPorts &) = delete;
    ChannelPorts &operator=(const ChannelPorts &) = delete;

    // The suite as the host hands it out, every entry present.
    static const PSChannelPortsSuite3 &Suite();

    // A read-only port over one plane of the document.
    HostPort *AddDocumentPlane(const std::string &name, const RasterView &view);
    // The document's ports go with it; the plug-in's stay listed until
    // CollectLeaks reports them.
    void DropDocumentPorts();
    // The document's samples changed under its ports: their reduced levels
    // are built again on the next read.
    void DocumentChanged();
    // Ports the plug-in created and never disposed, each removed once listed.
    void CollectLeaks(std::vector<std::string> *leaks);
    // Counts of calls start again with each run.
    void BeginRun() { callCounts_.clear(); }

    // For the suite's entries.
    HostPort *Find(PIChannelPort port) const;
    HostPort *New(const VRect &rect, int32_t depth);
    bool Dispose(PIChannelPort port);
    // Whether the host's behaviour makes this call of the named kind fail.
    bool CallFails(const std::string &call);
    // The memory the host's named filters work in, kept from call to call:
    // one workspace for each thread that runs a band of rows.
    filters::Workspace &Workspace(size_t thread = 0)
    {
        if (thread == 0)
            return workspace_;
        while (bandWorkspaces_.size() < thread)
            bandWorkspaces_.push_back(std::make_unique<filters::Workspace>());
        return *bandWorkspaces_[thread - 1];
    }

private:
    FilterHost &host_;
    std::vector<std::unique_ptr<HostPort>> ports_;
    std::map<std::string, int> callCounts_;
    filters::Workspace workspace_;
    std::vector<std::unique_ptr<filters::Workspace>> bandWorkspaces_;
};

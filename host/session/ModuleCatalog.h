// What a host learns of a filter module from its resources before calling
// any of its code: every plug-in property list ("PiPL"), checked; the
// scripting terminology each names; and the version record.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "host/core/PropertyList.h"
#include "host/core/Terminology.h"
#include "host/core/VersionRecord.h"

struct FilterResource {
    std::string resourceName;  // "#16000", or the resource's name
    bool valid = false;
    std::string error;         // why a host would not list it
    pipl::PropertyList list;
    // The terminology named by hstm, when there is one and it reads.
    bool hasTerminology = false;
    aete::Terminology terminology;
    std::string terminologyError;
    const aete::Event *Event() const;
    // "Korvane > Umbrolux..."
    std::string MenuPath() const;
};

struct ModuleCatalog {
    std::vector<FilterResource> filters;
    bool hasVersion = false;
    version::VersionRecord version;
    std::string versionError;

    // The first property list that a host would list, or null.
    const FilterResource *FirstFilter() const;
    // "Umbrolux Photoshop plugin 1.0.0.1", or "" without a record.
    std::string VersionLine() const;
};

ModuleCatalog ReadModuleCatalog(HMODULE module);

// The property list's entry point for this host's architecture: 8664 in a
// 64-bit host, wx86 in a 32-bit one.
std::string EntryPointFor(const pipl::PropertyList &list);
const char *EntryPointKey();

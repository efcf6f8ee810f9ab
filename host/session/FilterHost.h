// The emulated host: loads a filter module, builds the filter record, calls
// the entry point in a real host's order and reports what the module did.
// The services the record and the suites offer are rooms of their own:
// HostSuites (memory and the basic suite), ChannelPorts, TileDelivery,
// PixelMapDrawing and ImportWatch; each serves its part of the record, as
// the host profile (HostProfile) decides. The record and the document
// description for a document are built in FilterRecordBuilding.cpp.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/session/ChannelPorts.h"
#include "host/session/HostProfile.h"
#include "host/session/HostSuites.h"
#include "host/watch/ImportWatch.h"
#include "host/session/ModuleCatalog.h"
#include "host/session/PixelMapDrawing.h"
#include "host/session/TileDelivery.h"
#include "host/windows/WindowDriver.h"
#include "host/core/Document.h"
#include "host/core/PixelMapImage.h"
#include "plugin/HostInterface.h"

enum class EventKind { Selector, Suite, Handle, Buffer, Port, Window, Progress, Advance, Registry, Failure };

const char *EventKindName(EventKind kind);
// "(top,left,bottom,right)"
std::string RectText(const Rect &r);

struct HostEvent {
    EventKind kind;
    std::string text;
};

// Host behaviours that tests and users can switch.
struct HostBehaviour {
    // The host stood in for; every switch below applies on top of it.
    HostProfile profile = HostProfile::Full;
    OSType hostSignature = 0;          // the record's hostSig (0: the profile's own)
    Fixed inputRate = 0;               // the record's inputRate before the plug-in sets it (0: 1.0)
    bool zeroDepth = false;            // the record's depth is 0 (a host that leaves it unset)
    // The host keeps only the output it stored last, as GIMP's loader does
    // (see ProfileServices::lastStoredOutputOnly), on whatever profile.
    bool lastOutputOnly = false;
    bool noPlatformWindow = false;     // the record's platformData is null
    bool noFinish = false;             // the host does not call finish after a successful run
    bool noBasicSuite = false;         // the record carries no basic suite
    std::string refusedSuite;          // AcquireSuite fails for this name
    std::string nullSuite;             // AcquireSuite succeeds with a null suite
    bool noHandleProcs = false;        // the record carries no handle procedures
    bool failHandleAllocation = false; // newProc answers null
    bool repeatLastFilter = false;     // skip parameters, as a real host does on a repeat
    bool noDocumentInfo = false;       // the record carries no document description
    int continueLimit = 100000;        // continue calls before the plug-in is called stuck
    // Channel-port calls that fail: call name ("New", "WritePixelsToBaseLevel",
    // "ReadPixelsFromLevel", "ReadScaledPixels", "ApplyOperation:<name>", "CanRead")
    // -> which call of that name fails, from 1; 0 fails every call.
    std::map<std::string, int> portFaults;
    bool canReadAnswer = true;         // what CanRead answers for the document's ports
    // The record's tile sizes, stored as int16 as the record has them: 0 and
    // negative sizes (which some hosts give) reach the record as they are.
    int32_t tileWidth = 256;
    int32_t tileHeight = 256;
    int32_t rowPadding = 0;            // bytes added to every row of inData, outData and maskData
    int abortAfter = 0;                // abortProc answers true from this call on (0: never)
    int failAdvanceOn = 0;             // advanceState fails on this call (0: never)
    OSErr advanceError = memFullErr;   // ... with this code
    bool failBufferAllocation = false; // the buffer suite's New answers null
    int failBufferOn = 0;              // ... on this call only, from 1 (0: never)
                                       // (both also fail the record's allocateProc)
    // A service the host lacks: "advanceState", "progressProc", "abortProc",
    // "displayPixels", "ports:<entry>" (CanRead, ReadScaledPixels, New,
    // Dispose, WritePixelsToBaseLevel, ReadPixelsFromLevel, ApplyOperation,
    // GetDataBounds) or "buffers:<entry>" (New, Dispose).
    std::string missingEntry;
    // Row steps and a selection left in the record from its earlier use
    // while the dialog runs (a host that reuses its record).
    bool staleTileLayout = false;
    bool nullTileBuffers = false;      // advanceState answers success but delivers no buffers
    // The module may not create keys under HKEY_LOCAL_MACHINE (a standard
    // user under a host that Windows does not virtualise).
    bool refuseMachineKey = false;
    // The module's malloc answers null while the start call runs, so that
    // anything it allocates with new throws.
    bool failModuleMalloc = false;
    bool escapeCancels = false;        // abortProc answers true while Esc is down (a person at the keyboard)
    bool ignoreEnabling = false;       // call the filter whatever its enabling rule says (a scripted call)
    bool openShell = false;            // let the module's ShellExecuteA through (a person at the display)
};

struct SelectorCall {
    int16_t selector;
    int16_t result;
};

struct RunReport {
    std::vector<SelectorCall> calls;
    int16_t result = 0;              // the last selector's result
    bool finished = false;           // finish was called
    // The run went through: start and every continue succeeded (a host that
    // calls no finish after success ends there).
    bool completed = false;
    std::vector<std::string> leaks;  // anything left acquired, allocated or undisposed
    std::vector<std::string> failures;
    // Why the host did not call the filter at all: its menu item is greyed
    // for this document, or the filter case cannot be filtered.
    std::string notEnabled;
    // The filter case the host chose, and the handling the filter asked
    // for in it.
    int filterCase = 0;
    pipl::FilterCase handling;

    bool Clean() const { return leaks.empty() && failures.empty(); }
};

class FilterHost {
public:
    FilterHost();
    ~FilterHost();
    FilterHost(const FilterHost &) = delete;
    FilterHost &operator=(const FilterHost &) = delete;

    bool Load(const std::string &modulePath, std::string *error);
    void Unload();
    bool Loaded() const { return entry_ != nullptr; }
    // What the module's resources say; the filter in use; and what was
    // wrong with resources a host passes over (malformed property lists,
    // a missing terminology).
    const ModuleCatalog &Catalog() const { return catalog_; }
    const FilterResource *Filter() const { return catalog_.FirstFilter(); }
    std::vector<std::string> loadWarnings;
    // Whether a host enables the filter for a document, and why not.
    pipl::Enablement EnabledFor(const Document &document) const;

    // The whole selector sequence over the document, which receives the result.
    RunReport Run(Document &document);
    // Selector 0 with an about record.
    RunReport About();
    // One raw selector call on the record as it stands (for tests).
    int16_t Call(int16_t selector, void *paramBlock);

    // Binds the record, suites and ports to a document without running.
    void Attach(Document &document);
    void Detach();
    FilterRecord &Record() { return record_; }
    // What the behaviour's profile offers.
    ProfileServices Services() const { return ServicesOf(behaviour.profile); }
    // The host keeps only the output it stored last (its profile's way, or
    // the behaviour's switch on another profile).
    bool LastStoredOutputOnly() const { return behaviour.lastOutputOnly || Services().lastStoredOutputOnly; }
    std::vector<std::string> CheckLeaks();

    HostBehaviour behaviour;
    WindowDriver windows;

    // Where the time of the last run went, in seconds: in the plug-in's
    // selector calls (everything it did, the host's services included), in
    // the host's named filters, and in delivering and committing tiles.
    // The dialog's share is the time from the start call to the first tile
    // (the whole start call when no tile was asked for).
    struct Timing {
        double selectors = 0, hostFilters = 0, tileDelivery = 0, dialog = 0;
        double previewFilters = 0;  // the host's filters run for the dialog's preview
        double previewReads = 0;    // image data delivered for the dialog's preview
        double display = 0;         // drawing pixel maps for the plug-in
    } timing;
    // Where the time of a host filter goes: to the preview while the dialog
    // is open, else to the run.
    double *FilterClock() { return startBegan_ >= 0 ? &timing.previewFilters : &timing.hostFilters; }
    // The same for delivering image data.
    double *DeliveryClock() { return startBegan_ >= 0 ? &timing.previewReads : &timing.tileDelivery; }
    // The first tile ends the dialog's share of the start call.
    void DialogClosed();
    static double Now();

    // Adds the time from its construction to its end to *total.
    class Stopwatch {
    public:
        explicit Stopwatch(double *total) : total_(total), started_(Now()) {}
        ~Stopwatch() { *total_ += Now() - started_; }
        Stopwatch(const Stopwatch &) = delete;
        Stopwatch &operator=(const Stopwatch &) = delete;

    private:
        double *total_;
        double started_;
    };
    std::vector<HostEvent> events;
    void Log(EventKind kind, std::string text);
    HWND MainWindow() const { return mainWindow_; }

    size_t CountEvents(EventKind kind, const std::string &prefix) const;
    // The same, counting only what came after the filter's dialog closed
    // (the last "dialog ..." window event).
    size_t CountEventsAfterDialog(EventKind kind, const std::string &prefix) const;

    // Makes this host the one the callbacks serve, for as long as the scope
    // lives (the host does this itself around each selector call).
    class Session {
    public:
        explicit Session(FilterHost *host);
        ~Session();
        Session(const Session &) = delete;
        Session &operator=(const Session &) = delete;

    private:
        FilterHost *previous_;
    };
    // The host the callbacks serve, or null outside a selector call.
    static FilterHost *Active();
    bool StartUnderWay() const { return inStart_; }

    // Told of every progress report (the command line draws a bar).
    std::function<void(int32_t, int32_t)> onProgress;

    // The rooms that serve the record and the suites.
    HostSuites suites;
    ChannelPorts ports;
    TileDelivery tiles;
    PixelMapDrawing drawing;
    ImportWatch imports;

private:
    size_t CountEventsFrom(size_t start, EventKind kind, const std::string &prefix) const;
    void BuildRecord(Document &document);
    void BuildDocumentInfo(Document &document);

    HMODULE module_ = nullptr;
    PluginEntryProc entry_ = nullptr;
    ModuleCatalog catalog_;
    HWND mainWindow_ = nullptr;
    Document *document_ = nullptr;

    FilterRecord record_;
    PlatformData platform_;
    std::vector<uint8_t> staleSelection_;
    ReadImageDocumentDesc documentInfo_;
    std::vector<ReadChannelDesc> channelDescs_;
    double startBegan_ = -1;  // while the start call runs
    bool inStart_ = false;
};

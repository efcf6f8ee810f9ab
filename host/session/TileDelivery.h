// Delivering tiles: the record's advanceState, which copies the requested
// rectangles of the document into interleaved buffers laid out as the record
// says (the input sampled at the record's inputRate where the profile
// honours it), and commits the plug-in's output of the previous tile into
// the document; with the progress and abort callbacks that go with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/HostInterface.h"

class FilterHost;
struct Document;

class TileDelivery {
public:
    explicit TileDelivery(FilterHost &host) : host_(host) {}
    TileDelivery(const TileDelivery &) = delete;
    TileDelivery &operator=(const TileDelivery &) = delete;

    // Puts advanceState, progress and abort into the record (less whatever
    // the host's behaviour takes away) and starts delivering from the
    // document.
    void Serve(FilterRecord &record, Document *document);
    void Stop() { document_ = nullptr; }
    // Writes the output of the last tile into the document (after the
    // plug-in returns, as the next advanceState would).
    void Commit();
    // After each selector call: commits the last tile's output, unless the
    // host keeps only the output it stored last.
    void EndOfCall();
    // After a successful run: commits the output that a host keeping only
    // the last stored one keeps.
    void EndOfRun();

    // The callbacks' work.
    OSErr Advance();
    Boolean Abort();
    void Progress(int32_t done, int32_t total);

private:
    // What a host that always answers 0 does where it cannot deliver: no
    // buffers, and 0; the full host answers `error`.
    OSErr Undelivered(OSErr error, const std::string &why);

    FilterHost &host_;
    Document *document_ = nullptr;
    int abortCalls_ = 0;
    int advanceCalls_ = 0;
    // An output buffer and where it goes in the document.
    struct Output {
        std::vector<uint8_t> buffer;
        Rect rect{};
        int16_t lo = 0, hi = -1;
        int32_t rowBytes = 0;
    };
    void CommitOutput(Output *output);

    // The tile buffers of the last advanceState, with the output waiting to
    // be committed into the document; and, for a host that keeps only the
    // output it stored last, that output.
    std::vector<uint8_t> inBuffer_, maskBuffer_;
    Output pending_, stored_;
    // The rectangles of the last fetch, for a host that fetches again only
    // for new ones.
    Rect fetchedIn_{}, fetchedOut_{};
    bool fetched_ = false;
};

// One image file through the filter, the same way for `run` and for each file
// of a `batch`: its output checked before any work, the file loaded, the
// filter run over it and its outcome decided, and the result written only
// for a completed run, atomically. The rules for a batch's file names are in
// BatchNames.h.
#pragma once

#include <string>
#include <vector>

#include "host/session/FilterHost.h"
#include "host/files/FileSystem.h"
#include "host/core/Document.h"
#include "host/core/Metadata.h"

class FileJob {
public:
    enum class Outcome {
        Pending,     // not filtered yet
        Completed,   // the filter ran to its end
        NotEnabled,  // the filter is greyed for this document
        Cancelled,   // the person cancelled (in the dialog, or Esc during the run)
        Refused,     // the filter told the person why it would not run
        Failed,      // the filter failed, or left something behind
    };

    // Which existing file the output may replace: the one a person named
    // (`run`), none (`batch`: it takes another name instead), or any
    // (`batch --overwrite`). An input, a read-only file or a folder is
    // never replaced.
    enum class Replacing { NamedOutput, Nothing, Overwrite };

    // `out` may be empty: the file is filtered and nothing is written.
    FileJob(std::string image, std::string out, std::string selection = "",
            Replacing replacing = Replacing::NamedOutput);

    // What can be known before any work: the output is not the input nor
    // the selection (the same file, by identity, however it is named), its
    // format is one the host writes, its folder exists, and what stands
    // under its name may be replaced.
    bool Check(std::string *why) const;
    // Reads the image, and the selection when there is one.
    bool Load(std::string *why);
    // Runs the filter over the loaded document and says how it ended; *why
    // tells the person why when it did not complete.
    Outcome Filter(FilterHost &host, std::string *why);
    // Writes the filtered document under a temporary name beside the
    // output (TemporaryName), checks the file to its end and only then
    // renames it; refuses anything but a completed run. A failure removes
    // the temporary file, leaves an older output as it was and names the
    // output and the cause.
    bool Write(std::string *why);

    const std::string &Image() const { return image_; }
    const std::string &Out() const { return out_; }
    const Document &Loaded() const { return document_; }
    const RunReport &Report() const { return report_; }
    // What the input held beside its pixels, carried into the output.
    const ImageMetadata &Metadata() const { return metadata_; }
    // What of the input the output could not keep, and why: what could not
    // be read, then what the output's format has no place for.
    const std::vector<std::string> &Dropped() const { return dropped_; }
    // The same in one phrase, "not kept: A; B", or empty when all was kept.
    std::string DroppedWords() const;
    double decodeSeconds = 0, encodeSeconds = 0;
    // A JPEG output's quality, 1..100; 0 keeps the input JPEG's own.
    int jpegQuality = 0;

private:
    std::string image_, out_, selection_;
    Replacing replacing_;
    Document document_;
    ImageMetadata metadata_;
    std::vector<std::string> dropped_;
    RunReport report_;
    Outcome outcome_ = Outcome::Pending;
};

// What could not be kept, in one phrase, each thing once: "not kept: A;
// B", or empty when the list is.
std::string NotKeptWords(const std::vector<std::string> &dropped);

// "0 (no error)", "-108 (out of memory)", ...
std::string ResultWords(int16_t result);

// The name an output is written under before it is complete, in its folder:
// ".NAME.PID.filterhost-partial", which no image extension ends, so that
// nothing takes it as an input.
std::string TemporaryName(const std::string &out);

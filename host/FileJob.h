// One image file through the filter, the same way for `run` and for each file
// of a `batch`: its output checked before any work, the file loaded, the
// filter run over it and its outcome decided, and the result written only
// for a completed run, atomically. With the rules for a batch's file names.
#pragma once

#include <string>
#include <vector>

#include "host/FilterHost.h"
#include "host/core/Document.h"

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

    // `out` may be empty: the file is filtered and nothing is written.
    FileJob(std::string image, std::string out, std::string selection = "");

    // What can be known before any work: the output is not the input (by
    // any spelling of its name), its format is one the host writes and its
    // folder exists.
    bool Check(std::string *why) const;
    // Reads the image, and the selection when there is one.
    bool Load(std::string *why);
    // Runs the filter over the loaded document and says how it ended; *why
    // tells the person why when it did not complete.
    Outcome Filter(FilterHost &host, std::string *why);
    // Writes the filtered document under a temporary name beside the
    // output, then renames it; refuses anything but a completed run.
    bool Write(std::string *why);

    const std::string &Image() const { return image_; }
    const std::string &Out() const { return out_; }
    const Document &Loaded() const { return document_; }
    const RunReport &Report() const { return report_; }
    double decodeSeconds = 0, encodeSeconds = 0;

private:
    std::string image_, out_, selection_;
    Document document_;
    RunReport report_;
    Outcome outcome_ = Outcome::Pending;
};

// "0 (no error)", "-108 (out of memory)", ...
std::string ResultWords(int16_t result);

// The image files of a folder, in name order; a file as it is.
std::vector<std::string> ExpandInputs(const std::vector<std::string> &inputs);

// Each input's output in the folder: its own name (a JPEG's as PNG), or,
// when that is an input of the batch or an earlier file's output, the name
// with -1, -2, ... before the extension. No output is ever an input, and no
// two inputs share an output.
std::vector<std::string> OutputNames(const std::vector<std::string> &files, const std::string &outDir);

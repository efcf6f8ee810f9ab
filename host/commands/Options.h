// The options the commands share (run, batch and serve take the same ones),
// how they are read from the command line and applied to the host, and the
// usage that lists them all.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "host/session/FilterHost.h"
#include "host/session/HostProfile.h"
#include "host/umbrolux/UmbroluxModule.h"

namespace commands {

void Usage();

struct RunOptions {
    std::string module, image, out, selection, screenshot, maskView;
    // What --set types into the dialog's edits: (edit id, text).
    std::vector<std::pair<int, std::string>> typed;
    std::string setSpec;  // --set's text, for the processes of a batch
    bool hasSet = false;
    bool overwrite = false;  // --overwrite: a batch replaces existing files (never an input, never a read-only one)
    int jobs = 0;  // files filtered at once by a batch; 0: one per processor
    int threads = 0;  // threads of the host's own work; 0: one per processor
    std::vector<std::string> positional;
    // What --bias, --gamma and --contrast store as the last values.
    std::vector<std::pair<const umbrolux::ToneControl *, float>> lastValues;
    int32_t tileWidth = 256, tileHeight = 256;
    HostProfile profile = HostProfile::Full;  // --host
    std::string format;  // --format: a batch's outputs' extension (".png", ".tif", ".jpg"); empty: each input's own
    int jpegQuality = 0;  // --quality: JPEG outputs' quality, 1..100; 0: the input JPEG's own
    std::string error;  // why the options were refused, when a generic line would not say
};


bool ParseRun(int argc, char **argv, RunOptions *o);

// The last values the dialog starts from, and the host as the options ask
// (Esc cancels: a person may be watching).
void Prepare(FilterHost *host, const RunOptions &o);

// Types the values of --set into the dialog's edits, key by key.
void TypeValues(HWND dialog, const RunOptions &o);

} // namespace commands

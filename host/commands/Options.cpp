#include "host/commands/Options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "host/commands/Output.h"
#include "host/umbrolux/FilterRegistry.h"
#include "host/windows/DialogDriver.h"

namespace commands {

void Usage()
{
    Say(stderr,
                 "usage:\n"
                 "  filterhost list MODULE...\n"
                 "  filterhost about MODULE\n"
                 "  filterhost run MODULE IMAGE [OUT] [--set bias=B,gamma=G,contrast=C | --ok] [--screenshot PNG]\n"
                 "                 [--mask-view PNG] [--bias B] [--gamma G] [--contrast C] [--tile WxH]\n"
                 "                 [--selection MASK] [--host PROFILE] [--threads N] [--quality N]\n"
                 "  filterhost batch MODULE OUTDIR FILE-OR-FOLDER... [--set ... | --ok] [--bias B] [--gamma G]\n"
                 "                 [--contrast C] [--tile WxH] [--jobs N] [--overwrite] [--host PROFILE] [--threads N]\n"
                 "                 [--format png|tif|jpg] [--quality N]\n"
                 "  filterhost serve MODULE [--set ... | --ok] [--bias B] [--gamma G] [--contrast C] [--tile WxH]\n"
                 "                 [--host PROFILE] [--threads N] [--quality N]\n"
                 "  filterhost convert IMAGE OUT [--depth 8|16]\n"
                 "IMAGE and OUT are PNG, TIFF or JPEG files, 8 or 16 bits per sample (JPEG 8: a\n"
                 "16-bit image written as JPEG is rounded). The output keeps the input's colour\n"
                 "profile, EXIF (its orientation as it was; the thumbnail dropped), XMP, text,\n"
                 "resolution and alpha as far as its format holds them; the run's line names what\n"
                 "it could not keep. A JPEG is written at the input JPEG's quality and chroma\n"
                 "subsampling, other inputs at quality 95 unsubsampled, unless --quality N (1 to\n"
                 "100) says otherwise. batch writes each output in its input's format unless\n"
                 "--format says another. --set types the\n"
                 "values into the filter's dialog and presses OK; --ok presses OK on the values\n"
                 "shown; without either the dialog waits for you. --screenshot saves the dialog\n"
                 "(in its Result view), --mask-view the preview's Mask view. --bias, --gamma and\n"
                 "--contrast set the last values the dialog starts from; --tile sets the host's\n"
                 "tile size (256x256 by default); MASK is a grey image of the same size, white\n"
                 "where the image is selected. batch filters every file given and every image\n"
                 "in each folder given into OUTDIR: the first file's dialog sets the values, the\n"
                 "others repeat them, N files at once (one per processor unless --jobs says\n"
                 "otherwise) in N worker processes when N is above 1. run replaces OUT when it\n"
                 "exists, unless it is read-only or is the input or MASK (by any name). batch\n"
                 "never replaces an input, a read-only file or a file it did not write: such\n"
                 "an output takes the name with -1, -2, ... and its line says why; --overwrite\n"
                 "lets it replace other existing files. serve is such a worker: it\n"
                 "filters the files its input names (IN<tab>OUT a line), one line out each.\n"
                 "--host chooses the host the filter sees: full (the default: the basic suite\n"
                 "with the buffer and channel-port suites, the document description), plain\n"
                 "(none of those; memory through the record's buffer and handle procedures,\n"
                 "integer sampling rates), plain-handles (handle procedures alone, which keep\n"
                 "no sizes), plain-no-memory (no memory services at all), photodemon\n"
                 "(PhotoDemon's filter engine: every image as four planes, with its faults) or\n"
                 "gimp (GIMP's loader: keeps only the last output it stored). An image with\n"
                 "alpha is filtered in every profile but full, its alpha kept.\n"
                 "--threads sets how many threads the host's own work (reading and writing\n"
                 "PNG files, its blur and median, the preview's reductions) uses: one per\n"
                 "processor by default, shared among a batch's workers; 1 keeps it all on one.\n");
}


namespace {

bool ParseFloat(const char *text, float *value)
{
    char *end = nullptr;
    *value = std::strtof(text, &end);
    return end != text && *end == '\0';
}

// "bias=0.5,gamma=2": each value as text for its edit, checked to be a number.
bool ParseSet(const std::string &spec, std::vector<std::pair<int, std::string>> *typed)
{
    size_t at = 0;
    while (at <= spec.size()) {
        const size_t comma = std::min(spec.find(',', at), spec.size());
        const std::string item = spec.substr(at, comma - at);
        const size_t equals = item.find('=');
        if (equals == std::string::npos)
            return false;
        const std::string name = item.substr(0, equals), value = item.substr(equals + 1);
        float number = 0;
        if (!ParseFloat(value.c_str(), &number))
            return false;
        const umbrolux::ToneControl *control = umbrolux::FindToneControl(name);
        if (control == nullptr)
            return false;
        typed->emplace_back(control->edit, value);
        at = comma + 1;
    }
    return !typed->empty();
}


} // namespace

bool ParseRun(int argc, char **argv, RunOptions *o)
{
    std::vector<std::string> positional;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        const umbrolux::ToneControl *control =
            a.compare(0, 2, "--") == 0 ? umbrolux::FindToneControl(a.substr(2)) : nullptr;
        if (control != nullptr) {
            float value = 0;
            if (!hasValue || !ParseFloat(argv[++i], &value))
                return false;
            o->lastValues.emplace_back(control, value);
        } else if (a == "--selection" && hasValue)
            o->selection = argv[++i];
        else if (a == "--screenshot" && hasValue)
            o->screenshot = argv[++i];
        else if (a == "--mask-view" && hasValue)
            o->maskView = argv[++i];
        else if (a == "--jobs" && hasValue) {
            char *end = nullptr;
            const long jobs = std::strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || jobs < 1 || jobs > 64)
                return false;
            o->jobs = int(jobs);
        } else if (a == "--threads" && hasValue) {
            char *end = nullptr;
            const long threads = std::strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || threads < 1 || threads > 64)
                return false;
            o->threads = int(threads);
        } else if (a == "--quality" && hasValue) {
            char *end = nullptr;
            const long quality = std::strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || quality < 1 || quality > 100) {
                o->error = std::string("--quality takes a number from 1 to 100, not \"") + argv[i] + "\"";
                return false;
            }
            o->jpegQuality = int(quality);
        } else if (a == "--format" && hasValue) {
            const std::string format = argv[++i];
            if (format == "png" || format == "tif" || format == "jpg")
                o->format = "." + format;
            else if (format == "tiff" || format == "jpeg")
                o->format = format == "tiff" ? ".tif" : ".jpg";
            else {
                o->error = "--format takes png, tif or jpg, not \"" + format + "\"";
                return false;
            }
        } else if (a == "--ok")
            o->hasSet = true;
        else if (a == "--overwrite")
            o->overwrite = true;
        else if (a == "--set" && hasValue) {
            o->setSpec = argv[++i];
            if (!ParseSet(o->setSpec, &o->typed))
                return false;
            o->hasSet = true;
        }
        else if (a == "--host" && hasValue) {
            if (!ParseHostProfile(argv[++i], &o->profile)) {
                o->error = std::string("unknown host profile \"") + argv[i] + "\" (--host takes " +
                           HostProfileNames() + ")";
                return false;
            }
        } else if (a == "--tile" && hasValue) {
            if (std::sscanf(argv[++i], "%dx%d", &o->tileWidth, &o->tileHeight) != 2 || o->tileWidth < 0 ||
                o->tileHeight < 0 || o->tileWidth > 32767 || o->tileHeight > 32767)
                return false;
        } else if (a.compare(0, 2, "--") == 0)
            return false;
        else
            positional.push_back(a);
    }
    o->positional = positional;
    return true;
}


void Prepare(FilterHost *host, const RunOptions &o)
{
    for (const auto &entry : o.lastValues)
        StoreFilterFloat(entry.first->lastValue, entry.second);
    host->behaviour.escapeCancels = true;
    host->behaviour.profile = o.profile;
    host->behaviour.tileWidth = o.tileWidth;
    host->behaviour.tileHeight = o.tileHeight;
}

// Types the values of --set into the dialog's edits, key by key.
void TypeValues(HWND dialog, const RunOptions &o)
{
    for (const auto &entry : o.typed)
        dialog_driver::TypeInto(dialog, entry.first, entry.second);
}


} // namespace commands

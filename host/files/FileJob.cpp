#include "host/files/FileJob.h"

#include <windows.h>

#include <algorithm>
#include <new>
#include <utility>

#include "host/files/ImageFile.h"
#include "engine/Raster.h"

namespace {

using files::Join;
using files::Key;
using files::LowerExtension;

// A grey image as the document's selection: one byte per pixel.
bool LoadSelection(const std::string &path, Document *document, std::string *error)
{
    Document mask;
    if (!LoadImageFile(path, &mask, error))
        return false;
    if (mask.width != document->width || mask.height != document->height) {
        *error = path + " is not the size of the image";
        return false;
    }
    document->selection.resize(size_t(mask.width) * size_t(mask.height));
    for (size_t i = 0; i < document->selection.size(); ++i) {
        const uint16_t v = mask.planes[0][i];
        document->selection[i] = mask.depth == 16 ? Convert16To8(v) : uint8_t(v);
    }
    return true;
}

// The last message box the filter showed in this run, as the host logged it.
std::string LastMessageBox(const FilterHost &host)
{
    for (auto it = host.events.rbegin(); it != host.events.rend(); ++it)
        if (it->kind == EventKind::Window && it->text.compare(0, 11, "message box") == 0)
            return it->text;
    return "";
}

} // namespace

std::string ResultWords(int16_t result)
{
    switch (result) {
    case 0: return "0 (no error)";
    case 1: return "1 (the plug-in told the user, or the user cancelled)";
    case -1: return "-1 (failed)";
    case -108: return "-108 (out of memory)";
    case -128: return "-128 (cancelled)";
    case -30100: return "-30100 (bad parameters)";
    case -30900: return "-30900 (the host lacks a required suite)";
    default: return std::to_string(result);
    }
}

FileJob::FileJob(std::string image, std::string out, std::string selection, Replacing replacing)
    : image_(std::move(image)), out_(std::move(out)), selection_(std::move(selection)), replacing_(replacing)
{
}

bool FileJob::Check(std::string *why) const
{
    if (out_.empty())
        return true;
    // The output is compared with the inputs by what it is: the same file
    // reached by another spelling, a short name, a prefix or a link is the
    // same. A name that nothing stands under yet is no input.
    const DWORD attributes = files::Attributes(out_);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        const files::Identity out = files::IdentityOf(out_);
        if (out == files::IdentityOf(image_) || Key(out_) == Key(image_)) {
            *why = "the output " + out_ + " would replace the input " + image_ + " (it is the same file)";
            return false;
        }
        if (!selection_.empty() && (out == files::IdentityOf(selection_) || Key(out_) == Key(selection_))) {
            *why = "the output " + out_ + " would replace the selection " + selection_ + " (it is the same file)";
            return false;
        }
    }
    if (!WritableImageName(out_)) {
        *why = "cannot write " + out_ + ": the name must end in .png, .tif, .tiff, .jpg or .jpeg";
        return false;
    }
    const std::string folder = files::FolderOf(out_);
    if (!files::IsFolder(folder)) {
        *why = "cannot write " + out_ + ": the folder " + folder + " does not exist";
        return false;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *why = "cannot write " + out_ + ": a folder stands where the file should be";
        return false;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        *why = "cannot write " + out_ + ": the file is read-only, and is not replaced";
        return false;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && replacing_ == Replacing::Nothing) {
        *why = "cannot write " + out_ + ": a file of that name exists, and a batch replaces only with --overwrite";
        return false;
    }
    return true;
}

bool FileJob::Load(std::string *why)
{
    const double started = FilterHost::Now();
    document_ = Document();
    dropped_.clear();
    if (!LoadImageFile(image_, &document_, why, &metadata_) ||
        (!selection_.empty() && !LoadSelection(selection_, &document_, why)))
        return false;
    decodeSeconds = FilterHost::Now() - started;
    dropped_ = metadata_.dropped;
    return true;
}

FileJob::Outcome FileJob::Filter(FilterHost &host, std::string *why)
{
    host.events.clear();
    report_ = host.Run(document_);
    if (!report_.notEnabled.empty()) {
        *why = report_.notEnabled;
        return outcome_ = Outcome::NotEnabled;
    }
    // The filter answers 1 both for the person's cancel and for a refusal
    // it told the person of in a message box.
    const std::string box = LastMessageBox(host);
    if (report_.result == 1 && !report_.completed && box.empty()) {
        *why = "cancelled";
        return outcome_ = Outcome::Cancelled;
    }
    if (report_.result == 1 && !box.empty()) {
        *why = "the filter refused it (" + box + ")";
        // The host the interface comes from filters the background layer
        // only; the other hosts hand a layer with transparency to be filtered.
        if (document_.hasTransparency && host.Services().signature == kPhotoshopSignature)
            *why += "; an image with transparency is filtered under --host plain, photodemon or gimp, "
                    "as the hosts other than the original filter layers";
        return outcome_ = Outcome::Refused;
    }
    if (report_.result != 0 || !report_.completed || !report_.Clean()) {
        *why = "the filter returned " + ResultWords(report_.result) +
               (report_.Clean() ? "" : " and left something behind");
        return outcome_ = Outcome::Failed;
    }
    return outcome_ = Outcome::Completed;
}

bool FileJob::Write(std::string *why)
{
    // Only a completed run has an output: after a cancel, a refusal or an
    // error the image is not what the filter makes of it.
    if (outcome_ != Outcome::Completed || out_.empty()) {
        *why = "nothing written to " + out_ + ": the run did not complete";
        return false;
    }
    // The output's rules hold here too, whatever the caller checked before.
    std::string checked;
    if (!Check(&checked)) {
        *why = checked;
        return false;
    }
    const double started = FilterHost::Now();
    const std::string temporary = TemporaryName(out_);
    files::OutputFile file;
    std::string encoding;
    ImageWriteOptions options;
    options.metadata = &metadata_;
    options.jpegQuality = jpegQuality;
    std::vector<std::string> dropped;
    bool written =
        file.Create(temporary) && WriteImageFile(file, out_, document_, &encoding, options, &dropped) && file.Finish();
    if (!written) {
        const DWORD error = file.Error();
        file.Discard();
        *why = "cannot write " + out_ + ": " + (error != 0 ? files::CauseWords(error, temporary) : encoding);
        return false;
    }
    // A run stopped here (for the tests: as if it were killed) leaves the
    // complete temporary file and nothing under the output's name.
    if (GetEnvironmentVariableW(L"FILTERHOST_KILL_BEFORE_RENAME", nullptr, 0) != 0)
        TerminateProcess(GetCurrentProcess(), 9);
    // What stands under the output's name now may have changed since the
    // check: a batch never replaces a file that appeared meanwhile, and a
    // read-only file is never replaced.
    const DWORD attributes = files::Attributes(out_);
    DWORD error = 0;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        error = ERROR_ACCESS_DENIED;
    else if (!files::Rename(temporary, out_, replacing_ != Replacing::Nothing, &error))
        error = error != 0 ? error : ERROR_WRITE_FAULT;
    if (error != 0) {
        files::Delete(temporary);
        *why = "cannot write " + out_ + ": " + files::CauseWords(error, out_);
        return false;
    }
    encodeSeconds = FilterHost::Now() - started;
    dropped_ = metadata_.dropped;
    dropped_.insert(dropped_.end(), dropped.begin(), dropped.end());
    return true;
}

std::string NotKeptWords(const std::vector<std::string> &dropped)
{
    std::string words;
    for (const std::string &d : dropped)
        if (words.find(d) == std::string::npos)
            words += (words.empty() ? "not kept: " : "; ") + d;
    return words;
}

std::string FileJob::DroppedWords() const
{
    return NotKeptWords(dropped_);
}

std::string TemporaryName(const std::string &out)
{
    return Join(files::FolderOf(out),
                "." + files::NameOf(out) + "." + std::to_string(GetCurrentProcessId()) + ".filterhost-partial");
}

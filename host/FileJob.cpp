#include "host/FileJob.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <new>
#include <set>
#include <utility>

#include "host/ImageFile.h"
#include "engine/Raster.h"

namespace {

std::string Lower(std::string text)
{
    for (char &ch : text)
        ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return text;
}

std::string LowerExtension(const std::string &path)
{
    const size_t slash = path.find_last_of("\\/");
    const size_t dot = path.find_last_of('.');
    return dot == std::string::npos || (slash != std::string::npos && dot < slash) ? "" : Lower(path.substr(dot));
}

std::string FolderOf(const std::string &path)
{
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? "." : slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// The full path, folded to lower case: two names of one file compare equal.
std::string FullPath(const std::string &path)
{
    char full[MAX_PATH * 2] = {};
    if (GetFullPathNameA(path.c_str(), sizeof full, full, nullptr) == 0)
        return Lower(path);
    return Lower(full);
}

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

FileJob::FileJob(std::string image, std::string out, std::string selection)
    : image_(std::move(image)), out_(std::move(out)), selection_(std::move(selection))
{
}

bool FileJob::Check(std::string *why) const
{
    if (out_.empty())
        return true;
    if (FullPath(out_) == FullPath(image_)) {
        *why = "the output " + out_ + " would replace the input";
        return false;
    }
    const std::string ext = LowerExtension(out_);
    if (ext != ".png" && ext != ".tif" && ext != ".tiff") {
        *why = "cannot write " + out_ + ": the name must end in .png, .tif or .tiff";
        return false;
    }
    const DWORD attributes = GetFileAttributesA(FolderOf(out_).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *why = "cannot write " + out_ + ": the folder " + FolderOf(out_) + " does not exist";
        return false;
    }
    return true;
}

bool FileJob::Load(std::string *why)
{
    const double started = FilterHost::Now();
    document_ = Document();
    if (!LoadImageFile(image_, &document_, why) ||
        (!selection_.empty() && !LoadSelection(selection_, &document_, why)))
        return false;
    decodeSeconds = FilterHost::Now() - started;
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
    const std::string ext = LowerExtension(out_);
    const std::string temporary =
        out_.substr(0, out_.size() - ext.size()) + ".partial-" + std::to_string(GetCurrentProcessId()) + ext;
    if (!SaveImageFile(temporary, document_, why)) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    if (!MoveFileExA(temporary.c_str(), out_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *why = "cannot write " + out_ + " (error " + std::to_string(GetLastError()) + ")";
        DeleteFileA(temporary.c_str());
        return false;
    }
    encodeSeconds = FilterHost::Now() - started;
    return true;
}

std::vector<std::string> ExpandInputs(const std::vector<std::string> &inputs)
{
    std::vector<std::string> files;
    for (const std::string &input : inputs) {
        const DWORD attributes = GetFileAttributesA(input.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            files.push_back(input);
            continue;
        }
        std::vector<std::string> found;
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA((input + "\\*").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do {
            const std::string name = entry.cFileName;
            const std::string ext = LowerExtension(name);
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                (ext == ".png" || ext == ".tif" || ext == ".tiff" || ext == ".jpg" || ext == ".jpeg"))
                found.push_back(input + "\\" + name);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

std::vector<std::string> OutputNames(const std::vector<std::string> &files, const std::string &outDir)
{
    std::set<std::string> inputs, taken;
    for (const std::string &file : files)
        inputs.insert(FullPath(file));
    std::vector<std::string> outputs;
    for (const std::string &file : files) {
        const size_t slash = file.find_last_of("\\/");
        const std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
        std::string ext = LowerExtension(name);
        const std::string stem = name.substr(0, name.size() - ext.size());
        if (ext == ".jpg" || ext == ".jpeg")
            ext = ".png";  // JPEG is read, not written
        else
            ext = name.substr(name.size() - ext.size());
        std::string out = outDir + "\\" + stem + ext;
        for (int n = 1; inputs.count(FullPath(out)) != 0 || taken.count(FullPath(out)) != 0; ++n)
            out = outDir + "\\" + stem + "-" + std::to_string(n) + ext;
        taken.insert(FullPath(out));
        outputs.push_back(out);
    }
    return outputs;
}

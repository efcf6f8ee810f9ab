#include "host/files/BatchNames.h"

#include <windows.h>

#include <algorithm>
#include <set>

#include "host/files/FileSystem.h"

namespace {

using files::Join;
using files::Key;
using files::LowerExtension;

bool ImageExtension(const std::string &ext)
{
    return ext == ".png" || ext == ".tif" || ext == ".tiff" || ext == ".jpg" || ext == ".jpeg";
}

// A temporary file that an earlier version of the host left when it was
// killed while writing: "NAME.partial-PID.EXT".
bool EarlierPartial(const std::string &name, const std::string &ext)
{
    const size_t at = name.rfind(".partial-");
    if (at == std::string::npos || name.size() - ext.size() <= at + 9)
        return false;
    for (size_t i = at + 9; i < name.size() - ext.size(); ++i)
        if (name[i] < '0' || name[i] > '9')
            return false;
    return true;
}

} // namespace

std::vector<std::string> ExpandInputs(const std::vector<std::string> &inputs)
{
    std::vector<std::string> files;
    for (const std::string &input : inputs) {
        if (!files::IsFolder(input)) {
            files.push_back(input);
            continue;
        }
        // Images only: a run's temporary files end in no image extension
        // (and those of earlier versions are known by their names).
        std::vector<std::string> found;
        for (const std::string &name : files::FilesIn(input))
            if (ImageExtension(LowerExtension(name)) && !EarlierPartial(name, LowerExtension(name)))
                found.push_back(Join(input, name));
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

std::vector<OutputName> OutputNames(const std::vector<std::string> &files, const std::string &outDir, bool overwrite,
                                    const std::string &format)
{
    std::set<files::Identity> inputs;
    std::set<std::string> inputKeys, taken;
    for (const std::string &file : files) {
        const files::Identity identity = files::IdentityOf(file);
        if (identity.known)
            inputs.insert(identity);
        inputKeys.insert(Key(file));
    }
    // Why a name cannot be this file's output; empty when it can.
    auto busy = [&](const std::string &out) -> std::string {
        const std::string key = Key(out), name = files::NameOf(out);
        if (taken.count(key) != 0)
            return name + " is an earlier file's output";
        if (inputKeys.count(key) != 0)
            return name + " is an input";
        const DWORD attributes = files::Attributes(out);
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return "";
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return "a folder is named " + name;
        const files::Identity identity = files::IdentityOf(out);
        if (identity.known && inputs.count(identity) != 0)
            return name + " is an input";
        if (attributes & FILE_ATTRIBUTE_READONLY)
            return name + " is read-only";
        return overwrite ? "" : name + " exists";
    };
    std::vector<OutputName> outputs;
    for (const std::string &file : files) {
        const std::string name = files::NameOf(file);
        std::string ext = LowerExtension(name);
        const std::string stem = name.substr(0, name.size() - ext.size());
        ext = format.empty() ? name.substr(name.size() - ext.size()) : format;
        OutputName output;
        output.path = Join(outDir, stem + ext);
        output.note = busy(output.path);
        for (int n = 1; !busy(output.path).empty(); ++n)
            output.path = Join(outDir, stem + "-" + std::to_string(n) + ext);
        taken.insert(Key(output.path));
        outputs.push_back(output);
    }
    return outputs;
}

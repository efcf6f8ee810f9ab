// A batch's names: the image files it takes from the folders it is given,
// and the name each one's output takes in the output folder.
#pragma once

#include <string>
#include <vector>

// The image files of a folder, in name order, without the temporary files
// of runs that were killed while writing; a file as it is.
std::vector<std::string> ExpandInputs(const std::vector<std::string> &inputs);

// Each input's output in the folder: its own name, in its own format unless
// `format` (".png", ".tif" or ".jpg") says another, or,
// when that name is an input of the batch (by identity), an earlier file's
// output, a read-only file, a folder or, unless `overwrite`, any existing
// file, the name with -1, -2, ... before the extension; `note` then says
// why. No output is ever an input, and no two inputs share an output.
struct OutputName {
    std::string path;
    std::string note;  // "x.png exists", "x.png is an input", ...; empty when the name is the file's own
};
std::vector<OutputName> OutputNames(const std::vector<std::string> &files, const std::string &outDir,
                                    bool overwrite = false, const std::string &format = "");

// What `batch` and its workers (`serve`) share: one file of a batch
// through the loaded module, and the files handed to worker processes.
#pragma once

#include <string>
#include <vector>

#include "host/commands/Options.h"
#include "host/files/FileJob.h"
#include "host/files/BatchNames.h"
#include "host/session/FilterHost.h"

namespace commands {

// How one file of a batch ended.
enum class FileEnd { Filtered, Failed, Cancelled };

// One file of a batch through the loaded module, with the dialog handled as
// a batch handles it: typed into (--set) or accepted (--ok) until a dialog
// has been shown, left to the person at the display when neither was given,
// and accepted on the values it shows once one has been. *line is what the
// batch prints for the file.
FileEnd BatchFile(FilterHost &host, const RunOptions &o, const std::string &file, const std::string &out,
                  bool *dialogShown, std::string *line);

// The files from `first` on, through `jobs` worker processes (`serve`),
// each given the next file as soon as it has finished one. Lines are printed
// as files end. A cancel lets the files under way end and gives out no more.
void BatchInProcesses(const RunOptions &o, const std::vector<std::string> &files,
                      const std::vector<OutputName> &outputs, size_t first, int *filtered, int *failed,
                      bool *cancelled);

} // namespace commands

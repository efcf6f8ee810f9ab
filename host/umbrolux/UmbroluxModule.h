// What the host knows about the Umbrolux module in particular, beyond what
// any filter module tells a host through its resources and the record: the
// registry key where it keeps its last values, and the ids of its dialog's
// controls, so that values can be typed into the dialog and its preview
// switched. The rest of the host serves any filter module.
#pragma once

#include <string>

namespace umbrolux {

// Under HKEY_LOCAL_MACHINE, or HKEY_CURRENT_USER where the machine's key
// cannot be written.
extern const char kRegistryPath[];

// A tone control, by the name the command line gives it.
struct ToneControl {
    const char *name;       // "bias", "gamma", "contrast"
    const char *lastValue;  // the registry value its last setting is kept in
    int edit;               // the dialog's edit control for it
};

// The control of that name, or null.
const ToneControl *FindToneControl(const std::string &name);

// The preview's view buttons.
extern const int kMaskViewButton;
extern const int kResultViewButton;

} // namespace umbrolux

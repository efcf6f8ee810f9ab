#include "ui/MainDialog.h"

#include <windows.h>

#include "plugin/FilterContext.h"
#include "settings/RegistryKey.h"

// The dialog's template and controls are not in the module yet. Until they
// are, a run is answered as a user who opens the dialog, which starts from
// the last values, and presses OK at once.
int RunMainDialog(FilterContext &context, void *)
{
    RegistryKey key(kRegistryPath);
    context.settings.bias = key.ReadFloat(kLastBias, kDefaultBias);
    context.settings.gamma = key.ReadFloat(kLastGamma, kDefaultGamma);
    context.settings.contrast = key.ReadFloat(kLastContrast, kDefaultContrast);
    key.Close();
    return IDOK;
}

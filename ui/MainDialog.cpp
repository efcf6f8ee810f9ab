#include "ui/MainDialog.h"

#include <windows.h>

#include "plugin/FilterContext.h"

// The dialog's template and controls are not in the module yet; until they
// are, a run is answered as a user who cancels the dialog at once.
int RunMainDialog(FilterContext &, void *)
{
    return IDCANCEL;
}

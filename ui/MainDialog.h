// The modal main dialog.
#pragma once

class FilterContext;

// Runs the dialog owned by the host's window; returns IDOK or IDCANCEL.
int RunMainDialog(FilterContext &context, void *ownerWindow);

// Compiled on its own for each architecture: the static assertions in the
// header prove the published layout of the host interface.
#include "plugin/HostInterface.h"

// The one Module state record. Start-up fills it; it lives until the host
// unloads the module.
#include "frame/state.h"

ModuleState moduleState;

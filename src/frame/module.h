// The module's object and lock counters, which decide whether the host may unload it.
#pragma once

#include "platform/types.h"

namespace velmora {

// Plug-in objects alive (created and not yet destroyed).
void ModuleObjectCreated();
void ModuleObjectDestroyed();
// LockServer.
void ModuleLock(bool lock);
// S_OK when no plug-in object is alive and the module is not locked, else S_FALSE.
HRESULT ModuleCanUnloadNow();

}  // namespace velmora

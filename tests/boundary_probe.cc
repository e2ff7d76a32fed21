// Built only by the boundary tests, with the include roots of the print host or the velmora
// program: the public headers resolve, the plug-in's internal one must not.
#include "formats/vendor_devmode.h"
#include "host/plugin_module.h"
#include "platform/types.h"
#include "pxl/reader.h"

#include "src/frame/hooks.h"

// On POSIX the print host hands the plug-in the address of its own drawing context.
#include "platform/drawing_context.h"

namespace velmora::platform {

AttachedDrawingContext AttachDrawingContext(HANDLE handle) {
  return AttachedDrawingContext(static_cast<DrawingContext*>(handle), DrawingContextRelease{false});
}

}  // namespace velmora::platform

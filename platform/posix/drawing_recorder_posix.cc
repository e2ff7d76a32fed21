// POSIX hosts hand the plug-in their own drawing context, so there is no recording one.
#include "platform/drawing_recorder.h"

namespace velmora::platform {

std::unique_ptr<DrawingRecorder> CreateDrawingRecorder(const RecordingDevice&) { return nullptr; }

}  // namespace velmora::platform

// Text watermarks on Windows: the plug-in draws with GDI on a device context of the host.
// The host does not record that drawing into the page yet, so it hands no context and
// the plug-in leaves text watermarks out (it logs that the context is missing); bitmap
// watermarks need no context and are printed.
#include "host/watermark_context.h"

namespace velmora::host {
namespace {

class NoWatermarkContext final : public WatermarkContext {
 public:
  HANDLE handle() override { return nullptr; }
};

}  // namespace

std::unique_ptr<WatermarkContext> MakeWatermarkContext(const DrawingPage&, ByteSink) {
  return std::make_unique<NoWatermarkContext>();
}

}  // namespace velmora::host

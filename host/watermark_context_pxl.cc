// Text watermarks on POSIX: the plug-in draws on the host's own PCL XL drawing context.
#include "host/drawing_context_pxl.h"
#include "host/watermark_context.h"

namespace velmora::host {
namespace {

class PxlWatermarkContext final : public WatermarkContext {
 public:
  PxlWatermarkContext(const DrawingPage& page, ByteSink sink) : context_(page, std::move(sink)) {}
  HANDLE handle() override { return context_.handle(); }

 private:
  DrawingContextPxl context_;
};

}  // namespace

std::unique_ptr<WatermarkContext> MakeWatermarkContext(const DrawingPage& page, ByteSink sink) {
  return std::make_unique<PxlWatermarkContext>(page, std::move(sink));
}

}  // namespace velmora::host

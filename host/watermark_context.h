// The drawing context the host hands the plug-in for text watermarks, whose drawing the
// host writes into the page as PCL XL. On POSIX it is the host's own PCL XL context; on
// Windows it is a device context the plug-in draws on with GDI.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "platform/types.h"

namespace velmora::host {

// The page the context draws on, in device pixels.
struct DrawingPage {
  int width = 0;   // printable area (HORZRES)
  int height = 0;  // (VERTRES)
  int dpiX = 600;
  int dpiY = 600;
  int physicalWidth = 0;
  int physicalHeight = 0;
  int offsetX = 0;  // of the printable area on the page
  int offsetY = 0;
};

// Where the page's bytes go; false when they could not be written.
using ByteSink = std::function<bool(std::span<const std::uint8_t>)>;

class WatermarkContext {
 public:
  virtual ~WatermarkContext() = default;
  // The value for the plug-in's hWatermarkDC; null when the host has no context to give.
  virtual HANDLE handle() = 0;
};

std::unique_ptr<WatermarkContext> MakeWatermarkContext(const DrawingPage& page, ByteSink sink);

}  // namespace velmora::host

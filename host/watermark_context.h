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
  // The device a recording context measures against: the job's printer and its public
  // device mode (the host's figures come from a device context for them).
  WString printerName;
  const void* devmode = nullptr;
};

// Where the page's bytes go; false when they could not be written.
using ByteSink = std::function<bool(std::span<const std::uint8_t>)>;

class WatermarkContext {
 public:
  virtual ~WatermarkContext() = default;
  // The value for the plug-in's hWatermarkDC; null when the host has no context to give.
  virtual HANDLE handle() = 0;

  // A context that records the plug-in's drawing writes it when a page ends. Meanwhile the
  // page's own bytes go to its hold, so that the drawing lands among them where it was
  // drawn. An empty hold: the page's bytes go straight on, drawing is written at once.
  virtual std::function<bool(std::span<const std::uint8_t>)> PageHold() { return {}; }
  // The host brackets each page with these; the handle may change at either. EndPage
  // writes the page's drawing and held bytes in order, false when they could not be.
  virtual void StartPage() {}
  virtual bool EndPage() { return true; }
};

std::unique_ptr<WatermarkContext> MakeWatermarkContext(const DrawingPage& page, ByteSink sink);

}  // namespace velmora::host

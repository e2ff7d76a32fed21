// A printer's paper model: paper sizes by form name and paper code, resolutions and
// hardware margins. The built-in generic model serves a printer that has none of its own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/device_caps.h"

namespace velmora::platform {

struct PaperSize {
  std::string formName;    // as the device mode names the form, in UTF-8
  std::int16_t paperCode;  // DMPAPER_* code
  double widthMm;
  double heightMm;
};

struct PaperModel {
  std::vector<PaperSize> papers;
  std::vector<int> resolutions;  // dots per inch the printer takes
  double marginMm = 4.2;         // hardware margin on every edge
};

// Whether two form names (UTF-8) are the same, ignoring the case of ASCII letters only,
// as form names compare.
bool SameFormName(std::string_view a, std::string_view b);

// The generic model: A4, Letter, Legal and the sizes of the paper table, 600 and 1200
// dpi, 4.2 mm margins.
const PaperModel& GenericPaperModel();

// The figures of a page set-up on a paper model: the paper by form name (ignoring ASCII
// case), else by paper code, else the model's first paper (A4 when it has none); the resolution from the set-up when
// the model takes it, else 600 dpi; landscape swaps width and height.
DeviceFigures FiguresFor(const PaperModel& model, const PageSetup& setup);

}  // namespace velmora::platform

// Paper models: sizes by form name and paper code, resolutions, margins and the figures they give.
#include "platform/paper_model.h"

#include <algorithm>
#include <cmath>

#include "platform/text_encoding.h"

namespace velmora::platform {

bool SameFormName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

const PaperModel& GenericPaperModel() {
  static const PaperModel model{
      {
          {"A4", 9, 210, 297},
          {"Letter", 1, 215.9, 279.4},
          {"Legal", 5, 215.9, 355.6},
          {"B5 (JIS)", 13, 182, 257},
          {"A5", 11, 148, 210},
          {"B6 (JIS)", 88, 128, 182},
          {"A6", 70, 105, 148},
          {"Statement", 6, 139.7, 215.9},
          {"Executive", 7, 184.15, 266.7},
          {"8.5x13", 513, 215.9, 330.2},
          {"Envelope #10", 20, 104.775, 241.3},
          {"Envelope Monarch", 37, 98.425, 190.5},
          {"Envelope C5", 28, 162, 229},
          {"Envelope C6", 31, 114, 162},
          {"Envelope DL", 27, 110, 220},
          {"Envelope #9", 19, 98.425, 225.425},
          {"Quarto 215 x 275 mm", 514, 215, 275},
          {"Postcard 100 x 148 mm", 515, 100, 148},
      },
      {600, 1200},
      4.2,
  };
  return model;
}

DeviceFigures FiguresFor(const PaperModel& model, const PageSetup& setup) {
  const PaperSize* paper = nullptr;
  // Form names outside ASCII are compared in UTF-8, so a model's own non-ASCII names
  // match the device mode's UTF-16 name.
  const std::string formName = Utf16ToUtf8(setup.formName);
  for (const auto& candidate : model.papers) {
    if (!formName.empty() && SameFormName(formName, candidate.formName)) {
      paper = &candidate;
      break;
    }
  }
  if (paper == nullptr) {
    for (const auto& candidate : model.papers) {
      if (setup.paperSize != 0 && candidate.paperCode == setup.paperSize) {
        paper = &candidate;
        break;
      }
    }
  }
  static const PaperSize kA4{"A4", 9, 210, 297};
  if (paper == nullptr) paper = model.papers.empty() ? &kA4 : &model.papers.front();

  auto resolution = [&model](std::int16_t asked) {
    const bool taken = std::find(model.resolutions.begin(), model.resolutions.end(), asked) != model.resolutions.end();
    return taken ? static_cast<double>(asked) : 600.0;
  };
  const double xDpi = resolution(setup.printQuality);
  const double yDpi = resolution(setup.yResolution > 0 ? setup.yResolution : setup.printQuality);
  double widthMm = paper->widthMm;
  double heightMm = paper->heightMm;
  if (setup.orientation == 2) std::swap(widthMm, heightMm);

  auto dots = [](double mm, double dpi) { return std::floor(mm / 25.4 * dpi); };
  DeviceFigures figures;
  figures.xResolution = xDpi;
  figures.yResolution = yDpi;
  figures.xPhysicalArea = dots(widthMm, xDpi);
  figures.yPhysicalArea = dots(heightMm, yDpi);
  figures.xOffset = dots(model.marginMm, xDpi);
  figures.yOffset = dots(model.marginMm, yDpi);
  figures.xPrintArea = figures.xPhysicalArea - 2 * figures.xOffset;
  figures.yPrintArea = figures.yPhysicalArea - 2 * figures.yOffset;
  return figures;
}

}  // namespace velmora::platform

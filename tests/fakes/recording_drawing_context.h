// A drawing context that records every call as one line of text ("WriteText 10 20") and
// answers from fixed figures: the device resolution, a text extent and a clip box.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/drawing_context.h"

namespace velmora::testing {

class RecordingDrawingContext : public platform::DrawingContext {
 public:
  // The answers.
  int dpi = 600;
  int horzRes = 4800;
  int vertRes = 6600;
  platform::Size textExtent{1000, 200};
  platform::Rect clipBox{0, 0, 4800, 6600};
  std::optional<std::uint8_t> enumeratedCharSet;

  // What was asked.
  std::vector<std::string> calls;
  std::vector<platform::FontDescription> fonts;
  std::vector<platform::Point> textOrigins;
  std::vector<std::uint8_t> brushes;

  // The recorded lines that start with `prefix`.
  std::vector<std::string> CallsStartingWith(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& call : calls) {
      if (call.rfind(prefix, 0) == 0) found.push_back(call);
    }
    return found;
  }

  int DeviceCaps(platform::DeviceCap index) override {
    switch (index) {
      case platform::DeviceCap::kLogPixelsX:
      case platform::DeviceCap::kLogPixelsY: return dpi;
      case platform::DeviceCap::kHorzRes: return horzRes;
      case platform::DeviceCap::kVertRes: return vertRes;
      default: return 0;
    }
  }
  platform::Rect ClipBox() override { return clipBox; }
  bool SaveState() override { return Record("SaveState"); }
  bool RestoreState() override { return Record("RestoreState"); }
  bool BeginPath() override { return Record("BeginPath"); }
  bool EndPath() override { return Record("EndPath"); }
  bool MoveTo(platform::Point to) override { return Record("MoveTo " + Xy(to)); }
  bool LineTo(platform::Point to) override { return Record("LineTo " + Xy(to)); }
  bool SelectClipPath() override { return Record("SelectClipPath"); }
  bool StrokePath() override { return Record("StrokePath"); }
  bool FillPath() override { return Record("FillPath"); }
  bool StrokeAndFillPath() override { return Record("StrokeAndFillPath"); }

  int SetBackgroundMode(int mode) override {
    Record("SetBackgroundMode " + std::to_string(mode));
    return std::exchange(background_, mode);
  }
  int SetForegroundMix(int mix) override {
    Record("SetForegroundMix " + std::to_string(mix));
    return std::exchange(mix_, mix);
  }

  std::optional<std::uint8_t> FontCharSetOf(WStringView faceName) override {
    Record("FontCharSetOf " + Narrow(faceName));
    return enumeratedCharSet;
  }
  platform::FontId CreateLogicalFont(const platform::FontDescription& description) override {
    fonts.push_back(description);
    const platform::FontId id = 100 + fonts.size();
    Record("CreateLogicalFont " + std::to_string(id));
    return id;
  }
  platform::FontId SelectLogicalFont(platform::FontId font) override {
    Record("SelectLogicalFont " + std::to_string(font));
    return std::exchange(font_, font);
  }
  bool DeleteLogicalFont(platform::FontId font) override { return Record("DeleteLogicalFont " + std::to_string(font)); }
  std::optional<platform::Size> TextExtent(WStringView text) override {
    Record("TextExtent " + Narrow(text));
    return textExtent;
  }
  bool WriteText(platform::Point at, WStringView text) override {
    textOrigins.push_back(at);
    return Record("WriteText " + Xy(at) + " " + Narrow(text));
  }
  bool SelectSolidBrush(std::uint8_t gray) override {
    brushes.push_back(gray);
    return Record("SelectSolidBrush " + std::to_string(gray));
  }
  bool SelectSolidPen(std::uint8_t gray, int width) override {
    return Record("SelectSolidPen " + std::to_string(gray) + " " + std::to_string(width));
  }

 private:
  bool Record(std::string line) {
    calls.push_back(std::move(line));
    return true;
  }
  static std::string Xy(platform::Point p) { return std::to_string(p.x) + " " + std::to_string(p.y); }
  static std::string Narrow(WStringView text) {
    std::string narrow;
    for (WCHAR unit : text) narrow.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    return narrow;
  }

  int background_ = platform::kBackgroundOpaque;
  int mix_ = platform::kMixCopyPen;
  platform::FontId font_ = 1;  // the device's own font
};

}  // namespace velmora::testing

// The drawing context on Windows: GDI calls on the host's device context.
#include <vector>

#include "platform/drawing_context.h"

namespace velmora::platform {
namespace {

// The last character set EnumFontFamiliesExW reported.
int CALLBACK RememberCharSet(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM data) {
  auto* charSet = reinterpret_cast<std::optional<std::uint8_t>*>(data);
  *charSet = font->lfCharSet;
  return 1;
}

class GdiDrawingContext final : public DrawingContext {
 public:
  explicit GdiDrawingContext(HDC dc) : dc_(dc) {}

  // The brush and pen this context created are put back to the ones the host had selected
  // before they are deleted: GDI does not delete an object that is still selected.
  ~GdiDrawingContext() override {
    if (brush_ != nullptr) {
      ::SelectObject(dc_, hostBrush_);
      ::DeleteObject(brush_);
    }
    if (pen_ != nullptr) {
      ::SelectObject(dc_, hostPen_);
      ::DeleteObject(pen_);
    }
    for (HGDIOBJ object : retired_) ::DeleteObject(object);
  }

  int DeviceCaps(DeviceCap index) override { return ::GetDeviceCaps(dc_, static_cast<int>(index)); }

  Rect ClipBox() override {
    RECT box{};
    ::GetClipBox(dc_, &box);
    return {box.left, box.top, box.right, box.bottom};
  }

  bool SaveState() override {
    const int level = ::SaveDC(dc_);
    if (level == 0) return false;
    savedLevels_.push_back(level);
    return true;
  }

  bool RestoreState() override {
    if (savedLevels_.empty()) return false;
    const int level = savedLevels_.back();
    savedLevels_.pop_back();
    return ::RestoreDC(dc_, level) != FALSE;
  }

  bool BeginPath() override { return ::BeginPath(dc_) != FALSE; }
  bool EndPath() override { return ::EndPath(dc_) != FALSE; }
  bool MoveTo(Point to) override { return ::MoveToEx(dc_, to.x, to.y, nullptr) != FALSE; }
  bool LineTo(Point to) override { return ::LineTo(dc_, to.x, to.y) != FALSE; }
  bool SelectClipPath() override { return ::SelectClipPath(dc_, RGN_COPY) != FALSE; }
  bool StrokePath() override { return ::StrokePath(dc_) != FALSE; }
  bool FillPath() override { return ::FillPath(dc_) != FALSE; }
  bool StrokeAndFillPath() override { return ::StrokeAndFillPath(dc_) != FALSE; }

  int SetBackgroundMode(int mode) override { return ::SetBkMode(dc_, mode); }
  int SetForegroundMix(int mix) override { return ::SetROP2(dc_, mix); }

  std::optional<std::uint8_t> FontCharSetOf(WStringView faceName) override {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    CopyFaceName(faceName, wanted.lfFaceName);
    std::optional<std::uint8_t> charSet;
    ::EnumFontFamiliesExW(dc_, &wanted, RememberCharSet, reinterpret_cast<LPARAM>(&charSet), 0);
    return charSet;
  }

  FontId CreateLogicalFont(const FontDescription& description) override {
    LOGFONTW font{};
    font.lfHeight = description.height;
    font.lfWidth = description.width;
    font.lfEscapement = description.escapement;
    font.lfOrientation = description.orientation;
    font.lfWeight = description.weight;
    font.lfItalic = description.italic ? 1 : 0;
    font.lfCharSet = description.charSet;
    CopyFaceName(description.faceName, font.lfFaceName);
    return reinterpret_cast<FontId>(::CreateFontIndirectW(&font));
  }

  FontId SelectLogicalFont(FontId font) override {
    return reinterpret_cast<FontId>(::SelectObject(dc_, reinterpret_cast<HGDIOBJ>(font)));
  }

  bool DeleteLogicalFont(FontId font) override { return ::DeleteObject(reinterpret_cast<HGDIOBJ>(font)) != FALSE; }

  std::optional<Size> TextExtent(WStringView text) override {
    SIZE size{};
    if (!::GetTextExtentPoint32W(dc_, text.data(), static_cast<int>(text.size()), &size)) return std::nullopt;
    return Size{size.cx, size.cy};
  }

  bool WriteText(Point at, WStringView text) override {
    return ::TextOutW(dc_, at.x, at.y, text.data(), static_cast<int>(text.size())) != FALSE;
  }

  bool SelectSolidBrush(std::uint8_t gray) override {
    HBRUSH brush = ::CreateSolidBrush(RGB(gray, gray, gray));
    if (brush == nullptr) return false;
    HGDIOBJ previous = ::SelectObject(dc_, brush);
    if (brush_ == nullptr) {
      hostBrush_ = previous;
    } else {
      Retire(brush_);
    }
    brush_ = brush;
    return true;
  }

  bool SelectSolidPen(std::uint8_t gray, int width) override {
    HPEN pen = ::CreatePen(PS_SOLID, width, RGB(gray, gray, gray));
    if (pen == nullptr) return false;
    HGDIOBJ previous = ::SelectObject(dc_, pen);
    if (pen_ == nullptr) {
      hostPen_ = previous;
    } else {
      Retire(pen_);
    }
    pen_ = pen;
    return true;
  }

 private:
  // A brush or pen that was replaced. While a saved state is outstanding, restoring it may
  // select the object again, so it is deleted only when the context goes away.
  void Retire(HGDIOBJ object) {
    if (savedLevels_.empty()) {
      ::DeleteObject(object);
      return;
    }
    retired_.push_back(object);
  }

  // A face name into the 32-unit field of a logical font, cut to 31 units and terminated.
  static void CopyFaceName(WStringView faceName, WCHAR (&field)[LF_FACESIZE]) {
    const std::size_t count = faceName.size() < LF_FACESIZE - 1 ? faceName.size() : LF_FACESIZE - 1;
    for (std::size_t i = 0; i < count; ++i) field[i] = faceName[i];
    field[count] = 0;
  }

  HDC dc_;
  HBRUSH brush_ = nullptr;
  HPEN pen_ = nullptr;
  HGDIOBJ hostBrush_ = nullptr;
  HGDIOBJ hostPen_ = nullptr;
  std::vector<int> savedLevels_;
  std::vector<HGDIOBJ> retired_;
};

}  // namespace

AttachedDrawingContext AttachDrawingContext(HANDLE handle) {
  if (handle == nullptr) return AttachedDrawingContext(nullptr, DrawingContextRelease{false});
  return AttachedDrawingContext(new GdiDrawingContext(static_cast<HDC>(handle)), DrawingContextRelease{true});
}

}  // namespace velmora::platform

// Recording the plug-in's GDI drawing on Windows: an enhanced metafile per recording, read
// back by playing it record by record into a memory device context, where GDI builds the
// same paths (text drawn in a path bracket becomes glyph outlines) and GetPath returns them
// just before each paint and clip takes them.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/drawing_recorder.h"

namespace velmora::platform {
namespace {

// A mark is a private comment record: this tag and the mark's id, little-endian.
constexpr BYTE kMarkTag[4] = {'V', 'M', 'R', 'K'};
constexpr UINT kMarkSize = 8;

std::uint8_t GrayOf(COLORREF color) {
  const int red = GetRValue(color);
  const int green = GetGValue(color);
  const int blue = GetBValue(color);
  if (red == green && green == blue) return static_cast<std::uint8_t>(red);
  return static_cast<std::uint8_t>((red * 299 + green * 587 + blue * 114 + 500) / 1000);
}

// The context's current path (after EndPath), in device pixels: GetPath's points, a
// Bézier segment for each run of three PT_BEZIERTO points, and a close after every point
// that closes its figure.
RecordedPath CurrentPath(HDC dc) {
  const int count = ::GetPath(dc, nullptr, nullptr, 0);
  if (count <= 0) return {};
  std::vector<POINT> points(static_cast<std::size_t>(count));
  std::vector<BYTE> types(static_cast<std::size_t>(count));
  if (::GetPath(dc, points.data(), types.data(), count) != count) return {};
  const auto at = [&points](int index) { return Point{points[index].x, points[index].y}; };
  RecordedPath path;
  for (int i = 0; i < count;) {
    const BYTE type = types[i] & ~PT_CLOSEFIGURE;
    PathSegment segment;
    int last = i;
    if (type == PT_BEZIERTO && i + 2 < count) {
      segment.kind = PathPart::kBezier;
      segment.points[0] = at(i);
      segment.points[1] = at(i + 1);
      segment.points[2] = at(i + 2);
      last = i + 2;
    } else {
      segment.kind = type == PT_MOVETO ? PathPart::kMove : PathPart::kLine;
      segment.points[0] = at(i);
    }
    path.push_back(segment);
    if ((types[last] & PT_CLOSEFIGURE) != 0) path.push_back({PathPart::kClose, {}});
    i = last + 1;
  }
  return path;
}

// What the playback keeps beside the memory context: the items so far, and the clip path
// with its saved copies (the context itself holds only the clip's region).
struct Playback {
  std::vector<RecordedItem> items;
  std::optional<RecordedPath> clip;
  std::vector<std::optional<RecordedPath>> savedClips;
  bool bracketOpen = false;
};

RecordedPaint PaintIn(HDC dc, const Playback& playback, PaintKind kind, RecordedPath path) {
  RecordedPaint paint;
  paint.kind = kind;
  paint.path = std::move(path);
  paint.clip = playback.clip;
  paint.mix = ::GetROP2(dc);
  LOGBRUSH brush{};
  if (::GetObjectW(::GetCurrentObject(dc, OBJ_BRUSH), sizeof brush, &brush) == sizeof brush) {
    paint.brushGray = GrayOf(brush.lbColor);
  }
  HGDIOBJ pen = ::GetCurrentObject(dc, OBJ_PEN);
  if (::GetObjectType(pen) == OBJ_EXTPEN) {
    EXTLOGPEN extended{};
    if (::GetObjectW(pen, sizeof extended, &extended) > 0) {
      paint.penGray = GrayOf(extended.elpColor);
      paint.penWidth = static_cast<int>(extended.elpWidth);
    }
  } else {
    LOGPEN plain{};
    if (::GetObjectW(pen, sizeof plain, &plain) == sizeof plain) {
      paint.penGray = GrayOf(plain.lopnColor);
      paint.penWidth = plain.lopnWidth.x;
    }
  }
  return paint;
}

int CALLBACK PlayRecord(HDC dc, HANDLETABLE* table, const ENHMETARECORD* record, int objects, LPARAM data) {
  Playback& playback = *reinterpret_cast<Playback*>(data);
  // The recording's coordinates are the page's device pixels already: whatever transform
  // the enumeration set up to fit its frame is undone before each record.
  ::ModifyWorldTransform(dc, nullptr, MWT_IDENTITY);
  const auto play = [&] { return ::PlayEnhMetaFileRecord(dc, table, record, static_cast<UINT>(objects)); };
  switch (record->iType) {
    case EMR_GDICOMMENT: {
      const auto* comment = reinterpret_cast<const EMRGDICOMMENT*>(record);
      if (comment->cbData == kMarkSize && std::memcmp(comment->Data, kMarkTag, sizeof kMarkTag) == 0) {
        std::uint32_t id = 0;
        for (int i = 0; i < 4; ++i) id |= static_cast<std::uint32_t>(comment->Data[4 + i]) << (8 * i);
        playback.items.push_back(RecordedMark{id});
      }
      return 1;
    }
    case EMR_BEGINPATH: playback.bracketOpen = true; break;
    case EMR_ENDPATH:
    case EMR_ABORTPATH: playback.bracketOpen = false; break;
    case EMR_FILLPATH:
    case EMR_STROKEPATH:
    case EMR_STROKEANDFILLPATH: {
      const PaintKind kind = record->iType == EMR_FILLPATH     ? PaintKind::kFill
                             : record->iType == EMR_STROKEPATH ? PaintKind::kStroke
                                                               : PaintKind::kStrokeAndFill;
      RecordedPath path = CurrentPath(dc);
      if (!path.empty()) playback.items.push_back(PaintIn(dc, playback, kind, std::move(path)));
      break;
    }
    case EMR_SELECTCLIPPATH: {
      RecordedPath path = CurrentPath(dc);
      if (!path.empty()) playback.clip = std::move(path);
      break;
    }
    case EMR_EXTSELECTCLIPRGN: {
      // Only a reset to the page's own clip is kept; the plug-in clips with paths.
      const auto* select = reinterpret_cast<const EMREXTSELECTCLIPRGN*>(record);
      if (select->cbRgnData == 0 && select->iMode == RGN_COPY) playback.clip.reset();
      break;
    }
    case EMR_SAVEDC: playback.savedClips.push_back(playback.clip); break;
    case EMR_RESTOREDC: {
      const LONG relative = reinterpret_cast<const EMRRESTOREDC*>(record)->iRelative;
      const std::size_t depth = playback.savedClips.size();
      const std::size_t keep =
          relative < 0
              ? (static_cast<std::size_t>(-relative) <= depth ? depth - static_cast<std::size_t>(-relative) : depth)
              : (relative >= 1 && static_cast<std::size_t>(relative) <= depth ? static_cast<std::size_t>(relative) - 1
                                                                              : depth);
      if (keep < depth) {
        playback.clip = playback.savedClips[keep];
        playback.savedClips.resize(keep);
      }
      break;
    }
    case EMR_EXTTEXTOUTW:
      // Text outside a path bracket is filled in the text colour: its outlines come from
      // a bracket of the memory context's own.
      if (!playback.bracketOpen && ::BeginPath(dc)) {
        play();
        ::EndPath(dc);
        RecordedPath path = CurrentPath(dc);
        ::AbortPath(dc);
        if (path.empty()) return 1;
        RecordedPaint paint = PaintIn(dc, playback, PaintKind::kFill, std::move(path));
        paint.brushGray = GrayOf(::GetTextColor(dc));
        playback.items.push_back(std::move(paint));
        return 1;
      }
      break;
    case EMR_LINETO:
      // A line outside a path bracket is stroked with the current pen.
      if (!playback.bracketOpen) {
        POINT from{};
        ::GetCurrentPositionEx(dc, &from);
        const POINTL to = reinterpret_cast<const EMRLINETO*>(record)->ptl;
        RecordedPath path{{PathPart::kMove, {Point{from.x, from.y}}}, {PathPart::kLine, {Point{to.x, to.y}}}};
        playback.items.push_back(PaintIn(dc, playback, PaintKind::kStroke, std::move(path)));
      }
      break;
    default: break;
  }
  play();
  return 1;
}

class EnhancedMetafileRecorder final : public DrawingRecorder {
 public:
  EnhancedMetafileRecorder(HDC reference, RECT frame) : reference_(reference), frame_(frame), dc_(Open()) {}

  ~EnhancedMetafileRecorder() override {
    if (dc_ != nullptr) ::DeleteEnhMetaFile(::CloseEnhMetaFile(dc_));
    if (reference_ != nullptr) ::DeleteDC(reference_);
  }

  EnhancedMetafileRecorder(const EnhancedMetafileRecorder&) = delete;
  EnhancedMetafileRecorder& operator=(const EnhancedMetafileRecorder&) = delete;

  bool valid() const { return dc_ != nullptr; }

  HANDLE dc() override { return dc_; }

  bool Mark(std::uint32_t id) override {
    if (dc_ == nullptr) return false;
    BYTE data[kMarkSize];
    std::memcpy(data, kMarkTag, sizeof kMarkTag);
    for (int i = 0; i < 4; ++i) data[4 + i] = static_cast<BYTE>(id >> (8 * i));
    return ::GdiComment(dc_, kMarkSize, data) != FALSE;
  }

  std::optional<std::vector<RecordedItem>> Take() override {
    HENHMETAFILE recorded = dc_ != nullptr ? ::CloseEnhMetaFile(dc_) : nullptr;
    dc_ = Open();
    if (recorded == nullptr) return std::nullopt;
    std::optional<std::vector<RecordedItem>> items = Play(recorded);
    ::DeleteEnhMetaFile(recorded);
    return items;
  }

 private:
  // The frame is given: a reference that knows no paper (HORZSIZE 0) leaves GDI nothing
  // to compute it from.
  HDC Open() { return ::CreateEnhMetaFileW(reference_, nullptr, &frame_, nullptr); }

  static std::optional<std::vector<RecordedItem>> Play(HENHMETAFILE recorded) {
    HDC memory = ::CreateCompatibleDC(nullptr);
    if (memory == nullptr) return std::nullopt;
    Playback playback;
    // Any rectangle will do: PlayRecord undoes the frame's transform.
    const RECT frame{0, 0, 1, 1};
    const BOOL played = ::EnumEnhMetaFile(memory, recorded, PlayRecord, &playback, &frame);
    ::DeleteDC(memory);
    if (!played) return std::nullopt;
    return std::move(playback.items);
  }

  HDC reference_;
  RECT frame_;
  HDC dc_;
};

}  // namespace

std::unique_ptr<DrawingRecorder> CreateDrawingRecorder(const RecordingDevice& device) {
  // The printer's own device context for the job's device mode answers the figures the
  // host took from it; without one the recording measures against the display.
  HDC reference = nullptr;
  if (!device.printerName.empty()) {
    reference =
        ::CreateDCW(L"WINSPOOL", device.printerName.c_str(), nullptr, static_cast<const ::DEVMODEW*>(device.devmode));
  }
  // The frame in hundredths of a millimetre.
  const auto hundredths = [](LONG pixels, int dpi) { return dpi > 0 ? ::MulDiv(pixels, 2540, dpi) : pixels; };
  const RECT frame{0, 0, std::max<LONG>(1, hundredths(device.page.cx, device.dpiX)),
                   std::max<LONG>(1, hundredths(device.page.cy, device.dpiY))};
  auto recorder = std::make_unique<EnhancedMetafileRecorder>(reference, frame);
  if (!recorder->valid()) return nullptr;
  return recorder;
}

}  // namespace velmora::platform

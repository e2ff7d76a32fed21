// A real document as a page source: Ghostscript renders it into PCL XL for the job's
// geometry, the pages are kept apart in a spool file, and each page is drawn again through
// the host's drawing functions, as a host draws an application's page: text runs through
// TextOut, images through the bit-block transfers, straight lines through LineTo, and
// paths, clips and graphics state through the host's own path functions, unchanged.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <climits>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "host/drawing_functions.h"
#include "host/ghostscript_render.h"
#include "host/glyph_image.h"
#include "host/host_error.h"
#include "host/page_source.h"
#include "host/pxl_encoder.h"
#include "host/pxl_page_store.h"
#include "platform/files.h"

namespace velmora::host {
namespace {

using pxl::Attr;
using pxl::Op;

// Font names the host gives the downloaded fonts of a document, followed by a number.
// An overlay capture renames fonts of this prefix, so that a form's fonts never meet the
// fonts of the page it is played on.
constexpr char kFontPrefix[] = "MS PCLXLFont";
constexpr std::uint8_t kSourceCopyRop = 0xCC;
// The colour of a brush that is not one solid colour.
constexpr Color kNotSolid = 0xFFFFFFFF;
// The raster operation a page starts with, which the renderer's stream counts on.
constexpr std::uint8_t kPageDefaultRop = 0xFC;
// The tags of the operators of a text run.
constexpr auto kSetCursor = static_cast<std::uint8_t>(Op::SetCursor);
constexpr auto kSetCursorRel = static_cast<std::uint8_t>(Op::SetCursorRel);
constexpr auto kText = static_cast<std::uint8_t>(Op::Text);
constexpr auto kBeginChar = static_cast<std::uint8_t>(Op::BeginChar);

// A job's private temporary folder (only its user may open it), removed with what it
// holds when it goes. Ghostscript's -dSAFER lets a document read its temporary folder:
// each job's Ghostscript gets its own, and the job's own temporary files lie there too,
// out of reach of every other job's document.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    std::string reason;
    auto path = platform::CreatePrivateFolder(platform::PathToUtf8(folder / "velmora-render."), &reason);
    if (!path) {
      throw HostError("Unable to create a temporary folder in '" + platform::PathToUtf8(folder) + "': " + reason);
    }
    path_ = *path;
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(platform::PathFromUtf8(path_), ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A temporary file in a job's private folder, removed when it goes.
class TemporaryFile {
 public:
  TemporaryFile(const TemporaryFolder& folder, const std::string& stem) {
    std::string reason;
    auto path = platform::CreateUniqueFile(platform::PathToUtf8(platform::PathFromUtf8(folder.path()) / stem), &reason);
    if (!path) throw HostError("Unable to create a temporary file in '" + folder.path() + "': " + reason);
    path_ = *path;
  }
  ~TemporaryFile() {
    std::error_code ignored;
    std::filesystem::remove(platform::PathFromUtf8(path_), ignored);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string FontNameOf(const pxl::ScannedOperator& op) {
  const std::optional<pxl::AttributeView> name = op.Find(Attr::FontName);
  return name ? name->Bytes() : std::string();
}

// A state-setting operator as the stream last wrote it, kept to write it again.
struct KeptState {
  std::vector<std::uint8_t> bytes;
  std::optional<std::uint8_t> gray;  // a solid grey level; none for any other source
  std::int64_t number = -1;          // the value of a single-number operator
};

class DocumentPageSource : public PageSource {
 public:
  // Ghostscript starts at once: it loads while the job starts, and renders once the job
  // knows its resolution and sheet (Start).
  // `folder` is the job's private temporary folder; without one the source makes its own.
  DocumentPageSource(std::string path, std::string name, std::string pageRanges, const platform::ProgramLimits& limits,
                     const TemporaryFolder* folder = nullptr)
      : path_(std::move(path)), name_(std::move(name)), pageRanges_(std::move(pageRanges)), limits_(limits) {
    if (folder == nullptr) {
      ownFolder_ = std::make_unique<TemporaryFolder>();
      folder = ownFolder_.get();
    }
    folder_ = folder;
    try {
      render_ = std::make_unique<GhostscriptRender>(path_, name_, folder_->path(), pageRanges_, limits_);
    } catch (const HostError&) {
      // Prepare tries again and reports why, once the job exists.
      render_.reset();
    }
  }

  bool NeedsPreparing() const override { return true; }
  void Start(const PageGeometry& geometry) override {
    if (render_ == nullptr || render_->rendering()) return;
    render_->Render(geometry);
    renderedFor_ = geometry;
  }
  void Prepare(const PageGeometry& geometry) override {
    geometry_ = geometry;
    const auto renderedAlike = [&geometry](const PageGeometry& other) {
      return other.xResolution == geometry.xResolution && other.yResolution == geometry.yResolution &&
             other.physicalWidth == geometry.physicalWidth && other.physicalHeight == geometry.physicalHeight;
    };
    if (render_ != nullptr && render_->rendering() && !renderedAlike(renderedFor_)) render_.reset();
    if (render_ == nullptr) {
      render_ = std::make_unique<GhostscriptRender>(path_, name_, folder_->path(), pageRanges_, limits_);
    }
    Start(geometry);
    spool_ = std::make_unique<TemporaryFile>(*folder_, "velmora-pages.");
    try {
      store_ = std::make_unique<PxlPageStore>(
          [this](std::uint8_t* buffer, std::size_t size) { return render_->Read(buffer, size); }, spool_->path(),
          name_);
    } catch (const HostError&) {
      // Without a stream, Ghostscript's own reason comes first.
      render_->Finish();
      throw;
    }
    // A document whose page count is known before Ghostscript renders its first page (a
    // PDF, or PostScript that states it) is printed while Ghostscript renders it. Any
    // other, and a page that must carry its own fonts (an overlay capture, which is kept),
    // is rendered whole first, so that the job knows its pages from its start.
    const std::optional<std::size_t> announced = geometry.selfContainedPages ? std::nullopt : render_->AnnouncedPages();
    if (announced && *announced > 0) {
      pageCount_ = *announced;
    } else {
      Finish();
      pageCount_ = store_->pageCount();
    }
    if (pageCount_ == 0) {
      throw HostError(
          "Unable to print '" + name_ + "': " +
          (pageRanges_.empty() ? "the document has no pages" : "the document has none of the pages " + pageRanges_));
    }
  }

  std::size_t PageCount() const override { return pageCount_; }
  void SetGeometry(const PageGeometry& geometry) override { geometry_ = geometry; }

  void Finish() override {
    if (render_ == nullptr || finished_) return;
    finished_ = true;
    store_->ReadAll();
    render_->Finish();
    if (pageCount_ != 0 && store_->pageCount() != pageCount_) Short();
  }

  std::optional<PageFormat> FormatOf(std::size_t page) override {
    if (store_ == nullptr || page < 1 || page > pageCount_) return std::nullopt;
    ReadTo(page);
    return store_->FormatOf(page - 1);
  }

  void DrawPage(std::size_t page, Canvas& canvas) override {
    if (store_ == nullptr || page < 1 || page > pageCount_) return;
    ReadTo(page);
    const ContentPlacement placement =
        Fit(store_->FormatOf(page - 1), canvas.QuarterTurns(), canvas.TurnsPagesAcross());
    KeptPage kept = store_->TakePage(page - 1);
    canvas_ = &canvas;
    ResetPageState();
    canvas.BeginContent(placement);
    // The renderer counts on the page's initial state, which the plug-in's page set-up
    // has changed.
    rop_.bytes = PxlEncoder().UByte(kPageDefaultRop, Attr::ROP3).Operator(Op::SetROP).Take();
    rop_.number = kPageDefaultRop;
    canvas.WriteContent(rop_.bytes);
    // The glyphs the page takes from earlier pages, then its own operators, read from the
    // page's bytes where the store marked their tags.
    for (const PagePart* part : {&kept.prelude, &kept.content}) {
      part_ = part;
      page_ = part->bytes;
      for (std::size_t at = 0; at < page_.size();) at = DrawFrom(At(at));
      FlushPending();
    }
    if (geometry_.selfContainedPages) RemoveFonts();
    canvas.EndContent();
    canvas_ = nullptr;
    page_ = {};
    part_ = nullptr;
    store_->GiveBack(std::move(kept));
  }

 private:
  // Reads the rendered stream on to page `page`.
  void ReadTo(std::size_t page) {
    if (store_->ReadPages(page) >= page) return;
    // The stream ended early: Ghostscript's reason, or the shortfall.
    finished_ = true;
    render_->Finish();
    Short();
  }

  // Where a page laid out for `format` goes on the job's sheet, as the job's page scaling
  // says: as it is when it has the sheet's size and orientation; else fitted into the
  // printable area, scaled to cover the sheet, or at its own size, centred either way and
  // turned a quarter when its orientation is not the sheet's. A turned page's top goes to
  // the sheet's left edge, as a printer turns a landscape page; on a canvas that is turned
  // itself (an N-up cell) the page turns the other way, so that it stands upright on the
  // sheet. A canvas that keeps pages upright (a booklet page) never turns them. The
  // renderer's coordinates start at the sheet's corner, the canvas's at the printable
  // area's.
  ContentPlacement Fit(const std::optional<PageFormat>& format, int canvasTurns, bool turnsAcross) const {
    // Within this many dots, a page has the sheet's size.
    constexpr double kSameSize = 2.0;
    ContentPlacement placement{-static_cast<double>(geometry_.offsetX), -static_cast<double>(geometry_.offsetY), 1.0,
                               0};
    if (!format) return placement;
    const double sheetWidth = geometry_.physicalWidth;
    const double sheetHeight = geometry_.physicalHeight;
    const double pageWidth = format->widthInches * geometry_.xResolution;
    const double pageHeight = format->heightInches * geometry_.yResolution;
    const bool turn = turnsAcross && ((pageWidth > pageHeight && sheetHeight > sheetWidth) ||
                                      (pageHeight > pageWidth && sheetWidth > sheetHeight));
    // The page's extent on the sheet before scaling.
    const double width = turn ? pageHeight : pageWidth;
    const double height = turn ? pageWidth : pageHeight;
    PageScaling scaling = geometry_.scaling;
    if (scaling == PageScaling::kAuto) {
      if (!turn && std::abs(width - sheetWidth) <= kSameSize && std::abs(height - sheetHeight) <= kSameSize) {
        return placement;
      }
      const bool larger = width > sheetWidth + kSameSize || height > sheetHeight + kSameSize;
      scaling = larger ? PageScaling::kFit : PageScaling::kNone;
    }
    // The area the page is placed in: the printable area for a page fitted into it, else
    // the whole sheet.
    double areaWidth = sheetWidth;
    double areaHeight = sheetHeight;
    if (scaling == PageScaling::kFit) {
      placement.x = placement.y = 0;
      areaWidth = geometry_.printableWidth;
      areaHeight = geometry_.printableHeight;
    }
    double scale = 1.0;
    if (scaling == PageScaling::kFit) scale = std::min(areaWidth / width, areaHeight / height);
    if (scaling == PageScaling::kFill) scale = std::max(areaWidth / width, areaHeight / height);
    double x = (areaWidth - scale * width) / 2;
    double y = (areaHeight - scale * height) / 2;
    if (turn) {
      placement.quarterTurns = canvasTurns % 2 == 1 ? 4 - canvasTurns : 1;
      // One quarter turn takes the content's top left corner to the bottom left, three
      // to the top right.
      if (placement.quarterTurns == 1) y += scale * height;
      if (placement.quarterTurns == 3) x += scale * width;
    }
    placement.x += x;
    placement.y += y;
    placement.scale = scale;
    return placement;
  }

  [[noreturn]] void Short() const {
    const std::string rendered = std::to_string(store_->pageCount());
    const std::string announced = std::to_string(pageCount_);
    // A PostScript document's page comments gave the count the job was started with; the
    // job's sheets, and the page total the plug-in was given, follow it, and its first
    // sheets may have gone out already.
    if (render_->kind() == DocumentKind::kPostScript) {
      throw HostError("Unable to print '" + name_ + "': Ghostscript rendered " + rendered + " page(s), not the " +
                      announced + " its %%Pages and %%Page comments state, which the job was started with");
    }
    throw HostError("Unable to print '" + name_ + "': Ghostscript rendered " + rendered + " of its " + announced +
                    " pages");
  }

  // The operator at `at` of the page part being drawn, read where the store marked its
  // tag; past its last operator, one of code 0 that starts and ends at the part's end.
  pxl::ScannedOperator At(std::size_t at) const { return part_->At(at, store_->byteOrder()); }
  bool Is(std::size_t at, Op op) const { return At(at).Is(op); }
  std::span<const std::uint8_t> BytesOf(std::size_t start, std::size_t end) const {
    return page_.subspan(start, end - start);
  }
  std::span<const std::uint8_t> BytesOf(const pxl::ScannedOperator& op) const { return BytesOf(op.start, op.end); }

  void ResetPageState() {
    brush_ = {};
    pen_ = {};
    rop_ = {};
    penWidth_ = 1;
    currentFont_.clear();
    pendingStart_ = pendingEnd_ = 0;
    glyphImages_ = {};
  }

  // Draws what starts at operator `op`; answers where the next one to draw starts.
  std::size_t DrawFrom(const pxl::ScannedOperator& op) {
    if (op.code == 0) return op.end;
    glyphImages_.Note(op);
    switch (op.op()) {
      case Op::NewPath:
        if (const std::size_t next = DrawLine(op); next != op.start) return next;
        break;
      case Op::SetCursor:
      case Op::SetCursorRel:
      case Op::Text:
        if (op.Is(Op::SetCursor) && Is(op.end, Op::BeginImage)) return DrawImage(op);
        if (const std::size_t next = DrawText(op); next != op.start) return next;
        break;
      case Op::BeginImage: return DrawImage(op);
      case Op::BeginChar: return Download(op);
      case Op::SetFont:
      case Op::RemoveFont:
        WriteRenamed(op);
        if (op.Is(Op::SetFont)) currentFont_ = FontNameOf(op);
        if (op.Is(Op::RemoveFont)) ForgetFont(FontNameOf(op));
        return op.end;
      case Op::SetClipReplace:
      case Op::SetClipToPage:
      case Op::SetClipRectangle:
        // The page's clip may reach past the area the canvas keeps it in.
        Pass(op.start, op.end);
        FlushPending();
        canvas_->ContentClipReplaced();
        return op.end;
      case Op::SetBrushSource: Keep(brush_, op); break;
      case Op::SetPenSource: Keep(pen_, op); break;
      case Op::SetROP: Keep(rop_, op); break;
      case Op::SetPenWidth:
        if (const auto width = op.Find(Attr::PenWidth)) penWidth_ = static_cast<int>(width->Int());
        break;
      default: break;
    }
    Pass(op.start, op.end);
    return op.end;
  }

  void Keep(KeptState& state, const pxl::ScannedOperator& op) {
    const auto bytes = BytesOf(op);
    state.bytes.assign(bytes.begin(), bytes.end());
    state.gray.reset();
    state.number = -1;
    if (const auto gray = op.Find(Attr::GrayLevel)) state.gray = static_cast<std::uint8_t>(gray->Int());
    if (const auto rop = op.Find(Attr::ROP3)) state.number = rop->Int();
    if (op.Find(Attr::NullBrush) || op.Find(Attr::NullPen)) state.number = 0;
  }

  // Operators no hook draws go on to the host's own path functions as they are: the
  // bytes from `start` to `end` of the page join those collected when they follow them
  // at once; the collected ones are written when anything else is.
  void Pass(std::size_t start, std::size_t end) {
    if (pendingStart_ != pendingEnd_ && start != pendingEnd_) FlushPending();
    if (pendingStart_ == pendingEnd_) pendingStart_ = start;
    pendingEnd_ = end;
  }

  // Writes the operators collected for the host's own path functions.
  void FlushPending() {
    if (pendingStart_ == pendingEnd_) return;
    canvas_->WriteContent(BytesOf(pendingStart_, pendingEnd_));
    pendingStart_ = pendingEnd_ = 0;
  }

  // A single straight line stroked with a solid pen and no fill: NewPath, SetCursor,
  // LinePath to one end point, an optional null brush, PaintPath. Answers where `newPath`
  // starts when the path is anything else.
  std::size_t DrawLine(const pxl::ScannedOperator& newPath) {
    const std::size_t notALine = newPath.start;
    const pxl::ScannedOperator cursor = At(newPath.end);
    if (!cursor.Is(Op::SetCursor)) return notALine;
    const pxl::ScannedOperator line = At(cursor.end);
    if (!line.Is(Op::LinePath)) return notALine;
    const auto from = cursor.Find(Attr::Point);
    const auto to = line.Find(Attr::EndPoint);
    if (!from || !to || line.AttributeCount() != 1) return notALine;
    pxl::ScannedOperator next = At(line.end);
    bool nullBrush = brush_.number == 0 && !brush_.gray;
    std::optional<pxl::ScannedOperator> brushOp;
    if (next.Is(Op::SetBrushSource)) {
      nullBrush = next.Find(Attr::NullBrush).has_value();
      brushOp = next;
      next = At(next.end);
    }
    if (!next.Is(Op::PaintPath) || !nullBrush || !pen_.gray) return notALine;
    if (brushOp) Keep(brush_, *brushOp);
    FlushPending();
    const std::uint8_t gray = *pen_.gray;
    canvas_->DrawContentLine({static_cast<LONG>(from->Int(0)), static_cast<LONG>(from->Int(1))},
                             {static_cast<LONG>(to->Int(0)), static_cast<LONG>(to->Int(1))}, Rgb(gray, gray, gray),
                             penWidth_);
    // LineTo leaves a null brush, the line's pen and a source-copy raster operation.
    if (rop_.number != kSourceCopyRop) canvas_->WriteContent(rop_.bytes);
    return next.end;
  }

  // An image: an optional SetCursor, BeginImage, its ReadImage blocks, EndImage.
  std::size_t DrawImage(const pxl::ScannedOperator& first) {
    const pxl::ScannedOperator header = first.Is(Op::SetCursor) ? At(first.end) : first;
    pxl::ScannedOperator last = At(header.end);
    while (last.Is(Op::ReadImage)) last = At(last.end);
    if (!last.Is(Op::EndImage)) {
      // Not an image the host can hand on whole: its operators go as they are.
      Pass(first.start, last.end);
      return last.end;
    }
    ContentImage image;
    image.operators = BytesOf(first.start, last.end);
    const auto width = header.Find(Attr::SourceWidth);
    const auto height = header.Find(Attr::SourceHeight);
    image.sourceWidth = width ? static_cast<int>(width->Int()) : 0;
    image.sourceHeight = height ? static_cast<int>(height->Int()) : 0;
    POINTL at{0, 0};
    if (first.Is(Op::SetCursor)) {
      if (const auto point = first.Find(Attr::Point)) {
        at = {static_cast<LONG>(point->Int(0)), static_cast<LONG>(point->Int(1))};
      }
    }
    LONG destWidth = image.sourceWidth;
    LONG destHeight = image.sourceHeight;
    if (const auto size = header.Find(Attr::DestinationSize)) {
      destWidth = static_cast<LONG>(size->Int(0));
      destHeight = static_cast<LONG>(size->Int(1));
    }
    image.dest = {at.x, at.y, at.x + destWidth, at.y + destHeight};
    FlushPending();
    // The image's only ReadImage block, when it has one.
    const pxl::ScannedOperator firstBlock = At(header.end);
    std::optional<pxl::ScannedOperator> block;
    if (firstBlock.Is(Op::ReadImage) && firstBlock.end == last.start) block = firstBlock;
    if (const std::optional<std::uint8_t> gray = glyphImages_.GlyphGray(header, block, brush_.gray, rop_.number)) {
      // A glyph too large for the renderer's font is text all the same.
      ContentText glyph;
      glyph.operators = image.operators;
      glyph.glyphCount = 1;
      glyph.color = Rgb(*gray, *gray, *gray);
      glyph.glyphImage = true;
      canvas_->DrawContentText(glyph);
      return last.end;
    }
    canvas_->DrawContentImage(image);
    return last.end;
  }

  // A run of text: glyph positions and Text operators of the current font, with the
  // glyph downloads between them sent first. A download that would replace a glyph the
  // run has used already ends the run. Answers where `first` starts when no Text follows.
  std::size_t DrawText(const pxl::ScannedOperator& first) {
    runCodes_.clear();
    runDownloads_.clear();
    std::size_t codesFrom = first.start;  // where the run's codes are not yet in runCodes_
    std::size_t glyphs = 0;
    std::size_t afterText = first.start;
    // The run is read from the tags the store marked alone: its positions and Text
    // operators carry no data, so each ends right after its tag.
    const auto noDataAfter = [this](std::size_t tag) {
      return tag + 1 == page_.size() ||
             (page_[tag + 1] != pxl::tag::kDataLength && page_[tag + 1] != pxl::tag::kDataLengthByte);
    };
    for (std::size_t at = first.start;;) {
      // A glyph's position and its one-byte-code Text, most of a run, are known by their
      // shape without the marks.
      if (const std::size_t tagAt = pxl::GlyphOperatorTag(page_, at); tagAt != 0 && noDataAfter(at + tagAt)) {
        if (page_[at + tagAt] == kText) {
          glyphs += page_[at + 2];  // the TextData array's length
          afterText = at + tagAt + 1;
        }
        at += tagAt + 1;
        continue;
      }
      const std::size_t tag = part_->tags.Next(at);
      if (tag >= page_.size()) break;
      const std::uint8_t code = page_[tag];
      const bool noData = noDataAfter(tag);
      if ((code == kSetCursor || code == kSetCursorRel) && noData) {
        at = tag + 1;
        continue;
      }
      if (code == kText && noData) {
        if (const auto codes = pxl::ByteTextCodes(page_.subspan(at, tag - at))) {
          glyphs += codes->size();
        } else {
          const pxl::ScannedOperator text = pxl::OperatorAt(page_, at, tag, store_->byteOrder());
          text.With(Attr::TextData, [&glyphs](const pxl::AttributeView& data) { glyphs += data.size(); });
        }
        afterText = at = tag + 1;
        continue;
      }
      if (code != kBeginChar) break;
      const pxl::ScannedOperator begin = pxl::OperatorAt(page_, at, tag, store_->byteOrder());
      // The codes the run has used, needed only where a download comes inside it.
      for (pxl::ScannedOperator text = At(codesFrom); text.start < begin.start; text = At(text.end)) {
        if (text.Is(Op::Text)) ForEachTextCode(text, [this](std::uint32_t used) { runCodes_.push_back(used); });
      }
      if (Replaces(begin, runCodes_)) break;
      const std::size_t end = Download(begin);
      runDownloads_.emplace_back(begin.start, end);
      codesFrom = at = end;
    }
    if (afterText == first.start) return first.start;
    FlushPending();
    ContentText text;
    // The run's positions and Text operators lie together in the page unless downloads
    // came between them: those are left out of a copy.
    text.operators = BytesOf(first.start, afterText);
    if (!runDownloads_.empty() && runDownloads_.front().first < afterText) {
      runBytes_.clear();
      std::size_t from = first.start;
      for (const auto& [start, end] : runDownloads_) {
        if (start >= afterText) break;
        const auto part = BytesOf(from, start);
        runBytes_.insert(runBytes_.end(), part.begin(), part.end());
        from = end;
      }
      const auto rest = BytesOf(from, afterText);
      runBytes_.insert(runBytes_.end(), rest.begin(), rest.end());
      text.operators = runBytes_;
    }
    text.glyphCount = glyphs;
    text.solid = brush_.gray.has_value();
    const std::uint8_t gray = brush_.gray.value_or(0);
    text.color = text.solid ? Rgb(gray, gray, gray) : kNotSolid;
    const Color drawn = canvas_->DrawContentText(text);
    // The plug-in changed the text's colour: the stream's own brush comes back for what
    // follows.
    if (drawn != text.color && !brush_.bytes.empty()) canvas_->WriteContent(brush_.bytes);
    return afterText;
  }

  // True when the glyph download `beginChar` would replace a code of the current font in
  // `used`.
  bool Replaces(const pxl::ScannedOperator& beginChar, const std::vector<std::uint32_t>& used) const {
    if (FontNameOf(beginChar) != currentFont_) return false;
    for (pxl::ScannedOperator op = At(beginChar.end); op.Is(Op::ReadChar); op = At(op.end)) {
      const auto code = op.Find(Attr::CharCode);
      if (code && std::find(used.begin(), used.end(), static_cast<std::uint32_t>(code->Int())) != used.end()) {
        return true;
      }
    }
    return false;
  }

  // Downloads the glyphs of `begin` (a BeginChar) that the printer does not hold as they
  // are; answers where the operator after its EndChar starts.
  std::size_t Download(const pxl::ScannedOperator& begin) {
    const std::string font = FontNameOf(begin);
    pxl::ScannedOperator op = At(begin.end);
    for (; op.Is(Op::ReadChar); op = At(op.end)) {
      const auto code = op.Find(Attr::CharCode);
      if (!code) continue;
      const auto glyph = BytesOf(op);
      std::vector<std::uint8_t>& loaded = loadedGlyphs_[{font, static_cast<std::uint32_t>(code->Int())}];
      if (loaded.size() == glyph.size() && std::equal(glyph.begin(), glyph.end(), loaded.begin())) continue;
      FlushPending();
      LoadFont(font);
      WriteRenamed(begin);
      canvas_->WriteContent(glyph);
      constexpr std::uint8_t kEndChar[] = {static_cast<std::uint8_t>(Op::EndChar)};
      canvas_->WriteContent(kEndChar);
      loaded.assign(glyph.begin(), glyph.end());
    }
    return op.Is(Op::EndChar) ? op.end : op.start;
  }

  // Downloads the header of a font of the stream once.
  void LoadFont(const std::string& font) {
    if (loadedFonts_.count(font) != 0) return;
    const std::vector<std::uint8_t>* header = store_->FontHeader(font);
    if (header == nullptr) throw HostError("Unable to print '" + name_ + "': a rendered page uses an undefined font");
    pxl::OperatorScanner scanner(*header, store_->byteOrder());
    std::size_t from = 0;
    pxl::ScannedOperator op;
    while (scanner.Next(op)) {
      if (!op.Is(Op::BeginFontHeader)) continue;
      WriteRenamed(op);
      from = op.tag + 1;
      break;
    }
    canvas_->WriteContent(std::span<const std::uint8_t>(*header).subspan(from));
    loadedFonts_.insert(font);
  }

  // At the end of a page that must carry its own fonts: its fonts are removed again.
  void RemoveFonts() {
    for (const std::string& font : loadedFonts_) {
      PxlEncoder out;
      const std::string name = HostFontName(font);
      out.UByteArray({reinterpret_cast<const std::uint8_t*>(name.data()), name.size()}, Attr::FontName)
          .Operator(Op::RemoveFont);
      canvas_->WriteContent(out.bytes());
    }
    loadedFonts_.clear();
    loadedGlyphs_.clear();
  }

  void ForgetFont(const std::string& font) {
    loadedFonts_.erase(font);
    std::erase_if(loadedGlyphs_, [&font](const auto& entry) { return entry.first.first == font; });
  }

  // The host's name for a font of the stream.
  std::string HostFontName(const std::string& font) {
    auto [entry, added] = fontNames_.try_emplace(font);
    if (added) entry->second = kFontPrefix + std::to_string(fontNames_.size());
    return entry->second;
  }

  // An operator with a font name, written with the host's name for the font.
  void WriteRenamed(const pxl::ScannedOperator& op) {
    PxlEncoder out;
    op.ForEachAttribute([&](const pxl::AttributeView& attribute) {
      if (attribute.id() == static_cast<std::uint16_t>(Attr::FontName)) {
        const std::string name = HostFontName(attribute.Bytes());
        out.UByteArray({reinterpret_cast<const std::uint8_t*>(name.data()), name.size()}, Attr::FontName);
        return;
      }
      out.Value(attribute.ToValue(), static_cast<Attr>(attribute.id()));
    });
    out.Operator(op.op());
    FlushPending();
    canvas_->WriteContent(out.bytes());
  }

  std::string path_;
  std::string name_;
  std::string pageRanges_;
  platform::ProgramLimits limits_;
  PageGeometry renderedFor_;  // the geometry the renderer started with
  PageGeometry geometry_;
  // The job's private folder goes after everything in it.
  std::unique_ptr<TemporaryFolder> ownFolder_;
  const TemporaryFolder* folder_ = nullptr;
  // Ghostscript goes before the page store that reads from it.
  std::unique_ptr<GhostscriptRender> render_;
  std::unique_ptr<TemporaryFile> spool_;
  std::unique_ptr<PxlPageStore> store_;
  std::size_t pageCount_ = 0;
  bool finished_ = false;

  // What the printer holds across the pages of the job: font headers and glyphs, by the
  // stream's font names.
  std::set<std::string> loadedFonts_;
  std::map<std::pair<std::string, std::uint32_t>, std::vector<std::uint8_t>> loadedGlyphs_;
  std::map<std::string, std::string> fontNames_;

  // The page part being drawn, and where the operators collected for the host's own
  // path functions lie in it.
  const PagePart* part_ = nullptr;
  std::span<const std::uint8_t> page_;
  Canvas* canvas_ = nullptr;
  std::size_t pendingStart_ = 0;
  std::size_t pendingEnd_ = 0;
  // A text run's character codes, where glyph downloads lie inside it, and its bytes
  // without them; kept to be reused.
  std::vector<std::uint32_t> runCodes_;
  std::vector<std::pair<std::size_t, std::size_t>> runDownloads_;
  std::vector<std::uint8_t> runBytes_;
  KeptState brush_;
  KeptState pen_;
  KeptState rop_;
  int penWidth_ = 1;
  std::string currentFont_;
  GlyphImages glyphImages_;
};

// A document read from standard input, kept in a temporary file for the renderer, which
// needs to read a PDF out of order.
class StandardInputPageSource : public PageSource {
 public:
  StandardInputPageSource(const std::string& name, const std::string& pageRanges, const platform::ProgramLimits& limits)
      : copy_(folder_, "velmora-input.") {
    std::ofstream out(platform::PathFromUtf8(copy_.path()), std::ios::binary);
    platform::SetStandardInputBinary();
    std::vector<char> buffer(65536);
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), stdin)) > 0) {
      out.write(buffer.data(), static_cast<std::streamsize>(got));
    }
    if (std::ferror(stdin) || !out.flush()) throw HostError("Unable to read the document from standard input");
    document_ = std::make_unique<DocumentPageSource>(copy_.path(), name, pageRanges, limits, &folder_);
  }
  bool NeedsPreparing() const override { return true; }
  void Start(const PageGeometry& geometry) override { document_->Start(geometry); }
  void Prepare(const PageGeometry& geometry) override { document_->Prepare(geometry); }
  std::size_t PageCount() const override { return document_->PageCount(); }
  void Finish() override { document_->Finish(); }
  void SetGeometry(const PageGeometry& geometry) override { document_->SetGeometry(geometry); }
  std::optional<PageFormat> FormatOf(std::size_t page) override { return document_->FormatOf(page); }
  void DrawPage(std::size_t page, Canvas& canvas) override { document_->DrawPage(page, canvas); }

 private:
  TemporaryFolder folder_;
  TemporaryFile copy_;
  std::unique_ptr<DocumentPageSource> document_;
};

}  // namespace

std::unique_ptr<PageSource> MakeDocumentPageSource(const std::string& path, const std::string& pageRanges,
                                                   const platform::ProgramLimits& limits, const std::string& name) {
  if (path == "-") {
    return std::make_unique<StandardInputPageSource>(name.empty() ? "standard input" : name, pageRanges, limits);
  }
  return std::make_unique<DocumentPageSource>(path, name.empty() ? path : name, pageRanges, limits);
}

std::string ParsePageRanges(const std::string& ranges, const std::string& name) {
  const auto fail = [&](const std::string& why) { throw HostError(name + " '" + ranges + "': " + why); };
  // Spaces around numbers and separators ("1, 3", "2 - 3") are left out.
  const auto trimmed = [](const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
  };
  // "-3" runs from page 1, "5-" to the end.
  constexpr long kToTheEnd = LONG_MAX;
  // Page numbers stop at kMaxPageNumber: a page list of an N-up job, up to 16 pages a
  // side, then still holds only numbers Ghostscript reads as an int. A range's end past it
  // runs to the end (IPP clients write "all pages from 5" as 5-2147483647).
  const auto number = [&](const std::string& given, bool rangeEnd = false) -> long {
    const std::string text = trimmed(given);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
      fail("'" + text + "' is not a page number");
    }
    const std::size_t zeros = std::min(text.find_first_not_of('0'), text.size());
    if (text.size() - zeros > 8) {
      if (rangeEnd) return kToTheEnd;
      fail("pages count to " + std::to_string(kMaxPageNumber));
    }
    const long page = std::stol(text);
    if (page < 1) fail("pages count from 1");
    return page;
  };
  // Ghostscript prints the pages of a list in the document's order, once each: the list
  // is put in that order and pages named twice are merged, as CUPS prints each named page
  // once; empty items name nothing.
  std::vector<std::pair<long, long>> parts;
  for (std::size_t start = 0; start <= ranges.size();) {
    const std::size_t comma = std::min(ranges.find(',', start), ranges.size());
    const std::string part = trimmed(ranges.substr(start, comma - start));
    start = comma + 1;
    if (part.empty()) continue;
    const std::size_t dash = part.find('-');
    const long first = dash == 0 ? 1 : number(dash == std::string::npos ? part : part.substr(0, dash));
    long last = first;
    if (dash != std::string::npos) {
      const std::string lastText = trimmed(part.substr(dash + 1));
      last = lastText.empty() ? kToTheEnd : number(lastText, true);
      if (last < first) fail("the range '" + part + "' runs backwards");
    }
    parts.emplace_back(first, last);
  }
  if (parts.empty()) fail("no pages named");
  std::sort(parts.begin(), parts.end());
  std::string list;
  for (std::size_t i = 0; i < parts.size();) {
    auto [first, last] = parts[i];
    for (++i; i < parts.size() && (last == kToTheEnd || parts[i].first <= last + 1); ++i) {
      last = std::max(last, parts[i].second);
    }
    list += (list.empty() ? "" : ",") + std::to_string(first);
    if (last == kToTheEnd) list += "-";
    if (last != first && last != kToTheEnd) list += "-" + std::to_string(last);
  }
  return list;
}

}  // namespace velmora::host

// The page store: a rendered stream read a window at a time and spooled page by page.
#include "host/pxl_page_store.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "host/host_error.h"
#include "host/printer_description.h"
#include "platform/files.h"

namespace velmora::host {
namespace {

using pxl::Attr;
using pxl::Event;
using pxl::EventKind;
using pxl::Op;

// The stream is read in pieces of this size; a piece grows while one operator with its
// data does not fit, up to the limit.
constexpr std::size_t kPiece = std::size_t{1} << 20;
constexpr std::size_t kLargestOperator = std::size_t{1} << 30;
constexpr std::uint8_t kEndCharTag = static_cast<std::uint8_t>(Op::EndChar);

// A byte buffer whose new room is left as it is: the window grows by a whole piece before
// each read, which fills only part of it, so zeroing the piece first (as std::vector
// does, a byte at a time in an unoptimised or sanitized build) would be wasted work.
class ByteWindow {
 public:
  std::uint8_t* data() { return bytes_.get(); }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::span<const std::uint8_t> bytes() const { return {bytes_.get(), size_}; }

  // Sets the size; bytes past the old size are not initialised.
  void Resize(std::size_t size) {
    if (size > capacity_) {
      const std::size_t capacity = std::max(size, capacity_ * 2);
      std::unique_ptr<std::uint8_t[]> grown(new std::uint8_t[capacity]);
      if (size_ > 0) std::memcpy(grown.get(), bytes_.get(), size_);
      bytes_ = std::move(grown);
      capacity_ = capacity;
    }
    size_ = size;
  }
  // Drops the first `count` bytes (at most the size).
  void EraseFront(std::size_t count) {
    if (count < size_) std::memmove(bytes_.get(), bytes_.get() + count, size_ - count);
    size_ -= std::min(count, size_);
  }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// One operator of the stream with its encoded bytes (attribute list, tag, data), which
// stay valid, as do its attributes, until the stream reads on.
struct StreamOperator {
  pxl::ScannedOperator scanned;
  std::span<const std::uint8_t> bytes;
};

}  // namespace

// The operators of a binary stream in order, holding only a window of it.
class OperatorStream {
 public:
  OperatorStream(PxlByteSource source, const std::string& name) : source_(std::move(source)), name_(name) {
    FindStreamHeader();
  }

  pxl::ByteOrder order() const { return order_; }

  // Calls `beforeMove` before the window moves on: the bytes of operators handed out so
  // far are no longer valid after it.
  void OnWindowMove(std::function<void()> beforeMove) { beforeMove_ = std::move(beforeMove); }

  // The next operator; false at the end of the stream.
  bool Next(StreamOperator& op) {
    for (;;) {
      if (!scanner_) scanner_.emplace(Rest(), order_);
      if (!scanner_->Next(op.scanned)) {
        if (scanner_->atUel()) return false;
        // A token cut short at the window's end goes on in the rest of the stream.
        const std::optional<pxl::Error> error = scanner_->error();
        if (error && !scanner_->cutShort()) Malformed(*error);
        if (Refill()) continue;
        if (error) Malformed(*error);
        return false;
      }
      // Without the byte after the operator, its data may still be in the rest of the
      // stream.
      const std::span<const std::uint8_t> rest = Rest();
      const std::size_t end = op.scanned.end;
      if (end == rest.size() && Refill()) continue;
      op.bytes = rest.subspan(consumed_, end - consumed_);
      consumed_ = end;
      return true;
    }
  }

 private:
  // Moves past the PJL lines to the first operator after the stream header, which the
  // renderer writes before its first page.
  void FindStreamHeader() {
    constexpr std::size_t kLongestPrelude = 64 * 1024;
    while (Fill() || !window_.empty()) {
      pxl::Reader reader{window_.bytes()};
      while (const std::optional<Event> event = reader.Next()) {
        if (event->kind != EventKind::kStreamHeader) continue;
        order_ = event->byte_order;
        pos_ = reader.offset();
        return;
      }
      if (atEnd_ || window_.size() > kLongestPrelude) break;
    }
    throw HostError("Unable to print '" + name_ + "': the renderer wrote no PCL XL stream");
  }

  // The unread part of the window, from where the scanner starts.
  std::span<const std::uint8_t> Rest() const { return window_.bytes().subspan(pos_); }

  // Reads more of the file behind what is left of the window, where scanning starts
  // again; false, with nothing changed, when the whole file has been read.
  bool Refill() {
    if (atEnd_) return false;
    if (beforeMove_) beforeMove_();
    pos_ += consumed_;
    consumed_ = 0;
    scanner_.reset();
    Fill();
    return true;
  }

  // Appends the next piece of the file; false at its end.
  bool Fill() {
    if (atEnd_) return false;
    if (pos_ > 0) {
      window_.EraseFront(pos_);
      pos_ = 0;
    }
    if (window_.size() > kLargestOperator) {
      throw HostError("Unable to print '" + name_ + "': the rendered page holds an operator over 1 GiB");
    }
    // A pipe hands over what the renderer has written so far: the window grows by that.
    const std::size_t before = window_.size();
    const std::size_t piece = std::max(kPiece, before);
    window_.Resize(before + piece);
    const std::size_t got = source_(window_.data() + before, piece);
    window_.Resize(before + got);
    if (got == 0) atEnd_ = true;
    return got > 0;
  }

  [[noreturn]] void Malformed(const pxl::Error& error) {
    throw HostError("Unable to print '" + name_ + "': the renderer's PCL XL stream is malformed (" + error.cause + ")");
  }

  PxlByteSource source_;
  std::string name_;
  ByteWindow window_;
  std::size_t pos_ = 0;
  std::size_t consumed_ = 0;                     // bytes of the window after pos_ handed out as operators
  std::optional<pxl::OperatorScanner> scanner_;  // over the window from pos_
  std::function<void()> beforeMove_;
  bool atEnd_ = false;
  pxl::ByteOrder order_ = pxl::ByteOrder::kLittleEndian;
};

namespace {

std::string FontNameOf(const pxl::ScannedOperator& op) {
  const std::optional<pxl::AttributeView> name = op.Find(Attr::FontName);
  return name ? name->Bytes() : std::string();
}

void Append(std::vector<std::uint8_t>& to, std::span<const std::uint8_t> bytes) {
  to.insert(to.end(), bytes.begin(), bytes.end());
}

// The media sizes of the PCL XL MediaSize attribute, by number and by name, for pages of
// a size the printer description has no paper for (A3, Ledger): the page keeps its real
// size, so that it is fitted onto the job's paper like any page of an unknown size.
struct MediaSizeEntry {
  int number;
  std::string_view name;
  double widthMm;
  double heightMm;
};
constexpr MediaSizeEntry kMediaSizes[] = {
    {0, "LETTER", 215.9, 279.4},  {1, "LEGAL", 215.9, 355.6},    {2, "A4", 210, 297},
    {3, "EXEC", 184.15, 266.7},   {4, "LEDGER", 279.4, 431.8},   {5, "A3", 297, 420},
    {6, "COM10", 104.775, 241.3}, {7, "MONARCH", 98.425, 190.5}, {8, "C5", 162, 229},
    {9, "DL", 110, 220},          {10, "JB4", 257, 364},         {11, "JB5", 182, 257},
    {12, "B5ENV", 176, 250},      {13, "B5", 176, 250},          {14, "JPOST", 100, 148},
    {15, "JDBLPOST", 200, 148},   {16, "A5", 148, 210},          {17, "A6", 105, 148},
    {18, "JB6", 128, 182},
};
static_assert(std::size(kMediaSizes) == 19);

// The media size a MediaSize attribute names, by its number or its name; null for one
// that names none.
const MediaSizeEntry* MediaSizeOf(const pxl::AttributeView& media) {
  if (media.shape() == pxl::Shape::kScalar) {
    for (const MediaSizeEntry& entry : kMediaSizes) {
      if (entry.number == media.Int()) return &entry;
    }
    return nullptr;
  }
  std::string name = media.Bytes();
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const MediaSizeEntry& entry : kMediaSizes) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

// The size and orientation a BeginPage gives its page: a media size the printer
// description knows, one of the other PCL XL media sizes (a size of no paper of the
// printer's), or a custom size in inches, millimetres or tenths of millimetres.
std::optional<PageFormat> FormatOfPage(const pxl::ScannedOperator& beginPage) {
  constexpr double kMillimetresPerInch = 25.4;
  PageFormat format;
  if (const auto orientation = beginPage.Find(Attr::Orientation)) {
    // Landscape and reversed landscape lay the page out across its long edge.
    format.landscape = orientation->Int() % 2 == 1;
  }
  const auto media = beginPage.Find(Attr::MediaSize);
  const auto custom = beginPage.Find(Attr::CustomMediaSize);
  const MediaSizeEntry* named = media ? MediaSizeOf(*media) : nullptr;
  const Paper* paper = nullptr;
  for (const Paper& candidate : kPapers) {
    if (named != nullptr && candidate.mediaSize == named->number) paper = &candidate;
  }
  if (paper != nullptr) {
    format.mediaSize = paper->mediaSize;
    format.widthInches = paper->widthMm / kMillimetresPerInch;
    format.heightInches = paper->heightMm / kMillimetresPerInch;
  } else if (named != nullptr) {
    format.widthInches = named->widthMm / kMillimetresPerInch;
    format.heightInches = named->heightMm / kMillimetresPerInch;
  } else if (custom && custom->size() == 2) {
    const auto units = beginPage.Find(Attr::CustomMediaSizeUnits);
    const std::int64_t unit = units ? units->Int() : 0;
    const double perInch = unit == 0 ? 1.0 : unit == 1 ? kMillimetresPerInch : unit == 2 ? 254.0 : 0.0;
    if (perInch == 0.0) return std::nullopt;
    format.widthInches = (*custom)[0] / perInch;
    format.heightInches = (*custom)[1] / perInch;
  } else {
    return std::nullopt;
  }
  if (!(format.widthInches > 0 && format.heightInches > 0)) return std::nullopt;
  if (format.landscape) std::swap(format.widthInches, format.heightInches);
  return format;
}

}  // namespace

PxlPageStore::PxlPageStore(PxlByteSource source, const std::string& spoolPath, const std::string& name)
    : name_(name), spoolPath_(spoolPath) {
  spool_.open(platform::PathFromUtf8(spoolPath), std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary);
  if (!spool_) throw HostError("Unable to create the page spool '" + spoolPath + "'");
  stream_ = std::make_unique<OperatorStream>(std::move(source), name);
  stream_->OnWindowMove([this] { FlushToPage(); });
  order_ = stream_->order();
}

std::uint32_t PxlPageStore::FontId(const std::string& fontName) {
  // 0 stands for no font yet.
  return fontIds_.try_emplace(fontName, static_cast<std::uint32_t>(fontIds_.size() + 1)).first->second;
}

// Inline: it runs for nearly every operator of a page.
inline void PxlPageStore::AddToPage(const pxl::ScannedOperator& op, std::span<const std::uint8_t> bytes) {
  // An operator that follows the last one in the window joins it; the page takes them in
  // one copy.
  if (unflushed_.data() + unflushed_.size() != bytes.data()) {
    FlushToPage();
    unflushed_ = bytes;
  } else {
    unflushed_ = {unflushed_.data(), unflushed_.size() + bytes.size()};
  }
  const std::size_t at = reading_.content.bytes.size() + static_cast<std::size_t>(bytes.data() - unflushed_.data());
  reading_.content.tags.Mark(at + (op.tag - op.start));
}

// Inline, as the page's Text operators nearly all pass it.
inline bool PxlPageStore::HadGlyphsOf(const pxl::ScannedOperator& text) const {
  const std::optional<std::span<const std::uint8_t>> codes = pxl::ByteTextCodes(text.attributes);
  if (!codes || currentRow_ == nullptr) return false;
  const auto page = static_cast<std::uint32_t>(pages_.size() + 1);
  return std::all_of(codes->begin(), codes->end(),
                     [this, page](std::uint8_t code) { return currentRow_[code] == page; });
}

std::size_t PxlPageStore::ReadPages(std::size_t count) {
  StreamOperator op;
  while (pages_.size() < count && !complete_) {
    if (!stream_->Next(op)) {
      complete_ = true;
      break;
    }
    // A glyph's position and its Text, most of a text page, are taken here at once.
    if (inPage_ && (op.scanned.Is(Op::SetCursor) || (op.scanned.Is(Op::Text) && HadGlyphsOf(op.scanned)))) {
      AddToPage(op.scanned, op.bytes);
    } else if (op.scanned.Is(Op::Text)) {
      TakeText(op.scanned, op.bytes);
    } else {
      Take(op.scanned, op.bytes);
    }
  }
  return pages_.size();
}

void PxlPageStore::Take(const pxl::ScannedOperator& op, std::span<const std::uint8_t> bytes) {
  switch (op.op()) {
    case Op::BeginPage:
      format_ = FormatOfPage(op);
      inPage_ = true;
      SpoolLast();
      StartReading();
      break;
    case Op::EndPage: {
      if (!inPage_) break;
      inPage_ = false;
      FlushToPage();
      SpoolLast();
      pages_.push_back({0, reading_.prelude.bytes.size() + reading_.content.bytes.size(), format_, false});
      KeepLast();
      break;
    }
    case Op::BeginFontHeader:
      headerFont_ = FontNameOf(op);
      header_.assign(bytes.begin(), bytes.end());
      break;
    case Op::ReadFontHeader: Append(header_, bytes); break;
    case Op::EndFontHeader:
      Append(header_, bytes);
      fontHeaders_[headerFont_] = std::move(header_);
      header_.clear();
      break;
    case Op::BeginChar:
      charFont_ = FontId(FontNameOf(op));
      beginChar_.assign(bytes.begin(), bytes.end());
      beginCharTag_ = op.tag - op.start;
      break;
    case Op::ReadChar: {
      // Each glyph is kept as a download of its own: BeginChar, ReadChar, EndChar. A
      // ReadChar without a BeginChar before it belongs to no font and is dropped: kept,
      // its glyph would mark a tag where its BeginChar should have been.
      const std::optional<pxl::AttributeView> charCode = op.Find(Attr::CharCode);
      if (!charCode || beginChar_.empty()) break;
      PagePart glyph;
      glyph.Add(beginChar_, beginCharTag_);
      glyph.Add(bytes, op.tag - op.start);
      glyph.Add(std::span(&kEndCharTag, 1), 0);
      const auto code = static_cast<std::uint32_t>(charCode->Int());
      if (inPage_) {
        FlushToPage();
        reading_.content.Add(glyph);
        MarkSeen(charFont_, code);
      }
      glyphs_[Glyph(charFont_, code)] = std::move(glyph);
      break;
    }
    case Op::EndChar: break;
    case Op::RemoveFont: {
      const GlyphKey font = Glyph(FontId(FontNameOf(op)), 0);
      std::erase_if(glyphs_, [font](const auto& entry) { return (entry.first >> 32) == (font >> 32); });
      if (inPage_) AddToPage(op, bytes);
      break;
    }
    case Op::SetFont:
      currentFont_ = FontId(FontNameOf(op));
      currentRow_ = SeenRow(currentFont_);
      if (inPage_) AddToPage(op, bytes);
      break;
    case Op::Text: TakeText(op, bytes); break;
    case Op::BeginSession:
    case Op::OpenDataSource:
    case Op::CloseDataSource: break;
    case Op::EndSession: complete_ = true; break;
    default:
      if (inPage_) AddToPage(op, bytes);
      break;
  }
}

std::uint32_t* PxlPageStore::SeenRow(std::uint32_t font) {
  // Single-byte codes of the first fonts, which text uses nearly always, are looked up
  // in a table; any other glyph in a map.
  constexpr std::uint32_t kTableFonts = 4096;
  if (font >= kTableFonts) return nullptr;
  if (font >= seenOnPage_.size()) seenOnPage_.resize(font + 1);
  if (seenOnPage_[font].empty()) seenOnPage_[font].resize(kSeenTableCodes, 0);
  return seenOnPage_[font].data();
}

bool PxlPageStore::MarkSeen(std::uint32_t font, std::uint32_t code) {
  const auto page = static_cast<std::uint32_t>(pages_.size() + 1);
  std::uint32_t* row = code < kSeenTableCodes ? SeenRow(font) : nullptr;
  std::uint32_t* seen = row != nullptr ? &row[code] : &seenElsewhere_[Glyph(font, code)];
  if (*seen == page) return false;
  *seen = page;
  return true;
}

void PxlPageStore::TakeText(const pxl::ScannedOperator& op, std::span<const std::uint8_t> bytes) {
  // Text is most of a text page, and nearly all of its glyphs were had on the page
  // already: the current font's row of single-byte codes tells so at once.
  if (currentRow_ == nullptr) currentRow_ = SeenRow(currentFont_);
  const std::uint32_t* row = currentRow_;
  const auto page = static_cast<std::uint32_t>(pages_.size() + 1);
  ForEachTextCode(op, [&](std::uint32_t charCode) {
    if (row == nullptr || charCode >= kSeenTableCodes || row[charCode] != page) TakeGlyph(charCode);
  });
  if (inPage_) AddToPage(op, bytes);
}

void PxlPageStore::TakeGlyph(std::uint32_t charCode) {
  if (!MarkSeen(currentFont_, charCode)) return;
  const auto found = glyphs_.find(Glyph(currentFont_, charCode));
  if (found != glyphs_.end()) reading_.prelude.Add(found->second);
}

void PxlPageStore::FlushToPage() {
  reading_.content.bytes.insert(reading_.content.bytes.end(), unflushed_.begin(), unflushed_.end());
  unflushed_ = {};
}

void PagePart::Add(const PagePart& other) {
  const std::size_t base = bytes.size();
  bytes.insert(bytes.end(), other.bytes.begin(), other.bytes.end());
  for (std::size_t tag = other.tags.Next(0); tag < other.bytes.size(); tag = other.tags.Next(tag + 1)) {
    tags.Mark(base + tag);
  }
}

// The page to be read takes the buffers of the page spooled last, which no longer needs
// them, or of a page handed back; the other buffers go, so that one page is held.
void PxlPageStore::StartReading() {
  KeptPage& buffers = last_.content.bytes.capacity() >= spare_.content.bytes.capacity() ? last_ : spare_;
  reading_ = std::move(buffers);
  last_ = {};
  spare_ = {};
  unflushed_ = {};
  reading_.prelude.Clear();
  reading_.content.Clear();
}

// The page just read is kept whole for the job, which takes it next.
void PxlPageStore::KeepLast() {
  lastIndex_ = pages_.size() - 1;
  last_ = std::move(reading_);
  reading_ = {};
}

void PxlPageStore::GiveBack(KeptPage&& page) { spare_ = std::move(page); }

void PxlPageStore::SpoolLast() {
  if (lastIndex_ == SIZE_MAX) return;
  PageSpan& page = pages_[lastIndex_];
  spool_.clear();
  spool_.seekp(0, std::ios::end);
  for (const PagePart* part : {&last_.prelude, &last_.content}) {
    spool_.write(reinterpret_cast<const char*>(part->bytes.data()), static_cast<std::streamsize>(part->bytes.size()));
  }
  if (!spool_.flush()) throw HostError("Unable to write the page spool '" + spoolPath_ + "'");
  page.offset = spooled_;
  page.spooled = true;
  spooled_ += page.length;
  lastIndex_ = SIZE_MAX;
}

KeptPage PxlPageStore::TakePage(std::size_t index) {
  if (index == lastIndex_) {
    lastIndex_ = SIZE_MAX;
    return std::exchange(last_, {});
  }
  KeptPage page;
  page.content = ReadPage(index);
  return page;
}

PxlPageStore::~PxlPageStore() {
  spool_.close();
  std::error_code ignored;
  std::filesystem::remove(platform::PathFromUtf8(spoolPath_), ignored);
}

PagePart PxlPageStore::ReadPage(std::size_t index) {
  if (index >= pages_.size()) throw HostError("Page " + std::to_string(index + 1) + " of '" + name_ + "' is missing");
  const PageSpan& page = pages_[index];
  // A page the job took as it was read is not kept: each page is drawn once.
  if (!page.spooled) {
    throw HostError("Page " + std::to_string(index + 1) + " of '" + name_ + "' was drawn already");
  }
  PagePart part;
  part.bytes.resize(static_cast<std::size_t>(page.length));
  spool_.clear();
  spool_.flush();
  spool_.seekg(static_cast<std::streamoff>(page.offset));
  spool_.read(reinterpret_cast<char*>(part.bytes.data()), static_cast<std::streamsize>(part.bytes.size()));
  if (!spool_) throw HostError("Unable to read page " + std::to_string(index + 1) + " of '" + name_ + "' back");
  // The bytes were checked when the stream was read; their tags are found again.
  pxl::OperatorScanner scanner(part.bytes, order_);
  pxl::ScannedOperator op;
  while (scanner.Next(op)) part.tags.Mark(op.tag);
  if (scanner.error() || scanner.offset() != part.bytes.size()) {
    throw HostError("Unable to read page " + std::to_string(index + 1) + " of '" + name_ + "' back: it is damaged");
  }
  return part;
}

const std::vector<std::uint8_t>* PxlPageStore::FontHeader(const std::string& fontName) const {
  const auto found = fontHeaders_.find(fontName);
  return found != fontHeaders_.end() ? &found->second : nullptr;
}

}  // namespace velmora::host

// The page store: a rendered stream read a window at a time and spooled page by page.
#include "host/pxl_page_store.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <utility>

#include "host/host_error.h"
#include "host/printer_description.h"

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

// Bytes that a resize leaves as they are: the window grows by a whole piece before each
// read, which fills only part of it, so zeroing the piece first would be wasted work.
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  UninitializedAllocator() = default;
  template <typename U>
  UninitializedAllocator(const UninitializedAllocator<U>&) {}
  template <typename U>
  void construct(U* at) noexcept {
    ::new (static_cast<void*>(at)) U;
  }
  template <typename U, typename... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
};

}  // namespace

// The operators of a binary stream in order, holding only a window of it.
class OperatorStream {
 public:
  OperatorStream(PxlByteSource source, const std::string& name) : source_(std::move(source)), name_(name) {
    FindStreamHeader();
  }

  pxl::ByteOrder order() const { return order_; }

  // The next operator; false at the end of the stream.
  bool Next(Operator& op) {
    for (;;) {
      if (!reader_) reader_.emplace(pxl::Reader::Binary(Rest(), order_));
      std::optional<Event> first = reader_->Next();
      if (!first) {
        // An error at the window's end may be an operator cut in two by the window.
        const bool malformed = reader_->error().has_value();
        if (Refill()) continue;
        if (malformed) Malformed(*reader_);
        return false;
      }
      if (first->kind == EventKind::kUel) return false;
      if (first->kind != EventKind::kOperator) Malformed(*reader_);
      const std::span<const std::uint8_t> rest = Rest();
      std::size_t end = first->offset + 1;
      // Only embedded data belongs to the operator before it; without the byte after the
      // operator, its data may still be in the rest of the file.
      if (end == rest.size() && Refill()) continue;
      if (end < rest.size() && (rest[end] == pxl::tag::kDataLength || rest[end] == pxl::tag::kDataLengthByte)) {
        const std::optional<Event> data = reader_->Next();
        if (!data) {
          if (Refill()) continue;
          Malformed(*reader_);
        }
        end = data->data_offset + data->data_length;
      }
      op.event = std::move(*first);
      op.bytes = rest.subspan(consumed_, end - consumed_);
      consumed_ = end;
      if (end == rest.size()) Advance();
      return true;
    }
  }

 private:
  // Moves past the PJL lines to the first operator after the stream header, which the
  // renderer writes before its first page.
  void FindStreamHeader() {
    constexpr std::size_t kLongestPrelude = 64 * 1024;
    while (Fill() || !window_.empty()) {
      pxl::Reader reader{std::span<const std::uint8_t>(window_)};
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

  // The unread part of the window, from the reader's start.
  std::span<const std::uint8_t> Rest() const { return std::span<const std::uint8_t>(window_).subspan(pos_); }

  // Moves the window's start past the operators read so far; the next read starts a new
  // reader there.
  void Advance() {
    pos_ += consumed_;
    consumed_ = 0;
    reader_.reset();
  }

  // Reads more of the file behind what is left of the window, where the reader starts
  // again; false, with nothing changed, when the whole file has been read.
  bool Refill() {
    if (atEnd_) return false;
    Advance();
    Fill();
    return true;
  }

  // Appends the next piece of the file; false at its end.
  bool Fill() {
    if (atEnd_) return false;
    if (pos_ > 0) {
      window_.erase(window_.begin(), window_.begin() + static_cast<std::ptrdiff_t>(pos_));
      pos_ = 0;
    }
    if (window_.size() > kLargestOperator) {
      throw HostError("Unable to print '" + name_ + "': the rendered page holds an operator over 1 GiB");
    }
    // A pipe hands over what the renderer has written so far: the window grows by that.
    const std::size_t before = window_.size();
    const std::size_t piece = std::max(kPiece, before);
    window_.resize(before + piece);
    const std::size_t got = source_(window_.data() + before, piece);
    window_.resize(before + got);
    if (got == 0) atEnd_ = true;
    return got > 0;
  }

  [[noreturn]] void Malformed(const pxl::Reader& reader) {
    const std::string cause = reader.error() ? reader.error()->cause : "the stream ends inside an operator";
    throw HostError("Unable to print '" + name_ + "': the renderer's PCL XL stream is malformed (" + cause + ")");
  }

  PxlByteSource source_;
  std::string name_;
  std::vector<std::uint8_t, UninitializedAllocator<std::uint8_t>> window_;
  std::size_t pos_ = 0;
  std::size_t consumed_ = 0;  // bytes of the window after pos_ that the reader has handed out
  std::optional<pxl::Reader> reader_;
  bool atEnd_ = false;
  pxl::ByteOrder order_ = pxl::ByteOrder::kLittleEndian;
};

namespace {

std::string FontNameOf(const Event& event) {
  const pxl::Attribute* name = event.Find(Attr::FontName);
  return name != nullptr ? name->value.Bytes() : std::string();
}

void Append(std::vector<std::uint8_t>& to, std::span<const std::uint8_t> bytes) {
  to.insert(to.end(), bytes.begin(), bytes.end());
}

// The size and orientation a BeginPage gives its page: a media size the printer
// description knows, or a custom size in inches, millimetres or tenths of millimetres.
std::optional<PageFormat> FormatOfPage(const Event& beginPage) {
  constexpr double kMillimetresPerInch = 25.4;
  PageFormat format;
  if (const pxl::Attribute* orientation = beginPage.Find(Attr::Orientation)) {
    // Landscape and reversed landscape lay the page out across its long edge.
    format.landscape = orientation->value.Int() % 2 == 1;
  }
  if (const pxl::Attribute* media = beginPage.Find(Attr::MediaSize);
      media != nullptr && media->value.shape() == pxl::Shape::kScalar) {
    const Paper* paper = nullptr;
    for (const Paper& candidate : kPapers) {
      if (candidate.mediaSize == media->value.Int()) paper = &candidate;
    }
    if (paper == nullptr) return std::nullopt;
    format.mediaSize = paper->mediaSize;
    format.widthInches = paper->widthMm / kMillimetresPerInch;
    format.heightInches = paper->heightMm / kMillimetresPerInch;
  } else if (const pxl::Attribute* custom = beginPage.Find(Attr::CustomMediaSize);
             custom != nullptr && custom->value.elements.size() == 2) {
    const pxl::Attribute* units = beginPage.Find(Attr::CustomMediaSizeUnits);
    const std::int64_t unit = units != nullptr ? units->value.Int() : 0;
    const double perInch = unit == 0 ? 1.0 : unit == 1 ? kMillimetresPerInch : unit == 2 ? 254.0 : 0.0;
    if (perInch == 0.0) return std::nullopt;
    format.widthInches = custom->value.elements[0] / perInch;
    format.heightInches = custom->value.elements[1] / perInch;
  } else {
    return std::nullopt;
  }
  if (!(format.widthInches > 0 && format.heightInches > 0)) return std::nullopt;
  if (format.landscape) std::swap(format.widthInches, format.heightInches);
  return format;
}

}  // namespace

std::vector<PageOperator> ParsePage(std::span<const std::uint8_t> page, pxl::ByteOrder order, const std::string& name) {
  std::vector<PageOperator> operators;
  pxl::Reader reader = pxl::Reader::Binary(page, order);
  std::size_t end = 0;
  while (std::optional<Event> event = reader.Next()) {
    if (event->kind == EventKind::kEmbeddedData && !operators.empty()) {
      operators.back().end = event->data_offset + event->data_length;
      end = operators.back().end;
      continue;
    }
    if (event->kind != EventKind::kOperator) break;
    PageOperator op;
    op.start = end;
    op.end = event->offset + 1;
    op.event = std::move(*event);
    end = op.end;
    operators.push_back(std::move(op));
  }
  if (reader.error()) {
    throw HostError("Unable to print '" + name + "': a rendered page is malformed (" + reader.error()->ToString() +
                    ")");
  }
  return operators;
}

std::vector<std::uint32_t> TextCodes(const Event& text) {
  std::vector<std::uint32_t> codes;
  ForEachTextCode(text, [&codes](std::uint32_t code) { codes.push_back(code); });
  return codes;
}

PxlPageStore::PxlPageStore(PxlByteSource source, const std::string& spoolPath, const std::string& name)
    : name_(name), spoolPath_(spoolPath) {
  spool_.open(spoolPath, std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary);
  if (!spool_) throw HostError("Unable to create the page spool '" + spoolPath + "'");
  stream_ = std::make_unique<OperatorStream>(std::move(source), name);
  order_ = stream_->order();
}

std::uint32_t PxlPageStore::FontId(const std::string& fontName) {
  // 0 stands for no font yet.
  return fontIds_.try_emplace(fontName, static_cast<std::uint32_t>(fontIds_.size() + 1)).first->second;
}

std::size_t PxlPageStore::ReadPages(std::size_t count) {
  Operator op;
  while (pages_.size() < count && !complete_) {
    if (!stream_->Next(op)) {
      complete_ = true;
      break;
    }
    Take(op);
  }
  return pages_.size();
}

void PxlPageStore::Take(Operator& op) {
  const auto code = static_cast<Op>(op.event.op);
  switch (code) {
    case Op::BeginPage:
      format_ = FormatOfPage(op.event);
      inPage_ = true;
      prelude_.clear();
      content_.clear();
      break;
    case Op::EndPage: {
      if (!inPage_) break;
      inPage_ = false;
      SpoolLast();
      pages_.push_back({0, prelude_.bytes.size() + content_.bytes.size(), format_, false});
      KeepLast();
      break;
    }
    case Op::BeginFontHeader:
      headerFont_ = FontNameOf(op.event);
      header_.assign(op.bytes.begin(), op.bytes.end());
      break;
    case Op::ReadFontHeader: Append(header_, op.bytes); break;
    case Op::EndFontHeader:
      Append(header_, op.bytes);
      fontHeaders_[headerFont_] = std::move(header_);
      header_.clear();
      break;
    case Op::BeginChar:
      charFont_ = FontId(FontNameOf(op.event));
      beginChar_.assign(op.bytes.begin(), op.bytes.end());
      beginCharEvent_ = op.event;
      break;
    case Op::ReadChar: {
      // Each glyph is kept as a download of its own.
      const pxl::Attribute* charCode = op.event.Find(Attr::CharCode);
      if (charCode == nullptr) break;
      PagePart glyph;
      glyph.bytes = beginChar_;
      glyph.operators.resize(3);
      glyph.operators[0] = {beginCharEvent_, 0, beginChar_.size()};
      Append(glyph.bytes, op.bytes);
      glyph.operators[1] = {std::move(op.event), beginChar_.size(), glyph.bytes.size()};
      glyph.bytes.push_back(kEndCharTag);
      glyph.operators[2].event.kind = EventKind::kOperator;
      glyph.operators[2].event.op = kEndCharTag;
      glyph.operators[2].start = glyph.bytes.size() - 1;
      glyph.operators[2].end = glyph.bytes.size();
      const GlyphKey key = Glyph(charFont_, static_cast<std::uint32_t>(charCode->value.Int()));
      if (inPage_) {
        for (const PageOperator& part : glyph.operators) {
          AddToPage(std::span(glyph.bytes).subspan(part.start, part.end - part.start), pxl::Event(part.event));
        }
        MarkSeen(charFont_, static_cast<std::uint32_t>(charCode->value.Int()));
      }
      glyphs_[key] = std::move(glyph);
      break;
    }
    case Op::EndChar: break;
    case Op::RemoveFont: {
      const GlyphKey font = Glyph(FontId(FontNameOf(op.event)), 0);
      std::erase_if(glyphs_, [font](const auto& entry) { return (entry.first >> 32) == (font >> 32); });
      if (inPage_) AddToPage(op.bytes, std::move(op.event));
      break;
    }
    case Op::SetFont:
      currentFont_ = FontId(FontNameOf(op.event));
      if (inPage_) AddToPage(op.bytes, std::move(op.event));
      break;
    case Op::Text:
      ForEachTextCode(op.event, [this](std::uint32_t charCode) {
        const GlyphKey key = Glyph(currentFont_, charCode);
        if (!MarkSeen(currentFont_, charCode)) return;
        const auto found = glyphs_.find(key);
        if (found == glyphs_.end()) return;
        const std::size_t at = prelude_.bytes.size();
        Append(prelude_.bytes, found->second.bytes);
        for (const PageOperator& part : found->second.operators) {
          prelude_.operators.push_back({part.event, at + part.start, at + part.end});
        }
      });
      if (inPage_) AddToPage(op.bytes, std::move(op.event));
      break;
    case Op::BeginSession:
    case Op::OpenDataSource:
    case Op::CloseDataSource: break;
    case Op::EndSession: complete_ = true; break;
    default:
      if (inPage_) AddToPage(op.bytes, std::move(op.event));
      break;
  }
}

bool PxlPageStore::MarkSeen(std::uint32_t font, std::uint32_t code) {
  const auto page = static_cast<std::uint32_t>(pages_.size() + 1);
  // Single-byte codes of the first fonts, which text uses nearly always, are looked up
  // in a table; any other glyph in a map.
  constexpr std::uint32_t kTableCodes = 256;
  constexpr std::uint32_t kTableFonts = 4096;
  std::uint32_t* seen = nullptr;
  if (code < kTableCodes && font < kTableFonts) {
    if (font >= seenOnPage_.size()) seenOnPage_.resize(font + 1);
    if (seenOnPage_[font].empty()) seenOnPage_[font].resize(kTableCodes, 0);
    seen = &seenOnPage_[font][code];
  } else {
    seen = &seenElsewhere_[Glyph(font, code)];
  }
  if (*seen == page) return false;
  *seen = page;
  return true;
}

void PxlPageStore::AddToPage(std::span<const std::uint8_t> bytes, Event&& event) {
  const std::size_t start = content_.bytes.size();
  Append(content_.bytes, bytes);
  content_.operators.push_back(PageOperator{std::move(event), start, content_.bytes.size()});
}

// The page just read, kept with its operators, all parsed when the stream's reader read
// them. The page takes the buffers it was read into; the next page is read into those
// of a page handed back.
void PxlPageStore::KeepLast() {
  lastIndex_ = pages_.size() - 1;
  last_ = std::move(spare_);
  std::swap(last_.prelude, prelude_);
  std::swap(last_.content, content_);
  prelude_.clear();
  content_.clear();
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
    return std::move(last_);
  }
  KeptPage page;
  page.content.bytes = ReadPage(index);
  page.content.operators = ParsePage(page.content.bytes, order_, name_);
  return page;
}

PxlPageStore::~PxlPageStore() {
  spool_.close();
  std::error_code ignored;
  std::filesystem::remove(spoolPath_, ignored);
}

std::vector<std::uint8_t> PxlPageStore::ReadPage(std::size_t index) {
  if (index >= pages_.size()) throw HostError("Page " + std::to_string(index + 1) + " of '" + name_ + "' is missing");
  const PageSpan& page = pages_[index];
  // A page the job took as it was read is not kept: each page is drawn once.
  if (!page.spooled) {
    throw HostError("Page " + std::to_string(index + 1) + " of '" + name_ + "' was drawn already");
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(page.length));
  spool_.clear();
  spool_.flush();
  spool_.seekg(static_cast<std::streamoff>(page.offset));
  spool_.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!spool_) throw HostError("Unable to read page " + std::to_string(index + 1) + " of '" + name_ + "' back");
  return bytes;
}

const std::vector<std::uint8_t>* PxlPageStore::FontHeader(const std::string& fontName) const {
  const auto found = fontHeaders_.find(fontName);
  return found != fontHeaders_.end() ? &found->second : nullptr;
}

}  // namespace velmora::host

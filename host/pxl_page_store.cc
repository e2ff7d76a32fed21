// The page store: a rendered stream read a window at a time and spooled page by page.
#include "host/pxl_page_store.h"

#include <filesystem>
#include <optional>
#include <set>
#include <utility>

#include "host/host_error.h"

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

// One operator of the stream with its attributes, its encoded bytes and its data.
struct Operator {
  Event event;
  std::vector<std::uint8_t> bytes;
};

// The operators of a binary stream file in order, holding only a window of the file.
class OperatorStream {
 public:
  OperatorStream(const std::string& path, const std::string& name) : file_(path, std::ios::binary), name_(name) {
    if (!file_) throw HostError("Unable to read the rendered pages of '" + name_ + "'");
    FindStreamHeader();
  }

  pxl::ByteOrder order() const { return order_; }

  // The next operator; false at the end of the stream.
  bool Next(Operator& op) {
    for (;;) {
      const std::span<const std::uint8_t> rest(window_.data() + pos_, window_.size() - pos_);
      pxl::Reader reader = pxl::Reader::Binary(rest, order_);
      const std::optional<Event> first = reader.Next();
      if (!first) {
        // An error at the window's end may be an operator cut in two by the window.
        if (reader.error()) {
          if (!Fill()) Malformed(reader);
          continue;
        }
        if (!Fill()) return false;
        continue;
      }
      if (first->kind == EventKind::kUel) return false;
      if (first->kind != EventKind::kOperator) Malformed(reader);
      std::size_t end = first->offset + 1;
      const std::optional<Event> second = reader.Next();
      if (second && second->kind == EventKind::kEmbeddedData) end = second->data_offset + second->data_length;
      // Without a next event the operator may still have data in the rest of the file.
      if (!second && !atEnd_) {
        Fill();
        continue;
      }
      op.event = *first;
      op.bytes.assign(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(end));
      pos_ += end;
      return true;
    }
  }

 private:
  // Moves past the PJL lines to the first operator after the stream header.
  void FindStreamHeader() {
    while (Fill() && window_.size() < 64 * 1024) {
    }
    pxl::Reader reader{std::span<const std::uint8_t>(window_)};
    while (const std::optional<Event> event = reader.Next()) {
      if (event->kind != EventKind::kStreamHeader) continue;
      order_ = event->byte_order;
      pos_ = reader.offset();
      return;
    }
    throw HostError("Unable to print '" + name_ + "': the renderer wrote no PCL XL stream");
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
    const std::size_t before = window_.size();
    const std::size_t piece = std::max(kPiece, before);
    window_.resize(before + piece);
    file_.read(reinterpret_cast<char*>(window_.data() + before), static_cast<std::streamsize>(piece));
    const auto got = static_cast<std::size_t>(file_.gcount());
    window_.resize(before + got);
    if (got < piece) atEnd_ = true;
    return got > 0;
  }

  [[noreturn]] void Malformed(const pxl::Reader& reader) {
    const std::string cause = reader.error() ? reader.error()->cause : "the stream ends inside an operator";
    throw HostError("Unable to print '" + name_ + "': the renderer's PCL XL stream is malformed (" + cause + ")");
  }

  std::ifstream file_;
  std::string name_;
  std::vector<std::uint8_t> window_;
  std::size_t pos_ = 0;
  bool atEnd_ = false;
  pxl::ByteOrder order_ = pxl::ByteOrder::kLittleEndian;
};

std::string FontNameOf(const Event& event) {
  const pxl::Attribute* name = event.Find(Attr::FontName);
  return name != nullptr ? name->value.Bytes() : std::string();
}

void Append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& bytes) {
  to.insert(to.end(), bytes.begin(), bytes.end());
}

}  // namespace

std::vector<std::uint32_t> TextCodes(const Event& text) {
  std::vector<std::uint32_t> codes;
  const pxl::Attribute* data = text.Find(Attr::TextData);
  if (data == nullptr) return codes;
  for (const double element : data->value.elements) codes.push_back(static_cast<std::uint32_t>(element));
  return codes;
}

PxlPageStore::PxlPageStore(const std::string& streamPath, const std::string& spoolPath, const std::string& name)
    : name_(name), spoolPath_(spoolPath) {
  spool_.open(spoolPath, std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary);
  if (!spool_) throw HostError("Unable to create the page spool '" + spoolPath + "'");
  OperatorStream stream(streamPath, name);
  order_ = stream.order();

  using GlyphKey = std::pair<std::string, std::uint32_t>;
  // The latest definition of every glyph: BeginChar, ReadChar with its data, EndChar.
  std::map<GlyphKey, std::vector<std::uint8_t>> glyphs;
  std::string currentFont;
  std::string headerFont;
  std::vector<std::uint8_t> header;
  std::vector<std::uint8_t> beginChar;
  std::string charFont;
  bool inPage = false;
  std::vector<std::uint8_t> prelude;
  std::vector<std::uint8_t> content;
  std::set<GlyphKey> seenInPage;  // defined or taken from earlier pages

  Operator op;
  std::uint64_t spooled = 0;
  while (stream.Next(op)) {
    const auto code = static_cast<Op>(op.event.op);
    switch (code) {
      case Op::BeginPage:
        inPage = true;
        prelude.clear();
        content.clear();
        seenInPage.clear();
        break;
      case Op::EndPage: {
        if (!inPage) break;
        inPage = false;
        spool_.write(reinterpret_cast<const char*>(prelude.data()), static_cast<std::streamsize>(prelude.size()));
        spool_.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
        if (!spool_) throw HostError("Unable to write the page spool '" + spoolPath_ + "'");
        const std::uint64_t length = prelude.size() + content.size();
        pages_.push_back({spooled, length});
        spooled += length;
        break;
      }
      case Op::BeginFontHeader:
        headerFont = FontNameOf(op.event);
        header = op.bytes;
        break;
      case Op::ReadFontHeader:
        Append(header, op.bytes);
        break;
      case Op::EndFontHeader:
        Append(header, op.bytes);
        fontHeaders_[headerFont] = std::move(header);
        header.clear();
        break;
      case Op::BeginChar:
        charFont = FontNameOf(op.event);
        beginChar = op.bytes;
        break;
      case Op::ReadChar: {
        // Each glyph is kept as a download of its own.
        const pxl::Attribute* charCode = op.event.Find(Attr::CharCode);
        if (charCode == nullptr) break;
        std::vector<std::uint8_t> block = beginChar;
        Append(block, op.bytes);
        block.push_back(kEndCharTag);
        const GlyphKey key{charFont, static_cast<std::uint32_t>(charCode->value.Int())};
        if (inPage) {
          Append(content, block);
          seenInPage.insert(key);
        }
        glyphs[key] = std::move(block);
        break;
      }
      case Op::EndChar:
        break;
      case Op::RemoveFont: {
        const std::string font = FontNameOf(op.event);
        std::erase_if(glyphs, [&font](const auto& entry) { return entry.first.first == font; });
        if (inPage) Append(content, op.bytes);
        break;
      }
      case Op::SetFont:
        currentFont = FontNameOf(op.event);
        if (inPage) Append(content, op.bytes);
        break;
      case Op::Text:
        for (const std::uint32_t charCode : TextCodes(op.event)) {
          const GlyphKey key{currentFont, charCode};
          if (!seenInPage.insert(key).second) continue;
          const auto found = glyphs.find(key);
          if (found != glyphs.end()) Append(prelude, found->second);
        }
        if (inPage) Append(content, op.bytes);
        break;
      case Op::BeginSession:
      case Op::OpenDataSource:
      case Op::CloseDataSource:
        break;
      case Op::EndSession:
        return;
      default:
        if (inPage) Append(content, op.bytes);
        break;
    }
  }
}

PxlPageStore::~PxlPageStore() {
  spool_.close();
  std::error_code ignored;
  std::filesystem::remove(spoolPath_, ignored);
}

std::vector<std::uint8_t> PxlPageStore::ReadPage(std::size_t index) {
  if (index >= pages_.size()) throw HostError("Page " + std::to_string(index + 1) + " of '" + name_ + "' is missing");
  const PageSpan& page = pages_[index];
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(page.length));
  spool_.clear();
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

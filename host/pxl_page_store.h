// The pages of a rendered PCL XL stream, each kept on its own in a spool file so that a
// job draws them one at a time and in any order (N-up cells, booklet sides), holding only
// one page in memory.
//
// A renderer downloads a glyph once and uses it on later pages; it may also download a
// new glyph under a character code used before. A page kept on its own therefore starts
// with the definitions of the glyphs it uses from earlier pages, as they stood where the
// page began; its own downloads stay where they are.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "host/page_source.h"
#include "pxl/scan.h"

namespace velmora::host {

// Reads up to `size` bytes of the rendered stream into `buffer`, waiting for some; 0 at
// its end. Throws HostError when the stream cannot be read.
using PxlByteSource = std::function<std::size_t(std::uint8_t* buffer, std::size_t size)>;

class OperatorStream;

// Operators of a page as their bytes, with the tags of the operators marked (an eighth of
// their size), so that the job reads them back operator by operator without parsing them
// again; nothing else is kept per operator.
struct PagePart {
  std::vector<std::uint8_t> bytes;
  pxl::TagMarks tags;

  // Appends the bytes of one operator whose tag is `tag` bytes into them.
  void Add(std::span<const std::uint8_t> operatorBytes, std::size_t tag) {
    tags.Mark(bytes.size() + tag);
    bytes.insert(bytes.end(), operatorBytes.begin(), operatorBytes.end());
  }
  // Appends the operators of another part.
  void Add(const PagePart& other);
  void Clear() {
    bytes.clear();
    tags.Clear();
  }
  pxl::ScannedOperator At(std::size_t at, pxl::ByteOrder order) const {
    return pxl::OperatorAt(bytes, tags, at, order);
  }
};

// A page of the store: the glyph downloads it takes from earlier pages, then its own
// operators, without BeginPage and EndPage.
struct KeptPage {
  PagePart prelude;
  PagePart content;
};

class PxlPageStore {
 public:
  // Reads the PJL + PCL XL stream from `source` up to its stream header and spools its
  // pages, as they are read, into the new file `spoolPath`, which the store removes when
  // it goes. Throws HostError naming `name` when the stream is malformed or a file cannot
  // be used.
  PxlPageStore(PxlByteSource source, const std::string& spoolPath, const std::string& name);
  ~PxlPageStore();
  PxlPageStore(const PxlPageStore&) = delete;
  PxlPageStore& operator=(const PxlPageStore&) = delete;

  // Reads the stream on until `count` pages are kept or it ends; answers the pages kept.
  std::size_t ReadPages(std::size_t count);
  // Reads the whole stream.
  void ReadAll() { ReadPages(SIZE_MAX); }
  // True once the stream has ended.
  bool complete() const { return complete_; }
  // The pages kept so far.
  std::size_t pageCount() const { return pages_.size(); }
  // The size and orientation page `index` (from 0, kept) was laid out for; none when
  // its BeginPage names a size the store does not know.
  const std::optional<PageFormat>& FormatOf(std::size_t index) const { return pages_.at(index).format; }
  pxl::ByteOrder byteOrder() const { return order_; }
  // Page `index` (from 0): the page read last as it was read, any other read back from
  // the spool file whole as its content. Throws HostError when it cannot be read.
  KeptPage TakePage(std::size_t index);
  // Hands back a page the job has drawn: the next page the store reads reuses its
  // buffers rather than allocating its own.
  void GiveBack(KeptPage&& page);
  // The operators from BeginFontHeader to EndFontHeader of a font of the stream; null
  // for a font the stream never defined.
  const std::vector<std::uint8_t>* FontHeader(const std::string& fontName) const;

 private:
  struct PageSpan {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::optional<PageFormat> format;
    bool spooled = false;  // written to the spool file (a page taken at once never is)
  };

  // A glyph: the font's number in the upper half, its character code in the lower.
  using GlyphKey = std::uint64_t;
  static GlyphKey Glyph(std::uint32_t font, std::uint32_t code) { return (GlyphKey{font} << 32) | code; }
  // The number of a font name of the stream.
  std::uint32_t FontId(const std::string& fontName);

  // Takes the next operator of the stream into the page being read or the fonts.
  void Take(const pxl::ScannedOperator& op, std::span<const std::uint8_t> bytes);
  // True when a Text uses single-byte codes of the current font alone, all of which the
  // page being read has had already: it then takes nothing but the operator.
  bool HadGlyphsOf(const pxl::ScannedOperator& text) const;
  // Takes a Text operator: the glyphs it uses from earlier pages, then the operator.
  void TakeText(const pxl::ScannedOperator& op, std::span<const std::uint8_t> bytes);
  // Marks a glyph of the current font as used on the page being read; the first time, the
  // page takes its download from an earlier page.
  void TakeGlyph(std::uint32_t charCode);
  // Adds an operator to the page being read.
  void AddToPage(const pxl::ScannedOperator& op, std::span<const std::uint8_t> bytes);
  // Copies the operators added to the page that still lie in the stream's window.
  void FlushToPage();
  void KeepLast();
  PagePart ReadPage(std::size_t index);

  std::string name_;
  std::string spoolPath_;
  std::fstream spool_;
  std::unique_ptr<OperatorStream> stream_;
  bool complete_ = false;
  std::vector<PageSpan> pages_;
  std::uint64_t spooled_ = 0;
  std::map<std::string, std::vector<std::uint8_t>> fontHeaders_;
  pxl::ByteOrder order_ = pxl::ByteOrder::kLittleEndian;

  // The latest definition of every glyph: BeginChar, ReadChar with its data, EndChar,
  // which a later page that takes the glyph copies.
  std::unordered_map<GlyphKey, PagePart> glyphs_;
  std::map<std::string, std::uint32_t> fontIds_;
  std::uint32_t currentFont_ = 0;
  std::uint32_t* currentRow_ = nullptr;  // the current font's row of seenOnPage_, once asked for
  std::string headerFont_;
  std::vector<std::uint8_t> header_;
  std::vector<std::uint8_t> beginChar_;
  std::size_t beginCharTag_ = 0;
  std::uint32_t charFont_ = 0;
  // The page being read: the glyphs it takes from earlier pages, and its own operators.
  bool inPage_ = false;
  std::optional<PageFormat> format_;
  KeptPage reading_;
  std::span<const std::uint8_t> unflushed_;
  // The glyphs defined on the page being read or taken from earlier pages: by font
  // number and character code, the number (from 1) of the last page that had each. Each
  // font's row is a vector of its own, which keeps its place when the table grows.
  std::vector<std::vector<std::uint32_t>> seenOnPage_;
  std::unordered_map<GlyphKey, std::uint32_t> seenElsewhere_;
  // Marks a glyph as had by the page being read; false when it was already.
  bool MarkSeen(std::uint32_t font, std::uint32_t code);
  // The table row of a font's single-byte codes; null for a font past the table.
  static constexpr std::uint32_t kSeenTableCodes = 256;
  std::uint32_t* SeenRow(std::uint32_t font);
  // The page read last, kept whole for the job that draws it next. It goes into the
  // spool file only when the stream goes on to the next page before the job took it; the
  // next page is then read into its buffers, so that the store holds one page at a time.
  std::size_t lastIndex_ = SIZE_MAX;
  KeptPage last_;
  KeptPage spare_;  // the buffers of a page handed back
  void SpoolLast();
  // Starts reading a page into the buffers of a page spooled or handed back.
  void StartReading();
};

// Calls visit(code) for each character code of a Text operator's TextData.
template <typename Visit>
void ForEachTextCode(const pxl::ScannedOperator& text, Visit visit) {
  if (const auto codes = pxl::ByteTextCodes(text.attributes)) {
    for (const std::uint8_t code : *codes) visit(code);
    return;
  }
  text.With(pxl::Attr::TextData, [&visit](const pxl::AttributeView& data) {
    for (std::size_t i = 0; i < data.size(); ++i) visit(data.Code(i));
  });
}

}  // namespace velmora::host

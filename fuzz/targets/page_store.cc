// Fuzz target: the print host's page store reading a rendered PJL + PCL XL stream, as
// Ghostscript writes it, into pages kept on their own (each with the glyph downloads it
// takes from earlier pages) and spooled to a file.
// Property: the pages do not depend on how the stream arrives or when they are taken.
// The stream is read twice: once in small pieces of varying size, each page taken as
// soon as it is read and handed back; once whole, every page taken from the spool file
// after the end. Both keep the same pages with the same bytes and formats, and fail
// alike. Every page is whole operators in the stream's byte order, its tags marked where
// they are, without BeginPage or EndPage, and its prelude holds glyph downloads only.
#include <algorithm>
#include <optional>
#include <span>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "host/host_error.h"
#include "host/pxl_encoder.h"
#include "host/pxl_page_store.h"

namespace velmora::fuzz {
namespace {

using pxl::Attr;
using pxl::Op;

struct Page {
  std::vector<std::uint8_t> bytes;  // prelude, then content
  std::optional<host::PageFormat> format;
};

struct Reading {
  std::vector<Page> pages;
  bool failed = false;
};

bool SameFormat(const std::optional<host::PageFormat>& a, const std::optional<host::PageFormat>& b) {
  if (a.has_value() != b.has_value()) return false;
  if (!a) return true;
  return a->widthInches == b->widthInches && a->heightInches == b->heightInches && a->landscape == b->landscape &&
         a->mediaSize == b->mediaSize;
}

// A part is whole operators whose tags, and only those, are marked; a prelude holds
// only glyph downloads.
void CheckPart(const host::PagePart& part, pxl::ByteOrder order, bool prelude) {
  pxl::OperatorScanner scanner(part.bytes, order);
  std::size_t end = 0;
  for (pxl::ScannedOperator op; scanner.Next(op);) {
    if (op.Is(Op::BeginPage) || op.Is(Op::EndPage)) __builtin_trap();
    if (prelude && !op.Is(Op::BeginChar) && !op.Is(Op::ReadChar) && !op.Is(Op::EndChar)) __builtin_trap();
    if (part.tags.Next(end) != op.tag) __builtin_trap();
    end = op.end;
  }
  if (scanner.error() || scanner.atUel() || scanner.offset() != part.bytes.size()) __builtin_trap();
  if (part.tags.Next(end) < part.bytes.size()) __builtin_trap();
}

Page Keep(host::PxlPageStore& store, std::size_t index, const host::KeptPage& kept) {
  CheckPart(kept.prelude, store.byteOrder(), true);
  CheckPart(kept.content, store.byteOrder(), false);
  Page page{kept.prelude.bytes, store.FormatOf(index)};
  page.bytes.insert(page.bytes.end(), kept.content.bytes.begin(), kept.content.bytes.end());
  return page;
}

// Reads the stream in pieces of the sizes `pieces` cycles through, or whole when empty.
Reading Read(std::span<const std::uint8_t> stream, const std::vector<std::size_t>& pieces, bool takeAtOnce) {
  std::size_t at = 0, piece = 0;
  const auto source = [&](std::uint8_t* buffer, std::size_t size) {
    std::size_t count = std::min(size, stream.size() - at);
    if (!pieces.empty()) count = std::min(count, pieces[piece++ % pieces.size()]);
    std::copy_n(stream.data() + at, count, buffer);
    at += count;
    return count;
  };
  Reading reading;
  std::optional<host::PxlPageStore> store;
  try {
    store.emplace(source, ScratchFolder() + "/pages", "fuzz");
    if (takeAtOnce) {
      for (std::size_t index = 0; store->ReadPages(index + 1) > index; ++index) {
        host::KeptPage kept = store->TakePage(index);
        reading.pages.push_back(Keep(*store, index, kept));
        store->GiveBack(std::move(kept));
      }
    } else {
      store->ReadAll();
    }
  } catch (const host::HostError&) {
    reading.failed = true;
  }
  if (store && !takeAtOnce) {
    // Every page kept before the end, or before a failure, reads back from the spool.
    for (std::size_t index = 0; index < store->pageCount(); ++index) {
      reading.pages.push_back(Keep(*store, index, store->TakePage(index)));
    }
  }
  return reading;
}

void Entry(const std::uint8_t* data, std::size_t size) {
  InputCursor input(data, size);
  std::vector<std::uint8_t> sizes;
  for (std::uint8_t count = input.Byte() % 8 + 1; count > 0; --count) sizes.push_back(input.Byte());
  const std::span<const std::uint8_t> stream(input.rest(), input.restSize());
  // Pieces of 1 byte to 16 KiB, but no more than about 64 of them, so that a long input
  // is not read a byte at a time.
  std::vector<std::size_t> pieces;
  for (const std::uint8_t size : sizes) {
    pieces.push_back(std::max<std::size_t>(1 + size * size / 4, stream.size() / 64 + 1));
  }

  const Reading inPieces = Read(stream, pieces, true);
  const Reading whole = Read(stream, {}, false);
  if (inPieces.failed != whole.failed || inPieces.pages.size() != whole.pages.size()) __builtin_trap();
  for (std::size_t i = 0; i < whole.pages.size(); ++i) {
    if (inPieces.pages[i].bytes != whole.pages[i].bytes) __builtin_trap();
    if (!SameFormat(inPieces.pages[i].format, whole.pages[i].format)) __builtin_trap();
  }
}

// A little-endian job of a few pages: a font with glyphs downloaded before and between pages, one glyph
// downloaded again under a code used before, a removed font, and pages of other sizes.
std::vector<std::uint8_t> Job() {
  const std::string header = "\x1b%-12345X@PJL ENTER LANGUAGE=PCLXL\r\n) HP-PCL XL;2;1;Comment\n";
  host::PxlEncoder body;
  const auto font = Bytes("Font1");
  const auto glyph = [&](std::uint16_t code, std::uint8_t fill) {
    body.UByteArray(font, Attr::FontName).Operator(Op::BeginChar);
    body.UInt16(code, Attr::CharCode).UInt16(6, Attr::CharDataSize).Operator(Op::ReadChar);
    body.Data(std::vector<std::uint8_t>(6, fill)).Operator(Op::EndChar);
  };
  const auto text = [&](std::vector<std::uint8_t> codes) {
    body.UByteArray(font, Attr::FontName).Operator(Op::SetFont);
    body.SInt16Xy(100, 200, Attr::Point).Operator(Op::SetCursor);
    body.UByteArray(codes, Attr::TextData).Operator(Op::Text);
  };
  body.UByte(0, Attr::Measure).UInt16Xy(600, 600, Attr::UnitsPerMeasure).Operator(Op::BeginSession);
  body.Operator(Op::OpenDataSource);
  body.UByteArray(font, Attr::FontName).UByte(0, Attr::FontFormat).Operator(Op::BeginFontHeader);
  body.UInt16(8, Attr::FontHeaderLength).Operator(Op::ReadFontHeader).Data(Bytes("fonthead"));
  body.Operator(Op::EndFontHeader);
  glyph('A', 1);
  glyph('B', 2);
  body.UByte(0, Attr::Orientation).UByte(2, Attr::MediaSize).Operator(Op::BeginPage);
  text({'A', 'B'});
  body.SInt16Box(10, 20, 300, 400, Attr::BoundingBox).Operator(Op::Rectangle);
  body.UInt16(1, Attr::PageCopies).Operator(Op::EndPage);
  glyph('A', 3);
  body.UByte(1, Attr::Orientation).UByte(0, Attr::MediaSize).Operator(Op::BeginPage);
  glyph('C', 4);
  text({'C', 'A', 'B', 'A'});
  body.Operator(Op::EndPage);
  body.UByteArray(font, Attr::FontName).Operator(Op::RemoveFont);
  body.UByte(0, Attr::Orientation).Operator(Op::BeginPage);
  text({'A'});
  body.Operator(Op::EndPage);
  body.Operator(Op::CloseDataSource).Operator(Op::EndSession);
  std::vector<std::uint8_t> job = Bytes(header);
  job.insert(job.end(), body.bytes().begin(), body.bytes().end());
  const auto trailer = Bytes("\x1b%-12345X@PJL EOJ\r\n\x1b%-12345X");
  job.insert(job.end(), trailer.begin(), trailer.end());
  return job;
}

std::vector<Seed> Seeds() {
  std::vector<Seed> seeds;
  for (const std::vector<std::uint8_t>& pieces : {std::vector<std::uint8_t>{0, 0}, {2, 7, 1, 20}}) {
    std::vector<std::uint8_t> seed = pieces;
    const std::vector<std::uint8_t> job = Job();
    seed.insert(seed.end(), job.begin(), job.end());
    seeds.push_back({"job-pieces-" + std::to_string(pieces.size()), seed});
  }
  return seeds;
}

VELMORA_FUZZ_TARGET(page_store, Entry, Seeds);

}  // namespace
}  // namespace velmora::fuzz

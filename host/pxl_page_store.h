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
#include <map>
#include <string>
#include <vector>

#include "pxl/reader.h"

namespace velmora::host {

class PxlPageStore {
 public:
  // Reads the PJL + PCL XL stream in `streamPath` and spools its pages into the new file
  // `spoolPath`, which the store removes when it goes. Throws HostError naming `name`
  // when the stream is malformed or a file cannot be used.
  PxlPageStore(const std::string& streamPath, const std::string& spoolPath, const std::string& name);
  ~PxlPageStore();
  PxlPageStore(const PxlPageStore&) = delete;
  PxlPageStore& operator=(const PxlPageStore&) = delete;

  std::size_t pageCount() const { return pages_.size(); }
  pxl::ByteOrder byteOrder() const { return order_; }
  // Page `index` (from 0): the glyph definitions it takes from earlier pages, then its
  // own operators, without BeginPage and EndPage. Throws HostError when it cannot be read.
  std::vector<std::uint8_t> ReadPage(std::size_t index);
  // The operators from BeginFontHeader to EndFontHeader of a font of the stream; null
  // for a font the stream never defined.
  const std::vector<std::uint8_t>* FontHeader(const std::string& fontName) const;

 private:
  struct PageSpan {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
  };

  std::string name_;
  std::string spoolPath_;
  std::fstream spool_;
  std::vector<PageSpan> pages_;
  std::map<std::string, std::vector<std::uint8_t>> fontHeaders_;
  pxl::ByteOrder order_ = pxl::ByteOrder::kLittleEndian;
};

// The character codes of a Text operator's TextData.
std::vector<std::uint32_t> TextCodes(const pxl::Event& text);

}  // namespace velmora::host

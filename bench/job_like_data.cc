// Deterministic job-like bytes for the final-data benchmarks.
#include "bench/job_like_data.h"

#include <array>
#include <cstring>
#include <string>

namespace velmora::bench {
namespace {

// A small, fast and fully deterministic generator (xorshift64*), so that every run on
// every machine measures the same bytes.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed != 0 ? seed : 0x9E3779B97F4A7C15ull) {}

  std::uint64_t Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1Dull;
  }
  // A number in [0, bound).
  std::uint32_t Below(std::uint32_t bound) { return static_cast<std::uint32_t>((Next() >> 32) % bound); }
  // A number in [low, high].
  std::uint32_t Between(std::uint32_t low, std::uint32_t high) { return low + Below(high - low + 1); }

 private:
  std::uint64_t state_;
};

// PCL XL data-type tags and the attribute and embedded-data prefixes.
constexpr std::uint8_t kUbyte = 0xC0;
constexpr std::uint8_t kUint16 = 0xC1;
constexpr std::uint8_t kUbyteArray = 0xC8;
constexpr std::uint8_t kUint16Xy = 0xD1;
constexpr std::uint8_t kSint16Xy = 0xD3;
constexpr std::uint8_t kReal32Xy = 0xD5;
constexpr std::uint8_t kUint16Box = 0xE1;
constexpr std::uint8_t kAttrUbyte = 0xF8;
constexpr std::uint8_t kEmbeddedData = 0xFA;
constexpr std::uint8_t kAttrFontName = 0xA8;
constexpr std::uint8_t kOpSetFont = 0x6F;

// Operator and attribute bytes as they turn up in page streams: page set-up, graphics
// state, paths, painting and images. Neither table holds '%' or 'M', so that those bytes
// come only from values and data, as in a real job.
constexpr std::array<std::uint8_t, 38> kOperators = {
    0x43, 0x44, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x6A, 0x6B, 0x6F, 0x70, 0x74, 0x75, 0x77, 0x78, 0x7B, 0x7C, 0x84,
    0x85, 0x91, 0x93, 0x95, 0x96, 0xA0, 0xA2, 0xA3, 0xA8, 0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9};
constexpr std::array<std::uint8_t, 19> kAttributes = {0x03, 0x0B, 0x12, 0x18, 0x26, 0x27, 0x2A, 0x2B, 0x2C, 0x31,
                                                      0x34, 0x42, 0x4C, 0x4E, 0x53, 0x65, 0x6D, 0x6E, 0xA8};
constexpr std::array<std::string_view, 5> kFontNames = {"Arial           ", "Courier New     ", "Times New Roman ",
                                                        "Symbol          ", "Wingdings       "};

// Near-misses: prefixes of the keys followed by a byte that ends the match. The
// endings avoid both cases of the key's next letter, so no near-miss is a match under
// the plug-in's case-insensitive rule.
constexpr std::array<std::string_view, 4> kNearMisses = {"MS PCLXLFon", "%%OVL_PCLXL_BEGI", "MS PCL6 ",
                                                         "%%OVL_PCLXL_END"};
constexpr std::string_view kNearMissEndings = "0123456789 _-#";

constexpr std::string_view kJobHeader =
    "\x1B%-12345X@PJL JOB NAME=\"Quarterly Report\"\r\n"
    "@PJL SET RESOLUTION=600\r\n"
    "@PJL SET PAPER=A4\r\n"
    "@PJL ENTER LANGUAGE=PCLXL\r\n"
    ") HP-PCL XL;2;0;Velmora\r\n";

class Writer {
 public:
  explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}

  void Byte(std::uint8_t value) { out_.push_back(value); }
  void Uint16(std::uint32_t value) {
    Byte(static_cast<std::uint8_t>(value));
    Byte(static_cast<std::uint8_t>(value >> 8));
  }
  void Uint32(std::uint32_t value) {
    Uint16(value & 0xFFFF);
    Uint16(value >> 16);
  }
  void Real32(float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    Uint32(bits);
  }
  void Text(std::string_view text) { out_.insert(out_.end(), text.begin(), text.end()); }

 private:
  std::vector<std::uint8_t>& out_;
};

// A coordinate on a 600 dpi A4 page.
std::uint32_t Coordinate(Random& random) { return random.Below(7016); }

// One to three attributes and the operator they belong to.
void AppendAttributeList(Writer& out, Random& random) {
  const std::uint32_t count = random.Between(1, 3);
  for (std::uint32_t i = 0; i < count; ++i) {
    switch (random.Below(6)) {
      case 0:
        out.Byte(kUbyte);
        out.Byte(static_cast<std::uint8_t>(random.Below(20)));
        break;
      case 1:
        out.Byte(kUint16);
        out.Uint16(Coordinate(random));
        break;
      case 2:
        out.Byte(kUint16Xy);
        out.Uint16(Coordinate(random));
        out.Uint16(Coordinate(random));
        break;
      case 3:
        out.Byte(kSint16Xy);
        out.Uint16(Coordinate(random));
        out.Uint16(Coordinate(random));
        break;
      case 4:
        out.Byte(kReal32Xy);
        out.Real32(static_cast<float>(random.Below(400)) / 100.0f);
        out.Real32(static_cast<float>(random.Below(400)) / 100.0f);
        break;
      default:
        out.Byte(kUint16Box);
        for (int corner = 0; corner < 4; ++corner) out.Uint16(Coordinate(random));
        break;
    }
    out.Byte(kAttrUbyte);
    out.Byte(kAttributes[random.Below(kAttributes.size())]);
  }
  out.Byte(kOperators[random.Below(kOperators.size())]);
}

// Path points as small signed byte offsets in one embedded-data block.
void AppendPathPoints(Writer& out, Random& random) {
  const std::uint32_t length = 2 * random.Between(8, 120);
  out.Byte(kEmbeddedData);
  out.Uint32(length);
  for (std::uint32_t i = 0; i < length; ++i) {
    out.Byte(static_cast<std::uint8_t>(static_cast<std::int8_t>(random.Between(0, 60)) - 30));
  }
}

// Compressed raster or glyph data: every byte value equally likely.
void AppendDataBlock(Writer& out, Random& random) {
  const std::uint32_t length = random.Between(256, 4096);
  out.Byte(kEmbeddedData);
  out.Uint32(length);
  for (std::uint32_t i = 0; i < length; i += 8) {
    const std::uint64_t word = random.Next();
    for (std::uint32_t k = 0; k < 8 && i + k < length; ++k) out.Byte(static_cast<std::uint8_t>(word >> (8 * k)));
  }
}

// A font selection: the font name as a ubyte array attribute, then the operator.
void AppendFontName(Writer& out, std::string_view name) {
  out.Byte(kUbyteArray);
  out.Byte(kUint16);
  out.Uint16(static_cast<std::uint32_t>(name.size()));
  out.Text(name);
  out.Byte(kAttrUbyte);
  out.Byte(kAttrFontName);
  out.Byte(kOpSetFont);
}

void AppendNearMiss(Writer& out, Random& random) {
  std::string name(kNearMisses[random.Below(kNearMisses.size())]);
  name.push_back(kNearMissEndings[random.Below(kNearMissEndings.size())]);
  AppendFontName(out, name);
}

}  // namespace

std::vector<std::uint8_t> MakeJobLikeData(std::size_t size, std::uint64_t seed) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(size + 8192);
  Writer out(bytes);
  Random random(seed);
  out.Text(kJobHeader);
  std::size_t nextNearMiss = 0;
  while (bytes.size() < size) {
    // A near-miss every 8 to 40 KiB, between the page content.
    if (bytes.size() >= nextNearMiss) {
      AppendNearMiss(out, random);
      nextNearMiss = bytes.size() + random.Between(8 * 1024, 40 * 1024);
      continue;
    }
    const std::uint32_t draw = random.Below(100);
    if (draw < 80) {
      AppendAttributeList(out, random);
    } else if (draw < 94) {
      AppendPathPoints(out, random);
    } else if (draw < 99) {
      AppendDataBlock(out, random);
    } else {
      AppendFontName(out, kFontNames[random.Below(kFontNames.size())]);
    }
  }
  bytes.resize(size);
  return bytes;
}

std::vector<std::size_t> PlantKey(std::vector<std::uint8_t>& bytes, std::string_view key, std::size_t spacing) {
  std::vector<std::size_t> offsets;
  std::vector<std::uint8_t> attribute;
  Writer out(attribute);
  AppendFontName(out, key);
  // The key sits after the array's tag, length tag and 16-bit length.
  constexpr std::size_t kKeyOffset = 4;
  if (spacing < attribute.size()) return offsets;
  for (std::size_t at = spacing / 2; at + attribute.size() <= bytes.size(); at += spacing) {
    std::memcpy(bytes.data() + at, attribute.data(), attribute.size());
    offsets.push_back(at + kKeyOffset);
  }
  return offsets;
}

double MeanDistance(const std::vector<std::uint8_t>& bytes, std::uint8_t value) {
  std::size_t count = 0;
  for (const std::uint8_t byte : bytes) count += byte == value ? 1 : 0;
  if (count == 0) return static_cast<double>(bytes.size());
  return static_cast<double>(bytes.size()) / static_cast<double>(count);
}

}  // namespace velmora::bench

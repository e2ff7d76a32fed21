// Bitmap watermark streams and placements, byte for byte.
#include "src/watermark/watermark_bitmap.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "pxl/reader.h"
#include "tests/pxl_test_bytes.h"

namespace velmora::watermark {
namespace {

using pxl::testing::Bytes;
using pxl::testing::Job;
using pxl::testing::Run;

constexpr std::string_view kBodyHeader = ") HP-PCL XL;3;0;Comment WM.\n";

// The image description before the first block, for a w × h source drawn dw × dh.
Bytes ImageStart(int w, int h, int dw, int dh) {
  return Job(
      {{0xC0, 0x01, 0xF8, 0x03, 0x6A, 0xC0, 0x88, 0xF8, 0x2C, 0x7B, 0xC0, 0x00, 0xF8, 0x64, 0xC0, 0x02, 0xF8, 0x62},
       {0xC1, w & 0xFF, w >> 8, 0xF8, 0x6C, 0xC1, h & 0xFF, h >> 8, 0xF8, 0x6B},
       {0xD1, dw & 0xFF, dw >> 8, dh & 0xFF, dh >> 8, 0xF8, 0x67, 0xB0}});
}

Bytes BlockHeader(int startLine, int rows, std::size_t length) {
  return Job(
      {{0xC1, startLine & 0xFF, startLine >> 8, 0xF8, 0x6D, 0xC1, rows & 0xFF, rows >> 8, 0xF8, 0x63},
       {0xC0, 0x01, 0xF8, 0x65, 0xB1, 0xFA, static_cast<int>(length & 0xFF), static_cast<int>(length >> 8 & 0xFF),
        static_cast<int>(length >> 16 & 0xFF), static_cast<int>(length >> 24)}});
}

platform::Image MakeImage(std::uint32_t width, std::uint32_t height, unsigned bits, std::vector<std::uint8_t> rows,
                          std::vector<platform::Rgb> palette = {}) {
  platform::Image image = *platform::Image::Blank(width, height, bits);
  EXPECT_EQ(rows.size(), image.pixels.size());
  image.pixels = std::move(rows);
  image.palette = std::move(palette);
  return image;
}

const platform::Rgb kBlack{0, 0, 0};
const platform::Rgb kWhite{255, 255, 255};

struct BodyCase {
  const char* name;
  platform::Image image;
  BitmapWatermarkParams params;
  Bytes expected;  // after the header line
};

TEST(WatermarkBitmapStream, BodiesAreWrittenByteForByte) {
  BitmapWatermarkParams centre;
  BitmapWatermarkParams half;
  half.imageScale = 50;
  const std::vector<BodyCase> cases = {
      // White is 254 in the palette's grey; 1-bit pixels come from the high bits first.
      {"1-bit 4x2", MakeImage(4, 2, 1, {0xA0, 0, 0, 0, 0xF0, 0, 0, 0}, {kBlack, kWhite}), centre,
       Job({ImageStart(4, 2, 4, 2), BlockHeader(0, 2, 8), {0x02, 0xFE, 0x00, 0xFE, 0x00, 0x00, 0xFD, 0xFE}, {0xB2}})},
      // Red is grey 76 and blue 29; the fourth pixel of the padded row is index 0.
      {"4-bit 3x2 at half size",
       MakeImage(3, 2, 4, {0x12, 0x10, 0, 0, 0x12, 0x10, 0, 0}, {kBlack, {255, 0, 0}, {0, 0, 255}}), half,
       Job({ImageStart(3, 2, 1, 1),
            BlockHeader(0, 2, 12),
            {0x02, 0x4C, 0x1D, 0x4C, 0x00, 0x00, 0x02, 0x4C, 0x1D, 0x4C, 0x00, 0x00},
            {0xB2}})},
      // Width 10 carries 12 grey bytes; index 5 lies beyond the palette and reads black.
      {"8-bit width 10", MakeImage(10, 1, 8, {1, 1, 1, 1, 1, 1, 1, 1, 1, 5, 0, 0}, {kBlack, kWhite}), centre,
       Job({ImageStart(10, 1, 10, 1), BlockHeader(0, 1, 4), {0xF8, 0xFE, 0xFE, 0x00}, {0xB2}})},
      // White 1-5-5-5 becomes grey 30 in place, then 246 scaled, then 245; blue becomes 3,
      // then 24, then 23. The two padding pixels lie beyond the row and read 0.
      {"16-bit 2x1", MakeImage(2, 1, 16, {0xFF, 0x7F, 0x1F, 0x00}), centre,
       Job({ImageStart(2, 1, 2, 1), BlockHeader(0, 1, 5), {0x01, 0xF5, 0x17, 0xFF, 0x00}, {0xB2}})},
      // White turns 254 in place and 253 in the row; the padding reads 0.
      {"24-bit white 5x1",
       MakeImage(5, 1, 24, {255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 0}), centre,
       Job({ImageStart(5, 1, 5, 1), BlockHeader(0, 1, 4), {0xFC, 0xFD, 0xFE, 0x00}, {0xB2}})},
  };
  for (const BodyCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes body = BuildStreamBody(c.image, c.params, {});
    ASSERT_GE(body.size(), kBodyHeader.size());
    EXPECT_EQ(std::string(body.begin(), body.begin() + kBodyHeader.size()), kBodyHeader);
    EXPECT_EQ(Bytes(body.begin() + kBodyHeader.size(), body.end()), c.expected);
    const pxl::ParseResult parsed = pxl::Parse(body);
    EXPECT_TRUE(parsed.ok()) << parsed.error->ToString();
  }
}

TEST(WatermarkBitmapStream, BlocksCloseAtFifteenThousandBytes) {
  // Four rows of 5000 white pixels: three rows make 15000 bytes and close the first block.
  std::vector<std::uint8_t> pixels(4 * 5000, 0);
  const platform::Image image = MakeImage(5000, 4, 8, pixels, {kWhite});
  // 5000 equal bytes: 39 groups of 128 and one of 8.
  Bytes row;
  for (int i = 0; i < 39; ++i) row.insert(row.end(), {0x81, 0xFE});
  row.insert(row.end(), {0xF9, 0xFE});
  ASSERT_EQ(row.size(), 80u);
  const Bytes expected =
      Job({ImageStart(5000, 4, 5000, 4), BlockHeader(0, 3, 240), row, row, row, BlockHeader(3, 1, 80), row, {0xB2}});
  const Bytes body = BuildStreamBody(image, {}, {});
  EXPECT_EQ(Bytes(body.begin() + kBodyHeader.size(), body.end()), expected);
}

TEST(WatermarkBitmapStream, FitTakesItsSizeFromTheFirstCell) {
  BitmapWatermarkParams fit;
  fit.placement = 2;
  const platform::Image image = *platform::Image::Blank(1000, 500, 24);
  const Bytes body = BuildStreamBody(image, fit, {0, 0, 4000, 4000});
  const Bytes start = ImageStart(1000, 500, 4000, 2000);
  EXPECT_EQ(Bytes(body.begin() + kBodyHeader.size(), body.begin() + kBodyHeader.size() + start.size()), start);
}

TEST(WatermarkBitmapStream, ImagesTheFormatCannotCarryAreNotDefined) {
  // An image with no area on the page would be drawn at DestinationSize (0, 0), which a
  // printer rejects, losing the rest of the job.
  BitmapWatermarkParams fit;
  fit.placement = 2;
  BitmapWatermarkParams tiny;
  tiny.imageScale = 1;
  struct Case {
    const char* name;
    platform::Image image;
    BitmapWatermarkParams params;
    CellRect firstCell;
  };
  const std::vector<Case> cases = {
      {"no rows", *platform::Image::Blank(4, 0, 8), {}, {}},
      {"more than 65535 rows", *platform::Image::Blank(1, 65536, 8), {}, {}},
      {"32 bits per pixel", *platform::Image::Blank(2, 2, 32), {}, {}},
      {"fit into a cell with no area", *platform::Image::Blank(8, 8, 8), fit, {100, 100, 100, 100}},
      {"fit into an inverted cell", *platform::Image::Blank(8, 8, 8), fit, {100, 100, 50, 50}},
      {"scaled below one dot", *platform::Image::Blank(8, 8, 8), tiny, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int writes = 0;
    const BitmapStream stream =
        DefineBitmapStream(0, c.image, c.params, c.firstCell, [&](const std::uint8_t*, std::size_t) { ++writes; });
    EXPECT_FALSE(stream.defined);
    EXPECT_EQ(writes, 0);
    EXPECT_TRUE(BuildPlacement(0, stream, c.params, {c.firstCell}).empty());
  }
}

TEST(WatermarkBitmapStream, DefinitionIsSentInThreePiecesThatReadBack) {
  const platform::Image image = MakeImage(4, 2, 1, {0xA0, 0, 0, 0, 0xF0, 0, 0, 0}, {kBlack, kWhite});
  std::vector<Bytes> pieces;
  const BitmapStream stream = DefineBitmapStream(1, image, {}, {}, [&](const std::uint8_t* bytes, std::size_t count) {
    pieces.emplace_back(bytes, bytes + count);
  });
  ASSERT_TRUE(stream.defined);
  EXPECT_EQ(stream.sourceWidth, 4);
  EXPECT_EQ(stream.sourceHeight, 2);
  ASSERT_EQ(pieces.size(), 3u);
  // 28 header bytes, 36 bytes of image description, 20 of block header, 8 of data, EndImage.
  const int length = 28 + 36 + 20 + 8 + 1;
  ASSERT_EQ(pieces[1].size(), static_cast<std::size_t>(length));
  EXPECT_EQ(pieces[0], Job({{0xC8, 0xC0, 0x05},
                            "32001",
                            {0xF8, 0x8B, 0x5B, 0xC2, length, 0, 0, 0, 0xF8, 0x8C, 0x5C},
                            {0xFA, length, 0, 0, 0}}));
  EXPECT_EQ(pieces[2], Bytes{0x5D});

  const Bytes job = Job({") HP-PCL XL;3;0\n", pieces[0], pieces[1], pieces[2]});
  const pxl::ParseResult parsed = pxl::Parse(job);
  ASSERT_TRUE(parsed.ok()) << parsed.error->ToString();
  ASSERT_FALSE(parsed.events.empty());
  EXPECT_TRUE(parsed.events.back().Is(pxl::Op::EndStream));
}

struct RleCase {
  const char* name;
  Bytes input;
  Bytes expected;
};

Bytes Repeated(std::size_t count, std::uint8_t value) { return Bytes(count, value); }
Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes Counting(std::size_t count) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  return bytes;
}

TEST(WatermarkBitmapRunLength, GroupsFollowTheRunsOfTheRow) {
  const std::vector<RleCase> cases = {
      {"300 equal bytes", Repeated(300, 7), {0x81, 7, 0x81, 7, 0xD5, 7}},
      {"a run of two ends the row", {1, 2, 2}, {0x00, 1, 0xFF, 2}},
      {"a single byte ends the row", {1, 2}, {0x00, 1, 0x00, 2}},
      {"a run of two inside a literal", {1, 1, 2, 3}, {0x02, 1, 1, 2, 0x00, 3}},
      {"a run of three then a byte", {5, 5, 5, 6}, {0xFE, 5, 0x00, 6}},
      {"two left over from a long run start a literal", Concat(Repeated(130, 9), {4}), {0x81, 9, 0x01, 9, 9, 0x00, 4}},
      {"two left over from a long run end the row", Repeated(130, 9), {0x81, 9, 0xFF, 9}},
      {"a literal longer than 128", Counting(129), Concat(Concat({0x7F}, Counting(128)), {0x00, 128})},
  };
  for (const RleCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out(RunLengthBound(c.input.size()));
    const std::size_t written = RunLengthEncode(c.input.data(), c.input.size(), out.data(), out.size());
    out.resize(written);
    EXPECT_EQ(out, c.expected);
  }
}

TEST(WatermarkBitmapRunLength, RefusesWhatDoesNotFitTheDestination) {
  // Four alternating bytes take six bytes, more than 4 + 4 / 8 + 1.
  const Bytes input = {1, 2, 1, 2};
  Bytes out(5, 0xEE);
  EXPECT_EQ(RunLengthEncode(input.data(), input.size(), out.data(), out.size()), 0u);
  out.resize(6);
  EXPECT_EQ(RunLengthEncode(input.data(), input.size(), out.data(), out.size()), 6u);
  EXPECT_EQ(out, (Bytes{0x02, 1, 2, 1, 0x00, 2}));
}

// The cursor positions and the operators of a placement, read back.
struct ReadBack {
  std::vector<std::pair<std::int64_t, std::int64_t>> cursors;
  int execs = 0;
  std::uint8_t lastOp = 0;
};

ReadBack Read(const Bytes& commands) {
  const pxl::ParseResult parsed = pxl::Parse(Job({") HP-PCL XL;3;0\n", commands}));
  EXPECT_TRUE(parsed.ok()) << parsed.error->ToString();
  ReadBack back;
  for (const pxl::Event& event : parsed.events) {
    if (event.kind != pxl::EventKind::kOperator) continue;
    back.lastOp = event.op;
    if (event.Is(pxl::Op::ExecStream)) ++back.execs;
    if (event.Is(pxl::Op::SetCursor)) {
      const pxl::Attribute* point = event.Find(pxl::Attr::Point);
      if (point != nullptr) back.cursors.emplace_back(point->value.Int(0), point->value.Int(1));
    }
  }
  return back;
}

const BitmapStream kStream{true, 1000, 500};

TEST(WatermarkBitmapPlacement, CentreIsWrittenByteForByte) {
  PlacementContext context;
  context.cell = {100, 200, 1100, 1200};
  context.bitmapWidth = 200;
  context.bitmapHeight = 100;
  const Bytes expected =
      Job({{0xE1, 0x64, 0x00, 0xC8, 0x00, 0x4C, 0x04, 0xB0, 0x04, 0xF8, 0x42, 0xC0, 0x00, 0xF8, 0x53, 0x68},
           {0xD3, 0, 0, 0, 0, 0xF8, 0x2A, 0x75},
           {0xD5, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x80, 0x3F, 0xF8, 0x2B, 0x77},
           {0xC0, 0x01, 0xF8, 0x03, 0x6A},
           {0xD3, 0xF4, 0x01, 0x8A, 0x02, 0xF8, 0x4C, 0x6B, 0x61, 0xC8, 0xC0, 0x05},
           "32000",
           {0xF8, 0x8B, 0x5E, 0x60, 0x69}});
  EXPECT_EQ(BuildPlacement(0, kStream, {}, context), expected);

  Bytes written;
  PlaceBitmapWatermark(0, kStream, {}, context, [&](const std::uint8_t* bytes, std::size_t count) {
    EXPECT_TRUE(written.empty()) << "one write per placement";
    written.assign(bytes, bytes + count);
  });
  EXPECT_EQ(written, expected);
}

struct PointCase {
  const char* name;
  BitmapWatermarkParams params;
  PlacementContext context;
  std::pair<std::int64_t, std::int64_t> cursor;
};

TEST(WatermarkBitmapPlacement, CentreAndFitPutTheCursor) {
  BitmapWatermarkParams tenMillimetresUp;
  tenMillimetresUp.offsetY = 10.0f;
  tenMillimetresUp.offsetInMillimetres = 1;
  BitmapWatermarkParams twoUpInchRight;
  twoUpInchRight.offsetX = 1.0f;
  twoUpInchRight.nupScale = 0.75f;
  BitmapWatermarkParams fit;
  fit.placement = 2;
  BitmapWatermarkParams unknown;
  unknown.placement = 7;

  const CellRect cell{100, 200, 1100, 1200};
  const std::vector<PointCase> cases = {
      // 10 mm at 600 dpi is 236 pixels, and a positive offset moves up.
      {"centre moved up", tenMillimetresUp, {cell, false, 600, 600, 200, 100}, {500, 414}},
      // In a turned layout the horizontal offset moves the image up.
      {"centre in a turned layout", twoUpInchRight, {cell, true, 600, 600, 200, 100}, {525, 213}},
      {"fit 1000x500 in 4000x4000", fit, {{0, 0, 4000, 4000}, false, 600, 600, 1000, 500}, {0, 1000}},
      // Without a bitmap the stream's own 1000 x 500 source size is placed.
      {"fit without a bitmap", fit, {{0, 0, 4000, 4000}, false, 600, 600, 0, 0}, {0, 1000}},
      {"unknown placement", unknown, {cell, false, 600, 600, 200, 100}, {0, 0}},
  };
  for (const PointCase& c : cases) {
    SCOPED_TRACE(c.name);
    const ReadBack back = Read(BuildPlacement(0, kStream, c.params, c.context));
    ASSERT_EQ(back.cursors.size(), 1u);
    EXPECT_EQ(back.cursors[0], c.cursor);
    EXPECT_EQ(back.execs, 1);
    EXPECT_EQ(back.lastOp, 0x69);
  }
}

using Points = std::vector<std::pair<std::int64_t, std::int64_t>>;

struct TileCase {
  const char* name;
  BitmapWatermarkParams params;
  PlacementContext context;
  Points cursors;  // all of them, or the first ones when `firstOnly`
  bool firstOnly = false;
};

TEST(WatermarkBitmapPlacement, TilesCoverTheCellAndEndWithSetClipToPage) {
  BitmapWatermarkParams tile;
  tile.placement = 1;
  BitmapWatermarkParams shifted = tile;
  shifted.offsetX = 0.1f;
  shifted.offsetY = 0.1f;
  BitmapWatermarkParams empty = tile;
  empty.imageScale = 0;

  const std::vector<TileCase> cases = {
      {"upright",
       tile,
       {{0, 0, 200, 100}, false, 600, 600, 80, 60},
       {{0, 0},
        {80, 0},
        {160, 0},
        {240, 0},
        {0, 60},
        {80, 60},
        {160, 60},
        {240, 60},
        {0, 120},
        {80, 120},
        {160, 120},
        {240, 120}}},
      // Turned: columns run from the bottom edge upwards.
      {"turned",
       tile,
       {{0, 0, 100, 200}, true, 600, 600, 80, 60},
       {{0, 200},
        {0, 140},
        {0, 80},
        {0, 20},
        {0, -40},
        {80, 200},
        {80, 140},
        {80, 80},
        {80, 20},
        {80, -40},
        {160, 200},
        {160, 140},
        {160, 80},
        {160, 20},
        {160, -40}}},
      // 60 pixels right start the first column 20 left of the cell; 60 pixels up, one
      // whole tile, start one tile above it.
      {"shifted", shifted, {{0, 0, 200, 100}, false, 600, 600, 80, 60}, {{-20, -60}, {60, -60}}, true},
      // A tile smaller than the least tile area is enlarged in proportion: 40 x 30
      // becomes 74 x 56.
      {"small",
       tile,
       {{0, 0, 100, 50}, false, 600, 600, 40, 30},
       {{0, 0}, {74, 0}, {148, 0}, {0, 56}, {74, 56}, {148, 56}}},
      // A tile of size 0 never advances: one copy is drawn.
      {"zero-size tile", empty, {{0, 0, 100, 50}, false, 600, 600, 40, 30}, {{0, 0}}},
  };
  for (const TileCase& c : cases) {
    SCOPED_TRACE(c.name);
    const ReadBack back = Read(BuildPlacement(0, kStream, c.params, c.context));
    if (c.firstOnly) {
      ASSERT_GE(back.cursors.size(), c.cursors.size());
      EXPECT_EQ(Points(back.cursors.begin(), back.cursors.begin() + static_cast<std::ptrdiff_t>(c.cursors.size())),
                c.cursors);
    } else {
      EXPECT_EQ(back.cursors, c.cursors);
    }
    EXPECT_EQ(back.execs, static_cast<int>(back.cursors.size()));
    EXPECT_EQ(back.lastOp, 0x69);
  }
}

TEST(WatermarkBitmapPlacement, TinyTilesKeepThePageSmall) {
  // A 1 x 1 pixel image tiled over a 2000 x 2000 cell would take 4 million tiles; it is
  // drawn 64 x 64 pixels instead, and the tiles step by as much.
  BitmapWatermarkParams tile;
  tile.placement = 1;
  const platform::Image image = MakeImage(1, 1, 8, {0, 0, 0, 0}, {kBlack});
  const Bytes body = BuildStreamBody(image, tile, {});
  const Bytes start = ImageStart(1, 1, 64, 64);
  EXPECT_EQ(Bytes(body.begin() + kBodyHeader.size(), body.begin() + kBodyHeader.size() + start.size()), start);
  const ReadBack back = Read(BuildPlacement(0, kStream, tile, {{0, 0, 2000, 2000}, false, 600, 600, 1, 1}));
  ASSERT_EQ(back.cursors.size(), 33u * 33u);  // 0, 64, ..., 2048 in each direction
  EXPECT_EQ(back.cursors[1], std::make_pair(std::int64_t{64}, std::int64_t{0}));
}

struct FarOffsetCase {
  const char* name;
  float offsetX;
  float offsetY;
  std::uint8_t inMillimetres;
  bool rotated;
  std::pair<std::int64_t, std::int64_t> firstCursor;
  std::size_t tiles;
};

TEST(WatermarkBitmapPlacement, OffsetsOfAnySizeShiftThePatternByLessThanATile) {
  // 80 x 60 pixel tiles at 600 dpi. An offset far beyond the page moves the pattern by
  // its remainder after whole tiles, as a small offset does; one that is not a number
  // does not move it.
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  constexpr float kNotANumber = std::numeric_limits<float>::quiet_NaN();
  const std::vector<FarOffsetCase> cases = {
      {"whole tiles to the left", -1e10f, 0, 0, false, {0, 0}, 12},
      // -1e10 mm is -236220472440.94 pixels: 40.94 pixels left after whole tiles.
      {"millimetres to the left", -1e10f, 0, 1, false, {-40, 0}, 12},
      // 1e9 mm is 24 pixels more than whole 60-pixel tiles.
      {"millimetres up", 0, 1e9f, 1, false, {0, -24}, 16},
      // In the turned layouts the vertical offset moves the columns.
      {"turned, millimetres up", 0, 1e10f, 1, true, {-40, 200}, 15},
      {"turned, millimetres right", 1e9f, 0, 1, true, {0, 176}, 12},
      {"infinite and not a number", kInfinity, kNotANumber, 0, false, {0, 0}, 12},
  };
  for (const FarOffsetCase& c : cases) {
    SCOPED_TRACE(c.name);
    BitmapWatermarkParams params;
    params.placement = 1;
    params.offsetX = c.offsetX;
    params.offsetY = c.offsetY;
    params.offsetInMillimetres = c.inMillimetres;
    const CellRect cell = c.rotated ? CellRect{0, 0, 100, 200} : CellRect{0, 0, 200, 100};
    const ReadBack back = Read(BuildPlacement(0, kStream, params, {cell, c.rotated, 600, 600, 80, 60}));
    ASSERT_EQ(back.cursors.size(), c.tiles);
    EXPECT_EQ(back.cursors[0], c.firstCursor);
  }
}

struct TileSizeCase {
  const char* name;
  std::uint32_t width;
  std::uint32_t height;
  std::uint32_t imageScale;
  float nupScale;
  TileSize expected;
};

TEST(WatermarkBitmapTiles, EveryImageWithASizeGetsAVisibleTile) {
  const std::vector<TileSizeCase> cases = {
      {"one pixel", 1, 1, 100, 1.0f, {64, 64}},
      // Below one pixel the tile is enlarged as a one-pixel tile of the same shape.
      {"one pixel at a page scale below 1", 1, 1, 100, 0.96f, {64, 64}},
      {"one pixel at 10 %", 1, 1, 10, 1.0f, {64, 64}},
      {"1 x 4 at 10 %", 1, 4, 10, 1.0f, {32, 128}},
      {"1 x 100 at half size", 1, 100, 100, 0.5f, {7, 640}},
      {"enlarged in proportion to the least area", 40, 30, 100, 1.0f, {74, 56}},
      // The least size is an area: a narrow image keeps its shape.
      {"narrow", 1, 4096, 100, 1.0f, {1, 4096}},
      {"large enough", 300, 200, 50, 1.0f, {150, 100}},
      {"no size at scale 0", 40, 30, 0, 1.0f, {0, 0}},
  };
  for (const TileSizeCase& c : cases) {
    SCOPED_TRACE(c.name);
    BitmapWatermarkParams params;
    params.placement = 1;
    params.imageScale = c.imageScale;
    params.nupScale = c.nupScale;
    const TileSize tile = ScaledTileSize(c.width, c.height, params);
    EXPECT_EQ(tile.width, c.expected.width);
    EXPECT_EQ(tile.height, c.expected.height);
  }
}

TEST(WatermarkBitmapPlacement, OneTileIsWrittenByteForByte) {
  // At scale 0 the tile has no size, and exactly one copy is drawn.
  BitmapWatermarkParams tile;
  tile.placement = 1;
  tile.imageScale = 0;
  PlacementContext context{{0, 0, 10, 10}, false, 600, 600, 40, 30};
  const Bytes expected = Job({{0xE1, 0, 0, 0, 0, 10, 0, 10, 0, 0xF8, 0x42, 0xC0, 0x00, 0xF8, 0x53, 0x68},
                              {0xD3, 0, 0, 0, 0, 0xF8, 0x2A, 0x75},
                              {0xD5, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x80, 0x3F, 0xF8, 0x2B, 0x77},
                              {0xD3, 0, 0, 0, 0, 0xF8, 0x4C, 0x6B, 0x61, 0xC8, 0xC0, 0x05},
                              "32001",
                              {0xF8, 0x8B, 0x5E, 0x60, 0x69}});
  EXPECT_EQ(BuildPlacement(1, kStream, tile, context), expected);
}

}  // namespace
}  // namespace velmora::watermark

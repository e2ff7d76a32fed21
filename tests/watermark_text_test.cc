// Text watermarks: the drawing calls one cell's watermark makes, recorded by a fake
// drawing context that answers 600 dpi and a text extent of 1000 x 200 pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>

#include "src/watermark/watermark_text.h"
#include "tests/fakes/recording_drawing_context.h"

namespace velmora {
namespace {

using platform::Point;
using platform::Rect;
using testing::RecordingDrawingContext;

constexpr Rect kPage{0, 0, 4800, 6600};

TextWatermark Record(std::uint32_t placement, std::uint32_t angle) {
  TextWatermark record;
  record.text = VTEXT("DRAFT");
  record.faceName = VTEXT("Times New Roman");
  record.placement = placement;
  record.angle = angle;
  return record;
}

TextWatermarkCell Cell(Rect cell = kPage) {
  TextWatermarkCell where;
  where.cell = cell;
  where.clipBox = kPage;
  return where;
}

RecordingDrawingContext Draw(const TextWatermark& record, const TextWatermarkCell& where,
                             platform::Size extent = {1000, 200}) {
  RecordingDrawingContext dc;
  dc.textExtent = extent;
  std::uint8_t charSet = platform::kDefaultCharSet;
  DrawTextWatermark(dc, record, where, 0, charSet);
  return dc;
}

TEST(TextWatermark, DefaultRecordAt600DpiCentred) {
  RecordingDrawingContext dc = Draw(Record(kPlacementCentre, 45), Cell());
  const std::vector<std::string> expected = {
      "BeginPath", "MoveTo 0 0", "LineTo 4800 0", "LineTo 4800 6600", "LineTo 0 6600", "LineTo 0 0", "EndPath",
      "SelectClipPath", "SetBackgroundMode 1", "SetForegroundMix 9", "BeginPath", "FontCharSetOf Times New Roman",
      "CreateLogicalFont 101", "SelectLogicalFont 101", "TextExtent DRAFT", "SelectSolidBrush 192",
      // Centre (2400, 3300) less the half-extent (500, 100) turned by 45 degrees: (424, -282).
      "WriteText 1976 3582 DRAFT", "EndPath", "FillPath", "SetForegroundMix 13", "SetBackgroundMode 2",
      "SelectLogicalFont 1", "DeleteLogicalFont 101", "BeginPath", "MoveTo 0 0", "LineTo 4800 0", "LineTo 4800 6600",
      "LineTo 0 6600", "LineTo 0 0", "EndPath", "SelectClipPath"};
  EXPECT_EQ(dc.calls, expected);

  ASSERT_EQ(dc.fonts.size(), 1u);
  const platform::FontDescription& font = dc.fonts[0];
  EXPECT_EQ(font.height, -600);
  EXPECT_EQ(font.escapement, 450);
  EXPECT_EQ(font.orientation, 450);
  EXPECT_EQ(font.width, 0);
  EXPECT_EQ(font.weight, 0);
  EXPECT_FALSE(font.italic);
  EXPECT_EQ(font.charSet, platform::kDefaultCharSet);
  EXPECT_EQ(font.faceName, VTEXT("Times New Roman"));
}

TEST(TextWatermark, CentredPositionFromAngleOffsetsAndLayout) {
  struct Case {
    const char* name;
    std::uint32_t angle;
    float offsetX;
    float offsetY;
    std::uint8_t millimetres;
    bool rotated;
    float scale;
    Rect cell;
    Point expected;
  };
  const Case cases[] = {
      // Top left corner at the cell centre less half the extent.
      {"angle 0", 0, 0, 0, 0, false, 1.0f, kPage, {1900, 3200}},
      {"angle 0 in a cell", 0, 0, 0, 0, false, 1.0f, {2400, 3300, 4800, 6600}, {3100, 4850}},
      // The half-extent (-500, -100) turned by -90 degrees with the rounded pi: (-100, 499.99...).
      {"angle 90", 90, 0, 0, 0, false, 1.0f, kPage, {2300, 3799}},
      {"angle 300", 300, 0, 0, 0, false, 1.0f, kPage, {2237, 2817}},
      {"1 inch right", 0, 1.0f, 0, 0, false, 1.0f, kPage, {2500, 3200}},
      // 10 mm is 236.2 pixels at 600 dpi; a positive vertical offset moves up.
      {"10 mm up", 0, 0, 10.0f, 1, false, 1.0f, kPage, {1900, 2964}},
      {"offset units other than 1 are inches", 0, 0, 1.0f, 2, false, 1.0f, kPage, {1900, 2600}},
      {"half scale", 0, 1.0f, 0, 0, false, 0.5f, kPage, {2200, 3200}},
      // In the turned layouts a horizontal offset moves up and a vertical one left.
      {"2-up offsetX", 0, 1.0f, 0, 0, true, 0.75f, kPage, {1900, 2750}},
      {"2-up offsetY", 0, 0, 1.0f, 0, true, 0.75f, kPage, {1450, 3200}},
  };
  for (const Case& c : cases) {
    TextWatermark record = Record(kPlacementCentre, c.angle);
    record.offsetX = c.offsetX;
    record.offsetY = c.offsetY;
    record.offsetInMillimetres = c.millimetres;
    TextWatermarkCell where = Cell(c.cell);
    where.rotatedLayout = c.rotated;
    where.nupScale = c.scale;
    RecordingDrawingContext dc = Draw(record, where);
    ASSERT_EQ(dc.textOrigins.size(), 1u) << c.name;
    EXPECT_EQ(dc.textOrigins[0].x, c.expected.x) << c.name;
    EXPECT_EQ(dc.textOrigins[0].y, c.expected.y) << c.name;
  }
}

// The distinct x and y positions of the copies, and their count.
struct Pattern {
  std::set<std::int32_t> xs;
  std::set<std::int32_t> ys;
  std::size_t copies = 0;
};

Pattern PatternOf(const RecordingDrawingContext& dc) {
  Pattern pattern;
  for (const Point& p : dc.textOrigins) {
    pattern.xs.insert(p.x);
    pattern.ys.insert(p.y);
  }
  pattern.copies = dc.textOrigins.size();
  return pattern;
}

TEST(TextWatermark, TiledCopiesCoverTheCell) {
  struct Case {
    std::uint32_t angle;
    Point first;
    std::int32_t stepX;
    std::int32_t stepY;
    std::size_t columns;
    std::size_t rows;
  };
  const Case cases[] = {
      // Steps are the turned text's bounding box: 1000 x 200 at 0 degrees, 200 x 1000 at 90.
      {0, {100, 0}, 1000, 200, 6, 33},
      {45, {29, 735}, 848, 848, 6, 9},
      {90, {0, 1099}, 200, 1000, 24, 7},
      // 300 degrees tiles as 60: steps 500 + 173 and 866 + 100.
      {300, {187, 50}, 673, 966, 8, 8},
  };
  for (const Case& c : cases) {
    RecordingDrawingContext dc = Draw(Record(kPlacementTile, c.angle), Cell());
    const Pattern pattern = PatternOf(dc);
    ASSERT_FALSE(dc.textOrigins.empty()) << c.angle;
    EXPECT_EQ(dc.textOrigins[0].x, c.first.x) << c.angle;
    EXPECT_EQ(dc.textOrigins[0].y, c.first.y) << c.angle;
    EXPECT_EQ(pattern.xs.size(), c.columns) << c.angle;
    EXPECT_EQ(pattern.ys.size(), c.rows) << c.angle;
    EXPECT_EQ(pattern.copies, c.columns * c.rows) << c.angle;
    EXPECT_EQ(*std::next(pattern.xs.begin()) - *pattern.xs.begin(), c.stepX) << c.angle;
    EXPECT_EQ(*std::next(pattern.ys.begin()) - *pattern.ys.begin(), c.stepY) << c.angle;
    // Every copy gets the grey brush.
    EXPECT_EQ(dc.brushes.size(), pattern.copies) << c.angle;
  }
}

TEST(TextWatermark, TiledOffsetsShiftTheFirstCopy) {
  struct Case {
    const char* name;
    float offsetX;
    float offsetY;
    std::uint8_t millimetres;
    Point first;
  };
  // At 0 degrees: steps 1000 x 200, starts (600, 100), half-extent (-500, -100).
  const Case cases[] = {
      {"none", 0, 0, 0, {100, 0}},
      {"right", 0.5f, 0, 0, {-1800, 0}},
      {"left", -0.5f, 0, 0, {-1400, 0}},
      {"right by more than a step", 2.0f, 0, 0, {-1900, 0}},
      // 5 mm is 118.1 pixels.
      {"right in millimetres", 5.0f, 0, 1, {-1982, 0}},
      {"up", 0, 0.25f, 0, {100, -350}},
      {"down", 0, -0.25f, 0, {100, -250}},
      // 300 pixels is more than the vertical step of 200: 100 and -100 remain.
      {"up by more than a step", 0, 0.5f, 0, {100, -300}},
      {"down by more than a step", 0, -0.5f, 0, {100, -300}},
  };
  for (const Case& c : cases) {
    TextWatermark record = Record(kPlacementTile, 0);
    record.offsetX = c.offsetX;
    record.offsetY = c.offsetY;
    record.offsetInMillimetres = c.millimetres;
    RecordingDrawingContext dc = Draw(record, Cell());
    ASSERT_FALSE(dc.textOrigins.empty()) << c.name;
    EXPECT_EQ(dc.textOrigins[0].x, c.first.x) << c.name;
    EXPECT_EQ(dc.textOrigins[0].y, c.first.y) << c.name;
  }
}

TEST(TextWatermark, TilingEndsForLargeAnglesAndZeroSteps) {
  // Angles past a full turn tile like the angle less whole turns.
  const std::size_t oneDegree = Draw(Record(kPlacementTile, 1), Cell()).textOrigins.size();
  ASSERT_GT(oneDegree, 1u);
  for (std::uint32_t angle : {361u, 721u}) {
    EXPECT_EQ(Draw(Record(kPlacementTile, angle), Cell()).textOrigins.size(), oneDegree) << angle;
  }
  for (std::uint32_t angle : {360u, 450u, 0xFFFFFFFFu}) {
    EXPECT_GT(Draw(Record(kPlacementTile, angle), Cell()).textOrigins.size(), 1u) << angle;
  }

  // A step that truncates to 0 gives one copy.
  struct Case {
    std::uint32_t angle;
    platform::Size extent;
  };
  const Case zeroSteps[] = {{0, {0, 5}}, {0, {1, 0}}, {90, {5, 0}}, {180, {0, 1}}, {450, {1, 0}}};
  for (const Case& c : zeroSteps) {
    RecordingDrawingContext dc = Draw(Record(kPlacementTile, c.angle), Cell(), c.extent);
    EXPECT_EQ(dc.textOrigins.size(), 1u) << c.angle << " " << c.extent.cx << "x" << c.extent.cy;
  }
}

TEST(TextWatermark, StyleFaceAndCharacterSet) {
  TextWatermark record = Record(kPlacementCentre, 30);
  record.styleFlags = kStyleBold | kStyleItalic;
  record.pointSize = 36;
  record.faceName = WString(40, VTEXT('F'));
  RecordingDrawingContext dc;
  dc.dpi = 300;
  dc.enumeratedCharSet = 238;
  std::uint8_t charSet = platform::kDefaultCharSet;
  DrawTextWatermark(dc, record, Cell(), 0, charSet);
  ASSERT_EQ(dc.fonts.size(), 1u);
  EXPECT_EQ(dc.fonts[0].height, -150);
  EXPECT_EQ(dc.fonts[0].escapement, 300);
  EXPECT_EQ(dc.fonts[0].weight, 700);
  EXPECT_TRUE(dc.fonts[0].italic);
  EXPECT_EQ(dc.fonts[0].faceName, WString(31, VTEXT('F')));
  EXPECT_EQ(dc.CallsStartingWith("FontCharSetOf"), std::vector<std::string>{"FontCharSetOf " + std::string(31, 'F')});
  // The enumerated character set is kept by the renderer and used for the font.
  EXPECT_EQ(dc.fonts[0].charSet, 238);
  EXPECT_EQ(charSet, 238);
}

TEST(TextWatermark, GreyFromDarkness) {
  // Darkness beyond 100 is not refused: the level wraps modulo 256 (255 - 510 gives 1).
  const std::pair<std::uint32_t, int> cases[] = {{0, 255}, {25, 192}, {50, 128}, {100, 0}, {99, 3}, {200, 1}};
  for (const auto& [darkness, gray] : cases) EXPECT_EQ(WatermarkGrayLevel(darkness), gray) << darkness;
}

TEST(TextWatermark, OutlineStrokesAndNeverFills) {
  TextWatermark outlined = Record(kPlacementCentre, 0);
  outlined.styleFlags = kStyleOutline;
  RecordingDrawingContext dc = Draw(outlined, Cell());
  const std::vector<std::string> painting = {"StrokePath", "FillPath"};
  std::vector<std::string> seen;
  for (const std::string& call : dc.calls) {
    if (call == "StrokePath" || call == "FillPath" || call == "StrokeAndFillPath") seen.push_back(call);
  }
  // The stroke consumes the path, so the fill that follows paints nothing.
  EXPECT_EQ(seen, painting);

  RecordingDrawingContext solid = Draw(Record(kPlacementCentre, 0), Cell());
  EXPECT_TRUE(solid.CallsStartingWith("StrokePath").empty());
}

TEST(TextWatermark, NothingDrawnButTheClipIsRestored) {
  struct Case {
    const char* name;
    std::uint32_t placement;
    platform::Size extent;
  };
  const Case cases[] = {
      {"empty text", kPlacementCentre, {0, 0}},
      {"empty tiled text", kPlacementTile, {0, 0}},
      {"fit is for bitmaps", 2, {1000, 200}},
  };
  for (const Case& c : cases) {
    TextWatermarkCell where = Cell({100, 200, 300, 400});
    where.clipBox = {10, 20, 30, 40};
    RecordingDrawingContext dc = Draw(Record(c.placement, 0), where, c.extent);
    EXPECT_TRUE(dc.textOrigins.empty()) << c.name;
    ASSERT_GE(dc.calls.size(), 8u) << c.name;
    const std::vector<std::string> restore = {"BeginPath",    "MoveTo 10 20", "LineTo 30 20", "LineTo 30 40",
                                              "LineTo 10 40", "LineTo 10 20", "EndPath"};
    EXPECT_EQ(std::vector<std::string>(dc.calls.end() - 8, dc.calls.end() - 1), restore) << c.name;
    EXPECT_EQ(dc.calls.back(), "SelectClipPath") << c.name;
    // The font made for the cell is deleted again.
    EXPECT_EQ(dc.CallsStartingWith("DeleteLogicalFont").size(), 1u) << c.name;
  }
}

TEST(TextWatermark, TextStopsAtItsFirstNul) {
  TextWatermark record = Record(kPlacementCentre, 0);
  record.text = WString(VTEXT("AB")) + WCHAR{0} + VTEXT("CD");
  RecordingDrawingContext dc = Draw(record, Cell());
  EXPECT_EQ(dc.CallsStartingWith("WriteText"), std::vector<std::string>{"WriteText 1900 3200 AB"});
}

}  // namespace
}  // namespace velmora

// The print host's drawing context: faces found through fontconfig, outlines through
// FreeType, and what is painted written as PCL XL path groups read back with the reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "host/drawing_context_pxl.h"
#include "host/font_outlines.h"
#include "pxl/reader.h"
#include "src/watermark/watermark_text.h"

namespace velmora::host {
namespace {

using platform::DeviceCap;
using pxl::Attr;
using pxl::Op;

// The Liberation faces stand in for Times New Roman with the same metrics: 2048 units per
// em, Windows ascent 1825 and descent 443, "H" 1479 units wide.
constexpr std::int32_t kEmOneUnitPerPixel = -2048;

TEST(FontOutlines, TimesNewRomanResolvesToAFaceFile) {
  struct Case {
    bool bold;
    bool italic;
  };
  for (const Case c : {Case{false, false}, Case{true, false}, Case{false, true}, Case{true, true}}) {
    const std::optional<FontMatch> match = MatchFont("Times New Roman", c.bold, c.italic);
    ASSERT_TRUE(match.has_value());
    EXPECT_TRUE(std::filesystem::is_regular_file(match->file)) << match->file;
    EXPECT_TRUE(match->family == "Times New Roman" || match->family == "Liberation Serif") << match->family;
    EXPECT_EQ(match->bold, c.bold) << match->file;
    EXPECT_EQ(match->italic, c.italic) << match->file;
  }
}

TEST(FontOutlines, MetricsFollowTheLogicalHeight) {
  const std::optional<FontMatch> match = MatchFont("Times New Roman", false, false);
  ASSERT_TRUE(match.has_value());
  struct Case {
    std::int32_t height;
    int ascent;
    int descent;
    int advanceOfH;
  };
  const Case cases[] = {
      {kEmOneUnitPerPixel, 1825, 443, 1479},
      // 600 pixels per em: 1825 * 600 / 2048 = 534.7, 443 * 600 / 2048 = 129.8.
      {-600, 535, 130, 433},
      // A positive height is the cell: ascent plus descent.
      {2268, 1825, 443, 1479},
  };
  for (const Case& c : cases) {
    std::unique_ptr<FontOutlines> font = FontOutlines::Open(*match, c.height, false, false);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->ascent(), c.ascent) << c.height;
    EXPECT_EQ(font->descent(), c.descent) << c.height;
    EXPECT_EQ(font->Advance(U'H'), c.advanceOfH) << c.height;
    // Every contour is opened by a move and closed.
    const auto& outline = font->Outline(U'H');
    ASSERT_FALSE(outline.empty());
    EXPECT_EQ(outline.front().kind, SegmentKind::kMove);
    EXPECT_EQ(outline.back().kind, SegmentKind::kClose);
    const auto moves = std::count_if(outline.begin(), outline.end(),
                                     [](const OutlineSegment& s) { return s.kind == SegmentKind::kMove; });
    const auto closes = std::count_if(outline.begin(), outline.end(),
                                      [](const OutlineSegment& s) { return s.kind == SegmentKind::kClose; });
    EXPECT_EQ(moves, closes);
  }
}

TEST(FontOutlines, CodePointsOfUtf16) {
  EXPECT_EQ(CodePoints(u"A\u00e9"), U"A\u00e9");
  EXPECT_EQ(CodePoints(u"\U0001F600x"), U"\U0001F600x");
  // Unpaired surrogates.
  EXPECT_EQ(CodePoints(std::u16string{0xD800, u'x', 0xDC00}), (std::u32string{0xFFFD, U'x', 0xFFFD}));
}

// A page of 4800 x 6600 pixels at 600 dpi whose bytes are collected.
class PxlContext : public ::testing::Test {
 protected:
  PxlContext()
      : dc_({4800, 6600, 600, 600, 5100, 6600, 150, 0, {}}, [this](std::span<const std::uint8_t> bytes) {
          written_.insert(written_.end(), bytes.begin(), bytes.end());
          ++writes_;
          return true;
        }) {}

  // The written operators, read back behind a stream header.
  std::vector<pxl::Event> Operators() {
    std::vector<std::uint8_t> job;
    const std::string header = ") HP-PCL XL;2;1\n";
    job.insert(job.end(), header.begin(), header.end());
    job.insert(job.end(), written_.begin(), written_.end());
    pxl::ParseResult result = pxl::Parse(job);
    EXPECT_TRUE(result.ok()) << result.error->ToString();
    std::vector<pxl::Event> operators;
    for (pxl::Event& event : result.events) {
      if (event.kind == pxl::EventKind::kOperator) operators.push_back(std::move(event));
    }
    return operators;
  }

  static std::vector<std::string> Names(const std::vector<pxl::Event>& operators) {
    std::vector<std::string> names;
    for (const pxl::Event& e : operators) names.emplace_back(pxl::OperatorName(e.op));
    return names;
  }

  platform::FontId SelectTimes(std::int32_t height, std::int32_t escapement = 0) {
    platform::FontDescription description;
    description.faceName = VTEXT("Times New Roman");
    description.height = height;
    description.escapement = escapement;
    const platform::FontId font = dc_.CreateLogicalFont(description);
    EXPECT_NE(font, 0u);
    dc_.SelectLogicalFont(font);
    return font;
  }

  void Rectangle(platform::Rect r) {
    dc_.BeginPath();
    dc_.MoveTo({r.left, r.top});
    dc_.LineTo({r.right, r.top});
    dc_.LineTo({r.right, r.bottom});
    dc_.LineTo({r.left, r.bottom});
    dc_.LineTo({r.left, r.top});
    dc_.EndPath();
  }

  DrawingContextPxl dc_;
  std::vector<std::uint8_t> written_;
  int writes_ = 0;
};

// The points of the path operators between two indexes, as (x, y) pairs.
std::vector<std::pair<std::int64_t, std::int64_t>> Points(const std::vector<pxl::Event>& ops, std::size_t from,
                                                          std::size_t to) {
  std::vector<std::pair<std::int64_t, std::int64_t>> points;
  for (std::size_t i = from; i < to; ++i) {
    for (const pxl::Attribute& a : ops[i].attributes) {
      if (a.id == static_cast<std::uint16_t>(Attr::Point) || a.id == static_cast<std::uint16_t>(Attr::EndPoint) ||
          a.id == static_cast<std::uint16_t>(Attr::ControlPoint1) ||
          a.id == static_cast<std::uint16_t>(Attr::ControlPoint2)) {
        points.emplace_back(a.value.Int(0), a.value.Int(1));
      }
    }
  }
  return points;
}

TEST_F(PxlContext, TextBecomesAClippedGreyPathInsideOneGraphicsStateGroup) {
  Rectangle({100, 100, 1000, 1000});
  ASSERT_TRUE(dc_.SelectClipPath());
  dc_.SetForegroundMix(platform::kMixMaskPen);
  SelectTimes(-600);
  dc_.BeginPath();
  dc_.SelectSolidBrush(192);
  ASSERT_TRUE(dc_.WriteText({200, 300}, VTEXT("HI")));
  EXPECT_TRUE(written_.empty()) << "nothing is written before the path is painted";
  dc_.EndPath();
  ASSERT_TRUE(dc_.FillPath());
  EXPECT_EQ(writes_, 1);

  const std::vector<pxl::Event> ops = Operators();
  const std::vector<std::string> names = Names(ops);
  ASSERT_GE(names.size(), 20u);
  const std::vector<std::string> opening = {"PushGS",         "SetClipMode", "NewPath",     "SetCursor",
                                            "LinePath",       "LinePath",    "LinePath",    "LinePath",
                                            "SetClipReplace", "SetROP",      "SetFillMode", "SetBrushSource",
                                            "SetPenSource",   "NewPath",     "SetCursor"};
  EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 15), opening);
  EXPECT_EQ(names[names.size() - 2], "PaintPath");
  EXPECT_EQ(names.back(), "PopGS");

  // The clip is the rectangle as traced.
  const std::vector<std::pair<std::int64_t, std::int64_t>> clip = {
      {100, 100}, {1000, 100}, {1000, 1000}, {100, 1000}, {100, 100}};
  EXPECT_EQ(Points(ops, 3, 8), clip);
  EXPECT_EQ(ops[8].Find(Attr::ClipRegion)->value.Int(), 0);  // eInterior
  EXPECT_EQ(ops[9].Find(Attr::ROP3)->value.Int(), 0xA0);     // destination AND brush
  EXPECT_EQ(ops[11].Find(Attr::GrayLevel)->value.Int(), 192);
  EXPECT_NE(ops[12].Find(Attr::NullPen), nullptr);

  // The text: H and I sit on the baseline one ascent (535) below the top at 300, from x 200
  // to at most 200 plus their advances (433 + 200).
  const std::size_t textStart = 13;
  const auto text = Points(ops, textStart, ops.size());
  std::int64_t minX = INT64_MAX, maxX = INT64_MIN, maxY = INT64_MIN;
  for (const auto& [x, y] : text) {
    minX = std::min(minX, x);
    maxX = std::max(maxX, x);
    maxY = std::max(maxY, y);
  }
  EXPECT_EQ(maxY, 835);
  EXPECT_GE(minX, 200);
  EXPECT_LE(maxX, 200 + 433 + 200);
  const auto count = [&](const char* name) { return std::count(names.begin() + 13, names.end(), name); };
  EXPECT_GE(count("SetCursor"), 2);
  EXPECT_EQ(count("SetCursor"), count("CloseSubPath"));
  EXPECT_GT(count("BezierPath") + count("LinePath"), 0);
}

TEST_F(PxlContext, EscapementTurnsTheBaseline) {
  // Turned a quarter counter-clockwise, the text runs up the page from its top left corner
  // and the baseline is the vertical one ascent to the right of it.
  SelectTimes(-600, 900);
  dc_.BeginPath();
  dc_.WriteText({200, 3000}, VTEXT("HH"));
  dc_.EndPath();
  ASSERT_TRUE(dc_.FillPath());
  const std::vector<pxl::Event> ops = Operators();
  std::int64_t maxX = INT64_MIN, maxY = INT64_MIN, minY = INT64_MAX;
  for (const auto& [x, y] : Points(ops, 0, ops.size())) {
    maxX = std::max(maxX, x);
    maxY = std::max(maxY, y);
    minY = std::min(minY, y);
  }
  EXPECT_EQ(maxX, 735);
  EXPECT_LE(maxY, 3000);
  EXPECT_GE(minY, 3000 - 2 * 433);
}

TEST_F(PxlContext, OutlineStrokesWithThePenAndLeavesNothingToFill) {
  SelectTimes(-600);
  dc_.BeginPath();
  dc_.WriteText({200, 300}, VTEXT("I"));
  dc_.EndPath();
  ASSERT_TRUE(dc_.StrokePath());
  EXPECT_FALSE(dc_.FillPath());
  EXPECT_EQ(writes_, 1);
  const std::vector<pxl::Event> ops = Operators();
  const auto find = [&](Op op) {
    return std::find_if(ops.begin(), ops.end(), [op](const pxl::Event& e) { return e.Is(op); });
  };
  EXPECT_NE(find(Op::SetBrushSource)->Find(Attr::NullBrush), nullptr);
  EXPECT_EQ(find(Op::SetPenSource)->Find(Attr::GrayLevel)->value.Int(), 0);
  EXPECT_EQ(find(Op::SetPenWidth)->Find(Attr::PenWidth)->value.Int(), 1);
  EXPECT_EQ(find(Op::SetClipReplace), ops.end()) << "no clip was selected";
}

TEST_F(PxlContext, StateClipAndFigures) {
  EXPECT_EQ(dc_.DeviceCaps(DeviceCap::kHorzRes), 4800);
  EXPECT_EQ(dc_.DeviceCaps(DeviceCap::kLogPixelsY), 600);
  EXPECT_EQ(dc_.DeviceCaps(DeviceCap::kHorzSize), 203);  // 8 inches
  EXPECT_EQ(dc_.DeviceCaps(DeviceCap::kVertSize), 279);  // 11 inches
  EXPECT_EQ(dc_.DeviceCaps(DeviceCap::kPhysicalOffsetX), 150);

  const auto box = [&] {
    const platform::Rect r = dc_.ClipBox();
    return std::vector<int>{r.left, r.top, r.right, r.bottom};
  };
  EXPECT_EQ(box(), (std::vector<int>{0, 0, 4800, 6600}));
  Rectangle({-50, 100, 1000, 9000});
  ASSERT_TRUE(dc_.SelectClipPath());
  EXPECT_EQ(box(), (std::vector<int>{0, 100, 1000, 6600}));
  ASSERT_TRUE(dc_.SaveState());
  Rectangle({10, 20, 30, 40});
  dc_.SelectClipPath();
  EXPECT_EQ(box(), (std::vector<int>{10, 20, 30, 40}));
  ASSERT_TRUE(dc_.RestoreState());
  EXPECT_EQ(box(), (std::vector<int>{0, 100, 1000, 6600}));
  EXPECT_FALSE(dc_.RestoreState());

  // Modes answer their previous values; unknown ones are refused.
  EXPECT_EQ(dc_.SetBackgroundMode(platform::kBackgroundTransparent), platform::kBackgroundOpaque);
  EXPECT_EQ(dc_.SetBackgroundMode(7), 0);
  EXPECT_EQ(dc_.SetForegroundMix(platform::kMixMaskPen), platform::kMixCopyPen);
  EXPECT_EQ(dc_.SetForegroundMix(0), 0);

  // Painting needs an ended path; a selected font is not deleted.
  dc_.BeginPath();
  EXPECT_FALSE(dc_.FillPath());
  const platform::FontId font = SelectTimes(-100);
  EXPECT_FALSE(dc_.DeleteLogicalFont(font));
  EXPECT_EQ(dc_.SelectLogicalFont(0), font);
  EXPECT_TRUE(dc_.DeleteLogicalFont(font));
  EXPECT_FALSE(dc_.TextExtent(VTEXT("x")).has_value());
  EXPECT_TRUE(written_.empty());
}

TEST_F(PxlContext, TextExtentIsTheSumOfAdvancesAndTheCellHeight) {
  SelectTimes(kEmOneUnitPerPixel);
  const std::optional<platform::Size> one = dc_.TextExtent(VTEXT("H"));
  const std::optional<platform::Size> three = dc_.TextExtent(VTEXT("HHH"));
  ASSERT_TRUE(one && three);
  EXPECT_EQ(one->cx, 1479);
  EXPECT_EQ(one->cy, 1825 + 443);
  EXPECT_EQ(three->cx, 3 * 1479);
  EXPECT_EQ(dc_.TextExtent(VTEXT(""))->cx, 0);
  EXPECT_EQ(dc_.FontCharSetOf(VTEXT("Times New Roman")), platform::kAnsiCharSet);
}

TEST_F(PxlContext, TextWatermarkOnThePage) {
  // The default watermark record drawn on the host's page: one group, clipped to the cell,
  // grey 192 under the darkening mix; the context's own state is put back afterwards.
  TextWatermark record;
  record.text = VTEXT("CONFIDENTIAL");
  record.faceName = VTEXT("Times New Roman");
  TextWatermarkCell where;
  where.cell = {0, 0, 4800, 6600};
  where.clipBox = dc_.ClipBox();
  std::uint8_t charSet = platform::kDefaultCharSet;
  DrawTextWatermark(dc_, record, where, 0, charSet);

  const std::vector<pxl::Event> ops = Operators();
  const std::vector<std::string> names = Names(ops);
  EXPECT_EQ(std::count(names.begin(), names.end(), "PushGS"), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), "PopGS"), 1);
  EXPECT_EQ(names.front(), "PushGS");
  EXPECT_EQ(names.back(), "PopGS");
  const auto find = [&](Op op) {
    return std::find_if(ops.begin(), ops.end(), [op](const pxl::Event& e) { return e.Is(op); });
  };
  EXPECT_EQ(find(Op::SetROP)->Find(Attr::ROP3)->value.Int(), 0xA0);
  EXPECT_EQ(find(Op::SetBrushSource)->Find(Attr::GrayLevel)->value.Int(), 192);
  EXPECT_NE(find(Op::SetClipReplace), ops.end());
  EXPECT_EQ(charSet, platform::kAnsiCharSet);
  EXPECT_EQ(dc_.SetForegroundMix(platform::kMixCopyPen), platform::kMixCopyPen);
  EXPECT_EQ(dc_.SetBackgroundMode(platform::kBackgroundOpaque), platform::kBackgroundOpaque);
}

}  // namespace
}  // namespace velmora::host

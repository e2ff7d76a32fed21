// The watermark layout: N-up and booklet orders, the cells of a sheet, and the watermark
// records adapted to the pages per sheet.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "formats/text.h"
#include "platform/text_encoding.h"
#include "src/watermark/watermark_layout.h"

namespace velmora {
namespace {

using Order = std::vector<std::int32_t>;

LayoutSettings NupSettings(std::int16_t perSheet, std::uint32_t nupOrder, std::uint32_t twoUpOrder = 0) {
  LayoutSettings settings;
  settings.vdmPagesPerSheet = perSheet;
  settings.dwNupOrder = nupOrder;
  settings.dwTwoUpOrder = twoUpOrder;
  return settings;
}

TEST(WatermarkLayout, ColumnsAndRowsByOrientation) {
  struct Case {
    std::int16_t perSheet;
    int portraitColumns, portraitRows, landscapeColumns, landscapeRows;
  };
  const Case cases[] = {
      {1, 1, 1, 1, 1}, {2, 1, 2, 2, 1}, {4, 2, 2, 2, 2},  {6, 2, 3, 3, 2},
      {8, 2, 4, 4, 2}, {9, 3, 3, 3, 3}, {16, 4, 4, 4, 4}, {3, 7, 5, 7, 5},  // no layout: the caller's values stay
  };
  for (const Case& c : cases) {
    int columns = 7;
    int rows = 5;
    if (c.perSheet != 3) columns = rows = 1;
    Utility::GetLayoutInfo(columns, rows, NupSettings(c.perSheet, 0), kOrientationPortrait);
    EXPECT_EQ(columns, c.portraitColumns) << c.perSheet;
    EXPECT_EQ(rows, c.portraitRows) << c.perSheet;
    if (c.perSheet != 3) columns = rows = 1;
    Utility::GetLayoutInfo(columns, rows, NupSettings(c.perSheet, 0), 2);
    EXPECT_EQ(columns, c.landscapeColumns) << c.perSheet;
    EXPECT_EQ(rows, c.landscapeRows) << c.perSheet;
  }
}

TEST(WatermarkLayout, NupOrders) {
  struct Case {
    std::int16_t perSheet;
    std::int16_t orientation;
    std::uint32_t order;
    Order expected;
  };
  const Case cases[] = {
      {4, 1, 0, {1, 2, 3, 4}},
      {4, 1, 1, {3, 4, 1, 2}},
      {4, 1, 2, {2, 1, 4, 3}},
      {4, 1, 3, {4, 3, 2, 1}},
      {4, 1, 4, {1, 3, 2, 4}},
      {4, 1, 5, {2, 4, 1, 3}},
      {4, 1, 6, {3, 1, 4, 2}},
      {4, 1, 7, {4, 2, 3, 1}},
      {6, 1, 0, {1, 2, 3, 4, 5, 6}},
      {6, 1, 1, {4, 5, 6, 1, 2, 3}},
      {6, 1, 2, {3, 2, 1, 6, 5, 4}},
      {6, 1, 3, {6, 5, 4, 3, 2, 1}},
      {6, 1, 4, {1, 3, 5, 2, 4, 6}},
      {6, 1, 5, {2, 4, 6, 1, 3, 5}},
      {6, 1, 6, {5, 3, 1, 6, 4, 2}},
      {6, 1, 7, {6, 4, 2, 5, 3, 1}},
      // Landscape 6-up is three columns of two rows.
      {6, 2, 1, {5, 6, 3, 4, 1, 2}},
      {6, 2, 4, {1, 4, 2, 5, 3, 6}},
      {9, 1, 1, {7, 8, 9, 4, 5, 6, 1, 2, 3}},
      {9, 1, 4, {1, 4, 7, 2, 5, 8, 3, 6, 9}},
      {8, 1, 3, {8, 7, 6, 5, 4, 3, 2, 1}},
      {16, 1, 7, {16, 12, 8, 4, 15, 11, 7, 3, 14, 10, 6, 2, 13, 9, 5, 1}},
      {1, 1, 5, {1}},
      {4, 1, 8, {}},  // an order the table does not know
      {4, 1, 0xFFFFFFFF, {}},
  };
  for (const Case& c : cases) {
    int columns = 1;
    int rows = 1;
    const LayoutSettings settings = NupSettings(c.perSheet, c.order);
    Utility::GetLayoutInfo(columns, rows, settings, c.orientation);
    Order order;
    Utility::GetLayoutData(columns, rows, order, settings);
    EXPECT_EQ(order, c.expected) << c.perSheet << "-up, orientation " << c.orientation << ", order " << c.order;
  }
}

TEST(WatermarkLayout, TwoUpOrderIgnoresTheNupOrder) {
  const std::pair<std::uint32_t, Order> cases[] = {{0, {1, 2}}, {1, {2, 1}}, {2, {}}, {7, {}}};
  for (const auto& [twoUp, expected] : cases) {
    for (std::int16_t orientation : {1, 2}) {
      EXPECT_EQ(BuildLayoutOrder(NupSettings(2, 6, twoUp), orientation, 10), expected) << twoUp;
    }
  }
}

TEST(WatermarkLayout, BookletOrders) {
  struct Case {
    std::uint32_t pages;
    std::int16_t subset;
    bool reverse;
    Order expected;
  };
  const Case cases[] = {
      {8, 0, false, {8, 1, 2, 7, 6, 3, 4, 5}},
      {8, 0, true, {1, 8, 7, 2, 3, 6, 5, 4}},
      {5, 0, false, {8, 1, 2, 7, 6, 3, 4, 5}},
      {1, 0, false, {4, 1, 2, 3}},
      {0, 0, false, {}},
      {16, 8, false, {8, 1, 2, 7, 6, 3, 4, 5, 16, 9, 10, 15, 14, 11, 12, 13}},
      {10, 8, false, {8, 1, 2, 7, 6, 3, 4, 5, 12, 9, 10, 11}},
      {10, 8, true, {1, 8, 7, 2, 3, 6, 5, 4, 9, 12, 11, 10}},
      // A subset larger than the page total makes one booklet.
      {8, 12, false, {8, 1, 2, 7, 6, 3, 4, 5}},
      {8, -4, false, {8, 1, 2, 7, 6, 3, 4, 5}},
      {12, 4, false, {4, 1, 2, 3, 8, 5, 6, 7, 12, 9, 10, 11}},
  };
  for (const Case& c : cases) {
    LayoutSettings settings;
    settings.bBooklet = 1;
    settings.vdmPagesPerSheet = 2;
    settings.sBookletSubset = c.subset;
    settings.bBookletReverse = c.reverse ? 1 : 0;
    EXPECT_EQ(BuildLayoutOrder(settings, 1, c.pages), c.expected)
        << c.pages << " pages, subset " << c.subset << (c.reverse ? ", reverse" : "");
  }
}

TEST(WatermarkLayout, BookletOfAnAbsurdPageTotalStaysBounded) {
  LayoutSettings settings;
  settings.bBooklet = 1;
  const Order order = BuildLayoutOrder(settings, 1, 0xFFFFFFFF);
  ASSERT_EQ(order.size(), kMaxBookletPages);
  EXPECT_EQ(order.front(), static_cast<std::int32_t>(kMaxBookletPages));
  EXPECT_EQ(order[1], 1);
}

// The pages a 5-page job printed 4-up watermarks, sheet by sheet, the way the renderer's
// per-sheet loop reads the order: page = (sheet - 1) x pages per sheet + order[i], pages
// beyond the total skipped, cell (page - 1) mod pages per sheet.
TEST(WatermarkLayout, FivePagesFourUp) {
  const LayoutSettings settings = NupSettings(4, 0);
  const Order order = BuildLayoutOrder(settings, 1, 5);
  std::map<int, std::vector<std::pair<int, int>>> sheets;  // sheet: (page, cell)
  for (int sheet = 1; sheet <= 2; ++sheet) {
    for (std::size_t i = 0; i < 4 && i < order.size(); ++i) {
      const int page = (sheet - 1) * 4 + order[i];
      if (page > 5) continue;
      sheets[sheet].emplace_back(page, (page - 1) % 4);
    }
  }
  EXPECT_EQ(sheets[1], (std::vector<std::pair<int, int>>{{1, 0}, {2, 1}, {3, 2}, {4, 3}}));
  EXPECT_EQ(sheets[2], (std::vector<std::pair<int, int>>{{5, 0}}));

  // 2-up, order 1: sheet 3 holds pages 6 then 5.
  const Order twoUp = BuildLayoutOrder(NupSettings(2, 0, 1), 1, 6);
  ASSERT_EQ(twoUp.size(), 2u);
  EXPECT_EQ(2 * 2 + twoUp[0], 6);
  EXPECT_EQ(2 * 2 + twoUp[1], 5);
}

TEST(WatermarkLayout, BorderRectsFromTheCellList) {
  const CellRect list[4] = {{0, 0, 100, 50}, {100, 0, 200, 50}, {0, 50, 100, 100}, {100, 50, 200, 100}};
  const CellRect untouched{-1, -1, -1, -1};
  struct Case {
    const char* name;
    LayoutSettings settings;
    const CellRect* cells;
    std::size_t capacity;
    std::size_t rectCount;
    std::vector<CellRect> expected;
  };
  LayoutSettings fourUp = NupSettings(4, 0);
  LayoutSettings special = fourUp;
  special.dwSpecialPageKind = 2;
  LayoutSettings onePageSpecial = NupSettings(1, 0);
  onePageSpecial.dwSpecialPageKind = 1;
  LayoutSettings unknown = NupSettings(5, 0);
  // A 2-up sheet's cells lie one above the other on a portrait sheet; they are taken as
  // delivered, whatever their shape.
  LayoutSettings twoUp = NupSettings(2, 0);
  const CellRect turned[2] = {{0, 0, 4800, 3300}, {0, 3300, 4800, 6600}};
  const Case cases[] = {
      {"4-up, whole list", fourUp, list, 4, 4, {list[0], list[1], list[2], list[3]}},
      {"4-up, list of 2", fourUp, list, 2, 4, {list[0], list[1], untouched, untouched}},
      {"4-up, no list", fourUp, nullptr, 0, 4, {untouched, untouched, untouched, untouched}},
      {"4-up, special page", special, list, 4, 4, {untouched, untouched, untouched, untouched}},
      {"4-up, fewer rects", fourUp, list, 4, 3, {list[0], list[1], list[2]}},
      {"2-up, rotated", twoUp, turned, 2, 2, {turned[0], turned[1]}},
      {"1-up", NupSettings(1, 0), list, 4, 1, {{0, 0, 4800, 6600}}},
      {"1-up special", onePageSpecial, nullptr, 0, 1, {{0, 0, 4800, 6600}}},
      {"5 per sheet", unknown, list, 4, 4, {untouched, untouched, untouched, untouched}},
  };
  for (const Case& c : cases) {
    std::vector<CellRect> rects(c.rectCount, untouched);
    SetBorderRectsForPage(rects, c.settings, DeviceResolution{4800, 6600}, c.cells, c.capacity);
    ASSERT_EQ(rects.size(), c.expected.size()) << c.name;
    for (std::size_t i = 0; i < rects.size(); ++i) {
      EXPECT_EQ(rects[i].left, c.expected[i].left) << c.name << " cell " << i;
      EXPECT_EQ(rects[i].top, c.expected[i].top) << c.name << " cell " << i;
      EXPECT_EQ(rects[i].right, c.expected[i].right) << c.name << " cell " << i;
      EXPECT_EQ(rects[i].bottom, c.expected[i].bottom) << c.name << " cell " << i;
    }
  }
}

TEST(WatermarkLayout, BorderRectsFromTheVendorArea) {
  VendorData area;
  ClearVendorData(area);
  area.pCellRects = std::make_unique<CellRect[]>(2);
  area.pCellRects[0] = {1, 2, 3, 4};
  area.pCellRects[1] = {5, 6, 7, 8};
  area.wCellRectCapacity = 2;
  area.wCellRectCount = 9;  // counts on past the list: never an index
  std::vector<CellRect> rects(4, CellRect{0, 0, 0, 0});
  SetBorderRectsForPage(rects, NupSettings(4, 0), DeviceResolution{10, 10}, &area);
  EXPECT_EQ(rects[1].bottom, 8);
  EXPECT_EQ(rects[2].bottom, 0);
  SetBorderRectsForPage(rects, NupSettings(4, 0), DeviceResolution{10, 10}, nullptr);
  EXPECT_EQ(rects[0].left, 1);
}

WString W(const char* text) { return platform::Utf8ToUtf16(text); }

TEST(WatermarkLayout, NupParametersForEveryPagesPerSheet) {
  struct Case {
    std::int16_t perSheet;
    float fScale;
    std::uint32_t pointSize;
    std::uint32_t angle;
    float nupScale;
  };
  // From a record of 72 points at 45 degrees.
  const Case cases[] = {
      {1, 1.0F, 72, 45, 1.0F},         {2, 1.0F, 36, 135, 0.75F},       {4, 1.0F, 36, 45, 0.75F},
      {6, 1.0F, 24, 135, 0.33333334F}, {8, 1.0F, 18, 135, 0.25F},       {9, 1.0F, 24, 45, 0.33333334F},
      {16, 1.0F, 18, 45, 0.25F},       {1, 0.5F, 36, 45, 0.5F},         {4, 0.5F, 18, 45, 0.375F},
      {3, 1.0F, 72, 45, 1.0F},         {6, 0.7F, 16, 135, 0.23333333F}, {1, -1.0F, 0, 45, -1.0F},
  };
  for (const Case& c : cases) {
    LayoutSettings settings = NupSettings(c.perSheet, 0);
    settings.fScale = c.fScale;
    WatermarkAdjustment first{72, 45, WString(), true};
    WatermarkAdjustment next{72, 45, WString(), true};
    float nupScale = kInitialNupScale;
    TurnedImageCopies copies([](const WString&) {});
    SetNupWatermarkParameters(settings, nupScale, &first, &next, nullptr, copies);
    for (const WatermarkAdjustment* record : {&first, &next}) {
      EXPECT_EQ(record->pointSize, c.pointSize) << c.perSheet << " per sheet, scale " << c.fScale;
      EXPECT_EQ(record->angle, c.angle) << c.perSheet << " per sheet";
      EXPECT_TRUE(record->imagePath.empty());
    }
    EXPECT_FLOAT_EQ(nupScale, c.nupScale) << c.perSheet << " per sheet, scale " << c.fScale;
    EXPECT_TRUE(copies.paths().empty());
  }
}

TEST(WatermarkLayout, RotatedLayoutsTurnImagesIntoCopiesThatAreDeleted) {
  struct Turn {
    std::string image;
    int quarterTurns;
  };
  for (std::int16_t perSheet : {1, 2, 4, 6, 8, 9, 16}) {
    std::vector<Turn> turns;
    std::vector<std::string> deleted;
    int made = 0;
    const TurnImageFunction turn = [&](const WString& path, int quarterTurns) -> std::optional<WString> {
      turns.push_back({platform::Utf16ToUtf8(path), quarterTurns});
      if (platform::Utf16ToUtf8(path) == "/img/broken.png") return std::nullopt;
      return W(("/tmp/turned_" + std::to_string(++made) + ".bmp").c_str());
    };
    LayoutSettings settings = NupSettings(perSheet, 0);
    WatermarkAdjustment first{72, 0, W("/img/logo.png"), true};
    WatermarkAdjustment next{72, 0, W("/img/broken.png"), true};
    float nupScale = kInitialNupScale;
    {
      TurnedImageCopies copies([&](const WString& path) { deleted.push_back(platform::Utf16ToUtf8(path)); });
      SetNupWatermarkParameters(settings, nupScale, &first, &next, turn, copies);
      EXPECT_TRUE(deleted.empty());
    }
    if (!IsRotatedLayout(perSheet)) {
      EXPECT_TRUE(turns.empty()) << perSheet;
      EXPECT_EQ(platform::Utf16ToUtf8(first.imagePath), "/img/logo.png");
      EXPECT_TRUE(first.imageAvailable && next.imageAvailable);
      EXPECT_TRUE(deleted.empty());
      continue;
    }
    ASSERT_EQ(turns.size(), 2u) << perSheet;
    EXPECT_EQ(turns[0].image, "/img/logo.png");
    EXPECT_EQ(turns[0].quarterTurns, 3);
    EXPECT_EQ(platform::Utf16ToUtf8(first.imagePath), "/tmp/turned_1.bmp");
    EXPECT_TRUE(first.imageAvailable);
    // An image that cannot be turned places nothing, and the user's file is not deleted.
    EXPECT_FALSE(next.imageAvailable);
    EXPECT_EQ(deleted, std::vector<std::string>{"/tmp/turned_1.bmp"}) << perSheet;
  }
}

TEST(WatermarkLayout, OneImageForBothRecordsIsTurnedOnce) {
  int calls = 0;
  const TurnImageFunction turn = [&](const WString&, int) -> std::optional<WString> {
    ++calls;
    return W("/tmp/copy.bmp");
  };
  std::vector<std::string> deleted;
  WatermarkAdjustment first{72, 45, W("/img/logo.bmp"), true};
  WatermarkAdjustment next{72, 45, W("/img/logo.bmp"), true};
  float nupScale = kInitialNupScale;
  {
    TurnedImageCopies copies([&](const WString& path) { deleted.push_back(platform::Utf16ToUtf8(path)); });
    SetNupWatermarkParameters(NupSettings(8, 0), nupScale, &first, &next, turn, copies);
  }
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(platform::Utf16ToUtf8(next.imagePath), "/tmp/copy.bmp");
  EXPECT_EQ(deleted, std::vector<std::string>{"/tmp/copy.bmp"});
}

TEST(WatermarkLayout, ACopyNamedLikeTheUsersImageIsNeverDeleted) {
  const TurnImageFunction sameName = [](const WString& path, int) -> std::optional<WString> { return path; };
  std::vector<std::string> deleted;
  WatermarkAdjustment first{72, 45, W("/img/logo.bmp"), true};
  float nupScale = kInitialNupScale;
  {
    TurnedImageCopies copies([&](const WString& path) { deleted.push_back(platform::Utf16ToUtf8(path)); });
    SetNupWatermarkParameters(NupSettings(2, 0), nupScale, &first, nullptr, sameName, copies);
    // No image service at all: the record places nothing.
    WatermarkAdjustment other{72, 45, W("/img/other.bmp"), true};
    SetNupWatermarkParameters(NupSettings(2, 0), nupScale, nullptr, &other, nullptr, copies);
    EXPECT_FALSE(other.imageAvailable);
  }
  EXPECT_FALSE(first.imageAvailable);
  EXPECT_TRUE(deleted.empty());
}

}  // namespace
}  // namespace velmora

// The host's sheet layout: where each logical page goes, how it is drawn there, the
// layout escapes, and whole N-up and booklet jobs through the plug-in module.
#include <gtest/gtest.h>

#include "tests/fakes/job_folder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "host/host_error.h"
#include "host/print_job.h"
#include "host/sheet_layout.h"
#include "pxl/reader.h"

namespace velmora::host {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using pxl::Attr;
using pxl::Event;
using pxl::Op;

SheetLayoutSettings Nup(int perSheet, std::uint32_t nupOrder, bool portrait = true, std::uint32_t twoUp = 0) {
  SheetLayoutSettings settings;
  settings.pagesPerSheet = perSheet;
  settings.nupOrder = nupOrder;
  settings.twoUpOrder = twoUp;
  settings.portrait = portrait;
  return settings;
}

bool SameRect(const RECTL& a, const RECTL& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Show(const RECTL& r) {
  return "{" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
         std::to_string(r.bottom) + "}";
}

// How each N-up order sorts the pages: by the first key, then the second, each running
// across (left to right) or down (top to bottom) the sheet as read, or against it.
enum Key { kAcross, kBack, kDown, kUp };
constexpr std::pair<Key, Key> kOrders[] = {
    {kAcross, kDown},  // 0 down then right
    {kBack, kDown},    // 1 down then left
    {kAcross, kUp},    // 2 up then right
    {kBack, kUp},      // 3 up then left
    {kDown, kAcross},  // 4 right then down
    {kDown, kBack},    // 5 left then down
    {kUp, kAcross},    // 6 right then up
    {kUp, kBack},      // 7 left then up
};

TEST(SheetLayout, FourUpCellsGoDownThenRight) {
  const SheetPlan plan(Nup(4, 0), 5, SIZEL{2000, 3000});
  ASSERT_EQ(plan.sheets().size(), 2u);
  const std::vector<SheetCell>& first = plan.sheets()[0].cells;
  ASSERT_EQ(first.size(), 4u);
  const RECTL expected[] = {{0, 0, 1000, 1500}, {0, 1500, 1000, 3000}, {1000, 0, 2000, 1500}, {1000, 1500, 2000, 3000}};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(first[i].page, i + 1);
    EXPECT_TRUE(SameRect(first[i].cell, expected[i])) << i << " " << Show(first[i].cell);
  }
  const std::vector<SheetCell>& second = plan.sheets()[1].cells;
  ASSERT_EQ(second.size(), 4u);
  EXPECT_EQ(second[0].page, 5u);
  EXPECT_EQ(second[1].page, 0u);  // blank cells still have their rectangles
  EXPECT_TRUE(SameRect(second[3].cell, expected[3]));
}

// Every order means what it says as a reader sees the sheet, held so that its pages
// stand upright (a layout that turns its pages is read with the sheet turned a quarter
// clockwise), and slot i of every sheet holds the page p with (p - 1) mod n = i, which is
// the cell the plug-in puts that page's watermark in.
TEST(SheetLayout, OrdersReadAsTheyNameFromTheReadersSide) {
  for (int perSheet : {2, 4, 6, 8, 9, 16}) {
    for (bool portrait : {true, false}) {
      for (std::uint32_t order = 0; order < 8; ++order) {
        SCOPED_TRACE(std::to_string(perSheet) + "-up, " + (portrait ? "portrait" : "landscape") + ", order " +
                     std::to_string(order));
        const SIZEL sheetSize = portrait ? SIZEL{4800, 6600} : SIZEL{6600, 4800};
        const auto pages = static_cast<std::size_t>(2 * perSheet);
        const SheetPlan plan(Nup(perSheet, order, portrait, order % 2), pages, sheetSize);
        ASSERT_EQ(plan.sheets().size(), 2u);
        // The two-up order is 0 or 1: the first page first, or the second.
        const std::pair<Key, Key> keys = perSheet == 2 ? kOrders[order % 2 == 0 ? 0 : 3] : kOrders[order];
        for (std::size_t s = 0; s < 2; ++s) {
          const std::vector<SheetCell>& cells = plan.sheets()[s].cells;
          ASSERT_EQ(cells.size(), static_cast<std::size_t>(perSheet));
          struct Seen {
            std::size_t page;
            double across, down;
          };
          std::vector<Seen> seen;
          for (std::size_t slot = 0; slot < cells.size(); ++slot) {
            const SheetCell& cell = cells[slot];
            EXPECT_EQ(cell.page, s * perSheet + slot + 1);
            // Where the page's top points: from its centre to the middle of its top edge.
            const PageTransform& t = cell.transform;
            const POINTL centre = t.Apply(POINTL{sheetSize.cx / 2, sheetSize.cy / 2});
            const POINTL top = t.Apply(POINTL{sheetSize.cx / 2, 0});
            const double upX = top.x - centre.x;
            const double upY = top.y - centre.y;
            const double length = std::hypot(upX, upY);
            // The reader's right is up turned a quarter clockwise.
            seen.push_back(
                {cell.page, (-upY * centre.x + upX * centre.y) / length, -(upX * centre.x + upY * centre.y) / length});
          }
          const auto value = [](Key key, const Seen& p) {
            switch (key) {
              case kAcross: return p.across;
              case kBack: return -p.across;
              case kDown: return p.down;
              case kUp: return -p.down;
            }
            return 0.0;
          };
          std::sort(seen.begin(), seen.end(), [&](const Seen& a, const Seen& b) {
            const double first = value(keys.first, a) - value(keys.first, b);
            if (std::abs(first) > 1) return first < 0;
            return value(keys.second, a) < value(keys.second, b);
          });
          for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i].page, s * perSheet + i + 1);
        }
      }
    }
  }
}

// A job laid out as CUPS's pdftopdf lays pages out reads the order on the sheet as it lies
// when the pages lie across it, not as the reader who turns the sheet to read them holds
// it.
TEST(SheetLayout, OrderOnTheSheetReadsAsTheSheetLies) {
  for (int perSheet : {4, 9, 16}) {
    for (bool portrait : {true, false}) {
      for (std::uint32_t order = 0; order < 8; ++order) {
        SCOPED_TRACE(std::to_string(perSheet) + "-up, " + (portrait ? "portrait" : "landscape") + ", order " +
                     std::to_string(order));
        SheetLayoutSettings settings = Nup(perSheet, order, portrait);
        settings.pagesAcross = true;
        settings.orderOnSheet = true;
        const SheetPlan plan(settings, static_cast<std::size_t>(perSheet),
                             portrait ? SIZEL{4800, 6600} : SIZEL{6600, 4800});
        std::vector<SheetCell> cells = plan.sheets().at(0).cells;
        const auto value = [](Key key, const SheetCell& cell) {
          switch (key) {
            case kAcross: return cell.cell.left;
            case kBack: return -cell.cell.left;
            case kDown: return cell.cell.top;
            case kUp: return -cell.cell.top;
          }
          return 0;
        };
        const std::pair<Key, Key> keys = kOrders[order];
        std::sort(cells.begin(), cells.end(), [&](const SheetCell& a, const SheetCell& b) {
          if (value(keys.first, a) != value(keys.first, b)) return value(keys.first, a) < value(keys.first, b);
          return value(keys.second, a) < value(keys.second, b);
        });
        for (std::size_t i = 0; i < cells.size(); ++i) EXPECT_EQ(cells[i].page, i + 1);
      }
    }
  }
}

TEST(SheetLayout, TransformsFitTurnAndCentreThePage) {
  struct Case {
    const char* name;
    SheetLayoutSettings settings;
    std::size_t cell;
    POINTL in;
    POINTL out;
  };
  SheetLayoutSettings zoomed = Nup(1, 0);
  zoomed.scale = 0.5F;
  SheetLayoutSettings tooLarge = Nup(1, 0);
  tooLarge.scale = 2.0F;
  // Sheet 4800 x 6600. 2-up: cells 4800 x 3300 one above the other, page 1 in the lower
  // one (on the left of a reader who turns the sheet to read it); the turned page is
  // 6600 x 4800 and fits at 0.6875 (3300 / 4800), 4537.5 wide, centred 131.25 from the left.
  const Case cases[] = {
      {"1-up", Nup(1, 0), 0, {100, 200}, {100, 200}},
      {"1-up zoomed", zoomed, 0, {0, 0}, {1200, 1650}},
      {"1-up zoom over 1", tooLarge, 0, {100, 200}, {100, 200}},
      {"2-up top left", Nup(2, 0), 0, {0, 0}, {131, 6600}},
      {"2-up top right", Nup(2, 0), 0, {4800, 0}, {131, 3300}},
      {"2-up bottom left", Nup(2, 0), 0, {0, 6600}, {4669, 6600}},
      {"2-up second page", Nup(2, 0), 1, {4800, 0}, {131, 0}},
      {"4-up", Nup(4, 0), 2, {4800, 6600}, {4800, 3300}},
  };
  for (const Case& c : cases) {
    const SheetPlan plan(c.settings, 2, SIZEL{4800, 6600});
    const PageTransform& transform = plan.sheets()[0].cells[c.cell].transform;
    const POINTL out = transform.Apply(c.in);
    EXPECT_EQ(out.x, c.out.x) << c.name;
    EXPECT_EQ(out.y, c.out.y) << c.name;
  }
}

TEST(SheetLayout, ImagesTurnCounterClockwise) {
  GrayImage image;
  image.width = 3;
  image.height = 2;
  image.pixels = {1, 2, 3, 4, 5, 6};
  const GrayImage turned = TurnQuarterCounterClockwise(image);
  EXPECT_EQ(turned.width, 2);
  EXPECT_EQ(turned.height, 3);
  EXPECT_EQ(turned.pixels, (std::vector<std::uint8_t>{3, 6, 2, 5, 1, 4}));
  image.pixels.pop_back();  // too short: nothing
  EXPECT_EQ(TurnQuarterCounterClockwise(image).width, 0);
}

TEST(SheetLayout, BookletSidesAndSlots) {
  SheetLayoutSettings settings = Nup(1, 0);
  settings.booklet = true;
  const SheetPlan plan(settings, 5, SIZEL{4800, 6600});
  EXPECT_EQ(plan.pagesPerSheet(), 2);
  // Sides 8|1, 2|7, 6|3, 4|5; slot 0 holds the odd page, slot 1 the even one; pages 6 to 8
  // are blank.
  const std::size_t slots[][2] = {{1, 0}, {0, 2}, {3, 0}, {5, 4}};
  ASSERT_EQ(plan.sheets().size(), 4u);
  for (std::size_t side = 0; side < 4; ++side) {
    EXPECT_EQ(plan.sheets()[side].cells[0].page, slots[side][0]) << side;
    EXPECT_EQ(plan.sheets()[side].cells[1].page, slots[side][1]) << side;
  }
  // Read with the sheet turned a quarter clockwise, the leading page of a side is on the
  // left, in the lower cell of a portrait sheet: page 1, trailing on side 1, lies above.
  EXPECT_EQ(plan.sheets()[0].cells[0].cell.top, 0);
  EXPECT_EQ(plan.sheets()[0].cells[1].cell.top, 3300);

  settings.bookletSubset = 6;
  EXPECT_THROW(SheetPlan(settings, 12, SIZEL{4800, 6600}), HostError);
  settings.bookletSubset = 8;
  const SheetPlan subsets(settings, 10, SIZEL{4800, 6600});
  ASSERT_EQ(subsets.sheets().size(), 6u);
  // The second subset: 12|9, 10|11.
  EXPECT_EQ(subsets.sheets()[4].cells[0].page, 9u);
  EXPECT_EQ(subsets.sheets()[4].cells[1].page, 0u);
  EXPECT_EQ(subsets.sheets()[5].cells[0].page, 0u);
  EXPECT_EQ(subsets.sheets()[5].cells[1].page, 10u);
}

struct SentEscape {
  ULONG code;
  Bytes input;
};

TEST(SheetLayout, EscapesOfAFivePageFourUpDocument) {
  const SheetPlan plan(Nup(4, 0), 5, SIZEL{2000, 3000});
  LayoutEscapes escapes(plan, {{2, 1}});
  std::vector<SentEscape> sent;
  HANDLE field = nullptr;
  const EscapeFunction record = [&](ULONG code, ULONG size, void* in, ULONG outSize, void* out) -> ULONG {
    const auto* bytes = static_cast<const std::uint8_t*>(in);
    sent.push_back({code, bytes != nullptr ? Bytes(bytes, bytes + size) : Bytes()});
    if (code != 2462 || outSize < 8) return 1;
    HANDLE* address = &field;
    std::memcpy(out, &address, sizeof address);
    return 8;
  };
  escapes.SendDocumentStart(record);
  EXPECT_EQ(escapes.watermarkDcField(), &field);
  escapes.SendSheet(record, 1);
  const std::vector<SentEscape> expected = {
      {2469, {0x04, 0x00}},
      {2463, {0x00, 0x00, 0x80, 0x3F}},
      {2462, {}},
      {2458, {0x00, 0x00, 0x00, 0x00}},
      {2466, {0x05, 0x00, 0x00, 0x00}},
      {2468, {0, 0, 0, 0, 0, 0, 0, 0, 0xE8, 0x03, 0, 0, 0xDC, 0x05, 0, 0}},
      {2468, {0, 0, 0, 0, 0xDC, 0x05, 0, 0, 0xE8, 0x03, 0, 0, 0xB8, 0x0B, 0, 0}},
      {2468, {0xE8, 0x03, 0, 0, 0, 0, 0, 0, 0xD0, 0x07, 0, 0, 0xDC, 0x05, 0, 0}},
      {2468, {0xE8, 0x03, 0, 0, 0xDC, 0x05, 0, 0, 0xD0, 0x07, 0, 0, 0xB8, 0x0B, 0, 0}},
      {2458, {0x01, 0x00, 0x00, 0x00}},
      {2466, {0x05, 0x00, 0x00, 0x00}},
      {2468, {0, 0, 0, 0, 0, 0, 0, 0, 0xE8, 0x03, 0, 0, 0xDC, 0x05, 0, 0}},
      {2468, {0, 0, 0, 0, 0xDC, 0x05, 0, 0, 0xE8, 0x03, 0, 0, 0xB8, 0x0B, 0, 0}},
      {2468, {0xE8, 0x03, 0, 0, 0, 0, 0, 0, 0xD0, 0x07, 0, 0, 0xDC, 0x05, 0, 0}},
      {2468, {0xE8, 0x03, 0, 0, 0xDC, 0x05, 0, 0, 0xD0, 0x07, 0, 0, 0xB8, 0x0B, 0, 0}},
  };
  ASSERT_EQ(sent.size(), expected.size());
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(sent[i].code, expected[i].code) << i;
    EXPECT_EQ(sent[i].input, expected[i].input) << i;
  }

  // Without special pages no kind is sent, and a plug-in that gives no address leaves none.
  LayoutEscapes plain(plan, {});
  sent.clear();
  plain.SendDocumentStart([&](ULONG code, ULONG, void*, ULONG, void*) -> ULONG {
    sent.push_back({code, {}});
    return 0;
  });
  EXPECT_EQ(plain.watermarkDcField(), nullptr);
  for (const SentEscape& e : sent) EXPECT_NE(e.code, 2458u);
}

// Whole jobs through the module, read back sheet by sheet.
class SheetJobs : public testing::JobFolderTest {
 protected:
  struct SheetSeen {
    const Event* begin = nullptr;
    std::size_t endPages = 0;
    std::vector<int> imageWidths;  // destination widths of the images drawn
  };

  std::vector<SheetSeen> PrintSheets(std::vector<SettingAssignment> settings, std::size_t pages,
                                     std::map<std::size_t, std::uint32_t> specialPages = {}) {
    PrintRequest request;
    request.modulePath = VELMORA_MODULE;
    request.output = (dir / "job.pxl").string();
    request.user = VTEXT("alice");
    request.settings = std::move(settings);
    request.specialPages = std::move(specialPages);
    auto source = MakeSamplePageSource(pages);
    const PrintResult result = RunPrintJob(request, *source);
    std::ifstream file(request.output, std::ios::binary);
    job = Bytes(std::istreambuf_iterator<char>(file), {});
    parsed = pxl::Parse(job);
    EXPECT_TRUE(parsed.ok()) << parsed.error->ToString();
    std::vector<SheetSeen> sheets;
    for (const Event& e : parsed.events) {
      if (e.Is(Op::BeginPage)) sheets.push_back({&e, 0, {}});
      if (sheets.empty()) continue;
      if (e.Is(Op::EndPage)) ++sheets.back().endPages;
      if (e.Is(Op::BeginImage)) {
        const auto* size = e.Find(Attr::DestinationSize);
        sheets.back().imageWidths.push_back(size != nullptr ? static_cast<int>(size->value.Int(0)) : -1);
      }
    }
    EXPECT_EQ(result.pages, sheets.size());
    return sheets;
  }

  Bytes job;
  pxl::ParseResult parsed;
};

TEST_F(SheetJobs, FivePagesFourUpMakeTwoSheets) {
  const std::vector<SheetSeen> one = PrintSheets({}, 1);
  ASSERT_EQ(one.size(), 1u);
  ASSERT_EQ(one[0].imageWidths.size(), 1u);
  const int fullWidth = one[0].imageWidths[0];

  const std::vector<SheetSeen> sheets = PrintSheets({{"--set", "vdmPagesPerSheet", "4"}}, 5);
  ASSERT_EQ(sheets.size(), 2u);
  for (const SheetSeen& sheet : sheets) EXPECT_EQ(sheet.endPages, 1u);
  // Every logical page draws one ramp image, at half its size on a 2 x 2 sheet.
  ASSERT_EQ(sheets[0].imageWidths.size(), 4u);
  ASSERT_EQ(sheets[1].imageWidths.size(), 1u);
  for (int width : sheets[0].imageWidths) EXPECT_NEAR(width, fullWidth / 2, 1);
}

TEST_F(SheetJobs, BookletSidesHoldTheirPages) {
  const std::vector<SheetSeen> sides = PrintSheets({{"--set", "bBooklet", "1"}}, 5);
  // Sides 8|1, 2|7, 6|3, 4|5: pages 6 to 8 are blank.
  ASSERT_EQ(sides.size(), 4u);
  const std::size_t images[] = {1, 1, 1, 2};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(sides[i].endPages, 1u) << i;
    EXPECT_EQ(sides[i].imageWidths.size(), images[i]) << i;
  }
}

TEST_F(SheetJobs, SpecialPageTakesItsTrayOnItsSheet) {
  const std::vector<SheetSeen> sheets =
      PrintSheets({{"--set", "vdmPagesPerSheet", "2"}, {"--set", "SpecialPage1.sTrayIndex", "2"}}, 6, {{2, 1}});
  ASSERT_EQ(sheets.size(), 3u);
  const int sources[] = {1, 4, 1};  // automatic, upper cassette, automatic
  for (std::size_t i = 0; i < 3; ++i) {
    ASSERT_NE(sheets[i].begin->Find(Attr::MediaSource), nullptr) << i;
    EXPECT_EQ(sheets[i].begin->Find(Attr::MediaSource)->value.Int(), sources[i]) << "sheet " << i + 1;
  }
}

TEST_F(SheetJobs, SpecialPageBeyondTheSheetsIsRefused) {
  EXPECT_THROW(PrintSheets({{"--set", "vdmPagesPerSheet", "4"}}, 5, {{3, 1}}), HostError);
  EXPECT_FALSE(fs::exists(dir / "job.pxl"));
}

}  // namespace
}  // namespace velmora::host

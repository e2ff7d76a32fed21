// The stored watermark record, its settings file and folder, and which watermark each
// logical page of a sheet gets.
#include "formats/watermark_settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "formats/vendor_settings.h"
#include "platform/fake/fake_services.h"
#include "platform/text_encoding.h"
#include "src/watermark/watermark_selection.h"
#include "tests/fakes/temp_folder.h"

namespace velmora {

// Found by argument-dependent lookup, so it lives in the cell's own namespace.
void PrintTo(const WatermarkCell& cell, std::ostream* out) {
  *out << "{page " << cell.currentPage << ", cell " << cell.cellIndex << ", watermark "
       << (cell.watermarkIndex ? std::to_string(*cell.watermarkIndex) : "none") << "}";
}

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

WString W(const std::string& text) { return platform::Utf8ToUtf16(text); }

void Put(Bytes& bytes, std::size_t offset, std::initializer_list<std::uint8_t> values) {
  std::copy(values.begin(), values.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

// The default record, written out byte by byte.
Bytes DefaultRecordBytes() {
  Bytes bytes(816, 0);
  // "Times New Roman", UTF-16LE.
  Put(bytes, 128, {0x54, 0,    0x69, 0,    0x6D, 0,    0x65, 0,    0x73, 0,    0x20, 0,    0x4E, 0,    0x65,
                   0,    0x77, 0,    0x20, 0,    0x52, 0,    0x6F, 0,    0x6D, 0,    0x61, 0,    0x6E, 0});
  Put(bytes, 260, {72, 0, 0, 0});   // pointSize
  Put(bytes, 268, {45, 0, 0, 0});   // angle
  Put(bytes, 272, {25, 0, 0, 0});   // darkness
  Put(bytes, 812, {100, 0, 0, 0});  // imageScale
  return bytes;
}

TEST(WatermarkRecord, DefaultsAreStoredAtTheirOffsets) {
  const WatermarkSettings settings;
  EXPECT_EQ(Bytes(settings.bytes().begin(), settings.bytes().end()), DefaultRecordBytes());
  EXPECT_FALSE(settings.IsBitmap());
  EXPECT_EQ(settings.faceName(), W("Times New Roman"));
}

TEST(WatermarkRecord, EveryFieldIsWrittenAtItsOffset) {
  WatermarkSettings settings;
  settings.set_text(W("AB"));
  settings.set_faceName(W("Arial"));
  settings.set_pointSize(0x01020304);
  settings.set_style(WM_STYLE_BOLD, true);
  settings.set_style(WM_STYLE_OUTLINE, true);
  settings.set_angle(359);
  settings.set_darkness(100);
  settings.set_offsetX(1.5f);
  settings.set_offsetY(-2.0f);
  settings.set_offsetInMillimetres(1);
  settings.set_placement(WM_PLACEMENT_FIT);
  settings.set_imagePath(W("/x.bmp"));
  settings.set_imageScale(50);

  Bytes expected(816, 0);
  Put(expected, 0, {0x41, 0, 0x42, 0});
  Put(expected, 128, {0x41, 0, 0x72, 0, 0x69, 0, 0x61, 0, 0x6C, 0});
  Put(expected, 260, {0x04, 0x03, 0x02, 0x01});
  Put(expected, 264, {0x0A});
  Put(expected, 268, {0x67, 0x01, 0, 0});
  Put(expected, 272, {100, 0, 0, 0});
  Put(expected, 276, {0x00, 0x00, 0xC0, 0x3F});
  Put(expected, 280, {0x00, 0x00, 0x00, 0xC0});
  Put(expected, 284, {1});
  Put(expected, 288, {2, 0, 0, 0});
  Put(expected, 292, {0x2F, 0, 0x78, 0, 0x2E, 0, 0x62, 0, 0x6D, 0, 0x70, 0});
  Put(expected, 812, {50, 0, 0, 0});
  EXPECT_EQ(Bytes(settings.bytes().begin(), settings.bytes().end()), expected);
  EXPECT_TRUE(settings.bold());
  EXPECT_FALSE(settings.italic());
  EXPECT_TRUE(settings.outline());
  EXPECT_TRUE(settings.offsetsInMillimetres());
  EXPECT_TRUE(settings.IsBitmap());

  // Texts are cut to fit their fields with their NUL.
  settings.set_text(WString(70, VTEXT('x')));
  EXPECT_EQ(settings.text(), WString(63, VTEXT('x')));
  settings.set_faceName(WString(70, VTEXT('f')));
  EXPECT_EQ(settings.faceName(), WString(64, VTEXT('f')));
  EXPECT_EQ(settings.bytes()[258], 0);
  EXPECT_EQ(settings.bytes()[259], 0);
}

TEST(WatermarkRecord, OnlyExactlySizedBytesMakeARecord) {
  EXPECT_FALSE(WatermarkSettings::FromBytes(Bytes(815, 0)));
  EXPECT_FALSE(WatermarkSettings::FromBytes(Bytes(817, 0)));
  Bytes stored(816, 0);
  Put(stored, 0, {0x48, 0, 0x69, 0});
  Put(stored, 812, {7, 0, 0, 0});
  const auto record = WatermarkSettings::FromBytes(stored);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->text(), W("Hi"));
  EXPECT_EQ(record->faceName(), WString());
  EXPECT_EQ(record->imageScale(), 7u);

  // A stored offset of 2 is neither millimetres nor anything but inches.
  Put(stored, 284, {2});
  EXPECT_FALSE(WatermarkSettings::FromBytes(stored)->offsetsInMillimetres());
}

TEST(WatermarkSections, NamesAndNumbers) {
  EXPECT_EQ(WatermarkSectionName(3), W("WMSet_3"));
  EXPECT_EQ(WatermarkSectionName(-1), W("WMSet_-1"));
  const std::pair<std::string, std::optional<std::int32_t>> cases[] = {
      {"WMSet_3", 3},
      {"wmset_12", 12},
      {"WMSet_-2", -2},
      {"WMSet_03", std::nullopt},
      {"WMSet_", std::nullopt},
      {"WMSet_3x", std::nullopt},
      {"WMSet3", std::nullopt},
      {"Fonts", std::nullopt},
      {"WMSet_99999999999", std::nullopt},
  };
  for (const auto& [name, number] : cases) EXPECT_EQ(WatermarkSectionNumber(W(name)), number) << name;
}

class WatermarkFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = velmora::testing::MakeTempFolder("velmora-wm-");
    ASSERT_FALSE(dir_.empty());
    environment_.appDataFolder = W(dir_.string());
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
  platform::fake::FakeEnvironment environment_;
  platform::ScopedServices services_{platform::Services{.environment = &environment_}};
};

TEST_F(WatermarkFiles, TheSettingsFolderIsMadeUnderLocalAppData) {
  WString path = W("unchanged");
  ASSERT_TRUE(Utility::UtilCreateAppDataFolder(W("VELMORA IT Co"), W("Office 2"), &path));
  EXPECT_EQ(path, W((dir_ / "VELMORA IT Co" / "Office 2").string()) + platform::PathSeparator());
  EXPECT_TRUE(fs::is_directory(dir_ / "VELMORA IT Co" / "Office 2"));
  // Made again, the folders exist already.
  ASSERT_TRUE(Utility::UtilCreateAppDataFolder(W("VELMORA IT Co"), W("Office 2"), &path));
  EXPECT_EQ(WatermarkSettingsPath(W("Office 2")),
            W((dir_ / "VELMORA IT Co" / "Office 2" / "DrvSettings.GPS").string()));

  // Names that are not one folder name make no folder anywhere.
  path = W("unchanged");
  for (const char* printer : {"", ".", "..", "../Evil", "a/b", "a\\b"}) {
    EXPECT_FALSE(Utility::UtilCreateAppDataFolder(W("VELMORA IT Co"), W(printer), &path)) << printer;
  }
  EXPECT_FALSE(Utility::UtilCreateAppDataFolder(W(""), W("Office"), &path));
  EXPECT_EQ(path, W("unchanged"));
  EXPECT_FALSE(fs::exists(dir_ / "Evil"));

  environment_.appDataFolder.reset();
  EXPECT_FALSE(WatermarkSettingsPath(W("Office")));
}

TEST_F(WatermarkFiles, ARecordIsReadFromItsSection) {
  // Section 3 holds the defaults with the text "Hi"; their byte sum is 0x70C.
  std::string hiRecord = "48006900" + std::string(248, '0') +
                         "540069006D00650073002000"
                         "4E0065007700200052006F006D0061006E00" +
                         std::string(200, '0') + std::string(4, '0') + "48000000" + std::string(8, '0') +
                         "2D000000"
                         "19000000" +
                         std::string(32, '0') + std::string(1040, '0') + "64000000" + "0C";
  ASSERT_EQ(hiRecord.size(), 1634u);
  std::string badChecksum = hiRecord;
  badChecksum.replace(1632, 2, "0D");
  const fs::path file = dir_ / "DrvSettings.GPS";
  std::ofstream(file, std::ios::binary) << "[WMSet_1]\r\nValue=" << badChecksum << "\r\n"
                                        << "[WMSet_2]\r\nValue=00\r\n"
                                        << "[WMSet_3]\r\nValue=" << hiRecord << "\r\n";

  WatermarkSettings settings;
  ASSERT_TRUE(Utility::GetCurrentSelectedWatermarkSettings(3, &settings, W(file.string())));
  EXPECT_EQ(settings.text(), W("Hi"));
  EXPECT_EQ(settings.faceName(), W("Times New Roman"));
  EXPECT_EQ(settings.pointSize(), 72u);
  EXPECT_EQ(settings.darkness(), 25u);

  // A record that cannot be read leaves the one given as it was.
  for (std::int32_t section : {1, 2, 4, 0}) {
    WatermarkSettings kept;
    kept.set_text(W("kept"));
    EXPECT_FALSE(Utility::GetCurrentSelectedWatermarkSettings(section, &kept, W(file.string()))) << section;
    EXPECT_EQ(kept.text(), W("kept"));
  }
  EXPECT_FALSE(Utility::GetCurrentSelectedWatermarkSettings(3, nullptr, W(file.string())));
  EXPECT_FALSE(Utility::GetCurrentSelectedWatermarkSettings(3, &settings, W((dir_ / "none.GPS").string())));
}

TEST(WatermarkSelection, UsageDecidesBetweenFirstAndNextPages) {
  struct Case {
    std::int32_t usage, page, sheet, pagesPerSheet;
    std::optional<std::int32_t> index;
  };
  const Case cases[] = {
      {WM_ALLPAGES, 7, 4, 1, 0},
      {WM_FIRSTPAGEONLY, 1, 1, 1, 0},
      {WM_FIRSTPAGE_OTHERPAGE, 1, 1, 2, 0},
      {WM_FIRSTPAGE_OTHERPAGE, 2, 1, 2, 1},
      {WM_FIRSTPAGE_OTHERPAGE, 1, 2, 1, 1},  // page 1 seen on a later sheet side
      {WM_EVEN_ODDPAGES, 3, 2, 2, 0},        // several pages per sheet: the page decides
      {WM_EVEN_ODDPAGES, 4, 2, 2, 1},
      {WM_EVEN_ODDPAGES, 4, 3, 1, 0},  // one page per sheet: the sheet side decides
      {WM_EVEN_ODDPAGES, 3, 2, 1, 1},
      {4, 1, 1, 1, std::nullopt},
      {-1, 1, 1, 1, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SelectWatermark(c.usage, c.page, c.sheet, c.pagesPerSheet), c.index)
        << "usage " << c.usage << " page " << c.page << " sheet " << c.sheet;
  }
}

TEST(WatermarkSelection, OnlyOrdinarySidesAndKindOneRuleTwoCountAsSheets) {
  EXPECT_TRUE(AdvancesSheetCounter(0, 0));
  EXPECT_TRUE(AdvancesSheetCounter(0, 7));
  EXPECT_TRUE(AdvancesSheetCounter(1, 2));
  EXPECT_FALSE(AdvancesSheetCounter(1, 1));
  EXPECT_FALSE(AdvancesSheetCounter(2, 2));
  EXPECT_FALSE(AdvancesSheetCounter(3, 2));
}

TEST(WatermarkSelection, CellsOfEachSheet) {
  constexpr std::optional<std::int32_t> FP = 0;
  constexpr std::optional<std::int32_t> NP = 1;
  struct Case {
    const char* what;
    std::int32_t pagesPerSheet;
    std::vector<std::int32_t> layout;
    std::int32_t sheet;
    bool booklet;
    std::uint32_t totalPages;
    std::int32_t usage;
    std::vector<WatermarkCell> cells;
  };
  const std::vector<Case> cases = {
      {"1-up, all pages", 1, {1}, 3, false, 3, WM_ALLPAGES, {{3, 0, FP}}},
      {"1-up, past the last page", 1, {1}, 4, false, 3, WM_ALLPAGES, {}},
      {"1-up, first page only, sheet 2", 1, {1}, 2, false, 3, WM_FIRSTPAGEONLY, {}},
      {"1-up, first and other, sheet 1", 1, {1}, 1, false, 3, WM_FIRSTPAGE_OTHERPAGE, {{1, 0, FP}}},
      {"1-up, first and other, sheet 2", 1, {1}, 2, false, 3, WM_FIRSTPAGE_OTHERPAGE, {{2, 0, NP}}},
      {"1-up, odd and even, sheet 1", 1, {1}, 1, false, 3, WM_EVEN_ODDPAGES, {{1, 0, FP}}},
      {"1-up, odd and even, sheet 2", 1, {1}, 2, false, 3, WM_EVEN_ODDPAGES, {{2, 0, NP}}},
      {"1-up, odd and even, sheet 3", 1, {1}, 3, false, 3, WM_EVEN_ODDPAGES, {{3, 0, FP}}},
      {"2-up, first and other, sheet 1", 2, {1, 2}, 1, false, 4, WM_FIRSTPAGE_OTHERPAGE, {{1, 0, FP}, {2, 1, NP}}},
      {"2-up, first and other, sheet 2", 2, {1, 2}, 2, false, 4, WM_FIRSTPAGE_OTHERPAGE, {{3, 0, NP}, {4, 1, NP}}},
      {"2-up, right to left, sheet 3", 2, {2, 1}, 3, false, 6, WM_ALLPAGES, {{6, 1, FP}, {5, 0, FP}}},
      {"2-up, odd and even", 2, {1, 2}, 2, false, 4, WM_EVEN_ODDPAGES, {{3, 0, FP}, {4, 1, NP}}},
      {"4-up, all pages", 4, {1, 2, 3, 4}, 1, false, 8, WM_ALLPAGES, {{1, 0, FP}, {2, 1, FP}, {3, 2, FP}, {4, 3, FP}}},
      {"4-up, 5 pages, sheet 2", 4, {1, 2, 3, 4}, 2, false, 5, WM_ALLPAGES, {{5, 0, FP}}},
      {"4-up, first page only, sheet 1", 4, {1, 2, 3, 4}, 1, false, 8, WM_FIRSTPAGEONLY, {{1, 0, FP}}},
      {"4-up, first page only, sheet 2", 4, {1, 2, 3, 4}, 2, false, 8, WM_FIRSTPAGEONLY, {}},
      {"4-up, first and other",
       4,
       {1, 2, 3, 4},
       1,
       false,
       8,
       WM_FIRSTPAGE_OTHERPAGE,
       {{1, 0, FP}, {2, 1, NP}, {3, 2, NP}, {4, 3, NP}}},
      {"4-up, odd and even",
       4,
       {1, 2, 3, 4},
       2,
       false,
       8,
       WM_EVEN_ODDPAGES,
       {{5, 0, FP}, {6, 1, NP}, {7, 2, FP}, {8, 3, NP}}},
      {"4-up, reversed order",
       4,
       {4, 2, 3, 1},
       1,
       false,
       4,
       WM_ALLPAGES,
       {{4, 3, FP}, {2, 1, FP}, {3, 2, FP}, {1, 0, FP}}},
      {"4-up, unknown usage", 4, {1, 2, 3, 4}, 1, false, 2, 9, {{1, 0, std::nullopt}, {2, 1, std::nullopt}}},
      {"4-up, layout order too short", 4, {1, 2}, 1, false, 8, WM_ALLPAGES, {{1, 0, FP}, {2, 1, FP}}},
      {"no layout order", 4, {}, 1, false, 8, WM_ALLPAGES, {}},
      {"no sheet counted yet", 2, {1, 2}, 0, false, 8, WM_ALLPAGES, {}},
      {"page total above the signed range", 1, {1}, 1, false, 0x80000000u, WM_ALLPAGES, {}},
      {"booklet of 5, side 1", 2, {8, 1, 2, 7, 6, 3, 4, 5}, 1, true, 5, WM_ALLPAGES, {{1, 0, FP}}},
      {"booklet of 5, side 2", 2, {8, 1, 2, 7, 6, 3, 4, 5}, 2, true, 5, WM_FIRSTPAGE_OTHERPAGE, {{2, 1, NP}}},
      {"booklet of 5, side 4", 2, {8, 1, 2, 7, 6, 3, 4, 5}, 4, true, 5, WM_EVEN_ODDPAGES, {{4, 1, NP}, {5, 0, FP}}},
      {"booklet, past its sides", 2, {8, 1, 2, 7, 6, 3, 4, 5}, 5, true, 8, WM_ALLPAGES, {}},
      {"booklet, no side counted yet", 2, {8, 1, 2, 7}, 0, true, 8, WM_ALLPAGES, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SheetWatermarkCells(c.pagesPerSheet, c.layout, c.sheet, c.booklet, c.totalPages, c.usage), c.cells)
        << c.what;
  }
}

}  // namespace
}  // namespace velmora

// Page adjustment, the decimal-text reader, the final-data search and the record of the
// printing application.
#include <gtest/gtest.h>

#include <cstring>

#include "formats/le_bytes.h"
#include "formats/text.h"
#include "platform/text_encoding.h"
#include "src/frame/host_process.h"
#include "src/frame/oem_pdev.h"
#include "src/job/device_utility.h"
#include "src/overlay/overlay_parameters.h"
#include "src/support/decimal_text.h"
#include "tests/fakes/job_world.h"

namespace velmora {
namespace {

using testing::JobWorld;

TEST(DecimalText, ReadsTheFirstSixCharacters) {
  const std::pair<const WCHAR*, double> cases[] = {
      {VTEXT("0.16"), 0.16}, {VTEXT("4.064"), 4.064}, {VTEXT(" 5"), 5.0},    {VTEXT("abc"), 0.0},
      {VTEXT(""), 0.0},      {VTEXT("-0.25"), -0.25}, {VTEXT("1.5mm"), 1.5}, {VTEXT("1234567"), 123456.0},
      {VTEXT(".5"), 0.5},    {VTEXT("2e1"), 20.0},    {VTEXT("."), 0.0},     {VTEXT("+3"), 3.0},
  };
  for (const auto& [text, value] : cases) EXPECT_DOUBLE_EQ(ReadDecimalText(text), value) << platform::Utf16ToUtf8(text);
}

TEST(DeviceUtility, InchMillimetreConversion) {
  EXPECT_DOUBLE_EQ(Utility::InchMMConversion(25.4, 1), 1.0);
  EXPECT_DOUBLE_EQ(Utility::InchMMConversion(1.0, 0), 25.4);
}

class PageAdjustment : public ::testing::Test {
 protected:
  HRESULT Adjust(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b) {
    for (int i = 0; i < 4; ++i) le::PutI32(rect + 4 * i, i == 0 ? l : i == 1 ? t : i == 2 ? r : b);
    done = 0;
    return vendor.UpdatePDev(world.printer, &world.devmode, world.body(), &world.area, 0, rect, 16, &done);
  }
  std::int32_t Edge(int i) { return le::I32(rect + 4 * i); }
  JobWorld world;
  CUnidrvInterface vendor;
  std::uint8_t rect[16] = {};
  BOOL done = 0;
};

TEST_F(PageAdjustment, CustomMargins) {
  struct Case {
    const WCHAR* margins[4];
    std::uint8_t unit;
    std::int32_t expected[4];
  };
  const Case cases[] = {
      {{VTEXT("0.25"), VTEXT("0.16"), VTEXT("0.5"), VTEXT("0.16")}, 0, {150, 100, 4550, 6500}},
      {{VTEXT("0.16"), VTEXT("0.16"), VTEXT("0.16"), VTEXT("0.16")}, 0, {100, 100, 4900, 6500}},
      {{VTEXT("4.064"), VTEXT("4.064"), VTEXT("4.064"), VTEXT("4.064")}, 1, {100, 100, 4900, 6500}},
      {{VTEXT("0.16"), VTEXT("0.5"), VTEXT("0.16"), VTEXT("0.16")}, 0, {100, 300, 4900, 6500}},
      {{VTEXT("x"), VTEXT("0.16"), VTEXT("0.16"), VTEXT("0.16")}, 0, {0, 100, 4900, 6500}},
  };
  world.settings().set_sCustomMargins(1);
  for (const auto& c : cases) {
    for (int i = 0; i < 4; ++i) world.settings().set_szMargins(i, c.margins[i]);
    world.settings().set_bMarginUnit(c.unit);
    ASSERT_EQ(Adjust(100, 100, 4900, 6500), S_OK);
    EXPECT_EQ(done, 1);
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(Edge(i), c.expected[i]) << platform::Utf16ToUtf8(c.margins[0]) << " edge " << i;
  }
}

TEST_F(PageAdjustment, RefusalsLeaveTheRectangleAlone) {
  world.settings().set_sCustomMargins(0);
  EXPECT_EQ(Adjust(1, 2, 3, 4), E_NOTIMPL);
  EXPECT_EQ(Edge(0), 1);
  EXPECT_EQ(done, 0);
  world.settings().set_sCustomMargins(1);
  EXPECT_EQ(vendor.UpdatePDev(world.printer, &world.devmode, world.body(), &world.area, 0, rect, 15, &done), E_NOTIMPL);
  EXPECT_EQ(vendor.UpdatePDev(world.printer, &world.devmode, world.body(), &world.area, 0, nullptr, 16, &done),
            E_NOTIMPL);
  EXPECT_EQ(vendor.UpdatePDev(world.printer, &world.devmode, nullptr, &world.area, 0, rect, 16, &done), S_OK);
}

TEST_F(PageAdjustment, TextInBlackSetsTheForegroundColour) {
  OemPdev pdev;
  ClearVendorData(pdev.vendorData);
  world.device.pdevOEM = &pdev;
  SURFOBJ surface{};
  surface.dhpdev = &world.device;
  BRUSHOBJ red{0x0000FF, nullptr, 0};
  vendor.OEMTextOut(&surface, nullptr, nullptr, nullptr, nullptr, nullptr, &red, nullptr, nullptr, 0);
  EXPECT_EQ(red.iSolidColor, 0x0000FFu);
  world.settings().set_bTextInBlack(1);
  EXPECT_EQ(vendor.OEMTextOut(&surface, nullptr, nullptr, nullptr, nullptr, nullptr, &red, nullptr, nullptr, 0), 1);
  EXPECT_EQ(red.iSolidColor, 0u);
  EXPECT_EQ(
      vendor.OEMBitBlt(&surface, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &red, nullptr, 0xCCCC),
      1);
}

class FinalData : public ::testing::Test {
 protected:
  CUnidrvInterface vendor;
};

TEST_F(FinalData, SearchFindsTheFirstWholeMatch) {
  struct Case {
    std::string buffer;
    const char* key;
    std::int32_t index;
  };
  const Case cases[] = {
      {std::string("xxMS PCLXLFontxxxxxxxxxxxxxxxx"), "MS PCLXLFont", 2},
      {std::string("xxms pclxlfontxx"), "MS PCLXLFont", -1},  // the first byte compares exactly
      {std::string("xxMs pClXlFoNtxx"), "MS PCLXLFont", 2},   // the rest ignores case
      {std::string("abcdefghijkMS PC"), "MS PCLXLFont", -1},  // does not fit
      {std::string("MS PCLXLFon"), "MS PCLXLFont", -1},       // 11 bytes
      {std::string("MS PCLX\0Font MS PCLXLFont", 25), "MS PCLXLFont", 13},
      {std::string("%%%OVL_PCLXL_BEGIN"), "%%OVL_PCLXL_BEGIN", 1},
      {std::string("a MS PCLXLFont b MS PCLXLFont"), "MS PCLXLFont", 2},
  };
  for (const auto& c : cases) {
    vendor.SetSearchKey(c.key);
    EXPECT_EQ(vendor.GetSearchKeyStringIndex(reinterpret_cast<const std::uint8_t*>(c.buffer.data()),
                                             static_cast<DWORD>(c.buffer.size())),
              c.index)
        << c.buffer;
  }
  EXPECT_EQ(vendor.GetSearchKeyStringIndex(nullptr, 10), -1);
  EXPECT_EQ(vendor.GetSearchKeyStringIndex(reinterpret_cast<const std::uint8_t*>("x"), 0), -1);
}

TEST_F(FinalData, ReplacementRenamesEveryMatch) {
  std::string buffer = "..MS PCLXLFont..ms PCLXLFont..MS PCLXLFont...MS PC";
  vendor.SetSearchKey("MS PCLXLFont");
  EXPECT_EQ(
      vendor.ReplaceFontNameIfFound(reinterpret_cast<std::uint8_t*>(buffer.data()), static_cast<DWORD>(buffer.size())),
      -1);
  EXPECT_EQ(buffer, "..CS PCLXLFont..ms PCLXLFont..CS PCLXLFont...MS PC");
  EXPECT_FALSE(vendor.searchKeyFound());
  std::uint8_t data[] = {1, 2, 3};
  EXPECT_EQ(vendor.ModifyFinalPrintData(nullptr, nullptr, nullptr, data, 3), S_OK);
}

class MergeDevModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FillVendorDefaults(bodyIn);
    FillVendorDefaults(bodyOut);
    in.dmPrintQuality = 1200;
    in.dmYResolution = 1200;
    in.dmCopies = 1;
    out = in;
  }
  HRESULT Merge(DWORD mode = OEMDM_MERGE) { return MergeDevMode(mode, world.printer, &in, &out, bodyIn, bodyOut); }
  WString StoredModuleName() { return ReadModuleName(world.printer); }
  JobWorld world;
  DEVMODEW in{}, out{};
  std::uint8_t bodyIn[kVendorBodySize] = {};
  std::uint8_t bodyOut[kVendorBodySize] = {};
};

TEST_F(MergeDevModeTest, SpoolerProcessRecordsNothing) {
  world.environment.processName = VTEXT("spoolsv.exe");
  VendorSettings(bodyIn).set_szAppName(VTEXT("winword.exe"));
  EXPECT_EQ(Merge(), S_OK);
  EXPECT_EQ(VendorSettings(bodyIn).szAppName(), VTEXT("winword.exe"));
  EXPECT_EQ(StoredModuleName(), WString());
  EXPECT_EQ(out.dmPrintQuality, 1200);
}

TEST_F(MergeDevModeTest, PrintHostRecordsItsClientAndLowersExcelTo600) {
  world.environment.processName = VTEXT("splwow64.exe");
  world.spooler.clientProcessId = 4242;
  world.environment.processNames[4242] = VTEXT("EXCEL.EXE");
  EXPECT_EQ(Merge(), S_OK);
  EXPECT_EQ(VendorSettings(bodyIn).szAppName(), VTEXT("EXCEL.EXE"));
  EXPECT_EQ(VendorSettings(bodyOut).szAppName(), VTEXT("EXCEL.EXE"));
  EXPECT_EQ(StoredModuleName(), VTEXT("EXCEL.EXE"));
  EXPECT_EQ(out.dmPrintQuality, 600);
  EXPECT_EQ(out.dmYResolution, 600);
  EXPECT_EQ(VendorSettings(bodyOut).sResolution(), 1200);
}

TEST_F(MergeDevModeTest, PrintHostWithoutClientRecordsItself) {
  world.environment.processName = VTEXT("splwow64.exe");
  EXPECT_EQ(Merge(), S_OK);
  EXPECT_EQ(VendorSettings(bodyIn).szAppName(), VTEXT("splwow64.exe"));
}

TEST_F(MergeDevModeTest, ResolutionAndCopyRules) {
  struct Case {
    const WCHAR* process;
    std::int16_t quality;
    std::uint32_t overlayMode;
    std::int16_t copies;
    std::int16_t expectedQuality;
    std::int16_t expectedCopies;
  };
  const Case cases[] = {
      {VTEXT("excel.exe"), 600, 0, 1, 600, 1},        {VTEXT("iexplore.exe"), 1200, 0, 1, 600, 1},
      {VTEXT("winword.exe"), 1200, 0, 1, 1200, 1},    {VTEXT("winword.exe"), 1200, 2, 1, 600, 1},
      {VTEXT("winword.exe"), 600, 0, 1000, 600, 999}, {VTEXT("winword.exe"), 600, 0, 999, 600, 999},
      {VTEXT("winword.exe"), 600, 0, -5, 600, -5},
  };
  for (const auto& c : cases) {
    SetUp();
    world.environment.processName = c.process;
    in.dmPrintQuality = c.quality;
    in.dmCopies = c.copies;
    out = in;
    VendorSettings(bodyIn).set_dwOverlayMode(c.overlayMode);
    EXPECT_EQ(Merge(), S_OK);
    EXPECT_EQ(out.dmPrintQuality, c.expectedQuality) << platform::Utf16ToUtf8(c.process);
    EXPECT_EQ(out.dmCopies, c.expectedCopies) << c.copies;
  }
}

TEST_F(MergeDevModeTest, OnlyMergeOfAValidRecordDoesAnything) {
  world.environment.processName = VTEXT("excel.exe");
  EXPECT_EQ(Merge(OEMDM_CONVERT), S_OK);
  EXPECT_EQ(out.dmPrintQuality, 1200);
  VendorSettings(bodyIn).set_dwBodySignature(0);
  EXPECT_EQ(Merge(), S_OK);
  EXPECT_EQ(out.dmPrintQuality, 1200);
  EXPECT_EQ(StoredModuleName(), WString());
}

// A user who only prints is granted the access to print, not to administer the printer:
// the plug-in reads the printer's values with that access.
TEST(StandardUser, ReadsThePrintersValues) {
  JobWorld world;
  world.spooler.grantedAccess = platform::PRINTER_ACCESS_USE;
  const std::pair<const WCHAR*, WString> values[] = {
      {kOverlayDirectoryValue, VTEXT("C:\\Forms")},
      {kOverlayFilesValue, VTEXT("form.ovl")},
      {kModuleNameValue, VTEXT("WINWORD.EXE")},
  };
  auto& data = world.spooler.AddPrinter(testing::kTestPrinter).data;
  for (const auto& [name, text] : values) {
    platform::PrinterValue value{platform::ValueType::kString, std::vector<std::uint8_t>(2 * (text.size() + 1), 0)};
    text::WriteWideField(value.bytes.data(), text.size() + 1, text);
    data[name] = value;
  }
  EXPECT_EQ(Utility::GetOverlayDirectoryFromRegistry(testing::kTestPrinter), values[0].second);
  EXPECT_EQ(Utility::GetOverlayFileNameFromRegistry(testing::kTestPrinter), values[1].second);
  EXPECT_EQ(ReadModuleName(world.printer), values[2].second);
}

}  // namespace
}  // namespace velmora

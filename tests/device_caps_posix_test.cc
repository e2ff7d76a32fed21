// Device figures on POSIX: a printer's own paper model from a temporary printer store,
// and the generic model when it has none, an unreadable one, or no store at all.
#include "platform/posix/device_caps_posix.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/paper_model_text.h"
#include "platform/posix/spooler_store.h"
#include "platform/text_encoding.h"

namespace velmora::platform::posix {
namespace {

WString W(const std::string& text) { return Utf8ToUtf16(text); }

PageSetup PageOf(const std::string& form, std::int16_t code, std::int16_t orientation, std::int16_t dpi) {
  PageSetup setup;
  setup.formName = W(form);
  setup.paperSize = code;
  setup.orientation = orientation;
  setup.printQuality = dpi;
  return setup;
}

class DeviceCapsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-caps-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    storePath_ = folder_ + "/spooler.db";
    ::setenv("VELMORA_STORE", storePath_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("VELMORA_STORE");
    std::filesystem::remove_all(folder_);
  }

  // Adds a printer whose "PaperModel" value holds `text` exactly.
  void AddPrinterWithModel(const std::string& name, const std::string& text) {
    PrinterStore store(storePath_);
    ASSERT_TRUE(store.AddPrinter(W(name)));
    const WString wide = W(text);
    PrinterValue value{ValueType::kString, {}};
    for (WCHAR unit : wide)
      value.bytes.insert(value.bytes.end(), {static_cast<std::uint8_t>(unit), static_cast<std::uint8_t>(unit >> 8)});
    value.bytes.insert(value.bytes.end(), {0, 0});
    ASSERT_TRUE(store.SetPrinterValue(W(name), kPaperModelValueName, value));
  }

  std::string folder_;
  std::string storePath_;
  ModelDeviceCapabilities caps_;
};

TEST_F(DeviceCapsTest, FiguresComeFromTheStoredModel) {
  // The office printer takes 300 and 600 dpi only, and its first paper is a label.
  AddPrinterWithModel("Office",
                      "paper \"Label 100x50\" 0 100 50\npaper A4 9 210 297\nresolutions 300 600\nmargin 4.2\n");
  const struct {
    const char* label;
    PageSetup setup;
    double xPhysical, yPhysical, xOffset, yOffset, xResolution, yResolution;
  } cases[] = {
      // floor(210 / 25.4 * 600) = 4960, floor(297 / 25.4 * 600) = 7015, floor(4.2 / 25.4 * 600) = 99.
      {"A4 portrait by name", PageOf("a4", 0, 1, 600), 4960, 7015, 99, 99, 600, 600},
      {"A4 by paper code", PageOf("", 9, 1, 600), 4960, 7015, 99, 99, 600, 600},
      {"A4 landscape swaps", PageOf("A4", 9, 2, 600), 7015, 4960, 99, 99, 600, 600},
      // floor(100 / 25.4 * 300) = 1181, floor(50 / 25.4 * 300) = 590, floor(4.2 / 25.4 * 300) = 49.
      {"the model's own form name", PageOf("Label 100x50", 0, 1, 300), 1181, 590, 49, 49, 300, 300},
      // Letter is not in this model: its first paper; 1200 dpi is not taken: 600.
      {"unknown form falls to the first paper", PageOf("Letter", 1, 1, 1200), 2362, 1181, 99, 99, 600, 600},
  };
  for (const auto& c : cases) {
    const std::optional<DeviceFigures> figures = caps_.Figures(W("office"), c.setup);
    ASSERT_TRUE(figures) << c.label;
    EXPECT_EQ(figures->xPhysicalArea, c.xPhysical) << c.label;
    EXPECT_EQ(figures->yPhysicalArea, c.yPhysical) << c.label;
    EXPECT_EQ(figures->xOffset, c.xOffset) << c.label;
    EXPECT_EQ(figures->yOffset, c.yOffset) << c.label;
    EXPECT_EQ(figures->xPrintArea, c.xPhysical - 2 * c.xOffset) << c.label;
    EXPECT_EQ(figures->yPrintArea, c.yPhysical - 2 * c.yOffset) << c.label;
    EXPECT_EQ(figures->xResolution, c.xResolution) << c.label;
    EXPECT_EQ(figures->yResolution, c.yResolution) << c.label;
  }
}

TEST_F(DeviceCapsTest, GenericModelWithoutAUsableStoredModel) {
  AddPrinterWithModel("Broken", "paper A4 9 210\nresolutions 600\n");
  AddPrinterWithModel("Small", "paper A5 11 148 210\nresolutions 600\n");
  ASSERT_TRUE(PrinterStore(storePath_).AddPrinter(W("Plain")));
  // Letter at 1200 dpi exists only in the generic model:
  // floor(215.9 / 25.4 * 1200) = 10200, floor(279.4 / 25.4 * 1200) = 13200, floor(4.2 / 25.4 * 1200) = 198.
  const PageSetup letter = PageOf("Letter", 1, 1, 1200);
  for (const char* printer : {"Broken", "Plain", "Not in the store"}) {
    const std::optional<DeviceFigures> figures = caps_.Figures(W(printer), letter);
    ASSERT_TRUE(figures) << printer;
    EXPECT_EQ(figures->xPhysicalArea, 10200) << printer;
    EXPECT_EQ(figures->yPhysicalArea, 13200) << printer;
    EXPECT_EQ(figures->xOffset, 198) << printer;
  }
  // The small printer's own model answers: A5 at 600 dpi, floor(148 / 25.4 * 600) = 3496.
  const std::optional<DeviceFigures> small = caps_.Figures(W("Small"), letter);
  ASSERT_TRUE(small);
  EXPECT_EQ(small->xPhysicalArea, 3496);
  EXPECT_EQ(small->xResolution, 600);
  EXPECT_FALSE(caps_.Figures(WString(), letter));
}

TEST_F(DeviceCapsTest, MissingStoreGivesTheGenericModelAndStaysMissing) {
  const std::optional<DeviceFigures> figures = caps_.Figures(W("Office"), PageOf("A4", 9, 2, 600));
  ASSERT_TRUE(figures);
  EXPECT_EQ(figures->xPhysicalArea, 7015);
  EXPECT_EQ(figures->yPhysicalArea, 4960);
  EXPECT_FALSE(std::filesystem::exists(storePath_));
}

}  // namespace
}  // namespace velmora::platform::posix

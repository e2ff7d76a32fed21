// The paper, media and tray tables.
#include <gtest/gtest.h>

#include "src/commands/name_tables.h"

namespace velmora {
namespace {

TEST(NameTables, LookupsIgnoreCaseAndTakeTheFirstRow) {
  struct Case {
    std::optional<std::size_t> (*find)(std::string_view);
    std::string_view name;
    std::optional<std::size_t> row;
  };
  const Case cases[] = {
      {FindPaperSize, "A4", 0},          {FindPaperSize, "a4", 0},        {FindPaperSize, "5HALF8HALF", 8},
      {FindPaperSize, "CUSTOMSIZE", {}}, {FindPaperSize, "ENV_9", 21},    {FindPaperSize, "", {}},
      {FindMediaType, "standard", 0},    {FindMediaType, "POSTCARD", 12}, {FindMediaType, "GLOSSY", {}},
      {FindInputBin, "BYPASSTRAY", 1},   {FindInputBin, "tray3", 4},      {FindInputBin, "MANUALFEED", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.find(c.name), c.row) << c.name;
}

TEST(NameTables, MediaTypeRowsMapToPclXlNames) {
  struct Case {
    std::string_view option;
    std::string_view pclxl;
  };
  const Case cases[] = {{"STANDARD", "Standard"},    {"AUTO", "Standard"},          {"PLAIN", "Plain"},
                        {"VERYTHICK", "Very Thick"}, {"PAPERLABEL", "Paper Label"}, {"CARDSTOCK", "Card Stock"},
                        {"POSTCARD", "Postcard"}};
  for (const auto& c : cases) {
    auto row = FindMediaType(c.option);
    ASSERT_TRUE(row) << c.option;
    EXPECT_EQ(PCLXLMediaNameTable[MediaNameRowForMediaType(*row)].text, c.pclxl) << c.option;
  }
}

}  // namespace
}  // namespace velmora

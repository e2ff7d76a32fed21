// Private-profile structures: the stored text of a structure, and the POSIX reader and
// writer checked against whole file texts written out by hand.
#include "platform/private_profile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/text_encoding.h"
#include "tests/fakes/temp_folder.h"
#include "tests/fakes/wine.h"

namespace velmora::platform {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

WString W(const std::string& text) { return Utf8ToUtf16(text); }

TEST(ProfileStructText, EncodesEachByteAndTheChecksumAsUpperCaseHex) {
  struct Case {
    Bytes bytes;
    std::string text;
  };
  const Case cases[] = {
      {{}, "00"},
      {{0x01, 0xFF}, "01FF00"},
      {{0x12, 0x34, 0xAB}, "1234ABF1"},
      {{0x80, 0x80, 0x0F}, "80800F0F"},
      {{0xFF, 0xFF, 0xFF}, "FFFFFFFD"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeProfileStruct(c.bytes), c.text);
    EXPECT_EQ(DecodeProfileStruct(c.text, c.bytes.size()), c.bytes) << c.text;
  }
}

TEST(ProfileStructText, RefusesWrongLengthBadDigitsAndBadChecksum) {
  struct Case {
    std::string text;
    std::size_t byteCount;
    std::optional<Bytes> bytes;
  };
  const Case cases[] = {
      {"1234abf1", 3, Bytes{0x12, 0x34, 0xAB}},  // lower-case digits are read too
      {"1234ABF1", 2, std::nullopt},             // one byte too many
      {"1234ABF1", 4, std::nullopt},             // one byte too few
      {"1234ABF", 3, std::nullopt},              // odd number of digits
      {"", 0, std::nullopt},                     // not even a checksum
      {"1234ABF2", 3, std::nullopt},             // checksum off by one
      {"12G4ABF1", 3, std::nullopt},             // not a digit
      {"12 4ABF1", 3, std::nullopt},             // a blank inside
      {"0x34ABF1", 3, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeProfileStruct(c.text, c.byteCount), c.bytes) << c.text;
}

class ProfileFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = velmora::testing::MakeTempFolder("velmora-profile-");
    ASSERT_FALSE(dir_.empty());
    path_ = dir_ / "DrvSettings.GPS";
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string ReadBytes() {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The file's lines. Windows ends the lines it writes with "\r\n" (Wine every line of a
  // file it changes), so there "\r\n" reads as "\n"; the bytes are compared in
  // WritingKeepsEverythingElseByteForByte.
  std::string Read() {
    std::string text = ReadBytes();
    if (!velmora::testing::kWindows) return text;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
    return text;
  }
  WString Path() const { return W(path_.string()); }
  std::size_t FilesInFolder() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }

  fs::path dir_;
  fs::path path_;
};

TEST_F(ProfileFile, WritingCreatesTheFileThenAddsSectionsAndKeys) {
  ASSERT_TRUE(WriteProfileStruct(Path(), W("WMSet_1"), W("Value"), Bytes{0x01, 0xFF}));
  EXPECT_EQ(Read(), "[WMSet_1]\nValue=01FF00\n");

  ASSERT_TRUE(WriteProfileStruct(Path(), W("WMSet_2"), W("Value"), Bytes{0x12, 0x34, 0xAB}));
  ASSERT_TRUE(WriteProfileStruct(Path(), W("WMSet_1"), W("Other"), Bytes{}));
  EXPECT_EQ(Read(),
            "[WMSet_1]\nValue=01FF00\nOther=00\n"
            "[WMSet_2]\nValue=1234ABF1\n");

  // Replaced in place, matching names in any ASCII case and keeping the stored spelling.
  ASSERT_TRUE(WriteProfileStruct(Path(), W("wmset_1"), W("VALUE"), Bytes{0x02}));
  EXPECT_EQ(Read(),
            "[WMSet_1]\nValue=0202\nOther=00\n"
            "[WMSet_2]\nValue=1234ABF1\n");
  EXPECT_EQ(FilesInFolder(), 1u);
}

TEST_F(ProfileFile, WritingKeepsEverythingElseByteForByte) {
  Write(
      "\xEF\xBB\xBF; settings\r\n"
      "[Fonts]\r\n"
      "Face = Arial  \r\n"
      "\r\n"
      "[WMSet_3]\r\n"
      "; the third\r\n"
      "Value=0000\r\n"
      "Note=x\r\n"
      "\r\n"
      "[Tail]\r\n"
      "Last=1");
  ASSERT_TRUE(WriteProfileStruct(Path(), W("WMSet_3"), W("Value"), Bytes{0x41}));
  ASSERT_TRUE(WriteProfileStruct(Path(), W("Fonts"), W("Value"), Bytes{0x0A, 0x0B}));
  ASSERT_TRUE(WriteProfileStruct(Path(), W("Tail"), W("Value"), Bytes{0x00}));
  ASSERT_TRUE(WriteProfileStruct(Path(), W("WMSet_9"), W("Value"), Bytes{0xFE}));
  if (velmora::testing::RunningUnderWine()) {
    // Wine writes the whole file anew from what it parsed: blank lines are lost and the
    // blanks around '=' too. Windows changes only the lines it writes.
    EXPECT_EQ(ReadBytes(),
              "\xEF\xBB\xBF; settings\r\n[Fonts]\r\nFace=Arial\r\nValue=0A0B15\r\n[WMSet_3]\r\n; the third\r\n"
              "Value=4141\r\nNote=x\r\n[Tail]\r\nLast=1\r\nValue=0000\r\n[WMSet_9]\r\nValue=FEFE\r\n");
    return;
  }
  EXPECT_EQ(ReadBytes(),
            "\xEF\xBB\xBF; settings\r\n"
            "[Fonts]\r\n"
            "Face = Arial  \r\n"
            "Value=0A0B15\r\n"
            "\r\n"
            "[WMSet_3]\r\n"
            "; the third\r\n"
            "Value=4141\r\n"
            "Note=x\r\n"
            "\r\n"
            "[Tail]\r\n"
            "Last=1\r\n"
            "Value=0000\r\n"
            "[WMSet_9]\r\n"
            "Value=FEFE\r\n");
}

TEST_F(ProfileFile, ReadingFindsTheFirstSectionAndKeyOfAName) {
  Write(
      "Value=0101\n"  // before any section: belongs to none
      "[WMSet_1]\n"
      "  value =  0707 \n"
      "Value=0808\n"
      "[Other]\n"
      "Value=0909\n"
      "[WMSET_1]\n"
      "Value=0A0A\n"
      "[Short]\n"
      "Value=0102\n"
      "[Broken]\n"
      "Value=0102\n");
  struct Case {
    std::string section;
    std::string key;
    std::size_t byteCount;
    std::optional<Bytes> bytes;
  };
  const Case cases[] = {
      {"WMSet_1", "Value", 1, Bytes{0x07}},  {" wmset_1 ", "VALUE", 1, Bytes{0x07}}, {"Other", "Value", 1, Bytes{0x09}},
      {"Short", "Value", 2, std::nullopt},   // holds one byte
      {"Broken", "Value", 1, std::nullopt},  // checksum 02 for a byte 01
      {"Missing", "Value", 1, std::nullopt}, {"Other", "Missing", 1, std::nullopt},  {"", "Value", 1, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadProfileStruct(Path(), W(c.section), W(c.key), c.byteCount), c.bytes) << c.section << "/" << c.key;
  }
  EXPECT_EQ(ReadProfileStruct(W((dir_ / "missing.GPS").string()), W("WMSet_1"), W("Value"), 1), std::nullopt);
  EXPECT_EQ(ReadProfileStruct(W(dir_.string()), W("WMSet_1"), W("Value"), 1), std::nullopt);
}

TEST_F(ProfileFile, SectionsAreListedOnceAndRemovedWithTheirKeys) {
  Write(
      "; head\n"
      "[A]\n"
      "Value=00\n"
      "[B]\n"
      "Value=00\n"
      "; about C\n"
      "[a]\n"
      "Other=00\n"
      "[C]\n");
  EXPECT_EQ(ListProfileSections(Path()), (std::vector<WString>{W("A"), W("B"), W("C")}));

  ASSERT_TRUE(RemoveProfileSection(Path(), W("a")));
  // A comment line is part of the section above it.
  EXPECT_EQ(Read(),
            "; head\n"
            "[B]\n"
            "Value=00\n"
            "; about C\n"
            "[C]\n");
  const std::string before = Read();
  EXPECT_TRUE(RemoveProfileSection(Path(), W("Missing")));
  EXPECT_EQ(Read(), before);
  EXPECT_TRUE(ListProfileSections(W((dir_ / "missing.GPS").string())).empty());
  EXPECT_TRUE(RemoveProfileSection(W((dir_ / "missing.GPS").string()), W("A")));
  EXPECT_EQ(FilesInFolder(), 1u);
}

TEST_F(ProfileFile, FailedWritesLeaveNothingBehind) {
  Write("[A]\nValue=00\n");
  // Names that would change the file's structure are refused.
  for (const auto& [section, key] : std::vector<std::pair<std::string, std::string>>{
           {"A]x", "Value"}, {"A\nB", "Value"}, {"", "Value"}, {"A", "Va=lue"}, {"A", ";Value"}, {"A", ""}}) {
    EXPECT_FALSE(WriteProfileStruct(Path(), W(section), W(key), Bytes{1})) << section << "/" << key;
  }
  EXPECT_EQ(Read(), "[A]\nValue=00\n");
  EXPECT_FALSE(WriteProfileStruct(W((dir_ / "no-folder" / "x.GPS").string()), W("A"), W("Value"), Bytes{1}));
  EXPECT_EQ(FilesInFolder(), 1u);
}

}  // namespace
}  // namespace velmora::platform

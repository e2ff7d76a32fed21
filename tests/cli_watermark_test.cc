// velmora watermark, run as a user runs it against a temporary printer store and a
// temporary local application-data folder; the settings file is checked as text.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

namespace velmora {
namespace {

namespace fs = std::filesystem;

struct CliRun {
  int status;
  std::string out;
};

// Runs velmora with the arguments; standard error goes with standard output.
CliRun Velmora(const std::string& arguments) {
  const std::string command = std::string(VELMORA_BINARY) + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, got);
  const int status = pclose(pipe);
  return {WEXITSTATUS(status), out};
}

// Hex digits of the default record from byte 128 (the face) to its end, written out
// from the record's layout: "Times New Roman", 72 points, angle 45, darkness 25, scale 100.
std::string DefaultTailHex() {
  return "540069006D00650073002000"
         "4E0065007700200052006F006D0061006E00" +
         std::string(200, '0') + std::string(4, '0') + "48000000" + std::string(8, '0') +
         "2D000000"
         "19000000" +
         std::string(32, '0') + std::string(1040, '0') + "64000000";
}

class CliWatermark : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "velmora-cli-wm-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    ::setenv("VELMORA_STORE", (dir_ / "spooler.db").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
    file_ = dir_ / "data" / "VELMORA IT Co" / "Office" / "DrvSettings.GPS";
    ASSERT_EQ(Velmora("printer add Office").status, 0);
  }
  void TearDown() override {
    ::unsetenv("VELMORA_STORE");
    ::unsetenv("XDG_DATA_HOME");
    fs::remove_all(dir_);
  }

  std::string FileText() {
    std::ifstream in(file_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  fs::path dir_;
  fs::path file_;
};

TEST_F(CliWatermark, SetCreatesTheSectionFromTheDefaults) {
  // The printer is found in any case and its folder is named as the store spells it.
  CliRun set = Velmora("watermark set -p office 2 text=DRAFT size=48 bold=on");
  ASSERT_EQ(set.status, 0) << set.out;
  EXPECT_EQ(set.out, "");
  // "DRAFT", 48 points (0x30), bold (flag 2); every other byte a default. The byte sum
  // is 0x65B (defaults) + 0x171 ("DRAFT") - 72 + 48 + 2 = 0x7B6.
  const std::string record = "44005200410046005400" + std::string(236, '0') + DefaultTailHex();
  std::string expected = record;
  expected.replace(2 * 260, 8, "30000000");
  expected.replace(2 * 264, 2, "02");
  EXPECT_EQ(FileText(), "[WMSet_2]\nValue=" + expected + "B6\n");

  CliRun show = Velmora("watermark show --printer Office WMSet_2");
  ASSERT_EQ(show.status, 0) << show.out;
  EXPECT_EQ(show.out,
            "section: WMSet_2\n"
            "kind: text\n"
            "text: DRAFT\n"
            "face: Times New Roman\n"
            "size: 48\n"
            "bold: true\n"
            "italic: false\n"
            "outline: false\n"
            "angle: 45\n"
            "darkness: 25\n"
            "offset-x: 0.0\n"
            "offset-y: 0.0\n"
            "unit: inches\n"
            "placement: centre\n"
            "image: \n"
            "scale: 100\n");
}

TEST_F(CliWatermark, EveryFieldIsSetAndShownAsJson) {
  const std::string image = Write("logo.png", std::string("\x89PNG\r\n\x1A\n", 8) + "rest");
  ASSERT_EQ(Velmora("watermark set -p Office 1 text=Hi").status, 0);
  CliRun set = Velmora(
      "watermark set -p Office 1 'face=Courier New' size=20 italic=yes outline=1 angle=359 "
      "darkness=100 offset-x=1.5 offset-y=-2.25 unit=mm placement=fit image=" +
      image + " scale=50");
  ASSERT_EQ(set.status, 0) << set.out;
  CliRun show = Velmora("watermark show -p Office 1 --json");
  ASSERT_EQ(show.status, 0) << show.out;
  const auto json = nlohmann::json::parse(show.out);
  EXPECT_EQ(json, nlohmann::json::parse(R"({"section": "WMSet_1", "kind": "image", "text": "Hi",
      "face": "Courier New", "size": 20, "bold": false, "italic": true, "outline": true, "angle": 359,
      "darkness": 100, "offset-x": 1.5, "offset-y": -2.25, "unit": "mm", "placement": "fit",
      "image": ")" + image + R"(", "scale": 50})"));

  // An empty image turns the record back into a text watermark.
  ASSERT_EQ(Velmora("watermark set -p Office 1 image= placement=tile").status, 0);
  EXPECT_EQ(nlohmann::json::parse(Velmora("watermark show -p Office 1 --json").out)["kind"], "text");
}

TEST_F(CliWatermark, ListSummarisesEachSection) {
  EXPECT_EQ(Velmora("watermark list -p Office").out,
            "settings file: " + file_.string() + " (none yet)\nno watermark sections\n");
  const std::string image = Write("logo.bmp", "BM and more");
  ASSERT_EQ(Velmora("watermark set -p Office 3 text=Copy bold=on outline=on").status, 0);
  ASSERT_EQ(Velmora("watermark set -p Office 1 image=" + image).status, 0);
  {
    std::ofstream append(file_, std::ios::binary | std::ios::app);
    append << "[Fonts]\nValue=00\n[WMSet_7]\nValue=0102\n";
  }
  CliRun list = Velmora("watermark list -p Office");
  ASSERT_EQ(list.status, 0) << list.out;
  EXPECT_EQ(list.out,
            "settings file: " + file_.string() +
                "\n"
                "WMSet_3: text \"Copy\", Times New Roman 72 pt bold outline, angle 45, darkness 25 %, centre\n"
                "WMSet_1: image " +
                image +
                ", scale 100 %, centre\n"
                "Fonts: (not a watermark section)\n"
                "WMSet_7: (unreadable: no intact 816-byte record under \"Value\"; the plug-in uses the "
                "defaults)\n");
  // As JSON, for programs: the readable watermark sections only, each with its number.
  const auto json = nlohmann::json::parse(Velmora("watermark list -p Office --json").out);
  ASSERT_EQ(json.size(), 2u) << json.dump();
  EXPECT_EQ(json[0]["number"], 3);
  EXPECT_EQ(json[0]["text"], "Copy");
  EXPECT_EQ(json[1]["section"], "WMSet_1");
  EXPECT_EQ(json[1]["kind"], "image");
  // A section that cannot be read is not overwritten.
  CliRun set = Velmora("watermark set -p Office 7 text=x");
  EXPECT_EQ(set.status, 1);
  EXPECT_NE(set.out.find("holds no intact record; remove it first"), std::string::npos) << set.out;
}

TEST_F(CliWatermark, InvalidValuesLeaveTheFileUnchanged) {
  ASSERT_EQ(Velmora("watermark set -p Office 1 text=Kept").status, 0);
  const std::string before = FileText();
  const std::string textFile = Write("notes.txt", "hello");
  struct Case {
    std::string arguments;
    std::string message;
  };
  const Case cases[] = {
      {"text=" + std::string(64, 'x'),
       "text \"" + std::string(64, 'x') + "\" is too long: 64 UTF-16 units, at most 63"},
      {"face=" + std::string(65, 'f'),
       "face \"" + std::string(65, 'f') + "\" is too long: 65 UTF-16 units, at most 64"},
      {"face=", "face is empty"},
      {"darkness=101", "darkness '101' is not a whole number from 0 to 100"},
      {"angle=360", "angle '360' is not a whole number from 0 to 359"},
      {"angle=-1", "angle '-1' is not a whole number from 0 to 359"},
      {"size=0", "size '0' is not a whole number from 1 to 1000"},
      {"size=12pt", "size '12pt' is not a whole number from 1 to 1000"},
      {"scale=0", "scale '0' is not a whole number from 1 to 1000"},
      {"offset-x=abc", "offset-x 'abc' is not a number"},
      {"offset-y=inf", "offset-y 'inf' is not a number"},
      {"bold=maybe", "bold 'maybe' is neither on nor off"},
      {"unit=feet", "unit 'feet' is neither inches nor mm"},
      {"placement=diagonal", "placement 'diagonal' is none of centre, tile, fit"},
      {"image=" + (dir_ / "missing.png").string(),
       "image '" + (dir_ / "missing.png").string() + "' cannot be read: No such file or directory"},
      {"image=" + textFile, "image '" + textFile + "' is not a BMP, PNG, JPEG, GIF or TIFF file"},
      {"colour=red", "'colour' is not a watermark field"},
      {"text", "'text' is not of the form FIELD=VALUE"},
      {"text=a darkness=5 text=b", "field 'text' is given twice"},
      // A valid value before an invalid one is not written either.
      {"text=Changed darkness=200", "darkness '200' is not a whole number from 0 to 100"},
  };
  for (const Case& c : cases) {
    CliRun run = Velmora("watermark set -p Office 1 " + c.arguments);
    EXPECT_EQ(run.status, 1) << c.arguments;
    EXPECT_EQ(run.out.rfind("velmora: " + c.message, 0), 0u) << run.out;
    EXPECT_NE(run.out.find("'" + file_.string() + "' is unchanged"), std::string::npos) << run.out;
    EXPECT_EQ(FileText(), before) << c.arguments;
  }
  // Every other file in the folder is the settings file's own: no temporary left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(file_.parent_path()), fs::directory_iterator()), 1);
}

TEST_F(CliWatermark, PrintTellsOfSectionsTheFileLacks) {
  ASSERT_EQ(Velmora("watermark set -p Office 2 text=Two").status, 0);
  const std::string told = "velmora: Watermark section ";
  struct Case {
    std::string settings;
    std::string out;  // what the job says; the job prints in every case
    std::string printer = "Office";
  };
  const Case cases[] = {
      {"--set sFP_SectionIndex=2", ""},
      {"--set sFP_SectionIndex=5", told + "5 is not in the watermark settings '" + file_.string() +
                                       "' of printer 'Office': the job prints "
                                       "without it\n"},
      {"--set sFP_SectionIndex=2 --set sNP_SectionIndex=6 --set eWMUsage=2",
       told + "6 is not in the watermark settings '" + file_.string() +
           "' of printer 'Office': the job prints "
           "without it\n"},
      // The first-page-only usage never reads the next-pages section.
      {"--set sFP_SectionIndex=2 --set sNP_SectionIndex=6 --set eWMUsage=1", ""},
      // The printer's settings are found under its stored name, whatever the case typed.
      {"--set sFP_SectionIndex=2", "", "OFFICE"},
  };
  for (const Case& c : cases) {
    const CliRun run =
        Velmora("print --printer " + c.printer + " --pages 1 -o " + (dir_ / "job.pxl").string() + " " + c.settings);
    EXPECT_EQ(run.status, 0) << c.settings;
    EXPECT_EQ(run.out, c.out) << c.settings;
  }
}

TEST_F(CliWatermark, SectionsAndPrintersAreChecked) {
  const std::string face32(32, 'F');
  CliRun warned = Velmora("watermark set -p Office 3 face=" + face32);
  EXPECT_EQ(warned.status, 0);
  EXPECT_EQ(warned.out,
            "velmora: warning: face \"" + face32 + "\" has 32 characters; the font is made from the first 31\n");
  CliRun fit = Velmora("watermark set -p Office 3 placement=fit");
  EXPECT_EQ(fit.status, 0);
  EXPECT_NE(fit.out.find("placement fit applies to images only"), std::string::npos);

  struct Case {
    std::string arguments;
    std::string out;
  };
  const Case cases[] = {
      {"show -p Office 0",
       "velmora: section '0' is never read: section numbers start at 1 (0 or less means no "
       "watermark)\n"},
      {"show -p Office first", "velmora: 'first' is not a section: give its number (3) or name (WMSet_3)\n"},
      {"show -p Office 4", "velmora: no section WMSet_4 in '" + file_.string() + "'\n"},
      {"remove -p Office 4", "velmora: no section WMSet_4 in '" + file_.string() + "'\n"},
      {"list -p Nobody",
       "velmora: Printer 'Nobody' not found in printer store '" + (dir_ / "spooler.db").string() + "'\n"},
  };
  for (const Case& c : cases) {
    CliRun run = Velmora("watermark " + c.arguments);
    EXPECT_EQ(run.status, 1) << c.arguments;
    EXPECT_EQ(run.out, c.out);
  }

  ASSERT_EQ(Velmora("watermark set -p Office 4 text=Four").status, 0);
  ASSERT_EQ(Velmora("watermark remove -p Office wmset_3").status, 0);
  EXPECT_EQ(FileText().find("WMSet_3"), std::string::npos);
  EXPECT_EQ(FileText().rfind("[WMSet_4]\nValue=", 0), 0u);
}

}  // namespace
}  // namespace velmora

// velmora settings, run as a user runs it: files in, JSON and files out, clear errors.
#include <gtest/gtest.h>

#include "tests/fakes/run_velmora.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "formats/le_bytes.h"
#include "formats/vendor_devmode.h"

namespace velmora {
namespace {

using testing::Velmora;
using CliRun = testing::CliRun;

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class CliSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    // A folder of its own: other checkouts may run the same test at the same time.
    std::string pattern = (fs::temp_directory_path() / "velmora-cli-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string P(const char* name) { return (dir / name).string(); }
  fs::path dir;
};

TEST_F(CliSettings, DefaultsSetAndShow) {
  ASSERT_EQ(Velmora("settings defaults -o " + P("rec.bin")).status, 0);
  Bytes record = ReadBytes(P("rec.bin"));
  ASSERT_EQ(record.size(), 5240u);
  EXPECT_EQ(le::U32(record.data() + 4), kVendorSignature);

  CliRun set = Velmora("settings set " + P("rec.bin") +
                       " dwOutputBin=2 eHoldMode=-1 SpecialPage3.sTrayIndex=4 szMargins=0.1,0.2,0.3,0.4 "
                       "szFileBoxName=Finance fScale=0.5 dwBodySignature=ABCD");
  ASSERT_EQ(set.status, 0) << set.out;
  CliRun show = Velmora("settings show " + P("rec.bin"));
  ASSERT_EQ(show.status, 0) << show.out;
  const auto json = nlohmann::json::parse(show.out);
  EXPECT_EQ(json["header"]["dwSignature"], "QZTX");
  EXPECT_EQ(json["dwOutputBin"], 2);
  EXPECT_EQ(json["eHoldMode"], -1);
  EXPECT_EQ(json["SpecialPage3"]["sTrayIndex"], 4);
  EXPECT_EQ(json["szMargins"], nlohmann::json::array({"0.1", "0.2", "0.3", "0.4"}));
  EXPECT_EQ(json["szFileBoxName"], "Finance");
  EXPECT_EQ(json["fScale"], 0.5);
  EXPECT_EQ(json["dwBodySignature"], "ABCD");
  EXPECT_FALSE(json.contains("devmode"));
  // The kind-3 block is the second block in the record.
  EXPECT_EQ(le::I16(ReadBytes(P("rec.bin")).data() + 12 + 1164 + 140), 4);
}

TEST_F(CliSettings, BadInputIsRefusedAndLeavesTheFileUntouched) {
  ASSERT_EQ(Velmora("settings defaults -o " + P("rec.bin")).status, 0);
  const Bytes before = ReadBytes(P("rec.bin"));
  struct Case {
    std::string arguments;
    std::string message;
  };
  const Case cases[] = {
      {"dwFoo=1", "unknown field 'dwFoo'"},
      {"bStaple=256", "256 is out of range (0 to 255)"},
      {"sBrightness=-32769", "out of range"},
      {"dwOutputBin=-1", "out of range"},
      {"eHoldMode=2147483648", "out of range"},
      {"sContrast=abc", "'abc' is not an integer"},
      {"szFileBoxName=" + std::string(33, 'x'), "too long (at most 32)"},
      {"szMargins=0.1,0.2", "four margins"},
      {"dmCopies=2", "holds no public device mode"},
      {"bStaple", "not of the form NAME=VALUE"},
      {"bStaple=1 SpecialPage4.dwPageRule=1", "unknown field 'SpecialPage4.dwPageRule'"},
  };
  for (const auto& c : cases) {
    CliRun run = Velmora("settings set " + P("rec.bin") + " " + c.arguments);
    EXPECT_NE(run.status, 0) << c.arguments;
    EXPECT_NE(run.out.find(c.message), std::string::npos) << c.arguments << ": " << run.out;
    EXPECT_EQ(ReadBytes(P("rec.bin")), before) << c.arguments;
  }
  WriteBytes(P("short.bin"), Bytes(100, 0));
  CliRun wrongSize = Velmora("settings show " + P("short.bin"));
  EXPECT_NE(wrongSize.status, 0);
  EXPECT_NE(wrongSize.out.find("neither a settings record"), std::string::npos);
  EXPECT_NE(Velmora("settings show " + P("missing.bin")).out.find("No such file"), std::string::npos);
}

TEST_F(CliSettings, DeviceModeDumpShowsAndSetsPublicFields) {
  Bytes devmode(220 + 64 + 5240, 0);
  le::PutU16(devmode.data() + 68, 220);
  le::PutU16(devmode.data() + 70, 64 + 5240);
  le::PutU16(devmode.data() + 220 + 8, 64);
  le::PutI16(devmode.data() + 86, 3);
  StampVendorHeader(devmode.data() + 220 + 64);
  FillVendorDefaults(devmode.data() + 220 + 64 + 12);
  WriteBytes(P("devmode.bin"), devmode);

  ASSERT_EQ(Velmora("settings set " + P("devmode.bin") + " dmCopies=5 dmFormName=A4 bStaple=1").status, 0);
  CliRun show = Velmora("settings show " + P("devmode.bin"));
  ASSERT_EQ(show.status, 0) << show.out;
  const auto json = nlohmann::json::parse(show.out);
  EXPECT_EQ(json["devmode"]["dmCopies"], 5);
  EXPECT_EQ(json["devmode"]["dmFormName"], "A4");
  EXPECT_EQ(json["bStaple"], 1);
}

TEST_F(CliSettings, ConvertAndMerge) {
  // A shorter record (dwSize 1000) converts into a whole one: the rest are defaults.
  Bytes shortRecord(1000, 0x5A);
  le::PutU32(shortRecord.data(), 1000);
  le::PutU32(shortRecord.data() + 4, kVendorSignature);
  WriteBytes(P("short.bin"), shortRecord);
  ASSERT_EQ(Velmora("settings convert " + P("short.bin") + " " + P("out.bin")).status, 0);
  Bytes out = ReadBytes(P("out.bin"));
  ASSERT_EQ(out.size(), 5240u);
  EXPECT_EQ(le::U32(out.data()), 5240u);
  EXPECT_EQ(out[999], 0x5A);
  EXPECT_EQ(out[1000], 0);
  EXPECT_EQ(le::I16(out.data() + 12 + 1710), 600);  // sResolution default beyond the copy

  // A foreign record merges into a default record.
  Bytes foreign(5240, 0x11);
  WriteBytes(P("foreign.bin"), foreign);
  ASSERT_EQ(Velmora("settings merge " + P("foreign.bin") + " " + P("out.bin")).status, 0);
  Bytes merged = ReadBytes(P("out.bin"));
  EXPECT_EQ(le::U32(merged.data() + 4), kVendorSignature);
  EXPECT_EQ(le::I16(merged.data() + 12 + 616), 6);  // sTonerDarkness default, not 0x1111
  EXPECT_EQ(merged[12 + 5000], 0);                  // the tail keeps the output's own byte
}

}  // namespace
}  // namespace velmora

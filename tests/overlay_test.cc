// Overlays: the set-up from the printer's values, capture into a file, playback.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "formats/overlay_file.h"
#include "platform/text_encoding.h"
#include "src/overlay/overlay_parameters.h"
#include "src/support/log.h"
#include "tests/fakes/job_world.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::JobWorld;

Bytes ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(OverlaySplit, PiecesBetweenDelimiters) {
  const std::pair<WString, std::vector<WString>> cases[] = {
      {VTEXT("Invoice;inv.ovl"), {VTEXT("Invoice"), VTEXT("inv.ovl")}},
      {VTEXT("odd.ovl;even.ovl;"), {VTEXT("odd.ovl"), VTEXT("even.ovl")}},
      {VTEXT(";b.ovl"), {VTEXT(""), VTEXT("b.ovl")}},
      {VTEXT("a;;b"), {VTEXT("a"), VTEXT(""), VTEXT("b")}},
      {VTEXT(""), {}},
      {VTEXT(";"), {VTEXT("")}},
  };
  for (const auto& [text, pieces] : cases)
    EXPECT_EQ(Utility::split(text, VTEXT(';')), pieces) << platform::Utf16ToUtf8(text);
}

TEST(OverlayFile, HeaderAndDataOffset) {
  const std::string header = "(PCLXL;Letter;1;600;0;Form1;)\r\n%%OVL_DATA_START:-";
  EXPECT_EQ(FormatOverlayHeader(false, VTEXT("Letter"), 1, 600, VTEXT("Form1")), header);
  EXPECT_EQ(FormatOverlayHeader(true, VTEXT("A4"), 2, 1200, VTEXT("x")),
            "(PCLXL-RASTER;A4;2;1200;0;x;)\r\n%%OVL_DATA_START:-");
  EXPECT_FALSE(FormatOverlayHeader(false, VTEXT("A4"), 1, 600, WString(240, VTEXT('n'))).has_value());
  const Bytes chunk = testing::Text(header + "DATA");
  EXPECT_EQ(GetOverlayDataOffset(chunk.data(), chunk.size()), static_cast<std::int32_t>(header.size()));
  const Bytes lower = testing::Text("xx%%ovl_data_start:-yy");
  EXPECT_EQ(GetOverlayDataOffset(lower.data(), lower.size()), 20);
  const Bytes none = testing::Text("(PCLXL;A4;1;600;0;x;)\r\n");
  EXPECT_EQ(GetOverlayDataOffset(none.data(), none.size()), -1);
  EXPECT_EQ(GetOverlayDataOffset(nullptr, 0), -1);
}

TEST(OverlayFile, HeaderParsesBack) {
  struct Case {
    std::string bytes;
    bool valid;
    std::string name;
  };
  const Case cases[] = {
      {"(PCLXL;Letter;1;600;0;Form1;)\r\n%%OVL_DATA_START:-data", true, "Form1"},
      {"(PCLXL-RASTER;A4;2;1200;0;a;b;)\r\n%%OVL_DATA_START:-", true, "a;b"},
      {"(PCLXL;A4;1;600;1;x;)\r\n%%OVL_DATA_START:-", false, ""},
      {"(PCLXL;A4;1;600;0;x;)\r\n", false, ""},
      {"PCLXL;A4;1;600;0;x;)\r\n%%OVL_DATA_START:-", false, ""},
      {"", false, ""},
  };
  for (const auto& c : cases) {
    auto header = ParseOverlayHeader(reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size());
    ASSERT_EQ(header.has_value(), c.valid) << c.bytes;
    if (!header) continue;
    EXPECT_EQ(header->overlayName, c.name);
    EXPECT_EQ(c.bytes.substr(header->dataOffset, 4), c.valid && c.name == "Form1" ? "data" : "");
  }
  auto header = FormatOverlayHeader(false, VTEXT("Letter"), 1, 600, VTEXT("Form1"));
  auto parsed = ParseOverlayHeader(reinterpret_cast<const std::uint8_t*>(header->data()), header->size());
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->language, "PCLXL");
  EXPECT_EQ(parsed->formName, "Letter");
  EXPECT_EQ(parsed->orientation, "1");
  EXPECT_EQ(parsed->resolution, "600");
  EXPECT_EQ(parsed->dataOffset, header->size());
}

class Overlays : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() /
             ("velmora-ovl-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    world.devmode.dmOrientation = 1;
    world.devmode.dmYResolution = 600;
    text::WriteWideField(reinterpret_cast<std::uint8_t*>(world.devmode.dmFormName), 32, VTEXT("Letter"));
  }
  void TearDown() override {
    // Windows deletes no read-only file, and one test plays a read-only form.
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
      fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    }
    fs::remove_all(folder);
  }

  void SetPrinterValues(const std::optional<WString>& directory, const std::optional<WString>& files) {
    auto& data = world.spooler.AddPrinter(testing::kTestPrinter).data;
    auto text = [](const WString& value) {
      platform::PrinterValue v{platform::ValueType::kString, Bytes(2 * (value.size() + 1), 0)};
      text::WriteWideField(v.bytes.data(), value.size() + 1, value);
      return v;
    };
    if (directory) data[VTEXT("OvelayDirectory")] = text(*directory);
    if (files) data[VTEXT("OvelayFiles")] = text(*files);
  }
  WString Folder(bool trailing = false) {
    WString path = platform::Utf8ToUtf16(folder.string());
    if (trailing) path.push_back(platform::PathSeparator());
    return path;
  }
  // Sends job data through the final-data hook in buffers of `chunk` bytes.
  void Send(CUnidrvInterface& vendor, Bytes data, std::size_t chunk) {
    for (std::size_t at = 0; at < data.size(); at += chunk) {
      const std::size_t n = std::min(chunk, data.size() - at);
      vendor.ModifyFinalPrintData(&world.device, world.body(), &world.area, data.data() + at, static_cast<DWORD>(n));
    }
  }

  JobWorld world;
  fs::path folder;
};

TEST_F(Overlays, SetUpByMode) {
  struct Case {
    std::uint32_t mode;
    bool trailing;
    WString list;
    std::uint32_t modeAfter;
    WString name, file, fileEven;
  };
  const WString sep(1, platform::PathSeparator());
  const Case cases[] = {
      {CREATE_OVERLAY, false, VTEXT("Invoice;inv.ovl"), CREATE_OVERLAY, VTEXT("Invoice"),
       Folder() + sep + VTEXT("inv.ovl"), VTEXT("")},
      {ONE_OVERLAY, true, VTEXT("a.ovl"), ONE_OVERLAY, VTEXT(""), Folder(true) + VTEXT("a.ovl"), VTEXT("")},
      {ODD_EVEN_OVERLAY, false, VTEXT("odd.ovl;even.ovl;"), ODD_EVEN_OVERLAY, VTEXT(""),
       Folder() + sep + VTEXT("odd.ovl"), Folder() + sep + VTEXT("even.ovl")},
      {ONE_OVERLAY, false, VTEXT(";b.ovl"), ONE_OVERLAY, VTEXT(""), Folder() + sep, VTEXT("")},
      {ODD_EVEN_OVERLAY, false, VTEXT("odd.ovl"), NO_OVERLAY, VTEXT(""), VTEXT(""), VTEXT("")},  // too short
      {CREATE_OVERLAY, false, VTEXT("OnlyName"), NO_OVERLAY, VTEXT(""), VTEXT(""), VTEXT("")},
  };
  for (const auto& c : cases) {
    CUnidrvInterface vendor;
    SetPrinterValues(c.trailing ? Folder(true) : Folder(), c.list);
    world.settings().set_dwOverlayMode(c.mode);
    EXPECT_EQ(vendor.InitializeOverlayParameters(&world.device, world.body(), &world.area), 0);
    EXPECT_EQ(world.settings().dwOverlayMode(), c.modeAfter) << platform::Utf16ToUtf8(c.list);
    EXPECT_EQ(vendor.overlayName(), c.name);
    EXPECT_EQ(vendor.overlayFile(), c.file) << platform::Utf16ToUtf8(c.list);
    EXPECT_EQ(vendor.overlayFileEven(), c.fileEven);
  }
}

TEST_F(Overlays, MissingValuesTurnOverlaysOff) {
  for (int missing = 0; missing < 2; ++missing) {
    world.spooler.AddPrinter(testing::kTestPrinter).data.clear();
    SetPrinterValues(missing == 0 ? std::nullopt : std::optional<WString>(Folder()),
                     missing == 1 ? std::nullopt : std::optional<WString>(VTEXT("odd.ovl;even.ovl")));
    world.settings().set_dwOverlayMode(ODD_EVEN_OVERLAY);
    CUnidrvInterface vendor;
    vendor.InitializeOverlayParameters(&world.device, world.body(), &world.area);
    EXPECT_EQ(world.settings().dwOverlayMode(), NO_OVERLAY);
  }
}

TEST_F(Overlays, ExistingOverlayIsLeftUntouched) {
  WriteFile(folder / "inv.ovl", testing::Text("keep me"));
  SetPrinterValues(Folder(), VTEXT("Invoice;inv.ovl"));
  world.settings().set_dwOverlayMode(CREATE_OVERLAY);
  CUnidrvInterface vendor;
  vendor.InitializeOverlayParameters(&world.device, world.body(), &world.area);
  EXPECT_EQ(world.settings().dwOverlayMode(), NO_OVERLAY);
  EXPECT_EQ(ReadFile(folder / "inv.ovl"), testing::Text("keep me"));
}

// A capture job's data: something before the page, the begin marker, the page with font
// names, the end marker, the trailer.
Bytes CaptureJob(const std::string& page) {
  return testing::Cat({testing::Text("\x1b%-12345X@PJL ENTER LANGUAGE=PCLXL\r\n) HP-PCL XL;2;1\n"),
                       testing::Text("%%OVL_PCLXL_BEGIN"),
                       {0x61, 0x74},
                       testing::Text(page),
                       {0x60},
                       testing::Text("%%OVL_PCLXL_FONT_END"),
                       {0x49, 0x42},
                       testing::Text("\x1b%-12345X@PJL EOJ\r\n\x1b%-12345X")});
}

TEST_F(Overlays, CaptureIsTheSameForEveryBufferSize) {
  std::string page;
  for (int i = 0; i < 300; ++i) page += "draw MS PCLXLFont " + std::to_string(i) + " %%OVL ms PCLXLFont % ";
  const Bytes job = CaptureJob(page);
  std::string renamed = page;
  for (std::size_t at = renamed.find("MS PCLXLFont"); at != std::string::npos; at = renamed.find("MS PCLXLFont", at))
    renamed[at] = 'C';
  const Bytes expected = testing::Cat({testing::Text("(PCLXL;Letter;1;600;0;Invoice;)\r\n%%OVL_DATA_START:-"),
                                       {0x61, 0x74},
                                       testing::Text(renamed),
                                       {0x60}});
  SetPrinterValues(Folder(), VTEXT("Invoice;inv.ovl"));
  for (std::size_t chunk : {1u, 7u, 17u, 4096u, 1u << 20}) {
    fs::remove(folder / "inv.ovl");
    world.settings().set_dwOverlayMode(CREATE_OVERLAY);
    world.area.dwOverlayCaptured = 0;
    CUnidrvInterface vendor;
    vendor.InitializeOverlayParameters(&world.device, world.body(), &world.area);
    Send(vendor, job, chunk);
    EXPECT_EQ(ReadFile(folder / "inv.ovl"), expected) << "buffers of " << chunk;
    EXPECT_EQ(world.area.dwOverlayCaptured, 1u) << chunk;
    EXPECT_EQ(vendor.captureState(), OVL_DATA_DONE);
  }
}

TEST_F(Overlays, SecondCaptureOnOneVendorObject) {
  SetPrinterValues(Folder(), VTEXT("First;one.ovl"));
  world.settings().set_dwOverlayMode(CREATE_OVERLAY);
  CUnidrvInterface vendor;
  vendor.InitializeOverlayParameters(&world.device, world.body(), &world.area);
  Send(vendor, CaptureJob("page one"), 64);
  EXPECT_EQ(world.area.dwOverlayCaptured, 1u);

  SetPrinterValues(Folder(), VTEXT("Second;two.ovl"));
  world.settings().set_dwOverlayMode(CREATE_OVERLAY);
  vendor.InitializeOverlayParameters(&world.device, world.body(), &world.area);
  EXPECT_EQ(world.area.dwOverlayCaptured, 0u);
  Send(vendor, CaptureJob("page two"), 64);
  EXPECT_EQ(world.area.dwOverlayCaptured, 1u);
  const Bytes two = ReadFile(folder / "two.ovl");
  EXPECT_EQ(std::string(two.end() - 11, two.end()), std::string("\x61\x74page two\x60"));
}

// Two jobs capture one overlay at once, each through its own vendor object: the first keeps
// its overlay, and the second, which finds that capture in progress, prints as an ordinary
// job. A work file left behind by a capture that never finished is no claim.
TEST_F(Overlays, ACaptureInProgressCountsAsAnExistingOverlay) {
  WriteFile(folder / "inv.ovl.capture", testing::Text("left by a killed job"));
  SetPrinterValues(Folder(), VTEXT("Invoice;inv.ovl"));
  world.settings().set_dwOverlayMode(CREATE_OVERLAY);
  std::array<std::uint8_t, kVendorRecordSize> secondRecord = world.record;
  std::uint8_t* secondBody = secondRecord.data() + kVendorHeaderSize;
  VendorData secondArea{};
  ClearVendorData(secondArea);
  CUnidrvInterface first, second;
  first.InitializeOverlayParameters(&world.device, world.body(), &world.area);
  second.InitializeOverlayParameters(&world.device, secondBody, &secondArea);
  EXPECT_EQ(world.settings().dwOverlayMode(), CREATE_OVERLAY);
  EXPECT_EQ(VendorSettings(secondBody).dwOverlayMode(), NO_OVERLAY);

  // The hosts send the two jobs' buffers in turn.
  const Bytes firstJob = CaptureJob("first MS PCLXLFont"), secondJob = CaptureJob("second MS PCLXLFont");
  Bytes secondSent;
  for (std::size_t at = 0; at < std::max(firstJob.size(), secondJob.size()); at += 16) {
    if (at < firstJob.size())
      Send(first, Bytes(firstJob.begin() + at, firstJob.begin() + std::min(at + 16, firstJob.size())), 16);
    if (at >= secondJob.size()) continue;
    Bytes buffer(secondJob.begin() + at, secondJob.begin() + std::min(at + 16, secondJob.size()));
    EXPECT_EQ(second.ModifyFinalPrintData(&world.device, secondBody, &secondArea, buffer.data(),
                                          static_cast<DWORD>(buffer.size())),
              S_OK);
    secondSent.insert(secondSent.end(), buffer.begin(), buffer.end());
  }
  EXPECT_EQ(world.area.dwOverlayCaptured, 1u);
  EXPECT_EQ(secondArea.dwOverlayCaptured, 0u);
  EXPECT_EQ(secondSent, secondJob) << "the ordinary job passes unchanged";
  EXPECT_EQ(ReadFile(folder / "inv.ovl"),
            testing::Cat({testing::Text("(PCLXL;Letter;1;600;0;Invoice;)\r\n%%OVL_DATA_START:-"),
                          {0x61, 0x74},
                          testing::Text("first CS PCLXLFont"),
                          {0x60}}));
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"inv.ovl"});
}

TEST_F(Overlays, MarkersAndFontNames) {
  SetPrinterValues(Folder(), VTEXT("X;x.ovl"));
  world.settings().set_dwOverlayMode(CREATE_OVERLAY);
  CUnidrvInterface vendor;
  vendor.InitializeOverlayParameters(&world.device, world.body(), &world.area);
  // A lower-case begin marker counts; the page keeps "ms PCLXLFont42", renames "MS pclxlfont42".
  Bytes buffer = testing::Text("...%%ovl_pclxl_begin|MS pclxlfont42|ms PCLXLFont42|");
  vendor.ModifyFinalPrintData(&world.device, world.body(), &world.area, buffer.data(),
                              static_cast<DWORD>(buffer.size()));
  EXPECT_EQ(vendor.captureState(), OVL_DATA_VALID);
  EXPECT_EQ(testing::Text("...%%ovl_pclxl_begin|CS pclxlfont42|ms PCLXLFont42|"), buffer);
  Bytes end = testing::Text("tail%%OVL_PCLXL_FONT_ENDrest");
  vendor.ModifyFinalPrintData(&world.device, world.body(), &world.area, end.data(), static_cast<DWORD>(end.size()));
  EXPECT_EQ(vendor.captureState(), OVL_DATA_DONE);
  const Bytes file = ReadFile(folder / "x.ovl");
  const std::string data(file.begin() + static_cast<std::ptrdiff_t>(GetOverlayDataOffset(file.data(), file.size())),
                         file.end());
  EXPECT_EQ(data, "|CS pclxlfont42|ms PCLXLFont42|tail");

  // Outside a capture job the font name passes unchanged.
  world.settings().set_dwOverlayMode(ONE_OVERLAY);
  Bytes other = testing::Text("MS PCLXLFont");
  vendor.ModifyFinalPrintData(&world.device, world.body(), &world.area, other.data(), 12);
  EXPECT_EQ(other, testing::Text("MS PCLXLFont"));
}

TEST_F(Overlays, CaptureFailuresAreLoggedNamingTheFileThatFailed) {
  // An overlay folder of 120 characters: a length overlay folders may have.
  const fs::path forms = folder / std::string(std::max<std::size_t>(10, 119 - folder.string().size()), 'f');
  fs::create_directories(forms);
  world.environment.appDataFolder = platform::Utf8ToUtf16(folder.string());
  world.environment.switches[VTEXT("EnableLogging")] = platform::MachineSwitch{true, 1u};
  const fs::path log = folder / "VELMORA IT Co" / "DriverLog.txt";
  struct Case {
    const char* what;
    fs::path overlayFolder;
    std::function<bool()> meanwhile;  // between the job's set-up and its data; false: not here
    std::string failed;               // the file the line names
  };
  const Case cases[] = {
      {"no such folder", forms / "absent", [] { return true; }, "inv.ovl.capture"},
      // The capture writes through its open file; the overlay it cannot become is named.
      // Windows keeps a held file from being removed: the case does not arise there.
      {"the capture file vanished", forms,
       [&] {
         std::error_code held;
         return fs::remove(forms / "inv.ovl.capture", held);
       },
       "inv.ovl"},
      {"another job made the overlay", forms,
       [&] {
         WriteFile(forms / "inv.ovl", testing::Text("other"));
         return true;
       },
       "inv.ovl"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    detail::ResetLogStateForTesting();
    fs::remove(log);
    fs::remove(forms / "inv.ovl");
    SetPrinterValues(platform::Utf8ToUtf16(c.overlayFolder.string()), VTEXT("Invoice;inv.ovl"));
    world.settings().set_dwOverlayMode(CREATE_OVERLAY);
    CUnidrvInterface vendor;
    vendor.InitializeOverlayParameters(&world.device, world.body(), &world.area);
    if (!c.meanwhile()) continue;
    Send(vendor, CaptureJob("page"), 4096);

    const Bytes bytes = ReadFile(log);
    const std::string text(bytes.begin(), bytes.end());
    const std::size_t at = text.find("the overlay cannot be");
    ASSERT_NE(at, std::string::npos) << text;
    const std::size_t begin = text.rfind("\r\n", at) + 2, end = text.find("\r\n", at) + 2;
    const std::string line = text.substr(begin, end - begin);
    EXPECT_LE(line.size(), 259u) << line;
    // The path runs from the colon to the reason in brackets, or to the line end.
    const std::size_t from = line.find(": ") + 2;
    const std::string path = line.substr(from, std::min(line.find(" (", from), line.size() - 2) - from);
    EXPECT_TRUE(path.ends_with(std::string(1, static_cast<char>(platform::PathSeparator())) + c.failed)) << line;
  }
  detail::ResetLogStateForTesting();
}

// A raster capture's overlay holds its header only and is finished at once: a later job of
// the same vendor object, capturing another overlay, and the vendor object's end leave it.
TEST_F(Overlays, RasterCaptureHoldsTheHeaderOnlyAndKeepsIt) {
  const Bytes header = testing::Text("(PCLXL-RASTER;Letter;1;600;0;R;)\r\n%%OVL_DATA_START:-");
  {
    SetPrinterValues(Folder(), VTEXT("R;r.ovl"));
    world.settings().set_dwOverlayMode(CREATE_OVERLAY);
    world.settings().set_bRasterMode(1);
    CUnidrvInterface vendor;
    vendor.InitializeOverlayParameters(&world.device, world.body(), &world.area);
    Send(vendor, testing::Text("raster data without markers"), 5);
    EXPECT_EQ(ReadFile(folder / "r.ovl"), header);
    EXPECT_EQ(world.area.dwOverlayCaptured, 0u);

    SetPrinterValues(Folder(), VTEXT("S;s.ovl"));
    world.settings().set_dwOverlayMode(CREATE_OVERLAY);
    world.settings().set_bRasterMode(0);
    vendor.InitializeOverlayParameters(&world.device, world.body(), &world.area);
    EXPECT_EQ(ReadFile(folder / "r.ovl"), header);
  }
  EXPECT_EQ(ReadFile(folder / "r.ovl"), header);
}

TEST_F(Overlays, PlaybackStreamsTheDataInChunks) {
  const std::string header(22, 'h');
  Bytes data(5000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31);
  WriteFile(folder / "form.ovl", testing::Cat({testing::Text(header + "%%OVL_DATA_START:-"), data}));
  fs::permissions(folder / "form.ovl", fs::perms::owner_read);  // a read-only form plays too
  CCommandInsertor insertor(world.body(), &world.devmode, &world.device, &world.services, world.jobId, world.printer);
  insertor.InsertOverlayFileData(Folder() + WString(1, platform::PathSeparator()) + VTEXT("form.ovl"));
  ASSERT_EQ(world.services.writes.size(), 2u);
  EXPECT_EQ(world.services.writes[0].size(), 4056u);
  EXPECT_EQ(world.services.writes[1].size(), 944u);
  EXPECT_EQ(world.services.written, data);

  world.Take();
  WriteFile(folder / "bad.ovl", testing::Text("no marker here"));
  insertor.InsertOverlayFileData(Folder() + WString(1, platform::PathSeparator()) + VTEXT("bad.ovl"));
  insertor.InsertOverlayFileData(Folder() + WString(1, platform::PathSeparator()) + VTEXT("missing.ovl"));
  EXPECT_TRUE(world.Take().empty());
}

TEST_F(Overlays, OddEvenAndPairedPlayback) {
  WriteFile(folder / "odd.ovl", testing::Text("(h)\r\n%%OVL_DATA_START:-O"));
  WriteFile(folder / "even.ovl", testing::Text("(h)\r\n%%OVL_DATA_START:-E"));
  SetPrinterValues(Folder(), VTEXT("odd.ovl;even.ovl"));
  world.settings().set_dwOverlayMode(ODD_EVEN_OVERLAY);
  world.settings().set_bOverlayUnder(0);
  CUnidrvInterface vendor;
  world.Start(vendor);
  world.Callback(vendor, GPD_CMD_START_JOB);
  auto played = [&](int pairRule) {
    world.settings().SpecialPage(2)->set_dwPageRule(pairRule);
    std::string pages;
    world.area.dwPageNumber = 0;
    for (int page = 1; page <= 8; ++page) {
      world.area.dwPageNumber = page;
      world.Take();
      vendor.InsertPCLOverlayData(world.body(), &world.area);
      const Bytes bytes = world.Take();
      pages += std::string(bytes.begin(), bytes.end());
    }
    return pages;
  };
  EXPECT_EQ(played(0), "OEOEOEOE");
  EXPECT_EQ(played(2), "OOEEOOEE");
  // Over the page: the overlay comes before the end of page.
  world.area.dwPageNumber = 1;
  world.settings().SpecialPage(2)->set_dwPageRule(0);
  world.Take();
  world.Callback(vendor, GPD_CMD_END_PAGE);
  EXPECT_EQ(world.Take(), testing::Cat({testing::Text("O"), {0xC1, 0x01, 0x00, 0xF8, 0x31, 0x44}}));
  // Under the page, in raster mode: no overlay at either end.
  world.settings().set_bOverlayUnder(1);
  world.settings().set_bRasterMode(1);
  world.Callback(vendor, GPD_CMD_START_PAGE);
  world.Callback(vendor, GPD_CMD_END_PAGE);
  const Bytes raster = world.Take();
  EXPECT_EQ(std::count(raster.begin(), raster.end(), 'O'), 0);
}

}  // namespace
}  // namespace velmora

// The vendor object: job-control events, the module gate, the command callbacks.
#include <gtest/gtest.h>

#include "pxl/reader.h"
#include "tests/fakes/job_world.h"

namespace velmora {
namespace {

using testing::Bytes;
using testing::JobWorld;

const Bytes kStartPage = {0xD3, 0x63, 0x00, 0x63, 0x00, 0xF8, 0x2A, 0x75,                          // origin 99, 99
                          0xD5, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x80, 0x3F, 0xF8, 0x2B, 0x77,  // scale 1, 1
                          0xC0, 0x01, 0xF8, 0x03, 0x6A,                                            // grey
                          0xC0, 0xCC, 0xF8, 0x2C, 0x7B};                                           // ROP 204

class JobProcessor : public ::testing::Test {
 protected:
  void SetModuleName(const WString& name) {
    platform::PrinterValue value{platform::ValueType::kMultiString, Bytes(260, 0)};
    text::WriteWideField(value.bytes.data(), 130, name);
    world.spooler.AddPrinter(testing::kTestPrinter).data[VTEXT("ModuleName")] = value;
  }
  JobWorld world;
  CUnidrvInterface vendor;
};

TEST_F(JobProcessor, OnePageVectorJob) {
  world.Start(vendor);
  world.Event(vendor, 33);
  world.Take();
  world.Callback(vendor, GPD_CMD_START_PAGE);
  EXPECT_EQ(world.Take(), kStartPage);
  world.Callback(vendor, GPD_CMD_END_PAGE);
  EXPECT_EQ(world.Take(), (Bytes{0xC1, 0x01, 0x00, 0xF8, 0x31, 0x44}));
}

TEST_F(JobProcessor, StartPageWithoutDeviceFiguresHasNoOrigin) {
  world.devices.figures.reset();
  world.Start(vendor);
  world.Callback(vendor, GPD_CMD_START_PAGE);
  EXPECT_EQ(world.Take(), Bytes(kStartPage.begin() + 8, kStartPage.end()));
}

TEST_F(JobProcessor, BindingShiftMovesTheOrigin) {
  struct Case {
    const WCHAR* shift;
    std::uint8_t unit;
    std::int16_t edge;
    std::int16_t x, y;
  };
  const Case cases[] = {
      {VTEXT("5"), 1, 0, 99 + 118, 99},  // 5 mm at 600 dpi
      {VTEXT("0.25"), 0, 1, 99, 99 + 150},
      {VTEXT("abc"), 0, 0, 99, 99},
      {VTEXT("-0.1"), 0, 0, 99 - 60, 99},
  };
  world.Start(vendor);
  for (const auto& c : cases) {
    world.settings().set_szBindingShift(c.shift);
    world.settings().set_bMarginUnit(c.unit);
    world.settings().set_sBindingEdge(c.edge);
    world.Take();
    world.Callback(vendor, GPD_CMD_START_PAGE);
    const Bytes written = world.Take();
    ASSERT_GE(written.size(), 8u);
    const Bytes origin = {0xD3,
                          static_cast<std::uint8_t>(c.x & 0xFF),
                          static_cast<std::uint8_t>((c.x >> 8) & 0xFF),
                          static_cast<std::uint8_t>(c.y & 0xFF),
                          static_cast<std::uint8_t>((c.y >> 8) & 0xFF),
                          0xF8,
                          0x2A,
                          0x75};
    EXPECT_EQ(Bytes(written.begin(), written.begin() + 8), origin) << c.x << "," << c.y;
  }
}

TEST_F(JobProcessor, EndOfPageCopiesAndJobStatus) {
  struct Case {
    std::int16_t copies;
    std::int16_t collate;
    DWORD status;
    Bytes expected;
  };
  const Case cases[] = {
      {1, 0, 0, {0xC1, 0x01, 0x00, 0xF8, 0x31, 0x44}},
      {3, 0, 0, {0xC1, 0x03, 0x00, 0xF8, 0x31, 0x44}},
      {300, 0, 0x10, {0xC1, 0x2C, 0x01, 0xF8, 0x31, 0x44}},  // printing: not a stopping bit
      // Collated copies are the job's (the header's QTY line): one of each page.
      {3, 1, 0, {0xC1, 0x01, 0x00, 0xF8, 0x31, 0x44}},
      {1, 0, 0x4, {}},    // deleting
      {1, 0, 0x100, {}},  // deleted
      {1, 0, 0x800, {}},  // restarting
      {1, 0, 0x104, {}},
  };
  world.Start(vendor);
  for (const auto& c : cases) {
    world.devmode.dmCopies = c.copies;
    world.devmode.dmCollate = c.collate;
    world.spooler.FindJob(world.jobId)->status = c.status;
    world.Take();
    EXPECT_EQ(world.Callback(vendor, GPD_CMD_END_PAGE), S_OK);
    EXPECT_EQ(world.Take(), c.expected) << "copies " << c.copies << " collate " << c.collate << " status " << c.status;
  }
  world.devmode.dmCollate = 0;
  // A job the spooler no longer knows is not being deleted.
  world.spooler.failGetJob = true;
  world.Callback(vendor, GPD_CMD_END_PAGE);
  EXPECT_EQ(world.Take(), (Bytes{0xC1, 0x01, 0x00, 0xF8, 0x31, 0x44}));
}

TEST_F(JobProcessor, OverlayCaptureMarkersAndRasterMode) {
  world.settings().set_dwOverlayMode(CREATE_OVERLAY);
  world.Start(vendor);
  world.Event(vendor, 33);
  world.Take();
  world.Callback(vendor, GPD_CMD_START_PAGE);
  const Bytes clip = {0xE3, 0x00, 0x00, 0x00, 0x00, 0x9A, 0x12, 0xA1, 0x1A, 0xF8, 0x42, 0xC0, 0x00, 0xF8, 0x53, 0x68};
  EXPECT_EQ(world.Take(), testing::Cat({testing::Text("%%OVL_PCLXL_BEGIN"),
                                        {0x61, 0x74},
                                        Bytes(kStartPage.begin(), kStartPage.begin() + 20),
                                        clip,
                                        Bytes(kStartPage.begin() + 20, kStartPage.end())}));
  world.Callback(vendor, GPD_CMD_END_PAGE);
  EXPECT_TRUE(world.Take().empty());  // a captured page stays open
  world.Callback(vendor, GPD_CMD_END_JOB);
  const std::string trailer = std::string("\x49\x42\x1b%-12345X@PJL EOJ\r\n\x1b%-12345X");
  EXPECT_EQ(world.Take(), testing::Cat({{0x60}, testing::Text("%%OVL_PCLXL_FONT_END"), testing::Text(trailer)}));

  world.settings().set_bRasterMode(1);
  world.Callback(vendor, GPD_CMD_START_PAGE);
  const Bytes raster = world.Take();
  EXPECT_EQ(raster.size(), kStartPage.size() + clip.size());  // no marker, still the clip
  world.Callback(vendor, GPD_CMD_END_JOB);
  EXPECT_EQ(world.Take(), testing::Text(trailer));
}

TEST_F(JobProcessor, UnknownCallbacksOnlyCreateTheGenerator) {
  world.Start(vendor);
  for (DWORD id : {4999u, 5009u, 0u}) {
    EXPECT_EQ(world.Callback(vendor, id), S_OK);
    EXPECT_NE(vendor.commandInsertor(), nullptr);
    EXPECT_TRUE(world.Take().empty()) << id;
  }
  EXPECT_EQ(world.Callback(vendor, GPD_CMD_END_DOC), S_OK);
  EXPECT_TRUE(world.Take().empty());
}

TEST_F(JobProcessor, StartOfDocumentCreatesTheRendererOnlyForWatermarks) {
  world.Start(vendor);
  world.settings().set_sFP_SectionIndex(0);
  world.settings().set_sNP_SectionIndex(-1);
  world.Callback(vendor, GPD_CMD_START_DOC);
  EXPECT_EQ(vendor.watermarkRenderer(), nullptr);
  world.settings().set_sNP_SectionIndex(2);
  world.Callback(vendor, GPD_CMD_START_DOC);
  ASSERT_NE(vendor.watermarkRenderer(), nullptr);
  // Pages of the same document count the document's sheets on.
  world.Callback(vendor, GPD_CMD_END_PAGE);
  world.Callback(vendor, GPD_CMD_END_PAGE);
  EXPECT_EQ(vendor.watermarkRenderer()->sheetCounter(), 2);
  // The same document started again on a new device after a reset (no event) goes on.
  world.Callback(vendor, GPD_CMD_START_DOC);
  EXPECT_EQ(vendor.watermarkRenderer()->sheetCounter(), 2);
  // The next document begins afresh.
  world.Event(vendor, 35);
  world.Callback(vendor, GPD_CMD_START_DOC);
  EXPECT_EQ(vendor.watermarkRenderer()->sheetCounter(), 0);
}

TEST_F(JobProcessor, TwoDocumentsOnOneVendorObjectCarryTheirOwnJobs) {
  world.Start(vendor);
  world.Callback(vendor, GPD_CMD_START_JOB);
  const std::string first(world.services.written.begin(), world.services.written.end());
  EXPECT_NE(first.find("@PJL JOB NAME=\"Quarterly Report.pdf\""), std::string::npos);

  platform::JobInfo second;
  second.document = VTEXT("Invoice 7.pdf");
  second.userName = VTEXT("ben");
  const DWORD secondJob = world.spooler.AddJob(testing::kTestPrinter, second);
  world.Take();
  world.Event(vendor, 34);
  world.Event(vendor, 35, secondJob);
  world.Callback(vendor, GPD_CMD_START_JOB);
  const std::string header(world.services.written.begin(), world.services.written.end());
  EXPECT_NE(header.find("@PJL JOB NAME=\"Invoice 7.pdf\""), std::string::npos) << header;
  EXPECT_NE(header.find("UserName=ben"), std::string::npos);
  EXPECT_EQ(header.find("Quarterly"), std::string::npos);
}

TEST_F(JobProcessor, GeneratorFollowsADeviceReset) {
  world.Start(vendor);
  world.Callback(vendor, GPD_CMD_START_JOB);
  // A new device replaces the old one; the old device object and its device mode go away.
  JobWorld fresh;
  auto oldDevice = std::make_unique<DEVOBJ>(world.device);
  vendor.Reset(&world.devmode, world.body(), &world.area, &fresh.devmode, fresh.body(), &fresh.area);
  oldDevice.reset();
  world.devmode.dmCopies = 111;  // the old device mode must no longer be read
  fresh.devmode.dmCopies = 2;
  world.Take();
  EXPECT_EQ(vendor.GPDCallbackCommand(&fresh.device, fresh.body(), &fresh.area, GPD_CMD_END_PAGE, 0, nullptr, nullptr,
                                      0, nullptr),
            S_OK);
  // The host's driver services serve both devices; the copies come from the new device.
  EXPECT_EQ(world.Take(), (Bytes{0xC1, 0x02, 0x00, 0xF8, 0x31, 0x44}));
}

TEST_F(JobProcessor, JobControlEvents) {
  world.Start(vendor);
  world.area.pCellRects = std::make_unique<CellRect[]>(4);
  world.area.wCellRectCount = 3;
  for (DWORD event : {33u, 33u, 32u}) EXPECT_EQ(world.Event(vendor, event), S_FALSE);
  EXPECT_EQ(world.Event(vendor, 34), S_FALSE);
  EXPECT_EQ(world.area.dwJobId, world.jobId);
  EXPECT_EQ(world.area.dwPageNumber, 2u);
  EXPECT_EQ(world.area.pCellRects, nullptr);
  EXPECT_EQ(world.area.wCellRectCount, 0);
  world.Event(vendor, 999);
  world.Event(vendor, 0);
  EXPECT_EQ(world.area.dwPageNumber, 2u);
  // A body with another signature changes nothing.
  world.settings().set_dwBodySignature(0x12345678);
  EXPECT_EQ(world.Event(vendor, 33), S_OK);
  EXPECT_EQ(world.area.dwPageNumber, 2u);
}

TEST_F(JobProcessor, ResetCarriesTheDocumentOnToTheNewDevice) {
  world.Start(vendor);
  world.Event(vendor, 33);
  world.settings().set_dwOutputBin(2);
  JobWorld fresh;
  ClearVendorData(fresh.area);
  vendor.Reset(&world.devmode, world.body(), &world.area, &fresh.devmode, fresh.body(), &fresh.area);
  EXPECT_EQ(fresh.settings().dwOutputBin(), 2u);
  EXPECT_EQ(fresh.area.dwJobId, world.jobId);
  fresh.Event(vendor, 33);
  EXPECT_EQ(fresh.area.dwPageNumber, 2u);
}

TEST_F(JobProcessor, InitializeCopiesPrinterNamesShorterThan130) {
  for (std::size_t length : {129u, 130u}) {
    const WString name(length, VTEXT('p'));
    ClearVendorData(world.area);
    vendor.Initialize(&world.device, &world.services, world.printer, name.c_str(), nullptr, &world.devmode,
                      world.body(), &world.area, nullptr);
    EXPECT_EQ(WString(world.area.szPrinterName), length == 129 ? name : WString()) << length;
  }
}

TEST_F(JobProcessor, ModuleGateRefusesDriverTestTools) {
  world.Start(vendor);
  struct Case {
    const WCHAR* module;
    bool supported;
  };
  const Case cases[] = {{VTEXT("DevModeCorrupt.EXE"), false},
                        {VTEXT("devmodecorrupt"), true},
                        {VTEXT("printdrvstress.exe"), false},
                        {VTEXT("PRDeviceCapabilities.exe"), false},
                        {VTEXT("winword.exe"), true}};
  for (const auto& c : cases) {
    SetModuleName(c.module);
    EXPECT_EQ(vendor.IsSupportedPrintingModule(world.body(), world.printer), c.supported);
    EXPECT_EQ(vendor.GetHalftonePattern(world.printer, &world.devmode, world.body(), &world.area, nullptr, 0, 0, 0,
                                        6001, nullptr, 0),
              c.supported ? E_FAIL : S_OK);
  }
  SetModuleName(VTEXT("devmodecorruptw.exe"));
  world.Take();
  world.Callback(vendor, GPD_CMD_END_PAGE);
  EXPECT_TRUE(world.Take().empty());
  EXPECT_FALSE(vendor.IsSupportedPrintingModule(nullptr, world.printer));
  EXPECT_FALSE(vendor.IsSupportedPrintingModule(world.body(), InvalidHandleValue()));
}

// A whole job through the callbacks, with the host's own operators in between, reads
// back as a well-formed stream.
TEST_F(JobProcessor, WholeJobReadsBackAsAWellFormedStream) {
  world.devmode.dmDuplex = 2;
  world.devmode.dmCopies = 2;
  world.Start(vendor);
  world.Callback(vendor, GPD_CMD_START_JOB);
  const Bytes session =
      testing::Cat({testing::Text(") HP-PCL XL;2;1\n"), {0xC0, 0x00, 0xF8, 0x86, 0x41, 0xC0, 0x00, 0xF8, 0x88, 0x48}});
  world.services.written.insert(world.services.written.end(), session.begin(), session.end());
  world.Callback(vendor, GPD_CMD_START_DOC);
  for (int page = 0; page < 3; ++page) {
    world.Event(vendor, 33);
    world.Callback(vendor, GPD_CMD_MEDIA_TRAY);
    world.Callback(vendor, GPD_CMD_MEDIA_TYPE);
    world.Callback(vendor, GPD_CMD_DUPLEX);
    const Bytes beginPage = {0xC0, 0x00, 0xF8, 0x28, 0xC0, 0x02, 0xF8, 0x25, 0x43};
    world.services.written.insert(world.services.written.end(), beginPage.begin(), beginPage.end());
    world.Callback(vendor, GPD_CMD_START_PAGE);
    world.Callback(vendor, GPD_CMD_END_PAGE);
  }
  world.Callback(vendor, GPD_CMD_END_DOC);
  world.Callback(vendor, GPD_CMD_END_JOB);

  const Bytes job = world.Take();
  const pxl::ParseResult parsed = pxl::Parse(job);
  ASSERT_FALSE(parsed.error.has_value()) << parsed.error->ToString();
  int beginPages = 0, endPages = 0;
  for (const auto& event : parsed.events) {
    if (event.kind != pxl::EventKind::kOperator) continue;
    if (event.Is(pxl::Op::BeginPage)) {
      ++beginPages;
      EXPECT_NE(event.Find(pxl::Attr::MediaSource), nullptr);
      EXPECT_NE(event.Find(pxl::Attr::MediaType), nullptr);
      EXPECT_NE(event.Find(pxl::Attr::DuplexPageMode), nullptr);
      EXPECT_EQ(event.Find(pxl::Attr::SimplexPageMode), nullptr);
    }
    if (event.Is(pxl::Op::EndPage)) {
      ++endPages;
      ASSERT_NE(event.Find(pxl::Attr::PageCopies), nullptr);
      EXPECT_EQ(event.Find(pxl::Attr::PageCopies)->value.Int(0), 2);
    }
  }
  EXPECT_EQ(beginPages, 3);
  EXPECT_EQ(endPages, 3);
  EXPECT_EQ(parsed.events.back().kind, pxl::EventKind::kUel);
}

}  // namespace
}  // namespace velmora

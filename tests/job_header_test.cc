// The PJL job header and trailer, byte for byte, for whole settings combinations.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "formats/vendor_devmode.h"
#include "platform/fake/fake_services.h"
#include "src/commands/command_insertor.h"
#include "tests/fakes/fake_driver_services.h"

namespace velmora {
namespace {

using platform::fake::FakeClock;
using platform::fake::FakeEnvironment;
using platform::fake::FakeSpooler;

const WString kPrinter = VTEXT("Office Laser");

// One job's world: the spooler with its printer and job, the clock, the host's driver
// services, and the job's device mode and settings record.
class JobHeaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clock.now = {2026, 12, 6, 9, 5, 3};
    platform::JobInfo job;
    job.document = VTEXT("Quarterly Report.pdf");
    job.machineName = VTEXT("\\\\WS-042");
    job.userName = VTEXT("anna");
    jobId = spooler.AddJob(kPrinter, job);
    printer = spooler.Open(kPrinter, platform::PRINTER_ALL_ACCESS);
    FillVendorDefaults(body.data());
    devmode.dmSize = sizeof(DEVMODEW);
    devmode.dmOrientation = 1;
    devmode.dmDuplex = 1;
    devmode.dmCopies = 1;
    devmode.dmCollate = 0;
    devmode.dmDefaultSource = 7;
    services.options = {{"PaperSize", "A4"}, {"MediaType", "PLAIN"}, {"InputBin", "TRAY2"}};
  }

  VendorSettings settings() { return VendorSettings(body.data()); }

  void SetUserAuthentication(std::uint32_t value) {
    spooler.AddPrinter(kPrinter).data[VTEXT("UserAuthentication")] =
        platform::PrinterValue{platform::ValueType::kDword, {static_cast<std::uint8_t>(value), 0, 0, 0}};
  }

  std::string Header() {
    CCommandInsertor insertor(body.data(), &devmode, &deviceObject, &services, jobId, printer);
    EXPECT_EQ(insertor.InsertPJLJobHeader(), S_OK);
    return services.WrittenText();
  }

  FakeSpooler spooler;
  FakeClock clock;
  FakeEnvironment environment;
  platform::ScopedServices scoped{{&spooler, &clock, &environment}};
  testing::FakeDriverServices services;
  DEVOBJ deviceObject{};
  DEVMODEW devmode{};
  std::array<std::uint8_t, kVendorBodySize> body{};
  DWORD jobId = 0;
  HANDLE printer = nullptr;
};

TEST_F(JobHeaderTest, DefaultSettingsWithJobInformation) {
  EXPECT_EQ(Header(),
            "\x1b%-12345X"
            "@PJL COMMENT Office Laser 2.23.2.321              \r\n"
            "@PJL JOB DISPLAY=\"Quarterly Report.pdf\"\r\n"
            "@PJL JOB NAME=\"Quarterly Report.pdf\"\r\n"
            "@PJL SET JOBATTR=\"DocumentName=Quarterly Report.pdf\"\r\n"
            "@PJL SET JOBATTR=\"ComputerName=WS-042\"\r\n"
            "@PJL SET JOBATTR=\"UserName=anna\"\r\n"
            "@PJL SET JOBATTR=\"ReceptionTime=9:5:3 2026/12/6\"\r\n"
            "@PJL SET PAPER=A4\r\n"
            "@PJL SET ROTATESORT=OFF\r\n"
            "@PJL SET ORIENTATION=PORTRAIT\r\n"
            "@PJL SET RESOLUTION=600\r\n"
            "@PJL SET MEDIATYPE=PLAIN\r\n"
            "@PJL SET STAPLE=OFF\r\n"
            "@PJL SET DUPLEX=OFF\r\n"
            "@PJL SET HOLD=NORMAL\r\n"
            "@PJL SET ECONOMODE=OFF\r\n"
            "@PJL SET BRIGHTNESS=\"A:0\"\r\n"
            "@PJL SET CONTRAST=\"A:1\"\r\n"
            "@PJL SET TONERDARKNESS=6\r\n"
            "@PJL SET COPIES=1\r\n"
            "@PJL ENTER LANGUAGE=PCLXL\r\n");
}

TEST_F(JobHeaderTest, NoJobInformationLockedJobWithFileBox) {
  spooler.failGetJob = true;
  SetUserAuthentication(0);
  services.options["PaperSize"] = "ENV_9";
  services.options["MediaType"] = "VERYTHICK";
  devmode.dmOrientation = 2;
  devmode.dmDuplex = 2;
  devmode.dmCollate = 1;
  devmode.dmCopies = 3;
  settings().set_bRotateSort(1);
  settings().set_sResolution(1200);
  settings().set_dwOutputBin(1);
  settings().set_eHoldMode(2);
  settings().set_szFileBoxName(VTEXT("Finance"));
  settings().set_szFileBoxPassword(VTEXT("1234"));
  settings().set_bEconoMode(1);
  settings().set_sBrightness(-3);
  settings().set_sContrast(2);
  settings().set_sTonerDarkness(9);
  EXPECT_EQ(Header(),
            "\x1b%-12345X"
            "@PJL SET PAPER=CUSTOMSIZE\r\n"
            "@PJL SET ROTATESORT=ON\r\n"
            "@PJL SET ORIENTATION=LANDSCAPE\r\n"
            "@PJL SET RESOLUTION=1200\r\n"
            "@PJL SET MEDIATYPE=VERYTHICK\r\n"
            "@PJL SET OUTBIN=UPPER\r\n"
            "@PJL SET DUPLEX=ON\r\n"
            "@PJL SET BINDING=LONGEDGE\r\n"
            "@PJL SET HOLD=LOCKED\r\n"
            "@PJL SET FILEBOXNAME=\"Finance\"\r\n"
            "@PJL SET FILEBOXPASSWORD=\"1234\"\r\n"
            "@PJL SET ECONOMODE=ON\r\n"
            "@PJL SET BRIGHTNESS=\"A:-3\"\r\n"
            "@PJL SET CONTRAST=\"A:2\"\r\n"
            "@PJL SET TONERDARKNESS=9\r\n"
            "@PJL SET QTY=3\r\n"
            "@PJL ENTER LANGUAGE=PCLXL\r\n");
}

TEST_F(JobHeaderTest, BoxStoredWithoutAuthenticationValueAndHostileDocumentName) {
  spooler.FindJob(jobId)->document = VTEXT("Evil\"\r\n@PJL SET COPIES=999\x1b%-12345X");
  services.options["PaperSize"] = "b6_jis";
  services.options["MediaType"] = "AUTO";
  devmode.dmDuplex = 3;
  devmode.dmCopies = 2;
  settings().set_dwOutputBin(2);
  settings().set_bStaple(1);
  settings().set_eHoldMode(7);
  settings().set_szPrintBoxDir(VTEXT("Box\"07"));
  settings().set_bEconoMode(2);  // only exactly 1 means on
  EXPECT_EQ(Header(),
            "\x1b%-12345X"
            "@PJL COMMENT Office Laser 2.23.2.321              \r\n"
            "@PJL JOB DISPLAY=\"Evil'  @PJL SET COPIES=999 %-12345X\"\r\n"
            "@PJL JOB NAME=\"Evil'  @PJL SET COPIES=999 %-12345X\"\r\n"
            "@PJL SET JOBATTR=\"DocumentName=Evil'  @PJL SET COPIES=999 %-12345X\"\r\n"
            "@PJL SET JOBATTR=\"ComputerName=WS-042\"\r\n"
            "@PJL SET JOBATTR=\"UserName=anna\"\r\n"
            "@PJL SET JOBATTR=\"ReceptionTime=9:5:3 2026/12/6\"\r\n"
            "@PJL SET PAPER=B6\r\n"
            "@PJL SET ROTATESORT=OFF\r\n"
            "@PJL SET ORIENTATION=PORTRAIT\r\n"
            "@PJL SET RESOLUTION=600\r\n"
            "@PJL SET MEDIATYPE=AUTOSELECT\r\n"
            "@PJL SET OUTBIN=EXTRA\r\n"
            "@PJL SET STAPLE=TOPLEFT\r\n"
            "@PJL SET DUPLEX=ON\r\n"
            "@PJL SET BINDING=SHORTEDGE\r\n"
            "@PJL SET HOLD=BOXSTORED\r\n"
            "@PJL SET PRINTBOXDIR=\"Box'07\"\r\n"
            "@PJL SET ECONOMODE=OFF\r\n"
            "@PJL SET BRIGHTNESS=\"A:0\"\r\n"
            "@PJL SET CONTRAST=\"A:1\"\r\n"
            "@PJL SET TONERDARKNESS=6\r\n"
            "@PJL SET COPIES=2\r\n"
            "@PJL ENTER LANGUAGE=PCLXL\r\n");
}

TEST_F(JobHeaderTest, HostAnswersNothingIdPrintWithAuthenticationAndBinThree) {
  services.options.clear();
  SetUserAuthentication(1);
  settings().set_dwOutputBin(3);
  settings().set_eHoldMode(5);
  settings().set_szFileBoxName(VTEXT("never sent"));
  settings().set_sResolution(300);
  const std::string header = Header();
  const std::string tail =
      "@PJL SET PAPER=CUSTOMSIZE\r\n"
      "@PJL SET ROTATESORT=OFF\r\n"
      "@PJL SET ORIENTATION=PORTRAIT\r\n"
      "@PJL SET RESOLUTION=600\r\n"
      "@PJL SET MEDIATYPE=AUTOSELECT\r\n"
      "@PJL SET DUPLEX=OFF\r\n"
      "@PJL SET HOLD=IDPRINT\r\n"
      "@PJL SET ECONOMODE=OFF\r\n"
      "@PJL SET BRIGHTNESS=\"A:0\"\r\n"
      "@PJL SET CONTRAST=\"A:1\"\r\n"
      "@PJL SET TONERDARKNESS=6\r\n"
      "@PJL SET COPIES=1\r\n"
      "@PJL ENTER LANGUAGE=PCLXL\r\n";
  ASSERT_GE(header.size(), tail.size());
  EXPECT_EQ(header.substr(header.size() - tail.size()), tail);
}

TEST_F(JobHeaderTest, HoldModesAndUserAuthentication) {
  struct Case {
    std::int32_t hold;
    std::optional<std::uint32_t> userAuthentication;  // nullopt: the printer has no value
    std::string expected;                             // from the HOLD line to ECONOMODE
  };
  const std::string box = "@PJL SET FILEBOXNAME=\"Team\"\r\n@PJL SET FILEBOXPASSWORD=\"pw\"\r\n";
  const std::string dir = "@PJL SET PRINTBOXDIR=\"Dir\"\r\n";
  const Case cases[] = {
      {0, 0, "@PJL SET HOLD=NORMAL\r\n"},
      {1, 0, "@PJL SET HOLD=SAMPLE\r\n" + box},
      {3, 0, "@PJL SET HOLD=STOREDPRINT\r\n" + box},
      {4, 1, "@PJL SET HOLD=STORED\r\n"},
      {6, std::nullopt, "@PJL SET HOLD=IDPRINTSTORED\r\n"},
      {7, 0, "@PJL SET HOLD=BOXSTORED\r\n" + dir},
      {7, 1, "@PJL SET HOLD=BOXSTORED\r\n" + dir},
      {7, std::nullopt, "@PJL SET HOLD=BOXSTORED\r\n" + dir},
      {8, 0, box},
      {8, 1, ""},
      {-1, 0, ""},
  };
  for (const auto& c : cases) {
    services.written.clear();
    spooler.AddPrinter(kPrinter).data.clear();
    if (c.userAuthentication) SetUserAuthentication(*c.userAuthentication);
    settings().set_eHoldMode(c.hold);
    settings().set_szFileBoxName(VTEXT("Team"));
    settings().set_szFileBoxPassword(VTEXT("pw"));
    settings().set_szPrintBoxDir(VTEXT("Dir"));
    const std::string header = Header();
    const std::size_t from = header.find("@PJL SET DUPLEX=OFF\r\n") + 21;
    const std::size_t to = header.find("@PJL SET ECONOMODE=");
    EXPECT_EQ(header.substr(from, to - from), c.expected) << "hold " << c.hold;
  }
}

TEST_F(JobHeaderTest, OutputBinAndStapleLines) {
  struct Case {
    std::uint32_t bin;
    std::uint8_t staple;
    std::string expected;
  };
  const Case cases[] = {
      {0, 0, "@PJL SET STAPLE=OFF\r\n"},
      {0, 1, "@PJL SET STAPLE=TOPLEFT\r\n"},
      {1, 1, "@PJL SET OUTBIN=UPPER\r\n"},
      {2, 0, "@PJL SET OUTBIN=EXTRA\r\n@PJL SET STAPLE=OFF\r\n"},
      {3, 1, ""},
      {0xFFFFFFFF, 1, ""},
  };
  for (const auto& c : cases) {
    services.written.clear();
    settings().set_dwOutputBin(c.bin);
    settings().set_bStaple(c.staple);
    const std::string header = Header();
    const std::size_t from = header.find("@PJL SET MEDIATYPE=PLAIN\r\n") + 26;
    const std::size_t to = header.find("@PJL SET DUPLEX=");
    EXPECT_EQ(header.substr(from, to - from), c.expected) << "bin " << c.bin;
  }
}

TEST_F(JobHeaderTest, BoxFieldsAreCutToThirtyTwoBytes) {
  SetUserAuthentication(0);
  settings().set_eHoldMode(1);
  // 33 characters fill the field with no terminator inside it.
  const WString name(33, VTEXT('N'));
  text::WriteWideField(body.data() + 784, 33, name);
  for (int i = 0; i < 33; ++i) le::PutU16(body.data() + 784 + 2 * i, 'N');
  settings().set_szFileBoxPassword(
      VTEXT("\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9"
            "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9"));  // 17 x 2 bytes
  const std::string header = Header();
  EXPECT_NE(header.find("@PJL SET FILEBOXNAME=\"" + std::string(32, 'N') + "\"\r\n"), std::string::npos);
  std::string sixteen;
  for (int i = 0; i < 16; ++i) sixteen += "\xc3\xa9";
  EXPECT_NE(header.find("@PJL SET FILEBOXPASSWORD=\"" + sixteen + "\"\r\n"), std::string::npos);
}

std::string Repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

TEST_F(JobHeaderTest, LongTextsAreCutSoThatEveryLineStaysWhole) {
  // A line holds at most 1023 bytes. The value gives way, whole characters at a time; the
  // closing quote and the line end stay.
  const std::string e = "\xc3\xa9", euro = "\xe2\x82\xac", clef = "\xf0\x9d\x84\x9e";
  enum Field { kDocument, kUser, kMachine, kPrinter };
  struct Case {
    Field field;
    std::string value;  // UTF-8
    std::string line;
  };
  const Case cases[] = {
      {kDocument, std::string(10000, 'X'), "@PJL JOB DISPLAY=\"" + std::string(1002, 'X') + "\"\r\n"},
      {kDocument, std::string(10000, 'X'), "@PJL SET JOBATTR=\"DocumentName=" + std::string(989, 'X') + "\"\r\n"},
      {kDocument, std::string(10000, '"'), "@PJL JOB NAME=\"" + std::string(1005, '\'') + "\"\r\n"},
      {kDocument, "a" + Repeat(e, 5000), "@PJL JOB DISPLAY=\"a" + Repeat(e, 500) + "\"\r\n"},
      {kUser, "ab" + Repeat(euro, 4000), "@PJL SET JOBATTR=\"UserName=ab" + Repeat(euro, 330) + "\"\r\n"},
      {kMachine, "\\\\" + Repeat(clef, 3000), "@PJL SET JOBATTR=\"ComputerName=" + Repeat(clef, 247) + "\"\r\n"},
      // A name without the backslashes loses nothing, and no character is cut in two.
      {kMachine, euro + "WS", "@PJL SET JOBATTR=\"ComputerName=" + euro + "WS\"\r\n"},
      {kPrinter, std::string(10000, 'P'), "@PJL COMMENT " + std::string(983, 'P') + " 2.23.2.321              \r\n"},
  };
  const platform::JobInfo ordinary = *spooler.FindJob(jobId);
  for (const auto& c : cases) {
    services.written.clear();
    platform::JobInfo& job = *spooler.FindJob(jobId) = ordinary;
    const WString value = text::Utf8ToUtf16(c.value);
    if (c.field == kDocument) job.document = value;
    if (c.field == kUser) job.userName = value;
    if (c.field == kMachine) job.machineName = value;
    if (c.field == kPrinter) job.printerName = value;
    const std::string header = Header();
    EXPECT_NE(header.find(c.line), std::string::npos) << c.line.substr(0, 40);
    ASSERT_TRUE(header.starts_with("\x1b%-12345X@PJL ") && header.ends_with("\r\n"));
    for (std::size_t from = 9, end; from < header.size(); from = end + 2) {
      end = header.find("\r\n", from);
      EXPECT_TRUE(header.compare(from, 5, "@PJL ") == 0 && end - from + 2 <= 1023) << header.substr(from, 40);
    }
  }
}

TEST_F(JobHeaderTest, IncompleteGeneratorWritesNothing) {
  struct Case {
    bool settings, devmode, device;
    DWORD job;
  };
  const Case cases[] = {{false, true, true, 1}, {true, false, true, 1}, {true, true, false, 1}, {true, true, true, 0}};
  for (const auto& c : cases) {
    services.written.clear();
    CCommandInsertor insertor(c.settings ? body.data() : nullptr, c.devmode ? &devmode : nullptr,
                              c.device ? &deviceObject : nullptr, &services, c.job, printer);
    EXPECT_EQ(insertor.InsertPJLJobHeader(), E_FAIL);
    EXPECT_TRUE(services.written.empty());
  }
}

TEST_F(JobHeaderTest, TrailerClosesTheSessionAndEndsTheJob) {
  CCommandInsertor insertor(body.data(), &devmode, &deviceObject, &services, jobId, printer);
  insertor.InsertEOJCmd();
  EXPECT_EQ(services.WrittenText(), std::string("\x49\x42\x1b%-12345X@PJL EOJ\r\n\x1b%-12345X"));
  ASSERT_EQ(services.writes.size(), 4u);
  EXPECT_EQ(services.writes[0], (std::vector<std::uint8_t>{0x49, 0x42}));
}

TEST_F(JobHeaderTest, WriteCommandStringResults) {
  struct Case {
    const char* text;
    std::size_t maxBytes;
    DWORD shortBy;
    HRESULT expected;
    std::string written;
  };
  const Case cases[] = {
      {"@PJL EOJ\r\n", 1024, 0, S_OK, "@PJL EOJ\r\n"},
      {"", 1024, 0, S_OK, ""},
      {"ABCDEF", 6, 0, S_OK, ""},  // no NUL within maxBytes
      {"ABCDE", 6, 0, S_OK, "ABCDE"},
      {"ABCDE", 6, 1, E_FAIL, "ABCDE"},
      {nullptr, 1024, 0, E_FAIL, ""},
  };
  for (const auto& c : cases) {
    services.written.clear();
    services.shortBy = c.shortBy;
    CCommandInsertor insertor(body.data(), &devmode, &deviceObject, &services, jobId, printer);
    EXPECT_EQ(insertor.WriteCommandString(c.text, c.maxBytes), c.expected);
    EXPECT_EQ(services.WrittenText(), c.written);
  }
  CCommandInsertor noDevice(body.data(), &devmode, nullptr, &services, jobId, printer);
  EXPECT_EQ(noDevice.WriteCommandString("x", 1024), E_FAIL);
}

TEST_F(JobHeaderTest, CurrentOptionNames) {
  CCommandInsertor insertor(body.data(), &devmode, &deviceObject, &services, jobId, printer);
  EXPECT_STREQ(insertor.GetCurrentOptionName("PaperSize").get(), "A4");
  // A standard bin number in the device mode names the form's source, cut to the size of
  // the host's own answer: "TRAY2" needs 6 bytes, the answer gets 7 with its NUL.
  EXPECT_STREQ(insertor.GetCurrentOptionName("InputBin").get(), "FORMSO");
  services.options["InputBin"] = "BYPASSTRAY";
  EXPECT_STREQ(insertor.GetCurrentOptionName("InputBin").get(), "FORMSOURCE");
  devmode.dmDefaultSource = 260;
  EXPECT_STREQ(insertor.GetCurrentOptionName("InputBin").get(), "BYPASSTRAY");
  EXPECT_EQ(insertor.GetCurrentOptionName("Unknown"), nullptr);
  CCommandInsertor noServices(body.data(), &devmode, &deviceObject, nullptr, jobId, printer);
  EXPECT_EQ(noServices.GetCurrentOptionName("PaperSize"), nullptr);
}

}  // namespace
}  // namespace velmora

// The printer application's checks that stand between a client and the machine: the
// devices a printer may use, the names and log lines it cleans, the sizes it reads, and
// the recovery of a state file left by a killed application.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/printer_app/access.h"
#include "tools/printer_app/devices.h"
#include "tools/printer_app/print_process.h"
#include "tools/printer_app/secrets.h"
#include "tools/printer_app/state_recovery.h"

namespace velmora::printer_app {
namespace {

namespace fs = std::filesystem;

TEST(PrinterAppChecks, DevicesAreSocketsOrAllowedFolders) {
  const fs::path top = fs::temp_directory_path() / ("velmora-devices-" + std::to_string(::getpid()));
  fs::create_directories(top / "allowed" / "sub");
  fs::create_directories(top / "other");
  fs::create_symlink(top / "other", top / "allowed" / "link");
  RegisterDeviceSchemes({fs::canonical(top / "allowed").string()});
  const std::string allowed = "file://" + (top / "allowed").string();
  const struct {
    std::string uri;
    bool taken;
  } cases[] = {
      {"socket://printer.example:9100", true},
      {"socket://192.0.2.7", true},
      {"socket://", false},
      {allowed, true},
      {allowed + "/sub", true},
      {allowed + "/link", false},  // a link out of the folder
      {allowed + "/../other", false},
      {"file://" + (top / "other").string(), false},
      {"file:///etc/passwd", false},
      {"file://remote.example" + (top / "allowed").string(), false},
      {"usb://Vendor/Model", false},
      {"dnssd://Printer._pdl-datastream._tcp.local/", false},
      {"not a uri", false},
  };
  for (const auto& c : cases) EXPECT_EQ(DeviceProblem(c.uri).empty(), c.taken) << c.uri << ": " << DeviceProblem(c.uri);
  fs::remove_all(top);
}

TEST(PrinterAppChecks, NamesAndLogLinesAreCleaned) {
  const struct {
    std::string in, cleaned;
  } names[] = {
      {"Quarterly report", "Quarterly report"},
      {"x\"\n<Printer id=\"9\">\r\n", "x\" <Printer id=\"9\">  "},
      {"\x1b[31mred", " [31mred"},
      {"Caf\xc3\xa9 \xe6\x97\xa5", "Caf\xc3\xa9 \xe6\x97\xa5"},
      {"bad \xff byte", "bad \xef\xbf\xbd byte"},
  };
  for (const auto& c : names) EXPECT_EQ(CleanText(c.in), c.cleaned) << c.in;

  const struct {
    std::string in, redacted;
  } lines[] = {
      {"D [t] [Client 3] Print-Job request:   job-password octetString 4711",
       "D [t] [Client 3] Print-Job request:   job-password (hidden)"},
      {"I [t] [Job 2] Printed 100 bytes", "I [t] [Job 2] Printed 100 bytes"},
  };
  for (const auto& c : lines) EXPECT_EQ(RedactLogLine(c.in), c.redacted);
}

TEST(PrinterAppChecks, SizesAreReadOrRefused) {
  const struct {
    std::string text;
    std::uint64_t bytes;  // 0: refused
  } cases[] = {{"2G", 2ull << 30},
               {"512M", 512ull << 20},
               {"64k", 64ull << 10},
               {"1048576", 1048576},
               {"0", 0},
               {"-1G", 0},
               {"12T", 0},
               {"", 0},
               {"G", 0}};
  for (const auto& c : cases) {
    if (c.bytes == 0) {
      EXPECT_THROW(ParseSize("--job-memory-limit", c.text), std::runtime_error) << c.text;
    } else {
      EXPECT_EQ(ParseSize("--job-memory-limit", c.text), c.bytes) << c.text;
    }
  }
}

TEST(PrinterAppChecks, InterruptedJobsAreAbortedWithTheirFiles) {
  const fs::path spool = fs::temp_directory_path() / ("velmora-spool-" + std::to_string(::getpid()));
  fs::create_directories(spool);
  for (const char* name : {"p00002j000000003-report.pdf", "p00002j000000003-report.ipp", "p00002j000000031-x.pdf",
                           "p00002j000000004-waiting.pdf", "velmora-2-4.pxl"}) {
    std::ofstream(spool / name) << "x";
  }
  const std::string state =
      "DefaultPrinterID 2\n"
      "<Printer id=\"2\" name=\"Office\" did=\"\" uri=\"socket://p\" driver=\"velmora_pxl\">\n"
      "Job id=\"1\" name=\"done\" username=\"alice\" format=\"application/pdf\" state=\"9\"\n"
      "Job id=\"3\" name=\"a \\\"quoted\\\" name\" username=\"alice\" format=\"application/pdf\" state=\"5\"\n"
      "Job id=\"4\" name=\"waiting\" username=\"bob\" format=\"application/pdf\" state=\"3\"\n"
      "</Printer>\n";
  const StateRecovery recovery = AbortInterruptedJobs(state, spool.string(), 1234);
  EXPECT_EQ(recovery.abortedJobs, 1u);
  EXPECT_EQ(recovery.state,
            "DefaultPrinterID 2\n"
            "<Printer id=\"2\" name=\"Office\" did=\"\" uri=\"socket://p\" driver=\"velmora_pxl\">\n"
            "Job id=\"1\" name=\"done\" username=\"alice\" format=\"application/pdf\" state=\"9\"\n"
            "Job completed=\"1234\" format=\"application/pdf\" id=\"3\" name=\"a \\\"quoted\\\" name\" state=\"8\" "
            "username=\"alice\"\n"
            "Job id=\"4\" name=\"waiting\" username=\"bob\" format=\"application/pdf\" state=\"3\"\n"
            "</Printer>\n");
  std::vector<std::string> files;
  for (const std::string& path : recovery.jobFiles) files.push_back(fs::path(path).filename().string());
  std::sort(files.begin(), files.end());
  // The interrupted job's files and those of a job the state does not know; the waiting
  // job keeps its document.
  EXPECT_EQ(files, (std::vector<std::string>{"p00002j000000003-report.ipp", "p00002j000000003-report.pdf",
                                             "p00002j000000031-x.pdf"}));
  fs::remove_all(spool);
}

}  // namespace
}  // namespace velmora::printer_app

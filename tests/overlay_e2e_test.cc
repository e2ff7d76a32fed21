// Form overlays end to end through the loadable module: a one-page job captured into an
// overlay file, then played on the pages of later jobs, under or over their drawing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "host/host_error.h"
#include "host/print_job.h"
#include "platform/posix/spooler_store.h"
#include "platform/services.h"
#include "platform/text_encoding.h"
#include "pxl/reader.h"

namespace velmora::host {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using pxl::Attr;
using pxl::Event;
using pxl::Op;

constexpr std::size_t kBufferSizes[] = {1, 7, 17, 4096, std::size_t{1} << 20};
constexpr char kDataMarker[] = "%%OVL_DATA_START:-";

Bytes ReadBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

Bytes ToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

// Where `needle` first occurs in `haystack` at or after `from`, or npos.
std::size_t Find(const Bytes& haystack, const Bytes& needle, std::size_t from = 0) {
  if (needle.empty() || from > haystack.size()) return std::string::npos;
  auto at =
      std::search(haystack.begin() + static_cast<std::ptrdiff_t>(from), haystack.end(), needle.begin(), needle.end());
  return at == haystack.end() ? std::string::npos : static_cast<std::size_t>(at - haystack.begin());
}

std::size_t Count(const Bytes& haystack, const Bytes& needle) {
  std::size_t count = 0;
  for (std::size_t at = Find(haystack, needle); at != std::string::npos; at = Find(haystack, needle, at + 1)) ++count;
  return count;
}

// The data part of an overlay file: everything after the data marker.
Bytes OverlayData(const Bytes& file) {
  const std::size_t marker = Find(file, ToBytes(kDataMarker));
  if (marker == std::string::npos) return {};
  return Bytes(file.begin() + static_cast<std::ptrdiff_t>(marker + sizeof kDataMarker - 1), file.end());
}

// A one-page form whose drawing depends on `variant`, so that two forms differ in their data.
class FormSource : public PageSource {
 public:
  // A form of `pages` pages; those after the first are drawn otherwise.
  explicit FormSource(int variant, std::size_t pages = 1) : variant_(variant), pages_(pages) {}
  std::size_t PageCount() const override { return pages_; }
  void DrawPage(std::size_t page, Canvas& canvas) override {
    if (page > 1) {
      canvas.FillRect({1000, 1000 + 100 * static_cast<int>(page), 1200, 1050 + 100 * static_cast<int>(page)}, 0);
      return;
    }
    canvas.FillRect({100 + 40 * variant_, 100, 900, 300 + 25 * variant_}, 0);
    canvas.DrawLine({100, 1000}, {1500 - 100 * variant_, 1000}, 0);
  }

 private:
  int variant_;
  std::size_t pages_;
};

// A form whose drawing puts a file under the overlay's name, as another program could
// while the capture runs.
class FormWithRival : public FormSource {
 public:
  explicit FormWithRival(fs::path rival) : FormSource(0), rival_(std::move(rival)) {}
  void DrawPage(std::size_t page, Canvas& canvas) override {
    FormSource::DrawPage(page, canvas);
    std::ofstream(rival_, std::ios::binary) << "another overlay";
  }

 private:
  fs::path rival_;
};

// Pages with one small box each: the playing jobs stay short, so that even one-byte
// buffers run quickly.
class BoxPages : public PageSource {
 public:
  explicit BoxPages(std::size_t pages) : pages_(pages) {}
  std::size_t PageCount() const override { return pages_; }
  void DrawPage(std::size_t page, Canvas& canvas) override {
    const int shift = static_cast<int>(page) * 10;
    canvas.FillRect({200 + shift, 200, 400 + shift, 300}, 0);
  }

 private:
  std::size_t pages_;
};

// Box pages, the first two on A4 and the rest on A5: before its third sheet the job
// moves to a device for A5, as an application does with a ResetDC between pages.
class MixedPaperPages : public BoxPages {
 public:
  using BoxPages::BoxPages;
  std::optional<PageFormat> FormatOf(std::size_t page) override {
    if (page <= 2) return PageFormat{8.27, 11.69, false, 2};
    return PageFormat{5.83, 8.27, false, 16};
  }
};

// Where each page of a job starts and ends, from the PCL XL reader.
struct PageBounds {
  std::size_t beginPageTag;   // the BeginPage operator's byte
  std::size_t endPageCopies;  // the first byte of the EndPage command (its PageCopies value)
};

std::vector<PageBounds> Pages(const Bytes& job) {
  const pxl::ParseResult parsed = pxl::Parse(job);
  EXPECT_TRUE(parsed.ok()) << parsed.error->ToString();
  std::vector<PageBounds> pages;
  for (const Event& e : parsed.events) {
    if (e.Is(Op::BeginPage)) pages.push_back({e.offset, std::string::npos});
    if (e.Is(Op::EndPage) && !pages.empty() && e.Find(Attr::PageCopies) != nullptr) {
      pages.back().endPageCopies = e.Find(Attr::PageCopies)->offset;
    }
  }
  return pages;
}

bool BytesAt(const Bytes& job, std::size_t at, const Bytes& expected) {
  return at <= job.size() && job.size() - at >= expected.size() &&
         std::equal(expected.begin(), expected.end(), job.begin() + static_cast<std::ptrdiff_t>(at));
}

class OverlayE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("velmora-overlay-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir / "forms");
    ::setenv("VELMORA_STORE", (dir / "store.db").c_str(), 1);
    ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    ASSERT_TRUE(platform::posix::PrinterStore().AddPrinter(kDefaultPrinterName).ok());
  }
  void TearDown() override {
    ::unsetenv("VELMORA_STORE");
    ::unsetenv("SOURCE_DATE_EPOCH");
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir);
  }

  // Sets a text value of the default printer, or removes it when `text` is empty.
  void SetPrinterText(const char* name, const std::string& text) {
    platform::posix::PrinterStore store;
    const WString valueName = platform::Utf8ToUtf16(name);
    if (text.empty()) {
      store.RemovePrinterValue(kDefaultPrinterName, valueName);
      return;
    }
    platform::PrinterValue value{platform::ValueType::kString, {}};
    for (WCHAR c : platform::Utf8ToUtf16(text) + WCHAR(0)) {
      value.bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
      value.bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    ASSERT_TRUE(store.SetPrinterValue(kDefaultPrinterName, valueName, value).ok());
  }

  PrintRequest Request(const std::string& output, std::vector<SettingAssignment> settings,
                       std::size_t bufferSize = 4096) {
    PrintRequest request;
    request.modulePath = VELMORA_MODULE;
    request.output = (dir / output).string();
    request.user = VTEXT("alice");
    request.bufferSize = bufferSize;
    request.settings = std::move(settings);
    return request;
  }

  // Captures form `variant` as "forms/<file>" under the overlay name `name`.
  PrintResult Capture(const std::string& name, const std::string& file, int variant, std::size_t bufferSize = 4096,
                      std::size_t pages = 1) {
    SetPrinterText("OvelayDirectory", (dir / "forms").string());
    SetPrinterText("OvelayFiles", name + ";" + file);
    FormSource form(variant, pages);
    return RunPrintJob(Request("capture.pxl", {{"--set", "dwOverlayMode", "1"}}, bufferSize), form);
  }

  Bytes Print(const PrintRequest& request, std::size_t pages) {
    BoxPages source(pages);
    RunPrintJob(request, source);
    return ReadBytes(request.output);
  }

  fs::path dir;
};

TEST_F(OverlayE2E, CaptureIsTheSameFileForEveryBufferSizeAndPrintsNothing) {
  Bytes first;
  for (std::size_t size : kBufferSizes) {
    SCOPED_TRACE("buffer size " + std::to_string(size));
    fs::remove(dir / "forms" / "form.ovl");
    const PrintResult result = Capture("Form1", "form.ovl", 0, size);
    EXPECT_TRUE(result.overlayCaptured);
    EXPECT_FALSE(fs::exists(dir / "capture.pxl"));

    platform::posix::PrinterStore store;
    auto jobs = store.ListJobs();
    ASSERT_TRUE(jobs.ok());
    ASSERT_FALSE(jobs.value().empty());
    EXPECT_EQ(jobs.value().back().info.jobId, result.jobId);
    EXPECT_NE(jobs.value().back().info.status & platform::JOB_STATUS_DELETED, 0u);

    const Bytes file = ReadBytes(dir / "forms" / "form.ovl");
    if (first.empty()) {
      first = file;
      continue;
    }
    EXPECT_EQ(file, first);
  }

  // The header names the form, orientation, resolution and overlay; the data are one
  // graphics state of the captured page: PushGS SetPageDefaultCTM ... PopGS.
  const std::string header = "(PCLXL;A4;1;600;0;Form1;)\r\n%%OVL_DATA_START:-";
  ASSERT_GT(first.size(), header.size() + 3);
  EXPECT_EQ(std::string(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(header.size())), header);
  const Bytes data = OverlayData(first);
  EXPECT_EQ(data[0], 0x61);
  EXPECT_EQ(data[1], 0x74);
  EXPECT_EQ(data.back(), 0x60);
  EXPECT_EQ(Find(data, ToBytes("%%OVL")), std::string::npos) << "no marker is part of the data";
}

// An overlay is the first page of the document captured: the pages after it never reach
// the overlay file, where every job playing it would carry their page starts.
TEST_F(OverlayE2E, CaptureKeepsTheFirstPageOnly) {
  Bytes onePage;
  for (const std::size_t pages : {1, 3}) {
    SCOPED_TRACE(std::to_string(pages) + " page(s)");
    fs::remove(dir / "forms" / "form.ovl");
    EXPECT_TRUE(Capture("Form1", "form.ovl", 0, 4096, pages).overlayCaptured);
    const Bytes file = ReadBytes(dir / "forms" / "form.ovl");
    EXPECT_EQ(Find(OverlayData(file), ToBytes("%%OVL")), std::string::npos) << "no marker is part of the data";
    if (onePage.empty()) onePage = file;
    EXPECT_EQ(file, onePage);
  }
}

TEST_F(OverlayE2E, PlaybackPutsEachFileOnItsPagesUnderOrOver) {
  ASSERT_TRUE(Capture("Odd", "odd.ovl", 1).overlayCaptured);
  ASSERT_TRUE(Capture("Even", "even.ovl", 2).overlayCaptured);
  const Bytes odd = OverlayData(ReadBytes(dir / "forms" / "odd.ovl"));
  const Bytes even = OverlayData(ReadBytes(dir / "forms" / "even.ovl"));
  ASSERT_FALSE(odd.empty());
  ASSERT_FALSE(even.empty());
  ASSERT_NE(odd, even);

  struct Case {
    const char* mode;
    const char* pageRule;
    const char* list;
    const char* under;
    const char* files;  // the overlay of pages 1 to 5: 'o' odd.ovl, 'e' even.ovl
    bool tinyBuffers;   // also with 1- and 7-byte buffers (slow: one spooler write a byte)
  };
  const Case cases[] = {
      {"2", "0", "odd.ovl", "1", "ooooo", false},          {"2", "0", "odd.ovl", "0", "ooooo", false},
      {"3", "0", "odd.ovl;even.ovl", "1", "oeoeo", false}, {"3", "0", "odd.ovl;even.ovl", "0", "oeoeo", false},
      {"3", "2", "odd.ovl;even.ovl", "1", "ooeeo", true},  {"3", "2", "odd.ovl;even.ovl", "0", "ooeeo", false},
  };
  for (const Case& c : cases) {
    const std::string what = std::string("mode ") + c.mode + " page rule " + c.pageRule + " under " + c.under;
    SCOPED_TRACE(what);
    SetPrinterText("OvelayFiles", c.list);
    Bytes first;
    for (std::size_t size : kBufferSizes) {
      if (size < 16 && !c.tinyBuffers) continue;
      const Bytes job = Print(Request("play.pxl",
                                      {{"--set", "dwOverlayMode", c.mode},
                                       {"--set", "SpecialPage2.dwPageRule", c.pageRule},
                                       {"--set", "bOverlayUnder", c.under}},
                                      size),
                              5);
      ASSERT_FALSE(job.empty()) << "buffer size " << size;
      if (first.empty()) {
        first = job;
        continue;
      }
      EXPECT_EQ(job, first) << "buffer size " << size;
    }

    const std::vector<PageBounds> pages = Pages(first);
    ASSERT_EQ(pages.size(), 5u);
    const std::string files = c.files;
    EXPECT_EQ(Count(first, odd), static_cast<std::size_t>(std::count(files.begin(), files.end(), 'o')));
    EXPECT_EQ(Count(first, even), static_cast<std::size_t>(std::count(files.begin(), files.end(), 'e')));
    for (std::size_t i = 0; i < pages.size(); ++i) {
      const Bytes& data = files[i] == 'o' ? odd : even;
      const PageBounds& page = pages[i];
      ASSERT_NE(page.endPageCopies, std::string::npos) << "page " << i + 1;
      // EndPage with its copies: ubyte-16 tag, two bytes, attribute PageCopies, EndPage.
      ASSERT_TRUE(page.endPageCopies + 6 <= first.size());
      EXPECT_EQ(first[page.endPageCopies], 0xC1);
      EXPECT_EQ(first[page.endPageCopies + 3], 0xF8);
      EXPECT_EQ(first[page.endPageCopies + 4], 0x31);
      EXPECT_EQ(first[page.endPageCopies + 5], 0x44);
      const std::size_t at = c.under[0] == '1' ? page.beginPageTag + 1 : page.endPageCopies - data.size();
      EXPECT_TRUE(BytesAt(first, at, data))
          << "page " << i + 1 << " should carry " << (files[i] == 'o' ? "odd" : "even") << ".ovl at " << at;
    }
  }
}

TEST_F(OverlayE2E, CapturingOverAnExistingOverlayPrintsAnOrdinaryJob) {
  ASSERT_TRUE(Capture("Form1", "form.ovl", 0).overlayCaptured);
  const Bytes before = ReadBytes(dir / "forms" / "form.ovl");
  ASSERT_FALSE(before.empty());

  FormSource form(3);
  const PrintResult again = RunPrintJob(Request("again.pxl", {{"--set", "dwOverlayMode", "1"}}), form);
  EXPECT_FALSE(again.overlayCaptured);
  const Bytes job = ReadBytes(dir / "again.pxl");
  const std::vector<PageBounds> pages = Pages(job);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_NE(pages[0].endPageCopies, std::string::npos) << "the page ends with EndPage";
  EXPECT_EQ(Find(job, ToBytes("%%OVL")), std::string::npos);
  EXPECT_EQ(ReadBytes(dir / "forms" / "form.ovl"), before);

  platform::posix::PrinterStore store;
  auto jobs = store.ListJobs();
  ASSERT_TRUE(jobs.ok());
  ASSERT_EQ(jobs.value().size(), 2u);
  EXPECT_NE(jobs.value()[1].info.status & platform::posix::JOB_STATUS_COMPLETE, 0u);
}

// A capture that cannot finish fails its job: the host says why, writes no output and the
// store lists the job failed; the file that took the overlay's name meanwhile stays.
TEST_F(OverlayE2E, ACaptureThatCannotFinishFailsTheJob) {
  SetPrinterText("OvelayDirectory", (dir / "forms").string());
  SetPrinterText("OvelayFiles", "Form1;form.ovl");
  FormWithRival form(dir / "forms" / "form.ovl");
  std::string message;
  try {
    RunPrintJob(Request("capture.pxl", {{"--set", "dwOverlayMode", "1"}}), form);
  } catch (const HostError& error) {
    message = error.what();
  }
  EXPECT_NE(message.find("capture"), std::string::npos) << message;
  EXPECT_NE(message.find((dir / "forms" / "form.ovl").string()), std::string::npos) << message;
  EXPECT_NE(message.find("File exists"), std::string::npos) << message;
  EXPECT_FALSE(fs::exists(dir / "capture.pxl"));
  EXPECT_EQ(ReadBytes(dir / "forms" / "form.ovl"), ToBytes("another overlay"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "forms"), fs::directory_iterator()), 1);

  platform::posix::PrinterStore store;
  auto jobs = store.ListJobs();
  ASSERT_TRUE(jobs.ok());
  ASSERT_EQ(jobs.value().size(), 1u);
  EXPECT_NE(jobs.value()[0].info.status & platform::JOB_STATUS_ERROR, 0u);
}

// A paper change in the middle of a duplex job with odd and even overlays and a
// first-page watermark. After the reset the document goes on as Windows runs it: the
// page count goes on, so the pages keep alternating between the front and the back of
// the sheets, the overlays keep alternating and the first-page watermark stays on the
// first page; each bitmap stream is defined once in the job.
TEST_F(OverlayE2E, MidDocumentResetKeepsTheDocumentsPages) {
  ASSERT_TRUE(Capture("Odd", "odd.ovl", 1).overlayCaptured);
  ASSERT_TRUE(Capture("Even", "even.ovl", 2).overlayCaptured);
  const Bytes odd = OverlayData(ReadBytes(dir / "forms" / "odd.ovl"));
  const Bytes even = OverlayData(ReadBytes(dir / "forms" / "even.ovl"));
  SetPrinterText("OvelayFiles", "odd.ovl;even.ovl");
  // A 2 x 2 24-bit BMP for both watermarks.
  const Bytes bmp = {'B', 'M', 70, 0, 0,  0, 0, 0, 0, 0,   54,  0,   0, 0, 40,  0,   0,   0,  2,  0,  0, 0, 2, 0,
                     0,   0,   1,  0, 24, 0, 0, 0, 0, 0,   16,  0,   0, 0, 0,   0,   0,   0,  0,  0,  0, 0, 0, 0,
                     0,   0,   0,  0, 0,  0, 0, 0, 0, 255, 255, 255, 0, 0, 128, 128, 128, 64, 64, 64, 0, 0};
  std::ofstream(dir / "logo.bmp", std::ios::binary).write(reinterpret_cast<const char*>(bmp.data()), bmp.size());
  ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  for (const char* number : {"3", "4"}) {
    const std::string command = std::string(VELMORA_BINARY) + " watermark set -p 'Velmora Default' " + number +
                                " image=" + (dir / "logo.bmp").string() + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  PrintRequest request = Request("reset.pxl", {{"--set", "dmDuplex", "2"},
                                               {"--set", "dwOverlayMode", "3"},
                                               {"--set", "bOverlayUnder", "0"},
                                               {"--set", "sFP_SectionIndex", "3"},
                                               {"--set", "sNP_SectionIndex", "4"},
                                               {"--set", "eWMUsage", "2"}});
  MixedPaperPages source(5);
  RunPrintJob(request, source);
  ::unsetenv("XDG_DATA_HOME");
  const Bytes job = ReadBytes(request.output);
  const pxl::ParseResult parsed = pxl::Parse(job);
  ASSERT_TRUE(parsed.ok()) << parsed.error->ToString();

  struct SheetSeen {
    int mediaSize = -1;
    int side = -1;        // the BeginPage's DuplexPageSide
    std::string streams;  // the names of the streams executed
  };
  std::vector<SheetSeen> sheets;
  std::vector<std::string> defined;
  for (const Event& e : parsed.events) {
    if (e.Is(Op::BeginPage)) {
      sheets.emplace_back();
      sheets.back().mediaSize = static_cast<int>(e.Find(Attr::MediaSize)->value.Int());
      if (const pxl::Attribute* side = e.Find(Attr::DuplexPageSide))
        sheets.back().side = static_cast<int>(side->value.Int());
    }
    if (e.Is(Op::BeginStream)) defined.push_back(e.Find(Attr::StreamName)->value.Bytes());
    if (e.Is(Op::ExecStream) && !sheets.empty()) sheets.back().streams += e.Find(Attr::StreamName)->value.Bytes();
  }
  const SheetSeen expected[] = {{2, 0, "32000"}, {2, 1, "32001"}, {16, 0, "32001"}, {16, 1, "32001"}, {16, 0, "32001"}};
  const std::string overlays = "oeoeo";
  const std::vector<PageBounds> pages = Pages(job);
  ASSERT_EQ(sheets.size(), std::size(expected));
  ASSERT_EQ(pages.size(), std::size(expected));
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    SCOPED_TRACE("sheet " + std::to_string(i + 1));
    EXPECT_EQ(sheets[i].mediaSize, expected[i].mediaSize);
    EXPECT_EQ(sheets[i].side, expected[i].side);
    EXPECT_EQ(sheets[i].streams, expected[i].streams);
    const Bytes& data = overlays[i] == 'o' ? odd : even;
    EXPECT_TRUE(BytesAt(job, pages[i].endPageCopies - data.size(), data)) << "overlay " << overlays[i];
  }
  EXPECT_EQ(defined, (std::vector<std::string>{"32000", "32001"}));
}

// Runs velmora print with logging on into `xdg`; its exit status.
int VelmoraPrint(const fs::path& xdg, const std::string& arguments) {
  const std::string command = "env VELMORA_ENABLELOGGING=1 XDG_DATA_HOME='" + xdg.string() + "' " +
                              std::string(VELMORA_BINARY) + " print " + arguments + " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// An overlay set-up the job cannot use never fails the job: its pages print without
// overlay and the diagnostic log says why.
TEST_F(OverlayE2E, UnusableSetUpPrintsWithoutOverlayAndLogsWhy) {
  ASSERT_TRUE(Capture("Form1", "form.ovl", 0).overlayCaptured);
  ASSERT_TRUE(Capture("Odd", "odd.ovl", 1).overlayCaptured);
  const Bytes form = OverlayData(ReadBytes(dir / "forms" / "form.ovl"));
  const Bytes oddForm = OverlayData(ReadBytes(dir / "forms" / "odd.ovl"));
  const std::string forms = (dir / "forms").string();
  const std::string nowhere = (dir / "nowhere").string();

  struct Case {
    const char* what;
    std::string folder;  // empty: no value
    std::string list;    // empty: no value
    const char* mode;
    bool unreadable;  // form.ovl without read permission
    const char* logged;
  };
  const Case cases[] = {
      {"no folder", "", "form.ovl", "2", false, "no overlay folder"},
      {"no list", forms, "", "2", false, "no overlay list"},
      {"no such folder", nowhere, "form.ovl", "2", false, "the overlay cannot be opened"},
      {"unreadable file", forms, "form.ovl", "2", true, "the overlay cannot be opened"},
      {"odd/even list of one", forms, "odd.ovl", "3", false, "the overlay list is too short"},
      {"capture list of one", forms, "Form2", "1", false, "the overlay list is too short"},
      {"capture without folder", "", "Form2;new.ovl", "1", false, "no overlay folder"},
      {"capture into no such folder", nowhere, "Form2;new.ovl", "1", false, "the overlay cannot be created"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.unreadable && ::geteuid() == 0) continue;  // root reads a file without permissions
    SetPrinterText("OvelayDirectory", c.folder);
    SetPrinterText("OvelayFiles", c.list);
    fs::permissions(dir / "forms" / "form.ovl",
                    c.unreadable ? fs::perms::none : fs::perms::owner_read | fs::perms::owner_write);
    const fs::path xdg = dir / ("xdg" + std::to_string(n));
    const fs::path output = dir / ("case" + std::to_string(n++) + ".pxl");
    EXPECT_EQ(VelmoraPrint(xdg, "-o " + output.string() + " --pages 3 --set dwOverlayMode=" + c.mode), 0);

    const Bytes job = ReadBytes(output);
    const std::vector<PageBounds> pages = Pages(job);
    EXPECT_EQ(pages.size(), 3u);
    for (const PageBounds& page : pages) EXPECT_NE(page.endPageCopies, std::string::npos);
    EXPECT_EQ(Count(job, form), 0u);
    EXPECT_EQ(Count(job, oddForm), 0u);
    EXPECT_EQ(Find(job, ToBytes("%%OVL")), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "forms" / "new.ovl"));

    const Bytes log = ReadBytes(xdg / "VELMORA IT Co" / "DriverLog.txt");
    EXPECT_NE(Find(log, ToBytes(c.logged)), std::string::npos) << std::string(log.begin(), log.end());
  }
}

}  // namespace
}  // namespace velmora::host

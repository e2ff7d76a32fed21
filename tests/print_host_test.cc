// Whole jobs through the plug-in module, read back with the PCL XL reader.
#include <gtest/gtest.h>

#include "tests/fakes/job_folder.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "host/host_error.h"
#include "host/page_source.h"
#include "host/print_job.h"
#include "platform/posix/spooler_store.h"
#include "platform/services.h"
#include "pxl/reader.h"

namespace velmora::host {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using pxl::Attr;
using pxl::Event;
using pxl::EventKind;
using pxl::Op;

class PrintHost : public testing::JobFolderTest {
 protected:
  PrintRequest Request(const std::string& name) {
    PrintRequest request;
    request.modulePath = VELMORA_MODULE;
    request.output = (dir / name).string();
    request.user = VTEXT("alice");
    return request;
  }

  Bytes Print(PrintRequest request, std::size_t pages = 3) {
    auto source = MakeSamplePageSource(pages);
    RunPrintJob(request, *source);
    std::ifstream file(request.output, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
  }

  // Files in the test folder other than the store.
  std::vector<std::string> Leftovers() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
      const std::string name = entry.path().filename().string();
      if (!name.starts_with("store.db")) names.push_back(name);
    }
    return names;
  }
};

std::vector<Event> Operators(const std::vector<Event>& events) {
  std::vector<Event> ops;
  for (const Event& e : events) {
    if (e.kind == EventKind::kOperator) ops.push_back(e);
  }
  return ops;
}

TEST_F(PrintHost, WholeJobInTheHostsOrder) {
  PrintRequest request = Request("job.pxl");
  request.settings = {{"--set", "dmCopies", "2"}};
  const Bytes job = Print(request);
  const pxl::ParseResult parsed = pxl::Parse(job);
  ASSERT_TRUE(parsed.ok()) << parsed.error->ToString();
  const std::vector<Event>& events = parsed.events;
  ASSERT_GE(events.size(), 10u);

  // The job header: UEL, PJL lines ending with the language switch, the stream header.
  EXPECT_EQ(events[0].kind, EventKind::kUel);
  std::size_t i = 1;
  std::vector<std::string> pjl;
  while (i < events.size() && events[i].kind == EventKind::kPjlLine) pjl.push_back(events[i++].text);
  ASSERT_FALSE(pjl.empty());
  EXPECT_TRUE(pjl.front().starts_with("@PJL COMMENT Velmora Default")) << pjl.front();
  EXPECT_EQ(pjl.back(), "@PJL ENTER LANGUAGE=PCLXL");
  EXPECT_NE(std::find(pjl.begin(), pjl.end(), "@PJL SET COPIES=2"), pjl.end());
  EXPECT_NE(std::find(pjl.begin(), pjl.end(), "@PJL SET JOBATTR=\"UserName=alice\""), pjl.end());
  EXPECT_NE(std::find(pjl.begin(), pjl.end(), "@PJL SET JOBATTR=\"ReceptionTime=22:13:20 2023/11/14\""), pjl.end())
      << "the reception time follows SOURCE_DATE_EPOCH";
  ASSERT_LT(i, events.size());
  EXPECT_EQ(events[i].kind, EventKind::kStreamHeader);
  EXPECT_EQ(events[i].protocol_class, "2.1");

  const std::vector<Event> ops = Operators(events);
  ASSERT_GE(ops.size(), 4u);
  EXPECT_TRUE(ops[0].Is(Op::BeginSession));
  ASSERT_NE(ops[0].Find(Attr::UnitsPerMeasure), nullptr);
  EXPECT_EQ(ops[0].Find(Attr::UnitsPerMeasure)->value.Int(0), 600);
  EXPECT_TRUE(ops[1].Is(Op::OpenDataSource));
  EXPECT_EQ(ops[1].Find(Attr::DataOrg)->value.Int(), 1);

  // Every page: BeginPage with the plug-in's attributes, its page commands straight
  // after, drawing, exactly one EndPage with the copies.
  std::size_t pages = 0;
  std::size_t k = 2;
  while (k < ops.size() && ops[k].Is(Op::BeginPage)) {
    ++pages;
    const Event& begin = ops[k];
    for (Attr a : {Attr::Orientation, Attr::MediaSize, Attr::MediaSource, Attr::MediaType, Attr::SimplexPageMode}) {
      EXPECT_NE(begin.Find(a), nullptr) << "page " << pages << " attribute " << static_cast<int>(a);
    }
    EXPECT_EQ(begin.Find(Attr::MediaSize)->value.Int(), 2);  // eA4Paper
    ASSERT_LT(k + 4, ops.size());
    EXPECT_TRUE(ops[k + 1].Is(Op::SetPageOrigin));
    EXPECT_TRUE(ops[k + 2].Is(Op::SetPageScale));
    EXPECT_TRUE(ops[k + 3].Is(Op::SetColorSpace));
    EXPECT_TRUE(ops[k + 4].Is(Op::SetROP));
    std::size_t endPages = 0;
    std::size_t paints = 0;
    std::size_t images = 0;
    ++k;
    while (k < ops.size() && !ops[k].Is(Op::BeginPage) && !ops[k].Is(Op::CloseDataSource)) {
      if (ops[k].Is(Op::EndPage)) {
        ++endPages;
        ASSERT_NE(ops[k].Find(Attr::PageCopies), nullptr);
        EXPECT_EQ(ops[k].Find(Attr::PageCopies)->value.Int(), 2);
      }
      if (ops[k].Is(Op::PaintPath)) ++paints;
      if (ops[k].Is(Op::BeginImage)) ++images;
      ++k;
    }
    EXPECT_EQ(endPages, 1u) << "page " << pages;
    EXPECT_TRUE(ops[k - 1].Is(Op::EndPage)) << "page " << pages;
    EXPECT_GT(paints, 10u);
    EXPECT_EQ(images, 1u);
  }
  EXPECT_EQ(pages, 3u);
  ASSERT_EQ(k + 2, ops.size());
  EXPECT_TRUE(ops[k].Is(Op::CloseDataSource));
  EXPECT_TRUE(ops[k + 1].Is(Op::EndSession));

  // The trailer last.
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events[events.size() - 3].kind, EventKind::kUel);
  EXPECT_EQ(events[events.size() - 2].text, "@PJL EOJ");
  EXPECT_EQ(events.back().kind, EventKind::kUel);

  // The job is complete in the store.
  platform::posix::PrinterStore store;
  auto jobs = store.ListJobs();
  ASSERT_TRUE(jobs.ok());
  ASSERT_EQ(jobs.value().size(), 1u);
  EXPECT_NE(jobs.value()[0].info.status & platform::posix::JOB_STATUS_COMPLETE, 0u);
}

TEST_F(PrintHost, BufferSizeDoesNotChangeTheJob) {
  Bytes first;
  for (std::size_t size : {std::size_t{1}, std::size_t{7}, std::size_t{4096}, std::size_t{1} << 20}) {
    PrintRequest request = Request("job-" + std::to_string(size) + ".pxl");
    request.bufferSize = size;
    const Bytes job = Print(request, 2);
    ASSERT_FALSE(job.empty());
    if (first.empty()) {
      first = job;
      continue;
    }
    EXPECT_EQ(job, first) << "buffer size " << size;
  }
}

TEST_F(PrintHost, PaperOrientationAndOptionsReachThePage) {
  struct Case {
    std::vector<SettingAssignment> settings;
    FeatureOptions choices;
    int orientation;
    int mediaSize;  // -1: a custom size
    int mediaSource;
    const char* pjlPaper;
  };
  const Case cases[] = {
      {{{"t", "dmOrientation", "2"}}, {{"PaperSize", "LETTER"}}, 1, 0, 1, "@PJL SET PAPER=LETTER"},
      {{{"t", "dmFormName", "Statement"}}, {}, 0, -1, 1, "@PJL SET PAPER=STATEMENT"},
      {{{"t", "dmPaperSize", "5"}}, {{"MediaType", "THICK"}}, 0, 1, 1, "@PJL SET PAPER=LEGAL"},
      // The trays are driver-defined bins: the plug-in asks for their names.
      {{}, {{"InputBin", "BYPASSTRAY"}}, 0, 2, 2, "@PJL SET PAPER=A4"},
      {{}, {{"InputBin", "TRAY1"}}, 0, 2, 4, "@PJL SET PAPER=A4"},
      {{}, {{"InputBin", "TRAY2"}}, 0, 2, 5, "@PJL SET PAPER=A4"},
      {{}, {{"InputBin", "TRAY3"}}, 0, 2, 7, "@PJL SET PAPER=A4"},
      {{}, {{"InputBin", "FORMSOURCE"}}, 0, 2, 1, "@PJL SET PAPER=A4"},
  };
  int n = 0;
  for (const Case& c : cases) {
    PrintRequest request = Request("case" + std::to_string(n++) + ".pxl");
    request.settings = c.settings;
    request.choices = c.choices;
    const Bytes job = Print(request, 1);
    const pxl::ParseResult parsed = pxl::Parse(job);
    ASSERT_TRUE(parsed.ok()) << parsed.error->ToString();
    bool paperLine = false;
    const Event* begin = nullptr;
    for (const Event& e : parsed.events) {
      if (e.kind == EventKind::kPjlLine && e.text == c.pjlPaper) paperLine = true;
      if (e.Is(Op::BeginPage) && begin == nullptr) begin = &e;
    }
    EXPECT_TRUE(paperLine) << c.pjlPaper;
    ASSERT_NE(begin, nullptr);
    EXPECT_EQ(begin->Find(Attr::Orientation)->value.Int(), c.orientation) << c.pjlPaper;
    EXPECT_EQ(begin->Find(Attr::MediaSource)->value.Int(), c.mediaSource) << c.pjlPaper;
    if (c.mediaSize >= 0) {
      ASSERT_NE(begin->Find(Attr::MediaSize), nullptr) << c.pjlPaper;
      EXPECT_EQ(begin->Find(Attr::MediaSize)->value.Int(), c.mediaSize) << c.pjlPaper;
    } else {
      EXPECT_NE(begin->Find(Attr::CustomMediaSize), nullptr) << c.pjlPaper;
      EXPECT_NE(begin->Find(Attr::CustomMediaSizeUnits), nullptr) << c.pjlPaper;
    }
  }
}

// A document whose job is deleted, or restarted, through the spooler while page 2 is
// drawn.
class StoppingSource : public PageSource {
 public:
  explicit StoppingSource(bool restart) : restart_(restart) {}
  std::size_t PageCount() const override { return 4; }
  void DrawPage(std::size_t page, Canvas& canvas) override {
    canvas.FillRect({0, 0, 100, 100}, 0);
    if (page != 2) return;
    platform::posix::PrinterStore store;
    auto jobs = store.ListJobs();
    ASSERT_TRUE(jobs.ok());
    ASSERT_FALSE(jobs.value().empty());
    const DWORD jobId = jobs.value().back().info.jobId;
    if (restart_) {
      // The spooler marks a job it restarts; the store's own tool sets the mark here.
      const std::string command = "sqlite3 '" + std::string(std::getenv("VELMORA_STORE")) +
                                  "' 'UPDATE jobs SET status = status | 2048 WHERE id = " + std::to_string(jobId) + "'";
      ASSERT_EQ(std::system(command.c_str()), 0);
      return;
    }
    platform::Spooler& spooler = *platform::Current().spooler;
    HANDLE printer = spooler.Open(kDefaultPrinterName, platform::PRINTER_ALL_ACCESS);
    ASSERT_NE(printer, nullptr);
    EXPECT_TRUE(spooler.DeleteJob(printer, jobId));
    spooler.Close(printer);
  }

 private:
  bool restart_;
};

TEST_F(PrintHost, StoppedJobStopsAndLeavesNoOutput) {
  // The host stops a restarted job as the plug-in does, not only a deleted one.
  for (const bool restart : {false, true}) {
    SCOPED_TRACE(restart ? "restarted" : "deleted");
    PrintRequest request = Request("stopped.pxl");
    std::vector<std::size_t> progress;
    request.progress = [&](std::size_t page, std::size_t) { progress.push_back(page); };
    StoppingSource source(restart);
    try {
      RunPrintJob(request, source);
      ADD_FAILURE() << "a stopped job reported success";
    } catch (const HostError& error) {
      const std::string expected =
          std::string(restart ? "was restarted" : "was deleted") + " through the spooler after 1 page";
      EXPECT_NE(std::string(error.what()).find(expected), std::string::npos) << error.what();
    }
    EXPECT_EQ(progress, std::vector<std::size_t>{1});
    EXPECT_TRUE(Leftovers().empty());
  }
}

// A printer on the loopback address that takes one job over a raw socket.
class LoopbackPrinter {
 public:
  LoopbackPrinter() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    ::listen(listener_, 1);
    reader_ = std::thread([this] {
      const int connection = ::accept(listener_, nullptr, nullptr);
      std::uint8_t buffer[4096];
      for (ssize_t got; (got = ::read(connection, buffer, sizeof buffer)) > 0;) {
        received_.insert(received_.end(), buffer, buffer + got);
      }
      ::close(connection);
    });
  }
  ~LoopbackPrinter() { ::close(listener_); }
  int port() const { return port_; }
  // Waits for the job to end (the host closes the connection).
  Bytes Received() {
    reader_.join();
    return received_;
  }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::thread reader_;
  Bytes received_;
};

// A loopback port nobody listens on.
int UnusedLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

TEST_F(PrintHost, SocketPrinterGetsTheWholeJob) {
  const Bytes file = Print(Request("file.pxl"), 2);
  LoopbackPrinter printer;
  PrintRequest request = Request("unused.pxl");
  request.output = "socket://127.0.0.1:" + std::to_string(printer.port());
  auto source = MakeSamplePageSource(2);
  RunPrintJob(request, *source);
  EXPECT_EQ(printer.Received(), file);
  EXPECT_TRUE(Leftovers() == std::vector<std::string>{"file.pxl"});
}

TEST_F(PrintHost, RefusedInputsLeaveNoJobAndNoOutput) {
  struct Case {
    const char* what;
    PrintRequest request;
    const char* message;
  };
  PrintRequest unknownPrinter = Request("a.pxl");
  unknownPrinter.printerName = VTEXT("Nowhere");
  PrintRequest badField = Request("b.pxl");
  badField.settings = {{"Ticket 't.json'", "nonsense", "1"}};
  PrintRequest badPaper = Request("c.pxl");
  badPaper.settings = {{"--set", "dmPaperSize", "999"}};
  PrintRequest noModule = Request("e.pxl");
  noModule.modulePath = (dir / "missing.so").string();
  PrintRequest refused = Request("f.pxl");
  refused.output = "socket://127.0.0.1:" + std::to_string(UnusedLoopbackPort());
  PrintRequest noHost = Request("g.pxl");
  noHost.output = "socket://:9100";
  PrintRequest badPort = Request("h.pxl");
  badPort.output = "socket://[::1]:0";
  const Case cases[] = {
      {"unknown printer", unknownPrinter, "Printer 'Nowhere' not found in the printer store"},
      {"unknown field", badField, "Ticket 't.json': unknown field 'nonsense'"},
      {"bad paper", badPaper, "dmPaperSize 999 is not a paper the printer takes"},
      {"module", noModule, "Unable to load plug-in module"},
      {"refused", refused, "Unable to connect to printer 127.0.0.1 port "},
      {"no host", noHost, "Output 'socket://:9100' names no host"},
      {"bad port", badPort, "the port is a number from 1 to 65535"},
  };
  for (const Case& c : cases) {
    auto source = MakeSamplePageSource(1);
    try {
      RunPrintJob(c.request, *source);
      ADD_FAILURE() << c.what;
    } catch (const HostError& error) {
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << c.what << ": " << error.what();
    }
    EXPECT_TRUE(Leftovers().empty()) << c.what;
  }
  // Nothing refused waits in the store.
  platform::posix::PrinterStore store;
  auto jobs = store.ListJobs();
  ASSERT_TRUE(jobs.ok());
  for (const auto& job : jobs.value()) {
    EXPECT_NE(job.info.status & platform::JOB_STATUS_DELETED, 0u) << job.info.jobId;
  }
}

// A requested id becomes the job's id, which the plug-in asks the spooler about for the
// header's job lines; an id the store holds already is refused before anything is written.
TEST_F(PrintHost, RequestedJobIdIsTheJobsId) {
  PrintRequest first = Request("first.pxl");
  first.jobId = 77;
  first.title = VTEXT("Quarterly");
  const Bytes job = Print(first, 1);
  const std::string text(job.begin(), job.end());
  EXPECT_NE(text.find("@PJL JOB NAME=\"Quarterly\""), std::string::npos);
  PrintRequest next = Request("next.pxl");
  Print(next, 1);

  PrintRequest again = Request("again.pxl");
  again.jobId = 77;
  auto source = MakeSamplePageSource(1);
  try {
    RunPrintJob(again, *source);
    ADD_FAILURE() << "a second job 77";
  } catch (const HostError& error) {
    EXPECT_NE(std::string(error.what())
                  .find("Unable to start job 77 on printer 'Velmora Default': the spooler "
                        "holds a job of that id already"),
              std::string::npos)
        << error.what();
  }
  EXPECT_FALSE(fs::exists(dir / "again.pxl"));

  platform::posix::PrinterStore store;
  auto jobs = store.ListJobs();
  ASSERT_TRUE(jobs.ok());
  std::vector<DWORD> ids;
  for (const auto& stored : jobs.value()) ids.push_back(stored.info.jobId);
  EXPECT_EQ(ids, (std::vector<DWORD>{77, 78})) << "ids go on after a requested one";
}

}  // namespace
}  // namespace velmora::host

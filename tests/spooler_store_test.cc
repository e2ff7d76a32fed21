// The printer store against a temporary database: printers, values, jobs, handles,
// document output, machine switches, and several processes writing at once.
#include "platform/posix/spooler_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>

#include "platform/last_error.h"
#include "platform/text_encoding.h"

namespace velmora::platform::posix {
namespace {

constexpr DWORD kErrorInvalidHandle = 6;
constexpr DWORD kErrorPrintCancelled = 63;

WString W(const std::string& text) { return Utf8ToUtf16(text); }

// A document as the host names it; empty fields take the spooler's defaults.
DocInfo Doc(const std::string& name, const std::string& output = "", const std::string& user = "",
            const std::string& machine = "") {
  return DocInfo{W(name), W(output), W(user), W(machine)};
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-store-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    storePath_ = folder_ + "/state/spooler.db";  // the parent folder does not exist yet
    ::setenv("VELMORA_STORE", storePath_.c_str(), 1);
    ::unsetenv("VELMORA_CLIENT_PID");
    admin_ = PrinterStore(storePath_);
  }
  void TearDown() override {
    ::unsetenv("VELMORA_STORE");
    std::filesystem::remove_all(folder_);
  }

  // Adds a printer and opens it.
  HANDLE AddAndOpen(const std::string& name) {
    EXPECT_TRUE(admin_.AddPrinter(W(name))) << name;
    return spooler_.Open(W(name), PRINTER_ALL_ACCESS);
  }

  std::string folder_;
  std::string storePath_;
  PrinterStore admin_;
  StoreSpooler spooler_;
};

TEST_F(StoreTest, PrintersAreAddedListedAndRemoved) {
  PrinterStore admin(storePath_);
  struct Case {
    std::string name;
    bool ok;
    std::string messagePart;
  };
  const Case adds[] = {
      {"Office", true, ""},
      {"Lab Printer", true, ""},
      {"OFFICE", false, "already exists"},  // names compare without ASCII case
      {"", false, "empty"},
      {"\\\\server\\queue", false, "backslash"},
      {"a,b", false, "comma"},
  };
  for (const auto& c : adds) {
    const StoreResult<> result = admin.AddPrinter(W(c.name));
    EXPECT_EQ(result.ok(), c.ok) << c.name;
    EXPECT_NE(result.error().find(c.messagePart), std::string::npos) << result.error();
  }
  const auto listed = admin.ListPrinters();
  ASSERT_TRUE(listed) << listed.error();
  EXPECT_EQ(listed.value(), (std::vector<WString>{W("Lab Printer"), W("Office")}));

  EXPECT_EQ(spooler_.Open(W("Nowhere"), PRINTER_ALL_ACCESS), nullptr);
  HANDLE printer = spooler_.Open(W("office"), PRINTER_ALL_ACCESS);
  ASSERT_NE(printer, nullptr);
  EXPECT_EQ(spooler_.PrinterName(printer), W("Office"));  // the stored spelling

  ASSERT_TRUE(admin.RemovePrinter(W("Office")));
  const auto again = admin.RemovePrinter(W("Office"));
  EXPECT_FALSE(again);
  EXPECT_NE(again.error().find("'Office' not found in store '" + storePath_ + "'"), std::string::npos) << again.error();
  // A handle whose printer was removed no longer names it and cannot add values to it.
  EXPECT_EQ(spooler_.PrinterName(printer), std::nullopt);
  EXPECT_FALSE(spooler_.WritePrinterData(printer, W("Orphan"), PrinterValue{ValueType::kDword, {1, 0, 0, 0}}));
  EXPECT_TRUE(spooler_.Close(printer));
}

TEST_F(StoreTest, OnlyAHandleThatAdministersChangesValues) {
  ASSERT_TRUE(admin_.AddPrinter(W("Office")));
  const PrinterValue value{ValueType::kDword, {7, 0, 0, 0}};
  const std::pair<DWORD, bool> cases[] = {
      {PRINTER_ACCESS_USE, false},
      {PRINTER_ACCESS_ADMINISTER, true},
      {PRINTER_ALL_ACCESS, true},
  };
  for (const auto& [access, writes] : cases) {
    SCOPED_TRACE(access);
    HANDLE printer = spooler_.Open(W("Office"), access);
    ASSERT_NE(printer, nullptr);
    EXPECT_EQ(spooler_.WritePrinterData(printer, W("Copies"), value), writes);
    if (!writes) {
      EXPECT_EQ(GetLastError(), 5u);  // ERROR_ACCESS_DENIED
    }
    EXPECT_TRUE(spooler_.Close(printer));
  }
}

TEST_F(StoreTest, PrinterValuesKeepTypeAndBytes) {
  HANDLE office = AddAndOpen("Office");
  HANDLE lab = AddAndOpen("Lab");
  ASSERT_NE(office, nullptr);
  struct Case {
    std::string name;
    PrinterValue value;
  };
  const Case cases[] = {
      {"Model", {ValueType::kString, {'A', 0, 'B', 0, 0, 0}}},
      {"Settings", {ValueType::kBinary, {0x00, 0xFF, 0x10, 0x00}}},
      {"Copies", {ValueType::kDword, {0x02, 0x00, 0x00, 0x00}}},
      {"Trays", {ValueType::kMultiString, {'1', 0, 0, 0, '2', 0, 0, 0, 0, 0}}},
      {"Empty", {ValueType::kBinary, {}}},
      {"Odd", {static_cast<ValueType>(2), {'%', 0, 0, 0}}},  // a type the system does not name
  };
  for (const auto& c : cases) ASSERT_TRUE(spooler_.WritePrinterData(office, W(c.name), c.value)) << c.name;
  for (const auto& c : cases) {
    const auto read = spooler_.ReadPrinterData(office, W(c.name));
    ASSERT_TRUE(read.has_value()) << c.name;
    EXPECT_EQ(read->type, c.value.type) << c.name;
    EXPECT_EQ(read->bytes, c.value.bytes) << c.name;
    EXPECT_FALSE(spooler_.ReadPrinterData(lab, W(c.name)).has_value()) << "values belong to one printer";
  }
  // Value names compare without ASCII case; writing again replaces the value.
  ASSERT_TRUE(spooler_.WritePrinterData(office, W("COPIES"), PrinterValue{ValueType::kDword, {5, 0, 0, 0}}));
  EXPECT_EQ(spooler_.ReadPrinterData(office, W("copies"))->bytes, (std::vector<std::uint8_t>{5, 0, 0, 0}));
  EXPECT_FALSE(spooler_.ReadPrinterData(office, W("Missing")).has_value());

  // The same value written again under another spelling of its name takes that spelling.
  ASSERT_TRUE(spooler_.WritePrinterData(office, W("copies"), PrinterValue{ValueType::kDword, {5, 0, 0, 0}}));

  // Another process sees the same values through the administrator view.
  const auto listed = PrinterStore(storePath_).ListPrinterData(W("Office"));
  ASSERT_TRUE(listed) << listed.error();
  EXPECT_EQ(listed.value().size(), std::size(cases));
  EXPECT_EQ(std::count_if(listed.value().begin(), listed.value().end(),
                          [](const auto& named) { return named.first == W("copies"); }),
            1);
  ASSERT_TRUE(admin_.SetPrinterValue(W("Lab"), W("Port"), PrinterValue{ValueType::kString, {'X', 0, 0, 0}}));
  EXPECT_EQ(spooler_.ReadPrinterData(lab, W("Port"))->bytes, (std::vector<std::uint8_t>{'X', 0, 0, 0}));
  EXPECT_TRUE(admin_.RemovePrinterValue(W("Lab"), W("Port")));
  EXPECT_FALSE(admin_.RemovePrinterValue(W("Lab"), W("Port")));
  EXPECT_FALSE(admin_.SetPrinterValue(W("Nowhere"), W("Port"), PrinterValue{}));
  EXPECT_FALSE(admin_.ListPrinterData(W("Nowhere")));
  spooler_.Close(office);
  spooler_.Close(lab);
}

TEST_F(StoreTest, JobsRecordTheDocumentAndTheirStatus) {
  HANDLE office = AddAndOpen("Office");
  HANDLE lab = AddAndOpen("Lab");
  const DWORD named = spooler_.StartDocument(office, Doc("Report.pdf", "", "alice", "\\\\desk7"));
  ASSERT_NE(named, 0u);
  auto job = spooler_.Job(office, named);
  ASSERT_TRUE(job.has_value());
  EXPECT_EQ(job->jobId, named);
  EXPECT_EQ(job->printerName, W("Office"));
  EXPECT_EQ(job->document, W("Report.pdf"));
  EXPECT_EQ(job->userName, W("alice"));
  EXPECT_EQ(job->machineName, W("\\\\desk7"));
  EXPECT_EQ(job->status, 0u);
  EXPECT_FALSE(spooler_.Job(lab, named).has_value()) << "a job is seen only through its printer";
  EXPECT_FALSE(spooler_.Job(office, named + 100).has_value());
  EXPECT_EQ(spooler_.StartDocument(office, Doc("Second")), 0u) << "one document at a time per handle";
  ASSERT_TRUE(spooler_.EndDocument(office));
  EXPECT_EQ(spooler_.Job(office, named)->status, JOB_STATUS_COMPLETE);
  EXPECT_FALSE(spooler_.EndDocument(office)) << "no document is started any more";

  // Without names in the document, the job names the login user and this machine.
  const DWORD plain = spooler_.StartDocument(office, Doc("Plain"));
  ASSERT_NE(plain, 0u);
  EXPECT_GT(plain, named);
  job = spooler_.Job(office, plain);
  const passwd* me = ::getpwuid(::geteuid());
  ASSERT_NE(me, nullptr);
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  EXPECT_EQ(job->userName, W(me->pw_name));
  EXPECT_EQ(job->machineName, W(std::string("\\\\") + host));

  EXPECT_TRUE(spooler_.DeleteJob(office, plain));
  EXPECT_EQ(spooler_.Job(office, plain)->status, JOB_STATUS_DELETING | JOB_STATUS_DELETED);
  ASSERT_TRUE(spooler_.EndDocument(office));
  EXPECT_EQ(spooler_.Job(office, plain)->status, JOB_STATUS_DELETING | JOB_STATUS_DELETED)
      << "a deleted job does not become complete";
  EXPECT_FALSE(spooler_.DeleteJob(lab, plain));
  EXPECT_FALSE(spooler_.DeleteJob(office, 99999));

  const auto all = admin_.ListJobs();
  ASSERT_TRUE(all) << all.error();
  ASSERT_EQ(all.value().size(), 2u);
  EXPECT_EQ(all.value()[0].info.jobId, named);
  EXPECT_EQ(admin_.ListJobs(W("Lab")).value().size(), 0u);
  EXPECT_FALSE(admin_.ListJobs(W("Nowhere")));

  // Removing a printer removes its jobs with it.
  spooler_.Close(office);
  ASSERT_TRUE(admin_.RemovePrinter(W("Office")));
  EXPECT_EQ(admin_.ListJobs().value().size(), 0u);
  spooler_.Close(lab);
}

TEST_F(StoreTest, ClosedAndForeignHandlesFailEveryCall) {
  HANDLE closed = AddAndOpen("Office");
  ASSERT_TRUE(spooler_.Close(closed));
  int local = 0;
  for (HANDLE handle : {closed, static_cast<HANDLE>(&local), HANDLE{nullptr}, InvalidHandleValue()}) {
    std::uint8_t byte = 0;
    DWORD written = 7;
    SetLastError(0);
    EXPECT_FALSE(spooler_.Close(handle));
    EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
    EXPECT_FALSE(spooler_.PrinterName(handle).has_value());
    EXPECT_FALSE(spooler_.Job(handle, 1).has_value());
    EXPECT_FALSE(spooler_.ReadPrinterData(handle, W("Model")).has_value());
    EXPECT_FALSE(spooler_.WritePrinterData(handle, W("Model"), PrinterValue{}));
    EXPECT_FALSE(spooler_.DeleteJob(handle, 1));
    EXPECT_EQ(spooler_.StartDocument(handle, Doc("Doc")), 0u);
    EXPECT_FALSE(spooler_.EndDocument(handle));
    EXPECT_FALSE(spooler_.Write(handle, &byte, 1, &written));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
  }
}

TEST_F(StoreTest, WriteAppendsToTheDocumentOutput) {
  HANDLE printer = AddAndOpen("Office");
  const std::string output = folder_ + "/job.pxl";
  std::ofstream(output) << "old content that is longer than the new one";
  DWORD written = 0;
  const std::uint8_t chunk[] = {0x1B, '%', '-', '1', '2', '3', '4', '5', 'X'};
  EXPECT_FALSE(spooler_.Write(printer, chunk, sizeof chunk, &written)) << "no document started";

  const DWORD job = spooler_.StartDocument(printer, Doc("Doc", output));
  ASSERT_NE(job, 0u);
  ASSERT_TRUE(spooler_.Write(printer, chunk, sizeof chunk, &written));
  EXPECT_EQ(written, sizeof chunk);
  ASSERT_TRUE(spooler_.Write(printer, "@PJL\r\n", 6, &written));
  ASSERT_TRUE(spooler_.Write(printer, nullptr, 0, &written));
  EXPECT_EQ(written, 0u);
  ASSERT_TRUE(spooler_.EndDocument(printer));
  EXPECT_EQ(ReadFile(output), std::string("\x1b%-12345X@PJL\r\n"));
  EXPECT_EQ(admin_.ListJobs().value().at(0).output, W(output));

  // A document whose output cannot be created starts no job.
  EXPECT_EQ(spooler_.StartDocument(printer, Doc("Doc", folder_ + "/missing/job.pxl")), 0u);
  EXPECT_EQ(admin_.ListJobs().value().size(), 1u);
  // A document without an output has nowhere for its bytes.
  const DWORD abandoned = spooler_.StartDocument(printer, Doc("Doc"));
  ASSERT_NE(abandoned, 0u);
  EXPECT_FALSE(spooler_.Write(printer, chunk, sizeof chunk, &written));
  // Closing the handle before the end leaves the job unfinished.
  ASSERT_TRUE(spooler_.Close(printer));
  EXPECT_EQ(admin_.ListJobs().value().back().info.jobId, abandoned);
  EXPECT_EQ(admin_.ListJobs().value().back().info.status, 0u);
}

TEST_F(StoreTest, DashWritesToStandardOutputAndLeavesItOpen) {
  HANDLE printer = AddAndOpen("Office");
  const std::string capture = folder_ + "/stdout";
  std::fflush(stdout);
  const int savedStdout = ::dup(STDOUT_FILENO);
  const int captureFd = ::open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(captureFd, 0);
  ::dup2(captureFd, STDOUT_FILENO);
  ::close(captureFd);

  DWORD written = 0;
  const bool started = spooler_.StartDocument(printer, Doc("Doc", "-")) != 0;
  const bool wrote = spooler_.Write(printer, "PCL", 3, &written);
  const bool ended = spooler_.EndDocument(printer);
  const bool stillOpen = ::fcntl(STDOUT_FILENO, F_GETFD) != -1;
  ::dup2(savedStdout, STDOUT_FILENO);
  ::close(savedStdout);

  EXPECT_TRUE(started && wrote && ended);
  EXPECT_TRUE(stillOpen) << "the document must not close standard output";
  EXPECT_EQ(ReadFile(capture), "PCL");
  spooler_.Close(printer);
}

TEST_F(StoreTest, JobSeesAnotherProcessCommitAtTheNextCall) {
  // Job keeps what it read while nothing is committed to the store; a status another
  // process sets right after a read is seen by the very next call.
  HANDLE office = AddAndOpen("Office");
  const DWORD job = spooler_.StartDocument(office, Doc("Doc", folder_ + "/job.pxl"));
  ASSERT_NE(job, 0u);
  for (const DWORD status : {DWORD{2}, DWORD{0x800}, DWORD{0}, JOB_STATUS_DELETING | JOB_STATUS_DELETED}) {
    ASSERT_TRUE(spooler_.Job(office, job));
    const std::string command = "sqlite3 '" + storePath_ + "' 'UPDATE jobs SET status = " + std::to_string(status) +
                                " WHERE id = " + std::to_string(job) + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(spooler_.Job(office, job)->status, status);
  }
  EXPECT_TRUE(spooler_.EndDocument(office));
  spooler_.Close(office);
}

TEST_F(StoreTest, DeletedJobRefusesWrites) {
  HANDLE host = AddAndOpen("Office");
  HANDLE other = spooler_.Open(W("Office"), PRINTER_ALL_ACCESS);
  const std::string output = folder_ + "/job.pxl";
  const DWORD job = spooler_.StartDocument(host, Doc("Doc", output));
  DWORD written = 0;
  ASSERT_TRUE(spooler_.Write(host, "ab", 2, &written));
  ASSERT_TRUE(spooler_.DeleteJob(other, job));  // as the plug-in or another process would
  SetLastError(0);
  EXPECT_FALSE(spooler_.Write(host, "cd", 2, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(GetLastError(), kErrorPrintCancelled);
  EXPECT_TRUE(spooler_.EndDocument(host));
  EXPECT_EQ(ReadFile(output), "ab");
  spooler_.Close(host);
  spooler_.Close(other);
}

TEST_F(StoreTest, MachineSwitchReadsFourByteValuesOnly) {
  const WString name = W("EnableLogging");
  EXPECT_EQ(ReadStoreMachineSwitch(name).storeReadable, true);
  EXPECT_EQ(ReadStoreMachineSwitch(name).value, std::nullopt);
  EXPECT_FALSE(std::filesystem::exists(storePath_)) << "reading a switch never creates the store";

  struct Case {
    std::vector<std::uint8_t> bytes;
    std::optional<std::uint32_t> value;
  };
  const Case cases[] = {
      {{1, 0, 0, 0}, 1u},     {{0x78, 0x56, 0x34, 0x12}, 0x12345678u},  {{0, 0, 0, 0}, 0u},
      {{1, 0}, std::nullopt}, {{1, 0, 0, 0, 0, 0, 0, 0}, std::nullopt}, {{}, std::nullopt},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(admin_.SetMachineValue(name, PrinterValue{ValueType::kDword, c.bytes}));
    const MachineSwitch read = ReadStoreMachineSwitch(W("enablelogging"));
    EXPECT_TRUE(read.storeReadable);
    EXPECT_EQ(read.value, c.value) << c.bytes.size() << " bytes";
  }
  EXPECT_EQ(ReadStoreMachineSwitch(W("OtherSwitch")).value, std::nullopt);
  ASSERT_TRUE(admin_.RemoveMachineValue(name));
  EXPECT_EQ(admin_.ReadMachineValue(name).value(), std::nullopt);

  // A store path through a regular file, and a file that is not a store, are unreadable.
  const std::string plainFile = folder_ + "/plain";
  std::ofstream(plainFile) << "this is not a database, it is long enough to have a header";
  for (const std::string& path : {plainFile + "/spooler.db", plainFile}) {
    ::setenv("VELMORA_STORE", path.c_str(), 1);
    const MachineSwitch read = ReadStoreMachineSwitch(name);
    EXPECT_FALSE(read.storeReadable) << path;
    EXPECT_EQ(read.value, std::nullopt) << path;
  }
}

TEST_F(StoreTest, StorePathAndClientProcessFollowTheEnvironment) {
  EXPECT_EQ(StorePath(), storePath_);
  const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  ::unsetenv("VELMORA_STORE");
  ::setenv("XDG_STATE_HOME", "/var/state/", 1);
  EXPECT_EQ(StorePath(), "/var/state/velmora/spooler.db");
  ::setenv("XDG_STATE_HOME", "relative", 1);  // relative folders are ignored
  ::setenv("HOME", "/home/alice", 1);
  EXPECT_EQ(StorePath(), "/home/alice/.local/state/velmora/spooler.db");
  ::unsetenv("XDG_STATE_HOME");
  ::setenv("HOME", home.c_str(), 1);

  struct Case {
    const char* text;
    std::optional<DWORD> pid;
  };
  const Case cases[] = {{"4242", 4242u},      {"", std::nullopt},  {"12x", std::nullopt},
                        {"-5", std::nullopt}, {"0", std::nullopt}, {"4294967296", std::nullopt}};
  for (const auto& c : cases) {
    ::setenv("VELMORA_CLIENT_PID", c.text, 1);
    EXPECT_EQ(spooler_.ClientProcessId(), c.pid) << c.text;
  }
  ::unsetenv("VELMORA_CLIENT_PID");
  EXPECT_EQ(spooler_.ClientProcessId(), std::nullopt);
}

// The process keeps one connection and each handle keeps the values it read. A value
// written by this process (through another handle or the administrator view) reaches
// handles that already read it; one written by another process reaches the next Open;
// a changed store path, or a store replaced at its path, is reached by the next call.
TEST_F(StoreTest, CachedValuesFollowWritesAndTheStore) {
  HANDLE reader = AddAndOpen("Office");
  HANDLE writer = spooler_.Open(W("Office"), PRINTER_ALL_ACCESS);
  ASSERT_NE(writer, nullptr);
  const auto bytesOf = [this](HANDLE printer) {
    const auto value = spooler_.ReadPrinterData(printer, W("MODEL"));
    return value ? value->bytes : std::vector<std::uint8_t>{};
  };
  EXPECT_EQ(bytesOf(reader), std::vector<std::uint8_t>{}) << "a missing value is remembered too";

  struct Case {
    const char* writer;
    std::function<bool(const PrinterValue&)> write;
    bool seenByOpenHandles;
  };
  const Case cases[] = {
      {"another handle", [&](const PrinterValue& v) { return spooler_.WritePrinterData(writer, W("model"), v); }, true},
      {"the administrator",
       [&](const PrinterValue& v) { return admin_.SetPrinterValue(W("Office"), W("Model"), v).ok(); }, true},
      {"another process",
       [&](const PrinterValue& v) {
         const pid_t pid = ::fork();
         if (pid == 0) ::_exit(PrinterStore(storePath_).SetPrinterValue(W("Office"), W("Model"), v).ok() ? 0 : 1);
         int status = -1;
         return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
       },
       false},
  };
  std::uint8_t next = 1;
  for (const Case& c : cases) {
    const PrinterValue value{ValueType::kDword, {next++, 0, 0, 0}};
    ASSERT_TRUE(c.write(value)) << c.writer;
    if (c.seenByOpenHandles) {
      EXPECT_EQ(bytesOf(reader), value.bytes) << c.writer;
    }
    HANDLE fresh = spooler_.Open(W("Office"), PRINTER_ALL_ACCESS);
    EXPECT_EQ(bytesOf(fresh), value.bytes) << c.writer;
    spooler_.Close(fresh);
  }
  spooler_.Close(reader);
  spooler_.Close(writer);

  // Another store path, and a new store file in place of the one the process has open,
  // are each reached by the next call: handles, printer values and machine switches.
  const std::string otherPath = folder_ + "/other/spooler.db";
  const auto replace = [this] {
    ASSERT_TRUE(PrinterStore(storePath_).ListPrinters());  // the old file is the connection now
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(storePath_ + suffix);
    // Another process creates the new file, so that this one finds a store at the path.
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(PrinterStore(storePath_).ListPrinters().ok() ? 0 : 1);
    int status = -1;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  };
  struct Store {
    const char* what;
    std::string path;
    std::function<void()> prepare;
    std::uint8_t mark;
  };
  const Store stores[] = {{"another path", otherPath, [] {}, 0x21},
                          {"the same path, replaced", storePath_, replace, 0x42}};
  for (const Store& s : stores) {
    s.prepare();
    ::setenv("VELMORA_STORE", s.path.c_str(), 1);
    PrinterStore admin(s.path);
    ASSERT_TRUE(admin.AddPrinter(W("Office"))) << s.what;
    ASSERT_TRUE(admin.SetPrinterValue(W("Office"), W("Model"), PrinterValue{ValueType::kDword, {s.mark, 0, 0, 0}}));
    ASSERT_TRUE(admin.SetMachineValue(W("EnableLogging"), PrinterValue{ValueType::kDword, {s.mark, 0, 0, 0}}));
    HANDLE printer = spooler_.Open(W("Office"), PRINTER_ALL_ACCESS);
    EXPECT_EQ(bytesOf(printer), (std::vector<std::uint8_t>{s.mark, 0, 0, 0})) << s.what;
    EXPECT_EQ(ReadStorePrinterValue(W("Office"), W("Model")).value_or(PrinterValue{}).bytes,
              (std::vector<std::uint8_t>{s.mark, 0, 0, 0}));
    EXPECT_EQ(ReadStoreMachineSwitch(W("EnableLogging")).value, s.mark) << s.what;
    spooler_.Close(printer);
  }
}

// While a job prints, the printer and its values are read from the store once: another
// process's write waits for the next job, this process's own is read at once.
TEST_F(StoreTest, ValuesAreReadOncePerJob) {
  HANDLE printer = AddAndOpen("Office");
  const auto set = [this](std::uint8_t mark) {
    return admin_.SetPrinterValue(W("Office"), W("Model"), PrinterValue{ValueType::kDword, {mark, 0, 0, 0}}).ok();
  };
  const auto setElsewhere = [&set](std::uint8_t mark) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(set(mark) ? 0 : 1);
    int status = -1;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  // What a handle opened now reads, as the plug-in opens one at every command.
  const auto read = [this] {
    HANDLE fresh = spooler_.Open(W("Office"), PRINTER_ALL_ACCESS);
    const auto value = spooler_.ReadPrinterData(fresh, W("Model"));
    spooler_.Close(fresh);
    return value ? value->bytes.at(0) : 0;
  };
  ASSERT_TRUE(set(1));
  ASSERT_NE(spooler_.StartDocument(printer, Doc("Doc", folder_ + "/job.pxl")), 0u);
  EXPECT_EQ(read(), 1);
  ASSERT_TRUE(setElsewhere(2));
  EXPECT_EQ(read(), 1) << "another process's write waits for the next job";
  ASSERT_TRUE(spooler_.WritePrinterData(printer, W("Model"), PrinterValue{ValueType::kDword, {3, 0, 0, 0}}));
  EXPECT_EQ(read(), 3) << "this process's write is read at once";
  ASSERT_TRUE(spooler_.EndDocument(printer));
  ASSERT_TRUE(setElsewhere(4));
  EXPECT_EQ(read(), 4) << "outside a job every handle reads the store";
  spooler_.Close(printer);
}

// Four processes create the store, add a printer each and write values and jobs at
// once; every call succeeds and nothing is lost.
TEST_F(StoreTest, SeveralProcessesShareOneStore) {
  constexpr int kChildren = 4;
  constexpr int kEach = 50;
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> children;
  for (int child = 0; child < kChildren; ++child) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid > 0) {
      children.push_back(pid);
      continue;
    }
    // The child waits until every child exists, then works; its exit status counts
    // the calls that failed.
    ::close(gate[1]);
    char ignored;
    while (::read(gate[0], &ignored, 1) > 0) {
    }
    int failures = 0;
    const WString printerName = W("Printer " + std::to_string(child));
    PrinterStore admin(StorePath());
    if (const auto added = admin.AddPrinter(printerName); !added) {
      ++failures;
      std::fprintf(stderr, "%s\n", added.error().c_str());
    }
    StoreSpooler spooler;
    for (int i = 0; i < kEach; ++i) {
      HANDLE printer = spooler.Open(printerName, PRINTER_ALL_ACCESS);
      const WString value = W("Value " + std::to_string(i));
      if (printer == nullptr ||
          !spooler.WritePrinterData(printer, value, PrinterValue{ValueType::kDword, {1, 2, 3, 4}}))
        ++failures;
      if (spooler.StartDocument(printer, DocInfo{value, {}, {}, {}}) == 0 || !spooler.EndDocument(printer)) ++failures;
      if (!admin.SetMachineValue(W("Child " + std::to_string(child)), PrinterValue{ValueType::kDword, {1, 0, 0, 0}}))
        ++failures;
      spooler.Close(printer);
    }
    ::_exit(failures > 100 ? 100 : failures);
  }
  ::close(gate[0]);
  ::close(gate[1]);
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failed calls in child " << pid;
  }

  const auto printers = admin_.ListPrinters();
  ASSERT_TRUE(printers) << printers.error();
  EXPECT_EQ(printers.value().size(), std::size_t{kChildren});
  std::set<DWORD> jobIds;
  for (int child = 0; child < kChildren; ++child) {
    const WString printerName = W("Printer " + std::to_string(child));
    EXPECT_EQ(admin_.ListPrinterData(printerName).value().size(), std::size_t{kEach});
    const auto jobs = admin_.ListJobs(printerName);
    ASSERT_TRUE(jobs) << jobs.error();
    EXPECT_EQ(jobs.value().size(), std::size_t{kEach});
    for (const auto& job : jobs.value()) {
      EXPECT_EQ(job.info.status, JOB_STATUS_COMPLETE);
      jobIds.insert(job.info.jobId);
    }
    EXPECT_EQ(ReadStoreMachineSwitch(W("Child " + std::to_string(child))).value, 1u);
  }
  EXPECT_EQ(jobIds.size(), std::size_t{kChildren * kEach});
}

}  // namespace
}  // namespace velmora::platform::posix

// The printer store as the spooler: printers, printer data, jobs and their output in SQLite.
#include "platform/posix/spooler_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/last_error.h"
#include "platform/posix/store_connection.h"
#include "platform/posix/store_database.h"
#include "platform/text_encoding.h"

namespace velmora::platform::posix {
namespace {

using store::Connection;
using store::Statement;
using store::WriteTransaction;

// Thread error codes the store reports (published values).
constexpr DWORD kErrorInvalidHandle = 6;
constexpr DWORD kErrorWriteFault = 29;
constexpr DWORD kErrorPrintCancelled = 63;
constexpr DWORD kErrorOpenFailed = 110;
constexpr DWORD kErrorInvalidPrinterName = 1801;
constexpr DWORD kErrorFileNotFound = 2;
constexpr DWORD kErrorCanNotComplete = 1003;
constexpr DWORD kErrorAlreadyExists = 183;
constexpr DWORD kErrorAccessDenied = 5;

// The job status bits DeleteJob sets.
constexpr DWORD kDeletedBits = JOB_STATUS_DELETING | JOB_STATUS_DELETED;

// Write asks the store for its job's status again after this many bytes: a query costs
// a read transaction, and a job is written in buffers of a few KiB, hundreds a page. The
// plug-in and the host ask at every page as well.
constexpr std::uint64_t kStatusInterval = std::uint64_t{1} << 20;

// Counts this process's changes of job status, so that its own deletion of a job
// reaches the job's next write at once.
std::atomic<std::uint64_t> jobStatusGeneration{0};

// Fails a call: sets the thread's last error and returns `result`.
template <typename T>
T Fail(DWORD error, T result) {
  SetLastError(error);
  return result;
}

// A failure with the words for it (see LastErrorText).
template <typename T>
T Fail(DWORD error, T result, std::string why) {
  SetLastError(error);
  SetLastErrorText(std::move(why));
  return result;
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') return home;
  if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_dir != nullptr) {
    return entry->pw_dir;
  }
  return {};
}

// The login name of the current user, for jobs whose document names none.
std::optional<std::string> LoginName() {
  if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_name != nullptr) {
    return std::string(entry->pw_name);
  }
  if (const char* user = std::getenv("USER"); user != nullptr && user[0] != '\0') return std::string(user);
  return std::nullopt;
}

// This machine as the spooler names it: two backslashes, then the host name.
std::optional<std::string> MachineName() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return std::nullopt;
  return std::string("\\\\") + host;
}

// Writes all bytes to a descriptor, retrying interrupted and short writes. Returns the
// count written; less than `count` only on an error (errno says which).
std::size_t WriteAll(int fd, const std::uint8_t* bytes, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd, bytes + done, count - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    break;
  }
  return done;
}

// A value name as the store compares it: without regard to ASCII case.
std::string FoldedName(const WString& valueName) {
  std::string name = Utf16ToUtf8(valueName);
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

void BindOptional(Statement& statement, int index, const std::optional<std::string>& text) {
  if (text) {
    statement.Bind(index, *text);
  } else {
    statement.BindNull(index);
  }
}

// How the store's files stood: the database and its write-ahead log, each by inode, size
// and time of its last change. Every commit changes one of them (a commit appends to the
// log, or rewrites it from its start with a new time; without the log it writes the
// database), so an equal stamp means that nothing was committed in between.
struct StoreStamp {
  struct FileStamp {
    ino_t inode = 0;
    off_t size = -1;
    std::int64_t changed = 0;  // nanoseconds
    bool operator==(const FileStamp&) const = default;
  };
  FileStamp database;
  FileStamp log;
  bool operator==(const StoreStamp&) const = default;
};

StoreStamp::FileStamp StampOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  return {info.st_ino, info.st_size,
          static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

StoreStamp StampOfStore(const std::string& databasePath) {
  return {StampOf(databasePath), StampOf(databasePath + "-wal")};
}

}  // namespace

namespace {
// A job started or ended in this process (the job's reads below).
void JobStarted();
void JobEnded();

// A printer as its row in the store names it.
struct PrinterRow {
  std::int64_t id = 0;
  WString name;
};

// What the plug-in reads again and again while a job prints in this process: the
// printers it opens by name at every command, their values and the machine switches.
// While a job runs, each is read from the store once: afresh when a job starts or ends,
// and, for the values, after this process wrote one. Entries belong to the connection
// they were read through; another store's connection starts them afresh.
class JobReads {
 public:
  static JobReads& Instance() {
    static JobReads reads;
    return reads;
  }

  void Started() {
    std::lock_guard lock(mutex_);
    ++jobsRunning_;
    Clear();
  }
  void Ended() {
    std::lock_guard lock(mutex_);
    if (jobsRunning_ > 0) --jobsRunning_;
    Clear();
  }

  std::optional<PrinterRow> Printer(const std::shared_ptr<Connection>& connection, const WString& name) {
    std::lock_guard lock(mutex_);
    if (!Current(connection)) return std::nullopt;
    const auto it = printers_.find(name);
    return it != printers_.end() ? std::optional<PrinterRow>(it->second) : std::nullopt;
  }
  void KeepPrinter(const std::shared_ptr<Connection>& connection, const WString& askedName, const PrinterRow& row) {
    std::lock_guard lock(mutex_);
    if (Current(connection)) printers_.insert_or_assign(askedName, row);
  }

  std::optional<WString> NameOf(const std::shared_ptr<Connection>& connection, std::int64_t printerId) {
    std::lock_guard lock(mutex_);
    if (!Current(connection)) return std::nullopt;
    for (const auto& [asked, row] : printers_) {
      if (row.id == printerId) return row.name;
    }
    return std::nullopt;
  }

  // A value read before in this job, by printer id and folded value name; nullopt
  // inside: the printer has no such value.
  std::optional<std::optional<PrinterValue>> Value(const std::shared_ptr<Connection>& connection,
                                                   std::int64_t printerId, const std::string& foldedName) {
    return Find(connection, values_, {printerId, foldedName});
  }
  // `generation` is the printer-data generation before the value was read: a write of
  // this process since then leaves it out.
  void KeepValue(const std::shared_ptr<Connection>& connection, std::int64_t printerId, const std::string& foldedName,
                 const std::optional<PrinterValue>& value, std::uint64_t generation) {
    Keep(connection, values_, {printerId, foldedName}, value, generation);
  }
  // The same for a value read by printer name (the device figures).
  std::optional<std::optional<PrinterValue>> NamedValue(const std::shared_ptr<Connection>& connection,
                                                        const WString& printer, const WString& value) {
    return Find(connection, namedValues_, {printer, value});
  }
  void KeepNamedValue(const std::shared_ptr<Connection>& connection, const WString& printer, const WString& value,
                      const std::optional<PrinterValue>& read, std::uint64_t generation) {
    Keep(connection, namedValues_, {printer, value}, read, generation);
  }

  // The connection of this process's running job when it is the store at `path`: a
  // printer opened during the job takes it without checking the store's file again.
  std::shared_ptr<Connection> JobConnection(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (jobsRunning_ == 0) return nullptr;
    std::shared_ptr<Connection> connection = connection_.lock();
    if (!connection || !connection->writable || connection->owner != ::getpid() || connection->db.path() != path) {
      return nullptr;
    }
    return connection;
  }

  std::optional<MachineSwitch> Switch(const WString& name) {
    std::lock_guard lock(mutex_);
    if (jobsRunning_ == 0) return std::nullopt;
    const auto it = switches_.find(name);
    return it != switches_.end() ? std::optional<MachineSwitch>(it->second) : std::nullopt;
  }
  void KeepSwitch(const WString& name, const MachineSwitch& value) {
    std::lock_guard lock(mutex_);
    if (jobsRunning_ > 0) switches_.insert_or_assign(name, value);
  }

 private:
  template <typename Key>
  using ValueMap = std::map<Key, std::optional<PrinterValue>>;

  template <typename Key>
  std::optional<std::optional<PrinterValue>> Find(const std::shared_ptr<Connection>& connection,
                                                  const ValueMap<Key>& values, const Key& key) {
    std::lock_guard lock(mutex_);
    if (!Current(connection) || valuesGeneration_ != store::PrinterDataGeneration()) return std::nullopt;
    const auto it = values.find(key);
    if (it == values.end()) return std::nullopt;
    return it->second;
  }
  template <typename Key>
  void Keep(const std::shared_ptr<Connection>& connection, ValueMap<Key>& values, const Key& key,
            const std::optional<PrinterValue>& value, std::uint64_t generation) {
    std::lock_guard lock(mutex_);
    if (!Current(connection) || generation != store::PrinterDataGeneration()) return;
    if (valuesGeneration_ != generation) {
      values_.clear();
      namedValues_.clear();
      valuesGeneration_ = generation;
    }
    values.insert_or_assign(key, value);
  }

  // True while a job runs and the entries came through `connection`, which they now do.
  bool Current(const std::shared_ptr<Connection>& connection) {
    if (jobsRunning_ == 0) return false;
    if (connection_.lock() != connection) {
      printers_.clear();
      values_.clear();
      namedValues_.clear();
      connection_ = connection;
    }
    return true;
  }
  void Clear() {
    switches_.clear();
    printers_.clear();
    values_.clear();
    namedValues_.clear();
    connection_.reset();
  }

  std::mutex mutex_;  // taken after a handle's and a connection's, never before them
  int jobsRunning_ = 0;
  std::weak_ptr<Connection> connection_;
  std::unordered_map<WString, MachineSwitch> switches_;
  std::unordered_map<WString, PrinterRow> printers_;       // by the name they were opened with
  ValueMap<std::pair<std::int64_t, std::string>> values_;  // by printer id and folded name
  ValueMap<std::pair<WString, WString>> namedValues_;      // by printer name and value name
  std::uint64_t valuesGeneration_ = 0;
};
}  // namespace

// One open printer. The spooler owns it from Open until Close.
struct StoreSpooler::Handle {
  std::mutex mutex;  // one call at a time on this handle; taken before the connection's
  WString printerName;
  std::int64_t printerId = 0;
  DWORD access = 0;                        // the rights asked at Open
  std::shared_ptr<Connection> connection;  // the store that was current at Open
  // The printer's values read through this handle (nullopt: the value is missing),
  // keyed by their folded names; valid while this process's printer-data generation
  // is `valuesGeneration`.
  std::unordered_map<std::string, std::optional<PrinterValue>> values;
  std::uint64_t valuesGeneration = 0;
  DWORD jobId = 0;    // the document started on this handle; 0: none
  int outputFd = -1;  // where Write puts the document's bytes
  bool ownsOutput = false;
  std::uint64_t written = 0;  // bytes written to the output so far
  std::uint64_t flushed = 0;  // bytes handed to the disk so far
  // Where Write last asked the store for the job's status: after this many bytes of the
  // output, and at this process's job-status generation.
  std::optional<std::uint64_t> statusAskedAt;
  std::uint64_t statusGeneration = 0;
  // The job Job read last, kept while the store's files stand as they did before the
  // read and this process changed no job's status.
  std::optional<JobInfo> lastJob;
  StoreStamp lastJobStamp;
  std::uint64_t lastJobGeneration = 0;

  // Closes the document's output. False when closing reported a lost write.
  bool CloseOutput() {
    const bool owned = ownsOutput;
    const int fd = outputFd;
    if (jobId != 0) JobEnded();
    outputFd = -1;
    ownsOutput = false;
    jobId = 0;
    if (!owned || fd < 0) return true;
    return ::close(fd) == 0;
  }
};

std::string StorePath() {
  if (const char* path = std::getenv("VELMORA_STORE"); path != nullptr && path[0] != '\0') return path;
  // Relative XDG folders are to be ignored, as the base-directory rules say.
  std::string state;
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/') {
    state = xdg;
  } else if (std::string home = HomeFolder(); !home.empty()) {
    state = home + "/.local/state";
  } else {
    return {};
  }
  while (state.size() > 1 && state.back() == '/') state.pop_back();
  return state + "/velmora/spooler.db";
}

StoreSpooler::StoreSpooler() = default;

StoreSpooler::~StoreSpooler() {
  for (auto& [raw, handle] : handles_) handle->CloseOutput();
}

std::shared_ptr<StoreSpooler::Handle> StoreSpooler::Find(HANDLE printer) {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(printer);
  if (it == handles_.end()) return nullptr;
  return it->second;
}

HANDLE StoreSpooler::Open(const WString& printerName, DWORD desiredAccess) {
  std::string error;
  const std::string path = StorePath();
  std::shared_ptr<Connection> connection = JobReads::Instance().JobConnection(path);
  if (!connection) connection = store::ConnectForWriting(path, &error);
  if (!connection) return Fail(kErrorOpenFailed, HANDLE{nullptr}, error);
  auto handle = std::make_shared<Handle>();
  handle->access = desiredAccess;
  // Values read from here on belong to this handle; earlier writes are in the store.
  handle->valuesGeneration = store::PrinterDataGeneration();
  if (std::optional<PrinterRow> row = JobReads::Instance().Printer(connection, printerName)) {
    handle->printerId = row->id;
    handle->printerName = std::move(row->name);
  } else {
    std::lock_guard lock(connection->mutex);
    Statement find = connection->db.Prepare("SELECT id, name FROM printers WHERE name = ?");
    find.Bind(1, Utf16ToUtf8(printerName));
    const int rc = find.Step();
    if (rc == SQLITE_DONE) return Fail(kErrorInvalidPrinterName, HANDLE{nullptr});
    if (rc != SQLITE_ROW) {
      return Fail(kErrorCanNotComplete, HANDLE{nullptr}, connection->db.Describe("Unable to read the printers"));
    }
    handle->printerId = find.Int(0);
    handle->printerName = Utf8ToUtf16(find.Text(1));
    JobReads::Instance().KeepPrinter(connection, printerName, {handle->printerId, handle->printerName});
  }
  handle->connection = std::move(connection);
  HANDLE raw = handle.get();
  std::lock_guard lock(mutex_);
  handles_.emplace(raw, std::move(handle));
  return raw;
}

bool StoreSpooler::Close(HANDLE printer) {
  std::shared_ptr<Handle> handle;
  {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(printer);
    if (it == handles_.end()) return Fail(kErrorInvalidHandle, false);
    handle = std::move(it->second);
    handles_.erase(it);
  }
  // An unfinished document stays as it is: its job is not marked complete.
  std::lock_guard lock(handle->mutex);
  return handle->CloseOutput();
}

std::optional<WString> StoreSpooler::PrinterName(HANDLE printer) {
  auto handle = Find(printer);
  if (!handle) return Fail(kErrorInvalidHandle, std::optional<WString>{});
  std::lock_guard lock(handle->mutex);
  if (std::optional<WString> name = JobReads::Instance().NameOf(handle->connection, handle->printerId)) return name;
  Connection& connection = *handle->connection;
  std::lock_guard storeLock(connection.mutex);
  // Outside a job, the printer may have been removed since it was opened.
  Statement find = connection.db.Prepare("SELECT name FROM printers WHERE id = ?");
  find.Bind(1, handle->printerId);
  const int rc = find.Step();
  if (rc == SQLITE_DONE) return Fail(kErrorInvalidPrinterName, std::optional<WString>{});
  if (rc != SQLITE_ROW) return Fail(kErrorCanNotComplete, std::optional<WString>{});
  return Utf8ToUtf16(find.Text(0));
}

std::optional<JobInfo> StoreSpooler::Job(HANDLE printer, DWORD jobId) {
  auto handle = Find(printer);
  if (!handle) return Fail(kErrorInvalidHandle, std::optional<JobInfo>{});
  std::lock_guard lock(handle->mutex);
  Connection& connection = *handle->connection;
  std::lock_guard storeLock(connection.mutex);
  // Another process may delete the job at any time, and the plug-in asks several times
  // a page whether it should go on. The job is read again whenever anything was
  // committed to the store since the last read, which two stat calls tell for a
  // fraction of the query's cost.
  const StoreStamp stamp = StampOfStore(connection.db.path());
  const std::uint64_t generation = jobStatusGeneration.load(std::memory_order_acquire);
  if (handle->lastJob && handle->lastJob->jobId == jobId && handle->lastJobStamp == stamp &&
      handle->lastJobGeneration == generation && stamp.database.size >= 0) {
    return handle->lastJob;
  }
  handle->lastJob.reset();
  static const std::string kFindJob =
      std::string("SELECT ") + store::kJobColumns +
      " FROM jobs j JOIN printers p ON p.id = j.printer WHERE j.id = ? AND j.printer = ?";
  Statement find = connection.db.Prepare(kFindJob);
  find.Bind(1, std::int64_t{jobId}).Bind(2, handle->printerId);
  const int rc = find.Step();
  if (rc == SQLITE_DONE) return Fail(ERROR_INVALID_PARAMETER, std::optional<JobInfo>{});
  if (rc != SQLITE_ROW) return Fail(kErrorCanNotComplete, std::optional<JobInfo>{});
  handle->lastJob = store::ReadJob(find);
  handle->lastJobStamp = stamp;
  handle->lastJobGeneration = generation;
  return handle->lastJob;
}

std::optional<PrinterValue> StoreSpooler::ReadPrinterData(HANDLE printer, const WString& valueName) {
  auto handle = Find(printer);
  if (!handle) return Fail(kErrorInvalidHandle, std::optional<PrinterValue>{});
  std::lock_guard lock(handle->mutex);
  // The plug-in reads the same values at every page. They are read from the store once
  // per handle, and again only after this process wrote a value; another process's
  // writes are seen by handles opened after them.
  const std::uint64_t generation = store::PrinterDataGeneration();
  if (generation != handle->valuesGeneration) {
    handle->values.clear();
    handle->valuesGeneration = generation;
  }
  std::string name = FoldedName(valueName);
  if (auto it = handle->values.find(name); it != handle->values.end()) {
    if (!it->second) return Fail(kErrorFileNotFound, std::optional<PrinterValue>{});
    return it->second;
  }
  std::optional<PrinterValue> value;
  if (auto read = JobReads::Instance().Value(handle->connection, handle->printerId, name)) {
    value = std::move(*read);
  } else {
    Connection& connection = *handle->connection;
    std::lock_guard storeLock(connection.mutex);
    Statement find = connection.db.Prepare("SELECT type, bytes FROM printer_data WHERE printer = ? AND name = ?");
    find.Bind(1, handle->printerId).Bind(2, name);
    const int rc = find.Step();
    // A failed read is not remembered: the next call asks the store again.
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(kErrorCanNotComplete, std::optional<PrinterValue>{});
    if (rc == SQLITE_ROW) value = store::ReadValue(find, 0);
    JobReads::Instance().KeepValue(handle->connection, handle->printerId, name, value, generation);
  }
  handle->values.emplace(std::move(name), value);
  if (!value) return Fail(kErrorFileNotFound, std::optional<PrinterValue>{});
  return value;
}

bool StoreSpooler::WritePrinterData(HANDLE printer, const WString& valueName, const PrinterValue& value) {
  auto handle = Find(printer);
  if (!handle) return Fail(kErrorInvalidHandle, false);
  // As on the Windows spooler, a handle opened to print cannot change the printer.
  if ((handle->access & PRINTER_ACCESS_ADMINISTER) == 0) return Fail(kErrorAccessDenied, false);
  std::lock_guard lock(handle->mutex);
  Connection& connection = *handle->connection;
  std::lock_guard storeLock(connection.mutex);
  // A value written again as it stands, under the same spelling of its name (the plug-in
  // records the printing application at every job), commits nothing: a commit may have
  // to wait for the disk (the first one after the log was checkpointed syncs it), while
  // the job is starting.
  const std::string name = Utf16ToUtf8(valueName);
  {
    Statement current = connection.db.Prepare(
        "SELECT d.name, d.type, d.bytes FROM printer_data d JOIN printers p ON p.id = d.printer "
        "WHERE d.printer = ? AND d.name = ?");
    current.Bind(1, handle->printerId).Bind(2, name);
    if (current.Step() == SQLITE_ROW && current.Text(0) == name) {
      const PrinterValue stored = store::ReadValue(current, 1);
      if (stored.type == value.type && stored.bytes == value.bytes) {
        // This process's handles may hold what they read before another process wrote
        // the value: they read it afresh, as after any write.
        store::PrinterDataChanged();
        return true;
      }
    }
  }
  // Selecting the printer's row makes the write a no-op when the printer was removed
  // meanwhile, instead of leaving a value that belongs to no printer.
  Statement write = connection.db.Prepare(
      "INSERT OR REPLACE INTO printer_data (printer, name, type, bytes) "
      "SELECT id, ?, ?, ? FROM printers WHERE id = ?");
  write.Bind(1, name)
      .Bind(2, std::int64_t{static_cast<DWORD>(value.type)})
      .BindBlob(3, value.bytes)
      .Bind(4, handle->printerId);
  if (!write.Run()) return Fail(kErrorCanNotComplete, false);
  if (connection.db.Changes() == 0) return Fail(kErrorInvalidPrinterName, false);
  // Every handle of this process reads the value afresh.
  store::PrinterDataChanged();
  return true;
}

bool StoreSpooler::DeleteJob(HANDLE printer, DWORD jobId) { return AddJobStatus(printer, jobId, kDeletedBits); }

bool StoreSpooler::FailJob(HANDLE printer, DWORD jobId) {
  return AddJobStatus(printer, jobId, kDeletedBits | JOB_STATUS_ERROR);
}

bool StoreSpooler::AddJobStatus(HANDLE printer, DWORD jobId, DWORD bits) {
  auto handle = Find(printer);
  if (!handle) return Fail(kErrorInvalidHandle, false);
  std::lock_guard lock(handle->mutex);
  Connection& connection = *handle->connection;
  std::lock_guard storeLock(connection.mutex);
  Statement update = connection.db.Prepare("UPDATE jobs SET status = status | ? WHERE id = ? AND printer = ?");
  update.Bind(1, std::int64_t{bits}).Bind(2, std::int64_t{jobId}).Bind(3, handle->printerId);
  if (!update.Run()) return Fail(kErrorCanNotComplete, false);
  if (connection.db.Changes() == 0) return Fail(ERROR_INVALID_PARAMETER, false);
  jobStatusGeneration.fetch_add(1, std::memory_order_acq_rel);
  return true;
}

DWORD StoreSpooler::StartDocument(HANDLE printer, const DocInfo& doc) {
  auto handle = Find(printer);
  if (!handle) return Fail(kErrorInvalidHandle, DWORD{0});
  std::lock_guard lock(handle->mutex);
  if (handle->jobId != 0) return Fail(kErrorCanNotComplete, DWORD{0});

  const std::string output = Utf16ToUtf8(doc.outputFile);
  const std::optional<std::string> user = doc.userName.empty() ? LoginName() : Utf16ToUtf8(doc.userName);
  const std::optional<std::string> machine = doc.machineName.empty() ? MachineName() : Utf16ToUtf8(doc.machineName);

  // The job row and the output appear together: the row is committed only once the
  // output is open, so a failed start leaves no job behind.
  Connection& connection = *handle->connection;
  std::lock_guard storeLock(connection.mutex);
  WriteTransaction transaction(connection.db);
  if (!transaction.ok()) return Fail(kErrorCanNotComplete, DWORD{0});
  std::int64_t jobId = 0;
  {
    // A requested id is taken as it is, unless a job holds it already: an id never
    // names two jobs. NULL lets the store assign the next id.
    if (doc.jobId != 0) {
      Statement taken = connection.db.Prepare("SELECT 1 FROM jobs WHERE id = ?");
      taken.Bind(1, std::int64_t{doc.jobId});
      const int rc = taken.Step();
      if (rc == SQLITE_ROW) return Fail(kErrorAlreadyExists, DWORD{0});
      if (rc != SQLITE_DONE) return Fail(kErrorCanNotComplete, DWORD{0});
    }
    Statement insert = connection.db.Prepare(
        "INSERT INTO jobs (id, printer, document, user, machine, status, output) "
        "SELECT ?, id, ?, ?, ?, 0, ? FROM printers WHERE id = ?");
    if (doc.jobId == 0) {
      insert.BindNull(1);
    } else {
      insert.Bind(1, std::int64_t{doc.jobId});
    }
    insert.Bind(2, Utf16ToUtf8(doc.documentName));
    BindOptional(insert, 3, user);
    BindOptional(insert, 4, machine);
    BindOptional(insert, 5, output.empty() ? std::nullopt : std::optional<std::string>(output));
    insert.Bind(6, handle->printerId);
    if (!insert.Run()) return Fail(kErrorCanNotComplete, DWORD{0});
    if (connection.db.Changes() == 0) return Fail(kErrorInvalidPrinterName, DWORD{0});
    jobId = connection.db.LastInsertRowId();
  }

  int fd = -1;
  bool owned = false;
  if (output == "-") {
    fd = STDOUT_FILENO;
  } else if (!output.empty()) {
    // An existing file is emptied only when it holds something: the host hands over a
    // file it has just created, and truncating a file makes ext4 write it out when it
    // is closed (its guard for files replaced in place), which costs milliseconds.
    fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return Fail(kErrorOpenFailed, DWORD{0});
    struct stat info {};
    if (::fstat(fd, &info) != 0 || (info.st_size != 0 && ::ftruncate(fd, 0) != 0)) {
      ::close(fd);
      return Fail(kErrorOpenFailed, DWORD{0});
    }
    owned = true;
  }
  if (!transaction.Commit()) {
    if (owned) ::close(fd);
    return Fail(kErrorCanNotComplete, DWORD{0});
  }
  handle->jobId = static_cast<DWORD>(jobId);
  handle->outputFd = fd;
  handle->ownsOutput = owned;
  handle->written = 0;
  handle->flushed = 0;
  handle->statusAskedAt.reset();
  JobStarted();
  return handle->jobId;
}

bool StoreSpooler::EndDocument(HANDLE printer) {
  auto handle = Find(printer);
  if (!handle) return Fail(kErrorInvalidHandle, false);
  std::lock_guard lock(handle->mutex);
  if (handle->jobId == 0) return Fail(kErrorCanNotComplete, false);
  const std::int64_t jobId = handle->jobId;
  // A close that reports an error means bytes may be lost: the job is not complete.
  if (!handle->CloseOutput()) return Fail(kErrorWriteFault, false, std::strerror(errno));
  Connection& connection = *handle->connection;
  std::lock_guard storeLock(connection.mutex);
  // A deleted job stays deleted; it does not become complete.
  Statement update = connection.db.Prepare("UPDATE jobs SET status = status | ? WHERE id = ? AND (status & ?) = 0");
  update.Bind(1, std::int64_t{JOB_STATUS_COMPLETE}).Bind(2, jobId).Bind(3, std::int64_t{JOB_STATUS_DELETED});
  if (!update.Run()) return Fail(kErrorCanNotComplete, false);
  return true;
}

// Hands a file output's bytes to the disk a piece at a time while the job is written,
// rather than all at once when the finished file replaces an older one (ext4 writes a
// file out then, so that a crash does not leave it empty). The job's end then waits for
// little.
void StoreSpooler::StartWriteBack(Handle& handle) {
#ifdef __linux__
  constexpr std::uint64_t kPiece = std::uint64_t{1} << 20;
  if (!handle.ownsOutput || handle.written - handle.flushed < kPiece) return;
  // Only a start: nothing waits, and a failure here (a pipe, a file system without
  // it) leaves the bytes to the kernel's own schedule.
  ::sync_file_range(handle.outputFd, static_cast<off_t>(handle.flushed),
                    static_cast<off_t>(handle.written - handle.flushed), SYNC_FILE_RANGE_WRITE);
  handle.flushed = handle.written;
#else
  (void)handle;
#endif
}

bool StoreSpooler::Write(HANDLE printer, const void* bytes, DWORD count, DWORD* written) {
  if (written != nullptr) *written = 0;
  auto handle = Find(printer);
  if (!handle) return Fail(kErrorInvalidHandle, false);
  std::lock_guard lock(handle->mutex);
  if (handle->jobId == 0 || handle->outputFd < 0) return Fail(kErrorCanNotComplete, false);
  if (bytes == nullptr && count != 0) return Fail(ERROR_INVALID_PARAMETER, false);

  // Another process (or handle) may have deleted the job since the status was asked.
  const std::uint64_t generation = jobStatusGeneration.load(std::memory_order_acquire);
  if (!handle->statusAskedAt || handle->written - *handle->statusAskedAt >= kStatusInterval ||
      handle->statusGeneration != generation) {
    Connection& connection = *handle->connection;
    std::lock_guard storeLock(connection.mutex);
    Statement status = connection.db.Prepare("SELECT status FROM jobs WHERE id = ?");
    status.Bind(1, std::int64_t{handle->jobId});
    const int rc = status.Step();
    if (rc == SQLITE_DONE) return Fail(kErrorPrintCancelled, false);
    if (rc != SQLITE_ROW) return Fail(kErrorCanNotComplete, false);
    if ((static_cast<DWORD>(status.Int(0)) & kDeletedBits) != 0) return Fail(kErrorPrintCancelled, false);
    handle->statusAskedAt = handle->written;
    handle->statusGeneration = generation;
  }

  const std::size_t done = WriteAll(handle->outputFd, static_cast<const std::uint8_t*>(bytes), count);
  const int writeErrno = errno;
  if (written != nullptr) *written = static_cast<DWORD>(done);
  if (done != count) return Fail(kErrorWriteFault, false, std::strerror(writeErrno));
  handle->written += done;
  StartWriteBack(*handle);
  return true;
}

std::optional<DWORD> StoreSpooler::ClientProcessId() {
  const char* text = std::getenv("VELMORA_CLIENT_PID");
  if (text == nullptr || *text < '0' || *text > '9') return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const unsigned long long pid = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || pid == 0 || pid > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<DWORD>(pid);
}

namespace {

void JobStarted() { JobReads::Instance().Started(); }

void JobEnded() { JobReads::Instance().Ended(); }

MachineSwitch ReadMachineSwitchFromStore(const WString& name);

}  // namespace

MachineSwitch ReadStoreMachineSwitch(const WString& name) {
  // The plug-in reads its logging switch at every command.
  if (std::optional<MachineSwitch> cached = JobReads::Instance().Switch(name)) return *cached;
  const MachineSwitch value = ReadMachineSwitchFromStore(name);
  // A store that could not be read is asked again next time.
  if (value.storeReadable) JobReads::Instance().KeepSwitch(name, value);
  return value;
}

namespace {

MachineSwitch ReadMachineSwitchFromStore(const WString& name) {
  bool missing = false;
  std::string error;
  // Nothing there yet is a store without values; anything else is unreachable.
  std::shared_ptr<Connection> connection = store::ConnectForReading(StorePath(), &missing, &error);
  if (!connection) return MachineSwitch{missing, std::nullopt};
  std::lock_guard lock(connection->mutex);
  Statement find = connection->db.Prepare("SELECT bytes FROM machine_values WHERE name = ?");
  if (!find.ok()) {
    // A database that has no values table yet (an empty file) has no values.
    Statement table = connection->db.Prepare("SELECT 1 FROM sqlite_master WHERE name = 'machine_values'");
    return MachineSwitch{table.ok() && table.Step() == SQLITE_DONE, std::nullopt};
  }
  find.Bind(1, Utf16ToUtf8(name));
  const int rc = find.Step();
  if (rc == SQLITE_DONE) return MachineSwitch{true, std::nullopt};
  if (rc != SQLITE_ROW) return MachineSwitch{false, std::nullopt};
  const std::vector<std::uint8_t> bytes = find.Blob(0);
  if (bytes.size() != 4) return MachineSwitch{true, std::nullopt};
  const std::uint32_t value = static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
                              (static_cast<std::uint32_t>(bytes[2]) << 16) |
                              (static_cast<std::uint32_t>(bytes[3]) << 24);
  return MachineSwitch{true, value};
}

}  // namespace

std::optional<PrinterValue> ReadStorePrinterValue(const WString& printerName, const WString& valueName) {
  // The thread's last error belongs to the caller's spooler calls; this read keeps it.
  // The device figures read the paper model at every page: while a job runs, through
  // the job's connection.
  const std::string path = StorePath();
  std::shared_ptr<Connection> connection = JobReads::Instance().JobConnection(path);
  bool missing = false;
  std::string error;
  if (!connection) connection = store::ConnectForReading(path, &missing, &error);
  if (!connection) return std::nullopt;
  const std::uint64_t generation = store::PrinterDataGeneration();
  if (auto read = JobReads::Instance().NamedValue(connection, printerName, valueName)) return *read;
  std::optional<PrinterValue> value;
  {
    std::lock_guard lock(connection->mutex);
    // A database without the tables yet (an empty file) fails to prepare: no value.
    Statement find = connection->db.Prepare(
        "SELECT d.type, d.bytes FROM printer_data d JOIN printers p ON p.id = d.printer "
        "WHERE p.name = ? AND d.name = ?");
    if (!find.ok()) return std::nullopt;
    find.Bind(1, Utf16ToUtf8(printerName)).Bind(2, Utf16ToUtf8(valueName));
    const int rc = find.Step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return std::nullopt;
    if (rc == SQLITE_ROW) value = store::ReadValue(find, 0);
  }
  JobReads::Instance().KeepNamedValue(connection, printerName, valueName, value, generation);
  return value;
}

}  // namespace velmora::platform::posix

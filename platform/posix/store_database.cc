// A thin RAII layer over one SQLite connection of the printer store, with a statement cache.
#include "platform/posix/store_database.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/text_encoding.h"

namespace velmora::platform::posix::store {
namespace {

// The schema, version 1. Printer and value names compare without regard to ASCII
// case, as the system's printer and value names do. Job ids are never reused, so that
// a job id seen by one process never names another job later.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS printers (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE COLLATE NOCASE,
  created TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now'))
);
CREATE TABLE IF NOT EXISTS printer_data (
  printer INTEGER NOT NULL,
  name TEXT NOT NULL COLLATE NOCASE,
  type INTEGER NOT NULL,
  bytes BLOB NOT NULL,
  PRIMARY KEY (printer, name)
);
CREATE TABLE IF NOT EXISTS jobs (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  printer INTEGER NOT NULL,
  document TEXT,
  user TEXT,
  machine TEXT,
  status INTEGER NOT NULL DEFAULT 0,
  created TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now')),
  output TEXT
);
CREATE INDEX IF NOT EXISTS jobs_by_printer ON jobs (printer);
CREATE TABLE IF NOT EXISTS machine_values (
  name TEXT PRIMARY KEY COLLATE NOCASE,
  type INTEGER NOT NULL,
  bytes BLOB NOT NULL
);
PRAGMA user_version = 1;
)sql";

std::string ParentFolder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

bool CreateFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    ::mkdir(path.substr(0, slash).c_str(), 0777);
  }
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

JobInfo ReadJob(const Statement& row) {
  const auto text = [&row](int column) -> std::optional<WString> {
    if (row.IsNull(column)) return std::nullopt;
    return Utf8ToUtf16(row.Text(column));
  };
  JobInfo info;
  info.jobId = static_cast<DWORD>(row.Int(0));
  info.printerName = text(1);
  info.machineName = text(2);
  info.userName = text(3);
  info.document = text(4);
  info.status = static_cast<DWORD>(row.Int(5));
  return info;
}

PrinterValue ReadValue(const Statement& row, int column) {
  return PrinterValue{static_cast<ValueType>(static_cast<DWORD>(row.Int(column))), row.Blob(column + 1)};
}

// --- Statement --------------------------------------------------------------------------

namespace {

// "<sqlite message> (code N)" for the connection's last error.
std::string ErrorText(sqlite3* db) {
  if (db == nullptr) return "out of memory";
  return std::string(sqlite3_errmsg(db)) + " (code " + std::to_string(sqlite3_extended_errcode(db)) + ")";
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql) {
  if (db == nullptr) {
    error_ = "the store is not open";
    return;
  }
  if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK) {
    error_ = ErrorText(db);
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}

Statement::~Statement() {
  if (inUse_ == nullptr) {
    sqlite3_finalize(stmt_);
    return;
  }
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  *inUse_ = false;
}

Statement::Statement(Statement&& other) noexcept
    : stmt_(std::exchange(other.stmt_, nullptr)),
      inUse_(std::exchange(other.inUse_, nullptr)),
      stepped_(other.stepped_),
      error_(std::move(other.error_)) {}

Statement& Statement::Bind(int index, std::int64_t value) {
  if (stmt_ != nullptr) sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
  if (stmt_ != nullptr) {
    sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  }
  return *this;
}

Statement& Statement::BindBlob(int index, const std::vector<std::uint8_t>& bytes) {
  if (stmt_ == nullptr) return *this;
  // A zero-length blob must still be a blob, not NULL: the column is NOT NULL.
  if (bytes.empty()) {
    sqlite3_bind_zeroblob(stmt_, index, 0);
    return *this;
  }
  sqlite3_bind_blob64(stmt_, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::BindNull(int index) {
  if (stmt_ != nullptr) sqlite3_bind_null(stmt_, index);
  return *this;
}

int Statement::Step() {
  // A statement that failed to prepare fails every step; its error() says why.
  if (stmt_ == nullptr) return SQLITE_ERROR;
  const bool first = !std::exchange(stepped_, true);
  int rc = sqlite3_step(stmt_);
  // Inside a transaction a busy answer may be a deadlock that only a rollback resolves;
  // outside one, the statement is simply tried again.
  constexpr int kPauseMs = 10;
  sqlite3* db = sqlite3_db_handle(stmt_);
  for (int waited = 0;
       first && (rc & 0xFF) == SQLITE_BUSY && sqlite3_get_autocommit(db) != 0 && waited < kBusyTimeoutMs;
       waited += kPauseMs) {
    sqlite3_reset(stmt_);
    sqlite3_sleep(kPauseMs);
    rc = sqlite3_step(stmt_);
  }
  return rc;
}

bool Statement::Run() {
  int rc = Step();
  while (rc == SQLITE_ROW) rc = Step();
  return rc == SQLITE_DONE;
}

std::int64_t Statement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

bool Statement::IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

std::string Statement::Text(int column) const {
  const auto* text = sqlite3_column_text(stmt_, column);
  if (text == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

std::vector<std::uint8_t> Statement::Blob(int column) const {
  const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt_, column));
  const int size = sqlite3_column_bytes(stmt_, column);
  if (bytes == nullptr || size <= 0) return {};
  return std::vector<std::uint8_t>(bytes, bytes + size);
}

// --- Database ---------------------------------------------------------------------------

Database::~Database() { Close(); }

Database::Database(Database&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), path_(std::move(other.path_)), statements_(std::move(other.statements_)) {
  other.statements_.clear();
}

Database& Database::operator=(Database&& other) noexcept {
  if (this == &other) return *this;
  Close();
  db_ = std::exchange(other.db_, nullptr);
  path_ = std::move(other.path_);
  statements_ = std::move(other.statements_);
  other.statements_.clear();
  return *this;
}

void Database::Close() {
  for (auto& [sql, cached] : statements_) sqlite3_finalize(cached.stmt);
  statements_.clear();
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

void Database::Abandon() {
  // The statements and the connection are leaked on purpose; see the declaration.
  statements_.clear();
  db_ = nullptr;
}

Statement Database::Prepare(std::string_view sql) {
  if (db_ == nullptr) return Statement(nullptr, sql);
  prepareError_.clear();
  auto it = statements_.find(std::string(sql));
  if (it == statements_.end()) {
    Statement compiled(db_, sql);
    if (!compiled.ok()) {
      prepareError_ = compiled.error();
      return compiled;
    }
    it = statements_.emplace(std::string(sql), Cached{std::exchange(compiled.stmt_, nullptr), false}).first;
  }
  if (it->second.inUse) return Statement(db_, sql);
  it->second.inUse = true;
  return Statement(it->second.stmt, &it->second.inUse);
}

std::optional<Database> Database::OpenForWriting(const std::string& path, std::string* error) {
  if (path.empty()) {
    *error = "No printer store: neither VELMORA_STORE nor a home folder is set";
    return std::nullopt;
  }
  if (!CreateFolders(ParentFolder(path))) {
    *error = "Unable to create the folder of store '" + path + "': " + std::strerror(errno);
    return std::nullopt;
  }
  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  Database db(raw, path);
  if (rc != SQLITE_OK) {
    *error = db.Describe("Unable to open");
    return std::nullopt;
  }
  if (!db.ConfigureWithRetry(true)) {
    *error = db.Describe("Unable to prepare");
    return std::nullopt;
  }
  return db;
}

std::optional<Database> Database::OpenForReading(const std::string& path, std::string* error) {
  if (path.empty()) {
    *error = "No printer store: neither VELMORA_STORE nor a home folder is set";
    return std::nullopt;
  }
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr);
  Database db(raw, path);
  if (rc == SQLITE_OK && db.ConfigureWithRetry(false)) return db;
  *error = db.Describe("Unable to open");
  // A WAL store in a folder this process may not write (the system store that CUPS's
  // user reads) cannot get the shared-memory file that readers need. Its writer is an
  // administrator's short command that leaves the file whole when it ends, so the
  // store is read as the file stands.
  if (::access(ParentFolder(path).c_str(), W_OK) == 0) return std::nullopt;
  std::string uri = "file:";
  for (const char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      static constexpr char kHex[] = "0123456789ABCDEF";
      uri += '%';
      uri += kHex[static_cast<unsigned char>(c) >> 4];
      uri += kHex[c & 0xF];
    } else {
      uri += c;
    }
  }
  uri += "?immutable=1";
  raw = nullptr;
  const int again =
      sqlite3_open_v2(uri.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX, nullptr);
  Database standing(raw, path);
  if (again != SQLITE_OK || !standing.ConfigureWithRetry(false)) return std::nullopt;
  error->clear();
  return standing;
}

bool Database::ConfigureWithRetry(bool createSchema) {
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  // While another process creates the store and switches it to WAL, the first reads
  // and the journal change may answer "busy" at once, without the busy handler. The
  // configuration is idempotent, so it is simply tried again for up to the timeout.
  constexpr int kPauseMs = 10;
  for (int waited = 0;; waited += kPauseMs) {
    const int rc = Configure(createSchema);
    if (rc == SQLITE_OK) return true;
    const int primary = rc & 0xFF;
    if ((primary != SQLITE_BUSY && primary != SQLITE_LOCKED) || waited >= kBusyTimeoutMs) return false;
    sqlite3_sleep(kPauseMs);
  }
}

int Database::Configure(bool createSchema) {
  const auto failure = [this] {
    const int rc = sqlite3_extended_errcode(db_);
    return rc == SQLITE_OK ? SQLITE_ERROR : rc;
  };
  // Reading the schema version also proves that the file is a database at all. Each
  // statement is finished before the next one: an unfinished read would keep a
  // transaction open and forbid the journal change.
  std::int64_t schemaVersion = 0;
  {
    Statement version(db_, "PRAGMA user_version");
    if (!version.ok()) return failure();
    if (const int rc = version.Step(); rc != SQLITE_ROW) return rc;
    schemaVersion = version.Int(0);
  }
  if (!createSchema) return SQLITE_OK;

  // WAL lets readers go on while one process writes. A file system without shared
  // memory keeps the rollback journal; the busy timeout still serialises writers.
  bool wal = false;
  {
    Statement journal(db_, "PRAGMA journal_mode = WAL");
    if (!journal.ok()) return failure();
    const int rc = journal.Step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return rc;
    wal = rc == SQLITE_ROW && journal.Text(0) == "wal";
  }
  // In WAL mode a commit need not wait for the disk: a crash of this process loses
  // nothing committed, and the store stays whole even when the machine loses power (its
  // last commits may then be rolled back). The log is synced when it is checkpointed.
  if (wal) {
    Statement synchronous(db_, "PRAGMA synchronous = NORMAL");
    if (!synchronous.ok()) return failure();
    if (const int rc = synchronous.Step(); rc != SQLITE_DONE && rc != SQLITE_ROW) return rc;
  }
  if (schemaVersion >= 1) return SQLITE_OK;

  WriteTransaction transaction(*this);
  if (!transaction.ok() || !Exec(kSchema)) return failure();
  if (!transaction.Commit()) return failure();
  return SQLITE_OK;
}

bool Database::Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

std::string Database::LastError() const { return prepareError_.empty() ? ErrorText(db_) : prepareError_; }

std::string Database::Describe(std::string_view what) const {
  return std::string(what) + " in store '" + path_ + "': " + LastError();
}

std::int64_t Database::LastInsertRowId() const { return sqlite3_last_insert_rowid(db_); }

int Database::Changes() const { return sqlite3_changes(db_); }

// --- WriteTransaction -------------------------------------------------------------------

WriteTransaction::WriteTransaction(Database& db) : db_(db) { active_ = db_.Exec("BEGIN IMMEDIATE"); }

WriteTransaction::~WriteTransaction() {
  if (active_) db_.Exec("ROLLBACK");
}

bool WriteTransaction::Commit() {
  if (!active_) return false;
  active_ = false;
  if (db_.Exec("COMMIT")) return true;
  db_.Exec("ROLLBACK");
  return false;
}

}  // namespace velmora::platform::posix::store

// Private to the printer store: a thin RAII layer over one SQLite connection.
//
// Every connection runs in WAL mode with a busy timeout, so that several processes can
// read and write one store at once; writers take the lock at the start of their
// transaction (BEGIN IMMEDIATE) and never keep it between calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/spooler.h"

struct sqlite3;
struct sqlite3_stmt;

namespace velmora::platform::posix::store {

// How long a connection waits for another process's write lock before giving up.
inline constexpr int kBusyTimeoutMs = 5000;

// One prepared statement. Bind parameters are numbered from 1, columns from 0.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // False when the statement failed to prepare (the connection holds the reason).
  bool ok() const { return stmt_ != nullptr; }

  Statement& Bind(int index, std::int64_t value);
  Statement& Bind(int index, std::string_view text);
  Statement& BindBlob(int index, const std::vector<std::uint8_t>& bytes);
  Statement& BindNull(int index);

  // Runs one step. Returns SQLITE_ROW, SQLITE_DONE or an error code.
  int Step();
  // Runs the statement to completion; true when it finished without error.
  bool Run();

  std::int64_t Int(int column) const;
  bool IsNull(int column) const;
  std::string Text(int column) const;
  std::vector<std::uint8_t> Blob(int column) const;

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// One connection to the store file.
class Database {
 public:
  Database() = default;
  ~Database();
  Database(Database&& other) noexcept;
  Database& operator=(Database&& other) noexcept;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens the store for reading and writing, creating the file, its parent folders and
  // the tables when missing. On failure returns nullopt and sets *error.
  static std::optional<Database> OpenForWriting(const std::string& path, std::string* error);

  // Opens an existing store for reading only; never creates anything. On failure
  // returns nullopt and sets *error.
  static std::optional<Database> OpenForReading(const std::string& path, std::string* error);

  sqlite3* handle() const { return db_; }
  const std::string& path() const { return path_; }

  // Runs SQL text without results (pragmas, BEGIN, COMMIT). True on success.
  bool Exec(const char* sql);

  // The connection's last error, as "<sqlite message> (code N)".
  std::string LastError() const;

  // "<what> in store '<path>': <sqlite message>", for error results.
  std::string Describe(std::string_view what) const;

  // The row id of the last inserted row.
  std::int64_t LastInsertRowId() const;
  // Rows changed by the last statement.
  int Changes() const;

 private:
  Database(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
  // Sets the timeout, the journal mode and the schema; retried while another process
  // holds the store busy.
  bool ConfigureWithRetry(bool createSchema);
  // One attempt; returns the SQLite result code.
  int Configure(bool createSchema);

  sqlite3* db_ = nullptr;
  std::string path_;
};

// A write transaction that takes the write lock when it starts and rolls back unless
// committed.
class WriteTransaction {
 public:
  explicit WriteTransaction(Database& db);
  ~WriteTransaction();
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;

  // False when the lock could not be taken.
  bool ok() const { return active_; }
  bool Commit();

 private:
  Database& db_;
  bool active_ = false;
};

// Creates a folder and its missing parents. True when it exists afterwards.
bool CreateFolders(const std::string& path);

// The columns every job query selects, in this order, for ReadJob.
inline constexpr const char* kJobColumns =
    "j.id, p.name, j.machine, j.user, j.document, j.status";

// Reads the kJobColumns of the current row, starting at column 0. A NULL text column
// is an absent field.
JobInfo ReadJob(const Statement& row);

// Reads a value's type and bytes from two columns, starting at `column`.
PrinterValue ReadValue(const Statement& row, int column);

}  // namespace velmora::platform::posix::store

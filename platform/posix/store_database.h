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
#include <unordered_map>
#include <vector>

#include "platform/spooler.h"

struct sqlite3;
struct sqlite3_stmt;

namespace velmora::platform::posix::store {

// How long a connection waits for another process's write lock before giving up.
inline constexpr int kBusyTimeoutMs = 5000;

// One prepared statement. Bind parameters are numbered from 1, columns from 0.
//
// A statement from Database::Prepare is borrowed from the connection's cache: when it
// goes out of scope it is reset and its bindings cleared, so that it keeps no read
// transaction open (another process's writes stay visible) and is ready for the next
// call. A statement constructed directly is compiled for one use and finalized.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);
  ~Statement();
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&&) = delete;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // False when the statement failed to prepare; error() then says why.
  bool ok() const { return stmt_ != nullptr; }
  // Why the statement failed to prepare, as "<sqlite message> (code N)"; empty when it
  // is prepared.
  const std::string& error() const { return error_; }

  Statement& Bind(int index, std::int64_t value);
  Statement& Bind(int index, std::string_view text);
  Statement& BindBlob(int index, const std::vector<std::uint8_t>& bytes);
  Statement& BindNull(int index);

  // Runs one step. Returns SQLITE_ROW, SQLITE_DONE or an error code. A first step that
  // finds the store busy outside a transaction is tried again for up to the busy
  // timeout: the busy handler does not cover every such answer (WAL recovery, a stale
  // snapshot).
  int Step();
  // Runs the statement to completion; true when it finished without error.
  bool Run();

  std::int64_t Int(int column) const;
  bool IsNull(int column) const;
  std::string Text(int column) const;
  std::vector<std::uint8_t> Blob(int column) const;

 private:
  friend class Database;
  Statement(sqlite3_stmt* cached, bool* inUse) : stmt_(cached), inUse_(inUse) {}

  sqlite3_stmt* stmt_ = nullptr;
  bool* inUse_ = nullptr;  // the cache's mark of a borrowed statement; null when owned
  bool stepped_ = false;
  std::string error_;
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

  // The statement for `sql`, compiled on the first call and taken from the
  // connection's cache on later ones. A statement already borrowed (the same SQL text
  // used twice at once) is compiled afresh for this use. A failed prepare is not kept:
  // the returned statement is not ok() and says why.
  Statement Prepare(std::string_view sql);

  // Lets go of the connection without closing it or finalizing its statements, for a
  // connection inherited through fork(): closing it in the child could checkpoint or
  // remove the WAL file that the parent still uses.
  void Abandon();

  // Runs SQL text without results (pragmas, BEGIN, COMMIT). True on success.
  bool Exec(const char* sql);

  // The connection's last error, as "<sqlite message> (code N)": the error of the last
  // statement that failed to prepare while no statement has been prepared since, else
  // SQLite's own last error.
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

  // Finalizes the cached statements and closes the connection.
  void Close();

  // Why the last Prepare failed; cleared by the next Prepare that succeeds. A failed
  // prepare's message would otherwise be lost to the calls made after it.
  std::string prepareError_;

  // A compiled statement and whether a Statement currently borrows it.
  struct Cached {
    sqlite3_stmt* stmt = nullptr;
    bool inUse = false;
  };

  sqlite3* db_ = nullptr;
  std::string path_;
  // Keyed by SQL text. Node-based, so a borrowed statement's mark stays where it is.
  std::unordered_map<std::string, Cached> statements_;
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
inline constexpr const char* kJobColumns = "j.id, p.name, j.machine, j.user, j.document, j.status";

// Reads the kJobColumns of the current row, starting at column 0. A NULL text column
// is an absent field.
JobInfo ReadJob(const Statement& row);

// Reads a value's type and bytes from two columns, starting at `column`.
PrinterValue ReadValue(const Statement& row, int column);

}  // namespace velmora::platform::posix::store

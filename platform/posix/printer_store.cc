// Administrator operations on the printer store (class PrinterStore).
#include <sqlite3.h>

#include <cstdlib>
#include <mutex>

#include "platform/posix/spooler_store.h"
#include "platform/posix/store_connection.h"
#include "platform/posix/store_database.h"
#include "platform/text_encoding.h"

namespace velmora::platform::posix {
namespace {

using store::Database;
using store::Statement;
using store::WriteTransaction;

std::string Quoted(const WString& name) {
  // Appended piece by piece: GCC 12 reports a false -Wrestrict on `"'" + text`.
  std::string quoted = "'";
  quoted += Utf16ToUtf8(name);
  quoted += '\'';
  return quoted;
}

std::string NotFound(const char* what, const WString& name, const std::string& path) {
  return std::string(what) + " " + Quoted(name) + " not found in store '" + path + "'";
}

// The row id of a printer, nullopt when there is none of that name. Sets *failed when
// the query itself fails.
std::optional<std::int64_t> PrinterId(Database& db, const WString& name, bool* failed) {
  Statement find = db.Prepare("SELECT id FROM printers WHERE name = ?");
  find.Bind(1, Utf16ToUtf8(name));
  const int rc = find.Step();
  *failed = rc != SQLITE_ROW && rc != SQLITE_DONE;
  if (rc != SQLITE_ROW) return std::nullopt;
  return find.Int(0);
}

// Why a printer name cannot be used, or empty when it can. The system's printer names
// never hold a backslash (it separates server and printer) or a comma (it separates
// the parts of a printer's description).
std::string InvalidPrinterName(const WString& name) {
  if (name.empty()) return "The printer name is empty";
  for (WCHAR c : name) {
    if (c == VTEXT('\\') || c == VTEXT(','))
      return "The printer name " + Quoted(name) + " holds a backslash or a comma";
    if (c < 0x20) return "The printer name " + Quoted(name) + " holds a control character";
  }
  return {};
}

}  // namespace

StoreResult<> PrinterStore::AddPrinter(const WString& name) {
  if (std::string invalid = InvalidPrinterName(name); !invalid.empty()) return StoreResult<>::Fail(invalid);
  std::string openError;
  std::shared_ptr<store::Connection> connection = store::ConnectForWriting(path_, &openError);
  if (!connection) return StoreResult<>::Fail(openError);
  std::lock_guard lock(connection->mutex);
  Database* db = &connection->db;
  Statement insert = db->Prepare("INSERT INTO printers (name) VALUES (?)");
  insert.Bind(1, Utf16ToUtf8(name));
  if (insert.Run()) return StoreResult<>::Ok();
  if (sqlite3_extended_errcode(db->handle()) == SQLITE_CONSTRAINT_UNIQUE) {
    return StoreResult<>::Fail("Printer " + Quoted(name) + " already exists in store '" + path_ + "'");
  }
  return StoreResult<>::Fail(db->Describe("Unable to add printer " + Quoted(name)));
}

StoreResult<> PrinterStore::RemovePrinter(const WString& name) {
  std::string openError;
  std::shared_ptr<store::Connection> connection = store::ConnectForWriting(path_, &openError);
  if (!connection) return StoreResult<>::Fail(openError);
  std::lock_guard lock(connection->mutex);
  Database* db = &connection->db;
  WriteTransaction transaction(*db);
  if (!transaction.ok()) return StoreResult<>::Fail(db->Describe("Unable to lock"));
  bool failed = false;
  const std::optional<std::int64_t> id = PrinterId(*db, name, &failed);
  if (failed) return StoreResult<>::Fail(db->Describe("Unable to find printer " + Quoted(name)));
  if (!id) return StoreResult<>::Fail(NotFound("Printer", name, path_));
  for (const char* sql : {"DELETE FROM printer_data WHERE printer = ?", "DELETE FROM jobs WHERE printer = ?",
                          "DELETE FROM printers WHERE id = ?"}) {
    Statement remove = db->Prepare(sql);
    remove.Bind(1, *id);
    if (!remove.Run()) return StoreResult<>::Fail(db->Describe("Unable to remove printer " + Quoted(name)));
  }
  if (!transaction.Commit()) return StoreResult<>::Fail(db->Describe("Unable to remove printer " + Quoted(name)));
  store::PrinterDataChanged();
  return StoreResult<>::Ok();
}

StoreResult<std::vector<WString>> PrinterStore::ListPrinters() {
  using Result = StoreResult<std::vector<WString>>;
  std::string openError;
  std::shared_ptr<store::Connection> connection = store::ConnectForWriting(path_, &openError);
  if (!connection) return Result::Fail(openError);
  std::lock_guard lock(connection->mutex);
  Database* db = &connection->db;
  Statement list = db->Prepare("SELECT name FROM printers ORDER BY name");
  std::vector<WString> names;
  int rc = list.Step();
  for (; rc == SQLITE_ROW; rc = list.Step()) names.push_back(Utf8ToUtf16(list.Text(0)));
  if (rc != SQLITE_DONE) return Result::Fail(db->Describe("Unable to list printers"));
  return Result::Ok(std::move(names));
}

StoreResult<std::vector<NamedValue>> PrinterStore::ListPrinterData(const WString& printer) {
  using Result = StoreResult<std::vector<NamedValue>>;
  std::string openError;
  std::shared_ptr<store::Connection> connection = store::ConnectForWriting(path_, &openError);
  if (!connection) return Result::Fail(openError);
  std::lock_guard lock(connection->mutex);
  Database* db = &connection->db;
  bool failed = false;
  const std::optional<std::int64_t> id = PrinterId(*db, printer, &failed);
  if (failed) return Result::Fail(db->Describe("Unable to find printer " + Quoted(printer)));
  if (!id) return Result::Fail(NotFound("Printer", printer, path_));
  Statement list = db->Prepare("SELECT name, type, bytes FROM printer_data WHERE printer = ? ORDER BY name");
  list.Bind(1, *id);
  std::vector<NamedValue> values;
  int rc = list.Step();
  for (; rc == SQLITE_ROW; rc = list.Step()) values.emplace_back(Utf8ToUtf16(list.Text(0)), store::ReadValue(list, 1));
  if (rc != SQLITE_DONE) return Result::Fail(db->Describe("Unable to list the values of printer " + Quoted(printer)));
  return Result::Ok(std::move(values));
}

StoreResult<> PrinterStore::SetPrinterValue(const WString& printer, const WString& valueName,
                                            const PrinterValue& value) {
  if (valueName.empty()) return StoreResult<>::Fail("The value name is empty");
  std::string openError;
  std::shared_ptr<store::Connection> connection = store::ConnectForWriting(path_, &openError);
  if (!connection) return StoreResult<>::Fail(openError);
  std::lock_guard lock(connection->mutex);
  Database* db = &connection->db;
  Statement write = db->Prepare(
      "INSERT OR REPLACE INTO printer_data (printer, name, type, bytes) "
      "SELECT id, ?, ?, ? FROM printers WHERE name = ?");
  write.Bind(1, Utf16ToUtf8(valueName))
      .Bind(2, std::int64_t{static_cast<DWORD>(value.type)})
      .BindBlob(3, value.bytes)
      .Bind(4, Utf16ToUtf8(printer));
  if (!write.Run()) {
    return StoreResult<>::Fail(
        db->Describe("Unable to set value " + Quoted(valueName) + " of printer " + Quoted(printer)));
  }
  if (db->Changes() == 0) return StoreResult<>::Fail(NotFound("Printer", printer, path_));
  store::PrinterDataChanged();
  return StoreResult<>::Ok();
}

StoreResult<> PrinterStore::RemovePrinterValue(const WString& printer, const WString& valueName) {
  std::string openError;
  std::shared_ptr<store::Connection> connection = store::ConnectForWriting(path_, &openError);
  if (!connection) return StoreResult<>::Fail(openError);
  std::lock_guard lock(connection->mutex);
  Database* db = &connection->db;
  bool failed = false;
  const std::optional<std::int64_t> id = PrinterId(*db, printer, &failed);
  if (failed) return StoreResult<>::Fail(db->Describe("Unable to find printer " + Quoted(printer)));
  if (!id) return StoreResult<>::Fail(NotFound("Printer", printer, path_));
  Statement remove = db->Prepare("DELETE FROM printer_data WHERE printer = ? AND name = ?");
  remove.Bind(1, *id).Bind(2, Utf16ToUtf8(valueName));
  if (!remove.Run()) {
    return StoreResult<>::Fail(
        db->Describe("Unable to remove value " + Quoted(valueName) + " of printer " + Quoted(printer)));
  }
  if (db->Changes() == 0) {
    return StoreResult<>::Fail("Value " + Quoted(valueName) + " of printer " + Quoted(printer) +
                               " not found in store '" + path_ + "'");
  }
  store::PrinterDataChanged();
  return StoreResult<>::Ok();
}

StoreResult<std::size_t> PrinterStore::FailUnfinishedJobs() {
  using Result = StoreResult<std::size_t>;
  std::string openError;
  std::shared_ptr<store::Connection> connection = store::ConnectForWriting(path_, &openError);
  if (!connection) return Result::Fail(openError);
  std::lock_guard lock(connection->mutex);
  Database& db = connection->db;
  constexpr DWORD kEnded = JOB_STATUS_COMPLETE | JOB_STATUS_DELETING | JOB_STATUS_DELETED;
  Statement update = db.Prepare("UPDATE jobs SET status = status | ? WHERE (status & ?) = 0");
  update.Bind(1, std::int64_t{JOB_STATUS_DELETING | JOB_STATUS_DELETED | JOB_STATUS_ERROR})
      .Bind(2, std::int64_t{kEnded});
  if (!update.Run()) return Result::Fail(db.Describe("Unable to mark unfinished jobs failed"));
  return Result::Ok(static_cast<std::size_t>(db.Changes()));
}

StoreResult<std::vector<StoredJob>> PrinterStore::ListJobs(const std::optional<WString>& printer) {
  using Result = StoreResult<std::vector<StoredJob>>;
  std::string openError;
  std::shared_ptr<store::Connection> connection = store::ConnectForWriting(path_, &openError);
  if (!connection) return Result::Fail(openError);
  std::lock_guard lock(connection->mutex);
  Database* db = &connection->db;
  std::optional<std::int64_t> id;
  if (printer) {
    bool failed = false;
    id = PrinterId(*db, *printer, &failed);
    if (failed) return Result::Fail(db->Describe("Unable to find printer " + Quoted(*printer)));
    if (!id) return Result::Fail(NotFound("Printer", *printer, path_));
  }
  Statement list = db->Prepare(std::string("SELECT ") + store::kJobColumns +
                               ", j.created, j.output FROM jobs j JOIN printers p ON p.id = j.printer"
                               " WHERE ?1 IS NULL OR j.printer = ?1 ORDER BY j.id");
  if (id) {
    list.Bind(1, *id);
  } else {
    list.BindNull(1);
  }
  std::vector<StoredJob> jobs;
  int rc = list.Step();
  for (; rc == SQLITE_ROW; rc = list.Step()) {
    StoredJob job{store::ReadJob(list), list.Text(6), std::nullopt};
    if (!list.IsNull(7)) job.output = Utf8ToUtf16(list.Text(7));
    jobs.push_back(std::move(job));
  }
  if (rc != SQLITE_DONE) return Result::Fail(db->Describe("Unable to list jobs"));
  return Result::Ok(std::move(jobs));
}

StoreResult<> PrinterStore::SetMachineValue(const WString& name, const PrinterValue& value) {
  if (name.empty()) return StoreResult<>::Fail("The value name is empty");
  std::string openError;
  std::shared_ptr<store::Connection> connection = store::ConnectForWriting(path_, &openError);
  if (!connection) return StoreResult<>::Fail(openError);
  std::lock_guard lock(connection->mutex);
  Database* db = &connection->db;
  Statement write = db->Prepare("INSERT OR REPLACE INTO machine_values (name, type, bytes) VALUES (?, ?, ?)");
  write.Bind(1, Utf16ToUtf8(name)).Bind(2, std::int64_t{static_cast<DWORD>(value.type)}).BindBlob(3, value.bytes);
  if (!write.Run()) return StoreResult<>::Fail(db->Describe("Unable to set machine value " + Quoted(name)));
  return StoreResult<>::Ok();
}

StoreResult<> PrinterStore::RemoveMachineValue(const WString& name) {
  std::string openError;
  std::shared_ptr<store::Connection> connection = store::ConnectForWriting(path_, &openError);
  if (!connection) return StoreResult<>::Fail(openError);
  std::lock_guard lock(connection->mutex);
  Database* db = &connection->db;
  Statement remove = db->Prepare("DELETE FROM machine_values WHERE name = ?");
  remove.Bind(1, Utf16ToUtf8(name));
  if (!remove.Run()) return StoreResult<>::Fail(db->Describe("Unable to remove machine value " + Quoted(name)));
  if (db->Changes() == 0) return StoreResult<>::Fail(NotFound("Machine value", name, path_));
  return StoreResult<>::Ok();
}

StoreResult<std::optional<PrinterValue>> PrinterStore::ReadMachineValue(const WString& name) {
  using Result = StoreResult<std::optional<PrinterValue>>;
  std::string openError;
  std::shared_ptr<store::Connection> connection = store::ConnectForWriting(path_, &openError);
  if (!connection) return Result::Fail(openError);
  std::lock_guard lock(connection->mutex);
  Database* db = &connection->db;
  Statement find = db->Prepare("SELECT type, bytes FROM machine_values WHERE name = ?");
  find.Bind(1, Utf16ToUtf8(name));
  const int rc = find.Step();
  if (rc == SQLITE_DONE) return Result::Ok(std::nullopt);
  if (rc != SQLITE_ROW) return Result::Fail(db->Describe("Unable to read machine value " + Quoted(name)));
  return Result::Ok(store::ReadValue(find, 0));
}

}  // namespace velmora::platform::posix

namespace velmora::platform {

std::unique_ptr<PrinterAdmin> OpenPrinterAdmin() { return std::make_unique<posix::PrinterStore>(); }

std::optional<std::string> SystemFolder() {
  // A relative folder would depend on where the program was started: it is ignored.
  if (const char* folder = std::getenv("VELMORA_SYSTEM_FOLDER"); folder != nullptr && folder[0] == '/') return folder;
  return VELMORA_SYSTEM_FOLDER;
}

bool UseSystemFolder() {
  const std::string folder = *SystemFolder();
  return ::setenv("VELMORA_STORE", (folder + "/spooler.db").c_str(), 1) == 0 &&
         ::setenv("XDG_DATA_HOME", folder.c_str(), 1) == 0;
}

}  // namespace velmora::platform

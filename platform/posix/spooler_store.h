// The printer store: the POSIX spooler, kept in one SQLite database.
//
// Location: $VELMORA_STORE when set, else $XDG_STATE_HOME/velmora/spooler.db
// (XDG_STATE_HOME defaults to ~/.local/state). Several processes may use one store at
// once. Besides the spooler operations the plug-in needs, it offers what the print host
// and the administrator commands need: printers, their data values, jobs and
// machine-wide values.
//
// Job status: a started job has status 0. EndDocument adds JOB_STATUS_COMPLETE (0x1000)
// unless the job was deleted; DeleteJob adds JOB_STATUS_DELETING | JOB_STATUS_DELETED.
// A job whose handle was closed before EndDocument keeps the status it had (an
// abandoned job).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/environment.h"
#include "platform/spooler.h"

namespace velmora::platform::posix {

// The job has been printed in full (the published status bit).
inline constexpr DWORD JOB_STATUS_COMPLETE = 0x1000;

// Where the store lives: $VELMORA_STORE, else $XDG_STATE_HOME/velmora/spooler.db, else
// ~/.local/state/velmora/spooler.db. Empty when there is no home folder either.
std::string StorePath();

// The spooler over the printer store.
//
// A handle is a pointer to a heap object that the spooler owns until Close: it holds
// the printer's name and row id, one connection to the store named by StorePath() when
// the printer was opened, and the document started on it with its output. Every call
// checks the handle against the set of live handles first, so a closed or foreign
// handle fails cleanly (last error ERROR_INVALID_HANDLE).
//
// Write needs a document with an output: DocInfo::outputFile names a file (created or
// truncated) or "-" for standard output. A document without an output has nowhere for
// its bytes, so Write fails rather than dropping them.
class StoreSpooler : public Spooler {
 public:
  StoreSpooler();
  ~StoreSpooler() override;

  HANDLE Open(const WString& printerName, DWORD desiredAccess) override;
  bool Close(HANDLE printer) override;
  std::optional<WString> PrinterName(HANDLE printer) override;
  std::optional<JobInfo> Job(HANDLE printer, DWORD jobId) override;
  std::optional<PrinterValue> ReadPrinterData(HANDLE printer, const WString& valueName) override;
  bool WritePrinterData(HANDLE printer, const WString& valueName, const PrinterValue& value) override;
  bool DeleteJob(HANDLE printer, DWORD jobId) override;
  DWORD StartDocument(HANDLE printer, const DocInfo& doc) override;
  bool EndDocument(HANDLE printer) override;
  bool Write(HANDLE printer, const void* bytes, DWORD count, DWORD* written) override;
  // The client application's process id, when the host names it in VELMORA_CLIENT_PID.
  std::optional<DWORD> ClientProcessId() override;

  struct Handle;

 private:
  std::shared_ptr<Handle> Find(HANDLE printer);

  std::mutex mutex_;
  std::map<HANDLE, std::shared_ptr<Handle>> handles_;
};

// Reads a machine-wide value of the store as a 32-bit switch (for "EnableLogging"):
// the value is present only when its stored bytes are exactly 4 (little-endian).
// Reading never creates the store. A store file that does not exist yet is readable
// and has no values (a fresh machine: switches stay off); storeReadable is false when
// the store's place cannot be reached (e.g. a path through a file or a folder without
// access) or the file is not a readable store.
MachineSwitch ReadStoreMachineSwitch(const WString& name);

// Reads one data value of the named printer from the store, for platform services that
// know a printer by name only (device figures). Reading never creates the store and
// never changes the thread's last error. nullopt when the store, the printer or the
// value does not exist or cannot be read.
std::optional<PrinterValue> ReadStorePrinterValue(const WString& printerName, const WString& valueName);

// ---------------------------------------------------------------------------------------
// Administration of the store (the `velmora printer` and `velmora jobs` commands).

// The outcome of an administrator operation: a value, or a message that names what
// failed on which printer and store, with the database's reason.
template <typename T = std::monostate>
class StoreResult {
 public:
  static StoreResult Ok(T value = T{}) { return StoreResult(std::move(value), {}); }
  static StoreResult Fail(std::string message) { return StoreResult(std::nullopt, std::move(message)); }

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  // The value; only when ok().
  const T& value() const { return *value_; }
  T& value() { return *value_; }
  // The message; empty when ok().
  const std::string& error() const { return error_; }

 private:
  StoreResult(std::optional<T> value, std::string error)
      : value_(std::move(value)), error_(std::move(error)) {}
  std::optional<T> value_;
  std::string error_;
};

// One job row as the administrator lists it.
struct StoredJob {
  JobInfo info;            // printerName, machineName, userName, document, status
  std::string created;     // UTC, "YYYY-MM-DDTHH:MM:SSZ"
  std::optional<WString> output;  // the output file, "-" for standard output
};

// One named printer-data value.
using NamedValue = std::pair<WString, PrinterValue>;

// Administrator operations on one store. Each call opens the store (creating it when
// missing), runs one short transaction and closes it again.
class PrinterStore {
 public:
  explicit PrinterStore(std::string path = StorePath()) : path_(std::move(path)) {}
  const std::string& path() const { return path_; }

  // Adds a printer; fails when a printer of that name (in any ASCII case) exists.
  StoreResult<> AddPrinter(const WString& name);
  // Removes a printer with its data values and its jobs.
  StoreResult<> RemovePrinter(const WString& name);
  // All printer names, sorted.
  StoreResult<std::vector<WString>> ListPrinters();
  // A printer's data values, sorted by name.
  StoreResult<std::vector<NamedValue>> ListPrinterData(const WString& printer);
  // Sets (adds or replaces) one data value of a printer.
  StoreResult<> SetPrinterValue(const WString& printer, const WString& valueName, const PrinterValue& value);
  // Removes one data value of a printer; fails when it does not exist.
  StoreResult<> RemovePrinterValue(const WString& printer, const WString& valueName);
  // Jobs in id order, of one printer or of all.
  StoreResult<std::vector<StoredJob>> ListJobs(const std::optional<WString>& printer = std::nullopt);
  // Sets (adds or replaces) one machine-wide value.
  StoreResult<> SetMachineValue(const WString& name, const PrinterValue& value);
  // Removes one machine-wide value; fails when it does not exist.
  StoreResult<> RemoveMachineValue(const WString& name);
  // Reads one machine-wide value; nullopt inside an ok result when it does not exist.
  StoreResult<std::optional<PrinterValue>> ReadMachineValue(const WString& name);

 private:
  std::string path_;
};

}  // namespace velmora::platform::posix

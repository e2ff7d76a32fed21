// Administration of printers, their data values, their jobs and the machine-wide
// values: what `velmora printer`, `velmora jobs` and the print host's default printer
// need of the system's spooler.
//
// Windows: the system spooler (AddPrinterW, SetPrinterDataW, EnumJobsW, ...) and the
// registry (platform/win32/printer_admin_win32.cc).
// POSIX: the printer store, one SQLite database (platform/posix/printer_store.cc).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/spooler.h"

namespace velmora::platform {

// The outcome of an administrator operation: a value, or a message that names what
// failed on which printer and where, with the system's reason.
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
  StoreResult(std::optional<T> value, std::string error) : value_(std::move(value)), error_(std::move(error)) {}
  std::optional<T> value_;
  std::string error_;
};

// One job as the administrator lists it.
struct StoredJob {
  JobInfo info;                   // printerName, machineName, userName, document, status
  std::string created;            // UTC, "YYYY-MM-DDTHH:MM:SSZ"
  std::optional<WString> output;  // the output file, "-" for standard output; absent when unknown
};

// One named printer-data value.
using NamedValue = std::pair<WString, PrinterValue>;

class PrinterAdmin {
 public:
  virtual ~PrinterAdmin() = default;

  // Where the printers live, for messages: "printer store '/path/spooler.db'", "Windows spooler".
  virtual std::string location() const = 0;
  // The same, bare: "/path/spooler.db", "Windows spooler".
  virtual std::string path() const = 0;
  // True when a job that names no printer may add the default printer it goes to: the
  // printer store is the user's own. The Windows spooler is not: adding a printer there
  // needs an administrator and changes the machine, so the default printer must exist.
  virtual bool addsDefaultPrinter() const { return true; }

  // Adds a printer; fails when a printer of that name (in any ASCII case) exists.
  virtual StoreResult<> AddPrinter(const WString& name) = 0;
  // Removes a printer with its data values and its jobs.
  virtual StoreResult<> RemovePrinter(const WString& name) = 0;
  // All printer names, sorted.
  virtual StoreResult<std::vector<WString>> ListPrinters() = 0;
  // A printer's data values, sorted by name.
  virtual StoreResult<std::vector<NamedValue>> ListPrinterData(const WString& printer) = 0;
  // Sets (adds or replaces) one data value of a printer.
  virtual StoreResult<> SetPrinterValue(const WString& printer, const WString& valueName,
                                        const PrinterValue& value) = 0;
  // Removes one data value of a printer; fails when it does not exist.
  virtual StoreResult<> RemovePrinterValue(const WString& printer, const WString& valueName) = 0;
  // Jobs in id order, of one printer or of all.
  virtual StoreResult<std::vector<StoredJob>> ListJobs(const std::optional<WString>& printer = std::nullopt) = 0;
  // Sets (adds or replaces) one machine-wide value.
  virtual StoreResult<> SetMachineValue(const WString& name, const PrinterValue& value) = 0;
  // Removes one machine-wide value; fails when it does not exist.
  virtual StoreResult<> RemoveMachineValue(const WString& name) = 0;
  // Reads one machine-wide value; nullopt inside an ok result when it does not exist.
  virtual StoreResult<std::optional<PrinterValue>> ReadMachineValue(const WString& name) = 0;
};

// The platform's administration: the printer store named by $VELMORA_STORE (POSIX), the
// system spooler (Windows).
std::unique_ptr<PrinterAdmin> OpenPrinterAdmin();

// The system folder of the Linux print queues, which the CUPS filter reads: the printer
// store (spooler.db) and the watermark sections of its queues. POSIX: $VELMORA_SYSTEM_FOLDER
// when it is an absolute path, else the folder built in (/var/lib/velmora). Windows has
// none: its spooler is the system's own.
std::optional<std::string> SystemFolder();

// Points this process at the system folder: OpenPrinterAdmin() then opens its printer
// store, and the local application-data folder (watermark sections, the diagnostic log)
// is the folder itself, as the CUPS filter sees them. False where there is no system folder.
bool UseSystemFolder();

}  // namespace velmora::platform

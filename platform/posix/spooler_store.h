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
#include <vector>

#include "platform/environment.h"
#include "platform/printer_admin.h"
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
// the printer's name and row id, the process's connection to the store named by
// StorePath() when the printer was opened, and the document started on it with its
// output. Every call checks the handle against the set of live handles first, so a
// closed or foreign handle fails cleanly (last error ERROR_INVALID_HANDLE).
//
// Printer-data values are read from the store once per handle and kept with it: the
// plug-in reads the same values at every page. A write from this process (through any
// handle, or PrinterStore) makes every handle read afresh; a write from another process
// is seen by handles opened after it. Job reads the job again whenever anything was
// committed to the store since its last read (the store's files tell), so a job deleted
// elsewhere stops at the next page; Write asks for the job's status at its first byte,
// after every MiB and after this process changed a job's status.
//
// Every right a handle asks for is granted: the store's user administers it. As on the
// Windows spooler, a handle opened without PRINTER_ACCESS_ADMINISTER cannot write printer
// data (ERROR_ACCESS_DENIED).
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
  // Marks the job deleted and in error (JOB_STATUS_ERROR), so that it is listed as failed.
  bool FailJob(HANDLE printer, DWORD jobId) override;
  DWORD StartDocument(HANDLE printer, const DocInfo& doc) override;
  bool EndDocument(HANDLE printer) override;
  bool Write(HANDLE printer, const void* bytes, DWORD count, DWORD* written) override;
  // The client application's process id, when the host names it in VELMORA_CLIENT_PID.
  std::optional<DWORD> ClientProcessId() override;

  struct Handle;

 private:
  std::shared_ptr<Handle> Find(HANDLE printer);
  // Adds status bits to a job of the handle's printer.
  bool AddJobStatus(HANDLE printer, DWORD jobId, DWORD bits);
  // Starts writing a file output out to the disk while the job goes on.
  static void StartWriteBack(Handle& handle);

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

// The administration types, known here by their old names too.
using platform::NamedValue;
using platform::StoredJob;
using platform::StoreResult;

// Administrator operations on one store. Each call runs one short transaction on the
// process's connection to the store (creating the store when missing).
class PrinterStore final : public PrinterAdmin {
 public:
  explicit PrinterStore(std::string path = StorePath()) : path_(std::move(path)) {}
  std::string path() const override { return path_; }
  std::string location() const override { return "printer store '" + path_ + "'"; }

  StoreResult<> AddPrinter(const WString& name) override;
  StoreResult<> RemovePrinter(const WString& name) override;
  StoreResult<std::vector<WString>> ListPrinters() override;
  StoreResult<std::vector<NamedValue>> ListPrinterData(const WString& printer) override;
  StoreResult<> SetPrinterValue(const WString& printer, const WString& valueName, const PrinterValue& value) override;
  StoreResult<> RemovePrinterValue(const WString& printer, const WString& valueName) override;
  StoreResult<std::vector<StoredJob>> ListJobs(const std::optional<WString>& printer = std::nullopt) override;
  // Marks failed (deleted, with the error bit) every job that neither completed nor was
  // deleted: jobs whose printing process ended without a word. Only for a store whose
  // every job runs under one owner that knows none of them is running. Answers their count.
  StoreResult<std::size_t> FailUnfinishedJobs();
  StoreResult<> SetMachineValue(const WString& name, const PrinterValue& value) override;
  StoreResult<> RemoveMachineValue(const WString& name) override;
  StoreResult<std::optional<PrinterValue>> ReadMachineValue(const WString& name) override;

 private:
  std::string path_;
};

}  // namespace velmora::platform::posix

// The print spooler as the plug-in and the print host see it.
//
// Windows: winspool (platform/win32/spooler_win32.cc).
// POSIX: the printer store, one SQLite database (platform/posix/spooler_store.cc).
// Tests: an in-memory fake (platform/fake/fake_services.h).
//
// Printer handles are opaque. A handle that the host opened and handed to the plug-in
// through the device object is valid in the plug-in too (same process, same spooler).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace velmora::platform {

// Spooler job status bits the system looks at.
inline constexpr DWORD JOB_STATUS_ERROR = 0x2;
inline constexpr DWORD JOB_STATUS_DELETING = 0x4;
inline constexpr DWORD JOB_STATUS_DELETED = 0x100;
inline constexpr DWORD JOB_STATUS_RESTART = 0x800;

// True for a job the spooler is deleting, has deleted or is restarting: whoever prints it
// stops.
inline constexpr bool JobIsStopping(DWORD status) {
  return (status & (JOB_STATUS_DELETING | JOB_STATUS_DELETED | JOB_STATUS_RESTART)) != 0;
}

// Access rights asked of OpenPrinter (PRINTER_DEFAULTS.DesiredAccess). Printing, reading
// printer data and handling one's own jobs need PRINTER_ACCESS_USE, which every user who
// may print gets; changing printer data (SetPrinterData) needs PRINTER_ACCESS_ADMINISTER,
// which a standard user does not get on a shared or locally installed printer, so every
// caller asks for the least its calls need. See
// https://learn.microsoft.com/windows/win32/printdocs/printer-defaults and
// https://learn.microsoft.com/windows/win32/printdocs/setprinterdata.
inline constexpr DWORD PRINTER_ACCESS_ADMINISTER = 0x00000004;
inline constexpr DWORD PRINTER_ACCESS_USE = 0x00000008;
// Every right of both, and the standard rights (removing a printer needs DELETE).
inline constexpr DWORD PRINTER_ALL_ACCESS = 0x000F000C;

// Types of printer-data values (the registry value types of the published API).
enum class ValueType : DWORD {
  kString = 1,       // REG_SZ: NUL-terminated UTF-16LE text
  kBinary = 3,       // REG_BINARY
  kDword = 4,        // REG_DWORD: 4 bytes, little-endian
  kMultiString = 7,  // REG_MULTI_SZ: UTF-16LE texts, each NUL-terminated, then one more NUL
};

// One printer-data value: its type and its bytes exactly as stored.
struct PrinterValue {
  ValueType type = ValueType::kBinary;
  std::vector<std::uint8_t> bytes;
};

// Job information at level 1. A field the spooler does not have is absent (nullopt),
// as a null pointer is in the published structure.
struct JobInfo {
  DWORD jobId = 0;
  std::optional<WString> printerName;
  std::optional<WString> machineName;  // two backslashes, then the host name
  std::optional<WString> userName;
  std::optional<WString> document;
  DWORD status = 0;  // JOB_STATUS_* bits
};

// What the host names when it starts a document on an open printer (DOC_INFO_1).
struct DocInfo {
  WString documentName;
  WString outputFile;   // where WritePrinter's bytes go; empty: the printer's own port
  WString userName;     // empty: the current user
  WString machineName;  // empty: this machine
  // The job's id when the host brings one (a CUPS job keeps its CUPS id); 0: the spooler
  // assigns one. A spooler that cannot choose ids (winspool) assigns its own, and the
  // host compares.
  DWORD jobId = 0;
};

class Spooler {
 public:
  virtual ~Spooler() = default;

  // Opens a printer by name with the given access. Returns null when the printer is
  // unknown or cannot be opened (ERROR_ACCESS_DENIED: the user lacks the access).
  virtual HANDLE Open(const WString& printerName, DWORD desiredAccess) = 0;

  // Closes a handle that OpenPrinter returned. Returns false for an unknown handle.
  virtual bool Close(HANDLE printer) = 0;

  // The printer's name (GetPrinter level 4). nullopt on failure.
  virtual std::optional<WString> PrinterName(HANDLE printer) = 0;

  // Job information at level 1. nullopt when the spooler has no information
  // (unknown job, or a size of 0).
  virtual std::optional<JobInfo> Job(HANDLE printer, DWORD jobId) = 0;

  // Reads a printer-data value. nullopt when the value is missing or the read fails.
  virtual std::optional<PrinterValue> ReadPrinterData(HANDLE printer, const WString& valueName) = 0;

  // Writes a printer-data value; it persists per printer and later reads from any
  // process see it. The handle needs PRINTER_ACCESS_ADMINISTER (ERROR_ACCESS_DENIED
  // otherwise). Returns false on failure.
  virtual bool WritePrinterData(HANDLE printer, const WString& valueName, const PrinterValue& value) = 0;

  // Deletes the job (SetJob with JOB_CONTROL_DELETE). Returns false on failure.
  virtual bool DeleteJob(HANDLE printer, DWORD jobId) = 0;

  // Ends a job that failed before it was complete: it prints nothing, and where the
  // spooler keeps jobs it is listed as failed. A spooler that keeps no such mark deletes
  // it. Returns false on failure.
  virtual bool FailJob(HANDLE printer, DWORD jobId) { return DeleteJob(printer, jobId); }

  // Starts a document on an open printer (the host's side). Returns the new job id,
  // or 0 on failure (ERROR_ALREADY_EXISTS when the requested id names another job).
  virtual DWORD StartDocument(HANDLE printer, const DocInfo& doc) = 0;

  // Ends the document started on this handle (the host's side). Returns false on failure.
  virtual bool EndDocument(HANDLE printer) = 0;

  // Hands job data to the spooler: the bytes reach the printer after those written
  // before. Sets *written to the count accepted. Returns false on failure.
  virtual bool Write(HANDLE printer, const void* bytes, DWORD count, DWORD* written) = 0;

  // The process id of the application that prints, as the spooler knows it for the
  // calling thread (GetPrintExecutionData). nullopt when it is not available.
  virtual std::optional<DWORD> ClientProcessId() = 0;
};

}  // namespace velmora::platform

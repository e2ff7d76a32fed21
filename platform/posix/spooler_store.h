// The printer store: the POSIX spooler, kept in one SQLite database.
//
// Location: $VELMORA_STORE when set, else $XDG_STATE_HOME/velmora/spooler.db
// (XDG_STATE_HOME defaults to ~/.local/state). Several processes may use one store at
// once. Besides the spooler operations the plug-in needs, it offers what the print host
// and the administrator commands need: printers, their data values, jobs and
// machine-wide values.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/spooler.h"

namespace velmora::platform::posix {

// Where the store lives: $VELMORA_STORE, else $XDG_STATE_HOME/velmora/spooler.db.
std::string StorePath();

// The spooler over the printer store.
class StoreSpooler : public Spooler {
 public:
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
  std::optional<DWORD> ClientProcessId() override;
};

// Reads a machine-wide value of the store as a 32-bit switch (for "EnableLogging").
// storeReadable is false when the store cannot be opened.
MachineSwitch ReadStoreMachineSwitch(const WString& name);

}  // namespace velmora::platform::posix

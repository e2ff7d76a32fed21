// The spooler over winspool.
#pragma once

#include "platform/spooler.h"

namespace velmora::platform::win32 {

// Printer handles are winspool's own. DocInfo::userName and machineName are not part
// of the documents winspool starts: the spooler records the caller's own.
class WinSpooler : public Spooler {
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

}  // namespace velmora::platform::win32

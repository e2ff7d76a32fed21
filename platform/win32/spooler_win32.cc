// The project's headers come before <winspool.h>: it defines the job-status and
// access names of platform/spooler.h as macros, which must not reach those
// declarations.
#include "platform/win32/spooler_win32.h"

#include <winspool.h>

#include <algorithm>
#include <vector>

namespace velmora::platform::win32 {
namespace {

// The published execution data that GetPrintExecutionData fills in.
struct PrintExecutionData {
  DWORD context;
  DWORD clientAppPID;
};
static_assert(sizeof(PrintExecutionData) == 8);

using GetPrintExecutionDataFunction = BOOL(WINAPI*)(PrintExecutionData*);

// GetPrintExecutionData, looked up at run time: older systems do not export it.
GetPrintExecutionDataFunction FindGetPrintExecutionData() {
  static const GetPrintExecutionDataFunction function = [] {
    HMODULE module = ::LoadLibraryW(L"winspool.drv");
    if (module == nullptr) return GetPrintExecutionDataFunction{nullptr};
    // The module stays loaded for the life of the process, as the function does.
    FARPROC address = ::GetProcAddress(module, "GetPrintExecutionData");
    return reinterpret_cast<GetPrintExecutionDataFunction>(reinterpret_cast<void (*)()>(address));
  }();
  return function;
}

std::optional<WString> Text(const wchar_t* text) {
  if (text == nullptr) return std::nullopt;
  return WString(text);
}

}  // namespace

HANDLE WinSpooler::Open(const WString& printerName, DWORD desiredAccess) {
  PRINTER_DEFAULTSW defaults{nullptr, nullptr, desiredAccess};
  HANDLE printer = nullptr;
  if (!::OpenPrinterW(const_cast<LPWSTR>(printerName.c_str()), &printer, &defaults)) return nullptr;
  return printer;
}

bool WinSpooler::Close(HANDLE printer) { return ::ClosePrinter(printer) != FALSE; }

std::optional<WString> WinSpooler::PrinterName(HANDLE printer) {
  DWORD needed = 0;
  ::GetPrinterW(printer, 4, nullptr, 0, &needed);
  if (needed < sizeof(PRINTER_INFO_4W)) return std::nullopt;
  // The structure holds pointers into the same buffer; new[] aligns it for them.
  std::vector<BYTE> buffer(needed);
  if (!::GetPrinterW(printer, 4, buffer.data(), needed, &needed)) return std::nullopt;
  const auto* info = reinterpret_cast<const PRINTER_INFO_4W*>(buffer.data());
  return Text(info->pPrinterName);
}

std::optional<JobInfo> WinSpooler::Job(HANDLE printer, DWORD jobId) {
  DWORD needed = 0;
  ::GetJobW(printer, jobId, 1, nullptr, 0, &needed);
  // A size of 0 means the spooler has no information about the job.
  if (needed < sizeof(JOB_INFO_1W)) return std::nullopt;
  std::vector<BYTE> buffer(needed);
  if (!::GetJobW(printer, jobId, 1, buffer.data(), needed, &needed)) return std::nullopt;
  const auto* info = reinterpret_cast<const JOB_INFO_1W*>(buffer.data());
  JobInfo job;
  job.jobId = info->JobId;
  job.printerName = Text(info->pPrinterName);
  job.machineName = Text(info->pMachineName);
  job.userName = Text(info->pUserName);
  job.document = Text(info->pDocument);
  job.status = info->Status;
  return job;
}

std::optional<PrinterValue> WinSpooler::ReadPrinterData(HANDLE printer, const WString& valueName) {
  auto* name = const_cast<LPWSTR>(valueName.c_str());
  DWORD type = 0;
  DWORD needed = 0;
  const DWORD sizeQuery = ::GetPrinterDataW(printer, name, &type, nullptr, 0, &needed);
  if (sizeQuery == ERROR_SUCCESS && needed == 0) return PrinterValue{static_cast<ValueType>(type), {}};
  if (sizeQuery != ERROR_MORE_DATA) return std::nullopt;
  // Some spoolers (Wine's) answer ERROR_MORE_DATA with a size of 0 for an empty value and
  // refuse a null buffer on the second call too: the buffer always has room for a byte.
  std::vector<BYTE> bytes(std::max<DWORD>(needed, 1));
  if (::GetPrinterDataW(printer, name, &type, bytes.data(), static_cast<DWORD>(bytes.size()), &needed) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  // A value that shrank between the two calls is returned at its new size.
  bytes.resize(std::min<std::size_t>(bytes.size(), needed));
  return PrinterValue{static_cast<ValueType>(type), std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
}

bool WinSpooler::WritePrinterData(HANDLE printer, const WString& valueName, const PrinterValue& value) {
  // SetPrinterDataW only reads the bytes; its parameter is not const in the SDK.
  auto* bytes = const_cast<BYTE*>(value.bytes.empty() ? nullptr : value.bytes.data());
  return ::SetPrinterDataW(printer, const_cast<LPWSTR>(valueName.c_str()), static_cast<DWORD>(value.type), bytes,
                           static_cast<DWORD>(value.bytes.size())) == ERROR_SUCCESS;
}

bool WinSpooler::DeleteJob(HANDLE printer, DWORD jobId) {
  return ::SetJobW(printer, jobId, 0, nullptr, JOB_CONTROL_DELETE) != FALSE;
}

DWORD WinSpooler::StartDocument(HANDLE printer, const DocInfo& doc) {
  // The plug-in's output is printer-ready: the job's data type is RAW.
  WString dataType = L"RAW";
  WString documentName = doc.documentName;
  WString outputFile = doc.outputFile;
  DOC_INFO_1W info{documentName.data(), outputFile.empty() ? nullptr : outputFile.data(), dataType.data()};
  return ::StartDocPrinterW(printer, 1, reinterpret_cast<LPBYTE>(&info));
}

bool WinSpooler::EndDocument(HANDLE printer) { return ::EndDocPrinter(printer) != FALSE; }

bool WinSpooler::Write(HANDLE printer, const void* bytes, DWORD count, DWORD* written) {
  DWORD accepted = 0;
  const BOOL ok = ::WritePrinter(printer, const_cast<void*>(bytes), count, &accepted);
  if (written != nullptr) *written = accepted;
  return ok != FALSE;
}

std::optional<DWORD> WinSpooler::ClientProcessId() {
  GetPrintExecutionDataFunction getPrintExecutionData = FindGetPrintExecutionData();
  if (getPrintExecutionData == nullptr) return std::nullopt;
  PrintExecutionData data{};
  if (!getPrintExecutionData(&data)) return std::nullopt;
  return data.clientAppPID;
}

}  // namespace velmora::platform::win32

// Administration on Windows: printers, their data values and jobs through the system
// spooler, machine-wide values in the registry key the plug-in reads them from.
// The project's headers come before <winspool.h>: it defines the job-status and access
// names of platform/spooler.h as macros, which must not reach those declarations.
#include "platform/printer_admin.h"
#include "platform/text_encoding.h"
#include "platform/win32/system_message.h"

#include <winspool.h>
// <winspool.h> maps AddPrinter to AddPrinterW, which would rename the override.
#undef AddPrinter

#include <algorithm>
#include <cstdio>

namespace velmora::platform {
namespace {

using win32::SystemMessage;

// The driver the package installs (packaging/windows), which printers are added with.
constexpr wchar_t kDriverName[] = L"Velmora PXL";
// Machine-wide values live beside the spooler's own settings.
constexpr wchar_t kMachineKey[] = L"System\\CurrentControlSet\\Control\\Print";
// Where the spooler keeps a printer's data values in the registry (used only where the
// spooler cannot delete a value itself: Wine).
constexpr wchar_t kPrintersKey[] = L"System\\CurrentControlSet\\Control\\Print\\Printers\\";
// The printer key under which SetPrinterDataW keeps a printer's values.
constexpr wchar_t kDriverDataKey[] = L"PrinterDriverData";

std::string U(WStringView text) { return Utf16ToUtf8(text); }
std::string Quoted(WStringView text) { return "'" + U(text) + "'"; }

wchar_t Lower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }
bool EqualsNoCase(WStringView a, WStringView b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) { return Lower(x) == Lower(y); });
}

// An open printer, closed with this object.
class OpenedPrinter {
 public:
  OpenedPrinter(const WString& name, DWORD access) {
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, access};
    if (!::OpenPrinterW(const_cast<LPWSTR>(name.c_str()), &handle_, &defaults)) {
      error_ = ::GetLastError();
      handle_ = nullptr;
    }
  }
  ~OpenedPrinter() {
    if (handle_ != nullptr) ::ClosePrinter(handle_);
  }
  OpenedPrinter(const OpenedPrinter&) = delete;
  OpenedPrinter& operator=(const OpenedPrinter&) = delete;
  HANDLE get() const { return handle_; }
  DWORD error() const { return error_; }

 private:
  HANDLE handle_ = nullptr;
  DWORD error_ = ERROR_SUCCESS;
};

// An open registry key, closed with this object.
class OpenedKey {
 public:
  OpenedKey(const wchar_t* path, REGSAM access, bool create) {
    error_ = create ? ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, access, nullptr, &key_, nullptr)
                    : ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, &key_);
    if (error_ != ERROR_SUCCESS) key_ = nullptr;
  }
  ~OpenedKey() {
    if (key_ != nullptr) ::RegCloseKey(key_);
  }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;
  HKEY get() const { return key_; }
  LSTATUS error() const { return error_; }

 private:
  HKEY key_ = nullptr;
  LSTATUS error_ = ERROR_SUCCESS;
};

std::optional<WString> Text(const wchar_t* text) {
  if (text == nullptr) return std::nullopt;
  return WString(text);
}

std::string UtcText(const SYSTEMTIME& time) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", time.wYear, time.wMonth, time.wDay, time.wHour,
                time.wMinute, time.wSecond);
  return text;
}

class SpoolerAdmin final : public PrinterAdmin {
 public:
  std::string location() const override { return "Windows spooler"; }
  std::string path() const override { return location(); }
  bool addsDefaultPrinter() const override { return false; }

  StoreResult<> AddPrinter(const WString& name) override {
    auto names = ListPrinters();
    if (!names) return StoreResult<>::Fail(names.error());
    for (const WString& existing : names.value()) {
      if (EqualsNoCase(existing, name)) return StoreResult<>::Fail("printer " + Quoted(existing) + " already exists");
    }
    if (HANDLE printer = Add(name)) {
      ::ClosePrinter(printer);
      return StoreResult<>::Ok();
    }
    DWORD code = ::GetLastError();
    if (code == ERROR_UNKNOWN_PRINTER_DRIVER && win32::RunningUnderWine() && AddWineDriver()) {
      if (HANDLE printer = Add(name)) {
        ::ClosePrinter(printer);
        return StoreResult<>::Ok();
      }
      code = ::GetLastError();
    }
    if (code == ERROR_UNKNOWN_PRINTER_DRIVER) {
      return StoreResult<>::Fail("Unable to add printer " + Quoted(name) + ": the printer driver " +
                                 Quoted(kDriverName) + " is not installed; install the driver package first");
    }
    return StoreResult<>::Fail("Unable to add printer " + Quoted(name) + ": " + SystemMessage(code));
  }

  StoreResult<> RemovePrinter(const WString& name) override {
    OpenedPrinter printer(name, PRINTER_ALL_ACCESS);
    if (printer.get() == nullptr) return Fail("Unable to open printer", name, printer.error());
    if (!::DeletePrinter(printer.get())) return Fail("Unable to remove printer", name, ::GetLastError());
    return StoreResult<>::Ok();
  }

  StoreResult<std::vector<WString>> ListPrinters() override {
    DWORD needed = 0;
    DWORD count = 0;
    ::EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &count);
    std::vector<WString> names;
    if (needed == 0) return StoreResult<std::vector<WString>>::Ok(names);
    std::vector<BYTE> buffer(needed);
    if (!::EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, buffer.data(), needed, &needed, &count)) {
      return StoreResult<std::vector<WString>>::Fail("Unable to list the printers: " + SystemMessage(::GetLastError()));
    }
    const auto* info = reinterpret_cast<const PRINTER_INFO_4W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
      if (info[i].pPrinterName != nullptr) names.emplace_back(info[i].pPrinterName);
    }
    std::sort(names.begin(), names.end());
    return StoreResult<std::vector<WString>>::Ok(names);
  }

  StoreResult<std::vector<NamedValue>> ListPrinterData(const WString& name) override {
    using Result = StoreResult<std::vector<NamedValue>>;
    OpenedPrinter printer(name, PRINTER_ACCESS_USE);
    if (printer.get() == nullptr) return Result::Fail(Message("Unable to open printer", name, printer.error()));
    // SetPrinterDataW keeps its values under the printer's "PrinterDriverData" key.
    DWORD needed = 0;
    DWORD count = 0;
    DWORD status = ::EnumPrinterDataExW(printer.get(), kDriverDataKey, nullptr, 0, &needed, &count);
    std::vector<NamedValue> values;
    if (status == ERROR_FILE_NOT_FOUND || (status == ERROR_SUCCESS && count == 0)) return Result::Ok(values);
    if (status != ERROR_MORE_DATA) return Result::Fail(Message("Unable to read the values of printer", name, status));
    // The entries point into the same buffer; a vector of the entry type aligns them.
    std::vector<PRINTER_ENUM_VALUESW> entries(needed / sizeof(PRINTER_ENUM_VALUESW) + 1);
    status = ::EnumPrinterDataExW(printer.get(), kDriverDataKey, reinterpret_cast<LPBYTE>(entries.data()),
                                  static_cast<DWORD>(entries.size() * sizeof(PRINTER_ENUM_VALUESW)), &needed, &count);
    if (status != ERROR_SUCCESS) return Result::Fail(Message("Unable to read the values of printer", name, status));
    for (DWORD i = 0; i < count; ++i) {
      const PRINTER_ENUM_VALUESW& entry = entries[i];
      const auto* data = entry.pData;
      PrinterValue value{
          static_cast<ValueType>(entry.dwType),
          data == nullptr ? std::vector<std::uint8_t>{} : std::vector<std::uint8_t>(data, data + entry.cbData)};
      values.emplace_back(WString(entry.pValueName), std::move(value));
    }
    std::sort(values.begin(), values.end(), [](const NamedValue& a, const NamedValue& b) { return a.first < b.first; });
    return Result::Ok(values);
  }

  StoreResult<> SetPrinterValue(const WString& name, const WString& valueName, const PrinterValue& value) override {
    // SetPrinterData needs the right to administer the printer, and no more.
    OpenedPrinter printer(name, PRINTER_ACCESS_ADMINISTER);
    if (printer.get() == nullptr) return Fail("Unable to open printer", name, printer.error());
    auto* bytes = const_cast<BYTE*>(value.bytes.empty() ? nullptr : value.bytes.data());
    const DWORD status =
        ::SetPrinterDataW(printer.get(), const_cast<LPWSTR>(valueName.c_str()), static_cast<DWORD>(value.type), bytes,
                          static_cast<DWORD>(value.bytes.size()));
    if (status != ERROR_SUCCESS) return Fail("Unable to set value " + Quoted(valueName) + " of printer", name, status);
    return StoreResult<>::Ok();
  }

  StoreResult<> RemovePrinterValue(const WString& name, const WString& valueName) override {
    OpenedPrinter printer(name, PRINTER_ACCESS_ADMINISTER);
    if (printer.get() == nullptr) return Fail("Unable to open printer", name, printer.error());
    LSTATUS status;
    if (win32::RunningUnderWine()) {
      // Wine's spooler has no DeletePrinterDataW (calling it ends the process); it keeps
      // the values in the registry key the system spooler documents, so the value is
      // removed there.
      const WString path = WString(kPrintersKey) + name + L"\\" + kDriverDataKey;
      OpenedKey key(path.c_str(), KEY_SET_VALUE, false);
      status = key.get() == nullptr ? key.error() : ::RegDeleteValueW(key.get(), valueName.c_str());
    } else {
      status = ::DeletePrinterDataW(printer.get(), const_cast<LPWSTR>(valueName.c_str()));
    }
    if (status == ERROR_FILE_NOT_FOUND) {
      return StoreResult<>::Fail("printer " + Quoted(name) + " has no value " + Quoted(valueName));
    }
    if (status != ERROR_SUCCESS) {
      return Fail("Unable to remove value " + Quoted(valueName) + " of printer", name, static_cast<DWORD>(status));
    }
    return StoreResult<>::Ok();
  }

  StoreResult<std::vector<StoredJob>> ListJobs(const std::optional<WString>& printerName) override {
    using Result = StoreResult<std::vector<StoredJob>>;
    std::vector<WString> printers;
    if (printerName) {
      printers.push_back(*printerName);
    } else {
      auto names = ListPrinters();
      if (!names) return Result::Fail(names.error());
      printers = names.value();
    }
    std::vector<StoredJob> jobs;
    for (const WString& name : printers) {
      OpenedPrinter printer(name, PRINTER_ACCESS_USE);
      if (printer.get() == nullptr) return Result::Fail(Message("Unable to open printer", name, printer.error()));
      DWORD needed = 0;
      DWORD count = 0;
      ::EnumJobsW(printer.get(), 0, 0xFFFFFFFF, 1, nullptr, 0, &needed, &count);
      if (needed == 0) continue;
      std::vector<BYTE> buffer(needed);
      if (!::EnumJobsW(printer.get(), 0, 0xFFFFFFFF, 1, buffer.data(), needed, &needed, &count)) {
        return Result::Fail(Message("Unable to list the jobs of printer", name, ::GetLastError()));
      }
      const auto* info = reinterpret_cast<const JOB_INFO_1W*>(buffer.data());
      for (DWORD i = 0; i < count; ++i) {
        StoredJob job;
        job.info.jobId = info[i].JobId;
        job.info.printerName = Text(info[i].pPrinterName);
        job.info.machineName = Text(info[i].pMachineName);
        job.info.userName = Text(info[i].pUserName);
        job.info.document = Text(info[i].pDocument);
        job.info.status = info[i].Status;
        job.created = UtcText(info[i].Submitted);
        jobs.push_back(std::move(job));
      }
    }
    std::sort(jobs.begin(), jobs.end(),
              [](const StoredJob& a, const StoredJob& b) { return a.info.jobId < b.info.jobId; });
    return Result::Ok(jobs);
  }

  StoreResult<> SetMachineValue(const WString& name, const PrinterValue& value) override {
    OpenedKey key(kMachineKey, KEY_SET_VALUE, true);
    LSTATUS status = key.error();
    if (key.get() != nullptr) {
      status =
          ::RegSetValueExW(key.get(), name.c_str(), 0, static_cast<DWORD>(value.type),
                           value.bytes.empty() ? nullptr : value.bytes.data(), static_cast<DWORD>(value.bytes.size()));
    }
    if (status != ERROR_SUCCESS) return MachineFail("Unable to set", name, status);
    return StoreResult<>::Ok();
  }

  StoreResult<> RemoveMachineValue(const WString& name) override {
    OpenedKey key(kMachineKey, KEY_SET_VALUE, false);
    const LSTATUS status = key.get() == nullptr ? key.error() : ::RegDeleteValueW(key.get(), name.c_str());
    if (status == ERROR_FILE_NOT_FOUND) return StoreResult<>::Fail("machine value " + Quoted(name) + " is not set");
    if (status != ERROR_SUCCESS) return MachineFail("Unable to remove", name, status);
    return StoreResult<>::Ok();
  }

  StoreResult<std::optional<PrinterValue>> ReadMachineValue(const WString& name) override {
    using Result = StoreResult<std::optional<PrinterValue>>;
    OpenedKey key(kMachineKey, KEY_QUERY_VALUE, false);
    if (key.get() == nullptr) {
      if (key.error() == ERROR_FILE_NOT_FOUND) return Result::Ok(std::nullopt);
      return Result::Fail("Unable to read machine value " + Quoted(name) + ": " + SystemMessage(key.error()));
    }
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) return Result::Ok(std::nullopt);
    std::vector<std::uint8_t> bytes(size);
    if (status == ERROR_SUCCESS && size > 0) {
      status = ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, bytes.data(), &size);
      bytes.resize(std::min<std::size_t>(bytes.size(), size));
    }
    if (status != ERROR_SUCCESS) {
      return Result::Fail("Unable to read machine value " + Quoted(name) + ": " + SystemMessage(status));
    }
    return Result::Ok(PrinterValue{static_cast<ValueType>(type), std::move(bytes)});
  }

 private:
  static HANDLE Add(const WString& name) {
    PRINTER_INFO_2W info{};
    WString printerName = name;
    WString port = L"FILE:";
    WString driver = kDriverName;
    WString processor = L"WinPrint";
    WString dataType = L"RAW";
    info.pPrinterName = printerName.data();
    info.pPortName = port.data();
    info.pDriverName = driver.data();
    info.pPrintProcessor = processor.data();
    info.pDatatype = dataType.data();
    return ::AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
  }

  // Wine has no universal printer driver to install the package with; its own printer
  // driver stands in for the driver entry, which only names the printers' driver: the
  // print host writes the plug-in's jobs raw.
  static bool AddWineDriver() {
    DRIVER_INFO_3W info{};
    WString name = kDriverName;
    WString file = L"wineps.drv";
    info.cVersion = 3;
    info.pName = name.data();
    info.pDriverPath = file.data();
    info.pDataFile = file.data();
    info.pConfigFile = file.data();
    return ::AddPrinterDriverW(nullptr, 3, reinterpret_cast<LPBYTE>(&info)) != FALSE;
  }

  static std::string Message(const std::string& what, const WString& printer, DWORD code) {
    return what + " " + Quoted(printer) + ": " + SystemMessage(code);
  }
  static StoreResult<> Fail(const std::string& what, const WString& printer, DWORD code) {
    return StoreResult<>::Fail(Message(what, printer, code));
  }
  static StoreResult<> MachineFail(const std::string& what, const WString& name, LSTATUS status) {
    return StoreResult<>::Fail(what + " machine value " + Quoted(name) + ": " +
                               SystemMessage(static_cast<DWORD>(status)));
  }
};

}  // namespace

std::unique_ptr<PrinterAdmin> OpenPrinterAdmin() { return std::make_unique<SpoolerAdmin>(); }

std::optional<std::string> SystemFolder() { return std::nullopt; }

bool UseSystemFolder() { return false; }

}  // namespace velmora::platform

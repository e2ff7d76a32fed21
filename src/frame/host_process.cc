// Which process prints: the spooler, the 64-bit print host for 32-bit applications, or the application.
#include "src/frame/host_process.h"

#include <algorithm>
#include <vector>

#include "formats/text.h"
#include "formats/vendor_devmode.h"
#include "platform/services.h"
#include "src/support/log.h"

namespace velmora {
namespace {

// szAppName holds at most this many characters.
constexpr std::size_t kAppNameChars = 31;

// Opens the printer behind a handle by its name with the access the printer-data call
// needs: reading needs the access to print, writing the access to administer the printer,
// which a user who only prints does not have (the open then fails, and nothing is written).
class PrinterByName {
 public:
  PrinterByName(HANDLE hPrinter, DWORD access) {
    if (hPrinter == InvalidHandleValue()) return;
    auto* spooler = platform::Current().spooler;
    auto name = spooler->PrinterName(hPrinter);
    if (!name) return;
    handle_ = spooler->Open(*name, access);
  }
  ~PrinterByName() {
    if (handle_ != nullptr) platform::Current().spooler->Close(handle_);
  }
  PrinterByName(const PrinterByName&) = delete;
  PrinterByName& operator=(const PrinterByName&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_ = nullptr;
};

void WriteAppName(std::uint8_t* body, WStringView name) {
  VendorSettings(body).set_szAppName(WString(name.substr(0, kAppNameChars)));
}

}  // namespace

void StoreModuleName(WStringView name, HANDLE hPrinter) {
  PrinterByName printer(hPrinter, platform::PRINTER_ACCESS_ADMINISTER);
  if (printer.get() == nullptr) return;
  platform::PrinterValue value{platform::ValueType::kMultiString, std::vector<std::uint8_t>(kModuleNameBytes, 0)};
  text::WriteWideField(value.bytes.data(), 130, name.substr(0, 129));
  platform::Current().spooler->WritePrinterData(printer.get(), kModuleNameValue, value);
}

WString ReadModuleName(HANDLE hPrinter) {
  PrinterByName printer(hPrinter, platform::PRINTER_ACCESS_USE);
  if (printer.get() == nullptr) return WString();
  auto value = platform::Current().spooler->ReadPrinterData(printer.get(), kModuleNameValue);
  if (!value) return WString();
  // At most the 260-character buffer is read; the text ends at its first NUL.
  const std::size_t units = std::min<std::size_t>(value->bytes.size(), 520) / 2;
  return text::ReadWideField(value->bytes.data(), units);
}

std::optional<WString> GetClientProcessName(std::size_t capacity) {
  auto processId = platform::Current().spooler->ClientProcessId();
  if (!processId) return std::nullopt;
  auto name = platform::Current().environment->ProcessName(*processId);
  if (!name) return std::nullopt;
  if (capacity > 0 && name->size() > capacity - 1) name->resize(capacity - 1);
  return name;
}

void RecordPrintingModule(std::uint8_t* vendorDMIn, std::uint8_t* vendorDMOut, HANDLE hPrinter) {
  WString own = platform::Current().environment->CurrentProcessName();
  if (own.size() > kAppNameChars) own.resize(kAppNameChars);
  // In the spooler itself nothing is recorded: the name stays the one of the last merge
  // made in an application.
  if (text::EqualsNoCase(WStringView(own), WStringView(VTEXT("spoolsv.exe")))) return;
  WString recorded = own;
  if (text::EqualsNoCase(WStringView(own), WStringView(VTEXT("splwow64.exe")))) {
    if (auto client = GetClientProcessName(32); client && !client->empty()) recorded = *client;
  }
  WriteAppName(vendorDMIn, recorded);
  WriteAppName(vendorDMOut, recorded);
  StoreModuleName(VendorSettings(vendorDMIn).szAppName(), hPrinter);
}

HRESULT MergeDevMode(DWORD mode, HANDLE hPrinter, DEVMODEW* publicDMIn, DEVMODEW* publicDMOut, std::uint8_t* vendorDMIn,
                     std::uint8_t* vendorDMOut) {
  if (publicDMIn == nullptr || publicDMOut == nullptr || vendorDMIn == nullptr || vendorDMOut == nullptr) return S_OK;
  if (VendorSettings(vendorDMIn).dwBodySignature() != kVendorSignature || mode != OEMDM_MERGE) return S_OK;
  LogMessage(VTEXT("VELMORA - CUnidrvInterface::MergeDevMode => start\r\n"));

  RecordPrintingModule(vendorDMIn, vendorDMOut, hPrinter);

  if (publicDMIn->dmPrintQuality == 1200) {
    const WString module = ReadModuleName(hPrinter);
    bool force = !module.empty() && (text::EqualsNoCase(WStringView(module), WStringView(VTEXT("excel.exe"))) ||
                                     text::EqualsNoCase(WStringView(module), WStringView(VTEXT("IEXPLORE.EXE"))));
    force = force || VendorSettings(vendorDMIn).dwOverlayMode() != 0;
    if (force) {
      publicDMOut->dmPrintQuality = 600;
      publicDMOut->dmYResolution = 600;
      VendorSettings(vendorDMOut).set_sResolution(1200);
      LogMessage(VTEXT("VELMORA - CUnidrvInterface::MergeDevMode => 1200 dpi lowered to 600 dpi\r\n"));
    }
  }
  if (publicDMIn->dmCopies > 999) publicDMOut->dmCopies = 999;
  return S_OK;
}

}  // namespace velmora

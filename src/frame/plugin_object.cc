// The rendering plug-in object the host loads, and its class factory.
#include "src/frame/plugin_object.h"

#include <cstring>
#include <new>

#include "formats/le_bytes.h"
#include "formats/vendor_devmode.h"
#include "platform/last_error.h"
#include "platform/services.h"
#include "src/frame/hooks.h"
#include "src/frame/module.h"
#include "src/frame/oem_pdev.h"
#include "src/settings/devmode_request.h"
#include "src/support/log.h"

namespace velmora {
namespace {

// What one command callback may hand back for writing.
constexpr DWORD kCallbackBufferSize = 10000;

// The methods the host may call beyond the required ones.
constexpr const char* kImplementedMethods[] = {"CommandCallback", "HalftonePattern", "WritePrinter"};

OemPdev* PdevOf(DEVOBJ* pdevobj) { return pdevobj != nullptr ? static_cast<OemPdev*>(pdevobj->pdevOEM) : nullptr; }

VendorData* AreaOf(DEVOBJ* pdevobj) {
  OemPdev* pdev = PdevOf(pdevobj);
  return pdev != nullptr ? &pdev->vendorData : nullptr;
}

std::uint8_t* RecordBodyOf(DEVOBJ* pdevobj) {
  auto* record = pdevobj != nullptr ? static_cast<std::uint8_t*>(pdevobj->pOEMDM) : nullptr;
  return record != nullptr ? record + kVendorHeaderSize : nullptr;
}

}  // namespace

CSOemUni3::ModuleObjectToken::ModuleObjectToken() { ModuleObjectCreated(); }
CSOemUni3::ModuleObjectToken::~ModuleObjectToken() { ModuleObjectDestroyed(); }

CSOemUni3::CSOemUni3() { LogMessage(VTEXT("VELMORA - CSOemUni3::CSOemUni3 => created\r\n")); }

CSOemUni3::~CSOemUni3() {
  if (m_pOEMHelp != nullptr) {
    m_pOEMHelp->Release();
    m_pOEMHelp = nullptr;
  }
}

HRESULT CSOemUni3::QueryInterface(const GUID& riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IPrintOemUni3)) {
    *ppv = static_cast<IPrintOemUni3*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CSOemUni3::AddRef() { return static_cast<ULONG>(++m_cRef); }

ULONG CSOemUni3::Release() {
  const LONG count = --m_cRef;
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT CSOemUni3::GetInfo(DWORD mode, void* buffer, DWORD size, DWORD* needed) {
  if (needed == nullptr || (mode != OEMGI_GETSIGNATURE && mode != OEMGI_GETVERSION)) {
    platform::SetLastError(ERROR_INVALID_PARAMETER);
    return E_FAIL;
  }
  *needed = 4;
  if (buffer == nullptr || size < 4) {
    platform::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return E_FAIL;
  }
  le::PutU32(static_cast<std::uint8_t*>(buffer), mode == OEMGI_GETSIGNATURE ? kVendorSignature : 1);
  return S_OK;
}

HRESULT CSOemUni3::DevMode(DWORD mode, OEMDMPARAM* param) {
  return HandleDevModeRequest(
      mode, param, [this](DWORD requestMode, const OEMDMPARAM& block, std::uint8_t* bodyIn, std::uint8_t* bodyOut) {
        auto* device = static_cast<DEVOBJ*>(block.pdriverobj);
        m_backObject.DevMode(requestMode, block.hPrinter, block.pPublicDMIn, block.pPublicDMOut, AreaOf(device), bodyIn,
                             bodyOut);
      });
}

HRESULT CSOemUni3::EnableDriver(DWORD, DWORD, DRVENABLEDATA* enableData) {
  if (enableData == nullptr) return S_OK;
  enableData->iDriverVersion = PRINTER_OEMINTF_VERSION;
  enableData->c = static_cast<ULONG>(kHookCount);
  enableData->pdrvfn = HookTable;
  return S_OK;
}

HRESULT CSOemUni3::DisableDriver() {
  if (m_pOEMHelp != nullptr) {
    m_pOEMHelp->Release();
    m_pOEMHelp = nullptr;
  }
  return S_OK;
}

HRESULT CSOemUni3::EnablePDEV(DEVOBJ* pdevobj, WCHAR* printerName, ULONG, HSURF*, ULONG, GDIINFO* gdiInfo, ULONG,
                              DEVINFO* devInfo, DRVENABLEDATA* enableData, void** pdevOEM) {
  auto* pdev = new (std::nothrow) OemPdev();
  if (pdev == nullptr) return E_FAIL;
  ClearVendorData(pdev->vendorData);
  if (enableData != nullptr && enableData->pdrvfn != nullptr) {
    for (ULONG i = 0; i < enableData->c; ++i) {
      if (PFN* slot = SavedHostFunctionSlot(pdev->savedHostFunctions, enableData->pdrvfn[i].iFunc)) {
        *slot = enableData->pdrvfn[i].pfn;
      }
    }
  }
  pdev->vendor = m_backObject.EnablePDEV(pdevobj, m_pOEMHelp, pdevobj != nullptr ? pdevobj->hPrinter : nullptr,
                                         printerName, pdevobj != nullptr ? pdevobj->pPublicDM : nullptr,
                                         RecordBodyOf(pdevobj), &pdev->vendorData, gdiInfo, devInfo);
  if (pdevOEM != nullptr) *pdevOEM = pdev;
  return S_OK;
}

HRESULT CSOemUni3::DisablePDEV(DEVOBJ* pdevobj) {
  if (pdevobj == nullptr) return S_OK;
  OemPdev* pdev = PdevOf(pdevobj);
  m_backObject.DisablePDEV(pdevobj->hPrinter, pdevobj->pPublicDM, RecordBodyOf(pdevobj), AreaOf(pdevobj));
  if (pdev != nullptr) {
    // A cell list the document did not release goes with its device.
    delete pdev;
    pdevobj->pdevOEM = nullptr;
  }
  return S_OK;
}

HRESULT CSOemUni3::ResetPDEV(DEVOBJ* oldDevice, DEVOBJ* newDevice) {
  if (oldDevice == nullptr || newDevice == nullptr || PdevOf(oldDevice) == nullptr || PdevOf(newDevice) == nullptr ||
      oldDevice->pOEMDM == nullptr || newDevice->pOEMDM == nullptr) {
    return S_OK;
  }
  m_backObject.ResetPDEV(oldDevice->pPublicDM, RecordBodyOf(oldDevice), AreaOf(oldDevice), newDevice->pPublicDM,
                         RecordBodyOf(newDevice), AreaOf(newDevice));
  return S_OK;
}

HRESULT CSOemUni3::PublishDriverInterface(IUnknown* driverInterface) {
  if (m_pOEMHelp != nullptr) return S_OK;
  if (driverInterface == nullptr) return E_FAIL;
  void* services = nullptr;
  if (FAILED(driverInterface->QueryInterface(IID_IPrintOemDriverUni, &services)) || services == nullptr) {
    m_pOEMHelp = nullptr;
    return E_FAIL;
  }
  m_pOEMHelp = static_cast<IPrintOemDriverUni*>(services);
  return S_OK;
}

HRESULT CSOemUni3::GetImplementedMethod(const char* methodName) {
  if (methodName == nullptr) return S_FALSE;
  for (const char* name : kImplementedMethods) {
    if (std::strcmp(methodName, name) == 0) return S_OK;
  }
  return S_FALSE;
}

HRESULT CSOemUni3::DriverDMS(void*, void*, DWORD, DWORD*) { return E_NOTIMPL; }

HRESULT CSOemUni3::CommandCallback(DEVOBJ* pdevobj, DWORD callbackId, DWORD count, DWORD* parameters, int* result) {
  if (pdevobj == nullptr || parameters == nullptr) return S_OK;
  if (result != nullptr) *result = 0;
  auto* buffer = new (std::nothrow) std::uint8_t[kCallbackBufferSize]();
  if (buffer == nullptr) return S_OK;
  std::uint8_t* body = FindVendorDevmode(pdevobj->pPublicDM);
  if (body == nullptr) {
    delete[] buffer;
    return S_OK;
  }
  DWORD written = 0;
  const HRESULT outcome = m_backObject.CommandCallback(pdevobj, body, AreaOf(pdevobj), callbackId, count, parameters,
                                                       buffer, kCallbackBufferSize, &written);
  // The vendor may never report more than the buffer holds.
  if (SUCCEEDED(outcome) && written > 0 && written <= kCallbackBufferSize && m_pOEMHelp != nullptr) {
    DWORD sent = 0;
    m_pOEMHelp->DrvWriteSpoolBuf(pdevobj, buffer, written, &sent);
  }
  delete[] buffer;
  return outcome;
}

HRESULT CSOemUni3::ImageProcessing(DEVOBJ* pdevobj, BYTE* sourceBitmap, BITMAPINFOHEADER* bitmapHeader,
                                   BYTE* colorTable, DWORD callbackId, IPPARAMS* parameters, BYTE** result) {
  if (pdevobj == nullptr) return S_OK;
  if (result != nullptr) *result = nullptr;
  std::uint8_t* body = FindVendorDevmode(pdevobj->pPublicDM);
  if (body == nullptr) return S_OK;
  std::uint8_t* data = nullptr;
  DWORD size = 0;
  HRESULT outcome =
      m_backObject.ImageProcessing(&data, &size, pdevobj->hPrinter, pdevobj->pPublicDM, body, AreaOf(pdevobj),
                                   sourceBitmap, bitmapHeader, colorTable, callbackId, parameters, result);
  if (SUCCEEDED(outcome)) {
    // The value 1 tells the host the plug-in sent the data itself.
    if (result != nullptr) *result = reinterpret_cast<BYTE*>(std::uintptr_t{1});
    if (data != nullptr && size > 0 && m_pOEMHelp != nullptr) {
      DWORD sent = 0;
      outcome = m_pOEMHelp->DrvWriteSpoolBuf(pdevobj, data, size, &sent);
    }
  }
  std::free(data);
  return outcome;
}

HRESULT CSOemUni3::FilterGraphics(DEVOBJ*, BYTE*, DWORD) { return E_NOTIMPL; }
HRESULT CSOemUni3::Compression(DEVOBJ*, BYTE*, BYTE*, DWORD, DWORD, int*) { return E_NOTIMPL; }

HRESULT CSOemUni3::HalftonePattern(DEVOBJ* pdevobj, BYTE* pattern, DWORD patternX, DWORD patternY, DWORD patternCount,
                                   DWORD callbackId, BYTE* resource, DWORD resourceSize) {
  if (pdevobj == nullptr) return S_OK;
  std::uint8_t* body = FindVendorDevmode(pdevobj->pPublicDM);
  if (body == nullptr) return S_OK;
  return m_backObject.HalftonePattern(pdevobj->hPrinter, pdevobj->pPublicDM, body, AreaOf(pdevobj), pattern, patternX,
                                      patternY, patternCount, callbackId, resource, resourceSize);
}

HRESULT CSOemUni3::MemoryUsage(DEVOBJ*, OEMMEMORYUSAGE*) { return E_NOTIMPL; }
HRESULT CSOemUni3::TTYGetInfo(DEVOBJ*, DWORD, void*, DWORD, DWORD*) { return E_NOTIMPL; }
HRESULT CSOemUni3::DownloadFontHeader(DEVOBJ*, UNIFONTOBJ*, DWORD*) { return E_NOTIMPL; }
HRESULT CSOemUni3::DownloadCharGlyph(DEVOBJ*, UNIFONTOBJ*, HGLYPH, DWORD*, DWORD*) { return E_NOTIMPL; }
HRESULT CSOemUni3::TTDownloadMethod(DEVOBJ*, UNIFONTOBJ*, DWORD*) { return E_NOTIMPL; }
HRESULT CSOemUni3::OutputCharStr(DEVOBJ*, UNIFONTOBJ*, DWORD, DWORD, void*) { return E_NOTIMPL; }
HRESULT CSOemUni3::SendFontCmd(DEVOBJ*, UNIFONTOBJ*, FINVOCATION*) { return E_NOTIMPL; }
HRESULT CSOemUni3::TextOutAsBitmap(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ*, BRUSHOBJ*, POINTL*,
                                   MIX) {
  return E_NOTIMPL;
}

HRESULT CSOemUni3::WritePrinter(DEVOBJ* pdevobj, void* buffer, DWORD size, DWORD* written) {
  if (pdevobj == nullptr) return S_OK;
  std::uint8_t* body = RecordBodyOf(pdevobj);
  VendorData* area = AreaOf(pdevobj);
  const HRESULT outcome = m_backObject.WritePrinter(pdevobj, body, area, static_cast<std::uint8_t*>(buffer), size);
  const DWORD overlayMode = body != nullptr ? VendorSettings(body).dwOverlayMode() : 0;
  if (overlayMode != CREATE_OVERLAY && SUCCEEDED(outcome)) {
    DWORD accepted = 0;
    const bool sent = platform::Current().spooler->Write(pdevobj->hPrinter, buffer, size, &accepted);
    if (written != nullptr) *written = accepted;
    return sent ? S_OK : E_FAIL;
  }
  if (overlayMode == CREATE_OVERLAY && area != nullptr && area->dwOverlayCaptured != 0) {
    // The capture is complete: the job that carried it is deleted and prints nothing.
    VendorSettings(body).set_dwOverlayMode(NO_OVERLAY);
    auto* spooler = platform::Current().spooler;
    platform::SetLastError(ERROR_SUCCESS);
    // The user who prints may delete their own job: the access to print is enough.
    HANDLE printer = spooler->Open(WString(area->szPrinterName), platform::PRINTER_ACCESS_USE);
    for (int attempt = 0; attempt < 2; ++attempt) {
      platform::SetLastError(ERROR_SUCCESS);
      spooler->DeleteJob(printer, area->dwJobId);
    }
    if (printer != nullptr) spooler->Close(printer);
  }
  return outcome;
}

HRESULT CSOemUni3::DownloadPattern(DEVOBJ*, SURFOBJ*, LONG) { return E_NOTIMPL; }

HRESULT CSOemUni3::GetPDEVAdjustment(DEVOBJ* pdevobj, DWORD adjustmentType, void* buffer, DWORD size, BOOL* done) {
  if (pdevobj == nullptr) return E_NOTIMPL;
  std::uint8_t* body = FindVendorDevmode(pdevobj->pPublicDM);
  if (body == nullptr) return E_NOTIMPL;
  return m_backObject.GetPDEVAdjustment(pdevobj->hPrinter, pdevobj->pPublicDM, body, AreaOf(pdevobj), adjustmentType,
                                        buffer, size, done);
}

HRESULT CSOemUni3::SetBandSize(DEVOBJ*, DWORD, DWORD, DWORD*) { return E_NOTIMPL; }

HRESULT COemCF::QueryInterface(const GUID& riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG COemCF::AddRef() { return static_cast<ULONG>(++m_cRef); }

ULONG COemCF::Release() {
  const LONG count = --m_cRef;
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT COemCF::CreateInstance(IUnknown* outer, const GUID& riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  auto* plugin = new (std::nothrow) CSOemUni3();
  if (plugin == nullptr) return E_OUTOFMEMORY;
  const HRESULT result = plugin->QueryInterface(riid, object);
  plugin->Release();
  return result;
}

HRESULT COemCF::LockServer(BOOL lock) {
  ModuleLock(lock != 0);
  return S_OK;
}

HRESULT GetClassObject(const GUID& clsid, const GUID& iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualGUID(clsid, CLSID_OEMRENDER)) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) COemCF();
  if (factory == nullptr) return E_OUTOFMEMORY;
  const HRESULT result = factory->QueryInterface(iid, object);
  factory->Release();
  return result;
}

}  // namespace velmora

// CSOemUni3: the rendering plug-in object the host loads. It gathers what the vendor
// object needs out of the host's device object, forwards each call through its back
// object and writes to the job what the vendor object hands back.
#pragma once

#include <atomic>

#include "formats/host_interface.h"
#include "src/frame/back_object.h"

namespace velmora {

class CSOemUni3 final : public IPrintOemUni3 {
 public:
  CSOemUni3();
  ~CSOemUni3();

  // IUnknown
  HRESULT QueryInterface(const GUID& riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;
  // IPrintOemEngine
  HRESULT GetInfo(DWORD mode, void* buffer, DWORD size, DWORD* needed) override;
  HRESULT DevMode(DWORD mode, OEMDMPARAM* param) override;
  HRESULT EnableDriver(DWORD driverVersion, DWORD size, DRVENABLEDATA* enableData) override;
  HRESULT DisableDriver() override;
  HRESULT EnablePDEV(DEVOBJ* pdevobj, WCHAR* printerName, ULONG patternCount, HSURF* patterns, ULONG gdiInfoSize,
                     GDIINFO* gdiInfo, ULONG devInfoSize, DEVINFO* devInfo, DRVENABLEDATA* enableData,
                     void** pdevOEM) override;
  HRESULT DisablePDEV(DEVOBJ* pdevobj) override;
  HRESULT ResetPDEV(DEVOBJ* oldDevice, DEVOBJ* newDevice) override;
  // IPrintOemUni
  HRESULT PublishDriverInterface(IUnknown* driverInterface) override;
  HRESULT GetImplementedMethod(const char* methodName) override;
  HRESULT DriverDMS(void* deviceObject, void* buffer, DWORD size, DWORD* needed) override;
  HRESULT CommandCallback(DEVOBJ* pdevobj, DWORD callbackId, DWORD count, DWORD* parameters, int* result) override;
  HRESULT ImageProcessing(DEVOBJ* pdevobj, BYTE* sourceBitmap, BITMAPINFOHEADER* bitmapHeader, BYTE* colorTable,
                          DWORD callbackId, IPPARAMS* parameters, BYTE** result) override;
  HRESULT FilterGraphics(DEVOBJ* pdevobj, BYTE* buffer, DWORD length) override;
  HRESULT Compression(DEVOBJ* pdevobj, BYTE* in, BYTE* out, DWORD inLength, DWORD outLength, int* result) override;
  HRESULT HalftonePattern(DEVOBJ* pdevobj, BYTE* pattern, DWORD patternX, DWORD patternY, DWORD patternCount,
                          DWORD callbackId, BYTE* resource, DWORD resourceSize) override;
  HRESULT MemoryUsage(DEVOBJ* pdevobj, OEMMEMORYUSAGE* usage) override;
  HRESULT TTYGetInfo(DEVOBJ* pdevobj, DWORD index, void* output, DWORD size, DWORD* needed) override;
  HRESULT DownloadFontHeader(DEVOBJ* pdevobj, UNIFONTOBJ* font, DWORD* result) override;
  HRESULT DownloadCharGlyph(DEVOBJ* pdevobj, UNIFONTOBJ* font, HGLYPH glyph, DWORD* width, DWORD* result) override;
  HRESULT TTDownloadMethod(DEVOBJ* pdevobj, UNIFONTOBJ* font, DWORD* result) override;
  HRESULT OutputCharStr(DEVOBJ* pdevobj, UNIFONTOBJ* font, DWORD type, DWORD count, void* glyphs) override;
  HRESULT SendFontCmd(DEVOBJ* pdevobj, UNIFONTOBJ* font, FINVOCATION* invocation) override;
  HRESULT TextOutAsBitmap(SURFOBJ* surface, STROBJ* text, FONTOBJ* font, CLIPOBJ* clip, RECTL* extra, RECTL* opaque,
                          BRUSHOBJ* foreground, BRUSHOBJ* background, POINTL* origin, MIX mix) override;
  // IPrintOemUni2
  HRESULT WritePrinter(DEVOBJ* pdevobj, void* buffer, DWORD size, DWORD* written) override;
  // IPrintOemUni3
  HRESULT DownloadPattern(DEVOBJ* pdevobj, SURFOBJ* pattern, LONG patternId) override;
  HRESULT GetPDEVAdjustment(DEVOBJ* pdevobj, DWORD adjustmentType, void* buffer, DWORD size, BOOL* done) override;
  HRESULT SetBandSize(DEVOBJ* pdevobj, DWORD format, DWORD resolution, DWORD* bandSize) override;

 private:
  // Counts this object in the module's object counter for exactly its lifetime. Declared
  // first, so it is destroyed last: the counter drops only after everything the object
  // owns (back object, vendor object) is gone.
  struct ModuleObjectToken {
    ModuleObjectToken();
    ~ModuleObjectToken();
  };
  ModuleObjectToken m_moduleToken;
  std::atomic<LONG> m_cRef{1};
  IPrintOemDriverUni* m_pOEMHelp = nullptr;
  CSUniDrvBO m_backObject;
};

// COemCF: the class factory of the plug-in object.
class COemCF final : public IClassFactory {
 public:
  COemCF() = default;
  ~COemCF() = default;

  HRESULT QueryInterface(const GUID& riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT CreateInstance(IUnknown* outer, const GUID& riid, void** object) override;
  HRESULT LockServer(BOOL lock) override;

 private:
  std::atomic<LONG> m_cRef{1};
};

// The module's class-object entry: the class factory for the rendering plug-in class.
HRESULT GetClassObject(const GUID& clsid, const GUID& iid, void** object);

}  // namespace velmora

// The host universal printer driver's published plug-in structures and COM interfaces,
// as this plug-in uses them. Declared here once, identical on Windows and POSIX, with
// the published field order and slot order (64-bit layout). The Windows build checks
// the layouts against the platform's own declarations where the SDK has them
// (src/frame/module_win32.cc).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/types.h"

namespace velmora {

// ---------------------------------------------------------------------------------------
// COM basics

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
static_assert(sizeof(GUID) == 16);

// Byte-wise comparison of all 16 bytes, as the module compares interface IDs.
bool IsEqualGUID(const GUID& a, const GUID& b);

// The published interface IDs.
inline constexpr GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID IID_IPrintOemUni3 = {
    0x4E4A7747, 0xBC76, 0x4AED, {0xAC, 0xC8, 0xC7, 0x6A, 0xF2, 0x2A, 0xAD, 0x43}};
inline constexpr GUID IID_IPrintOemDriverUni = {
    0xD67EBBF1, 0x78BF, 0x11D1, {0x94, 0x80, 0x00, 0xA0, 0xC9, 0x06, 0x40, 0xB8}};
// The class ID under which the host looks for a rendering plug-in.
inline constexpr GUID CLSID_OEMRENDER = {0x6D6ABF26, 0x9F38, 0x11D1, {0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};

// The COM calling convention. The plug-in is built for 64-bit Windows, where there is
// only one convention, and for POSIX; both use the platform's default.
#define VELMORA_STDMETHODCALLTYPE

// IUnknown, slots 0-2. No virtual destructor: the vtable must hold exactly the
// published slots.
class IUnknown {
 public:
  virtual HRESULT VELMORA_STDMETHODCALLTYPE QueryInterface(const GUID& riid, void** ppv) = 0;
  virtual ULONG VELMORA_STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG VELMORA_STDMETHODCALLTYPE Release() = 0;
};

// ---------------------------------------------------------------------------------------
// The public device mode (DEVMODEW), printer variant of its unions.

struct DEVMODEW {
  WCHAR dmDeviceName[32];
  WORD dmSpecVersion;
  WORD dmDriverVersion;
  WORD dmSize;
  WORD dmDriverExtra;
  DWORD dmFields;
  std::int16_t dmOrientation;
  std::int16_t dmPaperSize;
  std::int16_t dmPaperLength;
  std::int16_t dmPaperWidth;
  std::int16_t dmScale;
  std::int16_t dmCopies;
  std::int16_t dmDefaultSource;
  std::int16_t dmPrintQuality;
  std::int16_t dmColor;
  std::int16_t dmDuplex;
  std::int16_t dmYResolution;
  std::int16_t dmTTOption;
  std::int16_t dmCollate;
  WCHAR dmFormName[32];
  WORD dmLogPixels;
  DWORD dmBitsPerPel;
  DWORD dmPelsWidth;
  DWORD dmPelsHeight;
  DWORD dmNup;  // dmDisplayFlags in the display variant
  DWORD dmDisplayFrequency;
  DWORD dmICMMethod;
  DWORD dmICMIntent;
  DWORD dmMediaType;
  DWORD dmDitherType;
  DWORD dmReserved1;
  DWORD dmReserved2;
  DWORD dmPanningWidth;
  DWORD dmPanningHeight;
};

// Byte offsets of the public fields the system reads; stored device modes are read by
// these offsets.
namespace devmode_offset {
inline constexpr std::size_t kDeviceName = 0;
inline constexpr std::size_t kSize = 68;
inline constexpr std::size_t kDriverExtra = 70;
inline constexpr std::size_t kFields = 72;
inline constexpr std::size_t kOrientation = 76;
inline constexpr std::size_t kPaperSize = 78;
inline constexpr std::size_t kCopies = 86;
inline constexpr std::size_t kDefaultSource = 88;
inline constexpr std::size_t kPrintQuality = 90;
inline constexpr std::size_t kDuplex = 94;
inline constexpr std::size_t kYResolution = 96;
inline constexpr std::size_t kCollate = 100;
inline constexpr std::size_t kFormName = 102;
inline constexpr std::size_t kPublicSize = 220;
}  // namespace devmode_offset

static_assert(sizeof(WCHAR) == 2);
static_assert(offsetof(DEVMODEW, dmSize) == devmode_offset::kSize);
static_assert(offsetof(DEVMODEW, dmDriverExtra) == devmode_offset::kDriverExtra);
static_assert(offsetof(DEVMODEW, dmFields) == devmode_offset::kFields);
static_assert(offsetof(DEVMODEW, dmOrientation) == devmode_offset::kOrientation);
static_assert(offsetof(DEVMODEW, dmPaperSize) == devmode_offset::kPaperSize);
static_assert(offsetof(DEVMODEW, dmCopies) == devmode_offset::kCopies);
static_assert(offsetof(DEVMODEW, dmDefaultSource) == devmode_offset::kDefaultSource);
static_assert(offsetof(DEVMODEW, dmPrintQuality) == devmode_offset::kPrintQuality);
static_assert(offsetof(DEVMODEW, dmDuplex) == devmode_offset::kDuplex);
static_assert(offsetof(DEVMODEW, dmYResolution) == devmode_offset::kYResolution);
static_assert(offsetof(DEVMODEW, dmCollate) == devmode_offset::kCollate);
static_assert(offsetof(DEVMODEW, dmFormName) == devmode_offset::kFormName);
static_assert(sizeof(DEVMODEW) == devmode_offset::kPublicSize);

// dmFields bits of the fields above.
inline constexpr DWORD DM_ORIENTATION = 0x00000001;
inline constexpr DWORD DM_PAPERSIZE = 0x00000002;
inline constexpr DWORD DM_COPIES = 0x00000100;
inline constexpr DWORD DM_DEFAULTSOURCE = 0x00000200;
inline constexpr DWORD DM_PRINTQUALITY = 0x00000400;
inline constexpr DWORD DM_DUPLEX = 0x00001000;
inline constexpr DWORD DM_YRESOLUTION = 0x00002000;
inline constexpr DWORD DM_COLLATE = 0x00008000;
inline constexpr DWORD DM_FORMNAME = 0x00010000;

// ---------------------------------------------------------------------------------------
// Host structures of the plug-in interface.

struct DEVOBJ;

// The host's service functions. Only the first entry is used: the host's own spool
// write for the job-event streams. The host's table has further entries after it.
struct DRVPROCS {
  int (*DrvWriteSpoolBuf)(DEVOBJ* pdevobj, void* buffer, DWORD size);
};

// The device object the host passes to every plug-in call.
struct DEVOBJ {
  DWORD dwSize;
  void* pdevOEM;  // the plug-in's per-device object
  HANDLE hEngine;
  HANDLE hPrinter;
  HANDLE hOEM;
  DEVMODEW* pPublicDM;
  void* pOEMDM;  // the plug-in's settings record, header first
  DRVPROCS* pDrvProcs;
};
static_assert(offsetof(DEVOBJ, pdevOEM) == 8);
static_assert(offsetof(DEVOBJ, hPrinter) == 24);
static_assert(offsetof(DEVOBJ, pPublicDM) == 40);
static_assert(offsetof(DEVOBJ, pOEMDM) == 48);
static_assert(offsetof(DEVOBJ, pDrvProcs) == 56);
static_assert(sizeof(DEVOBJ) == 64);

// The device-mode parameter block of the DevMode request.
struct OEMDMPARAM {
  DWORD cbSize;
  void* pdriverobj;
  HANDLE hPrinter;
  HANDLE hModule;
  DEVMODEW* pPublicDMIn;
  DEVMODEW* pPublicDMOut;
  void* pOEMDMIn;
  void* pOEMDMOut;
  DWORD cbBufSize;
};
static_assert(offsetof(OEMDMPARAM, pPublicDMIn) == 32);
static_assert(offsetof(OEMDMPARAM, pOEMDMOut) == 56);
static_assert(offsetof(OEMDMPARAM, cbBufSize) == 64);
static_assert(sizeof(OEMDMPARAM) == 72);

// DevMode request codes.
inline constexpr DWORD OEMDM_SIZE = 1;
inline constexpr DWORD OEMDM_DEFAULT = 2;
inline constexpr DWORD OEMDM_CONVERT = 3;
inline constexpr DWORD OEMDM_MERGE = 4;

// GetInfo request codes.
inline constexpr DWORD OEMGI_GETSIGNATURE = 1;
inline constexpr DWORD OEMGI_GETINTERFACEVERSION = 2;
inline constexpr DWORD OEMGI_GETVERSION = 3;
inline constexpr DWORD OEMGI_GETPUBLISHERINFO = 4;

inline constexpr ULONG PRINTER_OEMINTF_VERSION = 0x00010000;

using PFN = void (*)();

// One entry of a driver function table: the function index and the function.
struct DRVFN {
  ULONG iFunc;
  PFN pfn;
};
static_assert(sizeof(DRVFN) == 16);

// The enable data of EnableDriver.
struct DRVENABLEDATA {
  ULONG iDriverVersion;
  ULONG c;
  DRVFN* pdrvfn;
};
static_assert(offsetof(DRVENABLEDATA, pdrvfn) == 8);
static_assert(sizeof(DRVENABLEDATA) == 16);

// ---------------------------------------------------------------------------------------
// Graphics-engine objects the hooks receive. Only the members the plug-in reads are
// declared in full; the others are passed through untouched.

struct POINTL {
  LONG x;
  LONG y;
};
struct RECTL {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
struct SIZEL {
  LONG cx;
  LONG cy;
};

// A drawing surface. Its dhpdev is the host's device object (DEVOBJ*).
struct SURFOBJ {
  HANDLE dhsurf;
  HANDLE hsurf;
  void* dhpdev;
  HANDLE hdev;
  SIZEL sizlBitmap;
  ULONG cjBits;
  void* pvBits;
  void* pvScan0;
  LONG lDelta;
  ULONG iUniq;
  ULONG iBitmapFormat;
  WORD iType;
  WORD fjBitmap;
};
static_assert(offsetof(SURFOBJ, dhpdev) == 16);

// A brush; the plug-in sets iSolidColor to force text to black.
struct BRUSHOBJ {
  ULONG iSolidColor;
  void* pvRbrush;
  ULONG flColorType;
};
static_assert(offsetof(BRUSHOBJ, pvRbrush) == 8);

struct CLIPOBJ;
struct XLATEOBJ;
struct STROBJ;
struct FONTOBJ;
struct COLORADJUSTMENT;
struct BLENDOBJ;
struct TRIVERTEX;
struct PATHOBJ;
struct LINEATTRS;
using ROP4 = ULONG;
using MIX = ULONG;

// Driver function indexes (the published index numbers) of the functions the plug-in
// saves or hooks.
inline constexpr ULONG INDEX_DrvRealizeBrush = 12;
inline constexpr ULONG INDEX_DrvDitherColor = 13;
inline constexpr ULONG INDEX_DrvStrokePath = 14;
inline constexpr ULONG INDEX_DrvFillPath = 15;
inline constexpr ULONG INDEX_DrvStrokeAndFillPath = 16;
inline constexpr ULONG INDEX_DrvPaint = 17;
inline constexpr ULONG INDEX_DrvBitBlt = 18;
inline constexpr ULONG INDEX_DrvCopyBits = 19;
inline constexpr ULONG INDEX_DrvStretchBlt = 20;
inline constexpr ULONG INDEX_DrvTextOut = 23;
inline constexpr ULONG INDEX_DrvEscape = 24;
inline constexpr ULONG INDEX_DrvQueryFont = 26;
inline constexpr ULONG INDEX_DrvQueryFontTree = 27;
inline constexpr ULONG INDEX_DrvQueryFontData = 28;
inline constexpr ULONG INDEX_DrvLineTo = 31;
inline constexpr ULONG INDEX_DrvSendPage = 32;
inline constexpr ULONG INDEX_DrvStartPage = 33;
inline constexpr ULONG INDEX_DrvEndDoc = 34;
inline constexpr ULONG INDEX_DrvStartDoc = 35;
inline constexpr ULONG INDEX_DrvGetGlyphMode = 37;
inline constexpr ULONG INDEX_DrvFontManagement = 47;
inline constexpr ULONG INDEX_DrvQueryAdvanceWidths = 53;
inline constexpr ULONG INDEX_DrvStartBanding = 57;
inline constexpr ULONG INDEX_DrvNextBand = 58;
inline constexpr ULONG INDEX_DrvGradientFill = 68;
inline constexpr ULONG INDEX_DrvStretchBltROP = 69;
inline constexpr ULONG INDEX_DrvPlgBlt = 70;
inline constexpr ULONG INDEX_DrvAlphaBlend = 71;
inline constexpr ULONG INDEX_DrvTransparentBlt = 74;

// The host's drawing functions the plug-in calls through its saved table.
using PFN_DrvBitBlt = BOOL (*)(SURFOBJ*, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, POINTL*, POINTL*, BRUSHOBJ*,
                               POINTL*, ROP4);
using PFN_DrvStretchBlt = BOOL (*)(SURFOBJ*, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, COLORADJUSTMENT*, POINTL*, RECTL*,
                                   RECTL*, POINTL*, ULONG);
using PFN_DrvStretchBltROP = BOOL (*)(SURFOBJ*, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, COLORADJUSTMENT*, POINTL*,
                                      RECTL*, RECTL*, POINTL*, ULONG, BRUSHOBJ*, ROP4);
using PFN_DrvTextOut = BOOL (*)(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ*, BRUSHOBJ*, POINTL*,
                                MIX);

// ---------------------------------------------------------------------------------------
// The host's driver-services interface, slots in the published order. The system calls
// DrvGetDriverSetting and DrvWriteSpoolBuf; the further methods are declared for the
// slot order only.
class IPrintOemDriverUni : public IUnknown {
 public:
  virtual HRESULT VELMORA_STDMETHODCALLTYPE DrvGetDriverSetting(void* pdriverobj, const char* feature, void* output,
                                                                DWORD size, DWORD* needed, DWORD* optionsReturned) = 0;
  virtual HRESULT VELMORA_STDMETHODCALLTYPE DrvWriteSpoolBuf(DEVOBJ* pdevobj, void* buffer, DWORD size,
                                                             DWORD* written) = 0;
  virtual HRESULT VELMORA_STDMETHODCALLTYPE DrvXMoveTo(DEVOBJ* pdevobj, int x, DWORD flags, int* result) = 0;
  virtual HRESULT VELMORA_STDMETHODCALLTYPE DrvYMoveTo(DEVOBJ* pdevobj, int y, DWORD flags, int* result) = 0;
  virtual HRESULT VELMORA_STDMETHODCALLTYPE DrvGetStandardVariable(DEVOBJ* pdevobj, DWORD index, void* buffer,
                                                                   DWORD size, DWORD* needed) = 0;
  virtual HRESULT VELMORA_STDMETHODCALLTYPE DrvGetGPDData(DEVOBJ* pdevobj, DWORD dataType, void* inputData,
                                                          void* buffer, DWORD size, DWORD* needed) = 0;
  virtual HRESULT VELMORA_STDMETHODCALLTYPE DrvUniTextOut(void* surface, void* strobj, void* fontobj, void* clip,
                                                          void* extra, void* opaque, void* foreground, void* background,
                                                          void* origin, DWORD mix) = 0;
  virtual HRESULT VELMORA_STDMETHODCALLTYPE DrvWriteAbortBuf(DEVOBJ* pdevobj, void* buffer, DWORD size, DWORD wait) = 0;
};

// ---------------------------------------------------------------------------------------
// The host's rendering plug-in interface, IPrintOemUni3 with its bases, slots in the
// published order (0-29). The host calls the plug-in through it.

struct GDIINFO;
struct DEVINFO;
struct IPPARAMS;
struct OEMMEMORYUSAGE;
struct UNIFONTOBJ;
struct FINVOCATION;
struct BITMAPINFOHEADER;
using HSURF = HANDLE;
using HGLYPH = ULONG;

class IPrintOemUni3 : public IUnknown {
 public:
  // IPrintOemEngine
  virtual HRESULT VELMORA_STDMETHODCALLTYPE GetInfo(DWORD mode, void* buffer, DWORD size, DWORD* needed) = 0;  // 3
  virtual HRESULT VELMORA_STDMETHODCALLTYPE DevMode(DWORD mode, OEMDMPARAM* param) = 0;                        // 4
  virtual HRESULT VELMORA_STDMETHODCALLTYPE EnableDriver(DWORD driverVersion, DWORD size,
                                                         DRVENABLEDATA* enableData) = 0;  // 5
  virtual HRESULT VELMORA_STDMETHODCALLTYPE DisableDriver() = 0;                          // 6
  virtual HRESULT VELMORA_STDMETHODCALLTYPE EnablePDEV(DEVOBJ* pdevobj, WCHAR* printerName, ULONG patternCount,
                                                       HSURF* patterns, ULONG gdiInfoSize, GDIINFO* gdiInfo,
                                                       ULONG devInfoSize, DEVINFO* devInfo, DRVENABLEDATA* enableData,
                                                       void** pdevOEM) = 0;                       // 7
  virtual HRESULT VELMORA_STDMETHODCALLTYPE DisablePDEV(DEVOBJ* pdevobj) = 0;                     // 8
  virtual HRESULT VELMORA_STDMETHODCALLTYPE ResetPDEV(DEVOBJ* oldDevice, DEVOBJ* newDevice) = 0;  // 9
  // IPrintOemUni
  virtual HRESULT VELMORA_STDMETHODCALLTYPE PublishDriverInterface(IUnknown* driverInterface) = 0;  // 10
  virtual HRESULT VELMORA_STDMETHODCALLTYPE GetImplementedMethod(const char* methodName) = 0;       // 11
  virtual HRESULT VELMORA_STDMETHODCALLTYPE DriverDMS(void* deviceObject, void* buffer, DWORD size,
                                                      DWORD* needed) = 0;  // 12
  virtual HRESULT VELMORA_STDMETHODCALLTYPE CommandCallback(DEVOBJ* pdevobj, DWORD callbackId, DWORD count,
                                                            DWORD* parameters, int* result) = 0;  // 13
  virtual HRESULT VELMORA_STDMETHODCALLTYPE ImageProcessing(DEVOBJ* pdevobj, BYTE* sourceBitmap,
                                                            BITMAPINFOHEADER* bitmapHeader, BYTE* colorTable,
                                                            DWORD callbackId, IPPARAMS* parameters,
                                                            BYTE** result) = 0;                               // 14
  virtual HRESULT VELMORA_STDMETHODCALLTYPE FilterGraphics(DEVOBJ* pdevobj, BYTE* buffer, DWORD length) = 0;  // 15
  virtual HRESULT VELMORA_STDMETHODCALLTYPE Compression(DEVOBJ* pdevobj, BYTE* in, BYTE* out, DWORD inLength,
                                                        DWORD outLength, int* result) = 0;  // 16
  virtual HRESULT VELMORA_STDMETHODCALLTYPE HalftonePattern(DEVOBJ* pdevobj, BYTE* pattern, DWORD patternX,
                                                            DWORD patternY, DWORD patternCount, DWORD callbackId,
                                                            BYTE* resource,
                                                            DWORD resourceSize) = 0;                  // 17
  virtual HRESULT VELMORA_STDMETHODCALLTYPE MemoryUsage(DEVOBJ* pdevobj, OEMMEMORYUSAGE* usage) = 0;  // 18
  virtual HRESULT VELMORA_STDMETHODCALLTYPE TTYGetInfo(DEVOBJ* pdevobj, DWORD index, void* output, DWORD size,
                                                       DWORD* needed) = 0;  // 19
  virtual HRESULT VELMORA_STDMETHODCALLTYPE DownloadFontHeader(DEVOBJ* pdevobj, UNIFONTOBJ* font,
                                                               DWORD* result) = 0;  // 20
  virtual HRESULT VELMORA_STDMETHODCALLTYPE DownloadCharGlyph(DEVOBJ* pdevobj, UNIFONTOBJ* font, HGLYPH glyph,
                                                              DWORD* width, DWORD* result) = 0;  // 21
  virtual HRESULT VELMORA_STDMETHODCALLTYPE TTDownloadMethod(DEVOBJ* pdevobj, UNIFONTOBJ* font,
                                                             DWORD* result) = 0;  // 22
  virtual HRESULT VELMORA_STDMETHODCALLTYPE OutputCharStr(DEVOBJ* pdevobj, UNIFONTOBJ* font, DWORD type, DWORD count,
                                                          void* glyphs) = 0;  // 23
  virtual HRESULT VELMORA_STDMETHODCALLTYPE SendFontCmd(DEVOBJ* pdevobj, UNIFONTOBJ* font,
                                                        FINVOCATION* invocation) = 0;  // 24
  virtual HRESULT VELMORA_STDMETHODCALLTYPE TextOutAsBitmap(SURFOBJ* surface, STROBJ* text, FONTOBJ* font,
                                                            CLIPOBJ* clip, RECTL* extra, RECTL* opaque,
                                                            BRUSHOBJ* foreground, BRUSHOBJ* background, POINTL* origin,
                                                            MIX mix) = 0;  // 25
  // IPrintOemUni2
  virtual HRESULT VELMORA_STDMETHODCALLTYPE WritePrinter(DEVOBJ* pdevobj, void* buffer, DWORD size,
                                                         DWORD* written) = 0;  // 26
  // IPrintOemUni3
  virtual HRESULT VELMORA_STDMETHODCALLTYPE DownloadPattern(DEVOBJ* pdevobj, SURFOBJ* pattern,
                                                            LONG patternId) = 0;  // 27
  virtual HRESULT VELMORA_STDMETHODCALLTYPE GetPDEVAdjustment(DEVOBJ* pdevobj, DWORD adjustmentType, void* buffer,
                                                              DWORD size, BOOL* done) = 0;  // 28
  virtual HRESULT VELMORA_STDMETHODCALLTYPE SetBandSize(DEVOBJ* pdevobj, DWORD format, DWORD resolution,
                                                        DWORD* bandSize) = 0;  // 29
};

// IClassFactory, slots 3-4 after IUnknown.
class IClassFactory : public IUnknown {
 public:
  virtual HRESULT VELMORA_STDMETHODCALLTYPE CreateInstance(IUnknown* outer, const GUID& riid, void** object) = 0;
  virtual HRESULT VELMORA_STDMETHODCALLTYPE LockServer(BOOL lock) = 0;
};

// The two exports of the module.
using PFN_DllGetClassObject = HRESULT (*)(const GUID& clsid, const GUID& iid, void** object);
using PFN_DllCanUnloadNow = HRESULT (*)();

// Private escape codes received through the device context.
inline constexpr ULONG ESCAPE_SPECIAL_PAGE_KIND = 2458;
inline constexpr ULONG ESCAPE_WATERMARK_DC = 2462;
inline constexpr ULONG ESCAPE_SCALE = 2463;
inline constexpr ULONG ESCAPE_PAGE_TOTAL = 2466;
inline constexpr ULONG ESCAPE_CELL_RECT = 2468;
inline constexpr ULONG ESCAPE_PAGES_PER_SHEET = 2469;

// The hooked host functions' signatures.
using PFN_DrvCopyBits = BOOL (*)(SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, POINTL*);
using PFN_DrvPlgBlt = BOOL (*)(SURFOBJ*, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, COLORADJUSTMENT*, POINTL*,
                               void* /*POINTFIX*/, RECTL*, POINTL*, ULONG);
using PFN_DrvTransparentBlt = BOOL (*)(SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, RECTL*, ULONG, ULONG);
using PFN_DrvLineTo = BOOL (*)(SURFOBJ*, CLIPOBJ*, BRUSHOBJ*, LONG, LONG, LONG, LONG, RECTL*, MIX);
using PFN_DrvStartDoc = BOOL (*)(SURFOBJ*, WCHAR*, DWORD);
using PFN_DrvEndDoc = BOOL (*)(SURFOBJ*, ULONG);
using PFN_DrvStartPage = BOOL (*)(SURFOBJ*);
using PFN_DrvSendPage = BOOL (*)(SURFOBJ*);
using PFN_DrvEscape = ULONG (*)(SURFOBJ*, ULONG, ULONG, void*, ULONG, void*);

}  // namespace velmora

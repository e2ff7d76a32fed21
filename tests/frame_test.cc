// The plug-in object and its hooks, called the way the host calls them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "formats/le_bytes.h"
#include "formats/vendor_devmode.h"
#include "platform/fake/fake_services.h"
#include "platform/last_error.h"
#include "src/frame/hooks.h"
#include "src/frame/plugin_object.h"
#include "tests/fakes/fake_driver_services.h"

namespace velmora {
namespace {

// Counts of the host's own functions the hooks called.
struct HostCalls {
  int startDoc = 0, startPage = 0, sendPage = 0, escape = 0, bitBlt = 0;
};
HostCalls hostCalls;

BOOL HostStartDoc(SURFOBJ*, WCHAR*, DWORD) { return ++hostCalls.startDoc, 1; }
BOOL HostStartPage(SURFOBJ*) { return ++hostCalls.startPage, 1; }
BOOL HostSendPage(SURFOBJ*) { return ++hostCalls.sendPage, 1; }
ULONG HostEscape(SURFOBJ*, ULONG, ULONG, void*, ULONG, void*) { return ++hostCalls.escape, 77; }
BOOL HostBitBlt(SURFOBJ*, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, POINTL*, POINTL*, BRUSHOBJ*, POINTL*, ROP4) {
  return ++hostCalls.bitBlt, 1;
}
BOOL HostDitherColor() { return 1; }

// The host's side of one device: its device mode with the plug-in's record inside, the
// device object, a surface and the host's function table.
class Frame : public ::testing::Test {
 protected:
  void SetUp() override {
    hostCalls = {};
    devmodeBytes.assign(220 + 64 + kVendorRecordSize, 0);
    le::PutU16(devmodeBytes.data() + 68, 220);
    le::PutU16(devmodeBytes.data() + 70, 64 + kVendorRecordSize);
    le::PutU16(devmodeBytes.data() + 220 + 8, 64);
    record = devmodeBytes.data() + 220 + 64;
    StampVendorHeader(record);
    FillVendorDefaults(record + 12);
    devmode()->dmCopies = 1;
    devmode()->dmDuplex = 1;
    devmode()->dmOrientation = 1;

    platform::JobInfo job;
    job.document = VTEXT("doc");
    jobId = spooler.AddJob(VTEXT("P1"), job);
    printer = spooler.Open(VTEXT("P1"), platform::PRINTER_ALL_ACCESS);

    device.dwSize = sizeof device;
    device.hPrinter = printer;
    device.pPublicDM = devmode();
    device.pOEMDM = record;
    surface.dhpdev = &device;

    void* object = nullptr;
    ASSERT_EQ(GetClassObject(CLSID_OEMRENDER, IID_IClassFactory, &object), S_OK);
    auto* factory = static_cast<IClassFactory*>(object);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPrintOemUni3, &object), S_OK);
    factory->Release();
    plugin = static_cast<IPrintOemUni3*>(object);
  }
  void TearDown() override {
    if (device.pdevOEM != nullptr) plugin->DisablePDEV(&device);
    plugin->Release();
  }

  DEVMODEW* devmode() { return reinterpret_cast<DEVMODEW*>(devmodeBytes.data()); }
  VendorSettings settings() { return VendorSettings(record + 12); }
  OemPdev* pdev() { return static_cast<OemPdev*>(device.pdevOEM); }

  void Enable() {
    ASSERT_EQ(plugin->PublishDriverInterface(&services), S_OK);
    DRVENABLEDATA hooks{};
    ASSERT_EQ(plugin->EnableDriver(0x20000, sizeof hooks, &hooks), S_OK);
    ASSERT_EQ(hooks.c, 13u);
    for (ULONG i = 0; i < hooks.c; ++i) hookByIndex[hooks.pdrvfn[i].iFunc] = hooks.pdrvfn[i].pfn;
    hostFunctions = {
        {INDEX_DrvStartDoc, reinterpret_cast<PFN>(&HostStartDoc)},
        {INDEX_DrvStartPage, reinterpret_cast<PFN>(&HostStartPage)},
        {INDEX_DrvSendPage, reinterpret_cast<PFN>(&HostSendPage)},
        {INDEX_DrvEscape, reinterpret_cast<PFN>(&HostEscape)},
        {INDEX_DrvBitBlt, reinterpret_cast<PFN>(&HostBitBlt)},
        {INDEX_DrvDitherColor, reinterpret_cast<PFN>(&HostDitherColor)},
        {999, reinterpret_cast<PFN>(&HostDitherColor)},
    };
    DRVENABLEDATA host{0x20000, static_cast<ULONG>(hostFunctions.size()), hostFunctions.data()};
    void* pdevOEM = nullptr;
    WCHAR name[] = VTEXT("P1");
    ASSERT_EQ(plugin->EnablePDEV(&device, name, 0, nullptr, 0, nullptr, 0, nullptr, &host, &pdevOEM), S_OK);
    device.pdevOEM = pdevOEM;
  }

  ULONG Escape(ULONG code, const std::vector<std::uint8_t>& in, ULONG outSize = 0, void* out = nullptr) {
    auto escape = reinterpret_cast<PFN_DrvEscape>(hookByIndex.at(INDEX_DrvEscape));
    return escape(&surface, code, static_cast<ULONG>(in.size()),
                  in.empty() ? nullptr : const_cast<std::uint8_t*>(in.data()), outSize, out);
  }
  std::vector<std::uint8_t> Rect(std::int32_t n) {
    std::vector<std::uint8_t> bytes(16);
    for (int i = 0; i < 4; ++i) le::PutI32(bytes.data() + 4 * i, n * 10 + i);
    return bytes;
  }

  platform::fake::FakeSpooler spooler;
  platform::fake::FakeEnvironment environment;
  platform::ScopedServices scoped{{&spooler, nullptr, &environment, nullptr}};
  testing::FakeDriverServices services;
  std::vector<std::uint8_t> devmodeBytes;
  std::uint8_t* record = nullptr;
  DEVOBJ device{};
  SURFOBJ surface{};
  IPrintOemUni3* plugin = nullptr;
  std::vector<DRVFN> hostFunctions;
  std::map<ULONG, PFN> hookByIndex;
  DWORD jobId = 0;
  HANDLE printer = nullptr;
};

TEST_F(Frame, ImplementedMethodsAndInfo) {
  const std::pair<const char*, HRESULT> methods[] = {
      {"CommandCallback", S_OK},      {"HalftonePattern", S_OK},    {"WritePrinter", S_OK},
      {"writeprinter", S_FALSE},      {"ImageProcessing", S_FALSE}, {"TTYGetInfo", S_FALSE},
      {"GetPDEVAdjustment", S_FALSE},
  };
  for (const auto& [name, result] : methods) EXPECT_EQ(plugin->GetImplementedMethod(name), result) << name;
  EXPECT_EQ(plugin->GetImplementedMethod(nullptr), S_FALSE);

  std::uint8_t buffer[4] = {};
  DWORD needed = 0;
  platform::SetLastError(0);
  EXPECT_EQ(plugin->GetInfo(OEMGI_GETSIGNATURE, buffer, 3, &needed), E_FAIL);
  EXPECT_EQ(needed, 4u);
  EXPECT_EQ(platform::GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  needed = 99;
  EXPECT_EQ(plugin->GetInfo(OEMGI_GETINTERFACEVERSION, buffer, 4, &needed), E_FAIL);
  EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(needed, 99u);
  EXPECT_EQ(plugin->GetInfo(OEMGI_GETSIGNATURE, buffer, 4, &needed), S_OK);
  EXPECT_EQ(std::memcmp(buffer, "QZTX", 4), 0);
  EXPECT_EQ(plugin->GetInfo(OEMGI_GETVERSION, buffer, 4, &needed), S_OK);
  EXPECT_EQ(le::U32(buffer), 1u);
}

// Driver services that count how often they are asked for their interface.
class CountingServices : public testing::FakeDriverServices {
 public:
  int queries = 0;
  HRESULT QueryInterface(const GUID& riid, void** ppv) override {
    ++queries;
    if (IsEqualGUID(riid, IID_IPrintOemDriverUni)) {
      *ppv = static_cast<IPrintOemDriverUni*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
};

TEST_F(Frame, PublishDriverInterfaceKeepsTheFirst) {
  CountingServices first, second;
  EXPECT_EQ(plugin->PublishDriverInterface(&first), S_OK);
  EXPECT_EQ(plugin->PublishDriverInterface(&second), S_OK);
  EXPECT_EQ(first.queries, 1);
  EXPECT_EQ(second.queries, 0);
  plugin->DisableDriver();  // lets go of `first` before it goes out of scope
}

TEST_F(Frame, CommandCallbackNeedsParametersAndARecord) {
  Enable();
  int result = 5;
  EXPECT_EQ(plugin->CommandCallback(&device, GPD_CMD_START_JOB, 0, nullptr, &result), S_OK);
  EXPECT_TRUE(services.written.empty());
  DWORD parameters[1] = {0};
  le::PutU32(record + 4, 0);  // the device mode no longer holds a valid record
  EXPECT_EQ(plugin->CommandCallback(&device, GPD_CMD_END_PAGE, 0, parameters, &result), S_OK);
  EXPECT_TRUE(services.written.empty());
  StampVendorHeader(record);
  EXPECT_EQ(plugin->CommandCallback(&device, GPD_CMD_END_PAGE, 0, parameters, &result), S_OK);
  EXPECT_EQ(services.written, (std::vector<std::uint8_t>{0xC1, 0x01, 0x00, 0xF8, 0x31, 0x44}));
  EXPECT_EQ(result, 0);
}

TEST_F(Frame, WritePrinterSendsOrDeletesTheCaptureJob) {
  // A user who only prints may delete their own capture job.
  spooler.grantedAccess = platform::PRINTER_ACCESS_USE;
  Enable();
  std::uint8_t data[] = {1, 2, 3};
  DWORD written = 0;
  EXPECT_EQ(plugin->WritePrinter(&device, data, 3, &written), S_OK);
  EXPECT_EQ(spooler.written, (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(written, 3u);

  settings().set_dwOverlayMode(CREATE_OVERLAY);
  EXPECT_EQ(plugin->WritePrinter(&device, data, 3, &written), S_OK);
  EXPECT_EQ(spooler.written.size(), 3u);  // nothing sent while capturing
  EXPECT_TRUE(spooler.deletedJobs.empty());

  pdev()->vendorData.dwJobId = jobId;
  pdev()->vendorData.dwOverlayCaptured = 1;
  EXPECT_EQ(plugin->WritePrinter(&device, data, 3, &written), S_OK);
  EXPECT_EQ(spooler.deletedJobs, (std::vector<DWORD>{jobId, jobId}));
  EXPECT_EQ(settings().dwOverlayMode(), NO_OVERLAY);
  EXPECT_EQ(spooler.written.size(), 3u);
  EXPECT_EQ(spooler.openHandles(), 1);  // the host's handle only

  spooler.failWritePrinter = true;
  EXPECT_EQ(plugin->WritePrinter(&device, data, 3, &written), E_FAIL);
  EXPECT_EQ(plugin->WritePrinter(nullptr, data, 3, &written), S_OK);
}

TEST_F(Frame, EnablePDEVSavesTheHostsFunctions) {
  Enable();
  EXPECT_EQ(pdev()->savedHostFunctions.DitherColor, reinterpret_cast<PFN>(&HostDitherColor));
  EXPECT_EQ(hookByIndex.count(INDEX_DrvDitherColor), 0u);  // saved, but not hooked
  EXPECT_EQ(pdev()->vendorData.szPrinterName, WString(VTEXT("P1")));
}

TEST_F(Frame, DocumentAndPageHooks) {
  Enable();
  auto startDoc = reinterpret_cast<PFN_DrvStartDoc>(hookByIndex.at(INDEX_DrvStartDoc));
  auto startPage = reinterpret_cast<PFN_DrvStartPage>(hookByIndex.at(INDEX_DrvStartPage));
  auto sendPage = reinterpret_cast<PFN_DrvSendPage>(hookByIndex.at(INDEX_DrvSendPage));
  WCHAR name[] = VTEXT("doc");
  EXPECT_EQ(startDoc(&surface, name, 0), 1);
  EXPECT_EQ(pdev()->vendorData.dwJobId, 0u);  // no event without a job id
  EXPECT_EQ(hostCalls.startDoc, 1);
  EXPECT_EQ(startDoc(&surface, name, jobId), 1);
  EXPECT_EQ(pdev()->vendorData.dwJobId, jobId);
  EXPECT_EQ(startPage(&surface), 1);
  EXPECT_EQ(sendPage(&surface), 1);
  EXPECT_EQ(pdev()->vendorData.dwPageNumber, 1u);
  // A job the spooler deletes stops at the next page.
  spooler.FindJob(jobId)->status = platform::JOB_STATUS_DELETING;
  EXPECT_EQ(startPage(&surface), 0);
  EXPECT_EQ(sendPage(&surface), 0);
  EXPECT_EQ(hostCalls.startPage, 1);
  EXPECT_EQ(hostCalls.sendPage, 1);
  EXPECT_EQ(pdev()->vendorData.dwPageNumber, 1u);
}

TEST_F(Frame, PrivateEscapes) {
  Enable();
  std::vector<std::uint8_t> four(4);
  le::PutU32(four.data(), 2);
  EXPECT_EQ(Escape(ESCAPE_SPECIAL_PAGE_KIND, four), 1u);
  EXPECT_EQ(settings().dwSpecialPageKind(), 2u);
  EXPECT_EQ(Escape(ESCAPE_SPECIAL_PAGE_KIND, {9, 9}), 1u);  // too short to carry a value
  EXPECT_EQ(settings().dwSpecialPageKind(), 2u);
  le::PutF32(four.data(), 0.5f);
  EXPECT_EQ(Escape(ESCAPE_SCALE, four), 1u);
  EXPECT_EQ(settings().fScale(), 0.5f);
  le::PutU32(four.data(), 12);
  EXPECT_EQ(Escape(ESCAPE_PAGE_TOTAL, four), 77u);
  EXPECT_EQ(pdev()->vendorData.dwTotalPages, 12u);
  EXPECT_EQ(Escape(ESCAPE_PAGES_PER_SHEET, {4, 0}), 77u);
  EXPECT_EQ(settings().vdmPagesPerSheet(), 4);
  EXPECT_EQ(settings().bPagesPerSheetFromApp(), 1);
  EXPECT_EQ(hostCalls.escape, 2);

  std::uint8_t out[8] = {};
  EXPECT_EQ(Escape(ESCAPE_WATERMARK_DC, {}, 4, out), 8u);
  EXPECT_EQ(std::vector<std::uint8_t>(out, out + 8), std::vector<std::uint8_t>(8, 0));
  EXPECT_EQ(Escape(ESCAPE_WATERMARK_DC, {}, 8, out), 8u);
  HANDLE* field = nullptr;
  std::memcpy(&field, out, sizeof field);
  EXPECT_EQ(field, &pdev()->vendorData.hWatermarkDC);
  EXPECT_EQ(Escape(12345, {}), 77u);
}

TEST_F(Frame, CellRectangles) {
  Enable();
  settings().set_vdmPagesPerSheet(4);
  settings().set_dwSpecialPageKind(0);
  for (int n = 1; n <= 5; ++n) EXPECT_EQ(Escape(ESCAPE_CELL_RECT, Rect(n)), 77u);
  VendorData& area = pdev()->vendorData;
  EXPECT_EQ(area.wCellRectCount, 5);
  EXPECT_EQ(area.pCellRects[0].left, 50);  // the fifth rectangle
  EXPECT_EQ(area.pCellRects[1].left, 20);

  // More pages per sheet after the list was sized: the list grows with them.
  EXPECT_EQ(Escape(ESCAPE_PAGES_PER_SHEET, {9, 0}), 77u);
  for (int n = 6; n <= 9; ++n) Escape(ESCAPE_CELL_RECT, Rect(n));
  EXPECT_GE(area.wCellRectCapacity, 9);
  EXPECT_EQ(area.pCellRects[8].left, 90);
  EXPECT_EQ(area.pCellRects[1].left, 20);  // earlier cells are kept

  settings().set_vdmPagesPerSheet(17);
  const int before = area.wCellRectCount;
  EXPECT_EQ(Escape(ESCAPE_CELL_RECT, Rect(10)), 1u);
  EXPECT_EQ(area.wCellRectCount, before);
  settings().set_vdmPagesPerSheet(4);
  settings().set_dwSpecialPageKind(1);
  EXPECT_EQ(Escape(ESCAPE_CELL_RECT, Rect(11)), 77u);  // passed on, not stored
  EXPECT_EQ(area.wCellRectCount, before);
  le::PutU32(record + 4, 0);  // no valid record any more
  EXPECT_EQ(Escape(ESCAPE_CELL_RECT, Rect(12)), 0u);
  EXPECT_EQ(Escape(ESCAPE_PAGES_PER_SHEET, {2, 0}), 0u);
}

// A paper change in the middle of a document, in the order Windows runs a ResetDC: the
// new device is enabled, takes the old one's state over, the old one is disabled and the
// document starts again on the new device with job id 0. The new device holds the
// document's cells, page number and job, and the document goes on there.
TEST_F(Frame, ResetHandsTheDocumentToTheNewDevice) {
  Enable();
  auto startDoc = reinterpret_cast<PFN_DrvStartDoc>(hookByIndex.at(INDEX_DrvStartDoc));
  auto startPage = reinterpret_cast<PFN_DrvStartPage>(hookByIndex.at(INDEX_DrvStartPage));
  settings().set_vdmPagesPerSheet(4);
  WCHAR name[] = VTEXT("doc");
  ASSERT_EQ(startDoc(&surface, name, jobId), 1);
  for (int n = 1; n <= 3; ++n) {
    startPage(&surface);
    Escape(ESCAPE_CELL_RECT, Rect(n));
  }
  const CellRect* cells = pdev()->vendorData.pCellRects.get();
  ASSERT_NE(cells, nullptr);

  std::vector<std::uint8_t> nextBytes = devmodeBytes;
  DEVOBJ next = device;
  next.pPublicDM = reinterpret_cast<DEVMODEW*>(nextBytes.data());
  next.pOEMDM = nextBytes.data() + (record - devmodeBytes.data());
  next.pdevOEM = nullptr;
  DRVENABLEDATA host{0x20000, static_cast<ULONG>(hostFunctions.size()), hostFunctions.data()};
  WCHAR printerName[] = VTEXT("P1");
  ASSERT_EQ(plugin->EnablePDEV(&next, printerName, 0, nullptr, 0, nullptr, 0, nullptr, &host, &next.pdevOEM), S_OK);
  ASSERT_EQ(plugin->ResetPDEV(&device, &next), S_OK);
  ASSERT_EQ(plugin->DisablePDEV(&device), S_OK);
  device.pdevOEM = nullptr;
  surface.dhpdev = &next;
  ASSERT_EQ(startDoc(&surface, nullptr, 0), 1);

  VendorData& area = static_cast<OemPdev*>(next.pdevOEM)->vendorData;
  EXPECT_EQ(area.pCellRects.get(), cells);
  EXPECT_EQ(area.wCellRectCount, 3);
  EXPECT_EQ(area.pCellRects[2].left, 30);
  EXPECT_EQ(area.dwPageNumber, 3u);
  EXPECT_EQ(area.dwJobId, jobId);
  startPage(&surface);
  Escape(ESCAPE_CELL_RECT, Rect(4));
  EXPECT_EQ(area.dwPageNumber, 4u);
  EXPECT_EQ(area.wCellRectCount, 4);
  EXPECT_EQ(area.pCellRects[0].left, 10);
  EXPECT_EQ(area.pCellRects[3].left, 40);
  plugin->DisablePDEV(&next);
}

TEST_F(Frame, BitBltHookCallsTheHost) {
  Enable();
  auto bitBlt = reinterpret_cast<PFN_DrvBitBlt>(hookByIndex.at(INDEX_DrvBitBlt));
  EXPECT_EQ(bitBlt(&surface, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0xF0F0),
            1);
  EXPECT_EQ(hostCalls.bitBlt, 1);
}

}  // namespace
}  // namespace velmora

// Fuzz target: the private escapes' input buffers, each of exactly the size given, in
// any order, then a page through the command callbacks, which use what they stored.
#include <map>
#include <vector>

#include "formats/le_bytes.h"
#include "formats/vendor_devmode.h"
#include "fuzz/fuzz_target.h"
#include "platform/fake/fake_services.h"
#include "src/frame/hooks.h"
#include "src/frame/plugin_object.h"
#include "src/job/vendor_protocol.h"
#include "tests/fakes/fake_driver_services.h"

namespace velmora::fuzz {
namespace {

ULONG HostEscape(SURFOBJ*, ULONG, ULONG, void*, ULONG, void*) { return 1; }
BOOL HostPage(SURFOBJ*) { return 1; }
BOOL HostStartDoc(SURFOBJ*, WCHAR*, DWORD) { return 1; }

constexpr ULONG kEscapes[] = {ESCAPE_SPECIAL_PAGE_KIND, ESCAPE_WATERMARK_DC,    ESCAPE_SCALE, ESCAPE_PAGE_TOTAL,
                              ESCAPE_CELL_RECT,         ESCAPE_PAGES_PER_SHEET, 4097};

void Entry(const std::uint8_t* data, std::size_t size) {
  platform::fake::FakeSpooler spooler;
  platform::fake::FakeEnvironment environment;
  platform::ScopedServices scoped{{&spooler, nullptr, &environment, nullptr}};
  testing::FakeDriverServices services;

  // The host's device mode with the plug-in's record, as the host builds it.
  std::vector<std::uint8_t> devmodeBytes(220 + 64 + kVendorRecordSize, 0);
  le::PutU16(devmodeBytes.data() + 68, 220);
  le::PutU16(devmodeBytes.data() + 70, 64 + kVendorRecordSize);
  le::PutU16(devmodeBytes.data() + 220 + 8, 64);
  std::uint8_t* record = devmodeBytes.data() + 220 + 64;
  StampVendorHeader(record);
  FillVendorDefaults(record + kVendorHeaderSize);
  auto* devmode = reinterpret_cast<DEVMODEW*>(devmodeBytes.data());
  devmode->dmCopies = 1;
  devmode->dmOrientation = 1;
  devmode->dmPrintQuality = 600;
  devmode->dmYResolution = 600;

  platform::JobInfo job;
  job.document = VTEXT("doc");
  const DWORD jobId = spooler.AddJob(VTEXT("P1"), job);
  HANDLE printer = spooler.Open(VTEXT("P1"), platform::PRINTER_ALL_ACCESS);
  DEVOBJ device{};
  device.dwSize = sizeof device;
  device.hPrinter = printer;
  device.pPublicDM = devmode;
  device.pOEMDM = record;
  SURFOBJ surface{};
  surface.dhpdev = &device;

  void* object = nullptr;
  if (GetClassObject(CLSID_OEMRENDER, IID_IClassFactory, &object) != S_OK) __builtin_trap();
  auto* factory = static_cast<IClassFactory*>(object);
  factory->CreateInstance(nullptr, IID_IPrintOemUni3, &object);
  factory->Release();
  auto* plugin = static_cast<IPrintOemUni3*>(object);
  plugin->PublishDriverInterface(&services);
  DRVENABLEDATA hooks{};
  plugin->EnableDriver(0x20000, sizeof hooks, &hooks);
  std::map<ULONG, PFN> hookByIndex;
  for (ULONG i = 0; i < hooks.c; ++i) hookByIndex[hooks.pdrvfn[i].iFunc] = hooks.pdrvfn[i].pfn;
  std::vector<DRVFN> hostFunctions = {
      {INDEX_DrvStartDoc, reinterpret_cast<PFN>(&HostStartDoc)},
      {INDEX_DrvStartPage, reinterpret_cast<PFN>(&HostPage)},
      {INDEX_DrvSendPage, reinterpret_cast<PFN>(&HostPage)},
      {INDEX_DrvEscape, reinterpret_cast<PFN>(&HostEscape)},
  };
  DRVENABLEDATA host{0x20000, static_cast<ULONG>(hostFunctions.size()), hostFunctions.data()};
  void* pdevOEM = nullptr;
  WCHAR name[] = VTEXT("P1");
  plugin->EnablePDEV(&device, name, 0, nullptr, 0, nullptr, 0, nullptr, &host, &pdevOEM);
  device.pdevOEM = pdevOEM;
  auto escape = reinterpret_cast<PFN_DrvEscape>(hookByIndex.at(INDEX_DrvEscape));

  // Escapes: a code, an input size, the input (a fresh buffer of exactly that size), an
  // output size.
  InputCursor input(data, size);
  int escapes = 0;
  while (input.restSize() > 0 && escapes++ < 64) {
    const ULONG code = kEscapes[input.Byte() % std::size(kEscapes)];
    // The size byte is read before what is left is measured (a function's arguments come
    // in no fixed order).
    const std::size_t wanted = input.Byte() % 40;
    const std::size_t inSize = std::min(wanted, input.restSize());
    std::vector<std::uint8_t> in(input.rest(), input.rest() + inSize);
    for (std::size_t i = 0; i < inSize; ++i) input.Byte();
    std::vector<std::uint8_t> out(input.Byte() % 24);
    escape(&surface, code, static_cast<ULONG>(in.size()), in.empty() ? nullptr : in.data(),
           static_cast<ULONG>(out.size()), out.empty() ? nullptr : out.data());
  }

  // One page, in the host's order, using what the escapes stored.
  auto startDoc = reinterpret_cast<PFN_DrvStartDoc>(hookByIndex.at(INDEX_DrvStartDoc));
  auto startPage = reinterpret_cast<PFN_DrvStartPage>(hookByIndex.at(INDEX_DrvStartPage));
  auto sendPage = reinterpret_cast<PFN_DrvSendPage>(hookByIndex.at(INDEX_DrvSendPage));
  WCHAR document[] = VTEXT("doc");
  startDoc(&surface, document, jobId);
  int result = 0;
  DWORD parameters[4] = {0, 0, 0, 0};
  for (DWORD id : {GPD_CMD_START_JOB, GPD_CMD_START_DOC}) plugin->CommandCallback(&device, id, 0, parameters, &result);
  startPage(&surface);
  for (DWORD id : {GPD_CMD_MEDIA_TRAY, GPD_CMD_MEDIA_TYPE, GPD_CMD_DUPLEX, GPD_CMD_START_PAGE, GPD_CMD_END_PAGE}) {
    plugin->CommandCallback(&device, id, 0, parameters, &result);
  }
  sendPage(&surface);
  for (DWORD id : {GPD_CMD_END_DOC, GPD_CMD_END_JOB}) plugin->CommandCallback(&device, id, 0, parameters, &result);
  plugin->DisablePDEV(&device);
  plugin->DisableDriver();
  plugin->Release();
}

std::vector<Seed> Seeds() {
  std::vector<std::uint8_t> fourPerSheet = {5, 2, 4, 0, 0};       // pages per sheet 4
  std::vector<std::uint8_t> kind = {0, 4, 2, 0, 0, 0, 0};         // special page kind 2
  std::vector<std::uint8_t> scale = {2, 4, 0, 0, 0x40, 0x3F, 0};  // scale 0.75
  std::vector<std::uint8_t> total = {3, 4, 9, 0, 0, 0, 0};        // 9 pages
  std::vector<std::uint8_t> cell = {4, 16, 1, 0, 0, 0, 2, 0, 0, 0, 100, 0, 0, 0, 200, 0, 0, 0, 0};
  std::vector<std::uint8_t> dc = {1, 0, 8};  // the watermark context's address
  std::vector<std::uint8_t> all;
  for (const auto* part : {&fourPerSheet, &kind, &scale, &total, &cell, &dc})
    all.insert(all.end(), part->begin(), part->end());
  return {{"pages-per-sheet", fourPerSheet}, {"cell-rect", cell}, {"all", all}};
}

VELMORA_FUZZ_TARGET(escapes, Entry, Seeds);

}  // namespace
}  // namespace velmora::fuzz

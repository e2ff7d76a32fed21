// One job's world for the job processor's tests: the spooler with its printer and job,
// the clock, the environment, the device figures, the host's driver services, and the
// job's device object, device mode, settings record and vendor area.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "formats/vendor_devmode.h"
#include "platform/fake/fake_services.h"
#include "src/job/unidrv_interface.h"
#include "tests/fakes/fake_driver_services.h"

namespace velmora::testing {

inline const WString kTestPrinter = VTEXT("Office Laser");

struct JobWorld {
  JobWorld() {
    clock.now = {2026, 12, 6, 9, 5, 3};
    platform::JobInfo job;
    job.document = VTEXT("Quarterly Report.pdf");
    job.machineName = VTEXT("\\\\WS-042");
    job.userName = VTEXT("anna");
    jobId = spooler.AddJob(kTestPrinter, job);
    printer = spooler.Open(kTestPrinter, platform::PRINTER_ALL_ACCESS);
    StampVendorHeader(record.data());
    FillVendorDefaults(body());
    devmode.dmSize = sizeof(DEVMODEW);
    devmode.dmOrientation = 1;
    devmode.dmDuplex = 1;
    devmode.dmCopies = 1;
    devmode.dmCollate = 0;
    devmode.dmDefaultSource = 260;
    devmode.dmPrintQuality = 600;
    devmode.dmYResolution = 600;
    services.options = {{"PaperSize", "A4"}, {"MediaType", "PLAIN"}, {"InputBin", "TRAY2"}};
    device.dwSize = sizeof device;
    device.hPrinter = printer;
    device.pPublicDM = &devmode;
    device.pOEMDM = record.data();
    ClearVendorData(area);
    platform::DeviceFigures figures;
    figures.xOffset = 99;
    figures.yOffset = 99;
    figures.xPrintArea = 4762;
    figures.yPrintArea = 6817;
    figures.xPhysicalArea = 4960;
    figures.yPhysicalArea = 7015;
    figures.xResolution = 600;
    figures.yResolution = 600;
    devices.figures = figures;
  }

  std::uint8_t* body() { return record.data() + kVendorHeaderSize; }
  VendorSettings settings() { return VendorSettings(body()); }

  // Enables the device on the vendor object and starts the document (event 35).
  void Start(CUnidrvInterface& vendor) {
    vendor.Initialize(&device, &services, printer, kTestPrinter.c_str(), nullptr, &devmode, body(), &area, nullptr);
    Event(vendor, 35);
  }
  HRESULT Event(CUnidrvInterface& vendor, DWORD event, DWORD job = 0) {
    std::uint8_t* stream = nullptr;
    DWORD size = 0, more = 0;
    void* cookie = nullptr;
    return vendor.GetPDLStreamForJobControlEvents(event, &stream, &size, &device, &area, VTEXT("doc"),
                                                  job != 0 ? job : jobId, printer, &devmode, body(), &more, &cookie);
  }
  HRESULT Callback(CUnidrvInterface& vendor, DWORD id) {
    std::uint8_t output[16];
    DWORD written = 0;
    return vendor.GPDCallbackCommand(&device, body(), &area, id, 0, nullptr, output, sizeof output, &written);
  }
  // What was written since the last call.
  std::vector<std::uint8_t> Take() {
    std::vector<std::uint8_t> bytes;
    bytes.swap(services.written);
    services.writes.clear();
    return bytes;
  }

  platform::fake::FakeSpooler spooler;
  platform::fake::FakeClock clock;
  platform::fake::FakeEnvironment environment;
  platform::fake::FakeDeviceCapabilities devices;
  platform::ScopedServices scoped{{&spooler, &clock, &environment, &devices}};
  FakeDriverServices services;
  std::array<std::uint8_t, kVendorRecordSize> record{};
  DEVMODEW devmode{};
  DEVOBJ device{};
  VendorData area{};
  DWORD jobId = 0;
  HANDLE printer = nullptr;
};

using Bytes = std::vector<std::uint8_t>;

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

inline Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

}  // namespace velmora::testing

// In-memory fakes of the platform services, for tests.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/services.h"

namespace velmora::platform::fake {

// A spooler with printers, printer data and jobs held in memory.
class FakeSpooler : public Spooler {
 public:
  struct Printer {
    std::map<WString, PrinterValue> data;
  };

  // Adds a printer (or returns the existing one) for tests to fill.
  Printer& AddPrinter(const WString& name);
  // Adds a job to a printer; returns its id.
  DWORD AddJob(const WString& printer, JobInfo info);
  // The job record, for tests to change (status) or inspect.
  JobInfo* FindJob(DWORD jobId);

  // Every byte Write accepted, in order.
  std::vector<std::uint8_t> written;
  // Job ids passed to DeleteJob, in call order.
  std::vector<DWORD> deletedJobs;
  // When set, Job fails for every job.
  bool failGetJob = false;
  // When set, Write fails.
  bool failWritePrinter = false;
  std::optional<DWORD> clientProcessId;
  // The rights this user gets: Open fails when it asks for more, and only a handle with
  // PRINTER_ACCESS_ADMINISTER writes printer data. A standard user has PRINTER_ACCESS_USE.
  DWORD grantedAccess = PRINTER_ALL_ACCESS;

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

  // Number of handles currently open.
  int openHandles() const { return static_cast<int>(handles_.size()); }

 private:
  struct Handle {
    WString printer;
    DWORD access = 0;
  };
  Handle* Find(HANDLE printer);

  std::map<WString, Printer> printers_;
  std::map<DWORD, JobInfo> jobs_;
  std::vector<std::unique_ptr<Handle>> handles_;
  DWORD nextJobId_ = 1;
};

// A clock that answers a time set by the test.
class FakeClock : public Clock {
 public:
  LocalTime now;
  LocalTime Now() override { return now; }
};

// An environment whose folders, switches and process names are set by the test.
class FakeEnvironment : public Environment {
 public:
  std::optional<WString> appDataFolder;
  WString tempFolder;
  std::map<WString, MachineSwitch> switches;  // missing name: store readable, no value
  bool storeReadable = true;
  WString processName = VTEXT("velmora_tests");
  std::map<DWORD, WString> processNames;
  int switchReads = 0;  // how often ReadMachineSwitch was asked

  std::optional<WString> LocalAppDataFolder() override { return appDataFolder; }
  WString TempFolder() override { return tempFolder; }
  MachineSwitch ReadMachineSwitch(const WString& name) override;
  WString CurrentProcessName() override { return processName; }
  std::optional<WString> ProcessName(DWORD processId) override;
};

}  // namespace velmora::platform::fake

namespace velmora::platform::fake {

// Device figures set by the test; nothing while unset.
class FakeDeviceCapabilities : public DeviceCapabilities {
 public:
  std::optional<DeviceFigures> figures;
  PageSetup lastSetup;
  WString lastPrinter;
  std::optional<DeviceFigures> Figures(const WString& printerName, const PageSetup& setup) override {
    lastPrinter = printerName;
    lastSetup = setup;
    return figures;
  }
};

}  // namespace velmora::platform::fake

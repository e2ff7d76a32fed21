// In-memory fakes of the platform services, for tests.
#include "platform/fake/fake_services.h"

#include <algorithm>
#include <cstring>

namespace velmora::platform::fake {

FakeSpooler::Printer& FakeSpooler::AddPrinter(const WString& name) { return printers_[name]; }

DWORD FakeSpooler::AddJob(const WString& printer, JobInfo info) {
  AddPrinter(printer);
  info.jobId = nextJobId_++;
  if (!info.printerName) info.printerName = printer;
  jobs_[info.jobId] = info;
  return info.jobId;
}

JobInfo* FakeSpooler::FindJob(DWORD jobId) {
  auto it = jobs_.find(jobId);
  return it == jobs_.end() ? nullptr : &it->second;
}

FakeSpooler::Handle* FakeSpooler::Find(HANDLE printer) {
  for (auto& handle : handles_) {
    if (handle.get() == printer) return handle.get();
  }
  return nullptr;
}

HANDLE FakeSpooler::Open(const WString& printerName, DWORD desiredAccess) {
  if (printers_.find(printerName) == printers_.end()) return nullptr;
  if ((desiredAccess & ~grantedAccess) != 0) return nullptr;
  handles_.push_back(std::make_unique<Handle>(Handle{printerName, desiredAccess}));
  return handles_.back().get();
}

bool FakeSpooler::Close(HANDLE printer) {
  auto it =
      std::find_if(handles_.begin(), handles_.end(), [printer](const auto& handle) { return handle.get() == printer; });
  if (it == handles_.end()) return false;
  handles_.erase(it);
  return true;
}

std::optional<WString> FakeSpooler::PrinterName(HANDLE printer) {
  Handle* handle = Find(printer);
  if (handle == nullptr) return std::nullopt;
  return handle->printer;
}

std::optional<JobInfo> FakeSpooler::Job(HANDLE printer, DWORD jobId) {
  if (failGetJob || Find(printer) == nullptr) return std::nullopt;
  auto it = jobs_.find(jobId);
  if (it == jobs_.end()) return std::nullopt;
  return it->second;
}

std::optional<PrinterValue> FakeSpooler::ReadPrinterData(HANDLE printer, const WString& valueName) {
  Handle* handle = Find(printer);
  if (handle == nullptr) return std::nullopt;
  const auto& data = printers_[handle->printer].data;
  auto it = data.find(valueName);
  if (it == data.end()) return std::nullopt;
  return it->second;
}

bool FakeSpooler::WritePrinterData(HANDLE printer, const WString& valueName, const PrinterValue& value) {
  Handle* handle = Find(printer);
  if (handle == nullptr || (handle->access & PRINTER_ACCESS_ADMINISTER) == 0) return false;
  printers_[handle->printer].data[valueName] = value;
  return true;
}

bool FakeSpooler::DeleteJob(HANDLE printer, DWORD jobId) {
  if (Find(printer) == nullptr) return false;
  deletedJobs.push_back(jobId);
  auto it = jobs_.find(jobId);
  if (it == jobs_.end()) return false;
  it->second.status |= JOB_STATUS_DELETED;
  return true;
}

DWORD FakeSpooler::StartDocument(HANDLE printer, const DocInfo& doc) {
  Handle* handle = Find(printer);
  if (handle == nullptr) return 0;
  JobInfo info;
  info.document = doc.documentName;
  if (!doc.userName.empty()) info.userName = doc.userName;
  if (!doc.machineName.empty()) info.machineName = doc.machineName;
  if (doc.jobId != 0) {
    // A requested id is taken unless a job holds it; later ids follow it.
    if (jobs_.count(doc.jobId) != 0) return 0;
    nextJobId_ = std::max(nextJobId_, doc.jobId);
  }
  return AddJob(handle->printer, info);
}

bool FakeSpooler::EndDocument(HANDLE printer) { return Find(printer) != nullptr; }

bool FakeSpooler::Write(HANDLE printer, const void* bytes, DWORD count, DWORD* writtenCount) {
  if (writtenCount != nullptr) *writtenCount = 0;
  if (failWritePrinter || Find(printer) == nullptr) return false;
  const auto* first = static_cast<const std::uint8_t*>(bytes);
  written.insert(written.end(), first, first + count);
  if (writtenCount != nullptr) *writtenCount = count;
  return true;
}

std::optional<DWORD> FakeSpooler::ClientProcessId() { return clientProcessId; }

MachineSwitch FakeEnvironment::ReadMachineSwitch(const WString& name) {
  ++switchReads;
  if (!storeReadable) return MachineSwitch{false, std::nullopt};
  auto it = switches.find(name);
  if (it == switches.end()) return MachineSwitch{true, std::nullopt};
  return it->second;
}

std::optional<WString> FakeEnvironment::ProcessName(DWORD processId) {
  auto it = processNames.find(processId);
  if (it == processNames.end()) return std::nullopt;
  return it->second;
}

}  // namespace velmora::platform::fake

// Placeholder until the printer store lands: every operation fails.
#include "platform/posix/spooler_store.h"

#include <cstdlib>

namespace velmora::platform::posix {

std::string StorePath() {
  if (const char* path = std::getenv("VELMORA_STORE")) return path;
  return {};
}
HANDLE StoreSpooler::Open(const WString&, DWORD) { return nullptr; }
bool StoreSpooler::Close(HANDLE) { return false; }
std::optional<WString> StoreSpooler::PrinterName(HANDLE) { return std::nullopt; }
std::optional<JobInfo> StoreSpooler::Job(HANDLE, DWORD) { return std::nullopt; }
std::optional<PrinterValue> StoreSpooler::ReadPrinterData(HANDLE, const WString&) { return std::nullopt; }
bool StoreSpooler::WritePrinterData(HANDLE, const WString&, const PrinterValue&) { return false; }
bool StoreSpooler::DeleteJob(HANDLE, DWORD) { return false; }
DWORD StoreSpooler::StartDocument(HANDLE, const DocInfo&) { return 0; }
bool StoreSpooler::EndDocument(HANDLE) { return false; }
bool StoreSpooler::Write(HANDLE, const void*, DWORD, DWORD*) { return false; }
std::optional<DWORD> StoreSpooler::ClientProcessId() { return std::nullopt; }
MachineSwitch ReadStoreMachineSwitch(const WString&) { return MachineSwitch{false, std::nullopt}; }

}  // namespace velmora::platform::posix

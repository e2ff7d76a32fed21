// A claimed work file on Windows: created new and held open without sharing, so that no
// other handle, in this process or another, opens, renames or deletes it while it is
// held. The system closes the handle when the process ends, however it ends.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/claimed_file.h"
#include "platform/win32/system_message.h"

namespace velmora::platform {
namespace {

// Characters of a path the ordinary file calls take, without the terminator.
constexpr std::size_t kPathLimit = MAX_PATH - 1;
// How often a work file left by an ended job is removed before the name counts as taken:
// each removal lets one other job in, so a name that keeps being taken is busy.
constexpr int kClaimAttempts = 3;

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// FNV-1a over the upper-cased name: one value for every spelling of a file name, which
// the file system does not tell apart.
std::uint64_t NameHash(WString name) {
  if (!name.empty()) ::CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
  std::uint64_t hash = 14695981039346656037ull;
  for (wchar_t unit : name) {
    hash ^= static_cast<std::uint16_t>(unit);
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace

WString ClaimedFile::WorkPath(const WString& finalPath) {
  WString work = finalPath + L".capture";
  if (work.size() <= kPathLimit) return work;
  // An overlay path may use the whole limit, but its folder part is short (at most 129
  // characters): a name of fixed length in that folder always fits.
  const std::size_t separator = finalPath.find_last_of(L"\\/");
  const std::size_t nameAt = separator == WString::npos ? 0 : separator + 1;
  const std::uint64_t hash = NameHash(finalPath.substr(nameAt));
  WString name = L"~";
  for (int shift = 60; shift >= 0; shift -= 4) name.push_back(L"0123456789abcdef"[(hash >> shift) & 0xF]);
  return finalPath.substr(0, nameAt) + name + L".capture";
}

bool ClaimedFile::Fail() {
  errorCode_ = ::GetLastError();
  reason_ = win32::SystemMessage(errorCode_);
  return false;
}

ClaimedFile::Claim ClaimedFile::Create(const WString& finalPath) {
  Remove();
  finalPath_ = finalPath;
  workPath_ = WorkPath(finalPath);
  for (int attempt = 0; attempt < kClaimAttempts; ++attempt) {
    // Without sharing, and with the right to rename and delete it through this handle.
    HANDLE file = ::CreateFileW(workPath_.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<std::intptr_t>(file);
      return Claim::kClaimed;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      Fail();
      return Claim::kFailed;
    }
    // A work file exists: a job holds it open, or one that ended left it. Only a file that
    // nobody holds can be deleted.
    if (::DeleteFileW(workPath_.c_str())) continue;
    const DWORD deleteError = ::GetLastError();
    if (deleteError == ERROR_FILE_NOT_FOUND) continue;  // finished or removed meanwhile
    if (deleteError == ERROR_SHARING_VIOLATION || deleteError == ERROR_ACCESS_DENIED) return Claim::kTaken;
    Fail();
    return Claim::kFailed;
  }
  return Claim::kTaken;
}

bool ClaimedFile::Write(const void* bytes, std::size_t count) {
  if (!held()) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return Fail();
  }
  const auto* next = static_cast<const std::uint8_t*>(bytes);
  while (count > 0) {
    const DWORD chunk = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
    DWORD written = 0;
    if (!::WriteFile(AsHandle(handle_), next, chunk, &written, nullptr)) return Fail();
    if (written == 0) {
      ::SetLastError(ERROR_WRITE_FAULT);
      return Fail();
    }
    next += written;
    count -= written;
  }
  return true;
}

bool ClaimedFile::MoveIntoPlace() {
  if (!held()) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return Fail();
  }
  HANDLE file = AsHandle(handle_);
  // The overlay appears under its name only with all its bytes on the disk.
  if (!::FlushFileBuffers(file)) return Fail();
  // Renamed through its own handle, so that the file is never without its holder: a job
  // that found it closed under the work name would take it for one left behind.
  std::vector<std::uint8_t> buffer(sizeof(FILE_RENAME_INFO) + finalPath_.size() * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(finalPath_.size() * sizeof(wchar_t));
  std::memcpy(rename->FileName, finalPath_.c_str(), (finalPath_.size() + 1) * sizeof(wchar_t));
  if (!::SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))) return Fail();
  ::CloseHandle(file);
  handle_ = kNoHandle;
  return true;
}

void ClaimedFile::Remove() {
  if (!held()) return;
  HANDLE file = AsHandle(handle_);
  handle_ = kNoHandle;
  // Deleted through its own handle: the name goes as the handle closes.
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  const bool marked = ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
  ::CloseHandle(file);
  if (!marked) ::DeleteFileW(workPath_.c_str());
}

}  // namespace velmora::platform

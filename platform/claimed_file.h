// A file that one job writes under a work name beside its final name, and puts under the
// final name once it is complete. While the job writes it, the work name is claimed: every
// other job, in this process or in another, finds it taken. The claim is the open file
// itself (a lock on it on POSIX, its sharing mode on Windows), so it ends with the process
// that holds it: a work file left by a process that was killed is no claim, and the next
// job removes it and starts anew.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/types.h"

namespace velmora::platform {

class ClaimedFile {
 public:
  enum class Claim {
    kClaimed,  // the work file is new, empty and ours
    kTaken,    // another job holds the work file
    kFailed,   // the work file cannot be created; see reason()
  };

  ClaimedFile() = default;
  // An unfinished work file is removed.
  ~ClaimedFile() { Remove(); }
  ClaimedFile(const ClaimedFile&) = delete;
  ClaimedFile& operator=(const ClaimedFile&) = delete;

  // The work name of a file bound for `finalPath`: beside it, the final name followed by
  // ".capture". On Windows, where that would pass the path limit, a short name in the
  // same folder made from the final name.
  static WString WorkPath(const WString& finalPath);

  // Creates the work file of `finalPath` as a new, empty file and claims it, giving up any
  // file this object held before.
  Claim Create(const WString& finalPath);

  // Appends bytes to the work file. False, with the reason, when they are not all written.
  bool Write(const void* bytes, std::size_t count);

  // Puts the work file, with its data on the disk, under its final name, never replacing
  // a file there, and ends the claim. False, with the reason, when it cannot; the work
  // file then stays claimed until Remove.
  bool MoveIntoPlace();

  // Removes the work file and ends the claim; does nothing when no file is held.
  void Remove();

  bool held() const { return handle_ != kNoHandle; }
  const WString& workPath() const { return workPath_; }
  // Why the last call failed: the system's words, and the thread error code that stands
  // for it (a published Windows value).
  const std::string& reason() const { return reason_; }
  DWORD errorCode() const { return errorCode_; }

 private:
  static constexpr std::intptr_t kNoHandle = -1;
  // Records the reason of a failed system call (errno on POSIX, the last error on
  // Windows); returns false.
  bool Fail();

  std::intptr_t handle_ = kNoHandle;  // a file descriptor on POSIX, a HANDLE on Windows
  WString finalPath_;
  WString workPath_;
  std::string reason_;
  DWORD errorCode_ = 0;
};

}  // namespace velmora::platform

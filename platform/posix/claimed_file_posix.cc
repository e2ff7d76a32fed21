// A claimed work file on POSIX: created exclusively and held by a lock on its open file
// description, which the system drops when the process ends, however it ends.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/claimed_file.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/text_encoding.h"

namespace velmora::platform {
namespace {

constexpr DWORD kErrorWriteFault = 29;  // ERROR_WRITE_FAULT
constexpr DWORD kErrorDiskFull = 112;   // ERROR_DISK_FULL
// How often a work file left by an ended job is removed before the name counts as taken:
// each removal lets one other job in, so a name that keeps being taken is busy.
constexpr int kClaimAttempts = 3;

// Locks the whole file for this open file description, without waiting: false when
// another description holds it (errno EAGAIN or EACCES) or locks are not to be had. A
// lock of the open file description, unlike a process's record lock, also keeps two
// descriptions of one process apart, and works on network file systems too.
bool LockFile(int fd) {
#ifdef F_OFD_SETLK
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return true;
  if (errno != EINVAL) return false;
#endif
  // A system without such locks: the lock of flock(), also one per open file description.
  return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

bool Busy(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EACCES; }

// True when `fd` is the file that `path` names now.
bool IsFileAt(int fd, const std::string& path) {
  struct stat open {
  }, named{};
  return ::fstat(fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
         open.st_ino == named.st_ino;
}

}  // namespace

WString ClaimedFile::WorkPath(const WString& finalPath) { return finalPath + VTEXT(".capture"); }

bool ClaimedFile::Fail() {
  const int error = errno;
  reason_ = ErrnoText(error);
  errorCode_ = error == ENOSPC || error == EDQUOT ? kErrorDiskFull : kErrorWriteFault;
  return false;
}

ClaimedFile::Claim ClaimedFile::Create(const WString& finalPath) {
  Remove();
  finalPath_ = finalPath;
  workPath_ = WorkPath(finalPath);
  const std::string work = Utf16ToUtf8(workPath_);
  for (int attempt = 0; attempt < kClaimAttempts; ++attempt) {
    const int fd = ::open(work.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      if (LockFile(fd)) {
        // Another job may have taken the new file for one left behind in the moment
        // between its creation and the lock, and removed it: the claim holds only while
        // the name still means this file.
        if (IsFileAt(fd, work)) {
          handle_ = fd;
          return Claim::kClaimed;
        }
        ::close(fd);
        continue;
      }
      // Another job holds the new file, taken for one left behind; it is that job's now.
      // Without locks the file stays nobody's: it goes again.
      const bool busy = Busy(errno);
      if (!busy) {
        Fail();
        if (IsFileAt(fd, work)) ::unlink(work.c_str());
      }
      ::close(fd);
      return busy ? Claim::kTaken : Claim::kFailed;
    }
    if (errno != EEXIST) {
      Fail();
      return Claim::kFailed;
    }

    // A work file exists: a job holds it, or one that ended left it.
    const int existing = ::open(work.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (existing < 0) {
      if (errno == ENOENT) continue;  // finished or removed meanwhile
      Fail();
      return Claim::kFailed;
    }
    if (!LockFile(existing)) {
      const bool busy = Busy(errno);
      if (!busy) Fail();
      ::close(existing);
      return busy ? Claim::kTaken : Claim::kFailed;
    }
    // Nobody holds it: the job that wrote it ended without finishing. It goes, unless the
    // name meanwhile came to mean another file.
    if (IsFileAt(existing, work)) ::unlink(work.c_str());
    ::close(existing);
  }
  return Claim::kTaken;
}

bool ClaimedFile::Write(const void* bytes, std::size_t count) {
  if (!held()) {
    errno = EBADF;
    return Fail();
  }
  const auto* next = static_cast<const char*>(bytes);
  while (count > 0) {
    const ssize_t written = ::write(static_cast<int>(handle_), next, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return Fail();
    }
    next += written;
    count -= static_cast<std::size_t>(written);
  }
  return true;
}

bool ClaimedFile::MoveIntoPlace() {
  if (!held()) {
    errno = EBADF;
    return Fail();
  }
  // The overlay appears under its name only with all its bytes on the disk; the lock is
  // held until the work name is gone, so that no other job takes the file for one left
  // behind.
  if (::fsync(static_cast<int>(handle_)) != 0 && errno != EINVAL) return Fail();
  if (!MoveNewFileW(workPath_, finalPath_)) return Fail();
  ::close(static_cast<int>(handle_));
  handle_ = kNoHandle;
  return true;
}

void ClaimedFile::Remove() {
  if (!held()) return;
  ::unlink(Utf16ToUtf8(workPath_).c_str());
  ::close(static_cast<int>(handle_));
  handle_ = kNoHandle;
}

}  // namespace velmora::platform

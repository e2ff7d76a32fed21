// An open C stream the plug-in owns: closed when it goes, or at once with Close(), which
// says whether the close kept every byte written.
#pragma once

#include <cstdio>
#include <utility>

namespace velmora {

class FileHandle {
 public:
  explicit FileHandle(std::FILE* file) : file_(file) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  std::FILE* get() const { return file_; }
  explicit operator bool() const { return file_ != nullptr; }
  // Closes the stream; false when closing lost written bytes (or it was not open).
  bool Close() {
    std::FILE* file = std::exchange(file_, nullptr);
    return file != nullptr && std::fclose(file) == 0;
  }

 private:
  std::FILE* file_;
};

}  // namespace velmora

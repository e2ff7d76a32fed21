// Whole-file reads and atomic whole-file writes for the command-line program.
#include "tools/velmora/file_io.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <filesystem>
#include <system_error>

#include "platform/files.h"

namespace velmora::cli {
namespace {

std::string Reason() { return platform::ErrnoText(errno); }

// Closes the file when the scope ends.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::status(platform::PathFromUtf8(path), error);
  if (!error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    throw CommandError("Unable to read '" + path + "': not a regular file");
  }
  File file(platform::OpenFile(path, "rb"));
  if (!file) throw CommandError("Unable to open '" + path + "': " + Reason());
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[65536];
  while (true) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
    bytes.insert(bytes.end(), buffer, buffer + got);
    if (got == sizeof buffer) continue;
    if (std::ferror(file.get()) != 0) throw CommandError("Unable to read '" + path + "': " + Reason());
    break;
  }
  return bytes;
}

std::vector<std::uint8_t> ReadStandardInput() {
  platform::SetStandardInputBinary();
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[65536];
  while (true) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, stdin);
    bytes.insert(bytes.end(), buffer, buffer + got);
    if (got == sizeof buffer) continue;
    if (std::ferror(stdin) != 0) throw CommandError("Unable to read standard input: " + Reason());
    break;
  }
  return bytes;
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(platform::PathFromUtf8(path), error);
}

void WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::string reason;
  const std::optional<std::string> temporary = platform::CreateUniqueFile(path + ".", &reason);
  if (!temporary) throw CommandError("Unable to create '" + path + "': " + reason);
  const auto fail = [&](const std::string& why) {
    std::error_code ignored;
    std::filesystem::remove(platform::PathFromUtf8(*temporary), ignored);
    throw CommandError("Unable to write '" + path + "': " + why);
  };
  File file(platform::OpenFile(*temporary, "wb"));
  if (!file) fail(Reason());
  if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() || !platform::FlushToDisk(file.get())) {
    const std::string why = Reason();
    file.reset();
    fail(why);
  }
  if (std::fclose(file.release()) != 0) fail(Reason());
  if (!platform::MoveIntoPlace(*temporary, path, &reason)) fail(reason);
}

}  // namespace velmora::cli

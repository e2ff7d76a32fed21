// The job's output: a temporary file renamed into place, copied to standard output or
// sent to a printer's socket when the job completed.
#include "host/job_output.h"

#include <cstdio>
#include <filesystem>

#include "host/host_error.h"
#include "platform/files.h"

namespace velmora::host {
namespace {

constexpr std::string_view kSocketScheme = "socket://";

// Reads the temporary file and hands it to `send` in chunks; the reason in *error.
template <typename Send>
bool StreamFile(const std::string& path, Send send, std::string* error) {
  std::FILE* file = platform::OpenFile(path, "rb");
  if (file == nullptr) {
    *error = platform::ErrnoText(errno);
    return false;
  }
  std::uint8_t buffer[65536];
  bool ok = true;
  while (ok) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
    if (got > 0) ok = send(buffer, got, error);
    if (got < sizeof buffer) break;
  }
  if (ok && std::ferror(file) != 0) {
    *error = platform::ErrnoText(errno);
    ok = false;
  }
  std::fclose(file);
  return ok;
}

// Removes the temporary files that earlier runs writing `output` left in `folder` when
// they were killed: ".NAME.PID.XXXXXX" whose process is gone. A run still writing keeps
// its file.
void RemoveAbandonedTemporaries(const std::filesystem::path& folder, const std::string& name) {
  const std::string prefix = "." + name + ".";
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string entry = platform::PathToUtf8(it->path().filename());
    if (!entry.starts_with(prefix)) continue;
    const std::string rest = entry.substr(prefix.size());
    const std::size_t dot = rest.find('.');
    if (dot == std::string::npos || dot == 0 || platform::ProcessIsRunning(rest.substr(0, dot))) continue;
    std::error_code ignored;
    std::filesystem::remove(it->path(), ignored);
  }
}

}  // namespace

std::optional<SocketAddress> ParseSocketOutput(const std::string& output) {
  if (!output.starts_with(kSocketScheme)) return std::nullopt;
  std::string rest = output.substr(kSocketScheme.size());
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  SocketAddress address;
  std::optional<std::string> portText;
  if (rest.starts_with("[")) {
    // An IPv6 address in brackets, as in a URI.
    const std::size_t close = rest.find(']');
    if (close == std::string::npos) throw HostError("Output '" + output + "': no ']' after the IPv6 address");
    address.host = rest.substr(1, close - 1);
    const std::string after = rest.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') throw HostError("Output '" + output + "': expected ':PORT' after ']'");
      portText = after.substr(1);
    }
  } else if (const std::size_t colon = rest.rfind(':'); colon != std::string::npos) {
    address.host = rest.substr(0, colon);
    portText = rest.substr(colon + 1);
  } else {
    address.host = rest;
  }
  if (address.host.empty()) throw HostError("Output '" + output + "' names no host (socket://HOST[:PORT])");
  if (portText) {
    const bool digits =
        !portText->empty() && portText->size() <= 5 && portText->find_first_not_of("0123456789") == std::string::npos;
    const long port = digits ? std::stol(*portText) : 0;
    if (port < 1 || port > 65535) throw HostError("Output '" + output + "': the port is a number from 1 to 65535");
    address.port = static_cast<std::uint16_t>(port);
  }
  return address;
}

JobOutput::JobOutput(const std::string& output, int connectTimeoutSeconds) : output_(output) {
  if (output.empty()) throw HostError("No output named");
  namespace fs = std::filesystem;
  std::string reason;
  const std::optional<SocketAddress> socket = ParseSocketOutput(output);
  if (socket) {
    // The printer is reached before anything is rendered, so that an unreachable printer
    // fails the job at once.
    socket_ = platform::ConnectRawSocket(socket->host, socket->port, connectTimeoutSeconds * 1000, &reason);
    if (!socket_) {
      throw HostError("Unable to connect to printer " + socket->host + " port " + std::to_string(socket->port) + ": " +
                      reason);
    }
  }
  if (socket || output == "-") {
    toStandardOutput_ = !socket;
    if (toStandardOutput_ && platform::SpoolerWritesStandardOutput()) return;
    // The spooler writes files only: the job goes to a temporary file first and is
    // copied out when complete.
    std::error_code error;
    const fs::path folder = fs::temp_directory_path(error);
    auto temporary = platform::CreateUniqueFile(platform::PathToUtf8(folder / "velmora-job."), &reason);
    if (!temporary) {
      throw HostError("Unable to create a temporary file in '" + platform::PathToUtf8(folder) + "': " + reason);
    }
    temporary_ = *temporary;
    return;
  }
  const fs::path path = platform::PathFromUtf8(output);
  // The spooler may write from another process with another working folder: it gets
  // the temporary file's whole path.
  std::error_code error;
  const fs::path folder = fs::absolute(path.has_parent_path() ? path.parent_path() : fs::path("."), error);
  if (error) throw HostError("Unable to create output '" + output + "': " + error.message());
  // The temporary name carries this process's id, so that a later run removes it when
  // this one is killed before it could.
  const std::string name = platform::PathToUtf8(path.filename());
  RemoveAbandonedTemporaries(folder, name);
  auto temporary = platform::CreateUniqueFile(
      platform::PathToUtf8(folder / platform::PathFromUtf8("." + name + "." + platform::CurrentProcessTag() + ".")),
      &reason);
  if (!temporary) throw HostError("Unable to create output '" + output + "': " + reason);
  temporary_ = *temporary;
}

JobOutput::~JobOutput() {
  const bool renamed = committed_ && !toStandardOutput_ && !socket_;
  if (temporary_.empty() || renamed) return;
  std::error_code ignored;
  std::filesystem::remove(platform::PathFromUtf8(temporary_), ignored);
}

void JobOutput::Commit() {
  std::string reason;
  if (socket_) {
    const auto send = [this](const std::uint8_t* bytes, std::size_t count, std::string* error) {
      return socket_->SendAll(bytes, count, error);
    };
    if (!StreamFile(temporary_, send, &reason) || !socket_->Finish(&reason)) {
      throw HostError("Unable to send the job to '" + output_ + "': " + reason);
    }
    committed_ = true;
    return;
  }
  if (toStandardOutput_) {
    if (!temporary_.empty() && !platform::CopyToStandardOutput(temporary_, &reason)) {
      throw HostError("Unable to write the job to standard output: " + reason);
    }
    committed_ = true;
    return;
  }
  if (!platform::MoveIntoPlace(temporary_, output_, &reason)) {
    throw HostError("Unable to write output '" + output_ + "': " + reason);
  }
  committed_ = true;
}

}  // namespace velmora::host

// A job's PIN lives in this process only. PAPPL copies job-password into the job's
// attributes, which it hands to any client that asks for them and writes into the job's
// attribute file; once PAPPL has created the job, the value is taken out and the attribute
// is moved out of the job group, which PAPPL copies into responses. PAPPL also logs every
// request attribute at the debug level, so the process's standard error, where PAPPL
// logs, goes through a filter that hides the value.
#include "tools/printer_app/secrets.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

namespace velmora::printer_app {
namespace {

constexpr const char* kPinAttribute = "job-password";

struct Vault {
  std::mutex mutex;
  std::map<std::pair<int, int>, std::string> pins;  // by printer id and job id
};

// Never destroyed: PAPPL's threads may still report events while the program ends.
Vault& TheVault() {
  static Vault* vault = new Vault;
  return *vault;
}

std::pair<int, int> KeyOf(pappl_job_t* job) { return {papplPrinterGetID(papplJobGetPrinter(job)), papplJobGetID(job)}; }

// Takes the new job's PIN and leaves its attribute empty and outside the job group.
void TakePin(pappl_job_t* job) {
  ipp_attribute_t* attribute = papplJobGetAttribute(job, kPinAttribute);
  if (attribute == nullptr) return;
  std::string pin;
  // CUPS changes an attribute only through a message, of which it checks no more than
  // that there is one; the attribute belongs to the job's own message.
  ipp_t* holder = ippNew();
  if (ippGetValueTag(attribute) == IPP_TAG_STRING) {
    int length = 0;
    void* bytes = const_cast<void*>(ippGetOctetString(attribute, 0, &length));
    if (bytes != nullptr && length > 0) {
      pin.assign(static_cast<const char*>(bytes), static_cast<std::size_t>(length));
      std::memset(bytes, 0, static_cast<std::size_t>(length));
    }
    ippSetOctetString(holder, &attribute, 0, nullptr, 0);
  } else if (const char* text = ippGetString(attribute, 0, nullptr)) {
    pin = text;
    ippSetString(holder, &attribute, 0, "");
  }
  ippSetGroupTag(holder, &attribute, IPP_TAG_OPERATION);
  ippDelete(holder);
  std::lock_guard lock(TheVault().mutex);
  TheVault().pins[KeyOf(job)] = std::move(pin);
}

void ForgetPin(pappl_job_t* job) {
  std::lock_guard lock(TheVault().mutex);
  auto found = TheVault().pins.find(KeyOf(job));
  if (found == TheVault().pins.end()) return;
  std::fill(found->second.begin(), found->second.end(), '\0');
  TheVault().pins.erase(found);
}

// ---- The log filter ------------------------------------------------------------------

struct LogFilter {
  int input = -1;   // the read end of the pipe standard error now writes into
  int output = -1;  // where filtered lines go; -1 for syslog
  std::thread reader;
};

LogFilter& TheFilter() {
  static LogFilter* filter = new LogFilter;
  return *filter;
}

void WriteAll(int fd, const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t count = ::write(fd, text.data() + written, text.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    written += static_cast<std::size_t>(count);
  }
}

void Emit(std::string line) {
  line = RedactLogLine(std::move(line));
  LogFilter& filter = TheFilter();
  if (filter.output >= 0) {
    WriteAll(filter.output, line + "\n");
    return;
  }
  // PAPPL starts each line with its level's letter.
  int priority = LOG_INFO;
  switch (line.empty() ? 'I' : line.front()) {
    case 'D': priority = LOG_DEBUG; break;
    case 'W': priority = LOG_WARNING; break;
    case 'E': priority = LOG_ERR; break;
    case 'F': priority = LOG_CRIT; break;
    default: break;
  }
  ::syslog(priority, "%s", line.c_str());
}

void ReadLines(int input) {
  std::string pending;
  char buffer[8192];
  for (;;) {
    const ssize_t count = ::read(input, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    pending.append(buffer, static_cast<std::size_t>(count));
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
      Emit(pending.substr(0, end));
      pending.erase(0, end + 1);
    }
  }
  if (!pending.empty()) Emit(pending);
}

}  // namespace

JobPin PinOf(pappl_job_t* job) {
  JobPin result;
  {
    std::lock_guard lock(TheVault().mutex);
    auto found = TheVault().pins.find(KeyOf(job));
    if (found != TheVault().pins.end()) result.pin = found->second;
  }
  result.lost = !result.pin && papplJobGetAttribute(job, kPinAttribute) != nullptr;
  return result;
}

void HandleJobEvent(pappl_system_t*, pappl_printer_t*, pappl_job_t* job, pappl_event_t event, void*) {
  if (job == nullptr) return;
  // PAPPL sends JOB_CREATED holding no lock of the job, but may send the others while it
  // holds one: they must not call an accessor that locks the job.
  if (event == PAPPL_EVENT_JOB_CREATED) TakePin(job);
  if (event == PAPPL_EVENT_JOB_COMPLETED ||
      (event == PAPPL_EVENT_JOB_STATE_CHANGED && papplJobGetState(job) >= IPP_JSTATE_CANCELED)) {
    ForgetPin(job);
  }
}

std::string RedactLogLine(std::string line) {
  const std::size_t at = line.find(kPinAttribute);
  if (at == std::string::npos) return line;
  line.resize(at + std::strlen(kPinAttribute));
  return line + " (hidden)";
}

std::string StartLogFilter(const std::string& destination) {
  LogFilter& filter = TheFilter();
  if (destination == "syslog") {
    ::openlog("velmora-printer-app", LOG_PID, LOG_LPR);
  } else if (destination == "-") {
    filter.output = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
  } else {
    filter.output = ::open(destination.c_str(), O_CREAT | O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (filter.output < 0)
      throw std::runtime_error("Unable to open log '" + destination + "': " + std::strerror(errno));
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0)
    throw std::runtime_error(std::string("Unable to create a pipe: ") + std::strerror(errno));
  // Standard error itself is the pipe's write end (not closed on exec, but every child
  // of the application gets its own standard error).
  ::dup2(fds[1], 2);
  ::close(fds[1]);
  filter.input = fds[0];
  filter.reader = std::thread(ReadLines, filter.input);
  return "-";
}

void StopLogFilter() {
  LogFilter& filter = TheFilter();
  if (!filter.reader.joinable()) return;
  // The reader ends when the last write end closes: standard error is it. What the
  // process writes after that (a report of its own end) goes to the log unfiltered.
  const int late = filter.output >= 0 ? filter.output : ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  ::dup2(late, 2);
  filter.reader.join();
  ::close(filter.input);
  ::close(late);
}

}  // namespace velmora::printer_app

// A job's PIN lives in this process only. PAPPL copies job-password into the job's
// attributes, which it hands to any client that asks for them and writes into the job's
// attribute file, and it makes the job visible before it tells the application about it.
// So the PIN is swapped for a random token in the request, before PAPPL makes a job of
// it; the token is bound to the job when PAPPL creates it, and moved out of the job group,
// which PAPPL copies into responses. PAPPL also logs every request attribute at the debug
// level, so the process's standard error, where PAPPL logs, goes through a filter that
// hides the value.
#include "tools/printer_app/secrets.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tools/cups/cups_options.h"

namespace velmora::printer_app {
namespace {

constexpr const char* kPinAttribute = "job-password";

// PINs by the token that stands for them in a request, until PAPPL creates its job, and
// then by the job's printer id and job id, until the job ends.
struct Vault {
  struct Waiting {
    std::string pin;
    std::chrono::steady_clock::time_point since;
  };
  std::mutex mutex;
  std::map<std::string, Waiting> byToken;
  std::map<std::pair<int, int>, std::string> byJob;
};

// A token no job took within this time belongs to a request that made no job (refused, or
// Validate-Job).
constexpr auto kTokenLife = std::chrono::minutes(10);
// Tokens kept at most: requests that make no job must not hold memory without bound, so
// the oldest token goes first. Jobs take theirs as soon as PAPPL creates them.
constexpr std::size_t kMaxWaitingTokens = 1024;

// Never destroyed: PAPPL's threads may still report events while the program ends.
Vault& TheVault() {
  static Vault* vault = new Vault;
  return *vault;
}

std::pair<int, int> KeyOf(pappl_job_t* job) { return {papplPrinterGetID(papplJobGetPrinter(job)), papplJobGetID(job)}; }

void Scrub(std::string& text) { std::fill(text.begin(), text.end(), '\0'); }

// The bytes of an attribute's first value: an octetString's, or a text's.
std::string FirstValue(ipp_attribute_t* attribute) {
  if (ippGetValueTag(attribute) == IPP_TAG_STRING) {
    int length = 0;
    const void* bytes = ippGetOctetString(attribute, 0, &length);
    return bytes != nullptr && length > 0
               ? std::string(static_cast<const char*>(bytes), static_cast<std::size_t>(length))
               : std::string();
  }
  const char* text = ippGetString(attribute, 0, nullptr);
  return text != nullptr ? text : std::string();
}

std::string NewToken() {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::random_device random;
  std::string token = "velmora-pin-";
  for (int i = 0; i < 32; ++i) token += kDigits[random() & 15];
  return token;
}

// Binds the new job to the PIN its token stands for and moves the attribute out of the job
// group. PAPPL holds no lock of the job then, but other threads may read the job: only the
// group tag changes, no value is freed.
void BindPin(pappl_job_t* job) {
  ipp_attribute_t* attribute = papplJobGetAttribute(job, kPinAttribute);
  if (attribute == nullptr) return;
  std::string token = FirstValue(attribute);
  {
    Vault& vault = TheVault();
    std::lock_guard lock(vault.mutex);
    auto found = vault.byToken.find(token);
    if (found != vault.byToken.end()) {
      vault.byJob[KeyOf(job)] = std::move(found->second.pin);
      vault.byToken.erase(found);
    }
  }
  // CUPS changes an attribute only through a message, of which it checks no more than that
  // there is one; the attribute belongs to the job's own message.
  ipp_t* holder = ippNew();
  ippSetGroupTag(holder, &attribute, IPP_TAG_OPERATION);
  ippDelete(holder);
}

void ForgetPin(pappl_job_t* job) {
  Vault& vault = TheVault();
  std::lock_guard lock(vault.mutex);
  auto found = vault.byJob.find(KeyOf(job));
  if (found == vault.byJob.end()) return;
  Scrub(found->second);
  vault.byJob.erase(found);
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

void TakePinFromRequest(ipp_t* request) {
  // Every attribute of the name goes: gathered in one walk and deleted after it, in the
  // request's order (a deletion ends a walk).
  std::optional<std::string> pin;
  std::vector<ipp_attribute_t*> sent;
  for (ipp_attribute_t* attribute = ippFirstAttribute(request); attribute != nullptr;
       attribute = ippNextAttribute(request)) {
    const char* name = ippGetName(attribute);
    if (name == nullptr || std::strcmp(name, kPinAttribute) != 0) continue;
    if (!pin) pin = FirstValue(attribute);
    sent.push_back(attribute);
  }
  for (ipp_attribute_t* attribute : sent) ippDeleteAttribute(request, attribute);
  // Validate-Job makes no job that would take the PIN.
  if (!pin || ippGetOperation(request) == IPP_OP_VALIDATE_JOB) {
    if (pin) Scrub(*pin);
    return;
  }
  // A PIN longer than the settings record's field is kept one byte too long, so that the
  // job is still refused for it, and no longer.
  static const std::size_t kMaxPin = static_cast<std::size_t>(cups::FindOption(kPinAttribute)->maxBytes);
  if (pin->size() > kMaxPin + 1) {
    std::string kept = pin->substr(0, kMaxPin + 1);
    Scrub(*pin);
    pin = std::move(kept);
  }
  const std::string token = NewToken();
  {
    Vault& vault = TheVault();
    std::lock_guard lock(vault.mutex);
    const auto now = std::chrono::steady_clock::now();
    for (auto it = vault.byToken.begin(); it != vault.byToken.end();) {
      if (now - it->second.since < kTokenLife) {
        ++it;
        continue;
      }
      Scrub(it->second.pin);
      it = vault.byToken.erase(it);
    }
    while (vault.byToken.size() >= kMaxWaitingTokens) {
      const auto oldest =
          std::min_element(vault.byToken.begin(), vault.byToken.end(),
                           [](const auto& a, const auto& b) { return a.second.since < b.second.since; });
      Scrub(oldest->second.pin);
      vault.byToken.erase(oldest);
    }
    vault.byToken[token] = Vault::Waiting{std::move(*pin), now};
  }
  // PAPPL keeps only a request's job attributes with the job.
  ippAddOctetString(request, IPP_TAG_JOB, kPinAttribute, token.data(), static_cast<int>(token.size()));
}

WaitingPins PinsWaiting() {
  Vault& vault = TheVault();
  std::lock_guard lock(vault.mutex);
  WaitingPins waiting;
  waiting.count = vault.byToken.size();
  for (const auto& [token, entry] : vault.byToken) waiting.bytes += entry.pin.size();
  return waiting;
}

JobPin PinOf(pappl_job_t* job) {
  JobPin result;
  {
    Vault& vault = TheVault();
    std::lock_guard lock(vault.mutex);
    auto found = vault.byJob.find(KeyOf(job));
    if (found != vault.byJob.end()) result.pin = found->second;
  }
  result.lost = !result.pin && papplJobGetAttribute(job, kPinAttribute) != nullptr;
  return result;
}

void HandleJobEvent(pappl_system_t*, pappl_printer_t*, pappl_job_t* job, pappl_event_t event, void*) {
  if (job == nullptr) return;
  // PAPPL sends JOB_CREATED holding no lock of the job, but may send the others while it
  // holds one: they must not call an accessor that locks the job.
  if (event == PAPPL_EVENT_JOB_CREATED) BindPin(job);
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

// Identify-Printer shows a message on the printer's display through a PJL job that prints
// nothing; the supply levels are unknown until the printer reports them.
#include "tools/printer_app/printer_status.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <fstream>

#include "formats/text.h"
#include "tools/printer_app/access.h"

namespace velmora::printer_app {
namespace {

// Anyone who may print may identify a printer: one identify job per printer in this time
// keeps a client from filling the printer's queue (or a file device's folder) with them.
constexpr auto kIdentifyInterval = std::chrono::seconds(10);
// Printer panels show a line of 16 to 40 characters.
constexpr std::size_t kMaxDisplayBytes = 40;

bool IdentifyAllowedNow(pappl_printer_t* printer) {
  static std::mutex lock;
  static std::map<int, std::chrono::steady_clock::time_point> last;
  const std::lock_guard<std::mutex> guard(lock);
  const auto now = std::chrono::steady_clock::now();
  auto [entry, added] = last.try_emplace(papplPrinterGetID(printer), now);
  if (added) return true;
  if (now - entry->second < kIdentifyInterval) return false;
  entry->second = now;
  return true;
}

void Identify(pappl_printer_t* printer, pappl_identify_actions_t actions, const char* message) {
  if ((actions & PAPPL_IDENTIFY_ACTIONS_DISPLAY) == 0) return;
  if (!IdentifyAllowedNow(printer)) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify-Printer ignored: the printer was identified moments ago.");
    return;
  }
  const std::string text = message != nullptr && message[0] != '\0' ? message : papplPrinterGetName(printer);
  // The device is the printer's own: while a job prints it is in use, and the printer is
  // busy anyway.
  pappl_device_t* device = papplPrinterOpenDevice(printer);
  if (device == nullptr) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify-Printer ignored: the printer is busy.");
    return;
  }
  const std::string job = IdentifyJob(text);
  if (papplDeviceWrite(device, job.data(), job.size()) < 0) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_WARN, "Identify-Printer: unable to send the message to the printer.");
  }
  papplDeviceFlush(device);
  papplPrinterCloseDevice(printer);
}

// PAPPL sends the job-created event holding a read lock of the job, so the event cannot
// change the job's reasons itself: a thread of its own does, waiting for the lock. It
// must have the lock before PAPPL answers the request, which reads the reasons: the event
// returns once that thread waits for the lock, which glibc's read-write lock hands to the
// waiting writer when the last read lock is released, before any later reader.
//
// Whether the thread waits is read from Linux's /proc/self/task/TID/stat (state S): between
// taking the job and taking the lock it sleeps nowhere else, and a thread the scheduler
// merely set aside shows R. Where that cannot be read (no /proc mounted) the event waits a
// few milliseconds instead, which the thread needs far less than to reach the lock. The
// wait is bounded either way, so a request is never held up by more than kMaxWait. What
// remains possible is harmless: when another client holds a read lock of the job at that
// moment, PAPPL may answer before the mark is set, and the next request sees it.
class QueuedMarker {
 public:
  QueuedMarker() : thread_([this] { Run(); }) { thread_.detach(); }

  void Mark(pappl_job_t* job) {
    std::unique_lock<std::mutex> lock(mutex_);
    // One job at a time: a job another request handed over is taken first.
    if (!wake_.wait_for(lock, kMaxWait, [this] { return job_ == nullptr; })) return;
    job_ = job;
    waiting_ = false;
    wake_.notify_all();
    if (!wake_.wait_for(lock, kMaxWait, [this] { return waiting_; })) return;
    lock.unlock();
    // The thread is about to ask for the lock; waiting for it shows as the thread sleeping.
    const auto deadline = std::chrono::steady_clock::now() + kMaxWait;
    for (;;) {
      const std::optional<bool> sleeping = Sleeping(tid_);
      if (!sleeping) {
        std::this_thread::sleep_for(kBlindWait);
        return;
      }
      if (*sleeping || std::chrono::steady_clock::now() >= deadline) return;
      std::this_thread::sleep_for(kPoll);
    }
  }

 private:
  static constexpr auto kMaxWait = std::chrono::milliseconds(200);
  static constexpr auto kPoll = std::chrono::microseconds(50);
  static constexpr auto kBlindWait = std::chrono::milliseconds(5);

  void Run() {
    tid_ = static_cast<pid_t>(::syscall(SYS_gettid));
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return job_ != nullptr; });
      pappl_job_t* job = std::exchange(job_, nullptr);
      waiting_ = true;
      wake_.notify_all();
      lock.unlock();
      papplJobSetReasons(job, PAPPL_JREASON_JOB_QUEUED, 0);
      lock.lock();
    }
  }

  // True when the thread sleeps (state S, the field after the name in parentheses);
  // nothing when its state cannot be read.
  static std::optional<bool> Sleeping(pid_t tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) return std::nullopt;
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size()) return std::nullopt;
    return text[close + 2] == 'S';
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  pappl_job_t* job_ = nullptr;
  bool waiting_ = false;
  std::atomic<pid_t> tid_{0};
  std::thread thread_;
};

// Never destroyed: PAPPL's threads may send events while the program ends.
QueuedMarker& TheMarker() {
  static auto* marker = new QueuedMarker;
  return *marker;
}

}  // namespace

void MarkHeldJobQueued(pappl_job_t* job) {
  if (papplJobGetReasons(job) != PAPPL_JREASON_JOB_HOLD_UNTIL_SPECIFIED) return;
  TheMarker().Mark(job);
}

void UnmarkQueued(pappl_job_t* job) { papplJobSetReasons(job, 0, PAPPL_JREASON_JOB_QUEUED); }

std::string IdentifyJob(const std::string& message) {
  const std::string line = text::SanitizeForPjl(CleanText(message));
  const std::string display(text::CutUtf8(line, kMaxDisplayBytes));
  return "\x1B%-12345X@PJL\r\n@PJL RDYMSG DISPLAY = \"" + display + "\"\r\n\x1B%-12345X";
}

void SetStatusCallbacks(pappl_pr_driver_data_t* data) {
  data->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  data->identify_cb = Identify;
}

void AddDescriptionAttributes(ipp_t* attributes) {
  // Pages are printed in grey: the printer has no colour to render, and "auto" is its one
  // intent.
  ippAddString(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr, "auto");
  ippAddString(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", nullptr, "auto");
  ippAddBoolean(attributes, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
  static const char* const kOverrides[] = {"document-number", "pages"};
  ippAddStrings(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "overrides-supported", 2, nullptr, kOverrides);
}

void UpdateSupplies(pappl_printer_t* printer, pappl_device_t* device) {
  pappl_supply_t supplies[PAPPL_MAX_SUPPLY];
  const int count = papplDeviceGetSupplies(device, PAPPL_MAX_SUPPLY, supplies);
  if (count > 0) papplPrinterSetSupplies(printer, count, supplies);
}

void SetUnknownSupplies(pappl_printer_t* printer) {
  pappl_supply_t toner{};
  toner.color = PAPPL_SUPPLY_COLOR_BLACK;
  std::snprintf(toner.description, sizeof toner.description, "%s", "Black Toner");
  toner.is_consumed = true;
  toner.level = -2;  // the Printer MIB's "unknown"
  toner.type = PAPPL_SUPPLY_TYPE_TONER;
  papplPrinterSetSupplies(printer, 1, &toner);
}

}  // namespace velmora::printer_app

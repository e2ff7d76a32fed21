// Keeping a job's PIN (job-password) out of every place PAPPL would show or store it:
// IPP responses, the job's attribute file, the state file and the log.
#pragma once

#include <pappl/pappl.h>

#include <cstddef>
#include <optional>
#include <string>

namespace velmora::printer_app {

// The PIN a job was sent with, taken out of its attributes when PAPPL created it.
// `lost` is true for a job that had a PIN which this process no longer knows (the job was
// created before a restart): such a job must not print without it.
struct JobPin {
  std::optional<std::string> pin;
  bool lost = false;
};
JobPin PinOf(pappl_job_t* job);

// Takes the PIN out of a Print-Job, Create-Job or Validate-Job request before PAPPL makes
// a job of it: the request keeps one job-password, in the job group, holding a random
// token that stands for the PIN; repeated attributes and values go. A Validate-Job keeps
// none and no PIN is kept for it; a PIN longer than the settings record holds is kept one
// byte too long (the job is refused for it); at most a fixed number of tokens wait for
// their jobs, the oldest going first.
void TakePinFromRequest(ipp_t* request);

// The PINs that wait for the job their request makes: how many, and their bytes.
struct WaitingPins {
  std::size_t count = 0;
  std::size_t bytes = 0;
};
WaitingPins PinsWaiting();

// PAPPL's event callback: binds each new job to the PIN its token stands for (the token
// stays in the job, out of every response) and forgets the PIN when the job ends.
void HandleJobEvent(pappl_system_t* system, pappl_printer_t* printer, pappl_job_t* job, pappl_event_t event,
                    void* data);

// Sends everything the process writes to standard error (PAPPL's log among it) through a
// filter that hides job-password values, to `destination`: "-" for standard error, "syslog",
// or a file, created 0600. Answers the log name PAPPL is to be given. Throws
// std::runtime_error naming the file and the cause.
std::string StartLogFilter(const std::string& destination);
// Flushes and ends the filter; call once PAPPL has stopped logging.
void StopLogFilter();

// The log line with any job-password value hidden.
std::string RedactLogLine(std::string line);

}  // namespace velmora::printer_app

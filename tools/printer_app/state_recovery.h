// Starting again after the application was killed: jobs that were printing are aborted
// (they would otherwise stay "processing" for ever and keep their files), and the files
// of jobs that no process prints any more are removed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::printer_app {

struct StateRecovery {
  std::string state;  // the state file's text with interrupted jobs aborted
  std::size_t abortedJobs = 0;
  std::vector<std::string> jobFiles;  // files of the aborted jobs, to remove
};

// Reads PAPPL's state file text: a "Job" line whose state is processing (5) becomes
// aborted (8) with its completion time `now`. Listed for removal: the files of those jobs
// in `spoolFolder`, the job files there of jobs the state does not list (taken by PAPPL
// but not yet saved when it was killed), and the settings page's overlay capture
// documents there.
StateRecovery AbortInterruptedJobs(std::string_view state, const std::string& spoolFolder, long now);

// Removes what captures that were killed left in the printers' overlay folders under
// `overlaysFolder` (one folder per printer): an overlay's work file, which the plug-in
// writes and renames to NAME.ovl only when the capture is whole, unless a running capture
// still holds it, and a picture Ghostscript was writing. Answers how many it removed.
std::size_t RemoveUnfinishedOverlays(const std::string& overlaysFolder);

// Applies AbortInterruptedJobs to the state file (rewritten in place, 0600) and removes
// the aborted jobs' files and every temporary file of the print host in `spoolFolder`.
// Answers the number of jobs aborted; throws std::runtime_error naming the file.
std::size_t RecoverState(const std::string& stateFile, const std::string& spoolFolder);

}  // namespace velmora::printer_app

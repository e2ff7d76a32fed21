// Lines for the user of the job this process runs, from parts of the host that do not
// hold the job's request (the renderer, which learns only at the end of a document that
// Ghostscript repaired it): the running job passes them to its request's notice.
#pragma once

#include <functional>
#include <string>

namespace velmora::host {

// Tells the running job's user `line` (a document printed otherwise than it asks, the job
// goes on); without a running job that listens, standard error hears it.
void TellJobUser(const std::string& line);

// While it lives, the lines told go to `notice` (when it is empty, to standard error).
// One job runs at a time in a process; a scope restores the receiver it found.
class JobNoticeScope {
 public:
  explicit JobNoticeScope(std::function<void(const std::string&)> notice);
  ~JobNoticeScope();
  JobNoticeScope(const JobNoticeScope&) = delete;
  JobNoticeScope& operator=(const JobNoticeScope&) = delete;

 private:
  std::function<void(const std::string&)> previous_;
};

}  // namespace velmora::host

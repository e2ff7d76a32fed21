// The receiver of the running job's notices.
#include "host/job_notices.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace velmora::host {
namespace {

std::mutex g_mutex;
std::function<void(const std::string&)> g_notice;

}  // namespace

void TellJobUser(const std::string& line) {
  std::function<void(const std::string&)> notice;
  {
    const std::lock_guard lock(g_mutex);
    notice = g_notice;
  }
  if (notice) {
    notice(line);
    return;
  }
  std::fprintf(stderr, "%s\n", line.c_str());
}

JobNoticeScope::JobNoticeScope(std::function<void(const std::string&)> notice) {
  const std::lock_guard lock(g_mutex);
  previous_ = std::exchange(g_notice, std::move(notice));
}

JobNoticeScope::~JobNoticeScope() {
  const std::lock_guard lock(g_mutex);
  g_notice = std::move(previous_);
}

}  // namespace velmora::host

// What the parts of the settings page share: HTML text, form fields, the velmora
// program, uploaded files and pictures.
#include "tools/printer_app/web_page.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

extern char** environ;

namespace velmora::printer_app {

namespace fs = std::filesystem;

void Html(pappl_client_t* client, const std::string& text) { papplClientHTMLPuts(client, text.c_str()); }

std::string FormField(int count, cups_option_t* form, const char* name) {
  const char* value = cupsGetOption(name, count, form);
  return value != nullptr ? value : "";
}

// Runs `velmora ARGS...`; answers its exit status and what it wrote (both streams).
int RunVelmora(const App& app, const std::vector<std::string>& args, std::string& output) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) {
    output = std::string("Unable to run velmora: ") + std::strerror(errno);
    return -1;
  }
  std::vector<std::string> all{app.velmoraPath};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, app.velmoraPath.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    ::close(pipeFds[0]);
    output = "Unable to run '" + app.velmoraPath + "': " + std::strerror(spawned);
    return -1;
  }
  char buffer[4096];
  ssize_t bytes = 0;
  while ((bytes = ::read(pipeFds[0], buffer, sizeof(buffer))) != 0) {
    if (bytes < 0) {
      if (errno == EINTR) continue;
      break;
    }
    output.append(buffer, static_cast<std::size_t>(bytes));
  }
  ::close(pipeFds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Upload::Upload(const char* value) {
  if (value == nullptr || value[0] == '\0') return;
  const char* tmp = std::getenv("TMPDIR");
  std::error_code error;
  const fs::path folder = fs::weakly_canonical(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp", error);
  const fs::path file(value);
  const std::string name = file.filename().string();
  struct stat info {};
  const bool madeByPappl = file.is_absolute() && file.parent_path() == folder && name.size() == 13 &&
                           name.find_first_not_of("0123456789abcdef") == std::string::npos &&
                           ::lstat(value, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid();
  if (madeByPappl) path_ = file;
}

Upload::~Upload() {
  std::error_code ignored;
  if (!path_.empty()) fs::remove(path_, ignored);
}

bool Upload::HasContent() const {
  std::error_code error;
  return !path_.empty() && fs::file_size(path_, error) > 0 && !error;
}

std::optional<std::string> ImageDataUri(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (bytes.empty() || bytes.size() > (4u << 20)) return std::nullopt;
  const char* type = bytes.starts_with("\x89PNG")    ? "image/png"
                     : bytes.starts_with("\xFF\xD8") ? "image/jpeg"
                     : bytes.starts_with("GIF8")     ? "image/gif"
                     : bytes.starts_with("BM")       ? "image/bmp"
                                                     : nullptr;
  if (type == nullptr) return std::nullopt;
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string uri = std::string("data:") + type + ";base64,";
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t left = bytes.size() - i;
    const auto byte = [&](std::size_t k) { return k < left ? static_cast<unsigned char>(bytes[i + k]) : 0u; };
    const unsigned group = (byte(0) << 16) | (byte(1) << 8) | byte(2);
    uri += kDigits[(group >> 18) & 63];
    uri += kDigits[(group >> 12) & 63];
    uri += left > 1 ? kDigits[(group >> 6) & 63] : '=';
    uri += left > 2 ? kDigits[group & 63] : '=';
  }
  return uri;
}

}  // namespace velmora::printer_app

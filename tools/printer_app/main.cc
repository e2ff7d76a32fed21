// velmora-printer-app: an IPP Everywhere printer application (PAPPL) whose printers run
// every job through the Velmora plug-in and send the finished PJL + PCL XL job to a
// printer's raw socket (socket://HOST:9100) or a file.
//
//   velmora-printer-app [--listen HOST] [--port N] [--state-folder DIR]
//                       [--add-printer NAME=DEVICE-URI]... [--file-device-folder DIR]...
//                       [--remote-admin [--admin-group GROUP]] [--job-time-limit SECONDS]
//                       [--job-memory-limit SIZE] [--log FILE] [--log-level LEVEL]
#include <pappl/pappl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/posix/spooler_store.h"
#include "tools/printer_app/access.h"
#include "tools/printer_app/devices.h"
#include "tools/printer_app/print_process.h"
#include "tools/printer_app/printer_app.h"
#include "tools/printer_app/printer_status.h"
#include "tools/printer_app/secrets.h"
#include "tools/printer_app/state_recovery.h"

#ifndef VELMORA_BUILT_MODULE
#define VELMORA_BUILT_MODULE ""
#endif
#ifndef VELMORA_BUILD_FOLDER
#define VELMORA_BUILD_FOLDER ""
#endif
#ifndef VELMORA_INSTALLED_MODULE
#define VELMORA_INSTALLED_MODULE ""
#endif
#ifndef VELMORA_BUILT_CLI
#define VELMORA_BUILT_CLI ""
#endif
#ifndef VELMORA_INSTALLED_CLI
#define VELMORA_INSTALLED_CLI "/usr/bin/velmora"
#endif
#ifndef VELMORA_APP_STATE_FOLDER
#define VELMORA_APP_STATE_FOLDER "/var/lib/velmora-printer-app"
#endif

namespace velmora::printer_app {
namespace {

namespace fs = std::filesystem;

struct Arguments {
  std::string listen;  // empty: every address
  int port = 8631;
  std::string stateFolder = VELMORA_APP_STATE_FOLDER;
  std::string log = "-";
  pappl_loglevel_t logLevel = PAPPL_LOGLEVEL_INFO;
  std::string name = "Velmora Printer Application";
  std::vector<std::pair<std::string, std::string>> printers;  // name, device URI
  bool tls = true;
  AccessPolicy access;
  std::vector<std::string> fileFolders;
  JobLimits limits;
  std::string module;
};

void Usage(std::FILE* out) {
  std::fputs(
      "Usage: velmora-printer-app [OPTIONS]\n"
      "  --listen HOST             listen on this address only (default: every address)\n"
      "  --port N                  the IPP and web port (default: 8631)\n"
      "  --state-folder DIR        printers, their values and watermarks (default: " VELMORA_APP_STATE_FOLDER
      ")\n"
      "  --add-printer NAME=URI    add a printer at start-up unless it exists (socket://HOST[:PORT], or\n"
      "                            file:///FOLDER inside a --file-device-folder)\n"
      "  --file-device-folder DIR  printers may write each job into a new file inside DIR (repeatable;\n"
      "                            default: no file devices)\n"
      "  --remote-admin            let administrators on other machines change settings, over TLS, signed in\n"
      "                            with their password (PAM) as members of the administrators' group\n"
      "  --admin-group GROUP       the administrators' group for --remote-admin (default: lpadmin)\n"
      "  --remote-peer ADDRESS     treat this local address as another machine's (for tests; repeatable)\n"
      "  --job-time-limit SECONDS  processor time a job's Ghostscript may use (default: 600)\n"
      "  --job-memory-limit SIZE   memory a job's Ghostscript may use, e.g. 2G or 512M (default: 2G)\n"
      "  --log FILE                the log: a file, - for standard error, syslog (default: -)\n"
      "  --log-level LEVEL         debug, info, warn, error (default: info)\n"
      "  --name NAME               the name of the application as clients see it\n"
      "  --no-tls                  serve plain HTTP only (no certificate is made; other machines cannot\n"
      "                            administer, and PAPPL asks them to use TLS for every request)\n"
      "  --module PATH             the plug-in module (default: the installed one)\n",
      out);
}

// Parses the command line; answers an exit status when the program must end at once.
std::optional<int> Parse(int argc, char** argv, Arguments& args) {
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::runtime_error(option + " needs a value");
      return argv[++i];
    };
    if (option == "--help" || option == "-h") {
      Usage(stdout);
      return 0;
    }
    if (option == "--listen") {
      args.listen = value();
    } else if (option == "--port") {
      const std::string text = value();
      char* end = nullptr;
      const long port = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || port < 1 || port > 65535) {
        throw std::runtime_error("--port '" + text + "' is not a port number from 1 to 65535");
      }
      args.port = static_cast<int>(port);
    } else if (option == "--state-folder") {
      args.stateFolder = value();
    } else if (option == "--add-printer") {
      const std::string text = value();
      const std::size_t equals = text.find('=');
      if (equals == std::string::npos || equals == 0 || equals + 1 == text.size()) {
        throw std::runtime_error("--add-printer '" + text + "': expected NAME=DEVICE-URI");
      }
      args.printers.emplace_back(text.substr(0, equals), text.substr(equals + 1));
    } else if (option == "--log") {
      args.log = value();
    } else if (option == "--log-level") {
      const std::string level = value();
      if (level == "debug")
        args.logLevel = PAPPL_LOGLEVEL_DEBUG;
      else if (level == "info")
        args.logLevel = PAPPL_LOGLEVEL_INFO;
      else if (level == "warn")
        args.logLevel = PAPPL_LOGLEVEL_WARN;
      else if (level == "error")
        args.logLevel = PAPPL_LOGLEVEL_ERROR;
      else
        throw std::runtime_error("--log-level '" + level + "' is not debug, info, warn or error");
    } else if (option == "--name") {
      args.name = value();
    } else if (option == "--no-tls") {
      args.tls = false;
    } else if (option == "--remote-admin") {
      args.access.remoteAdmin = true;
    } else if (option == "--admin-group") {
      args.access.adminGroup = value();
      if (args.access.adminGroup.empty()) throw std::runtime_error("--admin-group needs a group name");
    } else if (option == "--remote-peer") {
      args.access.remotePeers.push_back(value());
    } else if (option == "--file-device-folder") {
      const std::string folder = value();
      std::error_code error;
      const fs::path resolved = fs::canonical(folder, error);
      if (error || !fs::is_directory(resolved, error)) {
        throw std::runtime_error("--file-device-folder '" + folder + "' is not a folder");
      }
      args.fileFolders.push_back(resolved.string());
    } else if (option == "--job-time-limit") {
      const std::string text = value();
      char* end = nullptr;
      const long seconds = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || seconds < 1 || seconds > 86400) {
        throw std::runtime_error("--job-time-limit '" + text + "' is not a number of seconds from 1 to 86400");
      }
      args.limits.cpuSeconds = static_cast<std::uint64_t>(seconds);
    } else if (option == "--job-memory-limit") {
      args.limits.memoryBytes = ParseSize("--job-memory-limit", value());
    } else if (option == "--module") {
      args.module = value();
    } else {
      throw std::runtime_error("Unknown option '" + option + "' (--help lists them)");
    }
  }
  return std::nullopt;
}

// The plug-in named on the command line or by VELMORA_MODULE, else the one built beside
// the program while it runs from the build tree, else the installed one.
std::string ModulePath(const Arguments& args) {
  if (!args.module.empty()) return args.module;
  if (const char* module = std::getenv("VELMORA_MODULE"); module != nullptr && module[0] == '/') return module;
  const std::string build = VELMORA_BUILD_FOLDER;
  const std::optional<std::string> program = platform::ProgramPath();
  if (!build.empty() && program && program->starts_with(build + "/")) return VELMORA_BUILT_MODULE;
  return VELMORA_INSTALLED_MODULE;
}

// The velmora program built beside the application while it runs from the build tree,
// else the installed one.
std::string VelmoraPath() {
  const std::string build = VELMORA_BUILD_FOLDER;
  const std::optional<std::string> program = platform::ProgramPath();
  if (!build.empty() && program && program->starts_with(build + "/")) return VELMORA_BUILT_CLI;
  return VELMORA_INSTALLED_CLI;
}

void MakeFolder(const std::string& path) {
  std::error_code error;
  fs::create_directories(path, error);
  if (error) throw std::runtime_error("Unable to create '" + path + "': " + error.message());
}

struct FindByName {
  const char* name;
  pappl_printer_t* found = nullptr;
};

void MatchName(pappl_printer_t* printer, void* data) {
  auto* find = static_cast<FindByName*>(data);
  if (std::strcmp(papplPrinterGetName(printer), find->name) == 0) find->found = printer;
}

bool SaveState(pappl_system_t* system, void* file) {
  return papplSystemSaveState(system, static_cast<const char*>(file));
}

// A folder only the application may enter, whatever its mode was.
void MakePrivateFolder(const std::string& path) {
  MakeFolder(path);
  if (::chmod(path.c_str(), 0700) != 0)
    throw std::runtime_error("Unable to protect '" + path + "': " + std::strerror(errno));
}

// Jobs that were printing when the application was killed are aborted, their files and
// the print host's temporary files removed, and the printer store's rows of them failed;
// what captures cut short left in the overlay folders is removed.
void Recover(pappl_system_t* system, const std::string& stateFile, const App& app) {
  // PAPPL's log formats numbers itself and knows no size_t (%zu): counts go as unsigned long.
  const std::size_t aborted = RecoverState(stateFile, app.spoolFolder);
  if (aborted > 0) {
    papplLog(system, PAPPL_LOGLEVEL_WARN, "Aborted %lu job(s) interrupted by the last stop.",
             static_cast<unsigned long>(aborted));
  }
  if (const std::size_t removed = RemoveUnfinishedOverlays(app.stateFolder + "/overlays"); removed > 0) {
    papplLog(system, PAPPL_LOGLEVEL_INFO, "Removed %lu unfinished overlay file(s) of captures the last stop cut short.",
             static_cast<unsigned long>(removed));
  }
  platform::posix::PrinterStore store;
  if (auto failed = store.FailUnfinishedJobs(); !failed) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "%s", failed.error().c_str());
  }
}

int Run(const Arguments& args) {
  // Everything the application and its jobs write (job files holding PINs, the state
  // file, the printer store) is for the application's user only.
  ::umask(077);
  RegisterDeviceSchemes(args.fileFolders);
  App app;
  app.stateFolder = fs::absolute(args.stateFolder).string();
  app.spoolFolder = app.stateFolder + "/spool";
  app.modulePath = ModulePath(args);
  app.velmoraPath = VelmoraPath();
  app.limits = args.limits;
  MakePrivateFolder(app.stateFolder);
  MakePrivateFolder(app.spoolFolder);
  // The printer store and the watermark sections of every printer live in the state
  // folder; the host and the plug-in find them through the environment, set once here
  // before PAPPL starts its threads.
  const std::string store = app.stateFolder + "/spooler.db";
  ::setenv("VELMORA_STORE", store.c_str(), 1);
  ::setenv("XDG_DATA_HOME", app.stateFolder.c_str(), 1);
  const std::string logName = StartLogFilter(args.log);

  // No /security page: PAPPL 1.3's web password is not safe to rely on. Administration is
  // decided by the authentication callback (access.cc).
  pappl_soptions_t options = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE;
  if (!args.tls) options |= PAPPL_SOPTIONS_NO_TLS;
  pappl_system_t* system = papplSystemCreate(options, args.name.c_str(), args.port, "_print,_universal",
                                             app.spoolFolder.c_str(), logName.c_str(), args.logLevel, nullptr, false);
  if (system == nullptr) throw std::runtime_error("Unable to create the printer application");
  papplSystemSetEventCallback(
      system,
      [](pappl_system_t* events, pappl_printer_t* printer, pappl_job_t* job, pappl_event_t event, void* data) {
        HandleJobEvent(events, printer, job, event, data);
        if (job != nullptr && event == PAPPL_EVENT_JOB_CREATED) MarkHeldJobQueued(job);
      },
      nullptr);
  if (!papplSystemAddListeners(system, args.listen.empty() ? nullptr : args.listen.c_str())) {
    papplSystemDelete(system);
    throw std::runtime_error("Unable to listen on " +
                             (args.listen.empty() ? std::string("every address") : args.listen) + " port " +
                             std::to_string(args.port) + ": " + std::strerror(errno));
  }
  std::error_code error;
  if (!fs::exists("/run/avahi-daemon/socket", error)) {
    papplLog(system, PAPPL_LOGLEVEL_WARN,
             "avahi-daemon is not running: the printers are not announced by DNS-SD; clients name them as "
             "ipp://HOST:%d/ipp/print/NAME.",
             args.port);
  }

  static pappl_pr_driver_t drivers[] = {{kDriverName, kDriverDescription, nullptr, nullptr}};
  papplSystemSetPrinterDrivers(system, 1, drivers, nullptr, AddSettingsPage, MakeDriver, &app);
  // PDF and PostScript go to the print host as they are; PNG and JPEG pictures become PDF
  // documents through the application's own image readers (registered for the driver's
  // format, PAPPL finds them before its own PNG and JPEG filters); raster formats (PWG and
  // Apple raster) reach the driver's raster callbacks.
  papplSystemAddMIMEFilter(system, "image/png", "application/octet-stream", PrintPicture, &app);
  papplSystemAddMIMEFilter(system, "image/jpeg", "application/octet-stream", PrintPicture, &app);
  papplSystemAddMIMEFilter(system, "application/pdf", "image/pwg-raster", PrintDocument, &app);
  papplSystemAddMIMEFilter(system, "application/postscript", "image/pwg-raster", PrintDocument, &app);
  papplSystemAddMIMEFilter(system, "application/octet-stream", "image/pwg-raster", PrintDocument, &app);
  papplSystemSetFooterHTML(system, "Velmora PCL XL printer application");

  static std::string stateFile;
  stateFile = app.stateFolder + "/pappl.state";
  Recover(system, stateFile, app);
  if (!papplSystemLoadState(system, stateFile.c_str())) {
    papplLog(system, PAPPL_LOGLEVEL_INFO, "No saved state in '%s': starting without printers.", stateFile.c_str());
  }
  InstallAccessControl(system, args.access);
  papplSystemSetSaveCallback(system, SaveState, stateFile.data());
  // PAPPL 1.3 looks for pending jobs only when a job comes or ends: the jobs that waited
  // through a stop start once the system runs, on printers not paused by an administrator.
  papplSystemAddTimerCallback(
      system, 0, 0,
      [](pappl_system_t* running, void*) {
        papplSystemIteratePrinters(
            running,
            [](pappl_printer_t* printer, void*) {
              if (papplPrinterGetState(printer) != IPP_PSTATE_STOPPED) papplPrinterResume(printer);
            },
            nullptr);
        return false;
      },
      nullptr);
  // PAPPL saves its state when its main loop wakes, which without a client may be 30 s
  // later: a job taken or finished then would be lost or printed again after a kill.
  papplSystemAddTimerCallback(
      system, 0, 1, [](pappl_system_t*, void*) { return true; }, nullptr);

  for (const auto& [name, uri] : args.printers) {
    FindByName find{name.c_str()};
    papplSystemIteratePrinters(system, MatchName, &find);
    if (find.found != nullptr) continue;
    if (const std::string problem = DeviceProblem(uri); !problem.empty()) {
      papplSystemDelete(system);
      throw std::runtime_error("Unable to add printer '" + name + "': " + problem);
    }
    if (papplPrinterCreate(system, 0, name.c_str(), kDriverName, "MFG:Velmora;MDL:PCL XL Printer;CMD:PJL,PCLXL;",
                           uri.c_str()) == nullptr) {
      papplSystemDelete(system);
      throw std::runtime_error("Unable to add printer '" + name + "' on '" + uri + "': " + std::strerror(errno));
    }
  }

  // PAPPL has saved its state when papplSystemRun returns, but a job thread may still be
  // finishing with the printer it ran on: the system is not deleted under it, the program
  // ends without freeing it (main).
  papplSystemRun(system);
  return 0;
}

}  // namespace
}  // namespace velmora::printer_app

int main(int argc, char** argv) {
  try {
    velmora::printer_app::Arguments args;
    if (auto status = velmora::printer_app::Parse(argc, argv, args)) return *status;
    const int status = velmora::printer_app::Run(args);
    velmora::printer_app::StopLogFilter();
    // Threads of PAPPL's may still run: the program ends without destroying what they use.
    std::fflush(nullptr);
    std::_Exit(status);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "velmora-printer-app: %s\n", error.what());
  }
  velmora::printer_app::StopLogFilter();
  return 1;
}

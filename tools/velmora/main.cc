// velmora: the command-line program of the Velmora PXL print system.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "platform/files.h"
#include "platform/process.h"
#include "tools/velmora/commands.h"

#ifndef VELMORA_VERSION
#define VELMORA_VERSION "unknown"
#endif

int main(int argc, char** argv) {
  CLI::App app{"velmora: the Velmora PXL print system (PJL + PCL XL print plug-in, host and tools)", "velmora"};
  app.set_version_flag("--version", "velmora " VELMORA_VERSION, "Print the version and exit");
  app.require_subcommand(1);
  // Options start with '-' on every platform: a path such as /tmp/job.pdf is an argument.
  app.allow_windows_style_options(false);
  velmora::cli::RegisterSettingsCommand(app);
  velmora::cli::RegisterDumpCommand(app);
  velmora::cli::RegisterPrintCommand(app);
  velmora::cli::RegisterOverlayCommand(app);
  velmora::cli::RegisterPrinterCommand(app);
  velmora::cli::RegisterJobsCommand(app);
  velmora::cli::RegisterWatermarkCommand(app);
  try {
    // CLI11 takes a vector of arguments last first.
    std::vector<std::string> arguments = velmora::platform::CommandLineArguments(argc, argv);
    std::reverse(arguments.begin(), arguments.end());
    app.parse(arguments);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : 2;
  } catch (const std::exception& error) {
    // A command's own error (CommandError) or anything else that stopped it.
    std::fprintf(stderr, "velmora: %s\n", error.what());
    // A command that caught a stop request (velmora print) has cleaned up by now.
    velmora::platform::EndAsStopRequested();
    return 1;
  }
  velmora::platform::EndAsStopRequested();
  return 0;
}

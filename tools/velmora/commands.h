// The subcommands of the velmora program. Each registers itself on the application.
#pragma once

#include <CLI/CLI.hpp>

namespace velmora::cli {

// velmora settings defaults|show|set|convert|merge
void RegisterSettingsCommand(CLI::App& app);

// velmora overlay list|show
void RegisterOverlayCommand(CLI::App& app);

// velmora dump FILE [--pages N]
void RegisterDumpCommand(CLI::App& app);

// velmora printer add|list|show|set|unset|remove|logging
void RegisterPrinterCommand(CLI::App& app);

// velmora jobs [--printer NAME]
void RegisterJobsCommand(CLI::App& app);

// velmora print [-o OUTPUT] [--printer NAME] [--pages N] [--ticket FILE] [--set NAME=VALUE]...
void RegisterPrintCommand(CLI::App& app);

// velmora watermark list|show|set|remove --printer NAME [SECTION]
void RegisterWatermarkCommand(CLI::App& app);

}  // namespace velmora::cli

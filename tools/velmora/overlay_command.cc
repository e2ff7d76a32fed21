// velmora overlay: the form overlays of a printer and the contents of one overlay file.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "formats/overlay_file.h"
#include "formats/text.h"
#include "platform/files.h"
#include "platform/printer_admin.h"
#include "platform/text_encoding.h"
#include "pxl/dump.h"
#include "tools/velmora/commands.h"
#include "tools/velmora/file_io.h"

namespace velmora::cli {
namespace {

// A printer's text value, or empty when it has none.
std::string PrinterText(platform::PrinterAdmin& store, const std::string& printer, const WCHAR* valueName) {
  auto values = store.ListPrinterData(platform::Utf8ToUtf16(printer));
  if (!values.ok()) throw CommandError(values.error());
  for (const auto& value : values.value()) {
    if (!text::EqualsNoCase(WStringView(value.first), WStringView(valueName))) continue;
    const auto& bytes = value.second.bytes;
    return platform::Utf16ToUtf8(text::ReadWideField(bytes.data(), bytes.size() / 2));
  }
  return {};
}

// One overlay file's listing line, or a note why it is not an overlay.
std::string Describe(const std::string& path, const std::string& name) {
  std::vector<std::uint8_t> bytes;
  try {
    bytes = ReadWholeFile(path);
  } catch (const CommandError& error) {
    return name + "  (" + error.what() + ")";
  }
  auto header = ParseOverlayHeader(bytes.data(), bytes.size());
  if (!header) return name + "  (not an overlay file: no header line with the data marker)";
  std::ostringstream line;
  line << name << "  name=" << header->overlayName << " language=" << header->language << " form=" << header->formName
       << " orientation=" << header->orientation << " resolution=" << header->resolution
       << " data=" << (bytes.size() - header->dataOffset) << " bytes";
  return line.str();
}

void RunList(const std::string& printer) {
  const std::unique_ptr<platform::PrinterAdmin> store = platform::OpenPrinterAdmin();
  const std::string folder = PrinterText(*store, printer, kOverlayDirectoryValue);
  const std::string list = PrinterText(*store, printer, kOverlayFilesValue);
  if (folder.empty()) {
    throw CommandError("printer '" + printer + "' has no overlay folder (set it with: velmora printer set '" + printer +
                       "' OvelayDirectory=FOLDER)");
  }
  std::cout << "overlay folder: " << folder << "\n";
  std::cout << "overlay list: " << (list.empty() ? "(none)" : list) << "\n";

  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator entry(platform::PathFromUtf8(folder), error), end; !error && entry != end;
       entry.increment(error)) {
    std::error_code ignored;
    if (entry->is_regular_file(ignored)) names.push_back(platform::PathToUtf8(entry->path().filename()));
  }
  if (error) {
    throw CommandError("Unable to read the overlay folder '" + folder + "' of printer '" + printer +
                       "': " + error.message());
  }
  std::sort(names.begin(), names.end());
  const auto listed = Utility::split(platform::Utf8ToUtf16(list), VTEXT(';'));
  std::cout << "overlays:\n";
  if (names.empty()) std::cout << "  (none)\n";
  for (const auto& name : names) {
    const bool inList = std::find(listed.begin(), listed.end(), platform::Utf8ToUtf16(name)) != listed.end();
    std::cout << "  " << Describe(folder + "/" + name, name) << (inList ? "  [in list]" : "") << "\n";
  }
}

void RunShow(const std::string& path) {
  const std::vector<std::uint8_t> bytes = ReadWholeFile(path);
  auto header = ParseOverlayHeader(bytes.data(), bytes.size());
  if (!header) throw CommandError("'" + path + "' is not an overlay file: no header line with the data marker");
  std::cout << "overlay name: " << header->overlayName << "\n"
            << "language: " << header->language << "\n"
            << "form: " << header->formName << "\n"
            << "orientation: " << header->orientation << "\n"
            << "resolution: " << header->resolution << "\n"
            << "data: " << (bytes.size() - header->dataOffset) << " bytes\n";
  // The data are a fragment of a page; a stream header in front lets the reader list them.
  const std::string streamHeader = ") HP-PCL XL;2;1\n";
  std::vector<std::uint8_t> fragment(streamHeader.begin(), streamHeader.end());
  fragment.insert(fragment.end(), bytes.begin() + static_cast<std::ptrdiff_t>(header->dataOffset), bytes.end());
  std::ostringstream listing;
  const bool wellFormed = pxl::Dump(fragment, listing);
  std::string text = listing.str();
  // Leave out the stream header added above.
  if (const std::size_t first = text.find('\n'); first != std::string::npos) text.erase(0, first + 1);
  std::cout << "operators:\n" << text;
  if (!wellFormed) std::cout << "(the data end inside a PCL XL command; a captured page is cut at its end marker)\n";
}

}  // namespace

void RegisterOverlayCommand(CLI::App& app) {
  CLI::App* overlay = app.add_subcommand("overlay", "Form overlays: a printer's overlays, one overlay's contents");
  overlay->require_subcommand(1);

  // Each subcommand takes one required argument, kept until its callback runs.
  struct Subcommand {
    const char* name;
    const char* help;
    const char* option;
    const char* optionHelp;
    void (*run)(const std::string&);
  };
  static const Subcommand kSubcommands[] = {
      {"list", "The printer's overlay folder, list and overlay files with their header fields and data size",
       "-p,--printer", "Printer name", RunList},
      {"show", "One overlay file: its header fields, then its data as PCL XL operators", "FILE", "The overlay file",
       RunShow},
  };
  static std::string arguments[std::size(kSubcommands)];
  for (std::size_t i = 0; i < std::size(kSubcommands); ++i) {
    const Subcommand& command = kSubcommands[i];
    CLI::App* sub = overlay->add_subcommand(command.name, command.help);
    sub->add_option(command.option, arguments[i], command.optionHelp)->required();
    sub->callback([&command, &argument = arguments[i]] { command.run(argument); });
  }
}

}  // namespace velmora::cli

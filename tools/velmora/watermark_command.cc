// velmora watermark: the watermarks of a printer, kept in its settings file
// "DrvSettings.GPS" in the user's "VELMORA IT Co/<printer>" folder, one record per
// section "WMSet_<n>". A job's settings name the section numbers to print with.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "formats/text.h"
#include "formats/watermark_settings.h"
#include "platform/files.h"
#include "platform/printer_admin.h"
#include "platform/private_profile.h"
#include "platform/text_encoding.h"
#include "tools/velmora/commands.h"
#include "tools/velmora/file_io.h"
#include "tools/velmora/printer_values.h"
#include "tools/velmora/quoting.h"

namespace velmora::cli {
namespace {

using Json = nlohmann::ordered_json;

// The face field holds 64 characters; the font is made from the first 31 of them.
constexpr std::size_t kFontFaceCharacters = 31;
constexpr std::uint32_t kLargestPointSize = 1000;
constexpr std::uint32_t kLargestImageScale = 1000;

struct Options {
  std::string printer;
  std::string section;
  bool json = false;
  bool system = false;
  std::vector<std::string> assignments;
};

// The printer's settings file, its folders created. The printer must be in the store;
// its name is used as the store spells it, as the spooler reports it to the plug-in.
std::string SettingsFile(const std::string& printer) {
  const std::unique_ptr<platform::PrinterAdmin> store = platform::OpenPrinterAdmin();
  auto names = store->ListPrinters();
  if (!names) throw CommandError(names.error());
  for (const WString& stored : names.value()) {
    if (!text::EqualsNoCase(platform::Utf16ToUtf8(stored), printer)) continue;
    const std::optional<WString> path = WatermarkSettingsPath(stored);
    if (!path) {
      throw CommandError("Unable to create the settings folder of printer " + Quoted(platform::Utf16ToUtf8(stored)) +
                         " (no local application-data folder, or the name is not a folder name)");
    }
    return platform::Utf16ToUtf8(*path);
  }
  throw CommandError("Printer " + Quoted(printer) + " not found in " + store->location());
}

// The section named on the command line: a number from 1 ("3") or a name ("WMSet_3").
std::int32_t SectionNumber(const std::string& given) {
  std::optional<std::int32_t> number = WatermarkSectionNumber(platform::Utf8ToUtf16(given));
  if (!number)
    number = WatermarkSectionNumber(WString(kWatermarkSectionPrefix) + VTEXT('_') + platform::Utf8ToUtf16(given));
  if (!number) throw CommandError(Quoted(given) + " is not a section: give its number (3) or name (WMSet_3)");
  if (*number < 1) {
    throw CommandError("section " + Quoted(given) +
                       " is never read: section numbers start at 1 (0 or less "
                       "means no watermark)");
  }
  return *number;
}

// The record of a section, read through the platform as it is written: nothing when the
// section or key is missing or the value is not one intact record.
std::optional<WatermarkSettings> ReadRecord(const std::string& file, std::int32_t section) {
  const auto bytes = platform::ReadProfileStruct(platform::Utf8ToUtf16(file), WatermarkSectionName(section),
                                                 kWatermarkKey, WatermarkSettings::kSize);
  return bytes ? WatermarkSettings::FromBytes(*bytes) : std::nullopt;
}

bool HasSection(const std::string& file, std::int32_t section) {
  const WString name = WatermarkSectionName(section);
  for (const WString& present : platform::ListProfileSections(platform::Utf8ToUtf16(file))) {
    if (text::EqualsNoCase(WStringView(present), WStringView(name))) return true;
  }
  return false;
}

std::string PlacementName(std::uint32_t placement) {
  switch (placement) {
    case WM_PLACEMENT_CENTRE: return "centre";
    case WM_PLACEMENT_TILE: return "tile";
    case WM_PLACEMENT_FIT: return "fit";
    default: return std::to_string(placement) + " (unknown: nothing is drawn)";
  }
}

// A float as the shortest text that reads back as the same float.
std::string FloatText(float value) {
  char buffer[32];
  for (int digits = 1; digits <= 9; ++digits) {
    std::snprintf(buffer, sizeof buffer, "%.*g", digits, static_cast<double>(value));
    if (std::strtof(buffer, nullptr) == value) break;
  }
  return buffer;
}

std::string Summary(const WatermarkSettings& s) {
  std::ostringstream line;
  if (s.IsBitmap()) {
    // The path as `set` takes it: a Windows path keeps its single backslashes.
    line << "image " << Printable(platform::Utf16ToUtf8(s.imagePath()), false) << ", scale " << s.imageScale() << " %, "
         << PlacementName(s.placement());
    return line.str();
  }
  line << "text " << Printable(platform::Utf16ToUtf8(s.text()), true) << ", "
       << Printable(platform::Utf16ToUtf8(s.faceName()), false) << " " << s.pointSize() << " pt"
       << (s.bold() ? " bold" : "") << (s.italic() ? " italic" : "") << (s.outline() ? " outline" : "") << ", angle "
       << s.angle() << ", darkness " << s.darkness() << " %, " << PlacementName(s.placement());
  return line.str();
}

Json Fields(const WatermarkSettings& s);

// Every readable section as a JSON array of the fields `show --json` gives, for programs.
void ListJson(const std::string& file, const std::vector<WString>& sections) {
  Json list = Json::array();
  for (const WString& section : sections) {
    const std::optional<std::int32_t> number = WatermarkSectionNumber(section);
    const std::optional<WatermarkSettings> settings = number ? ReadRecord(file, *number) : std::nullopt;
    if (!settings) continue;
    Json entry;
    entry["section"] = platform::Utf16ToUtf8(section);
    entry["number"] = *number;
    entry.update(Fields(*settings));
    list.push_back(std::move(entry));
  }
  std::cout << list.dump(2) << "\n";
}

void RunList(const Options& options) {
  const std::string file = SettingsFile(options.printer);
  const std::vector<WString> sections = platform::ListProfileSections(platform::Utf8ToUtf16(file));
  if (options.json) return ListJson(file, sections);
  std::cout << "settings file: " << file << (FileExists(file) ? "" : " (none yet)") << "\n";
  if (sections.empty()) std::cout << "no watermark sections\n";
  for (const WString& section : sections) {
    std::cout << platform::Utf16ToUtf8(section) << ": ";
    const std::optional<std::int32_t> number = WatermarkSectionNumber(section);
    if (!number) {
      std::cout << "(not a watermark section)\n";
      continue;
    }
    const std::optional<WatermarkSettings> settings = ReadRecord(file, *number);
    if (!settings) {
      std::cout << "(unreadable: no intact 816-byte record under \"Value\"; the plug-in uses the defaults)\n";
      continue;
    }
    std::cout << Summary(*settings) << "\n";
  }
}

// The fields in the order and with the names that `set` takes.
Json Fields(const WatermarkSettings& s) {
  Json fields;
  fields["kind"] = s.IsBitmap() ? "image" : "text";
  fields["text"] = platform::Utf16ToUtf8(s.text());
  fields["face"] = platform::Utf16ToUtf8(s.faceName());
  fields["size"] = s.pointSize();
  fields["bold"] = s.bold();
  fields["italic"] = s.italic();
  fields["outline"] = s.outline();
  fields["angle"] = s.angle();
  fields["darkness"] = s.darkness();
  fields["offset-x"] = std::strtod(FloatText(s.offsetX()).c_str(), nullptr);
  fields["offset-y"] = std::strtod(FloatText(s.offsetY()).c_str(), nullptr);
  fields["unit"] = s.offsetsInMillimetres() ? "mm" : "inches";
  fields["placement"] = s.placement() <= WM_PLACEMENT_FIT ? Json(PlacementName(s.placement())) : Json(s.placement());
  fields["image"] = platform::Utf16ToUtf8(s.imagePath());
  fields["scale"] = s.imageScale();
  return fields;
}

void RunShow(const Options& options) {
  const std::int32_t number = SectionNumber(options.section);
  const std::string file = SettingsFile(options.printer);
  const std::string name = platform::Utf16ToUtf8(WatermarkSectionName(number));
  if (!HasSection(file, number)) throw CommandError("no section " + name + " in '" + file + "'");
  const std::optional<WatermarkSettings> settings = ReadRecord(file, number);
  if (!settings) {
    throw CommandError("section " + name + " of '" + file + "' holds no intact 816-byte record under \"Value\"");
  }
  Json fields = Fields(*settings);
  if (options.json) {
    Json document;
    document["section"] = name;
    document.update(fields);
    std::cout << document.dump(2) << "\n";
    return;
  }
  std::cout << "section: " << name << "\n";
  for (const auto& [field, value] : fields.items()) {
    std::cout << field << ": " << (value.is_string() ? Printable(value.get<std::string>(), false) : value.dump())
              << "\n";
  }
}

// ---- set: every value is checked before the file is touched ----

std::uint32_t WholeNumber(const std::string& field, const std::string& value, std::uint32_t low, std::uint32_t high) {
  std::size_t used = 0;
  unsigned long number = 0;
  try {
    if (!value.empty() && value[0] != '-' && value[0] != '+') number = std::stoul(value, &used, 10);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != value.size() || number < low || number > high) {
    throw CommandError(field + " " + Quoted(value) + " is not a whole number from " + std::to_string(low) + " to " +
                       std::to_string(high));
  }
  return static_cast<std::uint32_t>(number);
}

float Offset(const std::string& field, const std::string& value) {
  char* end = nullptr;
  const float number = value.empty() ? NAN : std::strtof(value.c_str(), &end);
  if (end == nullptr || *end != '\0' || !std::isfinite(number)) {
    throw CommandError(field + " " + Quoted(value) + " is not a number");
  }
  return number;
}

bool Switch(const std::string& field, const std::string& value) {
  for (const char* on : {"on", "yes", "true", "1"}) {
    if (text::EqualsNoCase(value, on)) return true;
  }
  for (const char* off : {"off", "no", "false", "0"}) {
    if (text::EqualsNoCase(value, off)) return false;
  }
  throw CommandError(field + " " + Quoted(value) + " is neither on nor off");
}

WString FieldText(const std::string& field, const std::string& value, std::size_t maxUnits) {
  const WString wide = platform::Utf8ToUtf16(value);
  if (wide.size() > maxUnits) {
    throw CommandError(field + " " + Printable(value, true) + " is too long: " + std::to_string(wide.size()) +
                       " UTF-16 units, at most " + std::to_string(maxUnits));
  }
  return wide;
}

// The absolute path of a readable image file of a kind the plug-in loads, judged by its
// first bytes; an empty value clears the image.
WString ImagePath(const std::string& value) {
  if (value.empty()) return WString();
  namespace fs = std::filesystem;
  std::error_code error;
  const std::string path = platform::PathToUtf8(fs::absolute(platform::PathFromUtf8(value), error).lexically_normal());
  std::vector<std::uint8_t> head;
  std::FILE* file = platform::OpenFile(path, "rb");
  if (file == nullptr || !fs::is_regular_file(platform::PathFromUtf8(path), error)) {
    if (file != nullptr) std::fclose(file);
    throw CommandError("image " + Quoted(value) + " cannot be read: " +
                       (file == nullptr ? std::string(std::strerror(errno)) : "not a regular file"));
  }
  head.resize(8);
  head.resize(std::fread(head.data(), 1, head.size(), file));
  std::fclose(file);
  const auto startsWith = [&head](std::initializer_list<std::uint8_t> signature) {
    return head.size() >= signature.size() && std::equal(signature.begin(), signature.end(), head.begin());
  };
  const bool known = startsWith({'B', 'M'}) || startsWith({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}) ||
                     startsWith({0xFF, 0xD8}) || startsWith({'G', 'I', 'F', '8'}) || startsWith({'I', 'I', '*', 0}) ||
                     startsWith({'M', 'M', 0, '*'});
  if (!known) throw CommandError("image " + Quoted(value) + " is not a BMP, PNG, JPEG, GIF or TIFF file");
  return FieldText("image", path, WatermarkSettings::kImagePathUnits - 1);
}

// Applies one FIELD=VALUE to the record.
void Apply(WatermarkSettings& s, const std::string& field, const std::string& value) {
  if (field == "text") return s.set_text(FieldText(field, value, WatermarkSettings::kTextUnits - 1));
  if (field == "face") {
    const WString face = FieldText(field, value, WatermarkSettings::kFaceNameUnits - 1);
    if (face.empty()) throw CommandError("face is empty: give a font family name");
    if (face.size() > kFontFaceCharacters) {
      std::cerr << "velmora: warning: face " << Printable(value, true) << " has " << face.size()
                << " characters; the font is made from the first " << kFontFaceCharacters << "\n";
    }
    return s.set_faceName(face);
  }
  if (field == "size") return s.set_pointSize(WholeNumber(field, value, 1, kLargestPointSize));
  if (field == "bold") return s.set_style(WM_STYLE_BOLD, Switch(field, value));
  if (field == "italic") return s.set_style(WM_STYLE_ITALIC, Switch(field, value));
  if (field == "outline") return s.set_style(WM_STYLE_OUTLINE, Switch(field, value));
  if (field == "angle") return s.set_angle(WholeNumber(field, value, 0, 359));
  if (field == "darkness") return s.set_darkness(WholeNumber(field, value, 0, 100));
  if (field == "offset-x") return s.set_offsetX(Offset(field, value));
  if (field == "offset-y") return s.set_offsetY(Offset(field, value));
  if (field == "scale") return s.set_imageScale(WholeNumber(field, value, 1, kLargestImageScale));
  if (field == "image") return s.set_imagePath(ImagePath(value));
  if (field == "unit") {
    if (value == "inches") return s.set_offsetInMillimetres(0);
    if (value == "mm") return s.set_offsetInMillimetres(1);
    throw CommandError("unit " + Quoted(value) + " is neither inches nor mm");
  }
  if (field == "placement") {
    if (value == "centre" || value == "center") return s.set_placement(WM_PLACEMENT_CENTRE);
    if (value == "tile") return s.set_placement(WM_PLACEMENT_TILE);
    if (value == "fit") return s.set_placement(WM_PLACEMENT_FIT);
    throw CommandError("placement " + Quoted(value) + " is none of centre, tile, fit");
  }
  throw CommandError(Quoted(field) +
                     " is not a watermark field (text, face, size, bold, italic, outline, angle, "
                     "darkness, offset-x, offset-y, unit, placement, image, scale)");
}

void RunSet(const Options& options) {
  const std::int32_t number = SectionNumber(options.section);
  const std::string file = SettingsFile(options.printer);
  const std::string name = platform::Utf16ToUtf8(WatermarkSectionName(number));
  WatermarkSettings settings;
  if (HasSection(file, number)) {
    std::optional<WatermarkSettings> stored = ReadRecord(file, number);
    if (!stored) {
      throw CommandError("section " + name + " of '" + file +
                         "' holds no intact record; remove it first (velmora "
                         "watermark remove) to start again from the defaults");
    }
    settings = *stored;
  }
  try {
    std::map<std::string, bool> seen;
    for (const std::string& assignment : options.assignments) {
      const std::size_t equals = assignment.find('=');
      if (equals == std::string::npos || equals == 0) {
        throw CommandError(Quoted(assignment) + " is not of the form FIELD=VALUE");
      }
      const std::string field = assignment.substr(0, equals);
      if (seen[field]) throw CommandError("field " + Quoted(field) + " is given twice");
      seen[field] = true;
      Apply(settings, field, assignment.substr(equals + 1));
    }
  } catch (const CommandError& error) {
    throw CommandError(std::string(error.what()) + "; '" + file + "' is unchanged");
  }
  if (settings.placement() == WM_PLACEMENT_FIT && !settings.IsBitmap()) {
    std::cerr << "velmora: warning: placement fit applies to images only; text watermark " << name
              << " is not drawn until it has an image or another placement\n";
  }
  if (!platform::WriteProfileStruct(platform::Utf8ToUtf16(file), WatermarkSectionName(number), kWatermarkKey,
                                    settings.bytes())) {
    throw CommandError("Unable to write '" + file + "'");
  }
}

void RunRemove(const Options& options) {
  const std::int32_t number = SectionNumber(options.section);
  const std::string file = SettingsFile(options.printer);
  const std::string name = platform::Utf16ToUtf8(WatermarkSectionName(number));
  if (!HasSection(file, number)) throw CommandError("no section " + name + " in '" + file + "'");
  if (!platform::RemoveProfileSection(platform::Utf8ToUtf16(file), WatermarkSectionName(number))) {
    throw CommandError("Unable to write '" + file + "'");
  }
}

CLI::App* AddCommand(CLI::App* watermark, const std::shared_ptr<Options>& options, const char* name, const char* help,
                     void (*run)(const Options&), bool section) {
  CLI::App* command = watermark->add_subcommand(name, help);
  command->add_option("-p,--printer", options->printer, "Printer name")->required();
  if (section) command->add_option("SECTION", options->section, "Section number (3) or name (WMSet_3)")->required();
  if (const std::optional<std::string> system = platform::SystemFolder()) {
    command->add_flag("--system", options->system,
                      "The sections of a CUPS queue, in the system folder the CUPS filter reads (" + *system +
                          "), instead of the user's");
  }
  command->callback([options, run] {
    if (options->system && !platform::UseSystemFolder()) throw CommandError("Unable to use the system folder");
    run(*options);
  });
  return command;
}

}  // namespace

void RegisterWatermarkCommand(CLI::App& app) {
  CLI::App* watermark = app.add_subcommand(
      "watermark",
      "A printer's watermarks: the sections of DrvSettings.GPS in the user's VELMORA IT Co/<printer> "
      "folder (see docs/watermarks.md)");
  watermark->require_subcommand(1);
  // The options live as long as the commands that are parsed into them and read them.
  auto options = std::make_shared<Options>();

  CLI::App* list =
      AddCommand(watermark, options, "list", "List the sections with a one-line summary each", RunList, false);
  list->add_flag("--json", options->json, "List the readable sections as a JSON array of their fields");

  CLI::App* show =
      AddCommand(watermark, options, "show", "Show one section's fields as name: value lines", RunShow, true);
  show->add_flag("--json", options->json, "Show them as JSON");

  CLI::App* set = AddCommand(
      watermark, options, "set",
      "Set fields (FIELD=VALUE), creating the section from the defaults when missing: text (63 characters), face "
      "(64; the font uses 31), size (1-1000 points), bold|italic|outline on|off, angle (0-359), darkness (0-100 %), "
      "offset-x, offset-y, unit inches|mm, placement centre|tile|fit, image FILE (BMP, PNG, JPEG, GIF, TIFF; empty "
      "clears it), scale (1-1000 %). Nothing is written unless every value is valid",
      RunSet, true);
  set->add_option("ASSIGNMENT", options->assignments, "FIELD=VALUE")->required();

  AddCommand(watermark, options, "remove", "Remove one section", RunRemove, true);
}

}  // namespace velmora::cli

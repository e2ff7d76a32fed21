// The job's settings from JSON tickets, NAME=VALUE assignments and FEATURE=OPTION choices.
#include "host/job_settings.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "formats/settings_fields.h"
#include "formats/vendor_devmode.h"
#include "host/host_error.h"
#include "host/printer_description.h"
#include "platform/files.h"

namespace velmora::host {
namespace {

using Json = nlohmann::json;

// A ticket names a few hundred fields at most; this is far more than any needs.
constexpr std::size_t kLargestTicket = std::size_t{1} << 20;

// Public fields that describe the device mode itself; only the host writes them.
constexpr std::string_view kHostOwnedFields[] = {"dmDeviceName", "dmSize", "dmDriverExtra", "dmFields"};

std::string ValueText(const Json& value, const std::string& origin, const std::string& name) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_boolean()) return value.get<bool>() ? "1" : "0";
  if (value.is_number_integer()) return std::to_string(value.get<long long>());
  if (value.is_number_unsigned()) return std::to_string(value.get<unsigned long long>());
  if (value.is_number_float()) return value.dump();
  throw HostError(origin + ": '" + name + "' must be a number or a text, not " + value.type_name());
}

std::string Join(std::string_view separator, const std::vector<std::string>& items) {
  std::string joined;
  for (const std::string& item : items) {
    if (!joined.empty()) joined += separator;
    joined += item;
  }
  return joined;
}

}  // namespace

std::vector<SettingAssignment> ParseTicket(std::string_view json, const std::string& origin) {
  Json ticket = Json::parse(json, nullptr, false);
  if (ticket.is_discarded()) throw HostError(origin + " is not well-formed JSON");
  if (!ticket.is_object()) throw HostError(origin + " must hold a JSON object of setting names and values");

  std::vector<SettingAssignment> settings;
  for (const auto& [name, value] : ticket.items()) {
    if (name.starts_with("SpecialPage") && value.is_object()) {
      for (const auto& [member, memberValue] : value.items()) {
        const std::string field = name + "." + member;
        settings.push_back({origin, field, ValueText(memberValue, origin, field)});
      }
      continue;
    }
    if (name == "szMargins" && value.is_array()) {
      std::vector<std::string> margins;
      for (const Json& margin : value) margins.push_back(ValueText(margin, origin, name));
      settings.push_back({origin, name, Join(",", margins)});
      continue;
    }
    settings.push_back({origin, name, ValueText(value, origin, name)});
  }
  return settings;
}

std::vector<SettingAssignment> ReadTicket(const std::string& path) {
  const std::string origin = "Ticket '" + path + "'";
  const std::string unable = "Unable to read ticket '" + path + "': ";
  const std::filesystem::path file = platform::PathFromUtf8(path);
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(file, error);
  if (status.type() == std::filesystem::file_type::directory) throw HostError(unable + "it is a folder");
  // A device or a pipe could be read without end (/dev/zero); a ticket is a file.
  if (!error && status.type() != std::filesystem::file_type::regular) {
    throw HostError(unable + "it is not a regular file");
  }
  std::ifstream stream(file, std::ios::binary);
  if (!stream) throw HostError(unable + std::strerror(errno));
  // One byte more than the limit tells a file that grew since it was looked at.
  std::string text(kLargestTicket + 1, '\0');
  stream.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (stream.bad()) throw HostError(unable + std::strerror(errno));
  text.resize(static_cast<std::size_t>(stream.gcount()));
  if (text.size() > kLargestTicket) throw HostError(unable + "it is larger than 1 MiB, the most a ticket may hold");
  return ParseTicket(text, origin);
}

SettingAssignment ParseAssignment(std::string_view text, const std::string& origin) {
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos || equals == 0) {
    throw HostError(origin + " '" + std::string(text) + "': expected NAME=VALUE");
  }
  return {origin, std::string(text.substr(0, equals)), std::string(text.substr(equals + 1))};
}

void ApplySettings(DeviceMode& app, const std::vector<SettingAssignment>& settings) {
  for (const SettingAssignment& setting : settings) {
    for (std::string_view owned : kHostOwnedFields) {
      if (setting.name == owned) throw HostError(setting.origin + ": '" + setting.name + "' is set by the host");
    }
    // Record fields lie anywhere in a whole record; a plug-in with a smaller record
    // cannot take them.
    const bool publicField = setting.name.starts_with("dm");
    if (!publicField && app.recordSize() < kVendorRecordSize) {
      throw HostError(setting.origin + ": '" + setting.name + "' cannot be set: the plug-in's settings record has " +
                      std::to_string(app.recordSize()) + " bytes");
    }
    // With a smaller record only public fields are set; a scratch body stands in for it.
    std::vector<std::uint8_t> scratch;
    std::uint8_t* body = app.record() + kVendorHeaderSize;
    if (app.recordSize() < kVendorRecordSize) {
      scratch.resize(kVendorBodySize);
      body = scratch.data();
    }
    if (auto error = SetNamedField(body, app.bytes(), setting.name, setting.value)) {
      throw HostError(setting.origin + ": " + *error);
    }
  }
}

FeatureOptions ParseOptionChoices(const std::vector<std::string>& texts) {
  FeatureOptions choices;
  for (const std::string& text : texts) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) throw HostError("--option '" + text + "': expected FEATURE=OPTION");
    const std::string feature = text.substr(0, equals);
    const std::string option = text.substr(equals + 1);
    if (!IsKnownFeature(feature)) {
      const std::vector<std::string> known(std::begin(kFeatures), std::end(kFeatures));
      throw HostError("--option '" + text + "': unknown feature '" + feature + "' (" + Join(", ", known) + ")");
    }
    if (!IsKnownOption(feature, option)) {
      const std::vector<std::string_view> options = OptionsOf(feature);
      const std::vector<std::string> known(options.begin(), options.end());
      throw HostError("--option '" + text + "': unknown option '" + option + "' of " + feature + " (" +
                      Join(", ", known) + ")");
    }
    choices[feature] = option;
  }
  return choices;
}

void ApplyOptionChoices(DeviceMode& app, const FeatureOptions& choices) {
  if (auto it = choices.find(kFeaturePaperSize); it != choices.end()) {
    const Paper* paper = FindPaperByOption(it->second);
    app.PutI16(devmode_offset::kPaperSize, paper->paperCode);
    app.PutFormName(paper->formName);
  }
  if (auto it = choices.find(kFeatureInputBin); it != choices.end()) {
    app.PutI16(devmode_offset::kDefaultSource, *SourceForInputBin(it->second));
  }
  if (auto it = choices.find(kFeatureOrientation); it != choices.end()) {
    constexpr std::int16_t kPortrait = 1;
    constexpr std::int16_t kLandscape = 2;
    app.PutI16(devmode_offset::kOrientation, it->second.ends_with("LANDSCAPE") ? kLandscape : kPortrait);
  }
}

bool ReversesOrientation(const FeatureOptions& choices) {
  const auto it = choices.find(kFeatureOrientation);
  return it != choices.end() && it->second.starts_with("REVERSE_");
}

FeatureOptions JobFeatureOptions(const DeviceMode& job, const FeatureOptions& choices) {
  FeatureOptions options;
  const Paper* paper = FindPaperByForm(job.FormName());
  if (paper == nullptr) paper = FindPaperByCode(job.I16(devmode_offset::kPaperSize));
  options[std::string(kFeaturePaperSize)] = paper != nullptr ? std::string(paper->option) : "CUSTOMSIZE";
  options[std::string(kFeatureMediaType)] = std::string(kMediaTypeOptions[0]);
  options[std::string(kFeatureInputBin)] = std::string(InputBinForSource(job.I16(devmode_offset::kDefaultSource)));
  for (const auto& [feature, option] : choices) options[feature] = option;
  return options;
}

}  // namespace velmora::host

// Fuzz target: a print queue's option table mapping what arrives from outside: the PPD's
// *Default lines, the CUPS options of a job (lp -o) and the attributes of an IPP job, with
// any copies count.
// Property: every setting the mapping produces is in range for its field of the settings
// record or public device mode (the ranges the plug-in gives each field, listed below,
// and the field's own width and length), every feature choice is an option the host
// knows for that feature, and every value is one the option table offers.
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/le_bytes.h"
#include "formats/settings_fields.h"
#include "formats/vendor_devmode.h"
#include "fuzz/fuzz_target.h"
#include "host/printer_description.h"
#include "platform/text_encoding.h"
#include "tools/cups/cups_options.h"

namespace velmora::fuzz {
namespace {

struct FieldRange {
  std::string_view field;
  int low;
  int high;
  std::vector<int> only = {};  // when not empty, the values allowed within the range
};

// What each field the queue sets may hold: the plug-in's tables and the printer's
// settings (hold modes 0-7, watermark sections 0-16, N-up orders 0-7 and 2-up orders 0-1,
// the pages per sheet it lays out, the resolutions it prints at, copies the job header
// takes).
const FieldRange kRanges[] = {
    {"dmDuplex", 1, 3},
    {"dmCollate", 0, 1},
    {"sResolution", 600, 1200, {600, 1200}},
    {"dmPrintQuality", 600, 1200, {600, 1200}},
    {"dwOutputBin", 0, 2},
    {"bStaple", 0, 1},
    {"bEconoMode", 0, 1},
    {"sBrightness", -5, 5},
    {"sContrast", -5, 5},
    {"sTonerDarkness", 1, 10},
    {"eHoldMode", 0, 7},
    {"sFP_SectionIndex", 0, 16},
    {"sNP_SectionIndex", 0, 16},
    {"eWMUsage", 0, 3},
    {"dwOverlayMode", 0, 3},
    {"bOverlayUnder", 0, 1},
    {"bBooklet", 0, 1},
    {"vdmPagesPerSheet", 1, 16, {1, 2, 4, 6, 8, 9, 16}},
    {"dwNupOrder", 0, 7},
    {"dwTwoUpOrder", 0, 1},
    {"dmCopies", 1, 999},
};
// Box name, print box folder and PIN: UTF-8 text of at most 32 bytes without control
// characters.
constexpr std::string_view kTextFields[] = {"szFileBoxName", "szPrintBoxDir", "szFileBoxPassword"};
constexpr std::size_t kMaxTextBytes = 32;

std::optional<int> Whole(std::string_view text) {
  const bool negative = text.starts_with('-');
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  const int value = std::stoi(std::string(text));
  return negative ? -value : value;
}

// The values an option offers for one of the fields its setting names.
bool OptionOffers(const cups::Option& option, std::size_t fieldIndex, std::string_view value) {
  switch (option.kind) {
    case cups::OptionKind::kNumber: {
      const auto number = Whole(value);
      return number && *number >= option.minimum && *number <= option.maximum;
    }
    case cups::OptionKind::kText: return value.size() <= static_cast<std::size_t>(option.maxBytes);
    case cups::OptionKind::kPickOne:
      for (const cups::Choice& choice : option.choices) {
        // One value for every field, or one per field separated by commas.
        std::string_view values = choice.value;
        if (values.find(',') == std::string_view::npos) {
          if (values == value) return true;
          continue;
        }
        for (std::size_t i = 0; i < fieldIndex && !values.empty(); ++i) {
          values.remove_prefix(std::min(values.find(','), values.size() - 1) + 1);
        }
        if (values.substr(0, values.find(',')) == value) return true;
      }
      return false;
  }
  return false;
}

// Some option of the table sets `field` and offers `value` for it.
bool TableOffers(std::string_view field, std::string_view value) {
  for (const cups::Option& option : cups::Options()) {
    if (option.target != cups::Target::kSetting) continue;
    std::string_view fields = option.setting;
    for (std::size_t index = 0; !fields.empty(); ++index) {
      const std::size_t comma = std::min(fields.find(','), fields.size());
      if (fields.substr(0, comma) == field && OptionOffers(option, index, value)) return true;
      fields.remove_prefix(std::min(comma + 1, fields.size()));
    }
  }
  return false;
}

void CheckSetting(const host::SettingAssignment& setting) {
  // The field takes the value: it is a field, and the value fits its width or length.
  std::vector<std::uint8_t> record(kVendorRecordSize, 0);
  StampVendorHeader(record.data());
  FillVendorDefaults(record.data() + kVendorHeaderSize);
  std::vector<std::uint8_t> devmode(220, 0);
  le::PutU16(devmode.data() + 68, 220);
  if (SetNamedField(record.data() + kVendorHeaderSize, devmode.data(), setting.name, setting.value)) __builtin_trap();

  if (setting.name == "dmCopies") {
    const auto copies = Whole(setting.value);
    if (!copies || *copies < 2 || *copies > 999) __builtin_trap();
    return;
  }
  if (!TableOffers(setting.name, setting.value)) __builtin_trap();
  if (std::find(std::begin(kTextFields), std::end(kTextFields), setting.name) != std::end(kTextFields)) {
    const std::string_view text = setting.value;
    if (text.size() > kMaxTextBytes) __builtin_trap();
    if (std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
      __builtin_trap();
    }
    if (platform::Utf16ToUtf8(platform::Utf8ToUtf16(text)) != text) __builtin_trap();
    return;
  }
  for (const FieldRange& range : kRanges) {
    if (range.field != setting.name) continue;
    const auto value = Whole(setting.value);
    if (!value || *value < range.low || *value > range.high) __builtin_trap();
    if (!range.only.empty() && std::find(range.only.begin(), range.only.end(), *value) == range.only.end()) {
      __builtin_trap();
    }
  }
}

// The host knows the option for its feature: a paper, input bin or media type of the
// printer description, else one the table offers for the feature.
void CheckChoice(std::string_view feature, std::string_view value) {
  const auto known = [&](const auto& rows, auto name) {
    return std::any_of(std::begin(rows), std::end(rows), [&](const auto& row) { return name(row) == value; });
  };
  if (feature == host::kFeaturePaperSize) {
    if (!known(host::kPapers, [](const host::Paper& p) { return p.option; })) __builtin_trap();
  } else if (feature == host::kFeatureInputBin) {
    if (!known(host::kInputBins, [](const host::InputBin& b) { return b.option; })) __builtin_trap();
  } else if (feature == host::kFeatureMediaType) {
    if (!known(host::kMediaTypeOptions, [](std::string_view m) { return m; })) __builtin_trap();
  }
  for (const cups::Option& option : cups::Options()) {
    if (option.target != cups::Target::kFeature || option.setting != feature) continue;
    if (!OptionOffers(option, 0, value)) __builtin_trap();
    return;
  }
  __builtin_trap();  // a feature no option sets
}

void Check(const cups::JobOptions& job) {
  for (const host::SettingAssignment& setting : job.settings) CheckSetting(setting);
  for (const auto& [feature, value] : job.choices) CheckChoice(feature, value);
}

// "name=value" lines; a line without '=' is a name with an empty value.
std::vector<cups::NamedOption> Lines(std::string_view text) {
  std::vector<cups::NamedOption> options;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    const std::size_t equals = std::min(line.find('='), line.size());
    options.emplace_back(std::string(line.substr(0, equals)),
                         std::string(line.substr(std::min(equals + 1, line.size()))));
  }
  return options;
}

// Input: two bytes of copies (less 16, so that counts below 1 come up), then the PPD, the
// job's CUPS options and the IPP job's attributes, separated by NUL bytes.
void Entry(const std::uint8_t* data, std::size_t size) {
  InputCursor input(data, size);
  const int copies = (input.Byte() | (input.Byte() << 8)) - 16;
  std::string_view rest(reinterpret_cast<const char*>(input.rest()), input.restSize());
  std::string_view parts[3];
  for (std::string_view& part : parts) {
    const std::size_t end = std::min(rest.find('\0'), rest.size());
    part = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  const std::vector<cups::NamedOption> defaults = cups::ReadPpdDefaults(parts[0]);
  Check(cups::MapJobOptions(defaults, Lines(parts[1]), copies));
  Check(cups::MapIppJobOptions(defaults, Lines(parts[2]), copies));
  for (const cups::NamedOption& option : Lines(parts[2])) (void)cups::IppKeyword(option.second);
}

std::vector<std::uint8_t> MakeSeed(int copies, std::string_view ppd, std::string_view lp, std::string_view ipp) {
  std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(copies + 16),
                                  static_cast<std::uint8_t>((copies + 16) >> 8)};
  for (const std::string_view part : {ppd, lp, ipp}) {
    if (part.data() != ppd.data()) bytes.push_back(0);
    bytes.insert(bytes.end(), part.begin(), part.end());
  }
  return bytes;
}

std::vector<Seed> Seeds() {
  // The PPD's defaults; then each option with each of its choices (or its range's ends),
  // under its keyword for lp and under its IPP name for an IPP job, a few options a seed
  // so that every seed stays within the target's 1 KiB inputs.
  std::string ppd = "*PPD-Adobe: \"4.3\"\n";
  std::vector<Seed> seeds;
  std::string lp, ipp;
  const auto flush = [&] {
    seeds.push_back({"options-" + std::to_string(seeds.size()), MakeSeed(2, {}, lp, ipp)});
    lp.clear();
    ipp.clear();
  };
  for (const cups::Option& option : cups::Options()) {
    if (!option.group.empty()) {
      ppd += "*Default" + std::string(option.keyword) + ": " + std::string(option.defaultChoice) + "\n";
    }
    std::vector<std::string> values;
    for (const cups::Choice& choice : option.choices) values.emplace_back(choice.keyword);
    if (option.kind == cups::OptionKind::kNumber) {
      values = {std::to_string(option.minimum), std::to_string(option.maximum), std::to_string(option.maximum + 1)};
    }
    if (option.kind == cups::OptionKind::kText) values = {"Custom.Finance", "None", std::string(40, 'x')};
    for (const std::string& value : values) {
      lp += std::string(option.keyword) + "=" + value + "\n";
      ipp += cups::IppAttributeName(option) + "=" + cups::IppKeyword(value) + "\n";
    }
    if (lp.size() + ipp.size() > 400) flush();
  }
  if (!lp.empty()) flush();
  const std::string names =
      "media=iso_a5_148x210mm,tray-2,stationery\nsides=two-sided-short-edge\nfinishings=4\nprint-quality=5\n"
      "job-password=1234\nnumber-up=4\nfit-to-page=true\noutput-bin=stacker-1\nlandscape\npage-ranges=1-3";
  seeds.push_back({"ppd", MakeSeed(3, ppd, {}, {})});
  seeds.push_back({"ipp-names", MakeSeed(1000, {}, names, names)});
  return seeds;
}

VELMORA_FUZZ_TARGET(cups_options, Entry, Seeds);

}  // namespace
}  // namespace velmora::fuzz

// The host's printer description: callbacks by job point, papers, bins and media types.
#include "host/printer_description.h"

#include <algorithm>

namespace velmora::host {
namespace {

WCHAR Lower(WCHAR c) { return (c >= WCHAR{0x41} && c <= WCHAR{0x5A}) ? static_cast<WCHAR>(c + 0x20) : c; }

bool EqualsNoCase(WStringView a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(static_cast<WCHAR>(static_cast<unsigned char>(b[i])))) return false;
  }
  return true;
}

}  // namespace

std::span<const PrinterCommand> CommandsAt(JobPoint point) {
  const auto* first = std::find_if(std::begin(kPrinterCommands), std::end(kPrinterCommands),
                                   [point](const PrinterCommand& c) { return c.point == point; });
  const auto* last =
      std::find_if(first, std::end(kPrinterCommands), [point](const PrinterCommand& c) { return c.point != point; });
  return {first, last};
}

const Paper* FindPaperByForm(WStringView formName) {
  for (const Paper& paper : kPapers) {
    if (EqualsNoCase(formName, paper.formName)) return &paper;
  }
  return nullptr;
}

const Paper* FindPaperByCode(std::int16_t paperCode) {
  for (const Paper& paper : kPapers) {
    if (paper.paperCode == paperCode) return &paper;
  }
  return nullptr;
}

const Paper* FindPaperByOption(std::string_view option) {
  for (const Paper& paper : kPapers) {
    if (paper.option == option) return &paper;
  }
  return nullptr;
}

std::string_view InputBinForSource(std::int16_t defaultSource) {
  for (const InputBin& bin : kInputBins) {
    if (bin.defaultSource == defaultSource) return bin.option;
  }
  return kInputBins[0].option;
}

std::int16_t CurrentSource(std::int16_t defaultSource) {
  for (const FormerBinNumber& former : kFormerBinNumbers) {
    if (former.formerSource == defaultSource) return *SourceForInputBin(former.option);
  }
  return defaultSource;
}

std::optional<std::int16_t> SourceForInputBin(std::string_view option) {
  for (const InputBin& bin : kInputBins) {
    if (bin.option == option) return bin.defaultSource;
  }
  return std::nullopt;
}

std::vector<std::string_view> OptionsOf(std::string_view feature) {
  std::vector<std::string_view> options;
  const auto all = [&options](const auto& names) { options.assign(std::begin(names), std::end(names)); };
  if (feature == kFeaturePaperSize) {
    for (const Paper& paper : kPapers) options.push_back(paper.option);
  } else if (feature == kFeatureInputBin) {
    for (const InputBin& bin : kInputBins) options.push_back(bin.option);
  } else if (feature == kFeatureMediaType) {
    all(kMediaTypeOptions);
  } else if (feature == kFeatureOrientation) {
    all(kOrientationOptions);
  } else if (feature == kFeatureOutputOrder) {
    all(kOutputOrderOptions);
  } else if (feature == kFeaturePageScaling) {
    all(kPageScalingOptions);
  }
  return options;
}

bool IsKnownFeature(std::string_view feature) {
  return std::find(std::begin(kFeatures), std::end(kFeatures), feature) != std::end(kFeatures);
}

bool IsKnownOption(std::string_view feature, std::string_view option) {
  const std::vector<std::string_view> options = OptionsOf(feature);
  return std::find(options.begin(), options.end(), option) != options.end();
}

}  // namespace velmora::host

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

std::optional<std::int16_t> SourceForInputBin(std::string_view option) {
  for (const InputBin& bin : kInputBins) {
    if (bin.option == option) return bin.defaultSource;
  }
  return std::nullopt;
}

bool IsKnownFeature(std::string_view feature) {
  return feature == kFeaturePaperSize || feature == kFeatureMediaType || feature == kFeatureInputBin;
}

bool IsKnownOption(std::string_view feature, std::string_view option) {
  if (feature == kFeaturePaperSize) return FindPaperByOption(option) != nullptr;
  if (feature == kFeatureInputBin) return SourceForInputBin(option).has_value();
  if (feature == kFeatureMediaType) {
    return std::find(std::begin(kMediaTypeOptions), std::end(kMediaTypeOptions), option) != std::end(kMediaTypeOptions);
  }
  return false;
}

}  // namespace velmora::host

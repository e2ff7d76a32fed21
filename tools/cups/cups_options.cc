// The table of a queue's options and the mapping of a job's CUPS options onto it.
#include "tools/cups/cups_options.h"

#include <algorithm>
#include <map>
#include <optional>

#include "host/printer_description.h"
#include "platform/text_encoding.h"

namespace velmora::cups {
namespace {

using host::kInputBins;
using host::kMediaTypeOptions;
using host::kPapers;

// Page sizes by the printer description's papers, in its order, with the PPD's standard
// names.
constexpr Choice kPageSizes[] = {
    {"A4", "A4", "A4"},
    {"Letter", "US Letter", "LETTER"},
    {"Legal", "US Legal", "LEGAL"},
    {"B5", "JIS B5", "B5"},
    {"A5", "A5", "A5"},
    {"B6", "JIS B6", "B6_JIS"},
    {"A6", "A6", "A6"},
    {"Statement", "Statement", "STATEMENT"},
    {"Executive", "Executive", "EXECUTIVE"},
    {"FanFoldGermanLegal", "8.5x13", "8_5X13"},
    {"Env10", "Envelope #10", "ENV_10"},
    {"EnvMonarch", "Envelope Monarch", "ENV_MONARCH"},
    {"EnvC5", "Envelope C5", "ENV_C5"},
    {"EnvC6", "Envelope C6", "ENV_C6"},
    {"EnvDL", "Envelope DL", "ENV_DL"},
    {"Env9", "Envelope #9", "ENV_9"},
    {"Quarto", "Quarto", "QUATRO"},
    {"Postcard", "Japanese Postcard", "POSTCARD_100"},
};

// The IPP (PWG) media names of the same papers, for -o media=.
constexpr std::pair<std::string_view, std::string_view> kPwgMedia[] = {
    {"iso_a4_210x297mm", "A4"},
    {"na_letter_8.5x11in", "Letter"},
    {"na_legal_8.5x14in", "Legal"},
    {"jis_b5_182x257mm", "B5"},
    {"iso_a5_148x210mm", "A5"},
    {"jis_b6_128x182mm", "B6"},
    {"iso_a6_105x148mm", "A6"},
    {"na_invoice_5.5x8.5in", "Statement"},
    {"na_executive_7.25x10.5in", "Executive"},
    {"na_foolscap_8.5x13in", "FanFoldGermanLegal"},
    {"na_number-10_4.125x9.5in", "Env10"},
    {"na_monarch_3.875x7.5in", "EnvMonarch"},
    {"iso_c5_162x229mm", "EnvC5"},
    {"iso_c6_114x162mm", "EnvC6"},
    {"iso_dl_110x220mm", "EnvDL"},
    {"na_number-9_3.875x8.875in", "Env9"},
    {"na_quarto_8.5x10.83in", "Quarto"},
    {"jpn_hagaki_100x148mm", "Postcard"},
};

// clang-format off
constexpr Choice kInputSlots[] = {
    {"Auto", "Automatic", "FORMSOURCE"},
    {"Manual", "Bypass Tray", "BYPASSTRAY"},
    {"Tray1", "Tray 1", "TRAY1"},
    {"Tray2", "Tray 2", "TRAY2"},
    {"Tray3", "Tray 3", "TRAY3"},
};
// clang-format on

constexpr Choice kMediaTypes[] = {
    {"Standard", "Printer Default", "STANDARD"},
    {"Auto", "Automatic", "AUTO"},
    {"Plain", "Plain Paper", "PLAIN"},
    {"Recycled", "Recycled Paper", "RECYCLED"},
    {"Thick", "Thick Paper", "THICK"},
    {"VeryThick", "Very Thick Paper", "VERYTHICK"},
    {"Thin", "Thin Paper", "THIN"},
    {"Transparency", "Transparency", "TRANSPARENCY"},
    {"PaperLabel", "Paper Labels", "PAPERLABEL"},
    {"VinylLabel", "Vinyl Labels", "VINYLLABEL"},
    {"Envelope", "Envelope", "ENVELOPE"},
    {"Cardstock", "Cardstock", "CARDSTOCK"},
    {"Postcard", "Postcard", "POSTCARD"},
};

// Each table follows the printer description row for row, so that a paper, bin or
// media type added there cannot be missing here.
template <std::size_t N, typename Row, std::size_t M, typename Name>
constexpr bool FollowsDescription(const Choice (&choices)[N], const Row (&rows)[M], Name name) {
  if (N != M) return false;
  for (std::size_t i = 0; i < N; ++i) {
    if (choices[i].value != name(rows[i])) return false;
  }
  return true;
}
static_assert(FollowsDescription(kPageSizes, kPapers, [](const host::Paper& p) { return p.option; }));
static_assert(FollowsDescription(kInputSlots, kInputBins, [](const host::InputBin& b) { return b.option; }));
static_assert(FollowsDescription(kMediaTypes, kMediaTypeOptions, [](std::string_view m) { return m; }));
static_assert(std::size(kPwgMedia) == std::size(kPapers));

// clang-format off
constexpr Choice kDuplex[] = {
    {"None", "Off", "1"},
    {"DuplexNoTumble", "Long Edge", "2"},
    {"DuplexTumble", "Short Edge", "3"},
};
constexpr Choice kOffOn[] = {{"False", "Off", "0"}, {"True", "On", "1"}};
constexpr Choice kResolutions[] = {{"600dpi", "600 dpi", "600"}, {"1200dpi", "1200 dpi", "1200"}};
constexpr Choice kOutputBins[] = {
    {"Auto", "Printer Default", "0"}, {"Upper", "Upper Bin", "1"}, {"Extra", "Extra Bin", "2"}};
constexpr Choice kStaples[] = {{"None", "Off", "0"}, {"TopLeft", "Top Left", "1"}};
constexpr Choice kHoldModes[] = {
    {"Normal", "Print", "0"},          {"Sample", "Proof and Hold", "1"},
    {"Locked", "Private (PIN)", "2"},  {"StoredPrint", "Store and Print", "3"},
    {"Stored", "Store", "4"},          {"IDPrint", "ID Print", "5"},
    {"IDPrintStored", "ID Print and Store", "6"}, {"BoxStored", "Store in Print Box", "7"},
};
constexpr Choice kWatermarkUsage[] = {
    {"AllPages", "First Watermark on Every Page", "0"},
    {"FirstPageOnly", "First Page Only", "1"},
    {"FirstAndNext", "First Page, Then Next-Pages Watermark", "2"},
    {"OddEven", "Odd Pages First, Even Pages Next", "3"},
};
constexpr Choice kOverlayModes[] = {
    {"None", "Off", "0"}, {"Create", "Capture This Job as the Overlay", "1"},
    {"One", "One Overlay on Every Page", "2"}, {"OddEven", "Odd and Even Overlays", "3"}};
constexpr Choice kOverlayPositions[] = {{"Over", "Over the Page", "0"}, {"Under", "Under the Page", "1"}};
constexpr Choice kPagesPerSheet[] = {{"1", "1", "1"}, {"2", "2", "2"}, {"4", "4", "4"}, {"6", "6", "6"},
                                     {"8", "8", "8"}, {"9", "9", "9"}, {"16", "16", "16"}};
// IPP's number-up-layout: the order a reader sees the pages of a sheet in, as the N-up
// order and the 2-up order. The 2-up order follows the layout's horizontal direction,
// since two pages side by side are the common 2-up sheet.
constexpr Choice kNupLayouts[] = {
    {"lrtb", "Left to Right, Top to Bottom", "4,0"}, {"lrbt", "Left to Right, Bottom to Top", "6,0"},
    {"rltb", "Right to Left, Top to Bottom", "5,1"}, {"rlbt", "Right to Left, Bottom to Top", "7,1"},
    {"tblr", "Top to Bottom, Left to Right", "0,0"}, {"tbrl", "Top to Bottom, Right to Left", "1,1"},
    {"btlr", "Bottom to Top, Left to Right", "2,0"}, {"btrl", "Bottom to Top, Right to Left", "3,1"},
};
// IPP's orientation-requested, as CUPS's pdftopdf prints it: the page is put on the sheet
// of the orientation (a page of the other shape turned a quarter to fit), and the reverse
// orientations turn that sheet's content a half turn.
constexpr Choice kOrientations[] = {{"3", "Portrait", "PORTRAIT"}, {"4", "Landscape", "LANDSCAPE"},
                                    {"5", "Reverse Landscape", "REVERSE_LANDSCAPE"},
                                    {"6", "Reverse Portrait", "REVERSE_PORTRAIT"}};
constexpr Choice kOutputOrders[] = {{"normal", "Normal", "NORMAL"}, {"reverse", "Reverse", "REVERSE"}};
// IPP's print-scaling, as the host places pages: auto-fit fits a page larger than the
// sheet into the printable area and centres a smaller one at its own size; auto does the
// same, since it fills only a borderless sheet, which this printer has none of. fit fits
// every page into the printable area, fill covers the sheet with it and cuts off what lies
// beyond, none keeps every page's size.
constexpr Choice kPrintScalings[] = {{"auto", "Automatic", "AUTO"},
                                     {"auto-fit", "Fit Larger Pages", "AUTO"},
                                     {"fit", "Fit to Printable Area", "FIT"},
                                     {"fill", "Fill the Sheet", "FILL"},
                                     {"none", "Actual Size", "NONE"}};
// clang-format on

constexpr std::string_view kGeneral = "General";
constexpr std::string_view kQuality = "Quality";
constexpr std::string_view kJobStorage = "JobStorage";
constexpr std::string_view kWatermark = "Watermark";
constexpr std::string_view kOverlay = "Overlay";
constexpr std::string_view kLayout = "Layout";

// A setting may name several fields, separated by commas: the resolution is both the
// plug-in's choice and the device mode's. A choice gives each of them the same value, or
// one value per field, also separated by commas (the page order of N-up sheets).
constexpr Option kOptions[] = {
    {"PageSize", "Page Size", kGeneral, Target::kFeature, "PaperSize", OptionKind::kPickOne, kPageSizes, "A4"},
    {"InputSlot", "Paper Source", kGeneral, Target::kFeature, "InputBin", OptionKind::kPickOne, kInputSlots, "Auto"},
    {"MediaType", "Media Type", kGeneral, Target::kFeature, "MediaType", OptionKind::kPickOne, kMediaTypes, "Standard"},
    {"Duplex", "Two-Sided", kGeneral, Target::kSetting, "dmDuplex", OptionKind::kPickOne, kDuplex, "None"},
    {"Collate", "Collate", kGeneral, Target::kSetting, "dmCollate", OptionKind::kPickOne, kOffOn, "False"},
    {"Resolution", "Resolution", kGeneral, Target::kSetting, "sResolution,dmPrintQuality", OptionKind::kPickOne,
     kResolutions, "600dpi"},
    {"OutputBin", "Output Bin", kGeneral, Target::kSetting, "dwOutputBin", OptionKind::kPickOne, kOutputBins, "Auto"},
    {"Staple", "Staple", kGeneral, Target::kSetting, "bStaple", OptionKind::kPickOne, kStaples, "None"},
    {"EconoMode", "Toner Saving", kQuality, Target::kSetting, "bEconoMode", OptionKind::kPickOne, kOffOn, "False"},
    {"Brightness", "Brightness", kQuality, Target::kSetting, "sBrightness", OptionKind::kNumber, {}, "0", -5, 5},
    {"Contrast", "Contrast", kQuality, Target::kSetting, "sContrast", OptionKind::kNumber, {}, "1", -5, 5},
    {"TonerDarkness",
     "Toner Darkness",
     kQuality,
     Target::kSetting,
     "sTonerDarkness",
     OptionKind::kNumber,
     {},
     "6",
     1,
     10},
    {"HoldMode", "Job Storage", kJobStorage, Target::kSetting, "eHoldMode", OptionKind::kPickOne, kHoldModes, "Normal"},
    {"FileBoxName", "Box Name", kJobStorage, Target::kSetting, "szFileBoxName", OptionKind::kText, {}, "", 0, 0, 32},
    {"PrintBoxDir",
     "Print Box Folder",
     kJobStorage,
     Target::kSetting,
     "szPrintBoxDir",
     OptionKind::kText,
     {},
     "",
     0,
     0,
     32},
    {"WatermarkFirst",
     "First-Page Watermark",
     kWatermark,
     Target::kSetting,
     "sFP_SectionIndex",
     OptionKind::kNumber,
     {},
     "0",
     0,
     16},
    {"WatermarkNext",
     "Next-Pages Watermark",
     kWatermark,
     Target::kSetting,
     "sNP_SectionIndex",
     OptionKind::kNumber,
     {},
     "0",
     0,
     16},
    {"WatermarkUsage", "Watermark Pages", kWatermark, Target::kSetting, "eWMUsage", OptionKind::kPickOne,
     kWatermarkUsage, "AllPages"},
    {"OverlayMode", "Overlay", kOverlay, Target::kSetting, "dwOverlayMode", OptionKind::kPickOne, kOverlayModes,
     "None"},
    {"OverlayPosition", "Overlay Position", kOverlay, Target::kSetting, "bOverlayUnder", OptionKind::kPickOne,
     kOverlayPositions, "Over"},
    {"Booklet", "Booklet", kLayout, Target::kSetting, "bBooklet", OptionKind::kPickOne, kOffOn, "False"},
    // IPP job attributes: CUPS offers them itself; they are not PPD options.
    {"number-up",
     "Pages per Sheet",
     {},
     Target::kSetting,
     "vdmPagesPerSheet",
     OptionKind::kPickOne,
     kPagesPerSheet,
     "1"},
    // IPP's default, left to right then top to bottom; the settings record's own order
    // (0) fills down then across. A job that chooses number-up and no layout takes it.
    {"number-up-layout",
     "Page Order",
     {},
     Target::kSetting,
     "dwNupOrder,dwTwoUpOrder",
     OptionKind::kPickOne,
     kNupLayouts,
     "lrtb"},
    // pdftopdf's booklet-signature: the pages of each booklet the sheets are folded into
    // (a multiple of 4); the plug-in's subsets split the booklet the same way.
    {"booklet-signature",
     "Booklet Signature",
     {},
     Target::kSetting,
     "sBookletSubset",
     OptionKind::kNumber,
     {},
     "0",
     0,
     9996},
    {"orientation-requested",
     "Orientation",
     {},
     Target::kFeature,
     host::kFeatureOrientation,
     OptionKind::kPickOne,
     kOrientations,
     "3"},
    // CUPS's name (lp -o outputorder=reverse): the sheets last first.
    {"outputorder",
     "Output Order",
     {},
     Target::kFeature,
     host::kFeatureOutputOrder,
     OptionKind::kPickOne,
     kOutputOrders,
     "normal"},
    {"print-scaling",
     "Scaling",
     {},
     Target::kFeature,
     host::kFeaturePageScaling,
     OptionKind::kPickOne,
     kPrintScalings,
     "auto"},
    {"job-password", "PIN", {}, Target::kSetting, "szFileBoxPassword", OptionKind::kText, {}, "", 0, 0, 32},
};

// IPP and CUPS names of the options above, with their values where they differ.
struct Alias {
  std::string_view name;
  std::string_view option;
  std::span<const std::pair<std::string_view, std::string_view>> values;  // empty: the option's own
};
constexpr std::pair<std::string_view, std::string_view> kSides[] = {
    {"one-sided", "None"}, {"two-sided-long-edge", "DuplexNoTumble"}, {"two-sided-short-edge", "DuplexTumble"}};
constexpr std::pair<std::string_view, std::string_view> kBooleans[] = {
    {"true", "True"}, {"on", "True"}, {"yes", "True"}, {"false", "False"}, {"off", "False"}, {"no", "False"}};
// CUPS's fit-to-page is print-scaling's fit.
constexpr std::pair<std::string_view, std::string_view> kFitToPage[] = {
    {"true", "fit"}, {"on", "fit"}, {"yes", "fit"}, {"false", "auto"}, {"off", "auto"}, {"no", "auto"}};
// pdftopdf's names and values of the output order.
constexpr std::pair<std::string_view, std::string_view> kOutputOrderValues[] = {{"reverse-order", "reverse"},
                                                                                {"normal-order", "normal"}};
constexpr Alias kAliases[] = {
    {"sides", "Duplex", kSides},
    {"collate", "Collate", kBooleans},
    {"booklet", "Booklet", kBooleans},
    {"fit-to-page", "print-scaling", kFitToPage},
    {"OutputOrder", "outputorder", kOutputOrderValues},
    {"output-order", "outputorder", kOutputOrderValues},
};

// The standard IPP attributes of a Print-Job request, with their keywords (and enum
// values, as a request's text form gives them) where they differ from the options'.
constexpr std::pair<std::string_view, std::string_view> kIppSources[] = {
    {"auto", "Auto"}, {"manual", "Manual"}, {"tray-1", "Tray1"}, {"tray-2", "Tray2"}, {"tray-3", "Tray3"}};
constexpr std::pair<std::string_view, std::string_view> kIppMediaTypes[] = {
    {"auto", "Auto"},
    {"stationery", "Plain"},
    {"stationery-recycled", "Recycled"},
    {"stationery-heavyweight", "Thick"},
    {"stationery-cover", "VeryThick"},
    {"stationery-lightweight", "Thin"},
    {"transparency", "Transparency"},
    {"labels", "PaperLabel"},
    {"envelope", "Envelope"},
    {"cardstock", "Cardstock"},
};
constexpr std::pair<std::string_view, std::string_view> kIppQualities[] = {
    {"3", "600dpi"}, {"draft", "600dpi"}, {"4", "600dpi"}, {"normal", "600dpi"}, {"5", "1200dpi"}, {"high", "1200dpi"}};
constexpr std::pair<std::string_view, std::string_view> kIppResolutions[] = {{"300dpi", "600dpi"}};
constexpr std::pair<std::string_view, std::string_view> kIppOutputBins[] = {
    {"auto", "Auto"}, {"top", "Upper"}, {"stacker-1", "Extra"}};
constexpr std::pair<std::string_view, std::string_view> kIppFinishings[] = {
    {"3", "None"},         {"none", "None"},  {"4", "TopLeft"},
    {"staple", "TopLeft"}, {"20", "TopLeft"}, {"staple-top-left", "TopLeft"}};
// IPP's multiple-document-handling: every value but uncollated copies collates, as CUPS
// marks the PPD's Collate and pdftopdf copies.
constexpr std::pair<std::string_view, std::string_view> kDocumentHandling[] = {
    {"separate-documents-uncollated-copies", "False"},
    {"separate-documents-collated-copies", "True"},
    {"single-document", "True"},
    {"single-document-new-sheet", "True"}};
constexpr std::pair<std::string_view, std::string_view> kIppStorage[] = {{"print-and-store", "StoredPrint"},
                                                                         {"store-only", "Stored"}};
constexpr Alias kIppAliases[] = {
    {"media-source", "InputSlot", kIppSources},           {"media-type", "MediaType", kIppMediaTypes},
    {"print-quality", "Resolution", kIppQualities},       {"printer-resolution", "Resolution", kIppResolutions},
    {"output-bin", "OutputBin", kIppOutputBins},          {"finishings", "Staple", kIppFinishings},
    {"job-storage-disposition", "HoldMode", kIppStorage},
};

// The PPD options a standard IPP attribute carries.
constexpr std::pair<std::string_view, std::string_view> kIppStandardNames[] = {
    {"PageSize", "media"},
    {"InputSlot", "media-source"},
    {"MediaType", "media-type"},
    {"Duplex", "sides"},
    {"Collate", "multiple-document-handling"},
    {"Resolution", "printer-resolution"},
    {"OutputBin", "output-bin"},
    {"Staple", "finishings"},
};

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    return lower(x) == lower(y);
  });
}

// A choice keyword against a value: case ignored, and hyphens too, so that the IPP
// spelling of a keyword ("first-page-only") names the same choice ("FirstPageOnly").
bool SameKeyword(std::string_view keyword, std::string_view value) {
  std::string a(keyword), b(value);
  std::erase(a, '-');
  std::erase(b, '-');
  return EqualsNoCase(a, b);
}

bool IsOffOn(const Option& option) { return option.choices.data() == std::data(kOffOn); }

const Choice* FindChoice(const Option& option, std::string_view keyword) {
  for (const Choice& choice : option.choices) {
    if (SameKeyword(choice.keyword, keyword)) return &choice;
  }
  if (IsOffOn(option)) {
    for (const auto& [name, value] : kBooleans) {
      if (EqualsNoCase(name, keyword)) return FindChoice(option, value);
    }
  }
  return nullptr;
}

bool IsSecret(const Option& option) { return option.setting == "szFileBoxPassword"; }

// True when the job header carries `text` byte for byte: UTF-8 without control characters
// (C0, DEL, C1) or double quotes, which the header's quoted PJL values would change.
bool IsPjlText(std::string_view text) {
  if (platform::Utf16ToUtf8(platform::Utf8ToUtf16(text)) != text) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F || byte == '"') return false;
    // U+0080 to U+009F: 0xC2 followed by 0x80 to 0x9F.
    if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) return false;
  }
  return true;
}

// The setting value of one option value, or nothing when the option does not take it.
// Text comes as a PPD custom value ("Custom.Finance") or as it is; "None" is no text.
std::optional<std::string> ValueOf(const Option& option, std::string_view text) {
  switch (option.kind) {
    case OptionKind::kPickOne:
      if (const Choice* choice = FindChoice(option, text)) return std::string(choice->value);
      return std::nullopt;
    case OptionKind::kNumber: {
      const bool negative = !text.empty() && text.front() == '-';
      const std::string_view digits = negative ? text.substr(1) : text;
      if (digits.empty() || digits.size() > 4 || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
      }
      const int number = (negative ? -1 : 1) * std::stoi(std::string(digits));
      if (number < option.minimum || number > option.maximum) return std::nullopt;
      return std::to_string(number);
    }
    case OptionKind::kText: {
      // A PIN is the user's own text: "None" and "Custom.77" are PINs, not PPD values.
      if (!IsSecret(option)) {
        if (text.starts_with("Custom.")) {
          text.remove_prefix(7);
        } else if (text == "None") {
          return std::string();
        }
      }
      if (text.size() > static_cast<std::size_t>(option.maxBytes)) return std::nullopt;
      if (!IsPjlText(text)) return std::nullopt;
      return std::string(text);
    }
  }
  return std::nullopt;
}

std::string Describe(const Option& option) {
  switch (option.kind) {
    case OptionKind::kPickOne: {
      std::string list;
      for (const Choice& choice : option.choices) list += (list.empty() ? "" : ", ") + std::string(choice.keyword);
      return "one of " + list;
    }
    case OptionKind::kNumber:
      return "a whole number from " + std::to_string(option.minimum) + " to " + std::to_string(option.maximum);
    case OptionKind::kText:
      return "text of at most " + std::to_string(option.maxBytes) +
             " bytes of UTF-8 without control characters or double quotes";
  }
  return {};
}

// The values chosen so far, by option, with where each came from and whether the job
// chose it (rather than the queue's or the printer's defaults).
struct Chosen {
  std::string value;
  std::string origin;
  bool byJob = false;
};

class Mapper {
 public:
  Mapper(JobOptions& job, std::span<const Alias> ippAliases = {}) : job_(job), ippAliases_(ippAliases) {}

  // One option value; `origin` names it in a warning.
  void Take(const Option& option, std::string_view text, const std::string& origin) {
    std::optional<std::string> value = ValueOf(option, text);
    if (!value) {
      // A PIN is never repeated, not even in a warning: warnings go to logs.
      const std::string shown = IsSecret(option) ? std::string() : " '" + std::string(text) + "'";
      job_.warnings.push_back(origin + shown + " is not " + Describe(option) + "; the default is used");
      // Where the job gives multiple-document-handling, that decides instead (Finish).
      if (option.keyword == "Collate") collateWarning_ = job_.warnings.size() - 1;
      return;
    }
    chosen_[&option] = Chosen{std::move(*value), origin, jobOptions_};
  }

  // The options taken from here on are the job's own, no longer defaults.
  void StartJobOptions() { jobOptions_ = true; }

  // A CUPS option by name, through the aliases; options of other programs are ignored.
  void TakeNamed(const std::string& name, const std::string& text, const std::string& origin) {
    if (name == "media") return TakeMedia(text, origin);
    if (name == "page-ranges") {
      job_.pageRanges = text;
      return;
    }
    // Collate or collate, where the job gives it, comes first: Finish decides.
    if (name == "multiple-document-handling") {
      handling_ = Chosen{text, origin};
      return;
    }
    if (name == "landscape") {
      const Option* orientation = FindOption("orientation-requested");
      const bool off = EqualsNoCase(text, "false") || EqualsNoCase(text, "no") || EqualsNoCase(text, "off");
      Take(*orientation, off ? "3" : "4", origin);
      return;
    }
    for (const std::span<const Alias> aliases : {std::span<const Alias>(kAliases), ippAliases_}) {
      for (const Alias& alias : aliases) {
        if (alias.name != name) continue;
        const Option& option = *FindOption(alias.option);
        for (const auto& [from, to] : alias.values) {
          if (EqualsNoCase(from, text)) return Take(option, to, origin);
        }
        return Take(option, text, origin);
      }
    }
    if (const Option* option = FindOption(name)) return Take(*option, text, origin);
    if (ippAliases_.empty()) return;
    for (const Option& option : Options()) {
      if (IsIppVendorOption(option) && IppAttributeName(option) == name) return Take(option, text, origin);
    }
  }

  // -o media=A4,Tray2,Thick: each part names a page size (PPD or IPP name), a source or
  // a media type.
  void TakeMedia(const std::string& text, const std::string& origin) {
    std::size_t start = 0;
    while (start <= text.size()) {
      const std::size_t comma = std::min(text.find(',', start), text.size());
      const std::string part = text.substr(start, comma - start);
      start = comma + 1;
      if (part.empty()) continue;
      std::string_view keyword = part;
      for (const auto& [pwg, ppd] : kPwgMedia) {
        if (EqualsNoCase(pwg, part)) keyword = ppd;
      }
      bool taken = false;
      for (const char* name : {"PageSize", "InputSlot", "MediaType"}) {
        const Option& option = *FindOption(name);
        if (!taken && FindChoice(option, keyword) != nullptr) {
          Take(option, keyword, origin);
          taken = true;
        }
      }
      if (!taken) {
        job_.warnings.push_back(origin + " '" + part +
                                "' is not a page size, paper source or media type of "
                                "this printer; the default is used");
      }
    }
  }

  void Finish(int copies) {
    const Option* collate = FindOption("Collate");
    if (const auto chosen = chosen_.find(collate); handling_ && (chosen == chosen_.end() || !chosen->second.byJob)) {
      std::string_view value = handling_->value;
      std::string values;
      for (const auto& [from, to] : kDocumentHandling) {
        if (EqualsNoCase(from, value)) value = to;
        values += (values.empty() ? "" : ", ") + std::string(from);
      }
      if (!ValueOf(*collate, value)) {
        job_.warnings.push_back(handling_->origin + " '" + handling_->value + "' is not one of " + values +
                                "; the default is used");
      } else {
        if (collateWarning_) {
          std::string& warning = job_.warnings[*collateWarning_];
          warning = warning.substr(0, warning.rfind("; the default is used")) + "; multiple-document-handling '" +
                    handling_->value + "' is used";
        }
        Take(*collate, value, handling_->origin);
      }
    }
    const Option* layout = FindOption("number-up-layout");
    if (chosen_.count(FindOption("number-up")) != 0 && chosen_.count(layout) == 0) {
      chosen_[layout] = Chosen{*ValueOf(*layout, layout->defaultChoice), "default number-up-layout"};
    }
    LockWithPin();
    for (const Option& option : Options()) {
      auto it = chosen_.find(&option);
      if (it == chosen_.end()) continue;
      const std::string& value = it->second.value;
      const std::string& origin = it->second.origin;
      if (option.target == Target::kFeature) {
        job_.choices[std::string(option.setting)] = value;
        continue;
      }
      // Text is never split: a box name may hold a comma.
      const bool perField = option.kind == OptionKind::kPickOne && value.find(',') != std::string::npos;
      std::string_view fields = option.setting;
      std::string_view values = value;
      while (!fields.empty()) {
        const std::size_t comma = std::min(fields.find(','), fields.size());
        const std::size_t valueEnd = perField ? std::min(values.find(','), values.size()) : values.size();
        job_.settings.push_back(
            {origin, std::string(fields.substr(0, comma)), std::string(values.substr(0, valueEnd))});
        fields.remove_prefix(std::min(comma + 1, fields.size()));
        if (perField) values.remove_prefix(std::min(valueEnd + 1, values.size()));
      }
    }
    // The printer makes the copies: the count goes into the job header.
    if (copies > kMaxCopies) {
      job_.warnings.push_back("copies " + std::to_string(copies) + ": the printer makes at most " +
                              std::to_string(kMaxCopies) + " copies of a job; " + std::to_string(kMaxCopies) +
                              " are printed");
    }
    if (copies > 1) job_.settings.push_back({"copies", "dmCopies", std::to_string(std::min(copies, kMaxCopies))});
  }

 private:
  // A PIN the job gives without choosing how the job is held makes it a locked job, which
  // waits at the printer until its PIN is entered: a user who types a PIN expects that,
  // from a CUPS queue and an IPP client alike. The queue's or the printer's default hold
  // mode does not count as the job's choice.
  void LockWithPin() {
    const auto pin = chosen_.find(FindOption("job-password"));
    if (pin == chosen_.end() || !pin->second.byJob || pin->second.value.empty()) return;
    const Option* holdMode = FindOption("HoldMode");
    if (const auto hold = chosen_.find(holdMode); hold != chosen_.end() && hold->second.byJob) return;
    chosen_[holdMode] = Chosen{*ValueOf(*holdMode, "Locked"), pin->second.origin, true};
  }

  JobOptions& job_;
  std::span<const Alias> ippAliases_;
  std::map<const Option*, Chosen> chosen_;
  std::optional<Chosen> handling_;             // multiple-document-handling, as given
  std::optional<std::size_t> collateWarning_;  // the warning of a Collate value not taken
  bool jobOptions_ = false;
};

}  // namespace

std::span<const Option> Options() { return kOptions; }

const Option* FindOption(std::string_view keyword) {
  for (const Option& option : kOptions) {
    if (option.keyword == keyword) return &option;
  }
  return nullptr;
}

JobOptions MapJobOptions(const std::vector<NamedOption>& queueDefaults, const std::vector<NamedOption>& options,
                         int copies) {
  JobOptions job;
  Mapper mapper(job);
  for (const auto& [name, value] : queueDefaults) {
    if (const Option* option = FindOption(name)) mapper.Take(*option, value, "queue default " + name);
  }
  mapper.StartJobOptions();
  for (const auto& [name, value] : options) mapper.TakeNamed(name, value, "option " + name);
  mapper.Finish(copies);
  return job;
}

std::string IppKeyword(std::string_view keyword) {
  const auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
  const auto lower = [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); };
  std::string ipp;
  for (std::size_t i = 0; i < keyword.size(); ++i) {
    const char c = keyword[i];
    // A word starts at a capital after a small letter ("eP"), or at the last capital of
    // a run of them that a small letter follows ("IDPrint": "id-print").
    const bool startsWord =
        i > 0 && upper(c) &&
        (lower(keyword[i - 1]) || (i + 1 < keyword.size() && lower(keyword[i + 1]) && upper(keyword[i - 1])));
    if (startsWord) ipp += '-';
    ipp += upper(c) ? static_cast<char>(c + 32) : c;
  }
  return ipp;
}

std::string IppAttributeName(const Option& option) {
  for (const auto& [keyword, name] : kIppStandardNames) {
    if (keyword == option.keyword) return std::string(name);
  }
  if (option.group.empty()) return std::string(option.keyword);
  return IppKeyword(option.keyword);
}

std::vector<std::string_view> IppSupported(std::string_view attribute) {
  std::vector<std::string_view> values;
  const auto keys = [&values](std::span<const std::pair<std::string_view, std::string_view>> table) {
    for (const auto& row : table) values.push_back(row.first);
  };
  if (attribute == "media") keys(kPwgMedia);
  if (attribute == "media-source") keys(kIppSources);
  if (attribute == "media-type") keys(kIppMediaTypes);
  if (attribute == "output-bin") keys(kIppOutputBins);
  return values;
}

bool IsIppVendorOption(const Option& option) {
  if (option.group.empty()) return false;
  return std::none_of(std::begin(kIppStandardNames), std::end(kIppStandardNames),
                      [&](const auto& standard) { return standard.first == option.keyword; });
}

JobOptions MapIppJobOptions(const std::vector<NamedOption>& printerDefaults, const std::vector<NamedOption>& attributes,
                            int copies) {
  JobOptions job;
  Mapper mapper(job, kIppAliases);
  for (const auto& [name, value] : printerDefaults) {
    if (const Option* option = FindOption(name)) mapper.Take(*option, value, "printer default " + name);
  }
  mapper.StartJobOptions();
  for (const auto& [name, value] : attributes) mapper.TakeNamed(name, value, "attribute " + name);
  mapper.Finish(copies);
  return job;
}

std::vector<NamedOption> ReadPpdDefaults(std::string_view ppd) {
  std::vector<NamedOption> defaults;
  constexpr std::string_view kPrefix = "*Default";
  std::size_t start = 0;
  while (start < ppd.size()) {
    std::size_t end = ppd.find('\n', start);
    if (end == std::string_view::npos) end = ppd.size();
    std::string_view line = ppd.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.starts_with(kPrefix)) continue;
    line.remove_prefix(kPrefix.size());
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view keyword = line.substr(0, colon);
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    const Option* option = FindOption(keyword);
    if (option == nullptr || option->group.empty()) continue;
    defaults.emplace_back(std::string(keyword), std::string(value));
  }
  return defaults;
}

}  // namespace velmora::cups

// The queue's options: what lp and the PPD's defaults make of a job, and the PPD itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tools/cups/cups_options.h"
#include "tools/cups/ppd.h"

namespace velmora::cups {
namespace {

// The settings as "name=value" lines and the feature choices as "FEATURE:OPTION".
std::vector<std::string> Flatten(const JobOptions& job) {
  std::vector<std::string> lines;
  for (const auto& setting : job.settings) lines.push_back(setting.name + "=" + setting.value);
  for (const auto& [feature, option] : job.choices) lines.push_back(feature + ":" + option);
  return lines;
}

TEST(CupsOptions, JobOptionsMapOntoTheSettings) {
  struct Case {
    std::vector<NamedOption> options;
    int copies;
    std::vector<std::string> expected;  // in option-table order, features last
    std::string warning = {};           // a part of the one warning, or empty
  };
  const Case cases[] = {
      {{{"HoldMode", "Locked"}, {"job-password", "1234"}, {"FileBoxName", "Custom.Finance"}},
       1,
       {"eHoldMode=2", "szFileBoxName=Finance", "szFileBoxPassword=1234"}},
      {{{"HoldMode", "boxstored"}, {"PrintBoxDir", "Team"}}, 1, {"eHoldMode=7", "szPrintBoxDir=Team"}},
      {{{"sides", "two-sided-short-edge"}, {"Collate", "True"}}, 3, {"dmDuplex=3", "dmCollate=1", "dmCopies=3"}},
      {{{"Duplex", "DuplexNoTumble"}, {"collate", "false"}}, 0, {"dmDuplex=2", "dmCollate=0"}},
      // IPP's multiple-document-handling collates unless it says uncollated; Collate wins.
      {{{"multiple-document-handling", "separate-documents-collated-copies"}}, 2, {"dmCollate=1", "dmCopies=2"}},
      {{{"multiple-document-handling", "single-document"}}, 2, {"dmCollate=1", "dmCopies=2"}},
      {{{"Collate", "False"}, {"multiple-document-handling", "single-document"}}, 2, {"dmCollate=0", "dmCopies=2"}},
      {{{"multiple-document-handling", "separate-documents-uncollated-copies"}, {"collate", "true"}},
       2,
       {"dmCollate=1", "dmCopies=2"}},
      {{{"Resolution", "1200dpi"}}, 1, {"sResolution=1200", "dmPrintQuality=1200"}},
      {{{"OutputBin", "Extra"}, {"Staple", "TopLeft"}, {"EconoMode", "on"}},
       1,
       {"dwOutputBin=2", "bStaple=1", "bEconoMode=1"}},
      {{{"Brightness", "-3"}, {"Contrast", "2"}, {"TonerDarkness", "9"}},
       1,
       {"sBrightness=-3", "sContrast=2", "sTonerDarkness=9"}},
      {{{"WatermarkFirst", "1"}, {"WatermarkNext", "2"}, {"WatermarkUsage", "FirstAndNext"}},
       1,
       {"sFP_SectionIndex=1", "sNP_SectionIndex=2", "eWMUsage=2"}},
      {{{"OverlayMode", "OddEven"}, {"OverlayPosition", "Under"}}, 1, {"dwOverlayMode=3", "bOverlayUnder=1"}},
      {{{"number-up", "4"}, {"booklet", "off"}},
       1,
       {"bBooklet=0", "vdmPagesPerSheet=4", "dwNupOrder=4", "dwTwoUpOrder=0"}},
      {{{"number-up", "2"}, {"number-up-layout", "rltb"}}, 1, {"vdmPagesPerSheet=2", "dwNupOrder=5", "dwTwoUpOrder=1"}},
      {{{"booklet", "on"}, {"booklet-signature", "8"}}, 1, {"bBooklet=1", "sBookletSubset=8"}},
      {{{"number-up-layout", "tblr"}}, 1, {"dwNupOrder=0", "dwTwoUpOrder=0"}},
      {{{"number-up-layout", "BTRL"}}, 1, {"dwNupOrder=3", "dwTwoUpOrder=1"}},
      {{{"landscape", ""}}, 1, {"Orientation:LANDSCAPE"}},
      {{{"orientation-requested", "3"}}, 1, {"Orientation:PORTRAIT"}},
      {{{"orientation-requested", "5"}}, 1, {"Orientation:REVERSE_LANDSCAPE"}},
      {{{"orientation-requested", "6"}, {"landscape", "false"}}, 1, {"Orientation:PORTRAIT"}},
      {{{"outputorder", "reverse"}, {"fit-to-page", "true"}}, 1, {"OutputOrder:REVERSE", "PageScaling:FIT"}},
      {{{"print-scaling", "auto-fit"}, {"output-order", "normal-order"}},
       1,
       {"OutputOrder:NORMAL", "PageScaling:AUTO"}},
      {{{"print-scaling", "fill"}}, 1, {"PageScaling:FILL"}},
      {{{"print-scaling", "none"}}, 1, {"PageScaling:NONE"}},
      {{{"print-scaling", "shrink"}},
       1,
       {},
       "option print-scaling 'shrink' is not one of auto, auto-fit, fit, fill, none"},
      {{{"media", "na_letter_8.5x11in,Tray2,thick"}}, 1, {"InputBin:TRAY2", "MediaType:THICK", "PaperSize:LETTER"}},
      {{{"PageSize", "EnvDL"}, {"InputSlot", "Manual"}}, 1, {"InputBin:BYPASSTRAY", "PaperSize:ENV_DL"}},
      {{{"copies", "5"}, {"finishings", "3"}, {"job-uuid", "urn:uuid:1"}}, 1, {}},  // not ours: ignored
      {{{"Staple", "Sideways"}}, 1, {}, "option Staple 'Sideways' is not one of None, TopLeft"},
      {{{"number-up", "3"}}, 1, {}, "option number-up '3' is not one of 1, 2, 4, 6, 8, 9, 16"},
      {{{"number-up", "6"}, {"number-up-layout", "zigzag"}},
       1,
       {"vdmPagesPerSheet=6", "dwNupOrder=4", "dwTwoUpOrder=0"},
       "option number-up-layout 'zigzag' is not one of lrtb, lrbt, rltb, rlbt, tblr, tbrl, btlr, btrl"},
      {{{"TonerDarkness", "11"}}, 1, {}, "is not a whole number from 1 to 10"},
      {{{"job-password", std::string(33, '7')}}, 1, {}, "is not text of at most 32 bytes"},
      {{{"FileBoxName", "a\nb"}}, 1, {}, "option FileBoxName"},
      {{{"media", "Tabloid"}}, 1, {}, "'Tabloid' is not a page size, paper source or media type"},
      {{{"multiple-document-handling", "bogus"}},
       2,
       {"dmCopies=2"},
       "option multiple-document-handling 'bogus' is not one of separate-documents-uncollated-copies, "
       "separate-documents-collated-copies, single-document, single-document-new-sheet; the default is used"},
      {{{"Collate", "maybe"}, {"multiple-document-handling", "single-document"}},
       2,
       {"dmCollate=1", "dmCopies=2"},
       "option Collate 'maybe' is not one of False, True; multiple-document-handling 'single-document' is used"},
  };
  for (const Case& c : cases) {
    const JobOptions job = MapJobOptions({}, c.options, c.copies);
    SCOPED_TRACE(c.options.empty() ? std::string() : c.options.front().first + "=" + c.options.front().second);
    EXPECT_EQ(Flatten(job), c.expected);
    if (c.warning.empty()) {
      EXPECT_TRUE(job.warnings.empty()) << job.warnings.front();
    } else {
      ASSERT_EQ(job.warnings.size(), 1u);
      EXPECT_NE(job.warnings[0].find(c.warning), std::string::npos) << job.warnings[0];
    }
  }
}

// A printer application's IPP job attributes: the standard attributes, the vendor
// attributes named after the options, IPP keywords for choices, and a PIN that holds
// the job unless a storage choice says otherwise.
TEST(CupsOptions, IppAttributesMapOntoTheSettings) {
  struct Case {
    std::vector<NamedOption> attributes;
    std::vector<std::string> expected;  // in option-table order, features last
    std::string warning = {};
  };
  const Case cases[] = {
      {{{"media-source", "tray-2"}, {"media-type", "stationery-heavyweight"}, {"media", "iso_a5_148x210mm"}},
       {"InputBin:TRAY2", "MediaType:THICK", "PaperSize:A5"}},
      {{{"print-quality", "5"}, {"multiple-document-handling", "separate-documents-collated-copies"}},
       {"dmCollate=1", "sResolution=1200", "dmPrintQuality=1200"}},
      {{{"printer-resolution", "600dpi"}, {"output-bin", "stacker-1"}, {"finishings", "staple-top-left"}},
       {"sResolution=600", "dmPrintQuality=600", "dwOutputBin=2", "bStaple=1"}},
      {{{"multiple-document-handling", "single-document-new-sheet"}}, {"dmCollate=1"}},
      {{{"multiple-document-handling", "separate-documents-uncollated-copies"}}, {"dmCollate=0"}},
      {{{"job-password", "4321"}}, {"eHoldMode=2", "szFileBoxPassword=4321"}},
      {{{"job-password", "4321"}, {"job-storage-disposition", "print-and-store"}},
       {"eHoldMode=3", "szFileBoxPassword=4321"}},
      {{{"watermark-usage", "first-page-only"}, {"watermark-first", "2"}, {"booklet", "true"}},
       {"sFP_SectionIndex=2", "eWMUsage=1", "bBooklet=1"}},
      {{{"hold-mode", "id-print-stored"}, {"file-box-name", "Finance"}, {"toner-darkness", "3"}},
       {"sTonerDarkness=3", "eHoldMode=6", "szFileBoxName=Finance"}},
      {{{"number-up", "6"}, {"number-up-layout", "lrbt"}}, {"vdmPagesPerSheet=6", "dwNupOrder=6", "dwTwoUpOrder=0"}},
      {{{"output-bin", "face-up"}}, {}, "attribute output-bin 'face-up' is not one of Auto, Upper, Extra"},
  };
  for (const Case& c : cases) {
    const JobOptions job = MapIppJobOptions({}, c.attributes, 1);
    SCOPED_TRACE(c.attributes.front().first + "=" + c.attributes.front().second);
    EXPECT_EQ(Flatten(job), c.expected);
    if (c.warning.empty()) {
      EXPECT_TRUE(job.warnings.empty()) << job.warnings.front();
    } else {
      ASSERT_EQ(job.warnings.size(), 1u);
      EXPECT_NE(job.warnings[0].find(c.warning), std::string::npos) << job.warnings[0];
    }
  }
  // Every option travels under one IPP name, and the vendor names are IPP keywords.
  std::vector<std::string> names;
  for (const Option& option : Options()) names.push_back(IppAttributeName(option));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
  EXPECT_EQ(IppKeyword("IDPrintStored"), "id-print-stored");
  EXPECT_EQ(IppKeyword("TonerDarkness"), "toner-darkness");
}

// The job header carries a PIN byte for byte, from lp and from an IPP client alike: text
// the header would change is refused, without repeating the PIN, and PPD words are PINs.
TEST(CupsOptions, PinsAreKeptByteForByteOrRefused) {
  const struct {
    std::string pin;
    bool kept;
  } cases[] = {
      {"None", true},
      {"Custom.77", true},
      {"Caf\xc3\xa9 12", true},
      {"12\"34", false},
      {"12\x7f", false},
      {"12\xc2\x85", false},  // NEL
      {std::string("1\0002", 3), false},
      {"12\xff", false},
  };
  for (const auto& c : cases) {
    const JobOptions cups = MapJobOptions({}, {{"job-password", c.pin}}, 1);
    const JobOptions ipp = MapIppJobOptions({}, {{"job-password", c.pin}}, 1);
    for (const JobOptions* job : {&cups, &ipp}) {
      const bool kept = std::any_of(job->settings.begin(), job->settings.end(), [&c](const auto& setting) {
        return setting.name == "szFileBoxPassword" && setting.value == c.pin;
      });
      EXPECT_EQ(kept, c.kept) << c.pin;
      ASSERT_EQ(job->warnings.size(), c.kept ? 0u : 1u) << c.pin;
      if (!c.kept) {
        EXPECT_EQ(job->warnings[0].find(c.pin), std::string::npos) << job->warnings[0];
      }
    }
  }
}

// The queue's defaults come first; a job's option replaces one, and a job's bad value
// leaves the queue's default in force.
TEST(CupsOptions, QueueDefaultsComeFromThePpd) {
  const std::string ppd = VelmoraPpd();
  std::string edited = ppd;
  const std::string line = "*DefaultHoldMode: Normal";
  ASSERT_NE(edited.find(line), std::string::npos);
  edited.replace(edited.find(line), line.size(), "*DefaultHoldMode: Stored");
  const std::vector<NamedOption> defaults = ReadPpdDefaults(edited);
  // Every PPD option has a default line, and each default is one of its own values.
  std::size_t ppdOptions = 0;
  for (const Option& option : Options()) ppdOptions += option.group.empty() ? 0 : 1;
  EXPECT_EQ(defaults.size(), ppdOptions);
  EXPECT_TRUE(MapJobOptions(ReadPpdDefaults(ppd), {}, 1).warnings.empty());

  const auto hold = [](const JobOptions& job) {
    for (const auto& setting : job.settings) {
      if (setting.name == "eHoldMode") return setting.value;
    }
    return std::string("none");
  };
  EXPECT_EQ(hold(MapJobOptions(defaults, {}, 1)), "4");
  EXPECT_EQ(hold(MapJobOptions(defaults, {{"HoldMode", "Sample"}}, 1)), "1");
  const JobOptions bad = MapJobOptions(defaults, {{"HoldMode", "Later"}}, 1);
  EXPECT_EQ(hold(bad), "4");
  EXPECT_EQ(bad.warnings.size(), 1u);
}

// A PIN without a hold mode of the job's own makes a locked job, from a CUPS queue (whose
// PPD always states a default hold mode) and from an IPP client alike; a hold mode the job
// chooses stays, and a PIN the option table refuses holds nothing.
TEST(CupsOptions, PinWithoutHoldModeLocksTheJobOnEveryPath) {
  struct Case {
    bool ipp;
    std::vector<NamedOption> defaults;
    std::vector<NamedOption> options;
    std::string holdMode;  // eHoldMode, or "none"
  };
  const std::vector<NamedOption> normal = {{"HoldMode", "Normal"}};
  const std::vector<NamedOption> stored = {{"HoldMode", "Stored"}};
  const Case cases[] = {
      {false, normal, {{"job-password", "4711"}}, "2"},
      {false, stored, {{"job-password", "4711"}}, "2"},
      {false, {}, {{"job-password", "4711"}}, "2"},
      {false, normal, {{"job-password", "4711"}, {"HoldMode", "StoredPrint"}}, "3"},
      {false, normal, {{"HoldMode", "Normal"}, {"job-password", "4711"}}, "0"},
      {false, normal, {{"job-password", ""}}, "0"},
      {false, normal, {{"job-password", std::string(33, '7')}}, "0"},
      {true, normal, {{"job-password", "4711"}}, "2"},
      {true, {}, {{"job-password", "4711"}, {"job-storage-disposition", "store-only"}}, "4"},
      {true, {}, {{"hold-mode", "sample"}, {"job-password", "4711"}}, "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE((c.ipp ? "IPP " : "CUPS ") + c.options.back().first + "=" + c.options.back().second);
    const JobOptions job = c.ipp ? MapIppJobOptions(c.defaults, c.options, 1) : MapJobOptions(c.defaults, c.options, 1);
    std::string holdMode = "none";
    for (const auto& setting : job.settings) {
      if (setting.name == "eHoldMode") holdMode = setting.value;
    }
    EXPECT_EQ(holdMode, c.holdMode);
    // The PIN never appears in a warning.
    for (const std::string& warning : job.warnings) EXPECT_EQ(warning.find("777"), std::string::npos) << warning;
  }
}

}  // namespace
}  // namespace velmora::cups

// The options of a Velmora print queue and what each sets in a job: the one mapping from
// what lp, the desktop print dialogs and the queue's PPD say to the job's settings, the
// public device-mode fields and the host's feature options. The CUPS filter and the PPD
// generator use it; a printer application can take it as it is.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/driver_services.h"
#include "host/job_settings.h"

namespace velmora::cups {

// One choice of an option: the keyword a PPD and lp use, the text a dialog shows, and
// the value it gives the setting (for a feature option, the host's option name).
struct Choice {
  std::string_view keyword;
  std::string_view text;
  std::string_view value;
};

enum class OptionKind : unsigned char {
  kPickOne,  // one of `choices`
  kText,     // free text of at most `maxBytes` UTF-8 bytes; the PPD offers it as a custom value
  kNumber,   // a whole number from `minimum` to `maximum`
};

// Where an option's value goes.
enum class Target : unsigned char {
  kSetting,  // a field of the settings record or of the public device mode, by name
  // a feature the plug-in asks the host about (PaperSize, InputBin, MediaType), or one the
  // host applies itself (Orientation, OutputOrder, PageScaling)
  kFeature,
};

struct Option {
  std::string_view keyword;  // the PPD keyword and the lp option name
  std::string_view text;     // what dialogs show
  std::string_view group;    // the PPD group; empty: not a PPD option (an IPP job attribute)
  Target target;
  std::string_view setting;  // field name or feature name
  OptionKind kind;
  std::span<const Choice> choices;
  // The settings record's default, as a keyword (or text); for number-up-layout the
  // queue's own, which the record does not share.
  std::string_view defaultChoice;
  int minimum = 0;
  int maximum = 0;
  int maxBytes = 0;
};

// Every option of a queue, in PPD order; the IPP attributes (copies, number-up,
// job-password, ...) follow the PPD options.
std::span<const Option> Options();

// The option with this keyword (exact), or null.
const Option* FindOption(std::string_view keyword);

// A CUPS option as it arrives: name and value.
using NamedOption = std::pair<std::string, std::string>;

// The most copies the printer makes of one job; a job that asks for more gets these and a
// warning.
inline constexpr int kMaxCopies = 999;

// What a queue's options make of one job.
struct JobOptions {
  std::vector<host::SettingAssignment> settings;  // for host::ApplySettings, in option order
  host::FeatureOptions choices;                   // for the host's feature options
  std::string pageRanges;                         // "1-3,7", or empty for every page
  std::vector<std::string> warnings;              // one line per value not taken
};

// Maps the queue's defaults (the PPD's *Default lines) and then the job's options onto
// the job. Names are matched exactly, choices without regard to ASCII case; the IPP
// names (sides, media, number-up, orientation-requested, job-password, ...) go to the
// option they mean. A value an option does not take gets a warning and leaves the
// option at its default (the queue's, else the settings record's); options of other
// programs are ignored. A job that chooses number-up and no number-up-layout is laid out
// lrtb, IPP's default. orientation-requested (and landscape), outputorder and
// print-scaling (and fit-to-page) mean what CUPS's pdftopdf makes of them, and so does
// multiple-document-handling: copies are collated unless it asks for uncollated ones or
// the job gives Collate (collate) itself. A
// `job-password` the job gives without a hold mode of its own makes it a locked job
// (HoldMode Locked), whatever the queue's default hold mode. `copies` is the filter's
// copies argument (0: not given).
JobOptions MapJobOptions(const std::vector<NamedOption>& queueDefaults, const std::vector<NamedOption>& options,
                         int copies);

// The IPP attribute that carries an option in a Print-Job request: a standard attribute
// where IPP has one (PageSize: "media", Duplex: "sides", Staple: "finishings", ...), the
// IPP name itself for the IPP job attributes (number-up, job-password), else a vendor
// attribute named after the keyword ("WatermarkFirst": "watermark-first").
std::string IppAttributeName(const Option& option);

// True when the option travels as a vendor attribute of its own (no standard IPP
// attribute carries it); a printer application advertises these.
bool IsIppVendorOption(const Option& option);

// A choice keyword as an IPP keyword: "FirstPageOnly" becomes "first-page-only". Choices
// are matched with hyphens and case ignored, so both spellings name the same choice.
std::string IppKeyword(std::string_view keyword);

// The values of a standard IPP attribute the mapping takes, as a printer advertises them
// in NAME-supported: "media" (PWG size names), "media-source", "media-type" and
// "output-bin". Empty for any other name.
std::vector<std::string_view> IppSupported(std::string_view attribute);

// Maps a printer's defaults (option keyword and value, as MapJobOptions takes the PPD's)
// and then the attributes of an IPP job onto the job. Besides the names MapJobOptions
// takes, the standard IPP attributes count (media-source, media-type, print-quality,
// printer-resolution, output-bin, finishings, multiple-document-handling,
// job-storage-disposition) and the vendor attributes of IppAttributeName. A
// `job-password` without a storage choice (hold-mode, job-storage-disposition) of the
// job's own makes it a locked job, as MapJobOptions does.
JobOptions MapIppJobOptions(const std::vector<NamedOption>& printerDefaults, const std::vector<NamedOption>& attributes,
                            int copies);

// The *DefaultKEYWORD lines of a PPD, for the options above only.
std::vector<NamedOption> ReadPpdDefaults(std::string_view ppd);

}  // namespace velmora::cups

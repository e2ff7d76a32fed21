// The host's printer description: which plug-in callback sits where in the job, the
// papers the printer takes with their PCL XL media sizes, and the options of the
// features the plug-in asks the host about.
//
// This is the host's own data, the counterpart of the universal driver's printer
// description file; the plug-in relies only on the callback ids and the option names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace velmora::host {

// The plug-in's command callback ids.
inline constexpr DWORD kCmdStartJob = 5000;
inline constexpr DWORD kCmdEndJob = 5001;
inline constexpr DWORD kCmdMediaTray = 5002;
inline constexpr DWORD kCmdMediaType = 5003;
inline constexpr DWORD kCmdStartPage = 5004;
inline constexpr DWORD kCmdEndPage = 5005;
inline constexpr DWORD kCmdStartDoc = 5006;
inline constexpr DWORD kCmdEndDoc = 5007;
inline constexpr DWORD kCmdDuplex = 5008;

// The points of a job at which the host writes commands, in job order.
enum class JobPoint : std::uint8_t {
  kJobStart,   // in the host's StartDoc, once per job
  kDocStart,   // in the host's StartDoc, after the job's start, and again after a device reset
  kPageStart,  // in the host's StartPage
  kPageEnd,    // after the page's drawing, before SendPage
  kDocEnd,     // after the last page, before EndDoc
  kJobEnd,     // in the host's EndDoc
};

// What one command of the description writes.
enum class CommandKind : std::uint8_t {
  kCallback,        // the plug-in's command callback with `callbackId`
  kStreamHeader,    // the PCL XL stream header line
  kBeginSession,    // Measure, UnitsPerMeasure, ErrorReport, BeginSession
  kOpenDataSource,  // SourceType, DataOrg, OpenDataSource
  kOrientation,     // the page's Orientation attribute
  kMediaSize,       // the page's MediaSize (or CustomMediaSize) attribute
  kBeginPage,       // the BeginPage operator, which takes the attributes before it
};

struct PrinterCommand {
  JobPoint point;
  CommandKind kind;
  DWORD callbackId = 0;
};

// The whole job, in the order the host writes it. The media tray, media type and duplex
// callbacks write page attributes, so they sit between the host's own attributes and
// the BeginPage operator that takes them all.
inline constexpr PrinterCommand kPrinterCommands[] = {
    {JobPoint::kJobStart, CommandKind::kCallback, kCmdStartJob},
    {JobPoint::kJobStart, CommandKind::kStreamHeader},
    {JobPoint::kJobStart, CommandKind::kBeginSession},
    {JobPoint::kJobStart, CommandKind::kOpenDataSource},
    {JobPoint::kDocStart, CommandKind::kCallback, kCmdStartDoc},
    {JobPoint::kPageStart, CommandKind::kOrientation},
    {JobPoint::kPageStart, CommandKind::kCallback, kCmdMediaTray},
    {JobPoint::kPageStart, CommandKind::kMediaSize},
    {JobPoint::kPageStart, CommandKind::kCallback, kCmdMediaType},
    {JobPoint::kPageStart, CommandKind::kCallback, kCmdDuplex},
    {JobPoint::kPageStart, CommandKind::kBeginPage},
    {JobPoint::kPageStart, CommandKind::kCallback, kCmdStartPage},
    {JobPoint::kPageEnd, CommandKind::kCallback, kCmdEndPage},
    {JobPoint::kDocEnd, CommandKind::kCallback, kCmdEndDoc},
    {JobPoint::kJobEnd, CommandKind::kCallback, kCmdEndJob},
};
static_assert(std::size(kPrinterCommands) == 15);

constexpr bool CommandsInJobOrder() {
  for (std::size_t i = 1; i < std::size(kPrinterCommands); ++i) {
    if (kPrinterCommands[i].point < kPrinterCommands[i - 1].point) return false;
  }
  return true;
}
static_assert(CommandsInJobOrder());

// The commands written at one point of the job.
std::span<const PrinterCommand> CommandsAt(JobPoint point);

// The stream header the host writes before its session.
inline constexpr std::string_view kStreamHeader = ") HP-PCL XL;2;1;Comment Velmora PXL\n";

// A paper the printer takes. `mediaSize` is the PCL XL MediaSize enumeration, or -1
// when the printer takes the paper as a custom size. A standard paper has Windows' own
// form name and DMPAPER code; a paper of the printer's own has a form name that no
// Windows form has (form names are unique in the forms database) and the number the
// printer description gives it with *OptionID, above 512, which Windows stores in
// dmPaperSize.
struct Paper {
  std::string_view formName;  // dmFormName
  std::int16_t paperCode;     // dmPaperSize
  std::string_view option;    // the PaperSize option name
  int mediaSize;
  double widthMm;
  double heightMm;
};

inline constexpr Paper kPapers[] = {
    {"A4", 9, "A4", 2, 210, 297},
    {"Letter", 1, "LETTER", 0, 215.9, 279.4},
    {"Legal", 5, "LEGAL", 1, 215.9, 355.6},
    {"B5 (JIS)", 13, "B5", 11, 182, 257},
    {"A5", 11, "A5", 16, 148, 210},
    {"B6 (JIS)", 88, "B6_JIS", 18, 128, 182},
    {"A6", 70, "A6", 17, 105, 148},
    {"Statement", 6, "STATEMENT", -1, 139.7, 215.9},
    {"Executive", 7, "EXECUTIVE", 3, 184.15, 266.7},
    {"8.5x13", 513, "8_5X13", -1, 215.9, 330.2},
    {"Envelope #10", 20, "ENV_10", 6, 104.775, 241.3},
    {"Envelope Monarch", 37, "ENV_MONARCH", 7, 98.425, 190.5},
    {"Envelope C5", 28, "ENV_C5", 8, 162, 229},
    {"Envelope C6", 31, "ENV_C6", -1, 114, 162},
    {"Envelope DL", 27, "ENV_DL", 9, 110, 220},
    {"Envelope #9", 19, "ENV_9", -1, 98.425, 225.425},
    {"Quarto 215 x 275 mm", 514, "QUATRO", -1, 215, 275},
    {"Postcard 100 x 148 mm", 515, "POSTCARD_100", 14, 100, 148},
};
static_assert(std::size(kPapers) == 18);

// The paper of a form name (ignoring ASCII case), of a paper code, of an option name.
const Paper* FindPaperByForm(WStringView formName);
const Paper* FindPaperByCode(std::int16_t paperCode);
const Paper* FindPaperByOption(std::string_view option);

// The features the plug-in asks about, with their options.
inline constexpr std::string_view kFeaturePaperSize = "PaperSize";
inline constexpr std::string_view kFeatureMediaType = "MediaType";
inline constexpr std::string_view kFeatureInputBin = "InputBin";

inline constexpr std::string_view kMediaTypeOptions[] = {
    "STANDARD",     "AUTO",       "PLAIN",      "RECYCLED", "THICK",     "VERYTHICK", "THIN",
    "TRANSPARENCY", "PAPERLABEL", "VINYLLABEL", "ENVELOPE", "CARDSTOCK", "POSTCARD",
};
static_assert(std::size(kMediaTypeOptions) == 13);

// An input bin option and the device mode's default source that selects it. The form's
// own source is the standard DMBIN_FORMSOURCE (15); the printer's trays are bins of its
// own, with driver-defined numbers: the printer description gives each one with
// *OptionID, above 512 (without one Unidrv would pick a number above 256 of its own).
// Only for driver-defined numbers (256 and up) does the plug-in ask the host for the
// option's name; for a standard number it answers "FORMSOURCE" itself. A source the table
// does not name (DMBIN_AUTO 7, DMBIN_ENVELOPE 5, ...) takes the first row.
struct InputBin {
  std::string_view option;
  std::int16_t defaultSource;
};
inline constexpr InputBin kInputBins[] = {
    {"FORMSOURCE", 15},  // DMBIN_FORMSOURCE
    {"BYPASSTRAY", 513}, {"TRAY1", 514}, {"TRAY2", 515}, {"TRAY3", 516},
};
static_assert(std::size(kInputBins) == 5);

// The numbers the printer's own bins had before the printer description gave them their
// *OptionID: Unidrv numbered them from 256 in the description's order. Device modes and
// tickets stored then still carry them, and they select the same bins.
struct FormerBinNumber {
  std::int16_t formerSource;
  std::string_view option;
};
inline constexpr FormerBinNumber kFormerBinNumbers[] = {
    {256, "BYPASSTRAY"}, {257, "TRAY1"}, {258, "TRAY2"}, {259, "TRAY3"}};
static_assert(std::size(kFormerBinNumbers) == std::size(kInputBins) - 1);

// A device mode's default source with a former bin number replaced by the bin's number
// now; any other source as it is.
std::int16_t CurrentSource(std::int16_t defaultSource);

// The option of a bin, and the bin of an option (exact names); nothing when unknown.
std::string_view InputBinForSource(std::int16_t defaultSource);
std::optional<std::int16_t> SourceForInputBin(std::string_view option);

// The features the host applies itself, which the plug-in never asks about.
// Orientation: portrait or landscape in the device mode; the reverse orientations turn
// every page a half turn as well, which the page's PCL XL orientation asks of the
// printer, so that the plug-in's watermarks and overlays turn with the page.
inline constexpr std::string_view kFeatureOrientation = "Orientation";
inline constexpr std::string_view kOrientationOptions[] = {"PORTRAIT", "LANDSCAPE", "REVERSE_LANDSCAPE",
                                                           "REVERSE_PORTRAIT"};
static_assert(std::size(kOrientationOptions) == 4);
// OutputOrder REVERSE sends the sheets last first.
inline constexpr std::string_view kFeatureOutputOrder = "OutputOrder";
inline constexpr std::string_view kOutputOrderOptions[] = {"NORMAL", "REVERSE"};
static_assert(std::size(kOutputOrderOptions) == 2);
// PageScaling: AUTO prints a page of the sheet's size as it is, fits a larger one into
// the printable area and centres a smaller one at its own size; FIT fits every page into
// the printable area; FILL scales every page to cover the sheet and cuts off what lies
// beyond it; NONE prints every page at its own size, centred.
inline constexpr std::string_view kFeaturePageScaling = "PageScaling";
inline constexpr std::string_view kPageScalingOptions[] = {"AUTO", "FIT", "FILL", "NONE"};
static_assert(std::size(kPageScalingOptions) == 4);

// Every feature a job may choose an option of, in the order messages list them.
inline constexpr std::string_view kFeatures[] = {kFeaturePaperSize,   kFeatureMediaType,   kFeatureInputBin,
                                                 kFeatureOrientation, kFeatureOutputOrder, kFeaturePageScaling};
static_assert(std::size(kFeatures) == 6);

// The option names of a feature.
std::vector<std::string_view> OptionsOf(std::string_view feature);

// True when the feature has an option of this exact name.
bool IsKnownFeature(std::string_view feature);
bool IsKnownOption(std::string_view feature, std::string_view option);

}  // namespace velmora::host

// Writing the driver package from the host's printer description table.
#include "tools/driver_package/driver_package.h"

#include <cmath>
#include <cstdint>
#include <span>
#include <stdexcept>

#include "host/printer_commands.h"
#include "host/printer_description.h"

namespace velmora::package {
namespace {

using host::CommandKind;
using host::JobPoint;
using host::Paper;
using host::PrinterCommand;

// Bump both with the project version; the date is part of the version Windows compares.
constexpr std::string_view kDriverVer = "12/09/2026,0.1.0.0";
constexpr std::string_view kHardwareId = "Velmora_PXL";
constexpr std::string_view kCatalogFileName = "velmora.cat";
// The GUIDs of Windows' core drivers Unidrv and PCL XL:
// https://learn.microsoft.com/windows-hardware/drivers/print/package-aware-print-drivers-that-share-files
constexpr std::string_view kUnidrvCoreGuid = "{D20EA372-DD35-4950-9ED8-A6335AFE79F0}";
constexpr std::string_view kPclXlCoreGuid = "{D20EA372-DD35-4950-9ED8-A6335AFE79F2}";

// The GPD's master units, and the unprintable margin (1/6 inch) of every paper.
constexpr int kMasterUnits = 1200;
constexpr int kMarginUnits = kMasterUnits / 6;
// Printable areas are whole multiples of this many master units, so that a scan line is
// a whole number of bytes of 1-bit pixels at 600 and at 1200 dpi.
constexpr int kAreaStep = 16;
constexpr int kResolutions[] = {600, 1200};

// The PCL XL values of the host's own commands, as the host writes them.
constexpr double kMillimetresPerInch = 25.4;

struct OptionName {
  std::string_view option;
  std::string_view display;
};

// Each entry below names the page of Microsoft's GPD and INF reference that decides it.

// https://learn.microsoft.com/windows-hardware/drivers/print/standard-options
// https://learn.microsoft.com/windows-hardware/drivers/print/option-attributes-for-all-features
// https://learn.microsoft.com/windows-hardware/drivers/print/option-attributes-for-the-papersize-feature
// The standard PaperSize option names of the GPD language: Unidrv knows their sizes and,
// with *rcNameID: =RCID_DMPAPER_SYSTEM_NAME, Windows' own form names. Any other option
// name is a paper of the printer's own, described in full with *PageDimensions.
constexpr std::string_view kStandardPaperNames[] = {
    "10X11",          "10X14",        "11X17",
    "12X11",          "15X11",        "9X11",
    "A_PLUS",         "A2",           "A3",
    "A3_EXTRA",       "A3_ROTATED",   "A4",
    "A4_EXTRA",       "A4_PLUS",      "A4_ROTATED",
    "A4SMALL",        "A5",           "A5_EXTRA",
    "A5_ROTATED",     "A6",           "A6_ROTATED",
    "B_PLUS",         "B4",           "B5",
    "B5_EXTRA",       "B6_JIS",       "CSHEET",
    "DSHEET",         "ENV_10",       "ENV_11",
    "ENV_12",         "ENV_14",       "ENV_9",
    "ENV_B4",         "ENV_B5",       "ENV_B6",
    "ENV_C3",         "ENV_C4",       "ENV_C5",
    "ENV_C6",         "ENV_C65",      "ENV_DL",
    "ENV_INVITE",     "ENV_ITALY",    "ENV_MONARCH",
    "ENV_PERSONAL",   "ESHEET",       "EXECUTIVE",
    "FOLIO",          "ISO_B4",       "JAPANESE_POSTCARD",
    "LEDGER",         "LEGAL",        "LEGAL_EXTRA",
    "LETTER",         "LETTER_EXTRA", "LETTER_PLUS",
    "LETTER_ROTATED", "LETTERSMALL",  "NOTE",
    "QUARTO",         "STATEMENT",    "TABLOID",
    "TABLOID_EXTRA",
};

// https://learn.microsoft.com/windows-hardware/drivers/print/standard-options
// The standard InputBin option names, which Unidrv numbers with the system's DMBIN
// values. The other bins are the printer's own, with names of at most 24 characters
// (https://learn.microsoft.com/windows-hardware/drivers/print/standard-features).
constexpr std::string_view kStandardBinNames[] = {
    "AUTO",  "CASSETTE", "ENVFEED", "ENVMANUAL", "FORMSOURCE", "LARGECAPACITY", "LARGEFMT",
    "LOWER", "MANUAL",   "MIDDLE",  "SMALLFMT",  "TRACTOR",    "UPPER",
};

constexpr OptionName kBinNames[] = {
    {"FORMSOURCE", "Automatically Select"},
    {"BYPASSTRAY", "Bypass Tray"},
    {"TRAY1", "Tray 1"},
    {"TRAY2", "Tray 2"},
    {"TRAY3", "Tray 3"},
};

constexpr OptionName kMediaTypeNames[] = {
    {"STANDARD", "Printer Default"},
    {"AUTO", "Auto Select"},
    {"PLAIN", "Plain"},
    {"RECYCLED", "Recycled"},
    {"THICK", "Thick"},
    {"VERYTHICK", "Extra Thick"},
    {"THIN", "Thin"},
    {"TRANSPARENCY", "Transparency"},
    {"PAPERLABEL", "Paper Labels"},
    {"VINYLLABEL", "Vinyl Labels"},
    {"ENVELOPE", "Envelope"},
    {"CARDSTOCK", "Card Stock"},
    {"POSTCARD", "Postcard"},
};

// https://learn.microsoft.com/windows-hardware/drivers/print/standard-features
// https://learn.microsoft.com/windows-hardware/drivers/print/standard-options
// Collate takes only OFF and ON. With the feature Windows leaves collated copies to the
// printer, which the plug-in asks for with PJL QTY.
constexpr OptionName kCollateNames[] = {{"OFF", "Uncollated"}, {"ON", "Collated"}};

// VERTICAL binds on the long edge of a portrait page, HORIZONTAL on the short edge.
constexpr OptionName kDuplexNames[] = {{"NONE", "None"}, {"VERTICAL", "Long Edge"}, {"HORIZONTAL", "Short Edge"}};

constexpr OptionName kOrientationNames[] = {{"PORTRAIT", "Portrait"}, {"LANDSCAPE_CC90", "Landscape"}};

std::string_view DisplayName(std::span<const OptionName> names, std::string_view option) {
  for (const OptionName& name : names) {
    if (name.option == option) return name.display;
  }
  return option;
}

template <typename Names>
bool IsOneOf(const Names& names, std::string_view option) {
  for (std::string_view name : names) {
    if (name == option) return true;
  }
  return false;
}

// https://learn.microsoft.com/windows-hardware/drivers/print/option-attributes-for-all-features
// *OptionID is the number Windows stores in the device mode (dmPaperSize, dmDefaultSource)
// for an option of the printer's own; without it Unidrv picks one above 256 itself, and a
// given one must be above 512. The host's table holds the number, so Windows and the host
// agree on it.
std::string OptionId(std::string_view option, int number) {
  constexpr int kLowestOptionId = 513;
  if (number < kLowestOptionId) {
    throw std::logic_error(std::string(option) + ": the number of an option of the printer's own must be above 512");
  }
  return std::to_string(number);
}

// What in the GPD carries a command of the host's table: a configuration command, or the
// option selection command of every option of a feature.
enum class Carrier : std::uint8_t {
  kCmdStartJob,
  kCmdStartDoc,
  kCmdStartPage,
  kCmdEndPage,
  kCmdEndDoc,
  kCmdEndJob,
  kInputBin,
  kMediaType,
  kDuplex,
  kResolution,
  kOrientation,
  kPaperSize,
  kPageBegin,
};

Carrier CarrierOf(const PrinterCommand& command) {
  switch (command.kind) {
    // The session's units are the resolution, so the resolution opens the session.
    case CommandKind::kStreamHeader:
    case CommandKind::kBeginSession:
    case CommandKind::kOpenDataSource: return Carrier::kResolution;
    case CommandKind::kOrientation: return Carrier::kOrientation;
    case CommandKind::kMediaSize: return Carrier::kPaperSize;
    case CommandKind::kBeginPage: return Carrier::kPageBegin;
    case CommandKind::kCallback: break;
  }
  switch (command.callbackId) {
    case host::kCmdStartJob: return Carrier::kCmdStartJob;
    case host::kCmdEndJob: return Carrier::kCmdEndJob;
    case host::kCmdMediaTray: return Carrier::kInputBin;
    case host::kCmdMediaType: return Carrier::kMediaType;
    case host::kCmdStartPage: return Carrier::kCmdStartPage;
    case host::kCmdEndPage: return Carrier::kCmdEndPage;
    case host::kCmdStartDoc: return Carrier::kCmdStartDoc;
    case host::kCmdEndDoc: return Carrier::kCmdEndDoc;
    case host::kCmdDuplex: return Carrier::kDuplex;
  }
  throw std::logic_error("callback " + std::to_string(command.callbackId) + " has no place in the GPD");
}

std::string_view CommandName(Carrier carrier) {
  switch (carrier) {
    case Carrier::kCmdStartJob: return "CmdStartJob";
    case Carrier::kCmdStartDoc: return "CmdStartDoc";
    case Carrier::kCmdStartPage: return "CmdStartPage";
    case Carrier::kCmdEndPage: return "CmdEndPage";
    case Carrier::kCmdEndDoc: return "CmdEndDoc";
    case Carrier::kCmdEndJob: return "CmdEndJob";
    default: return {};
  }
}

// The GPD's job section of a point of the job: the universal driver sends each section
// from the same driver function in which the host writes that point.
std::string_view Section(JobPoint point) {
  switch (point) {
    case JobPoint::kJobStart: return "JOB_SETUP";
    case JobPoint::kDocStart: return "DOC_SETUP";
    case JobPoint::kPageStart: return "PAGE_SETUP";
    case JobPoint::kPageEnd: return "PAGE_FINISH";
    case JobPoint::kDocEnd: return "DOC_FINISH";
    case JobPoint::kJobEnd: return "JOB_FINISH";
  }
  throw std::logic_error("unknown job point");
}

// One command of the GPD: where it is sent (*Order) and what it is.
struct Slot {
  Carrier carrier;
  std::string order;                   // "PAGE_SETUP.30"
  DWORD callbackId = 0;                // a plug-in callback, or 0
  std::vector<CommandKind> hostKinds;  // the host's own commands it writes, in order
};

// The host's table as GPD commands. A command's order number is ten times its place
// among the commands of its point; host commands in a row with the same carrier share
// one command (the first one's number), since an option has a single selection command.
std::vector<Slot> Slots() {
  std::vector<Slot> slots;
  std::size_t place = 0;
  for (std::size_t i = 0; i < std::size(host::kPrinterCommands); ++i) {
    const PrinterCommand& command = host::kPrinterCommands[i];
    place = (i > 0 && host::kPrinterCommands[i - 1].point == command.point) ? place + 1 : 1;
    const Carrier carrier = CarrierOf(command);
    const bool isHost = command.kind != CommandKind::kCallback;
    if (isHost && !slots.empty() && slots.back().carrier == carrier && !slots.back().hostKinds.empty() &&
        host::kPrinterCommands[i - 1].point == command.point) {
      slots.back().hostKinds.push_back(command.kind);
      continue;
    }
    for (const Slot& slot : slots) {
      if (slot.carrier == carrier) throw std::logic_error("a GPD command would have to be sent at two places");
    }
    Slot slot{carrier, std::string(Section(command.point)) + "." + std::to_string(place * 10), 0, {}};
    if (isHost) {
      slot.hostKinds.push_back(command.kind);
    } else {
      slot.callbackId = command.callbackId;
    }
    slots.push_back(std::move(slot));
  }
  return slots;
}

const Slot* FindSlot(const std::vector<Slot>& slots, Carrier carrier) {
  for (const Slot& slot : slots) {
    if (slot.carrier == carrier) return &slot;
  }
  return nullptr;
}

// PCL XL bytes in the host's little-endian binding.
// The option a host command is written for.
struct Choice {
  int dpi = 600;
  bool landscape = false;
  const Paper* paper = nullptr;
};

// The host's own bytes for a command, as the print host writes them.
std::string HostCommandBytes(CommandKind kind, const Choice& choice) {
  if (kind == CommandKind::kCallback) throw std::logic_error("a callback has no bytes of the host's");
  const std::vector<std::uint8_t> bytes =
      host::HostCommandBytes(kind, host::CommandSetting{choice.dpi, choice.dpi, choice.landscape, choice.paper});
  return std::string(bytes.begin(), bytes.end());
}

// A GPD command string: runs of at least eight printable characters as text, everything
// else as hexadecimal groups ("<C0 00 F8 86>"). '"', '<', '>' and '%' have meanings of
// their own in command strings, so they are always written in hexadecimal.
std::string CommandString(std::string_view bytes) {
  auto isText = [](unsigned char c) { return c >= 0x20 && c <= 0x7E && c != '"' && c != '<' && c != '>' && c != '%'; };
  std::string out = "\"";
  bool inHex = false;
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t run = 0;
    while (i + run < bytes.size() && isText(static_cast<unsigned char>(bytes[i + run]))) ++run;
    if (run >= 8) {
      if (inHex) out += '>';
      inHex = false;
      out.append(bytes.substr(i, run));
      i += run;
      continue;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    const auto byte = static_cast<unsigned char>(bytes[i]);
    out += inHex ? ' ' : '<';
    inHex = true;
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
    ++i;
  }
  if (inHex) out += '>';
  return out + "\"";
}

int MasterUnits(double millimetres) {
  return static_cast<int>(std::lround(millimetres / kMillimetresPerInch * kMasterUnits));
}

int PrintableLength(int length) { return (length - 2 * kMarginUnits) / kAreaStep * kAreaStep; }

// Lines of a GPD file, indented by nesting, ended by CR LF.
class GpdWriter {
 public:
  void Line(std::string_view text) {
    out_.append(depth_ * 4, ' ');
    out_.append(text);
    out_ += "\r\n";
  }
  void Blank() { out_ += "\r\n"; }
  void Open() {
    Line("{");
    ++depth_;
  }
  void Close() {
    --depth_;
    Line("}");
  }
  void Entry(std::string_view key, std::string_view value) { Line("*" + std::string(key) + ": " + std::string(value)); }
  void Quoted(std::string_view key, std::string_view value) { Entry(key, "\"" + std::string(value) + "\""); }

  // An option selection command: the slot's order, and its callback or its host bytes.
  void Select(const Slot& slot, const Choice& choice) {
    Entry("Command", "CmdSelect");
    Body(slot, choice);
  }
  void Body(const Slot& slot, const Choice& choice) {
    Open();
    Entry("Order", slot.order);
    if (slot.callbackId != 0) {
      Entry("CallbackID", std::to_string(slot.callbackId));
    } else {
      std::string bytes;
      for (CommandKind kind : slot.hostKinds) bytes += HostCommandBytes(kind, choice);
      Entry("Cmd", CommandString(bytes));
    }
    Close();
  }

  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
  std::size_t depth_ = 0;
};

std::string Pair(int x, int y) { return "PAIR(" + std::to_string(x) + ", " + std::to_string(y) + ")"; }

const Slot& Required(const std::vector<Slot>& slots, Carrier carrier) {
  if (const Slot* slot = FindSlot(slots, carrier)) return *slot;
  throw std::logic_error("the printer description has no command for a GPD feature");
}

void WriteFeatureHead(GpdWriter& gpd, std::string_view feature, std::string_view display,
                      std::string_view defaultOption) {
  gpd.Blank();
  gpd.Entry("Feature", feature);
  gpd.Open();
  gpd.Quoted("Name", display);
  gpd.Entry("DefaultOption", defaultOption);
}

void WriteOptionHead(GpdWriter& gpd, std::string_view option, std::string_view display) {
  gpd.Entry("Option", option);
  gpd.Open();
  gpd.Quoted("Name", display);
}

// The root entries after *GPDSpecVersion, which must come first, before any comment. The
// page that decides them, unless another is named:
// https://learn.microsoft.com/windows-hardware/drivers/print/root-level-only-attributes
struct RootEntry {
  std::string_view key;
  std::string_view value;
  bool quoted;
};
static_assert(kMasterUnits == 1200, "the root entries give the master units as text");
constexpr RootEntry kRootEntries[] = {
    {"GPDFileVersion", "1.0", true},  // shown in Unidrv's About box
    {"GPDFileName", kGpdFileName, true},
    // https://learn.microsoft.com/windows-hardware/drivers/print/preprocessor-directives
    // https://learn.microsoft.com/windows-hardware/drivers/print/using-multiple-gpd-files-in-a-minidriver
    // *Include with the GPD preprocessor's default prefix "*" ("#" is GDL's prefix); the
    // root-level attribute of that name is what became this directive. StdNames.gpd
    // defines PERSONALITY_PCLXL and RCID_DMPAPER_SYSTEM_NAME; TTFSUB.GPD is the other
    // standard include of the next page.
    {"Include", "StdNames.gpd", true},
    {"Include", "TTFSUB.GPD", true},
    // https://learn.microsoft.com/windows-hardware/drivers/print/writing-a-pcl-xl-gpd-file
    // https://learn.microsoft.com/windows-hardware/drivers/print/installing-a-pcl-xl-minidriver
    // The PCL XL support files, which the PCLXL core driver installs. They define macros
    // only (PCL XL operators, resource strings, fonts, PJL commands); this description
    // uses none of them, so they add no command to the job.
    {"Include", "pclxl.gpd", true},
    {"Include", "p6disp.gpd", true},
    {"Include", "p6font.gpd", true},
    {"Include", "pjl.gpd", true},
    {"ModelName", kModelName, true},  // the INF's model name
    {"MasterUnits", "PAIR(1200, 1200)", false},
    {"PrinterType", "PAGE", false},
    // https://learn.microsoft.com/windows-hardware/drivers/print/writing-a-pcl-xl-gpd-file
    // The one switch of Unidrv's PCL XL support.
    {"Personality", "=PERSONALITY_PCLXL", false},
    // Without it Windows caps copies at 1; the plug-in writes the copies (PJL COPIES or
    // QTY, PageCopies) and limits them to 999.
    {"MaxCopies", "999", false},
    // https://learn.microsoft.com/windows-hardware/drivers/print/writing-a-pcl-xl-gpd-file
    // https://learn.microsoft.com/windows-hardware/drivers/print/attributes-for-downloaded-fonts
    // https://learn.microsoft.com/windows-hardware/drivers/print/using-default-pcl-xl-fonts
    // The application's TrueType fonts go with the job as PCL XL outline fonts ("MS
    // PCLXLFont ..."), the names the plug-in's overlay capture renames. No *ResourceDLL:
    // "pclxl.dll" and no *DeviceFonts: the printer's resident fonts stay out, so that
    // text, overlays and watermarks print alike on every printer.
    {"FontFormat", "HPPCL_OUTLINE", false},
};

// https://learn.microsoft.com/windows-hardware/drivers/print/cursor-commands
// CmdCR, CmdFF and CmdLF are required. They send nothing: a PCL XL page has no text
// cursor, and the end-of-page callback writes the page's end.
constexpr std::string_view kEmptyCursorCommands[] = {"CmdCR", "CmdLF", "CmdFF"};

void EmptyCommand(GpdWriter& gpd, std::string_view name, std::string_view order = {}) {
  gpd.Entry("Command", name);
  gpd.Open();
  if (!order.empty()) gpd.Entry("Order", order);
  gpd.Entry("Cmd", "\"\"");
  gpd.Close();
}

}  // namespace

std::string PrinterDescriptionGpd() {
  const std::vector<Slot> slots = Slots();
  GpdWriter gpd;
  // The specification version must be the file's first entry, before any comment.
  gpd.Quoted("GPDSpecVersion", "1.0");
  gpd.Line("*% Velmora PXL: the printer description of the universal printer driver with the");
  gpd.Line("*% Velmora PXL rendering plug-in. Generated by velmora-driver-package from the print");
  gpd.Line("*% host's printer description; regenerate it instead of editing it.");
  for (const RootEntry& entry : kRootEntries) {
    if (entry.quoted) {
      gpd.Quoted(entry.key, entry.value);
    } else {
      gpd.Entry(entry.key, entry.value);
    }
  }
  for (std::string_view command : kEmptyCursorCommands) EmptyCommand(gpd, command);

  gpd.Blank();
  gpd.Line("*% The job, document and page commands call the plug-in back; the host's own");
  gpd.Line("*% PCL XL commands ride on the selection commands of the options they depend on.");
  for (const Slot& slot : slots) {
    const std::string_view name = CommandName(slot.carrier);
    if (name.empty()) continue;
    gpd.Entry("Command", name);
    gpd.Body(slot, {});
  }

  const Slot& resolution = Required(slots, Carrier::kResolution);
  WriteFeatureHead(gpd, "Resolution", "Resolution", "DPI" + std::to_string(kResolutions[0]));
  for (int dpi : kResolutions) {
    WriteOptionHead(gpd, "DPI" + std::to_string(dpi), std::to_string(dpi) + " dpi");
    gpd.Entry("DPI", Pair(dpi, dpi));
    gpd.Entry("TextDPI", Pair(dpi, dpi));
    gpd.Entry("SpotDiameter", "100");
    // https://learn.microsoft.com/windows-hardware/drivers/print/raster-data-emission-commands
    // CmdSendBlockData is required. It sends nothing:
    // Unidrv's PCL XL support writes images as PCL XL image operators.
    EmptyCommand(gpd, "CmdSendBlockData");
    gpd.Select(resolution, {.dpi = dpi});
    gpd.Close();
  }
  gpd.Close();

  const Slot& orientation = Required(slots, Carrier::kOrientation);
  WriteFeatureHead(gpd, "Orientation", "Orientation", kOrientationNames[0].option);
  for (const OptionName& option : kOrientationNames) {
    WriteOptionHead(gpd, option.option, option.display);
    gpd.Select(orientation, {.landscape = option.option != "PORTRAIT"});
    gpd.Close();
  }
  gpd.Close();

  const Slot& paperSize = Required(slots, Carrier::kPaperSize);
  WriteFeatureHead(gpd, host::kFeaturePaperSize, "Paper Size", host::kPapers[0].option);
  for (const Paper& paper : host::kPapers) {
    const int width = MasterUnits(paper.widthMm);
    const int height = MasterUnits(paper.heightMm);
    gpd.Entry("Option", paper.option);
    gpd.Open();
    if (IsOneOf(kStandardPaperNames, paper.option)) {
      gpd.Entry("rcNameID", "=RCID_DMPAPER_SYSTEM_NAME");
    } else {
      // https://learn.microsoft.com/windows-hardware/drivers/print/adding-forms-to-the-forms-database
      // The name becomes the form's, unique in the
      // forms database, so never one of Windows' own forms.
      gpd.Quoted("Name", paper.formName);
      gpd.Entry("OptionID", OptionId(paper.option, paper.paperCode));
      gpd.Entry("PageDimensions", Pair(width, height));
    }
    gpd.Entry("PrintableArea", Pair(PrintableLength(width), PrintableLength(height)));
    gpd.Entry("PrintableOrigin", Pair(kMarginUnits, kMarginUnits));
    gpd.Select(paperSize, {.paper = &paper});
    gpd.Close();
  }
  gpd.Close();

  // The trays are bins of the printer's own, with the numbers of the host's table.
  const Slot& inputBin = Required(slots, Carrier::kInputBin);
  WriteFeatureHead(gpd, host::kFeatureInputBin, "Paper Source", host::kInputBins[0].option);
  for (const host::InputBin& bin : host::kInputBins) {
    WriteOptionHead(gpd, bin.option, DisplayName(kBinNames, bin.option));
    if (!IsOneOf(kStandardBinNames, bin.option)) gpd.Entry("OptionID", OptionId(bin.option, bin.defaultSource));
    gpd.Select(inputBin, {});
    gpd.Close();
  }
  gpd.Close();

  const Slot& mediaType = Required(slots, Carrier::kMediaType);
  WriteFeatureHead(gpd, host::kFeatureMediaType, "Media Type", host::kMediaTypeOptions[0]);
  for (std::string_view option : host::kMediaTypeOptions) {
    WriteOptionHead(gpd, option, DisplayName(kMediaTypeNames, option));
    gpd.Select(mediaType, {});
    gpd.Close();
  }
  gpd.Close();

  const Slot& duplex = Required(slots, Carrier::kDuplex);
  WriteFeatureHead(gpd, "Duplex", "Two-Sided Printing", kDuplexNames[0].option);
  for (const OptionName& option : kDuplexNames) {
    WriteOptionHead(gpd, option.option, option.display);
    gpd.Select(duplex, {});
    gpd.Close();
  }
  gpd.Close();

  // https://learn.microsoft.com/windows-hardware/drivers/print/option-selection-command
  // Every option needs a selection command with an order. The
  // Collate options send nothing: the plug-in's job header asks for collated copies.
  WriteFeatureHead(gpd, "Collate", "Collate", kCollateNames[0].option);
  for (const OptionName& option : kCollateNames) {
    WriteOptionHead(gpd, option.option, option.display);
    EmptyCommand(gpd, "CmdSelect", "JOB_SETUP.5");
    gpd.Close();
  }
  gpd.Close();

  // BeginPage takes the page attributes written before it, and the start-of-page callback
  // comes after it; a hidden one-option feature sends it in between.
  const Slot& pageBegin = Required(slots, Carrier::kPageBegin);
  WriteFeatureHead(gpd, "PageBegin", "Page Begin", "BEGINPAGE");
  gpd.Entry("FeatureType", "DOC_PROPERTY");
  gpd.Entry("ConcealFromUI?", "TRUE");
  WriteOptionHead(gpd, "BEGINPAGE", "Begin Page");
  gpd.Select(pageBegin, {});
  gpd.Close();
  gpd.Close();
  return gpd.Take();
}

std::string DriverInf() {
  const std::string gpd(kGpdFileName);
  const std::string ini(kIniFileName);
  const std::string dll(kPluginFileName);
  std::string text;
  auto line = [&text](std::string_view content) {
    text.append(content);
    text += "\r\n";
  };
  line("; velmora.inf: installs the Velmora PXL rendering plug-in with the universal printer");
  line("; driver (Unidrv) of 64-bit Windows. Generated by velmora-driver-package from the print");
  line("; host's printer description; regenerate it instead of editing it.");
  line("");
  // https://learn.microsoft.com/windows-hardware/drivers/print/package-aware-print-drivers-that-do-not-share-files
  // The [Version] of a printer driver package, its [DestinationDirs] (66000: the printer driver folder) and source
  // disks.
  line("[Version]");
  line("Signature=\"$Windows NT$\"");
  line("Class=Printer");
  line("ClassGUID={4D36E979-E325-11CE-BFC1-08002BE10318}");
  line("Provider=%Manufacturer%");
  line("DriverVer=" + std::string(kDriverVer));
  line("CatalogFile=" + std::string(kCatalogFileName));
  line("PnpLockdown=1");
  line("");
  line("[Manufacturer]");
  // https://learn.microsoft.com/windows-hardware/drivers/print/using-core-drivers
  // The models of a package-aware driver are for Windows Vista and later (.6.0).
  line("%Manufacturer%=Velmora,NTamd64.6.0");
  line("");
  line("[Velmora.NTamd64.6.0]");
  line("\"" + std::string(kModelName) + "\"=VELMORA_PXL," + std::string(kHardwareId));
  line("");
  line("; The universal driver (Unidrv) and its PCL XL support are core drivers of Windows;");
  line("; the package adds the printer description, the plug-in and the file that names it.");
  line("[VELMORA_PXL]");
  line("CopyFiles=VELMORA_PXL_FILES");
  line("DataFile=" + gpd);
  // https://learn.microsoft.com/windows-hardware/drivers/print/package-aware-print-drivers-that-share-files
  // A package-aware driver names Unidrv's sections through its core driver's GUID instead
  // of DataSection, Include and Needs; UNIDRV_DATA gives the driver, configuration and help
  // files. PCLXL.OEM installs the PCL XL support files the GPD includes
  // (https://learn.microsoft.com/windows-hardware/drivers/print/installing-a-pcl-xl-minidriver).
  line("CoreDriverSections=\"" + std::string(kUnidrvCoreGuid) + ",UNIDRV.OEM,UNIDRV_DATA,TTFSUB.OEM\",\"" +
       std::string(kPclXlCoreGuid) + ",PCLXL.OEM\"");
  line("");
  // https://learn.microsoft.com/windows-hardware/drivers/print/using-core-drivers
  // The package installation section makes the driver package-aware (Point and Print installs it from
  // its package) and names every core driver it depends on.
  line("[PrinterPackageInstallation.amd64]");
  line("PackageAware=TRUE");
  line("CoreDriverDependencies=" + std::string(kUnidrvCoreGuid) + "," + std::string(kPclXlCoreGuid));
  line("");
  line("[VELMORA_PXL_FILES]");
  line(gpd);
  line(ini);
  line(dll);
  line("");
  line("[DestinationDirs]");
  line("DefaultDestDir=66000");
  line("");
  line("[SourceDisksNames.amd64]");
  line("1=%DiskName%");
  line("");
  line("[SourceDisksFiles]");
  line(gpd + "=1");
  line(ini + "=1");
  line(dll + "=1");
  line("");
  line("[Strings]");
  line("Manufacturer=\"" + std::string(kManufacturer) + "\"");
  line("DiskName=\"Velmora PXL driver package\"");
  return text;
}

// https://learn.microsoft.com/windows-hardware/drivers/print/installing-customized-driver-components
// [OEMFiles] names the rendering plug-in; lines starting with '#' are comments.
std::string PluginIni() {
  std::string text;
  text += "# velmora_pxl.ini: names the rendering plug-in of the Velmora PXL printer driver.\r\n";
  text += "[OEMFiles]\r\n";
  text += "OEMDriverFile1=" + std::string(kPluginFileName) + "\r\n";
  return text;
}

std::vector<PackageFile> DriverPackageFiles() {
  return {{kInfFileName, DriverInf()}, {kGpdFileName, PrinterDescriptionGpd()}, {kIniFileName, PluginIni()}};
}

}  // namespace velmora::package

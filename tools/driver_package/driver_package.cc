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

// The standard PaperSize option names of the GPD language: Unidrv knows their sizes and
// form names. Any other option name is a paper of the printer's own, described in full.
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

// VERTICAL binds on the long edge of a portrait page, HORIZONTAL on the short edge.
constexpr OptionName kDuplexNames[] = {{"NONE", "None"}, {"VERTICAL", "Long Edge"}, {"HORIZONTAL", "Short Edge"}};

constexpr OptionName kOrientationNames[] = {{"PORTRAIT", "Portrait"}, {"LANDSCAPE_CC90", "Landscape"}};

std::string_view DisplayName(std::span<const OptionName> names, std::string_view option) {
  for (const OptionName& name : names) {
    if (name.option == option) return name.display;
  }
  return option;
}

bool IsStandardPaper(std::string_view option) {
  for (std::string_view name : kStandardPaperNames) {
    if (name == option) return true;
  }
  return false;
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

}  // namespace

std::string PrinterDescriptionGpd() {
  const std::vector<Slot> slots = Slots();
  GpdWriter gpd;
  // The specification version must be the file's first entry, before any comment.
  gpd.Quoted("GPDSpecVersion", "1.0");
  gpd.Line("*% Velmora PXL: the printer description of the universal printer driver with the");
  gpd.Line("*% Velmora PXL rendering plug-in. Generated by velmora-driver-package from the print");
  gpd.Line("*% host's printer description; regenerate it instead of editing it.");
  gpd.Quoted("GPDFileVersion", "1.0");
  gpd.Quoted("GPDFileName", kGpdFileName);
  gpd.Quoted("Include", "StdNames.gpd");
  gpd.Quoted("Include", "TTFSUB.GPD");
  gpd.Quoted("ModelName", kModelName);
  gpd.Entry("MasterUnits", Pair(kMasterUnits, kMasterUnits));
  gpd.Entry("PrinterType", "PAGE");
  gpd.Entry("Personality", "=PERSONALITY_PCLXL");

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
    if (IsStandardPaper(paper.option)) {
      gpd.Entry("rcNameID", "=RCID_DMPAPER_SYSTEM_NAME");
    } else {
      gpd.Quoted("Name", paper.formName);
      gpd.Entry("PageDimensions", Pair(width, height));
    }
    gpd.Entry("PrintableArea", Pair(PrintableLength(width), PrintableLength(height)));
    gpd.Entry("PrintableOrigin", Pair(kMarginUnits, kMarginUnits));
    gpd.Select(paperSize, {.paper = &paper});
    gpd.Close();
  }
  gpd.Close();

  // The trays are bins of the printer's own: Unidrv numbers them DMBIN_USER (256) and up
  // in the order they are declared here, which is the order of the host's table.
  const Slot& inputBin = Required(slots, Carrier::kInputBin);
  WriteFeatureHead(gpd, host::kFeatureInputBin, "Paper Source", host::kInputBins[0].option);
  for (const host::InputBin& bin : host::kInputBins) {
    WriteOptionHead(gpd, bin.option, DisplayName(kBinNames, bin.option));
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
  line("%Manufacturer%=Velmora,NTamd64");
  line("");
  line("[Velmora.NTamd64]");
  line("\"" + std::string(kModelName) + "\"=VELMORA_PXL," + std::string(kHardwareId));
  line("");
  line("; The universal driver and its PCL XL support come from ntprint.inf; the package");
  line("; adds the printer description, the plug-in and the file that names the plug-in.");
  line("[VELMORA_PXL]");
  line("CopyFiles=VELMORA_PXL_FILES");
  line("DataSection=UNIDRV_DATA");
  line("DataFile=" + gpd);
  line("Include=NTPRINT.INF");
  line("Needs=UNIDRV.OEM,TTFSUB.OEM,PCLXL.OEM");
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

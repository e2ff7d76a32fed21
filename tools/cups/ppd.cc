// Writes the queue's PPD: the model, the filter that takes PDF and PostScript, the
// papers with their sizes, and one UI option per PPD option of the option table.
#include "tools/cups/ppd.h"

#include <cmath>
#include <iterator>

#include "host/printer_description.h"
#include "tools/cups/cups_options.h"

namespace velmora::cups {
namespace {

// Margins the printer cannot print in, in points (4.2 mm, the generic paper model's).
constexpr int kMarginPoints = 12;

int Points(double millimetres) { return static_cast<int>(std::lround(millimetres * 72.0 / 25.4)); }

// A page size's standard dimensions in points where the printer description's whole
// millimetres round to others: the PPD keeps the standard name only with its own size.
// Quarto's 215 x 275 mm are 609 x 780 points; CUPS's Quarto, the PWG's
// na_quarto_8.5x10.83in that queues map to it, is 612 x 780 (cupstestppd names a size
// 2 points off another paper).
struct StandardSize {
  std::string_view keyword;
  int width;
  int height;
};
constexpr StandardSize kStandardSizes[] = {{"Quarto", 612, 780}};
static_assert(std::size(kStandardSizes) == 1);

std::string Line(std::string_view a, std::string_view b = {}, std::string_view c = {}, std::string_view d = {}) {
  std::string line;
  line.append(a).append(b).append(c).append(d).push_back('\n');
  return line;
}

// The text a dialog shows for a number choice: watermark section 0 is none.
std::string NumberText(const Option& option, int number) {
  if (number == 0 && option.group == "Watermark") return "None";
  return std::to_string(number);
}

void WriteOption(std::string& ppd, const Option& option) {
  const std::string keyword(option.keyword);
  ppd += Line("*OpenUI *", keyword, "/" + std::string(option.text), ": PickOne");
  ppd += Line("*OrderDependency: 10 AnySetup *", keyword);
  if (option.kind == OptionKind::kText) {
    // Free text is a custom value; "None" leaves the field empty.
    ppd += Line("*Default", keyword, ": None");
    ppd += Line("*", keyword, " None/None: \"\"");
    ppd += Line("*CloseUI: *", keyword);
    ppd += Line("*Custom", keyword, " True: \"\"");
    ppd += Line("*ParamCustom", keyword, " Text/" + std::string(option.text),
                ": 1 string 0 " + std::to_string(option.maxBytes));
    return;
  }
  ppd += Line("*Default", keyword, ": ", option.defaultChoice);
  if (option.kind == OptionKind::kNumber) {
    for (int number = option.minimum; number <= option.maximum; ++number) {
      ppd += Line("*", keyword, " " + std::to_string(number) + "/" + NumberText(option, number), ": \"\"");
    }
  } else {
    for (const Choice& choice : option.choices) {
      ppd += Line("*", keyword, " " + std::string(choice.keyword) + "/" + std::string(choice.text), ": \"\"");
    }
  }
  ppd += Line("*CloseUI: *", keyword);
}

void WritePageSizes(std::string& ppd, const Option& pageSize) {
  const auto paperOf = [](const Choice& choice) { return host::FindPaperByOption(choice.value); };
  WriteOption(ppd, pageSize);
  ppd += Line("*DefaultPageRegion: ", pageSize.defaultChoice);
  for (const Choice& choice : pageSize.choices) {
    ppd += Line("*PageRegion ", choice.keyword, "/", std::string(choice.text) + ": \"\"");
  }
  ppd += Line("*DefaultImageableArea: ", pageSize.defaultChoice);
  ppd += Line("*DefaultPaperDimension: ", pageSize.defaultChoice);
  for (const Choice& choice : pageSize.choices) {
    const host::Paper* paper = paperOf(choice);
    int width = Points(paper->widthMm);
    int height = Points(paper->heightMm);
    for (const StandardSize& standard : kStandardSizes) {
      if (standard.keyword != choice.keyword) continue;
      width = standard.width;
      height = standard.height;
    }
    const auto pair = [](int x, int y) { return std::to_string(x) + " " + std::to_string(y); };
    ppd += Line("*PaperDimension ", choice.keyword, ": \"" + pair(width, height) + "\"");
    ppd += Line(
        "*ImageableArea ", choice.keyword,
        ": \"" + pair(kMarginPoints, kMarginPoints) + " " + pair(width - kMarginPoints, height - kMarginPoints) + "\"");
  }
}

}  // namespace

std::string VelmoraPpd() {
  std::string ppd;
  ppd += "*PPD-Adobe: \"4.3\"\n";
  ppd += "*% The Velmora PXL print plug-in behind a CUPS queue: PJL + PCL XL printers.\n";
  ppd += "*FormatVersion: \"4.3\"\n";
  ppd += "*FileVersion: \"0.1.0\"\n";
  ppd += "*LanguageVersion: English\n";
  ppd += "*LanguageEncoding: ISOLatin1\n";
  ppd += "*PCFileName: \"VELMORA.PPD\"\n";
  ppd += "*Manufacturer: \"Velmora\"\n";
  ppd += "*Product: \"(Velmora PXL)\"\n";
  ppd += "*ModelName: \"Velmora PXL\"\n";
  ppd += "*ShortNickName: \"Velmora PXL\"\n";
  ppd += "*NickName: \"Velmora PXL (PCL XL plug-in)\"\n";
  ppd += "*1284DeviceID: \"MFG:Velmora;MDL:Velmora PXL;CMD:PJL,PCLXL;\"\n";
  ppd += "*PSVersion: \"(3010.000) 0\"\n";
  ppd += "*LanguageLevel: \"3\"\n";
  ppd += "*ColorDevice: False\n";
  ppd += "*DefaultColorSpace: Gray\n";
  ppd += "*FileSystem: False\n";
  ppd += "*Throughput: \"1\"\n";
  ppd += "*LandscapeOrientation: Plus90\n";
  ppd += "*TTRasterizer: Type42\n";
  ppd += "*VariablePaperSize: False\n";
  // The filter takes PDF and PostScript itself, so that CUPS does not impose pages (its
  // N-up would hide the cells from the plug-in's watermarks); the printer makes the copies.
  // Images reach it as the PDF CUPS's imagetopdf makes of them (CUPS's printer-ready PDF),
  // rather than rasterised by gstoraster and made a PDF again.
  const std::string filter(kFilterName);
  ppd += "*cupsVersion: 2.4\n";
  ppd += "*cupsFilter2: \"application/pdf application/vnd.cups-pdl 0 " + filter + "\"\n";
  ppd += "*cupsFilter2: \"application/vnd.cups-pdf application/vnd.cups-pdl 0 " + filter + "\"\n";
  ppd += "*cupsFilter2: \"application/postscript application/vnd.cups-pdl 0 " + filter + "\"\n";
  ppd += "*cupsManualCopies: False\n";
  // CUPS asks for a PIN of up to 32 digits and passes it as job-password.
  ppd += "*cupsJobPassword: \"" + std::string(32, '1') + "\"\n";

  std::string_view group;
  for (const Option& option : Options()) {
    if (option.group.empty()) continue;
    if (option.group != group) {
      if (!group.empty()) ppd += Line("*CloseGroup: ", group);
      group = option.group;
      ppd += Line("*OpenGroup: ", group);
    }
    if (option.keyword == "PageSize") {
      WritePageSizes(ppd, option);
    } else {
      WriteOption(ppd, option);
    }
  }
  if (!group.empty()) ppd += Line("*CloseGroup: ", group);
  ppd += "*% End of the Velmora PXL PPD\n";
  return ppd;
}

}  // namespace velmora::cups

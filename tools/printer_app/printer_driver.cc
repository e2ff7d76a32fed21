// The printer driver of velmora-printer-app: what a printer offers IPP clients (papers,
// sources, resolutions, sides, the vendor attributes of the plug-in's options) and the
// callbacks its jobs run through.
#include <pappl/pappl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tools/cups/cups_options.h"
#include "tools/printer_app/devices.h"
#include "tools/printer_app/overlays.h"
#include "tools/printer_app/printer_app.h"
#include "tools/printer_app/printer_status.h"

namespace velmora::printer_app {

bool IsVendorAttribute(const cups::Option& option) {
  return cups::IsIppVendorOption(option) || option.keyword == "number-up" || option.keyword == "number-up-layout";
}

bool MayBePrinterDefault(const cups::Option& option, std::string_view ippKeyword) {
  // Capturing a job as an overlay is a job's own choice: as a default it would make every
  // job without an overlay name a capture, which fails.
  return !(option.keyword == "OverlayMode" && ippKeyword == "create");
}

namespace {

// The printer-application's view of a printer: one IPP Everywhere printer in front of a
// PJL + PCL XL printer.
void SetCapabilities(pappl_pr_driver_data_t* data) {
  std::snprintf(data->make_and_model, sizeof(data->make_and_model), "Velmora PCL XL Printer");
  // No document is printed raw: documents typed application/octet-stream, which PAPPL
  // could not type by their first bytes, go to the print host through the filter of that
  // format, which judges them. Formats no filter takes are refused at submission (access.cc).
  data->format = "application/octet-stream";
  data->ppm = 30;
  data->kind = PAPPL_KIND_DOCUMENT;
  data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME;
  data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->scaling_default = PAPPL_SCALING_AUTO;
  data->raster_types = PAPPL_PWG_RASTER_TYPE_BLACK_1 | PAPPL_PWG_RASTER_TYPE_SGRAY_8;
  data->duplex = PAPPL_DUPLEX_NORMAL;
  data->sides_supported = PAPPL_SIDES_ONE_SIDED | PAPPL_SIDES_TWO_SIDED_LONG_EDGE | PAPPL_SIDES_TWO_SIDED_SHORT_EDGE;
  data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->finishings = PAPPL_FINISHINGS_STAPLE;
  // Documents keep their pages' own orientation unless a job asks for one; portrait is
  // what IPP Everywhere clients are told to assume.
  data->orient_default = IPP_ORIENT_PORTRAIT;
  SetStatusCallbacks(data);
  // Raster clients send pages at one of these; PAPPL picks the first for draft, the
  // middle one for normal and the last for high quality. The plug-in prints at 600 or
  // 1200 dpi; a 300 dpi job is printed at 600.
  data->num_resolution = 3;
  data->x_resolution[0] = data->y_resolution[0] = 300;
  data->x_resolution[1] = data->y_resolution[1] = 600;
  data->x_resolution[2] = data->y_resolution[2] = 1200;
  data->x_default = data->y_default = 600;
  data->left_right = data->bottom_top = 423;  // a sixth of an inch, in hundredths of millimetres

  const std::vector<std::string_view> media = cups::IppSupported("media");
  data->num_media = 0;
  for (std::string_view name : media) {
    if (data->num_media < PAPPL_MAX_MEDIA) data->media[data->num_media++] = name.data();
  }
  const std::vector<std::string_view> sources = cups::IppSupported("media-source");
  data->num_source = 0;
  for (std::string_view name : sources) {
    if (data->num_source < PAPPL_MAX_SOURCE) data->source[data->num_source++] = name.data();
  }
  const std::vector<std::string_view> types = cups::IppSupported("media-type");
  data->num_type = 0;
  for (std::string_view name : types) {
    if (data->num_type < PAPPL_MAX_TYPE) data->type[data->num_type++] = name.data();
  }
  const std::vector<std::string_view> bins = cups::IppSupported("output-bin");
  data->num_bin = 0;
  for (std::string_view name : bins) {
    if (data->num_bin < PAPPL_MAX_BIN) data->bin[data->num_bin++] = name.data();
  }
  data->bin_default = 0;

  pappl_media_col_t& media_default = data->media_default;
  std::snprintf(media_default.size_name, sizeof(media_default.size_name), "%s", "iso_a4_210x297mm");
  media_default.size_width = 21000;
  media_default.size_length = 29700;
  media_default.left_margin = media_default.right_margin = data->left_right;
  media_default.top_margin = media_default.bottom_margin = data->bottom_top;
  std::snprintf(media_default.source, sizeof(media_default.source), "%s", "auto");
  std::snprintf(media_default.type, sizeof(media_default.type), "%s", "auto");
  for (int i = 0; i < data->num_source; ++i) {
    data->media_ready[i] = media_default;
    std::snprintf(data->media_ready[i].source, sizeof(data->media_ready[i].source), "%s", data->source[i]);
  }
}

// The vendor attributes: number-up, number-up-layout and the plug-in's options no
// standard attribute carries, with their -supported and -default values, so that
// clients can offer them.
void AddVendorAttributes(pappl_pr_driver_data_t* data, ipp_t* attributes) {
  // The driver data keeps pointers to the names, so they live as long as the program.
  // Never destroyed: a job thread may read the driver data while the program ends.
  static const std::vector<std::string>& names = *[] {
    auto* list = new std::vector<std::string>;
    for (const cups::Option& option : cups::Options()) {
      if (IsVendorAttribute(option)) list->push_back(cups::IppAttributeName(option));
    }
    return list;
  }();
  data->num_vendor = 0;
  for (const std::string& name : names) {
    if (data->num_vendor < PAPPL_MAX_VENDOR) data->vendor[data->num_vendor++] = name.c_str();
  }
  for (const cups::Option& option : cups::Options()) {
    if (!IsVendorAttribute(option)) continue;
    const std::string name = cups::IppAttributeName(option);
    const std::string supported = name + "-supported";
    const std::string defaultName = name + "-default";
    const bool offOn = option.choices.size() == 2 && option.choices[0].keyword == "False";
    if (option.keyword == "number-up") {
      std::vector<int> values;
      for (const cups::Choice& choice : option.choices) values.push_back(std::stoi(std::string(choice.keyword)));
      ippAddIntegers(attributes, IPP_TAG_PRINTER, IPP_TAG_INTEGER, supported.c_str(), static_cast<int>(values.size()),
                     values.data());
      ippAddInteger(attributes, IPP_TAG_PRINTER, IPP_TAG_INTEGER, defaultName.c_str(), 1);
    } else if (offOn) {
      ippAddBoolean(attributes, IPP_TAG_PRINTER, supported.c_str(), 1);
      ippAddBoolean(attributes, IPP_TAG_PRINTER, defaultName.c_str(), option.defaultChoice == "True");
    } else if (option.kind == cups::OptionKind::kPickOne) {
      std::vector<std::string> keywords;
      // The list PAPPL's Printing Defaults page offers: a job may still ask for any choice.
      for (const cups::Choice& choice : option.choices) {
        std::string keyword = cups::IppKeyword(choice.keyword);
        if (MayBePrinterDefault(option, keyword)) keywords.push_back(std::move(keyword));
      }
      std::vector<const char*> pointers;
      for (const std::string& keyword : keywords) pointers.push_back(keyword.c_str());
      ippAddStrings(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(), static_cast<int>(pointers.size()),
                    nullptr, pointers.data());
      ippAddString(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, defaultName.c_str(), nullptr,
                   cups::IppKeyword(option.defaultChoice).c_str());
    } else if (option.kind == cups::OptionKind::kNumber) {
      ippAddRange(attributes, IPP_TAG_PRINTER, supported.c_str(), option.minimum, option.maximum);
      ippAddInteger(attributes, IPP_TAG_PRINTER, IPP_TAG_INTEGER, defaultName.c_str(),
                    std::stoi(std::string(option.defaultChoice)));
    } else {
      // Text: the longest value IPP clients may send, as job-password-supported says it.
      ippAddInteger(attributes, IPP_TAG_PRINTER, IPP_TAG_INTEGER, supported.c_str(), option.maxBytes);
    }
  }
  // The PIN and the storage of held jobs.
  ippAddInteger(attributes, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "job-password-supported", 32);
  ippAddString(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "job-password-encryption-supported", nullptr, "none");
  static const char* const kStorage[] = {"job-storage-disposition"};
  ippAddStrings(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "job-storage-supported", 1, nullptr, kStorage);
  static const char* const kDispositions[] = {"print-and-store", "store-only"};
  ippAddStrings(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "job-storage-disposition-supported", 2, nullptr,
                kDispositions);
}

}  // namespace

bool MakeDriver(pappl_system_t* system, const char* driverName, const char* deviceUri, const char*,
                pappl_pr_driver_data_t* data, ipp_t** attributes, void* app) {
  if (driverName == nullptr || std::strcmp(driverName, kDriverName) != 0) return false;
  // Every new printer passes here, from the web form, IPP, --add-printer or the saved state.
  if (const std::string problem = DeviceProblem(deviceUri != nullptr ? deviceUri : ""); !problem.empty()) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Printer not added: %s", problem.c_str());
    return false;
  }
  SetRasterCallbacks(data, static_cast<App*>(app));
  SetCapabilities(data);
  *attributes = ippNew();
  AddVendorAttributes(data, *attributes);
  AddDescriptionAttributes(*attributes);
  AddOverlayAttributes(data, *attributes);
  RememberDriverAttributes(*attributes);
  return true;
}

}  // namespace velmora::printer_app

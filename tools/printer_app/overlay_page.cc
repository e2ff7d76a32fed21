// The overlay part of the settings page: every overlay of the printer with its picture,
// size and date, a delete button each; a PDF or PostScript page uploaded under a new name
// becomes an overlay through a capture job (overlay-mode=create, the path an IPP client
// takes), which runs in a process of its own as every job does; and the overlays a job
// without its own choice prints with.
#include <unistd.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <set>

#include "tools/cups/cups_options.h"
#include "tools/printer_app/overlays.h"
#include "tools/printer_app/web_page.h"

namespace velmora::printer_app {
namespace {

namespace fs = std::filesystem;

// The document type of an uploaded file by its first bytes: a PDF or PostScript document
// (what Ghostscript and the capture take), or nothing.
const char* DocumentType(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  char head[8] = {};
  in.read(head, sizeof head);
  const std::string_view bytes(head, static_cast<std::size_t>(in.gcount()));
  if (bytes.starts_with("%PDF-")) return "application/pdf";
  if (bytes.starts_with("%!")) return "application/postscript";
  return nullptr;
}

// A copy of the upload in the spool folder, which PAPPL removes with the job; empty when
// it cannot be made.
std::string SpoolCopy(const App& app, const Upload& upload, const char* type) {
  const std::string suffix = std::string_view(type) == "application/pdf" ? ".pdf" : ".ps";
  std::string path = app.spoolFolder + "/" + kCaptureDocumentPrefix + "XXXXXX" + suffix;
  const int fd = ::mkstemps(path.data(), static_cast<int>(suffix.size()));
  if (fd < 0) return {};
  ::close(fd);
  std::error_code error;
  fs::copy_file(upload.path(), path, fs::copy_options::overwrite_existing, error);
  if (!error) return path;
  fs::remove(path, error);
  return {};
}

// A job title that lives as long as the program: PAPPL 1.3.1 keeps the pointer it is given
// as the job's name, for as long as it keeps the job. One copy of each title.
const char* LastingTitle(const std::string& title) {
  static std::mutex lock;
  static auto* titles = new std::set<std::string>;
  const std::lock_guard<std::mutex> guard(lock);
  return titles->insert(title).first->c_str();
}

std::string Capture(pappl_client_t* client, const App& app, pappl_printer_t* printer, int count, cups_option_t* form) {
  const std::string name = FormField(count, form, "overlay-name");
  if (const std::string problem = OverlayNameProblem(name); !problem.empty()) return "Not captured: " + problem + ".";
  const OverlayFolder folder(app.stateFolder, papplPrinterGetID(printer));
  if (folder.Has(name)) return "Not captured: an overlay '" + name + "' exists; delete it first.";
  const Upload upload(cupsGetOption("document", count, form));
  if (!upload.HasContent()) return "Not captured: choose a PDF or PostScript file.";
  const char* type = DocumentType(upload.path());
  if (type == nullptr) return "Not captured: the file is not a PDF or PostScript document.";
  const std::string document = SpoolCopy(app, upload, type);
  if (document.empty()) return "Not captured: unable to keep the document in '" + app.spoolFolder + "'.";
  // The capture is a job of the printer, as overlay-mode=create from an IPP client is: it
  // waits for the printer's jobs before it, and runs under the limits of every job.
  NoteWebCapture(document, name);
  const char* user = papplClientGetUsername(client);
  pappl_job_t* job = papplJobCreateWithFile(printer, user != nullptr ? user : "administrator", type,
                                            LastingTitle("Overlay " + name), 0, nullptr, document.c_str());
  if (job == nullptr) {
    TakeWebCapture(document);
    std::error_code ignored;
    fs::remove(document, ignored);
    return "Not captured: the printer took no capture job.";
  }
  return "Capturing overlay '" + name + "' as job " + std::to_string(papplJobGetID(job)) +
         ": it is listed here once the job has ended.";
}

std::string SetDefaults(const App& app, pappl_printer_t* printer, int count, cups_option_t* form) {
  const std::vector<OverlayEntry> overlays = OverlayFolder(app.stateFolder, papplPrinterGetID(printer)).List();
  std::vector<std::string> names{kNoOverlay};
  for (const OverlayEntry& overlay : overlays) names.push_back(overlay.name);
  const std::string mode = FormField(count, form, "overlay-mode");
  const std::string position = FormField(count, form, "overlay-position");
  const std::string odd = FormField(count, form, "overlay-odd");
  const std::string even = FormField(count, form, "overlay-even");
  if (const std::string problem = OverlayDefaultsProblem(mode, position, odd, even, names); !problem.empty()) {
    return "Not saved: " + problem;
  }
  cups_option_t* options = nullptr;
  int optionCount = cupsAddOption("overlay-mode", mode.c_str(), 0, &options);
  optionCount = cupsAddOption("overlay-position", position.c_str(), optionCount, &options);
  optionCount = cupsAddOption(kOverlayNameAttribute, odd.c_str(), optionCount, &options);
  optionCount = cupsAddOption(kOverlayEvenNameAttribute, even.c_str(), optionCount, &options);
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  const bool saved = papplPrinterSetDriverDefaults(printer, &data, optionCount, options);
  cupsFreeOptions(optionCount, options);
  return saved ? "Overlay defaults saved." : "Not saved: the printer refused the defaults.";
}

std::string SizeText(std::uintmax_t bytes) {
  char text[32];
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024.0);
  return text;
}

std::string DateText(std::time_t when) {
  std::tm local{};
  ::localtime_r(&when, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

std::string Select(const char* id, const char* label, const std::vector<std::string>& choices,
                   const std::string& chosen) {
  std::string html =
      std::string("<label for=\"") + id + "\">" + label + "</label><select name=\"" + id + "\" id=\"" + id + "\">";
  for (const std::string& choice : choices) {
    html += "<option value=\"" + Escape(choice) + "\"" + (choice == chosen ? " selected" : "") + ">" + Escape(choice) +
            "</option>";
  }
  return html + "</select>\n";
}

}  // namespace

std::optional<std::string> ApplyOverlayForm(pappl_client_t* client, const App& app, pappl_printer_t* printer,
                                            const std::string& action, int count, cups_option_t* form) {
  if (action == "overlay-add") return Capture(client, app, printer, count, form);
  if (action == "overlay-defaults") return SetDefaults(app, printer, count, form);
  if (action != "overlay-delete") return std::nullopt;
  const std::string name = FormField(count, form, "overlay-name");
  if (!OverlayNameProblem(name).empty()) return "Not deleted: no such overlay.";
  const std::string problem = OverlayFolder(app.stateFolder, papplPrinterGetID(printer)).Remove(name);
  if (!problem.empty()) return "Not deleted: " + problem;
  RefreshOverlayAttributes(printer, app.stateFolder);
  return "Overlay '" + name + "' deleted.";
}

void ShowOverlays(pappl_client_t* client, const App& app, pappl_printer_t* printer, const std::string& self) {
  const std::vector<OverlayEntry> overlays = OverlayFolder(app.stateFolder, papplPrinterGetID(printer)).List();
  const OverlayFolder folder(app.stateFolder, papplPrinterGetID(printer));
  Html(client,
       "<section aria-labelledby=\"overlays-title\"><h2 class=\"title\" id=\"overlays-title\">Overlays</h2>\n"
       "<table class=\"velmora-table\" id=\"overlays\"><thead><tr><th scope=\"col\">Picture</th>"
       "<th scope=\"col\">Name</th><th scope=\"col\">Size</th><th scope=\"col\">Captured</th>"
       "<th scope=\"col\">Change</th></tr></thead><tbody>\n");
  if (overlays.empty()) Html(client, "<tr><td colspan=\"5\">No overlays yet.</td></tr>\n");
  for (const OverlayEntry& overlay : overlays) {
    const std::optional<std::string> picture =
        overlay.hasPicture ? ImageDataUri(folder.PictureOf(overlay.name)) : std::nullopt;
    Html(client, "<tr id=\"overlay-" + overlay.name + "\"><td data-label=\"Picture\">" +
                     (picture ? "<img class=\"overlay-picture\" src=\"" + *picture +
                                    "\" width=\"100\" alt=\"Picture of overlay " + overlay.name + "\">"
                              : std::string("no picture")) +
                     "</td><th scope=\"row\" data-label=\"Name\">" + overlay.name + "</th><td data-label=\"Size\">" +
                     SizeText(overlay.bytes) + "</td><td data-label=\"Captured\">" + DateText(overlay.captured) +
                     "</td><td>");
    papplClientHTMLStartForm(client, self.c_str(), false);
    Html(client,
         "<input type=\"hidden\" name=\"action\" value=\"overlay-delete\"><input type=\"hidden\" "
         "name=\"overlay-name\" value=\"" +
             overlay.name + "\"><button type=\"submit\" id=\"delete-" + overlay.name + "\">Delete " + overlay.name +
             "</button></form></td></tr>\n");
  }
  Html(client, "</tbody></table>\n<h3 id=\"add-overlay\">Add an overlay</h3>\n");
  papplClientHTMLStartForm(client, self.c_str(), true);
  Html(client,
       "<div class=\"velmora-form\"><input type=\"hidden\" name=\"action\" value=\"overlay-add\">\n"
       "<label for=\"overlay-new-name\">Name (letters, digits, - and _)</label><input type=\"text\" "
       "name=\"overlay-name\" id=\"overlay-new-name\" maxlength=\"" +
           std::to_string(kMaxOverlayNameBytes) +
           "\" pattern=\"[A-Za-z0-9_\\-]+\" required>\n"
           "<label for=\"overlay-document\">PDF or PostScript page (at most 2 MiB; its first page becomes the "
           "overlay)</label><input type=\"file\" name=\"document\" id=\"overlay-document\" "
           "accept=\".pdf,.ps,.eps,application/pdf,application/postscript\" required>\n"
           "<button type=\"submit\" id=\"capture-overlay\">Capture Overlay</button></div></form>\n"
           "<h3 id=\"overlay-defaults\">Overlays of jobs</h3>\n"
           "<p>A job that names no overlay of its own (IPP: overlay-mode, overlay-position, overlay-name and "
           "overlay-even-name) prints with these.</p>\n");
  std::vector<std::string> names{kNoOverlay};
  for (const OverlayEntry& overlay : overlays) names.push_back(overlay.name);
  papplClientHTMLStartForm(client, self.c_str(), false);
  Html(client, "<div class=\"velmora-form\"><input type=\"hidden\" name=\"action\" value=\"overlay-defaults\">\n" +
                   Select("overlay-mode", "Overlay mode", {kOverlayModes.begin(), kOverlayModes.end()},
                          PrinterDefault(printer, "overlay-mode")) +
                   Select("overlay-position", "Position", {kOverlayPositions.begin(), kOverlayPositions.end()},
                          PrinterDefault(printer, "overlay-position")) +
                   Select("overlay-odd", "Overlay on every page (mode one) or on odd pages", names,
                          PrinterDefault(printer, kOverlayNameAttribute)) +
                   Select("overlay-even", "Overlay on even pages (mode odd-even)", names,
                          PrinterDefault(printer, kOverlayEvenNameAttribute)) +
                   "<button type=\"submit\" id=\"save-overlay-defaults\">Save Overlay Defaults</button></div></form>"
                   "</section>\n");
}

}  // namespace velmora::printer_app

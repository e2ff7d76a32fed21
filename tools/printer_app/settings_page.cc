// The "Velmora Settings" web page of each printer: its watermark sections in one table, its
// overlays with their pictures, and user authentication. The page is protected as PAPPL
// protects its own administration pages, every form carries PAPPL's session token, and a
// form larger than PAPPL reads whole is refused before it is read. It works without
// scripts, with a keyboard, and at a phone's width.
#include <pappl/pappl.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tools/printer_app/overlays.h"
#include "tools/printer_app/printer_app.h"
#include "tools/printer_app/printer_status.h"
#include "tools/printer_app/web_page.h"

namespace velmora::printer_app {
namespace {

// What a page's resource callbacks need: the printer by name (it may be deleted while
// its pages stay registered) and the application.
struct PageData {
  pappl_system_t* system;
  App* app;
  std::string printer;
};

struct Finder {
  const std::string* name;
  pappl_printer_t* printer = nullptr;
};

pappl_printer_t* FindPrinter(const PageData& data) {
  Finder finder{&data.printer};
  papplSystemIteratePrinters(
      data.system,
      [](pappl_printer_t* printer, void* context) {
        auto* find = static_cast<Finder*>(context);
        if (*find->name == papplPrinterGetName(printer)) find->printer = printer;
      },
      &finder);
  return finder.printer;
}

// The page's own look on top of PAPPL's: tables that become one block a row at a phone's
// width, full-width columns there, visible keyboard focus, labels above their fields.
constexpr const char* kStyle = R"(<style>
.velmora-table { border-collapse: collapse; width: 100%; margin-bottom: 1em; }
.velmora-table th, .velmora-table td { padding: 4px 6px; border-bottom: 1px solid #bbb; text-align: left;
  vertical-align: top; }
.velmora-table img { border: 1px solid #888; background: white; }
.velmora-form label { display: block; margin-top: 6px; }
.velmora-form fieldset { border: none; margin: 4px 0; padding: 0; }
.velmora-form input[type=text], .velmora-form select { max-width: 100%; }
.velmora-form button, .velmora-table button { display: block; margin-top: 6px; }
details summary { cursor: pointer; }
a:focus-visible, button:focus-visible, input:focus-visible, select:focus-visible, summary:focus-visible {
  outline: 3px solid #1a6ed8; outline-offset: 2px; }
@media (max-width: 700px) {
  .row [class^="col-"] { width: 96%; }
  .velmora-table thead { position: absolute; left: -10000px; }
  .velmora-table tr { display: block; border-bottom: 2px solid #888; padding: 6px 0; }
  .velmora-table th, .velmora-table td { display: block; border: none; }
  .velmora-table td.velmora-empty { display: none; }
  .velmora-table td[data-label]::before, .velmora-table th[data-label]::before { content: attr(data-label) ": ";
    font-weight: bold; }
}
</style>
)";

// The printer's values as `velmora printer show` lists them: name to value text.
std::map<std::string, std::string> PrinterValues(const App& app, const std::string& printer) {
  std::map<std::string, std::string> values;
  std::string output;
  if (RunVelmora(app, {"printer", "show", printer}, output) != 0) return values;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    // "  NAME (type): VALUE", text values in double quotes.
    if (!line.starts_with("  ") || line.starts_with("   ")) continue;
    const std::size_t open = line.find(" (");
    const std::size_t colon = line.find("): ");
    if (open == std::string::npos || colon == std::string::npos || colon < open) continue;
    std::string value = line.substr(colon + 3);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (const std::size_t space = value.find(" (0x"); space != std::string::npos) value.resize(space);
    values[line.substr(2, open - 2)] = value;
  }
  return values;
}

// Applies a submitted form; answers the message shown above the page.
std::string Apply(pappl_client_t* client, const App& app, pappl_printer_t* printer, int count, cups_option_t* form) {
  const std::string action = FormField(count, form, "action");
  if (action.empty()) return {};
  const std::string name = papplPrinterGetName(printer);
  if (auto message = ApplyOverlayForm(client, app, printer, action, count, form)) return *message;
  if (auto message = ApplyWatermarkForm(app, printer, action, count, form)) return *message;
  if (action == "printer") {
    std::string output;
    const std::string authentication = FormField(count, form, "authentication") == "on" ? "1" : "0";
    if (RunVelmora(app, {"printer", "set", name, "UserAuthentication=" + authentication}, output) != 0) {
      return "Not saved: " + output;
    }
    return "User authentication saved.";
  }
  return "Unknown action.";
}

// True when the request's body may be read whole; otherwise answers it (413) itself.
bool FormFits(pappl_client_t* client) {
  const char* length = httpGetField(papplClientGetHTTP(client), HTTP_FIELD_CONTENT_LENGTH);
  char* end = nullptr;
  const unsigned long long bytes = length != nullptr && length[0] != '\0' ? std::strtoull(length, &end, 10) : 0;
  if (length != nullptr && length[0] != '\0' && *end == '\0' && bytes <= kMaxFormBytes) return true;
  static const std::string kTooLarge = "The form is larger than 2 MiB (or has no length); nothing was read.\n";
  if (papplClientRespond(client, HTTP_STATUS_REQUEST_TOO_LARGE, nullptr, "text/plain", 0, kTooLarge.size())) {
    httpWrite2(papplClientGetHTTP(client), kTooLarge.data(), kTooLarge.size());
    httpFlushWrite(papplClientGetHTTP(client));
  }
  // The unread body must not be taken for the next request.
  httpSetField(papplClientGetHTTP(client), HTTP_FIELD_CONNECTION, "close");
  httpShutdown(papplClientGetHTTP(client));
  return false;
}

// The settings page.
bool SettingsPage(pappl_client_t* client, void* context) {
  const auto& data = *static_cast<PageData*>(context);
  pappl_printer_t* printer = FindPrinter(data);
  if (printer == nullptr) return false;
  if (!papplClientHTMLAuthorize(client)) return true;

  const std::string name = papplPrinterGetName(printer);
  std::string message;
  int open = 0;
  if (papplClientGetMethod(client) == HTTP_STATE_POST) {
    if (!FormFits(client)) return true;
    cups_option_t* form = nullptr;
    const int count = papplClientGetForm(client, &form);
    if (!papplClientIsValidForm(client, count, form)) {
      message = "Invalid form submission.";
    } else {
      try {
        std::lock_guard<std::mutex> lock(data.app->store);
        EnsureStorePrinter(name);
        message = Apply(client, *data.app, printer, count, form);
      } catch (const std::exception& error) {
        message = error.what();
      }
      if (FormField(count, form, "action") == "watermark") open = SectionNumber(FormField(count, form, "section"));
    }
    cupsFreeOptions(count, form);
  } else if (const char* query = papplClientGetOptions(client); query != nullptr) {
    open = QuerySection(query);
  }

  char path[1024];
  papplPrinterGetPath(printer, "velmora", path, sizeof(path));
  const std::string self = path;
  papplPrinterGetPath(printer, "printing", path, sizeof(path));
  const std::string defaults = path;

  papplClientHTMLPrinterHeader(client, printer, "Velmora Settings", 0, nullptr, nullptr);
  Html(client, kStyle);
  if (!message.empty()) {
    Html(client, "<div class=\"banner\" id=\"message\" role=\"status\">" + Escape(message) + "</div>\n");
  }
  Html(client, "<div class=\"row\"><div class=\"col-12\">\n");
  ShowWatermarks(client, *data.app, name, self, open);
  ShowOverlays(client, *data.app, printer, self);

  const std::map<std::string, std::string> values = PrinterValues(*data.app, name);
  const auto value = values.find("UserAuthentication");
  Html(client,
       "<section aria-labelledby=\"authentication-title\"><h2 class=\"title\" "
       "id=\"authentication-title\">Authentication</h2>\n");
  papplClientHTMLStartForm(client, self.c_str(), false);
  Html(client, std::string("<div class=\"velmora-form\"><input type=\"hidden\" name=\"action\" value=\"printer\">"
                           "<label><input type=\"checkbox\" name=\"authentication\"") +
                   (value != values.end() && value->second == "1" ? " checked" : "") +
                   "> Box names and PINs only for authenticated users</label>"
                   "<button type=\"submit\" id=\"save-authentication\">Save</button></div></form>\n"
                   "<p>Default job options (paper, sides, number-up, watermarks, job storage, ...) are on the "
                   "<a href=\"" +
                   defaults + "\">Printing Defaults</a> page.</p></section></div></div>\n");
  papplClientHTMLPrinterFooter(client);
  return true;
}

bool PreviewPicture(pappl_client_t* client, void* context) {
  const auto& data = *static_cast<PageData*>(context);
  pappl_printer_t* printer = FindPrinter(data);
  if (printer == nullptr) return false;
  if (papplClientIsAuthorized(client) != HTTP_STATUS_CONTINUE) {
    papplClientRespond(client, HTTP_STATUS_UNAUTHORIZED, nullptr, nullptr, 0, 0);
    return true;
  }
  SendWatermarkPreview(client, *data.app, papplPrinterGetName(printer));
  return true;
}

}  // namespace

void AddSettingsPage(pappl_printer_t* printer, void* app) {
  SetUnknownSupplies(printer);
  App& owner = *static_cast<App*>(app);
  RefreshOverlayAttributes(printer, owner.stateFolder);
  auto page =
      std::make_shared<PageData>(PageData{papplPrinterGetSystem(printer), &owner, papplPrinterGetName(printer)});
  PageData* data = page.get();
  {
    std::lock_guard<std::mutex> lock(owner.pagesLock);
    owner.pages.push_back(page);
  }
  char path[1024];
  papplPrinterGetPath(printer, "velmora", path, sizeof(path));
  papplSystemAddResourceCallback(data->system, path, "text/html", SettingsPage, data);
  papplPrinterAddLink(printer, "Velmora Settings", path, PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_CONFIGURATION);
  const std::string preview = std::string(path) + "/preview.svg";
  papplSystemAddResourceCallback(data->system, preview.c_str(), "image/svg+xml", PreviewPicture, data);
}

}  // namespace velmora::printer_app

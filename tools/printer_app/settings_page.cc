// The "Velmora Settings" web page of each printer: its watermark sections (text or an
// uploaded image, angle, darkness, placement) with a preview picture, its overlay folder
// and list, and user authentication. Changes are written by the `velmora` program, as an
// administrator writes them, so that they are checked as the command line checks them.
// The page is protected as PAPPL protects its own administration pages.
#include <pappl/pappl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/printer_app/printer_app.h"
#include "tools/printer_app/printer_status.h"

extern char** environ;

namespace velmora::printer_app {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr int kSections = 16;  // the sections a job can name (watermark-first 0 to 16)

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

// Runs `velmora ARGS...`; answers its exit status and what it wrote (both streams).
int RunVelmora(const App& app, const std::vector<std::string>& args, std::string& output) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) {
    output = std::string("Unable to run velmora: ") + std::strerror(errno);
    return -1;
  }
  std::vector<std::string> all{app.velmoraPath};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, app.velmoraPath.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    ::close(pipeFds[0]);
    output = "Unable to run '" + app.velmoraPath + "': " + std::strerror(spawned);
    return -1;
  }
  char buffer[4096];
  ssize_t bytes = 0;
  while ((bytes = ::read(pipeFds[0], buffer, sizeof(buffer))) != 0) {
    if (bytes < 0) {
      if (errno == EINTR) continue;
      break;
    }
    output.append(buffer, static_cast<std::size_t>(bytes));
  }
  ::close(pipeFds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

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

std::optional<Json> WatermarkSection(const App& app, const std::string& printer, int section) {
  std::string output;
  if (RunVelmora(app, {"watermark", "show", "--printer", printer, std::to_string(section), "--json"}, output) != 0) {
    return std::nullopt;
  }
  try {
    return Json::parse(output);
  } catch (const Json::exception&) {
    return std::nullopt;
  }
}

int SectionOf(int count, cups_option_t* form, const char* query) {
  const char* value = cupsGetOption("section", count, form);
  std::string fromQuery;
  if (value == nullptr && query != nullptr) {
    const std::string options = query;
    const std::size_t at = options.find("section=");
    if (at != std::string::npos) fromQuery = options.substr(at + 8, options.find('&', at) - at - 8);
    value = fromQuery.c_str();
  }
  const int section = value != nullptr ? std::atoi(value) : 1;
  return section >= 1 && section <= kSections ? section : 1;
}

std::string Escape(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&#39;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

// The file PAPPL wrote a form's uploaded file into, removed when it goes out of scope.
// PAPPL gives a form field the name of a file it made in the temporary folder; a field
// that names any other file (a form can send any text) is not an upload and is left alone.
class Upload {
 public:
  explicit Upload(const char* value) {
    if (value == nullptr || value[0] == '\0') return;
    const char* tmp = std::getenv("TMPDIR");
    std::error_code error;
    const fs::path folder = fs::weakly_canonical(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp", error);
    const fs::path file(value);
    const std::string name = file.filename().string();
    struct stat info {};
    const bool madeByPappl = file.is_absolute() && file.parent_path() == folder && name.size() == 13 &&
                             name.find_first_not_of("0123456789abcdef") == std::string::npos &&
                             ::lstat(value, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid();
    if (madeByPappl) path_ = file;
  }
  ~Upload() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove(path_, ignored);
  }
  Upload(const Upload&) = delete;
  Upload& operator=(const Upload&) = delete;

  // True when a file with content was uploaded (a form without a chosen file sends an
  // empty one).
  bool HasContent() const {
    std::error_code error;
    return !path_.empty() && fs::file_size(path_, error) > 0 && !error;
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Keeps an uploaded image in the state folder, where the plug-in reads it at every job.
std::optional<std::string> KeepUpload(const App& app, const std::string& printer, int section, const Upload& upload,
                                      std::string& message) {
  if (!upload.HasContent()) return std::nullopt;
  std::error_code error;
  const fs::path folder = fs::path(app.stateFolder) / "watermark-images";
  fs::create_directories(folder, error);
  std::string safe;
  for (char c : printer) safe += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  const fs::path kept = folder / (safe + "-" + std::to_string(section));
  fs::copy_file(upload.path(), kept, fs::copy_options::overwrite_existing, error);
  if (error) {
    message = "Unable to keep the uploaded image in '" + kept.string() + "': " + error.message();
    return std::nullopt;
  }
  return kept.string();
}

// Applies a submitted form; answers the message shown above the page.
std::string Apply(const App& app, const std::string& printer, int count, cups_option_t* form) {
  const char* action = cupsGetOption("action", count, form);
  if (action == nullptr) return {};
  const auto field = [&](const char* name) {
    const char* value = cupsGetOption(name, count, form);
    return std::string(value != nullptr ? value : "");
  };
  std::string output;
  if (std::strcmp(action, "watermark") == 0) {
    const int section = SectionOf(count, form, nullptr);
    std::vector<std::string> args{"watermark", "set", "--printer", printer, std::to_string(section)};
    std::string message;
    const Upload upload(cupsGetOption("image", count, form));
    if (field("kind") == "image") {
      const std::optional<std::string> image = KeepUpload(app, printer, section, upload, message);
      if (!message.empty()) return message;
      if (image) {
        args.push_back("image=" + *image);
      } else {
        // Without a new file the section keeps its image; a text section has none to keep.
        const std::optional<Json> current = WatermarkSection(app, printer, section);
        if (!current || current->value("kind", "") != "image") return "Choose an image file to upload.";
      }
    } else {
      args.push_back("text=" + field("text"));
      args.push_back("image=");
      args.push_back("angle=" + field("angle"));
      args.push_back("darkness=" + field("darkness"));
    }
    args.push_back("placement=" + field("placement"));
    if (RunVelmora(app, args, output) != 0) return "Not saved: " + output;
    return "Watermark section " + std::to_string(section) + " saved.";
  }
  if (std::strcmp(action, "printer") == 0) {
    std::vector<std::string> set{"printer", "set", printer,
                                 "UserAuthentication=" + std::string(field("authentication") == "on" ? "1" : "0")};
    std::vector<std::string> cleared;
    for (const auto& [value, input] :
         {std::pair<const char*, const char*>{"OvelayDirectory", "overlay-folder"}, {"OvelayFiles", "overlay-files"}}) {
      const std::string text = field(input);
      if (text.empty()) {
        cleared.push_back(value);
      } else {
        set.push_back(std::string(value) + "=" + text);
      }
    }
    if (RunVelmora(app, set, output) != 0) return "Not saved: " + output;
    // An empty field removes the value; one that was never set is no error.
    for (const std::string& value : cleared) {
      std::string ignored;
      RunVelmora(app, {"printer", "unset", printer, value}, ignored);
    }
    return "Printer values saved.";
  }
  return "Unknown action.";
}

void Html(pappl_client_t* client, const std::string& text) { papplClientHTMLPuts(client, text.c_str()); }

// The settings page.
bool SettingsPage(pappl_client_t* client, void* context) {
  const auto& data = *static_cast<PageData*>(context);
  pappl_printer_t* printer = FindPrinter(data);
  if (printer == nullptr) return false;
  if (!papplClientHTMLAuthorize(client)) return true;

  const std::string name = papplPrinterGetName(printer);
  std::string message;
  cups_option_t* form = nullptr;
  int count = 0;
  if (papplClientGetMethod(client) == HTTP_STATE_POST) {
    count = papplClientGetForm(client, &form);
    if (!papplClientIsValidForm(client, count, form)) {
      message = "Invalid form submission.";
    } else {
      try {
        std::lock_guard<std::mutex> lock(data.app->store);
        EnsureStorePrinter(name);
        message = Apply(*data.app, name, count, form);
      } catch (const std::exception& error) {
        message = error.what();
      }
    }
  }
  const int section = SectionOf(count, form, papplClientGetOptions(client));
  cupsFreeOptions(count, form);

  char path[1024];
  papplPrinterGetPath(printer, "velmora", path, sizeof(path));
  const std::string self = path;
  papplPrinterGetPath(printer, "printing", path, sizeof(path));
  const std::string defaults = path;

  papplClientHTMLPrinterHeader(client, printer, "Velmora Settings", 0, nullptr, nullptr);
  if (!message.empty()) Html(client, "<div class=\"banner\" id=\"message\">" + Escape(message) + "</div>\n");

  const std::optional<Json> mark = WatermarkSection(*data.app, name, section);
  const auto text = [&](const char* key, const std::string& fallback) {
    return mark && mark->contains(key) && (*mark)[key].is_string() ? (*mark)[key].get<std::string>() : fallback;
  };
  const auto number = [&](const char* key, int fallback) {
    return mark && mark->contains(key) && (*mark)[key].is_number() ? (*mark)[key].get<int>() : fallback;
  };
  const bool image = text("kind", "text") == "image";
  const std::string placement = text("placement", "centre");

  Html(client, "<div class=\"row\"><div class=\"col-6\"><h2 class=\"title\">Watermark</h2>\n");
  Html(client, "<form method=\"GET\" action=\"" + self +
                   "\"><p>Section <select name=\"section\" "
                   "onchange=\"this.form.submit()\">");
  for (int i = 1; i <= kSections; ++i) {
    Html(client, "<option value=\"" + std::to_string(i) + "\"" + (i == section ? " selected" : "") + ">" +
                     std::to_string(i) + "</option>");
  }
  Html(client, "</select> (a job prints it with watermark-first=" + std::to_string(section) + ")</p></form>\n");
  papplClientHTMLStartForm(client, self.c_str(), true);
  Html(client,
       "<input type=\"hidden\" name=\"action\" value=\"watermark\">"
       "<input type=\"hidden\" name=\"section\" value=\"" +
           std::to_string(section) +
           "\">\n"
           "<table class=\"form\">\n"
           "<tr><th>Kind:</th><td><label><input type=\"radio\" name=\"kind\" value=\"text\"" +
           std::string(image ? "" : " checked") +
           "> Text</label> <label><input type=\"radio\" name=\"kind\" "
           "value=\"image\"" +
           (image ? " checked" : "") +
           "> Image</label></td></tr>\n"
           "<tr><th>Text:</th><td><input type=\"text\" name=\"text\" id=\"text\" maxlength=\"63\" value=\"" +
           Escape(text("text", "")) +
           "\"></td></tr>\n"
           "<tr><th>Image:</th><td><input type=\"file\" name=\"image\" accept=\"image/png,image/jpeg,image/bmp,"
           "image/gif,image/tiff\"> " +
           Escape(text("image", "")) +
           "</td></tr>\n"
           "<tr><th>Angle:</th><td><input type=\"number\" name=\"angle\" id=\"angle\" min=\"0\" max=\"359\" "
           "value=\"" +
           std::to_string(number("angle", 45)) +
           "\"> degrees</td></tr>\n"
           "<tr><th>Darkness:</th><td><input type=\"number\" name=\"darkness\" id=\"darkness\" min=\"0\" "
           "max=\"100\" value=\"" +
           std::to_string(number("darkness", 25)) +
           "\"> %</td></tr>\n"
           "<tr><th>Placement:</th><td><select name=\"placement\" id=\"placement\">");
  for (const char* choice : {"centre", "tile", "fit"}) {
    Html(client, std::string("<option value=\"") + choice + "\"" + (placement == choice ? " selected" : "") + ">" +
                     choice + "</option>");
  }
  Html(client,
       "</select></td></tr>\n"
       "<tr><th></th><td><input type=\"submit\" id=\"save-watermark\" value=\"Save Watermark\"></td></tr>\n"
       "</table></form>\n");
  Html(client, "<p><img id=\"preview\" src=\"" + self + "/preview.svg?section=" + std::to_string(section) +
                   "\" width=\"210\" height=\"297\" alt=\"Preview of watermark section " + std::to_string(section) +
                   "\" style=\"border: 1px solid #888;\"></p></div>\n");

  const std::map<std::string, std::string> values = PrinterValues(*data.app, name);
  const auto value = [&](const char* key) {
    auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
  };
  Html(client, "<div class=\"col-6\"><h2 class=\"title\">Overlays and Authentication</h2>\n");
  papplClientHTMLStartForm(client, self.c_str(), false);
  Html(client,
       "<input type=\"hidden\" name=\"action\" value=\"printer\">"
       "<input type=\"hidden\" name=\"section\" value=\"" +
           std::to_string(section) +
           "\">\n"
           "<table class=\"form\">\n"
           "<tr><th>Overlay folder:</th><td><input type=\"text\" name=\"overlay-folder\" value=\"" +
           Escape(value("OvelayDirectory")) +
           "\"></td></tr>\n"
           "<tr><th>Overlays:</th><td><input type=\"text\" name=\"overlay-files\" value=\"" +
           Escape(value("OvelayFiles")) +
           "\"><br>NAME;FILE pairs separated by semicolons</td></tr>\n"
           "<tr><th>User authentication:</th><td><input type=\"checkbox\" name=\"authentication\"" +
           (value("UserAuthentication") == "1" ? " checked" : "") +
           "> box names and PINs only for authenticated users</td></tr>\n"
           "<tr><th></th><td><input type=\"submit\" value=\"Save\"></td></tr></table></form>\n"
           "<p>Default job options (paper, sides, number-up, watermarks, job storage, ...) are on the "
           "<a href=\"" +
           defaults + "\">Printing Defaults</a> page.</p></div></div>\n");
  papplClientHTMLPrinterFooter(client);
  return true;
}

// An uploaded image as a data URI a browser shows (PNG, JPEG, GIF or BMP of at most
// 4 MiB), or nothing.
std::optional<std::string> ImageDataUri(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (bytes.empty() || bytes.size() > (4u << 20)) return std::nullopt;
  const char* type = bytes.starts_with("\x89PNG")    ? "image/png"
                     : bytes.starts_with("\xFF\xD8") ? "image/jpeg"
                     : bytes.starts_with("GIF8")     ? "image/gif"
                     : bytes.starts_with("BM")       ? "image/bmp"
                                                     : nullptr;
  if (type == nullptr) return std::nullopt;
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string uri = std::string("data:") + type + ";base64,";
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t left = bytes.size() - i;
    const auto byte = [&](std::size_t k) { return k < left ? static_cast<unsigned char>(bytes[i + k]) : 0u; };
    const unsigned group = (byte(0) << 16) | (byte(1) << 8) | byte(2);
    uri += kDigits[(group >> 18) & 63];
    uri += kDigits[(group >> 12) & 63];
    uri += left > 1 ? kDigits[(group >> 6) & 63] : '=';
    uri += left > 2 ? kDigits[group & 63] : '=';
  }
  return uri;
}

// A picture of a watermark section on an A4 sheet, in millimetres.
std::string PreviewSvg(const std::optional<Json>& mark) {
  std::ostringstream svg;
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"210\" height=\"297\" viewBox=\"0 0 210 297\">"
      << "<rect width=\"210\" height=\"297\" fill=\"white\"/>";
  const auto text = [&](const char* key) {
    return mark && mark->contains(key) && (*mark)[key].is_string() ? (*mark)[key].get<std::string>() : std::string();
  };
  const auto number = [&](const char* key, int fallback) {
    return mark && mark->contains(key) && (*mark)[key].is_number() ? (*mark)[key].get<int>() : fallback;
  };
  if (!mark) {
    svg << "<text x=\"105\" y=\"148\" font-size=\"8\" text-anchor=\"middle\" fill=\"#888\">No watermark</text></svg>";
    return svg.str();
  }
  if (text("kind") == "image") {
    const std::optional<std::string> picture = ImageDataUri(text("image"));
    if (!picture) {
      svg << "<text x=\"105\" y=\"148\" font-size=\"6\" text-anchor=\"middle\" fill=\"#444\">Image: "
          << Escape(fs::path(text("image")).filename().string()) << "</text></svg>";
      return svg.str();
    }
    // Fit fills the sheet inside its margins; centre and tile show the image once, at a
    // third of the sheet's width times its scale.
    const bool fit = text("placement") == "fit";
    const double width = fit ? 190 : 70.0 * number("scale", 100) / 100.0;
    const double height = fit ? 277 : width;
    svg << "<image href=\"" << *picture << "\" x=\"" << (210 - width) / 2 << "\" y=\"" << (297 - height) / 2
        << "\" width=\"" << width << "\" height=\"" << height << "\" preserveAspectRatio=\"xMidYMid meet\"/></svg>";
    return svg.str();
  }
  const int darkness = number("darkness", 25);
  const int grey = 255 - darkness * 255 / 100;
  const double size = number("size", 72) * 25.4 / 72.0;  // points to millimetres
  const std::string placement = text("placement");
  std::string family = text("face");
  svg << "<g font-family=\"" << Escape(family) << ", serif\" fill=\"rgb(" << grey << "," << grey << "," << grey
      << ")\" text-anchor=\"middle\" dominant-baseline=\"middle\">";
  const auto label = [&](double x, double y, const char* extra) {
    svg << "<text x=\"" << x << "\" y=\"" << y << "\" font-size=\"" << size << "\" transform=\"rotate(-"
        << number("angle", 0) << " " << x << " " << y << ")\"" << extra << ">" << Escape(text("text")) << "</text>";
  };
  if (placement == "tile") {
    for (double y = 40; y < 297; y += 70) {
      for (double x = 52; x < 210; x += 105) label(x, y, "");
    }
  } else if (placement == "fit") {
    label(105, 148.5, " textLength=\"190\" lengthAdjust=\"spacingAndGlyphs\"");
  } else {
    label(105, 148.5, "");
  }
  svg << "</g></svg>";
  return svg.str();
}

bool PreviewPicture(pappl_client_t* client, void* context) {
  const auto& data = *static_cast<PageData*>(context);
  pappl_printer_t* printer = FindPrinter(data);
  if (printer == nullptr) return false;
  if (papplClientIsAuthorized(client) != HTTP_STATUS_CONTINUE) {
    papplClientRespond(client, HTTP_STATUS_UNAUTHORIZED, nullptr, nullptr, 0, 0);
    return true;
  }
  const int section = SectionOf(0, nullptr, papplClientGetOptions(client));
  const std::string svg = PreviewSvg(WatermarkSection(*data.app, papplPrinterGetName(printer), section));
  if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, "image/svg+xml", 0, svg.size())) return true;
  httpWrite2(papplClientGetHTTP(client), svg.data(), svg.size());
  httpFlushWrite(papplClientGetHTTP(client));
  return true;
}

}  // namespace

void AddSettingsPage(pappl_printer_t* printer, void* app) {
  SetUnknownSupplies(printer);
  App& owner = *static_cast<App*>(app);
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

// The watermark part of the settings page: one table of the 16 sections a job can name,
// each with its picture, kind, text or image and placement, edited and cleared in place.
// Changes are written by the velmora program, which checks every value as the command
// line does.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "tools/printer_app/web_page.h"

namespace velmora::printer_app {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr int kSections = kWatermarkSections;
constexpr const char* kPlacements[] = {"centre", "tile", "fit"};

// Where an uploaded image of a section is kept: named by the printer's id, which is its
// own, where two printer names may differ only in characters a file name should not hold.
// A section saved before keeps naming the file it was saved with.
fs::path KeptImage(const App& app, pappl_printer_t* printer, int section) {
  return fs::path(app.stateFolder) / "watermark-images" /
         (std::to_string(papplPrinterGetID(printer)) + "-" + std::to_string(section));
}

// An uploaded image waiting in the folder of the kept images until its section is saved:
// the kept file is replaced only by an image the velmora program took, and the waiting
// copy is removed when it goes out of scope.
class WaitingImage {
 public:
  WaitingImage() = default;
  WaitingImage(const WaitingImage&) = delete;
  WaitingImage& operator=(const WaitingImage&) = delete;
  ~WaitingImage() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove(path_, ignored);
  }

  // Copies the upload next to `kept`, where it can take the kept file's place in one rename.
  bool Take(const fs::path& kept, const Upload& upload, std::string& message) {
    std::error_code error;
    fs::create_directories(kept.parent_path(), error);
    std::string name = kept.string() + ".upload-XXXXXX";
    const int descriptor = mkstemp(name.data());
    if (descriptor < 0) {
      message = "Unable to create '" + name + "': " + std::strerror(errno);
      return false;
    }
    close(descriptor);
    path_ = name;
    kept_ = kept;
    fs::copy_file(upload.path(), path_, fs::copy_options::overwrite_existing, error);
    if (error) message = "Unable to keep the uploaded image in '" + path_.string() + "': " + error.message();
    return !error;
  }

  // Puts the saved upload in the kept file's place; the waiting copy stays until the
  // section names the kept file, so the file the section names always exists.
  bool Replace(std::string& message) const {
    const fs::path next = path_.string() + ".next";
    std::error_code error;
    fs::remove(next, error);
    fs::create_hard_link(path_, next, error);
    if (!error) fs::rename(next, kept_, error);
    if (error) message = "Unable to replace '" + kept_.string() + "': " + error.message();
    return !error;
  }

  // Leaves the waiting copy in place: the section still names it.
  void Release() { path_.clear(); }

  const fs::path& path() const { return path_; }
  const fs::path& kept() const { return kept_; }

 private:
  fs::path path_;
  fs::path kept_;
};

std::optional<Json> Section(const App& app, const std::string& printer, int section) {
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

// Every readable section of the printer, by number.
std::map<int, Json> Sections(const App& app, const std::string& printer) {
  std::map<int, Json> sections;
  std::string output;
  if (RunVelmora(app, {"watermark", "list", "--printer", printer, "--json"}, output) != 0) return sections;
  try {
    for (const Json& entry : Json::parse(output)) {
      const int number = entry.value("number", 0);
      if (number >= 1 && number <= kSections) sections[number] = entry;
    }
  } catch (const Json::exception&) {
  }
  return sections;
}

std::string Text(const Json& fields, const char* key, const std::string& fallback = {}) {
  return fields.contains(key) && fields[key].is_string() ? fields[key].get<std::string>() : fallback;
}

int Number(const Json& fields, const char* key, int fallback) {
  return fields.contains(key) && fields[key].is_number() ? fields[key].get<int>() : fallback;
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

// One section's form: kind, text, image, angle, darkness and placement.
std::string EditForm(const Json& fields, int section) {
  const std::string n = std::to_string(section);
  const bool image = Text(fields, "kind", "text") == "image";
  const std::string placement = Text(fields, "placement", "centre");
  std::string html =
      "<input type=\"hidden\" name=\"action\" value=\"watermark\"><input type=\"hidden\" name=\"section\" value=\"" +
      n +
      "\">\n<fieldset><legend>Kind</legend><label><input type=\"radio\" name=\"kind\" value=\"text\" id=\"kind-text-" +
      n + "\"" + (image ? "" : " checked") +
      "> Text</label> <label><input type=\"radio\" name=\"kind\" value=\"image\" id=\"kind-image-" + n + "\"" +
      (image ? " checked" : "") + "> Image</label></fieldset>\n<label for=\"text-" + n +
      "\">Text</label><input type=\"text\" name=\"text\" id=\"text-" + n + "\" maxlength=\"63\" value=\"" +
      Escape(Text(fields, "text")) + "\">\n<label for=\"image-" + n +
      "\">Image (PNG, JPEG, BMP, GIF or TIFF)</label><input type=\"file\" name=\"image\" id=\"image-" + n +
      "\" accept=\"image/png,image/jpeg,image/bmp,image/gif,image/tiff\">\n<label for=\"angle-" + n +
      "\">Angle in degrees</label><input type=\"number\" name=\"angle\" id=\"angle-" + n +
      "\" min=\"0\" max=\"359\" value=\"" + std::to_string(Number(fields, "angle", 45)) +
      "\">\n<label for=\"darkness-" + n +
      "\">Darkness in %</label><input type=\"number\" name=\"darkness\" id=\"darkness-" + n +
      "\" min=\"0\" max=\"100\" value=\"" + std::to_string(Number(fields, "darkness", 25)) +
      "\">\n<label for=\"placement-" + n + "\">Placement</label><select name=\"placement\" id=\"placement-" + n + "\">";
  for (const char* choice : kPlacements) {
    html += std::string("<option value=\"") + choice + "\"" + (placement == choice ? " selected" : "") + ">" + choice +
            "</option>";
  }
  return html + "</select>\n<button type=\"submit\" id=\"save-" + n + "\">Save section " + n + "</button>\n";
}

}  // namespace

std::optional<std::string> ApplyWatermarkForm(const App& app, pappl_printer_t* printer, const std::string& action,
                                              int count, cups_option_t* form) {
  if (action != "watermark" && action != "watermark-clear") return std::nullopt;
  const std::string name = papplPrinterGetName(printer);
  const int section = SectionNumber(FormField(count, form, "section"));
  if (section == 0) return "No such watermark section.";
  const std::string number = std::to_string(section);
  std::string output;
  if (action == "watermark-clear") {
    if (!Section(app, name, section)) return "Watermark section " + number + " is empty.";
    if (RunVelmora(app, {"watermark", "remove", "--printer", name, number}, output) != 0) {
      return "Not cleared: " + output;
    }
    std::error_code ignored;
    fs::remove(KeptImage(app, printer, section), ignored);
    return "Watermark section " + number + " cleared.";
  }
  std::vector<std::string> args{"watermark", "set", "--printer", name, number};
  const Upload upload(cupsGetOption("image", count, form));
  WaitingImage waiting;
  if (FormField(count, form, "kind") == "image") {
    std::string message;
    if (upload.HasContent()) {
      if (!waiting.Take(KeptImage(app, printer, section), upload, message)) return message;
      args.push_back("image=" + waiting.path().string());
    } else {
      // Without a new file the section keeps its image; a text section has none to keep.
      const std::optional<Json> current = Section(app, name, section);
      if (!current || Text(*current, "kind") != "image") return "Choose an image file to upload.";
    }
  } else {
    args.push_back("text=" + FormField(count, form, "text"));
    args.push_back("image=");
    args.push_back("angle=" + FormField(count, form, "angle"));
    args.push_back("darkness=" + FormField(count, form, "darkness"));
  }
  args.push_back("placement=" + FormField(count, form, "placement"));
  if (RunVelmora(app, args, output) != 0) return "Not saved: " + output;
  if (waiting.path().empty()) return "Watermark section " + number + " saved.";
  // The section took the upload under its waiting name; it now names the kept file.
  std::string message;
  const std::string waitingName = waiting.path().string();
  if (!waiting.Replace(message) ||
      RunVelmora(app, {"watermark", "set", "--printer", name, number, "image=" + waiting.kept().string()}, output) !=
          0) {
    waiting.Release();
    return "Watermark section " + number + " saved with its image in '" + waitingName +
           "': " + (message.empty() ? output : message);
  }
  return "Watermark section " + number + " saved.";
}

void ShowWatermarks(pappl_client_t* client, const App& app, const std::string& printer, const std::string& self,
                    int open) {
  const std::map<int, Json> sections = Sections(app, printer);
  Html(client,
       "<section aria-labelledby=\"watermarks-title\"><h2 class=\"title\" id=\"watermarks-title\">Watermarks</h2>\n"
       "<p>A job prints section N on its first page with watermark-first=N, on the following pages with "
       "watermark-next=N.</p>\n"
       "<table class=\"velmora-table\" id=\"watermarks\"><thead><tr><th scope=\"col\">Section</th>"
       "<th scope=\"col\">Picture</th><th scope=\"col\">Kind</th><th scope=\"col\">Text or image</th>"
       "<th scope=\"col\">Placement</th><th scope=\"col\">Change</th></tr></thead><tbody>\n");
  for (int section = 1; section <= kSections; ++section) {
    const std::string n = std::to_string(section);
    const auto found = sections.find(section);
    const Json fields = found != sections.end() ? found->second : Json::object();
    const bool set = found != sections.end();
    const bool image = Text(fields, "kind") == "image";
    // An empty section shows only its number and its form at a phone's width.
    const std::string empty = set ? "" : " class=\"velmora-empty\"";
    std::string row = "<tr id=\"section-" + n + "\"><th scope=\"row\" data-label=\"Section\">" + n +
                      "</th><td data-label=\"Picture\"" + empty + ">";
    if (set) {
      row += "<img class=\"preview\" id=\"preview-" + n + "\" src=\"" + self + "/preview.svg?section=" + n +
             "\" width=\"70\" height=\"99\" alt=\"Picture of watermark section " + n + "\">";
    } else {
      row += "none";
    }
    row += "</td><td data-label=\"Kind\"" + empty + ">" + std::string(set ? (image ? "image" : "text") : "-") +
           "</td><td data-label=\"Text or image\"" + empty + ">" +
           Escape(image ? fs::path(Text(fields, "image")).filename().string() : Text(fields, "text")) +
           "</td><td data-label=\"Placement\"" + empty + ">" +
           (set ? Escape(Text(fields, "placement")) +
                      (image ? ""
                             : ", " + std::to_string(Number(fields, "angle", 0)) + "&deg;, " +
                                   std::to_string(Number(fields, "darkness", 0)) + " %")
                : std::string("-")) +
           "</td><td><details id=\"edit-" + n + "\"" + (section == open ? " open" : "") + "><summary>Edit section " +
           n + "</summary>\n";
    Html(client, row);
    papplClientHTMLStartForm(client, self.c_str(), true);
    Html(client, "<div class=\"velmora-form\">" + EditForm(fields, section) + "</div></form></details>\n");
    if (set) {
      papplClientHTMLStartForm(client, self.c_str(), false);
      Html(client,
           "<input type=\"hidden\" name=\"action\" value=\"watermark-clear\"><input type=\"hidden\" "
           "name=\"section\" value=\"" +
               n + "\"><button type=\"submit\" id=\"clear-" + n + "\">Clear section " + n + "</button></form>");
    }
    Html(client, "</td></tr>\n");
  }
  Html(client, "</tbody></table></section>\n");
}

void SendWatermarkPreview(pappl_client_t* client, const App& app, const std::string& printer) {
  const char* query = papplClientGetOptions(client);
  const int section = QuerySection(query != nullptr ? query : "");
  const std::string svg = PreviewSvg(section == 0 ? std::nullopt : Section(app, printer, section));
  if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, "image/svg+xml", 0, svg.size())) return;
  httpWrite2(papplClientGetHTTP(client), svg.data(), svg.size());
  httpFlushWrite(papplClientGetHTTP(client));
}

}  // namespace velmora::printer_app

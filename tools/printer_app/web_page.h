// The parts of a printer's "Velmora Settings" page: what they share, the watermark table
// (watermark_page.cc) and the overlays (overlay_page.cc), each with the forms it answers.
// The page itself and its resources are in settings_page.cc.
#pragma once

#include <pappl/pappl.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/printer_app/form_values.h"
#include "tools/printer_app/printer_app.h"

namespace velmora::printer_app {

// The most bytes a form of the settings page may send: PAPPL 1.3 reads no more of a form
// and would cut an upload short without a word.
inline constexpr std::size_t kMaxFormBytes = std::size_t{2} << 20;

void Html(pappl_client_t* client, const std::string& text);
// A form field's value, or an empty string.
std::string FormField(int count, cups_option_t* form, const char* name);

// Runs `velmora ARGS...`; answers its exit status and what it wrote (both streams).
int RunVelmora(const App& app, const std::vector<std::string>& args, std::string& output);

// A picture file (PNG, JPEG, GIF or BMP of at most 4 MiB) as a data URI a browser shows.
std::optional<std::string> ImageDataUri(const std::string& path);

// The file PAPPL wrote a form's uploaded file into, removed when it goes out of scope.
// PAPPL gives a form field the name of a file it made in the temporary folder; a field
// that names any other file (a form can send any text) is not an upload and is left alone.
class Upload {
 public:
  explicit Upload(const char* value);
  ~Upload();
  Upload(const Upload&) = delete;
  Upload& operator=(const Upload&) = delete;

  // True when a file with content was uploaded (a form without a chosen file sends an
  // empty one).
  bool HasContent() const;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Applies the watermark forms (actions "watermark" and "watermark-clear"); nothing for
// another action, else the message shown above the page.
std::optional<std::string> ApplyWatermarkForm(const App& app, pappl_printer_t* printer, const std::string& action,
                                              int count, cups_option_t* form);
// The table of the 16 watermark sections, each with its picture, kind, text or image and
// placement, and its form; section `open` (1 to 16, or 0) shows its form open.
void ShowWatermarks(pappl_client_t* client, const App& app, const std::string& printer, const std::string& self,
                    int open);
// Answers a request for a section's picture (preview.svg?section=N).
void SendWatermarkPreview(pappl_client_t* client, const App& app, const std::string& printer);

// Applies the overlay forms (actions "overlay-add", "overlay-delete", "overlay-defaults");
// nothing for another action, else the message shown above the page.
std::optional<std::string> ApplyOverlayForm(pappl_client_t* client, const App& app, pappl_printer_t* printer,
                                            const std::string& action, int count, cups_option_t* form);
// The printer's overlays with their pictures, the form that captures a new one, and the
// printer's overlay defaults.
void ShowOverlays(pappl_client_t* client, const App& app, pappl_printer_t* printer, const std::string& self);

}  // namespace velmora::printer_app

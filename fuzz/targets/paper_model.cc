// Fuzz target: the paper-model text, and the figures of a page set-up on every model it
// accepts. An accepted model must read back the same from its own text.
#include "formats/text.h"
#include "fuzz/fuzz_target.h"
#include "platform/paper_model_text.h"
#include "platform/text_encoding.h"

namespace velmora::fuzz {
namespace {

void Entry(const std::uint8_t* data, std::size_t size) {
  std::string error;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<platform::PaperModel> model = platform::ParsePaperModel(text, &error);
  if (!model) return;
  const std::string written = platform::FormatPaperModel(*model);
  const std::optional<platform::PaperModel> again = platform::ParsePaperModel(written, &error);
  if (!again || platform::FormatPaperModel(*again) != written) __builtin_trap();
  // The value form, and the figures of a page set-up on the model.
  const auto fromValue = platform::PaperModelFromValue(platform::PaperModelValue(*model), &error);
  if (!fromValue) __builtin_trap();
  for (const auto& paper : model->papers) {
    for (std::int16_t orientation : {1, 2}) {
      platform::PageSetup setup;
      setup.formName = platform::Utf8ToUtf16(paper.formName);
      setup.paperSize = paper.paperCode;
      setup.orientation = orientation;
      setup.yResolution = static_cast<std::int16_t>(model->resolutions.empty() ? 0 : model->resolutions.back());
      (void)platform::FiguresFor(*model, setup);
    }
  }
}

std::vector<Seed> Seeds() {
  return {
      {"office", Bytes("# Office printer, tray 1\npaper \"A4\" 9 210 297\npaper \"B5 (JIS)\" 13 182 257\r\n"
                       "paper Letter 1 215.9 279.4\nresolutions 600 1200\nmargin 4.2\n")},
      {"quoted", Bytes("\xEF\xBB\xBFpaper \"Say \\\"hi\\\" \\\\ there\" 0 100 100\n\tresolutions 300\n")},
      {"generic", Bytes(platform::FormatPaperModel(platform::GenericPaperModel()))},
  };
}

VELMORA_FUZZ_TARGET(paper_model, Entry, Seeds);

}  // namespace
}  // namespace velmora::fuzz

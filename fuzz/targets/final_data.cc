// Fuzz target: the capture path of the final data: arbitrary job data cut into buffers at
// arbitrary points, in capture mode and in an ordinary overlay mode. The bytes the host
// gets back differ from what it sent only in renamed font names, and a capture's overlay
// holds its header and then the captured data.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "formats/overlay_file.h"
#include "fuzz/fuzz_target.h"
#include "platform/text_encoding.h"
#include "src/overlay/overlay_parameters.h"
#include "tests/fakes/job_world.h"

namespace velmora::fuzz {
namespace {

void Entry(const std::uint8_t* data, std::size_t size) {
  InputCursor input(data, size);
  const bool capture = (input.Byte() & 1) == 0;
  // Up to eight buffer lengths, then the job data.
  std::vector<std::size_t> cuts;
  for (int i = 0; i < 8; ++i) cuts.push_back(1 + input.Byte() % 64);
  std::vector<std::uint8_t> job(input.rest(), input.rest() + input.restSize());

  testing::JobWorld world;
  const std::string folder = ScratchFolder();
  std::filesystem::remove(folder + "/capture.ovl");
  auto& values = world.spooler.AddPrinter(testing::kTestPrinter).data;
  const auto text = [](const WString& value) {
    platform::PrinterValue v{platform::ValueType::kString, std::vector<std::uint8_t>(2 * (value.size() + 1), 0)};
    text::WriteWideField(v.bytes.data(), value.size() + 1, value);
    return v;
  };
  values[VTEXT("OvelayDirectory")] = text(platform::Utf8ToUtf16(folder));
  values[VTEXT("OvelayFiles")] = text(VTEXT("Form;capture.ovl"));
  world.settings().set_dwOverlayMode(capture ? CREATE_OVERLAY : ONE_OVERLAY);

  CUnidrvInterface vendor;
  vendor.InitializeOverlayParameters(&world.device, world.body(), &world.area);
  std::vector<std::uint8_t> sent = job;
  std::size_t at = 0;
  for (std::size_t i = 0; at < sent.size(); ++i) {
    const std::size_t n = std::min(cuts[i % cuts.size()], sent.size() - at);
    vendor.ModifyFinalPrintData(&world.device, world.body(), &world.area, sent.data() + at, static_cast<DWORD>(n));
    at += n;
  }
  // Only font names change, and only their first byte ('M' to 'C').
  for (std::size_t i = 0; i < job.size(); ++i) {
    if (sent[i] != job[i] && !(job[i] == 'M' && sent[i] == 'C')) __builtin_trap();
  }
  if (!capture) return;
  std::ifstream file(folder + "/capture.ovl", std::ios::binary);
  const std::vector<std::uint8_t> overlay{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (overlay.empty()) return;
  const std::int32_t offset = GetOverlayDataOffset(overlay.data(), overlay.size());
  if (offset < 0 || overlay.size() - static_cast<std::size_t>(offset) > job.size()) __builtin_trap();
}

std::vector<Seed> Seeds() {
  const std::string job =
      "\x1b%-12345X@PJL ENTER LANGUAGE=PCLXL\r\n) HP-PCL XL;2;1\n%%OVL_PCLXL_BEGIN\x61\x74"
      "draw MS PCLXLFont 1 %%OVL ms PCLXLFont % \x60%%OVL_PCLXL_FONT_END\x49\x42\x1b%-12345X@PJL EOJ\r\n";
  std::vector<Seed> seeds;
  for (std::uint8_t cut : {1, 7, 17, 63}) {
    std::vector<std::uint8_t> bytes{0, cut, cut, cut, cut, cut, cut, cut, cut};
    bytes.insert(bytes.end(), job.begin(), job.end());
    seeds.push_back({"capture-" + std::to_string(cut), bytes});
  }
  std::vector<std::uint8_t> playing{1, 5, 9, 13, 17, 21, 25, 29, 33};
  playing.insert(playing.end(), job.begin(), job.end());
  seeds.push_back({"one-overlay", playing});
  return seeds;
}

VELMORA_FUZZ_TARGET(final_data, Entry, Seeds);

}  // namespace
}  // namespace velmora::fuzz

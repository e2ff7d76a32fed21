// Fuzz target: an overlay file from outside: its header line, its data offset, and its
// playback into a job, which must send exactly the bytes after the data marker.
#include <cstring>

#include "formats/overlay_file.h"
#include "fuzz/fuzz_target.h"
#include "platform/text_encoding.h"
#include "src/commands/command_insertor.h"
#include "tests/fakes/job_world.h"

namespace velmora::fuzz {
namespace {

void Entry(const std::uint8_t* data, std::size_t size) {
  if (auto header = ParseOverlayHeader(data, size)) {
    if (header->dataOffset > size) __builtin_trap();
  }
  const std::int32_t offset = GetOverlayDataOffset(data, size);
  if (offset > static_cast<std::int64_t>(size)) __builtin_trap();

  testing::JobWorld world;
  const std::string path = WriteScratchFile("form.ovl", data, size);
  CCommandInsertor insertor(world.body(), &world.devmode, &world.device, &world.services, world.jobId, world.printer);
  insertor.InsertOverlayFileData(platform::Utf8ToUtf16(path));
  // What was played is the file after its marker, when the marker is in the first chunk.
  const std::vector<std::uint8_t>& played = world.services.written;
  if (played.size() > size ||
      (!played.empty() && std::memcmp(played.data(), data + size - played.size(), played.size()) != 0)) {
    __builtin_trap();
  }
}

std::vector<Seed> Seeds() {
  std::vector<std::uint8_t> captured = Bytes(*FormatOverlayHeader(false, VTEXT("Letter"), 1, 600, VTEXT("Invoice")));
  for (int i = 0; i < 300; ++i) captured.push_back(static_cast<std::uint8_t>(i * 31));
  return {
      {"captured", captured},
      {"raster", Bytes(*FormatOverlayHeader(true, VTEXT("A4"), 2, 1200, VTEXT("a;b")))},
      {"no-marker", Bytes("(PCLXL;A4;1;600;0;x;)\r\n")},
  };
}

VELMORA_FUZZ_TARGET(overlay_file, Entry, Seeds);

}  // namespace
}  // namespace velmora::fuzz

// Overlay playback measured against a plain copy of the same overlay file.
//
// Every page of a job with an overlay carries the whole overlay file's data, so playback
// must cost about what copying the file costs. The plug-in plays a stored overlay of
// 32 MiB of job-like data into a driver-services double that only counts the bytes; the
// baseline copies the same file with read() and write() into /dev/null in chunks of the
// plug-in's own size, and reads it alone. All read the file from the page cache, in the
// same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/job_like_data.h"
#include "bench/ratio_reporter.h"
#include "formats/overlay_file.h"
#include "formats/vendor_devmode.h"
#include "platform/text_encoding.h"
#include "src/commands/command_insertor.h"

namespace velmora::bench {
namespace {

constexpr std::size_t kDataSize = std::size_t{32} << 20;
constexpr std::uint64_t kSeed = 0x4F564C20504C4159ull;
// The plug-in reads an overlay in chunks of this size; the baseline copies in the same.
constexpr std::size_t kCopyChunk = 4096;

// Driver services that take every byte and only count them.
class CountingServices final : public IPrintOemDriverUni {
 public:
  std::uint64_t bytes = 0;

  HRESULT QueryInterface(const GUID&, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  HRESULT DrvGetDriverSetting(void*, const char*, void*, DWORD, DWORD*, DWORD*) override { return E_FAIL; }
  HRESULT DrvWriteSpoolBuf(DEVOBJ*, void*, DWORD size, DWORD* written) override {
    bytes += size;
    *written = size;
    return S_OK;
  }
  HRESULT DrvXMoveTo(DEVOBJ*, int, DWORD, int*) override { return E_NOTIMPL; }
  HRESULT DrvYMoveTo(DEVOBJ*, int, DWORD, int*) override { return E_NOTIMPL; }
  HRESULT DrvGetStandardVariable(DEVOBJ*, DWORD, void*, DWORD, DWORD*) override { return E_NOTIMPL; }
  HRESULT DrvGetGPDData(DEVOBJ*, DWORD, void*, void*, DWORD, DWORD*) override { return E_NOTIMPL; }
  HRESULT DrvUniTextOut(void*, void*, void*, void*, void*, void*, void*, void*, void*, DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT DrvWriteAbortBuf(DEVOBJ*, void*, DWORD, DWORD) override { return E_NOTIMPL; }
};

struct OverlayFile {
  std::filesystem::path path;
  std::size_t fileSize = 0;
  std::size_t dataSize = 0;
  // Why the file cannot be measured, or empty.
  std::string problem;
};

OverlayFile& Overlay() {
  static OverlayFile overlay;
  return overlay;
}

// The plug-in's side of one playback: a command generator over a default settings record.
struct Player {
  std::array<std::uint8_t, kVendorRecordSize> record{};
  DEVMODEW devmode{};
  DEVOBJ device{};
  CountingServices services;
  std::unique_ptr<CCommandInsertor> insertor;

  Player() {
    StampVendorHeader(record.data());
    FillVendorDefaults(record.data() + kVendorHeaderSize);
    devmode.dmSize = sizeof(DEVMODEW);
    device.dwSize = sizeof device;
    device.pPublicDM = &devmode;
    device.pOEMDM = record.data();
    insertor =
        std::make_unique<CCommandInsertor>(record.data() + kVendorHeaderSize, &devmode, &device, &services, 1, nullptr);
  }

  std::uint64_t Play(const WString& file) {
    services.bytes = 0;
    insertor->InsertOverlayFileData(file);
    return services.bytes;
  }
};

// Copies the file into `sink` with read() and write(), or only reads it when `sink` is
// negative; the bytes read, or 0.
std::uint64_t CopyWithReadWrite(const char* path, int sink) {
  const int fd = ::open(path, O_RDONLY);
  if (fd < 0) return 0;
  std::array<char, kCopyChunk> chunk;
  std::uint64_t copied = 0;
  while (true) {
    const ssize_t got = ::read(fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (sink < 0) {
      copied += static_cast<std::uint64_t>(got);
      continue;
    }
    ssize_t done = 0;
    while (done < got) {
      const ssize_t put = ::write(sink, chunk.data() + done, static_cast<std::size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) break;
      done += put;
    }
    copied += static_cast<std::uint64_t>(done);
  }
  ::close(fd);
  return copied;
}

// Writes the overlay file (a header, then job-like data) into the temporary folder and
// checks that playback gives back exactly its data, so that both sides do the same work.
void PrepareOverlay() {
  OverlayFile& overlay = Overlay();
  const char* tmp = std::getenv("TMPDIR");
  overlay.path = std::filesystem::path(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") /
                 ("velmora-overlay-bench-" + std::to_string(::getpid()) + ".ovl");
  const auto header = FormatOverlayHeader(false, VTEXT("Letter"), 1, 600, VTEXT("Bench"));
  const std::vector<std::uint8_t> data = MakeJobLikeData(kDataSize, kSeed);
  std::FILE* file = std::fopen(overlay.path.c_str(), "wb");
  if (file == nullptr || !header) {
    overlay.problem = "unable to create '" + overlay.path.string() + "': " + std::strerror(errno);
    if (file != nullptr) std::fclose(file);
    return;
  }
  const bool written = std::fwrite(header->data(), 1, header->size(), file) == header->size() &&
                       std::fwrite(data.data(), 1, data.size(), file) == data.size();
  if (std::fclose(file) != 0 || !written) {
    overlay.problem = "unable to write '" + overlay.path.string() + "'";
    return;
  }
  overlay.fileSize = header->size() + data.size();
  overlay.dataSize = data.size();

  Player player;
  const std::uint64_t played = player.Play(platform::Utf8ToUtf16(overlay.path.string()));
  if (played != overlay.dataSize) {
    overlay.problem = "playback gave " + std::to_string(played) + " bytes, not the " +
                      std::to_string(overlay.dataSize) + " of the overlay's data";
    return;
  }
  std::printf("Overlay file: %zu MiB of job-like data behind a %zu-byte header.\n", kDataSize >> 20, header->size());
  std::fflush(stdout);
}

bool FileUsable(benchmark::State& state) {
  if (Overlay().problem.empty()) return true;
  state.SkipWithError(Overlay().problem.c_str());
  return false;
}

void BaselineReadWrite(benchmark::State& state, bool write) {
  if (!FileUsable(state)) return;
  const int sink = write ? ::open("/dev/null", O_WRONLY) : -1;
  if (write && sink < 0) {
    state.SkipWithError("unable to open /dev/null");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(CopyWithReadWrite(Overlay().path.c_str(), sink));
  if (sink >= 0) ::close(sink);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(Overlay().fileSize));
}

void InsertOverlayFileData(benchmark::State& state) {
  if (!FileUsable(state)) return;
  Player player;
  const WString path = platform::Utf8ToUtf16(Overlay().path.string());
  for (auto _ : state) benchmark::DoNotOptimize(player.Play(path));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(Overlay().fileSize));
}

}  // namespace
}  // namespace velmora::bench

int main(int argc, char** argv) {
  using namespace velmora;
  const std::vector<bench::Comparison> comparisons = {
      {"InsertOverlayFileData(32 MiB overlay)",
       "InsertOverlayFileData/32MiB",
       {{"read/write", "ReadWrite/4KiB_chunks"}, {"read", "Read/4KiB_chunks"}}},
  };
  const int status = bench::RunComparedBenchmarks(
      argc, argv,
      [] {
        bench::PrepareOverlay();
        // The baselines register first, so the ratios can be shown next to the
        // measurement. The copy into /dev/null is the comparison asked of playback;
        // reading alone shows what the copy's write() calls cost.
        benchmark::RegisterBenchmark("ReadWrite/4KiB_chunks", bench::BaselineReadWrite, true);
        benchmark::RegisterBenchmark("Read/4KiB_chunks", bench::BaselineReadWrite, false);
        benchmark::RegisterBenchmark("InsertOverlayFileData/32MiB", bench::InsertOverlayFileData);
      },
      comparisons);
  std::error_code ignored;
  std::filesystem::remove(bench::Overlay().path, ignored);
  if (status != 0) return status;
  if (!bench::Overlay().problem.empty()) {
    std::cerr << "overlay_playback_bench: " << bench::Overlay().problem << "\n";
    return 1;
  }
  return 0;
}

// The bitmap watermark's run-length encoder against libtiff's PackBits encoder on the
// same grey rows, and the whole stream definition's throughput.
//
// The rows are those of a 2000 x 2000 watermark-like picture: flat background, long
// runs of a few grey levels and noisy stretches. libtiff encodes the same rows as the
// strips of an in-memory TIFF file, which is the cheapest way to reach its encoder.
#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "platform/image.h"
#include "src/watermark/watermark_bitmap.h"

namespace velmora::bench {
namespace {

constexpr std::uint32_t kSide = 2000;
constexpr std::uint32_t kRowsPerStrip = 64;

std::vector<std::uint8_t> MakeGreyRows() {
  std::vector<std::uint8_t> rows(std::size_t{kSide} * kSide, 253);
  std::uint32_t state = 0x2545F491u;
  for (std::uint32_t y = 0; y < kSide; ++y) {
    for (std::uint32_t x = 0; x < kSide; ++x) {
      std::uint8_t& pixel = rows[std::size_t{y} * kSide + x];
      if ((x / 100 + y / 100) % 3 == 0) pixel = static_cast<std::uint8_t>(64 + (x / 25) % 4 * 32);
      if ((x / 250 + y / 250) % 4 == 1) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        pixel = static_cast<std::uint8_t>(state);
      }
    }
  }
  return rows;
}

const std::vector<std::uint8_t>& GreyRows() {
  static const std::vector<std::uint8_t> rows = MakeGreyRows();
  return rows;
}

void BM_WatermarkRunLength(benchmark::State& state) {
  const std::vector<std::uint8_t>& rows = GreyRows();
  std::vector<std::uint8_t> out(watermark::RunLengthBound(kSide));
  std::size_t total = 0;
  for (auto _ : state) {
    total = 0;
    for (std::uint32_t y = 0; y < kSide; ++y) {
      total += watermark::RunLengthEncode(rows.data() + std::size_t{y} * kSide, kSide, out.data(), out.size());
    }
    benchmark::DoNotOptimize(total);
  }
  state.counters["compressed"] = static_cast<double>(total);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(rows.size()));
}
BENCHMARK(BM_WatermarkRunLength)->Unit(benchmark::kMillisecond);

// An in-memory file for libtiff.
struct MemoryFile {
  std::vector<std::uint8_t> bytes;
  toff_t position = 0;
};
tsize_t MemRead(thandle_t, tdata_t, tsize_t) { return 0; }
tsize_t MemWrite(thandle_t handle, tdata_t data, tsize_t size) {
  auto* file = static_cast<MemoryFile*>(handle);
  const std::size_t end = file->position + static_cast<std::size_t>(size);
  if (file->bytes.size() < end) file->bytes.resize(end);
  std::memcpy(file->bytes.data() + file->position, data, static_cast<std::size_t>(size));
  file->position = end;
  return size;
}
toff_t MemSeek(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (whence == SEEK_CUR) offset += file->position;
  if (whence == SEEK_END) offset += file->bytes.size();
  file->position = offset;
  return offset;
}
int MemClose(thandle_t) { return 0; }
toff_t MemSize(thandle_t handle) { return static_cast<MemoryFile*>(handle)->bytes.size(); }
int MemMap(thandle_t, tdata_t*, toff_t*) { return 0; }
void MemUnmap(thandle_t, tdata_t, toff_t) {}

void BM_LibtiffPackBits(benchmark::State& state) {
  const std::vector<std::uint8_t>& rows = GreyRows();
  MemoryFile file;
  file.bytes.reserve(rows.size() * 2);
  for (auto _ : state) {
    file.bytes.clear();
    file.position = 0;
    TIFF* tiff = TIFFClientOpen("bench", "w", &file, MemRead, MemWrite, MemSeek, MemClose, MemSize, MemMap, MemUnmap);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, kSide);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, kSide);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, kRowsPerStrip);
    for (std::uint32_t strip = 0; strip * kRowsPerStrip < kSide; ++strip) {
      const std::uint32_t count = std::min(kRowsPerStrip, kSide - strip * kRowsPerStrip);
      TIFFWriteEncodedStrip(tiff, strip,
                            const_cast<std::uint8_t*>(rows.data()) + std::size_t{strip} * kRowsPerStrip * kSide,
                            static_cast<tmsize_t>(std::size_t{count} * kSide));
    }
    TIFFClose(tiff);
    benchmark::DoNotOptimize(file.bytes.data());
  }
  state.counters["file"] = static_cast<double>(file.bytes.size());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(rows.size()));
}
BENCHMARK(BM_LibtiffPackBits)->Unit(benchmark::kMillisecond);

void BM_StreamDefinition24Bit(benchmark::State& state) {
  const std::vector<std::uint8_t>& grey = GreyRows();
  platform::Image image = *platform::Image::Blank(kSide, kSide, 24);
  for (std::uint32_t y = 0; y < kSide; ++y) {
    for (std::uint32_t x = 0; x < kSide; ++x) {
      const std::uint8_t value = grey[std::size_t{y} * kSide + x];
      std::uint8_t* pixel = &image.Row(y)[x * 3];
      pixel[0] = value;
      pixel[1] = static_cast<std::uint8_t>(value ^ 0x55);
      pixel[2] = static_cast<std::uint8_t>(255 - value);
    }
  }
  for (auto _ : state) {
    std::vector<std::uint8_t> body = watermark::BuildStreamBody(image, {}, {});
    benchmark::DoNotOptimize(body.data());
  }
  state.counters["Mpixel/s"] =
      benchmark::Counter(static_cast<double>(kSide) * kSide / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_StreamDefinition24Bit)->Unit(benchmark::kMillisecond);

// Passes the runs on to the console and keeps the fastest time of each benchmark.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  SummaryReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      const double seconds = run.GetAdjustedCPUTime();
      const std::string name = run.benchmark_name();
      auto [it, inserted] = fastest_.emplace(name, seconds);
      if (!inserted) it->second = std::min(it->second, seconds);
      if (run.counters.count("Mpixel/s")) {
        megapixels_ = std::max(megapixels_, static_cast<double>(run.counters.at("Mpixel/s")));
      }
    }
  }
  void PrintSummary(std::ostream& out) const {
    const auto ours = fastest_.find("BM_WatermarkRunLength");
    const auto theirs = fastest_.find("BM_LibtiffPackBits");
    if (ours != fastest_.end() && theirs != fastest_.end() && theirs->second > 0) {
      char line[160];
      std::snprintf(line, sizeof line, "Run-length rows vs libtiff PackBits: %.3gx the time\n",
                    ours->second / theirs->second);
      out << line;
    }
    if (megapixels_ > 0) {
      char line[160];
      std::snprintf(line, sizeof line, "Stream definition (24-bit %ux%u): %.3g megapixels per second\n", kSide, kSide,
                    megapixels_);
      out << line;
    }
  }

 private:
  std::map<std::string, double> fastest_;
  double megapixels_ = 0;
};

}  // namespace
}  // namespace velmora::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  velmora::bench::SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary(std::cout);
  benchmark::Shutdown();
  return 0;
}

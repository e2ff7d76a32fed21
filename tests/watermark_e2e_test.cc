// Text and bitmap watermarks through velmora and the loaded module: 1-up, 4-up and booklet
// jobs, first-page and next-pages watermarks, read back with the PCL XL reader.
#include <gtest/gtest.h>

#include "tests/fakes/job_folder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pxl/reader.h"
#include "tests/fakes/run_velmora.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// An 8 x 4 grey PNG.
const Bytes kPng = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52,
                    0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x04, 0x08, 0x00, 0x00, 0x00, 0x00, 0x96, 0xA6, 0x21,
                    0x2C, 0x00, 0x00, 0x00, 0x14, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0x60, 0x90, 0xB3, 0x89,
                    0xAA, 0x98, 0xB6, 0xE5, 0x12, 0x03, 0x6E, 0x06, 0x00, 0xD8, 0xB4, 0x0D, 0x21, 0x1E, 0xC4, 0x97,
                    0x95, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

// A 2 x 2 24-bit BMP: header, info header, two rows of two pixels padded to 8 bytes.
Bytes TinyBmp() {
  Bytes bmp = {'B', 'M', 70, 0, 0, 0, 0, 0,  0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1,
               0,   24,  0,  0, 0, 0, 0, 16, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const Bytes rows = {0, 0, 0, 255, 255, 255, 0, 0, 128, 128, 128, 64, 64, 64, 0, 0};
  bmp.insert(bmp.end(), rows.begin(), rows.end());
  return bmp;
}

class WatermarkJobs : public testing::JobFolderTest {
 protected:
  void SetUp() override {
    JobFolderTest::SetUp();
    Write("logo.png", kPng);
    Write("logo.bmp", TinyBmp());
    Run("printer add P1");
    Run("watermark set --printer P1 1 text=CONFIDENTIAL");
    Run("watermark set --printer P1 2 'text=DRAFT COPY' angle=0");
    Run("watermark set --printer P1 3 image=" + (dir / "logo.png").string());
    Run("watermark set --printer P1 4 image=" + (dir / "logo.bmp").string() + " placement=fit");
  }
  void Write(const std::string& name, const Bytes& bytes) {
    std::ofstream file(dir / name, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  void Run(const std::string& arguments) {
    auto run = testing::Velmora(arguments);
    ASSERT_EQ(run.status, 0) << arguments << ": " << run.out;
  }
  // Prints the sample and answers its operators.
  std::vector<pxl::Event> Print(const std::string& settings, int pages) {
    const fs::path out = dir / "job.pxl";
    Run("print --printer P1 --pages " + std::to_string(pages) + " " + settings + " -o " + out.string());
    std::ifstream file(out, std::ios::binary);
    const Bytes job(std::istreambuf_iterator<char>(file), {});
    const pxl::ParseResult parsed = pxl::Parse(job);
    EXPECT_FALSE(parsed.error.has_value()) << settings << ": " << parsed.error->ToString();
    std::vector<pxl::Event> ops;
    for (const auto& event : parsed.events) {
      if (event.kind == pxl::EventKind::kOperator) ops.push_back(event);
    }
    return ops;
  }
};

// Per sheet (BeginPage ... EndPage): how many text watermark groups (a clip replaced by a
// path and a grey fill under PushGS) and how many streams executed.
struct SheetMarks {
  int texts = 0;
  int streams = 0;
};

std::vector<SheetMarks> MarksPerSheet(const std::vector<pxl::Event>& ops) {
  std::vector<SheetMarks> sheets;
  for (const auto& op : ops) {
    if (op.Is(pxl::Op::BeginPage)) sheets.emplace_back();
    if (sheets.empty()) continue;
    if (op.Is(pxl::Op::SetClipReplace)) ++sheets.back().texts;
    if (op.Is(pxl::Op::ExecStream)) ++sheets.back().streams;
  }
  return sheets;
}

TEST_F(WatermarkJobs, TextWatermarksInEveryCell) {
  struct Case {
    std::string settings;
    int pages;
    std::vector<int> textsPerSheet;
  };
  const Case cases[] = {
      {"--set sFP_SectionIndex=1", 3, {1, 1, 1}},
      {"--set sFP_SectionIndex=1 --set vdmPagesPerSheet=4", 5, {4, 1}},
      {"--set sFP_SectionIndex=1 --set eWMUsage=1 --set vdmPagesPerSheet=4", 5, {1, 0}},
      {"--set sFP_SectionIndex=1 --set sNP_SectionIndex=2 --set eWMUsage=2", 3, {1, 1, 1}},
      {"--set sFP_SectionIndex=1 --set sNP_SectionIndex=2 --set eWMUsage=3 --set vdmPagesPerSheet=4", 5, {4, 1}},
      {"--set sFP_SectionIndex=1 --set eWMUsage=1 --set bBooklet=1", 5, {1, 0, 0, 0}},  // side 1 holds pages 8 and 1
      {"--set sFP_SectionIndex=1 --set bBooklet=1", 5, {1, 1, 1, 2}},
  };
  for (const auto& c : cases) {
    const auto sheets = MarksPerSheet(Print(c.settings, c.pages));
    std::vector<int> texts;
    for (const auto& sheet : sheets) texts.push_back(sheet.texts);
    EXPECT_EQ(texts, c.textsPerSheet) << c.settings;
  }
}

TEST_F(WatermarkJobs, BitmapStreamsAreDefinedOnceBeforeTheirUse) {
  struct Case {
    std::string settings;
    int pages;
    std::vector<std::string> streams;  // names defined, in order
    int executions;
  };
  const Case cases[] = {
      {"--set sFP_SectionIndex=4", 3, {"32000"}, 3},
      {"--set sFP_SectionIndex=4 --set sNP_SectionIndex=3 --set eWMUsage=3", 4, {"32000", "32001"}, 4},
      {"--set sFP_SectionIndex=4 --set vdmPagesPerSheet=4", 5, {"32000"}, 5},
      {"--set sFP_SectionIndex=4 --set bBooklet=1", 5, {"32000"}, 5},
      {"--set sFP_SectionIndex=3 --set eWMUsage=1 --set vdmPagesPerSheet=4", 5, {"32000"}, 1},
      {"--set sFP_SectionIndex=3 --set sNP_SectionIndex=4 --set eWMUsage=2", 3, {"32000", "32001"}, 3},
      {"--set sFP_SectionIndex=3 --set sNP_SectionIndex=4 --set eWMUsage=0 --set bBooklet=1", 5, {"32000", "32001"}, 5},
  };
  for (const auto& c : cases) {
    const auto ops = Print(c.settings, c.pages);
    std::vector<std::string> defined;
    int executions = 0;
    bool executedBeforeDefinition = false;
    for (const auto& op : ops) {
      if (op.Is(pxl::Op::BeginStream)) {
        const pxl::Attribute* name = op.Find(pxl::Attr::StreamName);
        ASSERT_NE(name, nullptr);
        const auto bytes = name->value.Bytes();
        defined.emplace_back(bytes.begin(), bytes.end());
      }
      if (op.Is(pxl::Op::ExecStream)) {
        ++executions;
        if (defined.empty()) executedBeforeDefinition = true;
      }
    }
    EXPECT_EQ(defined, c.streams) << c.settings;
    EXPECT_EQ(executions, c.executions) << c.settings;
    EXPECT_FALSE(executedBeforeDefinition) << c.settings;
  }
}

}  // namespace
}  // namespace velmora

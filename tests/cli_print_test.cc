// velmora print, run as a user runs it: a job file out, or one clear error and no file.
#include <gtest/gtest.h>

#include "tests/fakes/job_folder.h"

#include "tests/fakes/run_velmora.h"

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace velmora {
namespace {

using testing::Velmora;
using CliResult = testing::CliRun;

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

class CliPrint : public testing::JobFolderTest {
 protected:
  std::string P(const char* name) { return (dir / name).string(); }
  // Files other than the store and the tickets the test wrote.
  std::vector<std::string> Outputs() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
      const std::string name = entry.path().filename().string();
      if (!name.starts_with("store.db") && !name.ends_with(".json")) names.push_back(name);
    }
    return names;
  }
};

TEST_F(CliPrint, PrintsToAFileAndToStandardOutput) {
  const CliResult print = Velmora("print -o " + P("job.pxl") + " --pages 2 --user bob --machine ws1 --title Report");
  ASSERT_EQ(print.status, 0) << print.out;
  EXPECT_EQ(print.out, "");  // no progress line when standard error is not a terminal
  const std::string job = ReadText(P("job.pxl"));
  EXPECT_TRUE(job.starts_with("\x1B%-12345X@PJL COMMENT Velmora Default")) << job.substr(0, 40);

  const CliResult dump = Velmora("dump --pages 1 " + P("job.pxl"));
  ASSERT_EQ(dump.status, 0) << dump.out;
  EXPECT_NE(dump.out.find("@PJL JOB NAME=\"Report\""), std::string::npos);
  EXPECT_NE(dump.out.find("@PJL SET JOBATTR=\"ComputerName=ws1\""), std::string::npos);
  EXPECT_NE(dump.out.find("@PJL SET JOBATTR=\"UserName=bob\""), std::string::npos);
  EXPECT_NE(dump.out.find("BeginPage"), std::string::npos);
  EXPECT_NE(dump.out.find("EndPage PageCopies=1"), std::string::npos);
  EXPECT_EQ(Velmora("dump --pages 1 - < " + P("job.pxl")).out, dump.out);

  const CliResult toStdout = Velmora("print -o - --pages 2 --user bob --machine ws1 --title Report", false);
  ASSERT_EQ(toStdout.status, 0);
  EXPECT_EQ(toStdout.out, job);
}

TEST_F(CliPrint, LongTitleAndUserKeepEveryPjlLineWhole) {
  const std::string title(10000, 'X'), user(10000, 'U');
  const CliResult print = Velmora("print -o " + P("long.pxl") + " --pages 1 --title " + title + " --user " + user);
  ASSERT_EQ(print.status, 0) << print.out.substr(0, 200);
  const std::string job = ReadText(P("long.pxl"));
  const std::size_t end = job.find("@PJL ENTER LANGUAGE=PCLXL\r\n");
  ASSERT_TRUE(job.starts_with("\x1B%-12345X@PJL ") && end != std::string::npos);
  // Every header line is a whole PJL line of at most 1023 bytes; the four that quote the
  // title or the user keep their closing quote.
  int quoting = 0;
  for (std::size_t from = 9, eol; from < end; from = eol + 2) {
    eol = job.find("\r\n", from);
    const std::string line = job.substr(from, eol + 2 - from);
    EXPECT_TRUE(line.starts_with("@PJL ") && line.size() <= 1023) << line.substr(0, 40);
    if (line.find("XXXX") == std::string::npos && line.find("UUUU") == std::string::npos) continue;
    ++quoting;
    EXPECT_TRUE(line.ends_with("\"\r\n")) << line.substr(0, 40);
  }
  EXPECT_EQ(quoting, 4);

  const CliResult dump = Velmora("dump " + P("long.pxl"));
  ASSERT_EQ(dump.status, 0) << dump.out.substr(0, 200);
  EXPECT_NE(dump.out.find("EndPage PageCopies=1"), std::string::npos);
  const fs::path interpreter = fs::path(VELMORA_SOURCE_DIR) / ".." / "shared" / "tools" / "gpcl6";
  if (!fs::exists(interpreter)) GTEST_SKIP() << "../shared/tools/gpcl6 is missing: the rendering was skipped";
  FILE* pipe =
      popen((interpreter.string() + " -dNOPAUSE -dBATCH -sDEVICE=nullpage " + P("long.pxl") + " 2>&1").c_str(), "r");
  std::string said;
  char buffer[4096];
  while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) said.append(buffer, got);
  pclose(pipe);
  EXPECT_EQ(said.find("PCL XL error"), std::string::npos) << said;
}

TEST_F(CliPrint, BadInputsGiveOneMessageAndNoOutput) {
  std::ofstream(P("malformed.json")) << "{\"dmCopies\": 2,";
  std::ofstream(P("unknown.json")) << "{\"dmCopies\": 2, \"dwWhatever\": 1}";
  struct Case {
    std::string arguments;
    std::string message;
  };
  const Case cases[] = {
      {"--ticket " + P("missing.json"), "velmora: Unable to read ticket '" + P("missing.json") + "'"},
      {"--ticket " + P("malformed.json"), "velmora: Ticket '" + P("malformed.json") + "' is not well-formed JSON"},
      {"--ticket " + P("unknown.json"), "velmora: Ticket '" + P("unknown.json") + "': unknown field 'dwWhatever'"},
      {"--set dmOrientation=5", "velmora: dmOrientation 5 is not one the printer takes"},
      {"--printer Elsewhere", "velmora: Printer 'Elsewhere' not found in the printer store"},
      {"--option InputBin=TRAY7", "velmora: --option 'InputBin=TRAY7': unknown option 'TRAY7' of InputBin"},
      {"--module " + P("none.so"), "velmora: Unable to load plug-in module '" + P("none.so") + "'"},
  };
  for (const Case& c : cases) {
    const CliResult run = Velmora("print -o " + P("out.pxl") + " " + c.arguments);
    EXPECT_EQ(run.status, 1) << c.arguments;
    EXPECT_TRUE(run.out.starts_with(c.message)) << c.arguments << "\n" << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    EXPECT_TRUE(Outputs().empty()) << c.arguments;
  }
}

}  // namespace
}  // namespace velmora

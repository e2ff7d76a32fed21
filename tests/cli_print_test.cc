// velmora print, run as a user runs it: a job file out, or one clear error and no file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/fakes/job_folder.h"

#include "tests/fakes/run_velmora.h"

#include <chrono>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace velmora {
namespace {

using testing::Velmora;
using CliResult = testing::CliRun;

namespace fs = std::filesystem;

// A file's text; empty when it cannot be read whole (a /proc entry whose process ended
// while it was read).
std::string ReadText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  try {
    return std::string(std::istreambuf_iterator<char>(file), {});
  } catch (const std::ios_base::failure&) {
    return {};
  }
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
  // Well-formed, but a byte more than a ticket may hold.
  std::ofstream(P("large.json")) << "{\"dmCopies\": 2" << std::string((1 << 20) - 14, ' ') << "}";
  struct Case {
    std::string arguments;
    std::string message;
  };
  const Case cases[] = {
      {"--ticket " + P("missing.json"), "velmora: Unable to read ticket '" + P("missing.json") + "'"},
      {"--ticket " + P("malformed.json"), "velmora: Ticket '" + P("malformed.json") + "' is not well-formed JSON"},
      {"--ticket " + P(""), "velmora: Unable to read ticket '" + P("") + "': it is a folder"},
      {"--ticket " + P("unknown.json"), "velmora: Ticket '" + P("unknown.json") + "': unknown field 'dwWhatever'"},
      {"--ticket /dev/zero", "velmora: Unable to read ticket '/dev/zero': it is not a regular file"},
      {"--ticket " + P("large.json"),
       "velmora: Unable to read ticket '" + P("large.json") + "': it is larger than 1 MiB, the most a ticket may hold"},
      {"--set dmOrientation=5", "velmora: dmOrientation 5 is not one the printer takes"},
      {"--printer Elsewhere", "velmora: Printer 'Elsewhere' not found in the printer store"},
      {"--option InputBin=TRAY7", "velmora: --option 'InputBin=TRAY7': unknown option 'TRAY7' of InputBin"},
      {"--module " + P("none.so"), "velmora: Unable to load plug-in module '" + P("none.so") + "'"},
      {"--time-limit 0", "velmora: --time-limit '0': expected whole seconds from 1 (e.g. 60)"},
      {"--memory-limit 2X", "velmora: --memory-limit '2X': expected a size from 1 in bytes or with a K, M or G suffix"},
  };
  for (const Case& c : cases) {
    const CliResult run = Velmora("print -o " + P("out.pxl") + " " + c.arguments);
    EXPECT_EQ(run.status, 1) << c.arguments;
    EXPECT_TRUE(run.out.starts_with(c.message)) << c.arguments << "\n" << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    EXPECT_TRUE(Outputs().empty()) << c.arguments;
  }
}

// A process (not a zombie) that runs with `argument` on its command line and has used at
// least `seconds` of processor time; 0 when there is none.
pid_t ProcessRunningWith(const std::string& argument, double seconds = 0) {
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string commandLine = ReadText(entry.path() / "cmdline");
    std::replace(commandLine.begin(), commandLine.end(), '\0', ' ');
    if (commandLine.find(argument) == std::string::npos) continue;
    // After the name in parentheses: the state, then user and system time (fields 14
    // and 15) in clock ticks.
    const std::string stat = ReadText(entry.path() / "stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z') continue;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    for (int skip = 3; skip < 14; ++skip) fields >> field;
    double user = 0, system = 0;
    fields >> user >> system;
    if ((user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK)) >= seconds) return std::stoi(pid);
  }
  return 0;
}

// Polls `done` for up to `seconds`.
bool Within(int seconds, const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Ghostscript ends with the job whichever way the job ends (a limit it used up, a stop
// request to velmora, velmora killed, Ghostscript killed by the system), the job names why, and neither the output nor
// any temporary file is left, except by a velmora killed outright. Every temporary goes to the test's folder (TMPDIR).
TEST_F(CliPrint, GhostscriptEndsWithTheJobAndLeavesNothing) {
  if (std::system("gs --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "Ghostscript (gs) is not installed";
  const fs::path documents = dir / "documents";
  fs::create_directories(documents);
  const fs::path output = dir / "output";
  fs::create_directories(output);
  std::ofstream(documents / "loop.ps") << "%!PS\n{} loop\n";
  // Each string kept, a mebibyte at a time, until Ghostscript can allocate no more.
  std::ofstream(documents / "eater.ps") << "%!PS\n/kept [] def { /kept [ kept 1048576 string ] def } loop\n";
  // A Ghostscript the system kills (the kernel's out-of-memory killer, an administrator)
  // while it renders a sound PDF.
  std::ofstream(documents / "sound.pdf") << "%PDF-1.4\n";
  const fs::path killed = documents / "killed-gs";
  std::ofstream(killed) << "#!/bin/sh\nkill -KILL $$\n";
  fs::permissions(killed, fs::perms::owner_all);
  const auto unable = [&](const char* document, const std::string& cause) {
    return "velmora: Unable to print '" + (documents / document).string() + "': " + cause + "\n";
  };
  struct Case {
    std::string document;
    std::string option;       // one option and its value, or none
    std::string ghostscript;  // VELMORA_GS
    int signal;               // sent to velmora once Ghostscript runs; 0: none
    std::string message;
  };
  const Case cases[] = {
      {"loop.ps", "--time-limit=1", "gs", 0, unable("loop.ps", "Ghostscript exceeded its processor-time limit of 1 s")},
      {"eater.ps", "--memory-limit=300M", "gs", 0,
       unable("eater.ps", "Ghostscript exceeded its memory limit of 300 MiB")},
      {"loop.ps", "", "gs", SIGTERM,
       "velmora: Job 3 on printer 'Velmora Default' was stopped by SIGTERM after 0 page(s); no output written\n"},
      {"loop.ps", "", "no-such-gs", 0,
       unable("loop.ps", "Ghostscript could not be run: Unable to run 'no-such-gs': No such file or directory")},
      {"sound.pdf", "", killed.string(), 0, unable("sound.pdf", "Ghostscript was ended by signal 9 (SIGKILL)")},
      {"loop.ps", "", "gs", SIGKILL, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document + " " + c.ghostscript + " signal " + std::to_string(c.signal));
    const std::string document = (documents / c.document).string();
    std::vector<std::string> words = {VELMORA_BINARY, "print", "-o", (output / "job.pxl").string()};
    if (!c.option.empty()) words.push_back(c.option);
    words.push_back(document);
    const fs::path messages = dir / "messages.txt";
    const pid_t velmora = ::fork();
    ASSERT_GE(velmora, 0);
    if (velmora == 0) {
      // A test that dies (a time-out of the test runner) takes its velmora with it.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::setenv("TMPDIR", output.c_str(), 1);
      ::setenv("VELMORA_GS", c.ghostscript.c_str(), 1);
      std::freopen("/dev/null", "w", stdout);
      std::freopen(messages.c_str(), "w", stderr);
      std::vector<char*> argv;
      for (std::string& word : words) argv.push_back(word.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    if (c.signal != 0) {
      // Well into the document, past its start-up messages, so that only velmora's end
      // can end it.
      EXPECT_TRUE(Within(10, [&] { return ProcessRunningWith("-f" + document, 0.5) != 0; })) << "Ghostscript never ran";
      ::kill(velmora, c.signal);
    }
    int status = 0;
    const bool ended = Within(60, [&] { return ::waitpid(velmora, &status, WNOHANG) == velmora; });
    if (!ended) {
      ::kill(velmora, SIGKILL);
      ::waitpid(velmora, &status, 0);
    }
    ASSERT_TRUE(ended) << "velmora did not end";
    if (c.signal != 0) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << status;
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    }
    EXPECT_EQ(ReadText(messages), c.message);
    if (!Within(10, [&] { return ProcessRunningWith("-f" + document) == 0; })) {
      ADD_FAILURE() << "Ghostscript outlived velmora";
      if (const pid_t left = ProcessRunningWith("-f" + document); left > 0) ::kill(left, SIGKILL);
    }
    // A velmora killed outright leaves its temporaries to the next run.
    if (c.signal != SIGKILL) {
      EXPECT_TRUE(fs::is_empty(output)) << fs::directory_iterator(output)->path();
    }
  }
}

}  // namespace
}  // namespace velmora

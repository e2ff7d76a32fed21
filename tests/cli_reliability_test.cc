// velmora under stress, run as users run it: many processes on one printer store, jobs
// killed at random points, and folders that run out of space. No job is lost or
// half-written, and no store error reaches the user.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/fakes/job_folder.h"
#include "tests/fakes/run_velmora.h"

namespace velmora {
namespace {

using testing::Velmora;
namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
}

// A one-page PostScript document of 200000 strokes, written to `path`: an overlay only
// keeps a document's first page, and this one's capture writes several megabytes, long
// enough for another process to act while it runs. False when Ghostscript is missing.
bool WriteLongCapture(const fs::path& path) {
  if (std::system("gs --version >/dev/null 2>&1") != 0) return false;
  WriteText(path,
            "%!PS\n0 1 200000 { dup 7 mod 80 mul 20 add exch 13 mod 60 mul 20 add moveto 30 25 rlineto stroke } for "
            "showpage\n");
  return true;
}

// The names in a folder that start with `prefix`.
std::vector<std::string> NamesStartingWith(const fs::path& folder, const std::string& prefix) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(prefix)) names.push_back(name);
  }
  return names;
}

// Starts velmora with the arguments (split at blanks) and its output to /dev/null.
pid_t StartVelmora(const std::string& arguments) {
  std::vector<std::string> words{VELMORA_BINARY};
  std::size_t at = 0;
  while (at < arguments.size()) {
    const std::size_t blank = arguments.find(' ', at);
    words.push_back(arguments.substr(at, blank == std::string::npos ? std::string::npos : blank - at));
    at = blank == std::string::npos ? arguments.size() : blank + 1;
  }
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  std::freopen("/dev/null", "w", stdout);
  std::freopen("/dev/null", "w", stderr);
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

// Waits up to ten seconds for `path` to exist; false if it never did.
bool WaitForFile(const fs::path& path) {
  for (int i = 0; i < 10000; ++i) {
    if (fs::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// The jobs listed by `velmora jobs` whose status is exactly `status`.
int JobsWithStatus(const std::string& status) {
  const auto jobs = Velmora("jobs", false);
  int count = 0;
  for (std::size_t line = 0; line < jobs.out.size();) {
    const std::size_t end = jobs.out.find('\n', line);
    const std::string text = jobs.out.substr(line, end - line);
    if (text.ends_with("  " + status)) ++count;
    line = end == std::string::npos ? jobs.out.size() : end + 1;
  }
  return count;
}

class CliReliability : public testing::JobFolderTest {
 protected:
  std::string P(const std::string& name) { return (dir / name).string(); }
  const std::string kJob = "--printer Office --pages 2 --user anna --machine ws1 --title Report";
};

// 8 processes print 25 jobs each to one store at once, while an administrator changes a
// printer value and lists the jobs: every job completes and is the job printed alone.
TEST_F(CliReliability, ConcurrentJobsOnOneStoreAreTheJobPrintedAlone) {
  ASSERT_EQ(Velmora("printer add Office").status, 0);
  const auto alone = Velmora("print -o " + P("alone.pxl") + " " + kJob);
  ASSERT_EQ(alone.status, 0) << alone.out;
  const std::string expected = ReadText(P("alone.pxl"));
  ASSERT_FALSE(expected.empty());

  constexpr int kProcesses = 8, kJobs = 25;
  std::vector<pid_t> printers;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid > 0) {
      printers.push_back(pid);
      continue;
    }
    // A child prints its jobs one after another; its exit status counts the failures.
    int failures = 0;
    for (int j = 0; j < kJobs; ++j) {
      const std::string out = P("job-" + std::to_string(p) + "-" + std::to_string(j) + ".pxl");
      const auto run = Velmora("print -o " + out + " " + kJob);
      if (run.status != 0) {
        std::fprintf(stderr, "%s\n", run.out.c_str());
        ++failures;
      }
    }
    ::_exit(failures);
  }
  // The administrator works while the jobs run.
  int adminRuns = 0, adminFailures = 0;
  std::string adminErrors;
  for (bool running = true; running;) {
    for (const std::string& command :
         {"printer set Office Tray=" + std::to_string(adminRuns % 5) + " --type number", std::string("jobs")}) {
      const auto run = Velmora(command);
      ++adminRuns;
      if (run.status != 0) {
        ++adminFailures;
        adminErrors += run.out;
      }
    }
    running = false;
    for (pid_t pid : printers) running = running || ::waitpid(pid, nullptr, WNOHANG) == 0;
  }
  // waitpid above reaped the children; their failures show in the outputs below.
  EXPECT_EQ(adminFailures, 0) << adminErrors;
  EXPECT_GT(adminRuns, 2);
  int identical = 0;
  for (int p = 0; p < kProcesses; ++p) {
    for (int j = 0; j < kJobs; ++j)
      identical += ReadText(P("job-" + std::to_string(p) + "-" + std::to_string(j) + ".pxl")) == expected;
  }
  EXPECT_EQ(identical, kProcesses * kJobs);
  EXPECT_EQ(JobsWithStatus("complete"), kProcesses * kJobs + 1);
  std::printf("[ figures  ] %d jobs in %d processes, %d administrator runs alongside\n", kProcesses * kJobs, kProcesses,
              adminRuns);
}

// velmora print killed at random points never leaves a file under the output's name;
// the next run removes what the killed ones left, the store still opens, and the killed
// jobs stay unfinished.
TEST_F(CliReliability, AKilledJobLeavesNoOutputAndTheNextRunCleansUp) {
  ASSERT_EQ(Velmora("printer add Office").status, 0);
  std::mt19937 random(std::random_device{}());
  constexpr int kKills = 12;
  int leftBehind = 0, finished = 0;
  for (int i = 0; i < kKills; ++i) {
    const pid_t pid = StartVelmora("print -o " + P("out.pxl") + " --printer Office --pages 100");
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 250));
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    if (WIFEXITED(status)) {
      // The job finished before the kill: its output is whole.
      ASSERT_EQ(WEXITSTATUS(status), 0);
      ++finished;
      fs::remove(P("out.pxl"));
      continue;
    }
    if (fs::exists(P("out.pxl"))) {
      // Killed after the finished job was put under its name (while the program was
      // ending): only a whole job may stand there, ending with the job's last UEL.
      EXPECT_TRUE(ReadText(P("out.pxl")).ends_with("\x1B%-12345X")) << "kill " << i;
      ++finished;
      fs::remove(P("out.pxl"));
      continue;
    }
    leftBehind += static_cast<int>(NamesStartingWith(dir, ".out.pxl.").size());
  }
  const auto next = Velmora("print -o " + P("out.pxl") + " --printer Office --pages 1");
  ASSERT_EQ(next.status, 0) << next.out;
  EXPECT_TRUE(NamesStartingWith(dir, ".out.pxl.").empty()) << "the next run removes what killed runs left";
  EXPECT_TRUE(ReadText(P("out.pxl")).starts_with("\x1B%-12345X"));
  const auto jobs = Velmora("jobs");
  EXPECT_EQ(jobs.status, 0) << jobs.out;
  // A killed job is never complete; one killed before the store recorded it has no row.
  EXPECT_EQ(JobsWithStatus("complete"), finished + 1) << jobs.out;
  EXPECT_LE(JobsWithStatus("in progress"), kKills - finished) << jobs.out;
  std::printf(
      "[ figures  ] %d runs killed at random, %d finished first; %d temporary files left, all removed by "
      "the next run; %d jobs listed unfinished\n",
      kKills, finished, leftBehind, JobsWithStatus("in progress"));
}

// An overlay capture killed while it captures, at a random moment after its work file
// appeared, leaves no overlay, never a truncated one that later jobs would play; the next
// capture takes over the work file the killed one left and succeeds.
TEST_F(CliReliability, AKilledCaptureNeverLeavesATruncatedOverlay) {
  fs::create_directories(dir / "forms");
  const fs::path overlay = dir / "forms" / "form.ovl", work = dir / "forms" / "form.ovl.capture";
  ASSERT_EQ(Velmora("printer add Office").status, 0);
  ASSERT_EQ(Velmora("printer set Office OvelayDirectory=" + P("forms") + " 'OvelayFiles=Form;form.ovl'").status, 0);
  // A long capture: every kill lands well inside it.
  if (!WriteLongCapture(dir / "long.ps")) GTEST_SKIP() << "Ghostscript (gs) is not installed: scripts/install-deps";
  const std::string capture =
      "print -o " + P("capture.pxl") + " --printer Office --set dwOverlayMode=1 " + P("long.ps");
  const auto whole = Velmora(capture);
  ASSERT_EQ(whole.status, 0) << whole.out;
  const std::string expected = ReadText(overlay);
  ASSERT_FALSE(expected.empty());
  std::mt19937 random(std::random_device{}());
  constexpr int kKills = 8;
  for (int i = 0; i < kKills; ++i) {
    fs::remove(overlay);
    // A work file left by the last kill is there already: the new capture takes it over.
    const auto before = fs::exists(work) ? fs::last_write_time(work) : fs::file_time_type::min();
    const pid_t pid = StartVelmora(capture);
    while (!fs::exists(work) || fs::last_write_time(work) == before) {
      if (::waitpid(pid, nullptr, WNOHANG) == pid) FAIL() << "capture " << i << " ended before it started";
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 100));
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    // The kill landed inside the capture: the program died of it before an overlay was in
    // place. A whole overlay would mean that it came too late; a truncated one must never be.
    ASSERT_TRUE(WIFSIGNALED(status)) << "kill " << i << " came after the job ended";
    ASSERT_FALSE(fs::exists(overlay)) << "kill " << i
                                      << (ReadText(overlay) == expected ? " came after the capture ended"
                                                                        : " left a truncated overlay");
    EXPECT_TRUE(fs::exists(work)) << "kill " << i << ": the work file stays for the next capture to take over";
  }
  const auto next = Velmora(capture);
  ASSERT_EQ(next.status, 0) << next.out;
  EXPECT_EQ(ReadText(overlay), expected);
  EXPECT_EQ(NamesStartingWith(dir / "forms", "form.ovl."), std::vector<std::string>{});
}

// Two velmora processes capture one overlay, the second started while the first captures:
// the overlay is the first job's, and the second job prints as an ordinary job.
TEST_F(CliReliability, TwoCapturesOfOneOverlayKeepTheFirst) {
  fs::create_directories(dir / "forms");
  const fs::path overlay = dir / "forms" / "form.ovl";
  ASSERT_EQ(Velmora("printer add Office").status, 0);
  ASSERT_EQ(Velmora("printer set Office OvelayDirectory=" + P("forms") + " 'OvelayFiles=Form;form.ovl'").status, 0);
  // A long capture, so that the second job runs inside it.
  if (!WriteLongCapture(dir / "long.ps")) GTEST_SKIP() << "Ghostscript (gs) is not installed: scripts/install-deps";
  const std::string first = "print -o " + P("a.pxl") + " --printer Office --set dwOverlayMode=1 " + P("long.ps");
  ASSERT_EQ(Velmora(first).status, 0);
  const std::string expected = ReadText(overlay);
  ASSERT_FALSE(expected.empty());
  fs::remove(overlay);

  const pid_t pid = StartVelmora(first);
  ASSERT_TRUE(WaitForFile(dir / "forms" / "form.ovl.capture"));
  const auto second =
      Velmora("print -o " + P("b.pxl") + " --printer Office --pages 3 --set dwOverlayMode=1 --set dmOrientation=2");
  const bool firstRunning = ::waitpid(pid, nullptr, WNOHANG) == 0;
  const bool overlayInPlace = fs::exists(overlay);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(firstRunning) << "the second job must end while the first one captures";
  EXPECT_FALSE(overlayInPlace) << "the second job made an overlay, or the first had finished its capture";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadText(overlay), expected);
  EXPECT_FALSE(fs::exists(P("a.pxl")));
  EXPECT_EQ(second.status, 0) << second.out;
  const std::string job = ReadText(P("b.pxl"));
  EXPECT_TRUE(job.starts_with("\x1B%-12345X") && job.ends_with("\x1B%-12345X")) << job.size() << " bytes";
  EXPECT_EQ(job.find("%%OVL"), std::string::npos);
  EXPECT_EQ(NamesStartingWith(dir / "forms", "form.ovl."), std::vector<std::string>{});
  EXPECT_EQ(JobsWithStatus("complete"), 1) << "the second job; the captures were deleted";
}

// A small tmpfs the test mounts (as root), filled up before each write: every file the
// program writes fails cleanly, names the file, and leaves earlier data as it was.
class CliFullDisk : public CliReliability {
 protected:
  void SetUp() override {
    CliReliability::SetUp();
    disk = dir / "disk";
    fs::create_directories(disk);
    if (::geteuid() != 0 || ::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=2m") != 0) {
      GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): the full-disk cases are skipped";
    }
    mounted = true;
  }
  void TearDown() override {
    if (mounted) ::umount2(disk.c_str(), MNT_DETACH);
    CliReliability::TearDown();
  }
  // Fills the disk, keeping `spare` bytes free.
  void Fill(std::size_t spare = 0) {
    fs::remove(disk / "filler");
    std::FILE* filler = std::fopen((disk / "filler").c_str(), "wb");
    ASSERT_NE(filler, nullptr);
    std::vector<char> block(4096, 'x');
    while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() && std::fflush(filler) == 0) {
    }
    std::fclose(filler);
    if (spare > 0)
      fs::resize_file(disk / "filler",
                      fs::file_size(disk / "filler") - std::min(spare, fs::file_size(disk / "filler")));
  }
  void Free() { fs::remove(disk / "filler"); }

  fs::path disk;
  bool mounted = false;
};

TEST_F(CliFullDisk, EveryFileFailsCleanlyAndKeepsEarlierData) {
  struct Case {
    const char* what;
    std::function<void()> prepare;  // earlier data, written while there is room
    std::string command;            // the write that runs out of space
    std::string names;              // the file the error must name
    std::string reason;             // and the system's reason
    std::function<void()> check;    // earlier data intact, nothing half-written
  };
  ASSERT_EQ(Velmora("printer add Office").status, 0);
  const std::string output = (disk / "job.pxl").string();
  const std::string store = (disk / "store.db").string();
  const Case cases[] = {
      {"output", [&] { WriteText(output, "earlier job"); }, "print -o " + output + " --printer Office --pages 30",
       output, "No space left on device",
       [&] {
         EXPECT_EQ(ReadText(output), "earlier job");
         EXPECT_TRUE(NamesStartingWith(disk, ".job.pxl.").empty());
       }},
      {"store",
       [&] {
         ::setenv("VELMORA_STORE", store.c_str(), 1);
         ASSERT_EQ(Velmora("printer add Kept").status, 0);
       },
       "printer set Kept Big=" + std::string(100000, 'v') + " --type text", store, "disk I/O error",
       [&] {
         const auto list = Velmora("printer list");
         EXPECT_NE(list.out.find("Kept"), std::string::npos) << list.out;
         ::setenv("VELMORA_STORE", P("store.db").c_str(), 1);
       }},
      {"watermark settings",
       [&] {
         ::setenv("XDG_DATA_HOME", (disk / "data").c_str(), 1);
         ASSERT_EQ(Velmora("watermark set --printer Office 1 text=KEPT").status, 0);
       },
       "watermark set --printer Office 2 text=" + std::string(60, 'W'), "DrvSettings.GPS", "",
       [&] {
         const auto list = Velmora("watermark list --printer Office");
         EXPECT_NE(list.out.find("KEPT"), std::string::npos) << list.out;
         ::setenv("XDG_DATA_HOME", P("data").c_str(), 1);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Free();
    c.prepare();
    Fill();
    const auto run = Velmora(c.command);
    EXPECT_NE(run.status, 0) << run.out;
    EXPECT_NE(run.out.find(c.names), std::string::npos) << "the error names the file: " << run.out;
    EXPECT_NE(run.out.find(c.reason), std::string::npos) << "the error gives the reason: " << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << "one message: " << run.out;
    Free();
    c.check();
  }
}

// The plug-in's own files on a full disk. A capture without room for its header does not
// start: the job prints as an ordinary one. A capture that runs out of room part-way fails
// its job, which names the file and the reason and prints nothing. Neither leaves a file
// under the overlay's name, and the overlay beside it plays on. The diagnostic log loses
// lines, not the job.
TEST_F(CliFullDisk, OverlayAndLogFailWithoutLosingTheJob) {
  const std::string kept = "(PCLXL;A4;1;600;0;Old;)\r\n%%OVL_DATA_START:-kept";
  fs::create_directories(disk / "forms");
  WriteText(disk / "forms" / "old.ovl", kept);
  ASSERT_EQ(Velmora("printer add Office").status, 0);
  ASSERT_EQ(
      Velmora("printer set Office OvelayDirectory=" + (disk / "forms").string() + " 'OvelayFiles=New;new.ovl'").status,
      0);
  const std::string work = (disk / "forms" / "new.ovl.capture").string();
  if (!WriteLongCapture(dir / "long.ps")) GTEST_SKIP() << "Ghostscript (gs) is not installed: scripts/install-deps";
  struct Case {
    const char* what;
    std::size_t spare;  // bytes left free on the disk
    int pages;          // the sample's pages; 0: the long one-page document
    bool prints;        // an ordinary job, or a failed one
  };
  const Case cases[] = {
      {"no room for the header", 0, 1, true},
      {"no room for the page", 16 * 1024, 0, false},
  };
  const fs::path captureLog = dir / "data" / "VELMORA IT Co" / "DriverLog.txt";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(captureLog);
    Free();
    Fill(c.spare);
    ::setenv("VELMORA_ENABLELOGGING", "1", 1);
    const std::string document = c.pages == 0 ? " " + P("long.ps") : " --pages " + std::to_string(c.pages);
    const auto capture = Velmora("print -o " + P("capture.pxl") + " --printer Office --set dwOverlayMode=1" + document);
    ::unsetenv("VELMORA_ENABLELOGGING");
    if (c.prints) {
      EXPECT_EQ(capture.status, 0) << capture.out;
      EXPECT_TRUE(ReadText(P("capture.pxl")).ends_with("\x1B%-12345X"));
    } else {
      EXPECT_NE(capture.status, 0) << capture.out;
      EXPECT_NE(capture.out.find(work), std::string::npos) << "the error names the file: " << capture.out;
      EXPECT_NE(capture.out.find("No space left on device"), std::string::npos) << capture.out;
      EXPECT_EQ(std::count(capture.out.begin(), capture.out.end(), '\n'), 1) << "one message: " << capture.out;
      EXPECT_FALSE(fs::exists(P("capture.pxl")));
    }
    fs::remove(P("capture.pxl"));
    // The log says which file could not be written, and why.
    const std::string log = ReadText(captureLog);
    EXPECT_NE(log.find(work), std::string::npos) << log;
    EXPECT_NE(log.find("(No space left on device)"), std::string::npos) << log;
    EXPECT_FALSE(fs::exists(disk / "forms" / "new.ovl")) << "no truncated overlay under the overlay's name";
    EXPECT_TRUE(NamesStartingWith(disk / "forms", "new.ovl.").empty());
    EXPECT_EQ(ReadText(disk / "forms" / "old.ovl"), kept);
  }
  // The printed job is complete; the failed one is listed failed, never complete.
  EXPECT_EQ(JobsWithStatus("complete"), 1);
  EXPECT_EQ(JobsWithStatus("error,deleting,deleted"), 1);

  // The log on the full disk: the job still completes, and the lines written before stay.
  Free();
  ::setenv("XDG_DATA_HOME", (disk / "data").c_str(), 1);
  ::setenv("VELMORA_ENABLELOGGING", "1", 1);
  ASSERT_EQ(Velmora("print -o " + P("first.pxl") + " --printer Office --pages 1").status, 0);
  const fs::path log = disk / "data" / "VELMORA IT Co" / "DriverLog.txt";
  const std::string earlier = ReadText(log);
  ASSERT_FALSE(earlier.empty());
  Fill();
  const auto run = Velmora("print -o " + P("second.pxl") + " --printer Office --pages 1");
  ::unsetenv("VELMORA_ENABLELOGGING");
  ::setenv("XDG_DATA_HOME", P("data").c_str(), 1);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(ReadText(P("second.pxl")).starts_with("\x1B%-12345X"));
  EXPECT_TRUE(ReadText(log).starts_with(earlier));
}

}  // namespace
}  // namespace velmora

// A display reporter that measures each benchmark against baselines from the same run.
//
// Absolute speeds depend on the machine and on whatever else it runs; a ratio against a
// plain library scan of the same bytes, measured in the same process a moment earlier,
// does not. The reporter passes every run on to the usual display reporter, adds the
// ratios as counters to the runs it compares, and prints one summary line per
// comparison at the end.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace velmora::bench {

// A baseline: its short name in the summary and counters ("memchr"), and its benchmark's
// registered name.
struct Baseline {
  std::string shortName;
  std::string benchmark;
};

// One measured function and the baselines it is compared with. The names are the
// benchmarks' registered names; the label names the comparison in the summary.
struct Comparison {
  std::string label;
  std::string measured;
  std::vector<Baseline> baselines;
};

class RatioReporter : public benchmark::BenchmarkReporter {
 public:
  // `display` prints the runs (usually benchmark::CreateDefaultDisplayReporter()).
  RatioReporter(std::unique_ptr<benchmark::BenchmarkReporter> display, std::vector<Comparison> comparisons);

  bool ReportContext(const Context& context) override;
  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

  // Prints one line per comparison whose benchmarks all ran:
  // "<label> vs memchr: 1.3x; vs memmem: 0.9x" (three significant digits).
  void PrintSummary(std::ostream& out) const;

 private:
  // The fastest CPU time per iteration seen for `name`, in seconds.
  std::optional<double> Fastest(const std::string& name) const;

  std::unique_ptr<benchmark::BenchmarkReporter> display_;
  std::vector<Comparison> comparisons_;
  std::map<std::string, double> fastestSeconds_;
};

// Runs a benchmark program: parses the command line, installs in-memory platform services
// (the plug-in's code then stays away from this machine's printer store and log), calls
// `registerBenchmarks` to prepare the data and register the benchmarks (baselines first),
// runs them through a RatioReporter and prints its summary. Returns the program's exit
// status: 1 for an unrecognised argument, else 0.
int RunComparedBenchmarks(int argc, char** argv, const std::function<void()>& registerBenchmarks,
                          const std::vector<Comparison>& comparisons);

}  // namespace velmora::bench

// The benchmark reporter that prints each benchmark as a ratio against baselines from the same run.
#include "bench/ratio_reporter.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <utility>

#include "platform/fake/fake_services.h"

namespace velmora::bench {

RatioReporter::RatioReporter(std::unique_ptr<benchmark::BenchmarkReporter> display, std::vector<Comparison> comparisons)
    : display_(std::move(display)), comparisons_(std::move(comparisons)) {}

bool RatioReporter::ReportContext(const Context& context) { return display_->ReportContext(context); }

void RatioReporter::Finalize() { display_->Finalize(); }

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
  std::vector<Run> shown = runs;
  for (Run& run : shown) {
    // Aggregates (mean, median, deviation) are derived from the repetitions already
    // seen; only single measurements count and get ratios.
    if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations <= 0) continue;
    const std::string& name = run.run_name.function_name;
    const double seconds = run.cpu_accumulated_time / static_cast<double>(run.iterations);
    auto [entry, added] = fastestSeconds_.emplace(name, seconds);
    if (!added) entry->second = std::min(entry->second, seconds);

    for (const Comparison& comparison : comparisons_) {
      if (comparison.measured != name) continue;
      // The baselines run first, so their fastest times are known by now; a filtered
      // run without them simply shows no ratios.
      for (const Baseline& baseline : comparison.baselines) {
        const auto baselineSeconds = Fastest(baseline.benchmark);
        if (baselineSeconds && *baselineSeconds > 0) {
          run.counters["x_" + baseline.shortName] = benchmark::Counter(seconds / *baselineSeconds);
        }
      }
    }
  }
  display_->ReportRuns(shown);
}

std::optional<double> RatioReporter::Fastest(const std::string& name) const {
  const auto found = fastestSeconds_.find(name);
  if (found == fastestSeconds_.end()) return std::nullopt;
  return found->second;
}

void RatioReporter::PrintSummary(std::ostream& out) const {
  bool headerPrinted = false;
  for (const Comparison& comparison : comparisons_) {
    const auto measured = Fastest(comparison.measured);
    if (!measured || comparison.baselines.empty()) continue;
    std::string ratios;
    for (const Baseline& baseline : comparison.baselines) {
      const auto baselineSeconds = Fastest(baseline.benchmark);
      if (!baselineSeconds || *baselineSeconds <= 0) {
        ratios.clear();
        break;
      }
      char ratio[128];
      std::snprintf(ratio, sizeof ratio, "%svs %s: %.3gx", ratios.empty() ? "" : "; ", baseline.shortName.c_str(),
                    *measured / *baselineSeconds);
      ratios += ratio;
    }
    if (ratios.empty()) continue;
    if (!headerPrinted) {
      out << "\nRatios (time of the plug-in's pass / time of the baseline over the same bytes; "
             "fastest run of each; lower is better):\n";
      headerPrinted = true;
    }
    out << comparison.label << " " << ratios << "\n";
  }
}

int RunComparedBenchmarks(int argc, char** argv, const std::function<void()>& registerBenchmarks,
                          const std::vector<Comparison>& comparisons) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  platform::fake::FakeSpooler spooler;
  platform::fake::FakeClock clock;
  platform::fake::FakeEnvironment environment;
  platform::fake::FakeDeviceCapabilities devices;
  platform::ScopedServices services{{&spooler, &clock, &environment, &devices}};

  registerBenchmarks();
  RatioReporter reporter(std::unique_ptr<benchmark::BenchmarkReporter>(benchmark::CreateDefaultDisplayReporter()),
                         comparisons);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary(std::cout);
  benchmark::Shutdown();
  return 0;
}

}  // namespace velmora::bench

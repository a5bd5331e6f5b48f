// Shared main() for the benchmark programs.
//
// Benchmarks come in pairs named "ours/<operation>" and "openssl/<operation>"
// (arguments may follow the operation). After the run, every pair is printed
// as one line with our speed as a ratio of OpenSSL's: above 1.0 we are faster.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace talbench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    benchmark::ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred || r.iterations == 0) continue;
      std::string name = r.benchmark_name();
      double t = r.GetAdjustedRealTime();
      auto split = name.find('/');
      if (split == std::string::npos) continue;
      std::string side = name.substr(0, split), op = name.substr(split + 1);
      if (side == "ours") ours_[op] = t;
      else if (side == "openssl") ref_[op] = t;
      if (std::find(order_.begin(), order_.end(), op) == order_.end()) order_.push_back(op);
    }
  }
  void PrintRatios() const {
    std::printf("\n%-44s %14s %14s %8s\n", "operation", "ours", "openssl", "ratio");
    for (const std::string& op : order_) {
      auto a = ours_.find(op), b = ref_.find(op);
      if (a == ours_.end() || b == ref_.end()) continue;
      std::printf("%-44s %14.1f %14.1f %8.2f\n", op.c_str(), a->second, b->second,
                  b->second / a->second);
    }
    std::printf("(times per iteration in the benchmark's unit; ratio = openssl time / our time)\n");
  }

 private:
  std::map<std::string, double> ours_, ref_;
  std::vector<std::string> order_;
};

}  // namespace talbench

#define TAL_BENCH_MAIN()                                      \
  int main(int argc, char** argv) {                           \
    benchmark::Initialize(&argc, argv);                       \
    talbench::RatioReporter reporter;                         \
    benchmark::RunSpecifiedBenchmarks(&reporter);             \
    reporter.PrintRatios();                                   \
    benchmark::Shutdown();                                    \
    return 0;                                                 \
  }

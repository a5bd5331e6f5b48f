// Shared main() for the benchmark programs.
//
// Benchmarks come in pairs named "ours/<operation>" and "<peer>/<operation>",
// the peer being the program's reference: "libcrypto" (OpenSSL's), "libxml2",
// "xmlsec1" (the command as a process) or "sqlite" (arguments may follow the
// operation). Each runs several times (5 unless
// --benchmark_repetitions says otherwise), the repetitions of all benchmarks
// interleaved so that a busy moment of a shared machine spreads over both
// sides. After the run, every pair is printed as one line (by name): the median time of
// each side with its spread ((max - min) / median over the repetitions), and
// our speed as a ratio of the peer's: above 1.0 we are faster. A side that
// failed (SkipWithError) prints its failure instead of a time; an "ours" row
// that no peer does prints no ratio. A program may add notes (talbench::note)
// that say what each side of a pair does; they follow the table.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace talbench {

// The names a reference side may take.
inline bool isPeer(const std::string& side) {
  return side == "libcrypto" || side == "libxml2" || side == "xmlsec1" || side == "sqlite";
}

// Lines printed after the ratio table.
inline std::vector<std::string>& notes() {
  static std::vector<std::string> all;
  return all;
}
// For a namespace-scope initialiser: `[[maybe_unused]] const bool noted = talbench::note("...");`.
inline bool note(const char* text) {
  notes().push_back(text);
  return true;
}

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    benchmark::ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Iteration) continue;
      // The name and arguments; the run's settings (min_time, manual_time ...) are the same
      // on both sides of a pair.
      std::string name = r.run_name.function_name;
      if (!r.run_name.args.empty()) name += "/" + r.run_name.args;
      auto split = name.find('/');
      if (split == std::string::npos) continue;
      std::string side = name.substr(0, split), op = name.substr(split + 1);
      if (side != "ours" && !isPeer(side)) continue;
      if (side != "ours") refName_ = side;
      Side& s = (side == "ours" ? ours_ : ref_)[op];
      if (r.error_occurred)
        s.failure = r.error_message.empty() ? "failed" : r.error_message;
      else if (r.iterations > 0)
        s.times.push_back(r.GetAdjustedRealTime());
      if (std::find(order_.begin(), order_.end(), op) == order_.end()) order_.push_back(op);
    }
  }

  void PrintRatios() const {
    std::printf("\n%-44s %14s %7s %14s %7s %8s\n", "operation", "ours", "spread", refName_.c_str(),
                "spread", "ratio");
    // By name: the interleaved repetitions report in a random order, and names sort kin together.
    std::vector<std::string> ops = order_;
    std::sort(ops.begin(), ops.end());
    for (const std::string& op : ops) {
      const Side a = find(ours_, op), b = find(ref_, op);
      const bool alone = a.ok() && ref_.find(op) == ref_.end();
      std::printf("%-44s %s %s ", op.c_str(), a.cell().c_str(),
                  alone ? "             -        " : b.cell().c_str());
      if (a.ok() && b.ok())
        std::printf("%8.2f\n", b.median() / a.median());
      else if (alone)
        std::printf("%8s  (ours alone: no peer does this)\n", "-");
      else
        std::printf("%8s  %s\n", "-", (!a.ok() ? "ours: " + a.why() : refName_ + ": " + b.why()).c_str());
    }
    std::printf(
        "(median time per iteration in the benchmark's unit; spread = (max - min) / median over "
        "the repetitions; ratio = %s median / our median)\n",
        refName_.c_str());
    for (const std::string& line : notes()) std::printf("%s\n", line.c_str());
  }

 private:
  struct Side {
    std::vector<double> times;
    std::string failure;
    bool ok() const { return failure.empty() && !times.empty(); }
    std::string why() const { return !failure.empty() ? failure : "no run"; }
    double median() const {
      std::vector<double> t = times;
      std::sort(t.begin(), t.end());
      const size_t n = t.size();
      return n % 2 ? t[n / 2] : (t[n / 2 - 1] + t[n / 2]) / 2;
    }
    std::string cell() const {
      char buf[64];
      if (!ok()) {
        std::snprintf(buf, sizeof buf, "%14s %7s", "FAILED", "");
      } else {
        const auto mm = std::minmax_element(times.begin(), times.end());
        const double m = median();
        std::snprintf(buf, sizeof buf, "%14.*f %6.1f%%", m >= 100 ? 1 : m >= 1 ? 2 : 3, m,
                      100.0 * (*mm.second - *mm.first) / m);
      }
      return buf;
    }
  };
  static Side find(const std::map<std::string, Side>& m, const std::string& op) {
    auto it = m.find(op);
    return it == m.end() ? Side{{}, "missing"} : it->second;
  }
  std::map<std::string, Side> ours_, ref_;
  std::vector<std::string> order_;
  std::string refName_ = "peer";
};

// The arguments with repetitions and interleaving added unless given.
inline std::vector<char*> withDefaults(int argc, char** argv) {
  static char reps[] = "--benchmark_repetitions=5";
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  std::vector<char*> args(argv, argv + argc);
  bool hasReps = false, hasInterleave = false;
  for (int i = 1; i < argc; ++i) {
    hasReps |= std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0;
    hasInterleave |= std::strncmp(argv[i], "--benchmark_enable_random_interleaving", 38) == 0;
  }
  if (!hasReps) args.push_back(reps);
  if (!hasInterleave) args.push_back(interleave);
  return args;
}

}  // namespace talbench

#define TAL_BENCH_MAIN()                                          \
  int main(int argc, char** argv) {                               \
    std::vector<char*> args = talbench::withDefaults(argc, argv); \
    int n = static_cast<int>(args.size());                        \
    args.push_back(nullptr);                                      \
    benchmark::Initialize(&n, args.data());                       \
    talbench::RatioReporter reporter;                             \
    benchmark::RunSpecifiedBenchmarks(&reporter);                 \
    reporter.PrintRatios();                                       \
    benchmark::Shutdown();                                        \
    return 0;                                                     \
  }

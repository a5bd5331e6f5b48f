// bench-libs: tal_api
// Throughput of the receipt road (tests/data/upo/upo.xml, offline: load, verify, status; the
// session and the road of tests/api/apisession.h) on 1, 4 and 8 threads, each thread with a
// context of its own. Receipts per second over all threads are
// the items_per_second counter; the scaling is that counter divided by the one-thread figure.
// Argument 0: every context opens the same profile (one shared in-memory database, as threads of
// one application do); 1: each context its own profile name and database.
// Not a pair with a reference: the reference of this figure is the same road on one thread.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "apisession.h"
#include "talvorin.h"

namespace {

void receiptRoad(benchmark::State& state) {
  const std::string name =
      state.range(0) ? "BenchThreads" + std::to_string(state.thread_index()) : "BenchThreads";
  talCtx* ctx = apisession::open(name.c_str());
  if (!ctx) {
    state.SkipWithError("the session could not be opened");
    return;
  }
  const std::string receipt = apisession::UPO + "upo.xml";
  for (auto _ : state)
    if (apisession::road(ctx, receipt) != 0) {
      state.SkipWithError("the receipt was not verified");
      break;
    }
  state.SetItemsProcessed(state.iterations());
  talDeinit(ctx);
}

BENCHMARK(receiptRoad)
    ->Name("threads/receipt")
    ->Arg(0)
    ->Arg(1)
    ->Threads(1)
    ->Threads(4)
    ->Threads(8)
    ->UseRealTime()
    ->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  // The registry and the per-user folder in a scratch folder: the sessions store their
  // configuration there.
  const std::string dir = apisession::sandbox("bench_threads");
  if (dir.empty()) return 1;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::system(("rm -rf " + dir).c_str());
  return 0;
}

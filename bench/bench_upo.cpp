// bench-libs: tal_api
// The receipt road on the sample of tests/data/upo, offline, through the C interface.
// The ratio pairs whole process with whole process, each by its processor time (user and
// system time of the child, getrusage; start-up, loading of libraries and, on our side, the
// cryptographic self-test of the first context included: a user meets both so):
//   ours:    `verify_upo --offline` (examples/) as a process, on the sample, the declaration
//            and the trusted folder: memory profile, root and intermediate installed, network
//            off, tvXmlLoadDocFile, tvXmlUnprotect (signature, path, the receipt's own CRLs),
//            the status, tvXmlSaveObjFile of the receipt object, its fields read and the
//            declaration's digest compared (a little more than xmlsec1 does).
//   xmlsec1: `xmlsec1 --verify` as a process with the root and the intermediate and the two
//            CRLs. xmlsec1 1.2 has no --crl-pem: it reads CRLs from ds:X509CRL in the KeyInfo
//            (a copy of the receipt gets them) and checks a CRL's signature only against
//            trusted certificates, so the intermediate is given as trusted.
// Their wall times are the "wall_ms" counters. Beside the pair, timed alone: our road warm, in
// a session opened once (tvXmlCreateCtx, load, unprotect, status, save), by this process's
// processor time; no peer has an open session to set against it. Its counters:
// "session_open_ms", the session opening as a user meets it once per road, in a fresh process
// (forked) that runs talInitEx (with the self-tests), installs the certificates and
// authenticates; "cold_road_ms", that process's whole road (session, verification, save), both
// wall time. The saved object is written through a temporary file and a rename but not synced
// (an output file, as fopen/fclose would write it), so neither side waits for the disk; our
// side still pays for creating the file.
// Then the memory peak of the road on receipts of about 10 MB that make_upo.sh --big signs
// at start (not kept), of two shapes: many small elements, and one element of base64 text.
// A child process opens the session and runs the road once; its peak resident size
// (getrusage of the child) is printed beside xmlsec1's on the same document and the
// document's size, with the child's peak after each phase ("memory/..." rows, outside the
// ratio table). Under the sanitizer build the peaks include the sanitizers' own memory.
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "ratio_main.h"
#include "spawn_quiet.h"
#include "talvorin.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The receipt with both CRLs as ds:X509CRL in its KeyInfo, for xmlsec1.
bool writeXmlsecCopy(const std::string& data, const std::string& in, const std::string& out) {
  std::string doc = readFile(in), crls;
  for (const char* name : {"root", "intermediate-revoked"}) {
    std::string pem = readFile(data + "/crl/" + name + ".pem");
    size_t begin = pem.find('\n'), end = pem.find("-----END");
    if (begin == std::string::npos || end == std::string::npos) return false;
    crls += "<ds:X509CRL>" + pem.substr(begin + 1, end - begin - 1) + "</ds:X509CRL>";
  }
  size_t at = doc.find("</ds:X509Data>");
  if (at == std::string::npos) return false;
  doc.insert(at, crls);
  std::ofstream(out, std::ios::binary) << doc;
  return true;
}

struct ColdRoad {
  double sessionSeconds = -1, roadSeconds = -1;
};

struct Fixture {
  ~Fixture() {
    if (session) talDeinit(session);
    if (!dir.empty()) std::system(("rm -rf " + dir).c_str());
  }
  std::string data, dir, sample, xmlsecSample, error;
  std::string big[2], xmlsecBig[2];  // many small elements, one large text element
  talCtx* session = nullptr;
  ColdRoad cold;
};

// A session as the receipt verifier opens it, offline.
talCtx* openSession(const std::string& data) {
  static const char NAME[] = "UpoVerifierProfile", DATABASE[] = "w pamieci";
  talNetCacheSetTimeout(10);
  talProfile* profile = talCreateProfile(TAL_PROFILE_MEMORY);
  if (!profile) return nullptr;
  talSetProfileAttr(profile, 0, NAME, sizeof NAME);
  talSetProfileAttr(profile, 17, DATABASE, sizeof DATABASE);
  talCtx* ctx = nullptr;
  if (talInitEx(&ctx, profile) > 10) return nullptr;
  talCert* root = nullptr;
  std::string inter = readFile(data + "/pki/intermediate.der");
  int32_t installed = 0;
  bool ok = talAllocateCertFromFile((data + "/roots/root.crt").c_str(), &root) <= 10 &&
            talInstallRoot(ctx, root, 1, 1) <= 10 &&
            talInstallMemCrt(ctx, reinterpret_cast<const uint8_t*>(inter.data()),
                             static_cast<int32_t>(inter.size()), 1, &installed) <= 10;
  if (root) talDeleteCertificate(root);
  for (int32_t option : {12, 27, 23}) ok = ok && talSetOption(ctx, option, 0) <= 10;
  ok = ok && talSetOption(ctx, 18, 1) <= 10 && talAuthenticateEx(ctx, 0) <= 10;
  if (!ok) {
    talDeinit(ctx);
    return nullptr;
  }
  return ctx;
}

// CPU time of this process (all threads): on a busy machine the wall time alone says little.
double processCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The road's phases, after each of which `mark` is called when given.
enum Phase { LOADED, UNPROTECTED, SAVED, RELEASED, PHASES };

// Load, verify, read the status, save the receipt object: 0 for a verified receipt.
int road(talCtx* ctx, const std::string& receipt, const std::string& object,
         void (*mark)(Phase) = nullptr) {
  auto at = [mark](Phase phase) {
    if (mark) mark(phase);
  };
  tvXmlCtx* xml = nullptr;
  tvXmlDoc* doc = nullptr;
  talMsgInfo* message = nullptr;
  talSigInfo* signature = nullptr;
  int32_t one = 1, status = 0, count = 0;
  if (tvXmlCreateCtx(&xml) > 10) return 1;
  if (tvXmlSetOption(xml, 4, &one, sizeof one) > 10 ||
      tvXmlLoadDocFile(xml, receipt.c_str(), nullptr, &doc) > 10) {
    tvXmlDeleteCtx(xml);
    return 2;
  }
  at(LOADED);
  if (tvXmlUnprotect(ctx, xml, doc, nullptr, &message) > 10) {
    tvXmlDeleteCtx(xml);
    return 2;
  }
  at(UNPROTECTED);
  int rc = 0;
  if (talMsgStatus(message, &status) > 10 || status != 4)
    rc = 3;
  else if (talGetMessageSignature(message, 0, &signature) > 10 ||
           tvXmlGetObjCount(xml, signature, &count) > 10 || count < 1)
    rc = 4;
  else {
    unlink(object.c_str());
    if (tvXmlSaveObjFile(xml, signature, 0, object.c_str()) > 10) rc = 5;
    at(SAVED);
  }
  tvXmlDeleteMsgInfo(message);
  at(RELEASED);
  return rc;
}

// The session opening and the whole road in a fresh (forked) process, in seconds of wall
// time, median of `runs`: the self-tests run there once, as in a user's process (so the
// children are forked before this process opens a session of its own).
ColdRoad coldRoad(const Fixture& f, int runs) {
  void* shared = mmap(nullptr, 2 * sizeof(double), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) return ColdRoad();
  double* times = static_cast<double*>(shared);
  std::vector<double> sessions, roads;
  for (int i = 0; i < runs; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      auto start = std::chrono::steady_clock::now();
      talCtx* ctx = openSession(f.data);
      auto opened = std::chrono::steady_clock::now();
      int rc = ctx ? road(ctx, f.sample, f.dir + "/cold-object.xml") : 10;
      if (ctx) talDeinit(ctx);
      auto end = std::chrono::steady_clock::now();
      times[0] = std::chrono::duration<double>(opened - start).count();
      times[1] = std::chrono::duration<double>(end - start).count();
      _exit(rc);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
      break;
    sessions.push_back(times[0]);
    roads.push_back(times[1]);
  }
  munmap(shared, 2 * sizeof(double));
  ColdRoad cold;
  if (sessions.size() != static_cast<size_t>(runs)) return cold;
  std::sort(sessions.begin(), sessions.end());
  std::sort(roads.begin(), roads.end());
  cold.sessionSeconds = sessions[sessions.size() / 2];
  cold.roadSeconds = roads[roads.size() / 2];
  return cold;
}

Fixture& fixture() {
  static Fixture f;
  static bool made = false;
  if (made) return f;
  made = true;
  f.data = TAL_UPO_DATA;
  char dir[] = "/tmp/bench_upo.XXXXXX";
  if (!mkdtemp(dir)) {
    f.error = "mkdtemp";
    return f;
  }
  f.dir = dir;
  // The library's registry and per-user folder in the scratch folder: a session stores its
  // configuration there, and the user's own must neither change nor decide the run.
  setenv("TALVORIN_REGISTRY_ROOT", (f.dir + "/registry").c_str(), 1);
  setenv("XDG_DATA_HOME", (f.dir + "/data").c_str(), 1);
  f.sample = f.data + "/upo.xml";
  f.xmlsecSample = f.dir + "/upo-xmlsec.xml";
  if (!writeXmlsecCopy(f.data, f.sample, f.xmlsecSample)) {
    f.error = "xmlsec1 copies";
    return f;
  }
  const char* shapes[2] = {"elements", "text"};
  for (int shape = 0; shape < 2; ++shape) {
    f.big[shape] = f.dir + "/upo-10MB-" + shapes[shape] + ".xml";
    f.xmlsecBig[shape] = f.dir + "/upo-10MB-" + shapes[shape] + "-xmlsec.xml";
    if (std::system((f.data + "/make_upo.sh --big " + f.big[shape] + " 10 " + shapes[shape]).c_str()) !=
        0) {
      f.error = "make_upo.sh --big failed";
      return f;
    }
    if (!writeXmlsecCopy(f.data, f.big[shape], f.xmlsecBig[shape])) {
      f.error = "xmlsec1 copies";
      return f;
    }
  }
  f.cold = coldRoad(f, 11);
  if (f.cold.sessionSeconds < 0) {
    f.error = "the road in a fresh process failed";
    return f;
  }
  f.session = openSession(f.data);
  if (!f.session) f.error = "the session could not be opened";
  return f;
}

using talbench::ProcessRun;

// One `xmlsec1 --verify` process with the trust of our session.
ProcessRun runXmlsec(const Fixture& f, const std::string& path) {
  const std::string root = f.data + "/pki/root.pem", inter = f.data + "/pki/intermediate.pem";
  const char* argv[] = {"xmlsec1", "--verify", "--trusted-pem", root.c_str(), "--trusted-pem",
                        inter.c_str(), "--id-attr:Id", "Object", "--id-attr:Id",
                        "SignedProperties", path.c_str(), nullptr};
  return talbench::runQuiet(argv);
}

void BM_ours(benchmark::State& state) {
  Fixture& f = fixture();
  if (!f.error.empty()) {
    state.SkipWithError(f.error.c_str());
    return;
  }
  const std::string object = f.dir + "/object.xml";
  double wall = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    double cpuStart = processCpuSeconds();
    int rc = road(f.session, f.sample, object);
    state.SetIterationTime(processCpuSeconds() - cpuStart);
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (rc != 0) {
      state.SkipWithError(("the road failed at step " + std::to_string(rc)).c_str());
      break;
    }
  }
  if (state.iterations() > 0) state.counters["wall_ms"] = 1e3 * wall / state.iterations();
  state.counters["session_open_ms"] = 1e3 * f.cold.sessionSeconds;
  state.counters["cold_road_ms"] = 1e3 * f.cold.roadSeconds;
}

// The whole process of one side, by its processor time.
void timeProcess(benchmark::State& state, const std::function<ProcessRun()>& run,
                 const char* failure) {
  Fixture& f = fixture();
  if (!f.error.empty()) {
    state.SkipWithError(f.error.c_str());
    return;
  }
  double wall = 0;
  for (auto _ : state) {
    ProcessRun one = run();
    if (!one.ok) {
      state.SkipWithError(failure);
      break;
    }
    state.SetIterationTime(one.cpuSeconds);
    wall += one.seconds;
  }
  if (state.iterations() > 0) state.counters["wall_ms"] = 1e3 * wall / state.iterations();
}

void BM_oursProcess(benchmark::State& state) {
  timeProcess(
      state,
      [] {
        const Fixture& f = fixture();
        const std::string declaration = f.data + "/deklaracja.xml", roots = f.data + "/roots";
        const char* argv[] = {TAL_VERIFY_UPO, "--offline", f.sample.c_str(),
                              declaration.c_str(), roots.c_str(), nullptr};
        return talbench::runQuiet(argv);
      },
      "verify_upo --offline did not exit 0");
}

void BM_xmlsec1(benchmark::State& state) {
  timeProcess(
      state, [] { return runXmlsec(fixture(), fixture().xmlsecSample); },
      "xmlsec1 --verify failed");
}

// The child's peak resident size (kB) after each phase, in memory shared with the parent.
long* phasePeaks = nullptr;

long peakResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 6, "VmHWM:") == 0) return std::atol(line.c_str() + 6);
  return 0;
}

void markPhase(Phase phase) { phasePeaks[phase] = peakResidentKb(); }

// A forked child starts with the benchmark's own resident memory, free heap included, which
// the road would reuse unseen: that goes back to the system and the peak starts again from
// what is left, as in a process of its own.
void startFresh() {
  malloc_trim(0);
  std::ofstream("/proc/self/clear_refs") << "5";
}

// Peak resident sizes in MB for a 10 MB receipt of one shape: ours (a child that opens the
// session and runs the road once) with its peak after each phase, ours without the road
// (the session alone), and xmlsec1.
void BM_memory(benchmark::State& state, int shape) {
  Fixture& f = fixture();
  if (!f.error.empty()) {
    state.SkipWithError(f.error.c_str());
    return;
  }
  void* shared = mmap(nullptr, sizeof(long) * PHASES, PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) {
    state.SkipWithError("mmap");
    return;
  }
  phasePeaks = static_cast<long*>(shared);
  std::memset(phasePeaks, 0, sizeof(long) * PHASES);
  auto child = [&](bool withRoad) -> ProcessRun {
    ProcessRun run;
    pid_t pid = fork();
    if (pid == 0) {
      startFresh();
      talCtx* ctx = openSession(f.data);
      int rc = !ctx ? 10
               : withRoad ? road(ctx, f.big[shape], f.dir + "/big-object.xml", markPhase)
                          : 0;
      _exit(rc);
    }
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return run;
    run.peakKb = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
  };
  for (auto _ : state) {
    ProcessRun ours = child(true), session = child(false),
               xmlsec = runXmlsec(f, f.xmlsecBig[shape]);
    if (!ours.ok || !session.ok || !xmlsec.ok) {
      state.SkipWithError(!ours.ok ? "our road failed on the 10 MB receipt"
                                   : !session.ok ? "the session failed" : "xmlsec1 failed");
      break;
    }
    struct stat st {};
    stat(f.big[shape].c_str(), &st);
    state.counters["doc_MB"] = static_cast<double>(st.st_size) / (1 << 20);
    state.counters["ours_peak_MB"] = ours.peakKb / 1024.0;
    state.counters["ours_session_MB"] = session.peakKb / 1024.0;
    state.counters["xmlsec1_peak_MB"] = xmlsec.peakKb / 1024.0;
    state.counters["ours_road_over_doc"] =
        (ours.peakKb - session.peakKb) * 1024.0 / static_cast<double>(st.st_size);
    const char* names[PHASES] = {"after_load_MB", "after_unprotect_MB", "after_save_MB",
                                 "after_release_MB"};
    for (int phase = 0; phase < PHASES; ++phase)
      state.counters[names[phase]] = phasePeaks[phase] / 1024.0;
  }
  munmap(shared, sizeof(long) * PHASES);
  phasePeaks = nullptr;
}

// The same settings on both sides, so the ratio table pairs them.
BENCHMARK(BM_oursProcess)
    ->Name("ours/receipt_whole_process_offline")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(BM_xmlsec1)
    ->Name("xmlsec1/receipt_whole_process_offline")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(BM_ours)
    ->Name("ours/receipt_road_warm_in_open_session")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_memory, elements, 0)
    ->Name("memory/receipt_10MB_elements_peak")
    ->Iterations(1)
    ->Repetitions(1);
BENCHMARK_CAPTURE(BM_memory, text, 1)
    ->Name("memory/receipt_10MB_text_peak")
    ->Iterations(1)
    ->Repetitions(1);

[[maybe_unused]] const bool noted = talbench::note(
    "receipt_whole_process_offline: processor time of a whole process on each side "
    "(ours: verify_upo --offline, self-tests included; xmlsec1: xmlsec1 --verify).\n"
    "receipt_road_warm_in_open_session: our road alone in a session opened before the clock "
    "runs (processor time); not comparable with a process, so no ratio.");

}  // namespace

TAL_BENCH_MAIN()

// The plug-in's step against the system call it cannot avoid, side by side
// in one process: what a step costs as a multiple of a bare sendto of the
// same bytes (and of getaddrinfo + sendto for a host name).
//
// Absolute times of a loopback sendto swing by tens of percent with the
// machine's state, so a step and its bare counterpart are timed close
// together, many times over, and only their ratio is kept. Each repetition
// times one block of every kind; the order of the kinds is rotated from one
// repetition to the next, so no kind always follows the same neighbour; the
// receiver is drained before each block, so every block meets an empty
// receive queue; the result is the median of the per-repetition ratios, with
// their quartiles as the spread.
//
// The plug-in is the real library, loaded as a host loads it, and driven
// through its exports: `SimulateDLL2` on a block set up by its own
// parameter section. Prints the figures; a benchmark never fails on them.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/bare_send.h"
#include "host/block.h"
#include "host/plugin.h"
#include "system/resources.h"
#include "system/udp_probe.h"

namespace {

struct Options {
  int repetitions = 300;
  int block = 100;  // calls per block: below what the receive buffer holds
  std::string plugin;
  std::string against;  // another build of the plug-in, timed next to this one
};

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: sv_side_by_side [--repetitions N] [--block N] [--smoke] [--plugin PATH]\n"
               "                       [--against PATH]\n"
               "  --smoke    a few short repetitions: checks that the benchmark runs\n"
               "  --against  also time the steps of another build of the plug-in, and\n"
               "             print this one's steps as a multiple of that one's\n");
  std::exit(2);
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage();
      return argv[++i];
    };
    if (a == "--repetitions") o.repetitions = std::atoi(value().c_str());
    else if (a == "--block") o.block = std::atoi(value().c_str());
    else if (a == "--plugin") o.plugin = value();
    else if (a == "--against") o.against = value();
    else if (a == "--smoke") {
      o.repetitions = 5;
      o.block = 20;
    } else usage();
  }
  if (o.repetitions < 1 || o.block < 1) usage();
  return o;
}

// The input-value array: 80-bit values 1 + k/64 (k = 0..63, repeating), each exact.
std::vector<unsigned char> input_values() {
  std::vector<unsigned char> v(svhost::kMaxInputValues * svhost::kExt80Size, 0);
  for (int i = 0; i < svhost::kMaxInputValues; ++i) {
    std::uint64_t significand = (1ULL << 63) | (static_cast<std::uint64_t>(i & 63) << 57);
    std::uint16_t sign_exponent = 0x3FFF;
    std::memcpy(&v[i * svhost::kExt80Size], &significand, 8);
    std::memcpy(&v[i * svhost::kExt80Size + 8], &sign_exponent, 2);
  }
  return v;
}

// One block of the plug-in in a run, stepped straight through the export as
// a host's simulation loop does.
class Stepper {
 public:
  Stepper(const svhost::Plugin& plugin, const std::string& address, std::uint16_t port, int inputs,
          const std::vector<unsigned char>& values)
      : block_(plugin), values_(values), step_(plugin.exports().SimulateDLL2) {
    check(block_.init(), "InitUserDLL");
    svhost::SectionValues section;
    section.address = address;
    section.port = port;
    section.inputs = inputs;
    section.data_type = 0;  // double
    check(svhost::configure(block_, section), "ReadFromFile");
    check(block_.start_run(values_.data()), "InitSimulationDLL");
  }
  ~Stepper() { block_.end_run(); }

  void run(int count) {
    unsigned char* record = block_.record();
    const unsigned char* values = values_.data();
    for (int i = 0; i < count; ++i) step_(0, 0, 0, 0, 0, 0, record, values, 0);
  }
  // A failed step returns normally in the native build; the win32 build
  // raises, which ends the program.
  bool failed() const { return block_.plugin().last_failure(nullptr, 0) != 0; }

 private:
  static void check(const svhost::CallResult& r, const char* what) {
    if (!r) throw std::runtime_error(std::string(what) + ": " + r.failure);
  }

  svhost::Block block_;
  const std::vector<unsigned char>& values_;
  SimulateDLL2_fn step_;
};

struct Kind {
  std::string name;
  std::function<void(int)> run;
  std::function<bool()> failed;  // asked after each block, outside its time
  std::vector<double> ns_per_call;
};

struct Comparison {
  std::string title;
  std::size_t step, bare;
};

double quantile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  const double pos = q * static_cast<double>(v.size() - 1);
  const std::size_t lo = static_cast<std::size_t>(pos);
  const std::size_t hi = std::min(lo + 1, v.size() - 1);
  return v[lo] + (v[hi] - v[lo]) * (pos - static_cast<double>(lo));
}

int run(const Options& options) {
  const std::string path = options.plugin.empty() ? svhost::default_plugin_path() : options.plugin;
  std::unique_ptr<svhost::Plugin> plugin = svhost::Plugin::load(path);
  svhost::UdpProbe receiver;
  const std::uint16_t port = receiver.port();
  const std::vector<unsigned char> values = input_values();
  const std::string name = bench::loopback_name();

  Stepper step50(*plugin, "127.0.0.1", port, 50, values);
  Stepper step1(*plugin, "127.0.0.1", port, 1, values);
  std::unique_ptr<Stepper> step_name;
  if (!name.empty()) step_name = std::make_unique<Stepper>(*plugin, name, port, 50, values);
  bench::BareSocket bound(true), unbound(false);
  unsigned char frame400[400] = {0}, frame8[8] = {0};

  auto stepper = [](Stepper& s) { return [&s](int n) { s.run(n); }; };
  auto step_failed = [](Stepper& s) { return [&s] { return s.failed(); }; };
  auto bare = [&](bench::BareSocket& socket, const unsigned char* frame, std::size_t size) {
    return [&socket, frame, size, port](int n) { socket.send_loop(frame, size, port, n); };
  };
  auto bare_failed = [](bench::BareSocket& socket) {
    return [&socket] { return socket.failures() != 0; };
  };

  std::vector<Kind> kinds;
  kinds.push_back({"step 50 doubles", stepper(step50), step_failed(step50), {}});
  kinds.push_back({"sendto 400 B, bound", bare(bound, frame400, 400), bare_failed(bound), {}});
  kinds.push_back(
      {"sendto 400 B, unbound", bare(unbound, frame400, 400), bare_failed(unbound), {}});
  kinds.push_back({"step 1 double", stepper(step1), step_failed(step1), {}});
  kinds.push_back({"sendto 8 B, bound", bare(bound, frame8, 8), bare_failed(bound), {}});
  kinds.push_back({"sendto 8 B, unbound", bare(unbound, frame8, 8), bare_failed(unbound), {}});
  std::vector<Comparison> comparisons = {
      {"step 50 doubles to 127.0.0.1 / sendto 400 B, bound socket", 0, 1},
      {"step 50 doubles to 127.0.0.1 / sendto 400 B, unbound socket", 0, 2},
      {"step 1 double to 127.0.0.1 / sendto 8 B, bound socket", 3, 4},
      {"step 1 double to 127.0.0.1 / sendto 8 B, unbound socket", 3, 5},
  };
  if (step_name) {
    kinds.push_back(
        {"step 50 doubles to a name", stepper(*step_name), step_failed(*step_name), {}});
    kinds.push_back({"getaddrinfo + sendto 400 B",
                     [&](int n) { bound.lookup_send_loop(name, frame400, 400, port, n); },
                     bare_failed(bound),
                     {}});
    comparisons.push_back({"step 50 doubles to \"" + name + "\" / getaddrinfo + sendto 400 B",
                           kinds.size() - 2, kinds.size() - 1});
  }

  std::unique_ptr<svhost::Plugin> other;
  std::unique_ptr<Stepper> other50, other1;
  if (!options.against.empty()) {
    other = svhost::Plugin::load(options.against);
    other50 = std::make_unique<Stepper>(*other, "127.0.0.1", port, 50, values);
    other1 = std::make_unique<Stepper>(*other, "127.0.0.1", port, 1, values);
    kinds.push_back({"step 50 doubles, other build", stepper(*other50), step_failed(*other50), {}});
    comparisons.push_back(
        {"step 50 doubles / the same step of the other build", 0, kinds.size() - 1});
    kinds.push_back({"step 1 double, other build", stepper(*other1), step_failed(*other1), {}});
    comparisons.push_back(
        {"step 1 double / the same step of the other build", 3, kinds.size() - 1});
  }

  std::printf("UDPSV2Simulink: a step against a bare sendto, side by side\n");
  std::printf("plug-in     %s\n", path.c_str());
  if (other) std::printf("against     %s\n", options.against.c_str());
  std::printf(
      "method      %d repetitions of %zu blocks x %d calls, order rotated per repetition,\n"
      "            receiver drained before each block, median of per-repetition ratios\n",
      options.repetitions, kinds.size(), options.block);
  if (name.empty())
    std::printf("name        none: this machine's name does not resolve into 127.0.0.0/8\n");
  const std::string load_before = svhost::machine_load();
  if (!load_before.empty()) std::printf("before      %s\n", load_before.c_str());
  std::fflush(stdout);

  receiver.drain(0);
  const std::size_t received_before = receiver.received();
  std::string failed_kind;
  using Clock = std::chrono::steady_clock;
  // Repetition 0 warms up and is not kept.
  for (int rep = 0; rep <= options.repetitions; ++rep) {
    for (std::size_t j = 0; j < kinds.size(); ++j) {
      Kind& kind = kinds[(static_cast<std::size_t>(rep) + j) % kinds.size()];
      receiver.drain(0);
      const Clock::time_point t0 = Clock::now();
      kind.run(options.block);
      const Clock::time_point t1 = Clock::now();
      if (rep > 0)
        kind.ns_per_call.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() /
                                   options.block);
      if (failed_kind.empty() && kind.failed()) failed_kind = kind.name;
    }
  }
  receiver.drain(0);
  // Datagrams the receive queue could not take: a block too long for it.
  const long lost =
      static_cast<long>(options.repetitions + 1) * static_cast<long>(kinds.size()) * options.block -
      static_cast<long>(receiver.received() - received_before);

  std::printf("\n%-66s %7s  %s\n", "comparison", "median", "quartiles");
  for (const Comparison& c : comparisons) {
    std::vector<double> ratios;
    const Kind& s = kinds[c.step];
    const Kind& b = kinds[c.bare];
    for (std::size_t r = 0; r < s.ns_per_call.size(); ++r)
      ratios.push_back(s.ns_per_call[r] / b.ns_per_call[r]);
    std::printf("%-66s %7.3f  %.3f .. %.3f\n", c.title.c_str(), quantile(ratios, 0.5),
                quantile(ratios, 0.25), quantile(ratios, 0.75));
  }
  std::printf("\n%-66s %7s\n", "ns per call", "median");
  for (const Kind& k : kinds)
    std::printf("%-66s %7.0f\n", k.name.c_str(), quantile(k.ns_per_call, 0.5));

  // Allocations per step, counted over steps outside the timed blocks.
  if (svhost::allocations() >= 0) {
    Stepper localhost(*plugin, "LOCALHOST", port, 50, values);
    auto per_step = [&](Stepper& s) {
      receiver.drain(0);
      const long before = svhost::allocations();
      s.run(options.block);
      const long after = svhost::allocations();
      return static_cast<double>(after - before) / options.block;
    };
    std::printf("\nheap allocations per step: 127.0.0.1 %.2f, LOCALHOST %.2f", per_step(step50),
                per_step(localhost));
    if (step_name) std::printf(", a name %.2f (the system's lookup)", per_step(*step_name));
    std::printf("\n");
    receiver.drain(0);
  } else {
    std::printf("\nheap allocations per step: not counted in this build\n");
  }

  const std::string load_after = svhost::machine_load();
  if (!load_after.empty()) std::printf("after       %s\n", load_after.c_str());
  if (lost > 0) std::printf("note        %ld datagrams did not reach the receiver\n", lost);
  if (!failed_kind.empty()) {
    std::printf("error       a call of \"%s\" failed\n", failed_kind.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(parse(argc, argv));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sv_side_by_side: %s\n", e.what());
    return 1;
  }
}

// Hot-loop figures of a step and its parts: a step with 50 doubles and one
// bare sendto of the same 400 bytes, a step to a host name and getaddrinfo +
// sendto, the step with sendto stubbed, and the conversion of 50 values per
// type. Run back to back, the code and data stay in the caches, which they
// do not between the steps of a real run: the step's cost as a multiple of a
// sendto is sv_side_by_side's to measure.
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/bare_send.h"
#include "plugin/seam/step_seam.h"
#include "system/udp_probe.h"
#include "udpsv_exports.h"

namespace {

// A sink on 127.0.0.1 that nobody reads: the kernel drops what overflows its
// buffer, which costs the sender nothing.
using Sink = svhost::UdpProbe;

std::vector<unsigned char> inputs(int n) {
  std::vector<unsigned char> v(static_cast<std::size_t>(n) * 10, 0);
  for (int i = 0; i < n; ++i) {
    // 1 + i/64 as an exact 80-bit value.
    std::uint64_t sig = (1ULL << 63) | (static_cast<std::uint64_t>(i) << 57);
    std::uint16_t se = 0x3FFF;
    std::memcpy(&v[i * 10], &sig, 8);
    std::memcpy(&v[i * 10 + 8], &se, 2);
  }
  return v;
}

// As loopback_name(), marking the benchmark skipped when there is none.
std::string loopback_name_or_skip(benchmark::State& state) {
  std::string name = bench::loopback_name();
  if (name.empty()) {
    state.SkipWithError("the host name does not resolve into 127.0.0.0/8");
    for (auto _ : state) {}
  }
  return name;
}

namespace seam = sv::step_seam;

void run_steps(benchmark::State& state, const std::string& host) {
  seam::start_library();
  Sink sink;
  std::vector<unsigned char> record(8192, 0);
  InitUserDLL(record.data());
  seam::configure(record.data(), host, sink.port(), 50);
  auto in = inputs(50);
  InitSimulationDLL(record.data(), in.data(), 0);
  for (auto _ : state) {
    SimulateDLL2(0, 0, 0, 0, 0, 0, record.data(), in.data(), 0);
  }
  if (GetLastFailureDLL(nullptr, 0) != 0) state.SkipWithError("step failed");
  EndSimulationDLL2(record.data());
  DisposeUserDLL(record.data());
  state.SetItemsProcessed(state.iterations());
}

void BM_StepDottedAddress(benchmark::State& state) { run_steps(state, "127.0.0.1"); }

// The step's own work, with the platform's sendto replaced by a stub: what
// the plug-in adds on top of the system call.
void BM_StepWithoutSendto(benchmark::State& state) {
  seam::stub_sendto(true);
  run_steps(state, "127.0.0.1");
  seam::stub_sendto(false);
}

// The same sendto with nothing of the sender around it.
void BM_BareSendto400(benchmark::State& state) {
  Sink sink;
  bench::BareSocket socket(state.range(0) != 0);  // bound as the sender binds, or not
  unsigned char frame[400] = {0};
  for (auto _ : state) socket.send_loop(frame, sizeof frame, sink.port(), 1);
  if (socket.failures() != 0) state.SkipWithError("sendto failed");
  state.SetItemsProcessed(state.iterations());
}

void BM_StepHostName(benchmark::State& state) {
  std::string name = loopback_name_or_skip(state);
  if (name.empty()) return;
  run_steps(state, name);
}

void BM_GetaddrinfoSendto400(benchmark::State& state) {
  std::string name = loopback_name_or_skip(state);
  if (name.empty()) return;
  Sink sink;
  bench::BareSocket socket(false);
  unsigned char frame[400] = {0};
  for (auto _ : state) socket.lookup_send_loop(name, frame, sizeof frame, sink.port(), 1);
  if (socket.failures() != 0) state.SkipWithError("lookup or sendto failed");
  state.SetItemsProcessed(state.iterations());
}

void BM_ConvertFiftyValues(benchmark::State& state) {
  auto in = inputs(50);
  const auto type = static_cast<std::int32_t>(state.range(0));
  state.SetLabel(seam::data_type_name(type));
  for (auto _ : state) {
    benchmark::DoNotOptimize(seam::convert(50, type, in.data()));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 50);
}

void each_data_type(benchmark::internal::Benchmark* b) {
  for (std::int32_t code = 0; code < seam::data_type_count(); ++code) b->Arg(code);
}

}  // namespace

BENCHMARK(BM_StepDottedAddress);
BENCHMARK(BM_StepWithoutSendto);
BENCHMARK(BM_BareSendto400)->Arg(0)->Arg(1);
BENCHMARK(BM_StepHostName);
BENCHMARK(BM_GetaddrinfoSendto400);
BENCHMARK(BM_ConvertFiftyValues)->Apply(each_data_type);

BENCHMARK_MAIN();

#include "host/simulation.h"

#include <vector>

#include "system/clock.h"
#include "system/host_error.h"

namespace svhost {

RunReport run_simulation(Block& block, const SignalSet& signals, const RunOptions& options,
                         const ProgressFn& progress, const FailureFn& on_failure) {
  RunReport report;
  IoInfo io;
  if (CallResult r = block.query_io(&io); !r)
    throw HostError("GetNumberOfInputsOutputs2 failed: " + r.failure);
  report.inputs = io.inputs;

  const double dt = options.dt > 0 ? options.dt : options.period > 0 ? options.period : 0.01;
  const std::int64_t period_ns = static_cast<std::int64_t>(options.period * 1e9);
  std::vector<unsigned char> values(kMaxInputValues * kExt80Size, 0);

  const std::int64_t start = clock::now_ns();
  std::int64_t next_report = start + 1000000000;
  auto record = [&](std::uint64_t step, const CallResult& r) {
    ++report.calls;
    if (r) {
      ++report.succeeded;
      return true;
    }
    ++report.failures;
    StepFailure f{step, r.failure};
    ++report.failure_texts[f.text];
    if (on_failure) on_failure(f);
    if (report.failure_list.size() < options.failures_kept)
      report.failure_list.push_back(std::move(f));
    return false;
  };

  signals.fill(0.0, io.inputs, values.data());
  bool go_on = record(0, block.start_run(values.data())) || !options.stop_on_failure;
  for (std::uint64_t k = 1; go_on && k <= options.steps; ++k) {
    if (period_ns > 0) clock::sleep_until_ns(start + period_ns * static_cast<std::int64_t>(k));
    signals.fill(dt * static_cast<double>(k), io.inputs, values.data());
    go_on = record(k, block.step(values.data())) || !options.stop_on_failure;
    if (progress) {
      std::int64_t now = clock::now_ns();
      if (now >= next_report) {
        next_report = now + 1000000000;
        progress({report.calls, report.failures, (now - start) / 1e9});
      }
    }
  }
  report.stopped_early = !go_on && report.calls < options.steps + 1;
  report.end = block.end_run();
  report.elapsed = (clock::now_ns() - start) / 1e9;
  return report;
}

}  // namespace svhost

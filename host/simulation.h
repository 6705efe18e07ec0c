// A simulation run of one block: InitSimulationDLL, SimulateDLL2 per step,
// EndSimulationDLL2, with the input values from a SignalSet.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/block.h"
#include "host/signals.h"

namespace svhost {

struct RunOptions {
  std::uint64_t steps = 100;         // SimulateDLL2 calls after the run start
  double period = 0.0;               // wall-clock seconds between steps; 0: no pause
  double dt = 0.0;                   // simulation time per step; 0: period, or 0.01 if that is 0
  bool stop_on_failure = false;      // end the run at the first failing call
  std::size_t failures_kept = 1000;  // StepFailure records kept in the report
};

struct StepFailure {
  std::uint64_t step;  // 0: the run start (InitSimulationDLL)
  std::string text;
};

struct RunProgress {
  std::uint64_t steps_done;  // calls made, run start included
  std::uint64_t failures;
  double elapsed;  // seconds
};

struct RunReport {
  int inputs = 0;               // count the block reported
  std::uint64_t calls = 0;      // run start + steps made
  std::uint64_t succeeded = 0;  // of them, calls that returned normally
  std::uint64_t failures = 0;
  std::vector<StepFailure> failure_list;               // the first failures_kept
  std::map<std::string, std::uint64_t> failure_texts;  // count per text
  bool stopped_early = false;
  CallResult end;        // EndSimulationDLL2
  double elapsed = 0.0;  // seconds, run start to run end
  double steps_per_second() const { return elapsed > 0 ? calls / elapsed : 0.0; }
};

using ProgressFn = std::function<void(const RunProgress&)>;
using FailureFn = std::function<void(const StepFailure&)>;

// Runs the block. `progress` is called about once a second; `on_failure` for
// every failing call. The input count comes from GetNumberOfInputsOutputs2;
// throws HostError if that fails.
RunReport run_simulation(Block& block, const SignalSet& signals, const RunOptions& options,
                         const ProgressFn& progress = {}, const FailureFn& on_failure = {});

}  // namespace svhost

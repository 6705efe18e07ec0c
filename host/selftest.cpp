#include "host/selftest.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "host/block.h"
#include "host/plugin.h"
#include "host/signals.h"
#include "receiving/frame_decode.h"
#include "system/clock.h"
#include "system/console.h"
#include "system/dynlib.h"
#include "system/files.h"
#include "system/host_error.h"
#include "system/selftest_system.h"
#include "system/udp_probe.h"

namespace svhost::selftest {
namespace {

using sv::console::format;
using sv::recv::Value;
using sv::recv::ValueType;

constexpr const char* kLoopback = "127.0.0.1";
// A name that no resolver takes: its empty label makes every resolver
// refuse it before it asks a name server, so the check stays on this PC,
// and .invalid is never resolved anywhere.
constexpr const char* kUnresolvableName = "udpsv-selftest..invalid";
// Steps of each run after its start: every run sends kSteps + 1 frames.
constexpr int kSteps = 10;
// Longest wait for one frame on the loopback; a loaded PC takes far less.
constexpr int kFrameTimeoutMs = 5000;
// The x87 control word the plug-in's start-up sets for the loading thread;
// bit 6 is reserved and may read as 1.
constexpr std::uint16_t kStartupControlWord = 0x1332;
constexpr std::uint16_t kReservedBit = 0x40;

constexpr const char* kPluginLabel = "plug-in";
constexpr const char* kNameLabel = "unresolvable name";
constexpr const char* kNoReceiverLabel = "no receiver";
constexpr const char* kFpuLabel = "x87 control word";
constexpr const char* kReloadLabel = "load and unload twice";
constexpr const char* kLookupLabel = "name lookup";

std::uint16_t control_word() {
  std::uint16_t cw;
  asm volatile("fnstcw %0" : "=m"(cw));
  return cw;
}

// Flags first, so that the word never unmasks one that is set.
void set_control_word(std::uint16_t cw) { asm volatile("fnclex\n\tfldcw %0" : : "m"(cw)); }

// One line of text from a failure, whose lines the plug-in ends with CR LF.
std::string one_line(std::string text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') continue;
    out += c == '\n' ? ' ' : c;
  }
  return out;
}

// An input value and what a receiver must decode from the frame for it,
// chosen so that every byte of the frame matters: signs of zero, rounding to
// single, ties to even and the wrap of int32, the threshold of boolean.
struct Known {
  double input;
  Value expected;
};

std::vector<Known> known_values(ValueType type) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  switch (type) {
    case ValueType::Double: {
      std::vector<Known> k;
      for (double v : {1.0, -0.0, 0.1, -2.5, 1e300, 5e-324, kInf, -kInf, 123456789.123456789,
                       -1.7976931348623157e308})
        k.push_back({v, Value{v}});
      return k;
    }
    case ValueType::Single: {
      // Rounded to nearest by the processor's SSE unit, not the plug-in's
      // x87 path.
      std::vector<Known> k;
      for (double v :
           {0.1, -0.0, 1.5, -2.5, 3.4028234663852886e38, 1e-45, 16777217.0, kInf, 1.0 / 3.0})
        k.push_back({v, Value{static_cast<float>(v)}});
      return k;
    }
    case ValueType::Int32:
      return {{1.0, Value{std::int64_t{1}}},
              {-2.5, Value{std::int64_t{-2}}},
              {3.5, Value{std::int64_t{4}}},
              {0.5, Value{std::int64_t{0}}},
              {-0.5, Value{std::int64_t{0}}},
              {1.5, Value{std::int64_t{2}}},
              {2147483648.0, Value{std::int64_t{-2147483648}}},
              {4294967295.0, Value{std::int64_t{-1}}},
              {4294967296.0, Value{std::int64_t{0}}},
              {-2147483649.0, Value{std::int64_t{2147483647}}},
              {-0.0, Value{std::int64_t{0}}},
              {2147483647.0, Value{std::int64_t{2147483647}}}};
    case ValueType::Boolean:
      return {{0.5, Value{true}},    {0.0, Value{false}},  {-0.0, Value{false}},
              {-1.0, Value{false}},  {kInf, Value{true}},  {-kInf, Value{false}},
              {1e-300, Value{true}}, {5e-324, Value{true}}};
  }
  return {};
}

// Bit for bit: -0 and 0 differ, and so do NaNs of different payloads.
bool same(const Value& a, const Value& b) {
  if (a.index() != b.index()) return false;
  if (const double* x = std::get_if<double>(&a))
    return std::memcmp(x, &std::get<double>(b), sizeof *x) == 0;
  if (const float* x = std::get_if<float>(&a))
    return std::memcmp(x, &std::get<float>(b), sizeof *x) == 0;
  return a == b;
}

// Every export call of the self-test goes through here, which watches the
// calling thread's x87 control word around it.
class Calls {
 public:
  template <class F>
  CallResult operator()(const char* what, F&& call) {
    const std::uint16_t before = control_word();
    CallResult r = call();
    const std::uint16_t after = control_word();
    ++count_;
    if (before != after && changed_.empty())
      changed_ = format("%s changed it from 0x%04X to 0x%04X", what, before, after);
    if (before != after) set_control_word(before);
    return r;
  }
  int count() const { return count_; }
  const std::string& changed() const { return changed_; }

 private:
  int count_ = 0;
  std::string changed_;
};

Check failed(const char* label, std::string seen) { return {label, std::move(seen), false}; }
Check skipped(const char* label, std::string seen) { return {label, std::move(seen), false, true}; }

// The input-value array of a step: `values` rotated by `step`, so that every
// frame of a run differs from the one before.
std::vector<unsigned char> input_array(const std::vector<Known>& values, int step) {
  std::vector<unsigned char> inputs(kMaxInputValues * kExt80Size, 0);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const Ext80 v = ext80_from_double(values[(i + step) % values.size()].input);
    std::memcpy(&inputs[i * kExt80Size], v.data(), kExt80Size);
  }
  return inputs;
}

// The version a block writes into a model file: the first line of a new
// block's section.
std::string section_version(const Plugin& plugin, Calls& calls, std::string* error) {
  Block block(plugin);
  CallResult r = calls("InitUserDLL", [&] { return block.init(); });
  std::string bytes;
  if (r) r = calls("WriteToFile", [&] { return block.save_section(&bytes); });
  if (block.initialised()) calls("DisposeUserDLL", [&] { return block.dispose(); });
  if (!r) {
    *error = one_line(r.failure);
    return {};
  }
  return bytes.substr(0, bytes.find('\r'));
}

Check check_plugin(const Options& options, Calls& calls, std::unique_ptr<Plugin>* loaded) {
  const std::string& path = options.plugin;
  if (std::FILE* f = sv::files::open(path, "rb")) {
    std::fclose(f);
  } else if (errno == EACCES || errno == EPERM) {
    // The host runs as the same user and cannot read it either.
    return failed(kPluginLabel, path + " cannot be read: " + std::strerror(errno) +
                                    ": this user may not read the file or its folder");
  } else if (options.plugin_beside) {
    // Most often the self-test was started from the ZIP file's own window,
    // which unpacks nothing but the program.
    const std::size_t cut = path.find_last_of(dynlib::path_separators());
    return failed(kPluginLabel, path.substr(cut + 1) + " is not beside the self-test, in " +
                                    path.substr(0, cut) +
                                    ": unpack the whole ZIP file (Extract All), then start the "
                                    "self-test in the unpacked folder");
  } else {
    return failed(kPluginLabel, "no file " + path + ": check the path and the file's name");
  }
  try {
    *loaded = Plugin::load(path);
  } catch (const HostError& e) {
    const std::string meaning = load_failure_meaning(path, e.what());
    return failed(kPluginLabel, e.what() + (meaning.empty() ? "" : ": " + meaning));
  }
  const Plugin& plugin = **loaded;
  const std::string from = dynlib::library_path(plugin.library());
  const std::string file = file_version(from);
  std::string error;
  const std::string section = section_version(plugin, calls, &error);
  if (!error.empty()) return failed(kPluginLabel, from + ": a new block's settings: " + error);
  std::string digits;
  for (char c : file)
    if (c != '.') digits += c;
  std::string seen = from + (file.empty() ? "" : ", file version " + file) + ", writes version " +
                     section + " into model files";
  if (!file.empty() && digits != section) return failed(kPluginLabel, seen + ": the two differ");
  std::string own_digits;
  for (char c : std::string(SV_SELFTEST_VERSION))
    if (c != '.') own_digits += c;
  if (section != own_digits) seen += " (this self-test is " SV_SELFTEST_VERSION ")";
  // It loads here, in a 32-bit program, but perhaps not in the host there.
  const std::string folder = from.substr(0, from.find_last_of(dynlib::path_separators()));
  if (std::string programs = only_64bit_programs(folder); !programs.empty())
    return failed(kPluginLabel, seen + "; but every program beside it is 64-bit (" + programs +
                                    "): a 64-bit host cannot load this 32-bit block");
  return {kPluginLabel, seen, true};
}

// One run of a block of `type` against a loopback receiver, every frame
// decoded by the receiving side's library and compared with what a receiver
// must get.
Check check_frames(const Plugin& plugin, ValueType type, Calls& calls) {
  const std::string label = "frames, " + std::string(sv::recv::value_type_name(type));
  const auto fail = [&](std::string seen) { return Check{label, std::move(seen), false}; };
  const std::vector<Known> values = known_values(type);
  std::unique_ptr<UdpProbe> probe;
  try {
    probe = std::make_unique<UdpProbe>();
  } catch (const HostError& e) {
    return fail(std::string("no loopback receiver: ") + e.what());
  }
  Block block(plugin);
  if (CallResult r = calls("InitUserDLL", [&] { return block.init(); }); !r)
    return fail("a new block failed: " + one_line(r.failure));
  SectionValues settings;
  settings.address = kLoopback;
  settings.port = probe->port();
  settings.inputs = static_cast<std::int64_t>(values.size());
  settings.data_type = static_cast<std::int64_t>(type);
  if (CallResult r = calls("ReadFromFile", [&] { return configure(block, settings); }); !r)
    return fail("its settings were refused: " + one_line(r.failure));
  for (int step = 0; step <= kSteps; ++step) {
    const std::vector<unsigned char> inputs = input_array(values, step);
    CallResult r = step == 0
                       ? calls("InitSimulationDLL", [&] { return block.start_run(inputs.data()); })
                       : calls("SimulateDLL2", [&] { return block.step(inputs.data()); });
    if (!r)
      return fail(step == 0 ? "the run start failed: " + one_line(r.failure)
                            : format("step %d failed: ", step) + one_line(r.failure));
  }
  if (CallResult r = calls("EndSimulationDLL2", [&] { return block.end_run(); }); !r)
    return fail("the run end failed: " + one_line(r.failure));
  calls("DisposeUserDLL", [&] { return block.dispose(); });

  const std::size_t width = sv::recv::value_width(type);
  for (int frame = 0; frame <= kSteps; ++frame) {
    const auto bytes = probe->receive(kFrameTimeoutMs);
    if (!bytes)
      return fail(format("%d of %d frames arrived at %s:%u", frame, kSteps + 1, kLoopback,
                         static_cast<unsigned>(probe->port())));
    const auto decoded = sv::recv::decode_frame(*bytes, type, values.size());
    if (!decoded.ok())
      return fail(format("frame %d of %d: %s", frame + 1, kSteps + 1, decoded.reason.c_str()));
    for (std::size_t i = 0; i < values.size(); ++i) {
      const Value& want = values[(i + frame) % values.size()].expected;
      if (!same(decoded.values[i], want))
        return fail(format("frame %d of %d, input %zu: %s (bytes", frame + 1, kSteps + 1, i + 1,
                           sv::recv::format_value(decoded.values[i]).c_str()) +
                    [&] {
                      std::string hex;
                      for (std::size_t b = 0; b < width; ++b)
                        hex += format(" %02X", (*bytes)[i * width + b]);
                      return hex;
                    }() +
                    "), expected " + sv::recv::format_value(want));
    }
  }
  return {
      label,
      format("%d frames of %zu values (%zu bytes) to %s:%u, decoded as they were sent", kSteps + 1,
             values.size(), values.size() * width, kLoopback, static_cast<unsigned>(probe->port())),
      true};
}

Check check_unresolvable_name(const Plugin& plugin, Calls& calls) {
  Block block(plugin);
  if (CallResult r = calls("InitUserDLL", [&] { return block.init(); }); !r)
    return failed(kNameLabel, "a new block failed: " + one_line(r.failure));
  SectionValues settings;
  settings.address = kUnresolvableName;
  if (CallResult r = calls("ReadFromFile", [&] { return configure(block, settings); }); !r)
    return failed(kNameLabel, "its settings were refused: " + one_line(r.failure));
  const std::vector<unsigned char> inputs(kMaxInputValues * kExt80Size, 0);
  const CallResult r = calls("InitSimulationDLL", [&] { return block.start_run(inputs.data()); });
  char recorded[1024] = "";
  plugin.last_failure(recorded, sizeof recorded);
  calls("EndSimulationDLL2", [&] { return block.end_run(); });
  calls("DisposeUserDLL", [&] { return block.dispose(); });

  const std::string target = format("run start to \"%s\"", kUnresolvableName);
  if (r.ok) return failed(kNameLabel, target + " succeeded, where it must fail");
  if (r.failure.empty()) return failed(kNameLabel, target + " failed without a text");
  const std::string text = one_line(r.failure);
  if (failures_are_raised() && r.raised != SV_FAILURE_EXCEPTION_CODE)
    return failed(kNameLabel, target +
                                  format(" raised 0x%08X, not the plug-in's failure 0x%08X: ",
                                         r.raised, SV_FAILURE_EXCEPTION_CODE) +
                                  text);
  if (failure_text_to_utf8(recorded) != r.failure)
    return failed(kNameLabel, target + " failed with \"" + text +
                                  "\", but GetLastFailureDLL tells \"" +
                                  one_line(failure_text_to_utf8(recorded)) + "\"");
  const std::string how =
      failures_are_raised() ? format(" with structured exception 0x%08X", r.raised) : "";
  return {kNameLabel, target + " failed" + how + ": \"" + text + "\"", true};
}

// Windows may fail a send after an earlier datagram drew an ICMP answer
// that nobody listens; the plug-in turns those reports off.
Check check_no_receiver(const Plugin& plugin, Calls& calls) {
  std::uint16_t port = 0;
  try {
    port = closed_port();
  } catch (const HostError& e) {
    return failed(kNoReceiverLabel, std::string("no free port: ") + e.what());
  }
  Block block(plugin);
  if (CallResult r = calls("InitUserDLL", [&] { return block.init(); }); !r)
    return failed(kNoReceiverLabel, "a new block failed: " + one_line(r.failure));
  SectionValues settings;
  settings.address = kLoopback;
  settings.port = port;
  if (CallResult r = calls("ReadFromFile", [&] { return configure(block, settings); }); !r)
    return failed(kNoReceiverLabel, "its settings were refused: " + one_line(r.failure));
  const std::vector<unsigned char> inputs = input_array(known_values(ValueType::Double), 0);
  std::string failure;
  for (int step = 0; step <= kSteps && failure.empty(); ++step) {
    CallResult r = step == 0
                       ? calls("InitSimulationDLL", [&] { return block.start_run(inputs.data()); })
                       : calls("SimulateDLL2", [&] { return block.step(inputs.data()); });
    if (!r)
      failure = (step == 0 ? std::string("the run start") : format("step %d", step)) +
                " failed: " + one_line(r.failure);
  }
  calls("EndSimulationDLL2", [&] { return block.end_run(); });
  calls("DisposeUserDLL", [&] { return block.dispose(); });
  const std::string target = format("%d frames to %s:%u, where nothing listens", kSteps + 1,
                                    kLoopback, static_cast<unsigned>(port));
  if (!failure.empty()) return failed(kNoReceiverLabel, target + ": " + failure);
  return {kNoReceiverLabel, target + ": every call succeeded", true};
}

// Loading sets the loading thread's word to 0x1332; every call keeps the
// caller's word.
Check check_control_word(std::uint16_t before, std::uint16_t after_load, const Calls& calls) {
  std::string seen = format("loading set this thread's word from 0x%04X to 0x%04X", before,
                            after_load & ~kReservedBit);
  if ((after_load & ~kReservedBit) != kStartupControlWord)
    return failed(kFpuLabel,
                  seen + format(", where the plug-in's start-up sets 0x%04X", kStartupControlWord));
  if (after_load & kReservedBit) seen += format(" (read as 0x%04X)", after_load);
  if (!calls.changed().empty()) return failed(kFpuLabel, seen + "; " + calls.changed());
  return {kFpuLabel, seen + format(", and %d calls of the plug-in kept it", calls.count()), true};
}

// A block with a name looks it up before every frame: the host's step waits
// that long.
Check check_lookup(const std::string& name) {
  const std::int64_t start = clock::now_ns();
  std::string error;
  const std::string address = lookup_ipv4(name, &error);
  const double seconds = static_cast<double>(clock::now_ns() - start) / 1e9;
  if (address.empty())
    return failed(kLookupLabel, format("\"%s\" not found after %.3f s: ", name.c_str(), seconds) +
                                    error + "; a block with this name fails every step");
  return {kLookupLabel,
          format("\"%s\" is %s, found in %.3f s: a block with this name waits that long at every "
                 "step, one with %s not at all",
                 name.c_str(), address.c_str(), seconds, address.c_str()),
          true};
}

// What of the plug-in stays loaded after its unload; empty when nothing.
std::string left_loaded(const std::string& path, bool string_library_before) {
  if (dynlib::is_loaded(path)) return "the plug-in";
  if (!string_library_before && string_library_loaded()) return "the string library it loaded";
  return {};
}

Check check_reload(const std::string& path, std::unique_ptr<Plugin> plugin,
                   bool string_library_before) {
  plugin.reset();
  if (std::string left = left_loaded(path, string_library_before); !left.empty())
    return failed(kReloadLabel, left + " stayed loaded after the first unload");
  try {
    plugin = Plugin::load(path);
  } catch (const HostError& e) {
    return failed(kReloadLabel, std::string("the second load failed: ") + e.what());
  }
  {
    Block block(*plugin);
    if (CallResult r = block.init(); !r)
      return failed(kReloadLabel,
                    "after the second load, a new block failed: " + one_line(r.failure));
  }
  plugin.reset();
  if (std::string left = left_loaded(path, string_library_before); !left.empty())
    return failed(kReloadLabel, left + " stayed loaded after the second unload");
  return {kReloadLabel, "loaded and unloaded again; nothing of it stayed loaded", true};
}

}  // namespace

std::string line_of(const Check& check) {
  return check.label + ": " + check.seen +
         (check.ok        ? "  ok"
          : check.skipped ? "  skipped"
                          : "  FAILED");
}

bool run(const Options& options, const std::function<void(const Check&)>& report) {
  const std::string& plugin_path = options.plugin;
  bool all = true;
  const auto put = [&](const Check& c) {
    all = all && (c.ok || c.skipped);
    report(c);
  };
  if (auto c = check_system()) put(*c);
  if (auto c = check_common_controls(plugin_path)) put(*c);
  if (auto c = check_settings()) put(*c);

  const bool string_library_before = string_library_loaded();
  const std::uint16_t before = control_word();
  Calls calls;
  std::unique_ptr<Plugin> plugin;
  put(check_plugin(options, calls, &plugin));
  const std::uint16_t after_load = control_word();
  if (!plugin) {
    for (const char* label : {"frames", kNameLabel, kNoReceiverLabel, kFpuLabel, kReloadLabel})
      put(skipped(label, "not checked: the plug-in did not load"));
  } else {
    if (auto c = check_string_library(string_library_before)) put(*c);
    for (ValueType type :
         {ValueType::Double, ValueType::Single, ValueType::Int32, ValueType::Boolean})
      put(check_frames(*plugin, type, calls));
    put(check_unresolvable_name(*plugin, calls));
    put(check_no_receiver(*plugin, calls));
    put(check_control_word(before, after_load, calls));
    put(check_reload(plugin_path, std::move(plugin), string_library_before));
  }
  if (!options.lookup.empty()) put(check_lookup(options.lookup));
  set_control_word(before);
  return all;
}

}  // namespace svhost::selftest

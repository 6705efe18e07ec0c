#include "host/cli.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "host/block.h"
#include "host/model.h"
#include "host/plugin.h"
#include "host/signals.h"
#include "host/simulation.h"
#include "receiving/recipes.h"
#include "system/dynlib.h"
#include "system/host_error.h"
#include "system/model_file.h"
#include "system/resources.h"

namespace svhost::cli {
namespace {

// ---- helpers --------------------------------------------------------------

std::int64_t parse_int64(const std::string& text, const std::string& what) {
  std::int64_t v = 0;
  const char* b = text.data();
  const char* e = b + text.size();
  if (b != e && *b == '+') ++b;
  auto r = std::from_chars(b, e, v);
  if (text.empty() || r.ec != std::errc() || r.ptr != e)
    throw HostError(what + ": not an integer: " + text);
  return v;
}

std::int64_t parse_data_type(const std::string& text) {
  static const char* const names[] = {"double", "single", "int32", "boolean"};
  for (int i = 0; i < 4; ++i)
    if (text == names[i]) return i;
  return parse_int64(text, "--type (double, single, int32, boolean or a code)");
}

// Printable form of text: \r, \n, \xNN for the other control bytes; bytes
// from 128 on pass (UTF-8 text).
std::string escape(const std::string& s) {
  std::string out;
  char buf[8];
  for (unsigned char c : s) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '\\') out += "\\\\";
    else if (c < 32 || c == 127) {
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else out += static_cast<char>(c);
  }
  return out;
}

// The lines of a text the plug-in ends with CR LF (a last one may lack it).
std::vector<std::string> crlf_lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

// A failure text as a host shows it: its lines one below the other, the
// later ones indented by `indent`.
std::string as_text(const std::string& text, std::size_t indent) {
  std::vector<std::string> lines = crlf_lines(text);
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i)
    out += (i ? "\n" + std::string(indent, ' ') : std::string()) + escape(lines[i]);
  return out;
}

std::string hex(const std::string& bytes) {
  std::string out;
  char buf[4];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, "%s%02X", out.empty() ? "" : " ", c);
    out += buf;
  }
  return out;
}

void print_section(const std::string& bytes) {
  std::printf("  %zu bytes: %s\n", bytes.size(), hex(bytes).c_str());
  int line = 0;
  for (const std::string& l : crlf_lines(bytes))
    std::printf("  line %d: \"%s\"\n", ++line, escape(l).c_str());
}

void check(const CallResult& r, const char* what) {
  if (!r) throw HostError(std::string(what) + " failed: " + r.failure);
}

// Bytes of a record an export wrote: those that differ from a fill pattern
// in either of two calls with different patterns.
template <class Call>
std::string written_bytes(std::size_t size, Call call) {
  std::vector<unsigned char> a(size, 0xA5), b(size, 0x5A);
  check(call(a.data()), "describing export");
  check(call(b.data()), "describing export");
  std::string out;
  char buf[24];
  for (std::size_t i = 0; i < size; ++i) {
    if (a[i] == 0xA5 && b[i] == 0x5A) continue;
    std::snprintf(buf, sizeof buf, "%s%zu:%02X", out.empty() ? "" : " ", i, a[i]);
    out += buf;
  }
  return out.empty() ? "(none)" : out;
}

std::string plugin_path(const Args& args) {
  return args.has("plugin") ? args.get("plugin") : default_plugin_path();
}

// For commands whose plug-in comes first and may be left out: the plug-in,
// and the positional arguments after it.
std::pair<std::string, std::vector<std::string>> leading_plugin(const Args& args,
                                                                std::size_t rest) {
  std::vector<std::string> after = args.positional;
  if (after.size() == rest) return {default_plugin_path(), after};
  std::string plugin = after.front();
  after.erase(after.begin());
  return {plugin, after};
}

// ---- commands -------------------------------------------------------------

int cmd_info(const Args& args) {
  auto plugin = Plugin::load(leading_plugin(args, 0).first);
  check(plugin->is_user_dll32(), "IsUserDLL32");
  std::string name;
  check(plugin->dll_name(&name), "GetDLLName");
  std::int32_t can = 0;
  check(plugin->can_simulate(&can), "CanSimulateDLL");
  std::printf("plug-in:              %s\n", plugin->path().c_str());
  std::printf("display name:         %s\n", escape(name).c_str());
  std::printf("CanSimulateDLL:       %d\n", can);
  std::printf("parameter struct:     %s\n", written_bytes(kParameterStructSize, [&](void* p) {
                                              return plugin->parameter_struct(p);
                                            }).c_str());
  std::printf("dialog-enable struct: %s\n", written_bytes(kDialogEnableStructSize, [&](void* p) {
                                              return plugin->dialog_enable_struct(p);
                                            }).c_str());
  std::printf("  (offset:value of every byte written)\n");

  Block block(*plugin);
  check(block.init(), "InitUserDLL");
  std::string section;
  check(block.save_section(&section), "WriteToFile");
  std::printf("default block, parameter section:\n");
  print_section(section);
  IoInfo io;
  check(block.query_io(&io), "GetNumberOfInputsOutputs2");
  std::printf("default block, inputs-outputs: %d inputs, %d outputs; names:\n", io.inputs,
              io.outputs);
  for (std::size_t i = 0; i < io.names.size(); ++i)
    std::printf("%s\"%s\"%s", i % 10 == 0 ? "  " : " ", escape(io.names[i]).c_str(),
                i % 10 == 9 || i + 1 == io.names.size() ? "\n" : "");
  return kExitOk;
}

int cmd_new(const Args& args) {
  SectionValues v;
  v.address = args.get("host", v.address);
  if (v.address.find("\r\n") != std::string::npos) throw HostError("--host must not contain CR LF");
  if (args.has("port")) v.port = parse_int64(args.get("port"), "--port");
  if (args.has("inputs")) v.inputs = parse_int64(args.get("inputs"), "--inputs");
  if (args.has("type")) v.data_type = parse_data_type(args.get("type"));
  const std::int64_t count = args.has("blocks") ? parse_int64(args.get("blocks"), "--blocks") : 1;
  if (count < 1 || count > 1000) throw HostError("--blocks must be 1 to 1000");

  auto plugin = Plugin::load(plugin_path(args));
  std::vector<std::unique_ptr<Block>> blocks;
  std::vector<Block*> raw;
  for (std::int64_t i = 0; i < count; ++i) {
    blocks.push_back(std::make_unique<Block>(*plugin));
    check(blocks.back()->init(), "InitUserDLL");
    check(configure(*blocks.back(), v), "ReadFromFile");
    raw.push_back(blocks.back().get());
  }
  save_model(args.positional[0], *plugin, raw);
  std::printf("wrote %s: %lld block%s of %s\n", args.positional[0].c_str(),
              static_cast<long long>(count), count > 1 ? "s" : "", plugin->path().c_str());
  return kExitOk;
}

// The address, port, inputs and data type code from a section as the
// plug-in writes it: five CR LF lines, the version first, integers decimal.
SectionValues parse_section(const std::string& bytes) {
  const std::vector<std::string> lines = crlf_lines(bytes);
  if (lines.size() < 5) throw HostError("the block wrote a section of fewer than five lines");
  SectionValues v;
  v.version = parse_int64(lines[0], "section version");
  v.address = lines[1];
  v.port = parse_int64(lines[2], "section port");
  v.inputs = parse_int64(lines[3], "section inputs");
  v.data_type = parse_int64(lines[4], "section data type");
  return v;
}

// What the receiving side needs for one block, from the block's own section.
sv::recv::ReceiverSpec receiver_spec(const ModelBlock& block, std::size_t number,
                                     const std::string& section, const std::string& listen) {
  const SectionValues v = parse_section(section);
  sv::recv::ReceiverSpec spec;
  spec.label = "block " + std::to_string(number) + " \"" + escape(block.name) + "\"";
  spec.address = escape(v.address);
  // The sender takes the low 16 bits of the port.
  spec.port = static_cast<std::uint16_t>(static_cast<std::uint64_t>(v.port) & 0xFFFF);
  spec.type = sv::recv::value_type_from_code(v.data_type);
  spec.type_code = v.data_type;
  spec.inputs = v.inputs;
  spec.listen = listen;
  return spec;
}

// Blocks that send to one port: a receiver there gets the frames of all of
// them, mixed, with nothing in a frame to tell whose it is. One warning per
// shared port, on stderr so that a recipe saved from stdout stays clean.
void warn_shared_ports(const std::vector<sv::recv::ReceiverSpec>& specs) {
  std::map<std::uint16_t, std::vector<std::size_t>> senders;
  for (std::size_t i = 0; i < specs.size(); ++i)
    if (sv::recv::frame_bytes(specs[i]) != 0) senders[specs[i].port].push_back(i + 1);
  for (const auto& [port, blocks] : senders) {
    if (blocks.size() < 2) continue;
    std::string names;
    for (std::size_t k = 0; k < blocks.size(); ++k)
      names += (k == 0 ? "" : k + 1 == blocks.size() ? " and " : ", ") + std::to_string(blocks[k]);
    std::fprintf(stderr,
                 "svhost: warning: blocks %s send to the same port, %u: a receiver on it "
                 "cannot tell their frames apart; give each block a port of its own\n",
                 names.c_str(), static_cast<unsigned>(port));
  }
}

int cmd_show(const Args& args) {
  std::optional<std::vector<sv::recv::Recipe>> recipes;
  if (args.has("receiver")) {
    recipes = sv::recv::parse_recipes(args.get("receiver"));
    if (!recipes) throw HostError("--receiver must be simulink, matlab, octave, python or all");
  }
  const std::string listen = args.get("listen");
  auto plugin = Plugin::load(plugin_path(args));
  auto blocks = load_model(args.positional[0], *plugin);
  std::vector<std::string> sections(blocks.size());
  std::vector<sv::recv::ReceiverSpec> specs;
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    check(blocks[i].block->save_section(&sections[i]), "WriteToFile");
    specs.push_back(receiver_spec(blocks[i], i + 1, sections[i], listen));
  }
  std::fflush(stdout);
  warn_shared_ports(specs);
  if (!recipes)
    std::printf("%s: %zu block%s\n", args.positional[0].c_str(), blocks.size(),
                blocks.size() == 1 ? "" : "s");
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    if (recipes) {
      // Only the recipes, so that a script can be saved straight from stdout.
      for (std::size_t k = 0; k < recipes->size(); ++k) {
        if (i > 0 || k > 0) std::printf("\n");
        std::fputs(sv::recv::recipe((*recipes)[k], specs[i]).c_str(), stdout);
      }
      continue;
    }
    IoInfo io;
    check(blocks[i].block->query_io(&io), "GetNumberOfInputsOutputs2");
    std::printf("block %zu: %s, %d inputs reported\n", i + 1, escape(blocks[i].name).c_str(),
                io.inputs);
    print_section(sections[i]);
  }
  return kExitOk;
}

// What the host process holds, sampled during a run: a plug-in that leaks
// shows as growth between the first and the last sample of the run.
class ResourceLog {
 public:
  void sample(const char* when) { samples_.push_back({when, process_resources()}); }

  // One line per sample, then the growth over the run, in a form scripts read.
  void print() const {
    for (const auto& [when, r] : samples_)
      std::printf("resources:    %-8s private %llu kB, handles %llu\n", when,
                  static_cast<unsigned long long>(r.private_kb),
                  static_cast<unsigned long long>(r.handles));
    // From the first sample taken while the run was under way, so that the
    // sender's socket and the run's warm-up count on both sides.
    const ProcessResources* first = nullptr;
    const ProcessResources* last = nullptr;
    for (const auto& [when, r] : samples_)
      if (std::string(when) == "running") {
        if (!first) first = &r;
        last = &r;
      }
    if (!first) return;
    std::printf(
        "resources:    growth while running: private %+lld kB, handles %+lld (%zu samples)\n",
        static_cast<long long>(last->private_kb) - static_cast<long long>(first->private_kb),
        static_cast<long long>(last->handles) - static_cast<long long>(first->handles),
        samples_.size());
    std::printf("resources:    after the run against before: handles %+lld\n",
                static_cast<long long>(samples_.back().second.handles) -
                    static_cast<long long>(samples_.front().second.handles));
  }

 private:
  std::vector<std::pair<const char*, ProcessResources>> samples_;
};

// The block that --block names (1-based) among a model's blocks.
Block& chosen_block(const std::vector<ModelBlock>& blocks, std::int64_t block_no) {
  if (block_no < 1 || block_no > static_cast<std::int64_t>(blocks.size()))
    throw HostError("--block must be 1 to " + std::to_string(blocks.size()));
  return *blocks[static_cast<std::size_t>(block_no - 1)].block;
}

int cmd_run(const Args& args) {
  RunOptions options;
  if (args.has("steps")) {
    std::int64_t n = parse_int64(args.get("steps"), "--steps");
    if (n < 0) throw HostError("--steps must not be negative");
    options.steps = static_cast<std::uint64_t>(n);
  }
  if (args.has("period")) options.period = parse_finite(args.get("period"), "--period");
  if (args.has("dt")) options.dt = parse_finite(args.get("dt"), "--dt");
  if (options.period < 0 || options.period > 3600 || options.dt < 0)
    throw HostError("--period must be 0 to 3600 seconds and --dt not negative");
  options.stop_on_failure = args.has("stop-on-failure");
  const bool quiet = args.has("quiet");
  const std::int64_t shown =
      args.has("show-failures") ? parse_int64(args.get("show-failures"), "--show-failures") : 20;
  const std::int64_t block_no = args.has("block") ? parse_int64(args.get("block"), "--block") : 1;
  SignalSet signals;
  for (const auto& spec : args.all("signal")) signals.add(parse_signal(spec));

  const auto [plugin_file, model_args] = leading_plugin(args, 1);
  auto plugin = Plugin::load(plugin_file);
  auto blocks = load_model(model_args[0], *plugin);
  Block& block = chosen_block(blocks, block_no);

  // Resource samples: before the run, once a second, and after it.
  const bool resources = args.has("resources");
  ResourceLog resource_log;
  if (resources) resource_log.sample("before");

  std::int64_t printed = 0;
  RunReport report = run_simulation(
      block, signals, options,
      [&](const RunProgress& p) {
        if (resources) resource_log.sample("running");
        if (quiet) return;
        std::fprintf(stderr, "svhost: %llu/%llu calls, %llu failures, %.0f calls/s\n",
                     static_cast<unsigned long long>(p.steps_done),
                     static_cast<unsigned long long>(options.steps + 1),
                     static_cast<unsigned long long>(p.failures),
                     p.elapsed > 0 ? p.steps_done / p.elapsed : 0.0);
      },
      [&](const StepFailure& f) {
        if (printed < shown) {
          const std::string what = f.step == 0 ? std::string("run start failed: ")
                                               : "step " + std::to_string(f.step) + " failed: ";
          std::fprintf(stderr, "%s%s\n", what.c_str(), as_text(f.text, what.size()).c_str());
        } else if (printed == shown && shown > 0) {
          std::fprintf(stderr, "(further failures not shown)\n");
        }
        ++printed;
      });

  std::printf("inputs:       %d\n", report.inputs);
  std::printf("steps:        %llu requested%s\n", static_cast<unsigned long long>(options.steps),
              report.stopped_early ? ", stopped at the first failure" : "");
  std::printf("calls:        %llu (run start + steps)\n",
              static_cast<unsigned long long>(report.calls));
  std::printf("frames sent:  %llu (calls that succeeded)\n",
              static_cast<unsigned long long>(report.succeeded));
  std::printf("failures:     %llu\n", static_cast<unsigned long long>(report.failures));
  for (const auto& [text, n] : report.failure_texts) {
    const std::string count = "  " + std::to_string(n) + " x ";
    std::printf("%s%s\n", count.c_str(), as_text(text, count.size()).c_str());
  }
  if (!report.end) std::printf("run end failed: %s\n", as_text(report.end.failure, 16).c_str());
  std::printf("elapsed:      %.3f s\n", report.elapsed);
  std::printf("rate:         %.0f calls/s\n", report.steps_per_second());
  if (resources) {
    resource_log.sample("after");
    resource_log.print();
  }
  return report.failures == 0 && report.end.ok ? kExitOk : kExitFailure;
}

int cmd_help(const Args&);

int cmd_dialog(const Args& args) {
  const std::int64_t block_no = args.has("block") ? parse_int64(args.get("block"), "--block") : 1;
  const auto [plugin_file, model_args] = leading_plugin(args, 1);
  const std::string& model = model_args[0];
  auto plugin = Plugin::load(plugin_file);
  auto blocks = load_model(model, *plugin);
  Block& block = chosen_block(blocks, block_no);
  // OK always writes 1 to 50 here, so 0 tells that the byte was left alone.
  std::uint8_t inputs = 0;
  check(block.parameter_dialog(&inputs), "CallParameterDialogDLL");
  if (inputs == 0) {
    std::printf("dialog closed without OK; %s unchanged\n", model.c_str());
    return kExitOk;
  }
  std::vector<Block*> raw;
  for (auto& b : blocks) raw.push_back(b.block.get());
  save_model(model, *plugin, raw);
  std::string section;
  check(block.save_section(&section), "WriteToFile");
  std::printf("saved %s: block %lld has %d inputs\n", model.c_str(),
              static_cast<long long>(block_no), inputs);
  print_section(section);
  return kExitOk;
}

const char* const kSignalHelp =
    "  SPEC is [SEL=]KIND[:PARAMS]; later specs override earlier ones for the inputs\n"
    "  they select, inputs no spec selects get 0, no --signal at all means sine.\n"
    "    SEL     N, N-M or * (default *)\n"
    "    KIND    sine | ramp (sawtooth from offset to offset+amp) | square | const\n"
    "    PARAMS  sine/ramp/square: amp=1,freq=1 (Hz) or period=S,offset=0,\n"
    "            phase=DEG,phase-step=DEG (added per input after the first selected)\n"
    "            const: a number, nan, -nan, snan, -snan, inf, -inf, or 0x + 20 hex\n"
    "            digits of the raw 80-bit value, sign/exponent first\n"
    "            (0x3FFF8000000000000000 is 1.0)\n"
    "  Signals are functions of simulation time k x dt at step k (0 = run start).\n"
    "  Examples: --signal sine:amp=5,freq=0.5,phase-step=90\n"
    "            --signal 1=const:1.0 --signal 2-3=square:period=2 --signal 4=const:nan\n";

const std::vector<Command> kCommands = {
    {"info",
     "info [PLUGIN]",
     "  Loads PLUGIN and prints its display name, CanSimulateDLL, the bytes the\n"
     "  describing exports write into the parameter and dialog-enable structs, and\n"
     "  a default block's parameter section and input names.\n",
     {},
     0,
     1,
     cmd_info},
    {"new",
     "new MODEL [--host H] [--port P] [--inputs N] [--type T] [--blocks K] [--plugin PLUGIN]",
     "  Writes a model file with K (default 1) blocks: each block reads a section\n"
     "  the host forms from the values, then writes its own section into MODEL.\n"
     "    --host H    receiver address or host name (default 127.0.0.1)\n"
     "    --port P    UDP port (default 1600); any integer is passed on\n"
     "    --inputs N  number of inputs (default 1); any integer is passed on\n"
     "    --type T    double|single|int32|boolean or a code (0..3; any integer is\n"
     "                passed on)\n",
     {{"host", true},
      {"port", true},
      {"inputs", true},
      {"type", true},
      {"blocks", true},
      {"plugin", true}},
     1,
     1,
     cmd_new},
    {"run",
     "run [PLUGIN] MODEL [--steps N] [--period S] [--dt S] [--signal SPEC]... [options]",
     "  Loads MODEL and runs one block: InitSimulationDLL (the run start, which\n"
     "  sends a first frame), N x SimulateDLL2, EndSimulationDLL2. Prints progress\n"
     "  on stderr every second, each failing call's text, and a summary. Exits 1\n"
     "  when any call failed.\n"
     "    --steps N          steps after the run start (default 100)\n"
     "    --period S         seconds between steps, 0 = as fast as possible (default 0)\n"
     "    --dt S             simulation time per step (default: period, or 0.01)\n"
     "    --signal SPEC      input signals, repeatable (see below)\n"
     "    --block K          which block of the model to run (default 1)\n"
     "    --stop-on-failure  end the run at the first failing call\n"
     "    --show-failures N  print at most N failure lines (default 20)\n"
     "    --quiet            no progress lines\n"
     "    --resources        sample the process's private memory and handles before,\n"
     "                       once a second during, and after the run, and print them\n",
     {{"steps", true},
      {"period", true},
      {"dt", true},
      {"signal", true},
      {"block", true},
      {"stop-on-failure", false},
      {"show-failures", true},
      {"quiet", false},
      {"resources", false}},
     1,
     2,
     cmd_run},
    {"show",
     "show MODEL [--plugin PLUGIN] [--receiver KIND] [--listen ADDR]",
     "  Loads MODEL through the plug-in and prints each block's section (as the\n"
     "  block writes it again) and its input count.\n"
     "    --receiver KIND  instead, print what the receiving side needs for each\n"
     "                     block, filled in with its port, data type and inputs:\n"
     "                     simulink (settings of the two UDP Receive blocks), matlab,\n"
     "                     octave (udpport scripts), python (a script), or all\n"
     "    --listen ADDR    address the scripts listen on (default: 127.0.0.1 for python,\n"
     "                     every interface for matlab and octave)\n",
     {{"plugin", true}, {"receiver", true}, {"listen", true}},
     1,
     1,
     cmd_show},
    {"dialog",
     "dialog [PLUGIN] MODEL [--block K]",
     "  Opens block K's (default 1) parameter dialog through CallParameterDialogDLL\n"
     "  and, when it is confirmed with OK, saves MODEL with the new parameters.\n"
     "  Needs the win32 build under Wine with a display: the native build has no\n"
     "  dialog and fails with a message that says so.\n",
     {{"block", true}},
     1,
     2,
     cmd_dialog},
    {"help", "help", "  This text.\n", {}, 0, 0, cmd_help},
};

int cmd_help(const Args&) {
  std::printf(
      "svhost - host emulator for the UDP block plug-in\n\n"
      "usage: svhost COMMAND [ARGS] [--option VALUE | --option=VALUE]...\n\n");
  for (const auto& c : kCommands) std::printf("svhost %s\n%s\n", c.usage, c.help);
  std::printf("signals (run --signal):\n%s\n", kSignalHelp);
  std::string where = "beside svhost, in ../plugin/ from it (the build tree)";
  for (const std::string& folder : dynlib::installed_plugin_folders()) where += ", in " + folder;
  std::printf(
      "PLUGIN, where left out, is $SVHOST_PLUGIN if set, else the first %s found\n"
      "%s.\n"
      "Exit codes: 0 success, 1 a plug-in call failed, 2 usage or host error.\n",
      dynlib::plugin_file_name(), where.c_str());
  return kExitOk;
}

Args parse(const Command& c, int argc, char** argv) {
  Args args;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      std::string name = a.substr(2), value;
      bool inline_value = false;
      if (auto eq = name.find('='); eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
        inline_value = true;
      }
      const Option* opt = nullptr;
      for (const auto& o : c.options)
        if (name == o.name) opt = &o;
      if (!opt) throw HostError(std::string("svhost ") + c.name + ": unknown option --" + name);
      if (opt->takes_value && !inline_value) {
        if (i + 1 >= argc) throw HostError("--" + name + " needs a value");
        value = argv[++i];
      } else if (!opt->takes_value && inline_value) {
        throw HostError("--" + name + " takes no value");
      }
      args.options[name].push_back(value);
    } else {
      args.positional.push_back(a);
    }
  }
  const int n = static_cast<int>(args.positional.size());
  if (n < c.min_positional || n > c.max_positional)
    throw HostError(std::string("usage: svhost ") + c.usage);
  return args;
}

}  // namespace

std::string Args::get(const std::string& name, const std::string& fallback) const {
  auto it = options.find(name);
  return it == options.end() || it->second.empty() ? fallback : it->second.back();
}

const std::vector<std::string>& Args::all(const std::string& name) const {
  static const std::vector<std::string> none;
  auto it = options.find(name);
  return it == options.end() ? none : it->second;
}

const std::vector<Command>& commands() { return kCommands; }

int main(int argc, char** argv) {
  std::string name = argc > 1 ? argv[1] : "help";
  if (name == "--help" || name == "-h") name = "help";
  for (const auto& c : kCommands) {
    if (name != c.name) continue;
    try {
      for (int i = 2; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0) {
          std::printf("svhost %s\n%s", c.usage, c.help);
          if (name == "run") std::printf("signals:\n%s", kSignalHelp);
          return kExitOk;
        }
      return c.run(parse(c, argc, argv));
    } catch (const std::exception& e) {
      std::fflush(stdout);
      std::fprintf(stderr, "svhost: %s\n", e.what());
      return kExitUsage;
    }
  }
  std::fprintf(stderr, "svhost: unknown command '%s' (svhost --help)\n", name.c_str());
  return kExitUsage;
}

}  // namespace svhost::cli

#include "receiving/recipes.h"

#include <array>

namespace sv::recv {
namespace {

// Per-type facts every recipe draws on, in one place so that the recipes and
// the frame table of docs/receiving.md cannot disagree.
// The scripts carry a table of all four types, so that one script serves
// any block once TYPE and COUNT are set.
struct TypeFacts {
  ValueType type;
  const char* dsp_type;  // DSP System Toolbox "Data type for Message"
  const char* ict_type;  // Instrument Control Toolbox "Data type"
};

constexpr std::array<TypeFacts, 4> kTypes = {{
    {ValueType::Double, "double", "double"},
    {ValueType::Single, "single", "single"},
    {ValueType::Int32, "int32", "int32"},
    {ValueType::Boolean, "boolean", "uint8"},
}};

const TypeFacts& facts(ValueType type) {
  for (const auto& f : kTypes)
    if (f.type == type) return f;
  return kTypes[0];
}

std::string num(std::int64_t v) { return std::to_string(v); }
std::string num(std::size_t v) { return std::to_string(v); }

std::string type_name(ValueType t) { return std::string(value_type_name(t)); }

// "4 x double = 32 bytes"
std::string shape(const ReceiverSpec& s) {
  return num(s.inputs) + " x " + type_name(*s.type) + " = " + num(frame_bytes(s)) + " byte" +
         (frame_bytes(s) == 1 ? "" : "s");
}

// One parameter: its name in a column of `width`, the value, and a note on
// the lines below, so that every line fits a plain-text page.
std::string row(std::size_t width, std::string_view name, std::string_view value,
                std::string_view note = {}) {
  std::string out = "  ";
  out += name;
  out.append(name.size() < width ? width - name.size() : 1, ' ');
  out += value;
  out += "\n";
  if (!note.empty()) {
    for (std::size_t at = 0; at < note.size();) {
      std::size_t end = note.find('\n', at);
      if (end == std::string_view::npos) end = note.size();
      out += "      ";
      out += note.substr(at, end - at);
      out += "\n";
      at = end + 1;
    }
  }
  return out;
}

constexpr std::size_t kDspColumn = 46;  // the longest DSP parameter name and a gap
constexpr std::size_t kIctColumn = 26;

std::string sends_nothing(const ReceiverSpec& s) {
  if (!s.type)
    return "data type code " + num(s.type_code) +
           " is none of 0..3 (double, single, int32, boolean): the block sends no frames.";
  return num(s.inputs) + " inputs: the block sends no frames.";
}

std::string simulink(const ReceiverSpec& s) {
  const TypeFacts& f = facts(*s.type);
  const std::string n = num(s.inputs);
  const std::string port = num(static_cast<std::int64_t>(s.port));
  const std::string waiting = num(8192 / frame_bytes(s));
  std::string out;
  out += "Simulink, for " + s.label + ":\n" + shape(s) + " per frame to " + s.address + ":" + port +
         "\n\n";

  // The one to use: it takes datagrams from any sending port, one a sample.
  out +=
      "Use DSP System Toolbox > Sources > UDP Receive. It outputs one frame per\n"
      "sample and takes frames from any sending port.\n";
  out += row(kDspColumn, "Local IP port", port);
  out += row(kDspColumn, "Remote IP address ('0.0.0.0' to accept all)", "'0.0.0.0'",
             "or the address of the PC that sends");
  out += row(kDspColumn, "Receive buffer size (bytes)", "8192",
             "the default: up to " + waiting + " frames wait in it for the model");
  out += row(kDspColumn, "Maximum length for Message", n,
             "values, not bytes; left at 255, every step outputs 255 values");
  out += row(kDspColumn, "Data type for Message", f.dsp_type);
  out += row(kDspColumn, "Message is complex", "cleared");
  out += row(kDspColumn, "Output variable-size signal", "cleared",
             "the message is then always " + n + (s.inputs == 1 ? " value" : " values") +
                 ", and a Length port says how\n"
                 "many are new: " +
                 n +
                 " on a step that took a frame, 0 on a step that\n"
                 "found none");
  out += row(kDspColumn, "Sample time", "the host's step size",
             "the simulated time per host step, such as 0.01 (see Timing)");
  out += "\n";
  out +=
      "Timing: the block sends one frame at run start and one per host step\n"
      "(N steps give N + 1 frames). With the host's step size as sample time,\n"
      "one sample of the model stands for one step of the host. But neither\n"
      "program waits for the other, and each computes as fast as it can unless\n"
      "it is paced: a model that samples faster than frames arrive gets samples\n"
      "with Length 0; one that samples more slowly lets frames queue up and\n"
      "arrive late, and once the buffer is full new ones are lost. To keep the\n"
      "two together, run both in real time: the host paced to its step size\n"
      "(if it can be), Simulink with Simulation Pacing at one second of\n"
      "simulation per second. Frames sent while the model is not running are\n"
      "lost.\n\n";

  out +=
      "Alternative: Instrument Control Toolbox > UDP Receive, where the model\n"
      "must take every frame in order: in blocking mode each sample waits for\n"
      "the next frame, so the model follows the host's pace.\n";
  out += row(kIctColumn, "Local port", port);
  out += row(kIctColumn, "Remote address", "the address of the PC that sends",
             "(127.0.0.1 when it is this PC)");
  out += row(kIctColumn, "Remote port", "leave it as it is",
             "no value fits: the sending port changes with every run");
  out += row(kIctColumn, "Data size", "[" + n + " 1]", "any other size shifts every later frame");
  out += row(
      kIctColumn, "Data type", f.ict_type,
      s.type == ValueType::Boolean ? "the block has no boolean type; the bytes are 0 or 1" : "");
  out += row(kIctColumn, "Byte order", "little-endian");
  out += row(kIctColumn, "Enable blocking mode", "on");
  out += row(kIctColumn, "Timeout", "longer than the host's slowest step",
             "and than you take to start the host's run after the model");
  out += row(kIctColumn, "Block sample time", "the host's step size");
  out +=
      "Its caveat: the block sends from a port that the sending PC picks anew\n"
      "for every run, and this Simulink block may hold to its Remote port. If\n"
      "frames reach udpsv-recv or a script on the receiving PC but not this\n"
      "block, use the DSP block.\n";
  return out;
}

std::string udpport_script(const ReceiverSpec& s, bool octave) {
  std::string out;
  out += "% Receives the sample frames of " + s.label + ":\n";
  out += "% " + shape(s) + " per frame, sent to " + s.address + ":" +
         num(static_cast<std::int64_t>(s.port)) + ", one UDP datagram per host\n";
  out += "% step and one at run start, little-endian, no header. Prints one line per frame.\n";
  if (octave) {
    out += "% Octave with the instrument-control package (Debian: octave-instrument-control).\n";
    out += "pkg load instrument-control\n";
  } else {
    out += "% MATLAB with Instrument Control Toolbox.\n";
  }
  out += "\n";
  out += "PORT = " + num(static_cast<std::int64_t>(s.port)) + ";\n";
  out += "TYPE = \"" + type_name(*s.type) + "\";   % double | single | int32 | boolean\n";
  out += "COUNT = " + num(s.inputs) + ";    % values per frame: the block's inputs\n";
  out += "WIDTHS = struct(\"double\", 8, \"single\", 4, \"int32\", 4, \"boolean\", 1);\n";
  out += "% Formats that read back exactly: 17 and 9 digits for double and single.\n";
  out +=
      "FORMATS = struct(\"double\", \"%.17g\", \"single\", \"%.9g\", \"int32\", \"%d\", "
      "\"boolean\", \"%d\");\n";
  out += "FRAME_BYTES = COUNT * WIDTHS.(TYPE);\n\n";
  const std::string where = s.listen.empty() ? "" : "\"LocalHost\", \"" + s.listen + "\", ";
  out += "u = udpport(" + where + "\"LocalPort\", PORT);   % byte mode" +
         (s.listen.empty() ? ", every interface" : "") + "\n";
  out +=
      "fprintf(2, \"listening on port %d for %d x %s (%d bytes)\\n\", PORT, COUNT, TYPE, "
      "FRAME_BYTES);\n";
  out += "while true\n";
  out += "  n = u.NumBytesAvailable;\n";
  out += "  if n == 0\n    pause(0.001);\n    continue;\n  end\n";
  if (octave) {
    out +=
        "  % Octave's udpport reports the next datagram's size here, and one read takes at\n"
        "  % most one datagram: asking for less drops the rest of it, asking for more would\n"
        "  % join the next one. So a datagram of another size is read whole and skipped.\n"
        "  if n ~= FRAME_BYTES\n"
        "    read(u, n, \"uint8\");\n";
  } else {
    out +=
        "  % In byte mode MATLAB counts every queued byte here; whole frames add up to a\n"
        "  % multiple of FRAME_BYTES. Anything else is read away to get back in step.\n"
        "  if mod(n, FRAME_BYTES) ~= 0\n"
        "    read(u, n, \"uint8\");\n";
  }
  out +=
      "    fprintf(2, \"%d bytes arrived, expected %d (%d x %s); skipped\\n\", n, FRAME_BYTES, "
      "COUNT, TYPE);\n"
      "    continue;\n"
      "  end\n";
  out += "  bytes = uint8(read(u, FRAME_BYTES, \"uint8\"));   % exactly one frame\n";
  out += "  if numel(bytes) ~= FRAME_BYTES\n";
  out += "    fprintf(2, \"short read of %d bytes; skipped\\n\", numel(bytes));\n";
  out += "    continue;\n  end\n";
  out += "  if strcmp(TYPE, \"boolean\")\n";
  out += "    values = double(bytes);   % 0 or 1: read as uint8, as read refuses \"logical\"\n";
  out += "  else\n";
  out += "    values = double(typecast(bytes, TYPE));   % little-endian, as on every platform\n";
  out += "  end\n";
  out += "  line = sprintf([FORMATS.(TYPE) \" \"], values);\n";
  out += "  disp(line(1:end-1));\n";
  if (octave) out += "  fflush(stdout);\n";
  out += "end\n";
  return out;
}

std::string python(const ReceiverSpec& s) {
  // Like udpsv-recv, it listens on this PC only unless told otherwise: no
  // firewall question for a check on one PC.
  const std::string listen = s.listen.empty() ? "127.0.0.1" : s.listen;
  std::string out;
  out += "#!/usr/bin/env python3\n";
  out += "# Receives the sample frames of " + s.label + ":\n";
  out += "# " + shape(s) + " per frame, sent to " + s.address + ":" +
         num(static_cast<std::int64_t>(s.port)) + ", one UDP datagram per host\n";
  out += "# step and one at run start, little-endian, no header. Prints one line per frame.\n";
  out += "#   udpsv_receive.py [PORT [TYPE [COUNT]]] [--bind ADDR]\n";
  out += "import argparse\nimport socket\nimport struct\nimport sys\n\n";
  out += "PORT = " + num(static_cast<std::int64_t>(s.port)) + "\n";
  out += "TYPE = \"" + type_name(*s.type) + "\"   # double | single | int32 | boolean\n";
  out += "COUNT = " + num(s.inputs) + "          # values per frame: the block's inputs\n";
  out += "LISTEN = \"" + listen + "\"" +
         (listen == "127.0.0.1" ? "   # this PC only; 0.0.0.0 for frames from other PCs too" : "") +
         "\n\n";
  out += "# Little-endian, and the width the block sends: 8, 4, 4 and 1 bytes. Boolean\n";
  out += "# bytes are 0 or 1: \"B\" keeps a stray byte visible, where \"?\" would hide it.\n";
  out +=
      "FORMATS = {\"double\": \"d\", \"single\": \"f\", \"int32\": \"i\", \"boolean\": \"B\"}\n\n";
  out +=
      "p = argparse.ArgumentParser(description=\"Prints the frames of one block, one a line.\")\n";
  out += "p.add_argument(\"port\", nargs=\"?\", type=int, default=PORT)\n";
  out += "p.add_argument(\"type\", nargs=\"?\", default=TYPE, choices=list(FORMATS))\n";
  out += "p.add_argument(\"count\", nargs=\"?\", type=int, default=COUNT)\n";
  out += "p.add_argument(\"--bind\", default=LISTEN, metavar=\"ADDR\",\n";
  out += "               help=\"address to listen on (default: %(default)s)\")\n";
  out += "a = p.parse_args()\n";
  out += "frame = struct.Struct(\"<%d%s\" % (a.count, FORMATS[a.type]))\n\n";
  out += "sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n";
  out += "try:\n";
  out += "    sock.bind((a.bind, a.port))\n";
  out += "except OSError as e:\n";
  out += "    sys.exit(\"cannot bind %s:%d: %s\" % (a.bind, a.port, e.strerror))\n";
  out += "sock.settimeout(0.5)  # wakes up now and then, so that Ctrl+C works on Windows too\n";
  out += "print(\"listening on %s:%d for %d x %s (%d bytes)\"\n";
  out += "      % (a.bind, a.port, a.count, a.type, frame.size), file=sys.stderr, flush=True)\n";
  out += "try:\n";
  out += "    while True:\n";
  out += "        try:\n";
  out += "            data, (host, port) = sock.recvfrom(65535)\n";
  out += "        except socket.timeout:\n";
  out += "            continue\n";
  out += "        if len(data) != frame.size:\n";
  out += "            print(\"%s:%d sent %d bytes, expected %d (%d x %s); skipped\"\n";
  out +=
      "                  % (host, port, len(data), frame.size, a.count, a.type), "
      "file=sys.stderr, flush=True)\n";
  out += "            continue\n";
  out += "        print(\" \".join(repr(v) for v in frame.unpack(data)), flush=True)\n";
  out += "except KeyboardInterrupt:\n";
  out += "    pass\n";
  return out;
}

}  // namespace

std::optional<std::vector<Recipe>> parse_recipes(std::string_view name) {
  if (name == "simulink") return std::vector{Recipe::Simulink};
  if (name == "matlab") return std::vector{Recipe::Matlab};
  if (name == "octave") return std::vector{Recipe::Octave};
  if (name == "python") return std::vector{Recipe::Python};
  if (name == "all")
    return std::vector{Recipe::Simulink, Recipe::Matlab, Recipe::Octave, Recipe::Python};
  return std::nullopt;
}

std::optional<ValueType> value_type_from_code(std::int64_t code) {
  switch (code) {
    case 0: return ValueType::Double;
    case 1: return ValueType::Single;
    case 2: return ValueType::Int32;
    case 3: return ValueType::Boolean;
    default: return std::nullopt;
  }
}

std::size_t frame_bytes(const ReceiverSpec& spec) {
  if (!spec.type || spec.inputs < 1) return 0;
  return static_cast<std::size_t>(spec.inputs) * value_width(*spec.type);
}

std::string recipe(Recipe which, const ReceiverSpec& spec) {
  if (frame_bytes(spec) == 0) return spec.label + ": " + sends_nothing(spec) + "\n";
  switch (which) {
    case Recipe::Simulink: return simulink(spec);
    case Recipe::Matlab: return udpport_script(spec, false);
    case Recipe::Octave: return udpport_script(spec, true);
    case Recipe::Python: return python(spec);
  }
  return {};
}

std::string frame_table() {
  std::string out;
  out +=
      "| | double | single | int32 | boolean |\n"
      "|---|---|---|---|---|\n"
      "| data type code | 0 | 1 | 2 | 3 |\n"
      "| bytes per input; frame of N inputs | 8; 8 × N (400 at most) | 4; 4 × N | 4; 4 × N | 1; N "
      "|\n"
      "| value | IEEE 754 binary64, little-endian | IEEE 754 binary32, little-endian "
      "| two's complement, little-endian | `01` or `00` |\n"
      "| conversion from the host's 80-bit value | nearest, ties to even "
      "| nearest, ties to even, straight from 80 bits (not via double) "
      "| nearest integer, ties to even, low 32 bits: 2.5 → 2, 2147483648 → −2147483648 "
      "| 1 when greater than 0; 0, −0 and negatives give 0 |\n"
      "| Python `struct` | `'<%dd' % N` | `'<%df' % N` | `'<%di' % N` | `'<%dB' % N` |\n"
      "| MATLAB / Octave, after `read(u, bytes, \"uint8\")` | `typecast(b, \"double\")` "
      "| `typecast(b, \"single\")` | `typecast(b, \"int32\")` | `b` itself (0 or 1) |\n"
      "| Simulink DSP “Data type for Message” / Instrument Control “Data type” "
      "| double / double | single / single | int32 / int32 | boolean / uint8 |\n"
      "| every frame | one UDP datagram: inputs 1 to N in input order, nothing else "
      "(no header, count, time stamp or padding) | ← | ← | ← |\n"
      "| when | one at run start, then one per host step: N steps give N + 1 frames "
      "| ← | ← | ← |\n"
      "| from | the sending machine, from a new source port on every run "
      "| ← | ← | ← |\n";
  return out;
}

std::string troubleshooting() {
  return "- **Wrong address or interface.** The block sends to the address in its dialog,\n"
         "  fixed at run start. It must be an address of the receiving machine.\n"
         "  `udpsv-recv --bind 0.0.0.0 --port P --hex` on that machine shows whatever\n"
         "  arrives; `tshark -i any -f \"udp port P\"` shows whether it reaches the machine.\n"
         "- **A firewall.** Inbound UDP on the port must be allowed on the receiving\n"
         "  machine (on Windows, allow MATLAB or the receiving program when asked).\n"
         "- **The port is already in use.** Only one socket receives on a port: a second\n"
         "  receiver (another model, `udpsv-recv`, a script) fails to bind or gets nothing.\n"
         "  `ss -ulpn 'sport = :P'` names the owner on Linux, `netstat -ano -p udp` on Windows.\n"
         "- **Bound to 127.0.0.1 while the block sends from another host.** A socket bound\n"
         "  to the loopback address hears only its own machine. `udpsv-recv` and the\n"
         "  Python recipe listen there unless given `--bind 0.0.0.0` (every interface);\n"
         "  the MATLAB and Octave recipes listen on every interface.\n"
         "- **Filtering on the remote port.** Each run sends from a new source port; filter\n"
         "  on the sender's address, or accept all.\n"
         "- **The maximum length left at its default.** The DSP System Toolbox block's\n"
         "  Maximum length for Message counts elements and defaults to 255: set it to the\n"
         "  number of inputs. The Instrument Control block's Data size must be exactly\n"
         "  [N 1], or every later frame is shifted.\n"
         "- **Nothing is sent at all.** Frames go out only while the host runs; a data type\n"
         "  code other than 0 to 3 or 0 inputs sends nothing, and a host name that cannot\n"
         "  be resolved makes the run start fail.\n";
}

}  // namespace sv::recv

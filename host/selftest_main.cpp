// udpsv-selftest: checks the plug-in beside it on this PC and prints a
// report that a user can paste into a support request. It also writes the
// report to a file and says where, so that support can ask for that file
// however the program was started. Started by a double-click, it waits for
// Enter: its console window closes with it.
#include <cstdio>
#include <string>
#include <vector>

#include "host/selftest.h"
#include "system/console.h"
#include "system/dynlib.h"
#include "system/files.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kReportFile = "udpsv-selftest-report.txt";

constexpr const char* kHelp =
    R"HELP(Usage: udpsv-selftest [--plugin FILE] [--lookup NAME]

Loads the plug-in UDPSV2Simulink beside this program as a host does and
checks it on this PC: the system, what the plug-in needs of it, and blocks of
every data type sending frames to a receiver on this PC (127.0.0.1 only;
nothing goes out on the network). Each line of the report ends in "ok" or
"FAILED" with what was seen, or in "skipped" where what it needs is missing.

  --plugin FILE   check this plug-in instead of the one beside the program,
                  for example the copy in the host's folder
  --lookup NAME   also look NAME up as the block does before every frame,
                  and say how long it took: a block whose IP Address is
                  this name makes every step of the host wait as long
  --help          show this text

It also writes the report to udpsv-selftest-report.txt beside the program
(or in the folder for temporary files, where that folder cannot be
written) and says where. Started by a double-click, it waits for Enter.

Exit status: 0 every check held; 1 a check failed; 2 bad arguments.
)HELP";

// The report as a text file for Windows editors: UTF-8 with a byte order
// mark, CR LF.
std::string report_file_text(const std::vector<std::string>& lines) {
  std::string text = "\xEF\xBB\xBF";
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// Beside the program, or where temporary files go when that fails. Empty
// when neither can be written.
std::string write_report(const std::vector<std::string>& lines, std::string* errors) {
  const std::string text = report_file_text(lines);
  for (const std::string& folder : {sv::files::program_folder(), sv::files::temporary_folder()}) {
    const std::string path = sv::files::join(folder, kReportFile);
    const std::string error = sv::files::write_whole(path, text);
    if (error.empty()) return path;
    *errors += (errors->empty() ? "" : "; ") + path + ": " + error;
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = sv::console::arguments(argc, argv);
  svhost::selftest::Options options;
  options.plugin = sv::files::join(sv::files::program_folder(), svhost::dynlib::plugin_file_name());
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      sv::console::out(kHelp);
      return kExitOk;
    }
    if (args[i] == "--plugin" && i + 1 < args.size()) {
      options.plugin = args[++i];
      options.plugin_beside = false;
      continue;
    }
    if (args[i] == "--lookup" && i + 1 < args.size() && !args[i + 1].empty()) {
      options.lookup = args[++i];
      continue;
    }
    sv::console::err("udpsv-selftest: unknown argument '" + args[i] +
                     "'\nTry 'udpsv-selftest --help'.\n");
    return kExitUsage;
  }

  const bool own_console = sv::console::closes_with_program();
  std::vector<std::string> lines;
  const auto say = [&lines](const std::string& line) {
    lines.push_back(line);
    sv::console::out(line + "\n");
    sv::console::flush();
  };
  say("UDPSV2Simulink self-test " SV_SELFTEST_VERSION);
  int checks = 0, failed = 0, skipped = 0;
  const bool all = svhost::selftest::run(options, [&](const svhost::selftest::Check& c) {
    skipped += c.skipped ? 1 : 0;
    checks += c.skipped ? 0 : 1;
    failed += c.ok || c.skipped ? 0 : 1;
    say(svhost::selftest::line_of(c));
  });
  const std::string not_run = skipped ? sv::console::format(", %d skipped", skipped) : "";
  say(all ? sv::console::format("result: all %d checks held", checks) + not_run + "  ok"
          : sv::console::format("result: %d of %d checks failed", failed, checks) + not_run +
                "  FAILED");

  std::string errors;
  const std::string path = write_report(lines, &errors);
  sv::console::out(path.empty() ? "\nThe report could not be saved: " + errors + "\n"
                                : "\nThis report is also in " + path + "\n");
  sv::console::flush();
  if (own_console) {
    sv::console::out("Press Enter to close this window.\n");
    sv::console::flush();
    sv::console::wait_for_enter();
  }
  return all ? kExitOk : kExitFailed;
}

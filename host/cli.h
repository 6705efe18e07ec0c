// The svhost command line: a table of commands, each with its options.
// A new command is one function and one row in the table in cli.cpp.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace svhost::cli {

struct Option {
  const char* name;  // without the leading "--"
  bool takes_value;
};

struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::vector<std::string>> options;  // every value given, in order

  bool has(const std::string& name) const { return options.count(name) != 0; }
  // The last value given, or `fallback`.
  std::string get(const std::string& name, const std::string& fallback = "") const;
  const std::vector<std::string>& all(const std::string& name) const;
};

struct Command {
  const char* name;
  const char* usage;  // "info PLUGIN"
  const char* help;   // what it does and its options, indented lines
  std::vector<Option> options;
  int min_positional;
  int max_positional;
  int (*run)(const Args& args);
};

// Exit codes: 0 success, 1 the plug-in reported a failure, 2 usage or host
// error (bad arguments, missing file, plug-in that cannot be loaded).
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

const std::vector<Command>& commands();
int main(int argc, char** argv);

}  // namespace svhost::cli

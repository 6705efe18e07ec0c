#include <string>
#include <vector>

#include "host/cli.h"
#include "system/console.h"

// The command line as UTF-8, which the host emulator takes its paths in: on
// Windows from the wide command line, so that a plug-in or model in a folder
// such as "Blöcke" is found whatever the code page.
int main(int argc, char** argv) {
  std::vector<std::string> args = sv::console::arguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& a : args) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  return svhost::cli::main(static_cast<int>(args.size()), pointers.data());
}

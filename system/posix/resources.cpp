#include "system/resources.h"

#include <dirent.h>

#include <cstdio>
#include <cstring>

namespace svhost {

ProcessResources process_resources() {
  ProcessResources r;
  if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
      unsigned long long kb;
      if (std::sscanf(line, "VmRSS: %llu kB", &kb) == 1) r.private_kb = kb;
    }
    std::fclose(f);
  }
  if (DIR* d = opendir("/proc/self/fd")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++r.handles;
    closedir(d);
    if (r.handles > 0) --r.handles;  // the listing's own descriptor
  }
  return r;
}

std::string machine_load() {
  std::FILE* f = std::fopen("/proc/loadavg", "r");
  if (!f) return {};
  char line[128] = {0};
  bool ok = std::fgets(line, sizeof line, f) != nullptr;
  std::fclose(f);
  if (!ok) return {};
  std::string s(line);
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return "load average " + s.substr(0, s.find(' ', s.find(' ', s.find(' ') + 1) + 1));
}

}  // namespace svhost

#include "host/resources.h"

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

}  // namespace svhost

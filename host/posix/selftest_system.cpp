// Natively the plug-in has no common controls, registry or string library
// of the host to check, and its failures are not raised.
#include "host/selftest_system.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>

namespace svhost::selftest {

std::optional<Check> check_system() { return std::nullopt; }
std::optional<Check> check_common_controls(const std::string&) { return std::nullopt; }
std::optional<Check> check_settings() { return std::nullopt; }
bool string_library_loaded() { return false; }
// dlopen's reason says it all, and the native host is svhost itself.
std::string load_failure_meaning(const std::string&, const std::string&) { return {}; }
std::string only_64bit_programs(const std::string&) { return {}; }
std::optional<Check> check_string_library(bool) { return std::nullopt; }

std::string module_path(void* library) {
  Dl_info info{};
  void* symbol = ::dlsym(library, "GetDLLName");
  return symbol && ::dladdr(symbol, &info) && info.dli_fname ? info.dli_fname : "";
}

// Shared objects carry no version resource.
std::string file_version(const std::string&) { return {}; }

std::string lookup_ipv4(const std::string& name, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list); rc != 0) {
    *error = ::gai_strerror(rc);
    return {};
  }
  char text[INET_ADDRSTRLEN] = "";
  for (const addrinfo* p = list; p && !*text; p = p->ai_next)
    if (p->ai_family == AF_INET && p->ai_addr)
      ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(p->ai_addr)->sin_addr, text,
                  sizeof text);
  ::freeaddrinfo(list);
  if (!*text) *error = "no IPv4 address";
  return text;
}

bool failures_are_raised() { return false; }

}  // namespace svhost::selftest

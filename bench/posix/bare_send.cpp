#include "bench/bare_send.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace bench {

BareSocket::BareSocket(bool bound) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  if (bound) {
    sockaddr_in any{};
    any.sin_family = AF_INET;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
      ::close(fd);
      throw std::runtime_error("bind failed");
    }
  }
  handle_ = fd;
}

BareSocket::~BareSocket() { ::close(static_cast<int>(handle_)); }

void BareSocket::send_loop(const void* data, std::size_t size, std::uint16_t port, int count) {
  const int fd = static_cast<int>(handle_);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int i = 0; i < count; ++i) {
    ssize_t n = ::sendto(fd, data, size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (n != static_cast<ssize_t>(size)) ++failures_;
  }
}

void BareSocket::lookup_send_loop(const std::string& name, const void* data, std::size_t size,
                                  std::uint16_t port, int count) {
  const int fd = static_cast<int>(handle_);
  for (int i = 0; i < count; ++i) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0 || !list) {
      ++failures_;
      continue;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr;
    ::freeaddrinfo(list);
    ssize_t n = ::sendto(fd, data, size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (n != static_cast<ssize_t>(size)) ++failures_;
  }
}

std::string loopback_name() {
  char name[256] = {0};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (::getaddrinfo(name, nullptr, &hints, &list) != 0 || !list) return {};
  bool loop = (ntohl(reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr.s_addr) >> 24) == 127;
  ::freeaddrinfo(list);
  return loop ? name : std::string();
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

}  // namespace bench

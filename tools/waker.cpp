#include "tools/waker.h"

namespace sv::recv {

Waker::~Waker() {
  for (net::SocketHandle s : ends_)
    if (s != net::kNoSocket) net::api().shutdown_close(s);
}

std::string Waker::open() {
  if (net::receive_api().open_pair(ends_) != 0) return net::error_text(net::api().last_error());
  return {};
}

void Waker::wake() const {
  static const char kByte = 0;
  if (ends_[1] != net::kNoSocket) net::receive_api().send(ends_[1], &kByte, 1);
}

}  // namespace sv::recv

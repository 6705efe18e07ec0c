#include "transmit/run.h"

#include <memory>

#include "base/errors.h"

namespace sv {

void run_start(TUserData& data, const std::uint8_t* inputs) {
  // A second start without a run end would leak the old sender and socket.
  run_end(data);
  data.Sender = new UdpSender();
  try {
    data.Sender->SetHost(data.IPAddress);
    data.Sender->SetPort(static_cast<std::uint16_t>(data.Port));
    data.Sender->SetActive(true);
  } catch (const Error&) {
    // Dropped by design: the first Send opens the socket again and reports.
  }
  run_step(data, inputs);
}

void detail::raise_no_sender() {
  throw Error(u"Kein UDP-Sender: die Simulation wurde nicht gestartet");
}

void run_end(TUserData& data) {
  std::unique_ptr<UdpSender> sender(data.Sender);
  data.Sender = nullptr;
  if (sender) sender->SetActive(false);
}

}  // namespace sv

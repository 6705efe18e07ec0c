#include "transmit/run.h"

#include <memory>

#include "base/errors.h"
#include "transmit/frame.h"
#include "transmit/udp_sender.h"

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

void run_step(TUserData& data, const std::uint8_t* inputs) {
  // The frame lives on the stack: at most 255 inputs of 8 bytes, so a step
  // with a dotted address makes no heap allocation.
  std::uint8_t frame[kMaxFrameSize];
  std::size_t size = build_frame(data.Inputs, data.DataType, inputs, frame);
  // A step outside a run (or after a failed run start) has nowhere to send.
  if (!data.Sender) throw Error(u"Kein UDP-Sender: die Simulation wurde nicht gestartet");
  data.Sender->Send(frame, size);
}

void run_end(TUserData& data) {
  std::unique_ptr<UdpSender> sender(data.Sender);
  data.Sender = nullptr;
  if (sender) sender->SetActive(false);
}

}  // namespace sv

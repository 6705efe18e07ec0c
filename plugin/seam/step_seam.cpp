#include "plugin/seam/step_seam.h"

#include "base/text.h"
#include "base/user_data.h"
#include "platform/net.h"
#include "plugin/block_record.h"
#include "plugin/startup.h"
#include "transmit/frame.h"

namespace sv::step_seam {

void start_library() { library_startup(); }

void configure(void* block_record, std::string_view host, std::uint16_t port, std::int32_t inputs) {
  TUserData& data = *block_record::user_data(block_record);
  data.IPAddress = u16(host);
  data.Port = port;
  data.Inputs = inputs;
}

void stub_sendto(bool on) {
  net::api().send_to =
      on ? [](net::SocketHandle, const void*, std::size_t size,
              const net::SocketAddress*) { return static_cast<std::intptr_t>(size); }
         : net::platform_api().send_to;
}

std::int32_t data_type_count() { return kDataTypeCount; }

std::string data_type_name(std::int32_t code) {
  return is_data_type(code) ? utf8(kDataTypes[code].name) : std::string();
}

std::size_t convert(std::int32_t inputs, std::int32_t data_type, const std::uint8_t* values) {
  static std::uint8_t frame[kMaxFrameSize];
  return build_frame(inputs, data_type, values, frame);
}

}  // namespace sv::step_seam

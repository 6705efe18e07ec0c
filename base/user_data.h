// TUserData: one block's parameter record, owned by the library from
// InitUserDLL to DisposeUserDLL.
#pragma once

#include <cstdint>
#include <string>

namespace sv {

class UdpSender;

struct TUserData {
  std::int32_t Version = 0;  // as read from the section; nothing reads it
  std::u16string IPAddress = u"127.0.0.1";
  std::int32_t Port = 1600;
  UdpSender* Sender = nullptr;  // live from run start to run end only
  std::int32_t Inputs = 1;
  std::int32_t DataType = 0;
};

}  // namespace sv

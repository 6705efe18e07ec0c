// TUserData: one block's parameter record, owned by the library from
// InitUserDLL to DisposeUserDLL; and the data type codes of its DataType.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sv {

class UdpSender;

// The data type codes: TUserData::DataType, the fifth line of the block's
// section, and the index of the dialog's list.
enum DataTypeCode : std::int32_t { kDouble = 0, kSingle = 1, kInt32 = 2, kBoolean = 3 };

struct DataTypeInfo {
  DataTypeCode code;
  std::u16string_view name;  // as the dialog lists it
  std::size_t width;         // bytes per input in the frame
};

// Every code in code order, so that a code is its entry's index. The
// dialog's list, the frame and (through a test) the receiving side's tools
// all take the names and widths from here.
inline constexpr DataTypeInfo kDataTypes[] = {
    {kDouble, u"double", 8},
    {kSingle, u"single", 4},
    {kInt32, u"int32", 4},
    {kBoolean, u"boolean", 1},
};
inline constexpr std::int32_t kDataTypeCount = static_cast<std::int32_t>(std::size(kDataTypes));

constexpr bool is_data_type(std::int32_t code) { return code >= 0 && code < kDataTypeCount; }

constexpr bool data_types_in_code_order() {
  for (std::int32_t i = 0; i < kDataTypeCount; ++i)
    if (kDataTypes[i].code != i) return false;
  return true;
}
static_assert(data_types_in_code_order());

struct TUserData {
  std::int32_t Version = 0;  // contract only: read from the section, never used
  std::u16string IPAddress = u"127.0.0.1";
  std::int32_t Port = 1600;
  UdpSender* Sender = nullptr;  // live from run start to run end only
  std::int32_t Inputs = 1;
  std::int32_t DataType = kDouble;
};

}  // namespace sv

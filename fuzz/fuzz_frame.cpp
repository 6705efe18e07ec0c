// Frames under the start-up's control word against a reference conversion
// made with every exception masked: the frame either matches the reference
// byte for byte, or fails exactly when the reference raised a trapped
// condition. A misjudged fast path would end this run with SIGFPE instead.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "base/x87.h"
#include "transmit/frame.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::int32_t type = data[0] & 3;
  const std::uint8_t* values = data + 1;
  const std::int32_t inputs = static_cast<std::int32_t>((size - 1) / sv::kExtendedSize);
  if (inputs > sv::kMaxHostInputs) return 0;
  const std::size_t width = sv::bytes_per_input(type);

  std::uint8_t expected[sv::kMaxFrameSize];
  unsigned flags = 0;
  {
    sv::x87::MaskedScope masked;
    for (std::int32_t i = 0; i < inputs; ++i) {
      const std::uint8_t* src = values + i * sv::kExtendedSize;
      std::uint8_t* dst = expected + i * width;
      switch (type) {
        case sv::kDouble: sv::x87::to_double(src, dst); break;
        case sv::kSingle: sv::x87::to_single(src, dst); break;
        case sv::kInt32: {
          std::int64_t v = sv::x87::to_int64(src);
          std::memcpy(dst, &v, 4);
          break;
        }
        default: *dst = sv::x87::greater_than_zero(src) ? 1 : 0;
      }
    }
    flags = sv::x87::status_word();
  }
  const unsigned trapped = flags & (sv::x87::kInvalid | sv::x87::kZeroDivide | sv::x87::kOverflow);

  const std::uint16_t saved = sv::x87::control_word();
  sv::x87::load(sv::x87::kStartupControlWord, 0);
  std::uint8_t got[sv::kMaxFrameSize];
  bool failed = false;
  std::size_t n = 0;
  try {
    n = sv::build_frame(inputs, type, values, got);
  } catch (const sv::FloatError&) {
    failed = true;
  }
  sv::x87::load(saved, 0);

  check(failed == (trapped != 0));
  if (!failed) {
    check(n == static_cast<std::size_t>(inputs) * width);
    check(std::memcmp(got, expected, n) == 0);
  }
  return 0;
}

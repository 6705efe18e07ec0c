// Ids of the texts the library fetches from the host's string-resource
// library; each has a German built-in counterpart at its point of use.
#pragma once

#include <cstdint>

namespace sv::text_id {

enum : std::int32_t {
  kErrorCaption = 1002,        // caption of the entry-error box
  kRangeHeading = 1011,        // heading and caption of the range help
  kRangeFrom = 1316,           // label before the lower bound
  kRangeTo = 1317,             // label before the upper bound
  kNoRestriction = 1551,       // no range is set
  kZeroNotAllowedNote = 1552,  // range help: 0 is not allowed
  kWrongFormat = 1553,         // entry errors, one per error code
  kTooLarge = 1554,
  kTooSmall = 1555,
  kZeroNotAllowed = 1556,
};

}  // namespace sv::text_id

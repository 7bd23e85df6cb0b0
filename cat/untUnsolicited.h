// Messages a radio sends of its own accord (an Icom's transceive broadcasts
// of a knob turn), picked out of its byte stream. They belong to everyone who
// shares the radio, whoever asked last: the port worker hands them to the
// driver and to the Virtual CAT program alike, beside the replies it routes
// to the side that asked.
#pragma once

#include <string>
#include <string_view>

namespace vela {

class TUnsolicitedFilter {
public:
  virtual ~TUnsolicitedFilter() = default;
  // Bytes as read from the radio, in order (a message may be split over
  // calls); returns the unsolicited messages completed by them, whole.
  virtual std::string Take(std::string_view Data) = 0;
};

} // namespace vela

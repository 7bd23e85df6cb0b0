// The driver for the Yaesu FT-897D: binary five-byte commands, polled with
// the read-frequency-and-mode request, whose five-byte answer is framed by
// counting bytes.
#pragma once

#include "cat/radios/untYaesuBinaryCATinterface.h"

namespace vela {

class TFT897DCATInterface : public TYaesuBinaryCATInterface {
public:
  TFT897DCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings);

  void SetFrequency(std::string AFrequency) override;
  void SetMode(std::string AMode) override;

protected:
  void DecodeReply(const std::uint8_t* Reply, std::string& LocalMode) override;
};

} // namespace vela

// The driver for the Yaesu FT-100D: binary five-byte commands, polled with
// the status request, whose answer is framed by counting bytes.
#pragma once

#include "cat/radios/untRadioModel.h"
#include "cat/radios/untYaesuBinaryCATinterface.h"

namespace vela {

class TFT100DCATInterface : public TYaesuBinaryCATInterface {
public:
  TFT100DCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings);
  // The Hamlib modes its set-mode table takes (the radio table's list).
  static TNativeModeList NativeModes();
  // Its row of the radio table.
  static const TRadioModel RadioModel;

protected:
  TReplyValues DecodeReply(const std::uint8_t* Reply, std::string& LocalMode) override;
  std::string EncodeFrequency(std::int32_t Megahertz, std::int32_t TensOfHertz) const override;
  std::string BuildPTTCommand(bool On) const override;
  bool BuildModeCommand(const std::string& Native, bool FromPage,
                        std::string& Command) const override;
};

} // namespace vela

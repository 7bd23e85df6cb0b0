// The common body of the drivers for radios with a text protocol of
// ";"-terminated messages: one status command polled, frequency digits and a
// mode code at fixed positions of its reply, and text set commands.
//
// Each such driver describes its radio in a TTextProtocol table and gets the
// parsing and command building from here.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "cat/radios/untRadioCATinterface.h"

namespace vela {

struct TModeCode {
  const char* Code; // as the radio sends or takes it
  const char* Text; // one of the mode names
};

struct TTextProtocol {
  TRadioType Radio;
  const char* PollCommand;
  // A message is a status reply only when it contains this marker; the
  // fields are counted from the character after its first occurrence.
  const char* StatusMarker;
  std::size_t FrequencyMinLength; // characters after the marker needed for the frequency
  std::size_t FrequencyOffset;    // where the frequency digits start (from 0)
  std::size_t FrequencyDigits;    // the count in units of 100 Hz, four decimals
  std::size_t ModeMinLength;      // characters after the marker needed for the mode
  std::size_t ModeOffset;         // where the mode code starts (from 0)
  std::size_t ModeLength;
  std::span<const TModeCode> ReplyModes; // an unlisted code is reported as it is
  const char* SetFrequencyPrefix;
  std::size_t MegahertzWidth; // the integer part is padded with "0" to this width
  std::size_t FractionWidth;  // the fraction is padded with "0" to this width
  const char* SetModePrefix;
  std::span<const TModeCode> SetModes; // Text -> Code; case-sensitive
};

class TTextCATInterface : public TRadioCATInterface {
public:
  TTextCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings,
                    const TTextProtocol& AProtocol);

  void ResetState() override;
  void ParseReply(TObject* Sender, std::string Data, int Count) override;
  void SetFrequency(std::string AFrequency) override;
  void SetMode(std::string AMode) override;

  // The characters received after the last ";" (for tests).
  const std::string& RxBuffer() const { return FRxBuffer; }

protected:
  std::string FRxBuffer;

private:
  void HandleMessage(std::string_view Message);

  const TTextProtocol& FProtocol;
};

} // namespace vela

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

// A reply's mode code and its Hamlib name; where none fits (nullptr), the
// page's word for it.
struct TModeCode {
  const char* Code; // as the radio sends it
  const char* Native;
  const char* Word = nullptr;
};

// A set-mode code by Hamlib name.
struct TSetCode {
  const char* Code; // as the radio takes it
  const char* Native;
};

struct TTextProtocol {
  const TRadioModel* Model; // the driver's row of the radio table
  const char* PollCommand;
  // A message is a status reply only when it contains this marker; the
  // fields are counted from the character after its first occurrence.
  const char* StatusMarker;
  std::size_t FrequencyMinLength; // characters after the marker needed for the frequency
  std::size_t FrequencyOffset;    // where the frequency digits start (from 0)
  std::size_t FrequencyDigits;    // the count in units of 100 Hz, four decimals
  std::size_t HzDigits;           // the whole frequency in hertz, from the same offset
  std::size_t ModeMinLength;      // characters after the marker needed for the mode
  std::size_t ModeOffset;         // where the mode code starts (from 0)
  std::size_t ModeLength;
  std::span<const TModeCode> ReplyModes; // an unlisted code is reported as it is
  const char* SetFrequencyPrefix;
  // The integer part is padded with "0" to MegahertzWidth, the fraction to
  // FractionWidth; together they are the frequency in hertz.
  std::size_t MegahertzWidth;
  std::size_t FractionWidth;
  const char* SetModePrefix;
  std::span<const TSetCode> SetModes;
  // The commands that key and release the transmitter, and the one that
  // reads whether it is keyed (its answer: the command's name, then 0 for
  // not keyed; nullptr: none).
  const char* PTTOn;
  const char* PTTOff;
  const char* PTTRead = nullptr;
};

class TTextCATInterface : public TRadioCATInterface {
public:
  TTextCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings,
                    const TTextProtocol& AProtocol);

  void ResetState() override;
  void ParseReply(TObject* Sender, std::string Data, int Count) override;
  void SetFrequency(std::string AFrequency) override;

  // The characters received after the last ";" (for tests).
  const std::string& RxBuffer() const { return FRxBuffer; }

protected:
  bool BuildModeCommand(const std::string& Native, bool FromPage,
                        std::string& Command) const override;
  bool BuildFrequencyCommand(std::int64_t Hz, std::string& Command) const override;
  std::string BuildPTTCommand(bool On) const override;
  std::string BuildTransmitReadCommand() const override;

  std::string FRxBuffer;

private:
  void HandleMessage(std::string_view Message);

  const TTextProtocol& FProtocol;
};

} // namespace vela

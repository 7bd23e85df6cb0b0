// The common body of the drivers for radios on an Icom CI-V bus: binary
// frames FE FE <to> <from> <command> [data] FD. The driver polls frequency
// and mode alternately and takes only frames whose source is its radio, which
// also skips the bus's echo of the driver's own commands (source CCh).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "cat/radios/untRadioCATinterface.h"

namespace vela {

class TIcomCATInterface : public TRadioCATInterface {
public:
  static constexpr std::size_t ReplyBytesLength = 24;

  TIcomCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings, TRadioType ARadio,
                    std::uint8_t ARadioAddress);
  ~TIcomCATInterface() override;

  void ResetState() override;
  void ParseReply(TObject* Sender, std::string Data, int Count) override;
  void GetNextCommand(TObject* Sender, std::string& Command) override;
  void SetFrequency(std::string AFrequency) override;

  std::uint8_t RadioAddress() const { return FRadioAddress; }
  const std::string& RxBuffer() const { return FRxBuffer; }

protected:
  bool BuildModeCommand(const std::string& Native, bool FromPage,
                        std::string& Command) const override;
  bool BuildFrequencyCommand(std::int64_t Hz, std::string& Command) const override;

  // Bytes received after the last FDh.
  std::string FRxBuffer;
  // Command byte and data of the last accepted frame from the radio.
  std::array<std::uint8_t, ReplyBytesLength> FReplyBytes{};

private:
  void HandleFrame(std::string_view Frame, std::string& LocalMode);
  std::string Frame(std::string_view Body) const;

  std::uint8_t FRadioAddress;
};

} // namespace vela

// The common body of the drivers for radios on an Icom CI-V bus: binary
// frames FE FE <to> <from> <command> [data] FD. The driver polls frequency
// and mode alternately and takes only frames whose source is its radio, which
// also skips the bus's echo of the driver's own commands (source CCh). A
// radio with a data mode also reads its data flag (1A 06) after the mode
// when the station's "Digi" means data, and then reports USB, LSB and FM
// with data on as "Digi".
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cat/radios/untRadioCATinterface.h"

namespace vela {

class TIcomCATInterface : public TRadioCATInterface {
public:
  static constexpr std::size_t FrameBodyLength = 24;

  // The radio address is the stored CI-V address, or the radio's own.
  TIcomCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings, TRadioType ARadio);
  ~TIcomCATInterface() override;

  void ResetState() override;
  void ParseReply(TObject* Sender, std::string Data, int Count) override;
  void GetNextCommand(TObject* Sender, std::string& Command) override;
  void SetFrequency(std::string AFrequency) override;
  bool TuneNativeMode(const std::string& Mode) override;

  std::uint8_t RadioAddress() const { return FRadioAddress; }
  const std::string& RxBuffer() const { return FRxBuffer; }

protected:
  bool BuildModeCommand(const std::string& Native, bool FromPage,
                        std::string& Command) const override;
  bool BuildFrequencyCommand(std::int64_t Hz, std::string& Command) const override;
  std::string BuildPTTCommand(bool On) const override;
  std::string BuildTransmitReadCommand() const override;

  // Bytes received after the last FDh.
  std::string FRxBuffer;
  // Command byte and data of the last accepted frame from the radio.
  std::array<std::uint8_t, FrameBodyLength> FFrameBody{};

private:
  void HandleFrame(std::string_view Frame, std::string& LocalMode);
  std::string Frame(std::string_view Body) const;
  // Whether the polls read the data flag: a radio with a data mode, where
  // the station's "Digi" means data or a data mode was set by its Hamlib
  // name (a program sharing the radio must read back what it set).
  bool ReadsDataFlag() const;
  // Mode text and Hamlib mode of FModeByte and the data flag.
  bool UpdateModeFromByte(std::string& LocalMode);

  std::uint8_t FRadioAddress;
  // The last mode byte read (none since the start) and the data flag.
  std::optional<std::uint8_t> FModeByte;
  bool FDataOn = false;
  // The last command handed out was the data flag read.
  bool FPollingDataFlag = false;
  // A data mode was set by its Hamlib name since the driver was made.
  bool FDataModeTuned = false;
};

} // namespace vela

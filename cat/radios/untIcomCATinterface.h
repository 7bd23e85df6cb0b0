// The common body of the drivers for radios on an Icom CI-V bus: binary
// frames FE FE <to> <from> <command> [data] FD. The driver polls frequency
// and mode alternately and takes only frames whose source is its radio, which
// also skips the bus's echo of the driver's own commands (source CCh). A
// radio with a data mode also reads its data flag (1A 06) after the mode
// when the station's "Digi" means data, and then reports USB, LSB and FM
// with data on as "Digi".
//
// The radio also reports a change made at it (a knob turn, a mode key) of its
// own accord, as a "transceive" frame to address 00h: command 00h with the
// frequency, 01h with the mode. The driver takes those as reports at once.
// Once it has seen one (and the station's Transceive is auto) it trusts
// them and reads the radio only to keep the link alive: one read every
// KeepAliveCycles polls, frequency and mode in turn, and the reads a tune
// needs at once.
// A read that finds a value no report announced (reports off in the radio's
// menu, or lost), or a read left unanswered until the next one is due, ends
// the trust: the full cycle again, until the next report.
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
  // Polls between two keep-alive reads: a second at the worker's pace.
  static constexpr int KeepAliveCycles = 20;

  // The radio address is the stored CI-V address, or the radio's own.
  TIcomCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings, const TRadioModel& AModel);
  ~TIcomCATInterface() override;

  void ResetState() override;
  void ParseReply(TObject* Sender, std::string Data, int Count) override;
  void GetNextCommand(TObject* Sender, std::string& Command) override;
  void SetFrequency(std::string AFrequency) override;
  bool TuneNativeMode(const std::string& Mode) override;

  std::uint8_t RadioAddress() const { return FRadioAddress; }
  // The radio's own reports are trusted: the driver reads only to keep alive.
  bool FollowingReports() const override { return FFollowing; }
  void TakeUnsolicited(TObject* Sender, std::string Data, std::string& Unsolicited) override;
  const std::string& RxBuffer() const { return FRxBuffer; }

protected:
  // The Hamlib modes the set-mode command takes: the plain modes, and with
  // WithDataModes the data modes too (a radio with a data mode).
  static TNativeModeList SetModeNames(bool WithDataModes);

  bool BuildModeCommand(const std::string& Native, bool FromPage,
                        std::string& Command) const override;
  bool BuildFrequencyCommand(std::int64_t Hz, std::string& Command) const override;
  std::string BuildPTTCommand(bool On) const override;
  std::string BuildTransmitReadCommand() const override;

  // Bytes received after the last FDh, by ParseReply and by TakeUnsolicited.
  std::string FRxBuffer;
  std::string FUnsolicitedBuffer;
  // Command byte and data of the last accepted frame from the radio.
  std::array<std::uint8_t, FrameBodyLength> FFrameBody{};

private:
  void HandleFrame(std::string_view Frame, std::string& LocalMode);
  // A transceive frame's values; false when it carries none that counts.
  bool HandleReport(std::string_view Body, std::string& LocalMode, bool& Changed);
  bool DecodeFrequency(std::size_t DataBytes, bool& Changed);
  bool DecodeMode(std::size_t DataBytes, std::string& LocalMode, bool& Changed);
  // While following reports: the read to make this cycle (empty: none).
  std::string KeepAliveRead();
  // Makes Read (a read command's body) the poll, and the alternation's place.
  void PollWith(std::string_view Body);
  bool FollowsReports() const;
  void StopFollowing();
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

  // Following the radio's reports: polls since the last read, whether that
  // read is still unanswered, the reads owed at once (command bytes, after a
  // tune or a mode report), and the values whose next read may differ from
  // the reports (a tune's read-back; the data flag a mode report lacks).
  bool FFollowing = false;
  int FIdleCycles = 0;
  bool FReadUnanswered = false;
  std::string FOwedReads;
  bool FFrequencyUnreported = false;
  bool FModeUnreported = false;
};

} // namespace vela

// The driver for any radio served by a rig-control daemon (Hamlib's rigctld)
// over TCP: the daemon speaks to the radio, this driver speaks the daemon's
// line protocol to it through a network port in place of the serial port.
//
// It asks for the frequency and the mode with the extended commands "+f"
// and "+m", whose answers name their values ("Frequency: 7074000",
// "Mode: USB") and end with "RPRT n"; so an answer is read by its own words,
// whatever came before it (a half line after a reconnect, garbage, a refused
// command). It tunes with "+F <Hz>" and "+M <mode> 0".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cat/radios/untRadioCATinterface.h"
#include "cat/radios/untRadioModel.h"

namespace vela {

class TRigctldCATInterface : public TRadioCATInterface {
public:
  // The daemon's own default TCP port.
  static constexpr std::uint16_t DefaultPort = 4532;

  TRigctldCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings);

  // The Hamlib modes it asks the daemon to set; the radio behind it may
  // refuse one.
  static TNativeModeList NativeModes();
  // Its row of the radio table.
  static const TRadioModel RadioModel;

  void ResetState() override;
  void ParseReply(TObject* Sender, std::string Data, int Count) override;
  void GetNextCommand(TObject* Sender, std::string& Command) override;
  void SetFrequency(std::string AFrequency) override;

  // The code of the daemon's last answer to a poll ("RPRT n"; 0 is fine, a
  // negative code an error of the daemon or of the radio behind it).
  int LastResult() const { return FLastResult; }
  // True once the daemon turned out to answer only one command per
  // connection; the poll then asks for frequency and mode in turn.
  bool OneCommandPolls() const { return FOneCommandPolls; }
  // While the daemon answers the frequency poll with an error code: what
  // that means ("rigctld answers RPRT -5 (timed out): is the radio on?").
  std::string RadioNote() const override;
  // The radio behind the daemon is unknown, and the daemon refuses what it
  // cannot take: any frequency the command carries goes.
  bool TakesHz(std::int64_t Hz) const override;

protected:
  bool BuildModeCommand(const std::string& Native, bool FromPage,
                        std::string& Command) const override;
  bool BuildFrequencyCommand(std::int64_t Hz, std::string& Command) const override;
  // Keying through the daemon is not offered: the programs that share the
  // radio through this one can ask the daemon themselves.
  std::string BuildPTTCommand(bool On) const override {
    (void)On;
    return {};
  }

private:
  void HandleLine(std::string_view Line);
  void EndAnswer(int Result);
  void ReportPoll();

  std::string FRxBuffer;
  // The answer being read: its command, and the values it named so far.
  std::string FAnswerOf;
  TReplyValues FAnswer;
  // The values of the poll's answers so far, reported together.
  TReplyValues FPoll;
  int FLastResult = 0;
  int FFrequencyResult = 0;
  // What came back since the last poll went out.
  bool FFrequencyAnswered = false;
  bool FModeAnswered = false;
  bool FPollWasBoth = false;
  bool FOneCommandPolls = false;
  bool FAskModeNext = false;
};

} // namespace vela

// Radio side of the six CAT protocols, as pure state machines: bytes from the
// controller go in through Receive(), the radio's answers come out of TakeOutput(),
// and every received command and every VFO or mode change is written to a log
// that the simulator program prints line by line.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vela::radiosim {

// One operating mode of a radio: the name used on the simulator's command line
// and standard input, the radio's own code for it, the filter it implies
// (Icom; 0 elsewhere) and whether the data flag is on (IC-7300 data modes).
struct TSimMode {
  std::string Name;
  int Code;
  int Filter;
  bool Data;
};

// Upper-case hex of a byte string, bytes separated by one blank ("FE FE 70 E0 03 FD").
std::string HexBytes(const std::string& bytes);

class TRadioCore {
public:
  TRadioCore(std::vector<TSimMode> modes, int64_t maxFrequency);
  virtual ~TRadioCore() = default;
  TRadioCore(const TRadioCore&) = delete;
  TRadioCore& operator=(const TRadioCore&) = delete;

  virtual std::string RadioName() const = 0;
  // Binary radios log commands as hex, text radios as the text itself.
  virtual bool IsBinary() const = 0;
  // True when a half-received command is thrown away after a pause in the input
  // (the binary Yaesu protocol has no frame markers to resynchronise on).
  virtual bool InputTimesOut() const { return false; }

  // Bytes from the controller; complete commands are answered at once.
  void Receive(const std::string& bytes);
  // Forgets a half-received command.
  virtual void ResetInput() = 0;
  // Bytes the radio sends, oldest first; emptied by the call.
  std::string TakeOutput();
  // With an answer delay, the replies to commands wait apart from the rest
  // (an echo goes at once): the simulator sends them that much later.
  int AnswerDelayMs() const { return FAnswerDelayMs; }
  void setAnswerDelayMs(int v) { FAnswerDelayMs = v; }
  std::string TakeLateOutput() { return std::exchange(FLate, {}); }
  // Log lines ("cmd ...", "freq HZ", "mode NAME"), oldest first; emptied by the call.
  std::vector<std::string> TakeLog();

  // VFO frequency in hertz. setFrequency is the operator turning the dial:
  // false (and no change) when the radio cannot show the value.
  int64_t Frequency() const { return FFrequency; }
  bool setFrequency(int64_t hz);
  int64_t MaxFrequency() const { return FMaxFrequency; }
  // Mode name; setMode takes a name of Modes() (case-insensitive, a few aliases).
  std::string Mode() const;
  bool setMode(const std::string& name);
  const std::vector<TSimMode>& Modes() const { return FModes; }

  // Framing faults, each applied once to the next non-empty reply to a command:
  // drop removes the reply's first byte, insert puts one extra 00h byte before it.
  void DropNextReplyByte() { FDropNext = true; }
  void InsertNextReplyByte() { FInsertNext = true; }

  // Binary Yaesu radios: answer each accepted set command with one 00h byte.
  bool Ack() const { return FAck; }
  void setAck(bool v) { FAck = v; }
  // Icom: echo every frame received (as the one-wire bus does).
  bool Echo() const { return FEcho; }
  void setEcho(bool v) { FEcho = v; }
  // Icom: broadcast frequency and mode changes made at the radio.
  bool Transceive() const { return FTransceive; }
  void setTransceive(bool v) { FTransceive = v; }
  // Icom: put a frame addressed to another controller on the bus ("freq" or
  // "mode"); false for radios without a shared bus or an unknown kind.
  virtual bool EmitForeign(const std::string& /*what*/) { return false; }

  // The transmitter, keyed by CAT; every change is logged ("ptt 1", "ptt 0").
  bool PTT() const { return FPTT; }

protected:
  virtual void Feed(const std::string& bytes) = 0;
  // Called after the operator changed frequency or mode (not after CAT commands).
  virtual void OperatorChanged(bool /*frequency*/) {}

  void LogCommand(const std::string& command);
  void LogLine(const std::string& line) { FLog.push_back(line); }
  // A reply to a command: subject to the framing faults.
  void Reply(std::string bytes);
  // Bytes that are not a reply (echo, broadcasts): sent unchanged.
  void Send(const std::string& bytes) { FOutput += bytes; }

  bool SetFrequencyFromCat(int64_t hz);
  void SetPTTFromCat(bool on);
  // Accepts a code of the mode table; filter -1 takes the mode's usual filter.
  bool SetModeFromCat(int code, int filter = -1, bool data = false);
  int ModeCode() const { return FModeCode; }
  int ModeFilter() const { return FFilter; }
  bool ModeData() const { return FData; }
  // Mode name for a code, or "" when the code is not in the table.
  std::string NameForCode(int code, int filter, bool data) const;

private:
  bool ApplyFrequency(int64_t hz);
  bool ApplyMode(const TSimMode& m);

  std::vector<TSimMode> FModes;
  int64_t FMaxFrequency;
  int64_t FFrequency = 14074000;
  int FModeCode = 0;
  int FFilter = 0;
  bool FData = false;
  bool FDropNext = false;
  bool FInsertNext = false;
  bool FAck = true;
  bool FEcho = true;
  bool FTransceive = false;
  bool FPTT = false;
  std::string FOutput;
  int FAnswerDelayMs = 0;
  std::string FLate;
  std::vector<std::string> FLog;
};

// Names accepted by CreateRadioCore: the radio table's command-line names
// (flex, ft100d, ft897d, ft950, ic7000, ic7300), in any case.
std::unique_ptr<TRadioCore> CreateRadioCore(const std::string& name);
const std::vector<std::string>& RadioNames();

// --- the six radios -------------------------------------------------------------

// Text protocols: commands are letters plus fixed-width parameters closed by ";".
class TTextRadio : public TRadioCore {
public:
  using TRadioCore::TRadioCore;
  bool IsBinary() const override { return false; }
  void ResetInput() override { FBuffer.clear(); }

protected:
  void Feed(const std::string& bytes) override;
  // One command without its ";"; answers through Reply().
  virtual void Handle(const std::string& command) = 0;
  void Refuse() { Reply("?;"); }

private:
  std::string FBuffer;
};

class TFlexRadio : public TTextRadio {
public:
  TFlexRadio();
  std::string RadioName() const override { return "flex"; }
  // The two status replies, exactly as sent (with ";").
  std::string ZZIFReply() const;
  std::string IFReply() const;

protected:
  void Handle(const std::string& command) override;

private:
  int KenwoodCode() const;
  void HandleVfo(const std::string& name, const std::string& param, bool vfoA);
  struct TFixed {
    const char* Name;
    const char* Answer;
    size_t SetWidth;
  };
  template <size_t N>
  void AnswerFixed(const TFixed (&table)[N], const std::string& name, const std::string& param);
  int64_t FVfoB = 14074000;
};

class TFT950Radio : public TTextRadio {
public:
  TFT950Radio();
  std::string RadioName() const override { return "ft950"; }
  std::string IFReply() const;

protected:
  void Handle(const std::string& command) override;

private:
  int64_t FVfoB = 14074000;
  char FAutoInfo = '0', FVfoSelect = '0', FTxVfo = '0', FSplit = '0', FNarrow = '0';
  std::string FWidth = "00";
  std::map<std::string, std::string> FMenu;
};

// Binary Yaesu protocol: five-byte commands, four parameters then the instruction.
class TYaesuBinaryRadio : public TRadioCore {
public:
  using TRadioCore::TRadioCore;
  bool IsBinary() const override { return true; }
  bool InputTimesOut() const override { return true; }
  void ResetInput() override { FBuffer.clear(); }

protected:
  void Feed(const std::string& bytes) override;
  virtual void Handle(const std::string& command) = 0;
  // The one-byte acknowledgement of an accepted set command, when enabled.
  void Acknowledge();

private:
  std::string FBuffer;
};

class TFT100DRadio : public TYaesuBinaryRadio {
public:
  TFT100DRadio();
  std::string RadioName() const override { return "ft100d"; }
  // 32 bytes: the current VFO's 16-byte block, then the other VFO's.
  std::string StatusReply() const;
  static std::string StatusBlock(int64_t hz, int modeCode, int band);

protected:
  void Handle(const std::string& command) override;

private:
  int64_t FVfoB = 14074000;
  int FVfoBMode = 1;
};

class TFT897DRadio : public TYaesuBinaryRadio {
public:
  TFT897DRadio();
  std::string RadioName() const override { return "ft897d"; }
  std::string FrequencyModeReply() const;

protected:
  void Handle(const std::string& command) override;

private:
  bool FVfoB = false;
  int64_t FOtherFrequency = 7074000;
  int FOtherMode = 0;
  bool FLocked = false;
};

// Icom CI-V: FE FE to from command [sub] data FD.
class TIcomRadio : public TRadioCore {
public:
  TIcomRadio(std::string name, unsigned char address, bool is7000);
  std::string RadioName() const override { return FName; }
  bool IsBinary() const override { return true; }
  void ResetInput() override { FBuffer.clear(); }
  bool EmitForeign(const std::string& what) override;
  unsigned char Address() const { return FAddress; }
  // Another CI-V address (as set in the radio's menu).
  void setAddress(unsigned char address) { FAddress = address; }
  // IC-7300: answer NG (FAh) to the data mode command 1A 06, as a radio
  // that does not take it.
  bool DataFlagRefused() const { return FDataFlagRefused; }
  void setDataFlagRefused(bool v) { FDataFlagRefused = v; }
  // Five BCD bytes, 1 Hz digit first.
  static std::string EncodeFrequency(int64_t hz);
  // -1 when the bytes are not five valid BCD bytes.
  static int64_t DecodeFrequency(const std::string& bytes);
  // The controller address Icom software uses by default; foreign frames go to it.
  static constexpr unsigned char ForeignController = 0xE0;

protected:
  void Feed(const std::string& bytes) override;
  void OperatorChanged(bool frequency) override;

private:
  void HandleFrame(const std::string& frame);
  std::string Frame(unsigned char to, const std::string& body) const;

  std::string FName;
  unsigned char FAddress;
  bool FIs7300;
  bool FDataFlagRefused = false;
  std::string FBuffer;
  int64_t FVfoB = 7074000;
  bool FVfoBSelected = false;
};

} // namespace vela::radiosim

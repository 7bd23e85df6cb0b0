// The text protocol of Hamlib's network daemon (model 2, "NET rigctl"), as
// pure functions: lines in, requests out; answers in, text out.
//
// One command per line. A command is a short letter ("f", "F 14074000") or a
// long name after a backslash ("\get_freq"). A leading "+" (or ";", "|", ",")
// asks for the extended answer: a header naming the command, each value as
// "Label: value", and "RPRT n" at the end, lines ended by that character ("+"
// ends them with a newline). The plain answer of a get command is its values,
// one per line; that of a set command (or of a failure) is "RPRT n", where n
// is 0 or a negative error number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vela {

// The longest line either side accepts; a longer one ends the conversation.
inline constexpr std::size_t MaxRigctlLine = 1024;

// Result numbers of "RPRT n".
inline constexpr int RigctlOK = 0;
inline constexpr int RigctlInvalidArgument = -1;
inline constexpr int RigctlNotImplemented = -4;
// The radio does not answer (its link is not live), or a command did not
// reach it in time.
inline constexpr int RigctlTimeout = -5;
inline constexpr int RigctlNotAvailable = -11;

// Splits a byte stream into lines ended by "\n" (a "\r" before it is dropped
// too). Holds at most MaxLine bytes of an unfinished line.
class TRigctlLineReader {
public:
  explicit TRigctlLineReader(std::size_t AMaxLine = MaxRigctlLine) : FMaxLine(AMaxLine) {}

  // Appends Data and adds every completed line to Lines. False when a line
  // is longer than MaxLine: the reader then drops what it holds and the
  // caller should end the conversation; lines before it are still added.
  bool Feed(std::string_view Data, std::vector<std::string>& Lines);
  std::size_t Pending() const { return FBuffer.size(); }

private:
  std::size_t FMaxLine;
  std::string FBuffer;
};

enum class TRigctlCommand : std::uint8_t {
  rcUnknown,
  rcGetFreq,
  rcSetFreq,
  rcGetMode,
  rcSetMode,
  rcGetVfo,
  rcSetVfo,
  rcGetPtt,
  rcSetPtt,
  rcGetSplitVfo,
  rcSetSplitVfo,
  rcChkVfo,
  rcGetPowerstat,
  rcGetLockMode,
  rcDumpState,
  rcQuit,
};

struct TRigctlRequest {
  TRigctlCommand Command = TRigctlCommand::rcUnknown;
  // The long name ("get_freq"); for an unknown command the word as sent.
  std::string Name;
  // 0 for the plain answer, else the extended answer's line end.
  char Separator = 0;
  std::vector<std::string> Args;

  bool Extended() const { return Separator != 0; }
};

// Reads one line (without its end). False for a blank line, which needs no
// answer. Unknown commands come back as rcUnknown with their word as Name.
bool ParseRigctlRequest(std::string_view Line, TRigctlRequest& Request);

// False when a known command came with fewer arguments than it needs.
bool RigctlArgsComplete(const TRigctlRequest& Request);

// What a command produced: a result number and, for a get command that
// succeeded, its values in the order of the command's labels.
struct TRigctlReply {
  int Result = RigctlOK;
  std::vector<std::string> Values;
};

// The answer text for a request, ending with a newline.
std::string FormatRigctlReply(const TRigctlRequest& Request, const TRigctlReply& Reply);

// A frequency in hertz as the protocol writes it: digits with an optional
// fraction ("14074055.000000"), rounded to whole hertz. False for anything
// else, for negative values and for more than 1 THz.
bool ParseRigctlHz(std::string_view Text, std::int64_t& Hz);

// The protocol's mode names (USB, PKTUSB, ...): their bit in a mode set and
// the usual passband that "m" reports and a passband of 0 or -1 asks for.
// Bit 0 and passband 0 for a name outside the list.
std::uint64_t RigctlModeBit(std::string_view Mode);
std::int32_t RigctlNormalPassband(std::string_view Mode);

// The facts of the radio that "\dump_state" tells a client.
struct TRigctlRadioFacts {
  std::int64_t LowHz = 0;
  std::int64_t HighHz = 0;
  // The mode names the radio can be set to; they make the ranges' mode sets.
  std::vector<std::string> Modes;
  // The tuning step (the radio's frequency resolution), in hertz.
  std::int64_t StepHz = 1;
  // Whether the transmitter can be keyed by command.
  bool CanKey = false;
};

// A protocol-1 "\dump_state" answer for the network model, ending "done".
std::string FormatRigctlDumpState(const TRigctlRadioFacts& Facts);

} // namespace vela

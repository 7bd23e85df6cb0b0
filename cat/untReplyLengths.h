// The reply lengths of the driver's polls, learnt from the line.
//
// The driver polls with the same few commands over and over; the length of
// each one's last complete reply (echo included) tells the radio port how
// long a burst to gather before it hands the reply over, so that a reply
// paced by the line reaches the main thread once, not in pieces, and tells
// the worker when a reply of known length will be over.
//
// A length counts once two complete replies in a row had it (garbage or a
// reply cut short is never taken for the norm), and only up to a size no CAT
// reply reaches. Pure: no clock, no port, no lock.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vela {

class TReplyLengths {
public:
  static constexpr std::size_t MaxKnownReplies = 16;
  static constexpr int MaxReplyLength = 256;

  // The reply to Command is over: Bytes came back, Complete when the line
  // then fell quiet (rather than being written to after the longest wait).
  // A reply that is incomplete, empty (a set command) or longer than
  // MaxReplyLength makes the command's length unknown again.
  void Learn(const std::string& Command, int Bytes, bool Complete);
  // The confirmed reply length of Command; 0 while unknown.
  int Expected(const std::string& Command) const;

private:
  struct TEntry {
    std::string Command;
    int Bytes = 0;
    bool Confirmed = false;
  };
  std::vector<TEntry> FEntries;
};

} // namespace vela

#include "cat/untReplyLengths.h"

#include <algorithm>

namespace vela {

void TReplyLengths::Learn(const std::string& Command, int Bytes, bool Complete) {
  auto Known = std::find_if(FEntries.begin(), FEntries.end(),
                            [&](const TEntry& Entry) { return Entry.Command == Command; });
  if (!Complete || Bytes <= 0 || Bytes > MaxReplyLength) {
    // No answer (a set command), one the line cut short, or a flood: no
    // expectation.
    if (Known != FEntries.end())
      FEntries.erase(Known);
  } else if (Known != FEntries.end()) {
    Known->Confirmed = Known->Bytes == Bytes;
    Known->Bytes = Bytes;
  } else {
    // Tune commands differ each time; the oldest entry makes room.
    if (FEntries.size() >= MaxKnownReplies)
      FEntries.erase(FEntries.begin());
    FEntries.push_back({Command, Bytes, false});
  }
}

int TReplyLengths::Expected(const std::string& Command) const {
  for (const TEntry& Known : FEntries)
    if (Known.Command == Command)
      return Known.Confirmed ? Known.Bytes : 0;
  return 0;
}

} // namespace vela

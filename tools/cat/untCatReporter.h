// velalog-cat's report lines: the radio's values on standard output, link
// changes, notes and the trace on standard error, each line whole.
#pragma once

#include <chrono>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>

#include "cat/radios/untBandPlan.h"
#include "cat/untLinkState.h"
#include "station/untStation.h"

namespace vela {

// "12:34:56.789", UTC.
inline std::string TimeOfDay() {
  const auto Now = std::chrono::system_clock::now().time_since_epoch();
  const long long Ms = std::chrono::duration_cast<std::chrono::milliseconds>(Now).count();
  char Text[32];
  std::snprintf(Text, sizeof Text, "%02lld:%02lld:%02lld.%03lld", Ms / 3600000 % 24,
                Ms / 60000 % 60, Ms / 1000 % 60, Ms % 1000);
  return Text;
}

inline std::string TraceText(const std::string& Data, bool Hex) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string Text;
  for (const char C : Data) {
    const auto B = static_cast<unsigned char>(C);
    if (Hex) {
      if (!Text.empty())
        Text += ' ';
      Text += Digits[B >> 4];
      Text += Digits[B & 15];
    } else if (B == '\r') {
      Text += "\\r";
    } else if (B == '\n') {
      Text += "\\n";
    } else if (B == '\\') {
      Text += "\\\\";
    } else if (B >= 0x20 && B < 0x7F) {
      Text += C;
    } else {
      Text += "\\x";
      Text += Digits[B >> 4];
      Text += Digits[B & 15];
    }
  }
  return Text;
}

// Receives the driver's reports, link changes and traffic, and prints them.
class TReporter : public TObject {
public:
  // The page's texts of the value, made here as the window makes them.
  void RxData(const TStationLinks& Links, const TRadioValue& Value) {
    const TPageTexts Texts = PageTexts(Value);
    std::cout << "rx\t" << Texts.Band << '\t' << Texts.Frequency << '\t' << Texts.Mode;
    if (Exact)
      std::cout << '\t' << Value.HzOrZero() << '\t' << Value.NativeMode;
    std::cout << std::endl;
    PrintFollowing(Links.FollowingReports);
  }
  bool Exact = false;
  // Main thread.
  void LinkChange(const TStationLinks& Links) {
    PrintLink(TLinkRole::lrRadio, Links.Radio, FRadio);
    PrintLink(TLinkRole::lrVirtual, Links.Virtual, FVirtual);
    // What the driver did or refused on its own ("released a transmitter
    // left keyed").
    if (Links.RadioNote != FNote) {
      FNote = Links.RadioNote;
      if (!FNote.empty())
        this->Note("# note " + FNote);
    }
    PrintFollowing(Links.FollowingReports);
  }
  // Worker thread for writes, main thread for reads.
  void Trace(TObject*, bool Written, std::string Data) {
    const std::string Line =
        "# trace " + TimeOfDay() + (Written ? " > " : " < ") + TraceText(Data, Hex) + "\n";
    std::lock_guard<std::mutex> Guard(FErrLock);
    std::cerr << Line << std::flush;
  }
  bool Hex = false;
  // One line on standard error, whole.
  void Note(const std::string& Line) {
    std::lock_guard<std::mutex> Guard(FErrLock);
    std::cerr << Line << std::endl;
  }

private:
  void PrintLink(TLinkRole Role, const TLinkStatus& Status, std::optional<TLinkStatus>& Last) {
    if (Last && Last->State == Status.State && Last->Where == Status.Where)
      return;
    Last = Status;
    std::string Line = std::string("# link ") +
                       (Role == TLinkRole::lrRadio ? "radio " : "virtual ") +
                       LinkStateName(Status.State);
    if (!Status.Where.empty())
      Line += " " + Status.Where;
    const std::string Words = LinkStateWords(Role, Status);
    if (Words != LinkStateName(Status.State))
      Line += (Status.Where.empty() ? " " : " · ") + Words;
    std::lock_guard<std::mutex> Guard(FErrLock);
    std::cerr << Line << std::endl;
  }
  // Whether the driver follows the radio's own reports, when that changed.
  void PrintFollowing(bool Following) {
    if (Following == FFollowing)
      return;
    FFollowing = Following;
    std::lock_guard<std::mutex> Guard(FErrLock);
    std::cerr << (FFollowing ? "# radio reports followed" : "# radio polled") << std::endl;
  }
  std::optional<TLinkStatus> FRadio, FVirtual;
  std::string FNote;
  bool FFollowing = false;
  std::mutex FErrLock;
};

} // namespace vela

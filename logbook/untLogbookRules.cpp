#include "logbook/untLogbookRules.h"

#include "platform/untStrToInt.h"

#include <QUrl>

#include <algorithm>
#include <cctype>
#include <limits>
#include <vector>

#include "cat/radios/untRadioTable.h"

namespace vela {

namespace {

// The radio's modes by Hamlib name against the names the logbook's pages
// understand; Data marks the modes that a digital-mode program's mode
// stands for.
struct TModeRow {
  const char* Native;
  const char* Logbook;
  bool Data;
};
constexpr TModeRow LogbookModes[] = {
    {"LSB", "LSB", false},    {"USB", "USB", false},     {"CW", "CW", false},
    {"CWR", "CW", false},     {"AM", "AM", false},       {"SAM", "AM", false},
    {"FM", "FM", false},      {"WFM", "FM", false},      {"RTTY", "RTTY", false},
    {"RTTYR", "RTTY", false}, {"PKTUSB", "USB-D", true}, {"PKTLSB", "LSB-D", true},
    {"PKTFM", "FM", true},
};

// Click-to-tune modes against what the radio is asked to set. Digi: the
// operator's "Digi means" choice decides; Data names the packet mode that
// "data" picks where the radio has one.
struct TTuneRow {
  const char* Tune;
  const char* Native;
  bool Digi;
};
constexpr TTuneRow TuneModes[] = {
    {"lsb", "LSB", false},      {"usb", "USB", false},    {"cw", "CW", false},
    {"fm", "FM", false},        {"am", "AM", false},      {"rtty", "RTTY", false},
    {"pkt", "PKTUSB", true},    {"dig", "PKTUSB", true},  {"pktusb", "PKTUSB", true},
    {"pktlsb", "PKTLSB", true}, {"pktfm", "PKTFM", true},
};

// The logbook refuses a mode of more than ten characters.
constexpr std::size_t MaxLogbookMode = 10;

bool PlainModeName(std::string_view Mode) {
  return !Mode.empty() && Mode.size() <= MaxLogbookMode &&
         std::all_of(Mode.begin(), Mode.end(), [](char C) {
           return std::isalnum(static_cast<unsigned char>(C)) || C == '-';
         });
}

std::string Lower(std::string_view Text) {
  std::string Result(Text);
  for (char& C : Result)
    C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return Result;
}

std::vector<std::string_view> Split(std::string_view Text, char Separator) {
  std::vector<std::string_view> Parts;
  std::size_t Start = 0;
  while (true) {
    const std::size_t End = Text.find(Separator, Start);
    Parts.push_back(Text.substr(Start, End == std::string_view::npos ? End : End - Start));
    if (End == std::string_view::npos)
      return Parts;
    Start = End + 1;
  }
}

} // namespace

std::string LogbookModeForNative(std::string_view NativeMode, std::string_view DigitalMode) {
  for (const TModeRow& Row : LogbookModes)
    if (NativeMode == Row.Native)
      return Row.Data && PlainModeName(DigitalMode) ? std::string(DigitalMode) : Row.Logbook;
  return {};
}

std::string NativeModeForTune(std::string_view TuneMode, TDigiMode Digi, const TRadioModel* Model) {
  const std::string Mode = Lower(TuneMode);
  for (const TTuneRow& Row : TuneModes) {
    if (Mode != Row.Tune)
      continue;
    if (!Row.Digi || !Model)
      return Digi == dmRTTY && Row.Digi ? "RTTY" : Row.Native;
    if (Digi == dmRTTY)
      return Model->DigiRTTYMode;
    // pkt and dig are the radio's own data mode; the others name theirs,
    // where the radio has a data mode at all.
    if (!Model->HasDataMode || Mode == "pkt" || Mode == "dig")
      return Model->DigiDataMode;
    return Row.Native;
  }
  return {};
}

std::optional<std::int64_t> ParseTuneHz(std::string_view Text) {
  // Whole hertz only: the logbook's cluster page sends no fraction.
  std::int64_t Hz = 0;
  if (!TryDigitsToInt(Text, 11, Hz) || Hz < TuneLowHz || Hz > TuneHighHz)
    return std::nullopt;
  return Hz;
}

TTuneRequest ParseTuneRequest(std::string_view Head) {
  TTuneRequest Request;
  auto Fail = [&Request](int Status, const char* Why) {
    Request.Error = Status;
    Request.Reason = Why;
    return Request;
  };
  std::string_view Line = Head.substr(0, Head.find('\n'));
  if (!Line.empty() && Line.back() == '\r')
    Line.remove_suffix(1);
  const std::vector<std::string_view> Parts = Split(Line, ' ');
  if (Parts.size() != 3 || Parts[0].empty() || Parts[2].substr(0, 5) != "HTTP/")
    return Fail(400, "not an HTTP request");
  Request.Method = Parts[0];
  if (Request.Method == "OPTIONS")
    return Request;
  if (Request.Method != "GET")
    return Fail(405, "only GET tunes the radio");
  std::string_view Target = Parts[1];
  // An absolute address names this listener; only its path counts.
  for (std::string_view Scheme : {"http://", "https://"})
    if (Target.substr(0, Scheme.size()) == Scheme) {
      const std::size_t Slash = Target.find('/', Scheme.size());
      Target = Slash == std::string_view::npos ? "/" : Target.substr(Slash);
    }
  Target = Target.substr(0, Target.find_first_of("?#"));
  if (Target.empty() || Target.front() != '/')
    return Fail(400, "not a path");
  Target.remove_prefix(1);
  if (!Target.empty() && Target.back() == '/')
    Target.remove_suffix(1);
  const std::vector<std::string_view> Segments = Split(Target, '/');
  if (Segments.size() > 2)
    return Fail(400, "expected /HZ or /HZ/MODE");
  Request.Hz = ParseTuneHz(Segments[0]);
  if (!Request.Hz)
    return Fail(400, "not a frequency in whole hertz from 1 kHz to 10 GHz");
  if (Segments.size() == 2) {
    if (Segments[1].size() > 16 || NativeModeForTune(Segments[1], dmData, nullptr).empty())
      return Fail(400, "unknown mode (lsb usb cw fm am rtty pkt dig pktlsb pktusb pktfm)");
    Request.Mode = Segments[1];
    std::transform(Request.Mode.begin(), Request.Mode.end(), Request.Mode.begin(),
                   [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
  }
  return Request;
}

std::string LogbookApiUrl(std::string_view Base, std::string_view Call, std::string* Error) {
  auto Fail = [Error](const char* Why) {
    if (Error)
      *Error = Why;
    return std::string();
  };
  QString Text = QString::fromUtf8(Base.data(), static_cast<qsizetype>(Base.size())).trimmed();
  if (Text.isEmpty())
    return Fail("no logbook address");
  if (!Text.contains(QStringLiteral("://")))
    Text.prepend(QStringLiteral("http://"));
  QUrl Url(Text, QUrl::StrictMode);
  if (!Url.isValid() || Url.host().isEmpty())
    return Fail("not a web address");
  if (Url.scheme() != QStringLiteral("http") && Url.scheme() != QStringLiteral("https"))
    return Fail("the address must start with http:// or https://");
  if (Url.hasQuery() || Url.hasFragment())
    return Fail("the address must not hold ? or #");
  // The API answers under index.php whether or not the server rewrites
  // addresses, so that form is always used.
  QString Path = Url.path();
  while (Path.endsWith(QLatin1Char('/')))
    Path.chop(1);
  if (!Path.endsWith(QStringLiteral("/index.php")))
    Path += QStringLiteral("/index.php");
  Path +=
      QStringLiteral("/api/") + QString::fromUtf8(Call.data(), static_cast<qsizetype>(Call.size()));
  Url.setPath(Path);
  if (Error)
    Error->clear();
  return Url.toString(QUrl::FullyEncoded).toStdString();
}

bool ValidApiKey(std::string_view Key, std::string* Error) {
  const char* Why = nullptr;
  if (Key.empty())
    Why = "no API key";
  else if (Key.size() > 256)
    Why = "the API key is too long";
  else if (std::any_of(Key.begin(), Key.end(), [](char C) {
             const auto B = static_cast<unsigned char>(C);
             return B <= ' ' || B == 0x7F || B == '/' || B == '?' || B == '#' || B == '%';
           }))
    Why = "the API key holds a blank or a character keys do not have";
  if (Error)
    *Error = Why ? Why : "";
  return !Why;
}

std::string PlainWords(std::string_view Text, std::size_t MaxCharacters) {
  static const std::pair<std::string_view, std::string_view> Entities[] = {
      {"&lt;", "<"},  {"&gt;", ">"},   {"&amp;", "&"},  {"&quot;", "\""},
      {"&#39;", "'"}, {"&apos;", "'"}, {"&nbsp;", " "},
  };
  std::string Words;
  std::size_t Characters = 0;
  bool Blank = true; // no blank at the start
  bool Cut = false;
  for (std::size_t I = 0; I < Text.size() && !Cut; ++I) {
    std::string_view Piece = Text.substr(I, 1);
    if (Text[I] == '<') {
      // A tag: passed over to its end, as a blank.
      const std::size_t Close = Text.find('>', I);
      I = Close == std::string_view::npos ? Text.size() : Close;
      Piece = " ";
    } else if (Text[I] == '&') {
      for (const auto& [Name, Value] : Entities)
        if (Text.substr(I, Name.size()) == Name) {
          Piece = Value;
          I += Name.size() - 1;
          break;
        }
    }
    for (char C : Piece) {
      const auto B = static_cast<unsigned char>(C);
      const bool IsBlank = B <= ' ' || B == 0x7F;
      if (IsBlank && Blank)
        continue;
      if ((B & 0xC0) != 0x80 && ++Characters > MaxCharacters) {
        Cut = true;
        break;
      }
      Words += IsBlank ? ' ' : C;
      Blank = IsBlank;
    }
  }
  while (!Words.empty() && Words.back() == ' ')
    Words.pop_back();
  if (Cut)
    Words += "\u2026";
  return Words;
}

TMsTime TBackoff::Fail() {
  TMsTime Pause = FFirst;
  for (int I = 0; I < FFailures && Pause < FMax; ++I)
    Pause *= 2;
  ++FFailures;
  return std::min(Pause, FMax);
}

void TPostPacer::Observe(const std::optional<TLogbookRadioState>& State) {
  FLatest = State;
  // Back from a link that was not live: the logbook's state is stale, so
  // the radio's is posted anew even when it did not change.
  if (!State)
    FPosted.reset();
}

std::optional<TMsTime> TPostPacer::NextDue() const {
  if (FInFlight || !FLatest)
    return std::nullopt;
  const TMsTime Paced =
      FEverStarted ? FLastStart + MinIntervalMs : std::numeric_limits<TMsTime>::min();
  if (FRetryPause > 0)
    return std::max(FRetryAt, Paced);
  if (!FPosted || *FPosted != *FLatest)
    return Paced;
  return std::max(FLastSuccess + HeartbeatMs, Paced);
}

TLogbookRadioState TPostPacer::Begin(TMsTime Now) {
  FInFlight = true;
  FEverStarted = true;
  FLastStart = Now;
  FSending = FLatest.value_or(TLogbookRadioState{});
  return FSending;
}

void TPostPacer::Finished(bool Ok, TMsTime Now) {
  if (!FInFlight)
    return;
  FInFlight = false;
  if (Ok) {
    // A link that went down meanwhile leaves nothing counted as told.
    if (FLatest)
      FPosted = FSending;
    FLastSuccess = Now;
    FBackoff.Reset();
    FRetryPause = 0;
    return;
  }
  FRetryPause = FBackoff.Fail();
  FRetryAt = Now + FRetryPause;
}

} // namespace vela

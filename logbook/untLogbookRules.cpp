#include "logbook/untLogbookRules.h"

#include "platform/untStrToInt.h"
#include "platform/untText.h"

#include "cat/transport/untHostPort.h"

#include <QUrl>

#include <algorithm>
#include <cctype>
#include <limits>
#include <vector>

#include "cat/radios/untModeNames.h"
#include "cat/radios/untRadioTable.h"

namespace vela {

namespace {

// The logbook refuses a mode of more than ten characters.
constexpr std::size_t MaxLogbookMode = 10;

bool PlainModeName(std::string_view Mode) {
  return !Mode.empty() && Mode.size() <= MaxLogbookMode &&
         std::all_of(Mode.begin(), Mode.end(), [](char C) {
           return std::isalnum(static_cast<unsigned char>(C)) || C == '-';
         });
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

TLogbookKind LogbookKindFromText(std::string_view Text) {
  const std::string Kind = AsciiLower(Trim(Text));
  if (Kind == "wavelog")
    return TLogbookKind::lkWavelog;
  if (Kind == "cloudlog")
    return TLogbookKind::lkCloudlog;
  return TLogbookKind::lkUnknown;
}

const char* LogbookKindText(TLogbookKind Kind) {
  switch (Kind) {
  case TLogbookKind::lkWavelog:
    return "wavelog";
  case TLogbookKind::lkCloudlog:
    return "cloudlog";
  default:
    return "auto";
  }
}

const char* LogbookKindName(TLogbookKind Kind) {
  switch (Kind) {
  case TLogbookKind::lkWavelog:
    return "Wavelog";
  case TLogbookKind::lkCloudlog:
    return "Cloudlog";
  default:
    return "the logbook";
  }
}

std::string LogbookModeForNative(std::string_view NativeMode, std::string_view DigitalMode,
                                 TLogbookKind Kind) {
  const TModeRow* Row = FindNativeModeRow(NativeMode);
  if (!Row)
    return {};
  if (Row->RidesOn && PlainModeName(DigitalMode))
    return std::string(DigitalMode);
  if (Row->RidesOn && Kind == TLogbookKind::lkCloudlog)
    return FindNativeModeRow(Row->RidesOn)->Logbook;
  return Row->Logbook;
}

std::string NativeModeForTune(std::string_view TuneMode, TDigiMode Digi, const TRadioModel* Model) {
  const std::string Mode = AsciiLower(TuneMode);
  if (IsDigiTuneName(Mode))
    return DigiNativeMode(Digi, Model);
  if (const TModeRow* Row = FindTuneModeRow(Mode))
    return Row->Native;
  const std::string Native =
      IsDigitalModeName(Mode) ? std::string(NativePKTUSB) : DataModeForName(Mode);
  // A data mode named outright follows "Digi means" on a radio without one.
  if (Native.empty() || !Model || Model->HasDataMode)
    return Native;
  return DigiNativeMode(Digi, Model);
}

std::optional<std::int64_t> ParseTuneHz(std::string_view Text) {
  // Whole hertz only: the logbook's cluster page sends no fraction.
  std::int64_t Hz = 0;
  if (!TryDigitsToInt(Text, 11, Hz) || Hz < TuneLowHz || Hz > TuneHighHz)
    return std::nullopt;
  return Hz;
}

TTuneRequest ParseRequestHead(std::string_view Head) {
  TTuneRequest Request;
  auto Fail = [&Request](int Status, const char* Why) {
    Request.Error = Status;
    Request.Reason = Why;
    return Request;
  };
  std::vector<std::string_view> Lines = Split(Head, '\n');
  for (std::string_view& Line : Lines)
    if (!Line.empty() && Line.back() == '\r')
      Line.remove_suffix(1);
  const std::vector<std::string_view> Parts = Split(Lines[0], ' ');
  if (Parts.size() != 3 || Parts[0].empty() || Parts[2].substr(0, 5) != "HTTP/")
    return Fail(400, "not an HTTP request");
  Request.Method = Parts[0];
  Request.Version = Parts[2];
  for (std::size_t I = 1; I < Lines.size() && !Lines[I].empty(); ++I) {
    const std::size_t Colon = Lines[I].find(':');
    if (Colon == std::string_view::npos)
      continue;
    const std::string Name = AsciiLower(Trim(Lines[I].substr(0, Colon)));
    const std::string Value(Trim(Lines[I].substr(Colon + 1)));
    std::optional<std::string>* Single = Name == "host"     ? &Request.Host
                                         : Name == "origin" ? &Request.Origin
                                                            : nullptr;
    if (Single && *Single) {
      Single->reset(); // neither counts
      return Fail(400, Name == "host" ? "more than one Host header" : "more than one Origin");
    }
    if (Single)
      *Single = Value;
    else if (Name == "referer")
      Request.Referer = Value;
    if (Name.starts_with("sec-fetch-"))
      Request.SecFetch = true;
    if (Name == "sec-fetch-site")
      Request.SecFetchSite = AsciiLower(Value);
  }
  return Request;
}

TTuneRequest ParseTuneRequest(std::string_view Head) {
  TTuneRequest Request = ParseRequestHead(Head);
  auto Fail = [&Request](int Status, const char* Why) {
    Request.Error = Status;
    Request.Reason = Why;
    return Request;
  };
  if (Request.Error || Request.Method == "OPTIONS")
    return Request;
  const std::string_view Line = Head.substr(0, Head.find('\n'));
  const std::vector<std::string_view> Parts = Split(Line, ' ');
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
      return Fail(400, "unknown mode (lsb usb cw fm am rtty pkt dig pktusb pktlsb pktfm usb-d "
                       "lsb-d, or a digital mode such as ft8)");
    Request.Mode = AsciiLower(Segments[1]);
  }
  return Request;
}

std::string WebOrigin(std::string_view Text) {
  QString Address = QString::fromUtf8(Text.data(), static_cast<qsizetype>(Text.size())).trimmed();
  if (!Address.contains(QStringLiteral("://")))
    Address.prepend(QStringLiteral("http://"));
  const QUrl Url(Address, QUrl::StrictMode);
  const QString Scheme = Url.scheme().toLower();
  if (!Url.isValid() || Url.host().isEmpty() ||
      (Scheme != QStringLiteral("http") && Scheme != QStringLiteral("https")))
    return {};
  QString Host = Url.host().toLower();
  if (Host.contains(QLatin1Char(':')))
    Host = QLatin1Char('[') + Host + QLatin1Char(']');
  const int Port = Url.port(-1);
  const int SchemePort = Scheme == QStringLiteral("https") ? 443 : 80;
  QString Origin = Scheme + QStringLiteral("://") + Host;
  if (Port >= 0 && Port != SchemePort)
    Origin += QLatin1Char(':') + QString::number(Port);
  return Origin.toStdString();
}

std::vector<std::string> TuneOrigins(std::string_view LogbookUrl, std::string_view Listed) {
  std::vector<std::string> Origins;
  auto Add = [&Origins](std::string_view Text) {
    if (std::string Origin = WebOrigin(Text); !Origin.empty())
      Origins.push_back(std::move(Origin));
  };
  if (!Trim(LogbookUrl).empty())
    Add(LogbookUrl);
  std::size_t Start = 0;
  while (Start < Listed.size()) {
    const std::size_t End = Listed.find_first_of(" \t", Start);
    const std::string_view Word =
        Listed.substr(Start, End == std::string_view::npos ? End : End - Start);
    if (!Word.empty())
      Add(Word);
    if (End == std::string_view::npos)
      break;
    Start = End + 1;
  }
  return Origins;
}

namespace {

// An origin a browser sent (Origin or the start of Referer) that names one
// of Guard's; a text without a scheme is no origin.
bool AcceptedOrigin(std::string_view Sent, const TTuneGuard& Guard) {
  if (Sent.find("://") == std::string_view::npos)
    return false;
  const std::string Origin = WebOrigin(Sent);
  return !Origin.empty() &&
         std::find(Guard.Origins.begin(), Guard.Origins.end(), Origin) != Guard.Origins.end();
}

// A Host header that names this listener: a loopback name or its own listen
// address, with its port (none stands for 80).
bool OwnHost(std::string_view Host, const TTuneGuard& Guard) {
  THostPortParts Parts;
  if (SplitHostPort(Trim(Host), Parts) != THostPortSplit::hsOk)
    return false;
  std::uint16_t Port = 80;
  if (Parts.HasPort && !ParsePortNumber(Parts.Port, Port))
    return false;
  const std::string Name = AsciiLower(Parts.Host);
  const bool Local = Name == "127.0.0.1" || Name == "localhost" || Name == "::1" ||
                     (!Guard.Address.empty() && Name == AsciiLower(Guard.Address));
  return Local && Port == Guard.Port;
}

} // namespace

TTuneAccess CheckTuneAccess(const TTuneRequest& Request, const TTuneGuard& Guard) {
  TTuneAccess Access;
  auto Refuse = [&Access](int Status, std::string Why) {
    Access.Status = Status;
    Access.Reason = std::move(Why);
    return Access;
  };
  // Not even a request line: refused as that, and it tunes nothing.
  if (Request.Method.empty())
    return Access;
  if (!Request.Host) {
    // Only HTTP/1.0 may leave it out; every browser sends it.
    if (Request.Version != "HTTP/1.0")
      return Refuse(400, "no Host header");
  } else if (!OwnHost(*Request.Host, Guard)) {
    return Refuse(403, std::string(Guard.Service) +
                           " answers only as 127.0.0.1, localhost or [::1] on port " +
                           std::to_string(Guard.Port) + ", not as " + *Request.Host);
  }
  if (Request.Origin) {
    if (!AcceptedOrigin(*Request.Origin, Guard))
      return Refuse(403, "pages of " + *Request.Origin + " may not " + Guard.Deed +
                             " (only the logbook's own and those in TuneOrigins)");
    // As browsers write it, so that it matches the one they sent.
    Access.AllowOrigin = WebOrigin(*Request.Origin);
    return Access;
  }
  // No Origin: a program that is no browser (no Sec-Fetch-*), the operator's
  // own address bar, or a browser sent there by the logbook's page.
  if (!Request.SecFetch || Request.SecFetchSite == "none")
    return Access;
  if (Request.Referer && AcceptedOrigin(*Request.Referer, Guard))
    return Access;
  return Refuse(403, "a browser request that no logbook page of an accepted origin made");
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

std::string LogbookRootAddress(std::string_view Pasted) {
  const std::string Text(Pasted);
  // A page's address holds the logbook's front script and the page after it.
  const std::string Script = "/index.php/";
  const std::size_t At = Text.find(Script);
  if (At == std::string::npos || Text.find("://") > At)
    return Text;
  return Text.substr(0, At + 1);
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

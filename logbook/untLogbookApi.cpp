#include "logbook/untLogbookApi.h"

#include "cat/transport/untListenAddress.h"
#include "settings/untSettingsLocation.h"
#include "settings/untVelaLogSettings.h"

#include <QJsonArray>
#include <QJsonObject>

namespace vela {

TLogbookOptions TLogbookOptions::FromSettings(const TVelaLogSettings& Settings) {
  TLogbookOptions Options;
  Options.Enabled = Settings.blnLogbookApiEnabled();
  Options.Url = Settings.strLogbookApiUrl();
  Options.StationId = Settings.intLogbookStationId();
  Options.RadioName = Settings.strLogbookRadioName();
  Options.TuneListen = Settings.strLogbookTuneListen();
  Options.TuneOrigins = Settings.strLogbookTuneOrigins();
  Options.LiveListen = Settings.strLogbookLiveListen();
  Options.SelfSignedHost = Settings.strLogbookSelfSignedHost();
  Options.Kind = LogbookKindFromText(Settings.strLogbookKind());
  return Options;
}

std::string OutboxFileBeside(const std::string& SettingsFile) {
  return FileBesideSettings(SettingsFile, "LogbookOutbox.jsonl");
}

TLogbookApi::TLogbookApi(std::unique_ptr<TLogbookRadio> ARadio, const std::string& OutboxFile)
    : FRadio(std::move(ARadio)), FPoster(FClient, *FRadio), FListener(*FRadio),
      FLive({[this] { return FPoster.CurrentState(); }, [this] { return FPoster.PostedName(); }}),
      FOutbox(FClient, OutboxFile),
      FCommands(FClient, *FRadio, FileBesideSettings(OutboxFile, TCommandPoller::FileLeaf)) {
  FCommands.setRadioName([this] { return FPoster.PostedName(); });
  FCommands.setOnOutcome([this](const std::string& Call, const TApiReply& R) { Outcome(Call, R); });
  FCommands.setOnChange([this] { Changed(); });
  FIdentifyRetry.setSingleShot(true);
  QObject::connect(&FIdentifyRetry, &QTimer::timeout, [this] { Identify(); });
  FPoster.setOnOutcome([this](const std::string& Call, const TApiReply& R) { Outcome(Call, R); });
  FOutbox.setOnOutcome([this](const std::string& Call, const TApiReply& R) { Outcome(Call, R); });
  FOutbox.setOnChange([this] { Changed(); });
  FListener.setOnTune([this](int Status, std::int64_t Hz, const std::string& Mode) {
    if (FOnTune)
      FOnTune(Status, Hz, Mode);
    Changed(); // a refusal shows in the status words
  });
  // Up after waiting for an address that was taken, or a refusal.
  FListener.setOnListening([this] { Changed(); });
  FLive.setOnChange([this] { Changed(); });
}

TLogbookApi::~TLogbookApi() {
  FOnChange.Clear();
  FPoster.Stop();
  FOutbox.Stop();
  FCommands.Stop();
  FListener.Close();
  FLive.Close();
  FClient.Abort();
}

namespace {

// Two "[HOST:]PORT" texts that name one address (port 0: any free, never
// the same).
bool SameListenAddress(const std::string& One, const std::string& Other) {
  TListenAddress A, B;
  std::string Ignored;
  return ParseListenAddress(One, std::nullopt, A, Ignored) &&
         ParseListenAddress(Other, std::nullopt, B, Ignored) && A.Port != 0 && A.Port == B.Port &&
         A.Host == B.Host;
}

} // namespace

bool TLogbookApi::Apply(const TLogbookOptions& Options) {
  const bool Restart = !Options.Enabled || Options.Url != FOptions.Url ||
                       Options.Key != FOptions.Key ||
                       Options.SelfSignedHost != FOptions.SelfSignedHost;
  const bool Reidentify =
      Restart || Options.Kind != FOptions.Kind || Options.StationId != FOptions.StationId;
  FOptions = Options;
  FErrorText.clear();
  if (Restart) {
    FPoster.Stop();
    FOutbox.Stop();
    FCommands.Stop();
    FClient.Abort();
  }
  if (Reidentify) {
    // Found out once per address: kept until the address changes.
    ++FIdentifyRun;
    FIdentifying = false;
    FIdentifyRetry.stop();
    FIdentifyBackoff.Reset();
    if (Options.Kind != TLogbookKind::lkUnknown) {
      FKind = Options.Kind;
      FKindUrl.clear(); // said, not found out: "auto" asks again
    } else if (FKindUrl != Options.Url) {
      FKind = TLogbookKind::lkUnknown;
      FKindUrl.clear();
    }
    FStationName.clear();
    FStationCallsign.clear();
  }
  FClient.setBaseUrl(Options.Url);
  FClient.setKey(Options.Key);
  FClient.setSelfSignedHost(Options.SelfSignedHost);
  FPoster.setRadioName(Options.RadioName);
  FListener.setOrigins(TuneOrigins(Options.Url, Options.TuneOrigins));
  FLive.setOrigins(TuneOrigins(Options.Url, Options.TuneOrigins));
  FOutbox.setStationId(Options.StationId);
  if (!Options.Enabled) {
    FCommands.Stop();
    FListener.Close();
    FListening.clear();
    FLive.Close();
    FLiveListening.clear();
    Changed();
    return true;
  }
  // Click-to-tune alone needs no logbook address.
  if (!Options.Url.empty()) {
    // The radio's modes are named for the logbook: its first post waits
    // for the first answer to which one it is.
    if (FKind != TLogbookKind::lkUnknown || FIdentifyBackoff.Failures() > 0)
      FPoster.Start();
    FOutbox.Start();
    if (Reidentify)
      Identify();
    else
      KindKnown();
  } else {
    FCommands.Stop();
  }

  // Each on its own: one that cannot listen leaves the other be. The live
  // channel on click-to-tune's own address would wait for it for ever.
  const bool TuneOk = ApplyListen(FListener, Options.TuneListen, FListening, "click-to-tune");
  bool LiveOk = true;
  if (SameListenAddress(Options.TuneListen, Options.LiveListen)) {
    FLive.Close();
    FLiveListening.clear();
    FErrorText += (FErrorText.empty() ? "" : " · ") + std::string("live radio: ") +
                  Options.LiveListen + " is click-to-tune's address; the pages open " +
                  DefaultLogbookLiveListen;
    LiveOk = false;
  } else {
    LiveOk = ApplyListen(FLive, Options.LiveListen, FLiveListening, "live radio");
  }
  const bool Ok = TuneOk && LiveOk;
  Changed();
  return Ok;
}

template <class TServer>
bool TLogbookApi::ApplyListen(TServer& Server, const std::string& Text, std::string& Listening,
                              const char* Name) {
  if (Text.empty() || Text == "off") {
    Server.Close();
    Listening.clear();
    return true;
  }
  if ((Server.Listening() || Server.Waiting()) && Text == Listening)
    return true;
  Listening = Text;
  TListenAddress Where;
  std::string Error;
  if (ParseListenAddress(Text, std::nullopt, Where, Error) && Server.Listen(Where.Host, Where.Port))
    return true;
  FErrorText += (FErrorText.empty() ? "" : " · ") + std::string(Name) + ": " +
                (Error.empty() ? Server.ErrorText() : Error);
  Server.Close();
  return false;
}

bool TLogbookApi::Enqueue(const std::string& Record) {
  if (!FOptions.Enabled)
    return false;
  std::string Why;
  const bool Queued = FOutbox.Enqueue(Record, &Why);
  // A record the queue refuses is said until the next one is taken; one
  // its file refuses is held in memory, and the queue's words say so.
  FEnqueueProblem = Queued ? std::string() : "a contact was not queued: " + Why;
  Changed();
  return Queued;
}

std::size_t TLogbookApi::ResendRefused(std::string* Error) {
  const std::size_t Queued = FOutbox.ResendRefused(Error);
  Changed();
  return Queued;
}

void TLogbookApi::ResendRefused(bool AsStationCallsign, const TResendDone& Done) {
  auto Resend = [this, AsStationCallsign, Done] {
    std::string Words;
    FOutbox.ResendRefused(AsStationCallsign ? FStationCallsign : std::string(), FStationCallsign,
                          Words);
    Changed();
    Done(Words);
  };
  if (!AsStationCallsign || !FStationCallsign.empty()) {
    Resend();
    return;
  }
  if (!FOptions.Enabled || FOptions.Url.empty()) {
    Done("the logbook's API is off: its station's callsign cannot be asked, nothing was sent "
         "again");
    return;
  }
  // Asked first; the answer also names the station for the status.
  FClient.StationInfo([this, Resend, Done](const TApiReply& Reply) {
    StationFound(Reply);
    if (!FStationCallsign.empty()) {
      Resend();
      return;
    }
    Done("the logbook did not name its station's callsign (" +
         (Reply.Ok() ? std::string("no such station for this key") : ApiOutcomeWords(Reply)) +
         "): nothing was sent again");
  });
}

void TLogbookApi::NoteDigitalMode(const std::string& Mode,
                                  std::chrono::steady_clock::time_point At) {
  FPoster.NoteDigitalMode(Mode, At);
}

void TLogbookApi::Identify() {
  if (!FOptions.Enabled || FOptions.Url.empty() || FIdentifying)
    return;
  const unsigned Run = FIdentifyRun;
  auto AskStation = [this, Run] {
    FIdentifying = true;
    FClient.StationInfo([this, Run](const TApiReply& Reply) {
      if (Run != FIdentifyRun)
        return;
      FIdentifying = false;
      StationFound(Reply);
      Changed();
    });
  };
  if (FKind != TLogbookKind::lkUnknown) {
    KindKnown();
    AskStation();
    return;
  }
  FIdentifying = true;
  FClient.Version([this, Run, AskStation](const TApiReply& Reply) {
    if (Run != FIdentifyRun)
      return;
    FIdentifying = false;
    const std::optional<TLogbookKind> Kind = KindFromVersionAnswer(Reply);
    if (!Kind) {
      // No answer that tells: asked again after a growing pause, and the
      // radio is posted meanwhile.
      FIdentifyRetry.start(static_cast<int>(FIdentifyBackoff.Fail()));
      FPoster.Start();
      return;
    }
    FKind = *Kind;
    FKindUrl = FOptions.Url;
    KindKnown();
    AskStation();
    Changed();
  });
}

void TLogbookApi::KindKnown() {
  FPoster.setKind(FKind);
  if (FOptions.Enabled && !FOptions.Url.empty())
    FPoster.Start();
  if (FKind == TLogbookKind::lkCloudlog && FOptions.Enabled && !FOptions.Url.empty())
    FCommands.Start();
  else
    FCommands.Stop();
}

void TLogbookApi::StationFound(const TApiReply& Reply) {
  if (!Reply.Ok())
    return;
  const std::int64_t Wanted =
      FOptions.StationId > 0 ? FOptions.StationId : ActiveStationId(Reply.Json);
  for (const QJsonValue& Value : Reply.Json.array()) {
    const QJsonObject Station = Value.toObject();
    const QJsonValue Id = Station.value(QStringLiteral("station_id"));
    if ((Id.isDouble() ? Id.toInteger() : Id.toString().toLongLong()) == Wanted) {
      FStationName = PlainWords(
          Station.value(QStringLiteral("station_profile_name")).toString().toStdString(), 60);
      FStationCallsign = PlainWords(
          Station.value(QStringLiteral("station_callsign")).toString().toStdString(), 24);
    }
  }
}

std::string TLogbookApi::IdentityWords() const {
  if (FOptions.Url.empty())
    return {};
  std::string Words = std::string(LogbookKindName(FKind)) + " at " + FOptions.Url;
  if (!FStationName.empty())
    Words += " · station " + FStationName;
  return Words;
}

std::string TLogbookApi::StatusText() const {
  if (!FOptions.Enabled)
    return {};
  std::string Text = "logbook: ";
  if (FKind != TLogbookKind::lkUnknown)
    Text += IdentityWords() + " · ";
  const auto& Reply = FPoster.LastReply();
  if (FOptions.Url.empty())
    Text += "click-to-tune only";
  else if (Reply && Reply->Outcome == TApiOutcome::aoUnreachable)
    // The address named: it is where a typing error shows.
    Text += FOptions.Url + " unreachable \u2014 retrying";
  else if (Reply && !Reply->Ok())
    Text += ApiOutcomeWords(*Reply);
  else if (!FPoster.CurrentState())
    Text += "waiting for the radio"; // not live: nothing is posted
  else
    Text += Reply ? ApiOutcomeWords(*Reply) : std::string("connecting");
  if (!FEnqueueProblem.empty())
    Text += " · " + FEnqueueProblem;
  const std::string Contacts = FOutbox.StatusWords();
  if (!Contacts.empty())
    Text += " · " + Contacts;
  if (const std::string Queue = FCommands.StatusWords(); !Queue.empty())
    Text += " · " + Queue;
  if (!FErrorText.empty())
    Text += " · " + FErrorText;
  if (FListener.Waiting())
    Text += " · click-to-tune: " + FListener.ErrorText();
  else if (FListener.Listening() && !FListener.LastRefusal().empty())
    Text += " · click-to-tune refused: " + FListener.LastRefusal();
  if (FLive.Waiting())
    Text += " · live radio: " + FLive.ErrorText();
  else if (FLive.Listening() && !FLive.LastRefusal().empty())
    Text += " · live radio refused: " + FLive.LastRefusal();
  return Text;
}

void TLogbookApi::Outcome(const std::string& Call, const TApiReply& Reply) {
  if (FOnOutcome)
    FOnOutcome(Call, Reply);
  Changed();
}

void TLogbookApi::Changed() {
  const std::string Status = StatusText();
  if (Status == FLastStatus)
    return;
  FLastStatus = Status;
  if (FOnChange.Assigned())
    FOnChange(this);
}

} // namespace vela

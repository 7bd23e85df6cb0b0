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
  Options.SelfSignedHost = Settings.strLogbookSelfSignedHost();
  Options.Kind = LogbookKindFromText(Settings.strLogbookKind());
  return Options;
}

std::string OutboxFileBeside(const std::string& SettingsFile) {
  return FileBesideSettings(SettingsFile, "LogbookOutbox.jsonl");
}

TLogbookApi::TLogbookApi(std::unique_ptr<TLogbookRadio> ARadio, const std::string& OutboxFile)
    : FRadio(std::move(ARadio)), FPoster(FClient, *FRadio), FListener(*FRadio),
      FOutbox(FClient, OutboxFile),
      FCommands(FClient, *FRadio, FileBesideSettings(OutboxFile, TCommandPoller::FileLeaf)) {
  FCommands.setRadioName([this] { return FPoster.PostedName(); });
  FCommands.setOnOutcome([this](const std::string& Call, const TApiReply& R) { Outcome(Call, R); });
  FCommands.setOnChange([this] { Changed(); });
  FIdentifyRetry.setSingleShot(true);
  QObject::connect(&FIdentifyRetry, &QTimer::timeout, [this] { Identify(); });
  FPoster.setOnOutcome([this](const std::string& Call, const TApiReply& R) { Outcome(Call, R); });
  FOutbox.setOnOutcome([this](const std::string& Call, const TApiReply& R) { Outcome(Call, R); });
  FListener.setOnTune([this](int Status, std::int64_t Hz, const std::string& Mode) {
    if (FOnTune)
      FOnTune(Status, Hz, Mode);
    Changed(); // a refusal shows in the status words
  });
}

TLogbookApi::~TLogbookApi() {
  FOnChange.Clear();
  FPoster.Stop();
  FOutbox.Stop();
  FCommands.Stop();
  FListener.Close();
  FClient.Abort();
}

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
  }
  FClient.setBaseUrl(Options.Url);
  FClient.setKey(Options.Key);
  FClient.setSelfSignedHost(Options.SelfSignedHost);
  FPoster.setRadioName(Options.RadioName);
  FListener.setOrigins(TuneOrigins(Options.Url, Options.TuneOrigins));
  FOutbox.setStationId(Options.StationId);
  if (!Options.Enabled) {
    FCommands.Stop();
    FListener.Close();
    FListening.clear();
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

  const bool Off = Options.TuneListen.empty() || Options.TuneListen == "off";
  bool Ok = true;
  if (Off) {
    FListener.Close();
    FListening.clear();
  } else if (!FListener.Listening() || Options.TuneListen != FListening) {
    TListenAddress Where;
    FListening = Options.TuneListen;
    Ok = ParseListenAddress(Options.TuneListen, std::nullopt, Where, FErrorText) &&
         FListener.Listen(Where.Host, Where.Port);
    if (!Ok) {
      FListener.Close();
      if (FErrorText.empty())
        FErrorText = Options.TuneListen + ": " + FListener.ErrorText();
    }
  }
  Changed();
  return Ok;
}

bool TLogbookApi::Enqueue(const std::string& Record) {
  if (!FOptions.Enabled)
    return false;
  const bool Queued = FOutbox.Enqueue(Record);
  Changed();
  return Queued;
}

std::size_t TLogbookApi::ResendRefused(std::string* Error) {
  const std::size_t Queued = FOutbox.ResendRefused(Error);
  Changed();
  return Queued;
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
    if ((Id.isDouble() ? Id.toInteger() : Id.toString().toLongLong()) == Wanted)
      FStationName = PlainWords(
          Station.value(QStringLiteral("station_profile_name")).toString().toStdString(), 60);
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
  const std::string Contacts = FOutbox.StatusWords();
  if (!Contacts.empty())
    Text += " · " + Contacts;
  if (const std::string Queue = FCommands.StatusWords(); !Queue.empty())
    Text += " · " + Queue;
  if (!FErrorText.empty())
    Text += " · click-to-tune: " + FErrorText;
  else if (FListener.Listening() && !FListener.LastRefusal().empty())
    Text += " · click-to-tune refused: " + FListener.LastRefusal();
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

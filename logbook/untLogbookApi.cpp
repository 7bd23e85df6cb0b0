#include "logbook/untLogbookApi.h"

#include "settings/untSettingsLocation.h"
#include "settings/untVelaLogSettings.h"

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
  return Options;
}

std::string OutboxFileBeside(const std::string& SettingsFile) {
  return FileBesideSettings(SettingsFile, "LogbookOutbox.jsonl");
}

TLogbookApi::TLogbookApi(std::unique_ptr<TLogbookRadio> ARadio, const std::string& OutboxFile)
    : FRadio(std::move(ARadio)), FPoster(FClient, *FRadio), FListener(*FRadio),
      FOutbox(FClient, OutboxFile) {
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
  FListener.Close();
  FClient.Abort();
}

bool TLogbookApi::Apply(const TLogbookOptions& Options) {
  const bool Restart = !Options.Enabled || Options.Url != FOptions.Url ||
                       Options.Key != FOptions.Key ||
                       Options.SelfSignedHost != FOptions.SelfSignedHost;
  FOptions = Options;
  FErrorText.clear();
  if (Restart) {
    FPoster.Stop();
    FOutbox.Stop();
    FClient.Abort();
  }
  FClient.setBaseUrl(Options.Url);
  FClient.setKey(Options.Key);
  FClient.setSelfSignedHost(Options.SelfSignedHost);
  FPoster.setRadioName(Options.RadioName);
  FListener.setOrigins(TuneOrigins(Options.Url, Options.TuneOrigins));
  FOutbox.setStationId(Options.StationId);
  if (!Options.Enabled) {
    FListener.Close();
    FListening.clear();
    Changed();
    return true;
  }
  // Click-to-tune alone needs no logbook address.
  if (!Options.Url.empty()) {
    FPoster.Start();
    FOutbox.Start();
  }

  const bool Off = Options.TuneListen.empty() || Options.TuneListen == "off";
  bool Ok = true;
  if (Off) {
    FListener.Close();
    FListening.clear();
  } else if (!FListener.Listening() || Options.TuneListen != FListening) {
    std::string Host;
    std::uint16_t Port = 0;
    FListening = Options.TuneListen;
    Ok = ParseTuneListenAddress(Options.TuneListen, Host, Port, FErrorText) &&
         FListener.Listen(Host, Port);
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

std::string TLogbookApi::StatusText() const {
  if (!FOptions.Enabled)
    return {};
  std::string Text = "logbook: ";
  const auto& Reply = FPoster.LastReply();
  if (FOptions.Url.empty())
    Text += "click-to-tune only";
  else if (Reply && !Reply->Ok())
    Text += ApiOutcomeWords(*Reply);
  else if (!FPoster.CurrentState())
    Text += "waiting for the radio"; // not live: nothing is posted
  else
    Text += Reply ? ApiOutcomeWords(*Reply) : std::string("connecting");
  const std::string Contacts = FOutbox.StatusWords();
  if (!Contacts.empty())
    Text += " · " + Contacts;
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

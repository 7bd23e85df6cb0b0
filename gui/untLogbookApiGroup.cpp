#include "gui/untLogbookApiGroup.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QUrl>

#include "cat/transport/untListenAddress.h"
#include "gui/untGroupWidgets.h"
#include "logbook/untApiKeyStore.h"
#include "logbook/untLogbookAnswer.h"
#include "logbook/untLogbookClient.h"
#include "settings/untVelaLogSettings.h"

namespace vela {

namespace {

QString FromStd(const std::string& Text) {
  return QString::fromStdString(Text);
}

std::string Trimmed(const QLineEdit* Box) {
  return Box->text().trimmed().toStdString();
}

} // namespace

TLogbookApiGroup::TLogbookApiGroup(QWidget* Parent)
    : QWidget(Parent), FClient(std::make_unique<TLogbookClient>()) {
  setGeometry(Parent->rect());
  setObjectName(QStringLiteral("LogbookApi"));
  QFont Small = font();
  Small.setPixelSize(13);
  setFont(Small);
  FchkEnabled = new QCheckBox(
      QStringLiteral("Serve a web logbook through its API (Wavelog, Cloudlog)"), this);
  FchkEnabled->setGeometry(8, 4, 486, 20);
  GroupCaption(this, 8, 32, QStringLiteral("Address:"));
  FedtUrl = GroupEditBox(this, QRect(70, 28, 230, 24));
  FedtUrl->setPlaceholderText(QStringLiteral("https://log.example.org/"));
  GroupCaption(this, 310, 32, QStringLiteral("API key:"));
  FedtKey = GroupEditBox(this, QRect(370, 28, 124, 24));
  FedtKey->setEchoMode(QLineEdit::PasswordEchoOnEdit);
  GroupCaption(this, 8, 60, QStringLiteral("Station:"));
  FcbxStation = new QComboBox(this);
  FcbxStation->setGeometry(70, 56, 230, 24);
  FbtnTest = new QPushButton(QStringLiteral("Test"), this);
  FbtnTest->setGeometry(310, 56, 60, 24);
  GroupCaption(this, 378, 60, QStringLiteral("Radio:"));
  FedtRadioName = GroupEditBox(this, QRect(420, 56, 74, 24));
  FedtRadioName->setPlaceholderText(QStringLiteral("its model"));
  FedtRadioName->setMaxLength(250);
  GroupCaption(this, 8, 88, QStringLiteral("Click-to-tune:"));
  FedtTuneListen = GroupEditBox(this, QRect(100, 84, 130, 24));
  FedtTuneListen->setToolTip(QStringLiteral("[address:]port the logbook's pages call, e.g. "
                                            "127.0.0.1:54321; off: none"));
  FchkSelfSigned =
      new QCheckBox(QStringLiteral("Accept this host's self-signed certificate"), this);
  FchkSelfSigned->setGeometry(240, 86, 254, 20);
  FlblResult = new QLabel(this);
  FlblResult->setGeometry(8, 112, 222, 34);
  FlblResult->setWordWrap(true);
  FlblResult->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  FcbxStation->addItem(QStringLiteral("the key owner's active station"), 0);
  FbtnResendRefused = new QPushButton(QStringLiteral("Send set-aside again"), this);
  FbtnResendRefused->setGeometry(364, 112, 130, 24);
  FbtnResendRefused->setToolTip(
      QStringLiteral("Contacts the logbook refused wait in LogbookRefused.adi beside the "
                     "settings file; once the station or the other program's call is "
                     "mended, this puts them back in the queue"));
  connect(FbtnTest, &QPushButton::clicked, this, [this] { Test(); });
  FbtnResendAsStation = new QPushButton(this);
  FbtnResendAsStation->setGeometry(234, 112, 126, 24);
  FbtnResendAsStation->setToolTip(
      QStringLiteral("Contacts set aside because their station callsign (the other program's "
                     "My Call) is not the logbook station's: send them again with the "
                     "logbook station's callsign in its place"));
  connect(FbtnResendRefused, &QPushButton::clicked, this, [this] { Resend(false); });
  connect(FbtnResendAsStation, &QPushButton::clicked, this, [this] { Resend(true); });
  setKeyStore(nullptr);
  setOnResendRefused(nullptr);
}

void TLogbookApiGroup::setOnResendRefused(TResend Resend,
                                          std::function<std::string()> StationCallsign) {
  FOnResendRefused = std::move(Resend);
  FStationCallsign = std::move(StationCallsign);
  FbtnResendRefused->setEnabled(static_cast<bool>(FOnResendRefused));
  FbtnResendAsStation->setEnabled(static_cast<bool>(FOnResendRefused));
  ShowResendAsCaption();
}

void TLogbookApiGroup::Resend(bool AsStationCallsign) {
  if (!FOnResendRefused)
    return;
  if (AsStationCallsign && (!FStationCallsign || FStationCallsign().empty()))
    Say("Asking the logbook for its station's callsign…");
  // The answer may come after the dialog closed.
  QPointer<TLogbookApiGroup> Self(this);
  FOnResendRefused(AsStationCallsign, [Self](const std::string& Words) {
    if (!Self)
      return;
    Self->Say(Words);
    Self->ShowResendAsCaption();
  });
}

void TLogbookApiGroup::ShowResendAsCaption() {
  const std::string Call = FStationCallsign ? FStationCallsign() : std::string();
  FbtnResendAsStation->setText(Call.empty() ? QStringLiteral("Send again as station")
                                            : QStringLiteral("Send again as ") + FromStd(Call));
}

void TLogbookApiGroup::showEvent(QShowEvent* Event) {
  QWidget::showEvent(Event);
  ShowResendAsCaption();
}

TLogbookApiGroup::~TLogbookApiGroup() = default;

void TLogbookApiGroup::setKeyStore(TApiKeyStore* Value) {
  FKeyStore = Value;
  FedtKey->setEnabled(FKeyStore != nullptr);
  if (FKeyStore)
    FedtKey->setText(FromStd(FKeyStore->Key()));
  ShowKeyPlace();
}

void TLogbookApiGroup::ShowKeyPlace() {
  std::string Words;
  if (FKeyStore && FKeyStore->Place() != TKeyPlace::kpNone)
    Words = std::string("The API key is kept in ") + KeyPlaceWords(FKeyStore->Place()) + ".";
  if (FKeyStore && !FKeyStore->Notice().empty())
    Words += (Words.empty() ? "" : " ") + FKeyStore->Notice() + ".";
  Say(Words);
}

void TLogbookApiGroup::Say(const std::string& Words) {
  FlblResult->setText(FromStd(Words));
  // The whole text shows: the line and the group grow with it (and shrink
  // back to the group's first height).
  const QRect Line = FlblResult->geometry();
  const int Needed = std::max(34, FlblResult->heightForWidth(Line.width()));
  if (!FFirstHeight)
    FFirstHeight = height();
  FlblResult->setGeometry(Line.x(), Line.y(), Line.width(), Needed);
  const int Height = std::max(FFirstHeight, Line.y() + Needed + 4);
  if (Height != height()) {
    resize(width(), Height);
    if (QWidget* Panel = parentWidget())
      Panel->setFixedHeight(Height);
  }
}

std::string TLogbookApiGroup::HostOfUrl() const {
  const std::string Url = LogbookApiUrl(Trimmed(FedtUrl), "");
  return Url.empty() ? std::string() : QUrl(FromStd(Url)).host().toStdString();
}

void TLogbookApiGroup::SelectStation(int StationId) {
  int Index = FcbxStation->findData(StationId);
  if (Index < 0) {
    FcbxStation->addItem(QStringLiteral("station %1").arg(StationId), StationId);
    Index = FcbxStation->count() - 1;
  }
  FcbxStation->setCurrentIndex(Index);
}

void TLogbookApiGroup::Load(const TVelaLogSettings& Settings) {
  FchkEnabled->setChecked(Settings.blnLogbookApiEnabled());
  FedtUrl->setText(FromStd(Settings.strLogbookApiUrl()));
  if (FKeyStore)
    FedtKey->setText(FromStd(FKeyStore->Key()));
  SelectStation(Settings.intLogbookStationId() > 0 ? Settings.intLogbookStationId() : 0);
  FedtRadioName->setText(FromStd(Settings.strLogbookRadioName()));
  FedtTuneListen->setText(FromStd(Settings.strLogbookTuneListen()));
  FKind = LogbookKindFromText(Settings.strLogbookKind());
  FchkSelfSigned->setChecked(!Settings.strLogbookSelfSignedHost().empty() &&
                             Settings.strLogbookSelfSignedHost() == HostOfUrl());
  ShowKeyPlace();
}

void TLogbookApiGroup::Store(TVelaLogSettings& Settings) {
  const bool Enabled = FchkEnabled->isChecked();
  CutUrlToRoot();
  const std::string Url = Trimmed(FedtUrl);
  const std::string Key = Trimmed(FedtKey);
  std::string Why;
  if (Enabled && LogbookApiUrl(Url, "radio", &Why).empty()) {
    Say("Logbook address: " + Why + ".");
    return;
  }
  if (Enabled && FKeyStore && !ValidApiKey(Key, &Why)) {
    Say("API key: " + Why + ".");
    return;
  }
  TListenAddress Where;
  const std::string Listen = Trimmed(FedtTuneListen);
  if (!Listen.empty() && Listen != "off" && !ParseListenAddress(Listen, std::nullopt, Where, Why)) {
    Say("Click-to-tune: " + Why + ".");
    FedtTuneListen->setText(FromStd(Settings.strLogbookTuneListen()));
    return;
  }
  if (Url != Settings.strLogbookApiUrl())
    Settings.setStrLogbookApiUrl(Url);
  const int Station = FcbxStation->currentData().toInt();
  if (Station != Settings.intLogbookStationId())
    Settings.setIntLogbookStationId(Station);
  const std::string RadioName = Trimmed(FedtRadioName);
  if (RadioName != Settings.strLogbookRadioName())
    Settings.setStrLogbookRadioName(RadioName);
  if (Listen != Settings.strLogbookTuneListen())
    Settings.setStrLogbookTuneListen(Listen);
  const std::string SelfSigned = FchkSelfSigned->isChecked() ? HostOfUrl() : std::string();
  if (SelfSigned != Settings.strLogbookSelfSignedHost())
    Settings.setStrLogbookSelfSignedHost(SelfSigned);
  if (Enabled != Settings.blnLogbookApiEnabled())
    Settings.setBlnLogbookApiEnabled(Enabled);
  if (FKeyStore && Key != FKeyStore->Key()) {
    QPointer<TLogbookApiGroup> Self(this);
    FKeyStore->Write(Key, [Self](bool Ok, TKeyPlace Place, const std::string& Error) {
      if (!Self)
        return;
      if (!Ok)
        Self->Say("The API key could not be kept: " + Error);
      else if (Place != TKeyPlace::kpNone)
        Self->Say(std::string("The API key is kept in ") + KeyPlaceWords(Place) + ".");
    });
  }
}

void TLogbookApiGroup::CutUrlToRoot() {
  const std::string Pasted = Trimmed(FedtUrl);
  const std::string Root = LogbookRootAddress(Pasted);
  if (Root == Pasted)
    return;
  FedtUrl->setText(FromStd(Root));
  Say("The address was that of one of the logbook's pages; its root " + Root + " is used.");
}

void TLogbookApiGroup::Test() {
  CutUrlToRoot();
  const std::string Key = Trimmed(FedtKey);
  std::string Why;
  if (LogbookApiUrl(Trimmed(FedtUrl), "check_auth", &Why).empty()) {
    Say("Logbook address: " + Why + ".");
    return;
  }
  if (!ValidApiKey(Key, &Why)) {
    Say("API key: " + Why + ".");
    return;
  }
  FClient->Abort();
  FClient->setBaseUrl(Trimmed(FedtUrl));
  FClient->setKey(Key);
  FClient->setSelfSignedHost(FchkSelfSigned->isChecked() ? HostOfUrl() : std::string());
  Say("Asking " + LogbookApiUrl(Trimmed(FedtUrl), "check_auth/…") + " …");
  FClient->CheckAuth([this](const TApiReply& Reply) {
    if (!Reply.Ok()) {
      Say(Reply.Outcome == TApiOutcome::aoKeyRefused
              ? std::string("The logbook refuses this key.")
              : "The logbook did not answer as expected: " + ApiOutcomeWords(Reply) + " (" +
                    Reply.Reason + ").");
      return;
    }
    const QString Rights = Reply.Json.object().value(QStringLiteral("rights")).toString();
    const std::string Valid = std::string("The key is valid") +
                              (Rights == QStringLiteral("rw")  ? " (read and write)"
                               : Rights == QStringLiteral("r") ? " (read only; it can still post)"
                                                               : "") +
                              ".";
    Say(Valid + " Asking for the stations …");
    FClient->StationInfo([this, Valid](const TApiReply& Stations) {
      if (!Stations.Ok()) {
        Say(Valid + " The station list did not come: " + ApiOutcomeWords(Stations) + ".");
        return;
      }
      const int Missing = StationsFound(Stations);
      // The stations the key owns, by name; a configured one it does not
      // own is not counted among them.
      std::string Owned;
      for (int I = 1; I < FcbxStation->count(); ++I)
        if (FcbxStation->itemData(I).toInt() != Missing)
          Owned += (Owned.empty() ? "" : ", ") +
                   FcbxStation->itemData(I, Qt::UserRole + 1).toString().toStdString();
      std::string Found =
          Valid + (Owned.empty() ? std::string(" The key owns no station.")
                                 : " The key owns: " + Owned + "; choose the one for contacts.");
      if (Missing > 0)
        Found += " The configured station " + std::to_string(Missing) +
                 " is not one of them: contacts sent there would be refused.";
      Say(Found);
      // Which logbook it is, as the settings say or as it answers.
      auto Name = [this, Found](TLogbookKind Kind) {
        std::string Words =
            Found + " " +
            (Kind == TLogbookKind::lkUnknown ? "The logbook" : LogbookKindName(Kind)) + " at " +
            Trimmed(FedtUrl);
        const int Station =
            FcbxStation->currentIndex() > 0 ? FcbxStation->currentIndex() : ActiveStationIndex();
        const std::string StationName =
            Station > 0 ? FcbxStation->itemData(Station, Qt::UserRole + 1).toString().toStdString()
                        : std::string();
        if (!StationName.empty())
          Words += " \u00b7 station " + StationName;
        Say(Words + ".");
      };
      if (FKind != TLogbookKind::lkUnknown) {
        Name(FKind);
        return;
      }
      FClient->Version([Name](const TApiReply& Answer) {
        Name(KindFromVersionAnswer(Answer).value_or(TLogbookKind::lkUnknown));
      });
    });
  });
}

int TLogbookApiGroup::ActiveStationIndex() const {
  for (int I = 1; I < FcbxStation->count(); ++I)
    if (FcbxStation->itemData(I, Qt::UserRole + 2).toBool())
      return I;
  return FcbxStation->count() == 2 ? 1 : 0;
}

int TLogbookApiGroup::StationsFound(const TApiReply& Reply) {
  const int Chosen = FcbxStation->currentData().toInt();
  FcbxStation->clear();
  FcbxStation->addItem(QStringLiteral("the key owner's active station"), 0);
  for (const QJsonValue& Value : Reply.Json.array()) {
    const QJsonObject Station = Value.toObject();
    const QJsonValue Id = Station.value(QStringLiteral("station_id"));
    const int Number = Id.isDouble() ? Id.toInt() : Id.toString().toInt();
    if (Number <= 0)
      continue;
    const QJsonValue Active = Station.value(QStringLiteral("station_active"));
    const bool IsActive = Active.toBool() || Active.toString() == QStringLiteral("1") ||
                          (Active.isDouble() && Active.toInt() == 1);
    const QString Name = Station.value(QStringLiteral("station_profile_name")).toString();
    FcbxStation->addItem(QStringLiteral("%1 (%2)%3")
                             .arg(Name,
                                  Station.value(QStringLiteral("station_callsign")).toString(),
                                  IsActive ? QStringLiteral(", active") : QString()),
                         Number);
    FcbxStation->setItemData(FcbxStation->count() - 1, Name, Qt::UserRole + 1);
    FcbxStation->setItemData(FcbxStation->count() - 1, IsActive, Qt::UserRole + 2);
  }
  const bool Owned = Chosen == 0 || FcbxStation->findData(Chosen) >= 0;
  SelectStation(Chosen);
  return Owned ? 0 : Chosen;
}

} // namespace vela

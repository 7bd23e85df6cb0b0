// The settings dialog's group for serving a web logbook (Wavelog, Cloudlog)
// through its API: the switch, the logbook's address and API key, the
// station for contacts (chosen from what the logbook lists), the radio's
// name there, the click-to-tune listener's address, the permission for one
// host's self-signed certificate, a Test button that asks the logbook
// whether it takes the key, which stations it has and which logbook it is
// ("Cloudlog at ... · station Boston"), and says so in words,
// a "Send set-aside again" button that puts the contacts the logbook
// refused back in the queue once the operator has mended the cause (and
// says what those it cannot help need), and a "Send again as K1ABC" button
// that sends those set aside for another station callsign again under the
// logbook station's own.
#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "logbook/untLogbookRules.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vela {

class TApiKeyStore;
class TLogbookClient;
class TVelaLogSettings;
struct TApiReply;

class TLogbookApiGroup : public QWidget {
  Q_OBJECT
public:
  // Fills Parent (the group's background panel).
  explicit TLogbookApiGroup(QWidget* Parent);
  ~TLogbookApiGroup() override;

  // Where the API key is kept; without one the key box is disabled.
  void setKeyStore(TApiKeyStore* Value);

  // Puts the contacts set aside back in the queue (AsStationCallsign: under
  // the logbook station's callsign) and hands the words to show to Say,
  // then or later; StationCallsign gives that callsign (empty: not known
  // yet) for the button's caption. Without them the buttons are disabled.
  using TSay = std::function<void(const std::string& Words)>;
  using TResend = std::function<void(bool AsStationCallsign, const TSay& Say)>;
  void setOnResendRefused(TResend Resend, std::function<std::string()> StationCallsign = {});

  // Shows the stored options.
  void Load(const TVelaLogSettings& Settings);
  // Writes the options that changed. An address or key that cannot be used
  // while the switch is on is not written (nor the switch), and the line
  // below says why.
  void Store(TVelaLogSettings& Settings);

  // Asks the logbook with what the boxes hold.
  void Test();

  QCheckBox* chkEnabled() const { return FchkEnabled; }
  QLineEdit* edtUrl() const { return FedtUrl; }
  QLineEdit* edtKey() const { return FedtKey; }
  QComboBox* cbxStation() const { return FcbxStation; }
  QLineEdit* edtRadioName() const { return FedtRadioName; }
  QLineEdit* edtTuneListen() const { return FedtTuneListen; }
  QCheckBox* chkSelfSigned() const { return FchkSelfSigned; }
  QPushButton* btnTest() const { return FbtnTest; }
  QLabel* lblResult() const { return FlblResult; }
  QPushButton* btnResendRefused() const { return FbtnResendRefused; }
  QPushButton* btnResendAsStation() const { return FbtnResendAsStation; }

protected:
  void showEvent(QShowEvent* Event) override;

private:
  void Say(const std::string& Words);
  void Resend(bool AsStationCallsign);
  // "Send again as K1ABC" once the station's callsign is known.
  void ShowResendAsCaption();
  // A page's address pasted into the address box becomes the logbook's
  // root, and the result line says so.
  void CutUrlToRoot();
  void ShowKeyPlace();
  void SelectStation(int StationId);
  // Lists the stations of Reply; returns the station chosen before when the
  // key does not own it (it stays listed as "station N"), else 0.
  int StationsFound(const TApiReply& Reply);
  // The station chooser's entry of the key owner's active station (0: none).
  int ActiveStationIndex() const;
  std::string HostOfUrl() const;

  TApiKeyStore* FKeyStore = nullptr;
  // The group's height before a long result made it grow.
  int FFirstHeight = 0;
  std::unique_ptr<TLogbookClient> FClient;
  QCheckBox* FchkEnabled;
  QLineEdit* FedtUrl;
  QLineEdit* FedtKey;
  QComboBox* FcbxStation;
  QLineEdit* FedtRadioName;
  QLineEdit* FedtTuneListen;
  QCheckBox* FchkSelfSigned;
  QPushButton* FbtnTest;
  QLabel* FlblResult;
  QPushButton* FbtnResendRefused;
  QPushButton* FbtnResendAsStation;
  TResend FOnResendRefused;
  std::function<std::string()> FStationCallsign;
  // Which logbook the settings name (lkUnknown: asked of the logbook).
  TLogbookKind FKind = TLogbookKind::lkUnknown;
};

} // namespace vela

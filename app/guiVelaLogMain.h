// The main window: the logbook's pages in the embedded browser under a bar
// of three buttons (Settings, Reset CAT, Back), and the clock that stamps the
// logbook's entry form with the UTC date and time.
//
// It owns the settings store, the station (the radio driver, sharing,
// contacts and the web logbook's API), the settings dialog and the log page
// bridge, creates them when it is first shown and frees them when it closes,
// and writes the station's events into the page and page data to the radio.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "cat/untRadioValue.h"
#include "platform/untComponent.h"

class QTimer;

namespace vela {

class TPanelButton;
class TPanelButtonGroup;
class TWebBrowser;
class TLogPHPinterface;
class TVelaLogSettings;
class TfrmVLogSettings;
class TStation;
enum TStationPart : int;
class TLinkStatusStrip;
class TContactsToPage;
class TPageRetry;

// One reading of the clock: the UTC date and time, and the millisecond part
// of the local time (which paces the ticks).
struct TClockReading {
  int Year = 0;
  int Month = 0;
  int Day = 0;
  int Hour = 0;
  int Minute = 0;
  int LocalMillisecond = 0;
};
using TClockSource = std::function<TClockReading()>;

// The UTC date text (2016-03-07) and time text (09:05) written into the form.
std::string ClockDateText(const TClockReading& Now);
std::string ClockTimeText(const TClockReading& Now);

class TfrmVelaLogMain : public QWidget, public TComponent {
  Q_OBJECT
public:
  // SettingsFileName: a relative name is taken beside the executable.
  explicit TfrmVelaLogMain(QWidget* Parent = nullptr,
                           const std::string& SettingsFileName = "VelaLog.ini");
  ~TfrmVelaLogMain() override;

  // The controls.
  // Each button is a yellow frame panel (...Bg) holding the caption panel
  // that takes the clicks; the frame panel handles the buttons' look.
  QWidget* pnlButtons;
  TPanelButton* pnlSettingsBg;
  QWidget* pnlSettings;
  TPanelButton* pnlResetRadioBg;
  QWidget* pnlResetRadio;
  TPanelButton* pnlBackBg;
  QWidget* pnlBack;
  // The radio's link health, under the bar.
  TLinkStatusStrip* lblLinkStatus;
  TWebBrowser* wbrLogBook;
  // Loads a page that failed again by itself, and on F5.
  TPageRetry* PageRetry;
  QTimer* Timer1;

  // The owned objects; null before the first show and after closing.
  TVelaLogSettings* Settings() const { return FSettings.get(); }
  TfrmVLogSettings* SettingsDialog() const { return FSettingsDialog; }
  TLogPHPinterface* LogPage() const { return FLogPage.get(); }
  // The station (the radio, its sharing, contacts and the web logbook's
  // API); null before the first show and after closing.
  TStation* Station() const { return FStation.get(); }
  // Contacts from the station's form queue into the page's form; null
  // before the first show and after closing.
  TContactsToPage* Contacts() const { return FContacts.get(); }

  // The clock; the system clock unless replaced (tests drive ticks with it).
  const TClockSource& ClockSource() const { return FClockSource; }
  void setClockSource(const TClockSource& Value) { FClockSource = Value; }
  static TClockReading SystemClock();

  // The handlers, public so that tests can drive them directly.
  void FormShow();
  void FormClose();
  void Timer1Timer();
  void wbrLogBookDocumentComplete();
  // The radio's value into the page: its band, frequency and mode texts
  // (made here, once, by PageTexts) into the band, frequency and mode fields.
  void HandleRxData(TObject* Sender, const TRadioValue& Value);
  void HandleRxData(TObject* Sender, std::string Band, std::string Frequency, std::string Mode);
  // Something the station can never do as asked (an address that is no
  // address), in the error box. An address that is taken is no failure: it
  // is tried again, and the strip says so meanwhile.
  void HandleStationFailure(TStationPart Part, const std::string& Reason);
  void HandlePageData(TObject* Sender, std::string Frequency, std::string Mode);
  void HandleLinkChange(TObject* Sender);
  void pnlSettingsClick();
  void pnlResetRadioClick();
  void pnlBackClick();
  // The mouse over the bar outside the buttons: no caption highlighted.
  void pnlButtonsMouseMove();
  // After the dialog's Apply (the station applied the settings): a waiting
  // contact into a free form, the strip anew.
  void ApplySettings(TObject* Sender);
  // The station as the settings say (the logbook's API once the dialog has
  // read its key).
  void ApplyStation();

protected:
  void showEvent(QShowEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  TPanelButton* MakeButton(int Left, const char* Caption, const char* Name);

  std::unique_ptr<TPanelButtonGroup> FButtonGroup;
  std::string FSettingsFileName;
  std::unique_ptr<TVelaLogSettings> FSettings;
  TfrmVLogSettings* FSettingsDialog = nullptr;
  std::unique_ptr<TLogPHPinterface> FLogPage;
  std::unique_ptr<TStation> FStation;
  std::unique_ptr<TContactsToPage> FContacts;
  TClockSource FClockSource;
  bool FShown = false;
  bool FClosed = false;
  // The UTC minute of the day (hour * 60 + minute) and the day last written
  // to the page. Both start at a value that no reading has, so the first
  // tick writes date and time at once.
  std::int32_t FLastMinute = -1;
  std::uint16_t FLastDay = 0;
};

} // namespace vela

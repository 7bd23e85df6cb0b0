// The settings dialog: the log server address and server list, the radio's
// COM port, baud rate and type (the radio table's rows, in order) with the
// station options, and the Virtual CAT switch and port.
//
// Besides editing, the dialog asks the station to apply what the operator
// chose (the station replaces the driver when Apply brings another type, and
// hands the port settings to it), and passes the radio's receive event on
// with itself as Sender. It hands the station the web logbook's key store,
// from which the station reads the key. It sends the browser to the log server address once
// at creation and again whenever Apply changes the address. It is shown modeless; "OK", "Cancel"
// and the close box only hide it.
#pragma once

#include <QWidget>
#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "cat/untCATinterface.h"
#include "gui/untLinkStatusStrip.h"
#include "gui/untPanelButton.h"
#include "gui/untStationOptionsGroup.h"
#include "platform/untComponent.h"
#include "settings/untVelaLogSettings.h"
#include "station/untStation.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;

namespace vela {

class TWebBrowser;
class TNetworkSharingGroup;
class TContactsGroup;
class TLogbookApiGroup;
class TApiKeyStore;
class TRadioProbe;

// Sender (the dialog): raised after Apply has stored the operator's choices.
using TApplyEvent = TMethod<TObject*>;

// What the dialog needs of a browser.
class TBrowserNavigator {
public:
  virtual ~TBrowserNavigator() = default;
  virtual void Navigate(const std::string& Address) = 0;
};

// The navigator over the main window's embedded browser.
class TWebBrowserNavigator : public TBrowserNavigator {
public:
  explicit TWebBrowserNavigator(TWebBrowser* ABrowser) : FBrowser(ABrowser) {}
  void Navigate(const std::string& Address) override;

private:
  TWebBrowser* FBrowser;
};

class TfrmVLogSettings : public QWidget, public TComponent {
  Q_OBJECT
public:
  // The Parts block keeps its pixel layout: the CAT group is one status
  // line, the station options' rows (Digi, CI-V address, DTR/RTS, their
  // note) and the Test radio row taller than the rest of it needs, and the
  // groups beside it grow with it. Below it the row of Cancel, Apply and OK.
  static constexpr int StatusLineHeight = 16;
  static constexpr int StationOptionsHeight = 108;
  static constexpr int TestRowHeight = 48;
  static constexpr int ClientWidth = 526;
  static constexpr int PartsHeight = 313 + StatusLineHeight + StationOptionsHeight + TestRowHeight;
  // Beside it, in a second column: network sharing, contacts, the web
  // logbook's API. Across the bottom one line that names the settings file.
  // The whole fits a 1366x768 screen.
  static constexpr int SharingGroupHeight = 100;
  static constexpr int ContactsGroupHeight = 112;
  static constexpr int LogbookGroupHeight = 150;
  static constexpr int ButtonsHeight = 33;
  static constexpr int SettingsFileLineHeight = 16;
  static constexpr int ColumnGap = 10;
  static constexpr int SecondColumnWidth = ClientWidth - 24;

  // AOwner is the main window (the dialog is its own top-level window);
  // neither the browser, the store nor a station given is owned. Without a
  // station the dialog runs one of its own on the store.
  TfrmVLogSettings(QWidget* AOwner, TWebBrowser* ABrowser, TVelaLogSettings* ASettings,
                   TStation* AStation = nullptr);
  TfrmVLogSettings(QWidget* AOwner, TBrowserNavigator* ABrowser, TVelaLogSettings* ASettings,
                   TStation* AStation = nullptr);
  ~TfrmVLogSettings() override;

  TRxDataEvent OnRxData() const { return FOnRxData; }
  void setOnRxData(const TRxDataEvent& Value) { FOnRxData = Value; }
  TApplyEvent OnApply() const { return FOnApply; }
  void setOnApply(const TApplyEvent& Value) { FOnApply = Value; }
  // Passes the driver's link state changes on, with the dialog as Sender.
  TLinkChangeEvent OnLinkChange() const { return FOnLinkChange; }
  void setOnLinkChange(const TLinkChangeEvent& Value) { FOnLinkChange = Value; }
  // The station the dialog applies to (its own, when none was given).
  TStation& Station() const { return *FStation; }
  // A failure met while the station was created (the settings file refused
  // the driver's radio type); the dialog and its driver are complete.
  // Empties it.
  std::exception_ptr TakeCreateError() { return FStation->TakeCreateError(); }

  // The operator's pending choices.
  const std::string& ComPortText() const { return FComPortText; }
  const std::string& VirtualComPortText() const { return FVirtualComPortText; }
  TBaudRate BaudRate() const { return FBaudRate; }
  TRadioType Radio() const { return FRadio; }
  // The address the browser was last sent to.
  const std::string& ServerAddress() const { return FServerAddress; }

  // The controls, for the main window's tests and screenshots.
  QLineEdit* edtServer() const { return FedtServer; }
  QListWidget* lbxServerList() const { return FlbxServerList; }
  QLineEdit* edtCOM() const { return FedtCOM; }
  // The machine's serial devices, listed anew each time it opens.
  QComboBox* cbxDevice() const { return FcbxDevice; }
  TPanelButton* pnlTestRadio() const { return FpnlTestRadio; }
  // What picking a device or Test radio had to say.
  QLabel* lblCatNote() const { return FlblCatNote; }
  QComboBox* cbxBaudRate() const { return FcbxBaudRate; }
  QComboBox* cbxRadio() const { return FcbxRadio; }
  QCheckBox* CheckBox1() const { return FCheckBox1; }
  QLineEdit* edtVirtualCOM() const { return FedtVirtualCOM; }
  QLineEdit* edtRigctldAddress() const { return FedtRigctldAddress; }
  QLabel* lblCatStatus() const { return FlblCatStatus; }
  QLabel* lblSettingsFile() const { return FlblSettingsFile; }
  const TStationOptionControls& StationOptionControls() const { return FStationOptionControls; }
  TPanelButton* pnlAdd() const { return FpnlAdd; }
  TPanelButton* pnlRemove() const { return FpnlRemove; }
  TPanelButton* pnlCancel() const { return FpnlCancel; }
  TPanelButton* pnlApply() const { return FpnlApply; }
  TPanelButton* pnlOK() const { return FpnlOK; }
  TPanelButtonGroup& Buttons() { return FButtons; }
  TNetworkSharingGroup* NetworkSharing() const { return FNetworkSharing; }
  TContactsGroup* Contacts() const { return FContacts; }
  TLogbookApiGroup* LogbookApi() const { return FLogbookApi; }

  // The handlers; the buttons and boxes call them, and so may tests.
  void FormShow();
  void edtCOMChange();
  void edtVirtualCOMChange();
  void cbxRadioChange(int Index);
  void cbxBaudRateChange(int Index);
  // Throws the settings store's write error; the button shows it.
  void pnlApplyClick();
  void pnlOKClick();
  void pnlCancelClick();
  void pnlAddClick();
  void pnlRemoveClick();
  void lbxServerListClick();
  void FormMouseMove();
  // Rewrites the CAT group's status line from the driver's radio link.
  void UpdateCatStatus();
  // The device list anew: the machine's serial devices under DevRoot.
  void RefreshDevices();
  // Links the device of the list's item Index as the COM port's device.
  void cbxDeviceActivated(int Index);
  // Asks the radio once with the CAT settings as entered.
  void pnlTestRadioClick();
  // Where the device list looks (tests use a folder of their own).
  void setDeviceRoots(const std::string& DevRoot, const std::string& SysRoot) {
    FDevRoot = DevRoot;
    FSysRoot = SysRoot;
  }

protected:
  void showEvent(QShowEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  void BuildLayout();
  void Initialize();
  void ReadLogbookKey();
  // Fills the server address box and the list from the store.
  void LoadServers();
  void CATRxData(const TRadioValue& Value);
  void CATLinkChange();
  void PortBoxChange(QLineEdit* Box, std::string& LastAccepted);
  void ShowCatNote(const std::string& Text);
  void Navigate(const std::string& Address);
  // A radio behind rigctld: the address box in place of COM port and baud
  // rate, and Virtual CAT off with a note.
  void ShowRadioKind();
  // Stores the address box's text for a radio behind rigctld; true when the
  // stored address changed. A text that is no address is refused, with the
  // reason in FAddressError.
  bool ApplyRigctldAddress();

  std::unique_ptr<TBrowserNavigator> FOwnNavigator;
  TRxDataEvent FOnRxData;
  TApplyEvent FOnApply;
  TLinkChangeEvent FOnLinkChange;
  TVelaLogSettings* FSettings = nullptr;
  TBrowserNavigator* FBrowser = nullptr;
  std::string FServerAddress;
  std::unique_ptr<TStation> FOwnStation;
  std::unique_ptr<TApiKeyStore> FKeyStore;
  std::unique_ptr<TLogbookKeySource> FKeySource;
  TStation* FStation = nullptr;
  int FRxConsumer = 0;
  int FChangeConsumer = 0;
  std::string FComPortText;
  std::string FVirtualComPortText;
  TBaudRate FBaudRate = br4800;
  TRadioType FRadio = rtFlex;
  // Set while the dialog itself changes the list, which is not a click.
  bool FFillingList = false;

  TPanelButtonGroup FButtons;
  QLineEdit* FedtServer = nullptr;
  QListWidget* FlbxServerList = nullptr;
  QLineEdit* FedtCOM = nullptr;
  QComboBox* FcbxDevice = nullptr;
  TPanelButton* FpnlTestRadio = nullptr;
  QLabel* FlblCatNote = nullptr;
  std::unique_ptr<TRadioProbe> FProbe;
  std::string FDevRoot = "/dev";
  std::string FSysRoot = "/sys";
  QComboBox* FcbxBaudRate = nullptr;
  QComboBox* FcbxRadio = nullptr;
  QCheckBox* FCheckBox1 = nullptr;
  QLineEdit* FedtVirtualCOM = nullptr;
  TLinkStatusStrip* FlblCatStatus = nullptr;
  QLabel* FlblCOM = nullptr;
  QLabel* FlblBaudRate = nullptr;
  QLineEdit* FedtRigctldAddress = nullptr;
  QLabel* FlblRigctldHint = nullptr;
  QWidget* FpnlVirtualCatAbout = nullptr;
  QLabel* FlblVirtualCatNotApplicable = nullptr;
  std::string FAddressError;
  QLabel* FlblSettingsFile = nullptr;
  TStationOptionControls FStationOptionControls{};
  std::unique_ptr<TStationOptionsGroup> FStationOptions;
  TPanelButton* FpnlAdd = nullptr;
  TPanelButton* FpnlRemove = nullptr;
  TPanelButton* FpnlCancel = nullptr;
  TPanelButton* FpnlApply = nullptr;
  TPanelButton* FpnlOK = nullptr;
  TNetworkSharingGroup* FNetworkSharing = nullptr;
  TContactsGroup* FContacts = nullptr;
  TLogbookApiGroup* FLogbookApi = nullptr;
};

} // namespace vela

#include "gui/guiVLogSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <cstdint>
#include <functional>

#include "cat/radios/untRadioTable.h"
#include "cat/radios/untRigctldCATinterface.h"
#include "cat/transport/CPort.h"
#include "cat/transport/untSerialDevices.h"
#include "cat/transport/untTcpPort.h"
#include "gui/guiContactsGroup.h"
#include "gui/untLinkStatusStrip.h"
#include "gui/untLogbookApiGroup.h"
#include "gui/untNetworkSharingGroup.h"
#include "gui/untPalette.h"
#include "gui/untSettingsToolTips.h"
#include "logbook/untApiKeyStore.h"
#include "logpage/untWebBrowser.h"
#include "platform/untStrToInt.h"
#include "settings/untSettingsBatch.h"
#include "settings/untSettingsLocation.h"
#include "station/untRadioProbe.h"
#include <QHBoxLayout>
#include <QStandardItemModel>
#include <QWindow>

namespace vela {

namespace {

const QColor FormColor = palette::Panel;
const QColor FormFontColor = palette::Yellow;
const QColor GroupColor = palette::Group;
const QColor HeaderColor = palette::Header;
const QColor ButtonFaceColor = palette::DarkButton;
const QColor ButtonCaptionColor(255, 255, 255);
const QColor ButtonHighlightColor = palette::Yellow;
const QColor ButtonFrameColor(0, 0, 0);
const QColor BoxColor = palette::Box;

QFont ArialFont(int PixelSize, bool Bold = false) {
  QFont Font(QStringLiteral("Arial"));
  Font.setPixelSize(PixelSize);
  Font.setBold(Bold);
  return Font;
}

void SetColor(QWidget* Widget, QPalette::ColorRole Role, const QColor& Color) {
  QPalette Palette = Widget->palette();
  Palette.setColor(Role, Color);
  Widget->setPalette(Palette);
}

QFrame* Panel(QWidget* Parent, const QRect& Geometry, const QColor& Color) {
  auto* Result = new QFrame(Parent);
  Result->setFrameShape(QFrame::NoFrame);
  Result->setAutoFillBackground(true);
  SetColor(Result, QPalette::Window, Color);
  Result->setGeometry(Geometry);
  return Result;
}

QLabel* Header(QWidget* Parent, const QString& Text) {
  auto* Result = new QLabel(Text, Parent);
  Result->setAlignment(Qt::AlignCenter);
  Result->setAutoFillBackground(true);
  Result->setFont(ArialFont(15, true));
  SetColor(Result, QPalette::Window, HeaderColor);
  SetColor(Result, QPalette::WindowText, Qt::white);
  Result->setGeometry(4, 4, 238, 25);
  return Result;
}

QLabel* Label(QWidget* Parent, const QRect& Geometry, const QString& Text,
              Qt::Alignment Align = Qt::AlignLeft) {
  auto* Result = new QLabel(Text, Parent);
  Result->setAlignment(Align | Qt::AlignTop);
  // Labels size themselves to their text, as far as it needs, keeping the
  // edge they are aligned to; a label never clips its caption.
  QRect Fitted = Geometry;
  const int Needed = Text.isEmpty() ? 0 : Result->sizeHint().width();
  if (Needed > Fitted.width()) {
    const int Grow = Needed - Fitted.width();
    if (Align & Qt::AlignRight)
      Fitted.setLeft(Fitted.left() - Grow);
    else if (Align & Qt::AlignHCenter)
      Fitted.adjust(-Grow / 2, 0, Grow - Grow / 2, 0);
    else
      Fitted.setRight(Fitted.right() + Grow);
  }
  Result->setGeometry(Fitted);
  return Result;
}

QLineEdit* EditBox(QWidget* Parent, const QRect& Geometry) {
  auto* Result = new QLineEdit(Parent);
  Result->setFont(ArialFont(13));
  SetColor(Result, QPalette::Text, Qt::black);
  Result->setGeometry(Geometry);
  return Result;
}

// Fixed drop-down lists: no typed text, so the item index is never -1
// through the operator.
QComboBox* ComboBox(QWidget* Parent, const QRect& Geometry, const char* const* Items, int Count) {
  auto* Result = new QComboBox(Parent);
  Result->setEditable(false);
  Result->setFont(ArialFont(13));
  for (int i = 0; i < Count; ++i)
    Result->addItem(QString::fromLatin1(Items[i]));
  for (auto Role : {QPalette::Base, QPalette::Button, QPalette::Window})
    SetColor(Result, Role, BoxColor);
  for (auto Role : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText})
    SetColor(Result, Role, Qt::black);
  Result->setGeometry(Geometry);
  return Result;
}

// A drop-down list that is filled anew each time it opens.
class TRefreshingComboBox : public QComboBox {
public:
  using QComboBox::QComboBox;
  std::function<void()> OnOpen;
  void showPopup() override {
    if (OnOpen)
      OnOpen();
    QComboBox::showPopup();
  }
};

std::int32_t PortNumber(const std::string& Text) {
  std::int32_t Value = 0;
  TryStrToInt(Text, Value);
  return Value;
}

} // namespace

void TWebBrowserNavigator::Navigate(const std::string& Address) {
  if (FBrowser)
    FBrowser->Navigate(Address);
}

TfrmVLogSettings::TfrmVLogSettings(QWidget* AOwner, TWebBrowser* ABrowser,
                                   TVelaLogSettings* ASettings, TStation* AStation)
    : QWidget(AOwner), TComponent(nullptr),
      FOwnNavigator(std::make_unique<TWebBrowserNavigator>(ABrowser)), FSettings(ASettings),
      FBrowser(FOwnNavigator.get()), FStation(AStation) {
  Initialize();
}

TfrmVLogSettings::TfrmVLogSettings(QWidget* AOwner, TBrowserNavigator* ABrowser,
                                   TVelaLogSettings* ASettings, TStation* AStation)
    : QWidget(AOwner), TComponent(nullptr), FSettings(ASettings), FBrowser(ABrowser),
      FStation(AStation) {
  Initialize();
}

TfrmVLogSettings::~TfrmVLogSettings() {
  FStation->setLogbookKeySource(nullptr);
  FKeySource.reset();
  FKeyStore.reset();
  FStation->RemoveConsumer(FRxConsumer);
  FStation->RemoveConsumer(FChangeConsumer);
  FOwnStation.reset(); // stops the driver's port worker
}

void TfrmVLogSettings::Initialize() {
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(QStringLiteral("VELA Log Settings"));
  setObjectName(QStringLiteral("frmVLogSettings"));
  BuildLayout();

  Navigate(FSettings->strServerAddress());

  if (!FStation) {
    FOwnStation = std::make_unique<TStation>(*FSettings, FSettings->FileName());
    FStation = FOwnStation.get();
  }
  FRxConsumer = FStation->AddRxConsumer([this](const TRadioValue& Value) { CATRxData(Value); });
  FChangeConsumer = FStation->AddChangeConsumer([this] { CATLinkChange(); });
  ReadLogbookKey();
  // The driver records its own type (every type beyond the list gets the
  // IC-7300's driver), so the choice held here follows what was created.
  FRadio = FStation->Radio();

  FComPortText = std::to_string(FSettings->intCommPort());
  FVirtualComPortText = std::to_string(FSettings->intCommPort2());
  FBaudRate = FSettings->BaudRate();

  FedtCOM->setText(QString::fromStdString(FComPortText));
  FedtVirtualCOM->setText(QString::fromStdString(FVirtualComPortText));
  FcbxRadio->setCurrentIndex(FRadio);
  // An ordinal without an item (the custom rate, or one beyond the list)
  // selects none and is handed on unchanged.
  FcbxBaudRate->setCurrentIndex(FBaudRate >= br110 && FBaudRate <= br256000 ? FBaudRate - 1 : -1);
  FCheckBox1->setChecked(FSettings->blnComm2Enable());
  FedtRigctldAddress->setText(QString::fromStdString(FSettings->strRigctldAddress()));
  ShowRadioKind();
  FStationOptions->Load(*FSettings, FRadio);

  // Connected only now: setting the initial items is not an operator's choice.
  connect(FcbxRadio, &QComboBox::currentIndexChanged, this, &TfrmVLogSettings::cbxRadioChange);
  connect(FcbxBaudRate, &QComboBox::currentIndexChanged, this,
          &TfrmVLogSettings::cbxBaudRateChange);
  UpdateCatStatus();
}

void TfrmVLogSettings::BuildLayout() {
  constexpr int Extra = StatusLineHeight + StationOptionsHeight + TestRowHeight;
  move(0, 0);
  setFont(ArialFont(15));
  setAutoFillBackground(true);
  SetColor(this, QPalette::Window, FormColor);
  SetColor(this, QPalette::WindowText, FormFontColor);
  setMouseTracking(true);

  auto Button = [this](QWidget* Parent, int Left, int Top, const QString& Caption) {
    auto* Result = new TPanelButton(Parent, Caption);
    Result->setGeometries(QRect(Left, Top, 78, 25), QRect(2, 2, 74, 21));
    Result->setFrameColor(ButtonFrameColor);
    Result->setFaceColor(ButtonFaceColor);
    Result->setCaptionColor(ButtonCaptionColor);
    Result->setHighlightColor(ButtonHighlightColor);
    Result->setCaptionFont(ArialFont(13));
    Result->setGroup(&FButtons);
    return Result;
  };
  // The Parts block: its groups at their own pixel positions.
  auto* Parts = new QWidget(this);
  Parts->setFixedSize(ClientWidth, PartsHeight);
  Parts->setMouseTracking(true);
  Parts->installEventFilter(this);
  auto GroupIn = [this](QWidget* Parent, const QRect& Geometry) {
    QFrame* Result = Panel(Parent, Geometry, GroupColor);
    Result->setMouseTracking(true);
    Result->installEventFilter(this);
    return Result;
  };
  auto Group = [&](const QRect& Geometry) { return GroupIn(Parts, Geometry); };

  // Servers
  QFrame* pnlServersBg = Group(QRect(12, 12, 246, 301 + Extra));
  Header(pnlServersBg, QStringLiteral("Servers:"));
  Label(pnlServersBg, QRect(4, 40, 95, 24), QStringLiteral("Server Address:"));
  FedtServer = EditBox(pnlServersBg, QRect(4, 60, 238, 24));
  FpnlAdd = Button(pnlServersBg, 84, 92, QStringLiteral("Add"));
  FpnlRemove = Button(pnlServersBg, 164, 92, QStringLiteral("Remove"));
  Label(pnlServersBg, QRect(4, 102, 95, 24), QStringLiteral("Server List:"));
  FlbxServerList = new QListWidget(pnlServersBg);
  FlbxServerList->setSelectionMode(QAbstractItemView::SingleSelection);
  FlbxServerList->setFont(ArialFont(15));
  FlbxServerList->setUniformItemSizes(true);
  FlbxServerList->setStyleSheet(QStringLiteral("QListWidget::item { height: 17px; }"));
  SetColor(FlbxServerList, QPalette::Base, BoxColor);
  SetColor(FlbxServerList, QPalette::Text, Qt::black);
  FlbxServerList->setGeometry(4, 120, 237, 177 + Extra);

  // CAT settings, with the port status line below the radio type
  QFrame* pnlCatsettingsBg = Group(QRect(268, 12, 246, 117 + Extra));
  Header(pnlCatsettingsBg, QStringLiteral("CAT Settings"));
  FlblCOM =
      Label(pnlCatsettingsBg, QRect(0, 37, 95, 24), QStringLiteral("COM port:"), Qt::AlignRight);
  FedtCOM = EditBox(pnlCatsettingsBg, QRect(101, 33, 45, 24));
  {
    // Beside the number: the devices it can be linked to.
    auto* Devices = new TRefreshingComboBox(pnlCatsettingsBg);
    Devices->setFont(ArialFont(13));
    for (auto Role : {QPalette::Base, QPalette::Button, QPalette::Window})
      SetColor(Devices, Role, BoxColor);
    for (auto Role : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText})
      SetColor(Devices, Role, Qt::black);
    Devices->setGeometry(150, 33, 91, 24);
    // The names are long: the open list is as wide as they need.
    Devices->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    Devices->OnOpen = [this] { RefreshDevices(); };
    Devices->addItem(QStringLiteral("devices..."));
    FcbxDevice = Devices;
  }
  FlblBaudRate =
      Label(pnlCatsettingsBg, QRect(0, 59, 95, 24), QStringLiteral("Baud Rate:"), Qt::AlignRight);
  FcbxBaudRate = ComboBox(pnlCatsettingsBg, QRect(101, 59, 140, 24), nullptr, 0);
  for (const int Bits : StandardBaudRates)
    FcbxBaudRate->addItem(QString::number(Bits));
  Label(pnlCatsettingsBg, QRect(0, 85, 95, 24), QStringLiteral("Radio Type:"), Qt::AlignRight);
  FcbxRadio = ComboBox(pnlCatsettingsBg, QRect(101, 85, 140, 24), nullptr, 0);
  for (const TRadioModel* Model : RadioModels())
    FcbxRadio->addItem(QString::fromLatin1(Model->DisplayName));
  {
    // Station options: Digi, CI-V address, the control lines and their note.
    QWidget* Cat = pnlCatsettingsBg;
    TStationOptionControls& O = FStationOptionControls;
    O.lblDigiMode =
        Label(Cat, QRect(0, 115, 95, 24), QStringLiteral("Digi means:"), Qt::AlignRight);
    O.cbxDigiMode = ComboBox(Cat, QRect(101, 111, 140, 24), nullptr, 0);
    O.lblDigiNote = Label(Cat, QRect(4, 115, 238, 24), QString(), Qt::AlignHCenter);
    O.lblCIVAddress =
        Label(Cat, QRect(0, 141, 95, 24), QStringLiteral("CI-V address:"), Qt::AlignRight);
    O.edtCIVAddress = EditBox(Cat, QRect(101, 137, 45, 24));
    O.chkTransceive = new QCheckBox(Cat);
    O.chkTransceive->setGeometry(154, 139, 88, 20);
    Label(Cat, QRect(0, 167, 40, 24), QStringLiteral("DTR:"), Qt::AlignRight);
    O.cbxDTR = ComboBox(Cat, QRect(44, 163, 74, 24), nullptr, 0);
    Label(Cat, QRect(120, 167, 40, 24), QStringLiteral("RTS:"), Qt::AlignRight);
    O.cbxRTS = ComboBox(Cat, QRect(164, 163, 77, 24), nullptr, 0);
    O.lblLineNote = Label(Cat, QRect(4, 189, 238, 30), QString(), Qt::AlignHCenter);
    O.lblLineNote->setWordWrap(true);
    O.lblLineNote->setFont(ArialFont(12));
    FStationOptions = std::make_unique<TStationOptionsGroup>(O);
  }
  // A radio behind rigctld: its address in place of COM port and baud rate.
  FedtRigctldAddress = EditBox(pnlCatsettingsBg, QRect(101, 33, 140, 24));
  FedtRigctldAddress->setToolTip(QStringLiteral("host:port of rigctld, e.g. localhost:4532, "
                                                "shack-pc:4532 or [::1]:4532"));
  FlblRigctldHint = Label(pnlCatsettingsBg, QRect(101, 61, 140, 22),
                          QStringLiteral("rigctld: host:port"), Qt::AlignLeft);
  FlblRigctldHint->setFont(ArialFont(12));
  FlblCatStatus = new TLinkStatusStrip(pnlCatsettingsBg);
  FlblCatStatus->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  FlblCatStatus->setGeometry(4, 113 + StationOptionsHeight, 238, StatusLineHeight);
  // Test radio, and what it or picking a device has to say, wrapped.
  const int TestTop = 117 + StatusLineHeight + StationOptionsHeight;
  FpnlTestRadio = Button(pnlCatsettingsBg, 4, TestTop, QStringLiteral("Test radio"));
  FlblCatNote = new QLabel(pnlCatsettingsBg);
  FlblCatNote->setGeometry(86, TestTop - 2, 156, TestRowHeight);
  FlblCatNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  FlblCatNote->setWordWrap(true);
  FlblCatNote->setFont(ArialFont(12));
  FlblCatNote->setTextInteractionFlags(Qt::TextSelectableByMouse);
  FlblCatStatus->setFont(ArialFont(12));
  // The radio type shows just above; the line has room for the port and its state.
  FlblCatStatus->setSource([this] {
    if (!FAddressError.empty())
      return FAddressError;
    return FStation ? FStation->RadioLinkText() : std::string("no radio driver");
  });

  // Virtual CAT
  QFrame* pnlVirtualCatBg = Group(QRect(268, 142 + Extra, 246, 129));
  Header(pnlVirtualCatBg, QStringLiteral("Virtual CAT"));
  FpnlVirtualCatAbout = new QWidget(pnlVirtualCatBg);
  Label(FpnlVirtualCatAbout, QRect(0, 0, 238, 24), QStringLiteral("Forward transceiver data via"),
        Qt::AlignHCenter);
  Label(FpnlVirtualCatAbout, QRect(0, 16, 238, 24),
        QStringLiteral("virtual COM port to other program"), Qt::AlignHCenter);
  FpnlVirtualCatAbout->setGeometry(4, 32, 238, 40);
  FlblVirtualCatNotApplicable =
      Label(pnlVirtualCatBg, QRect(4, 32, 238, 40),
            QStringLiteral("Does not apply to a radio behind\nrigctld: it has no serial line"),
            Qt::AlignHCenter);
  Label(pnlVirtualCatBg, QRect(8, 72, 127, 24), QStringLiteral("Enable Virtual CAT:"),
        Qt::AlignRight);
  FCheckBox1 = new QCheckBox(pnlVirtualCatBg);
  FCheckBox1->setGeometry(141, 72, 49, 17);
  Label(pnlVirtualCatBg, QRect(8, 94, 127, 24), QStringLiteral("COM port:"), Qt::AlignRight);
  FedtVirtualCOM = EditBox(pnlVirtualCatBg, QRect(141, 92, 45, 24));

  // The Parts block with the buttons' row under it, the groups added since
  // in a second column beside it, and the settings file's line across the
  // bottom.
  auto* Outer = new QVBoxLayout(this);
  Outer->setContentsMargins(0, 0, 12, 2);
  Outer->setSpacing(4);
  auto* Columns = new QHBoxLayout();
  Columns->setSpacing(ColumnGap);
  Outer->addLayout(Columns);
  auto* Left = new QVBoxLayout();
  Left->setSpacing(0);
  Columns->addLayout(Left);
  Left->addWidget(Parts);
  auto* Right = new QVBoxLayout();
  Right->setContentsMargins(0, 12, 0, 0);
  Right->setSpacing(ColumnGap);
  Columns->addLayout(Right);
  auto Wide = [&](int Height) {
    QFrame* Result = GroupIn(this, QRect(0, 0, SecondColumnWidth, Height));
    Result->setFixedSize(SecondColumnWidth, Height);
    Right->addWidget(Result);
    return Result;
  };
  FNetworkSharing = new TNetworkSharingGroup(Wide(SharingGroupHeight));
  FContacts = new TContactsGroup(Wide(ContactsGroupHeight));
  FLogbookApi = new TLogbookApiGroup(Wide(LogbookGroupHeight));
  Right->addStretch(1);

  // The buttons' panel keeps its place under the CAT groups' right edge.
  auto* ButtonRow = new QWidget(this);
  ButtonRow->setFixedSize(ClientWidth, ButtonsHeight);
  ButtonRow->setMouseTracking(true);
  ButtonRow->installEventFilter(this);
  Left->addWidget(ButtonRow);
  Left->addStretch(1);
  QFrame* pnlButtons = GroupIn(ButtonRow, QRect(268, 0, 246, ButtonsHeight));
  FpnlCancel = Button(pnlButtons, 4, 4, QStringLiteral("Cancel"));
  FpnlApply = Button(pnlButtons, 84, 4, QStringLiteral("Apply"));
  FpnlOK = Button(pnlButtons, 164, 4, QStringLiteral("OK"));

  // The settings file, in full as a tooltip when the line is too short.
  const QString SettingsFile =
      QStringLiteral("Settings file: ") + QString::fromStdString(FSettings->FileName());
  constexpr int FileLineWidth = ClientWidth + ColumnGap + SecondColumnWidth - 12;
  FlblSettingsFile = Label(this, QRect(0, 0, FileLineWidth, SettingsFileLineHeight), QString());
  FlblSettingsFile->setFont(ArialFont(12));
  FlblSettingsFile->setFixedSize(FileLineWidth, SettingsFileLineHeight);
  FlblSettingsFile->setToolTip(SettingsFile);
  FlblSettingsFile->setText(QFontMetrics(FlblSettingsFile->font())
                                .elidedText(SettingsFile, Qt::ElideMiddle, FileLineWidth));
  Outer->addWidget(FlblSettingsFile, 0, Qt::AlignHCenter);
  Outer->setSizeConstraint(QLayout::SetFixedSize);

  // Reading order: the Servers group, the CAT group, Virtual CAT, the
  // second column's groups top to bottom, then Cancel, Apply and OK. The
  // first focus stays on the COM port box.
  QWidget* const TabOrder[] = {FedtServer,
                               FpnlAdd->Face(),
                               FpnlRemove->Face(),
                               FlbxServerList,
                               FedtCOM,
                               FedtRigctldAddress,
                               FcbxDevice,
                               FcbxBaudRate,
                               FcbxRadio,
                               FStationOptionControls.cbxDigiMode,
                               FStationOptionControls.edtCIVAddress,
                               FStationOptionControls.chkTransceive,
                               FStationOptionControls.cbxDTR,
                               FStationOptionControls.cbxRTS,
                               FpnlTestRadio->Face(),
                               FCheckBox1,
                               FedtVirtualCOM,
                               FNetworkSharing->chkShare(),
                               FNetworkSharing->edtAddress(),
                               FNetworkSharing->edtPort(),
                               FNetworkSharing->edtTxLimit(),
                               FNetworkSharing->chkAllowPTT(),
                               FContacts->chkEnabled(),
                               FContacts->edtListen(),
                               FContacts->chkSubmit(),
                               FContacts->edtLogFile(),
                               FContacts->btnBrowse(),
                               FLogbookApi->chkEnabled(),
                               FLogbookApi->edtUrl(),
                               FLogbookApi->edtKey(),
                               FLogbookApi->cbxStation(),
                               FLogbookApi->btnTest(),
                               FLogbookApi->edtRadioName(),
                               FLogbookApi->edtTuneListen(),
                               FLogbookApi->chkSelfSigned(),
                               FLogbookApi->btnResendRefused(),
                               FpnlCancel->Face(),
                               FpnlApply->Face(),
                               FpnlOK->Face()};
  for (std::size_t i = 0; i + 1 < std::size(TabOrder); ++i)
    setTabOrder(TabOrder[i], TabOrder[i + 1]);
  FCheckBox1->setFocusPolicy(Qt::TabFocus);
  for (QComboBox* Combo : {FcbxRadio, FcbxBaudRate, FcbxDevice, FStationOptionControls.cbxDigiMode,
                           FStationOptionControls.cbxDTR, FStationOptionControls.cbxRTS})
    Combo->setFocusPolicy(Qt::StrongFocus);

  connect(FedtCOM, &QLineEdit::textChanged, this, &TfrmVLogSettings::edtCOMChange);
  connect(FedtVirtualCOM, &QLineEdit::textChanged, this, &TfrmVLogSettings::edtVirtualCOMChange);
  connect(FpnlApply, &TPanelButton::clicked, this, &TfrmVLogSettings::pnlApplyClick);
  connect(FpnlOK, &TPanelButton::clicked, this, &TfrmVLogSettings::pnlOKClick);
  connect(FpnlCancel, &TPanelButton::clicked, this, &TfrmVLogSettings::pnlCancelClick);
  connect(FpnlAdd, &TPanelButton::clicked, this, &TfrmVLogSettings::pnlAddClick);
  connect(FpnlRemove, &TPanelButton::clicked, this, &TfrmVLogSettings::pnlRemoveClick);
  connect(FpnlTestRadio, &TPanelButton::clicked, this, &TfrmVLogSettings::pnlTestRadioClick);
  connect(FcbxDevice, &QComboBox::activated, this, &TfrmVLogSettings::cbxDeviceActivated);
  SetSettingsToolTips(*this);
  connect(FlbxServerList, &QListWidget::currentRowChanged, this,
          [this](int) { lbxServerListClick(); });
  connect(FlbxServerList, &QListWidget::itemClicked, this,
          [this](QListWidgetItem*) { lbxServerListClick(); });
}

void TfrmVLogSettings::Navigate(const std::string& Address) {
  FServerAddress = Address;
  if (FBrowser)
    FBrowser->Navigate(Address);
}

namespace {

// The key store as the station's key source: the group shows the key once
// it is read, and the station starts the logbook with it.
class TShownKeySource : public TLogbookKeySource {
public:
  TShownKeySource(TApiKeyStore& AStore, std::function<void()> AShow)
      : FStore(AStore), FShow(std::move(AShow)) {}
  void ReadKey(const TKeyKnown& Done) override {
    FStore.ReadKey([this, Done] {
      FShow();
      Done();
    });
  }
  bool Known() const override { return FStore.Known(); }
  const std::string& Key() const override { return FStore.Key(); }

private:
  TApiKeyStore& FStore;
  std::function<void()> FShow;
};

} // namespace

void TfrmVLogSettings::ReadLogbookKey() {
  // The station reads the key (from the event loop, after the window
  // stands) and takes the one kept at each Apply.
  FKeyStore = std::make_unique<TApiKeyStore>(*FSettings);
  FKeySource = std::make_unique<TShownKeySource>(
      *FKeyStore, [this] { FLogbookApi->setKeyStore(FKeyStore.get()); });
  FLogbookApi->setKeyStore(FKeyStore.get());
  FLogbookApi->setOnResendRefused(
      [this](bool AsStationCallsign, const TLogbookApiGroup::TSay& Say) {
        FStation->ResendRefused(AsStationCallsign, Say);
      },
      [this] { return FStation->LogbookStationCallsign(); });
  FStation->setLogbookKeySource(FKeySource.get());
}

void TfrmVLogSettings::CATRxData(const TRadioValue& Value) {
  if (FOnRxData.Assigned())
    FOnRxData(this, Value);
}

void TfrmVLogSettings::CATLinkChange() {
  UpdateCatStatus();
  if (FOnLinkChange.Assigned())
    FOnLinkChange(this);
}

void TfrmVLogSettings::FormShow() {
  LoadServers();
  FNetworkSharing->Load(*FSettings);
  FContacts->Load(*FSettings);
  FLogbookApi->Load(*FSettings);
}

void TfrmVLogSettings::LoadServers() {
  FedtServer->setText(QString::fromStdString(FSettings->strServerAddress()));
  FFillingList = true;
  FlbxServerList->clear();
  for (std::int32_t i = 0; i < FSettings->intSeverListCount(); ++i)
    FlbxServerList->addItem(QString::fromStdString(FSettings->strServerList(i)));
  FlbxServerList->setCurrentRow(-1);
  FFillingList = false;
}

void TfrmVLogSettings::PortBoxChange(QLineEdit* Box, std::string& LastAccepted) {
  const std::string Text = Box->text().toStdString();
  if (Text.empty())
    return;
  std::int32_t Value = 0;
  if (!TryStrToInt(Text, Value)) {
    // Setting the text runs this rule again on the restored text.
    Box->setText(QString::fromStdString(LastAccepted));
    return;
  }
  LastAccepted = Text;
}

void TfrmVLogSettings::edtCOMChange() {
  PortBoxChange(FedtCOM, FComPortText);
}

void TfrmVLogSettings::edtVirtualCOMChange() {
  PortBoxChange(FedtVirtualCOM, FVirtualComPortText);
}

void TfrmVLogSettings::cbxRadioChange(int Index) {
  const TRadioModel* Before = FindRadioModel(FRadio);
  if (Index >= 0)
    FRadio = static_cast<TRadioType>(Index);
  ShowRadioKind();
  FStationOptions->ShowRadio(FRadio);
  // A baud rate left at the previous radio's usual one was never chosen for
  // this radio: its own usual rate is offered in its place, and says so.
  const TRadioModel* After = FindRadioModel(FRadio);
  if (Before && After && Before != After && Before->UsualBaudRate != brCustom &&
      After->UsualBaudRate != brCustom && FBaudRate == Before->UsualBaudRate &&
      After->UsualBaudRate != FBaudRate) {
    FcbxBaudRate->setCurrentIndex(After->UsualBaudRate - 1);
    ShowCatNote("Baud rate " + std::to_string(StandardBaudRates[After->UsualBaudRate - 1]) +
                ": the " + After->DisplayName +
                "'s usual rate. Choose the one its menu is set to.");
  }
}

void TfrmVLogSettings::ShowCatNote(const std::string& Text) {
  // Wrapped in its lines; what does not fit them ends in "…", and the whole
  // text is the tool tip.
  const QString Whole = QString::fromStdString(Text);
  const QFontMetrics Metrics(FlblCatNote->font());
  QString Shown = Whole;
  FlblCatNote->setText(Shown);
  for (int Budget = Metrics.horizontalAdvance(Whole);
       Budget > 0 && FlblCatNote->heightForWidth(FlblCatNote->width()) > FlblCatNote->height();
       Budget -= FlblCatNote->width() / 4) {
    Shown = Metrics.elidedText(Whole, Qt::ElideRight, Budget);
    FlblCatNote->setText(Shown);
  }
  FlblCatNote->setToolTip(Whole);
}

void TfrmVLogSettings::RefreshDevices() {
  const QString Chosen = FcbxDevice->currentData().toString();
  FcbxDevice->clear();
  const std::vector<TSerialDevice> Devices = ListSerialDevices(FDevRoot, FSysRoot);
  FcbxDevice->addItem(Devices.empty() ? QStringLiteral("no serial devices")
                                      : QStringLiteral("devices..."));
  for (const TSerialDevice& Device : Devices) {
    // Names are bytes; one that is no UTF-8 shows with stand-ins.
    const QString Name = QString::fromUtf8(Device.Name.data(), qsizetype(Device.Name.size()));
    const QString Now = QString::fromUtf8(Device.Device.data(), qsizetype(Device.Device.size()));
    FcbxDevice->addItem(Name == Now.section('/', -1)
                            ? Name
                            : Name + QStringLiteral("  (") + Now + QStringLiteral(")"),
                        QString::fromUtf8(Device.Path.data(), qsizetype(Device.Path.size())));
    FcbxDevice->setItemData(FcbxDevice->count() - 1, QString::fromStdString(Device.Path),
                            Qt::ToolTipRole);
  }
  const int Again = Chosen.isEmpty() ? -1 : FcbxDevice->findData(Chosen);
  FcbxDevice->setCurrentIndex(Again >= 0 ? Again : 0);
}

void TfrmVLogSettings::cbxDeviceActivated(int Index) {
  if (Index <= 0)
    return;
  const QByteArray Path = FcbxDevice->itemData(Index).toString().toUtf8();
  const std::string Device(Path.constData(), std::size_t(Path.size()));
  const int Port = PortNumber(FComPortText);
  const std::string Ports = PortsFolderBeside(FSettings->FileName());
  const std::string Why = LinkSerialDevice(Ports, Port, Device);
  if (!Why.empty()) {
    FcbxDevice->setCurrentIndex(0);
    ShowCatNote("Not linked: " + Why);
    return;
  }
  std::string Note = "COM" + std::to_string(Port) + " is now " + Device + ".";
  if (const std::string Access = DeviceAccessProblem(Device); !Access.empty())
    Note += " But " + Access + ".";
  else if (FStation && FStation->RadioComPort() == Port)
    Note += " Reset CAT opens it.";
  ShowCatNote(Note);
}

void TfrmVLogSettings::pnlTestRadioClick() {
  TRadioProbeSettings Entered;
  Entered.Radio = FRadio;
  Entered.ComPort = PortNumber(FComPortText);
  Entered.BaudRate = FBaudRate;
  ShowCatNote("Asking the radio...");
  // An earlier test lets go of the port first.
  FProbe.reset();
  if (!FStation)
    return;
  FProbe = FStation->ProbeRadio(Entered, [this](bool, const std::string& Text) {
    ShowCatNote(Text);
    FProbe.release()->deleteLater();
  });
}

void TfrmVLogSettings::ShowRadioKind() {
  const bool Network = FRadio == rtRigctld;
  FlblCOM->setText(Network ? QStringLiteral("Address:") : QStringLiteral("COM port:"));
  for (QWidget* Serial : {static_cast<QWidget*>(FedtCOM), static_cast<QWidget*>(FlblBaudRate),
                          static_cast<QWidget*>(FcbxBaudRate), FpnlVirtualCatAbout})
    Serial->setVisible(!Network);
  for (QWidget* Shown :
       {static_cast<QWidget*>(FedtRigctldAddress), static_cast<QWidget*>(FlblRigctldHint),
        static_cast<QWidget*>(FlblVirtualCatNotApplicable)})
    Shown->setVisible(Network);
  // No serial line: Virtual CAT and the control lines do not apply.
  for (QWidget* Serial : {static_cast<QWidget*>(FCheckBox1), static_cast<QWidget*>(FedtVirtualCOM),
                          static_cast<QWidget*>(FStationOptionControls.cbxDTR),
                          static_cast<QWidget*>(FStationOptionControls.cbxRTS)})
    Serial->setEnabled(!Network);
}

bool TfrmVLogSettings::ApplyRigctldAddress() {
  const std::string Text = FedtRigctldAddress->text().trimmed().toStdString();
  THostPort Address;
  FAddressError.clear();
  if (!ParseHostPort(Text, TRigctldCATInterface::DefaultPort, Address, FAddressError))
    return false;
  if (Text == FSettings->strRigctldAddress())
    return false;
  FSettings->setStrRigctldAddress(Text);
  return true;
}

void TfrmVLogSettings::cbxBaudRateChange(int Index) {
  if (Index >= 0)
    FBaudRate = static_cast<TBaudRate>(Index + 1);
}

void TfrmVLogSettings::pnlApplyClick() {
  // Every key this Apply writes (whoever writes it) goes to the file as one
  // replace when this scope ends.
  TSettingsBatch Batch(*FSettings);
  const std::string Address = FedtServer->text().toStdString();
  if (!Address.empty())
    FSettings->setStrServerAddress(Address);
  else
    FedtServer->setText(QString::fromStdString(FServerAddress));

  const int Count = FlbxServerList->count();
  FSettings->setIntSeverListCount(Count);
  for (int i = 0; i < Count; ++i)
    FSettings->setStrServerList(i, FlbxServerList->item(i)->text().toStdString());

  // An unchanged address does not reload the page.
  if (FSettings->strServerAddress() != FServerAddress)
    Navigate(FSettings->strServerAddress());

  // Only the servers: the other groups' edits are still to be applied.
  if (Count == 0)
    LoadServers();

  // Station options: written where changed; a new address or line policy
  // (or a new address of the rigctld radio's daemon) restarts the worker (a
  // new driver below starts with them anyway).
  FAddressError.clear();
  if (FRadio == rtRigctld)
    ApplyRigctldAddress();
  bool Restart = false;
  FStationOptions->Apply(*FSettings, Restart);

  // A refused address changes no radio: its reason stays on the status line
  // until it is mended or another radio is chosen.
  const TRadioType Radio = FAddressError.empty() ? FRadio : FStation->Radio();

  FNetworkSharing->Store(*FSettings);
  FContacts->Store(*FSettings);
  FLogbookApi->Store(*FSettings);

  // One start of the worker at most, on everything this Apply chose.
  TStationOptions Options = TStationOptions::FromSettings(*FSettings);
  Options.Radio = Radio;
  Options.ComPort = PortNumber(FComPortText);
  Options.ComPort2 = PortNumber(FVirtualComPortText);
  Options.Com2Enable = FCheckBox1->isChecked();
  Options.BaudRate = FBaudRate;
  Options.RestartRadio = Restart;
  FStation->Apply(Options);
  // Sharing the station refused (on the rigctld radio's own port) is shown
  // unticked, with the reason, and kept off.
  const std::string& Refusal = FStation->SharingRefusal();
  FNetworkSharing->ShowRefusal(Refusal);
  if (!Refusal.empty())
    FNetworkSharing->Store(*FSettings);
  UpdateCatStatus();
  if (FOnApply.Assigned())
    FOnApply(this);
}

void TfrmVLogSettings::pnlOKClick() {
  pnlApplyClick();
  close();
}

void TfrmVLogSettings::pnlCancelClick() {
  close();
}

void TfrmVLogSettings::pnlAddClick() {
  const QString Text = FedtServer->text();
  if (!Text.isEmpty())
    FlbxServerList->addItem(Text);
}

void TfrmVLogSettings::pnlRemoveClick() {
  const int Row = FlbxServerList->currentRow();
  if (Row < 0 || !FlbxServerList->item(Row)->isSelected())
    return;
  FFillingList = true;
  delete FlbxServerList->takeItem(Row);
  FlbxServerList->setCurrentRow(-1);
  FFillingList = false;
  FedtServer->setText(QString::fromStdString(FSettings->strServerAddress()));
}

void TfrmVLogSettings::lbxServerListClick() {
  if (FFillingList)
    return;
  const int Row = FlbxServerList->currentRow();
  if (Row >= 0 && FlbxServerList->item(Row)->isSelected())
    FedtServer->setText(FlbxServerList->item(Row)->text());
}

void TfrmVLogSettings::FormMouseMove() {
  FButtons.ClearHighlight();
}

void TfrmVLogSettings::UpdateCatStatus() {
  FlblCatStatus->Refresh();
}

void TfrmVLogSettings::showEvent(QShowEvent* Event) {
  QWidget::showEvent(Event);
  if (Event->spontaneous())
    return;
  // The main window's own dialog: kept above it and with it by the window
  // manager, though not modal.
  if (QWidget* Owner = parentWidget(); Owner && windowHandle() && Owner->window()->windowHandle())
    windowHandle()->setTransientParent(Owner->window()->windowHandle());
  FormShow();
  UpdateCatStatus();
  if (!focusWidget())
    FedtCOM->setFocus(Qt::TabFocusReason);
}

void TfrmVLogSettings::mouseMoveEvent(QMouseEvent* Event) {
  FormMouseMove();
  QWidget::mouseMoveEvent(Event);
}

bool TfrmVLogSettings::eventFilter(QObject* Watched, QEvent* Event) {
  if (Event->type() == QEvent::MouseMove)
    FormMouseMove();
  return QWidget::eventFilter(Watched, Event);
}

} // namespace vela

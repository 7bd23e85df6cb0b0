#include "app/guiVelaLogMain.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QMouseEvent>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <exception>

#include "app/untContactsToPage.h"
#include "cat/radios/untBandPlan.h"
#include "cat/radios/untPageFields.h"
#include "gui/guiVLogSettings.h"
#include "gui/untErrorBox.h"
#include "gui/untLinkStatusStrip.h"
#include "gui/untPalette.h"
#include "gui/untPanelButton.h"
#include "logpage/untLogPHPinterface.h"
#include "logpage/untPageRetry.h"
#include "logpage/untWebBrowser.h"
#include "settings/untSettingsBatch.h"
#include "settings/untVelaLogSettings.h"
#include "station/untStation.h"

namespace vela {

namespace {

const QColor BarColour = palette::Panel;
const QColor ButtonColour = palette::LightButton;
const QColor ButtonBgColour = palette::Yellow;
const QColor CaptionColour(0, 0, 0);
const QColor HighlightColour = palette::Yellow;
const QColor LinkStripColour = palette::Group;
const QColor LinkTextColour = palette::StripText;

void SetBackground(QWidget* Widget, const QColor& Colour) {
  QPalette Palette = Widget->palette();
  Palette.setColor(QPalette::Window, Colour);
  Widget->setPalette(Palette);
  Widget->setAutoFillBackground(true);
}

std::string TwoDigits(int Value) {
  std::string Text = std::to_string(Value);
  return Text.size() == 1 ? "0" + Text : Text;
}

} // namespace

std::string ClockDateText(const TClockReading& Now) {
  return std::to_string(Now.Year) + "-" + TwoDigits(Now.Month) + "-" + TwoDigits(Now.Day);
}

std::string ClockTimeText(const TClockReading& Now) {
  return TwoDigits(Now.Hour) + ":" + TwoDigits(Now.Minute);
}

TClockReading TfrmVelaLogMain::SystemClock() {
  const QDateTime Utc = QDateTime::currentDateTimeUtc();
  TClockReading Now;
  Now.Year = Utc.date().year();
  Now.Month = Utc.date().month();
  Now.Day = Utc.date().day();
  Now.Hour = Utc.time().hour();
  Now.Minute = Utc.time().minute();
  Now.LocalMillisecond = Utc.toLocalTime().time().msec();
  return Now;
}

TfrmVelaLogMain::TfrmVelaLogMain(QWidget* Parent, const std::string& SettingsFileName)
    : QWidget(Parent), FSettingsFileName(SettingsFileName), FClockSource(&SystemClock) {
  setObjectName(QStringLiteral("frmVelaLogMain"));
  setWindowTitle(QStringLiteral("VELA log 2016 - 003"));
  resize(943, 749);
  QFont FormFont(QStringLiteral("Tahoma"));
  FormFont.setPixelSize(11);
  setFont(FormFont);

  auto* Layout = new QVBoxLayout(this);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->setSpacing(0);

  pnlButtons = new QWidget(this);
  pnlButtons->setObjectName(QStringLiteral("pnlButtons"));
  pnlButtons->setFixedHeight(40);
  pnlButtons->setMouseTracking(true);
  pnlButtons->installEventFilter(this);
  Layout->addWidget(pnlButtons);

  FButtonGroup = std::make_unique<TPanelButtonGroup>();
  pnlSettingsBg = MakeButton(322, "Settings", "pnlSettings");
  pnlSettings = pnlSettingsBg->Face();
  pnlResetRadioBg = MakeButton(502, "Reset CAT", "pnlResetRadio");
  pnlResetRadio = pnlResetRadioBg->Face();
  pnlBackBg = MakeButton(682, "Back", "pnlBack");
  pnlBack = pnlBackBg->Face();
  // A failing action is shown in the standard error box; the program goes on.
  auto Guarded = [](void (TfrmVelaLogMain::*Handler)(), TfrmVelaLogMain* Form) {
    return [Handler, Form] {
      try {
        (Form->*Handler)();
      } catch (...) {
        ShowCurrentException();
      }
    };
  };
  connect(pnlSettingsBg, &TPanelButton::clicked, this,
          Guarded(&TfrmVelaLogMain::pnlSettingsClick, this));
  connect(pnlResetRadioBg, &TPanelButton::clicked, this,
          Guarded(&TfrmVelaLogMain::pnlResetRadioClick, this));
  connect(pnlBackBg, &TPanelButton::clicked, this, Guarded(&TfrmVelaLogMain::pnlBackClick, this));

  lblLinkStatus = new TLinkStatusStrip(this);
  lblLinkStatus->setObjectName(QStringLiteral("lblLinkStatus"));
  lblLinkStatus->setFixedHeight(18);
  lblLinkStatus->setIndent(8);
  QFont StripFont(QStringLiteral("Arial"));
  StripFont.setPixelSize(12);
  lblLinkStatus->setFont(StripFont);
  SetBackground(lblLinkStatus, LinkStripColour);
  QPalette StripPalette = lblLinkStatus->palette();
  StripPalette.setColor(QPalette::WindowText, LinkTextColour);
  lblLinkStatus->setPalette(StripPalette);
  Layout->addWidget(lblLinkStatus);

  wbrLogBook = new TWebBrowser(this);
  wbrLogBook->setObjectName(QStringLiteral("wbrLogBook"));
  Layout->addWidget(wbrLogBook, 1);
  connect(wbrLogBook, &TWebBrowser::DocumentComplete, this,
          [this] { wbrLogBookDocumentComplete(); });
  PageRetry = new TPageRetry(wbrLogBook);
  connect(PageRetry, &TPageRetry::StatusChanged, lblLinkStatus, &TLinkStatusStrip::Refresh);

  // Tab order: the bar's buttons first, then the browser.
  setTabOrder(pnlSettings, pnlResetRadio);
  setTabOrder(pnlResetRadio, pnlBack);
  setTabOrder(pnlBack, wbrLogBook);

  // The clock runs from creation; its first tick comes from the message loop,
  // after the window has been shown.
  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  Timer1->start();
}

TfrmVelaLogMain::~TfrmVelaLogMain() {
  // A window destroyed without having been closed still frees its objects in
  // the closing order.
  if (FShown && !FClosed) {
    try {
      FormClose();
    } catch (...) {
    }
  }
}

TPanelButton* TfrmVelaLogMain::MakeButton(int Left, const char* Caption, const char* Name) {
  auto* Button = new TPanelButton(pnlButtons, QString::fromUtf8(Caption));
  Button->setObjectName(QString::fromUtf8(Name) + QStringLiteral("Bg"));
  Button->Face()->setObjectName(QString::fromUtf8(Name));
  // The face is 5 pixels narrower than its frame: a yellow strip shows at
  // its right, and a pressed face shows a yellow edge above and left.
  Button->setGeometries(QRect(Left, 16, 175, 20), QRect(0, 0, 170, 20));
  QFont ButtonFont(QStringLiteral("Arial"));
  ButtonFont.setPixelSize(13);
  ButtonFont.setBold(true);
  Button->setCaptionFont(ButtonFont);
  Button->setGroup(FButtonGroup.get());
  return Button;
}

void TfrmVelaLogMain::showEvent(QShowEvent* Event) {
  QWidget::showEvent(Event);
  if (!FShown && !Event->spontaneous()) {
    FShown = true;
    FormShow();
  }
}

void TfrmVelaLogMain::closeEvent(QCloseEvent* Event) {
  if (FShown && !FClosed)
    FormClose();
  Event->accept();
}

void TfrmVelaLogMain::FormShow() {
  SetBackground(pnlButtons, BarColour);
  for (TPanelButton* Button : {pnlSettingsBg, pnlResetRadioBg, pnlBackBg}) {
    Button->setFrameColor(ButtonBgColour);
    Button->setFaceColor(ButtonColour);
    Button->setCaptionColor(CaptionColour);
    Button->setHighlightColor(HighlightColour);
    Button->setHighlighted(false);
  }

  FSettings = std::make_unique<TVelaLogSettings>(this, FSettingsFileName);

  // The stored placement is applied as it is.
  move(x(), FSettings->intMainTop());
  move(FSettings->intMainLeft(), y());
  resize(FSettings->intMainWidth(), height());
  resize(width(), FSettings->intMainHeight());

  // A failure to create the station (a settings file that refuses the radio
  // type's write) is reported once the rest of the window stands.
  std::exception_ptr Failure;
  try {
    FStation = std::make_unique<TStation>(*FSettings, FSettings->FileName());
    Failure = FStation->TakeCreateError();
    FSettingsDialog = new TfrmVLogSettings(this, wbrLogBook, FSettings.get(), FStation.get());
  } catch (...) {
    Failure = std::current_exception();
  }
  FLogPage = std::make_unique<TLogPHPinterface>(wbrLogBook);
  FLogPage->setOnPageData(MakeMethod(this, &TfrmVelaLogMain::HandlePageData));
  if (FStation) {
    FStation->AddRxConsumer(
        [this](const TRadioValue& Value) { HandleRxData(FStation.get(), Value); });
    FStation->AddChangeConsumer([this] { lblLinkStatus->Refresh(); });
    FStation->AddFailureConsumer([this](TStationPart Part, const std::string& Reason) {
      HandleStationFailure(Part, Reason);
    });
    FContacts = std::make_unique<TContactsToPage>(*FLogPage, *FSettings, *FStation);
    FLogPage->setOnFreshForm(MakeMethod(FContacts.get(), &TContactsToPage::FreshForm));
    FContacts->setOnChange(MakeMethod(this, &TfrmVelaLogMain::HandleLinkChange));
  }
  if (FSettingsDialog)
    FSettingsDialog->setOnApply(MakeMethod(this, &TfrmVelaLogMain::ApplySettings));
  ApplyStation();
  lblLinkStatus->setSource([this] {
    std::string Text = FStation ? FStation->StatusText() : std::string();
    // A page that is not shown says why first.
    if (const std::string Page = PageRetry->StatusText(); !Page.empty())
      Text = Page + (Text.empty() ? "" : "   \u00b7   ") + Text;
    return Text;
  });
  // Shown from the message loop once the window is up, not inside the show.
  if (Failure) {
    const QString Message = ExceptionMessage(Failure);
    QTimer::singleShot(0, this, [Message] { ShowErrorMessage(Message); });
  }
}

void TfrmVelaLogMain::FormClose() {
  FClosed = true;
  Timer1->stop();
  // The placement writes may fail (a settings file that cannot be written);
  // the objects are freed all the same and the failure is reported after.
  std::exception_ptr Failure;
  if (FSettings) {
    try {
      TSettingsBatch Batch(*FSettings);
      FSettings->setIntMainTop(y());
      FSettings->setIntMainLeft(x());
      FSettings->setIntMainWidth(width());
      FSettings->setIntMainHeight(height());
    } catch (...) {
      Failure = std::current_exception();
    }
  }
  if (FSettingsDialog)
    FSettingsDialog->setOnApply(TApplyEvent());
  lblLinkStatus->setSource(nullptr);
  if (FLogPage) {
    FLogPage->setOnPageData(TPageDataEvent());
    FLogPage->setOnFreshForm(TFreshFormEvent());
  }
  FContacts.reset();
  delete FSettingsDialog;
  FSettingsDialog = nullptr;
  // Sharing and serving stop before the driver goes: a keyed transmitter is
  // released through it.
  FStation.reset();
  FLogPage.reset();
  FSettings.reset();
  if (Failure)
    ShowErrorMessage(ExceptionMessage(Failure));
}

void TfrmVelaLogMain::ApplyStation() {
  if (!FStation || !FSettings)
    return;
  FStation->Apply(TStationOptions::FromSettings(*FSettings));
  if (FContacts)
    FContacts->Apply();
  lblLinkStatus->Refresh();
}

void TfrmVelaLogMain::ApplySettings(TObject* /*Sender*/) {
  if (FContacts)
    FContacts->Apply();
  lblLinkStatus->Refresh();
}

void TfrmVelaLogMain::HandleStationFailure(TStationPart Part, const std::string& Reason) {
  const QString Message =
      (Part == spSharing ? QStringLiteral("Unable to share the radio on the network: ")
                         : QStringLiteral("Unable to serve the logbook's pages: ")) +
      QString::fromStdString(Reason);
  QTimer::singleShot(0, this, [Message] { ShowErrorMessage(Message); });
}

void TfrmVelaLogMain::Timer1Timer() {
  const TClockReading Now = FClockSource ? FClockSource() : SystemClock();
  // Keep the ticks close to the start of each second.
  Timer1->setInterval(1000 - Now.LocalMillisecond);
  if (!FLogPage)
    return;
  if (Now.Day != FLastDay) {
    FLastDay = static_cast<std::uint16_t>(Now.Day);
    FLogPage->SetLogField(pfDate, ClockDateText(Now));
  }
  const std::string TimeText = ClockTimeText(Now);
  // Hour and minute together: after a suspend of whole hours the minute
  // alone is the same, and the form would keep the old hour.
  const std::int32_t MinuteOfDay = Now.Hour * 60 + Now.Minute;
  if (MinuteOfDay != FLastMinute) {
    FLastMinute = MinuteOfDay;
    FLogPage->SetLogField(pfTime, TimeText);
  }
}

void TfrmVelaLogMain::wbrLogBookDocumentComplete() {
  if (FLogPage)
    FLogPage->ScanLogPage();
}

void TfrmVelaLogMain::HandleRxData(TObject* Sender, const TRadioValue& Value) {
  const TPageTexts Texts = PageTexts(Value);
  HandleRxData(Sender, Texts.Band, Texts.Frequency, Texts.Mode);
}

void TfrmVelaLogMain::HandleRxData(TObject* Sender, std::string Band, std::string Frequency,
                                   std::string Mode) {
  (void)Sender;
  if (!FLogPage)
    return;
  FLogPage->SetLogField(pfBand, Band);
  FLogPage->SetLogField(pfFrequency, Frequency);
  FLogPage->SetLogField(pfMode, Mode);
}

void TfrmVelaLogMain::HandlePageData(TObject* Sender, std::string Frequency, std::string Mode) {
  (void)Sender;
  // A page walk that found the date or time field has (re)loaded an entry
  // form, usually an empty one: the next tick writes date and time again
  // instead of waiting for the minute or the day to change.
  if (FLogPage) {
    const auto& Index = FLogPage->FieldIndex();
    if (Index[pfDate] >= 0 || Index[pfTime] >= 0) {
      FLastMinute = -1;
      FLastDay = 0;
    }
  }
  // The station tunes only with what the page brought, not with what the
  // program wrote into the form itself.
  if (FStation && FLogPage)
    FStation->TuneFromPage(Frequency, Mode, FLogPage->FrequencyWritten(), FLogPage->ModeWritten());
}

void TfrmVelaLogMain::HandleLinkChange(TObject* Sender) {
  (void)Sender;
  lblLinkStatus->Refresh();
}

void TfrmVelaLogMain::pnlSettingsClick() {
  if (!FSettingsDialog)
    return;
  FSettingsDialog->show();
  FSettingsDialog->raise();
  FSettingsDialog->activateWindow();
}

void TfrmVelaLogMain::pnlResetRadioClick() {
  if (FStation)
    FStation->ResetRadio();
}

void TfrmVelaLogMain::pnlBackClick() {
  wbrLogBook->GoBack();
}

void TfrmVelaLogMain::pnlButtonsMouseMove() {
  FButtonGroup->ClearHighlight();
}

bool TfrmVelaLogMain::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == pnlButtons && Event->type() == QEvent::MouseMove)
    pnlButtonsMouseMove();
  return QWidget::eventFilter(Watched, Event);
}

} // namespace vela

#include "station/untRadioProbe.h"

#include <QTimer>
#include <cstdio>

#include "cat/radios/untRadioFactory.h"
#include "cat/radios/untRadioTable.h"
#include "cat/untLinkState.h"
#include "settings/untSettingsBatch.h"

namespace vela {

std::string RadioAnswerText(const TRadioValue& Value) {
  std::string Text;
  if (Value.Hz) {
    char Buffer[48];
    const long long Hz = *Value.Hz;
    std::snprintf(Buffer, sizeof Buffer, "%lld.%06lld MHz", Hz / 1000000, Hz % 1000000);
    Text = Buffer;
  } else {
    Text = Value.FrequencyWord;
  }
  const std::string& Mode = Value.NativeMode.empty() ? Value.ModeWord : Value.NativeMode;
  if (!Mode.empty())
    Text += (Text.empty() ? "" : " ") + Mode;
  return Text;
}

TRadioProbe::TRadioProbe(const TVelaLogSettings& Stored, const TRadioProbeSettings& Settings,
                         const TCATInterface* Running, TDone Done)
    : FDone(std::move(Done)), FTimer(new QTimer(this)) {
  FTimer->setSingleShot(true);
  connect(FTimer, &QTimer::timeout, this, [this] { TimedOut(); });
  const std::string Com = "COM" + std::to_string(Settings.ComPort);
  // The station's own link holds its port: on the same settings it answers
  // for the radio; on others the port is not free to try them.
  if (Running && Settings.Radio != rtRigctld && Running->Radio() != rtRigctld &&
      Running->ComPort() == Settings.ComPort) {
    const TLinkStatus Status = Running->RadioLinkStatus();
    if (Running->Radio() != Settings.Radio || Stored.BaudRate() != Settings.BaudRate) {
      Finish(false, Com + " is held by VELA Log's own radio link: press Apply to use these "
                          "settings on it");
    } else if ((Status.State == TLinkState::lsLive || Status.State == TLinkState::lsWaiting) &&
               Running->FrequencyHz() > 0) {
      // Its last reading, while the line still answers.
      TRadioValue Value;
      Value.Hz = Running->FrequencyHz();
      Value.NativeMode = Running->NativeMode();
      Finish(true, RadioAnswerText(Value));
    } else {
      Finish(false, LinkStatusText(TLinkRole::lrRadio, Status));
    }
    return;
  }
  if (!FDir.isValid()) {
    Finish(false, "cannot make a private folder: " + FDir.errorString().toStdString());
    return;
  }
  try {
    FSettings = std::make_unique<TVelaLogSettings>(
        nullptr, FDir.filePath(QStringLiteral("VelaLog.ini")).toStdString());
    {
      TSettingsBatch Batch(*FSettings);
      FSettings->setRadio(Settings.Radio);
      FSettings->setIntCommPort(Settings.ComPort);
      FSettings->setIntCommPort2(0);
      FSettings->setBlnComm2Enable(false);
      FSettings->setBaudRate(Settings.BaudRate);
      FSettings->setIntCIVAddress(Stored.intCIVAddress());
      FSettings->setDTR(Stored.DTR());
      FSettings->setRTS(Stored.RTS());
      // Polled, so that an Icom answers at once even with its reports off.
      FSettings->setTransceive(tcOff);
      FSettings->setStrRigctldAddress(Stored.strRigctldAddress());
    }
    FDriver = CreateRadioDriver(Settings.Radio, nullptr, FSettings.get());
  } catch (const std::exception& E) {
    Finish(false, E.what());
    return;
  }
  if (!FDriver) {
    Finish(false, "no such radio type");
    return;
  }
  FDriver->setOnRxData(MakeMethod(this, &TRadioProbe::RxData));
  FDriver->setOnLinkChange(MakeMethod(this, &TRadioProbe::LinkChange));
  FTimer->start(AnswerMs);
}

TRadioProbe::~TRadioProbe() {
  if (FDriver) {
    FDriver->setOnRxData(TRxDataEvent());
    FDriver->setOnLinkChange(TLinkChangeEvent());
  }
}

void TRadioProbe::RxData(TObject*, const TRadioValue& Value) {
  if (Value.Hz)
    Finish(true, RadioAnswerText(Value));
}

void TRadioProbe::LinkChange(TObject*) {
  const TLinkStatus Status = FDriver->RadioLinkStatus();
  // A port that is not there or does not open will not answer in time.
  if (Status.State == TLinkState::lsMissing || Status.State == TLinkState::lsRefused ||
      Status.State == TLinkState::lsLost)
    Finish(false, LinkStatusText(TLinkRole::lrRadio, Status));
}

void TRadioProbe::TimedOut() {
  if (!FDriver)
    return;
  TLinkStatus Status = FDriver->RadioLinkStatus();
  if (Status.State == TLinkState::lsLive) {
    // Bytes came, none of them a reply of this radio.
    const TRadioModel* Model = FindRadioModel(FDriver->Radio());
    Finish(false,
           Status.Where + " · something answers, but not as " +
               (Model ? std::string("the ") + Model->DisplayName : std::string("this radio")) +
               " would — check the radio type and the baud rate");
    return;
  }
  if (Status.State == TLinkState::lsWaiting || Status.State == TLinkState::lsSilent) {
    Status.State = TLinkState::lsSilent;
    Status.SilentSeconds = AnswerMs / 1000;
  }
  Finish(false, LinkStatusText(TLinkRole::lrRadio, Status));
}

void TRadioProbe::Finish(bool Answered, std::string Text) {
  if (FFinished)
    return;
  // The strip's words, less its promise: the test asks once.
  for (const std::string Tail : {" \u2014 retrying", ". Retrying", "? Retrying"})
    if (Text.size() > Tail.size() &&
        Text.compare(Text.size() - Tail.size(), Tail.size(), Tail) == 0)
      Text.erase(Text.size() - Tail.size(), Tail.size() - (Tail[0] == '?' ? 1 : 0));
  FFinished = true;
  FTimer->stop();
  if (FDriver) {
    FDriver->setOnRxData(TRxDataEvent());
    FDriver->setOnLinkChange(TLinkChangeEvent());
  }
  // Never from inside the driver's own event: the driver goes first (its
  // worker stops and the port is free again), then the answer.
  QTimer::singleShot(0, this, [this, Answered, Text] {
    FDriver.reset();
    TDone Done = std::move(FDone);
    if (Done)
      Done(Answered, Text);
  });
}

} // namespace vela

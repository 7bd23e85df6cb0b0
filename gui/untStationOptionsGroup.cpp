#include "gui/untStationOptionsGroup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include "cat/radios/untRadioTable.h"

namespace vela {

const QString TStationOptionsGroup::LineNote =
    QStringLiteral("A DTR or RTS that keys the transmitter: off. Linux may pulse it at open.");

const QString TStationOptionsGroup::LineNoteDetail = QStringLiteral(
    "Linux raises DTR and RTS when it opens a serial port; an 'off' line is lowered a few\n"
    "system calls later, so the transmitter may key for that moment. With both lines off\n"
    "the port is left at speed 0 on closing, so reopening it raises nothing in the open\n"
    "itself; most adapters' drivers raise both when the speed is set, and they are lowered\n"
    "in the very next call (a CP210x adapter's driver raises nothing then).");

namespace {

QString AddressText(std::int32_t Address) {
  return Address ? QString::fromStdString(CIVAddressText(Address)) : QString();
}

} // namespace

TStationOptionsGroup::TStationOptionsGroup(const TStationOptionControls& AControls) : C(AControls) {
  C.cbxDigiMode->addItems({QStringLiteral("RTTY"), QStringLiteral("data")});
  for (QComboBox* Box : {C.cbxDTR, C.cbxRTS})
    for (TLinePolicy Policy : {lpOn, lpOff, lpKeep})
      Box->addItem(QString::fromLatin1(LinePolicyText(Policy)));
  C.edtCIVAddress->setMaxLength(2);
  C.edtCIVAddress->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[0-9A-Fa-f]{0,2}")), C.edtCIVAddress));
  C.lblLineNote->setText(LineNote);
  C.lblLineNote->setToolTip(LineNoteDetail);
  C.chkTransceive->setText(QStringLiteral("transceive"));
  C.chkTransceive->setToolTip(
      QStringLiteral("Follow the radio's own change reports (its CI-V Transceive) and read it\n"
                     "only about once a second while they come; off: always poll."));
}

std::int32_t TStationOptionsGroup::AddressInUse(const TVelaLogSettings& Settings) const {
  const TRadioModel* Model = FindRadioModel(FRadio);
  return Model && Model->DefaultCIVAddress ? CIVAddressFor(*Model, Settings.intCIVAddress()) : 0;
}

void TStationOptionsGroup::Load(const TVelaLogSettings& Settings, TRadioType Radio) {
  FRadio = Radio;
  C.cbxDigiMode->setCurrentIndex(Settings.DigiMode() == dmData ? 1 : 0);
  C.edtCIVAddress->setText(AddressText(AddressInUse(Settings)));
  C.chkTransceive->setChecked(Settings.Transceive() == tcAuto);
  C.cbxDTR->setCurrentIndex(Settings.DTR() <= lpKeep ? Settings.DTR() : lpOn);
  C.cbxRTS->setCurrentIndex(Settings.RTS() <= lpKeep ? Settings.RTS() : lpOn);
  ShowRadio(Radio);
}

void TStationOptionsGroup::ShowRadio(TRadioType Radio) {
  const TRadioModel* Old = FindRadioModel(FRadio);
  const TRadioModel* Model = FindRadioModel(Radio);
  FRadio = Radio;
  const bool Choice =
      Model && std::string_view(Model->DigiRTTYMode) != std::string_view(Model->DigiDataMode);
  C.lblDigiMode->setVisible(Choice);
  C.cbxDigiMode->setVisible(Choice);
  C.lblDigiNote->setVisible(!Choice);
  C.lblDigiNote->setText(Model && Model->HasDataMode
                             ? QStringLiteral("Digi sets the radio's data mode.")
                             : QStringLiteral("Digi stays RTTY: the radio has no data mode."));
  const bool Icom = Model && Model->DefaultCIVAddress;
  C.lblCIVAddress->setVisible(Icom);
  C.edtCIVAddress->setVisible(Icom);
  C.chkTransceive->setVisible(Icom);
  if (Icom && Old && Old != Model &&
      C.edtCIVAddress->text().compare(AddressText(Old->DefaultCIVAddress), Qt::CaseInsensitive) ==
          0)
    C.edtCIVAddress->setText(AddressText(Model->DefaultCIVAddress));
}

void TStationOptionsGroup::Apply(TVelaLogSettings& Settings, bool& Restart) {
  Restart = false;
  C.lblLineNote->setText(LineNote);
  const TDigiMode Digi = C.cbxDigiMode->currentIndex() == 1 ? dmData : dmRTTY;
  if (Digi != Settings.DigiMode())
    Settings.setDigiMode(Digi);
  if (const std::int32_t InUse = AddressInUse(Settings)) {
    const std::string Text = C.edtCIVAddress->text().toStdString();
    const std::int32_t Wanted =
        Text.empty() ? FindRadioModel(FRadio)->DefaultCIVAddress : ParseCIVAddress(Text);
    if (!ValidCIVAddress(Wanted)) {
      C.edtCIVAddress->setText(AddressText(InUse));
      C.lblLineNote->setText(QStringLiteral("CI-V address refused: 01 to DF, not CC."));
    } else if (Wanted != InUse) {
      Settings.setIntCIVAddress(Wanted);
      Restart = true;
    }
  }
  const TTransceive Transceive = C.chkTransceive->isChecked() ? tcAuto : tcOff;
  if (Transceive != Settings.Transceive())
    Settings.setTransceive(Transceive);
  const auto DTR = static_cast<TLinePolicy>(C.cbxDTR->currentIndex());
  const auto RTS = static_cast<TLinePolicy>(C.cbxRTS->currentIndex());
  if (DTR != Settings.DTR()) {
    Settings.setDTR(DTR);
    Restart = true;
  }
  if (RTS != Settings.RTS()) {
    Settings.setRTS(RTS);
    Restart = true;
  }
}

} // namespace vela

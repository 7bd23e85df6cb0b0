#include "gui/untNetworkSharingGroup.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include "gui/untGroupWidgets.h"
#include "platform/untStrToInt.h"
#include "settings/untVelaLogSettings.h"
#include "sharing/untRadioSharing.h"

namespace vela {

namespace {

// The number in Box when it lies in [Low, High]; else the box shows Stored
// again and Stored is kept.
std::int32_t Number(QLineEdit* Box, std::int32_t Stored, std::int32_t Low, std::int32_t High) {
  std::int32_t Value = 0;
  if (TryStrToInt(Box->text().trimmed().toStdString(), Value) && Value >= Low && Value <= High)
    return Value;
  Box->setText(QString::number(Stored));
  return Stored;
}

} // namespace

TNetworkSharingGroup::TNetworkSharingGroup(QWidget* Parent) : QWidget(Parent) {
  setGeometry(Parent->rect());
  setObjectName(QStringLiteral("NetworkSharing"));
  QFont Small = font();
  Small.setPixelSize(13);
  setFont(Small);
  FchkShare = new QCheckBox(
      QStringLiteral("Share the radio over the network (Hamlib rigctld protocol)"), this);
  FchkShare->setGeometry(8, 4, 486, 20);
  GroupCaption(this, 8, 32, QStringLiteral("Address:"));
  FedtAddress = GroupEditBox(this, QRect(70, 28, 130, 24));
  GroupCaption(this, 212, 32, QStringLiteral("Port:"));
  FedtPort = GroupEditBox(this, QRect(248, 28, 60, 24));
  GroupCaption(this, 320, 32, QStringLiteral("TX limit (s):"));
  FedtTxLimit = GroupEditBox(this, QRect(404, 28, 50, 24));
  FchkAllowPTT = new QCheckBox(QStringLiteral("Let network programs key the transmitter"), this);
  FchkAllowPTT->setGeometry(8, 56, 486, 20);
  FlblWarning = new QLabel(this);
  FlblWarning->setGeometry(8, 78, 486, 18);
  FlblWarning->setStyleSheet(QStringLiteral("color: #ff8080;"));
  connect(FedtAddress, &QLineEdit::textChanged, this, [this] { UpdateWarning(); });
  UpdateWarning();
}

void TNetworkSharingGroup::Load(const TVelaLogSettings& Settings) {
  FchkShare->setChecked(Settings.blnShareEnabled());
  FedtAddress->setText(QString::fromStdString(Settings.strShareAddress()));
  FedtPort->setText(QString::number(Settings.intSharePort()));
  FchkAllowPTT->setChecked(Settings.blnShareAllowPTT());
  FedtTxLimit->setText(QString::number(Settings.intShareTxLimit()));
}

void TNetworkSharingGroup::Store(TVelaLogSettings& Settings) {
  const std::string Address = FedtAddress->text().trimmed().toStdString();
  if (Address.empty())
    FedtAddress->setText(QString::fromStdString(Settings.strShareAddress()));
  else if (Address != Settings.strShareAddress())
    Settings.setStrShareAddress(Address);
  const std::int32_t Port = Number(FedtPort, Settings.intSharePort(), 1, 65535);
  if (Port != Settings.intSharePort())
    Settings.setIntSharePort(Port);
  const std::int32_t Limit = Number(FedtTxLimit, Settings.intShareTxLimit(), 1, 24 * 60 * 60);
  if (Limit != Settings.intShareTxLimit())
    Settings.setIntShareTxLimit(Limit);
  if (FchkAllowPTT->isChecked() != Settings.blnShareAllowPTT())
    Settings.setBlnShareAllowPTT(FchkAllowPTT->isChecked());
  if (FchkShare->isChecked() != Settings.blnShareEnabled())
    Settings.setBlnShareEnabled(FchkShare->isChecked());
}

void TNetworkSharingGroup::ShowRefusal(const std::string& Reason) {
  FRefusal = QString::fromStdString(Reason);
  if (!FRefusal.isEmpty())
    FchkShare->setChecked(false);
  UpdateWarning();
}

void TNetworkSharingGroup::UpdateWarning() {
  const std::string Address = FedtAddress->text().trimmed().toStdString();
  FlblWarning->setText(
      !FRefusal.isEmpty()
          ? FRefusal
          : QStringLiteral(
                "Not only this computer: anyone who can reach this address can tune the radio."));
  FlblWarning->setToolTip(FRefusal);
  FlblWarning->setVisible(!FRefusal.isEmpty() || (!Address.empty() && !IsLoopbackAddress(Address)));
}

} // namespace vela

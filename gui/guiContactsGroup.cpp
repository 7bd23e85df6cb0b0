#include "gui/guiContactsGroup.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include "contacts/untContactListener.h"
#include "gui/untGroupWidgets.h"
#include "settings/untVelaLogSettings.h"

namespace vela {

namespace {

const char* const MappingNote =
    "Further fields (reports, grid, ...): [ContactFields] in the settings file";

} // namespace

TContactsGroup::TContactsGroup(QWidget* Parent) : QWidget(Parent) {
  setGeometry(Parent->rect());
  setObjectName(QStringLiteral("Contacts"));
  QFont Small = font();
  Small.setPixelSize(13);
  setFont(Small);
  FchkEnabled =
      new QCheckBox(QStringLiteral("Contacts from WSJT-X, JTDX, JS8Call into the form"), this);
  FchkEnabled->setGeometry(8, 4, 486, 20);
  GroupCaption(this, 8, 32, QStringLiteral("Listen on (UDP):"));
  FedtListen = GroupEditBox(this, QRect(120, 28, 150, 24));
  FedtListen->setToolTip(QStringLiteral(
      "[host:]port as set in the other program, e.g. 127.0.0.1:2237; a multicast group such "
      "as 224.0.0.1:2237 lets several programs listen"));
  FchkSubmit = new QCheckBox(QStringLiteral("Submit the form"), this);
  FchkSubmit->setGeometry(290, 30, 200, 20);
  FlblNote = new QLabel(QString::fromLatin1(MappingNote), this);
  FlblNote->setGeometry(8, 58, 486, 18);
}

void TContactsGroup::Load(const TVelaLogSettings& Settings) {
  FchkEnabled->setChecked(Settings.blnContactsEnabled());
  FedtListen->setText(QString::fromStdString(Settings.strContactsListen()));
  FchkSubmit->setChecked(Settings.blnContactsSubmit());
  FlblNote->setText(QString::fromLatin1(MappingNote));
}

void TContactsGroup::Store(TVelaLogSettings& Settings) {
  const std::string Listen = FedtListen->text().trimmed().toStdString();
  TListenAddress Address;
  std::string Error;
  if (!ParseListenAddress(Listen, Address, Error)) {
    FedtListen->setText(QString::fromStdString(Settings.strContactsListen()));
    FlblNote->setText(QStringLiteral("Not changed: ") + QString::fromStdString(Error));
  } else {
    FlblNote->setText(QString::fromLatin1(MappingNote));
    if (Listen != Settings.strContactsListen())
      Settings.setStrContactsListen(Listen);
  }
  if (FchkSubmit->isChecked() != Settings.blnContactsSubmit())
    Settings.setBlnContactsSubmit(FchkSubmit->isChecked());
  if (FchkEnabled->isChecked() != Settings.blnContactsEnabled())
    Settings.setBlnContactsEnabled(FchkEnabled->isChecked());
}

} // namespace vela

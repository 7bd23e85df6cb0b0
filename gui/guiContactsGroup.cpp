#include "gui/guiContactsGroup.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "cat/transport/untListenAddress.h"
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
  GroupCaption(this, 8, 62, QStringLiteral("Log file:"));
  FedtLogFile = GroupEditBox(this, QRect(120, 58, 280, 24));
  FedtLogFile->setToolTip(QStringLiteral(
      "An ADIF log file the other program appends each contact to (e.g. wsjtx_log.adi); "
      "every record appended is a contact, the records already there are not"));
  FbtnBrowse = new QPushButton(QStringLiteral("Browse..."), this);
  FbtnBrowse->setGeometry(406, 58, 88, 24);
  connect(FbtnBrowse, &QPushButton::clicked, this, [this] {
    const QString Chosen = QFileDialog::getOpenFileName(
        this, QStringLiteral("ADIF log file to follow"), FedtLogFile->text(),
        QStringLiteral("ADIF files (*.adi *.adif *.ADI);;All files (*)"));
    if (!Chosen.isEmpty())
      FedtLogFile->setText(Chosen);
  });
  FlblNote = new QLabel(QString::fromLatin1(MappingNote), this);
  FlblNote->setGeometry(8, 86, 486, 18);
}

void TContactsGroup::Load(const TVelaLogSettings& Settings) {
  FchkEnabled->setChecked(Settings.blnContactsEnabled());
  FedtListen->setText(QString::fromStdString(Settings.strContactsListen()));
  FchkSubmit->setChecked(Settings.blnContactsSubmit());
  const std::vector<std::string> Files = Settings.ContactsLogFiles();
  FedtLogFile->setText(Files.empty() ? QString() : QString::fromStdString(Files.front()));
  FlblNote->setText(QString::fromLatin1(MappingNote));
}

void TContactsGroup::Store(TVelaLogSettings& Settings) {
  const std::string Listen = FedtListen->text().trimmed().toStdString();
  TListenAddress Address;
  std::string Error;
  if (!ParseListenAddress(Listen, TContactListener::DefaultPort, Address, Error)) {
    FedtListen->setText(QString::fromStdString(Settings.strContactsListen()));
    FlblNote->setText(QStringLiteral("Not changed: ") + QString::fromStdString(Error));
  } else {
    FlblNote->setText(QString::fromLatin1(MappingNote));
    if (Listen != Settings.strContactsListen())
      Settings.setStrContactsListen(Listen);
  }
  if (FchkSubmit->isChecked() != Settings.blnContactsSubmit())
    Settings.setBlnContactsSubmit(FchkSubmit->isChecked());
  // The box shows the first file; those after it are kept as they are.
  std::vector<std::string> Files = Settings.ContactsLogFiles();
  const std::string File = FedtLogFile->text().trimmed().toStdString();
  if (File != (Files.empty() ? std::string() : Files.front())) {
    if (!Files.empty())
      Files.erase(Files.begin());
    if (!File.empty())
      Files.insert(Files.begin(), File);
    Settings.setContactsLogFiles(Files);
  }
  if (FchkEnabled->isChecked() != Settings.blnContactsEnabled())
    Settings.setBlnContactsEnabled(FchkEnabled->isChecked());
}

} // namespace vela

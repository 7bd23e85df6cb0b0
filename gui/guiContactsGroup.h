// The settings dialog's group "Contacts from WSJT-X, JTDX, JS8Call": the
// switch, where to listen ([host:]port; a multicast group lets several
// programs listen) and whether the form is submitted after a contact filled
// it, and one ADIF log file to follow (with a Browse button; further files
// are LogFile1... in the settings file). The form fields a contact's further fields go to are
// mapped in the settings file's [ContactFields].
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vela {

class TVelaLogSettings;

class TContactsGroup : public QWidget {
  Q_OBJECT
public:
  // Fills Parent (the group's background panel).
  explicit TContactsGroup(QWidget* Parent);

  // Shows the stored options.
  void Load(const TVelaLogSettings& Settings);
  // Writes the options that changed; an address that cannot be listened on
  // is not written, the box shows the stored one again and the note says why.
  void Store(TVelaLogSettings& Settings);

  QCheckBox* chkEnabled() const { return FchkEnabled; }
  QLineEdit* edtListen() const { return FedtListen; }
  QCheckBox* chkSubmit() const { return FchkSubmit; }
  QLineEdit* edtLogFile() const { return FedtLogFile; }
  QPushButton* btnBrowse() const { return FbtnBrowse; }
  QLabel* lblNote() const { return FlblNote; }

private:
  QCheckBox* FchkEnabled;
  QLineEdit* FedtListen;
  QCheckBox* FchkSubmit;
  QLineEdit* FedtLogFile;
  QPushButton* FbtnBrowse;
  QLabel* FlblNote;
};

} // namespace vela

// The settings dialog's group for sharing the radio over the network: the
// switch, the listening address and port, the permission to key the
// transmitter and its time limit, and a warning when the address can be
// reached from other computers.
#pragma once

#include <QWidget>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace vela {

class TVelaLogSettings;

class TNetworkSharingGroup : public QWidget {
  Q_OBJECT
public:
  // Fills Parent (the group's background panel).
  explicit TNetworkSharingGroup(QWidget* Parent);

  // Shows the stored options.
  void Load(const TVelaLogSettings& Settings);
  // Writes the options that changed; a port, address or limit that is not
  // valid is not written and the box shows the stored value again.
  void Store(TVelaLogSettings& Settings);
  // Shows why sharing was refused, in place of the warning, and clears the
  // switch; an empty Reason takes a shown refusal back.
  void ShowRefusal(const std::string& Reason);

  QCheckBox* chkShare() const { return FchkShare; }
  QCheckBox* chkAllowPTT() const { return FchkAllowPTT; }
  QLineEdit* edtAddress() const { return FedtAddress; }
  QLineEdit* edtPort() const { return FedtPort; }
  QLineEdit* edtTxLimit() const { return FedtTxLimit; }
  QLabel* lblWarning() const { return FlblWarning; }

private:
  void UpdateWarning();

  QCheckBox* FchkShare;
  QCheckBox* FchkAllowPTT;
  QLineEdit* FedtAddress;
  QLineEdit* FedtPort;
  QLineEdit* FedtTxLimit;
  QLabel* FlblWarning;
  QString FRefusal;
};

} // namespace vela

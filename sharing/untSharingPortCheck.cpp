#include "sharing/untSharingPortCheck.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>

#include "cat/radios/untRigctldCATinterface.h"
#include "cat/transport/untTcpPort.h"

namespace vela {

namespace {

// No name is looked up: a lookup could hold up the window, and the names a
// station uses for its own computer are these.
bool IsThisComputer(const std::string& Host) {
  const QString Name = QString::fromStdString(Host).toLower();
  if (Name == QLatin1String("localhost") || Name.endsWith(QLatin1String(".localhost")) ||
      Name == QLatin1String("localhost.localdomain"))
    return true;
  // This computer's name, with or without its domain on either side.
  const QString Own = QHostInfo::localHostName().toLower();
  const QString NameShort = Name.section(QLatin1Char('.'), 0, 0);
  const QString OwnShort = Own.section(QLatin1Char('.'), 0, 0);
  if (!Own.isEmpty() &&
      (Name == Own || ((Name == NameShort || Own == OwnShort) && NameShort == OwnShort)))
    return true;
  const QHostAddress Address(Name);
  if (Address.isNull())
    return false;
  // Connecting to the unspecified address reaches this computer too.
  if (Address.isLoopback() || Address == QHostAddress(QHostAddress::AnyIPv4) ||
      Address == QHostAddress(QHostAddress::AnyIPv6))
    return true;
  for (const QHostAddress& Local : QNetworkInterface::allAddresses())
    if (Local.isEqual(Address, QHostAddress::TolerantConversion))
      return true;
  return false;
}

} // namespace

std::string SharingPortConflict(std::int32_t SharingPort, TRadioType Radio,
                                const std::string& RigctldAddress) {
  if (Radio != rtRigctld || SharingPort <= 0)
    return "";
  THostPort Daemon;
  std::string Error;
  if (!ParseHostPort(RigctldAddress, TRigctldCATInterface::DefaultPort, Daemon, Error) ||
      Daemon.Port != SharingPort || !IsThisComputer(Daemon.Host))
    return "";
  const std::int32_t Other = SharingPort < 65535 ? SharingPort + 1 : SharingPort - 1;
  return "sharing port " + std::to_string(SharingPort) +
         " is the rigctld radio's own port; choose another, such as " + std::to_string(Other);
}

} // namespace vela

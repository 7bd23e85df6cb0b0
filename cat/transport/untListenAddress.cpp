#include "cat/transport/untListenAddress.h"

#include <QHostAddress>
#include <QTcpServer>

#include "cat/transport/untHostPort.h"
#include "platform/untStrToInt.h"
#include "platform/untText.h"

namespace vela {

namespace {

std::string Quoted(std::string_view Text) {
  return "\"" + std::string(Text) + "\"";
}

} // namespace

bool ReadListenHost(std::string_view Host, QHostAddress& Address, std::string& Error) {
  const std::string Text(Host == "localhost" ? std::string_view("127.0.0.1") : Host);
  if (!Address.setAddress(QString::fromStdString(Text))) {
    Error = Quoted(Host) + " is not an IP address";
    return false;
  }
  return true;
}

bool ParseListenAddress(std::string_view Input, std::optional<std::uint16_t> DefaultPort,
                        TListenAddress& Address, std::string& Error) {
  const std::string_view Text = Trim(Input);
  if (Text.empty()) {
    Error = "no address to listen on";
    return false;
  }
  THostPortParts Parts;
  if (SplitHostPort(Text, Parts) != THostPortSplit::hsOk) {
    Error = Quoted(Text) + " is not [address]:port";
    return false;
  }
  // A number alone is a port.
  if (!Parts.HasPort && !Parts.Bracketed && AllDecimalDigits(Parts.Host)) {
    std::swap(Parts.Host, Parts.Port);
    Parts.HasPort = true;
  }
  TListenAddress Result;
  if (Parts.Port.empty() && DefaultPort) {
    Result.Port = *DefaultPort;
  } else if (!Parts.HasPort) {
    Error = Quoted(Text) + " has no port: write [address:]port";
    return false;
  } else if (!ParsePortNumber(Parts.Port, Result.Port)) {
    Error = Quoted(Parts.Port) + " is not a port from 0 to 65535";
    return false;
  }
  if (!Parts.Host.empty()) {
    QHostAddress Host;
    if (!ReadListenHost(Parts.Host, Host, Error))
      return false;
    Result.Host = Host.toString().toStdString();
  }
  Address = Result;
  return true;
}

bool ListenTcp(QTcpServer& Server, std::string_view Host, std::uint16_t Port, std::string& Error,
               bool* MayPass) {
  if (MayPass)
    *MayPass = false;
  QHostAddress Address;
  if (!ReadListenHost(Host, Address, Error))
    return false;
  // Qt binds a TCP server with address reuse on this system.
  if (!Server.listen(Address, Port)) {
    Error = Server.errorString().toStdString();
    const QAbstractSocket::SocketError Why = Server.serverError();
    if (MayPass)
      *MayPass = Why == QAbstractSocket::AddressInUseError ||
                 Why == QAbstractSocket::SocketAddressNotAvailableError;
    return false;
  }
  return true;
}

TListenRetry::TListenRetry(TAttempt AAttempt) : FAttempt(std::move(AAttempt)) {
  FTimer.setInterval(RetryMs);
  QObject::connect(&FTimer, &QTimer::timeout, [this] {
    if (Try() && FOnListening)
      FOnListening();
  });
}

TListenRetry::TAttempt TListenRetry::Tcp(QTcpServer& Server, const std::string& Host,
                                         const std::uint16_t& Port) {
  return [&Server, &Host, &Port](std::string& Error, bool& MayPass) {
    if (ListenTcp(Server, Host, Port, Error, &MayPass))
      return true;
    Error = FormatHostPort({Host, Port}) + ": " + Error;
    return false;
  };
}

bool TListenRetry::Start() {
  FTimer.stop();
  const bool Listening = Try();
  return Listening || Waiting();
}

void TListenRetry::Stop() {
  FTimer.stop();
  FErrorText.clear();
}

bool TListenRetry::Try() {
  std::string Error;
  bool MayPass = false;
  if (FAttempt(Error, MayPass)) {
    FTimer.stop();
    FErrorText.clear();
    return true;
  }
  FErrorText = Error;
  if (MayPass) {
    FErrorText += "; trying again every " + std::to_string(RetryMs / 1000) + " s";
    if (!FTimer.isActive())
      FTimer.start();
  } else {
    FTimer.stop();
  }
  return false;
}

} // namespace vela

#include "contacts/untContactLineClient.h"

#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstring>

#include "cat/transport/untHostPort.h"

namespace vela {

TContactLineClient::TContactLineClient(TLineSink ALine, TChangeSink AChange)
    : FLine(std::move(ALine)), FChange(std::move(AChange)) {}

TContactLineClient::~TContactLineClient() {
  FChange = {};
  Stop();
}

bool TContactLineClient::Connected() const {
  return FSocket && FSocket->state() == QAbstractSocket::ConnectedState;
}

void TContactLineClient::Stop() {
  FRetry.reset();
  if (FSocket) {
    FSocket->disconnect();
    FSocket->abort();
    FSocket.reset();
  }
  FAddress.clear();
  FBuffer.clear();
  FSkipping = false;
  SetProblem({});
}

bool TContactLineClient::Start(const std::string& HostPort) {
  Stop();
  THostPort Where;
  std::string Error;
  if (!ParseHostPort(HostPort, 2442, Where, Error)) {
    SetProblem(Error);
    return false;
  }
  FHost = Where.Host;
  FPort = Where.Port;
  FAddress = FormatHostPort(Where);
  FBackoff.Reset();
  FRetry = std::make_unique<QTimer>();
  FRetry->setSingleShot(true);
  QObject::connect(FRetry.get(), &QTimer::timeout, [this] { Connect(); });
  Connect();
  return true;
}

void TContactLineClient::Connect() {
  FSocket = std::make_unique<QTcpSocket>();
  FSocket->setProxy(QNetworkProxy::NoProxy);
  QTcpSocket* Socket = FSocket.get();
  QObject::connect(Socket, &QTcpSocket::connected, [this] {
    FBackoff.Reset();
    FBuffer.clear();
    FSkipping = false;
    SetProblem({});
  });
  QObject::connect(Socket, &QTcpSocket::readyRead, [this] { ReadLines(); });
  QObject::connect(
      Socket, &QTcpSocket::errorOccurred,
      [this, Socket](QAbstractSocket::SocketError) { Lost(Socket->errorString().toStdString()); });
  FSocket->connectToHost(QString::fromStdString(FHost), FPort);
}

void TContactLineClient::Lost(const std::string& Why) {
  const std::int64_t Pause = FBackoff.Fail();
  SetProblem("API " + FAddress + ": " + Why + "; trying again in " + std::to_string(Pause / 1000) +
             " s");
  // The socket goes on the event loop, not inside its own signal.
  if (FSocket) {
    FSocket->disconnect();
    FSocket.release()->deleteLater();
  }
  if (FRetry)
    FRetry->start(static_cast<int>(Pause));
}

void TContactLineClient::ReadLines() {
  while (FSocket && FSocket->bytesAvailable() > 0) {
    const QByteArray Chunk = FSocket->read(16 * 1024);
    std::size_t At = 0;
    while (At < static_cast<std::size_t>(Chunk.size())) {
      const char* Begin = Chunk.constData() + At;
      const std::size_t Left = static_cast<std::size_t>(Chunk.size()) - At;
      const auto* End = static_cast<const char*>(std::memchr(Begin, '\n', Left));
      const std::size_t Length = End ? static_cast<std::size_t>(End - Begin) : Left;
      if (!FSkipping) {
        if (FBuffer.size() + Length > MaxLine) {
          FBuffer.clear();
          FSkipping = true;
        } else {
          FBuffer.append(Begin, Length);
        }
      }
      At += Length + (End ? 1 : 0);
      if (End) {
        if (!FSkipping && !FBuffer.empty()) {
          const std::string Line = std::move(FBuffer);
          FBuffer.clear();
          FLine(Line);
          if (!FSocket)
            return;
        }
        FBuffer.clear();
        FSkipping = false;
      }
    }
  }
}

void TContactLineClient::SetProblem(std::string Text) {
  if (Text == FProblem)
    return;
  FProblem = std::move(Text);
  if (FChange)
    FChange();
}

} // namespace vela

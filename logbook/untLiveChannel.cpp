#include "logbook/untLiveChannel.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QTcpSocket>
#include <QWebSocket>

#include <algorithm>
#include <chrono>

#include "untProgramInfo.h"

namespace vela {

namespace {

const char* HttpStatusText(int Status) {
  switch (Status) {
  case 400:
    return "Bad Request";
  case 403:
    return "Forbidden";
  case 431:
    return "Request Header Fields Too Large";
  case 503:
    return "Service Unavailable";
  default:
    return "Error";
  }
}

// A refusal before the upgrade: a plain HTTP answer, then the close.
void Answer(QTcpSocket* Socket, int Status, const std::string& Why) {
  const std::string Body = Why + "\n";
  const std::string Text = "HTTP/1.1 " + std::to_string(Status) + " " + HttpStatusText(Status) +
                           "\r\nConnection: close\r\nCache-Control: no-store\r\n"
                           "Content-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                           std::to_string(Body.size()) + "\r\n\r\n" + Body;
  Socket->write(Text.data(), static_cast<qint64>(Text.size()));
  Socket->disconnectFromHost();
}

QString StatusMessage(const TLogbookRadioState& State, const std::string& Radio) {
  QJsonObject Message{
      {QStringLiteral("type"), QStringLiteral("radio_status")},
      {QStringLiteral("radio"), QString::fromStdString(Radio)},
      {QStringLiteral("frequency"), static_cast<qint64>(State.Hz)},
      {QStringLiteral("frequency_rx"), QJsonValue::Null},
      {QStringLiteral("mode"), QString::fromStdString(State.Mode)},
      {QStringLiteral("power"), QJsonValue::Null},
      // Milliseconds: the pages reckon the age of the data from it.
      {QStringLiteral("timestamp"), QDateTime::currentMSecsSinceEpoch()},
  };
  return QString::fromUtf8(QJsonDocument(Message).toJson(QJsonDocument::Compact));
}

QString WelcomeMessage() {
  const QJsonObject Message{{QStringLiteral("type"), QStringLiteral("welcome")},
                            {QStringLiteral("server"), QStringLiteral("VELA Log")},
                            {QStringLiteral("version"), QString::fromUtf8(VelaLogVersion)}};
  return QString::fromUtf8(QJsonDocument(Message).toJson(QJsonDocument::Compact));
}

} // namespace

// A connection whose request head is still being read.
struct TLiveChannel::THead {
  QTcpSocket* Socket = nullptr;
  QTimer Deadline;
};

struct TLiveChannel::TClient {
  QWebSocket* Socket = nullptr; // deleted later, when dropped
  // A state is due that was held back while the previous one waited.
  bool Owed = false;
  std::chrono::steady_clock::time_point WaitingSince{};
};

TLiveChannel::TLiveChannel(TSource ASource)
    : FSource(std::move(ASource)),
      FUpgrade(QStringLiteral("VELA Log"), QWebSocketServer::NonSecureMode) {
  FListen.setOnListening([this] {
    if (FOnChange)
      FOnChange();
  });
  FUpgrade.setMaxPendingConnections(MaxClients);
  FUpgrade.setHandshakeTimeout(HeadMs);
  QObject::connect(&FServer, &QTcpServer::newConnection, [this] { Accept(); });
  QObject::connect(&FUpgrade, &QWebSocketServer::newConnection, [this] { Upgraded(); });
  FWatch.setInterval(WatchMs);
  QObject::connect(&FWatch, &QTimer::timeout, [this] {
    Broadcast(false);
    CheckStalls();
  });
  FHeartbeat.setInterval(HeartbeatMs);
  QObject::connect(&FHeartbeat, &QTimer::timeout, [this] { Broadcast(true); });
}

TLiveChannel::~TLiveChannel() {
  FOnChange = nullptr;
  Close();
}

bool TLiveChannel::Listen(const std::string& Host, std::uint16_t Port) {
  Close();
  return FListen.Start(Host, Port);
}

void TLiveChannel::Close() {
  FListen.Stop();
  FWatch.stop();
  FHeartbeat.stop();
  for (auto& Head : FHeads) {
    QObject::disconnect(Head->Socket, nullptr, &FServer, nullptr);
    Head->Socket->abort();
    Head->Socket->deleteLater();
  }
  FHeads.clear();
  for (auto& Client : FClients) {
    QObject::disconnect(Client->Socket, nullptr, &FServer, nullptr);
    Client->Socket->abort();
    Client->Socket->deleteLater();
  }
  FClients.clear();
  FLastState.reset();
}

void TLiveChannel::Accept() {
  while (QTcpSocket* Socket = FServer.nextPendingConnection()) {
    QObject::connect(Socket, &QTcpSocket::disconnected, &FServer, [this, Socket] {
      // Later: the socket may be inside one of its own signals.
      QMetaObject::invokeMethod(
          &FServer, [this, Socket] { ForgetHead(Socket); }, Qt::QueuedConnection);
    });
    // Full: the oldest connection still short of its request head makes
    // room, so that idle connections cannot keep the pages out.
    if (Occupied() >= MaxClients && !FHeads.empty()) {
      QTcpSocket* Old = FHeads.front()->Socket;
      QObject::disconnect(Old, nullptr, &FServer, nullptr);
      Old->abort();
      Old->deleteLater();
      FHeads.erase(FHeads.begin());
    }
    if (Occupied() >= MaxClients) {
      QObject::disconnect(Socket, nullptr, &FServer, nullptr);
      QObject::connect(Socket, &QTcpSocket::disconnected, Socket, &QObject::deleteLater);
      QTimer::singleShot(HeadMs, Socket, [Socket] { Socket->abort(); });
      Answer(Socket, 503, "busy: " + std::to_string(MaxClients) + " pages listen already");
      continue;
    }
    // What waits in the system for a page that does not read stays small.
    Socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 64 * 1024);
    auto Head = std::make_unique<THead>();
    Head->Socket = Socket;
    Head->Deadline.setSingleShot(true);
    QObject::connect(&Head->Deadline, &QTimer::timeout, Socket, [Socket] { Socket->abort(); });
    Head->Deadline.start(HeadMs);
    FHeads.push_back(std::move(Head));
    QObject::connect(Socket, &QTcpSocket::readyRead, &FServer,
                     [this, Socket] { ReadHead(Socket); });
    if (Socket->bytesAvailable() > 0)
      ReadHead(Socket);
  }
}

void TLiveChannel::ReadHead(QTcpSocket* Socket) {
  // Peeked, not read: Qt's upgrade reads the same head.
  const QByteArray Data = Socket->peek(MaxHeadBytes + 1);
  const qsizetype End = Data.indexOf("\r\n\r\n");
  if (End < 0) {
    if (Data.size() > MaxHeadBytes)
      Refuse(Socket, 431, "request head too large");
    return;
  }
  const std::string_view Head(Data.constData(), static_cast<std::size_t>(End + 4));
  const TTuneRequest Request = ParseRequestHead(Head);
  if (Request.Error || Request.Method.empty()) {
    Refuse(Socket, 400, Request.Reason.empty() ? "not an HTTP request" : Request.Reason);
    return;
  }
  TTuneGuard Guard{FOrigins, FServer.serverPort(), Address()};
  Guard.Service = "the live radio channel";
  Guard.Deed = "follow the radio";
  const TTuneAccess Access = CheckTuneAccess(Request, Guard);
  if (Access.Status) {
    Refuse(Socket, Access.Status, Access.Reason);
    return;
  }
  // Qt's own upgrade from here; it closes and frees a socket whose
  // handshake it refuses.
  QObject::disconnect(Socket, nullptr, &FServer, nullptr);
  const auto Found = std::find_if(FHeads.begin(), FHeads.end(),
                                  [Socket](const auto& H) { return H->Socket == Socket; });
  if (Found != FHeads.end())
    FHeads.erase(Found);
  FUpgrade.handleConnection(Socket);
}

void TLiveChannel::Refuse(QTcpSocket* Socket, int Status, const std::string& Why) {
  // What it sends further is dropped until it closes or its time is up.
  QObject::disconnect(Socket, &QTcpSocket::readyRead, &FServer, nullptr);
  QObject::connect(Socket, &QTcpSocket::readyRead, &FServer, [Socket] { Socket->readAll(); });
  Answer(Socket, Status, Why);
  if (Status == 403 && Why != FLastRefusal) {
    FLastRefusal = Why;
    if (FOnChange)
      FOnChange();
  }
}

void TLiveChannel::ForgetHead(QTcpSocket* Socket) {
  const auto Found = std::find_if(FHeads.begin(), FHeads.end(),
                                  [Socket](const auto& H) { return H->Socket == Socket; });
  if (Found != FHeads.end())
    FHeads.erase(Found);
  Socket->deleteLater();
}

void TLiveChannel::Upgraded() {
  while (QWebSocket* Socket = FUpgrade.nextPendingConnection()) {
    if (!FLastRefusal.empty()) {
      FLastRefusal.clear();
      if (FOnChange)
        FOnChange();
    }
    Socket->setParent(&FServer); // freed with the server at the latest
    Socket->setMaxAllowedIncomingMessageSize(MaxMessageBytes);
    Socket->setMaxAllowedIncomingFrameSize(MaxMessageBytes);
    Socket->setOutgoingFrameSize(MaxMessageBytes);
    auto Client = std::make_unique<TClient>();
    Client->Socket = Socket;
    TClient* Raw = Client.get();
    FClients.push_back(std::move(Client));
    // What pages send (a contact logged, a look-up) is not for the radio.
    QObject::connect(Socket, &QWebSocket::textMessageReceived, &FServer, [](const QString&) {});
    QObject::connect(Socket, &QWebSocket::binaryMessageReceived, &FServer,
                     [](const QByteArray&) {});
    QObject::connect(Socket, &QWebSocket::bytesWritten, &FServer, [this, Raw](qint64) {
      if (Raw->Owed && Raw->Socket->bytesToWrite() == 0)
        Flush(*Raw);
    });
    QObject::connect(Socket, &QWebSocket::disconnected, &FServer, [this, Socket] {
      QMetaObject::invokeMethod(
          &FServer, [this, Socket] { Drop(Socket); }, Qt::QueuedConnection);
    });
    if (!FWatch.isActive()) {
      FWatch.start();
      FHeartbeat.start();
    }
    Send(*Raw, true);
  }
}

void TLiveChannel::Send(TClient& Client, bool Welcome) {
  if (Welcome)
    Client.Socket->sendTextMessage(WelcomeMessage());
  const std::optional<TLogbookRadioState> State = FSource.State ? FSource.State() : std::nullopt;
  if (State) {
    Client.Socket->sendTextMessage(StatusMessage(*State, FSource.Name ? FSource.Name() : ""));
    FLastState = State;
  }
  Client.Owed = false;
  if (Client.Socket->bytesToWrite() > MaxQueuedBytes) {
    Client.Socket->abort(); // never reads: dropped, the others go on
    return;
  }
  Client.WaitingSince = std::chrono::steady_clock::now();
}

void TLiveChannel::Flush(TClient& Client) {
  if (Client.Socket->bytesToWrite() > 0) {
    Client.Owed = true; // the latest state goes once the previous one is taken
    return;
  }
  Send(Client, false);
}

void TLiveChannel::RadioChanged() {
  if (!FClients.empty())
    Broadcast(false);
}

void TLiveChannel::Broadcast(bool Always) {
  const std::optional<TLogbookRadioState> State = FSource.State ? FSource.State() : std::nullopt;
  if (!State)
    FLastState.reset(); // live again, the state goes at once
  if (!State || (!Always && State == FLastState))
    return;
  FLastState = State;
  // Copied: a client may be dropped meanwhile (its removal waits for the
  // event loop, so the pointers stand).
  std::vector<TClient*> Clients;
  for (const auto& Client : FClients)
    Clients.push_back(Client.get());
  for (TClient* Client : Clients)
    Flush(*Client);
}

void TLiveChannel::CheckStalls() {
  const auto Now = std::chrono::steady_clock::now();
  for (const auto& Client : FClients)
    if (Client->Owed && Now - Client->WaitingSince > std::chrono::milliseconds(StallMs))
      Client->Socket->abort();
}

void TLiveChannel::Drop(QWebSocket* Socket) {
  const auto Found = std::find_if(FClients.begin(), FClients.end(),
                                  [Socket](const auto& C) { return C->Socket == Socket; });
  if (Found != FClients.end())
    FClients.erase(Found);
  QObject::disconnect(Socket, nullptr, &FServer, nullptr);
  Socket->deleteLater();
  if (FClients.empty()) {
    FWatch.stop();
    FHeartbeat.stop();
  }
}

} // namespace vela

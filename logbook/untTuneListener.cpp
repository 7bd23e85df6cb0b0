#include "logbook/untTuneListener.h"

#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

#include "cat/radios/untRadioTable.h"
#include "cat/transport/untListenAddress.h"
#include "logbook/untLogbookRules.h"

namespace vela {

struct TTuneListener::TClient {
  QTcpSocket* Socket = nullptr; // deleted later, when dropped
  QByteArray Head;
  bool Answered = false;
};

namespace {

const char* StatusText(int Status) {
  switch (Status) {
  case 200:
    return "OK";
  case 204:
    return "No Content";
  case 400:
    return "Bad Request";
  case 403:
    return "Forbidden";
  case 409:
    return "Conflict";
  case 405:
    return "Method Not Allowed";
  case 503:
    return "Service Unavailable";
  default:
    return "Error";
  }
}

} // namespace

TTuneListener::TTuneListener(TLogbookRadio& ARadio) : FRadio(ARadio) {
  QObject::connect(&FServer, &QTcpServer::newConnection, [this] { Accept(); });
}

TTuneListener::~TTuneListener() {
  Close();
}

bool TTuneListener::Listen(const std::string& Host, std::uint16_t Port) {
  Close();
  return FListen.Start(Host, Port);
}

void TTuneListener::Close() {
  FListen.Stop();
  for (auto& Client : FClients) {
    QObject::disconnect(Client->Socket, nullptr, nullptr, nullptr);
    Client->Socket->abort();
    Client->Socket->deleteLater();
  }
  FClients.clear();
}

void TTuneListener::Accept() {
  while (QTcpSocket* Socket = FServer.nextPendingConnection()) {
    QObject::connect(Socket, &QTcpSocket::disconnected, &FServer, [this, Socket] {
      // Later: the socket may be inside one of its own signals.
      QMetaObject::invokeMethod(
          &FServer, [this, Socket] { Drop(Socket); }, Qt::QueuedConnection);
    });
    // Full: the oldest connection that has asked nothing yet makes room,
    // so that idle connections cannot keep the logbook's clicks out.
    if (static_cast<int>(FClients.size()) >= MaxConnections) {
      const auto Idle = std::find_if(FClients.begin(), FClients.end(),
                                     [](const auto& Client) { return !Client->Answered; });
      if (Idle != FClients.end()) {
        QTcpSocket* Old = (*Idle)->Socket;
        QObject::disconnect(Old, nullptr, &FServer, nullptr);
        Old->abort();
        Old->deleteLater();
        FClients.erase(Idle);
      }
    }
    if (static_cast<int>(FClients.size()) >= MaxConnections) {
      Reply(Socket, 503, "busy");
      QTimer::singleShot(IdleMs, Socket, [Socket] { Socket->abort(); });
      continue;
    }
    auto Client = std::make_unique<TClient>();
    Client->Socket = Socket;
    TClient* Raw = Client.get();
    FClients.push_back(std::move(Client));
    QObject::connect(Socket, &QTcpSocket::readyRead, &FServer, [this, Raw] { Read(Raw); });
    QTimer::singleShot(IdleMs, Socket, [Socket] { Socket->abort(); });
    if (Socket->bytesAvailable() > 0)
      Read(Raw);
  }
}

void TTuneListener::Read(TClient* Client) {
  QTcpSocket* Socket = Client->Socket;
  if (Client->Answered) {
    Socket->readAll(); // the rest of a request already answered
    return;
  }
  Client->Head += Socket->read(MaxRequestBytes + 1 - Client->Head.size());
  const std::string_view Head(Client->Head.constData(),
                              static_cast<std::size_t>(Client->Head.size()));
  const bool Complete = Head.find("\r\n\r\n") != std::string_view::npos ||
                        Head.find("\n\n") != std::string_view::npos;
  if (!Complete && Client->Head.size() <= MaxRequestBytes)
    return;
  Client->Answered = true;
  if (!Complete) {
    Reply(Socket, 400, "request too large", {}, false, false);
    return;
  }
  const TTuneRequest Request = ParseTuneRequest(Head);
  const TTuneGuard Guard{FOrigins, FServer.serverPort(),
                         FServer.serverAddress().toString().toStdString()};
  const TTuneAccess Access = CheckTuneAccess(Request, Guard);
  if (Request.Method == "OPTIONS" && !Access.Status && !Request.Error) {
    // The pre-flight's grants go to an accepted origin only.
    Reply(Socket, 204, "", Access.AllowOrigin, !Access.AllowOrigin.empty());
    return;
  }
  const auto [Status, Body] =
      Access.Status ? std::pair<int, std::string>{Access.Status, Access.Reason} : Answer(Request);
  Reply(Socket, Status, Body, Access.AllowOrigin);
  FLastRefusal = Status == 403 ? Body : std::string();
  if (FOnTune)
    FOnTune(Status, Request.Hz.value_or(0), Request.Mode);
}

std::pair<int, std::string> TTuneListener::Answer(const TTuneRequest& Request) {
  if (Request.Error)
    return {Request.Error, Request.Reason};
  if (!Request.Hz)
    return {400, "no frequency"};
  return TuneLogbookRadio(FRadio, *Request.Hz, Request.Mode);
}

void TTuneListener::Reply(QTcpSocket* Socket, int Status, const std::string& Body,
                          const std::string& AllowOrigin, bool Preflight, bool Close) {
  std::string Text = "HTTP/1.1 " + std::to_string(Status) + " " + StatusText(Status) +
                     "\r\n"
                     "Cache-Control: no-store\r\n"
                     "Connection: close\r\n"
                     "Vary: Origin\r\n";
  if (!AllowOrigin.empty())
    Text += "Access-Control-Allow-Origin: " + AllowOrigin + "\r\n";
  if (Preflight)
    Text += "Access-Control-Allow-Methods: GET, OPTIONS\r\n"
            "Access-Control-Allow-Headers: *\r\n"
            "Access-Control-Allow-Private-Network: true\r\n"
            "Access-Control-Max-Age: 600\r\n";
  if (Status == 405)
    Text += "Allow: GET, OPTIONS\r\n";
  const std::string Content = Body.empty() ? Body : Body + "\n";
  if (Status != 204)
    Text += "Content-Type: text/plain; charset=utf-8\r\nContent-Length: " +
            std::to_string(Content.size()) + "\r\n";
  Text += "\r\n" + (Status != 204 ? Content : std::string());
  Socket->write(Text.data(), static_cast<qint64>(Text.size()));
  if (Close)
    Socket->disconnectFromHost();
}

void TTuneListener::Drop(QTcpSocket* Socket) {
  const auto Found = std::find_if(FClients.begin(), FClients.end(), [Socket](const auto& Client) {
    return Client->Socket == Socket;
  });
  if (Found != FClients.end())
    FClients.erase(Found);
  Socket->deleteLater();
}

} // namespace vela

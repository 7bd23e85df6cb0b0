#include "StallingServer.h"

#include <QHostAddress>

namespace velatest {

TStallingServer::TStallingServer() {
  QObject::connect(&FServer, &QTcpServer::newConnection, this, [this] { Accept(); });
  FServer.listen(QHostAddress::LocalHost, 0);
}

TStallingServer::~TStallingServer() {
  for (THeld& Held : FHeld)
    if (Held.Socket)
      Held.Socket->abort();
  FServer.close();
}

std::string TStallingServer::Url(const std::string& Path) const {
  return "http://127.0.0.1:" + std::to_string(FServer.serverPort()) + Path;
}

void TStallingServer::Serve(const std::string& Path, const std::string& Body) {
  FRoutes[Path] = TRoute{Body, false, 0};
}

void TStallingServer::Hold(const std::string& Path, const std::string& Body, std::size_t Sent) {
  FRoutes[Path] = TRoute{Body, true, Sent < Body.size() ? Sent : Body.size()};
}

void TStallingServer::Release(const std::string& Path) {
  auto It = FRoutes.find(Path);
  if (It == FRoutes.end())
    return;
  TRoute& Route = It->second;
  Route.Hold = false;
  for (THeld& Held : FHeld) {
    if (Held.Path != Path || !Held.Socket)
      continue;
    const std::size_t From = Held.Started ? Route.Sent : 0;
    if (!Held.Started)
      Held.Socket->write(Head(Path, Route.Body.size(), 200));
    Held.Socket->write(Route.Body.data() + From, static_cast<qint64>(Route.Body.size() - From));
    Held.Socket->disconnectFromHost();
    Held.Socket.clear();
  }
}

int TStallingServer::Requests(const std::string& Path) const {
  auto It = FRequests.find(Path);
  return It == FRequests.end() ? 0 : It->second;
}

int TStallingServer::Held(const std::string& Path) const {
  int Count = 0;
  for (const THeld& Held : FHeld)
    if (Held.Path == Path && Held.Socket && Held.Socket->state() == QAbstractSocket::ConnectedState)
      ++Count;
  return Count;
}

void TStallingServer::Accept() {
  while (QTcpSocket* Socket = FServer.nextPendingConnection()) {
    QObject::connect(Socket, &QTcpSocket::readyRead, this, [this, Socket] { Read(Socket); });
    QObject::connect(Socket, &QTcpSocket::disconnected, this, [this, Socket] {
      FPending.erase(Socket);
      Socket->deleteLater();
    });
  }
}

void TStallingServer::Read(QTcpSocket* Socket) {
  QByteArray& Buffer = FPending[Socket];
  Buffer += Socket->readAll();
  const qsizetype End = Buffer.indexOf("\r\n\r\n");
  if (End < 0)
    return;
  // "GET /path?query HTTP/1.1": every connection carries one request, since
  // each answer closes it.
  const QList<QByteArray> Words = Buffer.left(Buffer.indexOf("\r\n")).split(' ');
  FPending.erase(Socket);
  QObject::disconnect(Socket, &QTcpSocket::readyRead, this, nullptr);
  std::string Path = Words.size() >= 2 ? Words[1].toStdString() : std::string("/");
  const std::size_t Query = Path.find('?');
  if (Query != std::string::npos)
    Path.erase(Query);
  ++FRequests[Path];
  Answer(Socket, Path);
}

void TStallingServer::Answer(QTcpSocket* Socket, const std::string& Path) {
  auto It = FRoutes.find(Path);
  if (It == FRoutes.end()) {
    const std::string Body = "<html><body>not found</body></html>";
    Socket->write(Head(Path, Body.size(), 404));
    Socket->write(Body.data(), static_cast<qint64>(Body.size()));
    Socket->disconnectFromHost();
    return;
  }
  const TRoute& Route = It->second;
  if (!Route.Hold) {
    Socket->write(Head(Path, Route.Body.size(), 200));
    Socket->write(Route.Body.data(), static_cast<qint64>(Route.Body.size()));
    Socket->disconnectFromHost();
    return;
  }
  THeld Held{Socket, Path, Route.Sent > 0};
  if (Held.Started) {
    Socket->write(Head(Path, Route.Body.size(), 200));
    Socket->write(Route.Body.data(), static_cast<qint64>(Route.Sent));
    Socket->flush();
  }
  FHeld.push_back(Held);
}

QByteArray TStallingServer::Head(const std::string& Path, std::size_t Length, int Status) {
  const bool Script = Path.size() >= 3 && Path.compare(Path.size() - 3, 3, ".js") == 0;
  QByteArray Text = Status == 200 ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n";
  Text += Script ? "Content-Type: application/javascript\r\n"
                 : "Content-Type: text/html; charset=utf-8\r\n";
  Text += "Content-Length: " + QByteArray::number(static_cast<qulonglong>(Length)) + "\r\n";
  Text += "Cache-Control: no-store\r\nConnection: close\r\n\r\n";
  return Text;
}

} // namespace velatest

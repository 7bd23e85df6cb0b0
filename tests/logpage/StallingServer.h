// A web server on 127.0.0.1 inside the test process for log pages that never
// finish loading. Each path is either answered at once or held: the request
// is read and the answer withheld (all of it, or everything after the headers
// and the first bytes of the body) until the test releases the path. It runs
// on the main thread's event loop, so it answers whenever a test waits.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace velatest {

// A whole HTML page around Body.
inline std::string Html(const std::string& Body) {
  return "<!DOCTYPE html><html><head><title>t</title></head><body>" + Body + "</body></html>";
}

class TStallingServer : public QObject {
public:
  TStallingServer();
  ~TStallingServer() override;

  bool Listening() const { return FServer.isListening(); }
  // http://127.0.0.1:<port><Path>
  std::string Url(const std::string& Path) const;

  // Path (the query is ignored) answers Body at once. Paths ending in ".js"
  // are sent as scripts, all others as HTML.
  void Serve(const std::string& Path, const std::string& Body);
  // Path answers Body, but holds back the whole answer (Sent 0) or everything
  // after the headers and the first Sent bytes of the body.
  void Hold(const std::string& Path, const std::string& Body, std::size_t Sent = 0);
  // Completes the held answers for Path; later requests are answered at once.
  void Release(const std::string& Path);

  // Requests for Path received so far, and those whose answer is held on a
  // connection that is still open.
  int Requests(const std::string& Path) const;
  int Held(const std::string& Path) const;

private:
  struct TRoute {
    std::string Body;
    bool Hold = false;
    std::size_t Sent = 0;
  };
  struct THeld {
    QPointer<QTcpSocket> Socket;
    std::string Path;
    // Whether the headers and the first part of the body went out already.
    bool Started = false;
  };

  void Accept();
  void Read(QTcpSocket* Socket);
  void Answer(QTcpSocket* Socket, const std::string& Path);
  static QByteArray Head(const std::string& Path, std::size_t Length, int Status);

  QTcpServer FServer;
  std::map<std::string, TRoute> FRoutes;
  std::map<std::string, int> FRequests;
  std::map<QTcpSocket*, QByteArray> FPending;
  std::vector<THeld> FHeld;
};

} // namespace velatest

// Click-to-tune: a small HTTP listener that the logbook's pages call from the
// operator's browser. GET /{hz} and GET /{hz}/{mode} tune the radio through
// its driver (answered 200 once the commands are queued, 400 for a frequency
// or mode it cannot take, 409 while the transmitter is keyed, 503 while the
// radio's link is not live).
//
// It serves the logbook, not the web: a request from a page of another
// origin, or one addressed to another host name (a name pointed at
// 127.0.0.1 to reach this listener from a stranger's page), is refused with
// 403 (CheckTuneAccess). An accepted origin gets its own name in
// "Access-Control-Allow-Origin", so that the browser's request succeeds once
// (a refused cross-origin request would make the page open the address again
// and tune twice), and its CORS pre-flight is answered; other origins get
// neither. One request per connection.
//
// Bounds: a request head of at most MaxRequestBytes, at most MaxConnections
// at once, and a connection that sends no complete request within IdleMs is
// closed. A further connection takes the place of the oldest one that has
// asked nothing yet (idle connections never keep a click out); only when
// every place is answering is it answered 503 and closed.
//
// An address another program holds is tried again until it is free
// (TListenRetry); the listener is up by itself then.
#pragma once

#include <QTcpServer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cat/transport/untListenAddress.h"
#include "logbook/untLogbookRadio.h"
#include "logbook/untLogbookRules.h"

class QTcpSocket;

namespace vela {

class TTuneListener {
public:
  static constexpr int MaxConnections = 16;
  static constexpr int MaxRequestBytes = 8192;
  static constexpr int IdleMs = 5000;

  explicit TTuneListener(TLogbookRadio& ARadio);
  ~TTuneListener();

  // False with ErrorText() set when Host is not an address or the port
  // cannot be bound for good (ListenTcp); true when listening, or Waiting
  // for an address that is taken. Listening again moves the listener. Its
  // address is "[HOST:]PORT", read by ParseListenAddress without a default
  // port.
  bool Listen(const std::string& Host, std::uint16_t Port);
  void Close();
  bool Listening() const { return FListen.Listening(); }
  // Not listening yet: the address is taken, and it is tried again.
  bool Waiting() const { return FListen.Waiting(); }
  std::uint16_t Port() const { return FListen.Port(); }
  std::string Address() const { return FListen.Address(); }
  // Why it does not listen, with the address; empty while it does.
  const std::string& ErrorText() const { return FListen.ErrorText(); }
  // Called when a listener that waited for its address is up.
  void setOnListening(std::function<void()> Value) { FListen.setOnListening(std::move(Value)); }
  int ConnectionCount() const { return static_cast<int>(FClients.size()); }

  // The web origins whose pages may tune (see TuneOrigins).
  void setOrigins(std::vector<std::string> Value) { FOrigins = std::move(Value); }
  const std::vector<std::string>& Origins() const { return FOrigins; }

  // Why the last request that was refused as not the logbook's (403) was
  // refused; emptied by the next request that is not.
  const std::string& LastRefusal() const { return FLastRefusal; }

  // Status, Hz (0 when none), mode as asked, after every tune request.
  using TTuneHandler = std::function<void(int, std::int64_t, const std::string&)>;
  void setOnTune(const TTuneHandler& Value) { FOnTune = Value; }

  // The answer to a parsed request that passed CheckTuneAccess: tunes when it
  // may. Status and body.
  std::pair<int, std::string> Answer(const TTuneRequest& Request);

private:
  struct TClient;
  void Accept();
  void Read(TClient* Client);
  // Close: once written; otherwise the peer's further bytes are read and
  // dropped until it closes or its time is up (closing on unread bytes
  // would reset the connection and lose the answer).
  // AllowOrigin: the accepted origin to name for the browser (empty: none).
  void Reply(QTcpSocket* Socket, int Status, const std::string& Body,
             const std::string& AllowOrigin = {}, bool Preflight = false, bool Close = true);
  void Drop(QTcpSocket* Socket);

  TLogbookRadio& FRadio;
  TRetryingListen FListen;
  QTcpServer& FServer = FListen.Server();
  std::vector<std::unique_ptr<TClient>> FClients;
  std::vector<std::string> FOrigins;
  std::string FLastRefusal;
  TTuneHandler FOnTune;
};

} // namespace vela

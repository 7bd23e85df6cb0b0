// Where the program's own servers listen (radio sharing, contacts,
// click-to-tune, the live radio channel): the one reading of "[host:]port"
// for a listener, the one way to start a TCP listener or say why it could
// not, and the one retry of a listener whose address is taken.
//
// A listener binds one address, so its host is an IP address, never a name
// to look up; "localhost" alone is taken, as IPv4's loopback address (the
// local programs that talk to these servers use IPv4).
#pragma once

#include <QHostAddress>
#include <QTcpServer>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vela {

struct TListenAddress {
  std::string Host = "127.0.0.1"; // an IP address, as Qt writes it ("::1")
  std::uint16_t Port = 0;         // 0: any free port
};

// Reads Host as an address to listen on; false with why in Error.
bool ReadListenHost(std::string_view Host, QHostAddress& Address, std::string& Error);

// Reads "[HOST:]PORT": "2237", "224.0.0.1:2237", "[::1]:2237",
// "localhost:54321". A port alone listens on 127.0.0.1. With a DefaultPort,
// HOST alone ("224.0.0.1", "::1", "[::1]") or with an empty port takes it;
// without, the port must be there. PORT is 0 to 65535 (0: any free). Blanks
// around the text are ignored. False with a reason in Error.
bool ParseListenAddress(std::string_view Text, std::optional<std::uint16_t> DefaultPort,
                        TListenAddress& Address, std::string& Error);

// Starts Server listening on Host and Port (0: any free); false with why in
// Error when Host is no address to listen on or the port cannot be bound.
// The address is bound with reuse (a previous run's connections still
// closing do not hold it). MayPass, when given, says whether the failure
// may pass by itself: the address is held by another program (or a
// previous run still ending), or is not (yet) one of this computer's.
bool ListenTcp(QTcpServer& Server, std::string_view Host, std::uint16_t Port, std::string& Error,
               bool* MayPass = nullptr);

// Keeps a listener trying while its address is taken: one try now and,
// while a try fails in a way that may pass, another every RetryMs until one
// succeeds or Stop is called. The program's servers all come back this way,
// without the operator applying anything.
class TListenRetry {
public:
  static constexpr int RetryMs = 3000;
  // One try: true when listening; false with why in Error, and MayPass set
  // when a later try may succeed.
  using TAttempt = std::function<bool(std::string& Error, bool& MayPass)>;

  explicit TListenRetry(TAttempt AAttempt);
  // The try of a TCP server on Host and Port as they are at each try (the
  // owner's fields), its error led by the address ("127.0.0.1:54321: ...").
  static TAttempt Tcp(QTcpServer& Server, const std::string& Host, const std::uint16_t& Port);

  // Tries now. True when listening or waiting to try again; false, with
  // ErrorText, for a failure that will not pass.
  bool Start();
  // No more tries.
  void Stop();
  // Not listening yet, and trying again.
  bool Waiting() const { return FTimer.isActive(); }
  // Why the last try failed ("... ; trying again every 3 s" while Waiting);
  // empty once listening.
  const std::string& ErrorText() const { return FErrorText; }
  // A later try succeeded: the listener is up.
  void setOnListening(std::function<void()> Value) { FOnListening = std::move(Value); }

private:
  bool Try();

  TAttempt FAttempt;
  QTimer FTimer;
  std::string FErrorText;
  std::function<void()> FOnListening;
};

// A TCP server that listens where it is told and, while its address is
// taken, keeps trying (TListenRetry): the one way the program's servers
// listen. The owner handles the server's connections.
class TRetryingListen {
public:
  TRetryingListen() : FRetry(TListenRetry::Tcp(FServer, FHost, FPort)) {}

  QTcpServer& Server() { return FServer; }
  // Listens on Host and Port (0: any free); true when listening or Waiting
  // for an address that is taken, false with ErrorText for one that will
  // never do.
  bool Start(const std::string& Host, std::uint16_t Port) {
    Stop();
    FHost = Host;
    FPort = Port;
    return FRetry.Start();
  }
  void Stop() {
    FRetry.Stop();
    FServer.close();
  }
  bool Listening() const { return FServer.isListening(); }
  bool Waiting() const { return FRetry.Waiting(); }
  std::uint16_t Port() const { return FServer.serverPort(); }
  std::string Address() const { return FServer.serverAddress().toString().toStdString(); }
  const std::string& ErrorText() const { return FRetry.ErrorText(); }
  void setOnListening(std::function<void()> Value) { FRetry.setOnListening(std::move(Value)); }

private:
  QTcpServer FServer;
  std::string FHost;
  std::uint16_t FPort = 0;
  TListenRetry FRetry;
};

} // namespace vela

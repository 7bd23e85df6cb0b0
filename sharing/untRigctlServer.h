// Shares the radio over Hamlib's network protocol: a TCP server that answers
// rigctld's commands from a TRigBackend, on the main thread's event loop.
//
// Answers come from the values the radio driver already polls, so clients add
// no traffic on the radio's line however often they ask. Sets go to the
// backend, which queues them like a tune from the log page.
//
// Bounds: at most MaxClients connections (a further one is closed at once), a
// line longer than MaxRigctlLine closes its connection, a client that does
// not read its answers is closed once MaxPendingOutput bytes wait for it,
// and one that asks nothing for IdleLimit() and holds no key is closed, so
// that forgotten connections never hold the places.
//
// An address another program holds is tried again until it is free
// (TListenRetry); the server is up by itself then.
//
// Keying: off unless AllowPTT. The server remembers which client keyed; the
// transmitter is released when that client goes, when the backend's link is
// down or it has no radio, after TxTimeLimit seconds, and when the server
// stops or is freed. A release by the radio's side (a restarted or replaced
// driver) is noticed within LinkWatchMs.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QTcpServer>
#include <QTimer>

#include "cat/transport/untListenAddress.h"
#include "platform/untEvents.h"
#include "platform/untObject.h"
#include "sharing/untRigBackend.h"
#include "sharing/untRigctlProtocol.h"

class QTcpSocket;

namespace vela {

// Sender (the server), Keyed.
using TKeyedEvent = TMethod<TObject*, bool>;

class TRigctlServer : public TObject {
public:
  static constexpr int MaxClients = 16;
  static constexpr std::size_t MaxPendingOutput = 64 * 1024;
  static constexpr int DefaultTxTimeLimit = 180;
  static constexpr int DefaultPort = 4532;
  // A PTT request is answered once its command is written to the radio;
  // one that is not written within this is answered with a time-out.
  static constexpr std::chrono::milliseconds PTTWriteLimit{1000};
  static constexpr std::chrono::milliseconds DefaultIdleLimit{10 * 60 * 1000};

  explicit TRigctlServer(TRigBackend& ABackend);
  ~TRigctlServer() override;

  // Starts listening (ListenTcp); false with ErrorText() set when the
  // address is not an IP address or the port cannot be bound for good; true
  // when listening, or Waiting for an address that is taken. Port 0 picks
  // a free port.
  bool Listen(const std::string& Address, std::uint16_t Port);
  // Closes every connection and stops listening (releasing the transmitter).
  void Close();
  bool Listening() const { return FListen.Listening(); }
  // Not listening yet: the address is taken, and it is tried again.
  bool Waiting() const { return FListen.Waiting(); }
  std::uint16_t Port() const { return FListen.Port(); }
  // Why it does not listen, with the address; empty while it does.
  const std::string& ErrorText() const { return FListen.ErrorText(); }
  // Called when a server that waited for its address is up.
  void setOnListening(std::function<void()> Value) { FListen.setOnListening(std::move(Value)); }
  int ClientCount() const { return static_cast<int>(FClients.size()); }

  bool AllowPTT() const { return FAllowPTT; }
  // Turning it off releases the transmitter if a client keyed it.
  void setAllowPTT(bool Value);
  // Seconds of continuous keying before the server releases the transmitter.
  int TxTimeLimit() const { return FTxTimeLimit; }
  void setTxTimeLimit(int Seconds);
  // How long a client that holds no key may ask nothing.
  std::chrono::milliseconds IdleLimit() const { return FIdleLimit; }
  void setIdleLimit(std::chrono::milliseconds Value);

  // Whether a client keyed the transmitter and it has not been released.
  bool Keyed() const { return FKeyer != nullptr; }
  TKeyedEvent OnKeyedChange() const { return FOnKeyedChange; }
  void setOnKeyedChange(const TKeyedEvent& Value) { FOnKeyedChange = Value; }

private:
  struct TClient;

  void AcceptConnections();
  void ReadClient(TClient* Client);
  // Answers the client's waiting lines in order, stopping at a PTT request
  // whose command is not yet on the line; false once the client is aborted.
  bool ServeLines(TClient* Client);
  bool Send(TClient* Client, const std::string& Out);
  void WatchPTTWrites();
  void DropClient(TClient* Client);
  void DropClosedClients();
  TRigctlReply Answer(const TRigctlRequest& Request, TClient* Client);
  TRigctlReply SetPTT(const TRigctlRequest& Request, TClient* Client);
  void Release();
  void SetKeyer(TClient* Client);
  void WatchLink();
  void CloseIdleClients();

  TRigBackend& FBackend;
  TRetryingListen FListen;
  QTcpServer& FServer = FListen.Server();
  QTimer FTxTimer;
  QTimer FLinkWatch;
  QTimer FPTTWatch;
  QTimer FIdleWatch;
  std::vector<std::unique_ptr<TClient>> FClients;
  TClient* FKeyer = nullptr;
  bool FAllowPTT = false;
  int FTxTimeLimit = DefaultTxTimeLimit;
  std::chrono::milliseconds FIdleLimit{};
  TKeyedEvent FOnKeyedChange;
};

} // namespace vela

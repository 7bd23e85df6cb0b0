// The live radio channel: a WebSocket server that the logbook's pages (QSO
// entry, bandmap, cluster) open on this computer to follow the radio without
// asking their server for it. Each client gets a "welcome" and at once the
// radio's state ("radio_status"); then one "radio_status" per change of
// frequency or mode, and one at least every HeartbeatMs so that the page
// never finds it stale. Nothing is sent while the radio's link is not live.
// What the pages send (a contact logged, a callsign looked up) is read and
// dropped.
//
// Who may listen is decided on the request head before the upgrade, by the
// rule that guards click-to-tune (CheckTuneAccess): the logbook's own origin
// and those the operator lists, no Origin only from programs that are no
// browser, and only under a loopback name or the listen address as Host; a
// refusal is answered 403 and the connection closed. The upgrade itself is
// Qt's.
//
// Bounds: at most MaxClients at once (a further one takes the place of the
// oldest still short of its request head, else is answered 503); a request
// head of at most MaxHeadBytes within HeadMs; a message from a page
// of more than MaxMessageBytes closes its connection. A client that reads
// slowly gets only the latest state once it has taken the previous one; one
// that has not taken a state within StallMs, or lets more than
// MaxQueuedBytes wait, is dropped and the others go on.
//
// Runs on the main thread's event loop; nothing waits for a client.
#pragma once

#include <QTcpServer>
#include <QTimer>
#include <QWebSocketServer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cat/transport/untListenAddress.h"
#include "logbook/untLogbookRules.h"

class QTcpSocket;
class QWebSocket;

namespace vela {

class TLiveChannel {
public:
  static constexpr int MaxClients = 16;
  static constexpr int MaxHeadBytes = 8192;
  static constexpr int HeadMs = 5000;
  static constexpr qint64 MaxMessageBytes = 64 * 1024;
  static constexpr qint64 MaxQueuedBytes = 16 * 1024;
  static constexpr int StallMs = 5000;
  static constexpr int HeartbeatMs = 30000;
  // How often the radio is looked at besides its reports (a change of a few
  // hertz the page's texts do not show, the link coming up).
  static constexpr int WatchMs = 250;

  // The radio's state as the logbook is told it (nullopt while its link is
  // not live), and its name as posted to the logbook.
  struct TSource {
    std::function<std::optional<TLogbookRadioState>()> State;
    std::function<std::string()> Name;
  };

  explicit TLiveChannel(TSource ASource);
  ~TLiveChannel();

  // As TTuneListener::Listen: true when listening or waiting for an address
  // that is taken; false with ErrorText for one that will never do.
  bool Listen(const std::string& Host, std::uint16_t Port);
  void Close();
  bool Listening() const { return FListen.Listening(); }
  bool Waiting() const { return FListen.Waiting(); }
  std::uint16_t Port() const { return FListen.Port(); }
  std::string Address() const { return FListen.Address(); }
  const std::string& ErrorText() const { return FListen.ErrorText(); }
  int ClientCount() const { return static_cast<int>(FClients.size()); }

  // The web origins whose pages may listen (TuneOrigins).
  void setOrigins(std::vector<std::string> Value) { FOrigins = std::move(Value); }
  // Why the last refused request was refused; emptied by the next accepted.
  const std::string& LastRefusal() const { return FLastRefusal; }
  // Up after waiting for its address, or a refusal's words changed.
  void setOnChange(std::function<void()> Value) { FOnChange = std::move(Value); }

  // The radio may have changed: each client is sent its state when it
  // differs from the last one sent.
  void RadioChanged();

private:
  struct THead;
  struct TClient;
  void Accept();
  void ReadHead(QTcpSocket* Socket);
  void Refuse(QTcpSocket* Socket, int Status, const std::string& Why);
  void ForgetHead(QTcpSocket* Socket);
  void Upgraded();
  void Send(TClient& Client, bool Welcome);
  void Flush(TClient& Client);
  void Drop(QWebSocket* Socket);
  void Broadcast(bool Always);
  void CheckStalls();
  int Occupied() const { return static_cast<int>(FHeads.size() + FClients.size()); }

  TSource FSource;
  TRetryingListen FListen;
  QTcpServer& FServer = FListen.Server();
  QWebSocketServer FUpgrade;
  std::vector<std::unique_ptr<THead>> FHeads;
  std::vector<std::unique_ptr<TClient>> FClients;
  std::vector<std::string> FOrigins;
  std::string FLastRefusal;
  std::optional<TLogbookRadioState> FLastState;
  QTimer FWatch;
  QTimer FHeartbeat;
  std::function<void()> FOnChange;
};

} // namespace vela

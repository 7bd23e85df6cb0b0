#include "sharing/untRigctlServer.h"

#include "cat/radios/untModeNames.h"
#include "cat/radios/untRadioCATinterface.h"
#include "cat/transport/untListenAddress.h"

#include <algorithm>
#include <deque>
#include <optional>

#include <QPointer>
#include <QTcpSocket>

#include <sys/socket.h>

namespace vela {

namespace {

// Bytes taken from a socket at a time; Qt buffers no more than this either.
constexpr qint64 ReadChunk = 4096;
constexpr int LinkWatchMs = 500;
// How often a PTT request's write is looked for.
constexpr int PTTWatchMs = 5;
constexpr int MaxTxTimeLimit = 24 * 60 * 60;

// The VFO names that mean the radio's one VFO.
bool IsOwnVfo(const std::string& Name) {
  return Name == "VFOA" || Name == "currVFO" || Name == "VFO" || Name == "Main";
}

} // namespace

struct TRigctlServer::TClient {
  QTcpSocket* Socket = nullptr;
  TRigctlLineReader Reader;
  // Lines read and not yet answered: they wait while a PTT request does.
  std::deque<std::string> Lines;
  // A PTT request whose answer waits until its command is on the radio's
  // line, and until when it may wait.
  std::optional<TRigctlRequest> AwaitingPTT;
  std::chrono::steady_clock::time_point PTTDeadline;
  // Set once the client is being closed; its last lines are not answered.
  bool Dropped = false;
  // When it last sent anything.
  std::chrono::steady_clock::time_point LastHeard = std::chrono::steady_clock::now();
};

TRigctlServer::TRigctlServer(TRigBackend& ABackend) : FBackend(ABackend) {
  setIdleLimit(DefaultIdleLimit);
  QObject::connect(&FIdleWatch, &QTimer::timeout, [this] { CloseIdleClients(); });
  FTxTimer.setSingleShot(true);
  QObject::connect(&FTxTimer, &QTimer::timeout, [this] { Release(); });
  QObject::connect(&FLinkWatch, &QTimer::timeout, [this] { WatchLink(); });
  QObject::connect(&FPTTWatch, &QTimer::timeout, [this] { WatchPTTWrites(); });
  QObject::connect(&FServer, &QTcpServer::newConnection, [this] { AcceptConnections(); });
}

TRigctlServer::~TRigctlServer() {
  FOnKeyedChange.Clear();
  Close();
}

bool TRigctlServer::Listen(const std::string& Address, std::uint16_t Port) {
  Close();
  return FListen.Start(Address, Port);
}

void TRigctlServer::Close() {
  FListen.Stop();
  Release();
  FPTTWatch.stop();
  FIdleWatch.stop();
  for (const std::unique_ptr<TClient>& Client : FClients) {
    Client->Socket->disconnect();
    Client->Socket->abort();
    delete Client->Socket;
  }
  FClients.clear();
}

void TRigctlServer::setAllowPTT(bool Value) {
  FAllowPTT = Value;
  if (!Value)
    Release();
}

void TRigctlServer::setTxTimeLimit(int Seconds) {
  FTxTimeLimit = Seconds <= 0 ? DefaultTxTimeLimit : std::min(Seconds, MaxTxTimeLimit);
}

void TRigctlServer::setIdleLimit(std::chrono::milliseconds Value) {
  FIdleLimit = std::max(Value, std::chrono::milliseconds(1));
  // Looked at twice per limit, at most once a minute.
  FIdleWatch.setInterval(static_cast<int>(
      std::clamp<std::int64_t>(FIdleLimit.count() / 2, 1, std::int64_t{60 * 1000})));
}

void TRigctlServer::DropClosedClients() {
  // A client that hung up is noticed only when its socket's events are
  // handled; a burst of connections can fill every place before that. Ask
  // the system instead: a socket at its end of stream has nothing to peek.
  std::vector<TClient*> Closed;
  for (const std::unique_ptr<TClient>& Client : FClients) {
    char Byte = 0;
    const qintptr Fd = Client->Socket->socketDescriptor();
    if (Fd >= 0 && Client->Socket->bytesAvailable() == 0 &&
        ::recv(static_cast<int>(Fd), &Byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0)
      Closed.push_back(Client.get());
  }
  for (TClient* Client : Closed)
    DropClient(Client);
}

void TRigctlServer::AcceptConnections() {
  while (QTcpSocket* Socket = FServer.nextPendingConnection()) {
    if (ClientCount() >= MaxClients)
      DropClosedClients();
    if (ClientCount() >= MaxClients) {
      Socket->abort();
      Socket->deleteLater();
      continue;
    }
    Socket->setReadBufferSize(ReadChunk);
    auto Client = std::make_unique<TClient>();
    Client->Socket = Socket;
    TClient* Raw = Client.get();
    FClients.push_back(std::move(Client));
    QObject::connect(Socket, &QTcpSocket::readyRead, Socket, [this, Raw] { ReadClient(Raw); });
    QObject::connect(Socket, &QTcpSocket::disconnected, Socket, [this, Raw] { DropClient(Raw); });
    QObject::connect(Socket, &QTcpSocket::errorOccurred, Socket, [this, Raw] { DropClient(Raw); });
    if (!FIdleWatch.isActive())
      FIdleWatch.start();
    if (Socket->bytesAvailable() > 0)
      ReadClient(Raw);
  }
}

void TRigctlServer::CloseIdleClients() {
  const auto Now = std::chrono::steady_clock::now();
  std::vector<TClient*> Idle;
  for (const std::unique_ptr<TClient>& Client : FClients)
    if (Client.get() != FKeyer && !Client->AwaitingPTT && Now - Client->LastHeard >= FIdleLimit)
      Idle.push_back(Client.get());
  for (TClient* Client : Idle) {
    Client->Socket->abort();
    DropClient(Client);
  }
  if (FClients.empty())
    FIdleWatch.stop();
}

void TRigctlServer::ReadClient(TClient* Client) {
  QTcpSocket* Socket = Client->Socket;
  // While a PTT request waits, the client's further bytes stay unread.
  while (!Client->Dropped && !Client->AwaitingPTT && Socket->bytesAvailable() > 0) {
    Client->LastHeard = std::chrono::steady_clock::now();
    const QByteArray Data = Socket->read(ReadChunk);
    std::vector<std::string> Lines;
    const bool Fits = Client->Reader.Feed(std::string_view(Data.constData(), Data.size()), Lines);
    Client->Lines.insert(Client->Lines.end(), Lines.begin(), Lines.end());
    if (!ServeLines(Client))
      return;
    if (!Fits && !Client->Dropped) {
      Socket->abort(); // an endless line
      return;
    }
  }
}

bool TRigctlServer::ServeLines(TClient* Client) {
  QTcpSocket* Socket = Client->Socket;
  while (!Client->Dropped && !Client->AwaitingPTT && !Client->Lines.empty()) {
    const std::string Line = std::move(Client->Lines.front());
    Client->Lines.pop_front();
    TRigctlRequest Request;
    if (!ParseRigctlRequest(Line, Request))
      continue;
    if (Request.Command == TRigctlCommand::rcQuit) {
      // Answers already written still go out before the close.
      Client->Dropped = true;
      Socket->disconnectFromHost();
      return true;
    }
    const TRigctlReply Reply = Answer(Request, Client);
    if (Request.Command == TRigctlCommand::rcSetPtt && Reply.Result == RigctlOK &&
        FBackend.PTTUnwritten()) {
      // Answered once the command is on the line (WatchPTTWrites).
      Client->AwaitingPTT = Request;
      Client->PTTDeadline = std::chrono::steady_clock::now() + PTTWriteLimit;
      if (!FPTTWatch.isActive())
        FPTTWatch.start(PTTWatchMs);
      return true;
    }
    if (!Send(Client, FormatRigctlReply(Request, Reply)))
      return false;
  }
  return true;
}

bool TRigctlServer::Send(TClient* Client, const std::string& Out) {
  Client->Socket->write(Out.data(), static_cast<qint64>(Out.size()));
  if (static_cast<std::size_t>(Client->Socket->bytesToWrite()) > MaxPendingOutput) {
    Client->Socket->abort(); // never reads its answers
    return false;
  }
  return true;
}

void TRigctlServer::WatchPTTWrites() {
  const auto Now = std::chrono::steady_clock::now();
  const bool Written = !FBackend.Ready() || !FBackend.PTTUnwritten();
  std::vector<TClient*> Done;
  for (const std::unique_ptr<TClient>& Client : FClients)
    if (Client->AwaitingPTT && (Written || Now >= Client->PTTDeadline))
      Done.push_back(Client.get());
  bool Waiting = false;
  for (const std::unique_ptr<TClient>& Client : FClients)
    Waiting = Waiting || (Client->AwaitingPTT && !Written && Now < Client->PTTDeadline);
  if (!Waiting)
    FPTTWatch.stop();
  for (TClient* Client : Done) {
    if (Client->Dropped)
      continue;
    const TRigctlRequest Request = *Client->AwaitingPTT;
    Client->AwaitingPTT.reset();
    int Result = RigctlOK;
    if (!Written || !FBackend.Ready()) {
      // Not on the line in time: the client is told so, and a key request
      // that might still go out later is taken back.
      Result = RigctlTimeout;
      if (FKeyer == Client && FBackend.PTT())
        Release();
    }
    if (!Send(Client, FormatRigctlReply(Request, {Result, {}})))
      continue;
    // The client's next lines, then what it sent meanwhile. A client that
    // left meanwhile is freed from the event loop, never here.
    QPointer<QTcpSocket> Socket(Client->Socket);
    if (ServeLines(Client) && Socket && !Client->Dropped)
      ReadClient(Client);
  }
}

void TRigctlServer::DropClient(TClient* Client) {
  for (auto It = FClients.begin(); It != FClients.end(); ++It) {
    if (It->get() != Client)
      continue;
    Client->Dropped = true;
    if (FKeyer == Client)
      Release();
    Client->Socket->disconnect();
    Client->Socket->deleteLater();
    // The client may be inside ReadClient further up the stack: free it
    // from the event loop.
    std::shared_ptr<TClient> Dead(std::move(*It));
    FClients.erase(It);
    QTimer::singleShot(0, &FServer, [Dead] {});
    return;
  }
}

TRigctlReply TRigctlServer::Answer(const TRigctlRequest& Request, TClient* Client) {
  using enum TRigctlCommand;
  if (Request.Command == rcUnknown)
    return {RigctlNotImplemented, {}};
  if (!RigctlArgsComplete(Request))
    return {RigctlInvalidArgument, {}};
  const std::vector<std::string>& Args = Request.Args;
  // The radio's values and its keying are answered only while it answers.
  const bool Live = FBackend.Ready() && FBackend.LinkUp();
  switch (Request.Command) {
  case rcGetFreq:
  case rcSetFreq:
  case rcGetMode:
  case rcSetMode:
  case rcGetPtt:
  case rcSetPtt:
    if (!Live && FBackend.Ready())
      return {RigctlTimeout, {}};
    break;
  default:
    break;
  }
  switch (Request.Command) {
  case rcGetFreq: {
    const std::int64_t Hz = FBackend.RequestedHz().value_or(FBackend.FrequencyHz());
    if (!FBackend.Ready() || Hz <= 0)
      return {RigctlNotAvailable, {}};
    return {RigctlOK, {std::to_string(Hz)}};
  }
  case rcSetFreq: {
    std::int64_t Hz = 0;
    if (!ParseRigctlHz(Args[0], Hz) || Hz == 0)
      return {RigctlInvalidArgument, {}};
    if (!FBackend.Ready())
      return {RigctlNotAvailable, {}};
    return {FBackend.TuneHz(Hz) ? RigctlOK : RigctlInvalidArgument, {}};
  }
  case rcGetMode: {
    const std::optional<std::string> Requested = FBackend.RequestedMode();
    const std::string Mode = Requested.value_or(FBackend.Mode());
    if (!FBackend.Ready() || Mode.empty())
      return {RigctlNotAvailable, {}};
    return {RigctlOK, {Mode, std::to_string(RigctlNormalPassband(Mode))}};
  }
  case rcSetMode: {
    // A data mode by another of its names (USB-D, LSB-D) is that data mode.
    std::string Mode = Args[0];
    if (RigctlModeBit(Mode) == 0)
      Mode = DataModeForName(Mode);
    std::int32_t Passband = 0;
    if (RigctlModeBit(Mode) == 0 || !TryDecimalToInt(Args[1], Passband))
      return {RigctlInvalidArgument, {}};
    if (!FBackend.Ready() || (IsDataMode(Mode) && !FBackend.HasDataMode()))
      return {RigctlNotAvailable, {}};
    // The radio keeps its own filter for the mode: a passband is not set.
    return {FBackend.TuneMode(Mode) ? RigctlOK : RigctlNotAvailable, {}};
  }
  case rcGetVfo:
    return {RigctlOK, {"VFOA"}};
  case rcSetVfo:
    return {IsOwnVfo(Args[0]) ? RigctlOK : RigctlNotAvailable, {}};
  case rcGetPtt:
    return {RigctlOK, {FBackend.PTTWritten() ? "1" : "0"}};
  case rcSetPtt:
    return SetPTT(Request, Client);
  case rcGetSplitVfo:
    return {RigctlOK, {"0", "VFOA"}};
  case rcSetSplitVfo: {
    std::int32_t Split = 0;
    if (!TryDecimalToInt(Args[0], Split))
      return {RigctlInvalidArgument, {}};
    return {Split == 0 ? RigctlOK : RigctlNotAvailable, {}};
  }
  case rcChkVfo:
  case rcGetLockMode:
    return {RigctlOK, {"0"}};
  case rcGetPowerstat:
    return {RigctlOK, {"1"}};
  case rcDumpState: {
    if (!FBackend.Ready())
      return {RigctlNotAvailable, {}};
    return {RigctlOK, {FormatRigctlDumpState(FBackend.Facts())}};
  }
  case rcQuit:
  case rcUnknown:
    break;
  }
  return {RigctlNotImplemented, {}};
}

TRigctlReply TRigctlServer::SetPTT(const TRigctlRequest& Request, TClient* Client) {
  // 1 keys by command, 2 and 3 (microphone, data input) do here too.
  std::int32_t Value = 0;
  if (!TryDecimalToInt(Request.Args[0], Value) || Value < 0 || Value > 3)
    return {RigctlInvalidArgument, {}};
  if (!FAllowPTT || !FBackend.Ready() || !FBackend.LinkUp())
    return {RigctlNotAvailable, {}};
  const bool On = Value != 0;
  if (!FBackend.SetPTT(On))
    return {RigctlNotAvailable, {}};
  SetKeyer(On ? Client : nullptr);
  return {RigctlOK, {}};
}

void TRigctlServer::SetKeyer(TClient* Client) {
  const bool Was = FKeyer != nullptr;
  FKeyer = Client;
  if (Client && !Was) {
    FTxTimer.start(FTxTimeLimit * 1000);
    FLinkWatch.start(LinkWatchMs);
  } else if (!Client) {
    FTxTimer.stop();
    FLinkWatch.stop();
  }
  if (Was != (Client != nullptr) && FOnKeyedChange.Assigned())
    FOnKeyedChange(this, Client != nullptr);
}

void TRigctlServer::Release() {
  if (!FKeyer)
    return;
  if (FBackend.Ready())
    FBackend.SetPTT(false);
  SetKeyer(nullptr);
}

void TRigctlServer::WatchLink() {
  if (!FBackend.Ready() || !FBackend.LinkUp())
    Release();
  else if (!FBackend.PTT())
    SetKeyer(nullptr); // released elsewhere: a restarted or replaced driver
}

} // namespace vela

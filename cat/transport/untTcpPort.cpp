#include "cat/transport/untTcpPort.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace vela {

namespace {

using TClock = std::chrono::steady_clock;

// A socket descriptor, closed when its last holder lets go, so that the
// connection thread never closes it under a write in progress.
struct TSocket {
  explicit TSocket(int AFd) : Fd(AFd) {}
  ~TSocket() { ::close(Fd); }
  TSocket(const TSocket&) = delete;
  TSocket& operator=(const TSocket&) = delete;
  const int Fd;
};

int MsLeft(TClock::time_point Deadline) {
  const auto Left =
      std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - TClock::now()).count();
  return static_cast<int>(std::clamp<long long>(Left, 0, 60000));
}

void Signal(int EventFd) {
  const std::uint64_t One = 1;
  [[maybe_unused]] const ssize_t N = ::write(EventFd, &One, sizeof(One));
}

void Drain(int EventFd) {
  std::uint64_t Value = 0;
  [[maybe_unused]] const ssize_t N = ::read(EventFd, &Value, sizeof(Value));
}

// A host name lookup on a helper thread of its own. A resolver can take many
// seconds (a DNS server that does not answer); the connection thread waits
// for the lookup or for its stop event, whichever comes first, and a lookup
// nobody waits for any more finishes and frees itself.
struct TLookup {
  TLookup() : DoneFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~TLookup() {
    if (DoneFd >= 0)
      ::close(DoneFd);
  }
  const int DoneFd;
  std::mutex Lock;
  int Result = 0; // getaddrinfo's code
  int Errno = 0;
  std::vector<sockaddr_storage> Addresses;
  std::vector<socklen_t> Lengths;
};

void RunLookup(const std::shared_ptr<TLookup>& Job, const std::string& Host,
               const std::string& Service, int Flags) {
  addrinfo Hints{};
  Hints.ai_family = AF_UNSPEC;
  Hints.ai_socktype = SOCK_STREAM;
  Hints.ai_flags = Flags | AI_NUMERICSERV;
  addrinfo* List = nullptr;
  const int Result = ::getaddrinfo(Host.c_str(), Service.c_str(), &Hints, &List);
  const int Errno = errno;
  std::lock_guard<std::mutex> Guard(Job->Lock);
  Job->Result = Result;
  Job->Errno = Errno;
  for (const addrinfo* A = List; A; A = A->ai_next) {
    if (A->ai_addrlen > sizeof(sockaddr_storage))
      continue;
    sockaddr_storage Address{};
    std::memcpy(&Address, A->ai_addr, A->ai_addrlen);
    Job->Addresses.push_back(Address);
    Job->Lengths.push_back(A->ai_addrlen);
  }
  if (List)
    ::freeaddrinfo(List);
}

} // namespace

// What the port, its connection thread and its deliveries share. The port
// may be closed (even freed) while a delivery or a lookup is still under way;
// they hold the link, never the port.
struct TTcpPort::TLink {
  ~TLink() {
    if (StopFd >= 0)
      ::close(StopFd);
    if (WakeFd >= 0)
      ::close(WakeFd);
  }

  std::mutex Lock;
  std::condition_variable Changed; // Phase changed
  THostPort Address;
  TTcpPhase Phase = TTcpPhase::tpClosed;
  int Error = 0;
  std::string ErrorText;
  std::shared_ptr<TSocket> Socket; // while tpUp
  std::string Rx;                  // received, not yet read
  bool Stopping = false;
  TTcpPort* Port = nullptr; // the sender of deliveries; cleared at Close
  int StopFd = -1;          // set at Close: every wait ends
  int WakeFd = -1;          // set by a write that wants a new connection

  std::thread Thread;
  std::atomic<bool> Done{false};
  std::atomic<std::thread::id> DeliveringOn{};

  void Fail(int AError, std::string AText) {
    std::lock_guard<std::mutex> Guard(Lock);
    if (Stopping)
      return;
    Phase = TTcpPhase::tpFailed;
    Error = AError;
    ErrorText = std::move(AText);
    Socket.reset();
    Changed.notify_all();
  }

  // Leaves tpUp for NewPhase when Current is still the connection in use
  // (a write and the connection thread may both notice a broken connection).
  void Leave(const std::shared_ptr<TSocket>& Current, TTcpPhase NewPhase, int AError) {
    std::lock_guard<std::mutex> Guard(Lock);
    if (Stopping || Socket != Current)
      return;
    Phase = NewPhase;
    if (AError != 0) {
      Error = AError;
      ErrorText = std::strerror(AError);
    }
    Socket.reset();
    Changed.notify_all();
  }

  bool Resolve(std::vector<sockaddr_storage>& Addresses, std::vector<socklen_t>& Lengths);
  int ConnectAny(const std::vector<sockaddr_storage>& Addresses,
                 const std::vector<socklen_t>& Lengths, int& Error);
  void ReadUntilClosed(const std::shared_ptr<TSocket>& Socket);
  void Deliver();
  bool WaitForReconnect();
  static void Run(std::shared_ptr<TLink> Link);
};

bool TTcpPort::TLink::Resolve(std::vector<sockaddr_storage>& Addresses,
                              std::vector<socklen_t>& Lengths) {
  auto Job = std::make_shared<TLookup>();
  const std::string Service = std::to_string(Address.Port);
  // An address literal needs no lookup and is read at once.
  RunLookup(Job, Address.Host, Service, AI_NUMERICHOST);
  if (Job->Result == EAI_NONAME) {
    Job = std::make_shared<TLookup>();
    if (Job->DoneFd < 0) {
      Fail(errno, std::strerror(errno));
      return false;
    }
    try {
      std::thread([Job, Host = Address.Host, Service] {
        RunLookup(Job, Host, Service, 0);
        Signal(Job->DoneFd);
      }).detach();
    } catch (const std::system_error& E) {
      Fail(E.code().value(), E.what());
      return false;
    }
    pollfd P[2] = {{Job->DoneFd, POLLIN, 0}, {StopFd, POLLIN, 0}};
    while (::poll(P, 2, -1) < 0 && errno == EINTR) {
    }
    if (P[1].revents != 0)
      return false;
  }
  std::lock_guard<std::mutex> Guard(Job->Lock);
  if (Job->Result != 0 || Job->Addresses.empty()) {
    const std::string Reason =
        Job->Result == EAI_SYSTEM ? std::strerror(Job->Errno) : ::gai_strerror(Job->Result);
    // A name that does not resolve is a missing host; a lookup that could
    // not be made (no DNS server answered) may work at the next attempt.
    const int Code = Job->Result == EAI_AGAIN ? EAGAIN : ENOENT;
    Fail(Code, "cannot find host " + Address.Host + " (" + Reason + ")");
    return false;
  }
  Addresses = Job->Addresses;
  Lengths = Job->Lengths;
  return true;
}

int TTcpPort::TLink::ConnectAny(const std::vector<sockaddr_storage>& Addresses,
                                const std::vector<socklen_t>& Lengths, int& Error) {
  // Each address in turn ("localhost" may be ::1 and 127.0.0.1, and a
  // daemon may listen on one of them only); the last failure is reported.
  Error = ECONNREFUSED;
  for (std::size_t I = 0; I < Addresses.size(); ++I) {
    const int Fd = ::socket(Addresses[I].ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (Fd < 0) {
      Error = errno;
      continue;
    }
    int Result = ::connect(Fd, reinterpret_cast<const sockaddr*>(&Addresses[I]), Lengths[I]);
    if (Result != 0 && errno == EINPROGRESS) {
      pollfd P[2] = {{Fd, POLLOUT, 0}, {StopFd, POLLIN, 0}};
      int Ready;
      while ((Ready = ::poll(P, 2, ConnectTimeoutMs)) < 0 && errno == EINTR) {
      }
      if (P[1].revents != 0) {
        ::close(Fd);
        Error = ECANCELED;
        return -1;
      }
      int SocketError = ETIMEDOUT;
      socklen_t Size = sizeof(SocketError);
      if (Ready > 0)
        ::getsockopt(Fd, SOL_SOCKET, SO_ERROR, &SocketError, &Size);
      Result = SocketError == 0 ? 0 : -1;
      errno = SocketError;
    }
    if (Result == 0) {
      // Commands are short and answered at once; none waits for another.
      const int On = 1;
      ::setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &On, sizeof(On));
      return Fd;
    }
    Error = errno;
    ::close(Fd);
  }
  return -1;
}

void TTcpPort::TLink::Deliver() {
  // On the main thread, like a serial port's receive event.
  TTcpPort* Sender;
  int Count;
  {
    std::lock_guard<std::mutex> Guard(Lock);
    if (Stopping || !Port || Rx.empty())
      return;
    Sender = Port;
    Count = static_cast<int>(Rx.size());
  }
  const TRxCharEvent Handler = Sender->OnRxChar();
  if (!Handler.Assigned())
    return;
  DeliveringOn = std::this_thread::get_id();
  struct TReset {
    std::atomic<std::thread::id>& Id;
    ~TReset() { Id = std::thread::id(); }
  } Reset{DeliveringOn};
  // Nothing of the port is touched after the handler: it may close it.
  Handler(Sender, Count);
}

void TTcpPort::TLink::ReadUntilClosed(const std::shared_ptr<TSocket>& Current) {
  char Buffer[4096];
  for (;;) {
    pollfd P[2] = {{Current->Fd, POLLIN, 0}, {StopFd, POLLIN, 0}};
    if (::poll(P, 2, -1) < 0) {
      if (errno == EINTR)
        continue;
      Leave(Current, TTcpPhase::tpFailed, errno);
      return;
    }
    if (P[1].revents != 0)
      return;
    bool Received = false;
    int Ended = -1; // -1 open, 0 closed by the daemon, else errno
    for (;;) {
      const ssize_t N = ::recv(Current->Fd, Buffer, sizeof(Buffer), MSG_DONTWAIT);
      if (N > 0) {
        std::lock_guard<std::mutex> Guard(Lock);
        Rx.append(Buffer, static_cast<std::size_t>(N));
        if (Rx.size() > MaxRxBytes)
          Rx.erase(0, Rx.size() - MaxRxBytes);
        Received = true;
        continue;
      }
      if (N < 0 && errno == EINTR)
        continue;
      if (N == 0)
        Ended = 0;
      else if (errno != EAGAIN)
        Ended = errno;
      break;
    }
    if (Received) {
      try {
        TThread::Synchronize([this] { Deliver(); });
      } catch (const std::exception& E) {
        // A receive handler that fails breaks the connection, as a failed
        // read breaks a serial port; reopening the port starts afresh.
        Fail(EIO, std::string("receive handler failed: ") + E.what());
        return;
      }
    }
    // A reset after the daemon's last reply is a close like any other: the
    // next write connects again, and only that attempt tells whether the
    // daemon is gone.
    if (Ended == 0 || Ended == ECONNRESET) {
      Leave(Current, TTcpPhase::tpPeerClosed, 0);
      return;
    }
    if (Ended > 0) {
      Leave(Current, TTcpPhase::tpFailed, Ended);
      return;
    }
    std::lock_guard<std::mutex> Guard(Lock);
    if (Socket != Current) // a write found the connection broken
      return;
  }
}

bool TTcpPort::TLink::WaitForReconnect() {
  pollfd P[2] = {{WakeFd, POLLIN, 0}, {StopFd, POLLIN, 0}};
  while (::poll(P, 2, -1) < 0)
    if (errno != EINTR)
      return false;
  if (P[1].revents != 0)
    return false;
  Drain(WakeFd);
  return true;
}

void TTcpPort::TLink::Run(std::shared_ptr<TLink> Link) {
  std::vector<sockaddr_storage> Addresses;
  std::vector<socklen_t> Lengths;
  if (Link->Resolve(Addresses, Lengths)) {
    for (;;) {
      {
        std::lock_guard<std::mutex> Guard(Link->Lock);
        if (Link->Stopping)
          break;
        Link->Phase = TTcpPhase::tpConnecting;
      }
      int Error = 0;
      const int Fd = Link->ConnectAny(Addresses, Lengths, Error);
      if (Fd < 0) {
        if (Error != ECANCELED)
          Link->Fail(Error, std::strerror(Error));
        break;
      }
      auto Current = std::make_shared<TSocket>(Fd);
      {
        std::lock_guard<std::mutex> Guard(Link->Lock);
        if (Link->Stopping)
          break;
        Link->Phase = TTcpPhase::tpUp;
        Link->Socket = Current;
        Link->Changed.notify_all();
      }
      Link->ReadUntilClosed(Current);
      {
        std::lock_guard<std::mutex> Guard(Link->Lock);
        if (Link->Stopping || Link->Phase != TTcpPhase::tpPeerClosed)
          break;
      }
      if (!Link->WaitForReconnect())
        break;
    }
  }
  Link->Done = true;
  TThread::NotifyStateChange();
}

TTcpPort::TTcpPort(TComponent* AOwner, std::uint16_t ADefaultPort)
    : TComPort(AOwner), FDefaultPort(ADefaultPort) {}

TTcpPort::~TTcpPort() {
  try {
    Close();
  } catch (...) {
  }
}

void TTcpPort::Open() {
  if (FOpen)
    return;
  auto Link = std::make_shared<TLink>();
  FLink = Link;
  std::string Error;
  if (!ParseHostPort(Port(), FDefaultPort, Link->Address, Error)) {
    Link->Phase = TTcpPhase::tpFailed;
    Link->Error = EINVAL;
    Link->ErrorText = Error;
    throw EComPort(CError_OpenFailed, EINVAL);
  }
  Link->StopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  Link->WakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (Link->StopFd < 0 || Link->WakeFd < 0) {
    Link->Fail(errno, std::strerror(errno));
    throw EComPort(CError_OpenFailed, Link->Error);
  }
  Link->Phase = TTcpPhase::tpResolving;
  Link->Port = this;
  try {
    Link->Thread = std::thread(&TLink::Run, Link);
  } catch (const std::system_error& E) {
    Link->Port = nullptr;
    Link->Fail(E.code().value(), E.what());
    throw EComPort(CError_OpenFailed, E.code().value());
  }
  FOpen = true;
}

void TTcpPort::Close() {
  if (!FOpen)
    return;
  FOpen = false;
  const std::shared_ptr<TLink> Link = FLink;
  {
    std::lock_guard<std::mutex> Guard(Link->Lock);
    Link->Stopping = true;
    Link->Port = nullptr;
    Link->Phase = TTcpPhase::tpClosed;
    Link->Socket.reset();
    Link->Changed.notify_all();
  }
  Signal(Link->StopFd);
  if (!Link->Thread.joinable())
    return;
  if (Link->DeliveringOn.load() == std::this_thread::get_id()) {
    // Closed from inside a delivery: the connection thread waits for this
    // very call to return. It ends by itself after the delivery, touching
    // nothing but the link it holds.
    Link->Thread.detach();
    return;
  }
  // A delivery the thread waits for is served meanwhile (it does nothing now).
  TThread::WaitWhileServing([&] { return Link->Done.load(); });
  Link->Thread.join();
}

bool TTcpPort::Connected() const {
  return FOpen;
}

int TTcpPort::WritePort(const std::string& Data) {
  const std::shared_ptr<TLink> Link = FLink;
  if (!FOpen || !Link)
    throw EComPort(CError_WriteFailed, EBADF);
  if (Data.empty())
    return 0;
  for (int Attempt = 0;; ++Attempt) {
    std::shared_ptr<TSocket> Current;
    {
      std::unique_lock<std::mutex> Guard(Link->Lock);
      if (Link->Phase == TTcpPhase::tpPeerClosed) {
        Link->Phase = TTcpPhase::tpConnecting;
        Signal(Link->WakeFd);
      }
      const bool Settled =
          Link->Changed.wait_for(Guard, std::chrono::milliseconds(WriteTimeoutMs), [&] {
            return Link->Stopping || Link->Phase == TTcpPhase::tpUp ||
                   Link->Phase == TTcpPhase::tpFailed;
          });
      if (Link->Stopping)
        throw EComPort(CError_WriteFailed, ECANCELED);
      if (!Settled)
        throw EComPort(CError_WriteFailed, ETIMEDOUT);
      if (Link->Phase == TTcpPhase::tpFailed)
        throw EComPort(CError_WriteFailed, Link->Error);
      Current = Link->Socket;
    }
    const auto Deadline = TClock::now() + std::chrono::milliseconds(WriteTimeoutMs);
    std::size_t Done = 0;
    int Error = 0;
    while (Done < Data.size() && Error == 0) {
      const ssize_t N =
          ::send(Current->Fd, Data.data() + Done, Data.size() - Done, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (N > 0) {
        Done += static_cast<std::size_t>(N);
      } else if (N < 0 && errno == EINTR) {
      } else if (N < 0 && errno != EAGAIN) {
        Error = errno;
      } else {
        pollfd P[2] = {{Current->Fd, POLLOUT, 0}, {Link->StopFd, POLLIN, 0}};
        const int Ready = ::poll(P, 2, MsLeft(Deadline));
        if (Ready == 0)
          Error = ETIMEDOUT;
        else if (Ready > 0 && P[1].revents != 0)
          throw EComPort(CError_WriteFailed, ECANCELED);
      }
    }
    if (Error == 0)
      return static_cast<int>(Done);
    if ((Error == EPIPE || Error == ECONNRESET) && Done == 0 && Attempt == 0) {
      // The daemon closed the connection just before this write; the
      // connection thread notices it at once, and the write goes out on a
      // new connection.
      std::unique_lock<std::mutex> Guard(Link->Lock);
      Link->Changed.wait_for(Guard, std::chrono::milliseconds(ConnectTimeoutMs),
                             [&] { return Link->Stopping || Link->Socket != Current; });
      continue;
    }
    // The connection thread is woken and leaves this connection alone.
    ::shutdown(Current->Fd, SHUT_RDWR);
    Link->Leave(Current, TTcpPhase::tpFailed, Error);
    throw EComPort(CError_WriteFailed, Error);
  }
}

int TTcpPort::ReadPort(std::string& Data, int Count) {
  Data.clear();
  const std::shared_ptr<TLink> Link = FLink;
  if (!FOpen || !Link)
    throw EComPort(CError_ReadFailed, EBADF);
  if (Count <= 0)
    return 0;
  std::lock_guard<std::mutex> Guard(Link->Lock);
  const std::size_t Take = std::min(Link->Rx.size(), static_cast<std::size_t>(Count));
  Data.assign(Link->Rx, 0, Take);
  Link->Rx.erase(0, Take);
  return static_cast<int>(Take);
}

int TTcpPort::BytesWaiting() {
  const std::shared_ptr<TLink> Link = FLink;
  if (!FOpen || !Link)
    throw EComPort(CError_ClearComFailed, EBADF);
  std::lock_guard<std::mutex> Guard(Link->Lock);
  // Bytes still in the socket count too: they are on their way to a delivery.
  int InSocket = 0;
  if (Link->Socket && ::ioctl(Link->Socket->Fd, FIONREAD, &InSocket) != 0)
    InSocket = 0;
  return static_cast<int>(Link->Rx.size()) + InSocket;
}

bool TTcpPort::Opening() const {
  const TTcpPhase Now = Phase();
  return FOpen && (Now == TTcpPhase::tpResolving || Now == TTcpPhase::tpConnecting);
}

int TTcpPort::LineFailure() const {
  return FOpen && Phase() == TTcpPhase::tpFailed ? LastErrorCode() : 0;
}

TTcpPhase TTcpPort::Phase() const {
  if (!FLink)
    return TTcpPhase::tpClosed;
  std::lock_guard<std::mutex> Guard(FLink->Lock);
  return FLink->Phase;
}

int TTcpPort::LastErrorCode() const {
  if (!FLink)
    return 0;
  std::lock_guard<std::mutex> Guard(FLink->Lock);
  return FLink->Error;
}

std::string TTcpPort::LastError() const {
  if (!FLink)
    return {};
  std::lock_guard<std::mutex> Guard(FLink->Lock);
  return FLink->ErrorText;
}

std::string TTcpPort::Address() const {
  if (!FLink || FLink->Address.Host.empty())
    return {};
  return FormatHostPort(FLink->Address);
}

} // namespace vela

// The network port on real loopback sockets: address reading, bytes both
// ways through OnRxChar on the main thread, refused and unknown hosts, and a
// flood. (A daemon that closes after every answer: tests/tools/test_rigctld.py.)
#include "cat/transport/untTcpPort.h"
#include "platform/untThread.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <functional>
#include <string>
#include <thread>

using namespace vela;

namespace {

constexpr int Generous = 15000; // ms; an upper bound for events, never a duration check

// A listening socket on 127.0.0.1 whose accepted connections are served one
// after another by Serve(fd) on a thread of its own.
class TListener {
public:
  explicit TListener(std::function<void(int)> AServe) : FServe(std::move(AServe)) {
    FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Size = sizeof(A);
    if (::bind(FFd, reinterpret_cast<sockaddr*>(&A), Size) != 0 || ::listen(FFd, 8) != 0 ||
        ::getsockname(FFd, reinterpret_cast<sockaddr*>(&A), &Size) != 0)
      throw std::runtime_error("listen failed");
    Port = ntohs(A.sin_port);
    FThread = std::thread([this] {
      for (;;) {
        const int Client = ::accept(FFd, nullptr, nullptr);
        if (Client < 0)
          return;
        ++Accepted;
        FServe(Client);
        ::close(Client);
      }
    });
  }
  ~TListener() {
    ::shutdown(FFd, SHUT_RDWR);
    ::close(FFd);
    FThread.join();
  }
  std::string Address() const { return "127.0.0.1:" + std::to_string(Port); }

  int Port = 0;
  std::atomic<int> Accepted{0};

private:
  std::function<void(int)> FServe;
  int FFd = -1;
  std::thread FThread;
};

// Reads one line from a socket; false when the peer closed first.
bool ReadLine(int Fd, std::string& Line) {
  Line.clear();
  char C;
  while (::recv(Fd, &C, 1, 0) == 1) {
    if (C == '\n')
      return true;
    Line += C;
  }
  return false;
}

void SendAll(int Fd, const std::string& Data) {
  ::send(Fd, Data.data(), Data.size(), MSG_NOSIGNAL);
}

// Collects what the port delivers, on the main thread.
class TReceiver : public TObject {
public:
  explicit TReceiver(TTcpPort& APort) : Port(APort) {
    Port.setOnRxChar(MakeMethod(this, &TReceiver::RxChar));
  }
  void RxChar(TObject* Sender, int Count) {
    OnMainThread = OnMainThread && TThread::IsMainThread() && Sender == &Port;
    std::string Data;
    Port.ReadPort(Data, Count);
    Received += Data;
  }
  bool WaitFor(const std::string& Text) {
    return TThread::WaitWhileServing([&] { return Received.find(Text) != std::string::npos; },
                                     Generous);
  }
  TTcpPort& Port;
  std::string Received;
  bool OnMainThread = true;
};

bool WaitForPhase(TTcpPort& Port, TTcpPhase Phase) {
  return TThread::WaitWhileServing([&] { return Port.Phase() == Phase; }, Generous);
}

// Writes from another thread, as the port worker does, while the main thread
// serves the deliveries; returns the errno of a failed write (0: written).
int WriteFromWorker(TTcpPort& Port, const std::string& Data) {
  std::atomic<bool> Done{false};
  int Error = 0;
  std::thread Writer([&] {
    try {
      Port.WritePort(Data);
    } catch (const EComPort& E) {
      Error = E.SystemErrorCode();
    }
    Done = true;
  });
  TThread::WaitWhileServing([&] { return Done.load(); }, Generous * 2);
  Writer.join();
  return Error;
}

} // namespace

TEST(TcpPortAddress, ReadsWhatOperatorsType) {
  const struct {
    const char* Text;
    const char* Host; // nullptr: refused
    int Port;
  } Cases[] = {
      {"localhost:4532", "localhost", 4532},
      {" rig.example.org ", "rig.example.org", 4532},
      {"192.168.1.20:4533", "192.168.1.20", 4533},
      {"[::1]:4532", "::1", 4532},
      {"[fe80::1%eth0]:7000", "fe80::1%eth0", 7000},
      {"[::1]", "::1", 4532},
      {"::1", "::1", 4532},
      {"host:65535", "host", 65535},
      {"host:1", "host", 1},
      {"", nullptr, 0},
      {"host:", nullptr, 0},
      {"host:0", nullptr, 0},
      {"host:65536", nullptr, 0},
      {"host:45x", nullptr, 0},
      {"host:-1", nullptr, 0},
      {":4532", nullptr, 0},
      {"[::1:4532", nullptr, 0},
      {"[::1]4532", nullptr, 0},
      {"[host]:4532", nullptr, 0},
      {"two words:4532", nullptr, 0},
      {"http://host:4532", nullptr, 0},
      {"1::2::3:4532x", nullptr, 0},
  };
  for (const auto& Case : Cases) {
    THostPort Address;
    std::string Error;
    const bool Read = ParseHostPort(Case.Text, 4532, Address, Error);
    EXPECT_EQ(Read, Case.Host != nullptr) << Case.Text;
    if (Read) {
      EXPECT_EQ(Address.Host, Case.Host) << Case.Text;
      EXPECT_EQ(Address.Port, Case.Port) << Case.Text;
    } else {
      EXPECT_FALSE(Error.empty()) << Case.Text;
    }
  }
  THostPort Address;
  std::string Error;
  ParseHostPort("host:99999", 4532, Address, Error);
  EXPECT_NE(Error.find("1 to 65535"), std::string::npos) << Error;
  EXPECT_EQ(FormatHostPort({"::1", 4532}), "[::1]:4532");
  EXPECT_EQ(FormatHostPort({"localhost", 4532}), "localhost:4532");
}

TEST(TcpPort, BadAddressFailsTheOpenWithItsReason) {
  TTcpPort Port;
  Port.setPort("localhost:99999");
  EXPECT_THROW(Port.Open(), EComPort);
  EXPECT_FALSE(Port.Connected());
  EXPECT_EQ(Port.Phase(), TTcpPhase::tpFailed);
  EXPECT_NE(Port.LastError().find("65535"), std::string::npos);
}

TEST(TcpPort, CarriesBytesBothWaysAndDeliversOnTheMainThread) {
  std::string Got;
  TListener Daemon([&](int Fd) {
    std::string Line;
    while (ReadLine(Fd, Line)) {
      Got += Line + "\n";
      SendAll(Fd, "echo " + Line + "\n");
    }
  });
  TTcpPort Port;
  TReceiver Receiver(Port);
  Port.setPort(Daemon.Address());
  Port.Open();
  EXPECT_TRUE(Port.Connected());
  EXPECT_EQ(WriteFromWorker(Port, "+f\n"), 0);
  ASSERT_TRUE(Receiver.WaitFor("echo +f\n"));
  EXPECT_EQ(Port.Phase(), TTcpPhase::tpUp);
  EXPECT_EQ(WriteFromWorker(Port, "+m\n"), 0);
  ASSERT_TRUE(Receiver.WaitFor("echo +m\n"));
  EXPECT_TRUE(Receiver.OnMainThread);
  EXPECT_EQ(Port.Address(), Daemon.Address());
  Port.Close();
  EXPECT_FALSE(Port.Connected());
  EXPECT_EQ(Daemon.Accepted.load(), 1);
}

TEST(TcpPort, RefusedConnectionFailsWritesWithTheReason) {
  int Closed;
  {
    TListener Gone([](int) {});
    Closed = Gone.Port;
  } // nothing listens there any more
  TTcpPort Port;
  Port.setPort("127.0.0.1:" + std::to_string(Closed));
  Port.Open();
  ASSERT_TRUE(WaitForPhase(Port, TTcpPhase::tpFailed));
  EXPECT_EQ(Port.LastErrorCode(), ECONNREFUSED);
  EXPECT_NE(Port.LastError().find("refused"), std::string::npos) << Port.LastError();
  EXPECT_EQ(WriteFromWorker(Port, "+f\n"), ECONNREFUSED);
}

TEST(TcpPort, HostThatDoesNotResolveFailsWithAClearReason) {
  TTcpPort Port;
  Port.setPort("no-such-host.invalid:4532");
  Port.Open(); // returns at once: the lookup runs on a thread of its own
  ASSERT_TRUE(WaitForPhase(Port, TTcpPhase::tpFailed));
  EXPECT_NE(Port.LastError().find("cannot find host no-such-host.invalid"), std::string::npos)
      << Port.LastError();
  Port.Close();
}

TEST(TcpPort, FloodIsBoundedAndTheNewestBytesKept) {
  std::atomic<bool> Sent{false};
  TListener Daemon([&](int Fd) {
    const std::string Block(64 * 1024, 'x');
    for (int I = 0; I < 64; ++I)
      SendAll(Fd, Block);
    SendAll(Fd, "END\n");
    Sent = true;
    std::string Line;
    ReadLine(Fd, Line); // until the port closes
  });
  TTcpPort Port; // nobody takes what it receives until the flood is over
  Port.setPort(Daemon.Address());
  Port.Open();
  EXPECT_EQ(WriteFromWorker(Port, "go\n"), 0);
  ASSERT_TRUE(TThread::WaitWhileServing([&] { return Sent.load(); }, Generous));
  std::string Tail;
  std::size_t Largest = 0;
  ASSERT_TRUE(TThread::WaitWhileServing(
      [&] {
        std::string Data;
        Port.ReadPort(Data, 1 << 30);
        Largest = std::max(Largest, Data.size());
        Tail = (Tail + Data)
                   .substr(Tail.size() + Data.size() > 16 ? Tail.size() + Data.size() - 16 : 0);
        return Tail.ends_with("END\n");
      },
      Generous));
  EXPECT_LE(Largest, TTcpPort::MaxRxBytes);
}

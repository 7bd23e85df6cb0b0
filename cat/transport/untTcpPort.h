// A TCP connection with the serial port's surface, for a radio served over
// the network by a rig-control daemon: the port worker opens, writes, reads
// and closes it as it does a serial port, and received bytes arrive through
// OnRxChar on the main thread.
//
// Nothing here blocks the thread that opens or closes the port. Open checks
// the address and starts the connection's own thread, which resolves the
// host name (on a helper thread of its own, since a resolver can hang for
// many seconds), connects and reads. A write waits, for a bounded time, for
// the connection to come up. A daemon that closes the connection after a
// reply is connected to again at the next write; a connection that cannot
// be made, or breaks, fails every write until the port is reopened, and
// LastError says why.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "cat/transport/CPort.h"
#include "cat/transport/untHostPort.h"

namespace vela {

enum class TTcpPhase : int {
  tpClosed,     // not opened, or closed
  tpResolving,  // looking up the host name
  tpConnecting, // connecting
  tpUp,         // connected
  tpPeerClosed, // the daemon closed the connection; the next write reconnects
  tpFailed,     // no connection (LastError says why) until the port is reopened
};

class TTcpPort : public TComPort {
public:
  // How long the connection thread tries to connect, and how long a write
  // waits for a connection (the daemon closed the last one) and for the
  // socket to take a command.
  static constexpr int ConnectTimeoutMs = 3000;
  static constexpr int WriteTimeoutMs = 1000;
  // Received bytes kept until read; a daemon that floods the connection
  // loses its oldest bytes, so memory stays bounded.
  static constexpr std::size_t MaxRxBytes = 64 * 1024;

  explicit TTcpPort(TComponent* AOwner = nullptr, std::uint16_t ADefaultPort = 4532);
  ~TTcpPort() override;

  // The address is the port's name (see ParseHostPort); Open parses it.
  // Open raises EComPort (open failed, EINVAL) for an address it cannot
  // read, with the reason in LastError; every other failure shows later.
  void Open() override;
  void Close() override;
  // True from a successful Open until Close, like an open serial device;
  // Phase tells whether the connection is up.
  bool Connected() const override;
  // Waits for the connection and sends all bytes (each at most
  // WriteTimeoutMs); raises EComPort (write failed, errno) when it cannot.
  // Meant for one writing thread, as the port worker has.
  int WritePort(const std::string& Data) override;
  // Takes up to Count of the received bytes; never waits.
  int ReadPort(std::string& Data, int Count) override;
  int BytesWaiting() override;
  // A network connection has no modem lines.
  void SetDtrLine(bool On) override { (void)On; }
  void SetRtsLine(bool On) override { (void)On; }
  int ModemStatus() override { return 0; }
  // A stream arrives as the network delivers it, not a character at a time.
  std::int64_t CharacterTimeNs() const override { return 0; }
  // While the host name is looked up and the connection made.
  bool Opening() const override;
  // errno of the failure that left the port without a connection (ENOENT
  // for a host name that does not resolve); 0 otherwise.
  int LineFailure() const override;

  TTcpPhase Phase() const;
  // errno of the last failure (0: none), and the reason in words
  // ("connection refused", "host name not found").
  int LastErrorCode() const;
  std::string LastError() const;
  // The address being served, as "host:port" (empty before a valid Open).
  std::string Address() const;

  struct TLink;

private:
  std::uint16_t FDefaultPort;
  std::shared_ptr<TLink> FLink;
  std::atomic<bool> FOpen{false}; // read by any thread (Connected)
};

} // namespace vela

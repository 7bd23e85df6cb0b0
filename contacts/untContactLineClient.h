// A client of a digital-mode program's TCP API, which sends one JSON object
// per line (the same objects its UDP API sends per datagram). Each line is
// handed on whole; a line longer than MaxLine is passed over up to its end.
//
// Connecting never blocks the caller: the socket connects on the event loop,
// and a connection refused or lost is tried again after FirstRetryMs,
// doubling up to LastRetryMs, until Stop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/untBackoff.h"

class QTcpSocket;
class QTimer;

namespace vela {

class TContactLineClient {
public:
  static constexpr std::size_t MaxLine = 64 * 1024;
  static constexpr int FirstRetryMs = 1000;
  static constexpr int LastRetryMs = 30000;

  using TLineSink = std::function<void(std::string_view)>;
  using TChangeSink = std::function<void()>;

  explicit TContactLineClient(TLineSink ALine, TChangeSink AChange = {});
  ~TContactLineClient();

  // Connects to "host:port" (stopping first); false with Problem set when
  // the text is no address.
  bool Start(const std::string& HostPort);
  void Stop();
  bool Connected() const;
  // "host:port" as connected to; empty when stopped.
  const std::string& Address() const { return FAddress; }
  // Why it is not connected; empty while connected or stopped.
  const std::string& Problem() const { return FProblem; }

private:
  void Connect();
  void ReadLines();
  void Lost(const std::string& Why);
  void SetProblem(std::string Text);

  TLineSink FLine;
  TChangeSink FChange;
  std::string FHost;
  std::uint16_t FPort = 0;
  std::string FAddress;
  std::string FProblem;
  std::unique_ptr<QTcpSocket> FSocket;
  std::unique_ptr<QTimer> FRetry;
  TBackoff FBackoff{FirstRetryMs, LastRetryMs};
  std::string FBuffer;
  bool FSkipping = false; // inside a line longer than MaxLine
};

} // namespace vela

// Sharing the program's radio over the network: the sharing server on the
// current driver, started, moved or stopped as the operator's options say.
// The main window and velalog-cat each own one.
#pragma once

#include <cstdint>
#include <string>

#include "sharing/untCATRigBackend.h"
#include "sharing/untRigctlServer.h"

namespace vela {

class TVelaLogSettings;

struct TSharingOptions {
  bool Enabled = false;
  std::string Address = "127.0.0.1";
  std::int32_t Port = TRigctlServer::DefaultPort;
  bool AllowPTT = false;
  std::int32_t TxTimeLimit = TRigctlServer::DefaultTxTimeLimit;

  static TSharingOptions FromSettings(const TVelaLogSettings& Settings);
  bool operator==(const TSharingOptions&) const = default;
};

// Whether Address can only be reached from this computer.
bool IsLoopbackAddress(const std::string& Address);

class TRadioSharing : public TObject {
public:
  explicit TRadioSharing(TDriverProvider AProvider);

  // Starts listening, moves to another address or port, or stops; keying
  // options take effect at once. False (ErrorText set) when the server
  // can never listen as asked; it then stays stopped. An address that is
  // taken is tried again until it is free (StatusText says so meanwhile).
  bool Apply(const TSharingOptions& Options);
  const std::string& ErrorText() const { return FErrorText; }
  // For the status line: "sharing: ADDRESS: why; trying again every 3 s"
  // while the server waits for its address; empty otherwise.
  std::string StatusText() const;
  // The server that waited for its address is up.
  void setOnListening(std::function<void()> Value) { FServer.setOnListening(std::move(Value)); }

  TRigctlServer& Server() { return FServer; }

private:
  TCATRigBackend FBackend;
  TRigctlServer FServer;
  std::string FListeningAddress;
  std::int32_t FListeningPort = 0;
  std::string FErrorText;
};

} // namespace vela

#include "sharing/untRadioSharing.h"

#include <QHostAddress>

#include "cat/transport/untListenAddress.h"
#include "settings/untVelaLogSettings.h"

namespace vela {

TSharingOptions TSharingOptions::FromSettings(const TVelaLogSettings& Settings) {
  return {Settings.blnShareEnabled(), Settings.strShareAddress(), Settings.intSharePort(),
          Settings.blnShareAllowPTT(), Settings.intShareTxLimit()};
}

bool IsLoopbackAddress(const std::string& Address) {
  QHostAddress Host;
  std::string Ignored;
  return ReadListenHost(Address, Host, Ignored) && Host.isLoopback();
}

TRadioSharing::TRadioSharing(TDriverProvider AProvider)
    : FBackend(std::move(AProvider)), FServer(FBackend) {}

bool TRadioSharing::Apply(const TSharingOptions& Options) {
  FServer.setAllowPTT(Options.AllowPTT);
  FServer.setTxTimeLimit(Options.TxTimeLimit);
  if (!Options.Enabled) {
    FServer.Close();
    FErrorText.clear();
    return true;
  }
  if ((FServer.Listening() || FServer.Waiting()) && Options.Address == FListeningAddress &&
      Options.Port == FListeningPort)
    return true;
  FListeningAddress = Options.Address;
  FListeningPort = Options.Port;
  FErrorText.clear();
  // Port 0 takes any free port (the tools and tests use it).
  if (Options.Port < 0 || Options.Port > 65535) {
    FServer.Close();
    FErrorText = "port " + std::to_string(Options.Port) + " is outside 0 to 65535";
    return false;
  }
  if (!FServer.Listen(Options.Address, static_cast<std::uint16_t>(Options.Port))) {
    FErrorText = FServer.ErrorText();
    return false;
  }
  return true;
}

std::string TRadioSharing::StatusText() const {
  return FServer.Waiting() ? "sharing: " + FServer.ErrorText() : std::string();
}

} // namespace vela

// velalog-cat's command line: read into the station's own options (the ones
// the window builds from its settings), plus what only the tool has.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "settings/untVelaLogSettings.h"
#include "station/untStation.h"

namespace vela {

struct TCatOptions {
  // The radio, its ports and baud rate, sharing and the logbook's API;
  // contacts stay off there (they come from --contacts alone, never from a
  // settings file given).
  TStationOptions Station;
  // The driver's own options, written to the settings only when given.
  std::optional<TDigiMode> Digi;
  std::optional<TTransceive> Transceive;
  std::optional<std::int32_t> CIVAddress;
  std::optional<TLinePolicy> DTR, RTS;
  std::string RigctldHost; // the rigctld radio's daemon, host:port
  std::string IniPath;     // empty: a private settings file
  std::string PortsDir, Device, VirtualDevice;
  std::string ContactsListen; // --contacts [HOST:]PORT
  std::vector<std::string> ContactsFiles;
  bool Trace = false;
  bool Exact = false;
  bool ResendRefused = false;
  // With ResendRefused: under the logbook station's callsign.
  bool FixStationCallsign = false;

  // The settings file beside which the contact queues lie: the one given,
  // else the program's own (a private file goes at the end).
  std::string SettingsFile() const;
};

// A command line that cannot run: the message shown before the usage text.
class ECatUsage : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

enum class TCatRun { crPrinted, crContacts, crStation };

// Reads the command line into Options. crPrinted: a text asked for was
// printed (help, version, radio list); crContacts: no radio, the contact
// listener alone; crStation: a radio, checked. Throws ECatUsage.
TCatRun ParseCatOptions(int argc, char** argv, TCatOptions& Options);

// With --device: the device (and the Virtual CAT device) linked as COM ports
// in PrivateDir/ports. Then points the serial layer at the ports folder.
// Throws ECatUsage when a link cannot be made.
void PrepareCatPorts(TCatOptions& Options, const std::string& PrivateDir);

// Writes the radio, its ports and the driver's options into the store, in
// one batch (the station makes its driver from the store).
void StoreCatOptions(const TCatOptions& Options, TVelaLogSettings& Settings);

} // namespace vela

// For tests only: a way into the station's current driver, radio-sharing
// server and contact listener. The window, the settings dialog and
// velalog-cat have no such way in; they use the station's public members.
#pragma once

#include "contacts/untContactListener.h"
#include "station/untStation.h"

namespace vela {

struct TStationInspector {
  static TCATInterface* CAT(TStation& Station) { return Station.FCAT.get(); }
  static TRadioSharing& Sharing(TStation& Station) { return *Station.FSharing; }
  static TContactListener& Contacts(TStation& Station) { return *Station.FListener; }
};

} // namespace vela

namespace velatest {

// The station's current driver; null without a station.
inline vela::TCATInterface* StationCAT(vela::TStation* Station) {
  return Station ? vela::TStationInspector::CAT(*Station) : nullptr;
}
inline vela::TCATInterface* StationCAT(vela::TStation& Station) {
  return vela::TStationInspector::CAT(Station);
}
// The station's sharing; null without a station.
inline vela::TRadioSharing* StationSharing(vela::TStation* Station) {
  return Station ? &vela::TStationInspector::Sharing(*Station) : nullptr;
}

// The station's own contact listener.
inline vela::TContactListener& StationContacts(vela::TStation* Station) {
  return vela::TStationInspector::Contacts(*Station);
}

} // namespace velatest

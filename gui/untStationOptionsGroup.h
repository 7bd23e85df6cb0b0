// The station options of the settings dialog's CAT group: what the page's
// "Digi" sets, the Icoms' CI-V address and whether their own change reports
// (transceive) are followed, and the DTR/RTS lines. The dialog
// builds the controls; this unit fills them from the settings store, shows
// the rows the chosen radio has, and writes what the operator changed.
#pragma once

#include <QString>

#include "settings/untVelaLogSettings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace vela {

struct TStationOptionControls {
  QLabel* lblDigiMode;      // "Digi means:" before the choice
  QComboBox* cbxDigiMode;   // items: RTTY, data; where the radio has both
  QLabel* lblDigiNote;      // in the choice's place where there is none
  QLabel* lblCIVAddress;    // "CI-V address:"
  QLineEdit* edtCIVAddress; // hexadecimal, Icoms only
  QCheckBox* chkTransceive; // follow the radio's reports (Transceive auto), Icoms only
  QComboBox* cbxDTR;        // items: on, off, keep
  QComboBox* cbxRTS;
  QLabel* lblLineNote; // the keying note, or why an address was refused
};

class TStationOptionsGroup {
public:
  // Fills the combos' items and limits the address box to two hex digits.
  explicit TStationOptionsGroup(const TStationOptionControls& AControls);

  // Shows the stored options for Radio.
  void Load(const TVelaLogSettings& Settings, TRadioType Radio);
  // Shows the rows Radio has; an address box that held the previous radio's
  // own address takes the new radio's.
  void ShowRadio(TRadioType Radio);
  // Writes the options that differ from the store. A CI-V address that is
  // not usable (outside 01h..DFh, or the controller's CCh) is refused: it is
  // not written, the box shows the address in use again and the note says
  // why; the other options are written. Restart tells whether the port
  // worker must restart (address or line changed; the driver takes a new
  // Transceive as it is). Throws the store's error.
  void Apply(TVelaLogSettings& Settings, bool& Restart);

  static const QString LineNote;
  // What Linux lets an 'off' line do, as the note's tooltip.
  static const QString LineNoteDetail;

private:
  // The address the radio uses with the stored one; 0 for a radio without.
  std::int32_t AddressInUse(const TVelaLogSettings& Settings) const;

  TStationOptionControls C;
  TRadioType FRadio = rtFlex;
};

} // namespace vela

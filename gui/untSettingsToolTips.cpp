#include "gui/untSettingsToolTips.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <utility>

#include "gui/guiContactsGroup.h"
#include "gui/guiVLogSettings.h"
#include "gui/untLogbookApiGroup.h"
#include "gui/untNetworkSharingGroup.h"

namespace vela {

namespace {

void Tip(QWidget* Control, const char* Text) {
  if (Control && Control->toolTip().isEmpty())
    Control->setToolTip(QString::fromUtf8(Text));
}

// A panel button: the tip shows over its frame and its face alike.
void Tip(TPanelButton* Button, const char* Text) {
  Tip(static_cast<QWidget*>(Button), Text);
  if (Button)
    Tip(Button->Face(), Text);
}

} // namespace

void SetSettingsToolTips(TfrmVLogSettings& D) {
  Tip(D.edtServer(), "Your web logbook's address: a URL such as http://localhost/logbook/ "
                     "or a host name. Apply sends the browser there.");
  Tip(D.lbxServerList(), "Logbooks you use. Click one to put it in the address box; "
                         "Apply makes it the one shown.");
  Tip(D.pnlAdd(), "Adds the address box's text to the list.");
  Tip(D.pnlRemove(), "Removes the selected address from the list.");
  Tip(D.edtCOM(), "The radio's port number N: COMN is ports/comN beside the settings file "
                  "(a link to your adapter), else /dev/ttyS<N-1>.");
  Tip(D.cbxDevice(), "The serial devices on this computer. Picking one links it as the COM "
                     "port's device (ports/comN); the COM number stays as it is.");
  Tip(D.cbxBaudRate(), "Bits per second: the CAT rate set in the radio's menu.");
  Tip(D.cbxRadio(), "Your radio's model, or Hamlib rigctld for any radio Hamlib drives.");
  Tip(D.pnlTestRadio(), "Asks the radio once for its frequency and mode with the port, baud "
                        "rate and radio type as entered here, before Apply. Never transmits.");
  const TStationOptionControls& O = D.StationOptionControls();
  Tip(O.cbxDigiMode, "What the page's mode Digi sets on a radio that has both: RTTY, or the "
                     "data mode FT8 and the other sound-card modes use.");
  Tip(O.edtCIVAddress, "The Icom's CI-V address in hexadecimal (01 to DF), as set in the "
                       "radio's menu; empty: the model's own (70 for the IC-7000, 94 for the "
                       "IC-7300).");
  Tip(O.chkTransceive, "Follow the Icom's own change reports (CI-V transceive on in the "
                       "radio) instead of asking it all the time.");
  Tip(O.cbxDTR, "The DTR line of the radio's port: on, off, or keep it as the system left "
                "it. Set off if your interface keys the transmitter on DTR.");
  Tip(O.cbxRTS, "The RTS line of the radio's port: on, off, or keep it as the system left "
                "it. Set off if your interface keys the transmitter on RTS.");
  Tip(D.CheckBox1(), "Forward the radio's CAT traffic through a second port, so that another "
                     "program on this computer can share the radio.");
  Tip(D.edtVirtualCOM(), "The port number of the Virtual CAT port: one end of a virtual port "
                         "pair whose other end the other program opens.");
  Tip(D.pnlCancel(), "Hides the dialog; nothing is stored.");
  Tip(D.pnlApply(), "Stores and uses everything the dialog shows.");
  Tip(D.pnlOK(), "Stores and uses everything the dialog shows, then hides the dialog.");
  if (TNetworkSharingGroup* S = D.NetworkSharing()) {
    Tip(S->chkShare(), "Lets WSJT-X, fldigi and other Hamlib programs use the radio through "
                       "VELA Log (rig model 2, NET rigctl, at the address and port below).");
    Tip(S->edtAddress(), "Where programs connect: 127.0.0.1 for this computer only, or an "
                         "address of this computer on your network.");
    Tip(S->edtPort(), "The TCP port programs connect to (4532 is Hamlib's usual one).");
    Tip(S->edtTxLimit(), "Seconds after which a transmission keyed over the network is "
                         "ended, whatever the program does.");
    Tip(S->chkAllowPTT(), "Whether network programs may key the transmitter.");
  }
  if (TContactsGroup* C = D.Contacts()) {
    Tip(C->chkEnabled(), "Fills the logbook's form with each contact WSJT-X, JTDX or JS8Call "
                         "logs (their UDP reports, or their log file).");
    Tip(C->edtListen(), "[address:]port the programs send their UDP reports to "
                        "(WSJT-X: Settings, Reporting, UDP Server).");
    Tip(C->chkSubmit(), "Presses the form's save button once a contact is filled in.");
    Tip(C->edtLogFile(), "An ADIF log file to follow: each record appended is a contact.");
    Tip(C->btnBrowse(), "Chooses the ADIF log file to follow.");
  }
  if (TLogbookApiGroup* L = D.LogbookApi()) {
    Tip(L->chkEnabled(), "Tells your Wavelog or Cloudlog the radio's frequency and mode, and "
                         "sends it the contacts, through its API.");
    Tip(L->edtUrl(), "The logbook's address, e.g. https://log.example.org/ (its root, not a "
                     "page of it).");
    Tip(L->edtKey(), "A read-write API key of the logbook (its menu: API keys).");
    Tip(L->cbxStation(), "The logbook's station the contacts go to. Test lists the stations "
                         "the key owns.");
    Tip(L->edtRadioName(), "The radio's name in the logbook's radio list.");
    Tip(L->edtTuneListen(), "[address:]port the logbook's pages call to tune the radio.");
    Tip(L->chkSelfSigned(), "Accept this one host's self-signed certificate.");
    Tip(L->btnTest(), "Asks the logbook whether it takes the key, and which stations the key "
                      "owns.");
  }
}

} // namespace vela

// The settings store: every setting of the program in one INI file, placed by
// untSettingsLocation. The file is read once, at creation; afterwards values
// come from memory and every setter writes its key through to the file at once
// (inside a TSettingsBatch: when the batch ends, all of its keys in one
// replace), so there is no save step and nothing is lost when the program ends
// abruptly. The store never writes a default of its own accord.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/untComponent.h"
#include "platform/untIniFile.h"
#include "platform/untLineSettings.h"
#include "platform/untPaths.h"

namespace vela {

// Stored as its ordinal; an ordinal read from the file that is not in the list
// is kept and handed on unchanged.
enum TRadioType : std::uint8_t {
  rtFlex,
  rtFT100D,
  rtFT897D,
  rtFT950,
  rtIC7000,
  rtIC7300,
  rtRigctld // any radio served by a rig-control daemon over TCP
};

// What the log page's "Digi" sets on a radio that has both an RTTY and a
// data (packet) mode.
enum TDigiMode : std::uint8_t { dmRTTY, dmData };

// Whether an Icom's own change reports (CI-V transceive) are followed: auto
// trusts them once they come and then reads the radio only to keep alive;
// off always polls at the full pace.
enum TTransceive : std::uint8_t { tcAuto, tcOff };

// Where contacts are listened for when nothing is set.
inline constexpr const char* DefaultContactsListen = "127.0.0.1:2237";

// The log server's host name: the default server address and server list entry.
extern const char* const DefaultLogServer;

// The most server list entries the store keeps. A count beyond it (in the
// file or given to setIntSeverListCount) is taken as this many.
constexpr std::int32_t MaxServerListCount = 1000;

class TVelaLogSettings : public TComponent {
public:
  // A relative FileName is taken in the folder of the running executable; an
  // absolute one as given. Reads the file; writes nothing.
  TVelaLogSettings(TComponent* AOwner, const std::string& FileName);
  ~TVelaLogSettings() override;

  // The full path of the settings file.
  const std::string& FileName() const;

  // Window placement. These setters write first and store after, so a failed
  // write keeps the old value.
  std::int32_t intMainTop() const { return FintMainTop; }
  void setIntMainTop(std::int32_t Value);
  std::int32_t intMainLeft() const { return FintMainLeft; }
  void setIntMainLeft(std::int32_t Value);
  std::int32_t intMainWidth() const { return FintMainWidth; }
  void setIntMainWidth(std::int32_t Value);
  std::int32_t intMainHeight() const { return FintMainHeight; }
  void setIntMainHeight(std::int32_t Value);

  // All other setters store first and write after: on a failed write the new
  // value stays in memory and the error goes to the caller.
  const std::string& strServerAddress() const { return FstrServerAddress; }
  void setStrServerAddress(const std::string& Value);

  // The number of entries of the server list.
  std::int32_t intSeverListCount() const { return static_cast<std::int32_t>(FServerList.size()); }
  // 1 or more: the list is cut or padded with empty entries (not written) and
  // the count is written. 0 or less: the list comes back to one entry holding
  // the default host (count 1 and entry 0 written); an empty list stays empty
  // with the count 1 written. Keys of dropped entries stay in the file.
  void setIntSeverListCount(std::int32_t Value);

  // An index outside the list reads as "No server index <Index>"; setting it
  // does nothing.
  std::string strServerList(std::int32_t Index) const;
  void setStrServerList(std::int32_t Index, const std::string& Value);

  std::int32_t intCommPort() const { return FintCommPort; }
  void setIntCommPort(std::int32_t Value);
  // The Virtual CAT port; 0 or less means none.
  std::int32_t intCommPort2() const { return FintCommPort2; }
  void setIntCommPort2(std::int32_t Value);
  bool blnComm2Enable() const { return FblnComm2Enable; }
  void setBlnComm2Enable(bool Value);
  TBaudRate BaudRate() const { return FBaudRate; }
  void setBaudRate(TBaudRate Value);
  TRadioType Radio() const { return FRadio; }
  void setRadio(TRadioType Value);

  // Where the rig-control daemon listens ("host:port"), for rtRigctld.
  const std::string& strRigctldAddress() const { return FstrRigctldAddress; }
  void setStrRigctldAddress(const std::string& Value);

  // Station options in "CommSettings", kept in the file as text:
  // "DigiMode" rtty|data, "DTR" and "RTS" on|off|keep (any case), and
  // "CIVAddress" in hexadecimal ("94", also "0x94", "$94", "94h"). A value
  // the program does not know reads as the default (rtty, on, and 0 for the
  // address, which stands for the radio's own; only 01h to DFh are kept) and
  // the key is left as it is until the setting is changed.
  TDigiMode DigiMode() const { return FDigiMode; }
  void setDigiMode(TDigiMode Value);
  std::int32_t intCIVAddress() const { return FintCIVAddress; }
  void setIntCIVAddress(std::int32_t Value);
  TLinePolicy DTR() const { return FDTR; }
  void setDTR(TLinePolicy Value);
  TLinePolicy RTS() const { return FRTS; }
  void setRTS(TLinePolicy Value);
  // "Transceive" in section "Station": auto|off (any case; anything else
  // reads as auto).
  TTransceive Transceive() const { return FTransceive; }
  void setTransceive(TTransceive Value);
  // One operator action, one write: between BeginUpdate and the matching
  // EndUpdate (they nest) the setters' writes are collected and EndUpdate
  // replaces the file once, raising the write error. Use TSettingsBatch
  // (settings/untSettingsBatch.h) rather than calling these directly.
  void BeginUpdate() { FIniFile->BeginUpdate(); }
  void EndUpdate() { FIniFile->EndUpdate(); }

  // Sharing the radio over the network (section "NetworkSharing"): the
  // switch, the listening address and port, whether clients may key the
  // transmitter, and the seconds of keying after which it is released.
  bool blnShareEnabled() const { return FblnShareEnabled; }
  void setBlnShareEnabled(bool Value);
  std::int32_t intSharePort() const { return FintSharePort; }
  void setIntSharePort(std::int32_t Value);
  const std::string& strShareAddress() const { return FstrShareAddress; }
  void setStrShareAddress(const std::string& Value);
  bool blnShareAllowPTT() const { return FblnShareAllowPTT; }
  void setBlnShareAllowPTT(bool Value);
  std::int32_t intShareTxLimit() const { return FintShareTxLimit; }
  void setIntShareTxLimit(std::int32_t Value);

  // Contacts from the digital-mode programs (section "Contacts"): the
  // switch, where to listen ("[host:]port") and whether the form is
  // submitted after a contact filled it. "ContactFields" maps a contact's
  // field (its ADIF name, e.g. rst_sent) to the name of a field of the log
  // page's form; read from the file each time.
  bool blnContactsEnabled() const { return FblnContactsEnabled; }
  void setBlnContactsEnabled(bool Value);
  const std::string& strContactsListen() const { return FstrContactsListen; }
  void setStrContactsListen(const std::string& Value);
  bool blnContactsSubmit() const { return FblnContactsSubmit; }
  void setBlnContactsSubmit(bool Value);
  // The network interface a multicast group is joined on ("Interface", by
  // name, e.g. eth0); empty: the loopback interface only. Set in the file.
  const std::string& strContactsInterface() const { return FstrContactsInterface; }
  std::vector<std::pair<std::string, std::string>> ContactFields() const;
  // ADIF log files followed for contacts ("LogFile0" to "LogFile15", empty
  // ones skipped); read from the file each time. Setting writes the list
  // from LogFile0 on and empties the keys after it.
  static constexpr int MaxContactsLogFiles = 16;
  // A program's TCP API to read contacts from ("Js8CallTcp", host:port);
  // empty: none. Set in the file; read from it each time.
  std::string strContactsJs8CallTcp() const;
  std::vector<std::string> ContactsLogFiles() const;
  void setContactsLogFiles(const std::vector<std::string>& Paths);
  // Serving a web logbook through its API (section "LogbookApi"): the
  // switch, the logbook's address, its station for contacts (0: the key
  // owner's active one), the radio's name there (empty: the radio table's
  // display name), the click-to-tune listener's "[HOST:]PORT" ("off": none),
  // the one host whose self-signed certificate is accepted, and the API key
  // where no keyring keeps it.
  bool blnLogbookApiEnabled() const { return FblnLogbookApiEnabled; }
  void setBlnLogbookApiEnabled(bool Value);
  const std::string& strLogbookApiUrl() const { return FstrLogbookApiUrl; }
  void setStrLogbookApiUrl(const std::string& Value);
  std::int32_t intLogbookStationId() const { return FintLogbookStationId; }
  void setIntLogbookStationId(std::int32_t Value);
  const std::string& strLogbookRadioName() const { return FstrLogbookRadioName; }
  void setStrLogbookRadioName(const std::string& Value);
  const std::string& strLogbookTuneListen() const { return FstrLogbookTuneListen; }
  void setStrLogbookTuneListen(const std::string& Value);
  // Where the live radio channel for the logbook's pages listens; "off":
  // nowhere.
  const std::string& strLogbookLiveListen() const { return FstrLogbookLiveListen; }
  void setStrLogbookLiveListen(const std::string& Value);
  // Web origins beside the logbook's own whose pages may use click-to-tune,
  // separated by blanks.
  const std::string& strLogbookTuneOrigins() const { return FstrLogbookTuneOrigins; }
  void setStrLogbookTuneOrigins(const std::string& Value);
  const std::string& strLogbookSelfSignedHost() const { return FstrLogbookSelfSignedHost; }
  void setStrLogbookSelfSignedHost(const std::string& Value);
  const std::string& strLogbookApiKey() const { return FstrLogbookApiKey; }
  void setStrLogbookApiKey(const std::string& Value);
  // Which logbook answers: "auto" (found out), "wavelog" or "cloudlog".
  const std::string& strLogbookKind() const { return FstrLogbookKind; }
  void setStrLogbookKind(const std::string& Value);

private:
  void Load();

  std::string FFileName;
  std::unique_ptr<TIniFile> FIniFile;
  std::vector<std::string> FServerList;
  std::int32_t FintMainTop = 0;
  std::int32_t FintMainLeft = 0;
  std::int32_t FintMainWidth = 1260;
  std::int32_t FintMainHeight = 770;
  std::string FstrServerAddress;
  std::int32_t FintCommPort = 1;
  std::int32_t FintCommPort2 = 0;
  bool FblnComm2Enable = false;
  TBaudRate FBaudRate = br4800;
  TRadioType FRadio = rtFlex;
  TDigiMode FDigiMode = dmRTTY;
  std::int32_t FintCIVAddress = 0;
  TLinePolicy FDTR = lpOn;
  TLinePolicy FRTS = lpOn;
  TTransceive FTransceive = tcAuto;
  bool FblnShareEnabled = false;
  std::int32_t FintSharePort = 4532;
  std::string FstrShareAddress = "127.0.0.1";
  bool FblnShareAllowPTT = false;
  std::int32_t FintShareTxLimit = 180;
  std::string FstrRigctldAddress;
  bool FblnContactsEnabled = false;
  std::string FstrContactsListen = DefaultContactsListen;
  bool FblnContactsSubmit = false;
  std::string FstrContactsInterface;
  bool FblnLogbookApiEnabled = false;
  std::string FstrLogbookApiUrl;
  std::int32_t FintLogbookStationId = 0;
  std::string FstrLogbookRadioName;
  std::string FstrLogbookTuneListen;
  std::string FstrLogbookLiveListen;
  std::string FstrLogbookTuneOrigins;
  std::string FstrLogbookSelfSignedHost;
  std::string FstrLogbookApiKey;
  std::string FstrLogbookKind;
};

// Where the click-to-tune listener listens unless set otherwise: this
// computer only, on the port the logbooks call by default.
extern const char* const DefaultLogbookTuneListen;
// Where the live radio channel listens unless set otherwise: the address
// the logbook's pages open.
extern const char* const DefaultLogbookLiveListen;

// The daemon's address when none is set: its own default port on this host.
extern const char* const DefaultRigctldAddress;

// Writes the radio's ports and baud rate, the one place they are stored;
// false (nothing written) when the store holds them already.
bool StoreRadioPorts(TVelaLogSettings& Settings, std::int32_t ComPort, std::int32_t ComPort2,
                     bool Com2Enable, TBaudRate BaudRate);

// The texts of the station options, as stored ("rtty", "on", "94").
const char* DigiModeText(TDigiMode Value);
const char* LinePolicyText(TLinePolicy Value);
const char* TransceiveText(TTransceive Value);
std::string CIVAddressText(std::int32_t Address);
// Reads a CI-V address as stored; 0 for anything but 01h to DFh.
std::int32_t ParseCIVAddress(std::string_view Text);

} // namespace vela

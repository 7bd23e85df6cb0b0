// The settings store: every setting of the program in one INI file beside the
// executable. The file is read once, at creation; afterwards values come from
// memory and every setter writes its key through to the file at once, so there
// is no save step and nothing is lost when the program ends abruptly. The
// store never writes a default of its own accord.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/untComponent.h"
#include "platform/untIniFile.h"
#include "serial/CPortTypes.h"

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
  std::string FstrRigctldAddress;
};

// The daemon's address when none is set: its own default port on this host.
extern const char* const DefaultRigctldAddress;

// The folder of the running executable, with a trailing "/".
std::string ExecutableFolder();

} // namespace vela

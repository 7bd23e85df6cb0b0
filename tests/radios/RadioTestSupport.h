// Drivers under test run with their real port worker, pointed at a port that
// does not exist: the worker runs and writes nothing, and the tests call the
// driver's operations directly and record what OnRxData reports.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "cat/radios/untBandPlan.h"
#include "cat/transport/CPort.h"
#include "cat/untCATinterface.h"
#include "settings/untVelaLogSettings.h"

namespace vela::test {

// A port number that no folder entry names.
constexpr int AbsentPort = 200;

inline std::string Bytes(std::initializer_list<int> Values) {
  std::string Result;
  for (int V : Values)
    Result += static_cast<char>(V);
  return Result;
}

struct TRxRecord {
  TObject* Sender;
  std::string Band, Frequency, Mode;
};

class TRxRecorder : public TObject {
public:
  // Recorded as the page shows the value.
  void RxData(TObject* Sender, const TRadioValue& Value) {
    TPageTexts Texts = PageTexts(Value);
    Events.push_back(
        {Sender, std::move(Texts.Band), std::move(Texts.Frequency), std::move(Texts.Mode)});
  }
  std::vector<TRxRecord> Events;
};

// A temporary folder with an empty ports folder and a settings file whose
// radio port is AbsentPort.
class TDriverEnvironment {
public:
  TDriverEnvironment() {
    std::string Template = (std::filesystem::temp_directory_path() / "vela-radios-XXXXXX").string();
    if (!mkdtemp(Template.data()))
      throw std::runtime_error("mkdtemp failed");
    FDir = Template;
    std::filesystem::create_directory(FDir / "ports");
    TCustomComPort::SetPortsDir((FDir / "ports").string());
    Settings = std::make_unique<TVelaLogSettings>(nullptr, (FDir / "VelaLog.ini").string());
    Settings->setIntCommPort(AbsentPort);
    // Nothing listens on TCP port 1 here: a network radio's connection is refused.
    Settings->setStrRigctldAddress("127.0.0.1:1");
  }
  ~TDriverEnvironment() {
    Settings.reset();
    std::error_code Ignored;
    std::filesystem::remove_all(FDir, Ignored);
  }

  // Creates a driver with the recorder assigned to its OnRxData.
  template <class TDriver> std::unique_ptr<TDriver> Create() {
    auto Driver = std::make_unique<TDriver>(nullptr, Settings.get());
    Driver->setOnRxData(MakeMethod(&Recorder, &TRxRecorder::RxData));
    return Driver;
  }

  std::unique_ptr<TVelaLogSettings> Settings;
  TRxRecorder Recorder;

private:
  std::filesystem::path FDir;
};

inline std::string NextCommand(TCATInterface& Driver) {
  std::string Command;
  Driver.GetNextCommand(nullptr, Command);
  return Command;
}

inline void Feed(TCATInterface& Driver, const std::string& Data) {
  Driver.ParseReply(nullptr, Data, static_cast<int>(Data.size()));
}

} // namespace vela::test

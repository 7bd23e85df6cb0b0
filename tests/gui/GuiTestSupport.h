// Shared pieces of the window tests: a scratch folder with its own settings
// file and ports folder, a browser stand-in that records navigations, waiting
// on the event loop with a bound, and catching the standard error box.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/PtyPair.h"
#include "gui/guiVLogSettings.h"

namespace velatest {

class TRecordingNavigator : public vela::TBrowserNavigator {
public:
  void Navigate(const std::string& Address) override { Navigations.push_back(Address); }
  std::vector<std::string> Navigations;
};

// A scratch folder holding "VelaLog.ini" and "ports/", made the process's
// folder for com<n> links while it lives.
class TScratch {
public:
  TScratch();
  ~TScratch();
  std::string IniPath() const;
  std::string PortsDir() const;
  // Writes the settings file's text before the store reads it.
  void WriteIni(const std::string& Text) const;
  std::string ReadIni() const;
  // Makes "ports/com<N>" a link to Device.
  void LinkPort(int N, const std::string& Device) const;

private:
  QTemporaryDir FDir;
};

// A pseudo-terminal pair: the test keeps the master end and plays the radio;
// the code under test opens the slave, through a "comN" link.
using TPty = vela::test::TPtyPair;

// Spins the event loop until Done() holds or TimeoutMs passes; returns Done().
bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs = 10000);

// Runs Action and closes every modal message box that it opens; returns their
// texts in order.
std::vector<QString> CatchMessageBoxes(const std::function<void()>& Action);

// The value of Key in the settings file's text ("" when missing).
std::string IniValue(const std::string& IniText, const std::string& Key);

} // namespace velatest

// A station for the main window's tests: the sample logbook server on a free
// port, the radio simulator on a pty linked as COM1 in a temporary folder,
// and a settings file there that points at both.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vela {
class TWebBrowser;
}

namespace velatest {

// Messages the error box was asked to show, oldest first.
void RecordErrorBox(const std::string& Message);
std::vector<std::string> ErrorBoxes();
void ClearErrorBoxes();

// Spins the event loop until Done() holds or TimeoutMs passes; returns Done().
bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs = 30000);

// The entry form's six fields as the page shows them (empty map: no form).
std::map<std::string, std::string> ReadForm(vela::TWebBrowser& Browser);
// Runs Script in the program's isolated world and ignores the result.
void RunPageScript(vela::TWebBrowser& Browser, const std::string& Script);

class TRadioSim {
public:
  TRadioSim(const QString& Radio, const QString& Link, const QString& Freq, const QString& Mode);
  ~TRadioSim();
  bool Ready() const { return FReady; }
  void Send(const std::string& Line);
  // Lines printed so far (freq/mode/cmd/...).
  std::vector<std::string> Lines() const { return FLines; }
  bool Printed(const std::string& Line) const;
  bool PrintedPrefix(const std::string& Prefix) const;
  void ClearLines() { FLines.clear(); }

private:
  QProcess FProcess;
  std::vector<std::string> FLines;
  std::string FPartial;
  bool FReady = false;
};

// What a window's test runs beside it: the radio simulator on a pty, the
// sample logbook served on 127.0.0.1 and a settings folder naming both.
class TTestShack {
public:
  // Radio: the simulator's radio name; RadioType: the stored radio ordinal;
  // StartPath: the sample logbook's page the settings file names as the
  // server address.
  explicit TTestShack(const QString& Radio = "ft950", int RadioType = 3, bool WriteIni = true,
                      const std::string& StartPath = "/");
  ~TTestShack();

  std::string Folder() const;
  std::string IniPath() const;
  std::string Url(const std::string& Path = "/") const;
  int Port() const { return FPort; }
  TRadioSim& Sim() { return *FSim; }
  // Replaces the simulator (e.g. by another radio) on the same link.
  void RestartSim(const QString& Radio, const QString& Freq, const QString& Mode);
  bool Started() const { return FPort > 0 && FSim && FSim->Ready(); }

private:
  QTemporaryDir FDir;
  QProcess FServer;
  int FPort = 0;
  std::unique_ptr<TRadioSim> FSim;
};

} // namespace velatest

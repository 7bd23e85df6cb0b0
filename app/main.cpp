// VELA Log: the program's start. Reads the command line, finds the settings
// file, creates the application object and the main window, and runs the
// message loop until the main window closes.
#include <QIcon>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <libintl.h>
#include <string>
#include <vector>

#include "app/guiVelaLogMain.h"
#include "app/untCommandLine.h"
#include "app/untVelaLogApplication.h"
#include "cat/transport/CPort.h"
#include "gui/untErrorBox.h"
#include "logpage/untWebBrowser.h"
#include "platform/untPaths.h"
#include "platform/untShutdownSignals.h"
#include "settings/untSettingsLocation.h"
#include "settings/untSettingsLock.h"
#include "untProgramInfo.h"

namespace {

void InitMessageCatalogue() {
  std::setlocale(LC_ALL, "");
  vela::BindCatalogue("velalog");
  textdomain("velalog");
}

// The settings file by the command line or the location rule; empty after
// printing why the named one cannot be used or why there is none.
std::string SettingsFile(const vela::TCommandLine& CommandLine) {
  try {
    if (!CommandLine.SettingsFile.empty())
      return vela::CheckSettingsFile(CommandLine.SettingsFile);
  } catch (const std::exception& E) {
    std::fprintf(stderr, "velalog: %s\n", E.what());
    return "";
  }
  const std::string Chosen = vela::ChooseSettingsFile(vela::CurrentSettingsLocationFacts());
  if (Chosen.empty())
    std::fprintf(stderr, "velalog: no folder for the settings: HOME is not set and the program "
                         "lies in a system folder; name a file with --settings FILE\n");
  return Chosen;
}

} // namespace

int main(int argc, char** argv) {
  vela::TShutdownSignals::Install();
  InitMessageCatalogue();

  const vela::TCommandLine CommandLine = vela::ParseCommandLine(argc, argv);
  switch (CommandLine.Action) {
  case vela::TCommandLine::caHelp:
  case vela::TCommandLine::caVersion:
    std::fputs(CommandLine.Text.c_str(), stdout);
    return 0;
  case vela::TCommandLine::caError:
    std::fprintf(stderr, "velalog: %s\nTry 'velalog --help' for more information.\n",
                 CommandLine.Text.c_str());
    return vela::UsageExitStatus;
  case vela::TCommandLine::caRun:
    break;
  }
  const std::string Settings = SettingsFile(CommandLine);
  if (Settings.empty())
    return vela::UsageExitStatus;
  vela::PrepareSettingsFolder(Settings);
  vela::TCustomComPort::SetPortsDir(vela::PortsFolderBeside(Settings));

  vela::TWebBrowser::PrepareEnvironment();
  // The application object sees only the arguments meant for the browser
  // engine; they must outlive it.
  std::vector<std::string> Arguments = CommandLine.ApplicationArguments;
  std::vector<char*> ApplicationArgv;
  for (std::string& Argument : Arguments)
    ApplicationArgv.push_back(Argument.data());
  ApplicationArgv.push_back(nullptr);
  int ApplicationArgc = static_cast<int>(Arguments.size());

  vela::TVelaLogApplication Application(ApplicationArgc, ApplicationArgv.data());
  // The name on the task bar and in the error box.
  Application.setApplicationName(QStringLiteral("VELA Log"));
  Application.setDesktopFileName(QString::fromLatin1(vela::VelaLogDesktopId));
  Application.setWindowIcon(QIcon::fromTheme(QString::fromLatin1(vela::VelaLogDesktopId),
                                             QIcon(QStringLiteral(":/velalog.png"))));
  vela::TShutdownSignals Signals([&Application](int) { Application.CloseAllAndQuit(); });

  // One copy at a time on a settings file.
  vela::TSettingsLock Lock;
  if (std::string InUse; !Lock.Take(Settings, "velalog", InUse)) {
    std::fprintf(stderr, "velalog: %s\n", InUse.c_str());
    vela::ShowErrorMessage(QString::fromStdString(InUse));
    return 1;
  }
  vela::TfrmVelaLogMain frmVelaLogMain(nullptr, Settings);
  frmVelaLogMain.show();
  if (const std::string Problem = vela::TSettingsLock::FileProblem(Settings); !Problem.empty())
    QTimer::singleShot(0, [Problem] { vela::ShowErrorMessage(QString::fromStdString(Problem)); });
  return Application.exec();
}

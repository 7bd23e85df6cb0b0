// The program's command line: --help, --version and --settings FILE. It is
// read before the application object exists, so that --help and --version
// work without a display. Everything after --webEngineArgs belongs to the
// browser engine.
#pragma once

#include <string>
#include <vector>

namespace vela {

struct TCommandLine {
  enum TAction { caRun, caHelp, caVersion, caError };
  TAction Action = caRun;
  // The settings file named with --settings; empty: by the location rule.
  std::string SettingsFile;
  // The help text, the version line or the error message.
  std::string Text;
  // The arguments for the application object: the program name, then
  // --webEngineArgs and what follows it, when given.
  std::vector<std::string> ApplicationArguments;
};

TCommandLine ParseCommandLine(int argc, char** argv);

// The exit status of a command line that could not be used.
constexpr int UsageExitStatus = 2;

} // namespace vela

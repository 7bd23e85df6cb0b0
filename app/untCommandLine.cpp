#include "app/untCommandLine.h"

#include <QCommandLineParser>
#include <QStringList>

#include "untProgramInfo.h"

namespace vela {

namespace {

const char* const EngineArgumentsMark = "--webEngineArgs";

const char* const HelpFooter =
    "\n"
    "Settings are kept in $XDG_CONFIG_HOME/velalog/VelaLog.ini (~/.config/velalog/)\n"
    "for the installed program and a source build alike, for every user, root\n"
    "included. A copy in a folder of its own keeps VelaLog.ini beside the program\n"
    "when that folder already holds one (put an empty one there to make a copy\n"
    "portable). COMn names ports/comN beside the settings file when it exists,\n"
    "else /dev/ttyS<N-1>.\n"
    "Arguments after --webEngineArgs go to the browser engine.\n";

} // namespace

TCommandLine ParseCommandLine(int argc, char** argv) {
  TCommandLine Result;
  QStringList Ours;
  const std::string Program = argc > 0 && argv[0] ? argv[0] : "velalog";
  Ours << QString::fromLocal8Bit(Program.c_str());
  Result.ApplicationArguments.push_back(Program);
  bool Engine = false;
  for (int I = 1; I < argc; ++I) {
    Engine = Engine || std::string(argv[I]) == EngineArgumentsMark;
    if (Engine)
      Result.ApplicationArguments.push_back(argv[I]);
    else
      Ours << QString::fromLocal8Bit(argv[I]);
  }

  QCommandLineParser Parser;
  Parser.setApplicationDescription(
      QStringLiteral("VELA Log: a web logbook in a window, filled with band, frequency and\n"
                     "mode from the station's transceiver over CAT."));
  const QCommandLineOption Help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("Show this help and exit."));
  const QCommandLineOption Version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                   QStringLiteral("Show the version and exit."));
  Parser.addOption(Help);
  Parser.addOption(Version);
  const QCommandLineOption Settings(QStringLiteral("settings"),
                                    QStringLiteral("Use <file> as the settings file."),
                                    QStringLiteral("file"));
  Parser.addOption(Settings);

  if (!Parser.parse(Ours)) {
    Result.Action = TCommandLine::caError;
    Result.Text = Parser.errorText().toStdString();
  } else if (Parser.isSet(Help)) {
    Result.Action = TCommandLine::caHelp;
    // The parser knows the program's name only once an application object
    // exists.
    QString Text = Parser.helpText();
    Text.replace(QStringLiteral("<executable_name>"), QStringLiteral("velalog"));
    Result.Text = Text.toStdString() + HelpFooter;
  } else if (Parser.isSet(Version)) {
    Result.Action = TCommandLine::caVersion;
    Result.Text = std::string("velalog ") + VelaLogVersion + "\n";
  } else if (!Parser.positionalArguments().isEmpty()) {
    Result.Action = TCommandLine::caError;
    Result.Text = "Unexpected argument: " + Parser.positionalArguments().first().toStdString();
  } else if (Parser.isSet(Settings) && Parser.value(Settings).isEmpty()) {
    Result.Action = TCommandLine::caError;
    Result.Text = "--settings needs a file name";
  } else {
    Result.SettingsFile = Parser.value(Settings).toStdString();
  }
  return Result;
}

} // namespace vela

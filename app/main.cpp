// VELA Log: the program's start. Creates the application object and the main
// window, and runs the message loop until the main window closes.
#include <QIcon>
#include <clocale>
#include <libintl.h>
#include <string>
#include <sys/stat.h>

#include "app/guiVelaLogMain.h"
#include "app/untVelaLogApplication.h"
#include "logpage/untWebBrowser.h"
#include "settings/untVelaLogSettings.h"

namespace {

// The program's message catalogues: locale/ beside the executable first, the
// installed ones otherwise.
void InitMessageCatalogue() {
  std::setlocale(LC_ALL, "");
  const std::string Local = vela::ExecutableFolder() + "locale";
  struct stat Info {};
  if (::stat(Local.c_str(), &Info) == 0 && S_ISDIR(Info.st_mode))
    bindtextdomain("velalog", Local.c_str());
  bind_textdomain_codeset("velalog", "UTF-8");
  textdomain("velalog");
}

} // namespace

int main(int argc, char** argv) {
  InitMessageCatalogue();
  vela::TWebBrowser::PrepareEnvironment();

  vela::TVelaLogApplication Application(argc, argv);
  // The name on the task bar and in the error box.
  Application.setApplicationName(QStringLiteral("VELA Log"));

  vela::TfrmVelaLogMain frmVelaLogMain;
  frmVelaLogMain.show();
  return Application.exec();
}

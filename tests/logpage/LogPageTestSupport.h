// Shared pieces of the browser and log page tests: the sample logbook server
// (run as a child process on 127.0.0.1 with a folder of test pages), waiting
// on the event loop with a bound, and script helpers.
#pragma once

#include "BrowserScript.h"
#include "logpage/untLogPHPinterface.h"
#include "logpage/untWebBrowser.h"

#include <QString>
#include <QVariant>
#include <functional>
#include <string>

namespace velatest {

// Counts exceptions that escape an event handler, as the program's
// application object shows them in its error box.
int EscapedErrorCount();
std::string LastEscapedError();
void RecordEscapedError(const std::string& Message);

// The server, started by main() before the tests run.
bool StartServer(QString* Error);
void StopServer();
// http://127.0.0.1:<port><Path>
std::string ServerUrl(const std::string& Path);
int ServerPort();
// Writes a test page into the folder served under /static/.
void WriteStaticPage(const std::string& Name, const std::string& Html);

// Spins the event loop until Done() holds or TimeoutMs passes; returns Done().
bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs = 20000);

// Runs Script in the page's main world (the page's own scripts' world) and
// returns its result.
QVariant RunMainWorld(vela::TWebBrowser& Browser, const QString& Script);

// Starts a page walk and waits until it has ended; false when it did not end
// in time.
bool ScanAndWait(vela::TLogPHPinterface& Bridge);

// Navigates and waits until the page has finished loading and Reports
// document-complete notifications have arrived.
bool LoadAndWait(vela::TWebBrowser& Browser, const std::string& Address, int Reports);

} // namespace velatest

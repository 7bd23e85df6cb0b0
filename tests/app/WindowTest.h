// The fixture of the main window's tests: the window opened on a station's
// settings file, and the entry form as the page shows it.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "AppTestSupport.h"
#include "app/guiVelaLogMain.h"
#include "logpage/untWebBrowser.h"

namespace velatest {

using TForm = std::map<std::string, std::string>;

// A field's value, or "<none>" when the page shows no such field.
inline std::string Field(const TForm& Form, const std::string& Name) {
  auto It = Form.find(Name);
  return It == Form.end() ? std::string("<none>") : It->second;
}

class TWindowTest : public ::testing::Test {
protected:
  void SetUp() override { ClearErrorBoxes(); }

  // Creates and shows the window on the station's settings file.
  vela::TfrmVelaLogMain& Open(TTestShack& Shack) {
    FWindow = std::make_unique<vela::TfrmVelaLogMain>(nullptr, Shack.IniPath());
    FWindow->show();
    return *FWindow;
  }

  TForm Form() { return ReadForm(*FWindow->wbrLogBook); }

  // Waits until the form's fields satisfy Check; the last form read is kept
  // for the failure message.
  bool WaitForm(const std::function<bool(const TForm&)>& Check, int TimeoutMs = 45000) {
    return WaitUntil(
        [&] {
          FLast = Form();
          return !FLast.empty() && Check(FLast);
        },
        TimeoutMs);
  }
  bool WaitRadioFields(const std::string& Band, const std::string& Freq, const std::string& Mode) {
    return WaitForm([&](const TForm& F) {
      return Field(F, "log_band") == Band && Field(F, "log_freq") == Freq &&
             Field(F, "log_mode") == Mode;
    });
  }
  // The last form read, for failure messages.
  std::string Dump() const {
    std::string Text;
    for (const auto& [Key, Value] : FLast)
      Text += Key + "=" + Value + " ";
    return Text;
  }

  std::unique_ptr<vela::TfrmVelaLogMain> FWindow;
  TForm FLast;
};

} // namespace velatest

// Asks a radio once, with port settings that need not be applied yet: a
// driver of its own on a private settings file polls the radio until it
// reports its frequency, its port fails, or a few seconds pass, and the
// outcome is one line for the operator ("14.074000 MHz USB", or the link's
// state in the words of the status strip). Polls only: it never keys the
// transmitter. The port must be free; the station's own link is answered from
// the station's driver when it is on the same settings.
#pragma once

#include <QObject>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>

#include "cat/untCATinterface.h"
#include "settings/untVelaLogSettings.h"

class QTimer;

namespace vela {

struct TRadioProbeSettings {
  TRadioType Radio = rtFlex;
  int ComPort = 1;
  TBaudRate BaudRate = br4800;
};

// "14.074000 MHz USB" (the mode by its Hamlib name, else the page's word).
std::string RadioAnswerText(const TRadioValue& Value);

class TRadioProbe : public QObject {
public:
  // How long the radio has to answer.
  static constexpr int AnswerMs = 4000;
  // (Answered, Text)
  using TDone = std::function<void(bool, const std::string&)>;

  // Starts at once; Done follows from the event loop, once. Stored: the
  // settings the new ones are taken over (CI-V address, the control lines,
  // rigctld's address). Running: the station's driver, or null.
  TRadioProbe(const TVelaLogSettings& Stored, const TRadioProbeSettings& Settings,
              const TCATInterface* Running, TDone Done);
  ~TRadioProbe() override;

private:
  void RxData(TObject* Sender, const TRadioValue& Value);
  void LinkChange(TObject* Sender);
  void TimedOut();
  void Finish(bool Answered, std::string Text);

  TDone FDone;
  QTemporaryDir FDir;
  std::unique_ptr<TVelaLogSettings> FSettings;
  std::unique_ptr<TCATInterface> FDriver;
  QTimer* FTimer;
  bool FFinished = false;
};

} // namespace vela

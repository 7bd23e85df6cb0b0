// Test radio: one question to a radio on settings not applied yet, answered
// in the words the operator sees. A simulated FT-950 answers; a link to
// nothing, a line that answers garbage, a port another program holds and the
// station's own port on other settings each say what is wrong.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <filesystem>
#include <functional>
#include <optional>
#include <sys/file.h>

#include "cat/transport/CPort.h"
#include "common/PtyPair.h"
#include "common/StationInspector.h"
#include "settings/untSettingsBatch.h"
#include "station/untRadioProbe.h"
#include "station/untStation.h"
#include "tools/radiosim/untRadioSim.h"

using namespace vela;

namespace {

// The master end of a pty answering what comes in.
struct TResponder {
  test::TPtyPair Line;
  std::function<std::string(const std::string&)> Answer;
  void Pump() {
    char Buffer[512];
    ssize_t N;
    std::string In;
    while ((N = ::read(Line.Master(), Buffer, sizeof Buffer)) > 0)
      In.append(Buffer, static_cast<std::size_t>(N));
    if (!In.empty())
      if (const std::string Out = Answer(In); !Out.empty())
        Line.Send(Out);
  }
};

struct TOutcome {
  bool Answered = false;
  std::string Text;
};

// Runs one probe to its end, keeping the responders answering.
std::optional<TOutcome> Probe(const TVelaLogSettings& Stored, const TRadioProbeSettings& Entered,
                              const TCATInterface* Running,
                              const std::vector<TResponder*>& Responders) {
  std::optional<TOutcome> Result;
  TRadioProbe P(Stored, Entered, Running, [&](bool Answered, const std::string& Text) {
    Result = TOutcome{Answered, Text};
  });
  QElapsedTimer Timer;
  Timer.start();
  while (!Result && Timer.elapsed() < 30000) {
    for (TResponder* R : Responders)
      R->Pump();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return Result;
}

} // namespace

TEST(RadioProbe, AsksOnceAndSaysWhatCameBack) {
  QTemporaryDir Dir;
  ASSERT_TRUE(Dir.isValid());
  const std::filesystem::path Ports = Dir.filePath("ports").toStdString();
  std::filesystem::create_directories(Ports);
  TCustomComPort::SetPortsDir(Ports.string());

  auto Sim = radiosim::CreateRadioCore("ft950");
  Sim->setFrequency(14074000);
  Sim->setMode("usb");
  TResponder Radio{{}, [&](const std::string& In) {
                     Sim->Receive(In);
                     return Sim->TakeOutput();
                   }};
  TResponder Garbage{{}, [](const std::string&) { return std::string("\x01zz?\xfe;"); }};
  test::TPtyPair Held;
  const int Holder = ::open(Held.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(Holder, 0);
  ASSERT_EQ(::flock(Holder, LOCK_EX | LOCK_NB), 0);
  std::filesystem::create_symlink(Radio.Line.SlavePath(), Ports / "com1");
  std::filesystem::create_symlink(Ports / "nothing", Ports / "com2");
  std::filesystem::create_symlink(Garbage.Line.SlavePath(), Ports / "com3");
  std::filesystem::create_symlink(Held.SlavePath(), Ports / "com4");

  TVelaLogSettings Stored(nullptr, Dir.filePath("VelaLog.ini").toStdString());
  const struct {
    const char* Name;
    int Port;
    bool Answered;
    const char* Words;
  } Cases[] = {
      {"the radio answers", 1, true, "14.074000 MHz USB"},
      {"a link to nothing", 2, false, "is missing"},
      {"garbage on the line", 3, false, "not as the FT950 would"},
      {"a port another program holds", 4, false, "another program is using it"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const auto Outcome = Probe(Stored, {rtFT950, Case.Port, br4800}, nullptr, {&Radio, &Garbage});
    ASSERT_TRUE(Outcome.has_value());
    EXPECT_EQ(Outcome->Answered, Case.Answered) << Outcome->Text;
    EXPECT_NE(Outcome->Text.find(Case.Words), std::string::npos) << Outcome->Text;
    EXPECT_EQ(Outcome->Text.find("retrying"), std::string::npos) << Outcome->Text;
  }
  // Nothing but questions went to the radio: no frequency, mode or PTT set.
  EXPECT_EQ(Sim->Frequency(), 14074000);

  // The station's own link holds COM1: on its settings it answers for the
  // radio; on others it says so.
  {
    TSettingsBatch Batch(Stored);
    Stored.setRadio(rtFT950);
    Stored.setIntCommPort(1);
  }
  TStation Station(Stored, Stored.FileName());
  QElapsedTimer Timer;
  Timer.start();
  while (velatest::StationCAT(Station)->FrequencyHz() == 0 && Timer.elapsed() < 30000) {
    Radio.Pump();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  auto Own = Probe(Stored, {rtFT950, 1, br4800}, velatest::StationCAT(Station), {&Radio});
  ASSERT_TRUE(Own.has_value());
  EXPECT_TRUE(Own->Answered);
  EXPECT_EQ(Own->Text, "14.074000 MHz USB");
  Own = Probe(Stored, {rtFT950, 1, br9600}, velatest::StationCAT(Station), {&Radio});
  ASSERT_TRUE(Own.has_value());
  EXPECT_FALSE(Own->Answered);
  EXPECT_NE(Own->Text.find("held by VELA Log's own radio link"), std::string::npos) << Own->Text;
  ::close(Holder);
}

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

#include <gtest/gtest.h>

#include "RadioTestSupport.h"
#include "cat/radios/untFT100DCATinterface.h"
#include "cat/radios/untFT897DCATinterface.h"

using namespace vela;
using namespace vela::test;

namespace {

// FT-100D: 32 bytes per status request; the first 16 are the status block
// (frequency word in 1.25 Hz steps at elements 1 to 4, mode at 5). The
// second half is filled with a different, plausible block so that decoding
// the wrong half shows.
std::string FT100DStatus(std::uint32_t Word, int ModeByte) {
  std::string Reply(32, '\0');
  auto Put = [&](std::size_t At, std::uint32_t W, int M) {
    Reply[At + 1] = static_cast<char>(W >> 24);
    Reply[At + 2] = static_cast<char>(W >> 16);
    Reply[At + 3] = static_cast<char>(W >> 8);
    Reply[At + 4] = static_cast<char>(W);
    Reply[At + 5] = static_cast<char>(M);
  };
  Put(0, Word, ModeByte);
  Put(16, 3600000u * 80u / 100u, 0x04);
  return Reply;
}
std::string FT100DAt(std::int32_t Count, int ModeByte) {
  return FT100DStatus(static_cast<std::uint32_t>(Count) * 80u, ModeByte);
}

// FT-897D: four BCD frequency bytes in 10 Hz (most significant first), mode.
std::string FT897DAt(std::int32_t Count, int ModeByte) {
  const std::int32_t Tens = Count * 10;
  auto Bcd = [](std::int32_t V) { return static_cast<char>(16 * (V / 10) + V % 10); };
  return {Bcd(Tens / 1000000 % 100), Bcd(Tens / 10000 % 100), Bcd(Tens / 100 % 100),
          Bcd(Tens % 100), static_cast<char>(ModeByte)};
}

struct FT100DTraits {
  using TDriver = TFT100DCATInterface;
  static std::string At(std::int32_t Count, int Mode) { return FT100DAt(Count, Mode); }
  static constexpr int Usb = 0x01, Cw = 0x02;
};
struct FT897DTraits {
  using TDriver = TFT897DCATInterface;
  static std::string At(std::int32_t Count, int Mode) { return FT897DAt(Count, Mode); }
  static constexpr int Usb = 0x01, Cw = 0x02;
};

template <class TTraits> class YaesuBinaryTest : public ::testing::Test {
protected:
  // Bytes that come after a silence on the line, as the port worker hands
  // them over.
  void AfterSilence(const std::string& Data) { AfterSilence(*Driver, Data); }
  static void AfterSilence(TCATInterface& On, const std::string& Data) {
    On.LineWasQuiet(nullptr);
    Feed(On, Data);
  }
  // A driver whose line is shared with another program through Virtual CAT.
  std::unique_ptr<typename TTraits::TDriver> CreateShared() {
    Env.Settings->setIntCommPort2(AbsentPort + 1);
    Env.Settings->setBlnComm2Enable(true);
    return Env.Create<typename TTraits::TDriver>();
  }

  TDriverEnvironment Env;
  std::unique_ptr<typename TTraits::TDriver> Driver = Env.Create<typename TTraits::TDriver>();
  std::vector<TRxRecord>& Events = Env.Recorder.Events;
};

using BinaryRadios = ::testing::Types<FT100DTraits, FT897DTraits>;
TYPED_TEST_SUITE(YaesuBinaryTest, BinaryRadios);

} // namespace

TYPED_TEST(YaesuBinaryTest, SplitRepliesSeveralPerCallAndNoRepeats) {
  auto& Events = this->Events;
  auto& Driver = *this->Driver;
  const std::string A = TypeParam::At(140740, TypeParam::Usb);
  const std::string B = TypeParam::At(70745, TypeParam::Cw);
  Feed(Driver, A.substr(0, 2));
  Feed(Driver, A.substr(2, A.size() - 3));
  EXPECT_TRUE(Events.empty());
  Feed(Driver, A.substr(A.size() - 1));
  ASSERT_EQ(Events.size(), 1u);
  EXPECT_EQ(Events[0].Sender, &Driver);
  EXPECT_EQ(Events[0].Frequency, "14.0740");
  EXPECT_EQ(Events[0].Band, "20m");
  EXPECT_EQ(Events[0].Mode, "usb");

  Feed(Driver, A); // identical: nothing
  EXPECT_EQ(Events.size(), 1u);
  Feed(Driver, B + A); // two replies, each with its own changed flag
  ASSERT_EQ(Events.size(), 3u);
  EXPECT_EQ(Events[1].Frequency, "7.0745");
  EXPECT_EQ(Events[1].Band, "40m");
  EXPECT_EQ(Events[1].Mode, "CW");
  EXPECT_EQ(Events[2].Frequency, "14.0740");

  // Count limits what is read, never past Data; zero or less reads nothing.
  Driver.ParseReply(nullptr, B, 0);
  Driver.ParseReply(nullptr, B, -5);
  Driver.ParseReply(nullptr, B.substr(0, 1), 1000);
  EXPECT_EQ(Driver.ByteCount(), 1);
}

TYPED_TEST(YaesuBinaryTest, EachSetCommandHandedOutLengthensTheNextReplyByOneByte) {
  auto& Events = this->Events;
  auto& Driver = *this->Driver;
  const std::string A = TypeParam::At(140740, TypeParam::Usb);
  const std::string Poll = Driver.PollCommand();
  ASSERT_EQ(Poll.size(), 5u);
  EXPECT_EQ(NextCommand(Driver), Poll);
  EXPECT_EQ(Driver.ByteCount(), 0);

  Driver.SetFrequency("7.0745");
  Driver.SetMode("CW");
  const std::string FrequencyCommand = Driver.FrequencyCommand();
  const std::string ModeCommand = Driver.ModeCommand();
  EXPECT_EQ(NextCommand(Driver), FrequencyCommand);
  EXPECT_EQ(NextCommand(Driver), ModeCommand);
  EXPECT_EQ(NextCommand(Driver), Poll);
  EXPECT_EQ(Driver.ByteCount(), -2);

  // Two acknowledgement bytes, then the reply, all without a pause: as many
  // bytes as a reply has do not complete it.
  Feed(Driver, std::string(2, '\x06') + A.substr(0, A.size() - 2));
  EXPECT_TRUE(Events.empty());
  Feed(Driver, A.substr(A.size() - 2, 1));
  EXPECT_TRUE(Events.empty());
  Feed(Driver, A.substr(A.size() - 1));
  ASSERT_EQ(Events.size(), 1u);
  EXPECT_EQ(Events[0].Frequency, "14.0740");
  EXPECT_EQ(Events[0].Mode, "usb");
}

TYPED_TEST(YaesuBinaryTest, ASilenceOnTheLineRecoversFromFramingFaults) {
  auto& Events = this->Events;
  auto& Driver = *this->Driver;
  const std::string A = TypeParam::At(140740, TypeParam::Usb);
  const std::string B = TypeParam::At(70745, TypeParam::Cw);
  const std::string C = TypeParam::At(1443000, TypeParam::Usb);
  auto Expect = [&](const char* Frequency, const char* Mode) {
    ASSERT_FALSE(Events.empty());
    EXPECT_EQ(Events.back().Frequency, Frequency);
    EXPECT_EQ(Events.back().Mode, Mode);
  };

  // A lost byte: the partial reply is dropped at the next silence. The rest
  // of a cut reply could still come ahead of the next one, so that one is
  // reported at the silence after it.
  this->AfterSilence(A.substr(1));
  EXPECT_TRUE(Events.empty());
  this->AfterSilence(B);
  EXPECT_TRUE(Events.empty());
  Driver.LineWasQuiet(nullptr);
  ASSERT_EQ(Events.size(), 1u);
  Expect("7.0745", "CW");

  // An extra byte after a reply: the start of another one, cut short.
  this->AfterSilence(A + std::string(1, '\x55'));
  Expect("14.0740", "usb");
  this->AfterSilence(C);
  EXPECT_EQ(Events.size(), 2u);
  Driver.LineWasQuiet(nullptr);
  ASSERT_EQ(Events.size(), 3u);
  Expect("144.3000", "usb");

  // Pieces of one reply without a silence between them stay one reply.
  this->AfterSilence(A.substr(0, 3));
  Feed(Driver, A.substr(3, 1));
  Feed(Driver, A.substr(4));
  ASSERT_EQ(Events.size(), 4u);
  Expect("14.0740", "usb");

  // Acknowledgements the radio did not send: the next reply is never
  // decoded from a shifted window, and the one after the next silence is
  // decoded right.
  Driver.SetFrequency("7.0745");
  Driver.SetMode("CW");
  NextCommand(Driver);
  NextCommand(Driver);
  EXPECT_EQ(NextCommand(Driver), Driver.PollCommand());
  this->AfterSilence(C);
  this->AfterSilence(C.substr(0, 2));
  EXPECT_EQ(Events.size(), 4u);
  this->AfterSilence(B);
  Driver.LineWasQuiet(nullptr);
  ASSERT_EQ(Events.size(), 5u);
  Expect("7.0745", "CW");

  // Acknowledgements that came, each after its own silence, then the reply:
  // the same values as counting alone gives.
  Driver.SetFrequency("14.0740");
  Driver.SetMode("usb");
  NextCommand(Driver);
  this->AfterSilence(std::string(1, '\0'));
  NextCommand(Driver);
  this->AfterSilence(std::string(1, '\0'));
  EXPECT_EQ(Driver.ByteCount(), 0);
  NextCommand(Driver);
  this->AfterSilence(A);
  ASSERT_EQ(Events.size(), 6u);
  Expect("14.0740", "usb");
}

TYPED_TEST(YaesuBinaryTest, AWindowOutsideTheRadiosRangeIsDroppedUntilTheNextSilence) {
  // A window framed across two replies (a fragment of another program's
  // reply in it) decodes to whatever its bytes say; one outside the radio's
  // range is never reported, and the windows after it in the same burst,
  // shifted alike, are dropped too.
  auto& Events = this->Events;
  auto& Driver = *this->Driver;
  const std::string A = TypeParam::At(140740, TypeParam::Usb);
  const std::string B = TypeParam::At(70745, TypeParam::Cw);
  for (const std::int32_t Outside : {9999999, 475}) { // 999.9999 MHz, 47.5 kHz
    const std::size_t Before = Events.size();
    this->AfterSilence(TypeParam::At(Outside, TypeParam::Usb) + A);
    Feed(Driver, A);
    EXPECT_EQ(Events.size(), Before) << Outside;
    EXPECT_TRUE(Driver.Resynchronising());
    this->AfterSilence(Events.empty() ? B : A);
    ASSERT_EQ(Events.size(), Before + 1) << Outside;
    EXPECT_FALSE(Driver.Resynchronising());
  }
  EXPECT_EQ(Events[0].Frequency, "7.0745");
  EXPECT_EQ(Events[1].Frequency, "14.0740");
  EXPECT_EQ(Driver.FrequencyHz(), 14074000);
}

TYPED_TEST(YaesuBinaryTest, TheRestOfACutReplyAheadOfTheNextIsNeverReported) {
  // A reply paused past the quiet time, the driver's poll went out, and the
  // rest of that reply came first after it, straight before the poll's
  // reply: one burst, whatever the cut. On a shared line the cut reply was
  // the other program's (its start went there); on the driver's own line it
  // was the driver's. Only the radio's true values are ever reported: the
  // next reply's, at the silence after it.
  auto& Events = this->Events;
  const std::string Cut = TypeParam::At(503130, TypeParam::Usb);
  const std::string Own[] = {TypeParam::At(140740, TypeParam::Usb),
                             TypeParam::At(70745, TypeParam::Cw)};
  const char* OwnText[] = {"14.0740", "7.0745"};
  const std::size_t Length = Cut.size();
  for (const bool Shared : {true, false}) {
    auto Driver =
        Shared ? this->CreateShared() : this->Env.template Create<typename TypeParam::TDriver>();
    for (std::size_t Tail = 1; Tail < Length; ++Tail) {
      const std::size_t Before = Events.size();
      if (!Shared)
        this->AfterSilence(*Driver, Cut.substr(0, Length - Tail));
      this->AfterSilence(*Driver, Cut.substr(Length - Tail) + Own[Tail % 2]);
      this->AfterSilence(*Driver, Own[Tail % 2]); // the next poll's reply
      EXPECT_TRUE(Driver->Holding());
      Driver->LineWasQuiet(nullptr);
      ASSERT_EQ(Events.size(), Before + 1) << Shared << " " << Tail;
      EXPECT_EQ(Events.back().Frequency, OwnText[Tail % 2]);
    }
  }
  for (const TRxRecord& Event : Events)
    EXPECT_TRUE(Event.Frequency == OwnText[0] || Event.Frequency == OwnText[1]) << Event.Frequency;
}

TYPED_TEST(YaesuBinaryTest, ValuesHeldWhenASetCommandGoesOutAreNotReported) {
  // On a shared line a reply waits for the silence after it; the radio's
  // values it read are stale once a set command has gone out.
  auto& Events = this->Events;
  auto Driver = this->CreateShared();
  const std::string B = TypeParam::At(70745, TypeParam::Cw);
  this->AfterSilence(*Driver, B);
  Driver->SetFrequency("21.0740");
  NextCommand(*Driver);
  this->AfterSilence(*Driver, std::string(1, '\0')); // the acknowledgement
  Driver->LineWasQuiet(nullptr);
  EXPECT_TRUE(Events.empty());
  EXPECT_EQ(NextCommand(*Driver), Driver->PollCommand());
  this->AfterSilence(*Driver, B);
  Driver->LineWasQuiet(nullptr);
  ASSERT_EQ(Events.size(), 1u);
  EXPECT_EQ(Events[0].Frequency, "7.0745");
}

TYPED_TEST(YaesuBinaryTest, AMegabyteOfNoiseCostsNoMemoryAndNoCrash) {
  auto& Driver = *this->Driver;
  std::string Noise(1 << 20, '\0');
  for (std::size_t I = 0; I < Noise.size(); ++I)
    Noise[I] = static_cast<char>(I * 131 + (I >> 7));
  Feed(Driver, Noise);
  this->AfterSilence(TypeParam::At(140740, TypeParam::Usb));
  this->Driver->LineWasQuiet(nullptr);
  ASSERT_FALSE(this->Events.empty());
  EXPECT_EQ(this->Events.back().Frequency, "14.0740");
}

namespace {

class FT100DTest : public YaesuBinaryTest<FT100DTraits> {};
class FT897DTest : public YaesuBinaryTest<FT897DTraits> {};

std::string Hex(const std::string& Bytes) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string Text;
  for (unsigned char B : Bytes) {
    if (!Text.empty())
      Text += ' ';
    Text += Digits[B >> 4];
    Text += Digits[B & 15];
  }
  return Text;
}

} // namespace

TEST_F(FT100DTest, ConstructionRecordsTheRadioAndPollsStatus) {
  EXPECT_EQ(Env.Settings->Radio(), rtFT100D);
  EXPECT_EQ(Hex(NextCommand(*Driver)), "00 00 00 00 10");
}

TEST_F(FT100DTest, DecodesTheFirstBlockOfEachStatusReply) {
  // Hz: the word's 1.25 Hz steps to the nearest hertz.
  const struct {
    std::uint32_t Word;
    int Mode;
    const char* Frequency;
    const char* Band;
    const char* ModeText;
    std::int64_t Hz;
    const char* Native;
  } Cases[] = {
      {0x00ABCD40, 0x01, "14.0740", "20m", "usb", 14074000, "USB"}, // 14.074 MHz
      {70745 * 80 + 1, 0x00, "7.0745", "40m", "lsb", 7074501, "LSB"},
      {1443000 * 80 + 79, 0x02, "144.3000", "2m", "CW", 144300099, "CW"}, // rounded down
      {4321000 * 80, 0x03, "432.1000", "70cm", "CW", 432100000, "CWR"},
      {501250 * 80, 0x04, "50.1250", "6m", "AM", 50125000, "AM"},
      {140740 * 80, 0x05, "14.0740", "20m", "Digi", 14074000, "PKTUSB"},
      {140740 * 80, 0x06, "14.0740", "20m", "FM", 14074000, "FM"},
      {70745 * 80, 0x07, "7.0745", "40m", "FM", 7074500, "WFM"},
      {70745 * 80, 0x32, "7.0745", "40m", "CW", 7074500, "CW"}, // high nibble ignored
      {1000 * 80, 0x01, ".1000", "160m", "usb", 100000, "USB"}, // the lowest it has
  };
  for (const auto& Case : Cases) {
    const std::size_t Before = Events.size();
    Feed(*Driver, FT100DStatus(Case.Word, Case.Mode));
    ASSERT_EQ(Events.size(), Before + 1) << Case.Word;
    EXPECT_EQ(Events.back().Frequency, Case.Frequency);
    EXPECT_EQ(Events.back().Band, Case.Band);
    EXPECT_EQ(Events.back().Mode, Case.ModeText);
    EXPECT_EQ(Driver->FrequencyHz(), Case.Hz) << Case.Word;
    EXPECT_EQ(Driver->NativeMode(), Case.Native) << Case.Mode;
  }
}

TEST_F(FT100DTest, ModeValuesWithoutNameKeepTheModeOfTheCall) {
  Feed(*Driver, FT100DAt(140740, 0x01));
  // 8 to 15 in the first block of a call: the empty mode.
  Feed(*Driver, FT100DAt(140740, 0x09));
  ASSERT_EQ(Events.size(), 2u);
  EXPECT_EQ(Events[1].Mode, "");
  // Later in the same call: the mode of the block before it.
  Feed(*Driver, FT100DAt(70745, 0x02) + FT100DAt(140740, 0x0F));
  ASSERT_EQ(Events.size(), 4u);
  EXPECT_EQ(Events[3].Mode, "CW");
}

TEST_F(FT100DTest, ARadioSendingSixteenBytesPerRequestDecodesToo) {
  const std::string Block = FT100DAt(140740, 0x01).substr(0, 16);
  Feed(*Driver, Block);
  Feed(*Driver, Block);
  ASSERT_EQ(Events.size(), 1u);
  EXPECT_EQ(Events[0].Frequency, "14.0740");
}

TEST_F(FT100DTest, SetCommands) {
  const struct {
    const char* Text;
    const char* Bytes; // empty: none built
  } Frequencies[] = {
      {"14.0740", "00 74 40 01 0A"},
      {"7.0745", "50 74 70 00 0A"},
      {"144.3", "00 00 43 14 0A"},
      {"14.07400", "00 74 40 01 0A"},
      {"999.99999", "99 99 99 99 0A"},
      {"0.00001", "01 00 00 00 0A"},
      {"14", ""},
      {".5", ""},
      {"14.x", ""},
      {"-7.0745", ""},
      {"1000.0", ""},
      {"14.074001", ""},
      {"14.07-4", ""},
      {"$E.0740", ""},
  };
  for (const auto& Case : Frequencies) {
    Driver->SetFrequency(Case.Text);
    EXPECT_EQ(Hex(Driver->FrequencyCommand()), Case.Bytes) << Case.Text;
    NextCommand(*Driver);
  }
  const struct {
    const char* Text;
    const char* Bytes;
  } Modes[] = {
      {"lsb", "00 00 00 00 0C"},
      {"usb", "00 00 00 01 0C"},
      {"CW", "00 00 00 02 0C"},
      {"FM", "00 00 00 06 0C"},
      {"AM", "00 00 00 04 0C"},
      {"Digi", "00 00 00 05 0C"},
      {"am", ""},
      {"LSB", ""},
  };
  for (const auto& Case : Modes) {
    Driver->SetMode(Case.Text);
    EXPECT_EQ(Hex(Driver->ModeCommand()), Case.Bytes) << Case.Text;
    NextCommand(*Driver);
  }
}

TEST_F(FT897DTest, ConstructionRecordsTheRadioAndPollsFrequencyAndMode) {
  EXPECT_EQ(Env.Settings->Radio(), rtFT897D);
  EXPECT_EQ(Hex(NextCommand(*Driver)), "00 00 00 00 03");
}

TEST_F(FT897DTest, DecodesReplies) {
  const struct {
    std::string Reply;
    const char* Frequency;
    const char* Band;
    const char* Mode;
    std::int64_t Hz;
    const char* Native;
  } Cases[] = {
      {Bytes({0x01, 0x40, 0x74, 0x00, 0x01}), "14.0740", "20m", "usb", 14074000, "USB"},
      {Bytes({0x00, 0x70, 0x74, 0x56, 0x03}), "7.0745", "40m", "CW", 7074560, "CWR"},
      {Bytes({0x14, 0x43, 0x00, 0x00, 0x08}), "144.3000", "2m", "FM", 144300000, "FM"},
      {Bytes({0x43, 0x21, 0x00, 0x00, 0x0A}), "432.1000", "70cm", "Digi", 432100000, "PKTUSB"},
      {Bytes({0x00, 0x70, 0x74, 0x50, 0x00}), "7.0745", "40m", "lsb", 7074500, "LSB"},
      {Bytes({0x00, 0x70, 0x74, 0x50, 0x02}), "7.0745", "40m", "CW", 7074500, "CW"},
      {Bytes({0x00, 0x70, 0x74, 0x50, 0x04}), "7.0745", "40m", "AM", 7074500, "AM"},
      {Bytes({0x00, 0x70, 0x74, 0x50, 0x06}), "7.0745", "40m", "FM", 7074500, "WFM"},
      {Bytes({0x00, 0x70, 0x74, 0x50, 0x0C}), "7.0745", "40m", "Digi", 7074500, "PKTFM"},
      {Bytes({0x00, 0x70, 0x74, 0x50, 0x82}), "7.0745", "40m", "CW", 7074500, "CW"}, // narrow CW
      {Bytes({0x00, 0x70, 0x74, 0x50, 0x88}), "7.0745", "40m", "FM", 7074500, "FM"}, // narrow FM
      {Bytes({0x00, 0x01, 0x00, 0x00, 0x01}), ".1000", "160m", "usb", 100000, "USB"},
  };
  for (const auto& Case : Cases) {
    const std::size_t Before = Events.size();
    Feed(*Driver, Case.Reply);
    ASSERT_EQ(Events.size(), Before + 1) << Hex(Case.Reply);
    EXPECT_EQ(Events.back().Frequency, Case.Frequency);
    EXPECT_EQ(Events.back().Band, Case.Band);
    EXPECT_EQ(Events.back().Mode, Case.Mode);
    EXPECT_EQ(Driver->FrequencyHz(), Case.Hz) << Hex(Case.Reply);
    EXPECT_EQ(Driver->NativeMode(), Case.Native) << Hex(Case.Reply);
  }
  // A byte without a name as the first reply of a call: the empty mode.
  Feed(*Driver, Bytes({0x00, 0x70, 0x74, 0x50, 0x05}));
  EXPECT_EQ(Events.back().Mode, "");
  EXPECT_EQ(Driver->NativeMode(), "");

  // A frequency digit above 9 is no reply of the radio's: misframed.
  const std::size_t Reported = Events.size();
  for (const std::string& Reply :
       {Bytes({0x0A, 0x40, 0x74, 0x00, 0x01}), Bytes({0x01, 0xF0, 0x74, 0x00, 0x01}),
        Bytes({0x01, 0x40, 0x74, 0x0B, 0x01})}) {
    Driver->LineWasQuiet(nullptr);
    Feed(*Driver, Reply);
    EXPECT_TRUE(Driver->Resynchronising()) << Hex(Reply);
  }
  EXPECT_EQ(Events.size(), Reported);
}

TEST_F(FT897DTest, SetCommands) {
  const struct {
    const char* Text;
    const char* Bytes;
  } Frequencies[] = {
      {"14.0740", "01 40 74 00 01"},
      {"7.0745", "00 70 74 50 01"},
      {"144.3", "14 43 00 00 01"},
      {"432.1", "43 21 00 00 01"},
      {"14", ""},
      {".5", ""},
      {"14.x", ""},
      {"-1.5", ""},
      {"1296.0", ""},
  };
  for (const auto& Case : Frequencies) {
    Driver->SetFrequency(Case.Text);
    EXPECT_EQ(Hex(Driver->FrequencyCommand()), Case.Bytes) << Case.Text;
    NextCommand(*Driver);
  }
  const struct {
    const char* Text;
    const char* Bytes;
  } Modes[] = {
      {"lsb", "00 00 00 00 07"},
      {"usb", "01 00 00 00 07"},
      {"CW", "02 00 00 00 07"},
      {"FM", "08 00 00 00 07"},
      {"AM", "04 00 00 00 07"},
      {"Digi", "0A 00 00 00 07"},
      {"cw", ""},
  };
  for (const auto& Case : Modes) {
    Driver->SetMode(Case.Text);
    EXPECT_EQ(Hex(Driver->ModeCommand()), Case.Bytes) << Case.Text;
    NextCommand(*Driver);
  }
}

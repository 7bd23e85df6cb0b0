#include "platform/untIniFile.h"

#include "common/FileHelpers.h"
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

using namespace vela;
namespace fs = std::filesystem;

namespace {

using test::Chattr;
using test::ReadFile;
using test::WriteFile;

// Every file name in Folder; a write must leave no temporary file behind.
std::vector<std::string> Listing(const std::string& Folder) {
  std::vector<std::string> Names;
  for (const auto& E : fs::directory_iterator(Folder))
    Names.push_back(E.path().filename().string());
  std::sort(Names.begin(), Names.end());
  return Names;
}

class TIniTest : public testing::Test {
protected:
  void SetUp() override {
    std::string Tmpl = testing::TempDir() + "vela-ini-XXXXXX";
    ASSERT_NE(::mkdtemp(Tmpl.data()), nullptr);
    Dir = Tmpl;
    Path = Dir + "/VelaLog.ini";
  }
  void TearDown() override {
    Chattr("-i", Dir);
    if (fs::exists(Path))
      Chattr("-i", Path);
    fs::remove_all(Dir);
  }
  std::string Dir;
  std::string Path;
};

// ---- reading ---------------------------------------------------------------

struct TReadCase {
  const char* Name;
  std::string Text;
  const char* Section;
  const char* Key;
  std::string Expected; // "<default>" when the key is not found
};

class TIniRead : public TIniTest, public testing::WithParamInterface<TReadCase> {};

TEST_P(TIniRead, FindsKeyAsPrivateProfileDoes) {
  const TReadCase& C = GetParam();
  WriteFile(Path, C.Text);
  TIniFile Ini(Path);
  EXPECT_EQ(Ini.ReadString(C.Section, C.Key, "<default>"), C.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, TIniRead,
    testing::Values(
        TReadCase{"Plain", "[A]\nk=v\n", "A", "k", "v"},
        TReadCase{"Crlf", "[A]\r\nk=v\r\nj=w\r\n", "A", "k", "v"},
        TReadCase{"NoFinalNewline", "[A]\nk=v", "A", "k", "v"},
        TReadCase{"BlanksTrimmed", "  [ A ]  \n \t k  =  v w \t\n", "A", "k", "v w"},
        TReadCase{"SectionCase", "[sErVeRsEtTiNgS]\nSERVERCOUNT=3\n", "ServerSettings",
                  "ServerCount", "3"},
        TReadCase{"FirstDuplicateWins", "[A]\nk=1\nK=2\n", "A", "k", "1"},
        TReadCase{"LaterSameSectionIgnored", "[A]\nx=1\n[B]\n[a]\nk=2\n", "A", "k", "<default>"},
        TReadCase{"KeyOutsideSection", "k=1\n[A]\nj=2\n", "A", "k", "<default>"},
        TReadCase{"CommentIsNoKey", "[A]\n;k=1\n", "A", "k", "<default>"},
        TReadCase{"LineWithoutEquals", "[A]\nk\nk v\n", "A", "k", "<default>"},
        TReadCase{"EmptyValueIsFound", "[A]\nk=\n", "A", "k", ""},
        TReadCase{"EqualsInValue", "[A]\nk=a=b\n", "A", "k", "a=b"},
        TReadCase{"DoubleQuotesStripped", "[A]\nk=\"  x \"\n", "A", "k", "  x "},
        TReadCase{"SingleQuotesStripped", "[A]\nk='y'\n", "A", "k", "y"},
        TReadCase{"UnmatchedQuoteKept", "[A]\nk=\"z\n", "A", "k", "\"z"},

        TReadCase{"HeaderWithoutBracket", "[A\nk=1\n", "A", "k", "1"},
        TReadCase{"TextAfterHeader", "[A] trailing\nk=1\n", "A", "k", "1"},
        TReadCase{"ZeroBytes", std::string("[A]\n\0\0=x\nk=v\0w\n", 16), "A", "k",
                  std::string("v\0w", 3)},
        TReadCase{"EnormousLine", std::string(512 * 1024, 'x') + "\n[A]\nk=v\n", "A", "k", "v"},
        TReadCase{"EnormousLineInSection", "[A]\n" + std::string(512 * 1024, '=') + "\nk=v\n", "A",
                  "k", "v"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(TIniTest, MissingFileGivesDefaultsAndIsNotCreated) {
  TIniFile Ini(Path);
  EXPECT_EQ(Ini.ReadString("A", "k", "d"), "d");
  EXPECT_EQ(Ini.ReadInteger("A", "k", 7), 7);
  EXPECT_TRUE(Ini.ReadBool("A", "k", true));
  EXPECT_FALSE(fs::exists(Path));
}

TEST_F(TIniTest, IntegerAndBooleanReading) {
  WriteFile(Path, "[A]\ndec=-12\nhex=0x0A\ndollar=$ff\nbad=abc\nempty=\nfive=5\nyes=yes\nzero=0\n"
                  "quoted=\"42\"\nspaced=  17  \n");
  TIniFile Ini(Path);
  EXPECT_EQ(Ini.ReadInteger("A", "dec", 1), -12);
  EXPECT_EQ(Ini.ReadInteger("A", "hex", 1), 10);
  EXPECT_EQ(Ini.ReadInteger("A", "dollar", 1), 255);
  EXPECT_EQ(Ini.ReadInteger("A", "bad", 1260), 1260);
  EXPECT_EQ(Ini.ReadInteger("A", "empty", 3), 3);
  EXPECT_EQ(Ini.ReadInteger("A", "quoted", 3), 42);
  EXPECT_EQ(Ini.ReadInteger("A", "spaced", 3), 17);
  EXPECT_TRUE(Ini.ReadBool("A", "five", false));
  EXPECT_FALSE(Ini.ReadBool("A", "yes", false));
  EXPECT_TRUE(Ini.ReadBool("A", "yes", true));
  EXPECT_FALSE(Ini.ReadBool("A", "zero", true));
}

TEST_F(TIniTest, FileBeyondSizeLimitReadsAsDefaultsAndRefusesWrites) {
  const std::string Big = "[A]\nk=v\n" + std::string(MaxIniFileSize, ';');
  WriteFile(Path, Big);
  TIniFile Ini(Path);
  EXPECT_EQ(Ini.ReadString("A", "k", "d"), "d");
  EXPECT_THROW(Ini.WriteString("A", "k", "w"), EIniFileException);
  EXPECT_EQ(ReadFile(Path), Big);
}

TEST_F(TIniTest, DirectoryOrFifoInPlaceOfFileReadsAsDefaults) {
  fs::create_directory(Path);
  TIniFile Ini(Path);
  EXPECT_EQ(Ini.ReadString("A", "k", "d"), "d");
  fs::remove(Path);
  ASSERT_EQ(::mkfifo(Path.c_str(), 0600), 0);
  EXPECT_EQ(Ini.ReadString("A", "k", "d"), "d"); // must not block on the FIFO
  EXPECT_THROW(Ini.WriteString("A", "k", "v"), EIniFileException);
}

// ---- writing ---------------------------------------------------------------

struct TWriteCase {
  const char* Name;
  std::string Before; // "<none>": no file
  const char* Section;
  const char* Key;
  const char* Value;
  std::string After;
};

class TIniWrite : public TIniTest, public testing::WithParamInterface<TWriteCase> {};

TEST_P(TIniWrite, ChangesOnlyItsKey) {
  const TWriteCase& C = GetParam();
  if (C.Before != "<none>")
    WriteFile(Path, C.Before);
  TIniFile Ini(Path);
  Ini.WriteString(C.Section, C.Key, C.Value);
  EXPECT_EQ(ReadFile(Path), C.After);
  EXPECT_EQ(Ini.ReadString(C.Section, C.Key, "<default>"), C.Value);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, TIniWrite,
    testing::Values(
        TWriteCase{"CreatesFile", "<none>", "A", "k", "v", "[A]\nk=v\n"},
        TWriteCase{"ReplacesValue", "[A]\nk=1\n", "A", "k", "2", "[A]\nk=2\n"},
        TWriteCase{"KeepsNameSpelling", "[window]\n  TOP = 5  \n", "Window", "Top", "7",
                   "[window]\nTOP=7\n"},
        TWriteCase{"ReplacesFirstDuplicate", "[A]\nk=1\nk=3\n", "A", "k", "2", "[A]\nk=2\nk=3\n"},
        TWriteCase{"NewKeyAfterSectionContent", "[A]\nx=1\n; note\n\n[B]\ny=2\n", "A", "k", "v",
                   "[A]\nx=1\n; note\nk=v\n\n[B]\ny=2\n"},
        TWriteCase{"NewKeyInEmptySection", "[A]\n[B]\n", "A", "k", "v", "[A]\nk=v\n[B]\n"},
        TWriteCase{"NewSectionAtEnd", "; head\nfoo=bar\n", "A", "k", "v",
                   "; head\nfoo=bar\n\n[A]\nk=v\n"},
        TWriteCase{"NewSectionAfterBlankLine", "[B]\ny=2\n\n", "A", "k", "v",
                   "[B]\ny=2\n\n[A]\nk=v\n"},

        TWriteCase{"CrlfKept", "[A]\r\nx=1\r\n", "A", "k", "v", "[A]\r\nx=1\r\nk=v\r\n"},

        TWriteCase{"CrlfNewSection", "[B]\r\ny=2\r\n", "A", "k", "v",
                   "[B]\r\ny=2\r\n\r\n[A]\r\nk=v\r\n"},
        TWriteCase{"NoFinalNewline", "[A]\nx=1", "A", "x", "2", "[A]\nx=2\n"},
        TWriteCase{"IntoFirstOfSameNamedSections", "[A]\nx=1\n[B]\n[a]\nk=9\n", "A", "k", "2",
                   "[A]\nx=1\nk=2\n[B]\n[a]\nk=9\n"},
        TWriteCase{"KeyOutsideSectionUntouched", "k=0\n[A]\nx=1\n", "A", "k", "2",
                   "k=0\n[A]\nx=1\nk=2\n"},
        TWriteCase{"LeadingBlankQuoted", "[A]\n", "A", "k", " v", "[A]\nk=\" v\"\n"},
        TWriteCase{"QuotedValueQuotedAgain", "[A]\n", "A", "k", "\"v\"", "[A]\nk=\"\"v\"\"\n"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(TIniTest, ValuesReadBackUnchanged) {
  TIniFile Ini(Path);
  const std::vector<std::string> Values = {"plain",  "  lead",
                                           "trail ", "\"q\"",
                                           "'s'",    "",
                                           "a=b",    "; no comment",
                                           "[x]",    "http://log.example/index.php?a=1&b=2",
                                           "\"",     std::string("z\0z", 3)};
  for (std::size_t I = 0; I < Values.size(); ++I)
    Ini.WriteString("A", "k" + std::to_string(I), Values[I]);
  TIniFile Again(Path);
  for (std::size_t I = 0; I < Values.size(); ++I)
    EXPECT_EQ(Again.ReadString("A", "k" + std::to_string(I), "<default>"), Values[I]);
}

TEST_F(TIniTest, LineBreaksInValueCannotInjectKeys) {
  TIniFile Ini(Path);
  Ini.WriteString("ServerSettings", "ServerAddress", "host\n[CommSettings]\r\nRadio=5");
  EXPECT_EQ(Ini.ReadString("ServerSettings", "ServerAddress", ""), "host [CommSettings]  Radio=5");
  EXPECT_EQ(Ini.ReadString("CommSettings", "Radio", "<default>"), "<default>");
}

TEST_F(TIniTest, InvalidNamesAreRefused) {
  TIniFile Ini(Path);
  for (const auto& [S, K] : std::vector<std::pair<std::string, std::string>>{{"", "k"},
                                                                             {"A", ""},
                                                                             {"  ", "k"},
                                                                             {"A]", "k"},
                                                                             {"A\n", "k"},
                                                                             {"A", "k=1"},
                                                                             {"A", "[k"},
                                                                             {"A", ";k"},
                                                                             {"A", "k\nx"}})
    EXPECT_THROW(Ini.WriteString(S, K, "v"), EIniFileException) << S << "/" << K;
  EXPECT_FALSE(fs::exists(Path));
}

TEST_F(TIniTest, TwoObjectsOnOnePathSeeEachOthersWrites) {
  TIniFile First(Path), Second(Path);
  First.WriteString("A", "one", "1");
  EXPECT_EQ(Second.ReadString("A", "one", ""), "1");
  Second.WriteString("A", "two", "2");
  EXPECT_EQ(First.ReadString("A", "two", ""), "2");
  First.WriteString("A", "one", "11");
  EXPECT_EQ(Second.ReadString("A", "one", ""), "11");
  EXPECT_EQ(ReadFile(Path), "[A]\none=11\ntwo=2\n");
}

TEST_F(TIniTest, OutsideEditIsSeenByNextRead) {
  WriteFile(Path, "[A]\nk=1\n");
  TIniFile Ini(Path);
  EXPECT_EQ(Ini.ReadString("A", "k", ""), "1");
  WriteFile(Path, "[A]\nk=22\n");
  EXPECT_EQ(Ini.ReadString("A", "k", ""), "22");
}

TEST_F(TIniTest, WriteKeepsModeAndFollowsSymlink) {
  WriteFile(Dir + "/real.ini", "[A]\nk=1\n");
  ASSERT_EQ(::chmod((Dir + "/real.ini").c_str(), 0640), 0);
  fs::create_symlink("real.ini", Path);
  TIniFile Ini(Path);
  Ini.WriteString("A", "k", "2");
  EXPECT_TRUE(fs::is_symlink(Path));
  EXPECT_EQ(ReadFile(Dir + "/real.ini"), "[A]\nk=2\n");
  struct stat St {};
  ASSERT_EQ(::stat((Dir + "/real.ini").c_str(), &St), 0);
  EXPECT_EQ(St.st_mode & 07777, 0640u);
  EXPECT_EQ(Listing(Dir), (std::vector<std::string>{"VelaLog.ini", "real.ini"}));
}

// ---- failed and interrupted writes -----------------------------------------

TEST_F(TIniTest, ImmutableFolderRefusesWriteAndNamesFullPath) {
  const std::string Before = "; mine\n[A]\nk=1\n";
  WriteFile(Path, Before);
  if (!Chattr("+i", Dir))
    GTEST_SKIP() << "chattr +i is not available here";
  TIniFile Ini(Path);
  try {
    Ini.WriteString("A", "k", "2");
    ADD_FAILURE() << "write into an immutable folder succeeded";
  } catch (const EIniFileException& E) {
    EXPECT_EQ(E.Message(), "Unable to write to " + Path);
  }
  EXPECT_EQ(ReadFile(Path), Before);
  EXPECT_EQ(Ini.ReadString("A", "k", ""), "1");
}

TEST_F(TIniTest, FailedRenameLeavesOldFileAndNoTemporary) {
  const std::string Before = "[A]\nk=1\n";
  WriteFile(Path, Before);
  // The folder stays writable (the temporary file is made), but the rename
  // over an immutable file fails.
  if (!Chattr("+i", Path))
    GTEST_SKIP() << "chattr +i is not available here";
  TIniFile Ini(Path);
  EXPECT_THROW(Ini.WriteString("A", "k", "2"), EIniFileException);
  Chattr("-i", Path);
  EXPECT_EQ(ReadFile(Path), Before);
  EXPECT_EQ(Listing(Dir), std::vector<std::string>{"VelaLog.ini"});
}

TEST_F(TIniTest, NonEmptyDirectoryInPlaceOfFileRefusesWrite) {
  fs::create_directories(Path + "/inner");
  TIniFile Ini(Path);
  EXPECT_THROW(Ini.WriteString("A", "k", "v"), EIniFileException);
  EXPECT_TRUE(fs::is_directory(Path + "/inner"));
  EXPECT_EQ(Listing(Dir), std::vector<std::string>{"VelaLog.ini"});
}

TEST_F(TIniTest, FullDiskLeavesOldFile) {
  const std::string Before = "; mine\n[A]\nk=1\n";
  WriteFile(Path, Before);
  // A file size limit in a child makes the temporary file's write fail as a
  // full disk would.
  const pid_t Pid = ::fork();
  ASSERT_GE(Pid, 0);
  if (Pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit Limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &Limit);
    try {
      TIniFile Ini(Path);
      Ini.WriteString("A", "k", std::string(100000, 'z'));
      ::_exit(1);
    } catch (const EIniFileException&) {
      ::_exit(0);
    } catch (...) {
      ::_exit(2);
    }
  }
  int Status = 0;
  ASSERT_EQ(::waitpid(Pid, &Status, 0), Pid);
  ASSERT_TRUE(WIFEXITED(Status));
  EXPECT_EQ(WEXITSTATUS(Status), 0) << "1: the write was reported as done";
  EXPECT_EQ(ReadFile(Path), Before);
  EXPECT_EQ(Listing(Dir), std::vector<std::string>{"VelaLog.ini"});
}

TEST_F(TIniTest, KilledWriterNeverLeavesBrokenFile) {
  const std::string Head = "; keep me\n[Other]\nx=1\n";
  const std::string Short = "short";
  const std::string Long(200000, 'y');
  WriteFile(Path, Head);
  std::mt19937 Rng(20240611);
  std::uniform_int_distribution<int> Delay(0, 30000);
  for (int Round = 0; Round < 30; ++Round) {
    const pid_t Pid = ::fork();
    ASSERT_GE(Pid, 0);
    if (Pid == 0) {
      try {
        TIniFile Ini(Path);
        for (unsigned I = 0;; ++I)
          Ini.WriteString("S", "K", I % 2 ? Short : Long);
      } catch (...) {
      }
      ::_exit(3);
    }
    ::usleep(static_cast<useconds_t>(Delay(Rng)));
    ::kill(Pid, SIGKILL);
    int Status = 0;
    ASSERT_EQ(::waitpid(Pid, &Status, 0), Pid);
    ASSERT_TRUE(WIFSIGNALED(Status)) << "the writer stopped by itself";

    const std::string Text = ReadFile(Path);
    ASSERT_EQ(Text.rfind(Head, 0), 0u) << "round " << Round;
    TIniFile Reader(Path);
    EXPECT_EQ(Reader.ReadString("Other", "x", ""), "1");
    const std::string K = Reader.ReadString("S", "K", "<none>");
    EXPECT_TRUE(K == Short || K == Long || (K == "<none>" && Text == Head))
        << "round " << Round << ": value of " << K.size() << " bytes";
    const std::string Expected = Head + "\n[S]\nK=" + K + "\n";
    if (K != "<none>") {
      EXPECT_EQ(Text, Expected) << "round " << Round;
    }
  }
  // A killed writer may leave its temporary file; the settings file itself is
  // the only one that matters.
}

// ---- random input ----------------------------------------------------------

TEST_F(TIniTest, RandomBytesNeitherCrashNorDisturbOtherKeys) {
  std::mt19937 Rng(77);
  // Line structure characters, blanks, quotes, name letters, a zero byte.
  static const char Chars[] = "[]=;\r\n\t  abkAB\"'\0\xff";
  const std::string Alphabet(Chars, sizeof Chars - 1);
  const std::vector<std::pair<std::string, std::string>> Probes = {
      {"a", "k"}, {"a", "b"}, {"b", "k"}, {"A", "B"}, {"ab", "ab"}, {"b", "a"}};
  for (int Round = 0; Round < 400; ++Round) {
    const std::size_t Size = std::uniform_int_distribution<std::size_t>(0, 4096)(Rng);
    const bool Structured = Round % 2 == 0;
    std::string Text(Size, '\0');
    for (char& C : Text)
      C = Structured ? Alphabet[Rng() % Alphabet.size()] : static_cast<char>(Rng());
    WriteFile(Path, Text);

    TIniFile Ini(Path);
    std::vector<std::string> Before;
    for (const auto& [S, K] : Probes)
      Before.push_back(Ini.ReadString(S, K, "<default>"));
    (void)Ini.ReadInteger("a", "k", 0);
    (void)Ini.ReadBool("b", "a", false);

    Ini.WriteString("a", "k", "written");
    ASSERT_EQ(Ini.ReadString("a", "k", ""), "written") << "round " << Round;
    for (std::size_t I = 1; I < Probes.size(); ++I)
      EXPECT_EQ(Ini.ReadString(Probes[I].first, Probes[I].second, "<default>"), Before[I])
          << "round " << Round << " probe " << I;
  }
}

} // namespace

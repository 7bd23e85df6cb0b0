// The journal across restarts: what waits survives, what was taken does not
// come back, a record cut short by a crash is mended away, a journal that
// cannot be written still lets contacts wait, and contacts beyond what waits
// in memory are kept in the journal and read back in order.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/FileHelpers.h"
#include "contacts/untAdif.h"
#include "contacts/untContactJournal.h"

using namespace vela;

namespace {

class Journal : public testing::Test {
protected:
  void SetUp() override {
    FDir = std::filesystem::temp_directory_path() /
           ("vela-journal-" + std::to_string(::getpid()) + "-" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(FDir);
    std::filesystem::create_directories(FDir);
    Path = TContactJournal::PathBeside((FDir / "VelaLog.ini").string());
  }
  void TearDown() override { std::filesystem::remove_all(FDir); }

  static TContact Contact(const std::string& Call) {
    TContact C;
    C.Set("call", Call);
    C.Set("freq", "7.075500");
    C.Set("mode", "FT8");
    return C;
  }
  static std::vector<std::string> Calls(TContactJournal& J) {
    std::vector<std::string> Result;
    while (J.Next()) {
      Result.push_back(J.Next()->Field("call"));
      J.TakeNext();
    }
    return Result;
  }

  std::filesystem::path FDir;
  std::string Path;
};

TEST_F(Journal, WaitingContactsSurviveARestartInOrder) {
  {
    TContactJournal J(Path);
    ASSERT_TRUE(J.Open());
    for (const char* Call : {"A1A", "B2B", "C3C"})
      ASSERT_TRUE(J.Add(Contact(Call)));
    J.TakeNext();
    EXPECT_TRUE(J.ErrorText().empty()) << J.ErrorText();
  }
  EXPECT_EQ(Path, (FDir / "VelaLog-contacts.adi").string());
  TContactJournal Again(Path);
  ASSERT_TRUE(Again.Open()) << Again.ErrorText();
  ASSERT_EQ(Again.Waiting(), 2u);
  EXPECT_EQ(*Again.Next(), Contact("B2B"));
  Again.TakeNext();
  TContactJournal Third(Path);
  ASSERT_TRUE(Third.Open());
  EXPECT_EQ(Calls(Third), std::vector<std::string>{"C3C"});
  // Every contact stays in the journal, readable as ADIF.
  const TAdifDocument Doc = ReadAdif(test::ReadFile(Path));
  EXPECT_TRUE(Doc.Error.empty()) << Doc.Error;
  EXPECT_EQ(Doc.Records.size(), 3u);
}

TEST_F(Journal, ARecordCutShortByACrashIsCutOff) {
  {
    TContactJournal J(Path);
    ASSERT_TRUE(J.Open());
    ASSERT_TRUE(J.Add(Contact("A1A")));
  }
  const std::string Whole = test::ReadFile(Path);
  test::WriteFile(Path, Whole + "<call:3>B2B <mode:3>F");
  {
    TContactJournal J(Path);
    ASSERT_TRUE(J.Open()) << J.ErrorText();
    EXPECT_EQ(test::ReadFile(Path), Whole);
    ASSERT_TRUE(J.Add(Contact("C3C")));
  }
  TContactJournal J(Path);
  ASSERT_TRUE(J.Open());
  EXPECT_EQ(Calls(J), (std::vector<std::string>{"A1A", "C3C"}));
}

TEST_F(Journal, AJournalThatCannotBeWrittenStillLetsContactsWait) {
  // A file where the folder should be: nothing can be created under it.
  test::WriteFile((FDir / "blocked").string(), "");
  TContactJournal J((FDir / "blocked" / "VelaLog-contacts.adi").string());
  EXPECT_FALSE(J.Open());
  EXPECT_NE(J.ErrorText().find("cannot open the contact journal"), std::string::npos);
  ASSERT_TRUE(J.Add(Contact("A1A")));
  EXPECT_NE(J.ErrorText().find("cannot write the contact journal"), std::string::npos);
  EXPECT_EQ(J.Waiting(), 1u);
  EXPECT_EQ(Calls(J), std::vector<std::string>{"A1A"});
}

// A contact that went into the form while the journal refused writes is
// still offered first after a restart when it was never saved, once the
// journal could be written again.
TEST_F(Journal, AnUnsavedContactTakenWhileWritesFailedIsOfferedAgainFirst) {
  const std::filesystem::path Folder = FDir / "blocked";
  test::WriteFile(Folder.string(), "");
  const std::string Blocked = (Folder / "VelaLog-contacts.adi").string();
  {
    TContactJournal J(Blocked);
    EXPECT_FALSE(J.Open());
    ASSERT_TRUE(J.Add(Contact("A1A")));
    ASSERT_TRUE(J.Add(Contact("B1B")));
    J.IntoForm(); // A1A is in the form, not written anywhere yet
    std::filesystem::remove(Folder);
    std::filesystem::create_directory(Folder);
    ASSERT_TRUE(J.Add(Contact("C1C")));
    EXPECT_EQ(J.ErrorText(), "");
  }
  TContactJournal Again(Blocked);
  ASSERT_TRUE(Again.Open()) << Again.ErrorText();
  EXPECT_EQ(Calls(Again), (std::vector<std::string>{"A1A", "B1B", "C1C"}));
}

TEST_F(Journal, AForeignFileIsLeftAlone) {
  test::WriteFile(Path, "my own notes\n");
  TContactJournal J(Path);
  EXPECT_FALSE(J.Open());
  EXPECT_NE(J.ErrorText().find("not a contact journal"), std::string::npos);
  EXPECT_EQ(test::ReadFile(Path), "my own notes\n");
}

// More contacts than may wait in memory: every one is written, and they come
// back in order from the journal as the form takes them, also after a
// restart.
TEST_F(Journal, KeepsEveryContactBeyondWhatWaitsInMemory) {
  std::vector<std::string> Sent;
  {
    TContactJournal J(Path, 500);
    ASSERT_TRUE(J.Open());
    for (int I = 0; I < 600; ++I) {
      Sent.push_back("K" + std::to_string(1000 + I));
      ASSERT_TRUE(J.Add(Contact(Sent.back())));
    }
    EXPECT_EQ(J.Waiting(), 600u);
    EXPECT_EQ(J.NotKept(), 0u);
    for (int I = 0; I < 100; ++I)
      J.TakeNext();
    EXPECT_EQ(J.Waiting(), 500u);
  }
  const TAdifDocument Written = ReadAdif(test::ReadFile(Path));
  ASSERT_EQ(Written.Records.size(), 600u) << Written.Error;
  TContactJournal J(Path, 120);
  ASSERT_TRUE(J.Open());
  EXPECT_EQ(J.Waiting(), 500u);
  J.Add(Contact("K9999"));
  Sent.push_back("K9999");
  EXPECT_EQ(Calls(J), std::vector<std::string>(Sent.begin() + 100, Sent.end()));
  EXPECT_EQ(J.Waiting(), 0u);
}

} // namespace

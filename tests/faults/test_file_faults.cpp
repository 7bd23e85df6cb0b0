// The contact journal and the logbook's queue under broken files: a full
// file system (a small tmpfs, as root), records cut short or joined, lines of
// megabytes, and a long queue drained against a logbook on 127.0.0.1.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "../logbook/LogbookTestKit.h"
#include "common/FileHelpers.h"
#include "contacts/untAdif.h"
#include "contacts/untContactJournal.h"
#include "logbook/untContactOutbox.h"

using namespace vela;
using namespace vela::test;
using namespace velatest;

namespace {

std::filesystem::path TestDir() {
  const std::string Name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  const auto Dir = std::filesystem::path(::testing::TempDir()) / ("vela-file-faults-" + Name);
  std::filesystem::remove_all(Dir);
  std::filesystem::create_directories(Dir);
  return Dir;
}

// Comment: that many characters more, so that a write needs room of its own
// on a file system that counts pages.
TContact Contact(const std::string& Call, std::size_t Comment = 0) {
  TContact C;
  C.Fields = {{"call", Call}, {"band", "20m"}, {"mode", "FT8"}, {"rst_sent", "-10"}};
  if (Comment > 0)
    C.Fields.push_back({"comment", std::string(Comment, 'c')});
  return C;
}

std::string Record(const std::string& Call, std::size_t Comment = 0) {
  return AdifRecordText(Contact(Call, Comment));
}

std::vector<std::string> Waiting(TContactJournal& J) {
  std::vector<std::string> Calls;
  while (const TContact* C = J.Next()) {
    Calls.push_back(C->Field("call"));
    J.TakeNext();
  }
  return Calls;
}

// A small tmpfs of its own, filled up to the last byte by a filler file
// that Free() removes. Usable() is false where it cannot be mounted.
class TFullDisk {
public:
  explicit TFullDisk(std::filesystem::path ADir) : FDir(std::move(ADir)) {
    if (::geteuid() != 0 || ::mount("tmpfs", FDir.c_str(), "tmpfs", 0, "size=256k") != 0)
      return;
    FMounted = true;
  }
  ~TFullDisk() {
    if (FMounted)
      ::umount2(FDir.c_str(), MNT_DETACH);
  }
  bool Usable() const { return FMounted; }
  void Fill() {
    std::ofstream Filler(FDir / "filler", std::ios::binary);
    const std::string Block(4096, 'x');
    while (Filler.write(Block.data(), static_cast<std::streamsize>(Block.size())) && Filler.flush())
      ;
    // The last part block, byte by byte.
    Filler.clear();
    while (Filler.put('x') && Filler.flush())
      ;
  }
  void Free() { std::filesystem::remove(FDir / "filler"); }

private:
  std::filesystem::path FDir;
  bool FMounted = false;
};

class FileFaults : public ::testing::Test {
protected:
  void SetUp() override {
    VELA_SKIP_QT_HTTP_UNDER_TSAN();
    Dir = TestDir();
    Client.setBaseUrl(Logbook.Url());
    Client.setKey("wl123abc");
  }
  std::filesystem::path Dir;
  TFakeLogbook Logbook;
  TLogbookClient Client;
};

} // namespace

// Disk full: no write is lost. The contacts stay in memory, the failure is
// said with the file and the reason, and once there is room again they are
// written without a new contact, so what a restart (after kill -9) reads
// holds every one of them.
TEST_F(FileFaults, AFullDiskLosesNoContactOfTheQueueOrTheJournal) {
  TFullDisk Disk(Dir);
  if (!Disk.Usable())
    GTEST_SKIP() << "a tmpfs can be mounted by root only (and not in every container)";
  const std::string Queue = (Dir / "LogbookOutbox.jsonl").string();
  const std::string Journal = (Dir / "VelaLog-contacts.adi").string();
  TContactOutbox Outbox(Client, Queue); // never started: nothing leaves
  TContactJournal J(Journal);
  ASSERT_TRUE(J.Open());
  ASSERT_TRUE(Outbox.Enqueue(Record("AAA1A")));
  ASSERT_TRUE(J.Add(Contact("AAA1A")));

  Disk.Fill();
  const std::vector<std::string> Later = {"BBB1B", "CCC1C", "DDD1D"};
  for (const std::string& Call : Later) {
    std::string Why;
    EXPECT_TRUE(Outbox.Enqueue(Record(Call, 9000), &Why));
    EXPECT_NE(Why.find("No space left"), std::string::npos) << Why;
    EXPECT_TRUE(J.Add(Contact(Call, 9000)));
  }
  EXPECT_NE(Outbox.StatusWords().find(Queue), std::string::npos) << Outbox.StatusWords();
  EXPECT_NE(Outbox.StatusWords().find("3 contacts held in memory"), std::string::npos)
      << Outbox.StatusWords();
  EXPECT_NE(J.ErrorText().find(Journal), std::string::npos) << J.ErrorText();
  EXPECT_NE(J.ErrorText().find("No space left"), std::string::npos) << J.ErrorText();
  EXPECT_EQ(J.Unwritten(), 3u);
  // The form takes one meanwhile: it is still written, and not offered again.
  J.TakeNext();
  J.TakeNext();
  EXPECT_EQ(Outbox.Waiting(), 4u);
  // Nothing half-written on the full disk.
  EXPECT_EQ(TContactOutbox(Client, Queue).Waiting(), 1u);

  Disk.Free();
  ASSERT_TRUE(WaitFor([&] { return Outbox.WriteProblem().empty() && J.Unwritten() == 0; }))
      << Outbox.StatusWords() << " / " << J.ErrorText();
  EXPECT_EQ(J.ErrorText(), "");
  EXPECT_EQ(TContactOutbox(Client, Queue).Waiting(), 4u);
  TContactJournal Again(Journal);
  ASSERT_TRUE(Again.Open()) << Again.ErrorText();
  EXPECT_EQ(Waiting(Again), (std::vector<std::string>{"CCC1C", "DDD1D"}));
  EXPECT_EQ(ReadAdif(ReadFile(Journal)).Records.size(), 4u);
}

// Files cut short or joined by a crash or a full disk: each whole record is
// kept and offered, each damaged part is set aside beside the file with a
// note, and the next record starts on a line of its own.
TEST_F(FileFaults, ACutJournalKeepsEveryWholeRecord) {
  const std::string Header = AdifHeaderText();
  const std::string A = Record("AAA1A") + "\n", B = Record("BBB1B") + "\n";
  struct TCase {
    const char* Name;
    std::string Text;
    std::vector<std::string> Offered;
    std::size_t Damaged;
  } Cases[] = {
      {"cut at the end", Header + A + B.substr(0, 30), {"AAA1A"}, 1},
      {"only a cut record", Header + A.substr(0, 25), {}, 1},
      {"only a cut header", Header.substr(0, 12), {}, 0},
      {"cut, then a whole record on its own line",
       Header + A.substr(0, 30) + "\n" + B,
       {"BBB1B"},
       1},
      {"cut and joined to the next", Header + A.substr(0, 30) + B + A, {"BBB1B", "AAA1A"}, 1},
      {"garbage between records",
       Header + A + "<call:99>garbage<eor>\n" + B,
       {"AAA1A", "BBB1B"},
       1},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const std::string Path = (Dir / "VelaLog-contacts.adi").string();
    std::filesystem::remove(Path + ".damaged");
    std::filesystem::remove(Path + ".taken");
    WriteFile(Path, Case.Text);
    {
      TContactJournal J(Path);
      ASSERT_TRUE(J.Open()) << J.ErrorText();
      EXPECT_EQ(J.Damaged(), Case.Damaged);
      if (Case.Damaged > 0) {
        EXPECT_NE(J.ErrorText().find(J.DamagedPath()), std::string::npos) << J.ErrorText();
        EXPECT_NE(ReadFile(J.DamagedPath()).find("no whole record"), std::string::npos);
      }
      ASSERT_TRUE(J.Add(Contact("NEW1A")));
      std::vector<std::string> Offered = Case.Offered;
      Offered.push_back("NEW1A");
      EXPECT_EQ(Waiting(J), Offered);
    }
    TContactJournal J(Path);
    ASSERT_TRUE(J.Open());
    EXPECT_EQ(J.Damaged(), 0u) << "set aside once only";
    // The whole journal reads as ADIF again.
    EXPECT_EQ(ReadAdif(ReadFile(Path)).Error, "");
  }
}

TEST_F(FileFaults, ACutQueueKeepsEveryWholeRecord) {
  auto Line = [](const std::string& Call) { return "{\"adif\":\"" + Record(Call) + "\"}\n"; };
  struct TCase {
    const char* Name;
    std::string Text;
    std::size_t Kept, Damaged;
  } Cases[] = {
      {"cut at the end", Line("AAA1A") + Line("BBB1B").substr(0, 40), 1, 1},
      {"cut and joined to the next", Line("AAA1A").substr(0, 40) + Line("BBB1B") + Line("CCC1C"), 2,
       1},
      {"garbage in the middle", Line("AAA1A") + "garbage\n" + Line("BBB1B"), 2, 1},
      {"a line of megabytes", Line("AAA1A") + std::string(3 << 20, 'x') + "\n" + Line("BBB1B"), 2,
       1},
      {"whole, without its last line end", Line("AAA1A") + Line("BBB1B"), 2, 0},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const std::string Path = (Dir / "LogbookOutbox.jsonl").string();
    std::filesystem::remove(Path + ".damaged");
    // The last case's record ends with its closing brace, without a line end.
    WriteFile(Path, Case.Damaged > 0 ? Case.Text : Case.Text.substr(0, Case.Text.rfind('}') + 1));
    {
      TContactOutbox Outbox(Client, Path);
      EXPECT_EQ(Outbox.Waiting(), Case.Kept);
      EXPECT_EQ(Outbox.Damaged(), Case.Damaged);
      if (Case.Damaged > 0) {
        EXPECT_NE(Outbox.StatusWords().find(".damaged"), std::string::npos);
        EXPECT_LT(std::filesystem::file_size(Path + ".damaged"), 64u * 1024);
      }
      ASSERT_TRUE(Outbox.Enqueue(Record("NEW1A")));
    }
    TContactOutbox Again(Client, Path);
    EXPECT_EQ(Again.Waiting(), Case.Kept + 1);
    EXPECT_EQ(Again.Damaged(), 0u) << "set aside once only";
  }
}

// A long queue drains with writes proportional to its length, and what is
// left after any number of posts reads back the same after a restart.
TEST_F(FileFaults, ALongQueueDrainsAppendingOnly) {
  const std::string Path = (Dir / "LogbookOutbox.jsonl").string();
  constexpr int Count = 600;
  std::size_t Queued = 0;
  {
    TContactOutbox Outbox(Client, Path);
    Outbox.setStationId(1);
    for (int I = 0; I < Count; ++I)
      ASSERT_TRUE(Outbox.Enqueue(Record("K" + std::to_string(1000 + I))));
    Queued = std::filesystem::file_size(Path);
    Logbook.Default = TFakeLogbook::TAnswer{201, R"({"status":"created","adif_count":1})"};
    Outbox.Start();
    ASSERT_TRUE(WaitFor([&] { return Outbox.Waiting() <= Count / 2 - 10; }, 120000))
        << Outbox.StatusWords() << " " << Logbook.Seen.size();
    Outbox.Stop();
    Client.Abort(); // as the program does: the post on its way is answered to nobody
    // Compacted along the way, never rewritten whole per post.
    EXPECT_LT(std::filesystem::file_size(Path), Queued);
  }
  TContactOutbox Outbox(Client, Path);
  const std::size_t Left = Outbox.Waiting();
  EXPECT_LE(Left, static_cast<std::size_t>(Count / 2));
  Outbox.setStationId(1);
  Outbox.Start();
  ASSERT_TRUE(WaitFor([&] { return Outbox.Waiting() == 0; }, 120000));
  // Every contact posted (one may be posted again when its answer came
  // after the stop), none lost.
  std::set<std::string> Calls;
  for (const TSeenRequest& R : Logbook.Seen)
    Calls.insert(
        ReadAdif(R.Json().value("string").toString().toStdString()).Records.at(0).Field("call"));
  std::string Missing;
  for (int I = 0; I < Count; ++I)
    if (!Calls.count("K" + std::to_string(1000 + I)))
      Missing += " K" + std::to_string(1000 + I);
  EXPECT_EQ(Calls.size(), static_cast<std::size_t>(Count))
      << "missing" << Missing << "; left after the stop " << Left << ", posts "
      << Logbook.Seen.size();
  EXPECT_LE(Logbook.Seen.size(), static_cast<std::size_t>(Count) + 1);
  EXPECT_EQ(std::filesystem::file_size(Path), 0u);
}

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

#include "contacts/untContactJournal.h"

#include "platform/untDurableFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>

#include <QDateTime>

#include "contacts/untAdif.h"
#include "platform/untStrToInt.h"
#include "platform/untText.h"
#include "settings/untSettingsLocation.h"

namespace vela {

namespace {

// What a restart reads at most of the waiting part of the journal.
constexpr std::uint64_t MaxWaitingBytes = 64ull * 1024 * 1024;
// What one refill of the waiting contacts reads of the journal at most.
constexpr std::uint64_t RefillBytes = 4ull * 1024 * 1024;

struct TFd {
  int Fd;
  explicit TFd(int AFd) : Fd(AFd) {}
  ~TFd() {
    if (Fd >= 0)
      ::close(Fd);
  }
};

bool ReadRange(int Fd, std::uint64_t From, std::uint64_t To, std::string& Data) {
  Data.resize(static_cast<std::size_t>(To - From));
  std::size_t Done = 0;
  while (Done < Data.size()) {
    const ssize_t N =
        ::pread(Fd, Data.data() + Done, Data.size() - Done, static_cast<off_t>(From + Done));
    if (N < 0 && errno == EINTR)
      continue;
    if (N <= 0)
      return false;
    Done += static_cast<std::size_t>(N);
  }
  return true;
}

// The journal's text read record by record: each record ends with "<eor>"
// and a line end, as Add writes it. A part that is no whole record (cut
// short, damaged, or a cut record that the next one follows) is named in
// Damaged; the whole records before and after it are read all the same.
struct TRecords {
  std::vector<TContact> Records;
  std::vector<std::size_t> Ends; // the offset after each record's line end
  std::vector<std::pair<std::size_t, std::size_t>> Damaged; // from, to
};

// Text as exactly one whole record with a call, whose field names are
// names (a tag cut short and joined to the next one is not).
std::optional<TContact> OneRecord(std::string_view Text) {
  TAdifDocument Doc = ReadAdif(Text);
  if (!Doc.Error.empty() || !Doc.Damaged.empty() || Doc.Records.size() != 1 ||
      Doc.Records[0].Field("call").empty())
    return std::nullopt;
  for (const TContactField& F : Doc.Records[0].Fields)
    if (F.Name.empty() ||
        F.Name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") != std::string::npos)
      return std::nullopt;
  return std::move(Doc.Records[0]);
}

TRecords SplitRecords(std::string_view Text) {
  static constexpr std::string_view End = "<eor>\n";
  TRecords Out;
  std::size_t At = 0;
  while (At < Text.size()) {
    const std::size_t Found = Text.find(End, At);
    if (Found == std::string_view::npos) {
      if (Text.find_first_not_of(" \t\r\n", At) != std::string_view::npos)
        Out.Damaged.emplace_back(At, Text.size());
      break;
    }
    const std::size_t To = Found + End.size();
    std::optional<TContact> Record = OneRecord(Text.substr(At, To - At));
    // A record cut short that the next one follows (on a line of its own,
    // or joined to it by an older version): the whole record is the
    // longest tail of the part that reads as one.
    // Tried within a record's reach of its end, a bounded number of times.
    constexpr std::size_t Reach = 64 * 1024;
    constexpr int MaxTries = 256;
    std::size_t Start = At;
    int Tries = 0;
    for (std::size_t Tag = Text.find('<', std::max(At + 1, Found > Reach ? Found - Reach : 0));
         !Record && Tag < Found && Tries++ < MaxTries; Tag = Text.find('<', Tag + 1)) {
      Record = OneRecord(Text.substr(Tag, To - Tag));
      if (Record)
        Start = Tag;
    }
    if (!Record) {
      Out.Damaged.emplace_back(At, To);
    } else {
      if (Start > At)
        Out.Damaged.emplace_back(At, Start);
      Out.Records.push_back(std::move(*Record));
      Out.Ends.push_back(To);
    }
    At = To;
  }
  return Out;
}

} // namespace

TContactJournal::TContactJournal(std::string Path, std::size_t AMaxWaiting)
    : FPath(std::move(Path)), FMaxWaiting(AMaxWaiting) {
  FRetry.setSingleShot(true);
  QObject::connect(&FRetry, &QTimer::timeout, [this] {
    Flush();
    if (FOnChange)
      FOnChange();
  });
}

std::size_t TContactJournal::Unwritten() const {
  return FTakenUnwritten.size() +
         static_cast<std::size_t>(std::count_if(FWaiting.begin(), FWaiting.end(),
                                                [](const TWaiting& W) { return W.End == 0; }));
}

std::string TContactJournal::PathBeside(const std::string& SettingsFile) {
  return FileBesideSettings(SettingsFile,
                            std::filesystem::path(SettingsFile).stem().string() + "-contacts.adi");
}

std::string TContactJournal::HeldPathBeside(const std::string& SettingsFile) {
  return FileBesideSettings(SettingsFile, std::filesystem::path(SettingsFile).stem().string() +
                                              "-contacts-held.adi");
}

void TContactJournal::Failed(const std::string& What) {
  FErrorText = What + " " + FPath + ": " + std::strerror(errno);
}

bool TContactJournal::SetAsideDamaged(
    const std::string& Text, std::uint64_t From,
    const std::vector<std::pair<std::size_t, std::size_t>>& Damaged) {
  std::string Aside;
  const std::string When =
      QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
  for (const auto& [Begin, End] : Damaged)
    Aside += "# " + When + " UTC: bytes " + std::to_string(From + Begin) + " to " +
             std::to_string(From + End) + " of " + FPath + " are no whole record, set aside:\n" +
             Text.substr(Begin, End - Begin) + "\n";
  if (!AppendLines(DamagedPath(), Aside, 0600)) {
    FErrorText = "cannot set aside a damaged record of the contact journal " + FPath + " in " +
                 DamagedPath() + ": " + std::strerror(errno);
    return false;
  }
  FDamaged += Damaged.size();
  return true;
}

bool TContactJournal::Open() {
  FWaiting.clear();
  FTakenUnwritten.clear();
  FInFormUnwritten = false;
  FUnloaded = 0;
  FLoadedEnd = 0;
  FDamaged = 0;
  FDamagedNote.clear();
  FErrorText.clear();
  for (int Pass = 0;; ++Pass) {
    TFd Journal(::open(FPath.c_str(), O_RDWR | O_CLOEXEC));
    if (Journal.Fd < 0) {
      if (errno == ENOENT)
        return true;
      Failed("cannot open the contact journal");
      return false;
    }
    struct stat St {};
    if (::fstat(Journal.Fd, &St) != 0) {
      Failed("cannot read the contact journal");
      return false;
    }
    const auto Size = static_cast<std::uint64_t>(St.st_size);
    std::uint64_t Taken = 0;
    {
      TFd Mark(::open((FPath + ".taken").c_str(), O_RDONLY | O_CLOEXEC));
      char Text[32] = {};
      std::int64_t Mark64 = 0;
      if (Mark.Fd >= 0 && ::read(Mark.Fd, Text, sizeof Text - 1) > 0 &&
          TryDigitsToInt(Trim(Text, " \t\r\n"), 18, Mark64))
        Taken = static_cast<std::uint64_t>(Mark64);
    }
    // A mark past the end belongs to a journal since replaced: all of this
    // one waits.
    if (Taken > Size)
      Taken = 0;
    if (Size - Taken > MaxWaitingBytes) {
      FErrorText = "the contact journal " + FPath + " has more waiting than can be read";
      return false;
    }
    std::string Tail;
    if (!ReadRange(Journal.Fd, Taken, Size, Tail)) {
      Failed("cannot read the contact journal");
      return false;
    }
    const std::string Header = AdifHeaderText();
    std::size_t Body = 0;
    if (Taken == 0 && !Tail.empty()) {
      if (Tail.size() < Header.size() && Header.compare(0, Tail.size(), Tail) == 0) {
        // Only the start of a header, cut short before any record: empty.
        if (::ftruncate(Journal.Fd, 0) != 0 || ::fsync(Journal.Fd) != 0) {
          Failed("cannot mend the contact journal");
          return false;
        }
        Tail.clear();
      } else if (Tail.rfind(Header.substr(0, 20), 0) != 0) {
        FErrorText = FPath + " is not a contact journal of this program";
        return false;
      } else if (const std::size_t Eoh = Tail.find("<eoh>\n"); Eoh != std::string::npos) {
        Body = Eoh + 6;
      }
    }
    const TRecords Read = SplitRecords(std::string_view(Tail).substr(Body));
    if (!Read.Damaged.empty() && Pass == 0) {
      std::vector<std::pair<std::size_t, std::size_t>> Damaged;
      for (const auto& [Begin, End] : Read.Damaged)
        Damaged.emplace_back(Body + Begin, Body + End);
      if (SetAsideDamaged(Tail, Taken, Damaged)) {
        // Cut out: a cut end by cutting the file, anything else by writing
        // the journal anew with its whole records (then read again).
        const bool AtEndOnly = Damaged.size() == 1 && Damaged[0].second == Tail.size();
        bool Mended = false;
        if (AtEndOnly) {
          Mended = ::ftruncate(Journal.Fd, static_cast<off_t>(Taken + Damaged[0].first)) == 0 &&
                   ::fsync(Journal.Fd) == 0;
        } else {
          std::string Before;
          std::string Whole = Tail.substr(0, Body);
          std::size_t From = Body;
          for (std::size_t I = 0; I < Read.Ends.size(); ++I) {
            std::size_t Start = From;
            for (const auto& [Begin, End] : Damaged)
              if (Begin >= From && End <= Body + Read.Ends[I])
                Start = End;
            Whole += Tail.substr(Start, Body + Read.Ends[I] - Start);
            From = Body + Read.Ends[I];
          }
          Mended = ReadRange(Journal.Fd, 0, Taken, Before) &&
                   ReplaceDurably(FPath, Before + Whole, 0644);
        }
        if (!Mended) {
          Failed("cannot mend the contact journal");
        } else if (!AtEndOnly) {
          continue;
        }
      }
    } else if (!Read.Damaged.empty()) {
      FDamaged += Read.Damaged.size();
    }
    FLoadedEnd = Taken + Body;
    std::size_t I = 0;
    for (; I < Read.Records.size() && FWaiting.size() < FMaxWaiting; ++I) {
      FLoadedEnd = Taken + Body + Read.Ends[I];
      FWaiting.push_back({Read.Records[I], FLoadedEnd});
    }
    FUnloaded = Read.Records.size() - I;
    if (FDamaged > 0)
      FDamagedNote = std::to_string(FDamaged) +
                     (FDamaged == 1 ? " damaged record" : " damaged records") +
                     " of the contact journal set aside in " + DamagedPath();
    return true;
  }
}

void TContactJournal::Refill() {
  if (FUnloaded == 0 || FWaiting.size() > FMaxWaiting / 2)
    return;
  TFd Journal(::open(FPath.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat St {};
  if (Journal.Fd < 0 || ::fstat(Journal.Fd, &St) != 0) {
    Failed("cannot read the contact journal");
    return;
  }
  // A part at a time: whole records only, the rest on the next refill.
  const auto Size = static_cast<std::uint64_t>(St.st_size);
  const std::uint64_t To = std::min(Size, FLoadedEnd + RefillBytes);
  std::string Part;
  if (FLoadedEnd >= To || !ReadRange(Journal.Fd, FLoadedEnd, To, Part)) {
    Failed("cannot read the contact journal");
    return;
  }
  const std::size_t Complete = Part.rfind("<eor>\n");
  Part.resize(Complete == std::string::npos ? 0 : Complete + 6);
  const TRecords Read = SplitRecords(Part);
  if (Read.Records.empty()) {
    // What cannot be read back stays in the journal for the operator.
    FErrorText =
        "the contact journal " + FPath + " cannot be read on: no record where one was written";
    FUnloaded = 0;
    return;
  }
  const std::uint64_t From = FLoadedEnd;
  for (std::size_t I = 0; I < Read.Records.size() && FWaiting.size() < FMaxWaiting && FUnloaded > 0;
       ++I) {
    FLoadedEnd = From + Read.Ends[I];
    FWaiting.push_back({Read.Records[I], FLoadedEnd});
    --FUnloaded;
  }
}

bool TContactJournal::Append(const std::string& Text, std::uint64_t& End) {
  struct stat St {};
  const bool Fresh = ::stat(FPath.c_str(), &St) != 0 || St.st_size == 0;
  if (!AppendLines(FPath, Fresh ? AdifHeaderText() + Text : Text, 0644, &End)) {
    FErrorText = "cannot write the contact journal " + FPath + ": " + std::strerror(errno);
    FRetry.start(WriteRetryMs);
    return false;
  }
  FErrorText.clear();
  return true;
}

bool TContactJournal::Flush() {
  if (FMarkOwed > 0 && !KeepTaken(FMarkOwed))
    return false;
  std::string Text;
  std::vector<std::size_t> Sizes;
  auto Put = [&](const TContact& Contact) {
    Text += AdifRecordText(Contact) + "\n";
    Sizes.push_back(Text.size());
  };
  for (const TContact& Contact : FTakenUnwritten)
    Put(Contact);
  auto FirstUnwritten =
      std::find_if(FWaiting.begin(), FWaiting.end(), [](const TWaiting& W) { return W.End == 0; });
  for (auto It = FirstUnwritten; It != FWaiting.end(); ++It)
    Put(It->Contact);
  if (Text.empty()) {
    FErrorText.clear();
    return true;
  }
  std::uint64_t End = 0;
  if (!Append(Text, End)) {
    FErrorText += " — " + std::to_string(Sizes.size()) +
                  (Sizes.size() == 1 ? " contact" : " contacts") + " held in memory";
    return false;
  }
  const std::uint64_t Start = End - Text.size();
  std::size_t I = 0;
  if (!FTakenUnwritten.empty()) {
    I = FTakenUnwritten.size();
    FTakenUnwritten.clear();
    // The last one taken may still be in the form, not saved: it stays
    // before the mark until it leaves the form, as a written one does.
    const std::size_t Taken = FInFormUnwritten ? I - 1 : I;
    if (FInFormUnwritten)
      FInFormEnd = Start + Sizes[I - 1];
    FInFormUnwritten = false;
    if (Taken > 0)
      KeepTaken(Start + Sizes[Taken - 1]);
  }
  for (auto It = FirstUnwritten; It != FWaiting.end(); ++It, ++I) {
    It->End = Start + Sizes[I];
    FLoadedEnd = It->End;
  }
  return true;
}

bool TContactJournal::Add(const TContact& Contact) {
  if (FUnloaded == 0 && FWaiting.size() < FMaxWaiting) {
    FWaiting.push_back({Contact, 0});
    Flush();
    return true;
  }
  // Memory is full: the contact waits in the journal alone, read back in
  // its turn, once those before it are written.
  std::uint64_t End = 0;
  if (Flush() && Append(AdifRecordText(Contact) + "\n", End)) {
    ++FUnloaded;
    return true;
  }
  ++FNotKept;
  return false;
}

bool TContactJournal::KeepTaken(std::uint64_t Offset) {
  if (!ReplaceDurably(FPath + ".taken", std::to_string(Offset) + "\n", 0644)) {
    // Kept to be written again: until then a restart offers those taken
    // again, which loses none.
    FMarkOwed = Offset;
    Failed("cannot write the contact journal's mark");
    FRetry.start(WriteRetryMs);
    return false;
  }
  FMarkOwed = 0;
  return true;
}

void TContactJournal::TakeNext() {
  IntoForm();
  FormLeft();
}

void TContactJournal::IntoForm() {
  if (FWaiting.empty())
    return;
  FormLeft();
  const std::uint64_t End = FWaiting.front().End;
  if (End == 0) {
    // Not written yet (the journal refuses writes): written as soon as a
    // write works again, and marked as taken once it left the form.
    FTakenUnwritten.push_back(std::move(FWaiting.front().Contact));
    FInFormUnwritten = true;
  } else {
    FInFormEnd = End;
  }
  FWaiting.pop_front();
  Refill();
}

void TContactJournal::FormLeft() {
  if (FInFormEnd > 0)
    KeepTaken(FInFormEnd);
  FInFormEnd = 0;
  FInFormUnwritten = false;
}

} // namespace vela

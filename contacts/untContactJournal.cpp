#include "contacts/untContactJournal.h"

#include "platform/untDurableFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

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

} // namespace

TContactJournal::TContactJournal(std::string Path, std::size_t AMaxWaiting)
    : FPath(std::move(Path)), FMaxWaiting(AMaxWaiting) {}

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

bool TContactJournal::Open() {
  FWaiting.clear();
  FUnloaded = 0;
  FLoadedEnd = 0;
  TFd Journal(::open(FPath.c_str(), O_RDWR | O_CLOEXEC));
  if (Journal.Fd < 0) {
    if (errno == ENOENT) {
      FErrorText.clear();
      return true;
    }
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
  if (Taken == 0 && !Tail.empty() && Tail.rfind(AdifHeaderText().substr(0, 20), 0) != 0) {
    FErrorText = FPath + " is not a contact journal of this program";
    return false;
  }
  // A record cut short by a crash (never acknowledged) is cut off, so that
  // the next record does not run into it.
  std::size_t Complete = 0;
  for (const char* End : {"<eor>\n", "<eoh>\n"})
    if (const std::size_t At = Tail.rfind(End); At != std::string::npos)
      Complete = std::max(Complete, At + 6);
  if (Complete < Tail.size()) {
    if (::ftruncate(Journal.Fd, static_cast<off_t>(Taken + Complete)) != 0 ||
        ::fsync(Journal.Fd) != 0) {
      Failed("cannot mend the contact journal");
      return false;
    }
    Tail.resize(Complete);
  }
  TAdifDocument Doc = ReadAdif(Tail);
  if (!Doc.Error.empty()) {
    FErrorText = "the contact journal " + FPath + " is damaged: " + Doc.Error;
    return false;
  }
  FLoadedEnd = Taken;
  for (std::size_t I = 0; I < Doc.Records.size() && FWaiting.size() < FMaxWaiting; ++I) {
    FLoadedEnd = Taken + Doc.Ends[I];
    FWaiting.push_back({std::move(Doc.Records[I]), FLoadedEnd});
  }
  FUnloaded = Doc.Records.size() - FWaiting.size();
  FErrorText.clear();
  return true;
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
  TAdifDocument Doc = ReadAdif(Part);
  if (!Doc.Error.empty() || Doc.Records.empty()) {
    // What cannot be read back stays in the journal for the operator.
    FErrorText = "the contact journal " + FPath + " cannot be read on: " +
                 (Doc.Error.empty() ? std::string("no record where one was written") : Doc.Error);
    FUnloaded = 0;
    return;
  }
  const std::uint64_t From = FLoadedEnd;
  for (std::size_t I = 0; I < Doc.Records.size() && FWaiting.size() < FMaxWaiting && FUnloaded > 0;
       ++I) {
    FLoadedEnd = From + Doc.Ends[I];
    FWaiting.push_back({std::move(Doc.Records[I]), FLoadedEnd});
    --FUnloaded;
  }
}

bool TContactJournal::Append(const std::string& Text, std::uint64_t& End) {
  TFd Journal(::open(FPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (Journal.Fd < 0) {
    Failed("contacts are not being kept: cannot write the contact journal");
    return false;
  }
  struct stat St {};
  const bool Fresh = ::fstat(Journal.Fd, &St) == 0 && St.st_size == 0;
  const std::string Data = Fresh ? AdifHeaderText() + Text : Text;
  if (!WriteAll(Journal.Fd, Data) || ::fsync(Journal.Fd) != 0 || ::fstat(Journal.Fd, &St) != 0) {
    Failed("contacts are not being kept: cannot write the contact journal");
    return false;
  }
  if (Fresh)
    SyncFolderOf(FPath);
  End = static_cast<std::uint64_t>(St.st_size);
  FErrorText.clear();
  return true;
}

bool TContactJournal::Add(const TContact& Contact) {
  std::uint64_t End = 0;
  const bool Kept = Append(AdifRecordText(Contact) + "\n", End);
  if (FUnloaded == 0 && FWaiting.size() < FMaxWaiting) {
    FWaiting.push_back({Contact, Kept ? End : 0});
    if (Kept)
      FLoadedEnd = End;
    return true;
  }
  // Memory is full: the contact waits in the journal alone, read back in
  // its turn.
  if (Kept) {
    ++FUnloaded;
    return true;
  }
  ++FNotKept;
  return false;
}

bool TContactJournal::KeepTaken(std::uint64_t Offset) {
  if (!ReplaceDurably(FPath + ".taken", std::to_string(Offset) + "\n", 0644)) {
    Failed("cannot write the contact journal's mark");
    return false;
  }
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
  FInFormEnd = FWaiting.front().End;
  FWaiting.pop_front();
  Refill();
}

void TContactJournal::FormLeft() {
  if (FInFormEnd > 0)
    KeepTaken(FInFormEnd);
  FInFormEnd = 0;
}

} // namespace vela

#include "contacts/untAdifFileFollower.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSaveFile>
#include <QTimer>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "contacts/untAdif.h"
#include "platform/untText.h"

namespace vela {

namespace {

// How many bytes before the read position are compared to tell a file
// appended to from one saved again whole.
constexpr std::int64_t TailBytes = 64;
// How far back from the end a file first seen is read for the records that
// count as taken already.
constexpr std::int64_t FirstLookBytes = 64 * 1024;

// Where the next "<eor>" (any case) at or after From begins; npos for none.
std::size_t FindEor(std::string_view Text, std::size_t From) {
  for (std::size_t At = Text.find('<', From); At != std::string_view::npos;
       At = Text.find('<', At + 1))
    if (Text.size() - At >= 5 && AsciiLower(Text.substr(At, 5)) == "<eor>")
      return At;
  return std::string_view::npos;
}

// The byte after the last "<eor>" in Text; 0 when there is none.
std::size_t LastEorEnd(std::string_view Text) {
  std::size_t End = 0;
  for (std::size_t At = FindEor(Text, 0); At != std::string_view::npos; At = FindEor(Text, At + 5))
    End = At + 5;
  return End;
}

// "yyyyMMddhhmmss" of the contact's time on; empty when it has none.
std::string TimeOnStamp(const TContact& Contact) {
  std::string Date = Contact.Field("qso_date"), Time = Contact.Field("time_on");
  if (Date.size() != 8 || (Time.size() != 4 && Time.size() != 6))
    return {};
  return Date + Time + (Time.size() == 4 ? "00" : "");
}

std::string HexText(std::uint64_t Value) {
  char Text[17];
  std::snprintf(Text, sizeof Text, "%016llx", static_cast<unsigned long long>(Value));
  return Text;
}

std::string NowStamp() {
  return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddhhmmss")).toStdString();
}

QByteArray ReadAt(QFile& File, std::int64_t At, std::int64_t Count) {
  if (Count <= 0 || !File.seek(At))
    return {};
  return File.read(Count);
}

// The bytes just before At.
std::string TailOf(QFile& File, std::int64_t At) {
  return ReadAt(File, std::max<std::int64_t>(0, At - TailBytes), std::min(At, TailBytes))
      .toStdString();
}

// FNV-1a, 64 bits: its state is its value, so that hashing goes on where it
// stopped, also after a restart.
constexpr std::uint64_t FnvBasis = 0xcbf29ce484222325ull;
std::uint64_t Fnv(std::uint64_t Hash, std::string_view Bytes) {
  for (char C : Bytes)
    Hash = (Hash ^ static_cast<unsigned char>(C)) * 0x100000001b3ull;
  return Hash;
}

// The hash of the file's bytes from From to To, going on from Hash.
std::uint64_t HashOf(QFile& File, std::int64_t From, std::int64_t To,
                     std::uint64_t Hash = FnvBasis) {
  for (std::int64_t At = From; At < To;) {
    const QByteArray Data =
        ReadAt(File, At, std::min<std::int64_t>(To - At, TAdifFileFollower::ChunkBytes));
    if (Data.isEmpty())
      break;
    Hash = Fnv(Hash, std::string_view(Data.constData(), static_cast<std::size_t>(Data.size())));
    At += Data.size();
  }
  return Hash;
}

// The byte after the first (Last: the last) "<eor>" in the file between From
// and To, read a chunk at a time; 0 when there is none.
std::int64_t EorEndIn(QFile& File, std::int64_t From, std::int64_t To, bool Last) {
  std::int64_t Found = 0;
  for (std::int64_t At = std::max<std::int64_t>(0, From); At < To;) {
    const QByteArray Data =
        ReadAt(File, At, std::min<std::int64_t>(To - At, TAdifFileFollower::ChunkBytes));
    if (Data.size() < 5)
      break;
    const std::string_view Text(Data.constData(), static_cast<std::size_t>(Data.size()));
    if (Last) {
      if (const std::size_t End = LastEorEnd(Text); End > 0)
        Found = At + static_cast<std::int64_t>(End);
    } else if (const std::size_t Eor = FindEor(Text, 0); Eor != std::string_view::npos) {
      return At + static_cast<std::int64_t>(Eor + 5);
    }
    // Chunks overlap by four bytes: an "<eor>" across their border is found.
    At += Data.size() - 4;
  }
  return Found;
}

std::int64_t FirstEorEndIn(QFile& File, std::int64_t From, std::int64_t To) {
  return EorEndIn(File, From, To, false);
}

std::int64_t LastEorEndIn(QFile& File, std::int64_t From, std::int64_t To) {
  return EorEndIn(File, From, To, true);
}

} // namespace

TAdifFileFollower::TAdifFileFollower(std::string APath, std::string AStatePath)
    : FPath(std::move(APath)), FStatePath(std::move(AStatePath)) {}

TAdifFileFollower::~TAdifFileFollower() = default;

std::string TAdifFileFollower::StatePathFor(const std::string& Folder, const std::string& LogFile) {
  const QByteArray Hash =
      QCryptographicHash::hash(QByteArray::fromStdString(LogFile), QCryptographicHash::Sha1)
          .toHex()
          .left(16);
  return Folder + "/VelaLog-logfile-" + Hash.toStdString() + ".state";
}

void TAdifFileFollower::Start() {
  LoadState();
  Watch();
  Check();
}

void TAdifFileFollower::Watch() {
  if (!FWatcher) {
    FWatcher = std::make_unique<QFileSystemWatcher>();
    QObject::connect(FWatcher.get(), &QFileSystemWatcher::fileChanged,
                     [this](const QString&) { ScheduleCheck(); });
    QObject::connect(FWatcher.get(), &QFileSystemWatcher::directoryChanged,
                     [this](const QString&) { ScheduleCheck(); });
  }
  const QString File = QString::fromStdString(FPath);
  const QString Folder = QFileInfo(File).absolutePath();
  // A file that was removed leaves the watcher's list; its folder says when
  // it returns.
  if (!FWatcher->directories().contains(Folder) && QFileInfo(Folder).isDir())
    FWatcher->addPath(Folder);
  if (!FWatcher->files().contains(File) && QFileInfo(File).isFile())
    FWatcher->addPath(File);
}

void TAdifFileFollower::ScheduleCheck(int AfterMs) {
  if (AfterMs > 0) {
    if (FLaterScheduled)
      return;
    FLaterScheduled = true;
    std::weak_ptr<int> Alive = FAlive;
    QTimer::singleShot(AfterMs, [this, Alive] {
      if (Alive.expired())
        return;
      FLaterScheduled = false;
      Check();
    });
    return;
  }
  if (FCheckScheduled)
    return;
  FCheckScheduled = true;
  std::weak_ptr<int> Alive = FAlive;
  QTimer::singleShot(0, [this, Alive] {
    if (Alive.expired())
      return;
    FCheckScheduled = false;
    Check();
  });
}

void TAdifFileFollower::SetProblem(std::string Text) {
  if (Text == FProblem)
    return;
  FProblem = std::move(Text);
  if (FOnChange)
    FOnChange();
}

bool TAdifFileFollower::Remember(const std::string& Key) {
  if (!FTaken.insert(Key).second)
    return false;
  FTakenOrder.push_back(Key);
  if (FTakenOrder.size() > MaxTaken) {
    FTaken.erase(FTakenOrder.front());
    FTakenOrder.pop_front();
  }
  return true;
}

void TAdifFileFollower::Check() {
  Watch();
  struct stat St {};
  if (::stat(FPath.c_str(), &St) != 0) {
    const int Error = errno;
    if (!FKnown) {
      // A program makes its log file with the first contact it logs: the
      // file that appears holds only new ones (those not older than now).
      FKnown = true;
      FOffset = 0;
      FPrefixHash = FnvBasis;
      FSince = NowStamp();
      SaveState();
    }
    SetProblem("log file " + FPath + ": " + std::strerror(Error));
    return;
  }
  if (!S_ISREG(St.st_mode)) {
    SetProblem("log file " + FPath + " is not a regular file");
    return;
  }
  QFile File(QString::fromStdString(FPath));
  if (!File.open(QIODevice::ReadOnly)) {
    SetProblem("cannot read log file " + FPath + ": " + File.errorString().toStdString());
    return;
  }
  const std::string Identity = std::to_string(St.st_dev) + ":" + std::to_string(St.st_ino);
  const auto Size = static_cast<std::int64_t>(St.st_size);
  if (!FKnown) {
    FirstLook(File, Identity, Size);
    return;
  }
  const bool Moved = Identity != FIdentity;
  FIdentity = Identity;
  if (Moved) {
    // The watch may still be on the file that was replaced (kept open by
    // its writer): it moves to the one now under the name.
    FWatcher->removePath(QString::fromStdString(FPath));
    Watch();
  }
  std::string Problem;
  const std::int64_t Offset = FOffset;
  if (!FRereading) {
    if (Size < FOffset) {
      // Shorter than what was read: being saved again in place (cut to
      // nothing, then written anew in pieces), or cut shorter for good.
      // Looked at again once it has grown past the read position, or has
      // kept its size for a while (or stayed shorter for long, however it
      // changed).
      const auto Now = std::chrono::steady_clock::now();
      if (!FShrunk)
        FShrunkSince = Now;
      if (!FShrunk || Size != FShrunkSize) {
        FShrunk = true;
        FShrunkSize = Size;
        FShrunkAt = Now;
      }
      if (Now - FShrunkAt < std::chrono::milliseconds(SettleMs) &&
          Now - FShrunkSince < std::chrono::milliseconds(10 * SettleMs)) {
        ScheduleCheck(SettleMs);
        return;
      }
      FShrunk = false;
      StartRereading();
    } else {
      // The old contents are recognised by the hash of all that was read
      // after the file changed under its name or was seen shorter; by the
      // bytes just before the read position otherwise.
      const bool Same = FPrefixHash && (Moved || FShrunk) ? HashOf(File, 0, FOffset) == *FPrefixHash
                                                          : TailOf(File, FOffset) == FTail;
      FShrunk = false;
      if (!Same)
        StartRereading();
      else if (!FPrefixHash)
        FPrefixHash = HashOf(File, 0, FOffset); // a state kept before the hash was
      if (Same && Size - FOffset > static_cast<std::int64_t>(ChunkBytes) &&
          FindEor(ReadAt(File, FOffset, ChunkBytes).toStdString(), 0) != std::string::npos) {
        // Too many records at once for contacts logged one by one: the
        // program's log took an import. Reading goes on after its last
        // whole record.
        Problem = "log file " + FPath + ": " + std::to_string(Size - FOffset) +
                  " bytes appended at once, taken as an import and passed over";
        SkipTo(File, LastEorEndIn(File, FOffset, Size));
      }
    }
  }
  if (FOffset < Size || FRereading)
    ReadOn(File, Size, Problem);
  if (Moved || !Problem.empty() || FOffset != Offset || FRereading)
    SaveState();
  SetProblem(Problem);
}

void TAdifFileFollower::FirstLook(QFile& File, const std::string& Identity, std::int64_t Size) {
  // Records already there are the program's earlier contacts: only those
  // near the end are remembered, so that a rewrite soon after does not hand
  // them on; older ones are older than FSince.
  const std::int64_t From = std::max<std::int64_t>(0, Size - FirstLookBytes);
  const QByteArray Data = ReadAt(File, From, Size - From);
  const std::string_view Text(Data.constData(), static_cast<std::size_t>(Data.size()));
  const std::size_t End = LastEorEnd(Text);
  std::size_t Begin = From == 0 ? 0 : FindEor(Text, 0);
  Begin = Begin == std::string_view::npos ? End : (From == 0 ? 0 : Begin + 5);
  for (std::size_t At = FindEor(Text, Begin); At != std::string_view::npos && At < End;
       At = FindEor(Text, Begin)) {
    const TAdifDocument Doc = ReadAdif(Text.substr(Begin, At + 5 - Begin));
    for (TContact Contact : Doc.Records)
      if (std::string Why; AdmitContact(Contact, Why))
        Remember(ContactKey(Contact));
    Begin = At + 5;
  }
  FKnown = true;
  FIdentity = Identity;
  FOffset = 0;
  FPrefixHash = FnvBasis;
  // A last record still being written is read when whole.
  SkipTo(File, End > 0 ? From + static_cast<std::int64_t>(End) : LastEorEndIn(File, 0, Size));
  FSince = NowStamp();
  SaveState();
  SetProblem({});
}

void TAdifFileFollower::StartRereading() {
  FRereading = true;
  FRereadSize = -1;
  FOffset = 0;
  FPrefixHash = FnvBasis;
  FTail.clear();
}

void TAdifFileFollower::ReadOn(QFile& File, std::int64_t Size, std::string& Problem) {
  // One chunk per turn; a rewritten file longer than that goes on at the
  // next turn.
  const std::int64_t Before = FOffset;
  const QByteArray Data = ReadAt(File, FOffset, std::min<std::int64_t>(Size - FOffset, ChunkBytes));
  const std::string_view Text(Data.constData(), static_cast<std::size_t>(Data.size()));
  const std::size_t End = LastEorEnd(Text);
  std::size_t Begin = 0;
  for (std::size_t At = FindEor(Text, 0); At != std::string_view::npos && At < End;
       At = FindEor(Text, Begin)) {
    const std::string_view Piece = Text.substr(Begin, At + 5 - Begin);
    Begin = At + 5;
    const TAdifDocument Doc = ReadAdif(Piece);
    if (!Doc.Error.empty() || !Doc.Damaged.empty())
      Problem = "log file " + FPath + ": a record passed over (" +
                (Doc.Error.empty() ? Doc.Damaged.back().Why : Doc.Error) + ")";
    for (TContact Contact : Doc.Records) {
      std::string Why;
      if (!AdmitContact(Contact, Why)) {
        Problem = "log file " + FPath + ": a contact refused (" + Why + ")";
        continue;
      }
      // A rewritten file holds the earlier contacts again: only those not
      // taken and not older than following the file are new.
      if (FRereading && TimeOnStamp(Contact) < FSince)
        continue;
      if (!Remember(ContactKey(Contact)))
        continue;
      ++FTakenCount;
      if (FOnContact)
        FOnContact(std::move(Contact));
    }
  }
  if (End > 0) {
    FPrefixHash = Fnv(*FPrefixHash, Text.substr(0, End));
    FOffset += static_cast<std::int64_t>(End);
    FTail = TailOf(File, FOffset);
  } else if (Data.size() == static_cast<qsizetype>(ChunkBytes)) {
    // A record longer than a chunk: passed over once it is whole, so that
    // the read position stays at a record's end.
    if (const std::int64_t Eor = FirstEorEndIn(File, FOffset + ChunkBytes - 4, Size); Eor > 0) {
      Problem = "log file " + FPath + ": a record longer than " + std::to_string(ChunkBytes) +
                " bytes passed over";
      SkipTo(File, Eor);
    }
  }
  if (FRereading) {
    // Reading anew goes on, a chunk a turn, to the end; the records of a
    // file still being written are checked against what was taken until
    // it has kept its size for a while.
    if (FOffset > Before && FOffset < Size) {
      ScheduleCheck();
    } else if (Size != FRereadSize) {
      FRereadSize = Size;
      FRereadAt = std::chrono::steady_clock::now();
      ScheduleCheck(SettleMs);
    } else if (std::chrono::steady_clock::now() - FRereadAt >=
               std::chrono::milliseconds(SettleMs)) {
      FRereading = false;
    } else {
      ScheduleCheck(SettleMs);
    }
  } else if (FOffset > Before && FOffset < Size) {
    // More whole records may follow what one chunk held.
    ScheduleCheck();
  }
}

void TAdifFileFollower::SkipTo(QFile& File, std::int64_t To) {
  if (To <= FOffset)
    return;
  FPrefixHash = HashOf(File, FOffset, To, FPrefixHash.value_or(FnvBasis));
  FOffset = To;
  FTail = TailOf(File, FOffset);
}

void TAdifFileFollower::LoadState() {
  QFile File(QString::fromStdString(FStatePath));
  if (!File.open(QIODevice::ReadOnly))
    return;
  bool SamePath = false;
  while (!File.atEnd()) {
    const std::string Line = File.readLine(4096).toStdString();
    const std::size_t Space = Line.find(' ');
    if (Space == std::string::npos)
      continue;
    const std::string Name = Line.substr(0, Space);
    std::string Value = Line.substr(Space + 1);
    while (!Value.empty() && (Value.back() == '\n' || Value.back() == '\r'))
      Value.pop_back();
    if (Name == "path")
      SamePath = Value == FPath;
    else if (Name == "identity")
      FIdentity = Value;
    else if (Name == "offset")
      FOffset = std::max<std::int64_t>(0, std::atoll(Value.c_str()));
    else if (Name == "tail")
      FTail = QByteArray::fromHex(QByteArray::fromStdString(Value)).toStdString();
    else if (Name == "hash" && Value.size() == 16)
      FPrefixHash = std::strtoull(Value.c_str(), nullptr, 16);
    else if (Name == "since")
      FSince = Value;
    else if (Name == "rereading")
      FRereading = Value == "1";
    else if (Name == "taken")
      Remember(Value);
  }
  FKnown = SamePath && !FSince.empty();
}

void TAdifFileFollower::SaveState() const {
  QSaveFile File(QString::fromStdString(FStatePath));
  if (!File.open(QIODevice::WriteOnly))
    return;
  std::string Text = "path " + FPath + "\nidentity " + FIdentity + "\noffset " +
                     std::to_string(FOffset) + "\ntail " +
                     QByteArray::fromStdString(FTail).toHex().toStdString() +
                     (FPrefixHash ? "\nhash " + HexText(*FPrefixHash) : std::string()) +
                     "\nsince " + FSince + "\nrereading " + (FRereading ? "1" : "0") + "\n";
  for (const std::string& Key : FTakenOrder)
    Text += "taken " + Key + "\n";
  File.write(Text.data(), static_cast<qint64>(Text.size()));
  File.commit();
}

} // namespace vela

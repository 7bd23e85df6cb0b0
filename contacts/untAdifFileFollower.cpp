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

std::string NowStamp() {
  return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddhhmmss")).toStdString();
}

QByteArray ReadAt(QFile& File, std::int64_t At, std::int64_t Count) {
  if (Count <= 0 || !File.seek(At))
    return {};
  return File.read(Count);
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

void TAdifFileFollower::ScheduleCheck() {
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
  std::string Problem;

  if (!FKnown) {
    // Records already there are the program's earlier contacts: only those
    // near the end are remembered, so that a rewrite soon after does not
    // hand them on; older ones are older than FSince.
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
    FOffset = End > 0 ? From + static_cast<std::int64_t>(End) : (From == 0 ? 0 : Size);
    FTail =
        ReadAt(File, std::max<std::int64_t>(0, FOffset - TailBytes), std::min(FOffset, TailBytes))
            .toStdString();
    FSince = NowStamp();
    SaveState();
    SetProblem({});
    return;
  }

  if (!FRereading) {
    const bool Rewritten =
        Identity != FIdentity || Size < FOffset ||
        ReadAt(File, std::max<std::int64_t>(0, FOffset - TailBytes), std::min(FOffset, TailBytes))
                .toStdString() != FTail;
    if (Rewritten) {
      FRereading = true;
      FOffset = 0;
    } else if (Size - FOffset > static_cast<std::int64_t>(ChunkBytes)) {
      // Too much at once for contacts logged one by one: the program's log
      // took an import. Reading goes on after its last record.
      const std::int64_t From = std::max<std::int64_t>(FOffset, Size - FirstLookBytes);
      const QByteArray Data = ReadAt(File, From, Size - From);
      const std::size_t End =
          LastEorEnd(std::string_view(Data.constData(), static_cast<std::size_t>(Data.size())));
      Problem = "log file " + FPath + ": " + std::to_string(Size - FOffset) +
                " bytes appended at once, taken as an import and passed over";
      FOffset = End > 0 ? From + static_cast<std::int64_t>(End) : Size;
    }
  }
  const bool Moved = Identity != FIdentity;
  FIdentity = Identity;
  if (Moved) {
    // The watch may still be on the file that was replaced (kept open by
    // its writer): it moves to the one now under the name.
    FWatcher->removePath(QString::fromStdString(FPath));
    Watch();
  }
  if (FOffset >= Size && !FRereading) {
    if (Moved || !Problem.empty())
      SaveState();
    SetProblem(Problem);
    return;
  }

  // One chunk per turn; a rewritten file longer than that goes on at the
  // next turn.
  const QByteArray Data = ReadAt(File, FOffset, std::min<std::int64_t>(Size - FOffset, ChunkBytes));
  const std::string_view Text(Data.constData(), static_cast<std::size_t>(Data.size()));
  const std::size_t End = LastEorEnd(Text);
  std::size_t Begin = 0;
  for (std::size_t At = FindEor(Text, 0); At != std::string_view::npos && At < End;
       At = FindEor(Text, Begin)) {
    const std::string_view Piece = Text.substr(Begin, At + 5 - Begin);
    Begin = At + 5;
    const TAdifDocument Doc = ReadAdif(Piece);
    if (!Doc.Error.empty()) {
      Problem = "log file " + FPath + ": a record passed over (" + Doc.Error + ")";
      continue;
    }
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
  const bool Full = Data.size() == static_cast<qsizetype>(ChunkBytes);
  if (End > 0) {
    FOffset += static_cast<std::int64_t>(End);
  } else if (Full) {
    Problem = "log file " + FPath + ": a record longer than " + std::to_string(ChunkBytes) +
              " bytes passed over";
    FOffset += Data.size();
  }
  FTail = ReadAt(File, std::max<std::int64_t>(0, FOffset - TailBytes), std::min(FOffset, TailBytes))
              .toStdString();
  if (FRereading && !(Full && FOffset < Size))
    FRereading = false;
  SaveState();
  SetProblem(Problem);
  if (FRereading)
    ScheduleCheck();
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
                     QByteArray::fromStdString(FTail).toHex().toStdString() + "\nsince " + FSince +
                     "\nrereading " + (FRereading ? "1" : "0") + "\n";
  for (const std::string& Key : FTakenOrder)
    Text += "taken " + Key + "\n";
  File.write(Text.data(), static_cast<qint64>(Text.size()));
  File.commit();
}

} // namespace vela

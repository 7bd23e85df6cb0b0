#include "platform/untIniFile.h"

#include "platform/untDurableFile.h"

#include <algorithm>

#include "platform/untStrToInt.h"
#include "platform/untText.h"

#include <fcntl.h>
#include <libintl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

namespace vela {

namespace {

// Writes within this program are serialised, so that two TIniFile objects on
// the same path never lose each other's keys (each write re-reads the file).
std::mutex GWriteLock;

bool IsBlank(char C) {
  return C == ' ' || C == '\t';
}

std::string_view StripCR(std::string_view S) {
  if (!S.empty() && S.back() == '\r')
    S.remove_suffix(1);
  return S;
}

std::string DecodeValue(std::string_view Raw) {
  std::string_view V = Trim(Raw);
  if (V.size() >= 2 && V.front() == V.back() && (V.front() == '"' || V.front() == '\''))
    V = V.substr(1, V.size() - 2);
  return std::string(V);
}

std::string EncodeValue(const std::string& Value) {
  std::string V = Value;
  for (char& C : V)
    if (C == '\r' || C == '\n')
      C = ' ';
  const bool Quote =
      !V.empty() &&
      (IsBlank(V.front()) || IsBlank(V.back()) ||
       (V.size() >= 2 && V.front() == V.back() && (V.front() == '"' || V.front() == '\'')));
  return Quote ? '"' + V + '"' : V;
}

struct TFileIdentity {
  bool Exists = false;
  dev_t Dev = 0;
  ino_t Ino = 0;
  off_t Size = 0;
  timespec MTime{};
  timespec CTime{};

  bool operator==(const TFileIdentity& O) const {
    return Exists == O.Exists && Dev == O.Dev && Ino == O.Ino && Size == O.Size &&
           MTime.tv_sec == O.MTime.tv_sec && MTime.tv_nsec == O.MTime.tv_nsec &&
           CTime.tv_sec == O.CTime.tv_sec && CTime.tv_nsec == O.CTime.tv_nsec;
  }
};

TFileIdentity IdentityOf(const struct stat& St) {
  TFileIdentity I;
  I.Exists = true;
  I.Dev = St.st_dev;
  I.Ino = St.st_ino;
  I.Size = St.st_size;
  I.MTime = St.st_mtim;
  I.CTime = St.st_ctim;
  return I;
}

mode_t ProcessUmask() {
  // umask() can only be read by changing it, which races with other threads
  // creating files; the kernel reports it in /proc instead.
  std::ifstream Status("/proc/self/status");
  std::string Line;
  while (std::getline(Status, Line)) {
    if (Line.rfind("Umask:", 0) == 0)
      return static_cast<mode_t>(std::strtoul(Line.c_str() + 6, nullptr, 8) & 0777);
  }
  return 022;
}

} // namespace

enum class TIniState { Missing, Loaded, Unusable };

struct TIniContent {
  struct TSection {
    std::size_t Header;
    std::size_t LastContent; // the last non-blank line that belongs to it
  };
  struct TKey {
    std::size_t Line;
    std::string Value;
  };

  TIniState State = TIniState::Missing;
  TFileIdentity Identity;
  mode_t Mode = 0;
  uid_t Uid = 0;
  gid_t Gid = 0;
  std::vector<std::string> Lines; // without the LF; a CR of a CR LF end stays
  bool Crlf = false;
  std::map<std::string, TSection> Sections;                 // by lower-case name
  std::map<std::pair<std::string, std::string>, TKey> Keys; // by lower-case names

  void Parse(const std::string& Text);
  const TKey* Find(const std::string& Section, const std::string& Key) const {
    auto It = Keys.find({AsciiLower(Trim(Section)), AsciiLower(Trim(Key))});
    return It == Keys.end() ? nullptr : &It->second;
  }
};

void TIniContent::Parse(const std::string& Text) {
  std::size_t Start = 0;
  while (Start < Text.size()) {
    std::size_t End = Text.find('\n', Start);
    if (End == std::string::npos)
      End = Text.size();
    else if (Lines.empty())
      Crlf = End > 0 && Text[End - 1] == '\r';
    Lines.emplace_back(Text, Start, End - Start);
    Start = End + 1;
  }

  TSection* Current = nullptr;
  std::string CurrentName;
  for (std::size_t I = 0; I < Lines.size(); ++I) {
    const std::string_view T = Trim(StripCR(Lines[I]));
    if (T.empty())
      continue;
    if (T.front() == '[') {
      std::string_view Name = T.substr(1);
      const std::size_t Close = Name.find(']');
      if (Close != std::string_view::npos)
        Name = Name.substr(0, Close);
      CurrentName = AsciiLower(Trim(Name));
      auto [It, Inserted] = Sections.try_emplace(CurrentName, TSection{I, I});
      // Only the first section of a name counts.
      Current = Inserted ? &It->second : nullptr;
      continue;
    }
    if (!Current)
      continue;
    Current->LastContent = I;
    if (T.front() == ';')
      continue;
    const std::size_t Eq = T.find('=');
    if (Eq == std::string_view::npos)
      continue;
    std::string Key = AsciiLower(Trim(T.substr(0, Eq)));
    if (Key.empty())
      continue;
    Keys.try_emplace({CurrentName, std::move(Key)}, TKey{I, DecodeValue(T.substr(Eq + 1))});
  }
}

namespace {

// Reads and parses Path. Fd-based, so the identity belongs to exactly the
// bytes that were read; O_NONBLOCK keeps a FIFO in the path from blocking.
std::shared_ptr<TIniContent> LoadContent(const std::string& Path,
                                         const std::shared_ptr<const TIniContent>* Cached) {
  auto C = std::make_shared<TIniContent>();
  const int Fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (Fd < 0) {
    C->State = errno == ENOENT ? TIniState::Missing : TIniState::Unusable;
    return C;
  }
  struct stat St {};
  if (::fstat(Fd, &St) != 0 || !S_ISREG(St.st_mode) ||
      static_cast<std::uintmax_t>(St.st_size) > MaxIniFileSize) {
    ::close(Fd);
    C->State = TIniState::Unusable;
    return C;
  }
  C->Identity = IdentityOf(St);
  if (Cached && *Cached && (*Cached)->Identity == C->Identity) {
    ::close(Fd);
    return nullptr; // unchanged
  }
  C->Mode = St.st_mode & 07777;
  C->Uid = St.st_uid;
  C->Gid = St.st_gid;

  // Sized to the file (a settings file is a few hundred bytes), growing only
  // if the file grows while it is read; one byte past the limit tells an
  // oversized file.
  std::string Text;
  Text.resize(std::min<std::size_t>(static_cast<std::size_t>(std::max<off_t>(St.st_size, 0)),
                                    MaxIniFileSize) +
              1);
  std::size_t Got = 0;
  bool Failed = false;
  for (;;) {
    if (Got == Text.size()) {
      if (Text.size() > MaxIniFileSize)
        break;
      Text.resize(std::min<std::size_t>(Text.size() * 2, MaxIniFileSize + 1));
    }
    const ssize_t N = ::read(Fd, Text.data() + Got, Text.size() - Got);
    if (N < 0) {
      if (errno == EINTR)
        continue;
      Failed = true;
      break;
    }
    if (N == 0)
      break;
    Got += static_cast<std::size_t>(N);
  }
  ::close(Fd);
  // The file may have grown past the limit between fstat and read.
  if (Failed || Got > MaxIniFileSize) {
    auto U = std::make_shared<TIniContent>();
    U->State = TIniState::Unusable;
    return U;
  }
  Text.resize(Got);
  C->State = TIniState::Loaded;
  C->Parse(Text);
  return C;
}

} // namespace

std::string UnableToWriteMessage(const std::string& FileName) {
  std::string Msg = gettext("Unable to write to %s");
  const std::size_t At = Msg.find("%s");
  if (At != std::string::npos)
    Msg.replace(At, 2, FileName);
  return Msg;
}

TIniFile::TIniFile(std::string FileName) : FFileName(std::move(FileName)) {}

TIniFile::~TIniFile() = default;

std::shared_ptr<const TIniContent> TIniFile::Content() const {
  std::lock_guard<std::mutex> Guard(FCacheLock);
  auto Fresh = LoadContent(FFileName, &FCache);
  if (Fresh)
    FCache = std::move(Fresh);
  return FCache;
}

std::string TIniFile::ReadString(const std::string& Section, const std::string& Key,
                                 const std::string& Default) const {
  const auto C = Content();
  const TIniContent::TKey* K = C->Find(Section, Key);
  return K ? K->Value : Default;
}

std::int32_t TIniFile::ReadInteger(const std::string& Section, const std::string& Key,
                                   std::int32_t Default) const {
  const auto C = Content();
  const TIniContent::TKey* K = C->Find(Section, Key);
  std::int32_t Value = Default;
  if (K && TryStrToInt(K->Value, Value))
    return Value;
  return Default;
}

bool TIniFile::ReadBool(const std::string& Section, const std::string& Key, bool Default) const {
  return ReadInteger(Section, Key, Default ? 1 : 0) != 0;
}

std::vector<std::pair<std::string, std::string>>
TIniFile::ReadSection(const std::string& Section) const {
  const auto C = Content();
  const std::string Name = AsciiLower(Trim(Section));
  std::vector<std::pair<std::string, std::string>> Result;
  for (auto It = C->Keys.lower_bound({Name, std::string()});
       It != C->Keys.end() && It->first.first == Name; ++It)
    Result.emplace_back(It->first.second, It->second.Value);
  return Result;
}

void TIniFile::RaiseWriteError() const {
  throw EIniFileException(UnableToWriteMessage(FFileName));
}

namespace {

bool ValidNames(std::string_view SectionName, std::string_view KeyName) {
  // Names that would read back as something else (or break the line
  // structure) cannot be written.
  return !SectionName.empty() && SectionName.find_first_of("]\r\n") == std::string_view::npos &&
         !KeyName.empty() && KeyName.find_first_of("=\r\n") == std::string_view::npos &&
         KeyName.front() != '[' && KeyName.front() != ';';
}

// Sets one key in the parsed lines. The line positions of C are stale
// afterwards; the caller re-parses before the next key.
void SetKey(TIniContent& C, std::string_view SectionName, std::string_view KeyName,
            const std::string& Value) {
  const std::string Cr = C.Crlf ? "\r" : "";
  const std::string Encoded = EncodeValue(Value);
  auto& Lines = C.Lines;
  const std::string LowSection = AsciiLower(SectionName);
  const std::string LowKey = AsciiLower(KeyName);
  if (auto K = C.Keys.find({LowSection, LowKey}); K != C.Keys.end()) {
    std::string& Line = Lines[K->second.Line];
    const bool HadCr = !Line.empty() && Line.back() == '\r';
    const std::string_view Body = StripCR(Line);
    const std::string OldKey(Trim(Body.substr(0, Body.find('='))));
    Line = OldKey + "=" + Encoded + (HadCr ? "\r" : "");
  } else if (auto S = C.Sections.find(LowSection); S != C.Sections.end()) {
    Lines.insert(Lines.begin() + static_cast<std::ptrdiff_t>(S->second.LastContent + 1),
                 std::string(KeyName) + "=" + Encoded + Cr);
  } else {
    if (!Lines.empty() && !Trim(StripCR(Lines.back())).empty())
      Lines.push_back(Cr);
    std::string Header(1, '[');
    Header.append(SectionName).append("]").append(Cr);
    Lines.push_back(std::move(Header));
    Lines.push_back(std::string(KeyName) + "=" + Encoded + Cr);
  }
}

std::string JoinLines(const std::vector<std::string>& Lines) {
  std::string Text;
  for (const std::string& L : Lines) {
    Text += L;
    Text += '\n';
  }
  return Text;
}

} // namespace

std::string TIniFile::WriteTarget() const {
  struct stat LSt {};
  if (::lstat(FFileName.c_str(), &LSt) == 0 && S_ISLNK(LSt.st_mode)) {
    char* Real = ::realpath(FFileName.c_str(), nullptr);
    if (!Real)
      RaiseWriteError();
    std::string Target = Real;
    std::free(Real);
    return Target;
  }
  return FFileName;
}

void TIniFile::WriteString(const std::string& Section, const std::string& Key,
                           const std::string& Value) {
  if (!ValidNames(Trim(Section), Trim(Key)))
    RaiseWriteError();
  if (FUpdateDepth == 0) {
    ReplaceFile({{Section, Key, Value}});
    return;
  }
  // The first write of an update finds out at once whether the file can be
  // used at all, so that an action stops where it did when every key was
  // written through.
  if (FPending.empty()) {
    std::lock_guard<std::mutex> WriteGuard(GWriteLock);
    if (LoadContent(WriteTarget(), nullptr)->State == TIniState::Unusable)
      RaiseWriteError();
  }
  FPending.push_back({Section, Key, Value});
}

void TIniFile::BeginUpdate() {
  ++FUpdateDepth;
}

void TIniFile::EndUpdate() {
  if (FUpdateDepth == 0 || --FUpdateDepth > 0)
    return;
  std::vector<TKeyWrite> Writes = std::move(FPending);
  FPending.clear();
  if (!Writes.empty())
    ReplaceFile(Writes);
}

void TIniFile::ReplaceFile(const std::vector<TKeyWrite>& Writes) {
  std::lock_guard<std::mutex> WriteGuard(GWriteLock);

  const std::string Target = WriteTarget();
  auto C = LoadContent(Target, nullptr);
  if (C->State == TIniState::Unusable)
    RaiseWriteError();
  for (std::size_t I = 0; I < Writes.size(); ++I) {
    if (I > 0) {
      // Fresh line positions for the next key.
      auto Next = std::make_shared<TIniContent>();
      Next->State = C->State;
      Next->Mode = C->Mode;
      Next->Uid = C->Uid;
      Next->Gid = C->Gid;
      Next->Parse(JoinLines(C->Lines));
      C = Next;
    }
    SetKey(*C, Trim(Writes[I].Section), Trim(Writes[I].Key), Writes[I].Value);
  }
  const std::string Text = JoinLines(C->Lines);

  const bool Loaded = C->State == TIniState::Loaded;
  // An existing file keeps its mode and owner; a new one gets the usual mode.
  const TFileOwner Owner{C->Uid, C->Gid};
  if (!ReplaceDurably(Target, Text, Loaded ? C->Mode : 0666 & ~ProcessUmask(),
                      Loaded ? &Owner : nullptr))
    RaiseWriteError();
}

void TIniFile::WriteInteger(const std::string& Section, const std::string& Key,
                            std::int32_t Value) {
  WriteString(Section, Key, std::to_string(Value));
}

void TIniFile::WriteBool(const std::string& Section, const std::string& Key, bool Value) {
  WriteString(Section, Key, Value ? "1" : "0");
}

} // namespace vela

#include "logbook/untContactOutbox.h"

#include "platform/untDurableFile.h"
#include "settings/untSettingsLocation.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "contacts/untAdif.h"
#include "logbook/untLogbookAnswer.h"
#include "platform/untText.h"
#include "settings/untSettingsLocation.h"

namespace vela {

namespace {

const char* const RefusedHeader =
    "Contacts the logbook refused, set aside by VELA Log; each follows the reason\n"
    "<adif_ver:5>3.1.4 <programid:8>VELA Log <eoh>\n";

std::string Line(const std::string& Record) {
  QJsonObject Object;
  Object.insert(QStringLiteral("adif"), QString::fromStdString(Record));
  return QJsonDocument(Object).toJson(QJsonDocument::Compact).toStdString() + "\n";
}

// A record of an earlier version counted bytes: the same record with its
// lengths in characters, as the logbooks read them. ASCII reads the same
// either way.
std::string InCharacters(const std::string& Record) {
  if (std::all_of(Record.begin(), Record.end(),
                  [](char C) { return static_cast<unsigned char>(C) < 0x80; }))
    return Record;
  const TAdifDocument Doc = ReadAdif(Record);
  return Doc.Error.empty() && Doc.Records.size() == 1 ? AdifRecordText(Doc.Records[0]) : Record;
}

// The logbook's reason in plain words; for an answer that is no JSON, the
// start of its text (an HTML page, a proxy's words).
std::string RefusalWords(const TApiReply& Reply) {
  std::string Words = PlainWords(Reply.Reason, 200);
  if (Reply.Json.isNull() && !Reply.Body.isEmpty())
    Words += ": " + PlainWords(std::string_view(Reply.Body.constData(),
                                                static_cast<std::size_t>(Reply.Body.size())),
                               200);
  return Words;
}

// The call of a record, for the operator's words.
std::string CallOf(const std::string& Record) {
  const TAdifDocument Doc = ReadAdif(Record);
  const std::string Call = Doc.Records.empty() ? std::string() : Doc.Records[0].Field("call");
  return Call.empty() ? std::string("a contact") : PlainWords(Call, 24);
}

std::int64_t NumberOf(const QJsonValue& Value) {
  if (Value.isDouble())
    return Value.toInteger();
  bool Ok = false;
  const qlonglong Number = Value.toString().toLongLong(&Ok);
  return Ok ? Number : 0;
}

} // namespace

std::int64_t ActiveStationId(const QJsonDocument& StationInfo) {
  const QJsonArray Stations = StationInfo.array();
  for (const QJsonValue& Station : Stations) {
    const QJsonValue Active = Station.toObject().value(QStringLiteral("station_active"));
    if (Active.toBool() || NumberOf(Active) == 1)
      return NumberOf(Station.toObject().value(QStringLiteral("station_id")));
  }
  if (Stations.size() == 1)
    return NumberOf(Stations.first().toObject().value(QStringLiteral("station_id")));
  return 0;
}

TContactOutbox::TContactOutbox(TLogbookClient& AClient, std::string AFileName)
    : FClient(AClient), FFileName(std::move(AFileName)) {
  FRetry.setSingleShot(true);
  QObject::connect(&FRetry, &QTimer::timeout, [this] { Pump(); });
  FWriteRetry.setSingleShot(true);
  QObject::connect(&FWriteRetry, &QTimer::timeout, [this] {
    if (Flush() && FOnChange)
      FOnChange();
  });
  Load();
}

void TContactOutbox::Load() {
  FILE* File = std::fopen(FFileName.c_str(), "rb");
  if (!File)
    return;
  std::string Damaged; // the lines set aside, with a note before each
  std::size_t LineNumber = 0;
  auto SetAsideLine = [&](const std::string& Text, std::size_t Size, const char* Why) {
    ++FDamaged;
    Damaged += "# " +
               QDateTime::currentDateTimeUtc()
                   .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                   .toStdString() +
               " UTC: line " + std::to_string(LineNumber) + " of " + FFileName + " " + Why +
               (Size > Text.size() ? " (" + std::to_string(Size) + " bytes, the first " +
                                         std::to_string(Text.size()) + " kept here)"
                                   : std::string()) +
               "\n" + Text + "\n";
  };
  auto TakeLine = [&](const std::string& Text, std::size_t Size) {
    ++LineNumber;
    if (Size > MaxLineBytes) {
      SetAsideLine(Text, Size, "is too long for a record");
      return;
    }
    if (Text.find_first_not_of(" \t\r") == std::string::npos)
      return;
    auto Read = [](const std::string& Json, QJsonObject& Object) {
      QJsonParseError Error{};
      Object = QJsonDocument::fromJson(QByteArray::fromStdString(Json), &Error).object();
      return Error.error == QJsonParseError::NoError &&
             (!Object.value(QStringLiteral("adif")).toString().isEmpty() ||
              Object.value(QStringLiteral("done")).toInteger() > 0);
    };
    QJsonObject Object;
    bool Ok = Read(Text, Object);
    // A line cut short that the next one was joined to (by an older
    // version): the whole line is the longest tail that reads as one.
    int Tries = 0;
    for (std::size_t Brace = Text.find("{\"", 1); !Ok && Brace != std::string::npos && Tries < 16;
         Brace = Text.find("{\"", Brace + 1)) {
      if (Text.compare(Brace, 9, "{\"adif\":\"") != 0 && Text.compare(Brace, 8, "{\"done\":") != 0)
        continue;
      ++Tries;
      Ok = Read(Text.substr(Brace), Object);
      if (Ok)
        SetAsideLine(Text.substr(0, Brace), Brace, "cannot be read (cut short or damaged)");
    }
    if (!Ok) {
      SetAsideLine(Text, Size, "cannot be read (cut short or damaged)");
      return;
    }
    const QString Record = Object.value(QStringLiteral("adif")).toString();
    if (!Record.isEmpty()) {
      FRecords.push_back(InCharacters(Record.toStdString()));
    } else {
      const auto Left = std::min<std::size_t>(
          static_cast<std::size_t>(Object.value(QStringLiteral("done")).toInteger()),
          FRecords.size());
      FRecords.erase(FRecords.begin(), FRecords.begin() + static_cast<std::ptrdiff_t>(Left));
      FDead += Left;
    }
  };
  // Read in pieces, so that a line of any length costs bounded memory: of a
  // line too long for a record only its start is kept, for the note.
  std::string Line;
  std::size_t LineSize = 0;
  char Buffer[64 * 1024];
  std::size_t Got = 0;
  while ((Got = std::fread(Buffer, 1, sizeof Buffer, File)) > 0) {
    std::size_t From = 0;
    while (From < Got) {
      const char* End = static_cast<const char*>(std::memchr(Buffer + From, '\n', Got - From));
      const std::size_t To = End ? static_cast<std::size_t>(End - Buffer) : Got;
      const std::size_t Piece = To - From;
      LineSize += Piece;
      if (LineSize <= MaxLineBytes)
        Line.append(Buffer + From, Piece);
      else if (Line.size() < 4096)
        Line.append(Buffer + From, std::min(Piece, 4096 - Line.size()));
      if (LineSize > MaxLineBytes && Line.size() > 4096)
        Line.resize(4096);
      if (!End)
        break;
      TakeLine(Line, LineSize);
      Line.clear();
      LineSize = 0;
      From = To + 1;
    }
  }
  std::fclose(File);
  if (LineSize > 0)
    TakeLine(Line, LineSize);
  if (!Damaged.empty()) {
    // Set aside before the queue is written without them: a failure keeps
    // them in the queue's file, to be set aside at the next start.
    if (!AppendLines(DamagedFileName(), Damaged, 0600)) {
      FWriteProblem = "cannot set aside the damaged lines of " + FFileName + " in " +
                      DamagedFileName() + ": " + std::strerror(errno);
      return;
    }
    Compact(true);
  } else if (FDead > 0) {
    Compact(FRecords.empty());
  }
}

std::string TContactOutbox::RefusedFileName() const {
  return FileBesideSettings(FFileName, RefusedFileLeaf);
}

void TContactOutbox::setStationId(std::int64_t Value) {
  const bool Changed = Value != FStationId;
  FStationId = Value;
  FActiveStation = 0;
  // The station the logbook refused was changed: try at once.
  if (Changed && FStationPaused && FRunning) {
    FStationPaused = false;
    FRetry.stop();
    FBackoff.Reset();
    Pump();
  }
}

void TContactOutbox::WriteFailed() {
  FWriteProblem = "cannot write " + FFileName + ": " + std::strerror(errno);
  FWriteRetry.start(WriteRetryMs);
}

bool TContactOutbox::Flush() {
  if (FDoneOwed == 0 && FUnwritten == 0) {
    FWriteProblem.clear();
    return true;
  }
  std::string Text;
  if (FDoneOwed > 0)
    Text = "{\"done\":" + std::to_string(FDoneOwed) + "}\n";
  for (std::size_t I = FRecords.size() - FUnwritten; I < FRecords.size(); ++I)
    Text += Line(FRecords[I]);
  // The queue holds the API's contacts only: readable by the user alone.
  if (!AppendLines(FFileName, Text, 0600)) {
    WriteFailed();
    return false;
  }
  FDead += FDoneOwed;
  FDoneOwed = 0;
  FUnwritten = 0;
  FWriteProblem.clear();
  FWriteRetry.stop();
  Compact(false);
  return true;
}

void TContactOutbox::Compact(bool Always) {
  // Compacted when the records that left outnumber those that wait (and are
  // enough to be worth it), so each record is copied a bounded number of
  // times however long the queue is.
  constexpr std::size_t MinDead = 64;
  const std::size_t Live = FRecords.size() - FUnwritten;
  if (!Always && !(FDead > 0 && Live == 0) && !(FDead >= MinDead && FDead > Live))
    return;
  std::string Text;
  for (std::size_t I = 0; I < Live; ++I)
    Text += Line(FRecords[I]);
  // Should the file refuse, it keeps its lines, which still read the same.
  if (ReplaceDurably(FFileName, Text, 0600)) {
    FDead = 0;
    FDoneOwed = 0;
  }
}

void TContactOutbox::Settle() {
  if (FRecords.empty())
    return;
  if (FRecords.size() > FUnwritten)
    ++FDoneOwed;
  else
    --FUnwritten;
  FRecords.pop_front();
  // Should the file refuse, the record is sent again after a restart and
  // then named a duplicate.
  Flush();
}

bool TContactOutbox::Enqueue(const std::string& Record, std::string* Error) {
  std::string Why;
  if (Record.find_first_not_of(" \t\r\n") == std::string::npos)
    Why = "an empty record";
  else if (Record.size() > MaxRecordBytes)
    Why = "a record larger than 64 KB";
  else if (FRecords.size() >= MaxWaiting)
    Why = "already " + std::to_string(MaxWaiting) + " contacts waiting";
  if (!Why.empty()) {
    if (Error)
      *Error = Why;
    return false;
  }
  FRecords.push_back(Record);
  ++FUnwritten;
  Flush();
  if (Error)
    *Error = FWriteProblem;
  Pump();
  return true;
}

void TContactOutbox::Start() {
  if (FRunning)
    return;
  FRunning = true;
  ++FRun;
  FInFlight = false;
  FKeyPaused = false;
  FBackoff.Reset();
  Pump();
}

void TContactOutbox::Stop() {
  FRunning = false;
  ++FRun;
  FInFlight = false;
  FRetry.stop();
}

std::string TContactOutbox::StatusWords() const {
  std::string Words = FWriteProblem;
  if (!Words.empty() && FUnwritten > 0)
    Words += " — " + std::to_string(FUnwritten) + (FUnwritten == 1 ? " contact" : " contacts") +
             " held in memory";
  if (FDamaged > 0)
    Words += std::string(Words.empty() ? "" : " · ") + std::to_string(FDamaged) +
             (FDamaged == 1 ? " damaged line" : " damaged lines") + " of the queue set aside in " +
             DamagedFileName();
  if (!FRecords.empty()) {
    Words += Words.empty() ? "" : " · ";
    Words += std::to_string(FRecords.size()) +
             (FRecords.size() == 1 ? " contact waiting" : " contacts waiting");
    if (!FProblem.empty())
      Words += " — " + FProblem;
  }
  if (!FSetAsideWords.empty())
    Words += (Words.empty() ? "" : " · ") + FSetAsideWords;
  if (!FNote.empty())
    Words += (Words.empty() ? "" : " · ") + FNote;
  return Words;
}

void TContactOutbox::Pump() {
  if (!FRunning || FInFlight || FRecords.empty() || FRetry.isActive())
    return;
  FInFlight = true;
  const unsigned Run = FRun;
  const std::int64_t Station = FStationId > 0 ? FStationId : FActiveStation;
  if (Station <= 0) {
    FClient.StationInfo([this, Run](const TApiReply& Reply) {
      if (Run != FRun)
        return;
      FInFlight = false;
      FActiveStation = Reply.Ok() ? ActiveStationId(Reply.Json) : 0;
      if (FActiveStation > 0) {
        Pump();
        return;
      }
      TApiReply Why = Reply;
      if (Reply.Ok())
        Why.Reason = "no active station in the logbook for this key";
      Failed(Why, Reply.Outcome == TApiOutcome::aoKeyRefused ? TQsoVerdict::qvKeyRefused
                                                             : TQsoVerdict::qvRetry);
    });
    return;
  }
  FClient.PostQso(Station, FRecords.front(), [this, Run](const TApiReply& Reply) {
    if (Run != FRun)
      return;
    FInFlight = false;
    Posted(Reply);
  });
}

void TContactOutbox::Posted(const TApiReply& Reply) {
  const TQsoAnswer Answer = ReadQsoAnswer(Reply);
  switch (Answer.Verdict) {
  case TQsoVerdict::qvCreated:
  case TQsoVerdict::qvDuplicate:
    // A duplicate is delivered all the same: posted before by another
    // program, or again after this one was killed between a post and its
    // answer.
    FNote = Answer.Verdict == TQsoVerdict::qvDuplicate
                ? CallOf(FRecords.front()) + " was already in the log"
                : std::string();
    if (!FNote.empty() && FOnNote)
      FOnNote(FNote);
    Settle();
    FBackoff.Reset();
    FProblem.clear();
    Pump();
    break;
  case TQsoVerdict::qvSetAside:
    SetAside(Answer.Words.empty() ? RefusalWords(Reply) : Answer.Words);
    break;
  case TQsoVerdict::qvKeyRefused:
  case TQsoVerdict::qvStationRefused:
  case TQsoVerdict::qvRetry: {
    TApiReply Why = Reply;
    if (!Answer.Words.empty())
      Why.Reason = Answer.Words;
    Failed(Why, Answer.Verdict);
    break;
  }
  }
  if (FOnOutcome)
    FOnOutcome("qso", Reply);
}

void TContactOutbox::SetAside(const std::string& Why) {
  const std::string Record = FRecords.front();
  const std::string Call = CallOf(Record);
  const std::string Words = Why.empty() ? std::string("no reason given") : Why;
  // The refusal as a line of plain text between records, which ADIF readers
  // pass over.
  const std::string Text = "\n" +
                           QDateTime::currentDateTimeUtc()
                               .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                               .toStdString() +
                           " UTC refused: " + PlainWords(Words, 400) + "\n" + Record + "\n";
  const std::string File = RefusedFileName();
  struct stat St {};
  const bool Fresh = ::stat(File.c_str(), &St) != 0 || St.st_size == 0;
  if (!AppendLines(File, Fresh ? RefusedHeader + Text : Text, 0600)) {
    // Nothing is lost: the contact stays first in the queue and is tried
    // again later.
    FProblem = "the logbook refused " + Call + " (" + Words + "), and it cannot be set aside in " +
               File + ": " + std::strerror(errno);
    FRetry.start(static_cast<int>(FBackoff.Fail()));
    return;
  }
  Settle();
  ++FSetAside;
  FSetAsideWords =
      "the logbook refused " + Call + ": " + Words + " — set aside in " + RefusedFileLeaf;
  if (FOnSetAside)
    FOnSetAside(FSetAsideWords);
  FBackoff.Reset();
  FProblem.clear();
  Pump();
}

std::size_t TContactOutbox::ResendRefused(std::string* Error) {
  std::string Words;
  const std::size_t Queued = ResendRefused({}, {}, Words);
  if (Error)
    *Error = std::filesystem::exists(RefusedFileName()) || Queued == 0 ? Words : std::string();
  if (Error && *Error == "no contact is set aside")
    Error->clear();
  return Queued;
}

std::vector<TContactOutbox::TRefused> TContactOutbox::ReadRefused(std::string* Error) const {
  std::vector<TRefused> Out;
  const std::string File = RefusedFileName();
  std::ifstream In(File, std::ios::binary);
  if (Error)
    Error->clear();
  if (!In) {
    if (Error && errno != ENOENT)
      *Error = File + ": " + std::strerror(errno);
    return Out;
  }
  const std::string All((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  const std::string Lower = AsciiLower(All);
  // The header ends with the line that holds <eoh> before any record.
  std::size_t At = 0, Number = 0;
  if (const std::size_t Eoh = Lower.find("<eoh>");
      Eoh != std::string::npos && Eoh < Lower.find("<eor>")) {
    At = All.find('\n', Eoh);
    At = At == std::string::npos ? All.size() : At + 1;
    Number = static_cast<std::size_t>(
        std::count(All.begin(), All.begin() + static_cast<std::ptrdiff_t>(At), '\n'));
  }
  TRefused Current;
  auto Close = [&](bool Whole) {
    if (Current.Text.find_first_not_of(" \t\r\n") != std::string::npos) {
      if (Whole) {
        TAdifDocument Doc = ReadAdif(Current.Text);
        Current.Readable = Doc.Error.empty() && Doc.Records.size() == 1;
        if (Current.Readable)
          Current.Contact = std::move(Doc.Records[0]);
      }
      Out.push_back(std::move(Current));
    }
    Current = TRefused();
  };
  while (At < All.size()) {
    std::size_t End = All.find('\n', At);
    End = End == std::string::npos ? All.size() : End;
    const std::string Line = All.substr(At, End - At);
    const bool HasEor = Lower.substr(At, End - At).find("<eor>") != std::string::npos;
    At = End + 1;
    ++Number;
    if (Current.Text.empty()) {
      if (const std::size_t Refused = Line.find(" UTC refused: "); Refused == 19) {
        Current.ReasonLine = Line;
        Current.Reason = Line.substr(Refused + 14);
        continue;
      }
      if (Line.find_first_not_of(" \t\r") == std::string::npos)
        continue;
      Current.Line = Number;
    }
    Current.Text += Line + "\n";
    if (HasEor)
      Close(true);
  }
  Close(false);
  return Out;
}

std::size_t TContactOutbox::ResendRefused(const std::string& StationCallsign,
                                          const std::string& KnownCall, std::string& Words) {
  const std::string File = RefusedFileName();
  std::string Error;
  std::vector<TRefused> Records = ReadRefused(&Error);
  if (!Error.empty()) {
    Words = Error;
    return 0;
  }
  if (Records.empty()) {
    Words = "no contact is set aside";
    return 0;
  }
  auto Same = [](const std::string& A, const std::string& B) {
    return AsciiLower(Trim(A, " ")) == AsciiLower(Trim(B, " "));
  };
  std::string Kept, Stays;
  std::size_t Queued = 0, Staying = 0;
  bool Full = false;
  for (TRefused& R : Records) {
    const std::string Call = R.Readable ? PlainWords(R.Contact.Field("call"), 24) : std::string();
    const std::string Station = R.Readable ? R.Contact.Field("station_callsign") : std::string();
    std::string Need;
    bool Send = R.Readable && !Full;
    if (!R.Readable) {
      Need = "line " + std::to_string(R.Line) + " cannot be read as a contact";
    } else if (!StationCallsign.empty()) {
      Send = Send && !Station.empty() && !Same(Station, StationCallsign);
      if (Send) {
        for (TContactField& F : R.Contact.Fields)
          if (F.Name == "station_callsign" || (F.Name == "operator" && Same(F.Value, Station)))
            F.Value = StationCallsign;
      }
    } else if (!KnownCall.empty() && !Station.empty() && !Same(Station, KnownCall)) {
      Send = false;
      Need = (Call.empty() ? std::string("a contact") : Call) + " carries station callsign " +
             PlainWords(Station, 24) + ", not the logbook station's " + KnownCall +
             ": send it again as " + KnownCall;
    }
    std::string Why;
    if (Send && !Enqueue(AdifRecordText(R.Contact), &Why) &&
        Why.find("contacts waiting") != std::string::npos) {
      Full = true;
      Send = false;
      Need = "the queue is full";
    }
    if (Send) {
      ++Queued;
      continue;
    }
    ++Staying;
    if (!Need.empty() && Stays.find(Need) == std::string::npos)
      Stays += (Stays.empty() ? "" : "; ") + Need;
    Kept += "\n" + (R.ReasonLine.empty() ? std::string() : R.ReasonLine + "\n") + R.Text;
  }
  bool Written = true;
  if (FUnwritten > 0) {
    // The queue holds them in memory alone: the set-aside file stays whole
    // until they are on disk (what went back is named a duplicate if sent
    // again).
    Words = "";
  } else if (Staying == 0) {
    Written = std::remove(File.c_str()) == 0 || errno == ENOENT;
  } else if (Queued > 0) {
    // Rewritten with what stays, its reasons as they were.
    Written = ReplaceDurably(File, RefusedHeader + Kept, 0600);
  }
  if (Staying == 0 && FUnwritten == 0) {
    FSetAsideWords.clear();
    FSetAside = 0;
  }
  Words = std::to_string(Queued) + (Queued == 1 ? " set-aside contact" : " set-aside contacts") +
          " back in the queue" + (StationCallsign.empty() ? "" : " as " + StationCallsign);
  if (Staying > 0)
    Words += "; " + std::to_string(Staying) + " stay" + (Staying == 1 ? "s" : "") + " in " +
             RefusedFileLeaf + (Stays.empty() ? "" : ": " + Stays);
  if (FUnwritten > 0)
    Words += " (" + File + " is kept whole: " + FWriteProblem + ")";
  else if (!Written)
    Words += " (" + File + " could not be rewritten: " + std::strerror(errno) +
             "; what went back is named a duplicate if sent again)";
  return Queued;
}

void TContactOutbox::Failed(const TApiReply& Reply, TQsoVerdict Verdict) {
  FKeyPaused = Verdict == TQsoVerdict::qvKeyRefused;
  FStationPaused = Verdict == TQsoVerdict::qvStationRefused;
  if (FKeyPaused)
    FProblem = "the logbook refused the key (wrong, or allowed to read only): " +
               PlainWords(Reply.Reason, 200) + " — sending paused";
  else if (FStationPaused)
    FProblem = "the logbook refused the station (" + PlainWords(Reply.Reason, 200) +
               ") — sending paused; choose the station in Settings";
  else if (Reply.Outcome == TApiOutcome::aoRejected || Reply.Ok())
    FProblem = PlainWords(Reply.Reason, 200);
  else
    FProblem = ApiOutcomeWords(Reply);
  // A refused key or station waits the longest pause (or a change of the
  // settings); everything else keeps the order and tries again after a
  // growing pause.
  TMsTime Pause = FBackoff.Fail();
  if (FKeyPaused || FStationPaused)
    Pause = MaxRetryMs;
  FRetry.start(static_cast<int>(Pause));
}

} // namespace vela

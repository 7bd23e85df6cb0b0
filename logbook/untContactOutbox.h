// Contacts on their way to the logbook: a queue kept in a file, posted to the
// API one record at a time, oldest first.
//
// A record is settled, and leaves the queue, when the logbook created it
// or names it a duplicate, as ReadQsoAnswer reads the answer. A refusal
// that sending again cannot mend (another 4xx, a wrong station callsign, or
// a 201 that took none of the record) sets the record aside: it moves to RefusedFileName(),
// an ADIF file beside the queue, after a line with the refusal in plain
// words, and the next record goes at once. A refused key (401, 403, or the
// logbook's words for it), or a station the key does not own, pauses the
// whole queue for the longest pause (or until the station changes) and says
// so. Server errors and network faults keep the order and try again
// after a growing pause.
//
// The file is written by appending only: one JSON object per line, a
// record ({"adif":...}) or how many of the oldest records left the queue
// ({"done":N}); it is compacted (replaced by the records still waiting) once
// more records have left than wait, so a long queue drains in time and
// writes proportional to its length. A record is appended (and flushed to
// disk) before Enqueue returns. A write the file refuses (a full disk, a
// read-only folder) loses nothing: the records stay in memory, are still
// posted, and are written as soon as a write works again (at the next
// record, and every few seconds); WriteProblem says so meanwhile. Lines that
// cannot be read when the file is loaded are set aside in the queue's name
// plus ".damaged", and every whole record before and after them is kept.
#pragma once

#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "contacts/untContact.h"
#include "logbook/untLogbookAnswer.h"
#include "logbook/untLogbookClient.h"
#include "logbook/untRadioPoster.h"

namespace vela {

class TContactOutbox {
public:
  // Larger records are not contacts.
  static constexpr std::size_t MaxRecordBytes = 64 * 1024;
  static constexpr std::size_t MaxWaiting = 10000;
  static constexpr TMsTime FirstRetryMs = 5000;
  static constexpr TMsTime MaxRetryMs = 5 * 60 * 1000;
  // A file that refused a write is tried again this often.
  static constexpr int WriteRetryMs = 3000;
  // A line of the file longer than this is no record (a record's JSON is at
  // most six times its bytes).
  static constexpr std::size_t MaxLineBytes = 6 * MaxRecordBytes + 64;
  static constexpr const char* RefusedFileLeaf = "LogbookRefused.adi";

  // Reads the records FileName still holds (lines it cannot read are set
  // aside); sends nothing before Start.
  TContactOutbox(TLogbookClient& AClient, std::string AFileName);

  // The logbook's station; 0 or less: the key owner's active station, as
  // station_info lists it.
  void setStationId(std::int64_t Value);
  void setOnOutcome(const TApiOutcomeHandler& Value) { FOnOutcome = Value; }
  // Called with the operator's words for each record set aside.
  void setOnSetAside(const std::function<void(const std::string&)>& Value) { FOnSetAside = Value; }
  // Called with the operator's words for a record the logbook already held
  // ("DL1ABC was already in the log").
  void setOnNote(const std::function<void(const std::string&)>& Value) { FOnNote = Value; }
  // Called when what StatusWords says may have changed without an answer of
  // the logbook (a file that takes writes again).
  void setOnChange(const std::function<void()>& Value) { FOnChange = Value; }

  // Queues one ADIF record (without a header). False, with Error set, when
  // the record is empty or too large or the queue is full; the record is
  // then not queued. A record the file refuses is queued all the same,
  // held in memory, and Error says why it is not on disk.
  bool Enqueue(const std::string& Record, std::string* Error = nullptr);

  void Start();
  // Stops sending; a post on its way is abandoned (and sent again later).
  void Stop();

  std::size_t Waiting() const { return FRecords.size(); }
  const std::string& FileName() const { return FFileName; }
  // "cannot write /path/LogbookOutbox.jsonl: No space left on device";
  // empty while the file takes every write.
  const std::string& WriteProblem() const { return FWriteProblem; }
  // Records held in memory alone, and lines set aside as damaged at load.
  std::size_t Unwritten() const { return FUnwritten; }
  std::size_t Damaged() const { return FDamaged; }
  // Where damaged lines are set aside: the queue's name plus ".damaged".
  std::string DamagedFileName() const { return FFileName + ".damaged"; }
  // "2 contacts waiting — server error 500 — retrying · the logbook refused
  // K1ABC: ... — set aside in LogbookRefused.adi"; empty when all is well.
  std::string StatusWords() const;

  // Where refused records are set aside: LogbookRefused.adi beside the queue.
  std::string RefusedFileName() const;
  // Records set aside since the start (or the last ResendRefused).
  std::size_t SetAside() const { return FSetAside; }
  bool KeyPaused() const { return FKeyPaused; }
  // Puts the records set aside back at the end of the queue (once the
  // operator has mended what the logbook refused) and removes the file;
  // returns how many went back. Error says what stopped it; the file is
  // kept whole unless every record went back.
  std::size_t ResendRefused(std::string* Error = nullptr);

  // The set-aside file read record by record: each record with the
  // refusal before it, and the parts that are no record (a file edited by
  // hand), by line.
  struct TRefused {
    std::string ReasonLine; // the line before it with the time and the refusal
    std::string Reason;     // the refusal's words; empty when the file has none
    std::string Text;       // as in the file
    std::size_t Line = 0;
    bool Readable = false;
    TContact Contact;
  };
  std::vector<TRefused> ReadRefused(std::string* Error = nullptr) const;
  // Sends the set-aside records again, as the operator chose: with
  // StationCallsign given, those whose STATION_CALLSIGN differs from it go
  // back with it in its place (and in OPERATOR where that was the old call),
  // and the rest stay; without, every readable record goes back but those
  // Known to carry another station callsign than the logbook's (KnownCall),
  // which a plain resend cannot help. What cannot be read stays in the
  // file. Returns how many went back; Words say so, and what each record
  // that stays needs.
  std::size_t ResendRefused(const std::string& StationCallsign, const std::string& KnownCall,
                            std::string& Words);

  // Sends the next record when it may; the timer and Enqueue call it.
  void Pump();

private:
  void Load();
  // Writes what the file lacks (records held in memory, records that left);
  // false, with WriteProblem set and a retry started, when it refuses.
  bool Flush();
  // Replaces the file by the records waiting, once enough have left.
  void Compact(bool Always);
  // The oldest record leaves the queue.
  void Settle();
  void WriteFailed();
  void Failed(const TApiReply& Reply, TQsoVerdict Verdict);
  void Posted(const TApiReply& Reply);
  void SetAside(const std::string& Why);

  TLogbookClient& FClient;
  std::string FFileName;
  std::deque<std::string> FRecords;
  // The newest FUnwritten records are in memory alone; FDoneOwed records
  // that left are still in the file without a line saying so; FDead records
  // in the file have left.
  std::size_t FUnwritten = 0;
  std::size_t FDoneOwed = 0;
  std::size_t FDead = 0;
  std::size_t FDamaged = 0;
  std::string FWriteProblem;
  QTimer FWriteRetry;
  std::int64_t FStationId = 0;
  std::int64_t FActiveStation = 0;
  bool FRunning = false;
  bool FInFlight = false;
  unsigned FRun = 0;
  QTimer FRetry;
  TBackoff FBackoff{FirstRetryMs, MaxRetryMs};
  std::string FProblem;
  bool FKeyPaused = false;
  bool FStationPaused = false;
  std::size_t FSetAside = 0;
  std::string FSetAsideWords;
  TApiOutcomeHandler FOnOutcome;
  std::function<void(const std::string&)> FOnSetAside;
  std::function<void()> FOnChange;
  std::function<void(const std::string&)> FOnNote;
  std::string FNote; // the last record's words, until the next one settles
};

// The key owner's active station in a station_info answer (the one marked
// active, else the only one); 0 when none can be told.
std::int64_t ActiveStationId(const QJsonDocument& StationInfo);

} // namespace vela

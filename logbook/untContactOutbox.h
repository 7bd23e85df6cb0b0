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
// after a growing pause. The file holds one JSON object per line; a record
// is appended (and flushed to disk) before Enqueue returns, and the file is
// replaced whole when records leave, so no contact is lost across a restart
// or a crash; a record that cannot be set aside stays queued.
#pragma once

#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

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
  static constexpr const char* RefusedFileLeaf = "LogbookRefused.adi";

  // Reads the records FileName still holds (lines it cannot read are
  // skipped); sends nothing before Start.
  TContactOutbox(TLogbookClient& AClient, std::string AFileName);

  // The logbook's station; 0 or less: the key owner's active station, as
  // station_info lists it.
  void setStationId(std::int64_t Value);
  void setOnOutcome(const TApiOutcomeHandler& Value) { FOnOutcome = Value; }
  // Called with the operator's words for each record set aside.
  void setOnSetAside(const std::function<void(const std::string&)>& Value) { FOnSetAside = Value; }

  // Queues one ADIF record (without a header). False, with Error set, when
  // the record is empty or too large, the queue is full, or the file refuses
  // it; the record is then not queued.
  bool Enqueue(const std::string& Record, std::string* Error = nullptr);

  void Start();
  // Stops sending; a post on its way is abandoned (and sent again later).
  void Stop();

  std::size_t Waiting() const { return FRecords.size(); }
  const std::string& FileName() const { return FFileName; }
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

  // Sends the next record when it may; the timer and Enqueue call it.
  void Pump();

private:
  void Load();
  bool Append(const std::string& Record, std::string& Error);
  bool Rewrite();
  void Failed(const TApiReply& Reply, TQsoVerdict Verdict);
  void Posted(const TApiReply& Reply);
  void SetAside(const std::string& Why);

  TLogbookClient& FClient;
  std::string FFileName;
  std::deque<std::string> FRecords;
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
};

// The key owner's active station in a station_info answer (the one marked
// active, else the only one); 0 when none can be told.
std::int64_t ActiveStationId(const QJsonDocument& StationInfo);

} // namespace vela

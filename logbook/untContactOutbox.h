// Contacts on their way to the logbook: a queue kept in a file, posted to the
// API one record at a time, oldest first.
//
// A record is settled, and leaves the queue, when the logbook created it
// (201 with adif_count of 1 or more) or names it a duplicate (400). Anything
// else keeps it, with the reason shown and another try after a growing
// pause; a record the logbook refuses for itself (a 4xx or 5xx about the
// record) goes behind the others so that it does not hold them up. The file
// holds one JSON object per line; a record is appended (and flushed to disk)
// before Enqueue returns, and the file is replaced whole when records leave,
// so no contact is lost across a restart or a crash.
#pragma once

#include <QTimer>

#include <cstdint>
#include <deque>
#include <string>

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

  // Reads the records FileName still holds (lines it cannot read are
  // skipped); sends nothing before Start.
  TContactOutbox(TLogbookClient& AClient, std::string AFileName);

  // The logbook's station; 0 or less: the key owner's active station, as
  // station_info lists it.
  void setStationId(std::int64_t Value);
  void setOnOutcome(const TApiOutcomeHandler& Value) { FOnOutcome = Value; }

  // Queues one ADIF record (without a header). False, with Error set, when
  // the record is empty or too large, the queue is full, or the file refuses
  // it; the record is then not queued.
  bool Enqueue(const std::string& Record, std::string* Error = nullptr);

  void Start();
  // Stops sending; a post on its way is abandoned (and sent again later).
  void Stop();

  std::size_t Waiting() const { return FRecords.size(); }
  const std::string& FileName() const { return FFileName; }
  // "2 contacts waiting — wrong station callsign"; empty when none waits.
  std::string StatusWords() const;

  // Sends the next record when it may; the timer and Enqueue call it.
  void Pump();

private:
  void Load();
  bool Append(const std::string& Record, std::string& Error);
  bool Rewrite();
  void Failed(const TApiReply& Reply, bool AboutTheRecord);
  void Posted(const TApiReply& Reply);

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
  TApiOutcomeHandler FOnOutcome;
};

// The key owner's active station in a station_info answer (the one marked
// active, else the only one); 0 when none can be told.
std::int64_t ActiveStationId(const QJsonDocument& StationInfo);

} // namespace vela

// Reading the logbooks' answers as they mean them. The two logbooks the
// program serves answer the same calls differently: one puts notices of its
// own runtime before the JSON, names a duplicate with a 201 and a count of
// 0 instead of a 400, and has no version call. Bodies in, decisions out;
// nothing here touches the network.
#pragma once

#include <QByteArray>
#include <QJsonDocument>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logbook/untLogbookRules.h"

namespace vela {

enum class TApiOutcome : std::uint8_t {
  aoOk,          // a 2xx answer in JSON
  aoKeyRefused,  // 401 or 403
  aoRejected,    // another 4xx in JSON: the server read the request and said no
  aoServerError, // 5xx
  aoNotApi,      // an answer that is not the API's (a web page, a proxy's error)
  aoTimeout,     // no answer within the time-out
  aoUnreachable, // no connection (refused, no such host, network down)
  aoTlsRefused,  // the server's certificate is not trusted
  aoBadAddress,  // the logbook's address or key cannot be used
};

struct TApiReply {
  TApiOutcome Outcome = TApiOutcome::aoUnreachable;
  int Status = 0; // the HTTP status; 0 without an answer
  QByteArray Body;
  QJsonDocument Json; // null unless the body is (or holds) the API's JSON
  // The server's clock from its Date header, UTC seconds; 0 when not given.
  std::int64_t ServerTime = 0;
  // Words for the operator: the server's reason, or what went wrong.
  std::string Reason;
  bool Ok() const { return Outcome == TApiOutcome::aoOk; }
  // Whether trying again later may help (not for a bad address).
  bool Retryable() const { return Outcome != TApiOutcome::aoBadAddress; }
};

// The kind an answer to api/version tells: a version in JSON is Wavelog's,
// a 404 Cloudlog's; nullopt when the answer tells nothing (no answer, a
// server error): ask again later.
std::optional<TLogbookKind> KindFromVersionAnswer(const TApiReply& Reply);

// How many characters of a body are searched for the answer's JSON, and how
// many places in it are tried as its start.
inline constexpr std::size_t MaxJsonSearchBytes = 1024 * 1024;
inline constexpr int MaxJsonStarts = 16;

// The answer's JSON: the whole body when it is JSON; otherwise the first
// JSON object in it that carries a "status" (notices or markup before it,
// or a second object after it, are passed over). Null when there is none.
QJsonDocument FindAnswerJson(const QByteArray& Body);

// What an answer to a posted contact means for the queue.
enum class TQsoVerdict : std::uint8_t {
  qvCreated,        // stored: it leaves the queue
  qvDuplicate,      // already stored: it leaves the queue
  qvSetAside,       // refused for what the record holds: set aside
  qvKeyRefused,     // the key is wrong or may only read: pause the queue
  qvStationRefused, // the chosen station is not the key owner's: pause
  qvRetry,          // the logbook could not take it now: try again
};
struct TQsoAnswer {
  TQsoVerdict Verdict = TQsoVerdict::qvRetry;
  std::string Words; // the logbook's reason in plain words (empty: none)
};
TQsoAnswer ReadQsoAnswer(const TApiReply& Reply);

// Whether a refusal's words name the station rather than the key.
bool NamesStation(std::string_view Reason);

// One command of the logbook's click-to-tune queue as listed.
struct TRadioCommand {
  std::int64_t Id = 0;
  std::string Type;      // SET_FREQ, SET_MODE, ...
  std::string Frequency; // as given (hertz, a text or a number)
  std::string Mode;
  std::string Status;    // PENDING, ...
  std::string CreatedAt; // "YYYY-MM-DD HH:MM:SS"; empty: not given
  std::string ExpiresAt; // likewise
};
// How many commands of one answer are kept: of a longer list (at most the
// 1 MB an answer may hold), the newest.
inline constexpr std::size_t MaxCommandsRead = 256;
// The commands of an answer to radio_commands_pending_by_name, ids above 0
// only, oldest first. Error says why an answer is not a list.
std::vector<TRadioCommand> ReadRadioCommands(const QJsonDocument& Json, std::string* Error);

// Whether a command's time is up at the server's time Now (UTC seconds
// since the epoch), its times read as UTC. A command without a time that
// can be read is not.
bool CommandExpired(const TRadioCommand& Command, std::int64_t NowUtcSeconds);
// How long a command stands: from its creation to its expiry where both
// are given (a difference, whatever zone they are written in), else the
// logbook's usual half hour.
std::int64_t CommandLifetimeSeconds(const TRadioCommand& Command);

// The mode for the radio a queued SET_MODE names: the click-to-tune mode
// names, and SSB as the sideband usual at Hz (lower below 10 MHz).
std::string TuneModeForCommand(std::string_view Mode, std::int64_t Hz);

} // namespace vela

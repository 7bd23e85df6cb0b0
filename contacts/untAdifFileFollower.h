// Follows an ADIF log file that a digital-mode program appends a record to
// for each contact it logs, and hands on each record appended as a contact.
//
// The records a file already holds when it is first seen are not contacts
// (no flood of old contents on first use). A record is taken once complete
// (its "<eor>"); a file that does not exist yet when first looked for holds
// only new contacts when it appears. The old contents are recognised by what
// was read: a hash of every byte before the read position (and, for a quick
// look at each notice, the bytes just before it). A file saved again whole
// that begins with them (renamed over the old one, or rewritten in place:
// cut to nothing and written anew in pieces, while it is shorter than the
// read position it is waited for) is read on after them. A file that does
// not begin with them, or that stays shorter for SettleMs, is read from its
// start, and only records not taken before and not older than the time the
// file was first seen are contacts. What was taken (by call, date, time on
// and band), how far the file was read, the hash and the file's identity
// are kept in a state file, so that a restart hands on nothing twice. A file
// that vanishes is followed again when it returns.
//
// The platform's file notices drive it (the file and its folder are
// watched); each notice reads once. Work per turn of the event loop is
// bounded: a rewritten file is read ChunkBytes at a time, and more than
// ChunkBytes of records appended at once is taken as an import into the
// program's log, not as contacts, and passed over. A record longer than
// ChunkBytes is passed over once it is whole; the read position is always
// at the end of a record.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>

#include "contacts/untContact.h"

class QFile;
class QFileSystemWatcher;

namespace vela {

class TAdifFileFollower {
public:
  static constexpr std::size_t ChunkBytes = 1024 * 1024;
  static constexpr std::size_t MaxTaken = 10000;
  // How long a file shorter than what was read, or read anew while it
  // grows, must keep its size before it counts as written.
  static constexpr int SettleMs = 1000;

  using TContactSink = std::function<void(TContact)>;
  using TChangeSink = std::function<void()>;

  // Path: the log file; StatePath: where what was taken is kept.
  TAdifFileFollower(std::string APath, std::string AStatePath);
  ~TAdifFileFollower();

  // Reads the state, looks at the file and starts watching it.
  void Start();
  // Reads what changed; the watcher calls it, tests and callers may too.
  void Check();

  const std::string& Path() const { return FPath; }
  // Why the file cannot be followed now (missing, unreadable, not a file),
  // or the last record passed over; empty when all is well.
  const std::string& Problem() const { return FProblem; }
  std::uint64_t Taken() const { return FTakenCount; }

  void setOnContact(TContactSink Value) { FOnContact = std::move(Value); }
  // Problem changed.
  void setOnChange(TChangeSink Value) { FOnChange = std::move(Value); }

  // The state file for a log file, in Folder.
  static std::string StatePathFor(const std::string& Folder, const std::string& LogFile);

private:
  void LoadState();
  void SaveState() const;
  void SetProblem(std::string Text);
  void Watch();
  bool Remember(const std::string& Key);
  void FirstLook(QFile& File, const std::string& Identity, std::int64_t Size);
  void StartRereading();
  // Reads on from the read position at most ChunkBytes, handing on what is
  // new; adds to Problem.
  void ReadOn(QFile& File, std::int64_t Size, std::string& Problem);
  // Moves the read position to To, taking nothing.
  void SkipTo(QFile& File, std::int64_t To);
  // A check in AfterMs, or (0) at the next turn of the event loop.
  void ScheduleCheck(int AfterMs = 0);

  std::string FPath;
  std::string FStatePath;
  std::string FProblem;
  std::unique_ptr<QFileSystemWatcher> FWatcher;
  TContactSink FOnContact;
  TChangeSink FOnChange;

  // The state kept across restarts.
  bool FKnown = false;                      // the file was seen before
  std::string FIdentity;                    // "device:inode"
  std::int64_t FOffset = 0;                 // read up to here
  std::string FTail;                        // the bytes just before FOffset
  std::optional<std::uint64_t> FPrefixHash; // of the bytes before FOffset
  std::string FSince;                       // "yyyyMMddhhmmss" UTC, when first seen
  bool FRereading = false;                  // reading a rewritten file from its start
  std::deque<std::string> FTakenOrder;
  std::unordered_set<std::string> FTaken;

  // Seen shorter than FOffset: its size then, since when it has had that
  // size, and since when it has been shorter.
  bool FShrunk = false;
  std::int64_t FShrunkSize = 0;
  std::chrono::steady_clock::time_point FShrunkAt, FShrunkSince;
  // While reading anew: the size at the end of the last read, and since when.
  std::int64_t FRereadSize = -1;
  std::chrono::steady_clock::time_point FRereadAt;

  std::uint64_t FTakenCount = 0;
  bool FCheckScheduled = false;
  bool FLaterScheduled = false;
  std::shared_ptr<int> FAlive = std::make_shared<int>(0);
};

} // namespace vela

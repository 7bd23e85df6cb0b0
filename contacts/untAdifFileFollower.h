// Follows an ADIF log file that a digital-mode program appends a record to
// for each contact it logs, and hands on each record appended as a contact.
//
// The records a file already holds when it is first seen are not contacts
// (no flood of old contacts on first use). A record is taken once complete
// (its "<eor>"); a file that does not exist yet when first looked for holds
// only new contacts when it appears. A file saved again whole (a new file under the name, or the
// bytes before the read position changed) or cut shorter is read from its
// start, and only records not taken before and not older than the time the
// file was first seen are contacts. What was taken (by call, date, time on
// and band), how far the file was read and its identity are kept in a state
// file, so that a restart hands on nothing twice. A file that vanishes is
// followed again when it returns.
//
// The platform's file notices drive it (the file and its folder are
// watched); each notice reads once. Work per turn of the event loop is
// bounded: a rewritten file is read ChunkBytes at a time, and more than
// ChunkBytes appended at once is taken as an import into the program's log,
// not as contacts, and passed over.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>

#include "contacts/untContact.h"

class QFileSystemWatcher;

namespace vela {

class TAdifFileFollower {
public:
  static constexpr std::size_t ChunkBytes = 1024 * 1024;
  static constexpr std::size_t MaxTaken = 10000;

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
  // Reads from the read position at most ChunkBytes, handing on what is new.
  void ReadChunk(std::int64_t Size);
  void ScheduleCheck();

  std::string FPath;
  std::string FStatePath;
  std::string FProblem;
  std::unique_ptr<QFileSystemWatcher> FWatcher;
  TContactSink FOnContact;
  TChangeSink FOnChange;

  // The state kept across restarts.
  bool FKnown = false;      // the file was seen before
  std::string FIdentity;    // "device:inode"
  std::int64_t FOffset = 0; // read up to here
  std::string FTail;        // the bytes just before FOffset
  std::string FSince;       // "yyyyMMddhhmmss" UTC, when first seen
  bool FRereading = false;  // reading a rewritten file from its start
  std::deque<std::string> FTakenOrder;
  std::unordered_set<std::string> FTaken;

  std::uint64_t FTakenCount = 0;
  bool FCheckScheduled = false;
  std::shared_ptr<int> FAlive = std::make_shared<int>(0);
};

} // namespace vela

// Listens for the digital-mode programs' UDP datagrams and hands every new
// contact to any number of consumers, on the main thread's event loop.
//
// The address is "[host:]port": a unicast address (127.0.0.1 by default)
// admits this one listener; a multicast group (224.0.0.0/4) is joined, so
// that several listeners share the sender's datagrams. A port another program
// holds is reported in ErrorText with a hint, never fatal.
//
// Besides the socket it follows ADIF log files (FollowFiles), and every
// record appended to one is a contact too; and it can be a client of a
// program's TCP API (ConnectApi), each line read as a datagram.
//
// A contact that arrives twice reaches the consumers once: the same call and
// band with times on at most SameContactSeconds apart, among the last
// MaxRemembered contacts, whatever path each came by (a program sends each
// contact as "contact logged" and again as ADIF, and writes it to its log
// file too); and the same call and band arriving within SameArrivalSeconds,
// whatever their times say (one sender's two messages of a contact disagree
// on the time). When a sender is known to send each contact as ADIF too, its
// "contact logged" waits up to HoldMs for the ADIF, and the two are merged
// (MergeContactLogged).
// A contact without a time on is given the time it arrived. Each consumer gets the
// contact and its ADIF record text (no header). Status reports (the sender's dial frequency and
// mode) go to the status consumers, and the last one is kept.
//
// Every datagram that arrives is read: each notice of the socket drains it
// there and then, since datagrams left for a later turn of the event loop
// are never announced again (the socket stays silent for good). Only a
// flood of more than DatagramsPerTurn at once is left for the next turn, so
// that it cannot hold up the window, and a check every CheckMs reads what
// waits unannounced. A datagram that cannot be read is counted and skipped.
// A multicast group is joined on the loopback interface only, unless an
// interface is named (setInterface).
//
// The socket asks for a receive buffer of ReceiveBufferBytes, so that a
// burst waits there; what the system still dropped because the buffer was
// full is counted (Counts().Dropped, looked up about once a second while
// datagrams arrive).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cat/transport/untListenAddress.h"
#include "contacts/untAdifFileFollower.h"
#include "contacts/untContact.h"
#include "contacts/untContactDatagram.h"
#include "contacts/untContactLineClient.h"
#include "platform/untConsumers.h"
#include "platform/untEvents.h"
#include "platform/untObject.h"

class QTimer;
class QUdpSocket;

namespace vela {

// One contact a program sent both as "contact logged" and as ADIF, merged
// into Adif: the ADIF's fields (times, band, mode and submode as the log has
// them), those only Logged has, and Logged's texts where either is more
// than ASCII (Logged is UTF-8; an ADIF may be Latin-1, "?" for what Latin-1
// lacks).
void MergeContactLogged(TContact& Adif, const TContact& Logged);

// (Contact, its ADIF record text)
using TContactConsumer = std::function<void(const TContact&, const std::string&)>;
using TStatusConsumer = std::function<void(const TStatusReport&)>;
// Sender: the listener; raised when ErrorText, Problem or Listening change.
using TListenerChangeEvent = TMethod<TObject*>;

struct TContactListenerReport;

class TContactListener : public TObject {
public:
  static constexpr std::size_t MaxRemembered = 256;
  static constexpr int SameContactSeconds = 120;
  static constexpr int SameArrivalSeconds = 5;
  static constexpr int HoldMs = 1500;
  static constexpr int DatagramsPerTurn = 4096;
  static constexpr int CheckMs = 250;
  static constexpr int ReceiveBufferBytes = 4 * 1024 * 1024;
  // The port of an address given without one (ParseListenAddress).
  static constexpr std::uint16_t DefaultPort = 2237;

  TContactListener();
  ~TContactListener() override;

  // Starts listening (stopping first); false with ErrorText set when the
  // text is no address or the port cannot be bound for good. A unicast
  // port another program holds is tried again until it is free
  // (TListenRetry; ErrorText says so meanwhile, and true is returned).
  bool Start(const std::string& Listen);
  void Stop();
  bool Listening() const;
  // Not listening yet: the port is taken, and tried again.
  bool Waiting() const { return FRetry.Waiting(); }
  // The bound port (useful with port 0), 0 when not listening.
  std::uint16_t Port() const;
  // "224.0.0.1:2237" as listened on; empty when not listening.
  const std::string& Address() const { return FAddress; }
  const std::string& ErrorText() const {
    return FRetry.Waiting() ? FRetry.ErrorText() : FErrorText;
  }

  // Consumers are called in the order they were added; the number returned
  // removes one again.
  int AddContactConsumer(TContactConsumer Consumer) { return FConsumers.Add(std::move(Consumer)); }
  int AddStatusConsumer(TStatusConsumer Consumer) { return FConsumers.Add(std::move(Consumer)); }
  void RemoveConsumer(int Id) { FConsumers.Remove(Id); }

  // Reads one datagram as if it had arrived (the socket's path, for tests
  // and benchmarks without a network).
  void Receive(std::string_view Bytes);

  // Follows these ADIF log files (replacing those followed before; a file
  // followed already goes on as it was), keeping what was taken in Folder.
  // Works whether or not the socket listens.
  void FollowFiles(const std::vector<std::string>& Paths, const std::string& Folder);
  const std::vector<std::unique_ptr<TAdifFileFollower>>& Followers() const { return FFollowers; }
  // What keeps log files from being followed or the API client from
  // reading, "; "-joined; empty when nothing does.
  std::string FilesProblem() const;
  // All a shell prints of the listener, at this moment.
  TContactListenerReport Report() const;

  // Reads the JSON lines of a program's TCP API at "host:port" (empty: no
  // client), reconnecting while it is away; a change of address reconnects.
  void ConnectApi(const std::string& HostPort);
  const TContactLineClient* ApiClient() const { return FApi.get(); }

  // The last status report and when it came; none before the first.
  const std::optional<TStatusReport>& LastStatus() const { return FLastStatus; }
  std::chrono::steady_clock::time_point LastStatusTime() const { return FLastStatusTime; }
  // The mode the program last reported, when that was at most MaxAge ago;
  // empty otherwise.
  std::string RecentMode(std::chrono::seconds MaxAge = std::chrono::seconds(60)) const;

  // What was read so far: datagrams read, ignored (no contact in them) and
  // unreadable, contacts refused at the door, and datagrams the system
  // dropped before they could be read (the socket's buffer full).
  struct TCounts {
    std::uint64_t Read = 0, Ignored = 0, Unreadable = 0, Refused = 0, Dropped = 0;
    bool operator==(const TCounts&) const = default;
  };
  const TCounts& Counts() const { return FCounts; }
  // "read 12, ignored 9, unreadable 1 datagrams; refused 0 contacts;
  // dropped 0 datagrams"
  std::string CountsText() const;
  // The socket's receive buffer as granted, in bytes; 0 when unknown.
  int ReceiveBuffer() const { return FReceiveBuffer; }
  // Looks up what the system dropped now (tests; the listener does it
  // itself about once a second while datagrams arrive).
  void CountDropped();
  // Unreadable datagrams so far, and why the last one was refused.
  std::uint64_t Unreadable() const { return FCounts.Unreadable; }
  const std::string& Problem() const { return FProblem; }
  // Why the last contact was refused at the door.
  const std::string& RefusedWhy() const { return FRefusedWhy; }

  // The interface a multicast group is joined on, by name ("eth0"); empty:
  // the loopback interface. Takes effect at the next Start.
  void setInterface(const std::string& Value) { FInterface = Value; }

  const TListenerChangeEvent& OnChange() const { return FOnChange; }
  void setOnChange(const TListenerChangeEvent& Value) { FOnChange = Value; }

  // Keeps the "contact logged" messages held for their ADIF in the file at
  // Path while they wait (rewritten durably at each change, removed when
  // none waits), so that a crash in that wait loses none: contacts such a
  // file holds are delivered at once when it is named, as a previous run
  // left them. A file that cannot be written is said in HeldProblem; the
  // contacts are held in memory all the same.
  void KeepHeldIn(const std::string& Path);
  const std::string& HeldProblem() const { return FHeldProblem; }
  // Delivers every held contact now, without waiting for its ADIF (the
  // program is ending).
  void DeliverHeld() { ReleaseHeld(true); }

  // The UTC clock that stamps contacts without a time on ("yyyyMMdd", "hhmmss").
  using TUtcClock = std::function<std::pair<std::string, std::string>()>;
  void setClock(TUtcClock Value) { FClock = std::move(Value); }

private:
  // One try at listening on Listen; FTaken tells a port another program
  // holds.
  bool Bind(const std::string& Listen);
  void CloseSocket();
  void ReadPending();
  void Changed();
  // Stamps, checks against those delivered recently and hands on.
  void Deliver(TContact& Contact);
  bool Seen(const TContact& Contact);

  std::unique_ptr<QUdpSocket> FSocket;
  std::string FAddress;
  std::string FErrorText;
  std::string FListen;
  bool FTaken = false;
  TListenRetry FRetry{[this](std::string& Error, bool& MayPass) {
    const bool Bound = Bind(FListen);
    Error = FErrorText;
    MayPass = FTaken;
    return Bound;
  }};
  std::unique_ptr<QTimer> FCheck;
  std::string FInterface;
  std::string FProblem;
  std::string FRefusedWhy;
  TCounts FCounts;
  int FReceiveBuffer = 0;
  std::uint64_t FDroppedBefore = 0; // by the sockets before this one
  std::uint64_t FReadAtDropsLook = 0;
  int FChecksSinceDropsLook = 0;
  bool FReadScheduled = false;
  TConsumers<TContactConsumer, TStatusConsumer> FConsumers;
  struct TRemembered {
    std::string Call, Band;
    std::int64_t TimeOn; // seconds since the epoch, -1 when unreadable
    std::chrono::steady_clock::time_point Arrived;
  };
  std::deque<TRemembered> FRemembered;
  std::vector<std::unique_ptr<TAdifFileFollower>> FFollowers;
  std::unique_ptr<TContactLineClient> FApi;
  std::string FApiText;
  // Senders that sent a contact as ADIF, and their "contact logged" ones
  // held for it.
  std::vector<std::string> FAdifSenders;
  struct THeld {
    std::string Sender;
    TContact Contact;
    std::chrono::steady_clock::time_point Until;
  };
  std::deque<THeld> FHeld;
  std::string FHeldPath;
  std::string FHeldProblem;
  void ReleaseHeld(bool All);
  void SaveHeld();
  std::optional<TStatusReport> FLastStatus;
  std::chrono::steady_clock::time_point FLastStatusTime{};
  TListenerChangeEvent FOnChange;
  TUtcClock FClock;
  std::shared_ptr<int> FAlive = std::make_shared<int>(0);
};

// What a shell prints of a contact listener: where it listens or why not,
// the log files it follows, its counts and its last problems.
struct TContactListenerReport {
  bool Listening = false;
  bool Waiting = false; // the port is taken, and tried again
  std::string Address;  // "224.0.0.1:2237" while listening
  std::uint16_t Port = 0;
  std::string ErrorText;
  std::vector<std::string> Files;
  std::string FilesProblem;
  TContactListener::TCounts Counts;
  std::string Problem;    // why the last unreadable datagram was
  std::string RefusedWhy; // why the last contact was refused
};

} // namespace vela

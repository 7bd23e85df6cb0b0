#include "contacts/untContactListener.h"

#include <QDateTime>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include <unistd.h>

#include "cat/transport/untHostPort.h"
#include "cat/transport/untListenAddress.h"
#include "contacts/untAdif.h"
#include "contacts/untUdpReceiveBuffer.h"
#include "platform/untDurableFile.h"
#include "platform/untText.h"

namespace vela {

namespace {

// The interface named (by name, e.g. "eth0", or by its human-readable name),
// or the loopback interface for an empty name; invalid when there is none.
QNetworkInterface MulticastInterface(const std::string& Name) {
  if (!Name.empty())
    for (const QNetworkInterface& Interface : QNetworkInterface::allInterfaces())
      if (Interface.name().toStdString() == Name ||
          Interface.humanReadableName().toStdString() == Name)
        return Interface;
  if (Name.empty())
    for (const QNetworkInterface& Interface : QNetworkInterface::allInterfaces())
      if (Interface.flags().testFlag(QNetworkInterface::IsLoopBack))
        return Interface;
  return {};
}

bool PlainAscii(std::string_view Text) {
  return std::all_of(Text.begin(), Text.end(),
                     [](char C) { return static_cast<unsigned char>(C) < 0x80; });
}

} // namespace

void MergeContactLogged(TContact& Adif, const TContact& Logged) {
  for (const TContactField& F : Logged.Fields) {
    const std::string Own = Adif.Field(F.Name);
    // Where either text is more than ASCII, the "contact logged" message has
    // it as typed (it is UTF-8 by definition; the ADIF may be Latin-1, with
    // "?" for what Latin-1 lacks). ASCII values (times, reports, modes) stay
    // the ADIF's.
    if (Own.empty() || (Own != F.Value && (!PlainAscii(Own) || !PlainAscii(F.Value))))
      Adif.Set(F.Name, F.Value);
  }
}

TContactListener::TContactListener() = default;

TContactListener::~TContactListener() {
  Stop();
}

bool TContactListener::Listening() const {
  return FSocket && FSocket->state() == QAbstractSocket::BoundState;
}

std::uint16_t TContactListener::Port() const {
  return Listening() ? FSocket->localPort() : 0;
}

void TContactListener::Stop() {
  FRetry.Stop();
  CloseSocket();
}

void TContactListener::CloseSocket() {
  FCheck.reset();
  if (FSocket) {
    // The system counts per socket; the count goes on across sockets.
    if (const std::int64_t Dropped =
            DroppedDatagrams(static_cast<int>(FSocket->socketDescriptor()));
        Dropped >= 0)
      FCounts.Dropped = FDroppedBefore + static_cast<std::uint64_t>(Dropped);
    FDroppedBefore = FCounts.Dropped;
    FSocket->close();
    FSocket.reset();
  }
  FAddress.clear();
}

bool TContactListener::Start(const std::string& Listen) {
  Stop();
  FListen = Listen;
  const bool Ok = FRetry.Start();
  if (FRetry.Waiting())
    Changed(); // the words now say it is tried again
  return Ok;
}

bool TContactListener::Bind(const std::string& Listen) {
  CloseSocket();
  FTaken = false;
  FErrorText.clear();
  TListenAddress Where;
  std::string Error;
  if (!ParseListenAddress(Listen, DefaultPort, Where, Error)) {
    FErrorText = Error;
    Changed();
    return false;
  }
  const QHostAddress Host(QString::fromStdString(Where.Host));
  FSocket = std::make_unique<QUdpSocket>();
  // Datagrams from programs on this computer or its network never go
  // through a proxy; asking the system for one would start a proxy lookup
  // thread for nothing.
  FSocket->setProxy(QNetworkProxy::NoProxy);
  bool Bound;
  if (Host.isMulticast()) {
    // Every listener of a group shares the port. Bound to the group itself,
    // the socket takes no datagrams sent to this computer's own addresses
    // from elsewhere; where that is refused, to every address.
    const auto Share = QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint;
    Bound = FSocket->bind(Host, Where.Port, Share);
    if (!Bound)
      Bound = FSocket->bind(Host.protocol() == QAbstractSocket::IPv6Protocol
                                ? QHostAddress(QHostAddress::AnyIPv6)
                                : QHostAddress(QHostAddress::AnyIPv4),
                            Where.Port, Share);
    if (Bound) {
      // The group is joined on one interface: the loopback one unless the
      // operator names another, so that no other host on the network can
      // send contacts in.
      const QNetworkInterface Interface = MulticastInterface(FInterface);
      const bool Joined = Interface.isValid() && FSocket->joinMulticastGroup(Host, Interface);
      if (!Joined) {
        FErrorText = "cannot join the multicast group " + Where.Host + " on " +
                     (FInterface.empty() ? std::string("the loopback interface")
                                         : "interface \"" + FInterface + "\"") +
                     ": " +
                     (Interface.isValid() ? FSocket->errorString().toStdString()
                                          : std::string("no such interface"));
        CloseSocket();
        Changed();
        return false;
      }
    }
  } else {
    // Not shared: a unicast port that another program holds must fail here
    // rather than split the datagrams between two listeners.
    Bound = FSocket->bind(Host, Where.Port, QUdpSocket::DontShareAddress);
  }
  if (!Bound) {
    const bool Taken = FSocket->error() == QAbstractSocket::AddressInUseError;
    FTaken = Taken;
    FErrorText = Taken ? "port " + std::to_string(Where.Port) +
                             " is taken by another program; use a multicast group such as "
                             "224.0.0.1 there and here"
                       : "cannot listen on " + Where.Host + ":" + std::to_string(Where.Port) +
                             ": " + FSocket->errorString().toStdString();
    CloseSocket();
    Changed();
    return false;
  }
  FAddress = FormatHostPort({Where.Host, FSocket->localPort()});
  // Room for a burst: what does not fit is dropped by the system.
  FReceiveBuffer =
      EnlargeReceiveBuffer(static_cast<int>(FSocket->socketDescriptor()), ReceiveBufferBytes);
  FReadAtDropsLook = FCounts.Read;
  QObject::connect(FSocket.get(), &QUdpSocket::readyRead, [this] { ReadPending(); });
  // A check besides the socket's notices, for datagrams they did not
  // announce; and about once a second, while datagrams arrive, a look at
  // what the system dropped.
  FCheck = std::make_unique<QTimer>();
  FCheck->setInterval(CheckMs);
  QObject::connect(FCheck.get(), &QTimer::timeout, [this] {
    if (FSocket && FSocket->hasPendingDatagrams())
      ReadPending();
    if (++FChecksSinceDropsLook >= 1000 / CheckMs && FCounts.Read != FReadAtDropsLook)
      CountDropped();
  });
  FCheck->start();
  Changed();
  return true;
}

void TContactListener::ReadPending() {
  FReadScheduled = false;
  QByteArray Buffer;
  // Every datagram waiting is read now, whatever it turns out to be: a
  // socket left with datagrams unread does not say again that it has some.
  // The bound only hands the event loop back to the window under a flood.
  for (int I = 0; I < DatagramsPerTurn && FSocket && FSocket->hasPendingDatagrams(); ++I) {
    // One byte more than the reader takes, so that an oversized datagram is
    // refused rather than cut to size.
    Buffer.resize(static_cast<qsizetype>(MaxContactDatagram + 1));
    const qint64 Size = FSocket->readDatagram(Buffer.data(), Buffer.size());
    if (Size < 0) {
      // Counted, and reading goes on with the next check rather than
      // spinning on a fault that stays.
      ++FCounts.Unreadable;
      FProblem = "a datagram that could not be read: " + FSocket->errorString().toStdString();
      Changed();
      return;
    }
    Receive(std::string_view(Buffer.constData(), static_cast<std::size_t>(Size)));
  }
  if (FSocket && FSocket->hasPendingDatagrams() && !FReadScheduled) {
    FReadScheduled = true;
    std::weak_ptr<int> Alive = FAlive;
    QTimer::singleShot(0, [this, Alive] {
      if (!Alive.expired())
        ReadPending();
    });
  }
}

bool TContactListener::Seen(const TContact& Contact) {
  // The key holds call, date, time on and band, tab-separated.
  const std::string Key = ContactKey(Contact);
  const std::size_t Tab1 = Key.find('\t'), Tab2 = Key.find('\t', Tab1 + 1),
                    Tab3 = Key.find('\t', Tab2 + 1);
  TRemembered New{Key.substr(0, Tab1), Key.substr(Tab3 + 1), -1, std::chrono::steady_clock::now()};
  const QDateTime On =
      QDateTime::fromString(QString::fromStdString(Key.substr(Tab1 + 1, Tab3 - Tab1 - 1)),
                            QStringLiteral("yyyyMMdd\thhmmss"));
  if (On.isValid())
    New.TimeOn = QDateTime(On.date(), On.time(), Qt::UTC).toSecsSinceEpoch();
  for (const TRemembered& Old : FRemembered) {
    if (Old.Call != New.Call || Old.Band != New.Band)
      continue;
    if (New.Arrived - Old.Arrived <= std::chrono::seconds(SameArrivalSeconds))
      return true;
    if (Old.TimeOn >= 0 && New.TimeOn >= 0 &&
        std::abs(Old.TimeOn - New.TimeOn) <= SameContactSeconds)
      return true;
  }
  FRemembered.push_back(std::move(New));
  if (FRemembered.size() > MaxRemembered)
    FRemembered.pop_front();
  return false;
}

void TContactListener::Deliver(TContact& Contact) {
  if (Contact.Field("qso_date").empty() || Contact.Field("time_on").empty()) {
    std::pair<std::string, std::string> Now;
    if (FClock) {
      Now = FClock();
    } else {
      const QDateTime Utc = QDateTime::currentDateTimeUtc();
      Now = {Utc.toString(QStringLiteral("yyyyMMdd")).toStdString(),
             Utc.toString(QStringLiteral("hhmmss")).toStdString()};
    }
    Contact.Set("qso_date", Now.first);
    Contact.Set("time_on", Now.second);
  }
  if (Seen(Contact))
    return;
  const std::string Record = AdifRecordText(Contact);
  FConsumers.Call<TContactConsumer>(Contact, Record);
}

void TContactListener::FollowFiles(const std::vector<std::string>& Paths,
                                   const std::string& Folder) {
  std::vector<std::unique_ptr<TAdifFileFollower>> Kept;
  std::vector<TAdifFileFollower*> Added;
  for (const std::string& Path : Paths) {
    if (Path.empty() ||
        std::any_of(Kept.begin(), Kept.end(), [&](const auto& F) { return F->Path() == Path; }))
      continue;
    auto Old = std::find_if(FFollowers.begin(), FFollowers.end(),
                            [&](const auto& F) { return F && F->Path() == Path; });
    if (Old != FFollowers.end()) {
      Kept.push_back(std::move(*Old));
      continue;
    }
    auto Follower =
        std::make_unique<TAdifFileFollower>(Path, TAdifFileFollower::StatePathFor(Folder, Path));
    Follower->setOnContact([this](TContact Contact) { Deliver(Contact); });
    Follower->setOnChange([this] { Changed(); });
    Added.push_back(Follower.get());
    Kept.push_back(std::move(Follower));
  }
  FFollowers = std::move(Kept);
  // Started once the list is whole: starting may hand on contacts and
  // report changes, whose receivers look at the list.
  for (TAdifFileFollower* Follower : Added)
    Follower->Start();
  Changed();
}

void TContactListener::ConnectApi(const std::string& HostPort) {
  const std::string Text(Trim(HostPort));
  if (Text == FApiText && (FApi || Text.empty()))
    return;
  FApiText = Text;
  FApi.reset();
  if (!Text.empty()) {
    FApi = std::make_unique<TContactLineClient>([this](std::string_view Line) { Receive(Line); },
                                                [this] { Changed(); });
    FApi->Start(Text);
  }
  Changed();
}

TContactListenerReport TContactListener::Report() const {
  TContactListenerReport Report;
  Report.Listening = Listening();
  Report.Waiting = Waiting();
  Report.Address = FAddress;
  Report.Port = Port();
  Report.ErrorText = ErrorText();
  for (const auto& Follower : FFollowers)
    Report.Files.push_back(Follower->Path());
  Report.FilesProblem = FilesProblem();
  Report.Counts = FCounts;
  Report.Problem = FProblem;
  Report.RefusedWhy = FRefusedWhy;
  return Report;
}

std::string TContactListener::FilesProblem() const {
  std::string Text;
  for (const auto& Follower : FFollowers)
    if (!Follower->Problem().empty())
      Text += (Text.empty() ? "" : "; ") + Follower->Problem();
  if (FApi && !FApi->Problem().empty())
    Text += (Text.empty() ? "" : "; ") + FApi->Problem();
  return Text;
}

void TContactListener::Receive(std::string_view Bytes) {
  TContactDatagram Datagram = ReadContactDatagram(Bytes);
  ++FCounts.Read;
  if (Datagram.Rejected > 0) {
    FCounts.Refused += Datagram.Rejected;
    FRefusedWhy = Datagram.Error;
    Changed();
  }
  switch (Datagram.Kind) {
  case TDatagramKind::dkIgnored:
    ++FCounts.Ignored;
    return;
  case TDatagramKind::dkRefused:
    ++FCounts.Unreadable;
    FProblem = Datagram.Error;
    Changed();
    return;
  case TDatagramKind::dkStatus: {
    FLastStatus = Datagram.Status;
    FLastStatusTime = std::chrono::steady_clock::now();
    FConsumers.Call<TStatusConsumer>(*FLastStatus);
    return;
  }
  case TDatagramKind::dkContacts:
    break;
  }
  // The message types that carry one contact twice.
  constexpr std::uint32_t ContactLogged = 5, LoggedAdif = 12;
  const bool Known = !Datagram.Id.empty() && std::find(FAdifSenders.begin(), FAdifSenders.end(),
                                                       Datagram.Id) != FAdifSenders.end();
  if (Datagram.Type == LoggedAdif && !Datagram.Id.empty() && !Known && !Datagram.Contacts.empty())
    FAdifSenders.push_back(Datagram.Id);
  for (TContact& Contact : Datagram.Contacts) {
    if (Datagram.Type == ContactLogged && Known) {
      // The same contact as ADIF follows at once; its fields are the fuller.
      FHeld.push_back({Datagram.Id, std::move(Contact),
                       std::chrono::steady_clock::now() + std::chrono::milliseconds(HoldMs)});
      SaveHeld();
      std::weak_ptr<int> Alive = FAlive;
      QTimer::singleShot(HoldMs, [this, Alive] {
        if (!Alive.expired())
          ReleaseHeld(false);
      });
      continue;
    }
    if (Datagram.Type == LoggedAdif) {
      // Its held "contact logged" is the same contact: its texts are taken
      // into this one, and it goes.
      const std::string Call = AsciiLower(Contact.Field("call"));
      const std::size_t Dropped = std::erase_if(FHeld, [&](const THeld& Held) {
        if (Held.Sender != Datagram.Id || AsciiLower(Held.Contact.Field("call")) != Call)
          return false;
        MergeContactLogged(Contact, Held.Contact);
        return true;
      });
      // Delivered before the held one leaves the file: a crash between the
      // two gives the contact twice (the logbook tells a duplicate), never
      // not at all.
      Deliver(Contact);
      if (Dropped > 0)
        SaveHeld();
      continue;
    }
    Deliver(Contact);
  }
}

void TContactListener::ReleaseHeld(bool All) {
  const auto Now = std::chrono::steady_clock::now();
  bool Released = false;
  while (!FHeld.empty() && (All || FHeld.front().Until <= Now)) {
    TContact Contact = std::move(FHeld.front().Contact);
    FHeld.pop_front();
    Deliver(Contact);
    Released = true;
  }
  if (Released)
    SaveHeld();
}

void TContactListener::KeepHeldIn(const std::string& Path) {
  if (Path == FHeldPath)
    return;
  FHeldPath = Path;
  if (Path.empty())
    return;
  // What a previous run held when it ended without delivering it.
  if (std::ifstream In(Path, std::ios::binary); In) {
    const std::string Text((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
    TAdifDocument Left = ReadAdif(Text);
    for (TContact& Contact : Left.Records)
      Deliver(Contact);
  }
  SaveHeld();
}

void TContactListener::SaveHeld() {
  if (FHeldPath.empty())
    return;
  bool Kept = true;
  if (FHeld.empty()) {
    Kept = ::unlink(FHeldPath.c_str()) == 0 || errno == ENOENT;
  } else {
    std::string Text = AdifHeaderText();
    for (const THeld& Held : FHeld)
      Text += AdifRecordText(Held.Contact) + "\n";
    Kept = ReplaceDurably(FHeldPath, Text, 0600);
  }
  std::string Problem;
  if (!Kept)
    Problem = "contacts waiting for their ADIF are not being kept: " + FHeldPath + ": " +
              std::strerror(errno);
  if (Problem != FHeldProblem) {
    FHeldProblem = std::move(Problem);
    Changed();
  }
}

std::string TContactListener::RecentMode(std::chrono::seconds MaxAge) const {
  if (!FLastStatus || std::chrono::steady_clock::now() - FLastStatusTime > MaxAge)
    return {};
  return FLastStatus->Mode;
}

std::string TContactListener::CountsText() const {
  return "read " + std::to_string(FCounts.Read) + ", ignored " + std::to_string(FCounts.Ignored) +
         ", unreadable " + std::to_string(FCounts.Unreadable) + " datagrams; refused " +
         std::to_string(FCounts.Refused) + " contacts; dropped " + std::to_string(FCounts.Dropped) +
         " datagrams";
}

void TContactListener::CountDropped() {
  FChecksSinceDropsLook = 0;
  FReadAtDropsLook = FCounts.Read;
  if (!FSocket)
    return;
  const std::int64_t Dropped = DroppedDatagrams(static_cast<int>(FSocket->socketDescriptor()));
  if (Dropped < 0 || FDroppedBefore + static_cast<std::uint64_t>(Dropped) == FCounts.Dropped)
    return;
  FCounts.Dropped = FDroppedBefore + static_cast<std::uint64_t>(Dropped);
  Changed();
}

void TContactListener::Changed() {
  if (FOnChange.Assigned())
    FOnChange(this);
}

} // namespace vela

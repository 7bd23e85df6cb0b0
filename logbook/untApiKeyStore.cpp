#include "logbook/untApiKeyStore.h"

#include <QTimer>
#include <qt6keychain/keychain.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>

#include "settings/untVelaLogSettings.h"

namespace vela {

namespace {

const QString Service = QStringLiteral("VELA Log");
const QString KeyName = QStringLiteral("logbook-api-key");

// Runs Job with a time limit. Done gets whether it succeeded (false also for
// "no such entry", told apart by Missing) when it ends or the time is up; a
// job that succeeds after its time was up (a keyring unlocked late) calls
// Done once more with Late set.
using TJobDone = std::function<void(bool Ok, bool Missing, QKeychain::Job*, bool Late)>;
void RunJob(QKeychain::Job* Job, QObject* Context, const TJobDone& Done) {
  auto TimedOut = std::make_shared<bool>(false);
  auto* Timer = new QTimer(Context);
  Timer->setSingleShot(true);
  QObject::connect(Timer, &QTimer::timeout, Context, [TimedOut, Done, Timer] {
    Timer->deleteLater();
    *TimedOut = true;
    Done(false, false, nullptr, false);
  });
  QObject::connect(Job, &QKeychain::Job::finished, Context,
                   [TimedOut, Done, Timer](QKeychain::Job* J) {
                     const bool Ok = J->error() == QKeychain::NoError;
                     if (*TimedOut) {
                       if (Ok)
                         Done(true, false, J, true);
                       return;
                     }
                     Timer->stop();
                     Timer->deleteLater();
                     Done(Ok, J->error() == QKeychain::EntryNotFound, J, false);
                   });
  Timer->start(TApiKeyStore::KeyringTimeoutMs);
  Job->start();
}

} // namespace

const char* KeyPlaceWords(TKeyPlace Place) {
  switch (Place) {
  case TKeyPlace::kpKeyring:
    return "the desktop's keyring";
  case TKeyPlace::kpSettingsFile:
    return "the settings file (readable only by you)";
  case TKeyPlace::kpNone:
    break;
  }
  return "nowhere";
}

bool MakeFilePrivate(const std::string& FileName) {
  const int Fd = ::open(FileName.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (Fd < 0)
    return false;
  const bool Ok = ::fchmod(Fd, 0600) == 0;
  return (::close(Fd) == 0) && Ok;
}

TApiKeyStore::TApiKeyStore(TVelaLogSettings& ASettings, bool AUseKeyring)
    : FSettings(ASettings), FUseKeyring(AUseKeyring) {}

TApiKeyStore::~TApiKeyStore() = default;

void TApiKeyStore::ReadFile(const TReadDone& Done) {
  FKey = FSettings.strLogbookApiKey();
  FPlace = FKey.empty() ? TKeyPlace::kpNone : TKeyPlace::kpSettingsFile;
  FKnown = true;
  Done(FKey, FPlace);
}

namespace {

// Takes group and world access off a settings file that holds the key; the
// notice says what was done, empty when nothing needed doing.
bool MakeKeyFilePrivate(const std::string& FileName, std::string& Notice) {
  struct stat St {};
  if (::stat(FileName.c_str(), &St) != 0 || (St.st_mode & 077) == 0)
    return true;
  if (::chmod(FileName.c_str(), 0600) != 0) {
    Notice = FileName +
             " holds the logbook's API key and others may read it; it cannot be "
             "made private: " +
             std::strerror(errno);
    return false;
  }
  Notice = FileName + " holds the logbook's API key and others could read it: it is now "
                      "readable only by you";
  return true;
}

} // namespace

void TApiKeyStore::Read(const TReadDone& Done) {
  // A key typed into a settings file that others may read is kept from
  // them now, and the operator is told once.
  if (!FSettings.strLogbookApiKey().empty() && FNotice.empty()) {
    MakeKeyFilePrivate(FSettings.FileName(), FNotice);
    if (!FNotice.empty())
      std::cerr << "velalog: " << FNotice << std::endl;
  }
  const unsigned Generation = ++FGeneration;
  if (!FUseKeyring) {
    QMetaObject::invokeMethod(
        &FContext, [this, Done] { ReadFile(Done); }, Qt::QueuedConnection);
    return;
  }
  auto* Job = new QKeychain::ReadPasswordJob(Service);
  Job->setKey(KeyName);
  RunJob(Job, &FContext, [this, Done, Generation](bool Ok, bool, QKeychain::Job* J, bool Late) {
    if (Generation != FGeneration)
      return; // a write came after
    const QString Text = Ok ? static_cast<QKeychain::ReadPasswordJob*>(J)->textData() : QString();
    if (Text.isEmpty()) {
      if (!Late)
        ReadFile(Done);
      return;
    }
    FKey = Text.toStdString();
    FPlace = TKeyPlace::kpKeyring;
    FKnown = true;
    Done(FKey, FPlace);
  });
}

void TApiKeyStore::WriteFile(const std::string& Key, const TWriteDone& Done) {
  std::string Error;
  try {
    if (!Key.empty() && !MakeFilePrivate(FSettings.FileName()))
      throw std::runtime_error("cannot make " + FSettings.FileName() + " private");
    if (Key != FSettings.strLogbookApiKey())
      FSettings.setStrLogbookApiKey(Key);
  } catch (const std::exception& E) {
    Error = E.what();
  }
  FPlace = Error.empty() && !Key.empty() ? TKeyPlace::kpSettingsFile : TKeyPlace::kpNone;
  Done(Error.empty(), FPlace, Error);
}

void TApiKeyStore::Write(const std::string& Key, const TWriteDone& Done) {
  ++FGeneration;
  FKey = Key;
  FKnown = true;
  if (!FUseKeyring) {
    QMetaObject::invokeMethod(
        &FContext, [this, Key, Done] { WriteFile(Key, Done); }, Qt::QueuedConnection);
    return;
  }
  QKeychain::Job* Job;
  if (Key.empty()) {
    Job = new QKeychain::DeletePasswordJob(Service);
  } else {
    auto* Writer = new QKeychain::WritePasswordJob(Service);
    Writer->setTextData(QString::fromStdString(Key));
    Job = Writer;
  }
  Job->setKey(KeyName);
  RunJob(Job, &FContext, [this, Key, Done](bool Ok, bool, QKeychain::Job*, bool Late) {
    if (Late)
      return; // the settings file took it already
    if (Key.empty() || !Ok) {
      // No keyring (or a removal): the settings file keeps (or drops) it.
      WriteFile(Key, Done);
      return;
    }
    // In the keyring now: no copy stays in the settings file.
    std::string Error;
    try {
      if (!FSettings.strLogbookApiKey().empty())
        FSettings.setStrLogbookApiKey("");
    } catch (const std::exception& E) {
      Error = E.what();
    }
    FPlace = TKeyPlace::kpKeyring;
    Done(true, FPlace, Error);
  });
}

} // namespace vela

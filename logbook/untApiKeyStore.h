// Where the logbook's API key is kept: in the desktop's keyring (the Secret
// Service, through QtKeychain) where one answers, otherwise in the settings
// file, which is then made readable by its owner only (mode 0600); a key
// found there in a file others may read is made private on reading. Reads
// and writes are asynchronous on the event loop; a keyring that does not
// answer within KeyringTimeoutMs counts as none.
#pragma once

#include <QObject>

#include <functional>
#include <string>

#include "logbook/untLogbookKeySource.h"

namespace vela {

class TVelaLogSettings;

enum class TKeyPlace { kpNone, kpKeyring, kpSettingsFile };

// "the desktop's keyring", "the settings file (readable only by you)", "nowhere".
const char* KeyPlaceWords(TKeyPlace Place);

class TApiKeyStore : public TLogbookKeySource {
public:
  static constexpr int KeyringTimeoutMs = 5000;

  // UseKeyring false: the settings file only.
  explicit TApiKeyStore(TVelaLogSettings& ASettings, bool AUseKeyring = true);
  ~TApiKeyStore() override;

  using TReadDone = std::function<void(const std::string& Key, TKeyPlace Place)>;
  using TWriteDone = std::function<void(bool Ok, TKeyPlace Place, const std::string& Error)>;
  // Reads the key: the keyring's, else the settings file's. A keyring that
  // answers after its time was up (unlocked late) calls Done again with its
  // key.
  void Read(const TReadDone& Done);
  // Keeps Key (an empty key removes it): in the keyring, and then not in the
  // settings file; else in the settings file, made private first.
  void Write(const std::string& Key, const TWriteDone& Done);

  // As a key source: Read, telling only that the key is known.
  void ReadKey(const TKeyKnown& Done) override {
    Read([Done](const std::string&, TKeyPlace) { Done(); });
  }

  // The key last read or written, and where it is.
  const std::string& Key() const override { return FKey; }
  TKeyPlace Place() const { return FPlace; }
  // A read has ended, or a key was written, since the store was made.
  bool Known() const override { return FKnown; }
  // Said once, when a read found the key in a settings file others could
  // read and made it private (or could not); empty otherwise.
  const std::string& Notice() const { return FNotice; }

private:
  void ReadFile(const TReadDone& Done);
  void WriteFile(const std::string& Key, const TWriteDone& Done);

  TVelaLogSettings& FSettings;
  bool FUseKeyring;
  QObject FContext; // ends the callbacks of jobs still running when freed
  std::string FKey;
  std::string FNotice;
  TKeyPlace FPlace = TKeyPlace::kpNone;
  bool FKnown = false;
  unsigned FGeneration = 0;
};

// Makes a file (created empty when missing) readable and writable by its
// owner only; false when the system refuses.
bool MakeFilePrivate(const std::string& FileName);

} // namespace vela

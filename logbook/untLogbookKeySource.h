// Where the station reads the web logbook's API key: the key store (the
// desktop's keyring or the settings file) for the window, the command line,
// environment or a file for velalog-cat. The station asks for the key when
// it is given a source and takes the current key at each Apply, so a key
// kept a moment before Apply is the one used.
#pragma once

#include <functional>
#include <string>
#include <utility>

namespace vela {

class TLogbookKeySource {
public:
  using TKeyKnown = std::function<void()>;
  virtual ~TLogbookKeySource() = default;

  // Reads the key where it is kept; Done runs when it is known, from the
  // event loop or at once, and again when a slow place answers late.
  virtual void ReadKey(const TKeyKnown& Done) = 0;
  // A read has ended, or a key was kept, since the source was made.
  virtual bool Known() const = 0;
  // The key last read or kept.
  virtual const std::string& Key() const = 0;
};

// A key given once (velalog-cat's --api-key, its environment or key file).
class TFixedLogbookKey : public TLogbookKeySource {
public:
  explicit TFixedLogbookKey(std::string AKey) : FKey(std::move(AKey)) {}
  void ReadKey(const TKeyKnown& Done) override { Done(); }
  bool Known() const override { return true; }
  const std::string& Key() const override { return FKey; }

private:
  std::string FKey;
};

} // namespace vela

// The pure rules of serving a web logbook's API: the logbook's mode names for
// the radio's own modes, the click-to-tune request line and the modes it may
// ask for, the addresses of the API, and the pacing of radio-state posts.
// Values and times in, decisions out; nothing here touches the network.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/untBackoff.h"
#include "settings/untVelaLogSettings.h"

namespace vela {

struct TRadioModel;

// A time on the steady clock, in milliseconds.
using TMsTime = std::int64_t;

// Which logbook answers: they differ in what they answer and how they name
// modes.
enum class TLogbookKind : std::uint8_t { lkUnknown, lkWavelog, lkCloudlog };
// "auto" (or anything else) is lkUnknown: the program finds out.
TLogbookKind LogbookKindFromText(std::string_view Text);
const char* LogbookKindText(TLogbookKind Kind); // "auto", "wavelog", "cloudlog"
const char* LogbookKindName(TLogbookKind Kind); // "the logbook", "Wavelog", "Cloudlog"

// The radio's state as the logbook is told it.
struct TLogbookRadioState {
  std::int64_t Hz = 0;
  std::string Mode; // the logbook's name (USB, CW, FT8, USB-D, ...)
  bool operator==(const TLogbookRadioState&) const = default;
};

// How long the digital-mode program's last reported mode stands for the
// radio's data mode.
inline constexpr TMsTime DigitalModeValidMs = 60000;

// The logbook's mode name for a radio mode by its Hamlib name: LSB USB CW AM
// FM RTTY, the data modes as USB-D/LSB-D (packet FM as FM), or, when given,
// the digital-mode program's mode (FT8) for any data mode. Cloudlog keeps a
// mode as posted and its pages know no USB-D: to it a data mode without a
// digital mode is the sideband it rides on (USB, LSB). The empty text for a
// mode the logbook has no name for; never more than ten characters.
std::string LogbookModeForNative(std::string_view NativeMode, std::string_view DigitalMode = {},
                                 TLogbookKind Kind = TLogbookKind::lkUnknown);

// What the radio is asked to set for a click-to-tune mode (any letter case:
// lsb usb cw fm am rtty pkt dig, the data modes pktusb pktlsb pktfm usb-d
// lsb-d, and the digital modes' names ft8 ft4 js8 ... which mean pktusb): a
// Hamlib mode name. pkt and dig are the page's "Digi" and follow the
// operator's "Digi means" choice through the radio's row of the radio
// table; a data mode named outright is that data mode where the radio has
// one, and follows "Digi means" on a radio without. Empty for a mode outside
// the list.
std::string NativeModeForTune(std::string_view TuneMode, TDigiMode Digi, const TRadioModel* Model);

// Click-to-tune frequencies: whole hertz from 1 kHz to 10 GHz.
inline constexpr std::int64_t TuneLowHz = 1000;
inline constexpr std::int64_t TuneHighHz = 10000000000;
// The frequency in a request path segment; nullopt for anything else
// (signs, fractions, blanks, leading "+", values out of range).
std::optional<std::int64_t> ParseTuneHz(std::string_view Text);

// A request head read to its end, answered without the radio.
struct TTuneRequest {
  std::string Method;
  std::string Version;            // "HTTP/1.1"
  std::optional<std::int64_t> Hz; // set for a well-formed tune path
  std::string Mode;               // the path's mode, lower case; empty: none
  int Error = 0;                  // 400, 405: the answer without tuning
  std::string Reason;
  // The headers that say who asks: a browser sends Origin on a script's
  // request, Sec-Fetch-* on every request, Referer unless told not to.
  std::optional<std::string> Host, Origin, Referer;
  std::string SecFetchSite; // "none": the operator's own address bar
  bool SecFetch = false;    // any Sec-Fetch-* header
};

// Reads the request line and the headers of Head ("GET /14074000/usb
// HTTP/1.1"). A repeated Host or Origin is an error: which one counts would
// be a guess.
TTuneRequest ParseTuneRequest(std::string_view Head);
// The request line and the headers alone, for a server of pages with paths
// of its own (Error set only for those).
TTuneRequest ParseRequestHead(std::string_view Head);

// The origin of a web address as browsers write it in "Origin": lower-case
// scheme and host, and the port only where it is not the scheme's own
// ("https://log.example.org", "http://10.0.0.5:8086"). "http://" is assumed
// without a scheme. Empty for anything but an http(s) address with a host.
std::string WebOrigin(std::string_view Url);

// Whom click-to-tune serves: the web origins whose pages may tune (the
// logbook's own and those the operator lists), and where it listens.
struct TTuneGuard {
  std::vector<std::string> Origins; // as WebOrigin makes them
  std::uint16_t Port = 0;
  std::string Address; // the listen address ("127.0.0.1", "::1", ...)
  // The server and what a page may do through it, for the refusals' words;
  // the same rule guards every server for the logbook's pages.
  const char* Service = "click-to-tune";
  const char* Deed = "tune the radio";
};
// The logbook's own origin (from its address) and the operator's list
// (blank-separated origins), each made by WebOrigin; the ones that are no
// web address are left out.
std::vector<std::string> TuneOrigins(std::string_view LogbookUrl, std::string_view Listed);

// Whether a request may go on to the radio. A page on another web site must
// not move the transmitter, and neither may a page that reaches the listener
// under another host name (a name made to point at 127.0.0.1).
struct TTuneAccess {
  int Status = 0;     // 0: go on; else 400 or 403 with Reason
  std::string Reason; //
  // The origin to name in Access-Control-Allow-Origin (an accepted one);
  // empty: none is named.
  std::string AllowOrigin;
};
TTuneAccess CheckTuneAccess(const TTuneRequest& Request, const TTuneGuard& Guard);

// The address of an API call: the base (with or without "index.php" and a
// trailing slash; "http://" assumed without a scheme) followed by
// "/index.php/api/" and Call. Empty when Base is empty or not an http(s)
// address. Error says why.
std::string LogbookApiUrl(std::string_view Base, std::string_view Call,
                          std::string* Error = nullptr);

// The logbook's root of an address pasted from one of its pages
// (https://log.example.org/index.php/qso → https://log.example.org/); any
// other text as it is.
std::string LogbookRootAddress(std::string_view Pasted);

// A key the API can take: not empty, no blanks or control characters, and
// no "/" (the checks put it into the path). Error says why not.
bool ValidApiKey(std::string_view Key, std::string* Error = nullptr);

// A logbook's words for the operator: tags and HTML entities removed, runs
// of blanks made one, control characters gone, cut to at most MaxCharacters
// characters (with "…").
std::string PlainWords(std::string_view Text, std::size_t MaxCharacters);

// When to post the radio's state: at most one post a second, the latest
// state wins (states seen while a post is on its way or during a pause are
// not queued), a post at least every HeartbeatMs while the radio is live,
// a pause growing to a minute after a failed post, one post at a time, and
// nothing while the radio is not live.
class TPostPacer {
public:
  static constexpr TMsTime MinIntervalMs = 1000;
  static constexpr TMsTime HeartbeatMs = 5 * 60 * 1000;
  static constexpr TMsTime FirstRetryMs = 2000;
  static constexpr TMsTime MaxRetryMs = 60000;

  // The radio's state now; nullopt while its link is not live.
  void Observe(const std::optional<TLogbookRadioState>& State);
  // When the next post should start (at or before Now: at once); nullopt
  // when nothing is to be posted.
  std::optional<TMsTime> NextDue() const;
  // A post of the latest state starts now; returns what to post.
  TLogbookRadioState Begin(TMsTime Now);
  // The post that started ended; a failure pauses all posts.
  void Finished(bool Ok, TMsTime Now);
  bool InFlight() const { return FInFlight; }
  // The pause after the last failure, for the status words (0: none).
  TMsTime RetryPauseMs() const { return FRetryPause; }

private:
  std::optional<TLogbookRadioState> FLatest;
  // What the logbook was last told successfully, and what is on its way.
  std::optional<TLogbookRadioState> FPosted;
  TLogbookRadioState FSending;
  bool FInFlight = false;
  bool FEverStarted = false;
  TMsTime FLastStart = 0;
  TMsTime FLastSuccess = 0;
  TMsTime FRetryAt = 0;
  TMsTime FRetryPause = 0;
  TBackoff FBackoff{FirstRetryMs, MaxRetryMs};
};

} // namespace vela

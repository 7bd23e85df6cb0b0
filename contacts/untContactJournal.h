// The contact journal and the contacts waiting for the log page's form.
//
// Every contact accepted is appended to the journal, an ADIF file, and
// flushed to the disk before Add returns, so that a crash loses nothing Add
// has acknowledged. Accepted contacts wait in order until TakeNext; where the
// waiting ones begin is kept in a second small file (the journal's name plus
// ".taken", the byte offset after the last contact taken, replaced
// atomically), so that a restart finds the same contacts waiting. A contact
// in the form but not saved (IntoForm) is kept before that offset until it
// leaves the form, so a restart offers it again first; a crash between
// saving a form and keeping the offset fills that contact again rather than
// losing it. A record cut short by a crash is cut off the
// journal when it is opened.
//
// Every contact Add is given goes to the journal first; no limit applies to
// what is written. At most MaxWaiting contacts wait in memory; later ones
// wait in the journal alone and are read back from it as the form takes
// those before them. A journal that cannot be written leaves ErrorText set;
// a contact it could not keep still waits in memory while there is room,
// and is counted as not kept when there is none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "contacts/untContact.h"

namespace vela {

class TContactJournal {
public:
  static constexpr std::size_t MaxWaiting = 500;

  // Path: the journal file; at most AMaxWaiting contacts wait. Nothing is
  // read or written before Open.
  explicit TContactJournal(std::string Path, std::size_t AMaxWaiting = MaxWaiting);
  TContactJournal(const TContactJournal&) = delete;
  TContactJournal& operator=(const TContactJournal&) = delete;

  // The journal beside a settings file: "VelaLog.ini" gives
  // "VelaLog-contacts.adi" in the same folder.
  static std::string PathBeside(const std::string& SettingsFile);
  // Where the contacts held for their ADIF wait (the listener's KeepHeldIn).
  static std::string HeldPathBeside(const std::string& SettingsFile);

  // Reads the contacts still waiting from the last run. False with ErrorText
  // set when the journal cannot be read or written.
  bool Open();

  // Appends Contact to the journal and to the waiting ones; false (and
  // counted) when neither the journal nor memory could keep it.
  bool Add(const TContact& Contact);

  // Every contact waiting, in memory and in the journal alone.
  std::size_t Waiting() const { return FWaiting.size() + FUnloaded; }
  // The first waiting contact; null when none waits.
  const TContact* Next() const { return FWaiting.empty() ? nullptr : &FWaiting.front().Contact; }
  // The first waiting contact is in the form: it no longer waits, also after
  // a restart.
  void TakeNext();
  // The first waiting contact is in the form, not saved yet: it no longer
  // waits, but a restart offers it again, first, until FormLeft (or the
  // next contact taken) says it left the form.
  void IntoForm();
  // The contact last put into the form left it (saved, or the page moved on).
  void FormLeft();

  // Contacts lost because the journal could not be written and memory was
  // full.
  std::uint64_t NotKept() const { return FNotKept; }
  // The last failure to read or write the journal; empty once a write works.
  const std::string& ErrorText() const { return FErrorText; }
  const std::string& Path() const { return FPath; }

private:
  struct TWaiting {
    TContact Contact;
    std::uint64_t End = 0; // the journal's size after its record; 0: not in the journal
  };

  bool Append(const std::string& Text, std::uint64_t& End);
  bool KeepTaken(std::uint64_t Offset);
  void Failed(const std::string& What);
  // Reads contacts waiting in the journal alone back into memory.
  void Refill();

  std::string FPath;
  std::size_t FMaxWaiting;
  std::deque<TWaiting> FWaiting;
  std::size_t FUnloaded = 0;    // waiting in the journal alone, after FLoadedEnd
  std::uint64_t FLoadedEnd = 0; // the journal's offset after the last record in memory
  std::uint64_t FNotKept = 0;
  std::uint64_t FInFormEnd = 0; // the journal's offset after the contact in the form
  std::string FErrorText;
};

} // namespace vela

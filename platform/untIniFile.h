// INI file access with private-profile semantics over a plain text file.
//
// Every call is complete in itself: a read looks at the file as it is now, a
// write changes one key and replaces the file at once. Section and key names
// are matched without regard to (ASCII) case; every line the writer does not
// own is kept byte for byte and in its place.
//
// Reading rules:
//  - "[Name]" starts a section (blanks around the name are ignored); the first
//    section of a name is the one used, later sections of the same name are
//    ignored for reading and writing alike.
//  - "key=value" inside a section: blanks around the key and the value are
//    trimmed; a value enclosed in a matching pair of double or single quotes
//    loses that pair. The first line of a key wins.
//  - Lines outside any section, lines without "=", and ";" comment lines are
//    not keys. CR LF line ends are accepted.
//  - A file larger than MaxIniFileSize is not parsed: reads give the defaults
//    and writes fail, since rewriting it would drop what was not read.
//
// Writing rules:
//  - A key that exists is replaced on its (first) line; a new key goes after
//    the last non-blank line of its section; a new section goes at the end.
//  - New lines take the file's line end (CR LF when its first line ends so,
//    LF otherwise and for new files).
//  - A value with blanks at either end, or enclosed in matching quotes, is
//    written inside double quotes so that it reads back unchanged. Line breaks
//    inside a value are written as blanks: a value can never start a line.
//  - The new file is written to a temporary file in the same folder, flushed
//    to disk and renamed over the old one (keeping its mode), so a crash, a
//    kill or a full disk leaves either the old or the new file. A symbolic
//    link is followed and its target is replaced.
//  - Any failure raises EIniFileException "Unable to write to <path>"; the
//    file on disk is then unchanged.
//  - Between BeginUpdate and the matching EndUpdate (they nest) writes are
//    collected and EndUpdate replaces the file once with all of them, in
//    order, on the file as it is then. The first write of an update fails at
//    once when the file cannot be used at all; a failing replace fails
//    EndUpdate. Reads in between see the file, not the collected writes.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/untExceptions.h"
#include "platform/untObject.h"

namespace vela {

class EIniFileException : public Exception {
public:
  using Exception::Exception;
};

// Settings files are a few hundred bytes; anything beyond 1 MiB is not one,
// and reading and rewriting it on every write would stall the window.
constexpr std::size_t MaxIniFileSize = 1024 * 1024;

struct TIniContent;

class TIniFile : public TObject {
public:
  explicit TIniFile(std::string FileName);
  ~TIniFile() override;

  const std::string& FileName() const { return FFileName; }

  std::string ReadString(const std::string& Section, const std::string& Key,
                         const std::string& Default) const;
  // The value through TryStrToInt; a missing key or anything that does not
  // convert gives Default.
  std::int32_t ReadInteger(const std::string& Section, const std::string& Key,
                           std::int32_t Default) const;
  // Read as an integer; any value other than 0 is true.
  bool ReadBool(const std::string& Section, const std::string& Key, bool Default) const;
  // Every key of Section (names in lower case, by name) with its value.
  std::vector<std::pair<std::string, std::string>> ReadSection(const std::string& Section) const;

  void WriteString(const std::string& Section, const std::string& Key, const std::string& Value);
  void WriteInteger(const std::string& Section, const std::string& Key, std::int32_t Value);
  // Written as "1" or "0".
  void WriteBool(const std::string& Section, const std::string& Key, bool Value);

  void BeginUpdate();
  // Replaces the file with the writes collected since the outermost
  // BeginUpdate; raises the write error when that fails (the writes are then
  // dropped).
  void EndUpdate();

private:
  struct TKeyWrite {
    std::string Section, Key, Value;
  };
  // Reads the file, sets the keys in order and replaces the file atomically.
  void ReplaceFile(const std::vector<TKeyWrite>& Writes);
  // The file a write replaces: a symbolic link's target.
  std::string WriteTarget() const;

  // The parsed file, re-read only when the file on disk is another one than
  // last time (identity, size or change time differ).
  std::shared_ptr<const TIniContent> Content() const;
  [[noreturn]] void RaiseWriteError() const;

  std::string FFileName;
  mutable std::mutex FCacheLock;
  mutable std::shared_ptr<const TIniContent> FCache;
  int FUpdateDepth = 0;
  std::vector<TKeyWrite> FPending;
};

// "Unable to write to %s" from the program's message catalogue with FileName
// in place of %s.
std::string UnableToWriteMessage(const std::string& FileName);

} // namespace vela

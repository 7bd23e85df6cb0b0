// Writing files so that what a call acknowledges survives a crash or a power
// cut: every byte written, the data flushed to the disk, and a new or renamed
// file's folder entry flushed too. Used by the settings file, the contact
// journal and the logbook's contact queue.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace vela {

// Writes all of Data to Fd (retrying short writes and interruptions); false
// with errno set when a write fails.
bool WriteAll(int Fd, std::string_view Data);

// Flushes the folder entry of Path (a file just created or renamed there).
// A failure is not reported: the data itself is already on the disk.
void SyncFolderOf(const std::string& Path);

// Appends Data to Path (created with Mode when missing) and flushes it;
// false with errno set on failure.
bool AppendDurably(const std::string& Path, std::string_view Data, mode_t Mode);

// Appends Data to Path (created with Mode when missing) as whole lines: when
// the file does not end with a line end (a record cut by a crash or a full
// disk), a line end goes first, so the new text never joins the cut one.
// Flushed before it returns. On failure (errno set) the file is cut back to
// its length before the call where the system allows, so no part of Data
// stays behind. Offset, when given, is the file's length after the write.
bool AppendLines(const std::string& Path, std::string_view Data, mode_t Mode,
                 std::uint64_t* Offset = nullptr);
// The owner a replaced file keeps (another user's file rewritten by root).
struct TFileOwner {
  uid_t Uid;
  gid_t Gid;
};

// Replaces Path by a file holding Data, with exactly Mode (no umask) and, when
// given, Owner, through a uniquely named temporary file in the same folder
// that is flushed and renamed over it, so that a crash leaves the old or the
// new file, never a broken one; false with errno set on failure (the old file
// is then untouched). A failure to hand the file to Owner is not one.
bool ReplaceDurably(const std::string& Path, std::string_view Data, mode_t Mode,
                    const TFileOwner* Owner = nullptr);

} // namespace vela

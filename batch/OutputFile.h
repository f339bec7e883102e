// File-system steps of the per-file worker around the image itself: moving
// and copying in rename mode, the read-only bit of an output, the output's
// times, deleting a source into the Trash or for good, and removing whole
// folders after a run.
#pragma once

#include <cstdint>
#include <string>

// Whether Target (which may not exist yet) would land on the file system of
// Source, judged by the nearest existing folder of Target.
bool SameFileSystem(const std::string &Source, const std::string &Target);

// Moves Source to Target on one file system; never replaces an existing
// Target. False when the move did not happen, with errno saying why.
bool MoveFileTo(const std::string &Source, const std::string &Target);
// Copies Source to Target through a temporary file beside Target that is
// renamed over it once complete, so a failed copy leaves no partial file.
// With FailIfExists an existing Target makes the copy fail (and stays).
// False when the copy did not happen, with errno saying why.
bool CopyFileTo(const std::string &Source, const std::string &Target, bool FailIfExists);

// Whether the file exists and nobody may write it (no write bit at all).
bool IsReadOnlyFile(const std::string &Path);

// The dates an output's times come from, with the options that choose them.
struct TOutputTimes {
  double DateTimeOriginal = 0;   // local date-time (days since 1899-12-30), 0 none
  double DateTimeLastWrite = 0;  // local date-time
  int64_t DateTimeCreation = 0;  // file system birth time; Linux cannot set it
  bool UpdateTimestampFromExif = false;
  bool KeepLastWriteTime = false;
  bool KeepCreationTime = false;
};
// Applies the times to an existing Path: the Exif shooting date as the
// modification time when asked and known, else the source's modification
// time at two-second precision with KeepLastWriteTime. The creation time
// cannot be set on Linux and is left alone. False when Path does not exist
// or its times could not be set.
bool SetOutputTimes(const std::string &Path, const TOutputTimes &Times);
// A local date-time as seconds since 1970 (UTC), through the time zone
// rules of that date.
int64_t LocalDateTimeToUnix(double DateTime);
// The value rounded down to the two-second steps of packed DOS dates.
double TruncateToTwoSeconds(double DateTime);

// Puts Path into the freedesktop.org Trash of its file system: the home
// Trash ($XDG_DATA_HOME/Trash) for files on the home file system, else the
// ".Trash-UID" folder at the top of the file system's mount. False when the
// file could not be trashed (it then stays where it is).
bool MoveToTrash(const std::string &Path);
// Deletes Path into the Trash (AllowUndo, only when it exists) or for good.
bool DeleteSourceFile(const std::string &Path, bool AllowUndo);

// Deletes a folder with all its contents, not following symbolic links.
// Refuses "/" and relative paths. False when anything remained.
bool DeleteFolderTree(const std::string &Path);

bool IsExistingFile(const std::string &Path);
bool IsExistingFolder(const std::string &Path);
// Folder part of a path without trailing delimiter ("" for a bare name).
std::string ExtractFileDir(const std::string &Path);
std::string ExtractFileName(const std::string &Path);

// Files and folders.
//
// Stand in for CreateDirectory, SHCreateDirectoryEx, GetFileAttributes,
// MoveFile, DeleteFile, CreateFile (append, read, write, "no sharing") and
// FindFirstFile/FindNextFile. On POSIX a backslash in a path is taken as a
// folder separator, so the Windows spellings ".\Setting.ini" and
// "rez\NationMsz" keep working; core code writes '/'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// An open file. Opaque; kInvalidFile when an open fails.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

// Creates one folder. True when it was created or already is a folder;
// false when the parent is missing, the name is taken by a file, or the
// system refuses.
bool CreateFolder(const char* path);

// Creates every missing folder of `path`, from the root down, the last
// component included (mkdir -p). Never changes the current directory.
// True when the whole chain exists as folders afterwards.
bool CreateFolderChain(const char* path);

// True when something (file or folder) exists at `path`.
bool PathExists(const char* path);

// True when `path` exists and is a folder.
bool IsFolder(const char* path);

// Renames a file or folder. Like MoveFile it fails (false) when `to`
// already exists, rather than replacing it.
bool RenamePath(const char* from, const char* to);

// Deletes a file (not a folder). False when it does not exist or cannot be
// deleted.
bool DeleteFilePath(const char* path);

// Opens `path` for appending, creating it when missing: every write lands at
// the end of the file, also with other writers (threads or processes) at
// once, and one write of a line is never interleaved with another's.
// kInvalidFile when the file cannot be opened (missing folder, no right).
FileHandle OpenForAppend(const char* path);

// Opens an existing file for reading, shared with other readers.
FileHandle OpenForRead(const char* path);

// Opens an existing file for reading with no sharing: while it is open, every
// other exclusive opener (this process or another) fails with kInvalidFile.
// On POSIX this is flock(LOCK_EX|LOCK_NB), so only openers that also ask
// for no sharing are shut out. When `held_by_another` is given, it tells
// whether a failed open failed only because another opener holds the file
// (a sharing violation on Windows), as opposed to a missing file or no right.
FileHandle OpenForReadExclusive(const char* path, bool* held_by_another = nullptr);

// Creates `path` (or empties it) and opens it for writing.
FileHandle OpenForWrite(const char* path);

// Reads up to `size` bytes. Answers the number read (0 at end of file), or -1
// on error. Retries interrupted reads.
std::int64_t ReadFromFile(FileHandle file, void* buffer, std::size_t size);

// Writes all `size` bytes. False when not all of them could be written.
bool WriteToFile(FileHandle file, const void* data, std::size_t size);

// Writes `text` to the process's standard output below the C stream: no
// stream lock is taken and nothing is buffered, so a thread stopped by force
// while it held the stream cannot block the caller. Line ends become what the
// stream would write (CR LF on Windows). False when not all of it was written
// or the process has no standard output.
bool WriteToStandardOutput(const char* text, std::size_t size);

// Size of the open file in bytes, or -1 when it cannot be told.
std::int64_t FileSizeOf(FileHandle file);

// Closes the file (and drops its lock). kInvalidFile is ignored.
void CloseFile(FileHandle file);

// Owns a FileHandle and closes it at the end of the scope.
class ScopedFile {
 public:
  ScopedFile() = default;
  explicit ScopedFile(FileHandle file) : file_(file) {}
  ~ScopedFile() { CloseFile(file_); }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;

  bool valid() const { return file_ != kInvalidFile; }
  FileHandle get() const { return file_; }

 private:
  FileHandle file_ = kInvalidFile;
};

// One entry found by FindFiles.
struct FoundFile {
  std::string name;  // the entry's name, without its folder
  bool is_folder = false;
};

// The entries of one folder whose names match the last component of
// `pattern`, as FindFirstFile/FindNextFile list them: "rez/*.rez" lists the
// entries of rez/ matching "*.rez". '*' matches any run of characters, '?'
// one character, without regard to case. Wildcards count only in the last
// component. "." and ".." are never listed. The order is the system's
// (unsorted). An empty list when the folder is missing or nothing matches.
std::vector<FoundFile> FindFiles(const char* pattern);

// The folder under which the logs and dumps of this machine lie: the value
// of the environment variable SERVERAPP_LOG_BASE when set and not empty,
// else "/var/log" on POSIX and "C:\log" on Windows, written with the
// system's separator (every '/' becomes '\' on Windows). No trailing
// separator.
std::string LogBaseFolder();

// The separator of the paths the host builds and shows: '/' on POSIX, '\'
// on Windows ("C:\log\quellmark\...").
char PathSeparator();

}  // namespace platform

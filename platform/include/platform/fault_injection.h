// Fault injection at the platform seam.
//
// Every backend (POSIX and Win32) calls Check() at the start of each call
// that can fail for reasons outside the program's control: opening and
// writing files, creating folders, creating, opening and mapping shared
// memory, reading another process's memory, loading libraries and looking up
// their symbols, connecting to, reading from and writing to HTTP servers,
// renaming and deleting files, and posting window messages.
// When a test has armed the point, the call fails as the real one would, with
// the chosen error, so that the failure paths above the seam run on every OS.
//
// Nothing is armed in a normal run, and then Check() costs one relaxed atomic
// load. Tests arm points in-process (Arm*, Reset) or, to drive a whole
// ServerApp, through the environment variable SERVERAPP_FAULTS, read once at
// start-up:
//
//   SERVERAPP_FAULTS=<rule>[,<rule>...]
//   <rule> = <point>:<n>[+][:<error>]
//
// <point> is a name from PointName() ("file_open", "shm_create", ...); <n>
// (1 or more) the call of that point that fails, counted from start-up; a '+'
// makes every later call fail too; <error> (decimal, 1 or more, default 5)
// the error number: an errno value on POSIX, a GetLastError value on Win32.
// Example: "file_open:3+:13,shm_create:1:12". A malformed value arms nothing
// and is reported on stderr; an armed one is announced on stderr, so a
// process never runs with faults unknowingly.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::fault {

enum class Point {
  kFileOpen,
  kFileWrite,
  kMkdir,
  kShmCreate,
  kShmOpen,
  kShmMap,
  kProcessRead,
  kLibraryLoad,
  kLibrarySymbol,
  kHttpConnect,
  kHttpRead,
  kHttpWrite,
  kFileRename,
  kFileDelete,
  kWindowPost,
  kCount
};

// 0 when the call is to go ahead; else the error number the call is to fail
// with (errno values on POSIX, GetLastError values on Win32 are mapped by the
// backend). Counts the call while any point is armed or counting is on.
int Check(Point p);

// The error used when a rule names none: EIO on POSIX, ERROR_ACCESS_DENIED
// on Win32 (both 5).
inline constexpr int kDefaultError = 5;

// Fails the `nth` call (1-based, counted since the last Reset) of `p` with
// `error`; with `and_after`, every call from the nth on. Replaces an earlier
// rule for `p`. `nth` 0 or `error` 0 disarms the point.
void Arm(Point p, std::uint64_t nth, int error, bool and_after = false);

// Arms the rules of a SERVERAPP_FAULTS value (syntax above). On a malformed
// value arms nothing, answers false and describes the fault in *why.
bool ArmFromSpec(std::string_view spec, std::string* why);

// Disarms `p`; its call count goes on.
void Disarm(Point p);

// Counts calls of every point from now on, also with nothing armed, so a test
// can find out which call to fail.
void StartCounting();

// Disarms every point, stops counting and zeroes every count.
void Reset();

// The calls of `p` seen (counted) since the last Reset, and how many of them
// were failed.
std::uint64_t Calls(Point p);
std::uint64_t Failures(Point p);

// The name of `p` in SERVERAPP_FAULTS ("file_open", ...); "" for kCount.
const char* PointName(Point p);

}  // namespace platform::fault
